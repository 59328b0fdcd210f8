// The TCP client against a scripted peer on 127.0.0.1.
#include "LoopbackPeer.h"
#include "Platform.h"
#include "TcpClient.h"

#include <QElapsedTimer>
#include <QThread>
#include <QtTest>

#include <cerrno>
#include <memory>
#ifndef _WIN32
#include <netdb.h> // EAI_NONAME; Winsock has it in ws2tcpip.h
#endif

using tcp::TcpClient;
using testsupport::Listener;
using testsupport::Peer;

namespace {

QByteArray Pattern(int n) {
    QByteArray b(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        b[i] = char((i * 7 + 3) & 0xFF);
    return b;
}

void Write(TcpClient &c, const QByteArray &block) {
    c.WriteCounted(reinterpret_cast<const uint8_t *>(block.constData()), size_t(block.size()));
}

// Connects c to the listener and accepts the other end.
bool Open(TcpClient &c, Listener &l, Peer &p) {
    c.Host = "127.0.0.1";
    c.Port = l.Port();
    c.Connect();
    p = l.Accept();
    return p.Valid();
}

// Runs is-connected tests until the client has seen the close (bounded).
bool SeeClose(TcpClient &c) {
    QDeadlineTimer deadline(3000);
    while (!c.PeerClosed() && !deadline.hasExpired()) {
        c.IsConnected();
        if (!c.PeerClosed())
            QThread::msleep(1);
    }
    return c.PeerClosed();
}

// Reads n bytes through the readiness wait, as the exchange does (bounded).
QByteArray ReadBytes(TcpClient &c, int n) {
    QByteArray got;
    for (int waits = 0; got.size() < n && waits < 300;) {
        if (c.InputBufferEmpty()) {
            c.WaitReadable(10);
            ++waits;
            continue;
        }
        got.append(char(c.ReadByte()));
    }
    return got;
}

// The messages of the transport's logging category, in order.
QStringList g_transportLog;
QtMessageHandler g_previousHandler = nullptr;

void CaptureTransportLog(QtMsgType type, const QMessageLogContext &context, const QString &text) {
    if (qstrcmp(context.category, "tavrin.tcp") == 0)
        g_transportLog << text;
    else
        g_previousHandler(type, context, text);
}

QString What(const std::exception &e) {
    return QString::fromUtf8(e.what());
}

// Name look-ups of this suite: "localhost" goes to the system's resolver (the
// hosts file answers it); every other name fails here, so that no query
// leaves the machine.
tcp::platform::Resolver g_systemResolver = nullptr;
std::string g_lastLookup;

bool LocalOnlyResolver(const std::string &host, uint32_t &address, int &err, std::string &text) {
    g_lastLookup = host;
    if (host == "localhost")
        return g_systemResolver(host, address, err, text);
    err = EAI_NONAME;
#ifdef _WIN32
    text = gai_strerrorA(EAI_NONAME); // the 8-bit one: Qt builds with UNICODE
#else
    text = gai_strerror(EAI_NONAME);
#endif
    return false;
}

} // namespace

class TestTcpClient : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void countedWrite_data();
    void countedWrite();
    void noDelayIsOn();
    void bytesThenCloseStayReadable();
    void resetByPeerIsAClose();
    void waitAfterCloseReturnsAtOnce();
    void waitReadable();
    void lateBytesStayForNextRead();
    void readsTakeAtMostOnePiece();
    void connectFailures_data();
    void connectFailures();
    void hostNameIsLookedUp();
    void connectWhileConnected();
    void connectWithBytesLeftAfterClose();
    void reconnectAfterPeerClosed();
    void writeOnClosedConnection();
    void writeAfterResetRaisesSocketError();
    void readByteWaitsPerReadTimeout();
    void releaseClosesOrderly_data();
    void releaseClosesOrderly();
    void limitedConnectTimeout();
    void silentHostTimesOut();
    void transportLog_data();
    void transportLog();
};

void TestTcpClient::initTestCase() {
    g_systemResolver = tcp::platform::SetResolver(LocalOnlyResolver);
}

void TestTcpClient::cleanupTestCase() {
    tcp::platform::SetResolver(g_systemResolver);
}

