#include "Form1.h"

#include <algorithm>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QScreen>
#include <QUrl>

#include "ksPlatform.h"
#include "ksRadioGroup.h"
#include "ksSettingsDlg.h"
#include "ui_Form1.h"

#ifndef PW_VERSION
#define PW_VERSION ""
#endif

namespace {

std::string ToFileName(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

TForm1::TForm1(TksDesktop* desktop, QWidget* parent)
    : QWidget(parent), PDFDoc(std::make_unique<TksPDFDocument>()), ui_(std::make_unique<Ui::TForm1>()) {
  if (!desktop) {
    ownDesktop_ = std::make_unique<TksQtDesktop>();
    desktop = ownDesktop_.get();
  }
  desktop_ = desktop;

  ui_->setupUi(this);
  // The layout's 8 points are 11 pixels at 96 ppi; pixels keep the text in proportion to
  // the pixel geometry on any screen. Where the layout's face is missing, an Arial-metric
  // face comes closest to it.
  QFont face = font();
  face.setFamilies({face.family(), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
  face.setPixelSize(11);
  setFont(face);
  // The labels size themselves to their text (from their designed width up), so a wider
  // face never cuts a caption short.
  for (QLabel* label : {ui_->Label1, ui_->Label2})
    label->resize(std::max(label->width(), label->sizeHint().width()), label->height());
  setWindowTitle(Caption());
  // A dialog-style frame: a close button, no resizing, no maximising.
  setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(size());
  setAcceptDrops(true);
  if (QScreen* screen = this->screen())
    move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));

  OpenDialog1.Title = QStringLiteral("Open PDF");
  OpenDialog1.DefaultExt = QStringLiteral("pdf");
  OpenDialog1.Filter = QStringLiteral("Portable Document Format (*.pdf)|*.pdf");
  SaveDialog1.Title = QStringLiteral("Save PDF");
  SaveDialog1.DefaultExt = QStringLiteral("pdf");
  SaveDialog1.Filter = OpenDialog1.Filter;
  SaveDialog1.OverwritePrompt = true;

  PDFDoc->OpenAfterSave = false;
  PDFDoc->MergeOptions = {moIncludeOutlines, moIncludeFormFields};
  PDFDoc->PDFVersion = pvPDF14;
  PDFDoc->PageMode = pmNone;
  PDFDoc->PageLayout = plNone;
  PDFDoc->ShowSetupDialog = false;
  // The settings dialog, when the user asks for it, comes up at the start of each save;
  // its answer tells a cancelled conversion from a done one.
  UseSettingsDialog(*PDFDoc, desktop_);
  PDFDoc->SetupDialogHook = [this, show = PDFDoc->SetupDialogHook](TksCustomPDFDocument& doc) {
    settingsResult_ = show(doc);
    return settingsResult_;
  };
  PDFDoc->Encryption().SetLevel(el40bit);
  PDFDoc->CustomRenderText = false;

  PDFDoc->OnStatusMessage = [this](TksCustomPDFDocument*, const std::string& message) {
    ui_->lblStatus->setText(QString::fromUtf8(message));
    KeepPainting();
  };
  PDFDoc->OnIOProgress = [this](TksCustomPDFDocument*, int percentage) {
    percentage = std::clamp(percentage, 0, 100);
    if (percentage == ui_->ProgressBar1->value()) return;
    ui_->ProgressBar1->setValue(percentage);
    KeepPainting();
  };
  PDFDoc->OnWarning = [this](TksCustomPDFDocument*, const std::string& warning) {
    // Each text once: a damaged file can repeat the same finding many times.
    const QString text = QString::fromUtf8(warning);
    if (warningSet_.contains(text)) return;
    warningSet_.insert(text);
    warnings_ << text;
  };
  PDFDoc->OnPassword = [this](TksCustomPDFDocument* sender, std::u16string& password, bool& cont, int tries) {
    // Many files carry an empty user password: that one is tried before anyone is asked.
    if (tries == 0) {
      password.clear();
      return;
    }
    QString typed;
    if (!desktop_->AskPassword(QFile::decodeName(QByteArray::fromStdString(sender->WorkFileName)), tries - 1, typed,
                               this)) {
      cont = false;
      return;
    }
    password = typed.toStdU16String();
  };

  connect(ui_->Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
  connect(ui_->Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
  connect(ui_->Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
  connect(ui_->Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
  connect(ui_->RadioGroup1, &TksRadioGroup::ItemIndexChanged, this, &TForm1::VersionChosen);
}

TForm1::~TForm1() = default;

QString TForm1::Caption() {
  return QStringLiteral("%1 %2").arg(QString::fromUtf8(kApplicationTitle), QStringLiteral(PW_VERSION)).trimmed();
}

void TForm1::UseArguments(const QStringList& arguments) {
  if (arguments.size() > 1) ui_->Edit2->setText(arguments[1]);
  if (arguments.isEmpty() || arguments[0].isEmpty()) return;
  ui_->Edit1->setText(arguments[0]);
  OpenSource(false);
}

void TForm1::Button1Click() {
  if (busy_ || !OpenDialog1.Execute(*desktop_, this)) return;
  ui_->Edit1->setText(OpenDialog1.FileName);
  OpenSource(false);
}

void TForm1::Button2Click() {
  if (busy_ || !SaveDialog1.Execute(*desktop_, this)) return;
  ui_->Edit2->setText(SaveDialog1.FileName);
}

void TForm1::Button3Click() {
  if (busy_) return;
  if (ui_->Edit1->text().isEmpty()) {
    ShowMessage(QStringLiteral("No source file specified!"));
    return;
  }
  if (ui_->Edit2->text().isEmpty()) {
    ShowMessage(QStringLiteral("No output file specified!"));
    return;
  }
  // Never write a document that was not read from the named source: open it first. A
  // version the user chose stays chosen; without one the source's version is kept.
  if (!SourceLoaded()) {
    const int chosen = ui_->RadioGroup1->ItemIndex();
    if (!OpenSource(true)) return;
    if (chosen >= 0) ui_->RadioGroup1->setItemIndex(chosen);
  }
  const int index = ui_->RadioGroup1->ItemIndex();
  if (index >= 0) PDFDoc->PDFVersion = static_cast<TksPDFVersion>(index);
  // The warnings of the conversion: those of reading the document and of this save.
  warnings_ = openWarnings_;
  warningSet_ = QSet<QString>(warnings_.begin(), warnings_.end());
  // What the chosen version does not know is told beside the fix-ups; nothing changes.
  for (const QString& finding : VersionFindings(PDFDoc->PDFVersion))
    if (!warningSet_.contains(finding)) {
      warningSet_.insert(finding);
      warnings_ << finding;
    }
  PDFDoc->ShowSetupDialog = ui_->chkShowSettings->isChecked();
  settingsResult_ = TksCustomPDFDocument::kModalNone;
  if (!RunEngine([&] { PDFDoc->SaveToFile(ToFileName(ui_->Edit2->text()), 2); })) return;
  if (settingsResult_ == TksCustomPDFDocument::kModalCancel) {
    ui_->lblStatus->setText(QString::fromUtf8(kConversionCancelled));
    return;
  }
  if (warnings_.isEmpty()) {
    ShowMessage(QString::fromUtf8(kConversionDone));
    return;
  }
  // Done all the same, but the output may lack what the warnings name: the user can read them.
  desktop_->ShowDetailedMessage(QString::fromUtf8(kApplicationTitle),
                                QStringLiteral("%1\n\n%2").arg(QString::fromUtf8(kConversionDone), WarningsSummary(warnings_)),
                                warnings_.join(QLatin1Char('\n')), this);
}

void TForm1::Button5Click() { close(); }

bool TForm1::OpenSource(bool reportCancel) {
  const QString path = ui_->Edit1->text();
  loadedPath_.clear();
  ui_->ProgressBar1->setValue(0);
  ui_->lblStatus->setToolTip(QString());
  warnings_.clear();
  warningSet_.clear();
  openWarnings_.clear();
  if (!RunEngine([&] { PDFDoc->LoadFromFile(ToFileName(path)); })) return false;
  if (!PDFDoc->IsLoaded || !PDFDoc->StructureRead) {
    // Only a cancelled password prompt ends a load without an exception.
    ui_->lblStatus->setText(QString::fromUtf8(kOpenCancelled));
    if (reportCancel) ShowMessage(QString::fromUtf8(kOpenCancelled));
    return false;
  }
  loadedPath_ = path;
  loadedVersion_ = PDFDoc->PDFVersion;
  findingsShown_ = false;
  openWarnings_ = warnings_;
  ui_->RadioGroup1->setItemIndex(PDFDoc->PDFVersion);
  ShowOpenStatus();
  return true;
}

void TForm1::ShowOpenStatus() {
  if (openWarnings_.isEmpty()) return;
  // The status line says so; all of them show over it, and again after a conversion.
  const QString status = QStringLiteral("Opened with %1").arg(WarningsSummary(openWarnings_));
  ui_->lblStatus->setText(ui_->lblStatus->fontMetrics().elidedText(status, Qt::ElideRight, ui_->lblStatus->width()));
  ui_->lblStatus->setToolTip(openWarnings_.join(QLatin1Char('\n')));
}

QStringList TForm1::VersionFindings(int index) const {
  QStringList texts;
  if (index < 0 || index > pvPDF20) return texts;
  const auto target = static_cast<TksPDFVersion>(index);
  for (const TksVersionFinding& finding : PDFDoc->VersionFindings(target))
    texts << QString::fromUtf8(TksVersionReport::Text(target, finding));
  return texts;
}

void TForm1::VersionChosen(int index) {
  if (busy_ || !SourceLoaded()) return;
  const QStringList findings = index == loadedVersion_ ? QStringList() : VersionFindings(index);
  if (findings.isEmpty()) {
    // The line goes back to what the open left there, if findings took its place.
    if (!findingsShown_) return;
    findingsShown_ = false;
    ui_->lblStatus->setText(QString());
    ui_->lblStatus->setToolTip(QString());
    ShowOpenStatus();
    return;
  }
  findingsShown_ = true;
  // Before converting: what the chosen version would not know, all of it over the line.
  const QString status = QStringLiteral("PDF %1: %2").arg(QString::fromUtf8(PDFVersionText(static_cast<TksPDFVersion>(index))),
                                                          WarningsSummary(findings));
  ui_->lblStatus->setText(ui_->lblStatus->fontMetrics().elidedText(status, Qt::ElideRight, ui_->lblStatus->width()));
  ui_->lblStatus->setToolTip(findings.join(QLatin1Char('\n')));
}

QString TForm1::WarningsSummary(const QStringList& warnings) {
  if (warnings.isEmpty()) return {};
  if (warnings.size() == 1) return QStringLiteral("1 warning: %1").arg(warnings.front());
  return QStringLiteral("%1 warnings, the first: %2").arg(warnings.size()).arg(warnings.front());
}

bool TForm1::SourceLoaded() const {
  return PDFDoc->StructureRead && !loadedPath_.isEmpty() && loadedPath_ == ui_->Edit1->text();
}

void TForm1::ShowMessage(const QString& text) {
  desktop_->ShowMessage(QString::fromUtf8(kApplicationTitle), text, this);
}

bool TForm1::RunEngine(const std::function<void()>& work) {
  QString failure;
  bool failed = true;
  busy_ = true;
  try {
    work();
    failed = false;
  } catch (const std::exception& e) {
    failure = QString::fromUtf8(ksErrorText(e));
  } catch (...) {
    failure = QStringLiteral("The operation ended with an unknown error.");
  }
  busy_ = false;
  if (!failed) return true;
  desktop_->ShowError(QString::fromUtf8(kApplicationTitle), failure, this);
  return false;
}

void TForm1::KeepPainting() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

QString TForm1::DroppedPdf(const QMimeData* data) {
  if (!data || !data->hasUrls()) return {};
  for (const QUrl& url : data->urls()) {
    if (!url.isLocalFile()) continue;
    const QString path = url.toLocalFile();
    if (QFileInfo(path).suffix().compare(QStringLiteral("pdf"), Qt::CaseInsensitive) == 0) return path;
  }
  return {};
}

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
  if (!busy_ && !DroppedPdf(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event) {
  if (!busy_ && !DroppedPdf(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
  const QString path = DroppedPdf(event->mimeData());
  if (busy_ || path.isEmpty()) return;
  event->acceptProposedAction();
  ui_->Edit1->setText(path);
  OpenSource(false);
}

void TForm1::closeEvent(QCloseEvent* event) {
  // The engine is still reading or writing on this thread; closing now would pull the
  // document from under it.
  if (busy_) {
    event->ignore();
    return;
  }
  QWidget::closeEvent(event);
}
