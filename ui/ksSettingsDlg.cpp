#include "ksSettingsDlg.h"

#include <cfloat>
#include <cmath>

#include <QAbstractScrollArea>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QRegularExpressionValidator>
#include <QShowEvent>

#include "base/ksConsts.h"
#include "base/ksExceptions.h"
#include "content/ksNumberText.h"
#include "document/ksAddressList.h"
#include "document/ksViewerPreferenceList.h"
#include "ksPlatform.h"
#include "ksRadioGroup.h"
#include "ksSettingsStrs.h"
#include "ui_ksSettingsDlg.h"

namespace {

QString Text(const char* text) { return QString::fromUtf8(text); }

// The colours of edits and lists when their group is enabled and disabled: the window's
// own base colour, and the grey of an inactive border.
QColor EnabledColour() { return QApplication::palette().color(QPalette::Active, QPalette::Base); }
const QColor kDisabledColour(0xD4, 0xD0, 0xC8);

void SetBaseColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
    palette.setColor(group, QPalette::Base, colour);
  widget->setPalette(palette);
}

bool TakesText(const QWidget* widget) {
  return qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QComboBox*>(widget) ||
         qobject_cast<const QPlainTextEdit*>(widget);
}

// The bytes of a password for the 40- and 128-bit handlers (Windows-1252); none when a
// character has no byte there: it would silently become "?", a password nobody typed.
std::optional<std::string> AnsiPassword(const QString& text) {
  const std::u16string wide = text.toStdU16String();
  std::string ansi = ksplatform::WideToAnsi(wide);
  if (ksplatform::AnsiToWide(ansi) != wide) return std::nullopt;
  return ansi;
}

QString FromAnsi(const std::string& bytes) { return QString::fromStdU16String(ksplatform::AnsiToWide(bytes)); }

// Passwords as the level keys on them: UTF-8 for AES-256, which takes any character,
// Windows-1252 bytes for the others.
std::optional<std::string> PasswordBytes(const QString& text, TksPDFEncryptionLevel level) {
  if (level == elAES256) return text.toStdString();
  return AnsiPassword(text);
}
QString PasswordText(const std::string& bytes, TksPDFEncryptionLevel level) {
  return level == elAES256 ? QString::fromStdString(bytes) : FromAnsi(bytes);
}

// The permission each row of the list stands for, in the list's order.
constexpr TksUserPermissionsType kPermissionRows[] = {AllowPrint,    AllowModify,        AllowCopy,
                                                      AllowAnnotation, AllowFormFill,    AllowAccessibility,
                                                      AllowDocAssembly, AllowHighResPrint};

template <size_t N>
void FillCombo(QComboBox* combo, const char* const (&items)[N]) {
  combo->clear();
  for (size_t i = 0; i < N; ++i) combo->addItem(Text(items[i]), static_cast<int>(i));
}

template <size_t N>
void FillCheckList(QListWidget* list, const char* const (&items)[N]) {
  list->clear();
  for (size_t i = 0; i < N; ++i) {
    auto* item = new QListWidgetItem(Text(items[i]), list);
    item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    item->setCheckState(Qt::Unchecked);
    item->setData(Qt::UserRole, static_cast<int>(i));
  }
}

bool Checked(const QListWidget* list, int row) { return list->item(row)->checkState() == Qt::Checked; }
void SetChecked(QListWidget* list, int row, bool checked) {
  list->item(row)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

}  // namespace

TksPDFSettingsDlg::TksPDFSettingsDlg(TksDesktop* desktop, QWidget* parent)
    : TksBaseDlg(desktop, parent), ui_(std::make_unique<Ui::TksPDFSettingsDlg>()) {
  FormCreate();
}

TksPDFSettingsDlg::~TksPDFSettingsDlg() = default;

