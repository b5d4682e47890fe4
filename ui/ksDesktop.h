// What the conversion window asks of the desktop: file choices, message boxes and the
// password prompt. Everything modal goes through TksDesktop, so tests put their own in
// its place and no window can block them.
#pragma once
#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QWidget;
class TksDesktop;

enum TksFileDialogKind { fdOpen, fdSave };

// A file dialog's settings and its answer, shown by Execute.
class TksFileDialog {
 public:
  explicit TksFileDialog(TksFileDialogKind kind) : Kind(kind) {}
  // False when the user cancelled; then FileName is unchanged.
  bool Execute(TksDesktop& desktop, QWidget* parent);

  TksFileDialogKind Kind;
  QString Title;
  QString DefaultExt;
  // Pairs of display text and pattern, each part followed by "|" except the last.
  QString Filter;
  QString FileName;
  bool OverwritePrompt = false;
  bool HideReadOnly = true;
  bool EnableSizing = true;

  // The filter as the toolkit takes it: one "text (patterns)" entry a pair.
  QStringList NameFilters() const;
};

class TksDesktop {
 public:
  virtual ~TksDesktop() = default;
  // Shows the dialog; on OK stores the chosen path in dialog.FileName and returns true.
  virtual bool RunFileDialog(TksFileDialog& dialog, QWidget* parent) = 0;
  // A message with one OK button.
  virtual void ShowMessage(const QString& caption, const QString& text, QWidget* parent) = 0;
  // A message with one OK button that asks for attention, and a details section the user
  // may open to read more (one item a line).
  virtual void ShowDetailedMessage(const QString& caption, const QString& text, const QString& details,
                                   QWidget* parent) = 0;
  // A failure's message, as an error.
  virtual void ShowError(const QString& caption, const QString& text, QWidget* parent) = 0;
  // Asks for the password of fileName; tries counts the passwords already refused.
  // False when the user cancelled.
  virtual bool AskPassword(const QString& fileName, int tries, QString& password, QWidget* parent) = 0;
};

// The real desktop: the toolkit's file dialogs and message boxes, TksPasswordDlg.
class TksQtDesktop : public TksDesktop {
 public:
  bool RunFileDialog(TksFileDialog& dialog, QWidget* parent) override;
  void ShowMessage(const QString& caption, const QString& text, QWidget* parent) override;
  void ShowDetailedMessage(const QString& caption, const QString& text, const QString& details,
                           QWidget* parent) override;
  void ShowError(const QString& caption, const QString& text, QWidget* parent) override;
  bool AskPassword(const QString& fileName, int tries, QString& password, QWidget* parent) override;
};

// Modal prompt for a document's password; the typed text is masked.
class TksPasswordDlg : public QDialog {
  Q_OBJECT
 public:
  TksPasswordDlg(const QString& fileName, int tries, QWidget* parent = nullptr);
  QString Password() const;
  // The prompt's text for a file and the number of passwords already refused.
  static QString PromptText(const QString& fileName, int tries);

 private:
  QLabel* lblPrompt;
  QLineEdit* edtPassword;
};
