#include "MessageBox.h"
#include "Dispatch.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <exception>

namespace ui {

namespace {
BoxHook g_boxHook;
AskHook g_askHook;
ErrorHandler g_errorHandler;
} // namespace

void SetMessageBoxHook(BoxHook hook) {
    g_boxHook = std::move(hook);
}

QString ProgramTitle() {
    return ProgramTitleFor(QCoreApplication::applicationFilePath());
}

QString ProgramTitleFor(const QString &executablePath) {
    QString name = QFileInfo(executablePath).fileName();
    const qsizetype dot = name.indexOf(u'.');
    if (dot >= 0)
        name.truncate(dot);
    if (name.size() > 1)
        name = name.left(1) + name.mid(1).toLower();
    return name;
}

void ShowBox(const BoxRequest &request) {
    if (g_boxHook) {
        g_boxHook(request);
        return;
    }
    QMessageBox box(request.icon, request.title, request.text, request.buttons);
    box.exec();
}

void ShowMessage(const QString &text) {
    ShowBox({ProgramTitle(), text, QMessageBox::NoIcon, QMessageBox::Ok});
}

void ShowErrorMessage(const QString &text) {
    ShowBox({ProgramTitle(), text, QMessageBox::Critical, QMessageBox::Ok});
}

void SetAskHook(AskHook hook) {
    g_askHook = std::move(hook);
}

bool AskYesNo(const QString &text) {
    const BoxRequest request{ProgramTitle(), text, QMessageBox::Question,
                             QMessageBox::Yes | QMessageBox::No};
    if (g_askHook)
        return g_askHook(request);
    if (g_boxHook) {
        g_boxHook(request);
        return false;
    }
    QMessageBox box(request.icon, request.title, request.text, request.buttons);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void SetErrorHandler(ErrorHandler handler) {
    g_errorHandler = std::move(handler);
}

void ReportError(const QString &message) {
    // The display itself must not throw back into the event loop.
    try {
        if (g_errorHandler)
            g_errorHandler(message);
        else
            ShowErrorMessage(message);
    } catch (...) {
    }
}

namespace detail {
void ReportCurrentException() noexcept {
    try {
        throw;
    } catch (const std::exception &e) {
        ReportError(QString::fromUtf8(e.what()));
    } catch (...) {
        ReportError(QStringLiteral("Unknown error"));
    }
}
} // namespace detail

} // namespace ui