void TksPDFSettingsDlg::FormCreate() {
  ui_->setupUi(this);
  // Verdana 8 points is 11 pixels at 96 ppi; where it is missing fontconfig picks the
  // closest face, with the Arial-metric one next in line.
  QFont face = font();
  face.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
  face.setPixelSize(11);
  setFont(face);
  setFixedSize(364, 449);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  // Masked with "*", as the passwords were always shown.
  setStyleSheet(QStringLiteral("QLineEdit[echoMode=\"2\"] { lineedit-password-character: 42; }"));
  ui_->btnOK->setDefault(true);

  LoadCaptions();
  FillLists();
  // Five tabs in a fixed 364 x 449: close spacing, and check lists tall enough for every
  // row, so nothing has to scroll.
  for (QLayout* layout : findChildren<QLayout*>()) {
    layout->setSpacing(4);
    if (layout != this->layout()) layout->setContentsMargins(6, 4, 6, 4);
  }
  for (QListWidget* list : {ui_->chklstUserPermissions, ui_->chklstViewerPreferences}) {
    list->setUniformItemSizes(true);
    list->setFixedHeight(list->count() * list->sizeHintForRow(0) + 2 * list->frameWidth() + 2);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  }
  // Read-only texts look it: the grey of an inactive caption.
  for (QLineEdit* edit : {ui_->edtCreator, ui_->edtProducer, ui_->edtVersion, ui_->edtNoPages}) {
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Text, palette.color(QPalette::Disabled, QPalette::Text));
    edit->setPalette(palette);
  }
  ui_->rgEncryptionLevel->setItemIndex(0);
  ui_->cbPageLayout->setCurrentIndex(0);
  ui_->cbPageMode->setCurrentIndex(0);
  ui_->cbPageTransitionEffect->setCurrentIndex(0);
  // Validators see typed and pasted text alike.
  ui_->edtDur->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
  ui_->edtPresentationPages->setValidator(
      new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9,\\-]*")), this));

  EnableGroupControls(ui_->gbEncryption, false);
  for (QWidget* group : {ui_->gbConnection, ui_->gbAddresses, ui_->gbMessage, ui_->gbCompType})
    EnableGroupControls(group, false);

  connect(ui_->btnOK, &QPushButton::clicked, this, &TksPDFSettingsDlg::btnOKClick);
  connect(ui_->btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  // Only the user's clicks: the dialog's own changes while it opens ask nothing.
  connect(ui_->chkEnableEncryption, &QCheckBox::clicked, this, &TksPDFSettingsDlg::chkEnableEncryptionClick);
  connect(ui_->chkEmailAfterSave, &QCheckBox::toggled, this, &TksPDFSettingsDlg::chkEmailAfterSaveClick);
  connect(ui_->chkCompressDoc, &QCheckBox::toggled, this, &TksPDFSettingsDlg::chkCompressDocClick);
  connect(ui_->cbCompType, &QComboBox::currentIndexChanged, this, &TksPDFSettingsDlg::cbCompTypeChange);
  connect(ui_->cbPageTransitionEffect, &QComboBox::currentIndexChanged, this,
          &TksPDFSettingsDlg::cbPageTransitionEffectChange);
  connect(ui_->cbPageLayout, &QComboBox::currentIndexChanged, this, &TksPDFSettingsDlg::cbPageTransitionEffectChange);
  // Any edit of the range (typed, pasted, erased) means the range is wanted.
  connect(ui_->edtPresentationPages, &QLineEdit::textEdited, this, [this] { ui_->rbPages->setChecked(true); });
  connect(ui_->rbAllPages, &QRadioButton::toggled, this, &TksPDFSettingsDlg::rbAllPagesClick);
  connect(ui_->rbPages, &QRadioButton::toggled, this, &TksPDFSettingsDlg::rbPagesClick);
}

