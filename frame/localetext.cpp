#include "frame/localetext.h"

#include <QLocale>

namespace orvalle {

namespace {

// Removes the time-zone fields ('t') from a QLocale time format, leaving the
// quoted literals alone.
QString withoutZone(const QString &format) {
  QString out;
  bool quoted = false;
  for (QChar c : format) {
    if (c == QLatin1Char('\''))
      quoted = !quoted;
    if (!quoted && c == QLatin1Char('t'))
      continue;
    out += c;
  }
  return out.simplified();
}

const QString &longTimeFormat() {
  static const QString format = withoutZone(QLocale::system().timeFormat(QLocale::LongFormat));
  return format;
}

} // namespace

QString ShortDateText(const QDate &d) {
  return QLocale::system().toString(d, QLocale::ShortFormat);
}

QString LongTimeText(const QTime &t) { return QLocale::system().toString(t, longTimeFormat()); }

QString DateTimeText(const QDateTime &t) {
  QString text = ShortDateText(t.date());
  if (t.time() != QTime(0, 0))
    text += QLatin1Char(' ') + LongTimeText(t.time());
  return text;
}

} // namespace orvalle
