// The window's place and size from the settings file on fixed offscreen
// screens: what no screen can show is brought back, anything else stands,
// and the save writes what the window has. Built once per screen layout;
// each row names the layout it belongs to.
#include "FormFixture.h"
#include "IniFile.h"
#include "TestFiles.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

using namespace testfiles;

class TestGeometry : public QObject {
    Q_OBJECT
    FormFixture m_fx;

    static QString Layout() {
        return QGuiApplication::screens().size() == 1 ? QStringLiteral("single")
                                                      : QStringLiteral("dual");
    }

private slots:
    void initTestCase() {
        qApp->setQuitOnLastWindowClosed(false);
        // single: 1280 x 1024 at 0,0; dual: that one and 1024 x 768 to its
        // right, top edges level (tests/support/screens).
        const QList<QScreen *> screens = QGuiApplication::screens();
        QCOMPARE(screens.first()->availableGeometry(), QRect(0, 0, 1280, 1024));
        if (screens.size() > 1)
            QCOMPARE(screens[1]->availableGeometry(), QRect(1280, 0, 1024, 768));
    }
    void cleanup() { m_fx.Close(); }

    void fromFile_data() {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QStringList>(
            "entries");                      // of [Main]; width and height default to 999 x 819
        QTest::addColumn<QRect>("expected"); // the outer rectangle, as shown and as saved

        const QString s = QStringLiteral("single"), d = QStringLiteral("dual");
        QTest::newRow("single: huge size cut to the screen")
            << s << QStringList{"left=1", "top=1", "width=100000", "height=100000"}
            << QRect(1, 1, 1280, 1024);
        QTest::newRow("single: huge and off the screen")
            << s << QStringList{"left=5000", "top=4000", "width=100000", "height=100000"}
            << QRect(0, 0, 1280, 1024);
        QTest::newRow("single: below right of the screen comes back")
            << s << QStringList{"left=5000", "top=4000"} << QRect(281, 205, 999, 819);
        QTest::newRow("single: above left of the screen comes back")
            << s << QStringList{"left=-5000", "top=-4000"} << QRect(0, 0, 999, 819);
        QTest::newRow("single: touching the right edge comes back")
            << s << QStringList{"left=1280", "top=10"} << QRect(281, 10, 999, 819);
        QTest::newRow("single: one pixel column on the screen stays")
            << s << QStringList{"left=1279", "top=10"} << QRect(1279, 10, 999, 819);
        QTest::newRow("single: partly visible, caption above the screen, stays")
            << s << QStringList{"left=-900", "top=-700"} << QRect(-900, -700, 999, 819);
        QTest::newRow("single: lowest 32-bit place")
            << s << QStringList{"left=-2147483648", "top=-2147483648"} << QRect(0, 0, 999, 819);
        QTest::newRow("single: highest 32-bit place")
            << s << QStringList{"left=2147483647", "top=2147483647"} << QRect(281, 205, 999, 819);
        QTest::newRow("single: small window as it stands")
            << s << QStringList{"left=20", "top=30", "width=900", "height=700"}
            << QRect(20, 30, 900, 700);

        QTest::newRow("dual: huge size cut to the desktop")
            << d << QStringList{"left=1", "top=1", "width=100000", "height=100000"}
            << QRect(1, 1, 2304, 1024);
        QTest::newRow("dual: below right goes to the nearer right screen")
            << d << QStringList{"left=5000", "top=4000"} << QRect(1305, 0, 999, 819);
        QTest::newRow("dual: in the corner below the smaller screen")
            << d << QStringList{"left=1500", "top=900"} << QRect(1305, 0, 999, 819);
        QTest::newRow("dual: left of the desktop goes to the left screen")
            << d << QStringList{"left=-5000", "top=100"} << QRect(0, 100, 999, 819);
        QTest::newRow("dual: across both screens stays")
            << d << QStringList{"left=800", "top=100", "width=1200", "height=600"}
            << QRect(800, 100, 1200, 600);
        QTest::newRow("dual: partly on the smaller screen stays")
            << d << QStringList{"left=2000", "top=700"} << QRect(2000, 700, 999, 819);
    }

    void fromFile() {
        QFETCH(QString, layout);
        QFETCH(QStringList, entries);
        QFETCH(QRect, expected);
        if (layout != Layout())
            QSKIP("another screen layout");
        m_fx.Open({}, [&] {
            WriteBytes(m_fx.dir->path() + QStringLiteral("/Tavrin.ini"),
                       CrLf(QStringList{"[Main]"} + entries));
        });
        TMainForm &f = *m_fx.form;
        f.show();
        QCOMPARE(f.frameGeometry(), expected);

        f.SaveIni(QStringLiteral("Tavrin.ini"));
        const ini::TIniFile saved(m_fx.dir->path() + QStringLiteral("/Tavrin.ini"));
        const QRect written(
            saved.ReadInteger("Main", "left", -1), saved.ReadInteger("Main", "top", -1),
            saved.ReadInteger("Main", "width", -1), saved.ReadInteger("Main", "height", -1));
        QCOMPARE(written, f.frameGeometry());
    }
};

QTEST_MAIN(TestGeometry)
#include "tst_geometry.moc"
