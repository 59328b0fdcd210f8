#pragma once
// The traffic log: a painted view over a LogStore. Only the rows in view are
// laid out; with the monospaced log font a line's row count follows from its
// length, so adding a line costs the same in a log of any size. The
// operator may type into it like any text field.
#include "LogStore.h"

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
    QStringList Lines() const;
    QString toPlainText() const;
    void setPlainText(const QString &text);

    const LogStore &Store() const { return m_store; }

    struct Position {
        qsizetype line = 0;
        int column = 0; // UTF-16 code units into the line
        friend bool operator==(const Position &, const Position &) = default;
        friend auto operator<=>(const Position &, const Position &) = default;
    };
    Position Caret() const { return m_caret; }
    Position Anchor() const { return m_anchor; }
    void SetCaret(Position caret, bool keepAnchor = false);
    bool HasSelection() const { return m_caret != m_anchor; }
    QString SelectedText() const;

    void selectAll();
    void copy() const;
    void cut();
    void paste();
    void InsertText(const QString &text); // at the caret, over the selection

    // Writes every line to path with its local time (UTF-8, CR LF), through
    // a temporary file: a failed save leaves an existing file as it was.
    // Shows a progress dialog when the save takes longer than half a second
    // and says why in a box when it fails. Returns whether the file was saved.
    bool SaveLog(const QString &path);
    void SaveLogAs(); // asks for the file name first

    QMenu *CreateContextMenu();

    // Geometry of the text grid (tests and the benchmark).
    int Columns() const { return m_store.Columns(); }
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
    void DeleteSelection();
    void DeleteRange(Position from, Position to);
    bool HandleStandardKey(QKeyEvent *event);
    void MoveCaret(Position to, bool select);
    Position Clamp(Position p) const;
    Position RowStart(Position p) const;
    Position RowEnd(Position p) const;
    Position RowsAway(Position p, int64_t rows) const;
    Position WordLeft(Position p) const;
    Position WordRight(Position p) const;
    int64_t RowOf(Position p) const;
    int LineLength(qsizetype line) const { return m_store.Length(line); }
    qsizetype LineCount() const { return std::max<qsizetype>(m_store.Count(), 1); }

    LogStore m_store;
    Position m_caret;
    Position m_anchor;
    int m_goalColumn = -1; // column kept by Up, Down and the page keys
    qreal m_charWidth = 7;
    int m_lineHeight = 13;
    int m_ascent = 10;
    bool m_caretOn = true;
    bool m_dragging = false;
    QBasicTimer m_blink;
};

} // namespace ui
