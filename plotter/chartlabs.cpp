// The titles and axes tool window, and the plotter's side of it: filling
// and binding the window (LabelsClick), acting on its change codes
// (TitlesChanged) and taking its titles and fonts (ApplyTitles).
#include "plotter/chartlabs.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTabWidget>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "frame/accessiblenames.h"
#include "frame/application.h"
#include "frame/dialogs.h"
#include "frame/frameapi.h"
#include "frame/messages.h"
#include "plotter/charts.h"
#include "plotter/tfit.h"

namespace orvalle {

namespace {

constexpr int kChartPage = 3;

// The locale's decimal separator, when it is one plain character.
char localeSeparator() {
  const QString point = QLocale().decimalPoint();
  if (point.size() == 1 && point.at(0).unicode() < 128)
    return point.at(0).toLatin1();
  return '.';
}

QFont arialBoldItalic(const QFont &base) {
  QFont f(base);
  f.setFamily(QStringLiteral("Arial"));
  f.setStyleHint(QFont::SansSerif);
  f.setBold(true);
  f.setItalic(true);
  return f;
}

} // namespace

template <class F> void TChartlabs::guarded(F &&f) {
  try {
    f();
  } catch (...) {
    ReportCurrentException();
  }
}

TChartlabs::TChartlabs(FrameApi &frame, Sender send, QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::WindowStaysOnTopHint), frame_(frame), send_(std::move(send)) {
  setObjectName(QStringLiteral("Chartlabs"));
  setWindowTitle(QStringLiteral("Chartlabs"));
  setAttribute(Qt::WA_DeleteOnClose);
  QFont formFont = font();
  formFont.setPointSize(8); // "MS Sans Serif" 8 pt: the desktop's interface face
  setFont(formFont);
  setFixedSize(403, 275);

  Labels = new QTabWidget(this);
  Labels->setObjectName(QStringLiteral("Labels"));
  Labels->setTabPosition(QTabWidget::West);
  Labels->setUsesScrollButtons(false); // tabs wrap rather than scroll
  Labels->setGeometry(rect());
  TabLabels = buildLabelsPage();
  TabAxis = buildAxisPage();
  Labels->addTab(TabLabels, QStringLiteral("Titles && Labels"));
  Labels->addTab(TabAxis, QStringLiteral("Axis Settings"));

  CloseBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton),
                             QStringLiteral("&Close"), this);
  CloseBtn->setObjectName(QStringLiteral("CloseBtn"));
  CloseBtn->adjustSize();
  CloseBtn->move(width() - CloseBtn->width() - 8, height() - CloseBtn->height() - 8);
  CloseBtn->raise(); // in front of the page control
  connect(CloseBtn, &QPushButton::clicked, this, [this] { guarded([this] { CloseBtnClick(); }); });

  FormCreate();
  NameControls(this);
  show();
}

QWidget *TChartlabs::buildLabelsPage() {
  auto *page = new QWidget;
  QFont pageFont = page->font();
  pageFont.setPixelSize(12);
  page->setFont(pageFont);
  auto *grid = new QGridLayout(page);

  Label13 = new QLabel(QStringLiteral("Title"), page);
  Label14 = new QLabel(QStringLiteral("X Axis"), page);
  Label15 = new QLabel(QStringLiteral("Y Axis"), page);
  EditTitle = new QLineEdit(page);
  EditXa = new QLineEdit(page);
  EditYa = new QLineEdit(page);
  SBFontTitle = new QToolButton(page);
  SBFontAxies = new QToolButton(page);
  for (QToolButton *b : {SBFontTitle, SBFontAxies}) {
    b->setText(QStringLiteral("F"));
    b->setFont(arialBoldItalic(b->font()));
    b->setAutoRaise(true);
  }
  SBFontTitle->setToolTip(QStringLiteral("Font of the title"));
  SBFontAxies->setToolTip(QStringLiteral("Font of the axis titles"));

  grid->addWidget(Label13, 0, 0);
  grid->addWidget(EditTitle, 1, 0);
  grid->addWidget(SBFontTitle, 1, 1);
  grid->addWidget(Label14, 2, 0);
  grid->addWidget(EditXa, 3, 0);
  grid->addWidget(SBFontAxies, 3, 1);
  grid->addWidget(Label15, 4, 0);
  grid->addWidget(EditYa, 5, 0);
  grid->setRowStretch(6, 1);

  for (QLineEdit *e : {EditTitle, EditXa, EditYa})
    connect(e, &QLineEdit::textChanged, this, [this] { guarded([this] { EditTitleChange(); }); });
  connect(SBFontTitle, &QToolButton::clicked, this,
          [this] { guarded([this] { SBFontTitleClick(); }); });
  connect(SBFontAxies, &QToolButton::clicked, this,
          [this] { guarded([this] { SBFontAxiesClick(); }); });
  return page;
}

