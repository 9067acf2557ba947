#include "frame/helpwindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTextDocumentFragment>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "frame/accessiblenames.h"

namespace orvalle {

namespace {

QString &helpFile() {
  static QString name;
  return name;
}

constexpr int kFileRole = Qt::UserRole + 1;

QString readText(const QString &path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return QString();
  return QString::fromUtf8(f.readAll());
}

} // namespace

void SetHelpFile(const QString &name) { helpFile() = name; }
QString HelpFile() { return helpFile().isEmpty() ? QStringLiteral("VTRL.hlp") : helpFile(); }

QString HelpBookPath() {
  const QString name = HelpFile();
  if (QFileInfo(name).isAbsolute())
    return QFileInfo::exists(name) ? name : QString();
  const QDir here(QCoreApplication::applicationDirPath());
  for (const QString &candidate :
       {here.filePath(name), here.filePath(QStringLiteral("../share/orvalle/") + name)}) {
    if (QFileInfo::exists(candidate))
      return QFileInfo(candidate).canonicalFilePath();
  }
  return QString();
}

THelpWindow::THelpWindow(QWidget *parent)
    : QWidget(parent, Qt::Window), tabs_(new QTabWidget), contents_(new QTreeWidget),
      keyword_(new QLineEdit), index_(new QListWidget), searchText_(new QLineEdit),
      results_(new QListWidget), browser_(new QTextBrowser) {
  setObjectName(QStringLiteral("HelpWindow"));
  setWindowTitle(QStringLiteral("Orvalle Help"));
  resize(900, 640);

  contents_->setHeaderHidden(true);
  contents_->setObjectName(QStringLiteral("Contents"));
  contents_->setAccessibleName(QStringLiteral("Contents"));
  tabs_->addTab(contents_, QStringLiteral("Contents"));

  auto *indexPage = new QWidget;
  auto *indexLayout = new QVBoxLayout(indexPage);
  indexLayout->addWidget(new QLabel(QStringLiteral("Type the first letters of a keyword:")));
  keyword_->setObjectName(QStringLiteral("Keyword"));
  indexLayout->addWidget(keyword_);
  index_->setObjectName(QStringLiteral("Index"));
  index_->setAccessibleName(QStringLiteral("Index"));
  indexLayout->addWidget(index_);
  tabs_->addTab(indexPage, QStringLiteral("Index"));

  auto *searchPage = new QWidget;
  auto *searchLayout = new QVBoxLayout(searchPage);
  searchLayout->addWidget(new QLabel(QStringLiteral("Words to find in the help pages:")));
  auto *searchRow = new QHBoxLayout;
  searchText_->setObjectName(QStringLiteral("SearchText"));
  searchText_->setAccessibleName(QStringLiteral("Words to find"));
  searchRow->addWidget(searchText_);
  auto *find = new QPushButton(QStringLiteral("Search"));
  searchRow->addWidget(find);
  searchLayout->addLayout(searchRow);
  results_->setObjectName(QStringLiteral("SearchResults"));
  results_->setAccessibleName(QStringLiteral("Search results"));
  searchLayout->addWidget(results_);
  tabs_->addTab(searchPage, QStringLiteral("Search"));

  browser_->setObjectName(QStringLiteral("HelpBrowser"));
  browser_->setAccessibleName(QStringLiteral("Help page"));
  browser_->setOpenExternalLinks(true); // other schemes go to the desktop's browser

  auto *back = new QToolButton;
  back->setText(QStringLiteral("Back"));
  auto *forward = new QToolButton;
  forward->setText(QStringLiteral("Forward"));
  auto *home = new QToolButton;
  home->setText(QStringLiteral("Contents"));
  auto *nav = new QHBoxLayout;
  nav->addWidget(home);
  nav->addWidget(back);
  nav->addWidget(forward);
  nav->addStretch();
  auto *right = new QWidget;
  auto *rightLayout = new QVBoxLayout(right);
  rightLayout->setContentsMargins(0, 0, 0, 0);
  rightLayout->addLayout(nav);
  rightLayout->addWidget(browser_);

  auto *split = new QSplitter;
  split->addWidget(tabs_);
  split->addWidget(right);
  split->setStretchFactor(1, 3);
  split->setSizes({260, 640});
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(split);

  connect(back, &QToolButton::clicked, browser_, &QTextBrowser::backward);
  connect(forward, &QToolButton::clicked, browser_, &QTextBrowser::forward);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QToolButton::setEnabled);
  connect(browser_, &QTextBrowser::forwardAvailable, forward, &QToolButton::setEnabled);
  back->setEnabled(false);
  forward->setEnabled(false);
  connect(home, &QToolButton::clicked, this, [this] { Open(QStringLiteral("index.html")); });
  connect(contents_, &QTreeWidget::itemActivated, this,
          [this](QTreeWidgetItem *item) { Open(item->data(0, kFileRole).toString()); });
  connect(contents_, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem *item) { Open(item->data(0, kFileRole).toString()); });
  connect(keyword_, &QLineEdit::textChanged, this, &THelpWindow::FillIndex);
  connect(keyword_, &QLineEdit::returnPressed, this, [this] {
    if (index_->count() > 0)
      Open(index_->item(0)->data(kFileRole).toString());
  });
  const auto openItem = [this](QListWidgetItem *item) { Open(item->data(kFileRole).toString()); };
  connect(index_, &QListWidget::itemActivated, this, openItem);
  connect(index_, &QListWidget::itemClicked, this, openItem);
  connect(results_, &QListWidget::itemActivated, this, openItem);
  connect(results_, &QListWidget::itemClicked, this, openItem);
  connect(find, &QPushButton::clicked, this, &THelpWindow::RunSearch);
  connect(searchText_, &QLineEdit::returnPressed, this, &THelpWindow::RunSearch);
  NameControls(this);
}

