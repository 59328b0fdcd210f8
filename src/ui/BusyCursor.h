#pragma once
// The busy cursor for as long as the window waits on the network, so that a
// window that looks frozen says it is waiting.
#include <QCursor>
#include <QGuiApplication>

namespace ui {

inline void ShowBusy(bool on) {
    if (on)
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    else
        QGuiApplication::restoreOverrideCursor();
}

class BusyCursor {
public:
    BusyCursor() { ShowBusy(true); }
    ~BusyCursor() { ShowBusy(false); }
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;
};

} // namespace ui
