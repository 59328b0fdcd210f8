// Every wait of an exchange ends by its deadline, whatever the device does:
// a device that stops reading, an answer trickled a byte at a time, a flood
// of answers to other transactions, and write answers that must not count
// as acknowledgements.
#include "FormFixture.h"
#include "LoopbackPeer.h"
#include "Rss.h"
#include "TcpClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <thread>

namespace {

QStringList LinesSince(const FormFixture &f, qsizetype from) {
    QStringList l = f.Lines().mid(from);
    l.removeAll(QString());
    return l;
}

// The descriptor of this process's socket connected to 127.0.0.1:port.
int SocketTo(quint16 port) {
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int found = -1;
    while (const dirent *e = ::readdir(dir)) {
        const int fd = std::atoi(e->d_name);
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        if (fd > 2 && ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &len) == 0 &&
            peer.sin_family == AF_INET && ntohs(peer.sin_port) == port)
            found = fd;
    }
    ::closedir(dir);
    return found;
}

// Fills the socket's way to a peer that reads nothing: its send buffer and
// the peer's receive buffer, until nothing more is taken for a while.
bool FillUp(int fd) {
    const QByteArray junk(4096, '\xEE');
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 300) {
        if (::send(fd, junk.constData(), size_t(junk.size()), MSG_DONTWAIT | MSG_NOSIGNAL) > 0)
            quiet.restart();
        else if (errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        else
            QThread::msleep(10);
    }
    return true;
}

QByteArray ReadAllAnswer(int tid, uint16_t word) {
    QByteArray a = QByteArray::fromHex("0000000102010103FE");
    a[0] = char(tid >> 8);
    a[1] = char(tid);
    for (int i = 0; i < 255; ++i) {
        a += char(word >> 8);
        a += char(word);
    }
    return a;
}

} // namespace

using testsupport::RssKb;
using testsupport::RssMeaningful;

class TestBounds : public QObject {
    Q_OBJECT
    FormFixture f;

private slots:
    void cleanup() { f.Close(); }

