// The string grid on its own: notifications, the in-place editor, moves,
// the pop-up request, scrolling and painting.
#include "Dispatch.h"
#include "KeyTokens.h"
#include "StringGrid.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <stdexcept>

using gridtest::Press;
using gridtest::PressAll;
using ui::TStringGrid;

namespace {

constexpr int ValueCol = 2;
constexpr int LastRow = 155;
constexpr int GridHeight = 500;
// Rows fully in view below the heading row (19 px each, line included).
constexpr int Page = (GridHeight - 19 + 1) / 19;

struct Edit {
    int col, row;
    QString text;
    QString cellAtFire; // the cell's text when the notification fired
    bool editorOpenAtFire;
};

struct Select {
    int col, row;
    int currentRowAtFire;
};

// What a callback does besides recording.
enum class Reaction {
    None,
    LastChar,    // rewrites the cell with the last character typed
    DigitsOrZero // rewrites the cell with "0" when the text holds a non-digit
};

} // namespace

class TestStringGrid : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsOnFirstValueCell();
    void editorNotifications_data();
    void editorNotifications();
    void closingNotifies_data();
    void closingNotifies();
    void loadsNeverNotify();
    void rewriteReloadsEditor();
    void rewriteFromCallback_data();
    void rewriteFromCallback();
    void redrawWhileTypingLosesNothing();
    void selectCellBeforeMove_data();
    void selectCellBeforeMove();
    void refusedMoveStays_data();
    void refusedMoveStays();
    void refusedMoveKeepsEditorOpen();
    void rangeSelection();
    void rightClickClosesWithoutMoving();
    void openEditor_data();
    void openEditor();
    void fixedCellsNeverCurrent_data();
    void fixedCellsNeverCurrent();
    void tabLeavesGrid_data();
    void tabLeavesGrid();
    void keyboardMovesKeepCurrentVisible();
    void editorFollowsScrolling();
    void callbackResizesGrid_data();
    void callbackResizesGrid();
    void outOfRangeCells();
    void menuKeyOpensAtCurrentCell();
    void throwingCallbackIsContained();
    void paintsWithPaletteRoles();
    void longTextStaysInItsCell();
    void textClearOfStripe_data();
    void textClearOfStripe();

private:
    void ClickCell(int col, int row, Qt::MouseButton button = Qt::LeftButton,
                   Qt::KeyboardModifiers mods = {});
    QStringList EditTexts() const;
    QImage Render();

    QWidget *m_window = nullptr;
    TStringGrid *m_grid = nullptr;
    QLineEdit *m_other = nullptr; // takes the focus away from the grid
    QVector<Edit> m_edits;
    QVector<Select> m_selects;
    bool m_allow = true;
    Reaction m_reaction = Reaction::None;
};

void TestStringGrid::init() {
    m_edits.clear();
    m_selects.clear();
    m_allow = true;
    m_reaction = Reaction::None;

    m_window = new QWidget;
    auto *layout = new QVBoxLayout(m_window);
    m_grid = new TStringGrid(m_window);
    m_grid->SetSize(3, 156, 2, 1);
    m_grid->SetColWidth(0, 48);
    m_grid->SetColWidth(1, 162);
    m_grid->SetColWidth(2, 48);
    m_grid->SetDefaultRowHeight(18);
    m_grid->setFrameShape(QFrame::NoFrame);
    m_grid->setFixedSize(285, GridHeight);
    layout->addWidget(m_grid);
    m_other = new QLineEdit(m_window);
    layout->addWidget(m_other);
    auto *menu = new QMenu(m_window);
    menu->addAction(QStringLiteral("Send this register"));
    m_grid->SetPopupMenu(menu);

    for (int row = 1; row <= LastRow; ++row) {
        m_grid->SetCell(0, row, QString::number(40000 + row));
        m_grid->SetCell(1, row, QStringLiteral("name %1").arg(row));
        m_grid->SetCell(ValueCol, row, QString::number(row * 10));
    }

    m_grid->OnSetEditText = [this](int col, int row, const QString &text) {
        m_edits.append({col, row, text, m_grid->Cell(col, row), m_grid->EditorOpen()});
        if (m_reaction == Reaction::LastChar)
            m_grid->SetCell(col, row, text.right(1));
        if (m_reaction == Reaction::DigitsOrZero &&
            std::any_of(text.begin(), text.end(), [](QChar c) { return !c.isDigit(); }))
            m_grid->SetCell(col, row, QStringLiteral("0"));
    };
    m_grid->OnSelectCell = [this](int col, int row, bool &canSelect) {
        m_selects.append({col, row, m_grid->Row()});
        canSelect = m_allow;
    };

    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_grid->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), m_grid);
}

void TestStringGrid::cleanup() {
    delete m_window;
    m_window = nullptr;
    m_grid = nullptr;
}

void TestStringGrid::ClickCell(int col, int row, Qt::MouseButton button,
                               Qt::KeyboardModifiers mods) {
    const QRect r = m_grid->CellRect(col, row);
    QVERIFY2(!r.isEmpty(), qPrintable(QStringLiteral("cell %1,%2 not in view").arg(col).arg(row)));
    QTest::mouseClick(m_grid->viewport(), button, mods, r.center());
}

