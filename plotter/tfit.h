// The plotter window: one per converted data text. It owns the imported
// columns, the datasets, the fits and the two charts that show them.
//
// The scratch pad creates it, sets the file name, caption and chart title,
// hands it either the number grid (column layout) or the datasets (tagged
// layout), sends UM_DATAREADY (wParam/lParam 0,0 for the grid, 1,1 for the
// datasets), which runs SetUpData, and then calls TrackBarChange().
#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "datatext/conversion.h"
#include "engine/chartseries.h"
#include "engine/dataset.h"
#include "engine/numeric.h"
#include "engine/project.h"
#include "engine/report.h"
#include "engine/trendtypes.h"
#include "frame/chartchild.h"
#include "frame/mdichild.h"

class QCPGraph;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QSlider;
class QTabWidget;
class QTableView;
class QTimer;
class QToolButton;
class QWidget;

namespace orvalle {

class bfit;
class mbfit;
class TChartlabs;
class TFormulaPanel;
class Chart;
class ColourBox;
class RadioGroup;
class GridModel;
class DatasetTableModel;
class TErrPointSeries;
enum class exportkind; // the export's formats (plotter/export.h)

// One imported numeric column: one value per data row of the grid (the
// header row not counted). Datasets made from the column share `values`.
struct frow {
  rowref values;
};

// A list that owns the objects it names: add() takes them over, and
// destroyall() or the list's destruction destroys them. removeat() destroys
// the one object it unlinks, takeat() hands it back to the caller.
template <class T> class ownedlist : public list<T> {
public:
  ownedlist() = default;
  ~ownedlist() { destroyall(); }
  void add(std::unique_ptr<T> obj) {
    list<T>::add(obj.get());
    obj.release(); // listed: the list owns it now
  }
  // Destroys every listed object and releases the nodes.
  void destroyall() {
    for (item<T> *p = this->head; p; p = p->older) {
      delete p->obj;
      p->obj = nullptr;
    }
    this->clear();
  }
};

class TFit : public MdiChild, public ChartChild {
  Q_OBJECT
public:
  explicit TFit(FrameApi &frame, QWidget *parent = nullptr);
  ~TFit() override;

  // --- Set up by the scratch pad's Convert command -----------------------
  void setFileName(const QString &name) { FileName = name; }
  void setCaption(const QString &caption);
  // Clears the main chart's title and makes `title` its only line.
  void setChartTitle(const QString &title);
  // Column layout: the grid of numbers becomes StringGrid's cells (row 0 is
  // the header row, which SetUpData fills with the column names).
  void takeGrid(numericgrid grid);
  // Tagged layout: the datasets, in order; the plotter owns them from now on.
  void takeDatasets(std::vector<std::unique_ptr<dataset>> sets);
  // The whole hand-over of a conversion: file name, caption, chart title,
  // the grid or the datasets, then UM_DATAREADY. The caller runs
  // TrackBarChange() afterwards.
  void takeConversion(ConversionResult &r) override;
  // The titles of the grid's columns (an imported table's header), given
  // before the conversion is taken: offered beside the column names on
  // "Custom Add Dataset" and made the axis titles of a dataset made from
  // them while the axes have none.
  void setColumnTitles(const QStringList &titles) override { ColumnTitles = titles; }

  // --- Operations used by other parts of the plotter ---------------------
  // UM_DATAREADY: tagged true for the tagged layout (lParam 1).
  void SetUpData(bool tagged);
  void UpdateFrameCommands();
  void RestoreChartFonts();
  void Replot();
  void RedrawCharts();
  // Shows the main chart's legend (every dataset and fit by name) when the
  // user has switched it on, and hides it otherwise; the deviations chart
  // never has one but keeps its plot area lined up with the main chart's.
  // Returns whether the charts changed.
  bool ShowLegendAsChosen();
  // The confidence band of every fit that has a covariance, drawn behind
  // its curve in its colour at the level chosen in Band (none: no bands).
  void DrawBands();
  void DrawBand(bfit &fit);
  // Takes the band of one fit off the main chart (before the fit goes).
  void RemoveBand(const bfit *fit);
  void ShowDatasetTable();
  // The information text of all fits (name, chi-square, degrees of freedom,
  // description, a blank line each), with the locale's decimal separator.
  void WriteInformation(QStringList &lines) const;
  void WriteInformation(QPlainTextEdit *box) const;

