// The traffic log widget alone: lines, view, wrapping, font, painting,
// typing, selection, clipboard, context menu, focus, and the saved file.
#include "FileSizeLimit.h"
#include "Memo.h"
#include "MessageBox.h"

#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>
#include <QVBoxLayout>
#include <QtTest>

#include <cerrno>

using ui::TMemo;
using Pos = TMemo::Position;

namespace {

// Types into the focused widget. One character types it; <...> names a key
// with optional C- (Ctrl) and S- (Shift).
void Type(QWidget *w, const QStringList &tokens) {
    static const QHash<QString, Qt::Key> keys = {
        {"BS", Qt::Key_Backspace},
        {"Del", Qt::Key_Delete},
        {"Left", Qt::Key_Left},
        {"Right", Qt::Key_Right},
        {"Up", Qt::Key_Up},
        {"Down", Qt::Key_Down},
        {"Home", Qt::Key_Home},
        {"End", Qt::Key_End},
        {"PgUp", Qt::Key_PageUp},
        {"PgDn", Qt::Key_PageDown},
        {"Ret", Qt::Key_Return},
        {"Tab", Qt::Key_Tab},
        {"Backtab", Qt::Key_Backtab},
        {"a", Qt::Key_A},
        {"c", Qt::Key_C},
        {"x", Qt::Key_X},
        {"v", Qt::Key_V},
    };
    for (const QString &t : tokens) {
        if (!t.startsWith(u'<')) {
            QTest::keyClicks(w, t);
            continue;
        }
        QString name = t.mid(1, t.size() - 2);
        Qt::KeyboardModifiers mods;
        while (name.size() > 2 && name[1] == u'-') {
            mods |= name[0] == u'C' ? Qt::ControlModifier : Qt::ShiftModifier;
            name = name.mid(2);
        }
        QVERIFY2(keys.contains(name), qPrintable(t));
        QTest::keyClick(w, keys.value(name), mods);
    }
}

QStringList ReadLines(const QString &path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {QStringLiteral("<unreadable>")};
    const QByteArray all = f.readAll();
    if (!all.endsWith("\r\n"))
        return {QStringLiteral("<no CR LF at the end>")};
    QStringList lines = QString::fromUtf8(all.chopped(2)).split(QStringLiteral("\r\n"));
    return lines;
}

// "yyyy-MM-dd HH:mm:ss.zzz [(r ms) ]text"
const QRegularExpression LineRe(
    QStringLiteral(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (\((\d+\.\d{3}) ms\) )?(.*)$)"));

} // namespace

class TestMemo : public QObject {
    Q_OBJECT

    QList<ui::BoxRequest> boxes;

    // A shown log of the given size with the focus.
    std::unique_ptr<TMemo> Shown(int w = 300, int h = 120) {
        auto m = std::make_unique<TMemo>();
        m->resize(w, h);
        m->show();
        m->activateWindow();
        m->setFocus();
        if (!QTest::qWaitForWindowExposed(m.get()))
            qWarning("not exposed");
        return m;
    }

private slots:
    void init() {
        boxes.clear();
        ui::SetMessageBoxHook([this](const ui::BoxRequest &r) { boxes << r; });
    }
    void cleanup() { ui::SetMessageBoxHook(nullptr); }

    void lines_data() {
        QTest::addColumn<QString>("design");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("one at a time")
            << QString() << QStringList{"a", "b"} << QStringList{"a", "b"};
        QTest::newRow("CR LF leaves an empty line")
            << QString() << QStringList{"Send: 00 01 ", "Receive: 00 \r\n", "next"}
            << QStringList{"Send: 00 01 ", "Receive: 00 ", "", "next"};
        QTest::newRow("a break inside")
            << QString() << QStringList{"x\ny", "z\r"} << QStringList{"x", "y", "z", ""};
        QTest::newRow("Polish text")
            << QString() << QStringList{QStringLiteral("Tavrin jest połączony.")}
            << QStringList{QStringLiteral("Tavrin jest połączony.")};
        QTest::newRow("empty first line") << QString() << QStringList{"", "a"} << QStringList{"a"};
        QTest::newRow("after design text")
            << "Memo1" << QStringList{"a"} << QStringList{"Memo1", "a"};
    }
    void lines() {
        QFETCH(QString, design);
        QFETCH(QStringList, added);
        QFETCH(QStringList, expected);
        TMemo m;
        m.setPlainText(QStringLiteral("Memo1"));
        m.clear();
        QCOMPARE(m.Lines(), QStringList());
        m.setPlainText(design);
        for (const QString &l : added)
            m.AddLine(l);
        QCOMPARE(m.Lines(), expected);
        QCOMPARE(m.toPlainText(), expected.join(u'\n'));
        m.ClearLines();
        QCOMPARE(m.Lines(), QStringList());
    }

