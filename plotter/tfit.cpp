// The plotter window: its form, construction, command messages, the frame
// command state it asserts, the font restore and closing.
#include "plotter/tfit.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <functional>

#include "engine/bfit.h"
#include "engine/customfit.h"
#include "engine/multfit.h"
#include "engine/trendtypes.h"
#include "frame/accessiblenames.h"
#include "frame/application.h"
#include "frame/dialogs.h"
#include "frame/frameapi.h"
#include "plotter/charts.h"
#include "plotter/controls.h"
#include "plotter/errpointseries.h"

namespace orvalle {

namespace {

constexpr int kChartPage = 3;

QLabel *label(const QString &text, QWidget *parent) { return new QLabel(text, parent); }

void setFontSize(QFont f, int size, const std::function<void(const QFont &)> &apply,
                 bool &changed) {
  if (size > 0 && f.pointSize() != size) {
    f.setPointSize(size);
    apply(f);
    changed = true;
  }
}

} // namespace

template <class F> void TFit::guarded(F &&f) {
  try {
    f();
  } catch (...) {
    ReportCurrentException();
  }
}

TFit::TFit(FrameApi &frame, QWidget *parent) : MdiChild(frame, parent) {
  // Names and lists start empty (members), a new empty multi-fit record.
  MultiSelection = std::make_unique<mbfit>();
  // The trend types offered, which the form shows as TrType's items: the
  // sample types when the setting asks for them, the plug-in's model, and
  // the typed formula always last.
  TrendTypes = trendtypelist(frame.samplefits(), frame.plugin());
  buildForm();

  // The deviations chart's axis titles take the main chart's title fonts.
  DevChart->yAxis->setLabelFont(MChart->yAxis->labelFont());
  DevChart->xAxis->setLabelFont(MChart->xAxis->labelFont());

  // Chart state (members) and the zero line on the deviations chart.
  ZeroLine = DevChart->makeline(0x000000);

  // The fixed error and the chart font sizes to restore.
  FixedError = 1.0;
  TitleFontSize = MChart->title()->font().pointSize();
  LabelFontSize = MChart->xAxis->tickLabelFont().pointSize();

  // The font timer.
  FontTimer = new QTimer(this); // child of the window
  FontTimer->setInterval(2000);
  connect(FontTimer, &QTimer::timeout, this, [this] { guarded([this] { RestoreChartFonts(); }); });
  FontTimer->start();

  // FormCreate: no titles window; the size asked for is raised to the minimum.
  TitlesWindow = nullptr;
  resize(577, 428);
  NameControls(this);
}

TFit::~TFit() {
  // The fits go first: their series leave the charts, which are still here.
  Fits.destroyall();
  Datasets.destroyall();
  Columns.reset();
  MultiSelection.reset();
  ZeroLine.reset();
}

void TFit::buildForm() {
  QFont formFont = font();
  formFont.setPointSize(8); // "MS Sans Serif" 8 pt: the desktop's interface face
  setFont(formFont);
  setMinimumSize(580, 580);

  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  PageControl = new QTabWidget(this);
  PageControl->setMinimumSize(577, 438);
  layout->addWidget(PageControl);

  TabSheet2 = buildCustomAddPage();
  TabSheet1 = buildViewDatasetsPage();
  TabSheet5 = buildFitsPage();
  TabSheet6 = buildChartPage();
  PageControl->addTab(TabSheet2, QStringLiteral("Custom Add Dataset"));
  PageControl->addTab(TabSheet1, QStringLiteral("View Datasets"));
  PageControl->addTab(TabSheet5, QStringLiteral("Add Fits/TrendLines "));
  PageControl->addTab(TabSheet6, QStringLiteral("View Chart"));
  PageControl->setCurrentIndex(kChartPage);
}

QWidget *TFit::buildCustomAddPage() {
  auto *page = new QWidget;
  auto *h = new QHBoxLayout(page);

  StringGridModel = new GridModel(this);
  StringGrid = new QTableView(page);
  StringGrid->setModel(StringGridModel);
  StringGrid->setAccessibleName(QStringLiteral("Columns"));
  StringGrid->verticalHeader()->setVisible(false); // no fixed column
  StringGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  StringGrid->verticalHeader()->setDefaultSectionSize(20);
  StringGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  h->addWidget(StringGrid, 1);

  Panel2 = new QWidget(page);
  Panel2->setFixedWidth(190);
  auto *form = new QVBoxLayout(Panel2);
  EditName = new QComboBox(Panel2);
  EditName->setEditable(true);
  Xdata = new QComboBox(Panel2);
  Ydata = new QComboBox(Panel2);
  ErYdata = new QComboBox(Panel2);
  EditErrFixed = new QLineEdit(QStringLiteral("1"), Panel2);
  ErXdata = new QComboBox(Panel2);
  ErXdata->addItem(QStringLiteral("None"));
  EditXErrFixed = new QLineEdit(QStringLiteral("1"), Panel2);
  DataColorBox = new ColourBox(Panel2);
  AddBtn = new QPushButton(QStringLiteral("Add "), Panel2);
  AddBtn->setEnabled(false);
  temo = new QPlainTextEdit(Panel2);
  temo->setVisible(false);

  form->addWidget(label(QStringLiteral("DataSet Name"), Panel2));
  form->addWidget(EditName);
  form->addWidget(label(QStringLiteral("X Data"), Panel2));
  form->addWidget(Xdata);
  form->addWidget(label(QStringLiteral("Y Data"), Panel2));
  form->addWidget(Ydata);
  form->addWidget(label(QStringLiteral("Y ErrorBars"), Panel2));
  form->addWidget(ErYdata);
  form->addWidget(label(QStringLiteral("Value"), Panel2));
  form->addWidget(EditErrFixed);
  form->addWidget(label(QStringLiteral("X ErrorBars"), Panel2));
  form->addWidget(ErXdata);
  form->addWidget(label(QStringLiteral("X Value"), Panel2));
  form->addWidget(EditXErrFixed);
  form->addWidget(label(QStringLiteral("Colour"), Panel2));
  form->addWidget(DataColorBox);
  form->addSpacing(8);
  form->addWidget(AddBtn);
  form->addWidget(temo);
  form->addStretch(1);
  h->addWidget(Panel2);

  connect(AddBtn, &QPushButton::clicked, this, [this] { guarded([this] { AddBtnClick(); }); });
  connect(EditErrFixed, &QLineEdit::textChanged, this,
          [this] { guarded([this] { EditErrFixedChange(); }); });
  return page;
}

QWidget *TFit::buildViewDatasetsPage() {
  auto *page = new QWidget;
  auto *h = new QHBoxLayout(page);

  StringGridMModel = new DatasetTableModel(this);
  StringGridM = new QTableView(page);
  StringGridM->setModel(StringGridMModel);
  StringGridM->setAccessibleName(QStringLiteral("Dataset points"));
  StringGridM->verticalHeader()->setVisible(false);
  StringGridM->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  StringGridM->verticalHeader()->setDefaultSectionSize(20);
  StringGridM->horizontalHeader()->setDefaultSectionSize(104);
  StringGridM->setEditTriggers(QAbstractItemView::NoEditTriggers);
  h->addWidget(StringGridM, 1);

  Panel3 = new QWidget(page);
  Panel3->setFixedWidth(190);
  auto *v = new QVBoxLayout(Panel3);
  Label15 = label(QStringLiteral("View Data Set"), Panel3);
  ViewCBD = new QComboBox(Panel3);
  ViewCBD->setEditable(true);
  TrackBar = new QSlider(Qt::Horizontal, Panel3);
  TrackBar->setAccessibleName(QStringLiteral("Data set number"));
  TrackBar->setRange(0, 1);
  TrackBar->setValue(0);
  TrackBar->setTickInterval(1);
  TrackBar->setSingleStep(1);
  TrackBar->setPageStep(1);
  TrackBar->setTickPosition(QSlider::TicksBelow);
  Label3 = label(QString(), Panel3);
  Label11 = label(QStringLiteral("Select Colour "), Panel3);
  ColorBoxM = new ColourBox(Panel3);
  v->addWidget(Label15);
  v->addWidget(ViewCBD);
  v->addWidget(TrackBar);
  v->addWidget(Label3);
  v->addWidget(Label11);
  v->addWidget(ColorBoxM);
  v->addStretch(1);
  h->addWidget(Panel3);

  connect(TrackBar, &QSlider::valueChanged, this,
          [this] { guarded([this] { TrackBarChange(); }); });
  connect(ViewCBD, &QComboBox::activated, this, [this] { guarded([this] { ViewCBDChange(); }); });
  connect(ColorBoxM, &ColourBox::colourChosen, this,
          [this] { guarded([this] { ColorBoxMChange(); }); });
  return page;
}

QWidget *TFit::buildFitsPage() {
  auto *page = new QWidget;
  auto *grid = new QGridLayout(page);

  QStringList trendCaptions;
  for (const trendtype type : TrendTypes)
    trendCaptions << QString::fromStdString(trendtext(type, frame().plugin()));
  TrType = new RadioGroup(QStringLiteral("Trend/Regression Type"), trendCaptions, page);
  grid->addWidget(TrType, 0, 0, 3, 1);

  Estimates = new QGroupBox(QStringLiteral("Estimates"), page);
  auto *est = new QFormLayout(Estimates);
  QLineEdit **boxes[] = {&EstA, &EstB, &EstC, &EstD, &EstE};
  QLabel **labels[] = {&estlA, &estlB, &estlC, &estlD, &estlE};
  for (int i = 0; i < 5; ++i) {
    *boxes[i] = new QLineEdit(QStringLiteral("1"), Estimates);
    *labels[i] = label(QStringLiteral("Estimate %1").arg(QChar('A' + i)), Estimates);
    est->addRow(*labels[i], *boxes[i]);
  }
  Estimates->setVisible(false);
  grid->addWidget(Estimates, 3, 0);

  Individual = new QGroupBox(QStringLiteral("Individual"), page);
  auto *ind = new QGridLayout(Individual);
  Label1 = label(QStringLiteral("Dateset "), Individual);
  TrDataset = new NameBox(Individual);
  TrDataset->setAccessibleName(QStringLiteral("Dataset"));
  Label4 = label(QStringLiteral("Name"), Individual);
  TrName = new QComboBox(Individual);
  TrName->setEditable(true);
  // Room for an automatic name such as "Dataset a -- Quadratic (y=ax^2+bx+c)".
  TrName->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  TrName->setMinimumContentsLength(30);
  TipWholeText(TrName);
  AddTr = new QPushButton(QStringLiteral("Fit && Plot"), Individual);
  AddTr->setEnabled(false);
  ind->addWidget(Label1, 0, 0);
  ind->addWidget(TrDataset, 0, 1);
  ind->addWidget(Label4, 1, 0);
  ind->addWidget(TrName, 1, 1);
  ind->addWidget(AddTr, 2, 1);
  grid->addWidget(Individual, 0, 1);

  Multfit = new QGroupBox(QStringLiteral("Multi Fit"), page);
  auto *mf = new QVBoxLayout(Multfit);
  // The list is what the multi fit takes, not a choice: every dataset in
  // it is fitted, so nothing in it can be highlighted.
  auto *mulCaption = new QLabel(QStringLiteral("Every dataset listed is fitted:"), Multfit);
  MulList = new QListWidget(Multfit);
  MulList->setAccessibleName(QStringLiteral("Datasets of the multi fit"));
  MulList->setAccessibleDescription(mulCaption->text());
  MulList->setSelectionMode(QAbstractItemView::NoSelection);
  MulList->setFocusPolicy(Qt::NoFocus);
  mulCaption->setBuddy(MulList);
  MFitType = new RadioGroup(QStringLiteral("With Same"),
                            {QString::fromStdString(multikindtext(multikind::sameintercept)),
                             QString::fromStdString(multikindtext(multikind::samegradient))},
                            Multfit);
  MFitType->setAccessibleName(QStringLiteral("With Same"));
  GoPlotBtn = new QPushButton(QStringLiteral("Fit && Plot"), Multfit);
  GoPlotBtn->setEnabled(false);
  mf->addWidget(mulCaption);
  mf->addWidget(MulList);
  mf->addWidget(MFitType);
  mf->addWidget(GoPlotBtn);
  grid->addWidget(Multfit, 1, 1, 3, 1);
  grid->setRowStretch(4, 1);
  grid->setColumnStretch(1, 1);
  buildFormulaBox(page);

  connect(TrType, &RadioGroup::clicked, this, [this] { guarded([this] { TrTypeClick(); }); });
  connect(AddTr, &QPushButton::clicked, this, [this] { guarded([this] { AddTrClick(); }); });
  connect(GoPlotBtn, &QPushButton::clicked, this,
          [this] { guarded([this] { GoPlotBtnClick(); }); });
  connect(TrName, &QComboBox::editTextChanged, this, [this] {
    if (TrName->lineEdit() && TrName->lineEdit()->isModified())
      guarded([this] { TrDatasetoldChange(); });
  });
  connect(TrDataset, &QComboBox::activated, this,
          [this] { guarded([this] { TrDatasetChange(); }); });
  return page;
}

QWidget *TFit::buildChartPage() {
  auto *page = new QWidget;
  auto *v = new QVBoxLayout(page);
  v->setContentsMargins(0, 0, 0, 0);
  v->setSpacing(0);

  MChart = new Chart(true, page);
  DevChart = new Chart(false, page);
  DevChart->setFixedHeight(155);
  v->addWidget(MChart, 1);
  v->addWidget(DevChart);

  Panel1 = new QWidget(page);
  Panel1->setFixedHeight(74);
  Panel1->setAutoFillBackground(true);
  QPalette pal = Panel1->palette();
  pal.setColor(QPalette::Window, Qt::white);
  // White like the charts above it whatever the desktop's palette, so its
  // labels are dark too: a dark theme's light text would vanish on it.
  pal.setColor(QPalette::WindowText, Qt::black);
  pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6d, 0x6d, 0x6d));
  Panel1->setPalette(pal);
  auto *p = new QGridLayout(Panel1);
  p->setContentsMargins(4, 2, 4, 2);
  Deletetr = new QPushButton(QStringLiteral("Delete"), Panel1);
  Label14 = label(QStringLiteral("Fit"), Panel1);
  CBoxDetails = new NameBox(Panel1);
  CBoxDetails->setMinimumWidth(140);
  Label10 = label(QString(QChar(0x03C7)), Panel1); // the Greek chi
  Label2 = label(QStringLiteral("2"), Panel1);
  QFont small = Label2->font();
  small.setPointSize(std::max(5, small.pointSize() - 2));
  Label2->setFont(small);
  Label2->setAlignment(Qt::AlignTop);
  Txtchisq = label(QString(), Panel1);
  Label13 = label(QStringLiteral("No Degrees of Freedom"), Panel1);
  Txtnpoints = label(QString(), Panel1);
  ChartListBox = new QPlainTextEdit(Panel1);
  ChartListBox->setReadOnly(true);
  ChartListBox->setAccessibleName(QStringLiteral("Fit information"));
  ChartListBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  auto *chi = new QHBoxLayout;
  chi->setSpacing(0);
  chi->addWidget(Label10);
  chi->addWidget(Label2);
  chi->addSpacing(6);
  chi->addWidget(Txtchisq, 1);
  p->addWidget(Deletetr, 0, 0);
  p->addWidget(Label14, 0, 1);
  p->addWidget(CBoxDetails, 0, 2);
  p->addLayout(chi, 1, 0, 1, 3);
  p->addWidget(Label13, 2, 0, 1, 2);
  p->addWidget(Txtnpoints, 2, 2);
  p->addWidget(ChartListBox, 0, 3, 3, 1);
  p->setColumnStretch(3, 1);
  // The chosen fit's results for a report: copied rounded to their
  // uncertainties, its residuals, and its details (covariance, correlation,
  // reduced chi-square and p-value).
  ResultsBtn = new QToolButton(Panel1);
  ResultsBtn->setText(QStringLiteral("Results"));
  ResultsBtn->setAccessibleName(QStringLiteral("Results"));
  ResultsBtn->setToolTip(QStringLiteral("Copy the chosen fit's results for a report, or show its "
                                        "details"));
  ResultsBtn->setPopupMode(QToolButton::InstantPopup);
  auto *results = new QMenu(ResultsBtn);
  CopyResultsText = results->addAction(QStringLiteral("Copy Results"));
  CopyResultsMarkdown = results->addAction(QStringLiteral("Copy Results as Markdown"));
  CopyResultsLatex = results->addAction(QStringLiteral("Copy Results as LaTeX"));
  CopyResiduals = results->addAction(QStringLiteral("Copy Residuals"));
  results->addSeparator();
  ShowDetails = results->addAction(QStringLiteral("Details..."));
  ResultsBtn->setMenu(results);
  p->addWidget(ResultsBtn, 0, 4);
  v->addWidget(Panel1);
  connect(CopyResultsText, &QAction::triggered, this,
          [this] { guarded([this] { CopyResults(reportformat::text); }); });
  connect(CopyResultsMarkdown, &QAction::triggered, this,
          [this] { guarded([this] { CopyResults(reportformat::markdown); }); });
  connect(CopyResultsLatex, &QAction::triggered, this,
          [this] { guarded([this] { CopyResults(reportformat::latex); }); });
  connect(CopyResiduals, &QAction::triggered, this,
          [this] { guarded([this] { CopyResidualTable(); }); });
  connect(ShowDetails, &QAction::triggered, this,
          [this] { guarded([this] { ShowFitDetails(); }); });

  connect(Deletetr, &QPushButton::clicked, this, [this] { guarded([this] { DeletetrClick(); }); });
  connect(CBoxDetails, &QComboBox::activated, this,
          [this] { guarded([this] { CBoxDetailsChange(); }); });
  connect(DevChart, &Chart::doubleClicked, this, &TFit::MChartClick);
  return page;
}

