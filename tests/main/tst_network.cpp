// The module's network settings in the window: the menu item, the dialog's
// fields checked as they are typed, and the write of 40025..40037 in one
// function-16 request read back at once, against the simulator (which only
// stores the words) and a scripted loopback peer that answers otherwise.
#include "FormFixture.h"
#include "NetworkDialog.h"
#include "SimProcess.h"
#include "StringGrid.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <thread>

using core::ValueState;

namespace {

const core::NetWords Module = {192, 168, 10, 50, 255, 255, 255, 0, 192, 168, 10, 1, 502};

// 127.0.0.2/8, gateway 127.0.0.1, port 1503: on the wire, after the header.
const char *const LoopbackWords =
    "007F 0000 0000 0002 00FF 0000 0000 0000 007F 0000 0000 0001 05DF";

QString Spaced(const char *hex) {
    QString s = QString::fromLatin1(hex).remove(u' ');
    QStringList bytes;
    for (qsizetype i = 0; i + 1 < s.size(); i += 2)
        bytes << s.mid(i, 2);
    return bytes.join(u' ');
}

core::NetSettings Loopback() {
    core::NetSettings s;
    s.ip = {127, 0, 0, 2};
    s.mask = {255, 0, 0, 0};
    s.gateway = {127, 0, 0, 1};
    s.port = 1503;
    return s;
}

// A 16-bit field as the request lines show it: "00 02".
QString Word(int value) {
    const QString hex = QStringLiteral("%1").arg(value & 0xFFFF, 4, 16, QLatin1Char('0')).toUpper();
    return hex.left(2) + u' ' + hex.mid(2);
}

// Types a text into a field as the operator does: select all, then keys.
void TypeInto(QLineEdit *edit, const QString &text) {
    edit->selectAll();
    if (text.isEmpty())
        QTest::keyClick(edit, Qt::Key_Delete);
    else
        QTest::keyClicks(edit, text);
}

} // namespace

class TestNetwork : public QObject {
    Q_OBJECT
    testsupport::SimProcess sim;
    FormFixture f;
    int seen = 0;

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
    bool HoldsModule() const { return std::equal(Module.begin(), Module.end(), Regs + 24); }

private slots:
    void init() {
        // Each test starts from the module's own image again.
        QVERIFY2(sim.Start({"--stall-after", "0"}), qPrintable(sim.Diagnostics()));
        seen = 0;
    }
    void cleanup() {
        f.Close();
        sim.Stop();
    }

    void menuItemAfterLoad() {
        f.Open();
        const QList<QAction *> items = f.form->pmSendOneReg->actions();
        const qsizetype at = items.indexOf(f.form->pmNetwork);
        QVERIFY(at >= 2);
        QCOMPARE(items[at - 2], f.form->pmLoadRegs);
        QVERIFY(items[at - 1]->isSeparator());
        QCOMPARE(f.form->pmNetwork->text(), QStringLiteral("Network settings..."));
        QCOMPARE(f.form->pmNetwork->objectName(), QStringLiteral("pmNetwork"));
    }

    // The dialog opened on the module's settings; the texts typed over them;
    // the reason beside each field (empty where it passes), the warning and
    // whether Write is enabled.
    void dialogFields_data() {
        QTest::addColumn<QStringList>("typed"); // IP, mask, gateway, port; "" keeps it
        QTest::addColumn<QStringList>("reasons");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<bool>("write");
        const QStringList none{"", "", "", ""};
        const QString loopback =
            QStringLiteral("Warning: 127.0.0.2 is a loopback address: only a program on the "
                           "same computer reaches it (the simulator does).");
        QTest::newRow("as it is") << none << none << "" << true;
        QTest::newRow("another host")
            << QStringList{"192.168.10.60", "", "", "503"} << none << "" << true;
        QTest::newRow("loopback") << QStringList{"127.0.0.2", "255.0.0.0", "127.0.0.1", "1503"}
                                  << none << loopback << true;
        QTest::newRow("broadcast IP")
            << QStringList{"192.168.10.255", "", "", ""}
            << QStringList{"192.168.10.255 is the broadcast address of 192.168.10.0/24", "", "", ""}
            << "" << false;
        QTest::newRow("mask with a gap, port 0")
            << QStringList{"", "255.255.0.255", "", "0"}
            << QStringList{"",
                           "255.255.0.255 is not a mask: its ones must run unbroken from the left",
                           "", "0 is outside 1 to 65534"}
            << "" << false;
        QTest::newRow("gateway elsewhere")
            << QStringList{"", "", "10.0.0.1", ""}
            << QStringList{"", "", "10.0.0.1 is outside 192.168.10.0/24, the subnet of the IP", ""}
            << "" << false;
        QTest::newRow("IP half typed") << QStringList{"127.0.", "", "", ""}
                                       << QStringList{"not four numbers with points between, "
                                                      "like 192.168.10.50",
                                                      "", "", ""}
                                       << "" << false;
    }
    void dialogFields() {
        QFETCH(QStringList, typed);
        QFETCH(QStringList, reasons);
        QFETCH(QString, warning);
        QFETCH(bool, write);
        ui::TNetworkDialog d(core::NetSettings::FromWords(Module));
        d.show();
        QLineEdit *fields[] = {d.edNewIP, d.edNewMask, d.edNewGateway, d.edNewPort};
        for (int i = 0; i < 4; ++i)
            if (!typed[i].isEmpty())
                TypeInto(fields[i], typed[i]);
        for (int i = 0; i < 4; ++i)
            QCOMPARE(d.labReasons[size_t(i)]->text(), reasons[i]);
        QCOMPARE(d.labWarning->isVisibleTo(&d) ? d.labWarning->text() : QString(), warning);
        QCOMPARE(d.btnWrite->isEnabled(), write);
        QCOMPARE(d.labNew->text().startsWith(QStringLiteral("New: IP ")), write);
    }

