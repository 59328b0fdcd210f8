#include "StringGrid.h"
#include "Dispatch.h"
#include "TypedText.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QVarLengthArray>
#include <algorithm>

namespace ui {

namespace {

// Runs an action that may call the owner's callbacks, which may resize the
// grid (SetSize bumps shape). False when they did: the caller's cell and
// coordinates are stale and it must stop.
template <typename F> bool ShapeKept(const unsigned &shape, F &&action) {
    const unsigned before = shape;
    action();
    return shape == before;
}

constexpr int LineWidth = 1;   // grid line between cells
constexpr int TextPadding = 2; // left and right of a cell's text
constexpr int OwnStripe = 4;   // a selected cell's own colour, at its left edge

QColor Mix(const QColor &a, const QColor &b, qreal t) {
    return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                            float(a.greenF() + (b.greenF() - a.greenF()) * t),
                            float(a.blueF() + (b.blueF() - a.blueF()) * t));
}

struct Colours {
    QColor base, text, fixedBase, fixedText, highlight, highlightedText, line;
};

Colours GridColours(const QPalette &pal) {
    Colours c;
    c.base = pal.color(QPalette::Base);
    c.text = pal.color(QPalette::Text);
    c.fixedBase = pal.color(QPalette::Button);
    c.fixedText = pal.color(QPalette::ButtonText);
    // A style sheet background sets Button and Base alike; headings must
    // still stand apart from the cells.
    if (c.fixedBase == c.base) {
        const QColor alt = pal.color(QPalette::AlternateBase);
        c.fixedBase = alt != c.base ? alt : Mix(c.base, c.text, 0.12);
        c.fixedText = c.text;
    }
    c.highlight = pal.color(QPalette::Highlight);
    c.highlightedText = pal.color(QPalette::HighlightedText);
    // Between Base and Text, so that lines show on light and dark looks.
    c.line = Mix(c.base, c.text, 0.25);
    return c;
}

} // namespace

// The in-place editor. User changes are reported once the event that made
// them has been fully handled by the line edit, so that a callback may
// rewrite the editor's text without cutting into the line edit's own work.
class TStringGrid::InplaceEdit : public QLineEdit {
public:
    InplaceEdit(TStringGrid *grid, QWidget *parent) : QLineEdit(parent), m_grid(grid) {}

    bool InEvent() const { return m_depth > 0; }

protected:
    bool event(QEvent *e) override {
        ++m_depth;
        const bool result = QLineEdit::event(e);
        --m_depth;
        if (m_depth == 0)
            m_grid->FlushEditorChange();
        return result;
    }

    void keyPressEvent(QKeyEvent *e) override {
        const bool ctrl = e->modifiers() & Qt::ControlModifier;
        switch (e->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            m_grid->NavigationKey(e);
            e->accept();
            return;
        case Qt::Key_Home:
        case Qt::Key_End:
            if (ctrl) {
                m_grid->NavigationKey(e);
                e->accept();
                return;
            }
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            m_grid->CloseEditor(true);
            e->accept();
            return;
        case Qt::Key_Escape:
            m_grid->CloseEditor(false);
            e->accept();
            return;
        case Qt::Key_F2:
            deselect();
            end(false);
            e->accept();
            return;
        default:
            break;
        }
        QLineEdit::keyPressEvent(e);
    }

    // Tab leaves the grid rather than moving between cells.
    bool focusNextPrevChild(bool next) override {
        m_grid->CloseEditor(true);
        return m_grid->focusNextPrevChild(next);
    }

    void focusOutEvent(QFocusEvent *e) override {
        QLineEdit::focusOutEvent(e);
        m_grid->EditorFocusLost(e->reason());
    }

private:
    TStringGrid *m_grid;
    int m_depth = 0;
};

TStringGrid::TStringGrid(QWidget *parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(1);

    m_editor = new InplaceEdit(this, viewport());
    m_editor->setObjectName(QStringLiteral("sgEditor"));
    m_editor->setFrame(false);
    // Reached by the grid only, never by Tab.
    m_editor->setFocusPolicy(Qt::ClickFocus);
    m_editor->hide();
    connect(m_editor, &QLineEdit::textEdited, this, [this] { EditorTextEdited(); });
}

TStringGrid::~TStringGrid() {
    // No notification from a grid being torn down.
    m_editing = false;
    OnSelectCell = nullptr;
    OnSetEditText = nullptr;
    delete m_editor;
    m_editor = nullptr;
}

