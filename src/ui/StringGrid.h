#pragma once
// A string grid with fixed heading rows and columns and an in-place editor,
// with the notifications a register editor relies on:
//  - OnSelectCell(col, row, canSelect) before the current cell moves, by the
//    keyboard or a left click; the move happens only if canSelect stays true.
//  - OnSetEditText(col, row, text) with the editor's whole text each time the
//    user changes it, and once more when the editor closes (cell move, any
//    mouse click on the grid, focus loss, Enter). The cell already holds the
//    text when it fires. Text the grid loads itself never fires it.
//  - Rewriting the cell under an open editor reloads the editor and selects
//    all of its text, also from inside OnSetEditText.
//  - A right click closes the editor without moving the current cell and
//    opens the pop-up menu at the pointer.
//  - A printable key opens the editor with that character; F2, Enter, or a
//    left click on the current cell, opens it on the cell's text. Escape
//    closes the editor without a further notification (every change has
//    already been reported).
// Both callbacks may call SetCell or even SetSize; the grid re-checks its
// state after every callback.
#include <QAbstractScrollArea>
#include <QColor>
#include <QHash>
#include <QPoint>
#include <QRect>
#include <QStaticText>
#include <QString>
#include <QVector>
#include <functional>

class QMenu;
class QLineEdit;

namespace ui {

class TStringGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TStringGrid(QWidget *parent = nullptr);
    ~TStringGrid() override;

    // Keeps the texts of cells that still exist; closes the editor without
    // a notification.
    void SetSize(int colCount, int rowCount, int fixedCols, int fixedRows);
    int ColCount() const { return m_colCount; }
    int RowCount() const { return m_rowCount; }
    int FixedCols() const { return m_fixedCols; }
    int FixedRows() const { return m_fixedRows; }
    void SetColWidth(int col, int width);
    int ColWidth(int col) const;
    void SetDefaultRowHeight(int height);
    int DefaultRowHeight() const { return m_rowHeight; }

    // Cells outside the grid read as empty; writing them does nothing.
    QString Cell(int col, int row) const;
    void SetCell(int col, int row, const QString &text);

    // The current cell; only non-fixed cells can be current.
    int Col() const { return m_col; }
    int Row() const { return m_row; }
    // The selected range (columns x rows), always holding the current cell;
    // empty when the grid has no non-fixed cell.
    QRect Selection() const;
    // First non-fixed row and column in view.
    int TopRow() const;
    int LeftCol() const;

    bool EditorOpen() const;
    QString EditorText() const;
    QLineEdit *Editor() const;

    void SetPopupMenu(QMenu *menu) { m_popup = menu; }
    QMenu *PopupMenu() const { return m_popup; }
    // Opens the pop-up menu below the current cell, as the Menu key and
    // Shift+F10 do; the editor closes first.
    void PopupAtCurrent();

    // Colours of one non-fixed cell in place of the palette's base and text
    // (invalid colours: the palette's). A selected cell keeps the highlight
    // and shows the cell's own background as a stripe along its left edge.
    struct CellColours {
        QColor background, text;
    };
    void SetCellColours(int col, int row, const CellColours &colours);
    CellColours CellColoursAt(int col, int row) const;

    // Rectangle of a cell in viewport coordinates; empty when the cell is
    // outside the grid or scrolled out of view.
    QRect CellRect(int col, int row) const;

    // Tooltip of a cell, shown while the pointer rests on it; none when
    // empty. Cells outside the grid read as empty.
    QString CellHint(int col, int row) const;
    void SetCellHint(int col, int row, const QString &text);

    std::function<void(int col, int row, bool &canSelect)> OnSelectCell;
    std::function<void(int col, int row, const QString &text)> OnSetEditText;

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent *event) override;

private:
    class InplaceEdit;
    friend class InplaceEdit;

    bool HasCurrent() const;
    int Index(int col, int row) const { return row * m_colCount + col; }
    bool IsCell(int col, int row) const;
    bool IsEditable(int col, int row) const;
    int FixedWidth() const;
    int FixedHeight() const;
    int FullyVisibleRows() const;
    int FullyVisibleCols() const;
    // Cell under a viewport point; false outside every cell.
    bool CellAt(const QPoint &pos, int &col, int &row) const;
    void UpdateLayout();
    void UpdateScrollBars();
    void ScrollToCell(int col, int row);
    void PlaceEditor();
    void UpdateCell(int col, int row);

    // Moves the current cell after asking OnSelectCell; anchor kept when
    // extending a range. Returns whether the move happened.
    bool MoveCurrent(int col, int row, bool moveAnchor);
    bool NavigationKey(QKeyEvent *event);
    void OpenEditor();
    // commit: fire the closing notification.
    void CloseEditor(bool commit);
    // The user changed the editor's text.
    void EditorTextEdited();
    void FlushEditorChange();
    void EditorFocusLost(Qt::FocusReason reason);
    // Stores the editor's text in its cell (without reloading the editor),
    // then fires OnSetEditText.
    void StoreAndNotify(int col, int row, const QString &text);
    void ShowPopup(const QPoint &globalPos);

    int m_colCount = 0;
    int m_rowCount = 0;
    int m_fixedCols = 0;
    int m_fixedRows = 0;
    int m_rowHeight = 18;
    int m_col = 0;
    int m_row = 0;
    int m_anchorCol = 0;
    int m_anchorRow = 0;
    QVector<int> m_colWidths;
    QVector<int> m_colLeft;                   // left edge of each column, fixed columns first
    QVector<QString> m_cells;                 // row-major
    QHash<QPoint, QString> m_hints;           // by (col, row); few cells have one
    QHash<QPoint, CellColours> m_cellColours; // by (col, row)
    // Laid-out text per cell, so that a repaint does not shape every text
    // again; room is the width it was elided for, -1 when stale.
    struct Layout {
        QStaticText text;
        int room = -1;
    };
    QVector<Layout> m_layouts; // parallel to m_cells
    void InvalidateLayouts();
    QMenu *m_popup = nullptr;

    InplaceEdit *m_editor = nullptr;
    bool m_editing = false;
    int m_editCol = -1;
    int m_editRow = -1;
    bool m_editPending = false; // a user change waits for its event to end
    bool m_dragSelecting = false;
    // Bumped by SetSize: an action that ran a callback stops when the
    // grid's shape changed under it.
    unsigned m_shape = 0;
};

} // namespace ui
