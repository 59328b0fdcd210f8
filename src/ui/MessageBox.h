#pragma once
// Every message box of the program goes through here, so that tests can
// answer them without a modal loop.
#include <QMessageBox>
#include <QString>
#include <functional>

namespace ui {

struct BoxRequest {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
};

// A hook that replaces the modal box (tests). Pass nullptr to restore.
using BoxHook = std::function<void(const BoxRequest &)>;
void SetMessageBoxHook(BoxHook hook);

// The executable's file name without folder, cut at its first dot, every
// character after the first in lower case ("Tavrin").
QString ProgramTitle();
// The same rule for any executable path.
QString ProgramTitleFor(const QString &executablePath);

// Modal box; returns when the operator has dismissed it.
void ShowBox(const BoxRequest &request);

// Plain box: program title, the text, one OK button, no icon.
void ShowMessage(const QString &text);

// Error box: program title, the text, an error icon, one OK button.
void ShowErrorMessage(const QString &text);

// Question box: program title, the text, Yes and No; true for Yes. Tests
// answer through the ask hook; with only the box hook set, the answer is No.
using AskHook = std::function<bool(const BoxRequest &)>;
void SetAskHook(AskHook hook);
bool AskYesNo(const QString &text);

} // namespace ui