// ---- shape and cells ---------------------------------------------------------

void TStringGrid::SetSize(int colCount, int rowCount, int fixedCols, int fixedRows) {
    colCount = std::max(0, colCount);
    rowCount = std::max(0, rowCount);
    fixedCols = std::clamp(fixedCols, 0, colCount);
    fixedRows = std::clamp(fixedRows, 0, rowCount);

    CloseEditor(false); // its cell may be gone
    ++m_shape;
    m_dragSelecting = false;

    QVector<QString> cells(qsizetype(colCount) * rowCount);
    const int keepCols = std::min(colCount, m_colCount);
    const int keepRows = std::min(rowCount, m_rowCount);
    for (int r = 0; r < keepRows; ++r)
        for (int c = 0; c < keepCols; ++c)
            cells[qsizetype(r) * colCount + c] = std::move(m_cells[Index(c, r)]);
    m_cells = std::move(cells);
    m_layouts = QVector<Layout>(m_cells.size());

    m_colCount = colCount;
    m_rowCount = rowCount;
    m_fixedCols = fixedCols;
    m_fixedRows = fixedRows;
    m_colWidths.resize(colCount, 64);

    if (HasCurrent()) {
        m_col = std::clamp(m_col, fixedCols, colCount - 1);
        m_row = std::clamp(m_row, fixedRows, rowCount - 1);
    } else {
        m_col = fixedCols;
        m_row = fixedRows;
    }
    m_anchorCol = m_col;
    m_anchorRow = m_row;
    UpdateLayout();
}

void TStringGrid::SetColWidth(int col, int width) {
    if (col < 0 || col >= m_colCount)
        return;
    m_colWidths[col] = std::max(0, width);
    UpdateLayout();
}

int TStringGrid::ColWidth(int col) const {
    return col >= 0 && col < m_colCount ? m_colWidths[col] : 0;
}

void TStringGrid::SetDefaultRowHeight(int height) {
    m_rowHeight = std::max(1, height);
    UpdateLayout();
}

QString TStringGrid::Cell(int col, int row) const {
    return IsCell(col, row) ? m_cells[Index(col, row)] : QString();
}

void TStringGrid::SetCell(int col, int row, const QString &text) {
    if (!IsCell(col, row))
        return;
    const bool underEditor = m_editing && col == m_editCol && row == m_editRow;
    if (underEditor && m_editPending) {
        // A user change not yet reported (a rewrite from a nested event
        // loop): report it before it is overwritten.
        FlushEditorChange();
        if (!IsCell(col, row))
            return;
    }
    // Redraws rewrite every cell; only a changed one needs a new layout and
    // a repaint. An open editor reloads either way.
    const bool changed = m_cells[Index(col, row)] != text;
    if (changed) {
        m_cells[Index(col, row)] = text;
        m_layouts[Index(col, row)].room = -1;
    }
    if (m_editing && col == m_editCol && row == m_editRow) {
        m_editor->setText(text);
        m_editor->selectAll();
    }
    if (changed)
        UpdateCell(col, row);
}

bool TStringGrid::EditorOpen() const {
    return m_editing;
}
QString TStringGrid::EditorText() const {
    return m_editing ? m_editor->text() : QString();
}
QLineEdit *TStringGrid::Editor() const {
    return m_editor;
}

QRect TStringGrid::Selection() const {
    if (!HasCurrent())
        return QRect();
    return QRect(QPoint(std::min(m_col, m_anchorCol), std::min(m_row, m_anchorRow)),
                 QPoint(std::max(m_col, m_anchorCol), std::max(m_row, m_anchorRow)));
}

int TStringGrid::TopRow() const {
    return m_fixedRows + verticalScrollBar()->value();
}
int TStringGrid::LeftCol() const {
    return m_fixedCols + horizontalScrollBar()->value();
}

bool TStringGrid::HasCurrent() const {
    return m_colCount > m_fixedCols && m_rowCount > m_fixedRows;
}

bool TStringGrid::IsCell(int col, int row) const {
    return col >= 0 && col < m_colCount && row >= 0 && row < m_rowCount;
}

bool TStringGrid::IsEditable(int col, int row) const {
    return IsCell(col, row) && col >= m_fixedCols && row >= m_fixedRows;
}

// ---- geometry ------------------------------------------------------------------