    // After every addition the newest line is wholly in view, also when it wraps.
    void newestLineInView() {
        auto m = Shown(300, 100);
        auto *bar = m->verticalScrollBar();
        for (int i = 0; i < 300; ++i) {
            m->AddLine(QString(i % 7 == 0 ? 150 : 20, QChar(u'a' + i % 26)));
            const int64_t lastRow = m->Store().Rows() - 1;
            QVERIFY(bar->value() <= lastRow - (m->Store().RowsOf(m->Store().Count() - 1) - 1));
            QVERIFY(lastRow < bar->value() + m->VisibleRows());
        }
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(bar->maximum() > 0);
        QVERIFY(bar->isVisible());
        QCOMPARE(m->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    }

    void wrapsAtWidth_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("length");
        QTest::newRow("narrow, 3 rows") << 120 << 35;
        QTest::newRow("exactly one row") << 300 << -1; // -1: the column count
        QTest::newRow("one more than a row") << 300 << -2;
        QTest::newRow("read-all answer line") << 694 << 1566;
        QTest::newRow("empty line") << 200 << 0;
    }
    void wrapsAtWidth() {
        QFETCH(int, width);
        QFETCH(int, length);
        auto m = Shown(width, 200);
        const QFontMetricsF fm(m->font());
        const int columns = m->Columns();
        // As many characters as fit beside the margins, down to a multiple
        // of three: hex lines break between their pairs.
        const int fit = int((m->viewport()->width() - 8) / fm.horizontalAdvance(u'0'));
        QCOMPARE(columns, fit - fit % 3);
        if (length < 0)
            length = columns - 1 - length;
        m->AddLine(QStringLiteral("x"));
        m->AddLine(QString(length, u'W'));
        const int rows = std::max(1, (length + columns - 1) / columns);
        QCOMPARE(m->Store().RowsOf(1), rows);
        QCOMPARE(m->Store().Rows(), int64_t(rows + 1));
        // Painted so: the last row of the wrapped line holds its remainder.
        m->verticalScrollBar()->setValue(0);
        const QImage shot = m->viewport()->grab().toImage();
        const int lh = QFontMetrics(m->font()).lineSpacing();
        const auto inkInRow = [&](int row, qreal fromX, qreal toX) {
            const QColor base = m->palette().color(QPalette::Base);
            for (int y = 4 + row * lh; y < 4 + (row + 1) * lh && y < shot.height(); ++y)
                for (int x = int(fromX); x < int(toX) && x < shot.width(); ++x)
                    if (shot.pixelColor(x, y) != base)
                        return true;
            return false;
        };
        const qreal cw = fm.horizontalAdvance(u'0');
        const int rest = length - (rows - 1) * columns;
        if (rows <= m->VisibleRows() && length > 0) {
            QVERIFY(inkInRow(rows, 4, 4 + rest * cw));
            QVERIFY(!inkInRow(rows, 4 + rest * cw + 1, m->viewport()->width()));
        }
        // Wider: fewer rows, recomputed for every line.
        m->resize(width * 2, 200);
        const int wider = int((m->viewport()->width() - 8) / cw);
        QTRY_COMPARE(m->Columns(), wider - wider % 3);
        QCOMPARE(m->Store().RowsOf(1), std::max(1, (length + m->Columns() - 1) / m->Columns()));
    }

    // The log font, or a monospaced face of the same size where it is missing.
    void font() {
        TMemo m;
        const QFontInfo info(m.font());
        QCOMPARE(m.font().pixelSize(), 11);
        QVERIFY(info.fixedPitch());
        QCOMPARE(m.font().families().value(0), QStringLiteral("Lucida Console"));
        QVERIFY(QStringList({"Lucida Console", "DejaVu Sans Mono", "Liberation Mono"})
                    .contains(info.family()) ||
                info.fixedPitch());
    }

