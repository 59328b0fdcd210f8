// The reference for Tavrin's start-up: the least a Qt Widgets program does to
// put a window of the same size on screen, with the same first-paint report.
#include "FirstPaint.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("minimal"));
    window.resize(983, 779);
    new bench::FirstPaintProbe(&window);
    window.show();
    return app.exec();
}