QWidget *TChartlabs::buildAxisPage() {
  auto *page = new QWidget;
  auto *grid = new QGridLayout(page);

  auto limit = [&](QLineEdit *&edit, QLabel *&label, const char *name, const QString &caption) {
    edit = new QLineEdit(page);
    edit->setObjectName(QLatin1String(name));
    label = new QLabel(caption, page);
    label->setBuddy(edit);
    label->installEventFilter(this); // a click on the label takes the titles
  };
  limit(xmin, xminLabel, "xmin", QStringLiteral("X Min"));
  limit(xmax, xmaxLabel, "xmax", QStringLiteral("X Max"));
  limit(ymin, yminLabel, "ymin", QStringLiteral("Y Min"));
  limit(ymax, ymaxLabel, "ymax", QStringLiteral("Y Max"));
  XOrgin = new QPushButton(QStringLiteral("Show Orgin"), page);
  YOrgin = new QPushButton(QStringLiteral("Show Orgin"), page);
  xGrid = new QCheckBox(QStringLiteral("X Grid Lines"), page);
  yGrid = new QCheckBox(QStringLiteral("Y Grid Lines"), page);
  Legend = new QCheckBox(QStringLiteral("Legend"), page);
  Legend->setObjectName(QStringLiteral("Legend"));
  Legend->setAccessibleName(QStringLiteral("Legend"));
  Legend->setToolTip(QStringLiteral("Name every dataset and fit beside the main chart"));
  LogX = new QCheckBox(QStringLiteral("Log Scale X"), page);
  LogX->setObjectName(QStringLiteral("LogX"));
  LogX->setAccessibleName(LogX->text());
  LogX->setToolTip(QStringLiteral("Show the x axis on a logarithmic scale, in decades"));
  LogY = new QCheckBox(QStringLiteral("Log Scale Y"), page);
  LogY->setObjectName(QStringLiteral("LogY"));
  LogY->setAccessibleName(LogY->text());
  LogY->setToolTip(QStringLiteral("Show the y axis on a logarithmic scale, in decades"));
  BandLevel = new QComboBox(page);
  BandLevel->setObjectName(QStringLiteral("BandLevel"));
  BandLevel->addItems(
      {QStringLiteral("No Band"), QStringLiteral("1 \u03c3 Band"), QStringLiteral("95 % Band")});
  BandLevel->setAccessibleName(QStringLiteral("Confidence band"));
  BandLevel->setToolTip(QStringLiteral(
      "Shade where each fitted curve lies: one standard deviation (68.3 %) or 95 % either side, "
      "from the fit's covariance. It shows how well the curve is known, not where new points "
      "fall."));
  ResetBtn = new QPushButton(QStringLiteral("Reset"), page);
  UpdateBtn = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                              QStringLiteral("Update"), page);
  UpdateBtn->setDefault(true);

  grid->addWidget(xminLabel, 0, 0);
  grid->addWidget(xmaxLabel, 0, 1);
  grid->addWidget(xmin, 1, 0);
  grid->addWidget(xmax, 1, 1);
  grid->addWidget(XOrgin, 1, 2);
  grid->addWidget(yminLabel, 2, 0);
  grid->addWidget(ymaxLabel, 2, 1);
  grid->addWidget(ymin, 3, 0);
  grid->addWidget(ymax, 3, 1);
  grid->addWidget(YOrgin, 3, 2);
  grid->addWidget(xGrid, 4, 0);
  grid->addWidget(yGrid, 4, 1);
  grid->addWidget(Legend, 4, 2);
  grid->addWidget(LogX, 5, 0);
  grid->addWidget(LogY, 5, 1);
  grid->addWidget(BandLevel, 5, 2);
  grid->addWidget(ResetBtn, 6, 0);
  grid->addWidget(UpdateBtn, 6, 1);
  grid->setRowStretch(7, 1);
  grid->setRowMinimumHeight(7, 36); // room for the close button

  // The check boxes answer every change of their state, as the plotter's
  // filling of the window relies on.
  connect(xGrid, &QCheckBox::toggled, this, [this] { guarded([this] { xGridClick(); }); });
  connect(yGrid, &QCheckBox::toggled, this, [this] { guarded([this] { yGridClick(); }); });
  connect(Legend, &QCheckBox::toggled, this, [this] { guarded([this] { LegendClick(); }); });
  connect(LogX, &QCheckBox::toggled, this, [this] { guarded([this] { LogXClick(); }); });
  connect(LogY, &QCheckBox::toggled, this, [this] { guarded([this] { LogYClick(); }); });
  connect(BandLevel, &QComboBox::currentIndexChanged, this,
          [this] { guarded([this] { BandLevelChange(); }); });
  connect(XOrgin, &QPushButton::clicked, this, [this] { guarded([this] { XOrginClick(); }); });
  connect(YOrgin, &QPushButton::clicked, this, [this] { guarded([this] { YOrginClick(); }); });
  connect(ResetBtn, &QPushButton::clicked, this, [this] { guarded([this] { ResetBtnClick(); }); });
  connect(UpdateBtn, &QPushButton::clicked, this,
          [this] { guarded([this] { UpdateBtnClick(); }); });
  return page;
}

