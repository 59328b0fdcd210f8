// The window's Connect and Disconnect commands, and window close, against the
// simulator and a scripted peer on 127.0.0.1.
#include "Edits.h"
#include "FormFixture.h"
#include "LoopbackPeer.h"
#include "MainUnit.h"
#include "MessageBox.h"
#include "SimProcess.h"
#include "TcpClient.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <memory>

using testsupport::Listener;
using testsupport::Peer;

namespace {

const QString Connected = QStringLiteral("Tavrin jest po\u0142\u0105czony.");
const QString NoConnection = QStringLiteral("Brak po\u0142\u0105czenia z Tavrin.");
const QString ConnectOk = QStringLiteral("Successful connect with Tavrin");
const QString DisconnectLine = QStringLiteral("Disconnect with Tavrin");

} // namespace

class TestConnection : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void connectToSimulator();
    void connectWhileConnected();
    void connectFailures_data();
    void connectFailures();
    void portOutsideRange_data();
    void portOutsideRange();
    void hostThatNeverAnswers();
    void reconnectAfterDeviceClosed();
    void disconnectWithoutConnection();
    void disconnectWithConnection();
    void connectInsideDisconnectPause();
    void disconnectInsideDisconnectPause();
    void closeInsideDisconnectPause();
    void closeWhileConnected();
    void closeWhileNotConnected();

private:
    void Target(const QString &ip, int32_t port) {
        m_form->edIP->setText(ip);
        m_form->sePort->SetValue(port);
    }
    void Connect(quint16 port) {
        Target(QStringLiteral("127.0.0.1"), port);
        m_form->btnConnect->click();
    }
    QStringList Lines() const { return m_form->Memo1->Lines(); }
    QString IniPath() const { return m_fx.dir->filePath(QStringLiteral("Tavrin.ini")); }

    FormFixture m_fx{FormFixture::Timer::Running};
    std::unique_ptr<TMainForm> &m_form = m_fx.form;
    QList<FormFixture::ShownBox> &m_boxes = m_fx.boxes; // with the log lines before each
};

void TestConnection::init() {
    m_fx.Open();
    QVERIFY(m_fx.dir->isValid());
    QVERIFY(idTCPClient);
    QVERIFY(Lines().isEmpty());
}

void TestConnection::cleanup() {
    m_fx.Close();
}

void TestConnection::connectToSimulator() {
    testsupport::SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
    Connect(sim.Port());
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(Lines(), QStringList{ConnectOk});
    QVERIFY(idTCPClient->IsConnected());
    m_form->btnDisconnect->click();
    QCOMPARE(Lines(), (QStringList{ConnectOk, DisconnectLine}));
    QVERIFY(sim.Requests().isEmpty()); // connecting and dropping send no request
    QCOMPARE(sim.Stop(), 0);
}

void TestConnection::connectWhileConnected() {
    Listener l;
    Connect(l.Port());
    Peer p = l.Accept();
    QVERIFY(p.Valid());
    tcp::TcpClient *const client = idTCPClient;

    Connect(l.Port());
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, Connected);
    QCOMPARE(m_boxes[0].title, ui::ProgramTitle());
    QCOMPARE(m_boxes[0].linesBefore, 1); // the box comes before its log line
    QCOMPARE(Lines(), (QStringList{ConnectOk, Connected}));
    QVERIFY(!l.HasPendingConnection());
    QCOMPARE(idTCPClient, client);
    QVERIFY(idTCPClient->IsConnected());
    QVERIFY(!p.Readable(0)); // the connection is left as it was
}

void TestConnection::connectFailures_data() {
    QTest::addColumn<QString>("ip");
    QTest::addColumn<int>("portKind"); // 0: refused port, 1: listener, 2: as given
    QTest::addColumn<int>("port");

    QTest::newRow("refused") << "127.0.0.1" << 0 << 0;
    QTest::newRow("empty IP") << "" << 1 << 0;
    QTest::newRow("port 0") << "127.0.0.1" << 2 << 0;
    QTest::newRow("port 65536 is port 0") << "127.0.0.1" << 2 << 65536;
}

