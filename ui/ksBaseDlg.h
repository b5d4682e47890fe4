// The base of the dialogs a document shows before a save: a modal dialog that edits the
// document it is given, with its message boxes going through the desktop seam.
#pragma once
#include <memory>

#include <QDialog>

#include "document/ksCstPDFDoc.h"
#include "ksDesktop.h"

class TksBaseDlg : public QDialog, public TksSetupDialog {
  Q_OBJECT
 public:
  // desktop shows the message boxes and must outlive the dialog; none means the toolkit's own.
  explicit TksBaseDlg(TksDesktop* desktop = nullptr, QWidget* parent = nullptr);
  ~TksBaseDlg() override;
  // exec(): OK gives kModalOK; Cancel, Escape and the close box kModalCancel.
  int ShowModal() override;

 protected:
  TksDesktop& Desktop() { return *desktop_; }

 private:
  std::unique_ptr<TksDesktop> ownDesktop_;
  TksDesktop* desktop_;
};