void TChartlabs::FormCreate() {
  xGrid->setChecked(XGridFlag);
  yGrid->setChecked(YGridFlag);
  Legend->setChecked(LegendFlag);
  SavedXMin = XMinValue;
  SavedXMax = XMaxValue;
  SavedYMin = YMinValue;
  SavedYMax = YMaxValue;
}

void TChartlabs::sendCode(int code) {
  if (send_)
    send_(code);
}

QString TChartlabs::LimitText(double value) {
  return QString::fromStdString(generaltext(value, 15, localeSeparator()));
}

std::optional<double> TChartlabs::ReadLimit(const QString &text) {
  QLocale locale;
  locale.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
  bool ok = false;
  const double v = locale.toDouble(text.trimmed(), &ok);
  if (!ok)
    return std::nullopt;
  return v;
}

// ---------------------------------------------------------------------------

void TChartlabs::EditTitleChange() { sendCode(kLabsTitles); }

void TChartlabs::SBFontTitleClick() {
  if (!TitleFont)
    return;
  QFont f = *TitleFont;
  if (Dialogs::get().font(this, f)) {
    TitleFont = f;
    sendCode(kLabsTitles);
  }
}

void TChartlabs::SBFontAxiesClick() {
  if (!AxisTitleFont)
    return;
  QFont f = *AxisTitleFont;
  if (Dialogs::get().font(this, f)) {
    AxisTitleFont = f;
    sendCode(kLabsTitles);
  }
}

void TChartlabs::xGridClick() {
  XGridFlag = !XGridFlag;
  sendCode(kLabsXGrid);
}

void TChartlabs::yGridClick() {
  YGridFlag = !YGridFlag;
  sendCode(kLabsYGrid);
}

void TChartlabs::LegendClick() {
  LegendFlag = !LegendFlag;
  sendCode(kLabsLegend);
}

void TChartlabs::LogXClick() { sendCode(kLabsLogX); }

void TChartlabs::LogYClick() { sendCode(kLabsLogY); }

void TChartlabs::BandLevelChange() { sendCode(kLabsBand); }

void TChartlabs::SaveShownLimits() {
  if (!ShownLimits)
    return;
  const std::array<double, 4> shown = ShownLimits();
  SavedXMin = shown[0];
  SavedXMax = shown[1];
  SavedYMin = shown[2];
  SavedYMax = shown[3];
}

