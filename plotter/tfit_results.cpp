// The chosen fit's results for a lab report: copied rounded to their
// uncertainties (plain text, Markdown, LaTeX), its residual table, and a
// window with its covariance, correlation, reduced chi-square and p-value.
#include <QAction>
#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "engine/report.h"
#include "frame/frameapi.h"
#include "plotter/controls.h"
#include "plotter/tfit.h"

namespace orvalle {

namespace {

const bfit *chosenFit(const ownedlist<bfit> &fits, int index) {
  if (index < 0)
    return nullptr;
  const item<bfit> *at = fits.at(static_cast<unsigned>(index));
  return at ? at->obj : nullptr;
}

QString joined(const stringlist &lines) {
  QStringList l;
  for (const std::string &s : lines)
    l << QString::fromStdString(s);
  return l.join(QLatin1Char('\n'));
}

} // namespace

QString TFit::ResultsText(reportformat format) const {
  const bfit *fit = chosenFit(Fits, CBoxDetails->currentIndex());
  if (!fit)
    return QString();
  QString text = QString::fromStdString(resultstext(*fit, format));
  if (format == reportformat::text)
    text += QLatin1Char('\n') + joined(fitdetails(*fit)) + QLatin1Char('\n');
  return text;
}

void TFit::CopyResults(reportformat format) {
  const QString text = ResultsText(format);
  if (text.isEmpty()) {
    frame().setStatusText(QStringLiteral("Choose a fit first: there are no results to copy"));
    return;
  }
  QGuiApplication::clipboard()->setText(text);
  frame().setStatusText(QStringLiteral("Results copied to the clipboard"));
}

void TFit::CopyResidualTable() {
  const bfit *fit = chosenFit(Fits, CBoxDetails->currentIndex());
  if (!fit) {
    frame().setStatusText(QStringLiteral("Choose a fit first: there are no residuals to copy"));
    return;
  }
  QGuiApplication::clipboard()->setText(QString::fromStdString(residualtable(*fit)));
  frame().setStatusText(QStringLiteral("Residuals copied to the clipboard"));
}

void TFit::ShowFitDetails() {
  const bfit *fit = chosenFit(Fits, CBoxDetails->currentIndex());
  if (!fit) {
    frame().setStatusText(QStringLiteral("Choose a fit first: there are no details to show"));
    return;
  }
  // One window of details per plotter, showing the fit chosen last.
  auto *box = findChild<QDialog *>(QStringLiteral("FitDetails"));
  if (!box) {
    box = new QDialog(this); // owned by the plotter
    box->setObjectName(QStringLiteral("FitDetails"));
    auto *layout = new QVBoxLayout(box);
    auto *text = new QPlainTextEdit(box);
    text->setObjectName(QStringLiteral("DetailsText"));
    text->setReadOnly(true);
    text->setAccessibleName(QStringLiteral("Fit details"));
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont fixed(QStringLiteral("Monospace"));
    fixed.setStyleHint(QFont::TypeWriter);
    text->setFont(fixed);
    layout->addWidget(text);
    box->resize(520, 360);
  }
  box->setWindowTitle(QStringLiteral("Fit Details - ") + QString::fromStdString(fit->name));
  auto *text = box->findChild<QPlainTextEdit *>(QStringLiteral("DetailsText"));
  text->setPlainText(QString::fromStdString(resultstext(*fit, reportformat::text)) +
                     QLatin1Char('\n') + joined(fitdetails(*fit)));
  box->show();
  box->raise();
}

} // namespace orvalle