QStringList TestStringGrid::EditTexts() const {
    QStringList texts;
    for (const Edit &e : m_edits)
        texts << e.text;
    return texts;
}

QImage TestStringGrid::Render() {
    return m_grid->viewport()->grab().toImage();
}

// ---- tests ---------------------------------------------------------------------

void TestStringGrid::startsOnFirstValueCell() {
    QCOMPARE(m_grid->Col(), ValueCol);
    QCOMPARE(m_grid->Row(), 1);
    QCOMPARE(m_grid->Selection(), QRect(ValueCol, 1, 1, 1));
    QVERIFY(!m_grid->EditorOpen());
    QVERIFY(!m_grid->Editor()->isVisible());
    // 155 rows of 19 px do not fit: a vertical scroll bar is needed.
    QVERIFY(m_grid->verticalScrollBar()->maximum() > 0);
    QCOMPARE(m_grid->horizontalScrollBar()->maximum(), 0);
    QCOMPARE(m_grid->CellRect(0, 0), QRect(0, 0, 48, 18));
    QCOMPARE(m_grid->CellRect(1, 0), QRect(49, 0, 162, 18));
    QCOMPARE(m_grid->CellRect(2, 1), QRect(212, 19, 48, 18));
}

void TestStringGrid::editorNotifications_data() {
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("notified");
    QTest::addColumn<bool>("openAfter");
    QTest::addColumn<QString>("editorAfter");

    QTest::newRow("typed characters")
        << "9"
        << "" << QStringList{"a", "b", "c"} << QStringList{"a", "ab", "abc"} << true << "abc";
    QTest::newRow("F2 then typing after the text")
        << "9"
        << "" << QStringList{"<F2>", "<End>", "1"} << QStringList{"91"} << true << "91";
    QTest::newRow("F2 alone") << "9"
                              << "" << QStringList{"<F2>"} << QStringList{} << true << "9";
    QTest::newRow("backspace on a closed cell")
        << "123"
        << "" << QStringList{"<BS>"} << QStringList{""} << true << "";
    QTest::newRow("backspace in the editor")
        << "123"
        << "" << QStringList{"<F2>", "<End>", "<BS>"} << QStringList{"12"} << true << "12";
    QTest::newRow("delete in the editor")
        << "123"
        << "" << QStringList{"<F2>", "<Home>", "<Del>"} << QStringList{"23"} << true << "23";
    QTest::newRow("paste") << "1"
                           << "45" << QStringList{"<F2>", "<End>", "<C-v>"} << QStringList{"145"}
                           << true << "145";
    QTest::newRow("cut") << "77"
                         << "" << QStringList{"<F2>", "<C-x>"} << QStringList{""} << true << "";
    QTest::newRow("undo") << "1"
                          << "" << QStringList{"<F2>", "<End>", "5", "<C-z>"}
                          << QStringList{"15", "1"} << true << "1";
    QTest::newRow("cursor keys are no change")
        << "123"
        << "" << QStringList{"<F2>", "<Left>", "<Home>", "<Right>"} << QStringList{} << true
        << "123";
    QTest::newRow("Enter commits")
        << "9"
        << "" << QStringList{"7", "<Enter>"} << QStringList{"7", "7"} << false << "";
    QTest::newRow("Enter opens, Enter commits")
        << "9"
        << "" << QStringList{"<Enter>", "<Enter>"} << QStringList{"9"} << false << "";
    QTest::newRow("Escape closes without commit")
        << "9"
        << "" << QStringList{"7", "<Esc>"} << QStringList{"7"} << false << "";
    QTest::newRow("F2 and Escape")
        << "9"
        << "" << QStringList{"<F2>", "<Esc>"} << QStringList{} << false << "";
    QTest::newRow("moving down commits")
        << "9"
        << "" << QStringList{"7", "<Down>"} << QStringList{"7", "7"} << false << "";
}

void TestStringGrid::editorNotifications() {
    QFETCH(QString, cell);
    QFETCH(QString, clipboard);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, notified);
    QFETCH(bool, openAfter);
    QFETCH(QString, editorAfter);

    m_grid->SetCell(ValueCol, 1, cell);
    if (!clipboard.isEmpty())
        QApplication::clipboard()->setText(clipboard);
    PressAll(keys);

    QCOMPARE(EditTexts(), notified);
    for (const Edit &e : m_edits) {
        QCOMPARE(e.col, ValueCol);
        QCOMPARE(e.row, 1);
        QCOMPARE(e.cellAtFire, e.text);
    }
    QCOMPARE(m_grid->EditorOpen(), openAfter);
    QCOMPARE(m_grid->EditorText(), editorAfter);
    if (openAfter) {
        QCOMPARE(QApplication::focusWidget(), m_grid->Editor());
        QCOMPARE(m_grid->Cell(ValueCol, 1), editorAfter);
    } else {
        QCOMPARE(QApplication::focusWidget(), m_grid);
        QVERIFY(!m_grid->Editor()->isVisible());
    }
    if (!notified.isEmpty())
        QCOMPARE(m_grid->Cell(ValueCol, 1), notified.back());
    else
        QCOMPARE(m_grid->Cell(ValueCol, 1), cell);
}

