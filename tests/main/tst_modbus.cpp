// Requests on the wire and answer handling, against the device simulator.
#include "FormFixture.h"
#include "SimProcess.h"
#include "StringGrid.h"

#include <QLabel>
#include <QtTest>

namespace {

// Spaced upper-case hex of a byte string written as compact hex.
QString Spaced(const QByteArray &compactHex) {
    const QByteArray bytes = QByteArray::fromHex(compactHex);
    return FormFixture::Hex(reinterpret_cast<const uint8_t *>(bytes.constData()),
                            int(bytes.size()));
}

QString Repeat(const QString &unit, int n) {
    QString s;
    for (int i = 0; i < n; ++i)
        s += unit;
    return s;
}

} // namespace

class TestModbus : public QObject {
    Q_OBJECT

    testsupport::SimProcess sim;
    FormFixture f;
    int seen = 0; // request lines already taken from the simulator

    QString NextRequest() {
        if (!sim.WaitForRequests(seen + 1))
            return QStringLiteral("<no request>");
        return sim.Requests().at(seen++);
    }
    void OpenConnected() {
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
    }

private slots:
    // A bare register store: the frames here write the version register too.
    void initTestCase() { QVERIFY2(sim.Start({"--plain"}), qPrintable(sim.Diagnostics())); }
    void cleanupTestCase() { sim.Stop(); }
    void cleanup() { f.Close(); }

    void frames_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("wire"); // count and frame, spaced hex
        QTest::addColumn<int>("sendCount");

