// The device simulator, spoken to over plain sockets: its answers, its
// register contents and every fault mode (the counter's rules are tested on
// Device, in tests/sim).
#include "SimFrames.h"
#include "SimProcess.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

using testsupport::Peer;
using testsupport::SimProcess;

using simframes::Counted;
using simframes::Hex;
using simframes::ReadOne;
using simframes::ReadValue;
using simframes::Spaced;

class TestSim : public QObject {
    Q_OBJECT
private slots:
    void answers_data();
    void answers();
    void writesAreStored();
    void readOf255Registers();
    void initialContents();
    void logFile();
    void answerLogFile();
    void silentMode();
    void splitMode();
    void closeAfterMode();
    void floodMode();
    void floodWithoutReading();
    void slowMode();
    void exceptionMode();
    void splitAtMode();
    void lateMode();
    void wrongTidMode();
    void randomModeKeepsTheBytes();
    void badCount_data();
    void badCount();
    void shortFrameIsNotAnswered();
    void garbageFramesDoNotBreakIt();
    void oneConnectionAtATime();
    void stopsCleanly();
    void refusesBadArguments_data();
    void refusesBadArguments();
    void registerBehaviour_data();
    void registerBehaviour();
    void moduleImage();
    void imageFile_data();
    void imageFile();
};

void TestSim::answers_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");

    QTest::newRow("f3 version 40024")
        << Hex("123400010006010300170001") << Hex("12340001000501030200 68");
    QTest::newRow("f3 echoes transaction, protocol and unit")
        << Hex("ABCD00070006110300170001") << Hex("ABCD00070005110302 0068");
    QTest::newRow("f3 last register 40256")
        << Hex("0001000100060103 00FF 0001") << Hex("000100010005010302 0000");
    QTest::newRow("f3 beyond 256 registers")
        << Hex("0005000100060103 00FA 000A") << Hex("00050001000301 83 02");
    QTest::newRow("f3 quantity 0")
        << Hex("0006000100060103 0000 0000") << Hex("00060001000301 83 03");
    QTest::newRow("f3 quantity 256")
        << Hex("0006000100060103 0000 0100") << Hex("00060001000301 83 03");
    QTest::newRow("f6 write echoes")
        << Hex("000200010006 01 06 0005 1234") << Hex("000200010006 01 06 0005 1234");
    QTest::newRow("f6 beyond 256")
        << Hex("000200010006 01 06 0100 0001") << Hex("00020001000301 86 02");
    QTest::newRow("f16 write two")
        << Hex("00030001000B 01 10 000A 0002 04 0102 0304") << Hex("000300010006 01 10 000A 0002");
    QTest::newRow("f16 beyond 256")
        << Hex("00030001000B 01 10 00FF 0002 04 0102 0304") << Hex("00030001000301 90 02");
    QTest::newRow("f16 byte count disagrees")
        << Hex("00030001000B 01 10 000A 0002 03 0102 0304") << Hex("00030001000301 90 03");
    QTest::newRow("f4 is no function of it")
        << Hex("0004000100060104 0000 0001") << Hex("00040001000301 84 01");
    QTest::newRow("MBAP length disagrees")
        << Hex("0007000100070103 0017 0001") << Hex("00070001000301 83 03");
}

void TestSim::answers() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Valid());
    QVERIFY(p.Send(Counted(request)));
    QCOMPARE(Spaced(p.Receive(answer.size())), Spaced(answer));
    QVERIFY2(!p.Readable(50), "nothing after the answer");
    QVERIFY(sim.WaitForRequests(1));
    QCOMPARE(sim.Requests(), QStringList{QString::fromLatin1(Spaced(Counted(request)))});
}

void TestSim::writesAreStored() {
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(Counted(Hex("000100010006 01 06 0005 1234"))));
    QCOMPARE(p.Receive(12).size(), 12);
    QVERIFY(p.Send(Counted(Hex("00020001000B 01 10 0009 0002 04 ABCD 00FF"))));
    QCOMPARE(p.Receive(12).size(), 12);
    QVERIFY(p.Send(Counted(Hex("000300010006 01 03 0005 0006"))));
    QCOMPARE(Spaced(p.Receive(21)),
             Spaced(Hex("00030001000F 01 03 0C 1234 0000 0000 0000 ABCD 00FF")));
}