    // The current settings stand beside the fields as the image holds them.
    void dialogShowsCurrent() {
        ui::TNetworkDialog d(core::NetSettings::FromWords(Module));
        QStringList texts;
        for (QLabel *l : d.findChildren<QLabel *>())
            texts << l->text();
        for (const char *now : {"192.168.10.50", "255.255.255.0 (/24)", "192.168.10.1", "502"})
            QVERIFY2(texts.contains(QString::fromLatin1(now)), now);
        QCOMPARE(d.edNewIP->text(), QStringLiteral("192.168.10.50"));
        QCOMPARE(d.edNewMask->text(), QStringLiteral("255.255.255.0"));
        QCOMPARE(d.edNewGateway->text(), QStringLiteral("192.168.10.1"));
        QCOMPARE(d.edNewPort->text(), QStringLiteral("502"));
    }

    // One function-16 request with the thirteen words, then their read-back,
    // although "Verify writes" is off; the marks end plain.
    void writeSendsOneRequestAndReadsBack() {
        OpenRead();
        QVERIFY(HoldsModule());
        QVERIFY(!f.form->pmVerifyWrites->isChecked());
        const int tid = f.form->seTransactionID->Value();
        QVERIFY(f.form->WriteNetSettings(Loopback()));
        QCOMPARE(
            NewRequests(),
            (QStringList{
                QStringLiteral("00 00 00 27 %1 00 01 00 21 01 10 00 18 00 0D 1A ").arg(Word(tid)) +
                    Spaced(LoopbackWords),
                QStringLiteral("00 00 00 0C %1 00 01 00 06 01 03 00 18 00 0D")
                    .arg(Word(tid + 1))}));
        const core::NetWords words = Loopback().Words();
        QVERIFY(std::equal(words.begin(), words.end(), Regs + 24));
        for (int i = 24; i <= 36; ++i)
            QCOMPARE(RegStates[i], ValueState::Plain);
        const QStringList lines = f.Lines();
        QVERIFY(lines.contains(QStringLiteral("Network settings: IP 127.0.0.2, mask 255.0.0.0 "
                                              "(/8), gateway 127.0.0.1, port 1503.")));
        QCOMPARE(f.LastLine(), QStringLiteral("Verify: 13 registers OK."));
        // The grid and its tooltips follow.
        QCOMPARE(f.form->sg->Cell(2, 28), QStringLiteral("2"));
        QVERIFY(f.form->sg->CellHint(2, 37).startsWith(QStringLiteral("IP 127.0.0.2,")));
    }

