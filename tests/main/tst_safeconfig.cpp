// Safe configuration in the window, against the simulator (its counter
// stopped): value states after reads, edits, loads and writes, verified
// writes against the refusing version and the brightness that keeps at
// most 100, compare, configuration files, the pop-up menu by keyboard.
#include "FileSizeLimit.h"
#include "FormFixture.h"
#include "SimProcess.h"
#include "StringGrid.h"
#include "Style.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QtTest>
#include <algorithm>
#include <cerrno>
#include <cmath>

using core::ValueState;

class TestSafeConfig : public QObject {
    Q_OBJECT
    testsupport::SimProcess sim;
    FormFixture f;
    int seen = 0;

    // Request lines since the last call.
    QStringList NewRequests() {
        QTest::qWait(50);
        const QStringList all = sim.Requests();
        const QStringList fresh = all.mid(seen);
        seen = int(all.size());
        return fresh;
    }
    void OpenRead() {
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        f.form->btnReadAllRegsClick(nullptr);
        QCOMPARE(RecCount, 9 + 2 * 255);
        NewRequests();
    }
    // As the grid does it: the cell holds the text when the handler runs.
    void Type(int row, const QString &text) {
        f.form->sg->SetCell(2, row, text);
        f.form->sgSetEditText(f.form->sg, 2, row, text);
    }
    void SendRow(int row) {
        bool can = true;
        f.form->sgSelectCell(f.form->sg, 2, row, can);
        f.form->pmSendRegisterClick(nullptr);
    }
    bool Coloured(int row) const { return f.form->sg->CellColoursAt(2, row).background.isValid(); }
    static QByteArray ReadAll(const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString WriteFile(const QString &name, const QByteArray &data) {
        const QString path = f.dir->filePath(name);
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(data);
        return path;
    }

private slots:
    void initTestCase() {
        QVERIFY2(sim.Start({"--stall-after", "0"}), qPrintable(sim.Diagnostics()));
    }
    void cleanupTestCase() { sim.Stop(); }
    void init() {
        // Each test starts from the module's own image again.
        sim.Stop();
        QVERIFY2(sim.Start({"--stall-after", "0"}), qPrintable(sim.Diagnostics()));
        seen = 0;
    }
    void cleanup() { f.Close(); }

    void readMarksWhatChanged() {
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        Regs[36] = 502; // as the device holds it
        f.form->btnReadAllRegsClick(nullptr);
        QCOMPARE(RegStates[37], ValueState::Changed); // brightness 80, was 0
        QCOMPARE(RegStates[23], ValueState::Changed);
        QCOMPARE(RegStates[36], ValueState::Plain);
        QCOMPARE(RegStates[5], ValueState::Plain);
        QVERIFY(Coloured(38));
        QVERIFY(!Coloured(37));
        QVERIFY(f.form->sg->CellHint(2, 38).startsWith(QStringLiteral("Changed by the last read")));
        // No state line before the network setting the row shows.
        QVERIFY(f.form->sg->CellHint(2, 37).startsWith(QStringLiteral("IP 192.168.10.50,")));
        // The next read that brings the same words leaves them plain.
        f.form->btnReadAllRegsClick(nullptr);
        QCOMPARE(RegStates[37], ValueState::Plain);
        QVERIFY(!Coloured(38));
        // A failed read marks nothing.
        Regs[37] = 1;
        RecCount = 0;
        f.form->ConfigBeforeRead();
        f.form->ConfigAfterRead(0, 255);
        QCOMPARE(RegStates[37], ValueState::Plain);
    }

    // Edit: pending; acknowledged write: plain; exception: still pending.
    // An answer cut short by the wait's end is not taken, so it changes no mark.
    void incompleteReadKeepsMarks() {
        sim.Stop();
        QVERIFY2(sim.Start({"--stall-after", "0", "--mode", "split-at", "20/4000"}),
                 qPrintable(sim.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        Type(1, QStringLiteral("7"));
        QCOMPARE(RegStates[0], ValueState::Pending);
        f.form->btnSendRRClick(nullptr); // 40001, 6 registers: 20 of 21 bytes in time
        QVERIFY(f.LastLine().startsWith(QStringLiteral("Answer incomplete")));
        QCOMPARE(Regs[0], uint16_t(7));
        QCOMPARE(RegStates[0], ValueState::Pending);
    }

    void writesClearOnlyWhenAcknowledged() {
        OpenRead();
        Type(38, QStringLiteral("90"));
        Type(24, QStringLiteral("105"));
        Type(3, QStringLiteral("0")); // the word it held: not pending
        QCOMPARE(RegStates[37], ValueState::Pending);
        QCOMPARE(RegStates[23], ValueState::Pending);
        QCOMPARE(RegStates[2], ValueState::Plain);
        QVERIFY(f.form->sg->CellHint(2, 38).startsWith(QStringLiteral("Pending")));
        SendRow(38);
        QCOMPARE(RegStates[37], ValueState::Plain);
        SendRow(24); // the version refuses writes: exception 02
        QCOMPARE(f.LastLine(), QStringLiteral("Exception answer 02 (illegal data address)."));
        QCOMPARE(RegStates[23], ValueState::Pending);
        f.form->edRRStart->SetValue(40023);
        f.form->edRRNums->SetValue(3);
        f.form->btnWriteRangeRegsClick(nullptr);
        QCOMPARE(RegStates[23], ValueState::Pending);
        QCOMPARE(NewRequests().size(), 3); // no read-back with "Verify writes" off
    }

    void noAnswerLeavesPending() {
        testsupport::SimProcess silent;
        QVERIFY2(silent.Start({"--mode", "silent"}), qPrintable(silent.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(silent.Port()));
        f.form->pmVerifyWrites->setChecked(true);
        Type(5, QStringLiteral("7"));
        SendRow(5); // waits about 3 s
        QCOMPARE(RecCount, 0);
        QCOMPARE(RegStates[4], ValueState::Pending);
        QVERIFY(silent.WaitForRequests(1));
        QCOMPARE(silent.Requests().size(), 1);
    }

    void verify_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("readBack"); // the read-back request's frame
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("index");
        QTest::addColumn<ValueState>("state");
        QTest::newRow("brightness 150 kept as 100")
            << "row38=150"
            << "01 03 00 25 00 01"
            << "Verify: 40038 written 150, device holds 100." << 37 << ValueState::Differs;
        QTest::newRow("brightness 60") << "row38=60"
                                       << "01 03 00 25 00 01"
                                       << "Verify: 1 register OK." << 37 << ValueState::Plain;
        QTest::newRow("range 40003 x 2") << "range"
                                         << "01 03 00 02 00 02"
                                         << "Verify: 2 registers OK." << 2 << ValueState::Plain;
        QTest::newRow("text AB") << "text"
                                 << "01 03 00 37 00 03"
                                 << "Verify: 3 registers OK." << 55 << ValueState::Plain;
        QTest::newRow("refused version: no read-back") << "row24=105"
                                                       << ""
                                                       << "" << 23 << ValueState::Pending;
    }
    void verify() {
        QFETCH(QString, command);
        QFETCH(QString, readBack);
        QFETCH(QString, line);
        QFETCH(int, index);
        QFETCH(ValueState, state);
        OpenRead();
        f.form->pmVerifyWrites->setChecked(true);
        if (command == u"range") {
            Type(3, QStringLiteral("11"));
            Type(4, QStringLiteral("12"));
            f.form->edRRStart->SetValue(40003);
            f.form->edRRNums->SetValue(2);
            f.form->btnWriteRangeRegsClick(nullptr);
        } else if (command == u"text") {
            f.form->edText->setText(QStringLiteral("AB"));
            f.form->btnSendClick(nullptr);
        } else {
            const int row = command.mid(3, 2).toInt();
            Type(row, command.mid(6));
            SendRow(row);
        }
        const QStringList requests = NewRequests();
        QCOMPARE(requests.size(), readBack.isEmpty() ? 1 : 2);
        if (!readBack.isEmpty()) {
            QVERIFY2(requests[1].endsWith(readBack), qPrintable(requests[1]));
            QCOMPARE(f.LastLine(), line);
        } else {
            QVERIFY(!f.Lines().join(u'\n').contains(QStringLiteral("Verify:")));
        }
        QCOMPARE(RegStates[index], state);
        // The read-back answer went beside the image.
        if (command == u"row38=150")
            QCOMPARE(Regs[37], uint16_t(150));
    }

    void compare() {
        OpenRead();
        Type(38, QStringLiteral("77"));
        Type(5, QStringLiteral("3"));
        f.form->pmCompareClick(nullptr);
        QCOMPARE(NewRequests(),
                 QStringList{QStringLiteral("00 00 00 0C 00 02 00 01 00 06 01 03 00 00 00 FF")});
        QCOMPARE(f.LastLine(),
                 QStringLiteral("Differs from the device: 40005, 40038 (2 registers)."));
        QCOMPARE(Regs[37], uint16_t(77)); // the image keeps its words
        QCOMPARE(RegStates[37], ValueState::Differs);
        QCOMPARE(RegStates[4], ValueState::Differs);
        QVERIFY(f.form->sg->CellHint(2, 38).startsWith(QStringLiteral("Differs")));
        f.form->btnReadAllRegsClick(nullptr);
        QCOMPARE(RegStates[37], ValueState::Changed);
        f.form->pmCompareClick(nullptr);
        QCOMPARE(f.LastLine(), QStringLiteral("Same as the device: 155 registers."));
        QCOMPARE(RegStates[37], ValueState::Changed); // the last read's mark stays
    }

    void saveLoadRoundTrip() {
        OpenRead();
        const QString path = f.dir->filePath(QStringLiteral("unit.csv"));
        QVERIFY(f.form->SaveRegisters(path));
        QCOMPARE(f.LastLine(),
                 QStringLiteral("Saved 155 registers to %1.").arg(QDir::toNativeSeparators(path)));
        QFile saved(path);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray csv = saved.readAll();
        QVERIFY(csv.startsWith("Register,Name,Value\r\n40001,Triger Start/Stop,0\r\n"));
        QVERIFY(csv.contains("\r\n40037,Port,502\r\n"));

        Type(38, QStringLiteral("5"));
        Type(37, QStringLiteral("6"));
        SendRow(37); // the port written: plain again
        QCOMPARE(RegStates[37], ValueState::Pending);
        QCOMPARE(RegStates[36], ValueState::Plain);
        NewRequests();
        QVERIFY(f.form->LoadRegisters(path));
        QCOMPARE(Regs[37], uint16_t(80));
        QCOMPARE(Regs[36], uint16_t(502));
        QCOMPARE(RegStates[36], ValueState::Pending); // 6 became 502 again
        QCOMPARE(RegStates[37], ValueState::Pending); // typed 5, still not written
        QCOMPARE(RegStates[23], ValueState::Changed); // same word: the read's mark stays
        QCOMPARE(f.LastLine(),
                 QStringLiteral("Loaded 155 registers from %1: 2 changed, pending until written.")
                     .arg(QDir::toNativeSeparators(path)));
        QVERIFY(NewRequests().isEmpty()); // nothing goes to the device
        QVERIFY(f.boxes.isEmpty());
    }

    void loadSettingsFile() {
        f.Open();
        const QString path = WriteFile(QStringLiteral("Tavrin.ini"),
                                       "[Main]\r\nTop=3\r\n[REG]\r\nR37=55\r\nR155=9\r\n");
        QVERIFY(f.form->LoadRegisters(path));
        QCOMPARE(Regs[37], uint16_t(55));
        QCOMPARE(Regs[155], uint16_t(0));
        QCOMPARE(RegStates[37], ValueState::Pending);
        QCOMPARE(f.form->sg->Cell(2, 38), QStringLiteral("55"));
    }

    void loadRefusals_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("box"); // after "Nothing loaded from <path>: "
        QTest::newRow("unknown register") << QByteArray("40001,a,1\r\n40200,b,2\r\n")
                                          << "line 2, \"40200,b,2\": unknown register.";
        QTest::newRow("value too big") << QByteArray("40038,Jasno,70000\n")
                                       << "line 1, \"40038,Jasno,70000\": value outside 0..65535.";
        QTest::newRow("not a number")
            << QByteArray("40001,a,1\n40002,b,x\n") << "line 2, \"40002,b,x\": not a number.";
        QTest::newRow("settings file without REG")
            << QByteArray("[Main]\r\nTop=1\r\n") << "no [REG] section.";
        QTest::newRow("empty") << QByteArray() << "no registers.";
        QTest::newRow("header only") << QByteArray("Register,Name,Value\r\n") << "no registers.";
        QTest::newRow("long bad line")
            << QByteArray("40001,a,1\n40002,b,") + QByteArray(500000, '7') + "x\n"
            << "line 2, \"40002,b," + QString(72, u'7') + "\u2026\": not a number.";
        QTest::newRow("1 MiB and 1 byte")
            << QByteArray("40001,a,1\n").leftJustified(1048577, '\n') << "file larger than 1 MiB.";
    }
    // A refused file changes nothing and says why twice: in its box and in
    // one line of the log, there before the box shows.
    void loadRefusals() {
        QFETCH(QByteArray, file);
        QFETCH(QString, box);
        f.Open();
        Regs[0] = 9;
        const QString path = WriteFile(QStringLiteral("bad.csv"), file);
        const qsizetype lines = f.Lines().size();
        QVERIFY(!f.form->LoadRegisters(path));
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].text,
                 QStringLiteral("Nothing loaded from %1: ").arg(QDir::toNativeSeparators(path)) +
                     box);
        QCOMPARE(f.Lines().mid(lines), QStringList{f.boxes[0].text});
        QCOMPARE(f.boxes[0].linesBefore, lines + 1);
        QCOMPARE(Regs[0], uint16_t(9));
        QCOMPARE(RegStates[0], ValueState::Plain);
    }

