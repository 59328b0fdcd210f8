#include "Edits.h"
#include "IntText.h"
#include "TypedText.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QToolButton>
#include <QWheelEvent>
#include <climits>

namespace ui {

// ---- TLimitEdit -------------------------------------------------------------

TLimitEdit::TLimitEdit(QWidget *parent) : QLineEdit(parent) {
    // Drops would bypass the typing limit and the filters.
    setAcceptDrops(false);
}

int TLimitEdit::RoomLeft() const {
    if (m_limit <= 0)
        return INT_MAX;
    return m_limit - int(text().size() - selectedText().size());
}

bool TLimitEdit::PasteText(const QString &clip) {
    if (isReadOnly() || clip.isEmpty())
        return true;
    const int room = RoomLeft();
    if (room <= 0) {
        QApplication::beep();
        return false;
    }
    const QString piece = clip.left(room);
    QString result = text();
    int from = cursorPosition();
    int len = 0;
    if (hasSelectedText()) {
        from = selectionStart();
        len = int(selectedText().size());
    }
    result.replace(from, len, piece);
    if (!AcceptPasted(result)) {
        QApplication::beep();
        return false;
    }
    insert(piece);
    return true;
}

void TLimitEdit::keyPressEvent(QKeyEvent *event) {
    if (event->matches(QKeySequence::Paste)) {
        PasteText(QApplication::clipboard()->text());
        event->accept();
        return;
    }
    const QString typed = event->text();
    if (IsTypedText(event)) {
        for (QChar c : typed) {
            if (!AcceptTyped(c)) {
                QApplication::beep();
                event->accept();
                return;
            }
        }
        if (RoomLeft() < typed.size()) {
            QApplication::beep();
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TLimitEdit::contextMenuEvent(QContextMenuEvent *event) {
    QMenu *menu = createStandardContextMenu();
    for (QAction *action : menu->actions()) {
        if (action->objectName() == QLatin1String("edit-paste")) {
            action->disconnect();
            connect(action, &QAction::triggered, this,
                    [this] { PasteText(QApplication::clipboard()->text()); });
        }
    }
    menu->exec(event->globalPos());
    delete menu;
}

void TLimitEdit::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::MiddleButton) {
        QClipboard *cb = QApplication::clipboard();
        if (cb->supportsSelection())
            PasteText(cb->text(QClipboard::Selection));
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void TLimitEdit::inputMethodEvent(QInputMethodEvent *event) {
    const QString commit = event->commitString();
    bool ok = RoomLeft() >= commit.size();
    for (QChar c : commit)
        ok = ok && AcceptTyped(c);
    if (!ok) {
        QApplication::beep();
        event->ignore();
        return;
    }
    QLineEdit::inputMethodEvent(event);
}

// ---- TSpinEdit --------------------------------------------------------------

TSpinEdit::TSpinEdit(QWidget *parent) : TLimitEdit(parent) {
    auto makeButton = [this](Qt::ArrowType arrow, int32_t delta) {
        auto *b = new QToolButton(this);
        b->setArrowType(arrow);
        b->setAutoRepeat(true);
        b->setFocusPolicy(Qt::NoFocus);
        b->setCursor(Qt::ArrowCursor);
        connect(b, &QToolButton::clicked, this, [this, delta] { StepBy(delta); });
        return b;
    };
    m_up = makeButton(Qt::UpArrow, 1);
    m_up->setObjectName(QStringLiteral("spinUp"));
    m_down = makeButton(Qt::DownArrow, -1);
    m_down->setObjectName(QStringLiteral("spinDown"));
    setTextMargins(0, 0, 16, 0);
    m_lastText = text();
    connect(this, &QLineEdit::textChanged, this, &TSpinEdit::OnTextChanged);
}

void TSpinEdit::SetRange(int32_t minValue, int32_t maxValue) {
    m_min = minValue;
    m_max = maxValue;
}

int32_t TSpinEdit::Value() const {
    const QString t = text().trimmed();
    if (t.isEmpty())
        return 0;
    int32_t v = 0;
    return core::TryStrToInt(t, v) ? v : m_min;
}

void TSpinEdit::SetValue(int32_t value) {
    const QString t = QString::number(value);
    if (t != text())
        setText(t);
}

void TSpinEdit::StepBy(int32_t delta) {
    // Wraps like the 32-bit value it is; no clamping to the design range.
    SetValue(int32_t(uint32_t(Value()) + uint32_t(delta)));
}

void TSpinEdit::OnTextChanged(const QString &text) {
    if (text == m_lastText)
        return;
    m_lastText = text;
    emit Changed();
}

bool TSpinEdit::AcceptTyped(QChar c) const {
    return (c >= u'0' && c <= u'9') || c == u'+' || c == u'-';
}

bool TSpinEdit::AcceptPasted(const QString &text) const {
    return core::IsLocaleNumber(text.trimmed(), QLocale());
}

void TSpinEdit::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Up:
        StepBy(1);
        return;
    case Qt::Key_Down:
        StepBy(-1);
        return;
    case Qt::Key_PageUp:
        StepBy(10);
        return;
    case Qt::Key_PageDown:
        StepBy(-10);
        return;
    default:
        TLimitEdit::keyPressEvent(event);
    }
}

void TSpinEdit::wheelEvent(QWheelEvent *event) {
    // A wheel turned over a field the operator is not editing scrolls past
    // it rather than changing its value.
    if (!hasFocus()) {
        event->ignore();
        return;
    }
    const int dy = event->angleDelta().y();
    if (dy > 0)
        StepBy(1);
    else if (dy < 0)
        StepBy(-1);
    event->accept();
}

void TSpinEdit::resizeEvent(QResizeEvent *event) {
    TLimitEdit::resizeEvent(event);
    const int w = 15;
    const int h = height() - 2;
    m_up->setGeometry(width() - w - 1, 1, w, h / 2);
    m_down->setGeometry(width() - w - 1, 1 + h / 2, w, h - h / 2);
}

// ---- TButton ----------------------------------------------------------------

void TButton::keyPressEvent(QKeyEvent *event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // A held key presses once, as Space does.
        if (!event->isAutoRepeat())
            click();
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

// ---- caption labels ---------------------------------------------------------

namespace {
class LabelFollower : public QObject {
public:
    LabelFollower(QWidget *field, QLabel *label) : QObject(field), m_field(field), m_label(label) {
        field->installEventFilter(this);
        Place();
    }
    void Place() {
        m_label->adjustSize();
        m_label->move(m_field->x() - 4 - m_label->width(),
                      m_field->y() + (m_field->height() - m_label->height()) / 2);
    }
    bool eventFilter(QObject *, QEvent *e) override {
        if (e->type() == QEvent::Move || e->type() == QEvent::Resize || e->type() == QEvent::Show)
            Place();
        return false;
    }

private:
    QWidget *m_field;
    QLabel *m_label;
};
} // namespace

QLabel *AttachLabel(QWidget *field, const QString &caption) {
    auto *label = new QLabel(caption, field->parentWidget());
    label->setAutoFillBackground(false);
    label->setAttribute(Qt::WA_TranslucentBackground);
    label->setBuddy(field);
    new LabelFollower(field, label);
    return label;
}

TLabeledEdit::TLabeledEdit(const QString &caption, QWidget *parent)
    : TLimitEdit(parent), m_label(AttachLabel(this, caption)) {}

} // namespace ui