void TksPDFSettingsDlg::LoadCaptions() {
  using namespace ksuistr;
  setWindowTitle(Text(SSettingsCaption));
  ui_->btnOK->setText(Text(SOK));
  ui_->btnCancel->setText(Text(SCancel));
  const std::pair<QWidget*, const char*> tabs[] = {{ui_->tsDocInfo, SGeneral},
                                                   {ui_->tsSecurity, SSecurity},
                                                   {ui_->tsView, SView},
                                                   {ui_->tsEmailDoc, SEmail},
                                                   {ui_->tsCompress, SCompress}};
  for (const auto& [page, caption] : tabs) ui_->pcSettings->setTabText(ui_->pcSettings->indexOf(page), Text(caption));

  const std::pair<QLabel*, const char*> labels[] = {
      {ui_->lblTitle, STitle},
      {ui_->lblDocSubject, SSubject},
      {ui_->lblAuthor, SAuthor},
      {ui_->lblKeywords, SKeywords},
      {ui_->lblCreator, SCreator},
      {ui_->lblProducer, SProducer},
      {ui_->lblVersion, SPDFVersion},
      {ui_->lblNoPages, SNoOfPages},
      {ui_->lblOwnerPassword, SOwnerPassword},
      {ui_->lblConfirmOwnerPassword, SConfirmOwnerPassword},
      {ui_->lblUserPassword, SUserPassword},
      {ui_->lblConfirmUserPassword, SConfirmUserPassword},
      {ui_->lblPageLayout, SPageLayout},
      {ui_->lblPageMode, SPageMode},
      {ui_->lblPageTransitionEffect, SPageTransitionEffect},
      {ui_->lblDur, SPageTransitionDuration},
      {ui_->lblSecs, SSecs},
      {ui_->lblPageRangeHint, SPageRangeHint},
      {ui_->lblHost, SHost},
      {ui_->lblUserID, SUserID},
      {ui_->lblPassword, SPassword},
      {ui_->lblFrom, SFrom},
      {ui_->lblTo, STo},
      {ui_->lblCC, SCC},
      {ui_->lblBCC, SBCC},
      {ui_->lblSubject, SSubject},
      {ui_->lblMessage, SMessage},
      {ui_->lblCompType, SCompressionType},
      {ui_->lblCompLevel, SCompressionLevel},
  };
  for (const auto& [label, caption] : labels) label->setText(Text(caption));

  const std::pair<QGroupBox*, const char*> groups[] = {
      {ui_->gbDocInfo, SDocumentInformation},     {ui_->rgEncryptionLevel, SEncryptionLevel},
      {ui_->gbUserPermissions, SUserPermissions}, {ui_->gbPresentationMode, SPresentationMode},
      {ui_->gbPresentationPageRange, SPresentationPageRange}, {ui_->gbViewerPreferences, SViewerPreferences},
  };
  for (const auto& [group, caption] : groups) group->setTitle(Text(caption));

  const std::pair<QAbstractButton*, const char*> buttons[] = {
      {ui_->chkOpenAfterSave, SOpenAfterSave},   {ui_->chkEnableEncryption, SEncryptDocument},
      {ui_->rbAllPages, SAllPages},              {ui_->rbPages, SPages},
      {ui_->chkEmailAfterSave, SEmailAfterSave}, {ui_->chkCompressDoc, SCompressDocument},
  };
  for (const auto& [button, caption] : buttons) button->setText(Text(caption));
}

void TksPDFSettingsDlg::FillLists() {
  using namespace ksuistr;
  FillCombo(ui_->cbPageLayout, SPageLayoutItems);
  FillCombo(ui_->cbPageMode, SPageModeItems);
  FillCombo(ui_->cbPageTransitionEffect, STransitionItems);
  FillCombo(ui_->cbCompType, SCompressionTypeItems);
  FillCombo(ui_->cbCompLevel, SCompressionLevelItems);
  FillCheckList(ui_->chklstViewerPreferences, SViewerPreferenceItems);
  FillCheckList(ui_->chklstUserPermissions, SPermissionItems);
  QStringList levels;
  for (const char* level : SEncryptionLevels) levels << Text(level);
  ui_->rgEncryptionLevel->setItems(levels);
}

