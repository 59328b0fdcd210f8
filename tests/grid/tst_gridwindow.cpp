// The register grid through the real main window: the redraw from Regs and
// values typed key by key into the grid.
#include "Edits.h"
#include "FormFixture.h"
#include "KeyTokens.h"
#include "MainUnit.h"
#include "MessageBox.h"
#include "StringGrid.h"
#include "Style.h"

#include <QClipboard>
#include <QLineEdit>
#include <QMenu>
#include <QStyle>
#include <QTest>
#include <memory>
#include <stdexcept>

using gridtest::Press;
using gridtest::PressAll;

namespace {

constexpr int ValueCol = 2;
constexpr int LastRow = 155;
constexpr int LengthIndex = 54;
constexpr int TextIndex = 55;
constexpr int VersionIndex = 23;

using RegList = QVector<QPair<int, int>>; // image index, value

QString CharText(uint16_t code) {
    return QString(QChar(char16_t(code)));
}

QString ErrorPart(const QString &caption) {
    const QString marker = QStringLiteral(" Tre\u015B\u0107: ");
    const int at = int(caption.indexOf(marker));
    return at < 0 ? QString() : caption.mid(at + marker.size());
}

} // namespace

Q_DECLARE_METATYPE(RegList)

class TestGridWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void versionText_data();
    void versionText();
    void numberRows_data();
    void numberRows();
    void stringLength_data();
    void stringLength();
    void textField_data();
    void textField();
    void numberEditing_data();
    void numberEditing();
    void conversionError_data();
    void conversionError();
    void callbacksLeaveGuardToGrid();
    void versionTypedKeyByKey();
    void characterEditing_data();
    void characterEditing();
    void leavingCommits_data();
    void leavingCommits();
    void selectCellStoresSelRow_data();
    void selectCellStoresSelRow();
    void rightClickKeepsSelRow();
    void redrawWhileEditing_data();
    void redrawWhileEditing();
    void legibleUnderStyle();

private:
    void SetRegs(const RegList &regs);
    void GoToRow(int row);
    QString Value(int row) const { return m_form->sg->Cell(ValueCol, row); }

    FormFixture m_fx{FormFixture::Timer::Running};
    QString m_styleName; // the application's style before a test
    TMainForm *m_form = nullptr;
    ui::TStringGrid *m_sg = nullptr;
    QList<FormFixture::ShownBox> &m_boxes = m_fx.boxes;
};

void TestGridWindow::init() {
    m_styleName = QApplication::style()->name();
    m_fx.Open();
    QVERIFY(m_fx.dir->isValid());
    m_form = m_fx.form.get();
    m_sg = m_form->sg;
    m_form->show();
    QVERIFY(QTest::qWaitForWindowActive(m_form));
    m_sg->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), m_sg);
}

void TestGridWindow::cleanup() {
    m_form = nullptr;
    m_sg = nullptr;
    m_fx.Close(); // not closed: nothing is saved
    // A test that selects a style (and may fail half-way) leaves none behind.
    qApp->setStyleSheet(QString());
    QApplication::setStyle(m_styleName);
}

void TestGridWindow::SetRegs(const RegList &regs) {
    for (const auto &[index, value] : regs)
        Regs[index] = uint16_t(value);
    m_form->RefreshSG();
}

// By the keyboard, as the operator would get there.
void TestGridWindow::GoToRow(int row) {
    if (!m_sg->hasFocus() && !m_sg->EditorOpen())
        m_sg->setFocus();
    Press("<C-Home>");
    for (int i = 1; i < row && m_sg->Row() < row; ++i)
        Press("<Down>");
    QCOMPARE(m_sg->Row(), row);
    QVERIFY(!m_sg->EditorOpen());
}

// ---- display ---------------------------------------------------------------------

void TestGridWindow::versionText_data() {
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "0.00";
    QTest::newRow("5") << 5 << "0.05";
    QTest::newRow("104") << 104 << "1.04";
    QTest::newRow("1000") << 1000 << "10.00";
    QTest::newRow("65535") << 65535 << "655.35";
}