    // Keys on a log of short lines (300 px wide: no wrapping below 30 chars).
    void typing_data() {
        QTest::addColumn<QStringList>("start");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("line");
        QTest::addColumn<int>("column");
        const QStringList two = {"first", "second"};
        QTest::newRow("type into an empty log")
            << QStringList() << QStringList{"ab"} << QStringList{"ab"} << 0 << 2;
        QTest::newRow("type at the end")
            << two << QStringList{"<C-End>", "!"} << QStringList{"first", "second!"} << 1 << 7;
        QTest::newRow("Backspace") << two << QStringList{"<C-End>", "<BS>", "<BS>"}
                                   << QStringList{"first", "seco"} << 1 << 4;
        QTest::newRow("Backspace joins lines") << two << QStringList{"<Down>", "<Home>", "<BS>"}
                                               << QStringList{"firstsecond"} << 0 << 5;
        QTest::newRow("Delete") << two << QStringList{"<Del>", "<Del>"}
                                << QStringList{"rst", "second"} << 0 << 0;
        QTest::newRow("Delete joins lines")
            << two << QStringList{"<End>", "<Del>"} << QStringList{"firstsecond"} << 0 << 5;
        QTest::newRow("Return splits") << two << QStringList{"<Right>", "<Right>", "<Ret>"}
                                       << QStringList{"fi", "rst", "second"} << 1 << 0;
        QTest::newRow("Return at the end") << two << QStringList{"<C-End>", "<Ret>", "x"}
                                           << QStringList{"first", "second", "x"} << 2 << 1;
        QTest::newRow("Shift+Right selects, typing replaces")
            << two << QStringList{"<S-Right>", "<S-Right>", "F"} << QStringList{"Frst", "second"}
            << 0 << 1;
        QTest::newRow("Shift+Down selects over the break")
            << two << QStringList{"<Right>", "<S-Down>", "<Del>"} << QStringList{"fecond"} << 0
            << 1;
        QTest::newRow("Shift+End, Shift+Home")
            << two << QStringList{"<Down>", "<Right>", "<S-End>", "<BS>", "<S-Home>", "<Del>"}
            << QStringList{"first", ""} << 1 << 0;
        QTest::newRow("Up keeps the column")
            << QStringList{"abcdef", "ab", "abcdef"} << QStringList{"<C-End>", "<Up>", "<Up>", "X"}
            << QStringList{"abcdefX", "ab", "abcdef"} << 0 << 7;
        QTest::newRow("Left and Right cross lines")
            << two << QStringList{"<End>", "<Right>", "<Left>", "<Left>", "|"}
            << QStringList{"firs|t", "second"} << 0 << 5;
        QTest::newRow("Ctrl+A, typing replaces all")
            << two << QStringList{"<C-a>", "z"} << QStringList{"z"} << 0 << 1;
        QTest::newRow("Ctrl+X, Ctrl+V")
            << two << QStringList{"<S-End>", "<C-x>", "<C-End>", "<C-v>"}
            << QStringList{"", "secondfirst"} << 1 << 11;
        QTest::newRow("Ctrl+C, Ctrl+V of two lines")
            << two << QStringList{"<C-a>", "<C-c>", "<C-End>", "<C-v>"}
            << QStringList{"first", "secondfirst", "second"} << 2 << 6;
        QTest::newRow("Tab types nothing")
            << two << QStringList{"<Tab>", "<Backtab>"} << two << 0 << 0;
    }
    void typing() {
        QFETCH(QStringList, start);
        QFETCH(QStringList, keys);
        QFETCH(QStringList, expected);
        QFETCH(int, line);
        QFETCH(int, column);
        QApplication::clipboard()->clear();
        auto m = Shown();
        for (const QString &l : start)
            m->AddLine(l);
        m->SetCaret({0, 0});
        Type(m.get(), keys);
        QCOMPARE(m->Lines(), expected);
        QCOMPARE(m->Caret(), (Pos{line, column}));
        QVERIFY(!m->HasSelection());
    }

