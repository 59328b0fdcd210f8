#pragma once
// One-line edits with a typing limit that applies only to what the user
// types or pastes, the numeric spin edit, caption labels and push buttons.
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <cstdint>

class QLabel;
class QToolButton;

namespace ui {

// A line edit whose typing limit never cuts text set by the program
// (QLineEdit::maxLength would).
class TLimitEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TLimitEdit(QWidget *parent = nullptr);

    void SetTypingLimit(int limit) { m_limit = limit; } // 0: none
    int TypingLimit() const { return m_limit; }

    // Inserts text at the cursor as a paste would (typing limit, filters).
    // Returns false when the paste was refused.
    bool PasteText(const QString &clip);

protected:
    // Whether a typed character may be inserted.
    virtual bool AcceptTyped(QChar) const { return true; }
    // Whether the text that a paste would produce may stand.
    virtual bool AcceptPasted(const QString &) const { return true; }

    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

private:
    int RoomLeft() const;
    int m_limit = 0;
};

// Numeric field. Reading and setting follow the integer text rules without
// any clamping to the design range; Changed fires only when the text changes.
class TSpinEdit : public TLimitEdit {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget *parent = nullptr);

    void SetRange(int32_t minValue, int32_t maxValue);
    int32_t MinValue() const { return m_min; }
    int32_t MaxValue() const { return m_max; }

    // Empty text reads 0, text that is not a number the lower bound.
    int32_t Value() const;
    void SetValue(int32_t value);
    void StepBy(int32_t delta);

signals:
    void Changed();

protected:
    bool AcceptTyped(QChar c) const override;
    bool AcceptPasted(const QString &text) const override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void OnTextChanged(const QString &text);

    int32_t m_min = 0;
    int32_t m_max = 100;
    QString m_lastText;
    QToolButton *m_up = nullptr;
    QToolButton *m_down = nullptr;
};

// A push button that Return and Enter (the keypad's too) press while it has
// the focus, as Space does, with or without a dialog around it.
class TButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// Puts a caption label to the left of field: its right edge 4 px left of the
// field, vertically centred on it, following the field when it moves.
QLabel *AttachLabel(QWidget *field, const QString &caption);

// Plain edit with its caption label.
class TLabeledEdit : public TLimitEdit {
    Q_OBJECT
public:
    TLabeledEdit(const QString &caption, QWidget *parent);
    QLabel *EditLabel() const { return m_label; }

private:
    QLabel *m_label;
};

} // namespace ui