void TestGridWindow::versionText() {
    QFETCH(int, value);
    QFETCH(QString, text);
    SetRegs({{VersionIndex, value}});
    QCOMPARE(Value(24), text);
    QCOMPARE(Regs[VersionIndex], uint16_t(value));
}

void TestGridWindow::numberRows_data() {
    QTest::addColumn<RegList>("regs");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");

    QTest::newRow("unsigned, not negative") << RegList{{0, 40000}} << 1 << "40000";
    QTest::newRow("largest") << RegList{{22, 65535}} << 23 << "65535";
    QTest::newRow("row 25") << RegList{{24, 192}} << 25 << "192";
    QTest::newRow("row 40 (pusty) is drawn") << RegList{{39, 7}} << 40 << "7";
    QTest::newRow("row 41") << RegList{{40, 3}} << 41 << "3";
    for (int row = 42; row <= 50; ++row)
        QTest::addRow("row %d stays empty", row) << RegList{{row - 1, 1234}} << row << "";
    QTest::newRow("row 51") << RegList{{50, 11}} << 51 << "11";
    QTest::newRow("row 54") << RegList{{53, 999}} << 54 << "999";
    QTest::newRow("length row") << RegList{{LengthIndex, 4}} << 55 << "4";
}

void TestGridWindow::numberRows() {
    QFETCH(RegList, regs);
    QFETCH(int, row);
    QFETCH(QString, text);
    SetRegs(regs);
    QCOMPARE(Value(row), text);
    // Names and numbers are in place beside it.
    QCOMPARE(m_sg->Cell(0, row), QString::number(40000 + row));
    QVERIFY(!m_sg->Cell(1, row).isEmpty());
}

void TestGridWindow::stringLength_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("shown"); // characters drawn after the limit
    QTest::newRow("0") << 0 << 0;
    QTest::newRow("3") << 3 << 3;
    QTest::newRow("99") << 99 << 99;
    QTest::newRow("100") << 100 << 100;
    QTest::newRow("150") << 150 << 100;
    QTest::newRow("65535 (unsigned)") << 65535 << 100;
}

void TestGridWindow::stringLength() {
    QFETCH(int, length);
    QFETCH(int, shown);
    for (int i = 0; i <= 100; ++i)
        Regs[TextIndex + i] = uint16_t(u'a' + i % 26);
    SetRegs({{LengthIndex, length}});

    QCOMPARE(Value(55), QString::number(length)); // as it was before the limit
    QCOMPARE(int(Regs[LengthIndex]), std::min(length, 100));
    // Rows 56 .. 56 + L hold one character each (the last one the register
    // after the string); the grid ends at row 155.
    for (int row = 56; row <= LastRow; ++row) {
        const int i = row - 56;
        const QString expected = i <= shown ? CharText(Regs[TextIndex + i]) : QString();
        QVERIFY2(Value(row) == expected,
                 qPrintable(QStringLiteral("row %1: '%2'").arg(row).arg(Value(row))));
    }
    m_form->RefreshSG();
    QCOMPARE(Value(55), QString::number(std::min(length, 100)));
}

void TestGridWindow::textField_data() {
    QTest::addColumn<RegList>("regs");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("row56Size");

    const RegList hello = {{TextIndex, 'H'},
                           {TextIndex + 1, 'E'},
                           {TextIndex + 2, 'L'},
                           {TextIndex + 3, 'L'},
                           {TextIndex + 4, 'O'}};
    QTest::newRow("HELLO, length 3") << (RegList{{LengthIndex, 3}} + hello) << "HELL" << 1;
    QTest::newRow("zero at index 57") << (hello + RegList{{LengthIndex, 5}, {57, 0}}) << "HE" << 1;
    QTest::newRow("U+0000 cell") << RegList{{LengthIndex, 0}, {TextIndex, 0}} << "" << 1;
    QTest::newRow("wide code") << RegList{{LengthIndex, 1}, {TextIndex, 0x0105}, {TextIndex + 1, 0}}
                               << QString(QChar(0x0105)) << 1;
}

