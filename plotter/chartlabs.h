// The titles and axes tool window of a plotter: the main chart's title, the
// two axis titles and their fonts, the axis limits, the grid lines and a
// reset to limits from the data.
//
// The window never changes a chart itself. Every change is announced as a
// change code (see ChartlabsCode) through `send`, which hands it to the
// frame as UM_UPDATEALL; the frame passes it on to every child, and the
// plotter that owns a ready window acts on it (TFit::TitlesChanged).
#pragma once

#include <QFont>
#include <QWidget>
#include <array>
#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QToolButton;

namespace orvalle {

class FrameApi;

// The change codes of UM_UPDATEALL.
enum ChartlabsCode : int {
  kLabsClosing = 0,
  kLabsClosed = 1,
  kLabsAutoAxes = 2,
  kLabsLimits = 3,
  kLabsTitles = 5,
  kLabsXGrid = 10,
  kLabsYGrid = 20,
  kLabsLegend = 30, // the main chart's legend from the "Legend" check box
  kLabsLogX = 40,   // the main chart's x axis logarithmic or linear
  kLabsLogY = 50,   // the main chart's y axis logarithmic or linear
  kLabsBand = 60,   // the fits' confidence band: none, 1 sigma or 95 %
  kLabsReset = 999,
};

class TChartlabs : public QWidget {
  Q_OBJECT
public:
  using Sender = std::function<void(int code)>;

  // frame receives the error entries; send delivers the change codes.
  TChartlabs(FrameApi &frame, Sender send, QWidget *parent = nullptr);

  // Whether the window has been closed (it is released soon after).
  bool closed() const { return closed_; }

  bool Ready = false;
  bool LimitsRead = false;
  bool XGridFlag = false, YGridFlag = false;
  bool LegendFlag = false;
  double XMinValue = 0, XMaxValue = 0, YMinValue = 0, YMaxValue = 0;
  double SavedXMin = 0, SavedXMax = 0, SavedYMin = 0, SavedYMax = 0;
  // The limits the chart shows at this moment, in data units (x low, x
  // high, y low, y high); set by the plotter that binds the window. A
  // refused entry falls back to them.
  std::function<std::array<double, 4>()> ShownLimits;
  // The fonts shown and chosen by the two "F" buttons; none until the
  // plotter fills the window.
  std::optional<QFont> TitleFont;
  std::optional<QFont> AxisTitleFont;

  // --- Controls (named as in the form) ------------------------------------
  QTabWidget *Labels = nullptr;
  QWidget *TabLabels = nullptr;
  QWidget *TabAxis = nullptr;
  QPushButton *CloseBtn = nullptr;

  QLineEdit *EditTitle = nullptr;
  QLineEdit *EditXa = nullptr;
  QLineEdit *EditYa = nullptr;
  QLabel *Label13 = nullptr;
  QLabel *Label14 = nullptr;
  QLabel *Label15 = nullptr;
  QToolButton *SBFontTitle = nullptr;
  QToolButton *SBFontAxies = nullptr;

  QLineEdit *xmin = nullptr;
  QLineEdit *xmax = nullptr;
  QLineEdit *ymin = nullptr;
  QLineEdit *ymax = nullptr;
  QLabel *xminLabel = nullptr;
  QLabel *xmaxLabel = nullptr;
  QLabel *yminLabel = nullptr;
  QLabel *ymaxLabel = nullptr;
  QCheckBox *xGrid = nullptr;
  QCheckBox *yGrid = nullptr;
  QCheckBox *Legend = nullptr;
  QCheckBox *LogX = nullptr;
  QCheckBox *LogY = nullptr;
  // The confidence band of the fitted curves: "No Band", "1 σ Band" (68.3 %),
  // "95 % Band", in the order of bandlevel.
  QComboBox *BandLevel = nullptr;
  QPushButton *XOrgin = nullptr;
  QPushButton *YOrgin = nullptr;
  QPushButton *ResetBtn = nullptr;
  QPushButton *UpdateBtn = nullptr;

  // The number format of the four limit fields: 15 significant digits with
  // the locale's decimal separator.
  static QString LimitText(double value);
  // Reads a limit field with the locale's decimal separator.
  static std::optional<double> ReadLimit(const QString &text);

public slots:
  void EditTitleChange();
  void SBFontTitleClick();
  void SBFontAxiesClick();
  void xGridClick();
  void yGridClick();
  void LegendClick();
  void LogXClick();
  void LogYClick();
  void BandLevelChange();
  void UpdateBtnClick();
  void XOrginClick();
  void YOrginClick();
  void ResetBtnClick();
  void CloseBtnClick();
  void CheckXLimits();
  void CheckYLimits();

protected:
  void closeEvent(QCloseEvent *e) override;
  bool eventFilter(QObject *watched, QEvent *e) override;

private:
  void FormCreate();
  QWidget *buildLabelsPage();
  QWidget *buildAxisPage();
  void sendCode(int code);
  void SaveShownLimits();
  // CheckXLimits and CheckYLimits on one axis.
  struct axisfields {
    QLineEdit *low, *high;
    double &lowValue, &highValue;
    double savedLow, savedHigh;
    const char *lowError, *highError, *orderError;
  };
  void checkLimits(const axisfields &a);
  void showOrigin(QLineEdit *low, double lowValue, const char *error);
  template <class F> void guarded(F &&f);

  FrameApi &frame_;
  Sender send_;
  bool closed_ = false;
};

} // namespace orvalle
