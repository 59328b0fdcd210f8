// Placeholder: storage only; the editor and notifications come next.
#include "StringGrid.h"

#include <QLineEdit>

namespace ui {

struct TStringGrid::Impl {
};

TStringGrid::TStringGrid(QWidget *parent) : QAbstractScrollArea(parent), d(new Impl) {}
TStringGrid::~TStringGrid() { delete d; }

void TStringGrid::SetSize(int colCount, int rowCount, int fixedCols, int fixedRows)
{
    m_colCount = colCount;
    m_rowCount = rowCount;
    m_fixedCols = fixedCols;
    m_fixedRows = fixedRows;
    m_colWidths.resize(colCount, 64);
    m_cells.resize(colCount * rowCount);
    m_col = fixedCols;
    m_row = fixedRows;
}
void TStringGrid::SetColWidth(int col, int width) { m_colWidths[col] = width; }
int TStringGrid::ColWidth(int col) const { return m_colWidths[col]; }
void TStringGrid::SetDefaultRowHeight(int height) { m_rowHeight = height; }
QString TStringGrid::Cell(int col, int row) const { return m_cells[row * m_colCount + col]; }
void TStringGrid::SetCell(int col, int row, const QString &text)
{
    m_cells[row * m_colCount + col] = text;
    viewport()->update();
}
bool TStringGrid::EditorOpen() const { return false; }
QString TStringGrid::EditorText() const { return {}; }
QLineEdit *TStringGrid::Editor() const { return nullptr; }
QRect TStringGrid::CellRect(int, int) const { return {}; }
void TStringGrid::paintEvent(QPaintEvent *) {}
void TStringGrid::keyPressEvent(QKeyEvent *) {}
void TStringGrid::mousePressEvent(QMouseEvent *) {}
void TStringGrid::focusOutEvent(QFocusEvent *) {}
void TStringGrid::resizeEvent(QResizeEvent *) {}
void TStringGrid::scrollContentsBy(int, int) {}
bool TStringGrid::eventFilter(QObject *, QEvent *) { return false; }

} // namespace ui
