#include "engine/logchannel.h"

#include <utility>

namespace orvalle {

namespace {
logreceiver &receiver() {
  static logreceiver r;
  return r;
}
std::string &pending() {
  static std::string p;
  return p;
}
} // namespace

void setlogwindow(logreceiver r) { receiver() = std::move(r); }

void logmessage(const std::string &text) {
  pending() = text;
  if (receiver())
    receiver()(kEngineLogKind, 1);
}

std::string pendingmessage() { return std::exchange(pending(), std::string()); }

} // namespace orvalle