void TChartlabs::UpdateBtnClick() {
  // "Old values" are what the chart showed just before this Update.
  SaveShownLimits();
  CheckXLimits();
  CheckYLimits();
  sendCode(kLabsLimits);
  if (LimitsRead) {
    sendCode(kLabsAutoAxes);
    LimitsRead = false;
  }
}

void TChartlabs::showOrigin(QLineEdit *low, double lowValue, const char *error) {
  if (const auto v = ReadLimit(low->text())) {
    if (*v > 0)
      low->setText(QStringLiteral("0"));
  } else {
    frame_.LogEvent(kLogPlain, true, QLatin1String(error));
    low->setText(lowValue > 0 ? LimitText(lowValue) : QStringLiteral("0"));
  }
}

void TChartlabs::XOrginClick() {
  SaveShownLimits();
  CheckXLimits();
  CheckYLimits();
  showOrigin(xmin, XMinValue, "Invalid Number found in xmin reseting");
  sendCode(kLabsAutoAxes);
}

void TChartlabs::YOrginClick() {
  SaveShownLimits();
  CheckYLimits();
  CheckXLimits();
  showOrigin(ymin, YMinValue, "Invalid Number found in ymin reseting");
  sendCode(kLabsAutoAxes);
}

void TChartlabs::ResetBtnClick() { sendCode(kLabsReset); }

void TChartlabs::CloseBtnClick() { close(); }

void TChartlabs::checkLimits(const axisfields &a) {
  if (const auto v = ReadLimit(a.low->text())) {
    a.lowValue = *v;
  } else {
    LimitsRead = true;
    a.low->setText(LimitText(a.savedLow));
    frame_.LogEvent(kLogPlain, true, QLatin1String(a.lowError));
    a.lowValue = a.savedLow;
  }
  if (const auto v = ReadLimit(a.high->text())) {
    a.highValue = *v;
  } else {
    LimitsRead = true;
    a.high->setText(LimitText(a.savedHigh));
    frame_.LogEvent(kLogPlain, true, QLatin1String(a.highError));
    a.highValue = a.savedHigh;
  }
  if (!(a.highValue >= a.lowValue)) {
    frame_.LogEvent(kLogPlain, true, QLatin1String(a.orderError));
    a.lowValue = a.savedLow;
    a.highValue = a.savedHigh;
    a.high->setText(LimitText(a.savedHigh));
    a.low->setText(LimitText(a.savedLow));
  }
  LimitsRead = true;
}

void TChartlabs::CheckXLimits() {
  checkLimits({xmin, xmax, XMinValue, XMaxValue, SavedXMin, SavedXMax, "Error in xmin",
               "Error in xmax", "Error Xmin is Larger than Xmax restoring old values"});
}

void TChartlabs::CheckYLimits() {
  checkLimits({ymin, ymax, YMinValue, YMaxValue, SavedYMin, SavedYMax, "Error in ymin",
               "Error in ymax", "Error Ymin is Larger than Ymax restoring old values"});
}

void TChartlabs::closeEvent(QCloseEvent *e) {
  // FormClose: the plotters hear of it before the window goes.
  Ready = false;
  closed_ = true;
  guarded([this] {
    sendCode(kLabsClosing);
    sendCode(kLabsClosed);
  });
  e->accept();
}

bool TChartlabs::eventFilter(QObject *watched, QEvent *e) {
  if (e->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent *>(e)->button() == Qt::LeftButton &&
      (watched == xminLabel || watched == xmaxLabel || watched == yminLabel ||
       watched == ymaxLabel)) {
    guarded([this] { EditTitleChange(); });
    return true;
  }
  return QWidget::eventFilter(watched, e);
}

// ---------------------------------------------------------------------------
// The plotter's side.

namespace {

TChartlabs *boundWindow(const TFit &p) {
  auto *w = qobject_cast<TChartlabs *>(p.TitlesWindow.data());
  return w && !w->closed() ? w : nullptr;
}

} // namespace

