#include "LogControl.h"

#include <algorithm>

namespace trafficlog {

namespace {

bool IsWordChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

bool IsVertical(Move move) {
    return move == Move::NextRow || move == Move::PreviousRow || move == Move::NextPage ||
           move == Move::PreviousPage;
}

} // namespace

// ---- lines ------------------------------------------------------------------

void LogControl::AddLine(QStringView text, int64_t now) {
    if (m_store.Count() == 1 && m_store.Length(0) == 0)
        m_store.Clear();
    ForEachLine(text, [&](QStringView piece) { m_store.Append(piece, now); });
}

void LogControl::SetText(QStringView text, int64_t now) {
    m_store.Clear();
    if (!text.isEmpty())
        ForEachLine(text, [&](QStringView piece) { m_store.Append(piece, now); });
    m_caret = m_anchor = {};
    m_goalColumn = -1;
}

void LogControl::Clear() {
    SetText({}, 0);
}

QStringList LogControl::Lines() const {
    QStringList lines;
    if (m_store.Count() == 1 && m_store.Length(0) == 0)
        return lines;
    lines.reserve(m_store.Count());
    for (qsizetype i = 0; i < m_store.Count(); ++i)
        lines << m_store.Line(i);
    return lines;
}

// ---- positions --------------------------------------------------------------

Position LogControl::Clamp(Position p) const {
    if (m_store.IsEmpty())
        return {};
    p.line = std::clamp<qsizetype>(p.line, 0, m_store.Count() - 1);
    p.column = std::clamp(p.column, 0, Length(p.line));
    return p;
}

Position LogControl::End() const {
    if (m_store.IsEmpty())
        return {};
    const qsizetype last = m_store.Count() - 1;
    return {last, Length(last)};
}

int LogControl::RowInLine(Position p) const {
    if (m_store.IsEmpty())
        return 0;
    return std::min(p.column / m_store.Columns(), m_store.RowsOf(p.line) - 1);
}

int64_t LogControl::RowOf(Position p) const {
    if (m_store.IsEmpty())
        return 0;
    return m_store.FirstRowOf(p.line) + RowInLine(p);
}

Position LogControl::RowStart(Position p) const {
    if (m_store.IsEmpty())
        return {};
    return {p.line, RowInLine(p) * m_store.Columns()};
}

Position LogControl::RowEnd(Position p) const {
    if (m_store.IsEmpty())
        return {};
    const int sub = RowInLine(p);
    // A wrapped row ends before the first character of the next row.
    return {p.line,
            sub == m_store.RowsOf(p.line) - 1 ? Length(p.line) : (sub + 1) * m_store.Columns() - 1};
}

Position LogControl::OnRow(int64_t row, int offset) const {
    if (m_store.IsEmpty())
        return {};
    if (row < 0)
        return {0, 0};
    if (row >= m_store.Rows())
        return End();
    const LogStore::RowPos rp = m_store.LineAtRow(row);
    const int start = rp.sub * m_store.Columns();
    const int end = std::min(Length(rp.line), start + m_store.Columns());
    return {rp.line, std::clamp(start + offset, start, end)};
}

Position LogControl::RowsAway(Position p, int64_t rows) const {
    if (m_store.IsEmpty())
        return {};
    const int columns = m_store.Columns();
    const int64_t row = std::clamp<int64_t>(RowOf(p) + rows, 0, m_store.Rows() - 1);
    const int goal = m_goalColumn >= 0 ? m_goalColumn : p.column - RowStart(p).column;
    const LogStore::RowPos rp = m_store.LineAtRow(row);
    const int start = rp.sub * columns;
    const bool lastRow = rp.sub == m_store.RowsOf(rp.line) - 1;
    const int end = lastRow ? Length(rp.line) : start + columns - 1;
    return {rp.line, std::min(start + goal, end)};
}

Position LogControl::NextChar(Position p) const {
    if (p.column < Length(p.line))
        return {p.line, p.column + 1};
    return p.line + 1 < m_store.Count() ? Position{p.line + 1, 0} : p;
}

Position LogControl::PreviousChar(Position p) const {
    if (p.column > 0)
        return {p.line, p.column - 1};
    return p.line > 0 ? Position{p.line - 1, Length(p.line - 1)} : p;
}

Position LogControl::WordLeft(Position p) const {
    if (p.column == 0)
        return PreviousChar(p);
    const QString text = m_store.Line(p.line);
    int c = p.column;
    while (c > 0 && !IsWordChar(text[c - 1]))
        --c;
    while (c > 0 && IsWordChar(text[c - 1]))
        --c;
    return {p.line, c};
}

Position LogControl::WordRight(Position p) const {
    const int length = Length(p.line);
    if (p.column >= length)
        return NextChar(p);
    const QString text = m_store.Line(p.line);
    int c = p.column;
    while (c < length && IsWordChar(text[c]))
        ++c;
    while (c < length && !IsWordChar(text[c]))
        ++c;
    return {p.line, c};
}

Position LogControl::Target(Move move, Position p, int pageRows) const {
    switch (move) {
    case Move::NextChar:
        return NextChar(p);
    case Move::PreviousChar:
        return PreviousChar(p);
    case Move::NextWord:
        return WordRight(p);
    case Move::PreviousWord:
        return WordLeft(p);
    case Move::NextRow:
        return RowsAway(p, 1);
    case Move::PreviousRow:
        return RowsAway(p, -1);
    case Move::NextPage:
        return RowsAway(p, pageRows);
    case Move::PreviousPage:
        return RowsAway(p, -int64_t(pageRows));
    case Move::StartOfRow:
        return RowStart(p);
    case Move::EndOfRow:
        return RowEnd(p);
    case Move::StartOfLog:
        return {};
    case Move::EndOfLog:
        return End();
    }
    return p;
}

// ---- caret and selection ------------------------------------------------------

QString LogControl::SelectedText() const {
    const Position from = std::min(m_caret, m_anchor);
    const Position to = std::max(m_caret, m_anchor);
    if (from == to)
        return {};
    if (from.line == to.line)
        return m_store.Line(from.line).mid(from.column, to.column - from.column);
    QString text = m_store.Line(from.line).mid(from.column);
    for (qsizetype i = from.line + 1; i < to.line; ++i) {
        text += u'\n';
        text += m_store.Line(i);
    }
    text += u'\n';
    text += m_store.Line(to.line).left(to.column);
    return text;
}

void LogControl::SetCaret(Position caret, bool keepAnchor) {
    m_goalColumn = -1;
    m_caret = Clamp(caret);
    if (!keepAnchor)
        m_anchor = m_caret;
}

void LogControl::Apply(Move move, bool select, int pageRows) {
    Position to;
    if (!select && HasSelection() && move == Move::NextChar)
        to = std::max(m_caret, m_anchor);
    else if (!select && HasSelection() && move == Move::PreviousChar)
        to = std::min(m_caret, m_anchor);
    else
        to = Target(move, m_caret, pageRows);
    if (!IsVertical(move))
        m_goalColumn = -1;
    else if (m_goalColumn < 0)
        m_goalColumn = m_caret.column - RowStart(m_caret).column;
    m_caret = Clamp(to);
    if (!select)
        m_anchor = m_caret;
}

void LogControl::SelectAll() {
    if (m_store.IsEmpty())
        return;
    m_anchor = {0, 0};
    m_caret = End();
    m_goalColumn = -1;
}

void LogControl::SelectWordAt(Position p) {
    if (m_store.IsEmpty())
        return;
    p = Clamp(p);
    const QString text = m_store.Line(p.line);
    int from = p.column, to = p.column;
    while (from > 0 && IsWordChar(text[from - 1]))
        --from;
    while (to < text.size() && IsWordChar(text[to]))
        ++to;
    m_anchor = {p.line, from};
    m_caret = {p.line, to};
    m_goalColumn = -1;
}

// ---- editing ------------------------------------------------------------------

void LogControl::DeleteSelection() {
    const Position from = std::min(m_caret, m_anchor);
    const Position to = std::max(m_caret, m_anchor);
    if (from.line == to.line) {
        if (from.column < to.column) {
            QString text = m_store.Line(from.line);
            text.remove(from.column, to.column - from.column);
            m_store.Replace(from.line, text);
        }
    } else {
        m_store.Replace(from.line, m_store.Line(from.line).left(from.column) +
                                       m_store.Line(to.line).mid(to.column));
        m_store.Remove(from.line + 1, to.line - from.line);
    }
    m_caret = m_anchor = from;
}

void LogControl::Delete(Move move) {
    if (!HasSelection() && !m_store.IsEmpty())
        m_caret = Target(move, m_caret, 0);
    DeleteSelection();
    m_goalColumn = -1;
}

void LogControl::Insert(QStringView text, int64_t now) {
    if (m_store.IsEmpty())
        m_store.Append(u"", now);
    DeleteSelection();
    const Position at = m_caret;
    const QString current = m_store.Line(at.line);
    const QString tail = current.mid(at.column);
    QString head = current.left(at.column);
    qsizetype line = at.line;
    bool first = true;
    int column = 0;
    ForEachLine(text, [&](QStringView piece) {
        if (first) {
            head += piece;
            m_store.Replace(line, head);
            column = int(head.size());
            first = false;
        } else {
            m_store.Insert(++line, piece, now);
            column = int(piece.size());
        }
    });
    if (!tail.isEmpty())
        m_store.Replace(line, m_store.Line(line) + tail);
    m_goalColumn = -1;
    m_caret = m_anchor = Position{line, column};
}

} // namespace trafficlog