void TestStringGrid::closingNotifies_data() {
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("rowAfter");
    QTest::addColumn<bool>("gridFocusAfter");

    QTest::newRow("key move") << "down" << 2 << true;
    QTest::newRow("left click on another cell") << "click" << 4 << true;
    QTest::newRow("left click on a fixed cell") << "fixed" << 1 << true;
    QTest::newRow("right click") << "right" << 1 << true;
    QTest::newRow("middle click") << "middle" << 1 << true;
    QTest::newRow("focus to another control") << "focus" << 1 << false;
    QTest::newRow("Tab") << "tab" << 1 << false;
}

void TestStringGrid::closingNotifies() {
    QFETCH(QString, how);
    QFETCH(int, rowAfter);
    QFETCH(bool, gridFocusAfter);

    PressAll({"5", "6"});
    QCOMPARE(EditTexts(), (QStringList{"5", "56"}));
    if (how == "down")
        Press("<Down>");
    else if (how == "click")
        ClickCell(ValueCol, 4);
    else if (how == "fixed")
        ClickCell(1, 4);
    else if (how == "right")
        ClickCell(ValueCol, 4, Qt::RightButton);
    else if (how == "middle")
        ClickCell(ValueCol, 4, Qt::MiddleButton);
    else if (how == "focus")
        m_other->setFocus(Qt::OtherFocusReason);
    else if (how == "tab")
        Press("<Tab>");
    if (QMenu *menu = m_grid->PopupMenu(); menu->isVisible())
        menu->close();

    QCOMPARE(EditTexts(), (QStringList{"5", "56", "56"}));
    const Edit &closing = m_edits.back();
    QCOMPARE(closing.col, ValueCol);
    QCOMPARE(closing.row, 1);
    QCOMPARE(closing.cellAtFire, QStringLiteral("56"));
    QVERIFY(!closing.editorOpenAtFire);
    QVERIFY(!m_grid->EditorOpen());
    QVERIFY(!m_grid->Editor()->isVisible());
    QCOMPARE(m_grid->Row(), rowAfter);
    QCOMPARE(m_grid->Cell(ValueCol, 1), QStringLiteral("56"));
    if (gridFocusAfter)
        QTRY_COMPARE(QApplication::focusWidget(), m_grid);
    else
        QCOMPARE(QApplication::focusWidget(), m_other);
}

void TestStringGrid::loadsNeverNotify() {
    Press("<F2>");
    QVERIFY(m_grid->EditorOpen());
    m_grid->SetCell(ValueCol, 1, QStringLiteral("x"));
    QCOMPARE(m_grid->EditorText(), QStringLiteral("x"));
    Press("<Esc>");
    ClickCell(ValueCol, 1); // opens on the current cell
    QVERIFY(m_grid->EditorOpen());
    QCOMPARE(m_grid->EditorText(), QStringLiteral("x"));
    m_grid->SetCell(ValueCol, 1, QStringLiteral("y"));
    QCOMPARE(m_edits.size(), 0);
}

void TestStringGrid::rewriteReloadsEditor() {
    PressAll({"1", "2"});
    m_grid->SetCell(ValueCol, 2, QStringLiteral("other")); // not under the editor
    QCOMPARE(m_grid->EditorText(), QStringLiteral("12"));
    QCOMPARE(m_grid->Editor()->selectedText(), QString());

    m_grid->SetCell(ValueCol, 1, QStringLiteral("42"));
    QCOMPARE(m_grid->EditorText(), QStringLiteral("42"));
    QCOMPARE(m_grid->Editor()->selectedText(), QStringLiteral("42"));
    QCOMPARE(m_edits.size(), 2); // the reload itself is no change

    Press("7"); // replaces the selection
    QCOMPARE(m_grid->EditorText(), QStringLiteral("7"));
    QCOMPARE(EditTexts(), (QStringList{"1", "12", "7"}));

    // Rewriting with the same text still selects it all.
    m_grid->SetCell(ValueCol, 1, QStringLiteral("7"));
    QCOMPARE(m_grid->Editor()->selectedText(), QStringLiteral("7"));
}

void TestStringGrid::rewriteFromCallback_data() {
    QTest::addColumn<int>("reaction");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("notified");
    QTest::addColumn<QString>("cellAfter");
    QTest::addColumn<QString>("selectedAfter");

    QTest::newRow("each character replaces the last")
        << int(Reaction::LastChar) << QStringList{"A", "B", "C"} << QStringList{"A", "B", "C"}
        << "C"
        << "C";
    QTest::newRow("a non-digit leaves a selected 0")
        << int(Reaction::DigitsOrZero) << QStringList{"1", ".", "0", "4"}
        << QStringList{"1", "1.", "0", "04"} << "04"
        << "";
    QTest::newRow("a minus then a digit")
        << int(Reaction::DigitsOrZero) << QStringList{"-", "5"} << QStringList{"-", "5"} << "5"
        << "";
    QTest::newRow("non-digit last") << int(Reaction::DigitsOrZero) << QStringList{"1", "2", "a"}
                                    << QStringList{"1", "12", "12a"} << "0"
                                    << "0";
}

