// The help book keeps up with the program: every picture format the export
// dialog offers and every trend type the fits page lists is named in it, so
// that a student who meets one in a window finds it in the book.
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTextDocumentFragment>

#include "engine/trendtypes.h"
#include "plotter/export.h"

using namespace orvalle;

namespace {

// The book's folder in the source tree (the tests' data folder is
// tests/data).
QString bookFolder() { return QStringLiteral(ORVALLE_TEST_DATA "/../../docs/help"); }

// A page as the reader sees it: tags dropped and entities read.
QString pageText(const QString &file) {
  QFile f(QDir(bookFolder()).filePath(file));
  if (!f.open(QIODevice::ReadOnly))
    return QString();
  return QTextDocumentFragment::fromHtml(QString::fromUtf8(f.readAll())).toPlainText();
}

QString bookText() {
  QString all;
  const QStringList pages = QDir(bookFolder()).entryList({QStringLiteral("*.html")}, QDir::Files);
  for (const QString &page : pages)
    all += pageText(page) + QLatin1Char('\n');
  return all;
}

} // namespace

class HelpBookTest : public QObject {
  Q_OBJECT
private slots:
  void everyExportFormatOnTheExportPage();
  void everyTrendTypeInTheBook();
};

void HelpBookTest::everyExportFormatOnTheExportPage() {
  const QString page = pageText(QStringLiteral("export.html"));
  QVERIFY2(!page.isEmpty(), "export.html not found");
  QVERIFY(ExportFilters().size() >= 6);
  for (const QString &filter : ExportFilters())
    QVERIFY2(page.contains(filter), qPrintable(filter + " is not on export.html"));
}

void HelpBookTest::everyTrendTypeInTheBook() {
  const QString book = bookText();
  QVERIFY(!book.isEmpty());
  const std::vector<trendtype> types = trendtypelist(true, nullptr);
  QVERIFY(types.size() >= 9);
  for (const trendtype t : types) {
    const QString caption = QString::fromStdString(trendtext(t));
    QVERIFY2(book.contains(caption), qPrintable(caption + " is not in the help book"));
  }
}

QTEST_MAIN(HelpBookTest)
#include "helpbook_test.moc"
