// The log's caret, selection and editing without a widget: moves over
// wrapped rows, the selection a move keeps or collapses, deletes and typing.
#include "LogControl.h"

#include <QtTest>

using trafficlog::LogControl;
using trafficlog::Move;
using trafficlog::Position;

Q_DECLARE_METATYPE(Position)

namespace {

const QHash<QString, Move> Moves = {
    {"Right", Move::NextChar},        {"Left", Move::PreviousChar},   {"WordRight", Move::NextWord},
    {"WordLeft", Move::PreviousWord}, {"Down", Move::NextRow},        {"Up", Move::PreviousRow},
    {"PgDn", Move::NextPage},         {"PgUp", Move::PreviousPage},   {"Home", Move::StartOfRow},
    {"End", Move::EndOfRow},          {"LogStart", Move::StartOfLog}, {"LogEnd", Move::EndOfLog},
};

} // namespace

class TestLogControl : public QObject {
    Q_OBJECT

private slots:
    // Steps: a move name moves the caret, "S-" before it selects, "Del-"
    // deletes the selection or to where the move goes, "'text" types.
    // Rows are 6 columns wide, a page 3 rows.
    void steps_data() {
        QTest::addColumn<QStringList>("start");
        QTest::addColumn<Position>("caret");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<Position>("expected");
        QTest::addColumn<QString>("selected");
        const QStringList wrapped = {"abcdefghijk", "ab", "abcdefgh"};
        const QStringList two = {"ab", "cd"};
        QTest::newRow("Down keeps the column within the row across a short line")
            << wrapped << Position{0, 4} << QStringList{"Down", "Down", "Down"} << wrapped
            << Position{2, 4} << QString();
        QTest::newRow("End of a wrapped row stops before the next row")
            << wrapped << Position{0, 2} << QStringList{"End"} << wrapped << Position{0, 5}
            << QString();
        QTest::newRow("End of the last row is the line's end")
            << wrapped << Position{0, 6} << QStringList{"End"} << wrapped << Position{0, 11}
            << QString();
        QTest::newRow("Home on the second row") << wrapped << Position{0, 8} << QStringList{"Home"}
                                                << wrapped << Position{0, 6} << QString();
        QTest::newRow("Shift+Down selects a row's width")
            << wrapped << Position{0, 2} << QStringList{"S-Down"} << wrapped << Position{0, 8}
            << "cdefgh";
        QTest::newRow("Right at a line end goes to the next line")
            << two << Position{0, 2} << QStringList{"Right"} << two << Position{1, 0} << QString();
        QTest::newRow("Left at a line start goes to the line before")
            << two << Position{1, 0} << QStringList{"Left"} << two << Position{0, 2} << QString();
        QTest::newRow("Right collapses a selection to its end")
            << wrapped << Position{0, 3} << QStringList{"S-Left", "S-Left", "Right"} << wrapped
            << Position{0, 3} << QString();
        QTest::newRow("Left collapses a selection to its start")
            << wrapped << Position{0, 1} << QStringList{"S-Right", "S-Right", "Left"} << wrapped
            << Position{0, 1} << QString();
        QTest::newRow("words") << QStringList{"Send: 00 01"} << Position{0, 0}
                               << QStringList{"WordRight", "WordRight", "WordLeft"}
                               << QStringList{"Send: 00 01"} << Position{0, 6} << QString();
        QTest::newRow("a page down and up")
            << QStringList{"0", "1", "2", "3", "4", "5", "6"} << Position{1, 0}
            << QStringList{"PgDn", "S-PgUp"} << QStringList{"0", "1", "2", "3", "4", "5", "6"}
            << Position{1, 0} << "1\n2\n3\n";
        QTest::newRow("select to the log's end")
            << two << Position{0, 1} << QStringList{"S-LogEnd"} << two << Position{1, 2} << "b\ncd";
        QTest::newRow("delete the word before")
            << QStringList{"Send: 00 01"} << Position{0, 11} << QStringList{"Del-WordLeft"}
            << QStringList{"Send: 00 "} << Position{0, 9} << QString();
        QTest::newRow("Backspace joins lines")
            << two << Position{1, 0} << QStringList{"Del-Left"} << QStringList{"abcd"}
            << Position{0, 2} << QString();
        QTest::newRow("Delete at the log's end does nothing")
            << two << Position{1, 2} << QStringList{"Del-Right"} << two << Position{1, 2}
            << QString();
        QTest::newRow("typing with a break replaces the selection")
            << QStringList{"abcd"} << Position{0, 1} << QStringList{"S-Right", "S-Right", "'X\r\nY"}
            << QStringList{"aX", "Yd"} << Position{1, 1} << QString();
        QTest::newRow("typing into an empty log")
            << QStringList() << Position{} << QStringList{"'ab"} << QStringList{"ab"}
            << Position{0, 2} << QString();
    }
    void steps() {
        QFETCH(QStringList, start);
        QFETCH(Position, caret);
        QFETCH(QStringList, steps);
        QFETCH(QStringList, lines);
        QFETCH(Position, expected);
        QFETCH(QString, selected);
        LogControl c;
        c.Store().SetColumns(6);
        for (const QString &l : start)
            c.AddLine(l, 0);
        c.SetCaret(caret);
        for (QString step : steps) {
            if (step.startsWith(u'\'')) {
                c.Insert(QStringView(step).mid(1), 0);
                continue;
            }
            const bool select = step.startsWith(QStringLiteral("S-"));
            const bool del = step.startsWith(QStringLiteral("Del-"));
            step = step.section(u'-', -1);
            QVERIFY2(Moves.contains(step), qPrintable(step));
            if (del)
                c.Delete(Moves.value(step));
            else
                c.Apply(Moves.value(step), select, 3);
        }
        QCOMPARE(c.Lines(), lines);
        QCOMPARE(c.Caret(), expected);
        QCOMPARE(c.SelectedText(), selected);
    }

    // Typed text keeps the time of the caret's line; a line a break starts
    // gets the time of the key.
    void typedLinesTimes() {
        LogControl c;
        c.AddLine(u"Send: 00 01 ", 100);
        c.AddLine(u"Receive: 00 01 ", 200);
        c.SetCaret({0, 6});
        c.Insert(u"note\nnew", 900);
        QCOMPARE(c.Lines(), (QStringList{"Send: note", "new00 01 ", "Receive: 00 01 "}));
        QCOMPARE(c.Store().Time(0), 100);
        QCOMPARE(c.Store().Time(1), 900);
        QCOMPARE(c.Store().Time(2), 200);
    }
};

QTEST_GUILESS_MAIN(TestLogControl)
#include "tst_logcontrol.moc"