int TStringGrid::FixedWidth() const {
    return m_fixedCols < m_colLeft.size() ? m_colLeft[m_fixedCols] : 0;
}

int TStringGrid::FixedHeight() const {
    return m_fixedRows * (m_rowHeight + LineWidth);
}

int TStringGrid::FullyVisibleRows() const {
    const int room = viewport()->height() - FixedHeight();
    return std::max(0, (room + LineWidth) / (m_rowHeight + LineWidth));
}

int TStringGrid::FullyVisibleCols() const {
    const int room = viewport()->width() - FixedWidth();
    int n = 0;
    int used = 0;
    for (int c = LeftCol(); c < m_colCount; ++c) {
        used += m_colWidths[c];
        if (used > room)
            break;
        used += LineWidth;
        ++n;
    }
    return n;
}

void TStringGrid::InvalidateLayouts() {
    for (Layout &l : m_layouts)
        l.room = -1;
}

void TStringGrid::UpdateLayout() {
    InvalidateLayouts();
    // m_colLeft[c] is the left edge of column c before any scrolling; the
    // entry after the last column is the total width.
    m_colLeft.resize(m_colCount + 1);
    int x = 0;
    for (int c = 0; c < m_colCount; ++c) {
        m_colLeft[c] = x;
        x += m_colWidths[c] + LineWidth;
    }
    m_colLeft[m_colCount] = x;
    UpdateScrollBars();
    PlaceEditor();
    viewport()->update();
}

void TStringGrid::UpdateScrollBars() {
    const int scrollRows = m_rowCount - m_fixedRows;
    const int fullRows = FullyVisibleRows();
    QScrollBar *v = verticalScrollBar();
    v->setRange(0, std::max(0, scrollRows - fullRows));
    v->setPageStep(std::max(1, fullRows));

    // The first column from which all the remaining ones fit.
    const int room = viewport()->width() - FixedWidth();
    int first = m_colCount;
    int used = -LineWidth;
    while (first > m_fixedCols) {
        const int w = m_colWidths[first - 1] + LineWidth;
        if (used + w > room)
            break;
        used += w;
        --first;
    }
    if (first == m_colCount && first > m_fixedCols)
        first = m_colCount - 1; // even the last column alone does not fit
    QScrollBar *h = horizontalScrollBar();
    h->setRange(0, std::max(0, first - m_fixedCols));
    h->setPageStep(1);
}

QRect TStringGrid::CellRect(int col, int row) const {
    if (!IsCell(col, row))
        return QRect();
    int x;
    if (col < m_fixedCols) {
        x = m_colLeft[col];
    } else {
        const int left = LeftCol();
        if (col < left)
            return QRect();
        x = FixedWidth() + m_colLeft[col] - m_colLeft[left];
    }
    int y;
    if (row < m_fixedRows) {
        y = row * (m_rowHeight + LineWidth);
    } else {
        const int top = TopRow();
        if (row < top)
            return QRect();
        y = FixedHeight() + (row - top) * (m_rowHeight + LineWidth);
    }
    if (x >= viewport()->width() || y >= viewport()->height())
        return QRect();
    return QRect(x, y, m_colWidths[col], m_rowHeight);
}

bool TStringGrid::CellAt(const QPoint &pos, int &col, int &row) const {
    if (pos.x() < 0 || pos.y() < 0)
        return false;
    const int step = m_rowHeight + LineWidth;
    if (pos.y() < FixedHeight()) {
        row = pos.y() / step;
    } else {
        row = TopRow() + (pos.y() - FixedHeight()) / step;
    }
    if (row >= m_rowCount)
        return false;
    if (pos.x() < FixedWidth()) {
        col =
            int(std::upper_bound(m_colLeft.begin(), m_colLeft.begin() + m_fixedCols + 1, pos.x()) -
                m_colLeft.begin()) -
            1;
    } else {
        const int x = pos.x() - FixedWidth() + m_colLeft[LeftCol()];
        col = int(std::upper_bound(m_colLeft.begin() + LeftCol(), m_colLeft.end(), x) -
                  m_colLeft.begin()) -
              1;
    }
    if (col < 0 || col >= m_colCount)
        return false;
    const QRect r = CellRect(col, row);
    return r.contains(pos); // not on a grid line
}