void TestConnection::connectFailures() {
    QFETCH(QString, ip);
    QFETCH(int, portKind);
    QFETCH(int, port);
    Listener l;
    const int32_t target = portKind == 0   ? testsupport::RefusedPort()
                           : portKind == 1 ? l.Port()
                                           : port;
    QVERIFY(portKind != 0 || target != 0);

    Target(ip, target);
    m_form->btnConnect->click();
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, NoConnection);
    QCOMPARE(m_boxes[0].linesBefore, 0);
    QCOMPARE(Lines(), QStringList{NoConnection});
    QVERIFY(!idTCPClient->IsConnected());
    QVERIFY(!l.HasPendingConnection());

    // Corrected, it connects without a Disconnect in between.
    Connect(l.Port());
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(Lines(), (QStringList{NoConnection, ConnectOk}));
    QVERIFY(l.Accept().Valid());
}

void TestConnection::portOutsideRange_data() {
    QTest::addColumn<int>("offset"); // added to the simulator's port P
    QTest::newRow("65536 + P") << 65536;
    QTest::newRow("131072 + P") << 131072;
    QTest::newRow("P - 65536") << -65536;
}

void TestConnection::portOutsideRange() {
    QFETCH(int, offset);
    testsupport::SimProcess sim;
    QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
    Target(QStringLiteral("127.0.0.1"), sim.Port() + offset);
    m_form->btnConnect->click();
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, NoConnection);
    QCOMPARE(Lines(), QStringList{NoConnection});
    QVERIFY(!idTCPClient->IsConnected());

    // The first connection the simulator sees is the corrected one.
    Connect(sim.Port());
    QCOMPARE(Lines(), (QStringList{NoConnection, ConnectOk}));
    QVERIFY(sim.WaitForErrorOutput(QStringLiteral("connection from")));
    QCOMPARE(sim.ErrorOutput().count(QStringLiteral("connection from")), 1);
    QCOMPARE(sim.Stop(), 0);
}

void TestConnection::hostThatNeverAnswers() {
    testsupport::SilentListener silent;
    QVERIFY(silent.Valid());
    bool ticked = false;
    QTimer due;
    due.setSingleShot(true);
    connect(&due, &QTimer::timeout, this, [&] { ticked = true; });
    due.start(0);
    QElapsedTimer took;
    took.start();
    Connect(silent.Port());
    // Given up at about 21 s (Linux alone would take about two minutes); no
    // event ran while the window waited.
    QVERIFY2(took.elapsed() < 30000, QByteArray::number(took.elapsed()).constData());
    QVERIFY(!ticked);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, NoConnection);
    QCOMPARE(Lines(), QStringList{NoConnection});
    QVERIFY(!idTCPClient->IsConnected());
    QTRY_VERIFY(ticked); // the timer was due all along
}

void TestConnection::reconnectAfterDeviceClosed() {
    Listener l;
    Connect(l.Port());
    Peer first = l.Accept();
    QVERIFY(first.Valid());
    QVERIFY(first.ShutdownAndWaitAcked());

    Connect(l.Port()); // its is-connected test finds the close
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(Lines(), (QStringList{ConnectOk, ConnectOk}));
    Peer second = l.Accept();
    QVERIFY(second.Valid());
    QVERIFY(idTCPClient->IsConnected());
}

void TestConnection::disconnectWithoutConnection() {
    m_form->btnDisconnect->click();
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(Lines(), QStringList{DisconnectLine});
    QVERIFY(idTCPClient);
    QVERIFY(!idTCPClient->IsConnected());
}