    // Home and End go to the ends of the row on screen, the page keys move
    // the caret and the view by a page of rows.
    void rowAndPageKeys() {
        auto m = Shown(300, 120);
        const int columns = m->Columns();
        m->AddLine(QString(columns * 2 + 5, u'a'));
        for (int i = 0; i < 100; ++i)
            m->AddLine(QStringLiteral("line %1").arg(i));
        m->SetCaret({0, columns + 3});
        Type(m.get(), {"<Home>"});
        QCOMPARE(m->Caret(), (Pos{0, columns}));
        Type(m.get(), {"<End>"});
        QCOMPARE(m->Caret(), (Pos{0, 2 * columns - 1}));
        Type(m.get(), {"<Down>", "<End>"});
        QCOMPARE(m->Caret(), (Pos{0, 2 * columns + 5}));

        const int page = m->VisibleRows();
        auto *bar = m->verticalScrollBar();
        m->SetCaret({1, 2});
        const int64_t row = m->Store().FirstRowOf(1);
        Type(m.get(), {"<PgDn>"});
        QCOMPARE(m->Caret(), (Pos{1 + page, 2}));
        QVERIFY(bar->value() > 0);
        QVERIFY(m->CaretRect().top() >= 0 && m->CaretRect().bottom() < m->viewport()->height());
        Type(m.get(), {"<S-PgUp>"});
        QCOMPARE(m->Caret(), (Pos{1, 2}));
        QCOMPARE(m->SelectedText().count(u'\n'), page);
        QCOMPARE(m->Store().FirstRowOf(m->Caret().line), row);
    }