  // The charts, as the engine sees them (bfit::fitplot/makeseries).
  chartcanvas &mainCanvas();
  chartcanvas &devCanvas();

  // The error-bar series a dataset or a fit's deviations were made with.
  static TErrPointSeries *errorSeries(const chartseries *s);

  // Index of the page showing ("View Chart" is 3).
  int currentPage() const;
  void showPage(int index);

  // --- Project files (tfit_project.cpp) -----------------------------------
  // Everything the user made here, as a project describes it.
  project::model ProjectModel() const;
  // Makes this new plotter's work from a project: the numbers, the
  // datasets, every fit fitted again, the chart's titles, limits and
  // choices. Raises project_error naming the dataset or fit that could not
  // be made; the caller then discards the plotter.
  void OpenProjectModel(const project::model &m) override;
  // Writes the project to fileName atomically (a failed write leaves the
  // file as it was); raises project_error with the reason.
  void SaveProject(const QString &fileName) override;
  // Whether there is work not yet kept in a project file, shown as a mark
  // in the window's caption.
  bool unsaved() const { return Unsaved; }
  void setUnsaved(bool on) override;
  QString ProjectFile; // the project last saved or opened, empty for none
  QString projectFile() const override { return ProjectFile; }
  void setProjectFile(const QString &file) override { ProjectFile = file; }
  QString sourceFile() const override { return FileName; }

  // --- Members ------------------------------------------------------------
  QString FileName;
  ownedlist<dataset> Datasets;
  ownedlist<bfit> Fits;
  std::unique_ptr<ownedlist<frow>> Columns;
  QStringList ColumnTitles;
  std::unique_ptr<mbfit> MultiSelection;
  double FixedError = 1.0;
  bool Printing = false;
  bool CloseWithoutPrompt = false;
  bool FitNamedByUser = false;
  // The trend type of each TrType item, in item order: the form makes one
  // item for each, with the engine's caption. Fixed when the window is made.
  std::vector<trendtype> TrendTypes;
  int LastTab = 0;
  // The user's choice in the titles and axes window: off at first.
  bool ShowLegend = false;
  // The main chart's axes on a logarithmic scale: the user's choice in the
  // titles and axes window, this plotter's own, off at first. The
  // deviations chart's bottom axis follows LogX.
  bool LogX = false, LogY = false;
  int TitleFontSize = 0;
  int LabelFontSize = 0;
  QTimer *FontTimer = nullptr;

  // Chart state.
  double XLow = 0.0, XHigh = 0.0, YLow = 0.0, YHigh = 0.0;
  double XScale = 1.0, YScale = 1.0;
  double XOffset = 0.0, YOffset = 0.0;
  QString XAxisTitle = " ", YAxisTitle = " ";
  QString XAxisSuffix, YAxisSuffix;
  QPointer<QWidget> TitlesWindow;
  // The confidence band's level: the user's choice in the titles and axes
  // window, this plotter's own, none at first.
  bandlevel Band = bandlevel::none;
  // The band graphs on the main chart: per fit its upper and lower edge.
  struct BandGraphs {
    const bfit *fit;
    QPointer<QCPGraph> upper, lower;
  };
  std::vector<BandGraphs> Bands;
  std::unique_ptr<chartseries> ZeroLine;
  // How each dataset was made (column layout), in the order of Datasets,
  // and each fit's description with its multi fit, for the project file.
  bool TaggedLayout = false;
  std::vector<project::datasetrecord> DatasetSources;
  std::map<const bfit *, project::fitrecord> FitSources;
  std::vector<project::multirecord> MultiSources;
  bool Unsaved = false;
  // Set while a project's fits are made again: the charts are drawn once,
  // at the end, rather than after every fit.
  bool Replaying = false;

  // --- Controls (named as in the form) ------------------------------------
  QTabWidget *PageControl = nullptr;
  QWidget *TabSheet2 = nullptr; // "Custom Add Dataset"
  QWidget *TabSheet1 = nullptr; // "View Datasets"
  QWidget *TabSheet5 = nullptr; // "Add Fits/TrendLines "
  QWidget *TabSheet6 = nullptr; // "View Chart"

