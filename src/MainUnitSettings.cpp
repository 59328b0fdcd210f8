// Settings file beside the executable: window place and size, the Modbus,
// range, text and address fields and Regs[0..155].
#include "Edits.h"
#include "IniFile.h"
#include "MainUnit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <array>
#include <utility>

namespace {

const QString SecMain = QStringLiteral("Main");
const QString SecModbus = QStringLiteral("Modbus");
const QString SecLan = QStringLiteral("LAN");
const QString SecReg = QStringLiteral("REG");

QString RegKey(int i) {
    return u'R' + QString::number(i);
}

QMargins FrameMargins(const QWidget *w) {
    const QRect frame = w->frameGeometry();
    const QRect client = w->geometry();
    return QMargins(client.left() - frame.left(), client.top() - frame.top(),
                    frame.right() - client.right(), frame.bottom() - client.bottom());
}

// The file holds the outer rectangle, but before the window is first shown
// its frame is unknown and the size can only go to the client area. Once a
// window manager has put its frame on, this sets the outer rectangle again
// (once). Without a frame, outer and client rectangles are the same and
// nothing needs correcting.
class OuterGeometry : public QObject {
public:
    explicit OuterGeometry(QWidget *window) : QObject(window), m_window(window) {
        setObjectName(QStringLiteral("OuterGeometry"));
        window->installEventFilter(this);
    }

    // A window already on screen knows its frame: LoadIni sized it exactly.
    void Request(const QRect &outer) {
        m_outer = outer;
        m_pending = !m_window->isVisible();
    }

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched != m_window || !m_pending || m_applying)
            return false;
        switch (event->type()) {
        case QEvent::Show:
            // The frame normally arrives within moments of the first map;
            // a later change is the user's and is left alone.
            if (!m_timerStarted) {
                m_timerStarted = true;
                QTimer::singleShot(2000, this, [this] { m_pending = false; });
            }
            Apply();
            break;
        case QEvent::Move:
        case QEvent::Resize:
            Apply();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void Apply() {
        if (!m_window->isVisible() || m_window->isMinimized() || m_window->isMaximized() ||
            m_window->isFullScreen())
            return;
        const QMargins m = FrameMargins(m_window);
        if (m.isNull())
            return;
        m_pending = false;
        m_applying = true;
        m_window->resize(m_outer.width() - m.left() - m.right(),
                         m_outer.height() - m.top() - m.bottom());
        m_window->move(m_outer.topLeft());
        m_applying = false;
    }

    QWidget *m_window;
    QRect m_outer;
    bool m_pending = false;
    bool m_applying = false;
    bool m_timerStarted = false;
};

// The outer rectangle from the file, made reachable. A size beyond the
// available desktop (the bounding box of every screen's available area) is
// cut to it. A window that would then lie wholly outside every screen's
// available area goes onto the nearest one (smallest gap between the two
// rectangles; the first in the screen list on a tie), shifted just far
// enough to lie inside it, or to its top left corner when it is larger, so
// that its caption bar is on that screen. Any other place and size stands.
// 64-bit sums: the file may hold any 32-bit values.
QRect ReachableOuter(int32_t left, int32_t top, int32_t width, int32_t height) {
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return QRect(left, top, width, height);
    QRect desktop;
    for (const QScreen *s : screens)
        desktop |= s->availableGeometry();
    const int64_t w = std::min<int64_t>(width, desktop.width());
    const int64_t h = std::min<int64_t>(height, desktop.height());
    // A window narrower than a pixel still has a place to be seen at.
    const int64_t seenW = std::max<int64_t>(w, 1);
    const int64_t seenH = std::max<int64_t>(h, 1);
    const auto gap = [](int64_t from, int64_t size, int64_t areaFrom, int64_t areaSize) {
        return std::max<int64_t>({areaFrom - (from + size), from - (areaFrom + areaSize), 0});
    };

    const QScreen *nearest = nullptr;
    double nearestGap = 0;
    for (const QScreen *s : screens) {
        const QRect a = s->availableGeometry();
        const int64_t dx = gap(left, seenW, a.x(), a.width());
        const int64_t dy = gap(top, seenH, a.y(), a.height());
        // A window that only touches an edge has no gap but is not on it.
        const bool overlaps = left < int64_t(a.x()) + a.width() && left + seenW > a.x() &&
                              top < int64_t(a.y()) + a.height() && top + seenH > a.y();
        if (overlaps)
            return QRect(left, top, int(w), int(h));
        const double d = double(dx) * double(dx) + double(dy) * double(dy);
        if (!nearest || d < nearestGap) {
            nearest = s;
            nearestGap = d;
        }
    }
    const QRect a = nearest->availableGeometry();
    const auto into = [](int64_t from, int64_t size, int64_t areaFrom, int64_t areaSize) {
        return std::max(areaFrom, std::min(from, areaFrom + areaSize - size));
    };
    return QRect(int(into(left, seenW, a.x(), a.width())), int(into(top, seenH, a.y(), a.height())),
                 int(w), int(h));
}

// The integer fields of section Modbus, in file order.
std::array<std::pair<ui::TSpinEdit *, QString>, 5> ModbusFields(const TMainForm *f) {
    return {{{f->seNodeID, QStringLiteral("seNodeID")},
             {f->seProtocolID, QStringLiteral("seProtocolID")},
             {f->seTransactionID, QStringLiteral("seTransactionID")},
             {f->edRRStart, QStringLiteral("edRRStart")},
             {f->edRRNums, QStringLiteral("edRRNums")}}};
}

} // namespace