void TestTcpClient::countedWrite_data() {
    QTest::addColumn<QByteArray>("block");
    QTest::addColumn<QByteArray>("count");
    QTest::newRow("12-byte read frame")
        << QByteArray::fromHex("000100010006010300000006") << QByteArray::fromHex("0000000C");
    QTest::newRow("1 byte") << QByteArray::fromHex("AB") << QByteArray::fromHex("00000001");
    QTest::newRow("523-byte f16 frame") << Pattern(523) << QByteArray::fromHex("0000020B");
    QTest::newRow("70000 bytes, three pieces") << Pattern(70000) << QByteArray::fromHex("00011170");
}

void TestTcpClient::countedWrite() {
    QFETCH(QByteArray, block);
    QFETCH(QByteArray, count);
    Listener l;
    TcpClient c;
    Peer p;
    QVERIFY(Open(c, l, p));
    Write(c, block);
    const QByteArray wire = p.Receive(4 + block.size());
    QCOMPARE(wire.left(4).toHex(' '), count.toHex(' '));
    QCOMPARE(wire.mid(4), block);
    QVERIFY2(!p.Readable(50), "nothing follows the block");
}

void TestTcpClient::noDelayIsOn() {
    Listener l;
    TcpClient c;
    QVERIFY(!c.NoDelay());
    Peer p;
    QVERIFY(Open(c, l, p));
    QVERIFY(c.NoDelay());
}

void TestTcpClient::bytesThenCloseStayReadable() {
    Listener l;
    TcpClient c;
    Peer p;
    QVERIFY(Open(c, l, p));
    QVERIFY(p.Send(QByteArray::fromHex("112233")));
    QVERIFY(p.ShutdownAndWaitAcked());

    QVERIFY(SeeClose(c));
    QCOMPARE(c.InputBufferSize(), size_t(3));
    QVERIFY(c.IsConnected());
    QCOMPARE(c.ReadByte(), uint8_t(0x11));
    QVERIFY(c.IsConnected());
    QCOMPARE(c.ReadByte(), uint8_t(0x22));
    QVERIFY(c.IsConnected());
    QCOMPARE(c.ReadByte(), uint8_t(0x33));
    QVERIFY(!c.IsConnected());
    QVERIFY(c.InputBufferEmpty());
}

void TestTcpClient::resetByPeerIsAClose() {
    Listener l;
    TcpClient c;
    Peer p;
    QVERIFY(Open(c, l, p));
    QVERIFY(c.IsConnected());
    p.Abort();
    QVERIFY(SeeClose(c)); // no exception on the way
    QVERIFY(!c.IsConnected());
    QVERIFY(!c.WaitReadable(10));
}

void TestTcpClient::waitAfterCloseReturnsAtOnce() {
    Listener l;
    TcpClient c;
    Peer p;
    QVERIFY(Open(c, l, p));
    QVERIFY(p.ShutdownAndWaitAcked());
    // The first wait finds the close; none of them waits its 2 s.
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < 3; ++i)
        QVERIFY(!c.WaitReadable(2000));
    QVERIFY(c.PeerClosed());
    QVERIFY2(t.elapsed() < 3000, qPrintable(QString::number(t.elapsed())));
}

void TestTcpClient::waitReadable() {
    Listener l;
    TcpClient c;
    Peer p;
    QVERIFY(Open(c, l, p));
    QVERIFY(!c.WaitReadable(10)); // nothing sent
    QVERIFY(c.InputBufferEmpty());
    QVERIFY(c.IsConnected());
    QVERIFY(p.Send(QByteArray::fromHex("5A")));
    QVERIFY(c.WaitReadable(3000));
    QCOMPARE(c.InputBufferSize(), size_t(1));
    QCOMPARE(c.ReadByte(), uint8_t(0x5A));
}

void TestTcpClient::lateBytesStayForNextRead() {
    Listener l;
    TcpClient c;
    Peer p;
    QVERIFY(Open(c, l, p));
    const QByteArray frame = QByteArray::fromHex("000100010006010300000006");
    Write(c, frame);
    QCOMPARE(p.Receive(16).size(), 16);
    for (int i = 0; i < 5; ++i)
        QVERIFY(!c.WaitReadable(10)); // the exchange gives up

    QVERIFY(p.Send(QByteArray::fromHex("BBCC")));
    // The next is-connected test brings them in.
    QDeadlineTimer deadline(3000);
    while (c.InputBufferSize() < 2 && !deadline.hasExpired())
        QVERIFY(c.IsConnected());
    QCOMPARE(c.InputBufferSize(), size_t(2));

    // Nothing discards them before the next request goes out.
    Write(c, frame);
    QCOMPARE(p.Receive(16).size(), 16);
    QCOMPARE(c.InputBufferSize(), size_t(2));
    QVERIFY(p.Send(QByteArray::fromHex("DD")));
    QCOMPARE(ReadBytes(c, 3).toHex(' '), QByteArray("bb cc dd"));
}