void TStringGrid::ScrollToCell(int col, int row) {
    if (row >= m_fixedRows) {
        const int top = TopRow();
        const int full = std::max(1, FullyVisibleRows());
        if (row < top)
            verticalScrollBar()->setValue(row - m_fixedRows);
        else if (row >= top + full)
            verticalScrollBar()->setValue(row - m_fixedRows - full + 1);
    }
    if (col >= m_fixedCols) {
        QScrollBar *h = horizontalScrollBar();
        if (col < LeftCol()) {
            h->setValue(col - m_fixedCols);
        } else {
            while (LeftCol() < col && col >= LeftCol() + std::max(1, FullyVisibleCols()) &&
                   h->value() < h->maximum())
                h->setValue(h->value() + 1);
        }
    }
}

void TStringGrid::PlaceEditor() {
    if (!m_editing || !m_editor)
        return;
    const QRect r = CellRect(m_editCol, m_editRow);
    if (r.isEmpty()) {
        // Scrolled out of view: keep it open (and focused) but unseen.
        m_editor->setGeometry(
            QRect(QPoint(-10000, -10000), QSize(ColWidth(m_editCol), m_rowHeight)));
    } else {
        m_editor->setGeometry(r);
    }
}

void TStringGrid::UpdateCell(int col, int row) {
    const QRect r = CellRect(col, row);
    if (!r.isEmpty())
        viewport()->update(r);
}

void TStringGrid::resizeEvent(QResizeEvent *) {
    UpdateScrollBars();
    PlaceEditor();
}

void TStringGrid::scrollContentsBy(int, int) {
    PlaceEditor();
    viewport()->update();
}

QString TStringGrid::CellHint(int col, int row) const {
    return IsCell(col, row) ? m_hints.value(QPoint(col, row)) : QString();
}

void TStringGrid::SetCellHint(int col, int row, const QString &text) {
    if (!IsCell(col, row))
        return;
    if (text.isEmpty())
        m_hints.remove(QPoint(col, row));
    else
        m_hints.insert(QPoint(col, row), text);
}

// The viewport gets the tooltip event; the scroll area does not pass it on.
bool TStringGrid::viewportEvent(QEvent *event) {
    if (event->type() != QEvent::ToolTip)
        return QAbstractScrollArea::viewportEvent(event);
    const auto *help = static_cast<QHelpEvent *>(event);
    int col = 0, row = 0;
    const QString hint = CellAt(help->pos(), col, row) ? CellHint(col, row) : QString();
    if (hint.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
    } else {
        // Moving to another cell replaces the tip.
        QToolTip::showText(help->globalPos(), hint, viewport(), CellRect(col, row));
    }
    return true;
}

void TStringGrid::changeEvent(QEvent *event) {
    QAbstractScrollArea::changeEvent(event);
    switch (event->type()) {
    case QEvent::FontChange:
        InvalidateLayouts();
        viewport()->update();
        break;
    case QEvent::PaletteChange:
    case QEvent::StyleChange:
    case QEvent::EnabledChange:
        viewport()->update();
        break;
    default:
        break;
    }
}

// ---- painting ------------------------------------------------------------------

