// Dates and times in the user's locale formats, as the log and the About box
// show them.
#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

namespace orvalle {

// The user's short date format.
QString ShortDateText(const QDate &d);
// The user's long time format, without a time-zone name.
QString LongTimeText(const QTime &t);
// Date and time; the time is left out when it is exactly midnight.
QString DateTimeText(const QDateTime &t);

} // namespace orvalle