void TestGridWindow::textField() {
    QFETCH(RegList, regs);
    QFETCH(QString, text);
    QFETCH(int, row56Size);
    m_form->edText->setText(QStringLiteral("stale"));
    SetRegs(regs);
    QCOMPARE(m_form->edText->text(), text);
    QCOMPARE(int(Value(56).size()), row56Size);
    QCOMPARE(Value(56).front().unicode(), Regs[TextIndex]);
}

// ---- editing ---------------------------------------------------------------------

void TestGridWindow::numberEditing_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<int>("reg");
    QTest::addColumn<QString>("selected");

    QTest::newRow("12a") << 1 << "" << QStringList{"1", "2", "a"} << "0" << 0 << "0";
    // The minus leaves a selected 0, which the 5 then replaces.
    QTest::newRow("minus then 5") << 1 << "" << QStringList{"-", "5"} << "5" << 5 << "";
    QTest::newRow("pasted -5") << 1 << "-5" << QStringList{"<F2>", "<C-v>"} << "0" << 0 << "0";
    QTest::newRow("emptied") << 1 << "" << QStringList{"<BS>"} << "" << 0 << "";
    QTest::newRow("emptied in the editor")
        << 3 << "" << QStringList{"<F2>", "<End>", "<BS>", "<BS>"} << "" << 0 << "";
    QTest::newRow("007") << 2 << "" << QStringList{"0", "0", "7"} << "007" << 7 << "";
    QTest::newRow("65536") << 5 << "" << QStringList{"6", "5", "5", "3", "6"} << "65536" << 0 << "";
    QTest::newRow("70000") << 6 << "" << QStringList{"7", "0", "0", "0", "0"} << "70000" << 4464
                           << "";
    QTest::newRow("65535") << 7 << "" << QStringList{"6", "5", "5", "3", "5"} << "65535" << 65535
                           << "";
    QTest::newRow("version row 104")
        << 24 << "" << QStringList{"1", "0", "4"} << "104" << 104 << "";
    QTest::newRow("length row, no limit while typing")
        << 55 << "" << QStringList{"2", "0", "0"} << "200" << 200 << "";
    QTest::newRow("unassigned row 45") << 45 << "" << QStringList{"9"} << "9" << 9 << "";
    QTest::newRow("space") << 4 << "" << QStringList{" "} << "0" << 0 << "0";
}

void TestGridWindow::numberEditing() {
    QFETCH(int, row);
    QFETCH(QString, clipboard);
    QFETCH(QStringList, keys);
    QFETCH(QString, cell);
    QFETCH(int, reg);
    QFETCH(QString, selected);

    SetRegs({{row - 1, 77}});
    GoToRow(row);
    if (!clipboard.isEmpty())
        QApplication::clipboard()->setText(clipboard);
    PressAll(keys);

    QVERIFY(m_sg->EditorOpen());
    QCOMPARE(Value(row), cell);
    QCOMPARE(m_sg->EditorText(), cell);
    QCOMPARE(m_sg->Editor()->selectedText(), selected);
    QCOMPARE(int(Regs[row - 1]), reg);
    QCOMPARE(ErrorPart(m_form->windowTitle()), QString());
    // Leaving commits the same text again: same result.
    Press("<Enter>");
    QVERIFY(!m_sg->EditorOpen());
    QCOMPARE(int(Regs[row - 1]), reg);
    QCOMPARE(Value(row), cell);
}

void TestGridWindow::conversionError_data() {
    QTest::addColumn<bool>("typed");
    QTest::newRow("typed key by key") << true;
    QTest::newRow("pasted") << false;
}