// ---------------------------------------------------------------------------

void TFit::setCaption(const QString &caption) {
  setWindowTitle(caption);
  if (Unsaved)
    setUnsaved(true); // the frame's caption keeps its mark
}

void TFit::setChartTitle(const QString &title) {
  MChart->setTitleText(title);
  MChart->replot(QCustomPlot::rpQueuedReplot);
}

chartcanvas &TFit::mainCanvas() { return *MChart; }

chartcanvas &TFit::devCanvas() { return *DevChart; }

TErrPointSeries *TFit::errorSeries(const chartseries *s) {
  auto *e = dynamic_cast<const errorseries *>(s);
  return e ? e->series() : nullptr;
}

int TFit::currentPage() const { return PageControl->currentIndex(); }

void TFit::showPage(int index) { PageControl->setCurrentIndex(index); }

void TFit::setPageAvailable(int index, bool on) {
  PageControl->setTabEnabled(index, on);
  PageControl->setTabVisible(index, on);
}

bool TFit::command(CommandEvent &e) {
  switch (e.message()) {
  case UM_SAVE:
  case UM_RESERVED:
    return true; // consumed, nothing to do
  case UM_PROCESS:
    if (e.wParam == 1 || e.wParam == 2)
      LabelsClick(static_cast<int>(e.wParam));
    return true;
  case UM_COPY:
    CopyInformation();
    return true;
  case UM_UPDATEMENUS:
    UpdateFrameCommands();
    return true;
  case UM_DATAREADY:
    SetUpData(e.lParam == 1);
    return true;
  case UM_EXPORT:
    ExportChart();
    return true;
  case UM_OUTPUT:
    OutputRequest(static_cast<int>(e.lParam));
    return true;
  case UM_CLOSEREQUEST:
    closeChild();
    return true;
  case UM_UPDATEALL:
    TitlesChanged(static_cast<int>(e.lParam));
    return true;
  case UM_TITLESANDGRID:
    ApplyTitles(static_cast<int>(e.wParam));
    return true;
  default:
    return false;
  }
}

