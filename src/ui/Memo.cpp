#include "Memo.h"
#include "Dispatch.h"
#include "LogKeys.h"
#include "TypedText.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

namespace ui {

using trafficlog::LogStore;
using trafficlog::Move;
using Command = LogKey::Command;
using trafficlog::NowMicroseconds;

namespace {

constexpr int Margin = 4; // between the frame and the text, as a plain text edit has

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
    m_control.AddLine(line, NowMicroseconds());
    UpdateScrollRange();
    ScrollToBottom();
    viewport()->update();
}

void TMemo::clear() {
    m_control.Clear();
    UpdateScrollRange();
    viewport()->update();
}

QString TMemo::toPlainText() const {
    return Lines().join(u'\n');
}

void TMemo::setPlainText(const QString &text) {
    m_control.SetText(text, NowMicroseconds());
    UpdateScrollRange();
    verticalScrollBar()->setValue(0);
    viewport()->update();
}

// ---- geometry -----------------------------------------------------------------

void TMemo::UpdateMetrics() {
    const QFontMetricsF fm(font());
    const QString sample(64, u'0');
    m_charWidth = std::max<qreal>(qreal(fm.horizontalAdvance(sample) / int(sample.size())), 1);
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

QRect TMemo::CaretRect() const {
    const Position caret = Caret();
    const int64_t row = m_control.RowOf(caret) - verticalScrollBar()->value();
    const int column = caret.column - m_control.RowInLine(caret) * m_store.Columns();
    const int x = Margin + qRound(column * m_charWidth);
    const int y = Margin + int(row) * m_lineHeight;
    return QRect(x, y, 1, m_lineHeight);
}

TMemo::Position TMemo::PositionAt(QPoint point) const {
    const int64_t row =
        verticalScrollBar()->value() + qFloor(qreal(point.y() - Margin) / m_lineHeight);
    return m_control.OnRow(row, qRound(qreal(point.x() - Margin) / m_charWidth));
}

void TMemo::EnsureCaretVisible() {
    auto *bar = verticalScrollBar();
    const int64_t row = m_control.RowOf(Caret());
    if (row < bar->value())
        bar->setValue(int(row));
    else if (row >= bar->value() + VisibleRows())
        bar->setValue(int(row - VisibleRows() + 1));
}

void TMemo::SetCaret(Position caret, bool keepAnchor) {
    m_control.SetCaret(caret, keepAnchor);
    Edited();
}

void TMemo::Edited() {
    UpdateScrollRange();
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
    const Position selFrom = std::min(Caret(), Anchor());
    const Position selTo = std::max(Caret(), Anchor());
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

void TMemo::InsertText(const QString &text) {
    m_control.Insert(text, NowMicroseconds());
    Edited();
}

void TMemo::selectAll() {
    m_control.SelectAll();
    Edited();
}

void TMemo::copy() const {
    if (HasSelection())
        QGuiApplication::clipboard()->setText(SelectedText());
}

void TMemo::cut() {
    if (!HasSelection())
        return;
    copy();
    m_control.DeleteSelection();
    Edited();
}

void TMemo::paste() {
    const QString text = QGuiApplication::clipboard()->text();
    if (!text.isEmpty())
        InsertText(text);
}

bool TMemo::HandleKey(QKeyEvent *e) {
    const LogKey *b = LogKeyOf(e);
    if (!b)
        return false;
    switch (b->command) {
    case Command::Move:
    case Command::Select: {
        const int page = VisibleRows();
        m_control.Apply(b->move, b->command == Command::Select, page);
        // The view moves by the page with the caret.
        if (b->move == Move::NextPage || b->move == Move::PreviousPage)
            verticalScrollBar()->setValue(verticalScrollBar()->value() +
                                          (b->move == Move::NextPage ? page : -page));
        break;
    }
    case Command::Delete:
        m_control.Delete(b->move);
        break;
    case Command::SelectAll:
        selectAll();
        return true;
    case Command::Copy:
        copy();
        return true;
    case Command::Cut:
        cut();
        return true;
    case Command::Paste:
        paste();
        return true;
    case Command::NewLine:
        InsertText(QStringLiteral("\n"));
        return true;
    }
    Edited();
    return true;
}

bool TMemo::event(QEvent *event) {
    // Keys the log handles itself are not window shortcuts while it has the focus.
    if (event->type() == QEvent::ShortcutOverride) {
        auto *k = static_cast<QKeyEvent *>(event);
        if (IsTypedText(k) || k->matches(QKeySequence::Copy) || k->matches(QKeySequence::Cut) ||
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
        if (HandleKey(event))
            return;
        if (IsTypedText(event))
            InsertText(event->text());
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
        return Caret().column;
    case Qt::ImAnchorPosition:
        return Anchor().line == Caret().line ? Anchor().column : Caret().column;
    case Qt::ImSurroundingText:
        return m_store.Line(Caret().line);
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
    SetCaret(PositionAt(event->position().toPoint()), event->modifiers() & Qt::ShiftModifier);
}

void TMemo::mouseMoveEvent(QMouseEvent *event) {
    if (m_dragging && (event->buttons() & Qt::LeftButton))
        SetCaret(PositionAt(event->position().toPoint()), true);
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
    if (event->button() != Qt::LeftButton)
        return;
    m_control.SelectWordAt(PositionAt(event->position().toPoint()));
    viewport()->update();
}

} // namespace ui