void TestGridWindow::conversionError() {
    QFETCH(bool, typed);
    const QString big = QStringLiteral("4294967296");
    SetRegs({{0, 77}});
    GoToRow(1);
    uint16_t before = 77;
    if (typed) {
        for (QChar c : big.left(big.size() - 1))
            Press(QString(c));
        // The nine-digit prefix still converts.
        before = uint16_t(big.left(big.size() - 1).toLongLong() & 0xFFFF);
        QCOMPARE(Regs[0], before);
        Press(big.right(1));
    } else {
        QApplication::clipboard()->setText(big);
        PressAll({"<F2>", "<C-v>"});
    }
    const QString message = QStringLiteral("'4294967296' is not a valid integer value");
    QCOMPARE(ErrorPart(m_form->windowTitle()), message);
    QVERIFY(m_form->windowTitle().startsWith(myCaption));
    QCOMPARE(Regs[0], before);
    QCOMPARE(Value(1), big);
    QCOMPARE(m_sg->EditorText(), big);
    const int32_t afterFirst = errorcount;

    // Committing the same text again raises it again.
    Press("<Down>");
    QCOMPARE(errorcount, afterFirst + 1);
    QCOMPARE(ErrorPart(m_form->windowTitle()), message);
    QCOMPARE(Regs[0], before);
    QCOMPARE(m_sg->Row(), 2);
    QVERIFY(m_boxes.isEmpty());
}

void TestGridWindow::callbacksLeaveGuardToGrid() {
    // The window's callbacks carry no guard of their own: a failure reaches
    // the grid, whose guard reports it and, for select-cell, refuses the move.
    const QString big = QStringLiteral("4294967296");
    m_sg->SetCell(ValueCol, 1, big);
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, m_sg->OnSetEditText(ValueCol, 1, big));
    QCOMPARE(m_form->windowTitle(), myCaption);
}

void TestGridWindow::versionTypedKeyByKey() {
    SetRegs({{VersionIndex, 104}});
    GoToRow(24);
    QCOMPARE(Value(24), QStringLiteral("1.04"));
    struct Step {
        const char *key, *cell;
        int reg;
        const char *selected;
    };
    const Step steps[] = {
        {"1", "1", 1, ""}, {".", "0", 0, "0"}, {"0", "0", 0, ""}, {"4", "04", 4, ""}};
    for (const Step &s : steps) {
        Press(QString::fromLatin1(s.key));
        QCOMPARE(Value(24), QString::fromLatin1(s.cell));
        QCOMPARE(m_sg->EditorText(), QString::fromLatin1(s.cell));
        QCOMPARE(m_sg->Editor()->selectedText(), QString::fromLatin1(s.selected));
        QCOMPARE(int(Regs[VersionIndex]), s.reg);
    }
    m_form->RefreshSG();
    QCOMPARE(Value(24), QStringLiteral("0.04"));
}

void TestGridWindow::characterEditing_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<int>("reg");

    QTest::newRow("A then B") << 56 << QStringList{"A", "B"} << "B" << 66;
    QTest::newRow("deleted: register kept") << 56 << QStringList{"A", "B", "<BS>"} << "" << 66;
    QTest::newRow("U+0105 stores its low byte")
        << 57 << QStringList{QString(QChar(0x0105))} << QString(QChar(0x0105)) << 5;
    QTest::newRow("last row") << LastRow << QStringList{"z"} << "z" << int('z');
    QTest::newRow("digit") << 60 << QStringList{"7"} << "7" << int('7');
}

void TestGridWindow::characterEditing() {
    QFETCH(int, row);
    QFETCH(QStringList, keys);
    QFETCH(QString, cell);
    QFETCH(int, reg);

    SetRegs({{LengthIndex, 100}, {row - 1, 'q'}});
    GoToRow(row);
    PressAll(keys);
    QCOMPARE(Value(row), cell);
    QCOMPARE(m_sg->EditorText(), cell);
    QCOMPARE(m_sg->Editor()->selectedText(), cell); // the next key replaces it
    QCOMPARE(int(Regs[row - 1]), reg);
}