void TFit::LabelsClick(int page) {
  // The chart page comes to the front.
  showPage(kChartPage);

  // Restore the window, or bind one: a window of this plotter that
  // another window's close left unbound is taken again before a new one is
  // made.
  TChartlabs *w = boundWindow(*this);
  if (w) {
    if (w->isMinimized())
      w->showNormal();
  } else {
    for (TChartlabs *c : findChildren<TChartlabs *>(QString(), Qt::FindDirectChildrenOnly))
      if (!c->closed()) {
        w = c;
        break;
      }
    if (!w) {
      auto send = [this](int code) {
        // The frame passes the code on to every child; a frame that is not
        // a window (as in tests) gets it to this plotter alone.
        if (auto *target = dynamic_cast<QObject *>(&frame()))
          SendCommand(target, UM_UPDATEALL, code, code);
        else
          SendCommand(this, UM_UPDATEALL, code, code);
      };
      w = new TChartlabs(frame(), send, this); // owned by the plotter
    }
    TitlesWindow = w;
    w->ShownLimits = [this] {
      const QCPRange xr = MChart->xAxis->range();
      const QCPRange yr = MChart->yAxis->range();
      return std::array<double, 4>{xr.lower * XScale + XOffset, xr.upper * XScale + XOffset,
                                   yr.lower * YScale + YOffset, yr.upper * YScale + YOffset};
    };
    w->showNormal();
  }
  w->raise();

  // Fill it; the handlers the filling sets off are ignored.
  w->Ready = false;
  QString title = MChart->titleText();
  title.replace(QLatin1Char('\n'), QLatin1Char(' '));
  w->EditTitle->setText(title);
  w->EditXa->setText(XAxisTitle);
  w->EditYa->setText(YAxisTitle);
  w->TitleFont = MChart->title()->font();
  w->AxisTitleFont = MChart->yAxis->labelFont();
  const QCPRange xr = MChart->xAxis->range();
  const QCPRange yr = MChart->yAxis->range();
  w->ymin->setText(TChartlabs::LimitText(yr.lower * YScale + YOffset));
  w->ymax->setText(TChartlabs::LimitText(yr.upper * YScale + YOffset));
  w->xmin->setText(TChartlabs::LimitText(xr.lower * XScale + XOffset));
  w->xmax->setText(TChartlabs::LimitText(xr.upper * XScale + XOffset));
  w->xGrid->setChecked(MChart->xAxis->grid()->visible());
  w->yGrid->setChecked(MChart->yAxis->grid()->visible());
  w->Legend->setChecked(ShowLegend);
  w->LogX->setChecked(LogX);
  w->LogY->setChecked(LogY);
  w->BandLevel->setCurrentIndex(static_cast<int>(Band));

  // After a short pause the window answers its controls again.
  QThread::msleep(40);
  w->Ready = true;

  if (page == 1)
    w->Labels->setCurrentWidget(w->TabLabels);
  else if (page == 2)
    w->Labels->setCurrentWidget(w->TabAxis);
}

void TFit::TitlesChanged(int code) {
  // Any window's close unbinds every plotter's.
  if (code == kLabsClosed)
    TitlesWindow = nullptr;
  // Only a bound window that has been filled sends changes.
  TChartlabs *w = boundWindow(*this);
  if (!w || !w->Ready)
    return;
  setUnsaved(true);
  // New titles are applied, and nothing else.
  if (code == kLabsTitles) {
    ApplyTitles(kLabsTitles);
    return;
  }
  // Any other change redraws, then acts on what changed.
  RedrawCharts();
  switch (code) {
  case kLabsAutoAxes:
    MChart->xAxis->rescale(true);
    MChart->yAxis->rescale(true);
    RedrawCharts();
    break;
  case kLabsLimits:
    TakeLimits(*w);
    RedrawCharts();
    break;
  case kLabsBand:
    Band = static_cast<bandlevel>(std::clamp(w->BandLevel->currentIndex(), 0, 2));
    RedrawCharts();
    break;
  case kLabsLogX:
  case kLabsLogY: {
    const bool xaxis = code == kLabsLogX;
    QCheckBox *box = xaxis ? w->LogX : w->LogY;
    if (!SetLogAxis(xaxis, box->isChecked())) {
      // Refused: the box shows the axis as it is, without a second change.
      const QSignalBlocker quiet(box);
      box->setChecked(xaxis ? LogX : LogY);
    }
    LabelsClick(0);
    break;
  }
  case kLabsXGrid:
    MChart->xAxis->grid()->setVisible(w->xGrid->isChecked());
    DevChart->xAxis->grid()->setVisible(w->xGrid->isChecked());
    MChart->replot();
    DevChart->replot();
    break;
  case kLabsYGrid:
    MChart->yAxis->grid()->setVisible(w->yGrid->isChecked());
    DevChart->yAxis->grid()->setVisible(w->yGrid->isChecked());
    MChart->replot();
    DevChart->replot();
    break;
  case kLabsLegend:
    // The choice is this plotter's, and stays until it is changed here.
    ShowLegend = w->Legend->isChecked();
    ShowLegendAsChosen();
    MChart->replot();
    DevChart->replot();
    break;
  case kLabsReset:
    Replot();
    LabelsClick(0);
    RedrawCharts();
    break;
  default:
    RedrawCharts();
    break;
  }
}

