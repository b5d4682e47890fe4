// The conversion window: name a source PDF, see the version it declares, choose one of
// nine versions and an output file, and write the document again under that version.
#pragma once
#include <functional>
#include <memory>

#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "ksDesktop.h"
#include "compat/ksPDFDoc.h"

namespace Ui { class TForm1; }
class QMimeData;

inline constexpr const char* kApplicationTitle = "Pagewright PDF Version Converter";
// What the status line shows when the user cancels the password prompt.
inline constexpr const char* kOpenCancelled = "The file was not opened: the password prompt was cancelled.";
inline constexpr const char* kConversionDone = "Conversion Done!";
// What the status line shows when the user cancels the settings dialog of a conversion.
inline constexpr const char* kConversionCancelled = "Not converted: the settings dialog was cancelled.";

class TForm1 : public QWidget {
  Q_OBJECT
 public:
  // desktop shows the dialogs and messages and must outlive the form; none means the
  // toolkit's own.
  explicit TForm1(TksDesktop* desktop = nullptr, QWidget* parent = nullptr);
  ~TForm1() override;

  std::unique_ptr<TksPDFDocument> PDFDoc;
  TksFileDialog OpenDialog1{fdOpen};
  TksFileDialog SaveDialog1{fdSave};

  // Fills the window from the program's arguments: a source PDF (opened at once) and an
  // output file, both optional.
  void UseArguments(const QStringList& arguments);

  // The caption: the application title and the version.
  static QString Caption();
  // The first local .pdf file among dropped data; empty when there is none.
  static QString DroppedPdf(const QMimeData* data);
  // How many warnings there were, and the first: "1 warning: TEXT" or "N warnings, the
  // first: TEXT".
  static QString WarningsSummary(const QStringList& warnings);

 public slots:
  void Button1Click();
  void Button2Click();
  void Button3Click();
  void Button5Click();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  // Loads the file named in Edit1 and selects the radio item of its version. False when it
  // was not opened; a failure has been shown, and a cancelled password prompt too when
  // reportCancel is set.
  bool OpenSource(bool reportCancel);
  // Whether the component holds a whole document read from the file Edit1 names.
  bool SourceLoaded() const;
  void ShowMessage(const QString& text);
  // Runs an engine operation with the window marked busy; a failure's message is shown in
  // an error box (the window stays open) and false returned.
  bool RunEngine(const std::function<void()>& work);
  // What version index does not know of the loaded document, one text each.
  QStringList VersionFindings(int index) const;
  // The status line after an open: how many warnings there were, all of them over it.
  void ShowOpenStatus();
  // A version chosen for a loaded document: the status line names what it does not know.
  void VersionChosen(int index);
  // Lets the window repaint while the engine works; input waits until it is done.
  void KeepPainting();

  std::unique_ptr<Ui::TForm1> ui_;
  std::unique_ptr<TksDesktop> ownDesktop_;
  TksDesktop* desktop_;
  QString loadedPath_;  // Edit1's text at the last successful open
  TksPDFVersion loadedVersion_ = pvPDF14;  // the version the loaded document declares
  bool findingsShown_ = false;             // the status line shows a chosen version's findings
  bool busy_ = false;
  int settingsResult_ = 0;  // the settings dialog's answer in the running conversion
  // The engine's warnings, each text once, in the order given: those of the running
  // load or save, and those of the last open (part of every conversion of its document).
  QStringList warnings_;
  QSet<QString> warningSet_;
  QStringList openWarnings_;
};