void TestStringGrid::rewriteFromCallback() {
    QFETCH(int, reaction);
    QFETCH(QStringList, keys);
    QFETCH(QStringList, notified);
    QFETCH(QString, cellAfter);
    QFETCH(QString, selectedAfter);

    m_reaction = Reaction(reaction);
    PressAll(keys);
    QCOMPARE(EditTexts(), notified);
    QCOMPARE(m_grid->Cell(ValueCol, 1), cellAfter);
    QCOMPARE(m_grid->EditorText(), cellAfter);
    QCOMPARE(m_grid->Editor()->selectedText(), selectedAfter);
    QVERIFY(m_grid->EditorOpen());
}

void TestStringGrid::redrawWhileTypingLosesNothing() {
    // A redraw rewrites every value cell, the one under the editor too.
    PressAll({"1", "0", "4"});
    for (int row = 1; row <= LastRow; ++row)
        m_grid->SetCell(ValueCol, row, QString());
    m_grid->SetCell(ValueCol, 1, QStringLiteral("1.04"));
    QCOMPARE(m_grid->EditorText(), QStringLiteral("1.04"));
    QCOMPARE(m_grid->Editor()->selectedText(), QStringLiteral("1.04"));
    QCOMPARE(EditTexts(), (QStringList{"1", "10", "104"}));
    Press("2");
    QCOMPARE(EditTexts().back(), QStringLiteral("2"));
}

void TestStringGrid::selectCellBeforeMove_data() {
    QTest::addColumn<int>("startRow");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("target");
    QTest::addColumn<QRect>("selection");

    const int page = Page;
    QTest::newRow("down") << 1 << "<Down>" << 2 << QRect(2, 2, 1, 1);
    QTest::newRow("up") << 5 << "<Up>" << 4 << QRect(2, 4, 1, 1);
    QTest::newRow("page down") << 1 << "<PgDn>" << 1 + page << QRect(2, 1 + page, 1, 1);
    QTest::newRow("page up") << 40 << "<PgUp>" << 40 - page << QRect(2, 40 - page, 1, 1);
    QTest::newRow("page down near the end")
        << 150 << "<PgDn>" << LastRow << QRect(2, LastRow, 1, 1);
    QTest::newRow("end") << 3 << "<End>" << LastRow << QRect(2, LastRow, 1, 1);
    QTest::newRow("home") << 30 << "<Home>" << 1 << QRect(2, 1, 1, 1);
    QTest::newRow("ctrl end") << 3 << "<C-End>" << LastRow << QRect(2, LastRow, 1, 1);
    QTest::newRow("ctrl home") << 30 << "<C-Home>" << 1 << QRect(2, 1, 1, 1);
    QTest::newRow("shift down") << 3 << "<S-Down>" << 4 << QRect(2, 3, 1, 2);
    QTest::newRow("shift up") << 3 << "<S-Up>" << 2 << QRect(2, 2, 1, 2);
    QTest::newRow("shift page down") << 1 << "<S-PgDn>" << 1 + page << QRect(2, 1, 1, 1 + page);
    QTest::newRow("left click") << 1 << "click 7" << 7 << QRect(2, 7, 1, 1);
    QTest::newRow("shift click") << 2 << "shift-click 7" << 7 << QRect(2, 2, 1, 6);
}

void TestStringGrid::selectCellBeforeMove() {
    QFETCH(int, startRow);
    QFETCH(QString, action);
    QFETCH(int, target);
    QFETCH(QRect, selection);

    QCOMPARE(m_grid->FixedRows(), 1);
    // Get there first, then watch only the move under test.
    while (m_grid->Row() < startRow)
        Press("<Down>");
    QCOMPARE(m_grid->Row(), startRow);
    m_selects.clear();

    if (action.startsWith("click "))
        ClickCell(ValueCol, action.mid(6).toInt());
    else if (action.startsWith("shift-click "))
        ClickCell(ValueCol, action.mid(12).toInt(), Qt::LeftButton, Qt::ShiftModifier);
    else
        Press(action);

    QCOMPARE(m_selects.size(), 1);
    QCOMPARE(m_selects[0].col, ValueCol);
    QCOMPARE(m_selects[0].row, target);
    QCOMPARE(m_selects[0].currentRowAtFire, startRow); // before the move
    QCOMPARE(m_grid->Row(), target);
    QCOMPARE(m_grid->Col(), ValueCol);
    QCOMPARE(m_grid->Selection(), selection);
    QVERIFY(!m_grid->EditorOpen());
}

void TestStringGrid::refusedMoveStays_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("down") << "<Down>";
    QTest::newRow("page down") << "<PgDn>";
    QTest::newRow("end") << "<End>";
    QTest::newRow("shift down") << "<S-Down>";
    QTest::newRow("left click") << "click";
}

void TestStringGrid::refusedMoveStays() {
    QFETCH(QString, action);
    m_allow = false;
    if (action == "click")
        ClickCell(ValueCol, 9);
    else
        Press(action);
    QCOMPARE(m_selects.size(), 1);
    QVERIFY(m_selects[0].row > 1);
    QCOMPARE(m_grid->Row(), 1);
    QCOMPARE(m_grid->Selection(), QRect(ValueCol, 1, 1, 1));
    QCOMPARE(m_grid->TopRow(), 1);
}