QString TksPDFSettingsDlg::VersionText(TksPDFVersion version) {
  const auto at = static_cast<size_t>(version);
  return at < std::size(ksuistr::SVersionTexts) ? Text(ksuistr::SVersionTexts[at]) : QString();
}

void TksPDFSettingsDlg::EnableGroupControls(QWidget* container, bool enabled) {
  for (QObject* object : container->children()) {
    auto* child = qobject_cast<QWidget*>(object);
    if (!child) continue;
    // Containers only: the inner parts of lists and combo boxes follow their owner.
    const bool container = qobject_cast<QGroupBox*>(child) || child->metaObject() == &QWidget::staticMetaObject;
    if (container && !child->findChildren<QWidget*>(Qt::FindDirectChildrenOnly).isEmpty())
      EnableGroupControls(child, enabled);
    if (TakesText(child)) SetBaseColour(child, enabled ? EnabledColour() : kDisabledColour);
    child->setEnabled(enabled);
  }
}

void TksPDFSettingsDlg::showEvent(QShowEvent* event) {
  TksBaseDlg::showEvent(event);
  // Each showing loads the document again; the window system's own show events do not.
  if (!event->spontaneous() && Document) FormShow();
}

void TksPDFSettingsDlg::FormShow() {
  TksCustomPDFDocument& doc = *Document;
  ui_->pcSettings->setCurrentIndex(0);

  TksPDFInfo& info = doc.Info();
  QLineEdit* const infoEdits[] = {ui_->edtTitle, ui_->edtDocSubject, ui_->edtAuthor, ui_->edtKeywords,
                                  ui_->edtCreator};
  const std::u16string infoTexts[] = {info.Title(), info.Subject(), info.Author(), info.Keywords(), info.Creator()};
  for (size_t i = 0; i < shownInfo_.size(); ++i) {
    // The full text, in any script: it is written back only when the user changes it.
    shownInfo_[i] = QString::fromStdU16String(infoTexts[i]);
    infoEdits[i]->setText(shownInfo_[i]);
  }
  ui_->edtProducer->setText(Text(ksconst::ProducerText));

  ui_->chkCompressDoc->setChecked(true);
  chkCompressDocClick();
  ui_->cbCompType->setCurrentIndex(0);
  cbCompTypeChange();
  ui_->cbCompLevel->setCurrentIndex(1);

  ui_->chkEmailAfterSave->setChecked(false);
  chkEmailAfterSaveClick();
  ui_->chkEnableEncryption->setChecked(false);

  TksPDFEncryptionSettings& encryption = doc.Encryption();
  encryptionLocked_ = doc.IsEncrypted && !encryption.AllowChange();
  shownEncrypted_ = false;
  if (encryption.Enabled() || doc.IsEncrypted) {
    // Opened with the user password the owner password is unknown, yet the file stays
    // encrypted: the box says so.
    shownEncrypted_ = !encryption.OwnerPassword().empty() || encryptionLocked_;
    ui_->edtOwnerPassword->setText(PasswordText(encryption.OwnerPassword(), encryption.Level()));
    ui_->edtConfirmOwnerPassword->setText(ui_->edtOwnerPassword->text());
    ui_->edtUserPassword->setText(PasswordText(encryption.UserPassword(), encryption.Level()));
    ui_->edtConfirmUserPassword->setText(ui_->edtUserPassword->text());
  }
  // Level and permissions show the settings' values even before encryption is asked for:
  // unticked rows would otherwise take every permission from a newly encrypted file.
  ui_->rgEncryptionLevel->setItemIndex(encryption.Level());
  const TksUserPermissions permissions = encryption.UserPermissions();
  for (int row = 0; row < static_cast<int>(std::size(kPermissionRows)); ++row)
    SetChecked(ui_->chklstUserPermissions, row, permissions.Contains(kPermissionRows[row]));
  ui_->chkEnableEncryption->setChecked(shownEncrypted_);
  EnableGroupControls(ui_->gbEncryption, shownEncrypted_ && !encryptionLocked_);

  ui_->edtVersion->setText(VersionText(doc.PDFVersion));
  ui_->edtNoPages->setText(QString::number(doc.PageCount()));
  ui_->edtDur->setText(QStringLiteral("1"));

  ui_->cbPageLayout->setCurrentIndex(doc.PageLayout);
  ui_->cbPageMode->setCurrentIndex(doc.PageMode);
  shownLayout_ = ui_->cbPageLayout->currentIndex();
  shownMode_ = ui_->cbPageMode->currentIndex();

  TksPDFViewerPreferences& preferences = doc.ViewerPreferences();
  for (int row = 0; row < ui_->chklstViewerPreferences->count(); ++row)
    SetChecked(ui_->chklstViewerPreferences, row, ViewerPreference(preferences, row));
}

