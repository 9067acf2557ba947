// The engine's log channel. The log window registers a receiver; logmessage
// stores the text as the pending message and calls the receiver at once
// (synchronously) with the log-line request (wParam 332, lParam 1). The
// receiver fetches the text with pendingmessage(). Before any receiver is
// registered the text simply stays pending.
#pragma once

#include <functional>
#include <string>

namespace orvalle {

inline constexpr int kEngineLogKind = 332;
inline constexpr int kPluginLogKind = 333;

// Called with (wParam, lParam) of the log-line request.
using logreceiver = std::function<void(int wparam, int lparam)>;

void setlogwindow(logreceiver receiver);
void logmessage(const std::string &text);
std::string pendingmessage();

} // namespace orvalle