    // Files that cannot be read to their end: nothing of them is taken.
    // /proc/self/mem opens but fails its first read (address 0 is never
    // mapped); /dev/zero never ends.
    void loadUnreadable_data() {
        QTest::addColumn<QString>("path"); // in the test's folder unless absolute
        QTest::addColumn<QString>("box");  // after "<path>: "
        QTest::newRow("read fails") << "/proc/self/mem"
                                    << "Unable to read|Input/output error";
        QTest::newRow("folder") << "folder"
                                << "Unable to read|";
        QTest::newRow("missing") << "missing.csv"
                                 << "Unable to read|";
        QTest::newRow("endless") << "/dev/zero"
                                 << "Nothing loaded from|file larger than 1 MiB.";
    }
    void loadUnreadable() {
        QFETCH(QString, path);
        QFETCH(QString, box);
        f.Open();
        QVERIFY(QDir(f.dir->path()).mkdir(QStringLiteral("folder")));
        if (QDir::isRelativePath(path))
            path = f.dir->filePath(path);
        Regs[0] = 9;
        const qsizetype lines = f.Lines().size();
        QVERIFY(!f.form->LoadRegisters(path));
        QCOMPARE(f.boxes.size(), 1);
        const QString text = f.boxes[0].text;
        const QString head =
            box.section(u'|', 0, 0) + u' ' + QDir::toNativeSeparators(path) + QStringLiteral(": ");
        QVERIFY2(text.startsWith(head) && text.size() > head.size(), qPrintable(text));
        QVERIFY2(text.endsWith(box.section(u'|', 1)), qPrintable(text));
        QCOMPARE(f.Lines().mid(lines), QStringList{text});
        QCOMPARE(Regs[0], uint16_t(9));
    }