        // clang-format off
        QTest::newRow("read all") << "readAll" << Spaced("0000000c 0001 0001 0006 01 0300 0000ff") << 12;
        QTest::newRow("read range defaults") << "readRange" << Spaced("0000000c000100010006010300000006") << 12;
        QTest::newRow("read range 40255 x 1") << "readRange40255" << Spaced("0000000c0001000100060103 00fe0001") << 12;
        QTest::newRow("ReadRegister(1)") << "readRegister1" << Spaced("0000000c000100010006010300010001") << 12;
        QTest::newRow("restart") << "restart" << Spaced("0000000c000100010006010600260055") << 12;
        QTest::newRow("WriteRegister(0,1)") << "writeRegister01" << Spaced("0000000c000100010006010600000001") << 12;
        QTest::newRow("send register row 39") << "sendRow39" << Spaced("0000000c000100010006010600261234") << 12;
        QTest::newRow("write range 40003 x 2") << "writeRange2" << Spaced("000000110001000100 0b0110000200020401020304") << 17;
        QTest::newRow("write range 40001 x 128")
            << "writeRange128"
            << Spaced("0000010d000100010107011000000080" "00") + u' ' + Repeat(QStringLiteral("AB CD "), 128).trimmed()
            << 269;
        QTest::newRow("text AB") << "textAB" << Spaced("00000013 0001000100 0d01100037000306 0041 0042 0000") << 19;
        QTest::newRow("text X") << "textX" << Spaced("00000011000100010 00b011000370002040058 0000") << 17;
        QTest::newRow("text l-stroke") << "textL" << Spaced("0000001100010001000b0110003700020401420000") << 17;
        QTest::newRow("text 99 chars")
            << "text99" << Spaced("000000d5000100010 0cf0110003700 64c8") + u' ' + Repeat(QStringLiteral("00 7A "), 99) + QStringLiteral("00 00")
            << 213;
        // clang-format on
    }
    void frames() {
        QFETCH(QString, command);
        QFETCH(QString, wire);
        QFETCH(int, sendCount);
        OpenConnected();
        TMainForm *w = f.form.get();
        if (command == "readAll") {
            w->btnReadAllRegsClick(w->btnReadAllRegs);
        } else if (command == "readRange") {
            w->btnSendRRClick(w->btnSendRR);
        } else if (command == "readRange40255") {
            w->edRRStart->SetValue(40255);
            w->edRRNums->SetValue(1);
            w->btnSendRRClick(w->btnSendRR);
        } else if (command == "readRegister1") {
            w->ReadRegister(1);
        } else if (command == "restart") {
            w->btnRestartSendClick(w->btnRestartSend);
        } else if (command == "writeRegister01") {
            w->WriteRegister(0, 1);
        } else if (command == "sendRow39") {
            Regs[38] = 4660;
            bool can = true;
            w->sgSelectCell(w->sg, 2, 39, can);
            w->pmSendRegisterClick(w->pmSendRegister);
        } else if (command == "writeRange2") {
            Regs[2] = 258;
            Regs[3] = 772;
            w->edRRStart->SetValue(40003);
            w->edRRNums->SetValue(2);
            w->btnWriteRangeRegsClick(w->btnWriteRangeRegs);
        } else if (command == "writeRange128") {
            for (int i = 0; i < 128; ++i)
                Regs[i] = 0xABCD;
            w->edRRStart->SetValue(40001);
            w->edRRNums->SetValue(128);
            w->btnWriteRangeRegsClick(w->btnWriteRangeRegs);
        } else if (command == "textAB") {
            w->edText->setText(QStringLiteral("AB"));
            w->btnSendClick(w->BitBtn1);
        } else if (command == "textX") {
            w->edText->setText(QStringLiteral("X"));
            w->btnSendClick(w->BitBtn1);
        } else if (command == "textL") {
            w->edText->setText(QString::fromUtf16(u"\u0142"));
            w->btnSendClick(w->BitBtn1);
        } else if (command == "text99") {
            w->edText->setText(QString(99, u'z'));
            w->btnSendClick(w->BitBtn1);
        }
        QCOMPARE(NextRequest(), wire);
        QCOMPARE(SendCount, sendCount);
        const QString frameHex = wire.mid(12) + u' '; // without the count
        QVERIFY(f.Lines().contains(QStringLiteral("Send: ") + frameHex));
        QVERIFY2(f.LastLine().startsWith(QStringLiteral("Receive: ")), qPrintable(f.LastLine()));
        QCOMPARE(f.Lines().constLast(), QString()); // the answer line ends in CR LF
        QCOMPARE(w->seTransactionID->Value(), 2);
        QVERIFY(f.boxes.isEmpty());
    }

    void readAllFillsImage() {
        testsupport::SimProcess fresh; // earlier writes changed the shared one
        QVERIFY2(fresh.Start(), qPrintable(fresh.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(fresh.Port()));
        Regs[255] = 777;
        f.form->btnReadAllRegsClick(nullptr);
        QVERIFY(fresh.WaitForRequests(1));
        QCOMPARE(RecCount, 9 + 2 * 255);
        QCOMPARE(Regs[23], uint16_t(104)); // the simulator's version register
        QCOMPARE(Regs[255], uint16_t(777));
        QCOMPARE(f.form->sg->Cell(2, 24), QStringLiteral("1.04"));
        QVERIFY(Regs[54] > 0);
        QCOMPARE(f.form->edText->text().size(), int(Regs[54]));
        QCOMPARE(f.LastLine(),
                 QStringLiteral("Receive: ") + FormFixture::Hex(RBuf, RecCount) + u' ');
    }

    void readRangeDefaultsFillsSix() {
        OpenConnected();
        for (int i = 0; i < 8; ++i)
            Regs[i] = 9999;
        f.form->btnSendRRClick(nullptr);
        NextRequest();
        QCOMPARE(RecCount, 9 + 12);
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(Regs[i], uint16_t(RBuf[9 + 2 * i] << 8 | RBuf[10 + 2 * i]));
            QCOMPARE(f.form->sg->Cell(2, i + 1), QString::number(Regs[i]));
        }
        QCOMPARE(Regs[6], uint16_t(9999));
        QCOMPARE(Regs[23], uint16_t(0)); // not part of the range
    }

    void transactionIdWraps() {
        OpenConnected();
        f.form->seTransactionID->SetValue(65535);
        f.form->btnSendRRClick(nullptr);
        QVERIFY(NextRequest().startsWith(QStringLiteral("00 00 00 0C FF FF")));
        QCOMPARE(f.form->seTransactionID->text(), QStringLiteral("65536"));
        QCOMPARE(f.form->lTID->text(), QStringLiteral("0x10000"));
        f.form->btnSendRRClick(nullptr);
        QVERIFY(NextRequest().startsWith(QStringLiteral("00 00 00 0C 00 00")));
        QCOMPARE(f.form->seTransactionID->text(), QStringLiteral("65537"));

        f.form->seTransactionID->SetValue(2147483647);
        f.form->btnSendRRClick(nullptr);
        QVERIFY(NextRequest().startsWith(QStringLiteral("00 00 00 0C FF FF")));
        QCOMPARE(f.form->seTransactionID->text(), QStringLiteral("-2147483648"));
    }

    void notConnected() {
        f.Open();
        const QStringList before = f.Lines();
        RecCount = 1234;
        f.form->btnReadAllRegsClick(nullptr);
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].text,
                 QString::fromUtf16(u"Tavrin nie jest po\u0142\u0105czony (not connected)"));
        QCOMPARE(f.boxes[0].icon, QMessageBox::NoIcon);
        QCOMPARE(f.boxes[0].title, ui::ProgramTitle());
        QCOMPARE(f.Lines(), before);
        QCOMPARE(RecCount, -1);
        QCOMPARE(f.form->seTransactionID->Value(), 1);
        // Commands with their own connection test stay silent.
        f.boxes.clear();
        f.form->btnRestartSendClick(nullptr);
        QCOMPARE(Regs[38], uint16_t(0));
        Regs[1] = 4321;
        QCOMPARE(f.form->ReadRegister(1), uint16_t(4321));
        f.form->btnReadClick(nullptr);
        QCOMPARE(f.form->labrj->text(), QStringLiteral("Reg[1]=4321"));
        f.form->btnWriteClick(nullptr);
        QCOMPARE(Regs[1], uint16_t(4321));
        QVERIFY(f.boxes.isEmpty());
        QCOMPARE(f.Lines(), before);
    }

    void restartStoresAtOnce() {
        OpenConnected();
        f.form->btnRestartSendClick(nullptr);
        NextRequest();
        QCOMPARE(Regs[38], uint16_t(85));
        QCOMPARE(f.form->sg->Cell(2, 39), QStringLiteral("85"));
    }

    void sendThisRegisterBeforeSelection() {
        OpenConnected();
        Regs[0] = 0x0102;
        f.form->pmSendRegisterClick(nullptr);
        QCOMPARE(NextRequest(), Spaced("0000000c000100010006010600000102"));
    }

    void rangeBounds_data() {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("fields"); // bytes 8..11, or empty: refused
        QTest::addColumn<QString>("cut");    // the log line before "Send: ", if any
        QTest::newRow("read 40255 x 255 cut")
            << false << 40255 << 255 << "00 FE 00 02"
            << "Range cut to 2 of 255 registers (40255 to 40256).";
        QTest::newRow("read 40256 x 1") << false << 40256 << 1 << "00 FF 00 01"
                                        << "";
        QTest::newRow("read 40001 x 300 cut")
            << false << 40001 << 300 << "00 00 00 FF"
            << "Range cut to 255 of 300 registers (40001 to 40255).";
        QTest::newRow("read below 40001") << false << 40000 << 6 << ""
                                          << "";
        QTest::newRow("read above 40256") << false << 40257 << 1 << ""
                                          << "";
        QTest::newRow("read zero count") << false << 40001 << 0 << ""
                                         << "";
        QTest::newRow("read negative count") << false << 40001 << -3 << ""
                                             << "";
        QTest::newRow("write 40250 x 100 cut")
            << true << 40250 << 100 << "00 F9 00 07"
            << "Range cut to 7 of 100 registers (40250 to 40256).";
        QTest::newRow("write 40250 x 7") << true << 40250 << 7 << "00 F9 00 07"
                                         << "";
        QTest::newRow("write 40001 x 600 cut")
            << true << 40001 << 600 << "00 00 00 FF"
            << "Range cut to 255 of 600 registers (40001 to 40255).";
        QTest::newRow("write below 40001") << true << -5 << 2 << ""
                                           << "";
    }
    void rangeBounds() {
        QFETCH(bool, write);
        QFETCH(int, start);
        QFETCH(int, count);
        QFETCH(QString, fields);
        QFETCH(QString, cut);
        OpenConnected();
        f.form->edRRStart->SetValue(start);
        f.form->edRRNums->SetValue(count);
        if (write)
            f.form->btnWriteRangeRegsClick(nullptr);
        else
            f.form->btnSendRRClick(nullptr);
        if (fields.isEmpty()) {
            QCOMPARE(f.LastLine(), QStringLiteral("Range outside registers 40001 to 40256."));
            QCOMPARE(f.form->seTransactionID->Value(), 1);
            QVERIFY(!sim.WaitForRequests(seen + 1, 200));
            return;
        }
        const QString req = NextRequest();
        QCOMPARE(req.mid(3 * 12, 11), fields);
        const int n = fields.right(2).toInt(nullptr, 16);
        if (write) {
            QCOMPARE(SendCount, 13 + 2 * n);
            QCOMPARE(req.mid(3 * 16, 2),
                     QStringLiteral("%1").arg(2 * n & 0xFF, 2, 16, QChar(u'0')).toUpper());
        }
        // One line before the request says how many registers went out.
        const QStringList lines = f.Lines();
        qsizetype send = lines.size() - 1;
        while (send >= 0 && !lines[send].startsWith(QStringLiteral("Send: ")))
            --send;
        QVERIFY(send >= 1);
        QCOMPARE(lines[send - 1],
                 cut.isEmpty() ? QStringLiteral("Successful connect with Tavrin") : cut);
    }

    void shorterTextAfterLonger() {
        OpenConnected();
        f.form->edText->setText(QStringLiteral("LONGER TEXT"));
        f.form->btnSendClick(nullptr);
        NextRequest();
        Regs[200] = 5;
        f.form->edText->setText(QStringLiteral("ab"));
        f.form->btnSendClick(nullptr);
        QCOMPARE(NextRequest(), Spaced("00000013 0002 0001 000d 0110 0037 0003 06 0061 0062 0000"));
        QCOMPARE(Regs[54], uint16_t(2));
        QCOMPARE(Regs[55], uint16_t('a'));
        QCOMPARE(Regs[56], uint16_t('b'));
        for (int i = 57; i <= 211; ++i)
            QCOMPARE(Regs[i], uint16_t(0));
        QCOMPARE(f.form->edText->text(), QStringLiteral("ab"));
        QCOMPARE(f.form->sg->Cell(2, 56), QStringLiteral("a"));
        QCOMPARE(f.form->sg->Cell(2, 58), QString(QChar(u'\0')));
    }

    void emptyText() {
        f.Open();
        Regs[54] = 7;
        f.form->edText->setText(QString());
        f.form->btnSendClick(nullptr);
        QCOMPARE(f.Lines(), QStringList{QStringLiteral("The text can't be empty.")});
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].text, QStringLiteral("The text can't be empty."));
        QCOMPARE(Regs[54], uint16_t(7));
    }

    void textNotConnectedChangesImage() {
        f.Open();
        f.form->edText->setText(QStringLiteral("Hi"));
        f.form->btnSendClick(nullptr);
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(Regs[54], uint16_t(2));
        QCOMPARE(f.form->sg->Cell(2, 57), QStringLiteral("i"));
        QCOMPARE(f.form->seTransactionID->Value(), 1);
    }

    void tooLongTextIsCut() {
        OpenConnected();
        // 150 characters set by the program (as the settings file may).
        f.form->edText->setText(QString(150, u'q'));
        f.form->btnSendClick(nullptr);
        const QString req = NextRequest();
        QCOMPARE(SendCount, 213);
        QVERIFY(req.startsWith(QStringLiteral("00 00 00 D5")));
        QCOMPARE(Regs[54], uint16_t(99));
        QCOMPARE(Regs[55 + 98], uint16_t('q'));
        QCOMPARE(Regs[55 + 99], uint16_t(0));
        QCOMPARE(f.form->edText->text(), QString(99, u'q'));

        // Never inside a surrogate pair.
        QString s(98, u'a');
        s += QString::fromUtf16(u"\U0001F600");
        f.form->edText->setText(s + QStringLiteral("tail"));
        f.form->btnSendClick(nullptr);
        NextRequest();
        QCOMPARE(Regs[54], uint16_t(98));
    }
};

QTEST_MAIN(TestModbus)
#include "tst_modbus.moc"
