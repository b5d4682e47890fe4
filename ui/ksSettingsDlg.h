// The document settings dialog shown before a save: document information, encryption,
// the opening view, e-mail data, compression and opening the file after the save. It
// keeps nothing between showings but its controls; what it edits lives in the document.
#pragma once
#include <array>
#include <memory>
#include <string>

#include "ksBaseDlg.h"

namespace Ui { class TksPDFSettingsDlg; }
class QWidget;

class TksPDFSettingsDlg : public TksBaseDlg {
  Q_OBJECT
 public:
  explicit TksPDFSettingsDlg(TksDesktop* desktop = nullptr, QWidget* parent = nullptr);
  ~TksPDFSettingsDlg() override;

  // Gives the children of container (recursing into groups first) the enabled or the
  // disabled colour when they take text, then enables or disables them; the container
  // itself keeps its state.
  static void EnableGroupControls(QWidget* container, bool enabled);
  // The text the read-only version field shows for a version.
  static QString VersionText(TksPDFVersion version);

 public slots:
  void FormShow();
  void btnOKClick();
  void chkEnableEncryptionClick();
  void chkEmailAfterSaveClick();
  void chkCompressDocClick();
  void cbCompTypeChange();
  void cbPageTransitionEffectChange();
  void rbAllPagesClick();
  void rbPagesClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormCreate();
  void LoadCaptions();
  void FillLists();
  // The checks OK makes before it writes anything; false after a message was shown.
  bool CheckPasswords();
  bool CheckPresentation(std::string& range, float& duration);
  void ShowError(const QString& text);
  // The level the radio group selects.
  TksPDFEncryptionLevel SelectedLevel() const;

  std::unique_ptr<Ui::TksPDFSettingsDlg> ui_;
  // What FormShow put into the controls, so OK writes only what the user changed.
  std::array<QString, 5> shownInfo_;
  int shownLayout_ = 0;
  int shownMode_ = 0;
  bool shownEncrypted_ = false;
  // Opened with the user password: the encryption settings cannot change.
  bool encryptionLocked_ = false;
};

// Lets document show the built-in settings dialog (a new one a save, with no owner)
// whenever it asks for one; desktop shows its message boxes and must outlive the document.
void UseSettingsDialog(TksCustomPDFDocument& document, TksDesktop* desktop = nullptr);
