// Leaks 400 bytes from inside a button's click handler. A timer from the
// event loop presses the space key on the button's window through the
// platform's input path, so that frames of QtCore (timer, event loop), QtGui
// (input handling) and QtWidgets (the button) surround the allocation. The
// test around it passes only when LeakSanitizer, with the project's
// suppressions, reports this leak: a suppression that matches any of these
// modules instead of a named function would hide every leak made in a
// handler, and this one with them.
#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

int *volatile g_plantedSink = nullptr;

__attribute__((noinline)) void PlantedLeakInHandler() {
    g_plantedSink = new int[100];
    g_plantedSink = nullptr;
}

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    QPushButton button(QStringLiteral("Leak"));
    QObject::connect(&button, &QPushButton::clicked, &app, [] {
        PlantedLeakInHandler();
        QCoreApplication::quit();
    });
    button.show();
    button.activateWindow();
    if (!QTest::qWaitForWindowActive(&button))
        return 2;
    button.setFocus();
    QTimer::singleShot(0, &button,
                       [&button] { QTest::keyClick(button.windowHandle(), Qt::Key_Space); });
    // Without the click the program ends with code 3 and no leak.
    QTimer::singleShot(10000, &app, [] { QCoreApplication::exit(3); });
    return app.exec();
}
