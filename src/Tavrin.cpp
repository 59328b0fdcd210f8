// Program entry.
#include "MainUnit.h"
#include "Style.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    // The main window is the program's only top-level window, and so the one
    // that carries its task bar entry.
    app.setQuitOnLastWindowClosed(true);
    EnsureDesignFonts();
    SetProgramIcon();
    SelectStyleOrWarn(QStringLiteral("Onyx Blue"));
    TMainForm form;
    form.show();
    return app.exec();
}