void TestStringGrid::refusedMoveKeepsEditorOpen() {
    m_allow = false;
    Press("5");
    Press("<Down>");
    QCOMPARE(m_selects.size(), 1);
    QVERIFY(m_grid->EditorOpen());
    QCOMPARE(QApplication::focusWidget(), m_grid->Editor());
    QCOMPARE(EditTexts(), QStringList{"5"});
    Press("6");
    QCOMPARE(EditTexts(), (QStringList{"5", "56"}));
}

void TestStringGrid::rangeSelection() {
    // Dragging with the left button extends the range, asking at each cell.
    const QRect from = m_grid->CellRect(ValueCol, 3);
    const QRect to = m_grid->CellRect(ValueCol, 6);
    QTest::mousePress(m_grid->viewport(), Qt::LeftButton, {}, from.center());
    QTest::mouseMove(m_grid->viewport(), to.center());
    QTest::mouseRelease(m_grid->viewport(), Qt::LeftButton, {}, to.center());
    QCOMPARE(m_grid->Selection(), QRect(ValueCol, 3, 1, 4));
    QCOMPARE(m_grid->Row(), 6);
    QCOMPARE(m_selects.size(), 2);
    QCOMPARE(m_selects[1].row, 6);

    // A plain key move collapses it.
    Press("<Down>");
    QCOMPARE(m_grid->Selection(), QRect(ValueCol, 7, 1, 1));
}

void TestStringGrid::rightClickClosesWithoutMoving() {
    ClickCell(ValueCol, 12);
    QCOMPARE(m_grid->Row(), 12);
    m_selects.clear();
    Press("5");
    QVERIFY(m_grid->EditorOpen());

    ClickCell(ValueCol, 20, Qt::RightButton);
    QMenu *menu = m_grid->PopupMenu();
    QVERIFY(menu->isVisible());
    // At the pointer.
    const QPoint pointer = m_grid->viewport()->mapToGlobal(m_grid->CellRect(ValueCol, 20).center());
    QVERIFY2((menu->pos() - pointer).manhattanLength() <= 2,
             qPrintable(QStringLiteral("menu at %1,%2, pointer at %3,%4")
                            .arg(menu->pos().x())
                            .arg(menu->pos().y())
                            .arg(pointer.x())
                            .arg(pointer.y())));
    menu->close();

    QCOMPARE(m_grid->Row(), 12);
    QCOMPARE(m_grid->Selection(), QRect(ValueCol, 12, 1, 1));
    QVERIFY(m_selects.isEmpty());
    QVERIFY(!m_grid->EditorOpen());
    QCOMPARE(EditTexts(), (QStringList{"5", "5"}));
    QCOMPARE(m_edits.back().row, 12);

    // With the editor closed, a right click changes nothing but the menu.
    m_edits.clear();
    ClickCell(1, 22, Qt::RightButton);
    QVERIFY(menu->isVisible());
    menu->close();
    QCOMPARE(m_grid->Row(), 12);
    QVERIFY(m_edits.isEmpty());
    QVERIFY(m_selects.isEmpty());
}

void TestStringGrid::openEditor_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("open");
    QTest::addColumn<QString>("editorText");
    QTest::addColumn<QStringList>("notified");

    QTest::newRow("printable key") << "k" << true << "k" << QStringList{"k"};
    QTest::newRow("space") << " " << true << " " << QStringList{" "};
    QTest::newRow("digit") << "3" << true << "3" << QStringList{"3"};
    QTest::newRow("F2") << "<F2>" << true << "10" << QStringList{};
    QTest::newRow("Enter") << "<Enter>" << true << "10" << QStringList{};
    QTest::newRow("click on the current cell") << "click current" << true << "10" << QStringList{};
    QTest::newRow("double click elsewhere") << "double click" << true << "50" << QStringList{};
    QTest::newRow("click on another cell") << "click other" << false << "" << QStringList{};
    QTest::newRow("cursor key") << "<Left>" << false << "" << QStringList{};
    QTest::newRow("Escape") << "<Esc>" << false << "" << QStringList{};
}

void TestStringGrid::openEditor() {
    QFETCH(QString, action);
    QFETCH(bool, open);
    QFETCH(QString, editorText);
    QFETCH(QStringList, notified);

    if (action == "click current")
        ClickCell(ValueCol, 1);
    else if (action == "click other")
        ClickCell(ValueCol, 5);
    else if (action == "double click")
        QTest::mouseDClick(m_grid->viewport(), Qt::LeftButton, {},
                           m_grid->CellRect(ValueCol, 5).center());
    else
        Press(action);

    QCOMPARE(m_grid->EditorOpen(), open);
    QCOMPARE(m_grid->Editor()->isVisible(), open);
    QCOMPARE(m_grid->EditorText(), editorText);
    QCOMPARE(EditTexts(), notified);
    if (open) {
        QCOMPARE(QApplication::focusWidget(), m_grid->Editor());
        QCOMPARE(m_grid->Editor()->geometry(), m_grid->CellRect(ValueCol, m_grid->Row()));
        if (notified.isEmpty()) // opened on the cell's text, all of it selected
            QCOMPARE(m_grid->Editor()->selectedText(), editorText);
    }
}

