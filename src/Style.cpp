#include "Style.h"
#include "MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QIcon>
#include <QStyleFactory>

namespace {
// Each style is a resource under :/styles whose first line names it:
// "/* Style: <name> */".
QString StyleName(const QString &sheet) {
    const QString first = sheet.section(u'\n', 0, 0).trimmed();
    const QString open = QStringLiteral("/* Style:");
    if (!first.startsWith(open) || !first.endsWith(QLatin1String("*/")))
        return QString();
    return first.mid(open.size(), first.size() - open.size() - 2).trimmed();
}
} // namespace

bool SelectStyle(const QString &name) {
    const QDir dir(QStringLiteral(":/styles"));
    for (const QString &entry : dir.entryList(QDir::Files)) {
        QFile f(dir.filePath(entry));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QString sheet = QString::fromUtf8(f.readAll());
        if (StyleName(sheet).compare(name, Qt::CaseInsensitive) != 0)
            continue;
        // The sheet is drawn over Fusion so that it looks the same everywhere.
        if (QStyle *fusion = QStyleFactory::create(QStringLiteral("Fusion")))
            QApplication::setStyle(fusion);
        qApp->setStyleSheet(sheet);
        return true;
    }
    return false;
}

void SelectStyleOrWarn(const QString &name) {
    if (SelectStyle(name))
        return;
    ui::ShowBox({ui::ProgramTitle(), QStringLiteral("Style '%1' not found").arg(name),
                 QMessageBox::Critical, QMessageBox::Close});
}

void EnsureDesignFonts() {
    if (QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive))
        return;
    for (const char *path :
         {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"})
        if (QFile::exists(QLatin1String(path)))
            QFontDatabase::addApplicationFont(QLatin1String(path));
}

void SetProgramIcon() {
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/tavrin.png")));
}
