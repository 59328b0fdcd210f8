#pragma once
// The traffic log's caret, selection and editing over its LogStore, with no
// widget: positions, moves by character, word, wrapped row, page and line
// end, selecting, deleting and typing. The widget turns keys and clicks into
// these calls and paints the result.
#include "LogStore.h"

#include <QStringList>
#include <QStringView>

namespace trafficlog {

struct Position {
    qsizetype line = 0;
    int column = 0; // UTF-16 code units into the line
    friend bool operator==(const Position &, const Position &) = default;
    friend auto operator<=>(const Position &, const Position &) = default;
};

// Where a movement key takes the caret. Rows are the wrapped rows on
// screen; a page is the rows in view.
enum class Move {
    NextChar,
    PreviousChar,
    NextWord,
    PreviousWord,
    NextRow,
    PreviousRow,
    NextPage,
    PreviousPage,
    StartOfRow,
    EndOfRow,
    StartOfLog,
    EndOfLog,
};

// Calls f for each piece of text between line breaks (CR LF, LF or CR).
template <typename F> void ForEachLine(QStringView text, F f) {
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\n' && c != u'\r')
            continue;
        f(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    f(text.mid(start));
}

class LogControl {
public:
    LogStore &Store() { return m_store; }
    const LogStore &Store() const { return m_store; }

    // Adds text at the end as one line, a line break inside it starting
    // another; the first line added takes the place of an empty log's line.
    void AddLine(QStringView text, int64_t now);
    void SetText(QStringView text, int64_t now); // caret to the start
    void Clear();
    QStringList Lines() const; // none for an empty log

    Position Caret() const { return m_caret; }
    Position Anchor() const { return m_anchor; }
    bool HasSelection() const { return m_caret != m_anchor; }
    QString SelectedText() const;
    // Moves the caret (clamped into the log); keepAnchor extends the selection.
    void SetCaret(Position caret, bool keepAnchor = false);
    // The caret as a key moves it: Up and Down keep their column across
    // short rows; without select a character key collapses a selection to
    // its side. pageRows: the rows a page key moves.
    void Apply(Move move, bool select, int pageRows);
    void SelectAll();
    void SelectWordAt(Position p);

    // Replaces the selection with text; the caret's line keeps its time,
    // lines that a break in text starts get now.
    void Insert(QStringView text, int64_t now);
    // Deletes the selection, or without one from the caret to where move
    // takes it.
    void Delete(Move move);
    void DeleteSelection();

    // Positions on the wrapped rows.
    int RowInLine(Position p) const;
    int64_t RowOf(Position p) const;
    // The character `offset` columns into a row, or its end.
    Position OnRow(int64_t row, int offset) const;

private:
    Position Clamp(Position p) const;
    Position End() const;
    Position RowStart(Position p) const;
    Position RowEnd(Position p) const;
    Position Target(Move move, Position p, int pageRows) const;
    Position NextChar(Position p) const;
    Position PreviousChar(Position p) const;
    Position WordLeft(Position p) const;
    Position WordRight(Position p) const;
    Position RowsAway(Position p, int64_t rows) const;
    int Length(qsizetype line) const { return m_store.Length(line); }

    LogStore m_store;
    Position m_caret;
    Position m_anchor;
    int m_goalColumn = -1; // column within the row kept by Up, Down and the page keys
};

} // namespace trafficlog
