#pragma once
// The traffic log: a painted view over a LogStore, its caret, selection and
// editing kept by a LogControl. Only the rows in view are laid out; with the
// monospaced log font a line's row count follows from its length, so adding
// a line costs the same in a log of any size. The operator may type into it
// like any text field.
#include "LogControl.h"

#include <QAbstractScrollArea>
#include <QBasicTimer>
#include <QStringList>

class QMenu;

namespace ui {

class TMemo : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TMemo(QWidget *parent = nullptr);

    // "Lucida Console" 8 pt, or the nearest monospaced face the system has.
    static QFont DefaultFont();

    // Adds text at the end as one line; a line break inside it (CR LF, LF
    // or CR) starts another line, so a trailing CR LF leaves an empty line.
    // The view then shows the newest line.
    void AddLine(const QString &line);
    void ClearLines() { clear(); }
    void clear();
    QStringList Lines() const { return m_control.Lines(); }
    QString toPlainText() const;
    void setPlainText(const QString &text);

    const trafficlog::LogStore &Store() const { return m_control.Store(); }

    using Position = trafficlog::Position;
    Position Caret() const { return m_control.Caret(); }
    Position Anchor() const { return m_control.Anchor(); }
    void SetCaret(Position caret, bool keepAnchor = false);
    bool HasSelection() const { return m_control.HasSelection(); }
    QString SelectedText() const { return m_control.SelectedText(); }

    void selectAll();
    void copy() const;
    void cut();
    void paste();
    void InsertText(const QString &text); // at the caret, over the selection

    // Writes every line to path with its local time (UTF-8, CR LF), through
    // a temporary file: a failed save leaves an existing file as it was.
    // Shows a progress dialog when the save takes longer than half a second
    // and says why in a box when it fails. Returns whether the file was saved.
    bool SaveLog(const QString &path); // (MemoMenu.cpp, with the menu)
    void SaveLogAs();                  // asks for the file name first

    QMenu *CreateContextMenu();

    // Geometry of the text grid (tests and the benchmark).
    int Columns() const { return Store().Columns(); }
    int VisibleRows() const;
    QRect CaretRect() const;
    Position PositionAt(QPoint viewportPoint) const;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void UpdateMetrics();
    void UpdateScrollRange();
    void ScrollToBottom();
    void EnsureCaretVisible();
    void RestartBlink();
    bool HandleKey(QKeyEvent *event);
    void Edited(); // after the caret moved or the text changed

    trafficlog::LogControl m_control;
    trafficlog::LogStore &m_store = m_control.Store();
    qreal m_charWidth = 7;
    int m_lineHeight = 13;
    int m_ascent = 10;
    bool m_caretOn = true;
    bool m_dragging = false;
    QBasicTimer m_blink;
};

} // namespace ui