void TFit::UpdateFrameCommands() {
  if (Printing)
    return;
  FrameApi &f = frame();

  // No text commands in a plotter.
  f.enable(Cmd::TBProcess, false);
  f.SetEditItems(false, false);

  // A dataset can be added once its x, y and y-error columns are chosen.
  AddBtn->setEnabled(Xdata->currentIndex() >= 0 && Ydata->currentIndex() >= 0 &&
                     ErYdata->currentIndex() >= 0);

  // The chart, export and print commands are on; saving is not.
  for (Cmd c :
       {Cmd::MenuChart, Cmd::TBReplot, Cmd::TBExport, Cmd::TBPrint, Cmd::TBAxis, Cmd::TBTitles,
        Cmd::FilePrintItem, Cmd::FileExport, Cmd::Replot, Cmd::FileClose, Cmd::CopytoClipBoard2})
    f.enable(c, true);
  for (Cmd c : {Cmd::FileSaveItem, Cmd::FileSaveAsItem, Cmd::TBSave})
    f.enable(c, false);

  // On the chart page the copy button copies the information text.
  if (currentPage() == kChartPage)
    f.enable(Cmd::TBarCopy, true);

  // The fixed-error boxes serve only when a fixed error is chosen
  // instead of a column.
  EditErrFixed->setEnabled(ErYdata->currentIndex() >= StringGridModel->colCount());
  EditXErrFixed->setEnabled(ErXdata->currentIndex() > StringGridModel->colCount());

  // Line the deviations chart up with the main chart.
  bool changed = false;
  // Both charts span the page's width, so the same left margin puts the two
  // left axes on one pixel column (the 5 pixels of the original rule were
  // the charting component's own gap between the labels and the axis).
  const int left = std::max(0, MChart->axisRect()->left());
  const QCP::MarginSides autoSides = QCP::msTop | QCP::msRight | QCP::msBottom;
  QMargins m = DevChart->axisRect()->margins();
  if (DevChart->axisRect()->autoMargins() != autoSides || m.left() != left) {
    DevChart->axisRect()->setAutoMargins(autoSides);
    m.setLeft(left);
    DevChart->axisRect()->setMargins(m);
    changed = true;
  }
  if (DevChart->xAxis->range() != MChart->xAxis->range()) {
    DevChart->xAxis->setRange(MChart->xAxis->range());
    changed = true;
  }
  if (!DevChart->xAxis->label().isEmpty()) {
    DevChart->xAxis->setLabel(QString());
    changed = true;
  }
  setFontSize(
      DevChart->xAxis->tickLabelFont(), MChart->xAxis->tickLabelFont().pointSize(),
      [this](const QFont &f) { DevChart->xAxis->setTickLabelFont(f); }, changed);
  setFontSize(
      DevChart->yAxis->tickLabelFont(), MChart->yAxis->tickLabelFont().pointSize(),
      [this](const QFont &f) { DevChart->yAxis->setTickLabelFont(f); }, changed);
  setFontSize(
      DevChart->title()->font(), MChart->title()->font().pointSize() - 2,
      [this](const QFont &f) { DevChart->title()->setFont(f); }, changed);

  // The dataset choosers and the multi fit need two datasets.
  if (Datasets.count < 2) {
    Multfit->setEnabled(false);
    Multfit->setVisible(false);
    TrDataset->setEnabled(false);
    TrackBar->setVisible(false);
    ViewCBD->setVisible(false);
    Label15->setVisible(false);
  } else {
    TrackBar->setVisible(true);
    ViewCBD->setVisible(true);
    Label15->setVisible(true);
    TrDataset->setEnabled(true);
    // Multi fits are offered with the trend type whose lines they fit.
    if (const trendrow *row = trendrowat(TrendTypes, TrType->itemIndex()); row && row->multi) {
      Multfit->setEnabled(true);
      Multfit->setVisible(true);
      UpdateMultiFitButton();
    } else {
      Multfit->setEnabled(false);
      Multfit->setVisible(false);
    }
  }

  // The legends are hidden unless the user has switched the main
  // chart's on.
  if (ShowLegendAsChosen())
    changed = true;

  // A page change redraws.
  if (currentPage() != LastTab) {
    LastTab = currentPage();
    RedrawCharts();
  } else if (changed && currentPage() == kChartPage) {
    DevChart->replot(QCustomPlot::rpQueuedReplot);
    MChart->replot(QCustomPlot::rpQueuedReplot);
  }
}

