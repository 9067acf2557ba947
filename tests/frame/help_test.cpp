// The help viewer over the help book beside the program: contents, keyword
// index, full-text search, the page on using help, and a missing book.
// Covers frame/helpwindow.cpp.
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTreeWidget>

#include "frame/helpwindow.h"

using namespace orvalle;

class HelpTest : public QObject {
  Q_OBJECT

private slots:
  void initTestCase() { SetHelpFile(QStringLiteral("VTRL.hlp")); }
  void theBookIsBesideTheProgram();
  void contentsOpenTheFirstPage();
  void indexFiltersKeywords();
  void searchFindsPagesWithAllWords();
  void howToUseHelp();
  void aMissingBookIsSaidSo();
  void opensInsideTheScreen();
};

void HelpTest::theBookIsBesideTheProgram() {
  const QString book = HelpBookPath();
  QVERIFY2(!book.isEmpty(), "VTRL.hlp is copied into the bin folder by the build");
  QVERIFY(QFileInfo(book).isDir());
  QVERIFY(QFileInfo::exists(book + QStringLiteral("/index.html")));
}

void HelpTest::contentsOpenTheFirstPage() {
  THelpWindow help;
  help.ShowContents();
  QCOMPARE(help.tabs()->currentIndex(), 0);
  QVERIFY(help.browser()->source().toString().endsWith(QStringLiteral("index.html")));
  QVERIFY(help.browser()->toPlainText().contains(QStringLiteral("Welcome to Orvalle")));
  auto *tree = help.findChild<QTreeWidget *>(QStringLiteral("Contents"));
  QVERIFY(tree->topLevelItemCount() >= 10);
  // Every entry of the contents opens a page of the book.
  QTreeWidgetItemIterator it(tree);
  int entries = 0;
  for (; *it; ++it, ++entries) {
    const QString file = (*it)->data(0, Qt::UserRole + 1).toString().section('#', 0, 0);
    QVERIFY2(QFileInfo::exists(HelpBookPath() + QLatin1Char('/') + file), qPrintable(file));
  }
  QVERIFY(entries > 15);
}

void HelpTest::indexFiltersKeywords() {
  THelpWindow help;
  help.ShowSearch(QString());
  QCOMPARE(help.tabs()->currentIndex(), 1);
  QVERIFY(help.keyword()->text().isEmpty());
  const int all = help.indexList()->count();
  QVERIFY(all > 40);
  help.keyword()->setText(QStringLiteral("chi"));
  QVERIFY(help.indexList()->count() > 0 && help.indexList()->count() < all);
  for (int i = 0; i < help.indexList()->count(); ++i)
    QVERIFY(
        help.indexList()->item(i)->text().startsWith(QStringLiteral("chi"), Qt::CaseInsensitive));
  QTest::keyClick(help.keyword(), Qt::Key_Return);
  QVERIFY(help.browser()->source().toString().endsWith(QStringLiteral("chisquare.html")));
}

void HelpTest::searchFindsPagesWithAllWords() {
  THelpWindow help;
  help.ShowContents();
  help.searchText()->setText(QStringLiteral("tagged Minumm"));
  help.RunSearch();
  QCOMPARE(help.searchResults()->count(), 1);
  QCOMPARE(help.searchResults()->item(0)->text(), QStringLiteral("Data files"));
  help.searchText()->setText(QStringLiteral("no-such-word-anywhere"));
  help.RunSearch();
  QCOMPARE(help.searchResults()->count(), 1);
  QCOMPARE(help.searchResults()->item(0)->text(), QStringLiteral("No page contains these words."));
}

void HelpTest::howToUseHelp() {
  THelpWindow help;
  help.ShowHowToUse();
  QVERIFY(help.isVisible());
  QVERIFY(help.browser()->source().toString().endsWith(QStringLiteral("howtouse.html")));
  QVERIFY(help.browser()->toPlainText().contains(QStringLiteral("How to use help")));
}

void HelpTest::aMissingBookIsSaidSo() {
  SetHelpFile(QStringLiteral("/nonexistent/VTRL.hlp"));
  THelpWindow help;
  help.ShowContents();
  SetHelpFile(QStringLiteral("VTRL.hlp"));
  QVERIFY(help.browser()->toPlainText().contains(QStringLiteral("Help is not available")));
  QVERIFY(help.browser()->toPlainText().contains(QStringLiteral("/nonexistent/VTRL.hlp")));
}

// A frame near a corner of the screen, or a screen smaller than the help
// window: the help window still opens whole inside the available area.
void HelpTest::opensInsideTheScreen() {
  QWidget owner;
  const QRect area = owner.screen()->availableGeometry();
  owner.setGeometry(area.right() - 60, area.bottom() - 60, 50, 50);
  owner.show();
  THelpWindow help(&owner);
  help.ShowContents();
  const QRect got = help.frameGeometry();
  QVERIFY2(area.contains(got), qPrintable(QStringLiteral("%1,%2 %3x%4 outside %5x%6")
                                              .arg(got.x())
                                              .arg(got.y())
                                              .arg(got.width())
                                              .arg(got.height())
                                              .arg(area.width())
                                              .arg(area.height())));
}

QTEST_MAIN(HelpTest)
#include "help_test.moc"
