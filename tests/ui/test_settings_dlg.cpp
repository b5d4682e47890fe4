// The document settings dialog driven as a user would, on the offscreen platform, with the
// message boxes answered by a scripted desktop.
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "Form1.h"
#include "compat/ksPDFDoc.h"
#include "ksFixture.h"
#include "ksRadioGroup.h"
#include "ksScriptedDesktop.h"
#include "ksSettingsDlg.h"

namespace {

std::string Pages(int count) {
  ksfixture::PdfBuilder builder("%PDF-1.4");
  std::string kids;
  for (int i = 0; i < count; ++i) kids += std::to_string(3 + i) + " 0 R ";
  builder.Object(1, "<< /Type /Catalog /Pages 2 0 R >>")
      .Object(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) + " >>");
  for (int i = 0; i < count; ++i)
    builder.Object(3 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>");
  return builder.Build("/Root 1 0 R");
}

void WriteFile(const QString& path, const std::string& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
    qFatal("cannot write %s", qPrintable(path));
}

std::string Name(const QString& path) { return QFile::encodeName(path).toStdString(); }

}  // namespace

class TestSettingsDlg : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TksScriptedDesktop> desktop_;
  std::unique_ptr<TksPDFDocument> doc_;
  std::unique_ptr<TksPDFSettingsDlg> dlg_;

  template <class T>
  T* Find(const char* name) {
    T* widget = dlg_->findChild<T*>(QString::fromLatin1(name));
    if (!widget) qFatal("no widget %s", name);
    return widget;
  }
  QLineEdit* Edit(const char* name) { return Find<QLineEdit>(name); }
  QComboBox* Combo(const char* name) { return Find<QComboBox>(name); }
  QCheckBox* Check(const char* name) { return Find<QCheckBox>(name); }
  QListWidget* List(const char* name) { return Find<QListWidget>(name); }

  // A document of pageCount pages read from a file, as the window has it.
  void Load(int pageCount = 3) {
    const QString path = dir_->filePath(QStringLiteral("source.pdf"));
    WriteFile(path, Pages(pageCount));
    doc_->LoadFromFile(Name(path));
  }
  // The document saved encrypted (owner "o", user "u") and opened again with password.
  void LoadEncrypted(const std::u16string& password) {
    Load(1);
    doc_->ShowSetupDialog = false;
    doc_->Encryption().SetEnabled(true);
    doc_->Encryption().SetLevel(el128bit);
    doc_->Encryption().SetOwnerPassword("o");
    doc_->Encryption().SetUserPassword("u");
    const QString path = dir_->filePath(QStringLiteral("encrypted.pdf"));
    doc_->SaveToFile(Name(path), 2);
    doc_ = std::make_unique<TksPDFDocument>();
    doc_->OnPassword = [password](TksCustomPDFDocument*, std::u16string& typed, bool& cont, int tries) {
      typed = password;
      cont = tries < 2;
    };
    doc_->LoadFromFile(Name(path));
    QVERIFY(doc_->IsOpened());
  }
  void Show() {
    dlg_->Document = doc_.get();
    dlg_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dlg_.get()));
  }
  void ClickOK() { QTest::mouseClick(Find<QPushButton>("btnOK"), Qt::LeftButton); }
  QStringList Shown() const {
    QStringList texts;
    for (const auto& s : desktop_->shown) texts << s.text;
    return texts;
  }
  void SetRow(const char* list, int row, bool checked) {
    List(list)->item(row)->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
  }

 private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    desktop_ = std::make_unique<TksScriptedDesktop>();
    doc_ = std::make_unique<TksPDFDocument>();
    dlg_ = std::make_unique<TksPDFSettingsDlg>(desktop_.get());
  }
  void cleanup() {
    dlg_.reset();
    doc_.reset();
    desktop_.reset();
    dir_.reset();
  }

  void createdWithCaptionsListsAndDisabledGroups() {
    QCOMPARE(dlg_->windowTitle(), QStringLiteral("Document Settings and Preferences"));
    QCOMPARE(dlg_->size(), QSize(364, 449));
    auto* tabs = Find<QTabWidget>("pcSettings");
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i) captions << tabs->tabText(i);
    QCOMPARE(captions, (QStringList{"General", "Security", "View", "Email", "Compress"}));
    QCOMPARE(Check("chkEnableEncryption")->text(), QStringLiteral("Encrypt Document "));
    QCOMPARE(Find<QGroupBox>("rgEncryptionLevel")->title(), QStringLiteral(" Encryption Level "));
    QCOMPARE(List("chklstUserPermissions")->item(5)->text(), QStringLiteral("Accessebility"));
    QCOMPARE(Combo("cbPageTransitionEffect")->count(), 17);
    QCOMPARE(Combo("cbPageTransitionEffect")->itemText(16), QStringLiteral("Glitter Top-Left To Bottom-Right"));
    QCOMPARE(Combo("cbCompLevel")->itemData(3).toInt(), 3);
    QVERIFY(Check("chkOpenAfterSave")->isChecked());
    QCOMPARE(Edit("edtOwnerPassword")->echoMode(), QLineEdit::Password);
    QVERIFY(!Edit("edtOwnerPassword")->isEnabled());
    QVERIFY(!Edit("edtHost")->isEnabled());
    QVERIFY(!Find<QPlainTextEdit>("memoBody")->isEnabled());
    QVERIFY(!Combo("cbCompType")->isEnabled());
    // Disabled edits are grey, enabled ones take the window's colour again.
    QCOMPARE(Edit("edtHost")->palette().color(QPalette::Base), QColor(0xD4, 0xD0, 0xC8));
    Check("chkEmailAfterSave")->click();
    QVERIFY(Edit("edtHost")->isEnabled());
    QCOMPARE(Edit("edtHost")->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Base));
  }

  void showLoadsTheDocument() {
    Load(3);
    doc_->Info().SetTitle(u"Привет, мир");
    doc_->Info().SetCreator(u"Writer");
    doc_->PDFVersion = pvPDF17;
    doc_->PageMode = pmUseOutlines;
    doc_->ViewerPreferences().SetFitWindow(true);
    Show();
    QCOMPARE(Find<QTabWidget>("pcSettings")->currentIndex(), 0);
    QCOMPARE(Edit("edtTitle")->text(), QStringLiteral("Привет, мир"));
    QCOMPARE(Edit("edtCreator")->text(), QStringLiteral("Writer"));
    QCOMPARE(Edit("edtProducer")->text(), QStringLiteral("Kestrine Pagewright V2.5"));
    QCOMPARE(Edit("edtVersion")->text(), QStringLiteral("1.7 (Acrobat 8++)"));
    QCOMPARE(Edit("edtNoPages")->text(), QStringLiteral("3"));
    QCOMPARE(Edit("edtDur")->text(), QStringLiteral("1"));
    QCOMPARE(Combo("cbPageMode")->currentText(), QStringLiteral("Use Outlines"));
    QCOMPARE(Combo("cbCompType")->currentText(), QStringLiteral("Flate"));
    QCOMPARE(Combo("cbCompLevel")->currentText(), QStringLiteral("Fastest"));
    QVERIFY(Combo("cbCompLevel")->isEnabled());
    QCOMPARE(List("chklstViewerPreferences")->item(3)->checkState(), Qt::Checked);
    QCOMPARE(List("chklstViewerPreferences")->item(0)->checkState(), Qt::Unchecked);
    QVERIFY(!Check("chkEnableEncryption")->isChecked());
  }

  // OK with nothing changed: the Cyrillic title survives, Fastest is code 1, the dialog accepts.
  void okWritesOnlyWhatChanged() {
    Load(2);
    doc_->Info().SetTitle(u"Привет");
    doc_->Info().SetAuthor(u"Анна");
    doc_->OtherPageLayout = "/TwoPageLeft";
    doc_->ViewerPreferences().SetHideToolbar(true);
    Show();
    Edit("edtAuthor")->setText(QStringLiteral("Жанна"));
    SetRow("chklstViewerPreferences", 0, false);  // unchecking clears the preference
    SetRow("chklstViewerPreferences", 4, true);
    ClickOK();
    QCOMPARE(dlg_->result(), int(QDialog::Accepted));
    QVERIFY(Shown().isEmpty());
    QVERIFY(doc_->Info().Title() == u"Привет");
    QVERIFY(doc_->Info().Author() == u"Жанна");
    QCOMPARE(doc_->OtherPageLayout, std::string("/TwoPageLeft"));
    QVERIFY(!doc_->ViewerPreferences().HideToolbar());
    QVERIFY(doc_->ViewerPreferences().CenterWindow());
    QVERIFY(doc_->Compression.Enabled);
    QCOMPARE(int(doc_->Compression.Method), 0);
    QCOMPARE(int(doc_->Compression.Level), 1);
    QVERIFY(doc_->OpenAfterSave);
    QVERIFY(!doc_->EMailAfterSave);
  }

  void compressionTypeAndLevel() {
    Load(1);
    Show();
    Combo("cbCompType")->setCurrentIndex(1);  // Runlength
    QVERIFY(!Combo("cbCompLevel")->isEnabled());
    QCOMPARE(Combo("cbCompLevel")->currentText(), QStringLiteral("None"));
    Combo("cbCompType")->setCurrentIndex(0);  // Flate
    QVERIFY(Combo("cbCompLevel")->isEnabled());
    QCOMPARE(Combo("cbCompLevel")->currentText(), QStringLiteral("Maximum"));
    ClickOK();
    QCOMPARE(int(doc_->Compression.Level), 3);
  }

  void transitionForcesSinglePage() {
    Load(1);
    Show();
    auto* layout = Combo("cbPageLayout");
    Combo("cbPageTransitionEffect")->setCurrentIndex(13);  // Dissolve
    QCOMPARE(layout->currentText(), QStringLiteral("Single Page"));
    layout->setCurrentIndex(2);
    QCOMPARE(layout->currentText(), QStringLiteral("Single Page"));
    Combo("cbPageTransitionEffect")->setCurrentIndex(0);
    layout->setCurrentIndex(2);
    QCOMPARE(layout->currentText(), QStringLiteral("One Column"));
  }

  void durationAndRangeFilters() {
    Load(1);
    Show();
    QLineEdit* duration = Edit("edtDur");
    duration->clear();
    QTest::keyClicks(duration, "a.");
    QCOMPARE(duration->text(), QString());
    QTest::keyClicks(duration, "25");
    QCOMPARE(duration->text(), QStringLiteral("25"));
    // Pasted text meets the same filter.
    QGuiApplication::clipboard()->setText(QStringLiteral("1.5"));
    duration->paste();
    QCOMPARE(duration->text(), QStringLiteral("25"));

    QLineEdit* range = Edit("edtPresentationPages");
    QVERIFY(Find<QRadioButton>("rbAllPages")->isChecked());
    QTest::keyClicks(range, "x");
    QVERIFY(Find<QRadioButton>("rbAllPages")->isChecked());
    QTest::keyClicks(range, "3");
    QVERIFY(Find<QRadioButton>("rbPages")->isChecked());
    QVERIFY(!Find<QRadioButton>("rbAllPages")->isChecked());
    QGuiApplication::clipboard()->setText(QStringLiteral(",1-2"));
    range->paste();
    QCOMPARE(range->text(), QStringLiteral("3,1-2"));
    Find<QRadioButton>("rbAllPages")->click();
    QCOMPARE(range->text(), QString());
  }

  // The range is checked before anything is written; the dialog stays open on it.
  void invalidRangeWritesNothing() {
    Load(2);
    Show();
    Edit("edtTitle")->setText(QStringLiteral("New"));
    Combo("cbPageTransitionEffect")->setCurrentIndex(13);
    Find<QRadioButton>("rbPages")->click();
    Edit("edtPresentationPages")->setText(QStringLiteral("1,5"));
    ClickOK();
    QCOMPARE(Shown(), QStringList{QStringLiteral("Invalid page number (5)")});
    QVERIFY(dlg_->isVisible());
    QCOMPARE(dlg_->result(), 0);
    QVERIFY(doc_->Info().Title().empty());
    QCOMPARE(doc_->PageLayout, plNone);
    QVERIFY(!doc_->Compression.Enabled);
    QCOMPARE(Find<QTabWidget>("pcSettings")->currentWidget()->objectName(), QStringLiteral("tsView"));
    QCOMPARE(QApplication::focusWidget(), Edit("edtPresentationPages"));
    // A good range goes through, with an empty duration taken as one second.
    Edit("edtPresentationPages")->setText(QStringLiteral("2"));
    Edit("edtDur")->clear();
    ClickOK();
    QCOMPARE(dlg_->result(), int(QDialog::Accepted));
    QCOMPARE(doc_->PageLayout, plSinglePage);
    QVERIFY(doc_->Info().Title() == u"New");
  }

  void passwordsMustMatchAndFitTheLevel() {
    Load(1);
    Show();
    Check("chkEnableEncryption")->click();
    QVERIFY(Edit("edtOwnerPassword")->isEnabled());
    QVERIFY(Shown().isEmpty());  // the owner of an unencrypted document may
    Edit("edtOwnerPassword")->setText(QStringLiteral("Secret"));
    Edit("edtConfirmOwnerPassword")->setText(QStringLiteral("secret"));
    Edit("edtTitle")->setText(QStringLiteral("Changed"));
    ClickOK();
    QCOMPARE(Shown(), QStringList{QStringLiteral("The Owner Passwords do not match.\r\nPlease re-enter.")});
    QVERIFY(dlg_->isVisible());
    QVERIFY(!doc_->Encryption().Enabled());
    QVERIFY(doc_->Info().Title().empty());
    QCOMPARE(QApplication::focusWidget(), Edit("edtOwnerPassword"));

    // "€" has a byte in Windows-1252, "Ж" none: 40- and 128-bit keys cannot take it.
    Edit("edtConfirmOwnerPassword")->setText(QStringLiteral("Secret"));
    Edit("edtUserPassword")->setText(QStringLiteral("Ж"));
    Edit("edtConfirmUserPassword")->setText(QStringLiteral("Ж"));
    ClickOK();
    QCOMPARE(Shown().size(), 2);
    QVERIFY(Shown().last().startsWith(QStringLiteral("The User Password holds characters")));
    QVERIFY(!doc_->Encryption().Enabled());

    Edit("edtUserPassword")->setText(QStringLiteral("€uro"));
    Edit("edtConfirmUserPassword")->setText(QStringLiteral("€uro"));
    Find<TksRadioGroup>("rgEncryptionLevel")->setItemIndex(1);
    SetRow("chklstUserPermissions", 1, false);  // Modify
    ClickOK();
    QCOMPARE(dlg_->result(), int(QDialog::Accepted));
    const TksPDFEncryptionSettings& encryption = doc_->Encryption();
    QVERIFY(encryption.Enabled());
    QCOMPARE(encryption.Level(), el128bit);
    QCOMPARE(encryption.OwnerPassword(), std::string("Secret"));
    QCOMPARE(encryption.UserPassword(), std::string("\x80uro"));
    TksUserPermissions expected = TksUserPermissions::All();
    expected.Exclude(AllowModify);
    QVERIFY(encryption.UserPermissions() == expected);
  }

  // AES-256 keys on UTF-8 and takes any character; the dialog shows it back as typed.
  void aes256TakesAnyPassword() {
    Load(1);
    Show();
    QCOMPARE(Find<TksRadioGroup>("rgEncryptionLevel")->Items(),
             (QStringList{"40 Bit", "128 Bit", "AES 128 Bit", "AES 256 Bit"}));
    Check("chkEnableEncryption")->click();
    Find<TksRadioGroup>("rgEncryptionLevel")->setItemIndex(3);
    for (const char* name : {"edtOwnerPassword", "edtConfirmOwnerPassword"}) Edit(name)->setText(QStringLiteral("Жёлтый"));
    for (const char* name : {"edtUserPassword", "edtConfirmUserPassword"}) Edit(name)->setText(QStringLiteral("пароль"));
    ClickOK();
    QVERIFY(Shown().isEmpty());
    QCOMPARE(doc_->Encryption().Level(), elAES256);
    QCOMPARE(doc_->Encryption().UserPassword(), std::string("пароль"));
    dlg_->hide();
    Show();
    QCOMPARE(Edit("edtOwnerPassword")->text(), QStringLiteral("Жёлтый"));
    QCOMPARE(Find<TksRadioGroup>("rgEncryptionLevel")->ItemIndex(), 3);
  }

  void ownerMayDropEncryption() {
    LoadEncrypted(u"o");
    Show();
    QVERIFY(Check("chkEnableEncryption")->isChecked());
    QCOMPARE(Edit("edtOwnerPassword")->text(), QStringLiteral("o"));
    QCOMPARE(Find<TksRadioGroup>("rgEncryptionLevel")->ItemIndex(), 1);
    Check("chkEnableEncryption")->click();
    QVERIFY(!Edit("edtOwnerPassword")->isEnabled());
    ClickOK();
    QCOMPARE(dlg_->result(), int(QDialog::Accepted));
    QVERIFY(!doc_->Encryption().Enabled());
  }

  // Opened with the user password: the file stays encrypted and only the owner may change that.
  void userCannotChangeEncryption() {
    LoadEncrypted(u"u");
    Show();
    QVERIFY(Shown().isEmpty());  // no message while the dialog opens
    QVERIFY(Check("chkEnableEncryption")->isChecked());
    QVERIFY(!Edit("edtOwnerPassword")->isEnabled());
    Check("chkEnableEncryption")->click();
    QCOMPARE(Shown(), QStringList{QStringLiteral("Only the owner can change the encryption settings")});
    QVERIFY(Check("chkEnableEncryption")->isChecked());
    ClickOK();
    QCOMPARE(dlg_->result(), int(QDialog::Accepted));
    QCOMPARE(Shown().size(), 1);
    QVERIFY(doc_->Encryption().Enabled());
  }

  void emailAppendsTheBodyOnEveryOK() {
    Load(1);
    Show();
    Check("chkEmailAfterSave")->click();
    Edit("edtHost")->setText(QStringLiteral("smtp.example.org"));
    Edit("edtTo")->setText(QStringLiteral("\"Smith, John\" <js@example.org>, ann@example.org"));
    Edit("edtBCC")->setText(QStringLiteral("John Smith <js@example.org>"));
    Find<QPlainTextEdit>("memoBody")->setPlainText(QStringLiteral("Here it is.\nRegards"));
    ClickOK();
    // Shown again: the same dialog keeps its message, and the box must be checked again.
    dlg_->hide();
    Show();
    QVERIFY(!Check("chkEmailAfterSave")->isChecked());
    Check("chkEmailAfterSave")->click();
    ClickOK();
    const TksEMailInfo& mail = doc_->EMailInfo();
    QVERIFY(doc_->EMailAfterSave);
    QCOMPARE(mail.Host, std::string("smtp.example.org"));
    QCOMPARE(mail.Body, (std::vector<std::string>{"Here it is.\nRegards", "Here it is.\nRegards"}));
    QCOMPARE(mail.RecipientList, (std::vector<std::string>{"\"Smith, John\" <js@example.org>", "ann@example.org"}));
    QCOMPARE(mail.BCCList, (std::vector<std::string>{"John Smith <js@example.org>"}));
    QCOMPARE(mail.Port, 25);
  }

  // The document's own ShowSettingsDialog with the built-in dialog: Escape cancels the save.
  void builtInDialogAnswersTheSave() {
    Load(1);
    UseSettingsDialog(*doc_, desktop_.get());
    doc_->ShowSetupDialog = true;
    doc_->OpenFileHook = nullptr;
    const QString out = dir_->filePath(QStringLiteral("out.pdf"));
    QTimer::singleShot(0, [] {
      QWidget* modal = QApplication::activeModalWidget();
      QVERIFY(modal);
      QTest::keyClick(modal, Qt::Key_Escape);
    });
    doc_->SaveToFile(Name(out), 2);
    QVERIFY(!QFile::exists(out));
    QTimer::singleShot(0, [] {
      QWidget* modal = QApplication::activeModalWidget();
      QVERIFY(modal);
      QTest::mouseClick(modal->findChild<QPushButton*>(QStringLiteral("btnOK")), Qt::LeftButton);
    });
    doc_->SaveToFile(Name(out), 2);
    QVERIFY(QFile::exists(out));
    QVERIFY(doc_->Compression.Enabled);
  }
};

QTEST_MAIN(TestSettingsDlg)
#include "test_settings_dlg.moc"