void TFit::RestoreChartFonts() {
  if (Printing)
    return;
  bool changed = false;
  QCPAxis *x = MChart->xAxis;
  QCPAxis *y = MChart->yAxis;
  setFontSize(
      x->tickLabelFont(), LabelFontSize, [x](const QFont &f) { x->setTickLabelFont(f); }, changed);
  setFontSize(
      y->tickLabelFont(), LabelFontSize, [y](const QFont &f) { y->setTickLabelFont(f); }, changed);
  setFontSize(
      x->labelFont(), LabelFontSize, [x](const QFont &f) { x->setLabelFont(f); }, changed);
  setFontSize(
      y->labelFont(), LabelFontSize, [y](const QFont &f) { y->setLabelFont(f); }, changed);
  setFontSize(
      MChart->title()->font(), TitleFontSize,
      [this](const QFont &f) { MChart->title()->setFont(f); }, changed);
  // Re-rendering a chart of a million points every two seconds for nothing
  // would load the machine: only a change is drawn again.
  if (changed) {
    MChart->replot(QCustomPlot::rpQueuedReplot);
    DevChart->replot(QCustomPlot::rpQueuedReplot);
  } else {
    MChart->update();
    DevChart->update();
  }
}

void TFit::closeEvent(QCloseEvent *e) {
  if (CloseWithoutPrompt) {
    e->accept();
    return;
  }
  const auto answer = Dialogs::get().question(
      this, windowTitle(), QStringLiteral("Are you sure you wish to exit from this chart?"), false);
  if (answer == Dialogs::Answer::No)
    e->ignore();
  else
    e->accept();
}

void TFit::MChartClick() {}

std::unique_ptr<MdiChild> NewPlotter(FrameApi &frame) { return std::make_unique<TFit>(frame); }

} // namespace orvalle