void TStringGrid::paintEvent(QPaintEvent *event) {
    QPainter p(viewport());
    const QRect clip = event->rect();
    const Colours colours = GridColours(palette());
    const QFontMetrics fm(font());
    p.setFont(font());

    // Visible columns and rows: the fixed ones, then the scrolled ones from
    // the first in view up to the viewport's edge.
    struct Span {
        int index, start, size;
    };
    QVarLengthArray<Span, 16> cols;
    QVarLengthArray<Span, 64> rows;
    const int width = viewport()->width();
    const int height = viewport()->height();
    for (int c = 0; c < m_fixedCols && m_colLeft[c] < width; ++c)
        cols.append({c, m_colLeft[c], m_colWidths[c]});
    for (int c = LeftCol(), x = FixedWidth(); c < m_colCount && x < width; ++c) {
        cols.append({c, x, m_colWidths[c]});
        x += m_colWidths[c] + LineWidth;
    }
    const int step = m_rowHeight + LineWidth;
    for (int r = 0; r < m_fixedRows && r * step < height; ++r)
        rows.append({r, r * step, m_rowHeight});
    for (int r = TopRow(), y = FixedHeight(); r < m_rowCount && y < height; ++r, y += step)
        rows.append({r, y, m_rowHeight});

    const int right = cols.isEmpty() ? 0 : cols.back().start + cols.back().size + LineWidth;
    const int bottom = rows.isEmpty() ? 0 : rows.back().start + rows.back().size + LineWidth;
    // Lines: the cells are drawn over one fill, leaving 1 px between them.
    const QRect cellsArea(0, 0, right, bottom);
    p.fillRect(clip.intersected(cellsArea), colours.line);
    p.fillRect(clip.intersected(QRect(right, 0, width - right, height)), colours.base);
    p.fillRect(clip.intersected(QRect(0, bottom, right, height - bottom)), colours.base);

    const QRect sel = Selection();
    const bool focused = hasFocus();
    for (const Span &row : rows) {
        if (row.start > clip.bottom() || row.start + row.size <= clip.top())
            continue;
        for (const Span &col : cols) {
            if (col.start > clip.right() || col.start + col.size <= clip.left())
                continue;
            const QRect cell(col.start, row.start, col.size, row.size);
            const bool fixed = col.index < m_fixedCols || row.index < m_fixedRows;
            const bool editing = m_editing && col.index == m_editCol && row.index == m_editRow;
            QColor bg, fg;
            if (fixed) {
                bg = colours.fixedBase;
                fg = colours.fixedText;
            } else if (!editing && sel.contains(col.index, row.index)) {
                bg = colours.highlight;
                fg = colours.highlightedText;
            } else {
                bg = colours.base;
                fg = colours.text;
            }
            const CellColours own = fixed ? CellColours{} : CellColoursAt(col.index, row.index);
            const bool selected = !fixed && !editing && sel.contains(col.index, row.index);
            if (!selected) {
                if (own.background.isValid())
                    bg = own.background;
                if (own.text.isValid())
                    fg = own.text;
            }
            p.fillRect(cell, bg);
            // The text starts after the stripe, so that no digit is drawn over it.
            const bool striped = selected && own.background.isValid();
            if (striped)
                p.fillRect(QRect(cell.left(), cell.top(), OwnStripe, cell.height()),
                           own.background);
            if (editing)
                continue; // the editor covers it
            const int at = Index(col.index, row.index);
            const QString &text = m_cells[at];
            const int left = cell.left() + (striped ? OwnStripe : 0) + TextPadding;
            const int room = std::max(0, cell.right() + 1 - TextPadding - left);
            if (!text.isEmpty() && room > 0) {
                Layout &layout = m_layouts[at];
                if (layout.room != room) {
                    layout.text.setTextFormat(Qt::PlainText); // never markup
                    layout.text.setText(fm.horizontalAdvance(text) <= room
                                            ? text
                                            : fm.elidedText(text, Qt::ElideRight, room));
                    layout.room = room;
                }
                p.setPen(fg);
                // Clipped as well: a character wider than the whole room
                // cannot be elided away.
                p.save();
                p.setClipRect(QRect(left, cell.top(), room, cell.height()), Qt::IntersectClip);
                p.drawStaticText(left, cell.top() + (cell.height() - fm.height()) / 2, layout.text);
                p.restore();
            }
            if (!fixed && focused && col.index == m_col && row.index == m_row) {
                p.setPen(QPen(colours.highlightedText, 1, Qt::DotLine));
                p.drawRect(cell.adjusted(0, 0, -1, -1));
            }
        }
    }
}

// ---- current cell and keyboard ------------------------------------------------------

bool TStringGrid::MoveCurrent(int col, int row, bool moveAnchor) {
    if (!IsEditable(col, row))
        return false;
    if (col == m_col && row == m_row) {
        if (moveAnchor && (m_anchorCol != col || m_anchorRow != row)) {
            m_anchorCol = col;
            m_anchorRow = row;
            viewport()->update();
        }
        return false;
    }
    bool canSelect = true;
    const bool kept = ShapeKept(m_shape, [&] {
        if (OnSelectCell) {
            const auto callback = OnSelectCell; // survives a reassignment inside
            // A handler that fails has not allowed the move.
            if (!Dispatch([&] { callback(col, row, canSelect); }))
                canSelect = false;
        }
    });
    if (!kept || !canSelect || !IsEditable(col, row))
        return false;
    if (!ShapeKept(m_shape, [&] { CloseEditor(true); }) || !IsEditable(col, row))
        return false;
    m_col = col;
    m_row = row;
    if (moveAnchor) {
        m_anchorCol = col;
        m_anchorRow = row;
    }
    ScrollToCell(col, row);
    viewport()->update();
    return true;
}

