// The traffic log's context menu, and its save as the operator sees it:
// the file dialog, a progress dialog with Cancel for a long save, a box
// when it fails.
#include "Dispatch.h"
#include "LogFile.h"
#include "LogStore.h"
#include "Memo.h"
#include "MessageBox.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMenu>
#include <QProgressDialog>
#include <QStandardPaths>

#include <memory>

namespace ui {

QMenu *TMemo::CreateContextMenu() {
    auto *menu = new QMenu(this);
    const auto add = [&](const QString &text, QKeySequence::StandardKey key, auto slot) {
        QAction *a =
            menu->addAction(text + u'\t' + QKeySequence(key).toString(QKeySequence::NativeText));
        a->setObjectName(text);
        connect(a, &QAction::triggered, this, Guarded(slot));
        return a;
    };
    add(tr("Cu&t"), QKeySequence::Cut, [this] { cut(); })->setEnabled(HasSelection());
    add(tr("&Copy"), QKeySequence::Copy, [this] { copy(); })->setEnabled(HasSelection());
    const QClipboard *clip = QGuiApplication::clipboard();
    add(tr("&Paste"), QKeySequence::Paste, [this] {
        paste();
    })->setEnabled(clip && !clip->text().isEmpty());
    menu->addSeparator();
    add(tr("Select All"), QKeySequence::SelectAll, [this] {
        selectAll();
    })->setEnabled(!m_store.IsEmpty());
    menu->addSeparator();
    QAction *save = menu->addAction(tr("Save log as..."));
    save->setObjectName(QStringLiteral("Save log as..."));
    connect(save, &QAction::triggered, this, Guarded([this] { SaveLogAs(); }));
    return menu;
}

void TMemo::contextMenuEvent(QContextMenuEvent *event) {
    QMenu *menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

// The file dialog starts in the folder of the last save (the documents
// folder at first).
void TMemo::SaveLogAs() {
    static QString folder;
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString name =
        QStringLiteral("Tavrin-log-%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss")));
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save log as"), QDir(folder).filePath(name),
                                     tr("Text files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    folder = QFileInfo(path).absolutePath();
    SaveLog(path);
}

bool TMemo::SaveLog(const QString &path) {
    // The lines there are now; lines the repeat job adds meanwhile stay in the log.
    const qsizetype count = m_store.Count();
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProgressDialog> dialog;
    bool canceled = false;
    qint64 shown = 0;
    const auto progress = [&](qsizetype done) {
        // Each step of the dialog repaints it (some 15 ms): ten a second.
        if (dialog && clock.elapsed() - shown < 100 && done < count)
            return true;
        shown = clock.elapsed();
        if (!dialog && shown > 500 && done < count) {
            dialog =
                std::make_unique<QProgressDialog>(tr("Saving the log..."), tr("Cancel"), 0,
                                                  int(std::min<qsizetype>(count, INT_MAX)), this);
            dialog->setWindowModality(Qt::WindowModal);
            dialog->setMinimumDuration(0);
            dialog->setAutoReset(false);
        }
        if (dialog) {
            dialog->setValue(int(std::min<qsizetype>(done, INT_MAX)));
            canceled = dialog->wasCanceled();
        }
        return !canceled;
    };
    QString error;
    const bool saved = trafficlog::SaveLog(m_store, count, path, progress, &error);
    dialog.reset();
    if (!saved && !canceled)
        ShowErrorMessage(
            tr("Unable to save the log to %1: %2").arg(QDir::toNativeSeparators(path), error));
    return saved;
}

} // namespace ui