void TestGridWindow::leavingCommits_data() {
    QTest::addColumn<RegList>("regs");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("leave");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("reg");
    QTest::addColumn<QString>("cell");

    QTest::newRow("code above 255, moving on")
        << RegList{{LengthIndex, 0}, {TextIndex, 0x0105}} << 56 << "down" << TextIndex << 5
        << QString(QChar(0x0105));
    QTest::newRow("version row, moving on")
        << RegList{{VersionIndex, 104}} << 24 << "down" << VersionIndex << 0 << "0";
    QTest::newRow("version row, clicking the text field")
        << RegList{{VersionIndex, 104}} << 24 << "edText" << VersionIndex << 0 << "0";
    QTest::newRow("version row, right click")
        << RegList{{VersionIndex, 104}} << 24 << "right" << VersionIndex << 0 << "0";
    QTest::newRow("version row, Escape leaves it")
        << RegList{{VersionIndex, 104}} << 24 << "escape" << VersionIndex << 104 << "1.04";
    QTest::newRow("empty row 45") << RegList{{44, 123}} << 45 << "down" << 44 << 0 << "";
    QTest::newRow("plain number") << RegList{{9, 321}} << 10 << "down" << 9 << 321 << "321";
}

void TestGridWindow::leavingCommits() {
    QFETCH(RegList, regs);
    QFETCH(int, row);
    QFETCH(QString, leave);
    QFETCH(int, index);
    QFETCH(int, reg);
    QFETCH(QString, cell);

    SetRegs(regs);
    GoToRow(row);
    Press("<F2>");
    QVERIFY(m_sg->EditorOpen());
    if (leave == "down") {
        Press("<Down>");
        QCOMPARE(m_sg->Row(), row + 1);
    } else if (leave == "edText") {
        QTest::mouseClick(m_form->edText, Qt::LeftButton);
        QCOMPARE(QApplication::focusWidget(), m_form->edText);
    } else if (leave == "right") {
        QTest::mouseClick(m_sg->viewport(), Qt::RightButton, {}, m_sg->CellRect(1, row).center());
        QVERIFY(m_form->pmSendOneReg->isVisible());
        m_form->pmSendOneReg->close();
    } else {
        Press("<Esc>");
    }
    QVERIFY(!m_sg->EditorOpen());
    QCOMPARE(int(Regs[index]), reg);
    QCOMPARE(Value(row), cell);
}

void TestGridWindow::selectCellStoresSelRow_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("row");
    QTest::newRow("click") << "click 7" << 7;
    QTest::newRow("down") << "<Down>" << 2;
    QTest::newRow("end") << "<End>" << LastRow;
    QTest::newRow("ctrl end") << "<C-End>" << LastRow;
    QTest::newRow("shift down") << "<S-Down>" << 2;
    QTest::newRow("page down") << "<PgDn>" << -1; // a page further, whatever the height
}

void TestGridWindow::selectCellStoresSelRow() {
    QFETCH(QString, action);
    QFETCH(int, row);
    QCOMPARE(SelRow, 1);
    if (action.startsWith("click "))
        QTest::mouseClick(m_sg->viewport(), Qt::LeftButton, {},
                          m_sg->CellRect(ValueCol, action.mid(6).toInt()).center());
    else
        Press(action);
    if (row < 0)
        QVERIFY(m_sg->Row() > 2);
    else
        QCOMPARE(m_sg->Row(), row);
    QCOMPARE(SelRow, m_sg->Row());
    // The redraw leaves it alone.
    m_form->RefreshSG();
    QCOMPARE(SelRow, m_sg->Row());
}

void TestGridWindow::rightClickKeepsSelRow() {
    QTest::mouseClick(m_sg->viewport(), Qt::LeftButton, {}, m_sg->CellRect(ValueCol, 12).center());
    QCOMPARE(SelRow, 12);
    Press("5");
    QTest::mouseClick(m_sg->viewport(), Qt::RightButton, {}, m_sg->CellRect(ValueCol, 30).center());
    QVERIFY(m_form->pmSendOneReg->isVisible());
    m_form->pmSendOneReg->close();
    // "Send this register" would act on row 12.
    QCOMPARE(SelRow, 12);
    QCOMPARE(m_sg->Row(), 12);
    QCOMPARE(int(Regs[11]), 5);
    QVERIFY(!m_sg->EditorOpen());
}