void TestStringGrid::fixedCellsNeverCurrent_data() {
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("row");
    QTest::newRow("heading corner") << 0 << 0;
    QTest::newRow("value heading") << 2 << 0;
    QTest::newRow("number column") << 0 << 5;
    QTest::newRow("name column") << 1 << 5;
}

void TestStringGrid::fixedCellsNeverCurrent() {
    QFETCH(int, col);
    QFETCH(int, row);
    ClickCell(col, row);
    QTest::mouseDClick(m_grid->viewport(), Qt::LeftButton, {}, m_grid->CellRect(col, row).center());
    QVERIFY(m_selects.isEmpty());
    QCOMPARE(m_grid->Col(), ValueCol);
    QCOMPARE(m_grid->Row(), 1);
    QVERIFY(!m_grid->EditorOpen());
    // Keys stop at the fixed edge without asking.
    PressAll({"<Up>", "<Left>", "<Home>", "<C-Home>", "<PgUp>"});
    QVERIFY(m_selects.isEmpty());
    QCOMPARE(m_grid->Col(), ValueCol);
    QCOMPARE(m_grid->Row(), 1);
}

void TestStringGrid::tabLeavesGrid_data() {
    QTest::addColumn<bool>("editing");
    QTest::newRow("editor closed") << false;
    QTest::newRow("editor open") << true;
}

void TestStringGrid::tabLeavesGrid() {
    QFETCH(bool, editing);
    if (editing)
        Press("4");
    Press("<Tab>");
    QCOMPARE(QApplication::focusWidget(), m_other);
    QCOMPARE(m_grid->Row(), 1);
    QVERIFY(m_selects.isEmpty());
    QVERIFY(!m_grid->EditorOpen());
    QCOMPARE(EditTexts(), editing ? (QStringList{"4", "4"}) : QStringList{});
}

void TestStringGrid::keyboardMovesKeepCurrentVisible() {
    const QRect view = m_grid->viewport()->rect();
    for (int i = 0; i < 60; ++i) {
        Press("<Down>");
        const QRect r = m_grid->CellRect(ValueCol, m_grid->Row());
        QVERIFY2(view.contains(r), qPrintable(QStringLiteral("row %1").arg(m_grid->Row())));
    }
    QCOMPARE(m_grid->Row(), 61);
    QVERIFY(m_grid->TopRow() > 1);
    Press("<End>");
    QVERIFY(view.contains(m_grid->CellRect(ValueCol, LastRow)));
    QCOMPARE(m_grid->verticalScrollBar()->value(), m_grid->verticalScrollBar()->maximum());
    Press("<Home>");
    QCOMPARE(m_grid->TopRow(), 1);
    // The heading row stays in place while the rows scroll under it.
    m_grid->verticalScrollBar()->setValue(50);
    QCOMPARE(m_grid->CellRect(2, 0), QRect(212, 0, 48, 18));
    QCOMPARE(m_grid->CellRect(0, 51), QRect(0, 19, 48, 18));
    QVERIFY(m_grid->CellRect(ValueCol, 1).isEmpty());
}

void TestStringGrid::editorFollowsScrolling() {
    Press("<F2>");
    QCOMPARE(m_grid->Editor()->geometry(), m_grid->CellRect(ValueCol, 1));
    m_grid->verticalScrollBar()->setValue(10); // row 1 out of view
    QVERIFY(!m_grid->Editor()->geometry().intersects(m_grid->viewport()->rect()));
    QVERIFY(m_grid->EditorOpen());
    QCOMPARE(QApplication::focusWidget(), m_grid->Editor()); // still typing into it
    Press("9");
    QCOMPARE(EditTexts(), QStringList{"9"});
    m_grid->verticalScrollBar()->setValue(0);
    QCOMPARE(m_grid->Editor()->geometry(), m_grid->CellRect(ValueCol, 1));

    // Moving on from a scrolled position keeps it over its cell.
    Press("<Esc>");
    while (m_grid->Row() < 40)
        Press("<Down>");
    Press("<F2>");
    QCOMPARE(m_grid->Editor()->geometry(), m_grid->CellRect(ValueCol, 40));
    QVERIFY(m_grid->viewport()->rect().contains(m_grid->Editor()->geometry()));
}

void TestStringGrid::callbackResizesGrid_data() {
    QTest::addColumn<QString>("when");
    QTest::newRow("while typing") << "edit";
    QTest::newRow("while closing") << "close";
    QTest::newRow("before a move") << "select";
}