  QTableView *StringGrid = nullptr;
  GridModel *StringGridModel = nullptr;
  QWidget *Panel2 = nullptr;
  QComboBox *EditName = nullptr;
  QComboBox *Xdata = nullptr;
  QComboBox *Ydata = nullptr;
  QComboBox *ErYdata = nullptr;
  QLineEdit *EditErrFixed = nullptr;
  // The x errors: "None", the columns, "Percentage", "Absolute", and the
  // value of the last two.
  QComboBox *ErXdata = nullptr;
  QLineEdit *EditXErrFixed = nullptr;
  ColourBox *DataColorBox = nullptr;
  QPushButton *AddBtn = nullptr;
  QPlainTextEdit *temo = nullptr;
  QToolButton *ResultsBtn = nullptr;
  QAction *CopyResultsText = nullptr, *CopyResultsMarkdown = nullptr, *CopyResultsLatex = nullptr;
  QAction *CopyResiduals = nullptr, *ShowDetails = nullptr;

  QTableView *StringGridM = nullptr;
  DatasetTableModel *StringGridMModel = nullptr;
  QWidget *Panel3 = nullptr;
  QLabel *Label15 = nullptr;
  QComboBox *ViewCBD = nullptr;
  QSlider *TrackBar = nullptr;
  QLabel *Label3 = nullptr;
  QLabel *Label11 = nullptr;
  ColourBox *ColorBoxM = nullptr;

  RadioGroup *TrType = nullptr;
  QGroupBox *Estimates = nullptr;
  QLineEdit *EstA = nullptr, *EstB = nullptr, *EstC = nullptr, *EstD = nullptr, *EstE = nullptr;
  QLabel *estlA = nullptr, *estlB = nullptr, *estlC = nullptr, *estlD = nullptr, *estlE = nullptr;
  QGroupBox *Individual = nullptr;
  QPushButton *AddTr = nullptr;
  QLabel *Label1 = nullptr;
  QComboBox *TrDataset = nullptr;
  QLabel *Label4 = nullptr;
  QComboBox *TrName = nullptr;
  TFormulaPanel *FormulaBox = nullptr; // the "Formula" type's formula and estimates
  QGroupBox *Multfit = nullptr;
  QListWidget *MulList = nullptr;
  RadioGroup *MFitType = nullptr;
  QPushButton *GoPlotBtn = nullptr;

  Chart *MChart = nullptr;
  Chart *DevChart = nullptr;
  QWidget *Panel1 = nullptr;
  QPushButton *Deletetr = nullptr;
  QLabel *Label14 = nullptr;
  QComboBox *CBoxDetails = nullptr;
  QLabel *Label10 = nullptr;
  QLabel *Label2 = nullptr;
  QLabel *Txtchisq = nullptr;
  QLabel *Label13 = nullptr;
  QLabel *Txtnpoints = nullptr;
  QPlainTextEdit *ChartListBox = nullptr;

public slots:
  // "Custom Add Dataset" and "View Datasets" pages.
  void AddBtnClick();
  void EditErrFixedChange();
  void TrackBarChange() override;
  void ViewCBDChange();
  void ColorBoxMChange();

  // "Add Fits/TrendLines " and the fit details on "View Chart"; their
  // behaviour is the fitting front end's.
  void TrTypeClick();
  // The name of the next multi fit of this kind: TrName's text when the
  // user typed it, else the program's proposal.
  std::string multiFitName(multikind kind) const;
  void TrDatasetChange();
  void WriteAutomaticName();
  void TrDatasetoldChange();
  void AddTrClick();
  void GoPlotBtnClick();
  void CBoxDetailsChange();
  void DeletetrClick();
  // The chosen fit's results rounded to their uncertainties (with its
  // details in the plain text), its residual table, and its details shown
  // in a window. Without a chosen fit they say so on the status line.
  void CopyResults(reportformat format);
  void CopyResidualTable();
  void ShowFitDetails();
  QString ResultsText(reportformat format) const;
  void UpdateMultiFitButton();
  void CheckPointCount();
  void ShowEstimates(int n);
  // The formula was edited: the automatic fit name follows it.
  void FormulaChange();

  // A double click on the deviations chart: does nothing.
  void MChartClick();