bool TStringGrid::NavigationKey(QKeyEvent *event) {
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const int firstCol = m_fixedCols, lastCol = m_colCount - 1;
    const int firstRow = m_fixedRows, lastRow = m_rowCount - 1;
    // In a grid with one selectable column, Home and End go to the first
    // and last row rather than doing nothing.
    const bool oneColumn = firstCol == lastCol;
    const int page = std::max(1, FullyVisibleRows());
    int col = m_col;
    int row = m_row;
    switch (event->key()) {
    case Qt::Key_Up:
        --row;
        break;
    case Qt::Key_Down:
        ++row;
        break;
    case Qt::Key_Left:
        --col;
        break;
    case Qt::Key_Right:
        ++col;
        break;
    case Qt::Key_PageUp:
        row = ctrl ? TopRow() : row - page;
        break;
    case Qt::Key_PageDown:
        row = ctrl ? TopRow() + page - 1 : row + page;
        break;
    case Qt::Key_Home:
        if (ctrl || oneColumn)
            row = firstRow;
        col = firstCol;
        break;
    case Qt::Key_End:
        if (ctrl || oneColumn)
            row = lastRow;
        col = lastCol;
        break;
    default:
        return false;
    }
    if (!HasCurrent())
        return true;
    col = std::clamp(col, firstCol, lastCol);
    row = std::clamp(row, firstRow, lastRow);
    if (col != m_col || row != m_row)
        MoveCurrent(col, row, !shift);
    return true;
}

