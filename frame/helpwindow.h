// The help viewer: a window over the help book "VTRL.hlp", an HTML folder
// installed beside the program, with contents, an index of keywords and a
// full-text search.
#pragma once

#include <QString>
#include <QUrl>
#include <QWidget>

#include <vector>

class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;
class QTreeWidget;

namespace orvalle {

// The application's help file, set once at start-up.
void SetHelpFile(const QString &name);
QString HelpFile();
// The help book's folder (or file), or empty when it cannot be found: an
// absolute name as it stands, else beside the program, else in
// ../share/orvalle beside the program's folder.
QString HelpBookPath();

class THelpWindow : public QWidget {
  Q_OBJECT
public:
  explicit THelpWindow(QWidget *parent = nullptr);

  // The three requests of the Help menu.
  void ShowContents();
  void ShowSearch(const QString &keyword);
  void ShowHowToUse();

  QTextBrowser *browser() const { return browser_; }
  QTabWidget *tabs() const { return tabs_; }
  QListWidget *indexList() const { return index_; }
  QListWidget *searchResults() const { return results_; }
  QLineEdit *keyword() const { return keyword_; }
  QLineEdit *searchText() const { return searchText_; }
  void RunSearch();

private:
  struct Page {
    QString file;
    QString title;
    QString text; // plain text, lower case, for the search
  };
  struct Keyword {
    QString word;
    QString file;
    QString title;
  };

  void Load();
  void Open(const QString &fileAndAnchor);
  void FillIndex(const QString &filter);
  void ShowWindow();
  void PlaceOnScreen();
  bool placed_ = false;

  bool loaded_ = false;
  QString folder_;
  std::vector<Page> pages_;
  std::vector<Keyword> keywords_;
  QTabWidget *tabs_;
  QTreeWidget *contents_;
  QLineEdit *keyword_;
  QListWidget *index_;
  QLineEdit *searchText_;
  QListWidget *results_;
  QTextBrowser *browser_;
};

} // namespace orvalle
