// Network settings: the checks of typed settings with their reasons, the
// loopback warning, the registers they become and the one-line description.
#include "NetSettings.h"

#include <QtTest>

using core::NetField;
Q_DECLARE_METATYPE(core::NetField)

namespace {
const QString None; // no reason: the field passes
} // namespace

class TestNetSettings : public QObject {
    Q_OBJECT
private slots:
    // The four texts as typed; the one field expected to fail (or none) and
    // its reason; the warning.
    void checks_data() {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("gateway");
        QTest::addColumn<QString>("port");
        QTest::addColumn<NetField>("field");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("warning");
        const auto ip = NetField::Ip, mask = NetField::Mask, gw = NetField::Gateway,
                   port = NetField::Port;
        const auto good = [](const char *name, const char *i, const char *m, const char *g,
                             const char *p, const QString &warning = QString()) {
            QTest::newRow(name) << i << m << g << p << NetField::Ip << None << warning;
        };
        good("the module's own", "192.168.10.50", "255.255.255.0", "192.168.10.1", "502");
        good("no gateway", "192.168.10.50", "255.255.255.0", "0.0.0.0", "502");
        good("/8", "10.1.2.3", "255.0.0.0", "10.255.255.254", "1");
        good("/30, both hosts", "192.168.10.1", "255.255.255.252", "192.168.10.2", "65534");
        good("/20, gateway in another third octet", "172.16.5.9", "255.255.240.0", "172.16.15.1",
             "502");
        good("just below multicast", "223.255.255.1", "255.255.255.0", "0.0.0.0", "502");
        good("blanks around", " 192.168.10.50 ", "255.255.255.0\t", " 192.168.10.1", " 502 ");
        good("a port with a leading zero", "192.168.10.50", "255.255.255.0", "0.0.0.0", "0502");
        good("loopback", "127.0.0.2", "255.0.0.0", "0.0.0.0", "1503",
             "127.0.0.2 is a loopback address: only a program on the same computer reaches it "
             "(the simulator does)");
        good("loopback with a gateway", "127.0.0.2", "255.0.0.0", "127.0.0.1", "1503",
             "127.0.0.2 is a loopback address: only a program on the same computer reaches it "
             "(the simulator does)");

        const auto bad = [](const char *name, const char *i, const char *m, const char *g,
                            const char *p, NetField field, const char *reason) {
            QTest::newRow(name) << i << m << g << p << field << QString::fromUtf8(reason)
                                << QString();
        };
        bad("IP empty", "", "255.255.255.0", "0.0.0.0", "502", ip, "empty");
        bad("IP of three", "192.168.10", "255.255.255.0", "0.0.0.0", "502", ip,
            "not four numbers with points between, like 192.168.10.50");
        bad("IP of five", "192.168.10.50.1", "255.255.255.0", "0.0.0.0", "502", ip,
            "not four numbers with points between, like 192.168.10.50");
        bad("IP with a letter", "192.168.1O.50", "255.255.255.0", "0.0.0.0", "502", ip,
            "not four numbers with points between, like 192.168.10.50");
        bad("IP with a sign", "192.168.+10.50", "255.255.255.0", "0.0.0.0", "502", ip,
            "not four numbers with points between, like 192.168.10.50");
        bad("IP ending in a point", "192.168.10.", "255.255.255.0", "0.0.0.0", "502", ip,
            "not four numbers with points between, like 192.168.10.50");
        bad("IP with Arabic-Indic digits", "192.168.10.\u0665\u0660", "255.255.255.0", "0.0.0.0",
            "502", ip, "not four numbers with points between, like 192.168.10.50");
        bad("element 256", "192.168.256.50", "255.255.255.0", "0.0.0.0", "502", ip,
            "256 is above 255");
        bad("element of many digits", "192.168.10.99999999999", "255.255.255.0", "0.0.0.0", "502",
            ip, "99999999999 is above 255");
        bad("leading zero", "192.168.010.50", "255.255.255.0", "0.0.0.0", "502", ip,
            "010 has a leading zero, which some tools read as octal: write 10");
        bad("IP 0.0.0.0", "0.0.0.0", "255.255.255.0", "0.0.0.0", "502", ip,
            "0.0.0.0 is no address");
        bad("IP multicast 224", "224.0.0.1", "255.255.255.0", "0.0.0.0", "502", ip,
            "224.0.0.1 is a multicast address (224 to 239)");
        bad("IP multicast 239", "239.255.255.250", "255.0.0.0", "0.0.0.0", "502", ip,
            "239.255.255.250 is a multicast address (224 to 239)");
        bad("IP network address", "192.168.10.0", "255.255.255.0", "0.0.0.0", "502", ip,
            "192.168.10.0 is the network address of 192.168.10.0/24");
        bad("IP broadcast address", "192.168.10.255", "255.255.255.0", "0.0.0.0", "502", ip,
            "192.168.10.255 is the broadcast address of 192.168.10.0/24");
        bad("IP broadcast of a /30", "192.168.10.3", "255.255.255.252", "0.0.0.0", "502", ip,
            "192.168.10.3 is the broadcast address of 192.168.10.0/30");
        bad("IP network of a /20", "172.16.16.0", "255.255.240.0", "0.0.0.0", "502", ip,
            "172.16.16.0 is the network address of 172.16.16.0/20");

        bad("mask empty", "192.168.10.50", " ", "0.0.0.0", "502", mask, "empty");
        bad("mask with a gap", "192.168.10.50", "255.0.255.0", "0.0.0.0", "502", mask,
            "255.0.255.0 is not a mask: its ones must run unbroken from the left");
        bad("mask ones from the right", "192.168.10.50", "0.0.0.255", "0.0.0.0", "502", mask,
            "0.0.0.255 is not a mask: its ones must run unbroken from the left");
        bad("mask 255.255.255.1", "192.168.10.50", "255.255.255.1", "0.0.0.0", "502", mask,
            "255.255.255.1 is not a mask: its ones must run unbroken from the left");
        bad("mask /7", "192.168.10.50", "254.0.0.0", "0.0.0.0", "502", mask,
            "/7 is outside /8 to /30");
        bad("mask /0", "192.168.10.50", "0.0.0.0", "0.0.0.0", "502", mask,
            "/0 is outside /8 to /30");
        bad("mask /31", "192.168.10.50", "255.255.255.254", "0.0.0.0", "502", mask,
            "/31 is outside /8 to /30");
        bad("mask /32", "192.168.10.50", "255.255.255.255", "0.0.0.0", "502", mask,
            "/32 is outside /8 to /30");

        bad("gateway in another subnet", "192.168.10.50", "255.255.255.0", "192.168.11.1", "502",
            gw, "192.168.11.1 is outside 192.168.10.0/24, the subnet of the IP");
        bad("gateway the IP itself", "192.168.10.50", "255.255.255.0", "192.168.10.50", "502", gw,
            "192.168.10.50 is the IP itself");
        bad("gateway network address", "192.168.10.50", "255.255.255.0", "192.168.10.0", "502", gw,
            "192.168.10.0 is the network address of 192.168.10.0/24");
        bad("gateway broadcast address", "192.168.10.50", "255.255.255.0", "192.168.10.255", "502",
            gw, "192.168.10.255 is the broadcast address of 192.168.10.0/24");
        bad("gateway empty", "192.168.10.50", "255.255.255.0", "", "502", gw, "empty");
        QTest::newRow("gateway of loopback outside")
            << "127.0.0.2"
            << "255.0.0.0"
            << "192.168.10.1"
            << "502" << gw << "192.168.10.1 is outside 127.0.0.0/8, the subnet of the IP"
            << "127.0.0.2 is a loopback address: only a program on the same computer reaches it "
               "(the simulator does)";

        bad("port 0", "192.168.10.50", "255.255.255.0", "0.0.0.0", "0", port,
            "0 is outside 1 to 65534");
        bad("port 65535", "192.168.10.50", "255.255.255.0", "0.0.0.0", "65535", port,
            "65535 is outside 1 to 65534");
        bad("port of many digits", "192.168.10.50", "255.255.255.0", "0.0.0.0", "4294967298", port,
            "4294967298 is outside 1 to 65534");
        bad("port negative", "192.168.10.50", "255.255.255.0", "0.0.0.0", "-502", port,
            "-502 is not a whole number");
        bad("port empty", "192.168.10.50", "255.255.255.0", "0.0.0.0", "", port, "empty");
    }
    void checks() {
        QFETCH(QString, ip);
        QFETCH(QString, mask);
        QFETCH(QString, gateway);
        QFETCH(QString, port);
        QFETCH(NetField, field);
        QFETCH(QString, reason);
        QFETCH(QString, warning);
        core::NetSettings read;
        const core::NetCheck c = core::CheckNetTexts({ip, mask, gateway, port}, read);
        for (int i = 0; i < core::NetFieldCount; ++i) {
            const NetField f = NetField(i);
            QCOMPARE(c.Reason(f), f == field ? reason : None);
        }
        QCOMPARE(c.Ok(), reason.isEmpty());
        QCOMPARE(c.warning, warning);
    }