void TestTcpClient::readsTakeAtMostOnePiece() {
    Listener l;
    TcpClient c;
    Peer p;
    QVERIFY(Open(c, l, p));
    const QByteArray burst = Pattern(100000);
    QVERIFY(p.Send(burst));
    QVERIFY(c.WaitReadable(3000));
    QVERIFY(c.InputBufferSize() >= 1);
    QVERIFY(c.InputBufferSize() <= TcpClient::MaxPiece);
    QCOMPARE(ReadBytes(c, int(burst.size())), burst);
}

void TestTcpClient::connectFailures_data() {
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("portKind"); // 0: refused, 1: the listener, 2: zero
    QTest::addColumn<bool>("socketError");
    QTest::addColumn<int>("code"); // expected socket error code, 0: any

    QTest::newRow("refused") << "127.0.0.1" << 0 << true << testsupport::sock::RefusedCode;
    QTest::newRow("empty host") << "" << 1 << false << 0;
    QTest::newRow("port 0") << "127.0.0.1" << 2 << false << 0;
    QTest::newRow("unresolvable name") << "nohost.invalid" << 1 << true << int(EAI_NONAME);
}

void TestTcpClient::connectFailures() {
    QFETCH(QString, host);
    QFETCH(int, portKind);
    QFETCH(bool, socketError);
    QFETCH(int, code);

    Listener l;
    TcpClient c;
    g_lastLookup.clear();
    c.Host = host.toStdString();
    c.Port = portKind == 0 ? testsupport::RefusedPort() : portKind == 1 ? l.Port() : 0;
    QVERIFY(portKind != 0 || c.Port != 0);

    bool threw = false;
    try {
        c.Connect();
    } catch (const tcp::SocketError &e) {
        threw = true;
        QVERIFY2(socketError, qPrintable(What(e)));
        if (code)
            QCOMPARE(e.Code(), code);
        const QString prefix = QStringLiteral("Socket Error # %1\n").arg(e.Code());
        QVERIFY2(What(e).startsWith(prefix), qPrintable(What(e)));
        QVERIFY(What(e).size() > prefix.size()); // a description follows
    } catch (const tcp::ClientError &e) {
        threw = true;
        QVERIFY2(!socketError, qPrintable(What(e)));
    }
    QVERIFY(threw);
    // Only a name is looked up; dotted addresses never reach the resolver.
    QCOMPARE(QString::fromStdString(g_lastLookup), code == EAI_NONAME ? host : QString());
    QVERIFY(!c.IsConnected());
    QVERIFY(!c.PeerClosed());
    QVERIFY(!l.HasPendingConnection());

    // The client takes the next attempt like a new one.
    Peer p;
    QVERIFY(Open(c, l, p));
    QVERIFY(c.IsConnected());
    Write(c, QByteArray::fromHex("01"));
    QCOMPARE(p.Receive(5).toHex(' '), QByteArray("00 00 00 01 01"));
}

void TestTcpClient::hostNameIsLookedUp() {
    Listener l;
    TcpClient c;
    c.Host = "localhost";
    c.Port = l.Port();
    g_lastLookup.clear();
    c.Connect();
    QCOMPARE(g_lastLookup, std::string("localhost"));
    Peer p = l.Accept();
    QVERIFY(p.Valid());
    QVERIFY(c.IsConnected());
}

void TestTcpClient::connectWhileConnected() {
    Listener l;
    TcpClient c;
    Peer p;
    QVERIFY(Open(c, l, p));
    QVERIFY_THROWS_EXCEPTION(tcp::ClientError, c.Connect());
    QVERIFY(!l.HasPendingConnection());
    QVERIFY(c.IsConnected());
    Write(c, QByteArray::fromHex("02"));
    QCOMPARE(p.Receive(5).toHex(' '), QByteArray("00 00 00 01 02"));
}

