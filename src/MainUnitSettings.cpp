// Settings file beside the executable: window place and size, the Modbus,
// range, text and address fields and Regs[0..155].
#include "Edits.h"
#include "IniFile.h"
#include "MainUnit.h"

#include <QEvent>
#include <QTimer>
#include <QWindow>

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

    // Each value goes to the window at once; move() places the outer frame
    // of a top-level window, resize() takes the client size, so the frame
    // (as far as it is known yet) comes off the outer size.
    const int32_t left = ini.ReadInteger(SecMain, QStringLiteral("left"), 1);
    move(left, pos().y());
    const int32_t top = ini.ReadInteger(SecMain, QStringLiteral("top"), 1);
    move(pos().x(), top);
    const int32_t outerWidth = ini.ReadInteger(SecMain, QStringLiteral("width"), 999);
    resize(outerWidth - (frameGeometry().width() - width()), height());
    const int32_t outerHeight = ini.ReadInteger(SecMain, QStringLiteral("height"), 819);
    resize(width(), outerHeight - (frameGeometry().height() - height()));

    auto *outer =
        findChild<OuterGeometry *>(QStringLiteral("OuterGeometry"), Qt::FindDirectChildrenOnly);
    if (!outer)
        outer = new OuterGeometry(this);
    outer->Request(QRect(left, top, outerWidth, outerHeight));

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