    // A field that cannot be read keeps the checks that need it quiet, so
    // that only the field at fault has a reason; fields that do not depend
    // on it are still checked.
    void dependentChecks_data() {
        QTest::addColumn<QString>("ip");
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("gateway");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("problems");
        QTest::newRow("bad mask: the IP's subnet unknown")
            << "192.168.10.0"
            << "255.0.255.0"
            << "10.0.0.1"
            << "502"
            << "mask: 255.0.255.0 is not a mask: its ones must run unbroken from the left";
        QTest::newRow("bad IP: the gateway not held to it")
            << "192.168.10"
            << "255.255.255.0"
            << "10.0.0.1"
            << "502"
            << "IP: not four numbers with points between, like 192.168.10.50";
        QTest::newRow("bad IP, no warning") << "127.0.0.256"
                                            << "255.0.0.0"
                                            << "0.0.0.0"
                                            << "502"
                                            << "IP: 256 is above 255";
        QTest::newRow("every field") << "0.0.0.0"
                                     << "255.255.255.255"
                                     << "1.2.3"
                                     << "65535"
                                     << "IP: 0.0.0.0 is no address; mask: /32 is outside /8 to "
                                        "/30; gateway: not four numbers with points between, like "
                                        "192.168.10.50; port: 65535 is outside 1 to 65534";
        QTest::newRow("multicast IP and port")
            << "230.1.1.1"
            << "255.255.255.0"
            << "0.0.0.0"
            << "0"
            << "IP: 230.1.1.1 is a multicast address (224 to 239); port: 0 is outside 1 to 65534";
    }
    void dependentChecks() {
        QFETCH(QString, ip);
        QFETCH(QString, mask);
        QFETCH(QString, gateway);
        QFETCH(QString, port);
        QFETCH(QString, problems);
        core::NetSettings read;
        const core::NetCheck c = core::CheckNetTexts({ip, mask, gateway, port}, read);
        QCOMPARE(c.Problems(), problems);
        QCOMPARE(c.warning, QString());
    }