TksPDFEncryptionLevel TksPDFSettingsDlg::SelectedLevel() const {
  const int index = ui_->rgEncryptionLevel->ItemIndex();
  return index >= elAES128 && index <= elAES256 ? static_cast<TksPDFEncryptionLevel>(index)
                                                 : index == el128bit ? el128bit : el40bit;
}

void TksPDFSettingsDlg::ShowError(const QString& text) { Desktop().ShowError(windowTitle(), text, this); }

bool TksPDFSettingsDlg::CheckPasswords() {
  if (!ui_->chkEnableEncryption->isChecked() || encryptionLocked_) return true;
  const struct {
    QLineEdit* edit;
    QLineEdit* confirm;
    const char* who;
  } pairs[] = {{ui_->edtOwnerPassword, ui_->edtConfirmOwnerPassword, ksuistr::SOwner},
               {ui_->edtUserPassword, ui_->edtConfirmUserPassword, ksuistr::SUser}};
  for (const auto& pair : pairs) {
    QString message;
    if (pair.edit->text() != pair.confirm->text()) {
      message = QString::fromStdString(ksFormat(ksuistr::SPasswordsDoNotMatch, pair.who));
    } else if (!PasswordBytes(pair.edit->text(), SelectedLevel())) {
      const QString level = ui_->rgEncryptionLevel->Items().value(ui_->rgEncryptionLevel->ItemIndex());
      message = QString::fromStdString(
          ksFormat(ksuistr::SPasswordNotAnsi, pair.who, level.toStdString().c_str()));
    }
    if (message.isEmpty()) continue;
    ShowError(message);
    ui_->pcSettings->setCurrentWidget(ui_->tsSecurity);
    pair.edit->setFocus();
    return false;
  }
  return true;
}

bool TksPDFSettingsDlg::CheckPresentation(std::string& range, float& duration) {
  if (ui_->edtDur->text().isEmpty()) ui_->edtDur->setText(QStringLiteral("1"));
  if (ui_->cbPageTransitionEffect->currentIndex() <= 0) return true;
  TksCustomPDFDocument& doc = *Document;
  range = ui_->rbAllPages->isChecked() ? "1-" + std::to_string(doc.PageCount())
                                       : ui_->edtPresentationPages->text().toStdString();
  QWidget* focus = ui_->edtPresentationPages;
  try {
    TksCustomPDFDocument::ParsePageRange(range, doc.PageCount());
    focus = ui_->edtDur;
    const double seconds = StrToFloatDot(ui_->edtDur->text().toStdString());
    if (!(seconds >= 0 && seconds <= FLT_MAX))
      throw EInvalidValueError(ksFormat(ksuistr::SInvalidDuration, ui_->edtDur->text().toStdString().c_str()));
    duration = static_cast<float>(seconds);
    return true;
  } catch (const std::exception& e) {
    // Checked before anything is written, so a wrong range changes nothing at all.
    ShowError(QString::fromUtf8(ksErrorText(e)));
    ui_->pcSettings->setCurrentWidget(ui_->tsView);
    focus->setFocus();
    return false;
  }
}