    // Under a file-size limit (as on a full disk) the save fails part-way:
    // it says why, nothing says "Saved", and the file saved before is whole.
    void saveUnderSizeLimit() {
        OpenRead();
        const QString path = f.dir->filePath(QStringLiteral("unit.csv"));
        QVERIFY(f.form->SaveRegisters(path));
        const QByteArray before = ReadAll(path);
        QVERIFY(before.size() > 1024);
        Type(38, QStringLiteral("5"));
        const qsizetype lines = f.Lines().size();
        const testsupport::LimitedRun run = testsupport::RunWithFileSizeLimit(1024, [&] {
            const bool saved = f.form->SaveRegisters(path);
            return QStringList{saved ? QStringLiteral("saved") : QStringLiteral("failed"),
                               f.boxes.value(0).text, f.Lines().mid(lines).join(u'|')}
                .join(u'\n')
                .toUtf8();
        });
        QVERIFY(run.finished);
        const QStringList said = QString::fromUtf8(run.result).split(u'\n');
        QCOMPARE(said.size(), 3);
        QCOMPARE(said[0], QStringLiteral("failed"));
        QCOMPARE(said[1], QStringLiteral("Unable to save the registers to %1: %2")
                              .arg(QDir::toNativeSeparators(path), qt_error_string(EFBIG)));
        QCOMPARE(said[2], QString());
        QCOMPARE(ReadAll(path), before);
        QCOMPARE(QDir(f.dir->path()).entryList({QStringLiteral("unit.csv*")}, QDir::Files),
                 QStringList{QStringLiteral("unit.csv")});
    }