void TestGridWindow::redrawWhileEditing_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("redrawn");
    QTest::addColumn<int>("reg");

    QTest::newRow("version") << 24 << QStringList{"1", "0", "4"} << "1.04" << 104;
    QTest::newRow("leading zeros") << 3 << QStringList{"0", "0", "7"} << "7" << 7;
    QTest::newRow("beyond 16 bits") << 8 << QStringList{"7", "0", "0", "0", "0"} << "4464" << 4464;
    QTest::newRow("unassigned row") << 45 << QStringList{"5"} << "" << 5;
    QTest::newRow("character") << 56 << QStringList{"x"} << "x" << int('x');
}

void TestGridWindow::redrawWhileEditing() {
    QFETCH(int, row);
    QFETCH(QStringList, keys);
    QFETCH(QString, redrawn);
    QFETCH(int, reg);

    SetRegs({{LengthIndex, 10}});
    GoToRow(row);
    PressAll(keys);
    QCOMPARE(int(Regs[row - 1]), reg);
    uint16_t before[RegsSize];
    std::copy(std::begin(Regs), std::end(Regs), before);

    m_form->RefreshSG();
    QVERIFY(std::equal(std::begin(Regs), std::end(Regs), before));
    QVERIFY(m_sg->EditorOpen());
    QCOMPARE(m_sg->EditorText(), redrawn);
    QCOMPARE(m_sg->Editor()->selectedText(), redrawn);
    QCOMPARE(int(Regs[row - 1]), reg);

    // The next key replaces the redrawn text.
    Press("3");
    QCOMPARE(m_sg->EditorText(), QStringLiteral("3"));
    QCOMPARE(int(Regs[row - 1]), row > 55 ? int('3') : 3);
}

void TestGridWindow::legibleUnderStyle() {
    QVERIFY(SelectStyle(QStringLiteral("Onyx Blue")));
    SetRegs({{0, 12345}});
    m_form->edText->setFocus(); // no focus frame
    const QImage img = m_sg->viewport()->grab().toImage();
    auto colourAt = [&](QPoint p) { return QColor(img.pixel(p * img.devicePixelRatio())); };
    auto lightness = [](const QColor &c) { return c.toHsl().lightness(); };

    const QColor cellBg = colourAt(m_sg->CellRect(ValueCol, 2).topLeft() + QPoint(1, 1));
    const QColor headBg = colourAt(m_sg->CellRect(1, 2).topLeft() + QPoint(1, 1));
    const QColor selBg = colourAt(m_sg->CellRect(ValueCol, 1).topLeft() + QPoint(1, 1));
    QCOMPARE(cellBg, m_sg->palette().color(QPalette::Base));
    QVERIFY(headBg != cellBg);
    QCOMPARE(selBg, m_sg->palette().color(QPalette::Highlight));
    QVERIFY(lightness(cellBg) < 80); // the dark look, not the default one

    // The brightest pixel of a filled cell stands well clear of its ground.
    for (const QPoint cell : {QPoint(0, 2), QPoint(1, 2), QPoint(ValueCol, 1)}) {
        const QRect r = m_sg->CellRect(cell.x(), cell.y());
        const QColor bg = colourAt(r.topLeft() + QPoint(1, 1));
        int best = 0;
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                best = std::max(best, std::abs(lightness(colourAt(QPoint(x, y))) - lightness(bg)));
        QVERIFY2(
            best > 100,
            qPrintable(
                QStringLiteral("cell %1,%2: contrast %3").arg(cell.x()).arg(cell.y()).arg(best)));
    }
}

QTEST_MAIN(TestGridWindow)
#include "tst_gridwindow.moc"