void TestTcpClient::connectWithBytesLeftAfterClose() {
    Listener l;
    TcpClient c;
    Peer p;
    QVERIFY(Open(c, l, p));
    QVERIFY(p.Send(QByteArray::fromHex("77")));
    QVERIFY(p.ShutdownAndWaitAcked());
    QVERIFY(SeeClose(c));
    // Unread bytes keep it connected, so a connect is refused until they are taken.
    QVERIFY_THROWS_EXCEPTION(tcp::ClientError, c.Connect());
    QCOMPARE(c.ReadByte(), uint8_t(0x77));
    c.Connect();
    Peer second = l.Accept();
    QVERIFY(second.Valid());
    QVERIFY(c.IsConnected());
    QVERIFY(!c.PeerClosed());
}

void TestTcpClient::reconnectAfterPeerClosed() {
    Listener l;
    TcpClient c;
    Peer first;
    QVERIFY(Open(c, l, first));
    QVERIFY(first.ShutdownAndWaitAcked());
    // No explicit test first: the connect's own check finds the close.
    c.Connect();
    Peer second = l.Accept();
    QVERIFY(second.Valid());
    QVERIFY(c.IsConnected());
    Write(c, QByteArray::fromHex("03"));
    QCOMPARE(second.Receive(5).toHex(' '), QByteArray("00 00 00 01 03"));
    QByteArray rest;
    QCOMPARE(first.ReadToEnd(rest), Peer::End::Eof);
    QVERIFY(rest.isEmpty());
}

void TestTcpClient::writeOnClosedConnection() {
    TcpClient never;
    try {
        Write(never, QByteArray::fromHex("01"));
        QFAIL("no error");
    } catch (const tcp::ClientError &e) {
        QCOMPARE(What(e), QStringLiteral("Connection Closed Gracefully."));
    }

    Listener l;
    TcpClient c;
    Peer p;
    QVERIFY(Open(c, l, p));
    QVERIFY(p.ShutdownAndWaitAcked());
    QVERIFY(SeeClose(c));
    try {
        Write(c, QByteArray::fromHex("01"));
        QFAIL("no error");
    } catch (const tcp::ClientError &e) {
        QCOMPARE(What(e), QStringLiteral("Connection Closed Gracefully."));
    }
}

void TestTcpClient::writeAfterResetRaisesSocketError() {
    Listener l;
    TcpClient c;
    Peer p;
    QVERIFY(Open(c, l, p));
    p.Abort();
    // Sends go on until the reset has arrived; then the socket reports it.
    QString message;
    for (int i = 0; i < 200 && message.isEmpty(); ++i) {
        try {
            Write(c, QByteArray::fromHex("01"));
            QThread::msleep(5);
        } catch (const tcp::SocketError &e) {
            message = What(e);
        }
    }
    QVERIFY2(message.startsWith(QStringLiteral("Socket Error # ")), qPrintable(message));
    QVERIFY(c.PeerClosed());
    QVERIFY(!c.IsConnected());
    QVERIFY_THROWS_EXCEPTION(tcp::ClientError, Write(c, QByteArray::fromHex("01")));
}

void TestTcpClient::readByteWaitsPerReadTimeout() {
    TcpClient never;
    QVERIFY_THROWS_EXCEPTION(tcp::ClientError, never.ReadByte());

    Listener l;
    TcpClient c;
    Peer p;
    QVERIFY(Open(c, l, p));
    c.ReadTimeout = 50;
    try {
        c.ReadByte();
        QFAIL("no error");
    } catch (const tcp::ClientError &e) {
        QCOMPARE(What(e), QStringLiteral("Read timed out."));
    }
    QVERIFY(c.IsConnected());

    c.ReadTimeout = -1;
    QVERIFY(p.Send(QByteArray::fromHex("42")));
    QCOMPARE(c.ReadByte(), uint8_t(0x42)); // waits for it

    QVERIFY(p.ShutdownAndWaitAcked());
    try {
        c.ReadByte(); // a close ends even an unlimited wait
        QFAIL("no error");
    } catch (const tcp::ClientError &e) {
        QCOMPARE(What(e), QStringLiteral("Connection Closed Gracefully."));
    }
}