    void saveFailureSaysWhy() {
        f.Open();
        const QString path = f.dir->path(); // a folder: no file can take its place
        QVERIFY(!f.form->SaveRegisters(path));
        QCOMPARE(f.boxes.size(), 1);
        QVERIFY2(f.boxes[0].text.startsWith(QStringLiteral("Unable to save the registers to %1: ")
                                                .arg(QDir::toNativeSeparators(path))),
                 qPrintable(f.boxes[0].text));
        QVERIFY(QFileInfo(path).isDir());
    }

    void menuByKeyboard_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Menu") << int(Qt::Key_Menu) << int(Qt::NoModifier);
        QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
    }
    void menuByKeyboard() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        f.Open();
        f.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        ui::TStringGrid *sg = f.form->sg;
        sg->setFocus();
        QTest::keyClick(sg, Qt::Key_Down);
        QTest::keyClick(sg, Qt::Key_Down);
        QTest::keyClick(sg, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QTRY_VERIFY(f.form->pmSendOneReg->isVisible());
        const QPoint cell = sg->viewport()->mapToGlobal(sg->CellRect(2, 3).bottomLeft());
        QCOMPARE(f.form->pmSendOneReg->pos(), cell);
        f.form->pmSendOneReg->close();
        QCOMPARE(SelRow, 3);
    }

    // The grid paints a cell's own colours; the selected cell keeps the
    // highlight and shows its own colour as a stripe at its left edge.
    void gridPaintsStates() {
        f.Open();
        f.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        RegStates[0] = ValueState::Pending; // row 1: the current cell
        RegStates[2] = ValueState::Pending;
        f.form->PaintValueStates();
        ui::TStringGrid *sg = f.form->sg;
        const QColor own = sg->CellColoursAt(2, 3).background;
        const QImage image = sg->viewport()->grab().toImage();
        const QRect plain = sg->CellRect(2, 3), current = sg->CellRect(2, 1);
        QCOMPARE(image.pixelColor(plain.right() - 2, plain.center().y()), own);
        QCOMPARE(image.pixelColor(current.left() + 1, current.center().y()), own);
        QCOMPARE(image.pixelColor(current.right() - 2, current.center().y()),
                 sg->palette().color(QPalette::Highlight));
        QVERIFY(!sg->CellColoursAt(2, 2).background.isValid());
    }

    // Every mark readable in both looks: apart from the base and from each
    // other, and its text at least 4.5 : 1 against its fill.
    void coloursReadable_data() {
        QTest::addColumn<QString>("look");
        QTest::newRow("standard") << "";
        QTest::newRow("Onyx Blue") << "Onyx Blue";
    }
    void coloursReadable() {
        QFETCH(QString, look);
        const QString sheet = qApp->styleSheet();
        if (!look.isEmpty())
            QVERIFY(SelectStyle(look));
        f.Open();
        RegStates[0] = ValueState::Changed;
        RegStates[1] = ValueState::Pending;
        RegStates[2] = ValueState::Differs;
        f.form->PaintValueStates();
        qApp->setStyleSheet(sheet);
        const auto luminance = [](const QColor &c) {
            const auto lin = [](double v) {
                return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
        };
        const auto contrast = [&](const QColor &a, const QColor &b) {
            const double la = luminance(a), lb = luminance(b);
            return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
        };
        QList<double> fills;
        for (int row = 1; row <= 3; ++row) {
            const auto c = f.form->sg->CellColoursAt(2, row);
            QVERIFY(c.background.isValid());
            QVERIFY2(contrast(c.background, c.text) >= 4.5, qPrintable(c.background.name()));
            fills << luminance(c.background);
        }
        // Apart in lightness too, for a reader who tells no hue at all.
        std::sort(fills.begin(), fills.end());
        QVERIFY(fills[1] - fills[0] > 0.15);
        QVERIFY(fills[2] - fills[1] > 0.15);
    }
};

QTEST_MAIN(TestSafeConfig)
#include "tst_safeconfig.moc"