void TksPDFSettingsDlg::btnOKClick() {
  if (!Document) return;
  TksCustomPDFDocument& doc = *Document;
  std::string range;
  float duration = 1;
  if (!CheckPasswords() || !CheckPresentation(range, duration)) return;

  try {
    TksPDFEncryptionSettings& encryption = doc.Encryption();
    if (!encryptionLocked_) {
      if (ui_->chkEnableEncryption->isChecked()) {
        encryption.SetEnabled(true);
        const TksPDFEncryptionLevel level = SelectedLevel();
        encryption.SetLevel(level);
        if (!ui_->edtOwnerPassword->text().isEmpty())
          encryption.SetOwnerPassword(*PasswordBytes(ui_->edtOwnerPassword->text(), level));
        encryption.SetUserPassword(*PasswordBytes(ui_->edtUserPassword->text(), level));
        TksUserPermissions permissions = TksUserPermissions::All();
        for (int row = 0; row < static_cast<int>(std::size(kPermissionRows)); ++row)
          if (!Checked(ui_->chklstUserPermissions, row)) permissions.Exclude(kPermissionRows[row]);
        encryption.SetUserPermissions(permissions.Chosen());
      } else if (shownEncrypted_) {
        // The owner cleared the box that showed the document encrypted: the output is not.
        encryption.SetEnabled(false);
      }
    }

    TksPDFInfo& info = doc.Info();
    QLineEdit* const infoEdits[] = {ui_->edtTitle, ui_->edtDocSubject, ui_->edtAuthor, ui_->edtKeywords,
                                    ui_->edtCreator};
    void (TksPDFInfo::*const setters[])(const std::u16string&) = {&TksPDFInfo::SetTitle, &TksPDFInfo::SetSubject,
                                                                  &TksPDFInfo::SetAuthor, &TksPDFInfo::SetKeywords,
                                                                  &TksPDFInfo::SetCreator};
    for (size_t i = 0; i < shownInfo_.size(); ++i)
      if (infoEdits[i]->text() != shownInfo_[i]) (info.*setters[i])(infoEdits[i]->text().toStdU16String());

    doc.OpenAfterSave = ui_->chkOpenAfterSave->isChecked();

    const int effect = ui_->cbPageTransitionEffect->currentIndex();
    if (effect > 0) doc.SetPageTransition(range, static_cast<uint8_t>(effect), duration);

    // A layout or mode the lists do not hold, kept from the source, stays unless another is picked.
    if (ui_->cbPageLayout->currentIndex() >= 0 && ui_->cbPageLayout->currentIndex() != shownLayout_) {
      doc.PageLayout = static_cast<TksPageLayout>(ui_->cbPageLayout->currentIndex());
      doc.OtherPageLayout.clear();
    }
    if (ui_->cbPageMode->currentIndex() >= 0 && ui_->cbPageMode->currentIndex() != shownMode_) {
      doc.PageMode = static_cast<TksPageMode>(ui_->cbPageMode->currentIndex());
      doc.OtherPageMode.clear();
    }

    TksPDFViewerPreferences& preferences = doc.ViewerPreferences();
    for (int row = 0; row < ui_->chklstViewerPreferences->count(); ++row) {
      const bool checked = Checked(ui_->chklstViewerPreferences, row);
      // An unchecked row clears its preference; one that was not set stays absent.
      if (checked || ViewerPreference(preferences, row)) SetViewerPreference(preferences, row, checked);
    }

    if (ui_->chkEmailAfterSave->isChecked()) {
      doc.EMailAfterSave = true;
      TksEMailInfo& mail = doc.EMailInfo();
      mail.Host = ui_->edtHost->text().toStdString();
      mail.UserID = ui_->edtUserID->text().toStdString();
      mail.Password = ui_->edtPassword->text().toStdString();
      mail.Body.push_back(ui_->memoBody->toPlainText().toStdString());
      mail.FromAddress = ui_->edtFrom->text().toStdString();
      mail.Subject = ui_->edtSubject->text().toStdString();
      mail.RecipientList = SplitAddressList(ui_->edtTo->text().toStdString());
      mail.CCList = SplitAddressList(ui_->edtCC->text().toStdString());
      mail.BCCList = SplitAddressList(ui_->edtBCC->text().toStdString());
    } else {
      doc.EMailAfterSave = false;
    }

    if (ui_->chkCompressDoc->isChecked()) {
      // The level's position is the Flate codec's code: none, fastest, default, maximum.
      doc.SetCompression(static_cast<uint8_t>(std::max(0, ui_->cbCompType->currentIndex())),
                         static_cast<uint8_t>(std::max(0, ui_->cbCompLevel->currentIndex())));
    }
  } catch (const std::exception& e) {
    ShowError(QString::fromUtf8(ksErrorText(e)));
    return;
  }
  accept();
}