    // Words from the image as they stand, elements above 255 included: the
    // check names the element (IP[2] is element 2) and the description shows it.
    void fromImage_data() {
        QTest::addColumn<QList<int>>("words"); // 40025..40037
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("problems");
        QTest::newRow("the module's")
            << QList<int>{192, 168, 10, 50, 255, 255, 255, 0, 192, 168, 10, 1, 502}
            << "IP 192.168.10.50, mask 255.255.255.0 (/24), gateway 192.168.10.1, port 502"
            << "";
        QTest::newRow("all zero") << QList<int>(13, 0)
                                  << "IP 0.0.0.0, mask 0.0.0.0 (/0), gateway 0.0.0.0 (none), port 0"
                                  << "IP: 0.0.0.0 is no address; mask: /0 is outside /8 to /30; "
                                     "port: 0 is outside 1 to 65534";
        QTest::newRow("typed 300 into IP[2], no mask")
            << QList<int>{192, 168, 300, 50, 255, 0, 255, 0, 0, 0, 0, 0, 65535}
            << "IP 192.168.300.50, mask 255.0.255.0 (not a mask), gateway 0.0.0.0 (none), port "
               "65535"
            << "IP: element 2 holds 300, above 255; mask: 255.0.255.0 is not a mask: its ones "
               "must run unbroken from the left; port: 65535 is outside 1 to 65534";
        // 256 in the first element would vanish in a 32-bit address.
        QTest::newRow("256 in the first elements")
            << QList<int>{256, 0, 0, 0, 255, 255, 256, 0, 256, 0, 0, 0, 502}
            << "IP 256.0.0.0, mask 255.255.256.0 (not a mask), gateway 256.0.0.0, port 502"
            << "IP: element 0 holds 256, above 255; mask: element 2 holds 256, above 255; "
               "gateway: element 0 holds 256, above 255";
        QTest::newRow("loopback, /30")
            << QList<int>{127, 0, 0, 2, 255, 255, 255, 252, 127, 0, 0, 1, 1503}
            << "IP 127.0.0.2, mask 255.255.255.252 (/30), gateway 127.0.0.1, port 1503"
            << "";
    }
    void fromImage() {
        QFETCH(QList<int>, words);
        QFETCH(QString, description);
        QFETCH(QString, problems);
        uint16_t image[core::ImageSize];
        std::fill(std::begin(image), std::end(image), uint16_t(7));
        for (int i = 0; i < core::NetWordCount; ++i)
            image[core::NetFirstIndex + i] = uint16_t(words[i]);
        const core::NetSettings s = core::NetSettings::FromImage(image);
        QCOMPARE(core::NetDescription(s), description);
        QCOMPARE(core::CheckNetSettings(s).Problems(), problems);
        // Back into the same thirteen words.
        const core::NetWords back = s.Words();
        for (int i = 0; i < core::NetWordCount; ++i)
            QCOMPARE(int(back[size_t(i)]), words[i]);
    }