void THelpWindow::Load() {
  if (loaded_)
    return;
  loaded_ = true;
  const QString book = HelpBookPath();
  if (book.isEmpty() || !QFileInfo(book).isDir()) {
    browser_->setHtml(
        QStringLiteral("<h2>Help is not available</h2><p>The help file <b>%1</b> was not found "
                       "beside the program (%2) or in its share folder.</p>")
            .arg(HelpFile().toHtmlEscaped(),
                 QCoreApplication::applicationDirPath().toHtmlEscaped()));
    return;
  }
  folder_ = book;
  browser_->setSearchPaths({folder_});

  // Contents: contents.txt, one entry a line, "file|Title", two spaces of
  // indent a level.
  std::vector<QTreeWidgetItem *> parents;
  const QStringList lines =
      readText(QDir(folder_).filePath(QStringLiteral("contents.txt"))).split(QLatin1Char('\n'));
  for (const QString &line : lines) {
    const QString entry = line.trimmed();
    if (entry.isEmpty() || entry.startsWith(QLatin1Char('#')))
      continue;
    int spaces = 0;
    while (spaces < line.size() && line[spaces] == QLatin1Char(' '))
      ++spaces;
    const std::size_t level = static_cast<std::size_t>(spaces / 2);
    const QString file = entry.section(QLatin1Char('|'), 0, 0).trimmed();
    const QString title = entry.section(QLatin1Char('|'), 1).trimmed();
    parents.resize(std::min<std::size_t>(parents.size(), level));
    auto *item =
        parents.empty() ? new QTreeWidgetItem(contents_) : new QTreeWidgetItem(parents.back());
    item->setText(0, title);
    item->setData(0, kFileRole, file);
    parents.push_back(item);
  }
  contents_->expandAll();

  // Pages, their titles and keywords.
  static const QRegularExpression titleRe(QStringLiteral("<title>(.*?)</title>"),
                                          QRegularExpression::CaseInsensitiveOption |
                                              QRegularExpression::DotMatchesEverythingOption);
  static const QRegularExpression keywordsRe(
      QStringLiteral("<meta\\s+name=\"keywords\"\\s+content=\"([^\"]*)\""),
      QRegularExpression::CaseInsensitiveOption);
  const QStringList files = QDir(folder_).entryList(
      {QStringLiteral("*.html"), QStringLiteral("*.htm")}, QDir::Files, QDir::Name);
  for (const QString &file : files) {
    const QString html = readText(QDir(folder_).filePath(file));
    Page page;
    page.file = file;
    const auto t = titleRe.match(html);
    page.title = t.hasMatch() ? t.captured(1).trimmed() : file;
    page.text = QTextDocumentFragment::fromHtml(html).toPlainText().toLower();
    const auto k = keywordsRe.match(html);
    if (k.hasMatch())
      for (const QString &word : k.captured(1).split(QLatin1Char(';'), Qt::SkipEmptyParts))
        if (!word.trimmed().isEmpty())
          keywords_.push_back({word.trimmed(), file, page.title});
    pages_.push_back(std::move(page));
  }
  std::sort(keywords_.begin(), keywords_.end(), [](const Keyword &a, const Keyword &b) {
    const int c = QString::compare(a.word, b.word, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a.title < b.title;
  });
  FillIndex(keyword_->text());
}

void THelpWindow::FillIndex(const QString &filter) {
  index_->clear();
  const QString f = filter.trimmed();
  for (std::size_t i = 0; i < keywords_.size(); ++i) {
    const Keyword &k = keywords_[i];
    if (!f.isEmpty() && !k.word.startsWith(f, Qt::CaseInsensitive))
      continue;
    // A keyword on several pages names each page.
    const bool shared =
        (i > 0 && keywords_[i - 1].word.compare(k.word, Qt::CaseInsensitive) == 0) ||
        (i + 1 < keywords_.size() &&
         keywords_[i + 1].word.compare(k.word, Qt::CaseInsensitive) == 0);
    auto *item =
        new QListWidgetItem(shared ? QStringLiteral("%1 (%2)").arg(k.word, k.title) : k.word);
    item->setData(kFileRole, k.file);
    index_->addItem(item); // the list owns the item
  }
}

void THelpWindow::RunSearch() {
  Load();
  results_->clear();
  const QStringList words = searchText_->text().toLower().split(
      QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
  if (words.isEmpty())
    return;
  for (const Page &page : pages_) {
    const bool all = std::all_of(words.begin(), words.end(),
                                 [&page](const QString &w) { return page.text.contains(w); });
    if (!all)
      continue;
    auto *item = new QListWidgetItem(page.title);
    item->setData(kFileRole, page.file);
    results_->addItem(item);
  }
  if (results_->count() == 0)
    results_->addItem(QStringLiteral("No page contains these words."));
}

void THelpWindow::Open(const QString &fileAndAnchor) {
  if (fileAndAnchor.isEmpty() || folder_.isEmpty())
    return;
  const QString file = fileAndAnchor.section(QLatin1Char('#'), 0, 0);
  const QString anchor = fileAndAnchor.section(QLatin1Char('#'), 1);
  QUrl url = QUrl::fromLocalFile(QDir(folder_).filePath(file));
  if (!anchor.isEmpty())
    url.setFragment(anchor);
  browser_->setSource(url);
}

void THelpWindow::PlaceOnScreen() {
  // The first showing: the whole window inside the screen's available area
  // (the desktop's panels left free), centred on the program's frame when
  // there is one, and no larger than that area.
  placed_ = true;
  QScreen *screen = parentWidget() ? parentWidget()->screen() : this->screen();
  if (!screen)
    return;
  const QRect area = screen->availableGeometry();
  const QSize frame = frameGeometry().size() - geometry().size();
  const QSize size(std::min(width(), area.width() - frame.width()),
                   std::min(height(), area.height() - frame.height()));
  resize(size);
  QRect box(QPoint(0, 0), size + frame);
  const QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr;
  box.moveCenter(owner ? owner->frameGeometry().center() : area.center());
  box.moveLeft(std::clamp(box.left(), area.left(), area.right() + 1 - box.width()));
  box.moveTop(std::clamp(box.top(), area.top(), area.bottom() + 1 - box.height()));
  move(box.topLeft());
}

void THelpWindow::ShowWindow() {
  Load();
  const bool first = !isVisible() && !placed_;
  show();
  if (first)
    PlaceOnScreen();
  if (isMinimized())
    showNormal();
  raise();
  activateWindow();
}

void THelpWindow::ShowContents() {
  ShowWindow();
  tabs_->setCurrentIndex(0);
  if (browser_->source().isEmpty())
    Open(QStringLiteral("index.html"));
}

void THelpWindow::ShowSearch(const QString &keyword) {
  ShowWindow();
  tabs_->setCurrentIndex(1);
  keyword_->setText(keyword);
  FillIndex(keyword);
  keyword_->setFocus();
  if (browser_->source().isEmpty())
    Open(QStringLiteral("index.html"));
}

void THelpWindow::ShowHowToUse() {
  ShowWindow();
  Open(QStringLiteral("howtouse.html"));
}

} // namespace orvalle