void TStringGrid::keyPressEvent(QKeyEvent *event) {
    if (NavigationKey(event)) {
        event->accept();
        return;
    }
    const bool command =
        event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const bool shiftOnly = (event->modifiers() & ~Qt::KeypadModifier) == Qt::ShiftModifier;
    if ((event->key() == Qt::Key_Menu && !command) || (event->key() == Qt::Key_F10 && shiftOnly)) {
        PopupAtCurrent();
        event->accept();
        return;
    }
    switch (event->key()) {
    case Qt::Key_F2:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!command) {
            OpenEditor();
            event->accept();
            return;
        }
        break;
    case Qt::Key_Escape:
        if (m_editing) {
            CloseEditor(false);
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    const bool printable = IsTypedText(event);
    const bool backspace = event->key() == Qt::Key_Backspace;
    if (!command && (printable || backspace) && HasCurrent()) {
        // The key replaces the cell's text: open on it all selected, then
        // let the editor take the key as typed.
        OpenEditor();
        if (m_editing) {
            if (!m_editor->hasFocus())
                m_editor->setFocus(Qt::OtherFocusReason);
            QCoreApplication::sendEvent(m_editor, event);
        }
        event->accept();
        return;
    }
    event->ignore();
}

// ---- mouse ---------------------------------------------------------------------

void TStringGrid::mousePressEvent(QMouseEvent *event) {
    event->accept();
    if (!ShapeKept(m_shape, [&] { CloseEditor(true); })) // any button
        return;
    if (event->button() == Qt::RightButton) {
        ShowPopup(event->globalPosition().toPoint());
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    int col, row;
    if (!CellAt(event->position().toPoint(), col, row) || !IsEditable(col, row))
        return;
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    if (col == m_col && row == m_row && !extend) {
        MoveCurrent(col, row, true); // collapses a range
        OpenEditor();
        return;
    }
    m_dragSelecting = ShapeKept(m_shape, [&] { MoveCurrent(col, row, !extend); });
}

void TStringGrid::mouseMoveEvent(QMouseEvent *event) {
    event->accept();
    if (!m_dragSelecting || !(event->buttons() & Qt::LeftButton) || !HasCurrent())
        return;
    const QPoint pos = event->position().toPoint();
    int col = m_col, row = m_row;
    int c, r;
    if (CellAt(pos, c, r) && IsEditable(c, r)) {
        col = c;
        row = r;
    } else if (pos.y() >= viewport()->height()) {
        row = std::min(m_row + 1, m_rowCount - 1); // drag below: scroll on
    } else if (pos.y() < FixedHeight()) {
        row = std::max(m_row - 1, m_fixedRows);
    }
    if (col != m_col || row != m_row)
        MoveCurrent(col, row, false);
}

void TStringGrid::mouseReleaseEvent(QMouseEvent *event) {
    event->accept();
    m_dragSelecting = false;
}

// The second press of a double click comes as this event alone: on the
// cell the first press made current, it opens the editor.
void TStringGrid::mouseDoubleClickEvent(QMouseEvent *event) {
    mousePressEvent(event);
}

void TStringGrid::contextMenuEvent(QContextMenuEvent *event) {
    event->accept();
    if (event->reason() == QContextMenuEvent::Mouse)
        return; // the right-button press has opened it
    PopupAtCurrent();
}

void TStringGrid::SetCellColours(int col, int row, const CellColours &colours) {
    if (!IsCell(col, row))
        return;
    const QPoint at(col, row);
    const CellColours was = CellColoursAt(col, row);
    if (was.background == colours.background && was.text == colours.text)
        return;
    if (colours.background.isValid() || colours.text.isValid())
        m_cellColours.insert(at, colours);
    else
        m_cellColours.remove(at);
    UpdateCell(col, row);
}

TStringGrid::CellColours TStringGrid::CellColoursAt(int col, int row) const {
    return m_cellColours.value(QPoint(col, row));
}

void TStringGrid::PopupAtCurrent() {
    if (!ShapeKept(m_shape, [&] { CloseEditor(true); }))
        return;
    QRect r = CellRect(m_col, m_row);
    const QPoint at = r.isEmpty() ? QPoint(0, 0) : r.bottomLeft();
    ShowPopup(viewport()->mapToGlobal(at));
}

void TStringGrid::ShowPopup(const QPoint &globalPos) {
    if (m_popup)
        m_popup->popup(globalPos);
}

// ---- focus ---------------------------------------------------------------------

void TStringGrid::focusInEvent(QFocusEvent *event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TStringGrid::focusOutEvent(QFocusEvent *event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
    EditorFocusLost(event->reason());
}

void TStringGrid::EditorFocusLost(Qt::FocusReason reason) {
    if (!m_editing)
        return;
    // A pop-up (the editor's own menu) or another window taking over for a
    // while is not leaving the grid.
    if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason)
        return;
    QWidget *now = QApplication::focusWidget();
    if (now == this || now == m_editor)
        return;
    CloseEditor(true);
}

// ---- editor --------------------------------------------------------------------

void TStringGrid::OpenEditor() {
    if (m_editing || !HasCurrent() || !isEnabled())
        return;
    ScrollToCell(m_col, m_row);
    m_editing = true;
    m_editCol = m_col;
    m_editRow = m_row;
    m_editPending = false;
    // Loading the editor is no change by the user: setText fires no
    // textEdited.
    m_editor->setText(m_cells[Index(m_col, m_row)]);
    m_editor->selectAll();
    PlaceEditor();
    m_editor->show();
    m_editor->setFocus(Qt::OtherFocusReason);
    UpdateCell(m_col, m_row);
}

void TStringGrid::CloseEditor(bool commit) {
    if (!m_editing)
        return;
    if (m_editPending) {
        if (!ShapeKept(m_shape, [&] { FlushEditorChange(); }) || !m_editing)
            return;
    }
    const int col = m_editCol;
    const int row = m_editRow;
    const QString text = m_editor->text();
    m_editing = false;
    m_editCol = m_editRow = -1;
    // Keep the focus in the grid; hiding a focused editor would pass it on.
    if (m_editor->hasFocus() || window()->focusWidget() == m_editor)
        setFocus(Qt::OtherFocusReason);
    m_editor->hide();
    UpdateCell(col, row);
    if (commit)
        StoreAndNotify(col, row, text);
}

void TStringGrid::EditorTextEdited() {
    if (!m_editing)
        return;
    if (m_editor->InEvent()) {
        m_editPending = true; // reported when the event is done
        return;
    }
    StoreAndNotify(m_editCol, m_editRow, m_editor->text());
}

void TStringGrid::FlushEditorChange() {
    if (!m_editPending)
        return;
    m_editPending = false;
    if (m_editing)
        StoreAndNotify(m_editCol, m_editRow, m_editor->text());
}

void TStringGrid::StoreAndNotify(int col, int row, const QString &text) {
    if (IsCell(col, row)) {
        m_cells[Index(col, row)] = text;
        m_layouts[Index(col, row)].room = -1;
        UpdateCell(col, row);
    }
    if (OnSetEditText) {
        const auto callback = OnSetEditText; // survives a reassignment inside
        Dispatch([&] { callback(col, row, text); });
    }
}

} // namespace ui
