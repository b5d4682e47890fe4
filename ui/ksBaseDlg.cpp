#include "ksBaseDlg.h"

TksBaseDlg::TksBaseDlg(TksDesktop* desktop, QWidget* parent) : QDialog(parent) {
  if (!desktop) {
    ownDesktop_ = std::make_unique<TksQtDesktop>();
    desktop = ownDesktop_.get();
  }
  desktop_ = desktop;
}

TksBaseDlg::~TksBaseDlg() = default;

int TksBaseDlg::ShowModal() {
  return exec() == QDialog::Accepted ? TksCustomPDFDocument::kModalOK : TksCustomPDFDocument::kModalCancel;
}