void TestStringGrid::callbackResizesGrid() {
    QFETCH(QString, when);
    while (m_grid->Row() < 30)
        Press("<Down>");
    m_selects.clear();
    bool resized = false;
    auto shrink = [&] {
        if (!resized) {
            resized = true;
            m_grid->SetSize(3, 20, 2, 1);
            m_grid->SetCell(ValueCol, 30, QStringLiteral("gone")); // no such cell now
        }
    };
    if (when == "edit") {
        m_grid->OnSetEditText = [&](int, int, const QString &) { shrink(); };
        Press("7");
    } else if (when == "close") {
        Press("7");
        m_grid->OnSetEditText = [&](int, int, const QString &) { shrink(); };
        Press("<Down>");
    } else {
        m_grid->OnSelectCell = [&](int, int, bool &) { shrink(); };
        Press("<Down>");
    }
    QVERIFY(resized);
    QCOMPARE(m_grid->RowCount(), 20);
    QVERIFY(!m_grid->EditorOpen());
    QCOMPARE(m_grid->Row(), 19);                                 // held inside the smaller grid
    QCOMPARE(m_grid->Cell(ValueCol, 19), QStringLiteral("190")); // texts kept
    QCOMPARE(m_grid->Cell(ValueCol, 30), QString());
    QVERIFY(!Render().isNull());
    // Still usable.
    Press("<Up>");
    QCOMPARE(m_grid->Row(), 18);
    Press("<F2>");
    QCOMPARE(m_grid->EditorText(), QStringLiteral("180"));
}

void TestStringGrid::outOfRangeCells() {
    m_grid->SetCell(3, 1, QStringLiteral("x"));
    m_grid->SetCell(0, 156, QStringLiteral("x"));
    m_grid->SetCell(-1, 0, QStringLiteral("x"));
    QCOMPARE(m_grid->Cell(3, 1), QString());
    QCOMPARE(m_grid->Cell(0, 156), QString());
    QCOMPARE(m_grid->Cell(-1, 0), QString());
    QVERIFY(m_grid->CellRect(3, 1).isEmpty());
    QCOMPARE(m_grid->ColWidth(7), 0);
}

void TestStringGrid::menuKeyOpensAtCurrentCell() {
    Press("<Down>");
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(0, 0),
                              m_grid->viewport()->mapToGlobal(QPoint(0, 0)));
    QApplication::sendEvent(m_grid->viewport(), &menuKey);
    QMenu *menu = m_grid->PopupMenu();
    QVERIFY(menu->isVisible());
    const QRect cell = m_grid->CellRect(ValueCol, 2);
    QCOMPARE(menu->pos(), m_grid->viewport()->mapToGlobal(cell.bottomLeft()));
    menu->close();
    QCOMPARE(m_grid->Row(), 2);
}

void TestStringGrid::throwingCallbackIsContained() {
    QStringList reported;
    ui::SetErrorHandler([&](const QString &message) { reported << message; });
    m_grid->OnSetEditText = [](int, int, const QString &text) {
        throw std::runtime_error(text.toStdString());
    };
    m_grid->OnSelectCell = [](int, int, bool &) { throw std::runtime_error("select"); };
    PressAll({"4", "2"});
    Press("<Down>"); // asks, is refused by the failure, stays
    ui::SetErrorHandler(nullptr);
    QCOMPARE(reported, (QStringList{"4", "42", "select"}));
    QCOMPARE(m_grid->Cell(ValueCol, 1), QStringLiteral("42"));
    QCOMPARE(m_grid->Row(), 1);
    QVERIFY(m_grid->EditorOpen());
}

void TestStringGrid::paintsWithPaletteRoles() {
    QPalette pal = m_grid->palette();
    pal.setColor(QPalette::Base, QColor(10, 20, 30));
    pal.setColor(QPalette::Text, QColor(210, 220, 230));
    pal.setColor(QPalette::Button, QColor(60, 60, 90));
    pal.setColor(QPalette::ButtonText, QColor(250, 250, 120));
    pal.setColor(QPalette::Highlight, QColor(0, 120, 200));
    pal.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    m_grid->setPalette(pal);
    for (int row = 1; row <= LastRow; ++row)
        m_grid->SetCell(ValueCol, row, QString());
    m_grid->SetCell(0, 3, QString());
    m_grid->SetCell(ValueCol, 4, QStringLiteral("8888"));
    m_other->setFocus(); // no focus frame over the current cell

    const QImage img = Render();
    auto at = [&](QPoint p) { return QColor(img.pixel(p * img.devicePixelRatio())); };
    // Current cell (selected), another value cell, a fixed cell, a line.
    QCOMPARE(at(m_grid->CellRect(ValueCol, 1).center()), QColor(0, 120, 200));
    QCOMPARE(at(m_grid->CellRect(ValueCol, 3).center()), QColor(10, 20, 30));
    QCOMPARE(at(m_grid->CellRect(0, 3).center()), QColor(60, 60, 90));
    const QRect r = m_grid->CellRect(ValueCol, 3);
    const QColor line = at(QPoint(r.center().x(), r.bottom() + 1));
    QVERIFY(line != QColor(10, 20, 30) && line != QColor(210, 220, 230));
    QCOMPARE(at(QPoint(r.left() - 1, r.center().y())), line);

    // Text in the Text colour somewhere in cell 4, and none in the first
    // two pixels (padding).
    const QRect c4 = m_grid->CellRect(ValueCol, 4);
    bool textSeen = false;
    for (int y = c4.top(); y <= c4.bottom(); ++y) {
        for (int x = c4.left(); x <= c4.right(); ++x)
            textSeen = textSeen || at(QPoint(x, y)) == QColor(210, 220, 230);
        QCOMPARE(at(QPoint(c4.left(), y)), QColor(10, 20, 30));
        QCOMPARE(at(QPoint(c4.left() + 1, y)), QColor(10, 20, 30));
    }
    QVERIFY(textSeen);

    // Rewritten cells are drawn anew (no stale layout), and a text is never
    // read as markup ("<br>" would draw nothing).
    auto inkIn = [&](const QImage &image, const QRect &cell) {
        int n = 0;
        for (int y = cell.top(); y <= cell.bottom(); ++y)
            for (int x = cell.left(); x <= cell.right(); ++x)
                n += QColor(image.pixel(QPoint(x, y) * image.devicePixelRatio())) !=
                     QColor(10, 20, 30);
        return n;
    };
    const QRect c3 = m_grid->CellRect(ValueCol, 3);
    QCOMPARE(inkIn(img, c3), 0);
    m_grid->SetCell(ValueCol, 3, QStringLiteral("1"));
    const int one = inkIn(Render(), c3);
    m_grid->SetCell(ValueCol, 3, QStringLiteral("8888"));
    QVERIFY(inkIn(Render(), c3) > one && one > 0);
    m_grid->SetCell(ValueCol, 3, QStringLiteral("<br>"));
    QVERIFY(inkIn(Render(), c3) > 0);

    // A palette whose Button equals Base (as a style sheet background
    // makes it) still draws headings apart from the cells.
    pal.setColor(QPalette::Button, QColor(10, 20, 30));
    pal.setColor(QPalette::AlternateBase, QColor(40, 50, 60));
    m_grid->setPalette(pal);
    const QImage img2 = Render();
    QCOMPARE(QColor(img2.pixel(m_grid->CellRect(1, 3).center() * img2.devicePixelRatio())),
             QColor(40, 50, 60));
}

