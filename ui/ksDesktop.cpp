#include "ksDesktop.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

bool TksFileDialog::Execute(TksDesktop& desktop, QWidget* parent) { return desktop.RunFileDialog(*this, parent); }

QStringList TksFileDialog::NameFilters() const {
  QStringList filters;
  const QStringList parts = Filter.split(QLatin1Char('|'));
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& text = parts[i];
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    // The toolkit reads the patterns from the parentheses; a text that shows them already
    // is taken as it stands.
    filters << (text.contains(QLatin1Char('(')) ? text : text + QStringLiteral(" (") + patterns + QLatin1Char(')'));
  }
  return filters;
}

bool TksQtDesktop::RunFileDialog(TksFileDialog& dialog, QWidget* parent) {
  QFileDialog box(parent, dialog.Title);
  box.setAcceptMode(dialog.Kind == fdSave ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  box.setFileMode(dialog.Kind == fdSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  box.setOption(QFileDialog::DontConfirmOverwrite, !dialog.OverwritePrompt);
  box.setSizeGripEnabled(dialog.EnableSizing);
  box.setNameFilters(dialog.NameFilters());
  box.setDefaultSuffix(dialog.DefaultExt);
  if (!dialog.FileName.isEmpty()) {
    QFileInfo info(dialog.FileName);
    box.setDirectory(info.absolutePath());
    box.selectFile(info.fileName());
  }
  if (box.exec() != QDialog::Accepted || box.selectedFiles().isEmpty()) return false;
  dialog.FileName = QDir::toNativeSeparators(box.selectedFiles().constFirst());
  return true;
}

void TksQtDesktop::ShowMessage(const QString& caption, const QString& text, QWidget* parent) {
  QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
  box.exec();
}

void TksQtDesktop::ShowDetailedMessage(const QString& caption, const QString& text, const QString& details,
                                       QWidget* parent) {
  QMessageBox box(QMessageBox::Warning, caption, text, QMessageBox::Ok, parent);
  box.setDetailedText(details);
  box.exec();
}

void TksQtDesktop::ShowError(const QString& caption, const QString& text, QWidget* parent) {
  QMessageBox box(QMessageBox::Critical, caption, text, QMessageBox::Ok, parent);
  box.exec();
}

bool TksQtDesktop::AskPassword(const QString& fileName, int tries, QString& password, QWidget* parent) {
  TksPasswordDlg dialog(fileName, tries, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  password = dialog.Password();
  return true;
}

TksPasswordDlg::TksPasswordDlg(const QString& fileName, int tries, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("PasswordDlg"));
  setWindowTitle(QStringLiteral("Password"));
  setModal(true);
  lblPrompt = new QLabel(PromptText(fileName, tries), this);
  lblPrompt->setObjectName(QStringLiteral("lblPrompt"));
  lblPrompt->setWordWrap(true);
  edtPassword = new QLineEdit(this);
  edtPassword->setObjectName(QStringLiteral("edtPassword"));
  edtPassword->setEchoMode(QLineEdit::Password);
  lblPrompt->setBuddy(edtPassword);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  buttons->setObjectName(QStringLiteral("btnBox"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblPrompt);
  layout->addWidget(edtPassword);
  layout->addWidget(buttons);
  setMinimumWidth(360);
  edtPassword->setFocus();
}

QString TksPasswordDlg::Password() const { return edtPassword->text(); }

QString TksPasswordDlg::PromptText(const QString& fileName, int tries) {
  const QString name = QDir::toNativeSeparators(fileName);
  if (tries == 0) return QStringLiteral("%1 is protected by a password.\nEnter the password:").arg(name);
  return QStringLiteral("The password does not open %1.\nEnter the password again:").arg(name);
}