    // Typed text to the words 40025..40037 carry, in register order.
    void textsToWords() {
        core::NetSettings s;
        const core::NetCheck c =
            core::CheckNetTexts({"10.20.30.40", "255.255.255.128", "10.20.30.1", "1503"}, s);
        QVERIFY(c.Ok());
        const core::NetWords expected = {10, 20, 30, 40, 255, 255, 255, 128, 10, 20, 30, 1, 1503};
        QCOMPARE(s.Words(), expected);
        QCOMPARE(core::NetSettings::FromWords(expected), s);
    }

    void prefix_data() {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<int>("prefix");
        QTest::newRow("0.0.0.0") << "0.0.0.0" << 0;
        QTest::newRow("128.0.0.0") << "128.0.0.0" << 1;
        QTest::newRow("255.0.0.0") << "255.0.0.0" << 8;
        QTest::newRow("255.255.128.0") << "255.255.128.0" << 17;
        QTest::newRow("255.255.255.252") << "255.255.255.252" << 30;
        QTest::newRow("255.255.255.255") << "255.255.255.255" << 32;
        QTest::newRow("255.255.255.253") << "255.255.255.253" << -1;
        QTest::newRow("127.255.255.255") << "127.255.255.255" << -1;
        QTest::newRow("0.255.0.0") << "0.255.0.0" << -1;
    }
    void prefix() {
        QFETCH(QString, mask);
        QFETCH(int, prefix);
        core::Quad q{};
        QCOMPARE(core::ParseQuad(mask, q), QString());
        QCOMPARE(core::PrefixLength(q), prefix);
    }
};

QTEST_GUILESS_MAIN(TestNetSettings)
#include "tst_netsettings.moc"