    void mouseSelection() {
        auto m = Shown(300, 120);
        m->AddLine(QStringLiteral("0123456789"));
        m->AddLine(QStringLiteral("abcdefghij"));
        m->verticalScrollBar()->setValue(0);
        const qreal cw = QFontMetricsF(m->font()).horizontalAdvance(u'0');
        const int lh = QFontMetrics(m->font()).lineSpacing();
        const auto at = [&](int row, int col) {
            return QPoint(4 + qRound(col * cw), 4 + row * lh + lh / 2);
        };
        QWidget *vp = m->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, at(0, 3));
        QTest::mouseMove(vp, at(1, 5));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, at(1, 5));
        QCOMPARE(m->SelectedText(), QStringLiteral("3456789\nabcde"));
        // Shift+click moves the end, the start stays.
        QTest::mouseClick(vp, Qt::LeftButton, Qt::ShiftModifier, at(0, 8));
        QCOMPARE(m->SelectedText(), QStringLiteral("34567"));
        QTest::mouseClick(vp, Qt::LeftButton, {}, at(1, 2));
        QVERIFY(!m->HasSelection());
        QCOMPARE(m->Caret(), (Pos{1, 2}));
        QTest::mouseDClick(vp, Qt::LeftButton, {}, at(1, 4));
        QCOMPARE(m->SelectedText(), QStringLiteral("abcdefghij"));
    }

    // Dragged from the second row of a wrapped line to the middle of the
    // next wrapped line: the copy has the characters between, one line break.
    void selectionAcrossWrappedLines() {
        auto m = Shown(160, 200);
        const int c = m->Columns();
        QVERIFY(c >= 5);
        QString a, b;
        for (int i = 0; i < 3 * c; ++i) {
            a += QChar(u'A' + i % 26);
            b += QChar(u'a' + i % 26);
        }
        m->AddLine(a);
        m->AddLine(b);
        m->verticalScrollBar()->setValue(0);
        const qreal cw = QFontMetricsF(m->font()).horizontalAdvance(u'0');
        const int lh = QFontMetrics(m->font()).lineSpacing();
        const auto at = [&](int row, int col) {
            return QPoint(4 + qRound(col * cw), 4 + row * lh + lh / 2);
        };
        QWidget *vp = m->viewport();
        QTest::mousePress(vp, Qt::LeftButton, {}, at(1, 2)); // line a, row 1
        QTest::mouseMove(vp, at(4, 3));                      // line b, row 1
        QTest::mouseRelease(vp, Qt::LeftButton, {}, at(4, 3));
        QApplication::clipboard()->clear();
        Type(m.get(), {"<C-c>"});
        QCOMPARE(QApplication::clipboard()->text(), a.mid(c + 2) + u'\n' + b.left(c + 3));
        // The highlight covers the wrapped rows in between.
        const QImage shot = vp->grab().toImage();
        const QColor hl = vp->palette().color(QPalette::Active, QPalette::Highlight);
        const QColor hlInactive = vp->palette().color(QPalette::Inactive, QPalette::Highlight);
        const auto highlighted = [&](int row) { // share of the row's text area
            int n = 0, all = 0;
            for (int y = 4 + row * lh; y < 4 + (row + 1) * lh; ++y)
                for (int x = 4; x < 4 + int(c * cw); ++x, ++all)
                    n += shot.pixelColor(x, y) == hl || shot.pixelColor(x, y) == hlInactive;
            return double(n) / all;
        };
        QVERIFY(highlighted(0) < 0.01);
        QVERIFY(highlighted(2) > 0.5);
        QVERIFY(highlighted(3) > 0.5);
        QVERIFY(highlighted(5) < 0.01);
        QVERIFY(shot.pixelColor(at(0, 1)) != hl);
        QVERIFY(shot.pixelColor(at(5, 1)) != hl);
    }

    void contextMenu() {
        // The same start in any order of the tests: nothing to paste.
        QApplication::clipboard()->clear();
        auto m = Shown();
        m->AddLine(QStringLiteral("one"));
        m->AddLine(QStringLiteral("two"));
        std::unique_ptr<QMenu> menu(m->CreateContextMenu());
        QStringList texts;
        QHash<QString, QAction *> byName;
        for (QAction *a : menu->actions()) {
            if (a->isSeparator())
                continue;
            texts << a->text().section(u'\t', 0, 0).remove(u'&');
            byName.insert(texts.last(), a);
        }
        QCOMPARE(texts, (QStringList{"Cut", "Copy", "Paste", "Select All", "Save log as..."}));
        QVERIFY(!byName["Copy"]->isEnabled());
        QVERIFY(!byName["Paste"]->isEnabled());
        byName["Select All"]->trigger();
        QCOMPARE(m->SelectedText(), QStringLiteral("one\ntwo"));
        menu.reset(m->CreateContextMenu());
        for (QAction *a : menu->actions())
            if (a->text().startsWith(QStringLiteral("&Copy")))
                a->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("one\ntwo"));
        m->SetCaret({0, 3});
        // Opened again, the menu offers what the clipboard now holds.
        menu.reset(m->CreateContextMenu());
        for (QAction *a : menu->actions())
            if (a->text().startsWith(QStringLiteral("&Paste")))
                a->trigger();
        QCOMPARE(m->Lines(), (QStringList{"oneone", "two", "two"}));
    }

    // Tab and Shift+Tab pass the focus on through the focus chain.
    void tabPassesFocus() {
        QWidget w;
        auto *lay = new QVBoxLayout(&w);
        auto *before = new QLineEdit(&w);
        auto *memo = new TMemo(&w);
        auto *after = new QLineEdit(&w);
        lay->addWidget(before);
        lay->addWidget(memo);
        lay->addWidget(after);
        memo->AddLine(QStringLiteral("x"));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        memo->setFocus();
        QTRY_VERIFY(memo->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QTRY_VERIFY(after->hasFocus());
        memo->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        QTRY_VERIFY(before->hasFocus());
        QCOMPARE(memo->Lines(), QStringList{"x"});
    }

    // Editing far into a long log: every line stays in place.
    void typingIntoALongLog() {
        auto m = Shown(400, 150);
        constexpr int N = 100000;
        for (int i = 0; i < N; ++i)
            m->AddLine(QStringLiteral("Send: %1").arg(i));
        m->SetCaret({50000, 6});
        Type(m.get(), {"<S-End>", "typed", "<Ret>", "new", "<C-End>", "<Ret>", "last"});
        QCOMPARE(m->Store().Count(), qsizetype(N + 2));
        QCOMPARE(m->Store().Line(49999), QStringLiteral("Send: 49999"));
        QCOMPARE(m->Store().Line(50000), QStringLiteral("Send: typed"));
        QCOMPARE(m->Store().Line(50001), QStringLiteral("new"));
        QCOMPARE(m->Store().Line(50002), QStringLiteral("Send: 50001"));
        QCOMPARE(m->Store().Line(N), QStringLiteral("Send: 99999"));
        QCOMPARE(m->Store().Line(N + 1), QStringLiteral("last"));
        QCOMPARE(m->Caret(), (Pos{N + 1, 4}));
        auto *bar = m->verticalScrollBar();
        QCOMPARE(bar->value(), bar->maximum());
        Type(m.get(), {"<C-a>", "<Del>"});
        QCOMPARE(m->Lines(), QStringList());
        m->AddLine(QStringLiteral("after"));
        QCOMPARE(m->Lines(), QStringList{"after"});
    }

    // ---- the saved file ------------------------------------------------------------

    void savedFile() {
        TMemo m;
        m.AddLine(QStringLiteral("Successful connect with Tavrin"));
        for (int i = 0; i < 3; ++i) {
            m.AddLine(QStringLiteral("Send: 00 0%1 ").arg(i));
            QThread::msleep(15);
            m.AddLine(QStringLiteral("Receive: 00 0%1 \r\n").arg(i));
        }
        m.AddLine(QStringLiteral("Send: 00 09 "));
        m.AddLine(QStringLiteral("Nic nie odebrano z Tavrin."));
        m.AddLine(QStringLiteral("Zażółć gęślą jaźń"));
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("log.txt"));
        QVERIFY(m.SaveLog(path));
        QVERIFY(boxes.isEmpty());
        const QStringList lines = ReadLines(path);
        QCOMPARE(lines.size(), m.Store().Count());
        QDateTime previous;
        for (int i = 0; i < lines.size(); ++i) {
            const auto match = LineRe.match(lines[i]);
            QVERIFY2(match.hasMatch(), qPrintable(lines[i]));
            QCOMPARE(match.captured(4), m.Store().Line(i));
            const QDateTime t =
                QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
            QCOMPARE(t.toMSecsSinceEpoch(), m.Store().Time(i) / 1000);
            QVERIFY(!previous.isValid() || previous <= t);
            previous = t;
            const bool answer = match.captured(4).startsWith(QStringLiteral("Receive: "));
            QCOMPARE(match.hasCaptured(2), answer);
            if (answer) // at least the pause between its Send and Receive lines
                QVERIFY2(match.captured(3).toDouble() >= 15, qPrintable(lines[i]));
        }
    }

    // A save that fails says why and loses nothing: the file there before
    // is as it was, no temporary file is left, the log keeps every line.
    // Under a file-size limit a log smaller than the file's write buffer
    // fails only when that buffer is written out, at the commit.
    void failedSave_data() {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("limit"); // bytes a file may grow to; 0: none
        QTest::newRow("missing folder") << "missing/log.txt" << 20000 << 0;
        QTest::newRow("a folder") << "folder" << 20000 << 0;
        QTest::newRow("file size limit") << "old.txt" << 20000 << 64 * 1024;
        QTest::newRow("4 KB log, 1 KiB limit") << "old.txt" << 60 << 1024;
    }
    void failedSave() {
        QFETCH(QString, where);
        QFETCH(int, lines);
        QFETCH(int, limit);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        QFile old(dir.filePath(QStringLiteral("old.txt")));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("the previous log\r\n");
        old.close();
        TMemo m;
        for (int i = 0; i < lines; ++i)
            m.AddLine(QStringLiteral("Receive: 00 01 00 01 00 05 01 03 02 00 %1 ").arg(i % 100));
        const QString path = dir.filePath(where);
        const auto save = [&] {
            return m.SaveLog(path) ? QByteArray("saved") : boxes.value(0).text.toUtf8();
        };
        QString box;
        if (limit > 0) {
            const testsupport::LimitedRun run =
                testsupport::RunWithFileSizeLimit(rlim_t(limit), save);
            QVERIFY(run.finished);
            box = QString::fromUtf8(run.result);
        } else {
            box = QString::fromUtf8(save());
            QCOMPARE(boxes.size(), 1);
            QCOMPARE(boxes[0].icon, QMessageBox::Critical);
        }
        QVERIFY2(box.startsWith(QStringLiteral("Unable to save the log to ") +
                                QDir::toNativeSeparators(path) + QStringLiteral(": ")),
                 qPrintable(box));
        QVERIFY2(box.size() > QStringLiteral("Unable to save the log to : ").size() + path.size(),
                 qPrintable(box)); // a reason follows
        if (limit > 0)             // the system's own words for it
            QVERIFY2(box.endsWith(qt_error_string(EFBIG)), qPrintable(box));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("the previous log\r\n"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot),
                 QStringList{"old.txt"});
        QCOMPARE(m.Store().Count(), qsizetype(lines));
    }
};

QTEST_MAIN(TestMemo)
#include "tst_memo.moc"
