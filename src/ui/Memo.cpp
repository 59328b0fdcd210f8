#include "Memo.h"
#include "Dispatch.h"
#include "LogFile.h"
#include "MessageBox.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QProgressDialog>
#include <QSaveFile>
#include <QScrollBar>
#include <QStandardPaths>

#include <memory>

namespace ui {

namespace {

constexpr int Margin = 4; // between the frame and the text, as a plain text edit has

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

bool IsWordChar(QChar c) {
    return c.isLetterOrNumber() || c == u'_';
}

// Control characters take one column like any other.
QString Printable(QString s) {
    for (QChar &c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = u' ';
    return s;
}

} // namespace

TMemo::TMemo(QWidget *parent) : QAbstractScrollArea(parent) {
    setFont(DefaultFont());
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    viewport()->setCursor(Qt::IBeamCursor);
    // paintEvent fills the base colour itself, also under a style sheet
    // that leaves the view transparent.
    viewport()->setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(1);
    UpdateMetrics();
}

QFont TMemo::DefaultFont() {
    QFont f;
    f.setFamilies({QStringLiteral("Lucida Console"), QStringLiteral("DejaVu Sans Mono"),
                   QStringLiteral("Liberation Mono"), QStringLiteral("Monospace")});
    f.setStyleHint(QFont::Monospace);
    f.setPixelSize(11); // 8 pt at 96 dpi
    // Hex and plain messages: a monospaced face needs no shaping or kerning,
    // and every character then takes one column.
    f.setStyleStrategy(QFont::PreferNoShaping);
    f.setKerning(false);
    return f;
}

// ---- lines ------------------------------------------------------------------

void TMemo::AddLine(const QString &line) {
    const int64_t now = NowMicroseconds();
    // An empty log is one empty line; the first line added takes its place.
    if (m_store.Count() == 1 && m_store.Length(0) == 0)
        m_store.Clear();
    ForEachLine(line, [&](QStringView piece) { m_store.Append(piece, now); });
    UpdateScrollRange();
    ScrollToBottom();
    viewport()->update();
}

void TMemo::clear() {
    m_store.Clear();
    m_caret = m_anchor = {};
    m_goalColumn = -1;
    UpdateScrollRange();
    viewport()->update();
}

QStringList TMemo::Lines() const {
    QStringList lines;
    if (m_store.Count() == 1 && m_store.Length(0) == 0)
        return lines;
    lines.reserve(m_store.Count());
    for (qsizetype i = 0; i < m_store.Count(); ++i)
        lines << m_store.Line(i);
    return lines;
}

QString TMemo::toPlainText() const {
    return Lines().join(u'\n');
}

void TMemo::setPlainText(const QString &text) {
    m_store.Clear();
    const int64_t now = NowMicroseconds();
    if (!text.isEmpty())
        ForEachLine(text, [&](QStringView piece) { m_store.Append(piece, now); });
    m_caret = m_anchor = {};
    m_goalColumn = -1;
    UpdateScrollRange();
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

// ---- geometry -----------------------------------------------------------------

void TMemo::UpdateMetrics() {
    const QFontMetricsF fm(font());
    const QString sample(64, u'0');
    m_charWidth = std::max<qreal>(fm.horizontalAdvance(sample) / sample.size(), 1);
    const QFontMetrics fi(font());
    m_lineHeight = std::max(fi.lineSpacing(), 1);
    m_ascent = fi.ascent();
    int columns = int((viewport()->width() - 2 * Margin) / m_charWidth);
    // A hex pair with its space takes three columns, and "Send: " and
    // "Receive: " take six and nine: rows of a multiple of three columns
    // break those lines between pairs.
    if (columns >= 3)
        columns -= columns % 3;
    if (std::max(columns, 1) != m_store.Columns()) {
        // Keep the first line in view (or the newest, at the bottom).
        auto *bar = verticalScrollBar();
        const bool atBottom = bar->value() >= bar->maximum();
        const qsizetype topLine = m_store.LineAtRow(bar->value()).line;
        m_store.SetColumns(columns);
        UpdateScrollRange();
        if (atBottom)
            ScrollToBottom();
        else
            bar->setValue(int(std::min<int64_t>(m_store.FirstRowOf(topLine), INT_MAX)));
    } else {
        UpdateScrollRange();
    }
    viewport()->update();
}

int TMemo::VisibleRows() const {
    return std::max((viewport()->height() - 2 * Margin) / m_lineHeight, 1);
}

void TMemo::UpdateScrollRange() {
    auto *bar = verticalScrollBar();
    const int visible = VisibleRows();
    const int64_t maximum = std::max<int64_t>(m_store.Rows() - visible, 0);
    bar->setRange(0, int(std::min<int64_t>(maximum, INT_MAX)));
    bar->setPageStep(visible);
}

void TMemo::ScrollToBottom() {
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TMemo::scrollContentsBy(int, int) {
    // Repainting the rows is cheaper than moving the view's pixels.
    viewport()->update();
}

void TMemo::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    UpdateMetrics();
}

void TMemo::changeEvent(QEvent *event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        UpdateMetrics();
}

TMemo::Position TMemo::Clamp(Position p) const {
    if (m_store.IsEmpty())
        return {};
    p.line = std::clamp<qsizetype>(p.line, 0, m_store.Count() - 1);
    p.column = std::clamp(p.column, 0, LineLength(p.line));
    return p;
}

int64_t TMemo::RowOf(Position p) const {
    if (m_store.IsEmpty())
        return 0;
    const int columns = m_store.Columns();
    const int sub = std::min(p.column / columns, m_store.RowsOf(p.line) - 1);
    return m_store.FirstRowOf(p.line) + sub;
}

QRect TMemo::CaretRect() const {
    const int64_t row = RowOf(m_caret) - verticalScrollBar()->value();
    const int columns = m_store.Columns();
    const int sub = m_store.IsEmpty()
                        ? 0
                        : std::min(m_caret.column / columns, m_store.RowsOf(m_caret.line) - 1);
    const int x = Margin + qRound((m_caret.column - sub * columns) * m_charWidth);
    const int y = Margin + int(row) * m_lineHeight;
    return QRect(x, y, 1, m_lineHeight);
}

TMemo::Position TMemo::PositionAt(QPoint point) const {
    if (m_store.IsEmpty())
        return {};
    const int64_t row =
        verticalScrollBar()->value() + qFloor(qreal(point.y() - Margin) / m_lineHeight);
    if (row < 0)
        return {0, 0};
    if (row >= m_store.Rows()) {
        const qsizetype last = m_store.Count() - 1;
        return {last, LineLength(last)};
    }
    const LogStore::RowPos rp = m_store.LineAtRow(row);
    const int columns = m_store.Columns();
    const int start = rp.sub * columns;
    const int end = std::min(LineLength(rp.line), start + columns);
    const int column = start + qRound(qreal(point.x() - Margin) / m_charWidth);
    return {rp.line, std::clamp(column, start, end)};
}

TMemo::Position TMemo::RowStart(Position p) const {
    if (m_store.IsEmpty())
        return {};
    const int columns = m_store.Columns();
    const int sub = std::min(p.column / columns, m_store.RowsOf(p.line) - 1);
    return {p.line, sub * columns};
}

TMemo::Position TMemo::RowEnd(Position p) const {
    if (m_store.IsEmpty())
        return {};
    const int columns = m_store.Columns();
    const int rows = m_store.RowsOf(p.line);
    const int sub = std::min(p.column / columns, rows - 1);
    // A wrapped row ends before the first character of the next row.
    return {p.line, sub == rows - 1 ? LineLength(p.line) : (sub + 1) * columns - 1};
}

TMemo::Position TMemo::RowsAway(Position p, int64_t rows) const {
    if (m_store.IsEmpty())
        return {};
    const int columns = m_store.Columns();
    const int64_t row = std::clamp<int64_t>(RowOf(p) + rows, 0, m_store.Rows() - 1);
    const int goal = m_goalColumn >= 0 ? m_goalColumn : p.column - RowStart(p).column;
    const LogStore::RowPos rp = m_store.LineAtRow(row);
    const int start = rp.sub * columns;
    const bool lastRow = rp.sub == m_store.RowsOf(rp.line) - 1;
    const int end = lastRow ? LineLength(rp.line) : start + columns - 1;
    return {rp.line, std::min(start + goal, end)};
}

TMemo::Position TMemo::WordLeft(Position p) const {
    if (p.column == 0)
        return p.line > 0 ? Position{p.line - 1, LineLength(p.line - 1)} : p;
    const QString text = m_store.Line(p.line);
    int c = p.column;
    while (c > 0 && !IsWordChar(text[c - 1]))
        --c;
    while (c > 0 && IsWordChar(text[c - 1]))
        --c;
    return {p.line, c};
}

TMemo::Position TMemo::WordRight(Position p) const {
    const int length = LineLength(p.line);
    if (p.column >= length)
        return p.line + 1 < m_store.Count() ? Position{p.line + 1, 0} : p;
    const QString text = m_store.Line(p.line);
    int c = p.column;
    while (c < length && IsWordChar(text[c]))
        ++c;
    while (c < length && !IsWordChar(text[c]))
        ++c;
    return {p.line, c};
}

void TMemo::EnsureCaretVisible() {
    auto *bar = verticalScrollBar();
    const int64_t row = RowOf(m_caret);
    if (row < bar->value())
        bar->setValue(int(row));
    else if (row >= bar->value() + VisibleRows())
        bar->setValue(int(row - VisibleRows() + 1));
}

void TMemo::SetCaret(Position caret, bool keepAnchor) {
    m_goalColumn = -1;
    MoveCaret(caret, keepAnchor);
}

void TMemo::MoveCaret(Position to, bool select) {
    m_caret = Clamp(to);
    if (!select)
        m_anchor = m_caret;
    EnsureCaretVisible();
    RestartBlink();
    viewport()->update();
}

// ---- painting -------------------------------------------------------------------

void TMemo::paintEvent(QPaintEvent *event) {
    QPainter painter(viewport());
    const QPalette &pal = viewport()->palette();
    painter.fillRect(event->rect(), pal.brush(QPalette::Base));
    painter.setFont(font());
    const int columns = m_store.Columns();
    const Position selFrom = std::min(m_caret, m_anchor);
    const Position selTo = std::max(m_caret, m_anchor);
    const int firstRow = std::max((event->rect().top() - Margin) / m_lineHeight, 0);
    const int lastRow = (event->rect().bottom() - Margin) / m_lineHeight;
    const int64_t top = verticalScrollBar()->value();
    if (!m_store.IsEmpty() && top + firstRow < m_store.Rows()) {
        LogStore::RowPos rp = m_store.LineAtRow(top + firstRow);
        QString text = m_store.Line(rp.line);
        int rowsOfLine = m_store.RowsOf(rp.line);
        for (int r = firstRow; r <= lastRow; ++r) {
            const int y = Margin + r * m_lineHeight;
            const int start = rp.sub * columns;
            const int end = std::min(int(text.size()), start + columns);
            // Selected columns of this row, the line break as one more.
            int s0 = end + 1, s1 = end + 1;
            if (selFrom != selTo && selFrom <= Position{rp.line, end} &&
                Position{rp.line, start} <= selTo) {
                s0 = selFrom.line < rp.line ? start : std::max(selFrom.column, start);
                s1 = selTo.line > rp.line ? end + (rp.sub == rowsOfLine - 1 ? 1 : 0)
                                          : std::min(selTo.column, end);
            }
            const auto x = [&](int column) { return Margin + (column - start) * m_charWidth; };
            if (s0 < s1)
                painter.fillRect(QRectF(x(s0), y, (s1 - s0) * m_charWidth, m_lineHeight),
                                 pal.brush(QPalette::Highlight));
            const auto draw = [&](int from, int to, QPalette::ColorRole role) {
                if (from >= to)
                    return;
                painter.setPen(pal.color(role));
                painter.drawText(QPointF(x(from), y + m_ascent),
                                 Printable(text.mid(from, to - from)));
            };
            const int a = std::clamp(s0, start, end), b = std::clamp(s1, start, end);
            draw(start, a, QPalette::Text);
            draw(a, b, QPalette::HighlightedText);
            draw(b, end, QPalette::Text);
            if (++rp.sub >= rowsOfLine) {
                if (++rp.line >= m_store.Count())
                    break;
                rp.sub = 0;
                text = m_store.Line(rp.line);
                rowsOfLine = m_store.RowsOf(rp.line);
            }
        }
    }
    if (hasFocus() && m_caretOn)
        painter.fillRect(CaretRect(), pal.color(QPalette::Text));
}

void TMemo::RestartBlink() {
    m_caretOn = true;
    const int flash = QApplication::cursorFlashTime();
    if (hasFocus() && flash > 0)
        m_blink.start(flash / 2, this);
    else
        m_blink.stop();
}

void TMemo::timerEvent(QTimerEvent *event) {
    if (event->timerId() != m_blink.timerId()) {
        QAbstractScrollArea::timerEvent(event);
        return;
    }
    m_caretOn = !m_caretOn;
    viewport()->update(CaretRect());
}

void TMemo::focusInEvent(QFocusEvent *event) {
    QAbstractScrollArea::focusInEvent(event);
    RestartBlink();
    viewport()->update(CaretRect());
}

void TMemo::focusOutEvent(QFocusEvent *event) {
    QAbstractScrollArea::focusOutEvent(event);
    m_blink.stop();
    viewport()->update(CaretRect());
}

// ---- editing ---------------------------------------------------------------------

QString TMemo::SelectedText() const {
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

void TMemo::DeleteRange(Position from, Position to) {
    if (to <= from)
        return;
    if (from.line == to.line) {
        QString text = m_store.Line(from.line);
        text.remove(from.column, to.column - from.column);
        m_store.Replace(from.line, text);
    } else {
        m_store.Replace(from.line, m_store.Line(from.line).left(from.column) +
                                       m_store.Line(to.line).mid(to.column));
        m_store.Remove(from.line + 1, to.line - from.line);
    }
    m_caret = m_anchor = from;
}

void TMemo::DeleteSelection() {
    DeleteRange(std::min(m_caret, m_anchor), std::max(m_caret, m_anchor));
}

void TMemo::InsertText(const QString &text) {
    if (m_store.IsEmpty())
        m_store.Append(u"", NowMicroseconds());
    DeleteSelection();
    const int64_t now = NowMicroseconds();
    const Position at = m_caret;
    const QString current = m_store.Line(at.line);
    const QString tail = current.mid(at.column);
    QString head = current.left(at.column);
    qsizetype line = at.line;
    bool first = true;
    int column = 0;
    // The caret's line keeps its time; lines that a break starts get now.
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
    if (!tail.isEmpty()) {
        m_store.Replace(line, m_store.Line(line) + tail);
    }
    m_goalColumn = -1;
    UpdateScrollRange();
    MoveCaret({line, column}, false);
}

void TMemo::selectAll() {
    if (m_store.IsEmpty())
        return;
    m_anchor = {0, 0};
    const qsizetype last = m_store.Count() - 1;
    m_caret = {last, LineLength(last)};
    m_goalColumn = -1;
    EnsureCaretVisible();
    viewport()->update();
}

void TMemo::copy() const {
    if (HasSelection())
        QGuiApplication::clipboard()->setText(SelectedText());
}

void TMemo::cut() {
    if (!HasSelection())
        return;
    copy();
    DeleteSelection();
    UpdateScrollRange();
    MoveCaret(m_caret, false);
}

void TMemo::paste() {
    const QString text = QGuiApplication::clipboard()->text();
    if (!text.isEmpty())
        InsertText(text);
}

bool TMemo::HandleStandardKey(QKeyEvent *e) {
    struct Move {
        QKeySequence::StandardKey move, select;
    };
    static const Move moves[] = {
        {QKeySequence::MoveToNextChar, QKeySequence::SelectNextChar},
        {QKeySequence::MoveToPreviousChar, QKeySequence::SelectPreviousChar},
        {QKeySequence::MoveToNextWord, QKeySequence::SelectNextWord},
        {QKeySequence::MoveToPreviousWord, QKeySequence::SelectPreviousWord},
        {QKeySequence::MoveToNextLine, QKeySequence::SelectNextLine},
        {QKeySequence::MoveToPreviousLine, QKeySequence::SelectPreviousLine},
        {QKeySequence::MoveToNextPage, QKeySequence::SelectNextPage},
        {QKeySequence::MoveToPreviousPage, QKeySequence::SelectPreviousPage},
        {QKeySequence::MoveToStartOfLine, QKeySequence::SelectStartOfLine},
        {QKeySequence::MoveToEndOfLine, QKeySequence::SelectEndOfLine},
        {QKeySequence::MoveToStartOfDocument, QKeySequence::SelectStartOfDocument},
        {QKeySequence::MoveToEndOfDocument, QKeySequence::SelectEndOfDocument},
    };
    for (const Move &m : moves) {
        const bool select = e->matches(m.select);
        if (!select && !e->matches(m.move))
            continue;
        const Position p = m_caret;
        Position to = p;
        bool vertical = false;
        switch (m.move) {
        case QKeySequence::MoveToNextChar:
            if (!select && HasSelection())
                to = std::max(m_caret, m_anchor);
            else if (p.column < LineLength(p.line))
                to.column += 1;
            else if (p.line + 1 < m_store.Count())
                to = {p.line + 1, 0};
            break;
        case QKeySequence::MoveToPreviousChar:
            if (!select && HasSelection())
                to = std::min(m_caret, m_anchor);
            else if (p.column > 0)
                to.column -= 1;
            else if (p.line > 0)
                to = {p.line - 1, LineLength(p.line - 1)};
            break;
        case QKeySequence::MoveToNextWord:
            to = WordRight(p);
            break;
        case QKeySequence::MoveToPreviousWord:
            to = WordLeft(p);
            break;
        case QKeySequence::MoveToNextLine:
        case QKeySequence::MoveToPreviousLine:
        case QKeySequence::MoveToNextPage:
        case QKeySequence::MoveToPreviousPage: {
            vertical = true;
            const bool page = m.move == QKeySequence::MoveToNextPage ||
                              m.move == QKeySequence::MoveToPreviousPage;
            const bool down =
                m.move == QKeySequence::MoveToNextLine || m.move == QKeySequence::MoveToNextPage;
            const int64_t rows = (page ? VisibleRows() : 1) * (down ? 1 : -1);
            if (m_goalColumn < 0)
                m_goalColumn = p.column - RowStart(p).column;
            to = RowsAway(p, rows);
            if (page) // the view moves by the page with the caret
                verticalScrollBar()->setValue(verticalScrollBar()->value() + int(rows));
            break;
        }
        case QKeySequence::MoveToStartOfLine:
            to = RowStart(p);
            break;
        case QKeySequence::MoveToEndOfLine:
            to = RowEnd(p);
            break;
        case QKeySequence::MoveToStartOfDocument:
            to = {0, 0};
            break;
        case QKeySequence::MoveToEndOfDocument:
            to = m_store.IsEmpty() ? Position{}
                                   : Position{m_store.Count() - 1, LineLength(m_store.Count() - 1)};
            break;
        default:
            break;
        }
        if (!vertical)
            m_goalColumn = -1;
        MoveCaret(to, select);
        return true;
    }

    if (e->matches(QKeySequence::SelectAll)) {
        selectAll();
    } else if (e->matches(QKeySequence::Copy)) {
        copy();
    } else if (e->matches(QKeySequence::Cut)) {
        cut();
    } else if (e->matches(QKeySequence::Paste)) {
        paste();
    } else if (e->matches(QKeySequence::InsertParagraphSeparator) ||
               e->matches(QKeySequence::InsertLineSeparator)) {
        InsertText(QStringLiteral("\n"));
    } else if (e->matches(QKeySequence::Delete) || e->key() == Qt::Key_Backspace ||
               e->matches(QKeySequence::DeleteEndOfWord) ||
               e->matches(QKeySequence::DeleteStartOfWord)) {
        if (!HasSelection() && !m_store.IsEmpty()) {
            const Position p = m_caret;
            if (e->matches(QKeySequence::DeleteEndOfWord))
                m_caret = WordRight(p);
            else if (e->matches(QKeySequence::DeleteStartOfWord))
                m_caret = WordLeft(p);
            else if (e->key() == Qt::Key_Backspace)
                m_caret = p.column > 0 ? Position{p.line, p.column - 1}
                          : p.line > 0 ? Position{p.line - 1, LineLength(p.line - 1)}
                                       : p;
            else
                m_caret = p.column < LineLength(p.line)  ? Position{p.line, p.column + 1}
                          : p.line + 1 < m_store.Count() ? Position{p.line + 1, 0}
                                                         : p;
        }
        DeleteSelection();
        m_goalColumn = -1;
        UpdateScrollRange();
        MoveCaret(m_caret, false);
    } else {
        return false;
    }
    return true;
}

bool TMemo::event(QEvent *event) {
    // Keys the log handles itself are not window shortcuts while it has the focus.
    if (event->type() == QEvent::ShortcutOverride) {
        auto *k = static_cast<QKeyEvent *>(event);
        const bool text = !k->text().isEmpty() && k->text().at(0).isPrint() &&
                          !(k->modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
        if (text || k->matches(QKeySequence::Copy) || k->matches(QKeySequence::Cut) ||
            k->matches(QKeySequence::Paste) || k->matches(QKeySequence::SelectAll) ||
            k->key() == Qt::Key_Home || k->key() == Qt::Key_End || k->key() == Qt::Key_Delete ||
            k->key() == Qt::Key_Backspace) {
            event->accept();
            return true;
        }
    }
    // Tab and Shift+Tab reach QWidget::event, which passes the focus on.
    return QAbstractScrollArea::event(event);
}

void TMemo::keyPressEvent(QKeyEvent *event) {
    bool handled = true;
    Dispatch([&] {
        if (HandleStandardKey(event))
            return;
        const QString text = event->text();
        if (!text.isEmpty() && text.at(0).isPrint() &&
            !(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)))
            InsertText(text);
        else
            handled = false;
    });
    if (handled)
        event->accept();
    else
        QAbstractScrollArea::keyPressEvent(event);
}

void TMemo::inputMethodEvent(QInputMethodEvent *event) {
    if (!event->commitString().isEmpty())
        Dispatch([&] { InsertText(event->commitString()); });
    event->accept();
}

QVariant TMemo::inputMethodQuery(Qt::InputMethodQuery query) const {
    switch (query) {
    case Qt::ImEnabled:
        return true;
    case Qt::ImCursorRectangle:
        return CaretRect().translated(viewport()->pos());
    case Qt::ImFont:
        return font();
    case Qt::ImCursorPosition:
        return m_caret.column;
    case Qt::ImAnchorPosition:
        return m_anchor.line == m_caret.line ? m_anchor.column : m_caret.column;
    case Qt::ImSurroundingText:
        return m_store.Line(m_caret.line);
    case Qt::ImCurrentSelection:
        return SelectedText();
    default:
        return QAbstractScrollArea::inputMethodQuery(query);
    }
}

// ---- mouse ---------------------------------------------------------------------------

void TMemo::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_goalColumn = -1;
    MoveCaret(PositionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void TMemo::mouseMoveEvent(QMouseEvent *event) {
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        MoveCaret(PositionAt(event->position().toPoint()), true);
}

void TMemo::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) {
        m_dragging = false;
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void TMemo::mouseDoubleClickEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton || m_store.IsEmpty())
        return;
    const Position p = PositionAt(event->position().toPoint());
    const QString text = m_store.Line(p.line);
    int from = p.column, to = p.column;
    while (from > 0 && IsWordChar(text[from - 1]))
        --from;
    while (to < text.size() && IsWordChar(text[to]))
        ++to;
    m_anchor = {p.line, from};
    m_caret = {p.line, to};
    m_goalColumn = -1;
    viewport()->update();
}

// ---- context menu and saving ------------------------------------------------------

QMenu *TMemo::CreateContextMenu() {
    auto *menu = new QMenu(this);
    const auto add = [&](const QString &text, QKeySequence::StandardKey key, auto slot) {
        QAction *a =
            menu->addAction(text + u'\t' + QKeySequence(key).toString(QKeySequence::NativeText));
        a->setObjectName(text);
        connect(a, &QAction::triggered, this, Guarded(slot));
        return a;
    };
    add(tr("Cu&t"), QKeySequence::Cut, [this] { cut(); })->setEnabled(HasSelection());
    add(tr("&Copy"), QKeySequence::Copy, [this] { copy(); })->setEnabled(HasSelection());
    const QClipboard *clip = QGuiApplication::clipboard();
    add(tr("&Paste"), QKeySequence::Paste, [this] {
        paste();
    })->setEnabled(clip && !clip->text().isEmpty());
    menu->addSeparator();
    add(tr("Select All"), QKeySequence::SelectAll, [this] {
        selectAll();
    })->setEnabled(!m_store.IsEmpty());
    menu->addSeparator();
    QAction *save = menu->addAction(tr("Save log as..."));
    save->setObjectName(QStringLiteral("Save log as..."));
    connect(save, &QAction::triggered, this, Guarded([this] { SaveLogAs(); }));
    return menu;
}

void TMemo::contextMenuEvent(QContextMenuEvent *event) {
    QMenu *menu = CreateContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void TMemo::SaveLogAs() {
    static QString folder;
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString name =
        QStringLiteral("Tavrin-log-%1.txt")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmmss")));
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save log as"), QDir(folder).filePath(name),
                                     tr("Text files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    folder = QFileInfo(path).absolutePath();
    SaveLog(path);
}

bool TMemo::SaveLog(const QString &path) {
    const auto fail = [&](const QString &why) {
        ShowErrorMessage(
            tr("Unable to save the log to %1: %2").arg(QDir::toNativeSeparators(path), why));
        return false;
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    // The lines there are now; lines the repeat job adds meanwhile stay in the log.
    const qsizetype count = m_store.Count();
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProgressDialog> dialog;
    bool canceled = false;
    qint64 shown = 0;
    const auto progress = [&](qsizetype done) {
        // Each step of the dialog repaints it (some 15 ms): ten a second.
        if (dialog && clock.elapsed() - shown < 100 && done < count)
            return true;
        shown = clock.elapsed();
        if (!dialog && shown > 500 && done < count) {
            dialog =
                std::make_unique<QProgressDialog>(tr("Saving the log..."), tr("Cancel"), 0,
                                                  int(std::min<qsizetype>(count, INT_MAX)), this);
            dialog->setWindowModality(Qt::WindowModal);
            dialog->setMinimumDuration(0);
            dialog->setAutoReset(false);
        }
        if (dialog) {
            dialog->setValue(int(std::min<qsizetype>(done, INT_MAX)));
            canceled = dialog->wasCanceled();
        }
        return !canceled;
    };
    QString error;
    const bool written = WriteLog(m_store, count, file, progress, &error);
    dialog.reset();
    if (!written) {
        file.cancelWriting();
        return canceled ? false : fail(error.isEmpty() ? file.errorString() : error);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace ui