    // A peer that reads nothing more: once the way to it is full, the
    // command that cannot send ends by its deadline, closes the connection,
    // and the next command says it is not connected. (The counted write used
    // to block in send for good.)
    void deviceThatStopsReading() {
        testsupport::Listener listener;
        f.Open();
        QVERIFY(f.Connect(listener.Port()));
        testsupport::Peer peer = listener.Accept();
        QVERIFY(peer.Valid());
        const int small = 1024;
        ::setsockopt(peer.Fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        const int fd = SocketTo(listener.Port());
        QVERIFY(fd >= 0);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        QVERIFY(FillUp(fd));
        f.form->edRRStart->SetValue(40001);
        f.form->edRRNums->SetValue(255);
        QElapsedTimer t;
        t.start();
        f.form->btnWriteRangeRegsClick(nullptr);
        const qint64 ms = t.elapsed();
        QCOMPARE(f.LastLine(),
                 QStringLiteral("The device took no more bytes for 3 s: connection closed."));
        QVERIFY2(ms < 4000, qPrintable(QStringLiteral("took %1 ms").arg(ms)));
        QVERIFY(f.boxes.isEmpty());
        f.form->btnSendRRClick(nullptr);
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].text,
                 QStringLiteral("Tavrin nie jest po\u0142\u0105czony (not connected)"));
    }

    // A read-all answer one byte at a time: whole within the deadline, it is
    // taken; running past it, refused and the image unchanged. (Every early
    // wake-up used to count as a whole 10 ms wait.)
    void trickledAnswer_data() {
        QTest::addColumn<int>("gapUs");
        QTest::addColumn<bool>("taken");
        QTest::newRow("1 ms a byte: 0.5 s") << 1000 << true;
        QTest::newRow("7 ms a byte: 3.6 s") << 7000 << false;
    }
    void trickledAnswer() {
        QFETCH(int, gapUs);
        QFETCH(bool, taken);
        testsupport::Listener listener;
        f.Open();
        QVERIFY(f.Connect(listener.Port()));
        testsupport::Peer peer = listener.Accept();
        QVERIFY(peer.Valid());
        std::fill(std::begin(Regs), std::end(Regs), uint16_t(0x7777));
        std::atomic<bool> stop{false};
        std::thread trickle([&] {
            if (peer.Receive(16).size() != 16)
                return;
            const QByteArray answer = ReadAllAnswer(1, 0x0102);
            for (qsizetype i = 0; i < answer.size() && !stop; ++i) {
                peer.Send(answer.mid(i, 1));
                std::this_thread::sleep_for(std::chrono::microseconds(gapUs));
            }
        });
        f.form->btnReadAllRegsClick(nullptr);
        stop = true;
        trickle.join();
        if (taken) {
            QCOMPARE(RecCount, 519);
            QCOMPARE(Regs[0], uint16_t(0x0102));
            QCOMPARE(Regs[254], uint16_t(0x0102));
        } else {
            QVERIFY(RecCount < 519);
            QCOMPARE(f.LastLine(), QStringLiteral("Answer incomplete: %1 of 519 bytes: registers "
                                                  "unchanged.")
                                       .arg(RecCount));
            QCOMPARE(Regs[0], uint16_t(0x7777));
        }
    }

    // A peer that streams 9-byte answers to another transaction between its
    // real answers: one stale line per exchange at most, and over 1,000
    // exchanges with the log cleared, no growth. (Each frame used to get a
    // line of its own: a million lines a read.)
    void foreignFlood() {
        testsupport::Listener listener;
        f.Open();
        QVERIFY(f.Connect(listener.Port()));
        testsupport::Peer peer = listener.Accept();
        QVERIFY(peer.Valid());
        std::atomic<bool> stop{false};
        std::thread flood([&] {
            const QByteArray foreign = QByteArray::fromHex("FFFF00010003010300").repeated(100);
            for (int tid = 1; !stop; ++tid) {
                for (int k = 0; k < 20; ++k)
                    peer.Send(foreign);
                if (peer.Receive(16, 200).size() != 16)
                    continue;
                QByteArray answer = QByteArray::fromHex("000000010005010302006B");
                answer[0] = char(tid >> 8);
                answer[1] = char(tid);
                peer.Send(foreign + answer);
            }
        });
        f.form->edRRStart->SetValue(40024);
        f.form->edRRNums->SetValue(1);
        long rssAt100 = 0;
        int staleLines = 0;
        for (int i = 0; i < 1000; ++i) {
            const qsizetype from = f.Lines().size();
            f.form->btnSendRRClick(nullptr);
            const QStringList lines = LinesSince(f, from);
            const auto stale = std::count_if(lines.begin(), lines.end(), [](const QString &l) {
                return l.startsWith(QStringLiteral("Stale: "));
            });
            QVERIFY2(stale <= 2, qPrintable(lines.join(u'\n').left(400)));
            QVERIFY(lines.size() <= 5);
            staleLines += int(stale);
            QCOMPARE(Regs[23], uint16_t(0x6B));
            if (i % 50 == 49)
                f.form->Memo1->ClearLines();
            if (i == 99)
                rssAt100 = RssKb();
        }
        const long growth = RssKb() - rssAt100;
        // The client closes first, so that a send of the peer's blocked on a
        // full buffer ends.
        stop = true;
        f.Close();
        flood.join();
        QVERIFY(staleLines > 0);
        qInfo("resident set grew by %ld KiB from exchange 100 to 1000", growth);
        if (RssMeaningful)
            QVERIFY2(growth < 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(growth)));
    }

    // A write answer that the answer check refuses leaves both registers
    // pending, however well its first bytes echo the request.
    void refusedWriteAnswerKeepsPending_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("why");
        QTest::newRow("length field 0") << QByteArray::fromHex("000100010000011000000002")
                                        << QStringLiteral("Answer length field 0 fits no answer.");
        // The whole echo, but the header announces one byte more.
        QTest::newRow("incomplete") << QByteArray::fromHex("000100010007011000000002")
                                    << QStringLiteral("Answer incomplete: 12 of 13 bytes.");
    }
    void refusedWriteAnswerKeepsPending() {
        QFETCH(QByteArray, answer);
        QFETCH(QString, why);
        testsupport::Listener listener;
        f.Open();
        QVERIFY(f.Connect(listener.Port()));
        testsupport::Peer peer = listener.Accept();
        QVERIFY(peer.Valid());
        RegStates[0] = core::ValueState::Pending;
        RegStates[1] = core::ValueState::Pending;
        f.form->edRRStart->SetValue(40001);
        f.form->edRRNums->SetValue(2);
        std::thread reply([&] {
            if (peer.Receive(4 + 17).size() == 21)
                peer.Send(answer);
        });
        f.form->btnWriteRangeRegsClick(nullptr);
        reply.join();
        QCOMPARE(f.LastLine(), why);
        QCOMPARE(RegStates[0], core::ValueState::Pending);
        QCOMPARE(RegStates[1], core::ValueState::Pending);
    }
};

QTEST_MAIN(TestBounds)
#include "tst_bounds.moc"