void TestTcpClient::releaseClosesOrderly_data() {
    QTest::addColumn<QByteArray>("unread");
    QTest::newRow("nothing received") << QByteArray();
    QTest::newRow("unread bytes in the buffer") << QByteArray::fromHex("0102");
}

void TestTcpClient::releaseClosesOrderly() {
    QFETCH(QByteArray, unread);
    Listener l;
    auto c = std::make_unique<TcpClient>();
    Peer p;
    QVERIFY(Open(*c, l, p));
    if (!unread.isEmpty()) {
        QVERIFY(p.Send(unread));
        QDeadlineTimer deadline(3000);
        while (c->InputBufferSize() < size_t(unread.size()) && !deadline.hasExpired())
            c->WaitReadable(10);
        QCOMPARE(c->InputBufferSize(), size_t(unread.size()));
    }
    c.reset();
    QByteArray got;
    QCOMPARE(p.ReadToEnd(got), Peer::End::Eof);
    QVERIFY2(got.isEmpty(), got.toHex(' ').constData());
}

void TestTcpClient::limitedConnectTimeout() {
    // A limit that is not reached changes nothing, in either outcome.
    Listener l;
    TcpClient c;
    c.ConnectTimeout = 2000;
    Peer p;
    QVERIFY(Open(c, l, p));
    QVERIFY(c.IsConnected());
    Write(c, QByteArray::fromHex("04"));
    QCOMPARE(p.Receive(5).toHex(' '), QByteArray("00 00 00 01 04"));

    TcpClient refused;
    refused.ConnectTimeout = 2000;
    refused.Host = "127.0.0.1";
    refused.Port = testsupport::RefusedPort();
    try {
        refused.Connect();
        QFAIL("no error");
    } catch (const tcp::SocketError &e) {
        QCOMPARE(e.Code(), testsupport::sock::RefusedCode);
    }
}

void TestTcpClient::silentHostTimesOut() {
    // The SYN is dropped: the attempt ends at its limit, not at the kernel's.
    testsupport::SilentListener silent;
    QVERIFY(silent.Valid());
    TcpClient c;
    c.ConnectTimeout = 300;
    c.Host = "127.0.0.1";
    c.Port = silent.Port();
    try {
        c.Connect();
        QFAIL("no error");
    } catch (const tcp::SocketError &e) {
        QCOMPARE(e.Code(), testsupport::sock::TimedOutCode);
    }
    QVERIFY(!c.IsConnected());
}

void TestTcpClient::transportLog_data() {
    QTest::addColumn<QString>("rules");
    QTest::addColumn<bool>("peerCloses");
    QTest::addColumn<QStringList>("log"); // %1: the listener's port
    const QStringList exchange{QStringLiteral("connect to 127.0.0.1 port %1"),
                               QStringLiteral("connected"),
                               QStringLiteral("send 12 bytes behind their 4-byte count"),
                               QStringLiteral("receive 5 bytes")};
    QTest::newRow("off by default") << QString() << false << QStringList();
    QTest::newRow("on, released") << "tavrin.tcp.debug=true" << false
                                  << exchange + QStringList{QStringLiteral("close")};
    QTest::newRow("on, closed by the peer")
        << "tavrin.tcp.debug=true" << true
        << exchange + QStringList{QStringLiteral("close: closed by the peer")};
}

void TestTcpClient::transportLog() {
    QFETCH(QString, rules);
    QFETCH(bool, peerCloses);
    QFETCH(QStringList, log);
    QLoggingCategory::setFilterRules(rules);
    g_transportLog.clear();
    g_previousHandler = qInstallMessageHandler(CaptureTransportLog);
    Listener l;
    {
        TcpClient c;
        Peer p;
        QVERIFY(Open(c, l, p));
        Write(c, Pattern(12));
        QCOMPARE(p.Receive(16).size(), 16);
        QVERIFY(p.Send(Pattern(5)));
        QCOMPARE(ReadBytes(c, 5), Pattern(5));
        if (peerCloses) {
            p.Close();
            QVERIFY(SeeClose(c));
        }
    }
    qInstallMessageHandler(g_previousHandler);
    QLoggingCategory::setFilterRules(QString());
    for (QString &line : log)
        line = line.arg(l.Port());
    QCOMPARE(g_transportLog, log);
}

QTEST_GUILESS_MAIN(TestTcpClient)
#include "tst_tcpclient.moc"
