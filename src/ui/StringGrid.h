#pragma once
// A string grid with fixed heading rows and columns and an in-place editor,
// with the notifications a register editor relies on:
//  - OnSelectCell(col, row, canSelect) before the current cell moves, by the
//    keyboard or a left click; the move happens only if canSelect stays true.
//  - OnSetEditText(col, row, text) with the editor's whole text each time the
//    user changes it, and once more when the editor closes (cell move, any
//    mouse click on the grid, focus loss). The cell already holds the text
//    when it fires. Text the grid loads itself never fires it.
//  - Rewriting the cell under an open editor reloads the editor and selects
//    all of its text.
//  - A right click closes the editor without moving the current cell and
//    opens the pop-up menu at the pointer.
//  - A printable key opens the editor with that character; F2, or a left
//    click on the current cell, opens it on the cell's text.
#include <QAbstractScrollArea>
#include <QString>
#include <QVector>
#include <functional>

class QMenu;

namespace ui {

class TStringGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TStringGrid(QWidget *parent = nullptr);
    ~TStringGrid() override;

    void SetSize(int colCount, int rowCount, int fixedCols, int fixedRows);
    int ColCount() const { return m_colCount; }
    int RowCount() const { return m_rowCount; }
    int FixedCols() const { return m_fixedCols; }
    int FixedRows() const { return m_fixedRows; }
    void SetColWidth(int col, int width);
    int ColWidth(int col) const;
    void SetDefaultRowHeight(int height);
    int DefaultRowHeight() const { return m_rowHeight; }

    QString Cell(int col, int row) const;
    void SetCell(int col, int row, const QString &text);

    // The current cell; only non-fixed cells can be current.
    int Col() const { return m_col; }
    int Row() const { return m_row; }

    bool EditorOpen() const;
    QString EditorText() const;
    class QLineEdit *Editor() const;

    void SetPopupMenu(QMenu *menu) { m_popup = menu; }
    QMenu *PopupMenu() const { return m_popup; }

    // Rectangle of a cell in viewport coordinates (for tests and painting).
    QRect CellRect(int col, int row) const;

    std::function<void(int col, int row, bool &canSelect)> OnSelectCell;
    std::function<void(int col, int row, const QString &text)> OnSetEditText;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Impl;
    Impl *d;
    int m_colCount = 0;
    int m_rowCount = 0;
    int m_fixedCols = 0;
    int m_fixedRows = 0;
    int m_rowHeight = 18;
    int m_col = 0;
    int m_row = 0;
    QVector<int> m_colWidths;
    QVector<QString> m_cells; // row-major
    QMenu *m_popup = nullptr;
};

} // namespace ui
