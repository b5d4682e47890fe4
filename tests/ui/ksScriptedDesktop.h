// A desktop that answers from a script and records what the window showed, so window
// tests never meet a modal dialog.
#pragma once
#include <deque>
#include <optional>
#include <vector>

#include <QString>

#include "ksDesktop.h"

class TksScriptedDesktop : public TksDesktop {
 public:
  struct Shown {
    QString kind;  // "message" or "error"
    QString caption;
    QString text;
    QString details;  // of a detailed message
  };
  struct Asked {
    QString fileName;
    int tries;
  };

  // Each file dialog takes the next answer; none (or no answer left) means Cancel.
  std::deque<std::optional<QString>> fileAnswers;
  std::deque<std::optional<QString>> passwordAnswers;

  std::vector<TksFileDialog> dialogsRun;  // copies of the dialogs as shown
  std::vector<Shown> shown;
  std::vector<Asked> passwordsAsked;

  bool RunFileDialog(TksFileDialog& dialog, QWidget*) override {
    dialogsRun.push_back(dialog);
    return Next(fileAnswers, dialog.FileName);
  }
  void ShowMessage(const QString& caption, const QString& text, QWidget*) override {
    shown.push_back({QStringLiteral("message"), caption, text, {}});
  }
  void ShowDetailedMessage(const QString& caption, const QString& text, const QString& details, QWidget*) override {
    shown.push_back({QStringLiteral("message"), caption, text, details});
  }
  void ShowError(const QString& caption, const QString& text, QWidget*) override {
    shown.push_back({QStringLiteral("error"), caption, text, {}});
  }
  bool AskPassword(const QString& fileName, int tries, QString& password, QWidget*) override {
    passwordsAsked.push_back({fileName, tries});
    return Next(passwordAnswers, password);
  }

 private:
  // False for Cancel; out is left alone then.
  static bool Next(std::deque<std::optional<QString>>& answers, QString& out) {
    if (answers.empty()) return false;
    const bool given = answers.front().has_value();
    if (given) out = *answers.front();
    answers.pop_front();
    return given;
  }
};