void TestStringGrid::longTextStaysInItsCell() {
    m_grid->SetCell(0, 3, QString(40, u'W'));
    m_grid->SetCell(1, 3, QString());
    const QImage img = Render();
    const QRect r0 = m_grid->CellRect(0, 3);
    const QRect r1 = m_grid->CellRect(1, 3);
    const QColor lineColour(
        img.pixel(QPoint(r0.right() + 1, r0.top() - 1) * img.devicePixelRatio()));
    const QColor empty(img.pixel(r1.center() * img.devicePixelRatio()));
    for (int y = r0.top(); y <= r0.bottom(); ++y) {
        // The line right of the cell and the empty cell after it stay clean.
        QCOMPARE(QColor(img.pixel(QPoint(r0.right() + 1, y) * img.devicePixelRatio())), lineColour);
        for (int x = r1.left(); x <= r1.right(); ++x)
            QCOMPARE(QColor(img.pixel(QPoint(x, y) * img.devicePixelRatio())), empty);
    }
}

// A selected cell with colours of its own shows them as a 4 px stripe at its
// left edge; its text starts after the stripe and its padding, so that no
// digit is drawn over it. Other cells keep the 2 px padding.
void TestStringGrid::textClearOfStripe_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("own");
    QTest::addColumn<int>("clear"); // pixels from the left edge without text
    QTest::newRow("selected, own colours") << 1 << true << 4 + 2;
    QTest::newRow("selected, no colours") << 1 << false << 2;
    QTest::newRow("not selected, own colours") << 3 << true << 2;
}

void TestStringGrid::textClearOfStripe() {
    QFETCH(int, row);
    QFETCH(bool, own);
    QFETCH(int, clear);
    QPalette pal = m_grid->palette();
    pal.setColor(QPalette::Base, QColor(10, 20, 30));
    pal.setColor(QPalette::Text, QColor(210, 220, 230));
    pal.setColor(QPalette::Highlight, QColor(0, 120, 200));
    pal.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    m_grid->setPalette(pal);
    const QColor stripe(240, 228, 66), ownText(0, 0, 0);
    if (own)
        m_grid->SetCellColours(ValueCol, row, {stripe, ownText});
    // Digits whose ink reaches their left edge, and a text wider than the
    // room, which must still stay clear of the stripe.
    m_grid->SetCell(ValueCol, row, QStringLiteral("8888888888888"));
    m_other->setFocus(); // no focus frame over the current cell
    QCOMPARE(m_grid->Row(), 1);

    const QImage img = Render();
    auto at = [&](int x, int y) {
        return QColor(img.pixel(QPoint(x, y) * img.devicePixelRatio()));
    };
    const QRect cell = m_grid->CellRect(ValueCol, row);
    const QColor fill = row == 1 ? QColor(0, 120, 200) : own ? stripe : QColor(10, 20, 30);
    int ink = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        for (int x = cell.left(); x < cell.left() + clear; ++x) {
            const QColor expected = row == 1 && own && x < cell.left() + 4 ? stripe : fill;
            QCOMPARE(at(x, y), expected);
        }
        for (int x = cell.left() + clear; x <= cell.right(); ++x)
            ink += at(x, y) != fill;
    }
    QVERIFY(ink > 0);
}

QTEST_MAIN(TestStringGrid)
#include "tst_stringgrid.moc"