void TksPDFSettingsDlg::chkEnableEncryptionClick() {
  if (Document && !Document->IsOwner()) {
    Desktop().ShowMessage(windowTitle(), Text(ksuistr::SOwnerOnly), this);
    ui_->chkEnableEncryption->setChecked(true);
    return;
  }
  EnableGroupControls(ui_->gbEncryption, ui_->chkEnableEncryption->isChecked());
}

void TksPDFSettingsDlg::chkEmailAfterSaveClick() {
  const bool enabled = ui_->chkEmailAfterSave->isChecked();
  for (QWidget* group : {ui_->gbConnection, ui_->gbAddresses, ui_->gbMessage}) EnableGroupControls(group, enabled);
}

void TksPDFSettingsDlg::chkCompressDocClick() {
  EnableGroupControls(ui_->gbCompType, ui_->chkCompressDoc->isChecked());
  // A level list that Runlength disabled stays disabled.
  if (ui_->chkCompressDoc->isChecked() && ui_->cbCompType->currentIndex() == 1) ui_->cbCompLevel->setEnabled(false);
}

void TksPDFSettingsDlg::cbCompTypeChange() {
  const bool runLength = ui_->cbCompType->currentIndex() == 1;
  ui_->cbCompLevel->setEnabled(!runLength && ui_->chkCompressDoc->isChecked());
  SetBaseColour(ui_->cbCompLevel, ui_->cbCompLevel->isEnabled() ? EnabledColour() : kDisabledColour);
  ui_->cbCompLevel->setCurrentIndex(runLength ? 0 : 3);
}

void TksPDFSettingsDlg::cbPageTransitionEffectChange() {
  // A transition shows one page at a time.
  if (ui_->cbPageTransitionEffect->currentIndex() > 0 && ui_->cbPageLayout->currentIndex() != plSinglePage)
    ui_->cbPageLayout->setCurrentIndex(plSinglePage);
}

void TksPDFSettingsDlg::rbAllPagesClick() {
  if (ui_->rbAllPages->isChecked()) ui_->edtPresentationPages->clear();
}

void TksPDFSettingsDlg::rbPagesClick() {
  if (!ui_->rbPages->isChecked()) return;
  ui_->edtPresentationPages->setEnabled(true);
  SetBaseColour(ui_->edtPresentationPages, Qt::white);
}

void UseSettingsDialog(TksCustomPDFDocument& document, TksDesktop* desktop) {
  document.SetupDialogHook = [desktop](TksCustomPDFDocument& doc) {
    TksPDFSettingsDlg dialog(desktop);
    dialog.Document = &doc;
    const int result = dialog.ShowModal();
    dialog.Document = nullptr;
    return result;
  };
}