void TestSim::readOf255Registers() {
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(Counted(Hex("0001000100060103 0000 00FF"))));
    const QByteArray a = p.Receive(519);
    QCOMPARE(a.size(), 519);
    // Length 3 + 510; the one-byte byte count keeps the low bits of 510.
    QCOMPARE(Spaced(a.left(9)), Spaced(Hex("000100010201 01 03 FE")));
    QCOMPARE(Spaced(a.mid(9 + 2 * 23, 2)), Spaced(Hex("0068"))); // 40024
    QVERIFY(!p.Readable(50));
}

void TestSim::initialContents() {
    SimProcess sim;
    QVERIFY2(sim.Start({"--stall-after", "0"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    // 40055 length, 40056.. one character per register, a 0 after it.
    QVERIFY(p.Send(Counted(Hex("0001000100060103 0036 000E"))));
    QCOMPARE(Spaced(p.Receive(37)),
             Spaced(Hex("00010001001F01031C 000C 0048 0065 006C 006C 006F 0020 0054 0061 0076 "
                        "0072 0069 006E 0000")));
    QCOMPARE(ReadValue(p, 23), 104);
    QCOMPARE(ReadValue(p, 1), 0);
}

void TestSim::logFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("sim.log"));
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("earlier line\n");
    }
    SimProcess sim;
    QVERIFY2(sim.Start({"--log", path}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QCOMPARE(ReadValue(p, 23), 104);
    QCOMPARE(ReadValue(p, 54), 12);
    QVERIFY(sim.WaitForRequests(2));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray expected = "earlier line\n"
                                "REQ 00 00 00 0C 00 01 00 01 00 06 01 03 00 17 00 01\n"
                                "REQ 00 00 00 0C 00 01 00 01 00 06 01 03 00 36 00 01\n";
    QCOMPARE(f.readAll(), expected);
}

// Each piece goes into the log as it is queued: a split answer as two lines,
// which together are the bytes on the wire.
void TestSim::answerLogFile() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("answers.log"));
    SimProcess sim;
    QVERIFY2(sim.Start({"--answer-log", path, "--mode", "split"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QCOMPARE(ReadValue(p, 23), 104);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("ANS 00 01 00 01 00\n"
                                     "ANS 05 01 03 02 00 68\n"));
    QVERIFY(sim.Requests().size() == 1);
}

void TestSim::silentMode() {
    SimProcess sim;
    QVERIFY2(sim.Start({"--mode", "silent"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(Counted(ReadOne(23))));
    QVERIFY(sim.WaitForRequests(1));
    QVERIFY(!p.Readable(300));
    QVERIFY(p.Send(Counted(ReadOne(24))));
    QVERIFY(sim.WaitForRequests(2)); // still reading requests
    QVERIFY(!p.Readable(100));
}

void TestSim::splitMode() {
    SimProcess sim;
    QVERIFY2(sim.Start({"--mode", "split"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(Counted(ReadOne(23))));
    const QByteArray whole = Hex("000100010005010302 0068");
    const QByteArray first = p.ReceiveSome();
    QVERIFY(!first.isEmpty());
    QVERIFY2(first.size() < whole.size(), first.toHex(' ').constData());
    QCOMPARE(Spaced(first), Spaced(whole.left(first.size())));
    QVERIFY2(!p.Readable(300), "the second part comes later");
    const QByteArray second = p.Receive(whole.size() - first.size(), 4000);
    QCOMPARE(Spaced(first + second), Spaced(whole));
}

void TestSim::closeAfterMode() {
    SimProcess sim;
    QVERIFY2(sim.Start({"--mode", "close-after", "2"}), qPrintable(sim.Diagnostics()));
    for (int round = 0; round < 2; ++round) { // the next connection gets its own two
        Peer p = testsupport::ConnectTo(sim.Port());
        QVERIFY(p.Valid());
        QCOMPARE(ReadValue(p, 23), 104);
        QCOMPARE(ReadValue(p, 23), 104);
        QByteArray rest;
        QCOMPARE(p.ReadToEnd(rest), Peer::End::Eof);
        QVERIFY(rest.isEmpty());
    }
    QVERIFY(sim.WaitForRequests(4));
}

void TestSim::floodMode() {
    SimProcess sim;
    QVERIFY2(sim.Start({"--mode", "flood"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    for (int i = 0; i < 2; ++i) {
        QVERIFY(p.Send(Counted(ReadOne(23))));
        const QByteArray a = p.Receive(5000);
        QCOMPARE(a.size(), 5000);
        QCOMPARE(Spaced(a.left(11)), Spaced(Hex("000100010005010302 0068")));
        QVERIFY(!p.Readable(100));
    }
}

void TestSim::floodWithoutReading() {
    // Answers pile up while the client reads nothing; none is lost or
    // reordered, and the simulator stays within bounds meanwhile.
    SimProcess sim;
    QVERIFY2(sim.Start({"--mode", "flood"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    constexpr int Requests = 200;
    QByteArray burst;
    for (int i = 0; i < Requests; ++i) {
        QByteArray f = ReadOne(23);
        f[0] = char(i >> 8);
        f[1] = char(i);
        burst += Counted(f);
    }
    QVERIFY(p.Send(burst));
    for (int i = 0; i < Requests; ++i) {
        const QByteArray a = p.Receive(5000, 5000);
        QCOMPARE(a.size(), 5000);
        QCOMPARE(int(quint8(a[0]) << 8 | quint8(a[1])), i);
    }
    QVERIFY(!p.Readable(50));
    QVERIFY(sim.WaitForRequests(Requests));
}

void TestSim::slowMode() {
    SimProcess sim;
    QVERIFY2(sim.Start({"--mode", "slow=600"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(Counted(ReadOne(23))));
    QVERIFY2(!p.Readable(150), "answer held back");
    QCOMPARE(Spaced(p.Receive(11, 4000)), Spaced(Hex("000100010005010302 0068")));
}

void TestSim::exceptionMode() {
    SimProcess sim;
    QVERIFY2(sim.Start({"--mode", "exception"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(Counted(ReadOne(23))));
    QCOMPARE(Spaced(p.Receive(9)), Spaced(Hex("00010001000301 83 04")));
    QVERIFY(p.Send(Counted(Hex("000200010006 01 06 0005 1234"))));
    QCOMPARE(Spaced(p.Receive(9)), Spaced(Hex("00020001000301 86 04")));
}

void TestSim::splitAtMode() {
    SimProcess sim;
    QVERIFY2(sim.Start({"--mode", "split-at", "5/400"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(Counted(ReadOne(23))));
    QCOMPARE(Spaced(p.Receive(5)), Spaced(Hex("0001000100")));
    QVERIFY2(!p.Readable(150), "the rest comes later");
    QCOMPARE(Spaced(p.Receive(6, 4000)), Spaced(Hex("05010302 0068")));
}

// The first, third, ... answer late; the one after a late one waits behind it.
void TestSim::lateMode() {
    SimProcess sim;
    QVERIFY2(sim.Start({"--mode", "late=400"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(Counted(ReadOne(23))));
    QVERIFY2(!p.Readable(150), "the first answer held back");
    QCOMPARE(Spaced(p.Receive(11, 4000)), Spaced(Hex("000100010005010302 0068")));
    QVERIFY(p.Send(Counted(Hex("000200010006 01 03 0017 0001"))));
    QCOMPARE(Spaced(p.Receive(11, 100)), Spaced(Hex("000200010005010302 0068")));
}

void TestSim::wrongTidMode() {
    SimProcess sim;
    QVERIFY2(sim.Start({"--mode", "wrong-tid"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(Counted(Hex("000000010006 01 03 0017 0001"))));
    QCOMPARE(Spaced(p.Receive(11)), Spaced(Hex("FFFF00010005010302 0068")));
}

// Whatever the pieces and delays, the bytes are the answers in order.
void TestSim::randomModeKeepsTheBytes() {
    SimProcess sim;
    QVERIFY2(sim.Start({"--mode", "random", "7"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    for (int i = 1; i <= 20; ++i) {
        QByteArray req = Hex("000000010006 01 03 0017 0001");
        req[1] = char(i);
        QVERIFY(p.Send(Counted(req)));
        QByteArray want = Hex("000000010005010302 0068");
        want[1] = char(i);
        QCOMPARE(Spaced(p.Receive(11, 4000)), Spaced(want));
    }
}

void TestSim::badCount_data() {
    QTest::addColumn<QByteArray>("count");
    QTest::newRow("0") << Hex("00000000");
    QTest::newRow("1025") << Hex("00000401");
    QTest::newRow("FFFFFFFF") << Hex("FFFFFFFF");
}

void TestSim::badCount() {
    QFETCH(QByteArray, count);
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(count));
    QByteArray rest;
    QCOMPARE(p.ReadToEnd(rest), Peer::End::Eof);
    QVERIFY(rest.isEmpty());
    QVERIFY2(sim.WaitForErrorOutput(QStringLiteral("count")), qPrintable(sim.ErrorOutput()));
    QVERIFY(sim.Requests().isEmpty());

    // Still serving: the largest count is taken (and its frame answered).
    Peer next = testsupport::ConnectTo(sim.Port());
    QByteArray big = Hex("0001000103FA 01 10 0000 0001 02 0000");
    big.append(QByteArray(1024 - big.size(), '\0'));
    QVERIFY(next.Send(Counted(big)));
    QCOMPARE(Spaced(next.Receive(9)), Spaced(Hex("00010001000301 90 03")));
    QCOMPARE(ReadValue(next, 23), 104);
    QCOMPARE(sim.Stop(), 0);
}

void TestSim::shortFrameIsNotAnswered() {
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(Counted(Hex("0001000100"))));
    QVERIFY(sim.WaitForRequests(1));
    QVERIFY(!p.Readable(200));
    QCOMPARE(ReadValue(p, 23), 104); // the connection goes on
    QCOMPARE(sim.Requests().first(), QStringLiteral("00 00 00 05 00 01 00 01 00"));
}

void TestSim::garbageFramesDoNotBreakIt() {
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
    QRandomGenerator rng(20240611); // fixed: the same frames every run
    constexpr int Frames = 400;
    {
        Peer p = testsupport::ConnectTo(sim.Port());
        for (int i = 0; i < Frames; ++i) {
            const int size = int(rng.bounded(1, 1025));
            QByteArray f(size, Qt::Uninitialized);
            for (char &c : f)
                c = char(rng.bounded(256));
            if (size >= 8 && (i & 1)) {
                // Half of them get a consistent MBAP length and a known
                // function, to reach the checks behind the header.
                f[4] = char((size - 6) >> 8);
                f[5] = char(size - 6);
                const char functions[] = {3, 6, 16, char(0x83)};
                f[7] = functions[rng.bounded(4)];
            }
            QVERIFY(p.Send(Counted(f)));
            while (p.Readable(0))
                p.ReceiveSome(0); // answers are read, so nothing backs up
        }
        QVERIFY(sim.WaitForRequests(Frames, 5000));
    }
    QVERIFY(sim.Running());
    Peer next = testsupport::ConnectTo(sim.Port());
    QVERIFY(ReadValue(next, 2) >= 0);
    QCOMPARE(sim.Stop(), 0);
}

void TestSim::oneConnectionAtATime() {
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
    Peer a = testsupport::ConnectTo(sim.Port());
    QCOMPARE(ReadValue(a, 23), 104);
    Peer b = testsupport::ConnectTo(sim.Port()); // waits in the backlog
    QVERIFY(b.Valid());
    QVERIFY(b.Send(Counted(ReadOne(23))));
    QVERIFY2(!b.Readable(200), "served while the first is open");
    a.Close();
    QCOMPARE(Spaced(b.Receive(11, 4000)), Spaced(Hex("000100010005010302 0068")));
}

void TestSim::stopsCleanly() {
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QCOMPARE(ReadValue(p, 23), 104);
    QVERIFY(sim.Pid() > 0);
    QCOMPARE(sim.Stop(), 0); // SIGTERM while a connection is open
    QVERIFY(!sim.Running());
    QByteArray rest;
    QVERIFY(p.ReadToEnd(rest) != Peer::End::Timeout);
}

void TestSim::refusesBadArguments_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown mode") << QStringList{"--mode", "bogus"};
    QTest::newRow("slow without time") << QStringList{"--mode", "slow"};
    QTest::newRow("split-at without delay") << QStringList{"--mode", "split-at", "5"};
    QTest::newRow("split-at 0 bytes") << QStringList{"--mode", "split-at=0/100"};
    QTest::newRow("random without seed") << QStringList{"--mode", "random"};
    QTest::newRow("wrong-tid with a value") << QStringList{"--mode", "wrong-tid=1"};
    QTest::newRow("port out of range") << QStringList{"--port", "65536"};
    QTest::newRow("negative stall") << QStringList{"--stall-after", "-1"};
    QTest::newRow("unknown option") << QStringList{"--bind", "0.0.0.0"};
    QTest::newRow("image without file") << QStringList{"--image"};
    QTest::newRow("no modules") << QStringList{"--modules", "0"};
    QTest::newRow("101 modules") << QStringList{"--modules", "101"};
    QTest::newRow("negative delay") << QStringList{"--delay", "-1"};
    QTest::newRow("fault of module 0") << QStringList{"--module-fault", "0:silent"};
    QTest::newRow("fault beyond the modules")
        << QStringList{"--modules", "3", "--module-fault", "4:silent"};
    QTest::newRow("fault without module") << QStringList{"--module-fault", "silent"};
    QTest::newRow("fault without its value") << QStringList{"--module-fault", "1:late"};
    QTest::newRow("unknown fault") << QStringList{"--module-fault", "1:bogus"};
    QTest::newRow("two faults of one module") << QStringList{
        "--modules", "2", "--module-fault", "2:silent", "--module-fault", "2:closed"};
    QTest::newRow("no-restart with a value") << QStringList{"--mode", "no-restart=1"};
}

void TestSim::refusesBadArguments() {
    QFETCH(QStringList, args);
    QProcess proc;
    proc.start(QString::fromUtf8(testsupport::SimPath), args);
    QVERIFY(proc.waitForStarted(5000));
    if (!testsupport::WaitForEnd(proc, 5000)) {
        proc.kill();
        testsupport::WaitForEnd(proc, 2000);
        QFAIL("still running");
    }
    QCOMPARE(proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(proc.exitCode(), 2);
    QVERIFY(proc.readAllStandardOutput().isEmpty()); // no ready line
    QVERIFY(proc.readAllStandardError().contains("usage"));
}

// A write, its answer, and what a register holds afterwards.
void TestSim::registerBehaviour_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value");
    // clang-format off
    QTest::newRow("f6 to 40024 refused") << Hex("000100010006 01 06 0017 0001") << Hex("00010001000301 86 02") << 23 << 104;
    QTest::newRow("f16 over 40024 refused whole")
        << Hex("00010001000B 01 10 0016 0002 04 0007 0008") << Hex("00010001000301 90 02") << 22 << 0;
    QTest::newRow("f6 150 to 40038 keeps 100") << Hex("000100010006 01 06 0025 0096") << Hex("000100010006 01 06 0025 0096") << 37 << 100;
    QTest::newRow("f6 99 to 40038 keeps 99") << Hex("000100010006 01 06 0025 0063") << Hex("000100010006 01 06 0025 0063") << 37 << 99;
    QTest::newRow("f16 150 to 40037..38 keeps 100")
        << Hex("00010001000B 01 10 0024 0002 04 01F6 0096") << Hex("000100010006 01 10 0024 0002") << 37 << 100;
    // clang-format on
}

void TestSim::registerBehaviour() {
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QFETCH(int, index);
    QFETCH(int, value);
    SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(Counted(request)));
    QCOMPARE(Spaced(p.Receive(answer.size())), Spaced(answer));
    QCOMPARE(ReadValue(p, index), value);
}

// A plausible module: its network settings, port, brightness and version.
void TestSim::moduleImage() {
    SimProcess sim;
    QVERIFY2(sim.Start({"--stall-after", "0"}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QVERIFY(p.Send(Counted(Hex("0001000100060103 0017 000F"))));
    QCOMPARE(Spaced(p.Receive(39)),
             Spaced(Hex("00010001002101031E 0068 00C0 00A8 000A 0032 00FF 00FF 00FF 0000 "
                        "00C0 00A8 000A 0001 01F6 0050")));
}

void TestSim::imageFile_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value"); // -1: refused
    QTest::newRow("saved by the program")
        << QByteArray("Register,Name,Value\r\n40001,Triger Start/Stop,7\r\n40038,Jasno,0x2A\r\n")
        << 37 << 42;
    QTest::newRow("others are 0") << QByteArray("40001,x,7\n") << 23 << 0;
    QTest::newRow("register 40257") << QByteArray("40257,x,7\n") << 0 << -1;
    QTest::newRow("value 65536") << QByteArray("40001,x,65536\n") << 0 << -1;
}

void TestSim::imageFile() {
    QFETCH(QByteArray, file);
    QFETCH(int, index);
    QFETCH(int, value);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("image.csv"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    SimProcess sim;
    if (value < 0) {
        QVERIFY(!sim.Start({"--image", path}, 2000));
        return;
    }
    QVERIFY2(sim.Start({"--image", path}), qPrintable(sim.Diagnostics()));
    Peer p = testsupport::ConnectTo(sim.Port());
    QCOMPARE(ReadValue(p, index), value);
}

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