    // Without a connection the words wait in the grid, pending.
    void writeWithoutConnection() {
        f.Open();
        std::copy(Module.begin(), Module.end(), Regs + 24);
        QVERIFY(!f.form->WriteNetSettings(Loopback()));
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes[0].text, QString::fromUtf16(u"Tavrin nie jest po\u0142\u0105czony "
                                                     u"(not connected)"));
        QCOMPARE(Regs[27], uint16_t(2));
        QCOMPARE(RegStates[27], ValueState::Pending); // 50 -> 2
        QCOMPARE(RegStates[28], ValueState::Plain);   // 255 -> 255
        QCOMPARE(RegStates[36], ValueState::Pending); // 502 -> 1503
    }

    // Through the menu: the dialog opens on the image, Write sends; Cancel
    // sends nothing and leaves the image.
    void menuOpensDialog_data() {
        QTest::addColumn<bool>("write");
        QTest::newRow("Write") << true;
        QTest::newRow("Cancel") << false;
    }
    void menuOpensDialog() {
        QFETCH(bool, write);
        OpenRead();
        bool seenDialog = false;
        QTimer::singleShot(0, [&] {
            auto *d = qobject_cast<ui::TNetworkDialog *>(QApplication::activeModalWidget());
            if (!d)
                return;
            seenDialog = d->edNewIP->text() == QStringLiteral("192.168.10.50");
            TypeInto(d->edNewIP, QStringLiteral("127.0.0.2"));
            TypeInto(d->edNewMask, QStringLiteral("255.0.0.0"));
            TypeInto(d->edNewGateway, QStringLiteral("127.0.0.1"));
            TypeInto(d->edNewPort, QStringLiteral("1503"));
            QTest::mouseClick(write ? d->btnWrite : d->btnCancel, Qt::LeftButton);
        });
        f.form->pmNetwork->trigger();
        QVERIFY(seenDialog);
        const QStringList sent = NewRequests();
        if (write) {
            QCOMPARE(sent.size(), 2);
            QVERIFY(sent[0].endsWith(QStringLiteral("10 00 18 00 0D 1A ") + Spaced(LoopbackWords)));
            QCOMPARE(Regs[24], uint16_t(127));
        } else {
            QCOMPARE(sent, QStringList());
            QVERIFY(HoldsModule());
        }
    }

    // A device that acknowledges the write but holds other words: the result
    // says so, the log names the register and the mark is "differs".
    void readBackMismatch() {
        testsupport::Listener listener;
        f.Open();
        QVERIFY(f.Connect(listener.Port()));
        testsupport::Peer peer = listener.Accept();
        QVERIFY(peer.Valid());
        std::thread device([&peer] {
            if (peer.Receive(4 + 39).size() != 43)
                return;
            peer.Send(QByteArray::fromHex("0001 0001 0006 01 10 0018 000D"));
            if (peer.Receive(16).size() != 16)
                return;
            // The port came back as 502.
            peer.Send(QByteArray::fromHex(
                QByteArray("0002 0001 001D 01 03 1A ") +
                QByteArray("007F 0000 0000 0002 00FF 0000 0000 0000 007F 0000 0000 0001 01F6")));
        });
        const bool matched = f.form->WriteNetSettings(Loopback());
        device.join();
        QVERIFY(!matched);
        QCOMPARE(RegStates[36], ValueState::Differs);
        QCOMPARE(RegStates[24], ValueState::Plain);
        QCOMPARE(f.LastLine(), QStringLiteral("Verify: 40037 written 1503, device holds 502."));
    }

    // After a verified write and a yes: the restart, then the window finds
    // the module at its new address (127.0.0.1:P to 127.0.0.2:Q), reads it
    // and keeps the address for the settings file.
    void followToNewAddress() {
        OpenRead();
        core::NetSettings to = Loopback();
        to.port = testsupport::RefusedPort();
        QVERIFY(f.form->WriteNetSettings(to));
        QString asked;
        ui::SetAskHook([&](const ui::BoxRequest &r) {
            asked = r.text;
            return true;
        });
        const bool followed = f.form->FollowModule(to);
        ui::SetAskHook(nullptr);
        const QString address = QStringLiteral("127.0.0.2:%1").arg(to.port);
        QVERIFY2(followed, qPrintable(f.Lines().join(u'\n')));
        QVERIFY(asked.endsWith(QStringLiteral("It will then answer at %1.").arg(address)));
        QVERIFY(sim.WaitForOutput(QStringLiteral("listening on ") + address));
        QCOMPARE(f.form->edIP->text(), QStringLiteral("127.0.0.2"));
        QCOMPARE(f.form->sePort->Value(), int(to.port));
        QCOMPARE(f.LastLine(), QStringLiteral("The module answers at %1.").arg(address));
        QCOMPARE(RecCount, 9 + 2 * 255); // the read all at the new address
        QVERIFY(f.boxes.isEmpty());
    }

    // A module that never comes back: after the follow-up time one connect to
    // the old address, then a box that says neither answered; "IP:" and
    // "Port:" hold the new address.
    void moduleThatDoesNotComeBack() {
        sim.Stop();
        QVERIFY2(sim.Start({"--stall-after", "0", "--mode", "no-restart"}),
                 qPrintable(sim.Diagnostics()));
        OpenRead();
        core::NetSettings to = Loopback();
        to.port = testsupport::RefusedPort();
        QVERIFY(f.form->WriteNetSettings(to));
        ui::SetAskHook([](const ui::BoxRequest &) { return true; });
        QElapsedTimer t;
        t.start();
        QVERIFY(!f.form->FollowModule(to));
        ui::SetAskHook(nullptr);
        QVERIFY(t.elapsed() >= 15000);
        QCOMPARE(f.boxes.size(), 1);
        const QString old = QStringLiteral("127.0.0.1:%1").arg(sim.Port());
        QVERIFY2(f.boxes[0].text.contains(QStringLiteral("neither")) &&
                     f.boxes[0].text.contains(old),
                 qPrintable(f.boxes[0].text));
        QCOMPARE(f.form->edIP->text(), QStringLiteral("127.0.0.2"));
        QCOMPARE(f.form->sePort->Value(), int(to.port));
    }
};

QTEST_MAIN(TestNetwork)
#include "tst_network.moc"