void TestConnection::disconnectWithConnection() {
    Listener l;
    Connect(l.Port());
    Peer p = l.Accept();
    QVERIFY(p.Valid());

    m_form->btnDisconnect->click();
    QVERIFY(m_boxes.isEmpty());
    QCOMPARE(Lines(), (QStringList{ConnectOk, DisconnectLine}));
    QByteArray got;
    QCOMPARE(p.ReadToEnd(got), Peer::End::Eof); // an orderly close
    QVERIFY2(got.isEmpty(), got.toHex(' ').constData());
    QVERIFY(idTCPClient);
    QVERIFY(!idTCPClient->IsConnected());
    QVERIFY(!idTCPClient->PeerClosed()); // a fresh client, not the old one

    Connect(l.Port());
    QCOMPARE(Lines().last(), ConnectOk);
    QVERIFY(l.Accept().Valid());
}

void TestConnection::connectInsideDisconnectPause() {
    Listener l;
    Connect(l.Port());
    Peer p = l.Accept();
    QVERIFY(p.Valid());

    bool ran = false;
    bool clientInPause = true;
    QTimer::singleShot(0, this, [&] {
        ran = true;
        clientInPause = idTCPClient != nullptr;
        Connect(l.Port());
    });
    m_form->btnDisconnect->click();
    QVERIFY(ran);
    QVERIFY(!clientInPause);
    QCOMPARE(m_boxes.size(), 1);
    QCOMPARE(m_boxes[0].text, NoConnection);
    QCOMPARE(Lines(), (QStringList{ConnectOk, NoConnection, DisconnectLine}));
    QVERIFY(!l.HasPendingConnection());
    QByteArray got;
    QCOMPARE(p.ReadToEnd(got), Peer::End::Eof);
    QVERIFY(idTCPClient && !idTCPClient->IsConnected());
}

void TestConnection::disconnectInsideDisconnectPause() {
    // A Disconnect inside the pause puts the fresh client in place; a Connect
    // after it, still inside the outer pause, uses that one, and the outer
    // Disconnect keeps it.
    Listener l;
    QTimer::singleShot(0, this, [&] {
        m_form->btnDisconnect->click();
        QTimer::singleShot(0, this, [&] { Connect(l.Port()); });
    });
    m_form->btnDisconnect->click();
    QCOMPARE(Lines(), (QStringList{DisconnectLine, ConnectOk, DisconnectLine}));
    Peer p = l.Accept();
    QVERIFY(p.Valid());
    QVERIFY(idTCPClient);
    QVERIFY(idTCPClient->IsConnected());
    QVERIFY(!p.Readable(0));
}

void TestConnection::closeInsideDisconnectPause() {
    Listener l;
    Connect(l.Port());
    Peer p = l.Accept();
    QVERIFY(p.Valid());
    m_form->show();
    bool closed = false;
    QTimer::singleShot(0, this, [&] { closed = m_form->close(); });
    m_form->btnDisconnect->click();
    QVERIFY(closed);
    QVERIFY(QFile::exists(IniPath()));
    QCOMPARE(Lines().last(), DisconnectLine);
    QVERIFY(idTCPClient && !idTCPClient->IsConnected());
    QByteArray got;
    QCOMPARE(p.ReadToEnd(got), Peer::End::Eof);
}

void TestConnection::closeWhileConnected() {
    Listener l;
    Connect(l.Port());
    Peer p = l.Accept();
    QVERIFY(p.Valid());
    m_form->show();
    QVERIFY(m_form->close());
    QByteArray got;
    QCOMPARE(p.ReadToEnd(got), Peer::End::Eof);
    QVERIFY2(got.isEmpty(), got.toHex(' ').constData());
    QVERIFY(QFile::exists(IniPath()));
}

void TestConnection::closeWhileNotConnected() {
    m_form->show();
    QVERIFY(m_form->close());
    QVERIFY(QFile::exists(IniPath()));
    QVERIFY(m_boxes.isEmpty());
    QVERIFY(idTCPClient && !idTCPClient->IsConnected());
}

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