  // Information text, export, printing and the titles and axes window.
  void CopyInformation();
  void ExportChart();
  // kind 1 bitmap, 2 JPEG, 4 PNG, 5 SVG, 6 PDF (the export's filter
  // numbers, plotter/export.h): both charts as one picture, written to
  // fileName.
  void ExportPicture(int kind, const QString &fileName);
  void ExportPicture(exportkind kind, const QString &fileName);
  // The gnuplot script fileName and its data file (".gdt").
  void ExportGnuplot(const QString &fileName);
  void OutputRequest(int code);
  void PrintCharts();
  void LabelsClick(int page);
  void TitlesChanged(int code);
  // Why the x (or y) axis cannot be logarithmic now (a value of the data
  // at or below zero), or an empty text when it can.
  QString LogAxisRefusal(bool xaxis) const;
  // Puts the x (or y) axis on a logarithmic scale or back: a refusal is
  // logged as an error and the axis stays as it was. Returns whether the
  // axis has the scale asked for.
  bool SetLogAxis(bool xaxis, bool on);
  void ApplyTitles(int code);
  // The limits the titles and axes window read (kLabsLimits), refused on a
  // logarithmic axis when they are not above zero.
  void TakeLimits(TChartlabs &w);

protected:
  bool command(CommandEvent &e) override;
  void closeEvent(QCloseEvent *e) override;

private:
  void buildForm();
  QWidget *buildCustomAddPage();
  QWidget *buildViewDatasetsPage();
  QWidget *buildFitsPage();
  QWidget *buildChartPage();
  void setPageAvailable(int index, bool on);
  void makeColumn(int c);
  // The pieces of "Add": the numbers of listed column i; whether every
  // picked column was read (a refusal is logged); count y errors made from
  // the fixed value or a percentage of y, and x errors from the pick xe,
  // each null once one that is not above zero is logged; whether every y
  // error is above zero (logged, and the plotter closed for the automatic
  // dataset, if not); and the new dataset shown, listed and logged.
  rowref columnValues(int i) const;
  bool picksWereRead(std::initializer_list<int> picks);
  rowref fixedYErrors(const drow &y, int count, bool percentage);
  rowref xErrors(const drow &x, int xe);
  // The number in EditXErrFixed (1 when empty); raises when it is none.
  double XErrorValue() const;
  bool yErrorsAboveZero(const drow &errors, bool threeColumns);
  void addDataset(std::unique_ptr<dataset> d, const QColor &colour,
                  project::datasetrecord source = {});
  // A dataset from columns as a project describes it.
  void addDatasetFrom(const project::datasetrecord &r);
  void fillSeries(dataset &d, const QColor &pointColour, bool scaled);
  dataset *datasetAt(int i) const;
  // The typed formula's part of the fits page (tfit_formula.cpp).
  void buildFormulaBox(QWidget *page);
  // The text a fit of TrType's item is named after: the item's text, or
  // "y=" and the formula for the "Formula" item.
  std::string trendItemText(int index) const;
  // The fit object of the type: the formula's for "Formula" (raising
  // formula_error when it cannot be read), makefit's otherwise.
  std::unique_ptr<bfit> makeChosenFit(trendtype type) const;
  // The formula's own estimates into par; false when one is not a number.
  // Other types have none and always succeed.
  bool takeFormulaEstimates(trendtype type, bfit &fit) const;
  // "Fit && Plot" for the type: the fit made, fitted, listed, shown and
  // logged. A failure on the way raises after the fit is taken back out.
  void addFitOfType(trendtype type);
  // The fit made, fitted with the solver given, listed, shown and logged;
  // source is its description for the project file.
  void placeFit(std::unique_ptr<bfit> fit, dataset *target, bool gauss, project::fitrecord source);
  // A multi fit over the tagged datasets; raises after its lines are
  // taken back out when the joint fit fails.
  void runMultiFit(multikind kind, const std::string &name, bool gauss);
  // The project's fits again, in order (tfit_project.cpp).
  void replayFits(const project::model &m);
  void applyChart(const project::chartrecord &c);
  // The fit of the type with its estimates, or null once a formula that
  // cannot be read or an estimate that is not a number has been logged.
  std::unique_ptr<bfit> makeFitWithEstimates(trendtype type);
  // Undoes a fit that failed on its way in: off its dataset, out of Fits
  // (its series leave the charts) and the details, with the details and
  // the page shown before. Only detaches a fit that was never listed.
  void takeBackFit(dataset &target, const bfit *fit, int previousDetail, int previousPage) noexcept;
  // Runs a handler; an exception it raises is reported and ends only it.
  template <class F> void guarded(F &&f);
};

// The plotter factory the program gives its frame (TMainForm::
// setPlotterFactory).
std::unique_ptr<MdiChild> NewPlotter(FrameApi &frame);

} // namespace orvalle
