// Tavrin's start-up exactly as src/Tavrin.cpp does it, with a first-paint
// report (FirstPaint.h). tavrin-bench copies this executable into a fresh
// folder, so the settings file is looked for there and none is found, as on
// a first start.
#include "FirstPaint.h"
#include "MainUnit.h"
#include "Style.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(true);
    EnsureDesignFonts();
    SelectStyleOrWarn(QStringLiteral("Onyx Blue"));
    TMainForm form;
    new bench::FirstPaintProbe(&form);
    form.show();
    return app.exec();
}