void TFit::TakeLimits(TChartlabs &w) {
  // A logarithmic axis cannot show a limit at or below zero: the axis keeps
  // the limits it had, and the window shows them again.
  auto refuse = [&](bool xaxis) {
    frame().LogEvent(kLogPlain, true,
                     xaxis ? QStringLiteral("Error a logarithmic X axis needs Xmin above zero "
                                            "restoring old values")
                           : QStringLiteral("Error a logarithmic Y axis needs Ymin above zero "
                                            "restoring old values"));
    QLineEdit *low = xaxis ? w.xmin : w.ymin;
    QLineEdit *high = xaxis ? w.xmax : w.ymax;
    low->setText(TChartlabs::LimitText(xaxis ? XLow : YLow));
    high->setText(TChartlabs::LimitText(xaxis ? XHigh : YHigh));
  };
  if (LogX && !(w.XMinValue > 0)) {
    refuse(true);
  } else {
    XLow = w.XMinValue;
    XHigh = w.XMaxValue;
  }
  if (LogY && !(w.YMinValue > 0)) {
    refuse(false);
  } else {
    YLow = w.YMinValue;
    YHigh = w.YMaxValue;
  }
}

void TFit::ApplyTitles(int code) {
  if (code == kLabsTitles) {
    if (TChartlabs *w = boundWindow(*this)) {
      // The window's title and axis titles, the axis notes after them.
      MChart->setTitleText(w->EditTitle->text());
      XAxisTitle = w->EditXa->text();
      YAxisTitle = w->EditYa->text();
      MChart->xAxis->setLabel(XAxisTitle + XAxisSuffix);
      MChart->yAxis->setLabel(YAxisTitle + YAxisSuffix);
      // The window's title and axis title fonts.
      if (w->TitleFont)
        MChart->title()->setFont(*w->TitleFont);
      if (w->AxisTitleFont) {
        MChart->yAxis->setLabelFont(*w->AxisTitleFont);
        MChart->xAxis->setLabelFont(*w->AxisTitleFont);
      }
      // The sizes the font timer restores.
      TitleFontSize = MChart->title()->font().pointSize();
      LabelFontSize = MChart->xAxis->tickLabelFont().pointSize();
      // The deviations chart: the same axis title font, a title two points
      // smaller.
      if (w->AxisTitleFont) {
        DevChart->yAxis->setLabelFont(*w->AxisTitleFont);
        DevChart->xAxis->setLabelFont(*w->AxisTitleFont);
      }
      QFont devTitle = MChart->title()->font();
      devTitle.setPointSize(std::max(1, devTitle.pointSize() - 2));
      DevChart->title()->setFont(devTitle);
    }
  } else if (code == kLabsXGrid) {
    MChart->xAxis->grid()->setVisible(!MChart->xAxis->grid()->visible());
    DevChart->xAxis->grid()->setVisible(!DevChart->xAxis->grid()->visible());
  } else if (code == kLabsYGrid) {
    MChart->yAxis->grid()->setVisible(!MChart->yAxis->grid()->visible());
    DevChart->yAxis->grid()->setVisible(!DevChart->yAxis->grid()->visible());
  }
  // Redrawn with the fonts the plotter keeps.
  RedrawCharts();
  RestoreChartFonts();
  MChart->replot(QCustomPlot::rpQueuedReplot);
  DevChart->replot(QCustomPlot::rpQueuedReplot);
}

} // namespace orvalle