void TMainForm::LoadIni(const QString &FName) {
    const ini::TIniFile ini(ProgramPath + FName);

    // The four values are read in file order and go to the window together,
    // once made reachable: a window the size of the file's numbers would
    // never be mapped. move() places the outer frame of a top-level window,
    // resize() takes the client size, so the frame (as far as it is known
    // yet) comes off the outer size.
    const int32_t left = ini.ReadInteger(SecMain, QStringLiteral("left"), 1);
    const int32_t top = ini.ReadInteger(SecMain, QStringLiteral("top"), 1);
    const int32_t outerWidth = ini.ReadInteger(SecMain, QStringLiteral("width"), 999);
    const int32_t outerHeight = ini.ReadInteger(SecMain, QStringLiteral("height"), 819);
    const QRect outerRect = ReachableOuter(left, top, outerWidth, outerHeight);
    move(outerRect.topLeft());
    resize(outerRect.width() - (frameGeometry().width() - width()),
           outerRect.height() - (frameGeometry().height() - height()));

    auto *outer =
        findChild<OuterGeometry *>(QStringLiteral("OuterGeometry"), Qt::FindDirectChildrenOnly);
    if (!outer)
        outer = new OuterGeometry(this);
    outer->Request(outerRect);

    for (const auto &[field, key] : ModbusFields(this))
        field->SetValue(ini.ReadInteger(SecModbus, key, field->Value()));
    edText->setText(ini.ReadString(SecModbus, QStringLiteral("edText"), edText->text()));
    edIP->setText(ini.ReadString(SecLan, QStringLiteral("ip"), edIP->text()));
    sePort->SetValue(ini.ReadInteger(SecLan, QStringLiteral("port"), sePort->Value()));

    for (int i = 0; i < SavedRegs; ++i)
        Regs[i] = uint16_t(uint32_t(ini.ReadInteger(SecReg, RegKey(i), Regs[i])));
}

void TMainForm::SaveIni(const QString &FName) {
    ini::TIniFile ini(ProgramPath + FName);

    // While minimised, the rectangle the window gets back when restored.
    QRect outer = frameGeometry();
    if (isMinimized() && !isMaximized()) {
        const QMargins m = windowHandle() ? windowHandle()->frameMargins() : QMargins();
        outer = normalGeometry().marginsAdded(m);
    }
    ini.WriteInteger(SecMain, QStringLiteral("left"), outer.left());
    ini.WriteInteger(SecMain, QStringLiteral("top"), outer.top());
    ini.WriteInteger(SecMain, QStringLiteral("width"), outer.width());
    ini.WriteInteger(SecMain, QStringLiteral("height"), outer.height());

    for (const auto &[field, key] : ModbusFields(this))
        ini.WriteInteger(SecModbus, key, field->Value());
    ini.WriteString(SecModbus, QStringLiteral("edText"), edText->text());
    ini.WriteString(SecLan, QStringLiteral("ip"), edIP->text());
    ini.WriteInteger(SecLan, QStringLiteral("port"), sePort->Value());

    for (int i = 0; i < SavedRegs; ++i)
        ini.WriteInteger(SecReg, RegKey(i), Regs[i]);

    // Every entry so far changed only the lines in memory; the file is
    // replaced whole or not at all.
    ini.UpdateFile();
}
