// The settings file on its own: reading and writing rules, encodings and the
// atomic save.
#include "IniFile.h"
#include "TestFiles.h"
#include "Unprivileged.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <stdexcept>
#include <sys/stat.h>
#include <tuple>
#include <utility>

using namespace testfiles;
using ini::Encoding;
using ini::TIniFile;

namespace {
const QString Polish =
    QStringLiteral("Za\u017C\u00F3\u0142\u0107 g\u0119\u015Bl\u0105 ja\u017A\u0144");
// The same letters in Windows-1250.
const QByteArray Polish1250("Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1");

QByteArray Utf16Le(const QString &s) {
    QStringEncoder enc(QStringConverter::Utf16LE);
    return QByteArray("\xFF\xFE", 2) + QByteArray(enc(s));
}

QByteArray Utf16Be(const QString &s) {
    QStringEncoder enc(QStringConverter::Utf16BE);
    return QByteArray("\xFE\xFF", 2) + QByteArray(enc(s));
}

QString Join(const QStringList &lines) {
    QString s;
    for (const QString &l : lines)
        s += l + QStringLiteral("\r\n");
    return s;
}
} // namespace

class TestIniFile : public QObject {
    Q_OBJECT

    QTemporaryDir m_tmp;
    QString m_dir;  // a fresh folder for each test function
    QString m_path; // m_dir + "/Tavrin.ini"
    int m_count = 0;

    TIniFile FromLines(const QByteArray &bytes) {
        if (!bytes.isNull())
            WriteBytes(m_path, bytes);
        return TIniFile(m_path);
    }

    // UpdateFile must fail with the one message and leave nothing behind.
    // A size limit, when given, holds only for the save itself (it would cut
    // the test's own log too).
    void ExpectWriteFailure(TIniFile &ini, const QString &reported, int64_t sizeLimit = -1) {
        bool thrown = false;
        QString message;
        {
            std::unique_ptr<FileSizeLimit> full;
            if (sizeLimit >= 0)
                full = std::make_unique<FileSizeLimit>(rlim_t(sizeLimit));
            try {
                ini.UpdateFile();
            } catch (const std::runtime_error &e) {
                thrown = true;
                message = QString::fromUtf8(e.what());
            }
        }
        QVERIFY2(thrown, "UpdateFile did not report the failure");
        QCOMPARE(message, QStringLiteral("Unable to write to ") + reported);
    }

private slots:
    void initTestCase() { QVERIFY(m_tmp.isValid()); }

    void init() {
        // Letters outside ASCII in the folder name: the message is UTF-8.
        m_dir = m_tmp.filePath(QStringLiteral("t%1-\u017C\u00F3\u0142w").arg(++m_count));
        QVERIFY(QDir().mkpath(m_dir));
        m_path = m_dir + QStringLiteral("/Tavrin.ini");
    }

    void cleanup() { Immutable::UndoAll(); }

    void readString_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("def");
        QTest::addColumn<QString>("expected");

        const QByteArray basic =
            CrLf({"[Main]", "left=12", "[Modbus]", "seNodeID=5", "edText=abc"});
        QTest::newRow("plain") << basic << "Main"
                               << "left"
                               << "d"
                               << "12";
        QTest::newRow("section case") << basic << "MAIN"
                                      << "left"
                                      << "d"
                                      << "12";
        QTest::newRow("key case") << basic << "modbus"
                                  << "SENODEID"
                                  << "d"
                                  << "5";
        QTest::newRow("missing key") << basic << "Main"
                                     << "top"
                                     << "d"
                                     << "d";
        QTest::newRow("missing section") << basic << "LAN"
                                         << "ip"
                                         << "d"
                                         << "d";
        QTest::newRow("key of another section") << basic << "Main"
                                                << "seNodeID"
                                                << "d"
                                                << "d";
        QTest::newRow("missing file") << QByteArray() << "Main"
                                      << "left"
                                      << "d"
                                      << "d";
        QTest::newRow("empty file") << QByteArray("") << "Main"
                                    << "left"
                                    << "d"
                                    << "d";
        QTest::newRow("blanks around key and value")
            << CrLf({"[LAN]", "  port \t=  503 \t"}) << "LAN"
            << "port"
            << "d"
            << "503";
        QTest::newRow("blanks in section line") << CrLf({"  [ LAN ]  ", "ip=1.2.3.4"}) << "lan"
                                                << "ip"
                                                << "d"
                                                << "1.2.3.4";
        QTest::newRow("inner blanks kept") << CrLf({"[S]", "k= a  b "}) << "S"
                                           << "k"
                                           << "d"
                                           << "a  b";
        QTest::newRow("empty value is empty") << CrLf({"[S]", "k="}) << "S"
                                              << "k"
                                              << "d"
                                              << "";
        QTest::newRow("blank value is empty") << CrLf({"[S]", "k=   "}) << "S"
                                              << "k"
                                              << "d"
                                              << "";
        QTest::newRow("double quotes") << CrLf({"[S]", "k= \" abc \" "}) << "S"
                                       << "k"
                                       << "d"
                                       << " abc ";
        QTest::newRow("single quotes") << CrLf({"[S]", "k='abc'"}) << "S"
                                       << "k"
                                       << "d"
                                       << "abc";
        QTest::newRow("only one pair") << CrLf({"[S]", "k=''abc''"}) << "S"
                                       << "k"
                                       << "d"
                                       << "'abc'";
        QTest::newRow("quotes differ") << CrLf({"[S]", "k=\"abc'"}) << "S"
                                       << "k"
                                       << "d"
                                       << "\"abc'";
        QTest::newRow("one quote only") << CrLf({"[S]", "k=\""}) << "S"
                                        << "k"
                                        << "d"
                                        << "\"";
        QTest::newRow("two quotes") << CrLf({"[S]", "k=\"\""}) << "S"
                                    << "k"
                                    << "d"
                                    << "";
        QTest::newRow("text after first =") << CrLf({"[S]", "k=a=b"}) << "S"
                                            << "k"
                                            << "d"
                                            << "a=b";
        QTest::newRow("first of two keys") << CrLf({"[S]", "k=1", "K=2"}) << "S"
                                           << "k"
                                           << "d"
                                           << "1";
        QTest::newRow("section given twice")
            << CrLf({"[S]", "a=1", "[T]", "k=0", "[s]", "k=2"}) << "S"
            << "k"
            << "d"
            << "2";
        QTest::newRow("entry before any section") << CrLf({"k=1", "[S]"}) << "S"
                                                  << "k"
                                                  << "d"
                                                  << "d";
        QTest::newRow("line without =") << CrLf({"[S]", "k", "k2=2"}) << "S"
                                        << "k"
                                        << "d"
                                        << "d";
        QTest::newRow("LF line ends") << QByteArray("[S]\nk=1\nj=2\n") << "S"
                                      << "j"
                                      << "d"
                                      << "2";
        QTest::newRow("no final line end") << QByteArray("[S]\r\nk=7") << "S"
                                           << "k"
                                           << "d"
                                           << "7";
        QTest::newRow("comment line") << CrLf({"[S]", "; k=1", "k=2"}) << "S"
                                      << "k"
                                      << "d"
                                      << "2";

        const QString v3000 = QString(3000, u'x').replace(2046, 1, u'y');
        QTest::newRow("3000 characters cut at 2047") << CrLf({"[S]", "k=" + v3000}) << "S"
                                                     << "k"
                                                     << "d" << v3000.left(2047);
        QTest::newRow("quotes removed before the cut")
            << CrLf({"[S]", "k=\"" + v3000 + "\""}) << "S"
            << "k"
            << "d" << v3000.left(2047);
        const QString v2047 = QString(2047, u'z');
        QTest::newRow("2047 characters whole") << CrLf({"[S]", "k=" + v2047}) << "S"
                                               << "k"
                                               << "d" << v2047;
    }

    void readString() {
        QFETCH(QByteArray, file);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, def);
        QFETCH(QString, expected);
        const TIniFile ini = FromLines(file);
        QCOMPARE(ini.ReadString(section, key, def), expected);
    }

    void readInteger_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("expected");
        const int def = -7777;
        QTest::newRow("decimal") << "503" << 503;
        QTest::newRow("blanks") << "   503   " << 503;
        QTest::newRow("0x") << "0x1F" << 31;
        QTest::newRow("dollar") << "$1F" << 31;
        QTest::newRow("hex without prefix") << "1F" << def;
        QTest::newRow("empty") << "" << def;
        QTest::newRow("negative") << "-1" << -1;
        QTest::newRow("plus") << "+5" << 5;
        QTest::newRow("beyond 32 bits") << "4294967295" << def;
        QTest::newRow("hex pattern") << "$FFFFFFFF" << -1;
        QTest::newRow("int max") << "2147483647" << 2147483647;
        QTest::newRow("int min") << "-2147483648" << int(INT32_MIN);
        QTest::newRow("past int max") << "2147483648" << def;
        QTest::newRow("quoted") << "\"42\"" << 42;
        QTest::newRow("word") << "abc" << def;
        QTest::newRow("inner blank") << "4 2" << def;
    }

    void readInteger() {
        QFETCH(QString, value);
        QFETCH(int, expected);
        const TIniFile ini = FromLines(CrLf({"[REG]", "R7=" + value}));
        QCOMPARE(ini.ReadInteger(QStringLiteral("reg"), QStringLiteral("r7"), -7777), expected);
        QCOMPARE(ini.ReadInteger(QStringLiteral("REG"), QStringLiteral("R8"), -7777), -7777);
    }

    void write_data() {
        QTest::addColumn<QByteArray>("original");       // null: no file
        QTest::addColumn<QList<QStringList>>("writes"); // {section, key, value}
        QTest::addColumn<QStringList>("expected");

        using W = QList<QStringList>;
        QTest::newRow("creates the file")
            << QByteArray() << W{{"Main", "left", "1"}, {"Main", "top", "2"}, {"LAN", "ip", "x"}}
            << QStringList{"[Main]", "left=1", "top=2", "", "[LAN]", "ip=x"};
        QTest::newRow("replaces in place, keeps spelling")
            << CrLf({"[modbus]", "SENODEID=5", "other=1"}) << W{{"Modbus", "seNodeID", "9"}}
            << QStringList{"[modbus]", "SENODEID=9", "other=1"};
        QTest::newRow("replaced entry loses its blanks")
            << CrLf({"[LAN]", "  port = 503  "}) << W{{"LAN", "port", "504"}}
            << QStringList{"[LAN]", "port=504"};
        QTest::newRow("same value leaves the line as it was")
            << CrLf({"[LAN]", "  port = 503  "}) << W{{"LAN", "port", "503"}}
            << QStringList{"[LAN]", "  port = 503  "};
        QTest::newRow("quoted same text is rewritten")
            << CrLf({"[S]", "k='abc'"}) << W{{"S", "k", "abc"}} << QStringList{"[S]", "k=abc"};
        QTest::newRow("adds after the last entry, before blank lines")
            << CrLf({"[A]", "a=1", "", "", "[B]", "b=1"}) << W{{"A", "n", "2"}}
            << QStringList{"[A]", "a=1", "n=2", "", "", "[B]", "b=1"};
        QTest::newRow("adds at the end of the last section")
            << CrLf({"[A]", "a=1", "[B]", "b=1", "  ", ""}) << W{{"b", "n", "2"}}
            << QStringList{"[A]", "a=1", "[B]", "b=1", "n=2", "  ", ""};
        QTest::newRow("adds under an empty section")
            << CrLf({"[A]", "", "[B]"}) << W{{"A", "n", "2"}}
            << QStringList{"[A]", "n=2", "", "[B]"};
        QTest::newRow("unknown lines inside a section count as its lines")
            << CrLf({"[A]", "a=1", "; note", "junk", "", "[B]"}) << W{{"A", "n", "2"}}
            << QStringList{"[A]", "a=1", "; note", "junk", "n=2", "", "[B]"};
        QTest::newRow("new section at the end")
            << CrLf({"; head", "[A]", "a=1"}) << W{{"C", "c", "3"}}
            << QStringList{"; head", "[A]", "a=1", "", "[C]", "c=3"};
        QTest::newRow("new section after a trailing blank line")
            << CrLf({"[A]", "a=1", ""}) << W{{"C", "c", "3"}}
            << QStringList{"[A]", "a=1", "", "[C]", "c=3"};
        QTest::newRow("no final line end")
            << QByteArray("[A]\r\na=1") << W{{"A", "a", "5"}} << QStringList{"[A]", "a=5"};
        QTest::newRow("first of duplicate keys replaced")
            << CrLf({"[A]", "k=1", "k=2"}) << W{{"A", "K", "3"}}
            << QStringList{"[A]", "k=3", "k=2"};
        QTest::newRow("first of duplicate sections gets the new key")
            << CrLf({"[A]", "a=1", "[B]", "[a]", "z=1"}) << W{{"A", "n", "2"}}
            << QStringList{"[A]", "a=1", "n=2", "[B]", "[a]", "z=1"};
        QTest::newRow("key in second duplicate section replaced there")
            << CrLf({"[A]", "a=1", "[a]", "z=1"}) << W{{"A", "z", "2"}}
            << QStringList{"[A]", "a=1", "[a]", "z=2"};
        QTest::newRow("line breaks in a value become blanks")
            << CrLf({"[A]"}) << W{{"A", "t", "x\r\n[B]\ny\rz"}}
            << QStringList{"[A]", "t=x  [B] y z"};
        QTest::newRow("blanks and quotes written unchanged")
            << QByteArray() << W{{"A", "t", " 'a' "}} << QStringList{"[A]", "t= 'a' "};
        QTest::newRow("empty value")
            << CrLf({"[A]", "t=old"}) << W{{"A", "t", ""}} << QStringList{"[A]", "t="};
    }

    void write() {
        QFETCH(QByteArray, original);
        QFETCH(QList<QStringList>, writes);
        QFETCH(QStringList, expected);
        TIniFile ini = FromLines(original);
        for (const QStringList &w : writes)
            ini.WriteString(w[0], w[1], w[2]);
        QCOMPARE(ini.Lines(), expected);
        if (!original.isNull())
            QCOMPARE(ReadBytes(m_path), original); // nothing reaches the disk before UpdateFile
        ini.UpdateFile();
        QCOMPARE(ReadBytes(m_path), CrLf(expected));
        QCOMPARE(Entries(m_dir), QStringList{"Tavrin.ini"});
    }

    void writeInteger() {
        TIniFile ini(m_path);
        ini.WriteInteger(QStringLiteral("R"), QStringLiteral("a"), -5);
        ini.WriteInteger(QStringLiteral("R"), QStringLiteral("b"), 65535);
        ini.WriteInteger(QStringLiteral("R"), QStringLiteral("c"), INT32_MIN);
        ini.WriteInteger(QStringLiteral("R"), QStringLiteral("d"), 0);
        ini.UpdateFile();
        QCOMPARE(ReadBytes(m_path), CrLf({"[R]", "a=-5", "b=65535", "c=-2147483648", "d=0"}));
    }

    void writtenValuesReadBack() {
        TIniFile ini(m_path);
        ini.WriteString(QStringLiteral("S"), QStringLiteral("k"), QStringLiteral(" abc "));
        ini.WriteString(QStringLiteral("S"), QStringLiteral("q"), QStringLiteral("'abc'"));
        ini.WriteString(QStringLiteral("S"), QStringLiteral("long"), QString(3000, u'w'));
        ini.UpdateFile();
        const TIniFile again(m_path);
        QCOMPARE(again.ReadString(QStringLiteral("S"), QStringLiteral("k"), {}),
                 QStringLiteral("abc"));
        QCOMPARE(again.ReadString(QStringLiteral("S"), QStringLiteral("q"), {}),
                 QStringLiteral("abc"));
        QCOMPARE(again.ReadString(QStringLiteral("S"), QStringLiteral("long"), {}),
                 QString(2047, u'w'));
    }

    void nothingWrittenNoFile() {
        TIniFile ini(m_path);
        ini.UpdateFile();
        QVERIFY(!QFile::exists(m_path));
    }

    // ---- line ends ------------------------------------------------------

    // The same file in every line-end style: each read, then saved once with
    // one entry left as it says, one replaced, one added to its section and
    // one in a new section. Lines the save does not write keep their bytes,
    // line ends included; the lines it writes end in CR LF.
    void lineEnds_data() {
        QTest::addColumn<QByteArray>("original");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("CR LF")
            << QByteArray("; note\r\n[Main]\r\nleft=5\r\n\r\n[LAN]\r\nip=127.0.0.1\r\n[Other]\r\n"
                          "a = 1\r\n")
            << QByteArray("; note\r\n[Main]\r\nleft=5\r\n\r\n[LAN]\r\nip=10.0.0.1\r\nport=503\r\n"
                          "[Other]\r\na = 1\r\n\r\n[REG]\r\nR0=7\r\n");
        QTest::newRow("LF")
            << QByteArray("; note\n[Main]\nleft=5\n\n[LAN]\nip=127.0.0.1\n[Other]\na = 1\n")
            << QByteArray("; note\n[Main]\nleft=5\n\n[LAN]\nip=10.0.0.1\r\nport=503\r\n[Other]\n"
                          "a = 1\n\r\n[REG]\r\nR0=7\r\n");
        // The last lone CR gains an LF: before the blank line's CR LF it
        // would make one line end of both.
        QTest::newRow("CR")
            << QByteArray("; note\r[Main]\rleft=5\r\r[LAN]\rip=127.0.0.1\r[Other]\ra = 1\r")
            << QByteArray("; note\r[Main]\rleft=5\r\r[LAN]\rip=10.0.0.1\r\nport=503\r\n[Other]\r"
                          "a = 1\r\n\r\n[REG]\r\nR0=7\r\n");
        QTest::newRow("CR CR LF")
            << QByteArray("; note\r\r\n[Main]\r\r\nleft=5\r\r\n\r\r\n[LAN]\r\r\nip=127.0.0.1\r\r\n"
                          "[Other]\r\r\na = 1\r\r\n")
            << QByteArray("; note\r\r\n[Main]\r\r\nleft=5\r\r\n\r\r\n[LAN]\r\r\nip=10.0.0.1\r\n"
                          "port=503\r\n[Other]\r\r\na = 1\r\r\n\r\n[REG]\r\nR0=7\r\n");
        QTest::newRow("mixed, no final line end")
            << QByteArray("; note\r\n[Main]\nleft=5\r\r[LAN]\r\r\nip=127.0.0.1\r[Other]\na = 1")
            << QByteArray("; note\r\n[Main]\nleft=5\r\r[LAN]\r\r\nip=10.0.0.1\r\nport=503\r\n"
                          "[Other]\na = 1\r\n\r\n[REG]\r\nR0=7\r\n");
    }

    void lineEnds() {
        QFETCH(QByteArray, original);
        QFETCH(QByteArray, expected);
        TIniFile ini = FromLines(original);
        QCOMPARE(ini.ReadInteger(QStringLiteral("Main"), QStringLiteral("left"), -1), 5);
        QCOMPARE(ini.ReadString(QStringLiteral("LAN"), QStringLiteral("ip"), {}),
                 QStringLiteral("127.0.0.1"));
        QCOMPARE(ini.ReadString(QStringLiteral("Other"), QStringLiteral("a"), {}),
                 QStringLiteral("1"));
        ini.WriteInteger(QStringLiteral("Main"), QStringLiteral("left"), 5);
        ini.WriteString(QStringLiteral("LAN"), QStringLiteral("ip"), QStringLiteral("10.0.0.1"));
        ini.WriteInteger(QStringLiteral("LAN"), QStringLiteral("port"), 503);
        ini.WriteInteger(QStringLiteral("REG"), QStringLiteral("R0"), 7);
        ini.UpdateFile();
        QCOMPARE(ReadBytes(m_path), expected);
        // A second save of the same entries changes nothing.
        TIniFile again(m_path);
        QCOMPARE(again.Lines().count(QStringLiteral("ip=10.0.0.1")), 1);
        again.WriteString(QStringLiteral("LAN"), QStringLiteral("ip"), QStringLiteral("10.0.0.1"));
        again.WriteInteger(QStringLiteral("REG"), QStringLiteral("R0"), 7);
        again.UpdateFile();
        QCOMPARE(ReadBytes(m_path), expected);
    }

    // An unused last line, without a line end, in every encoding the reader
    // tells apart; the save writes only lines before it.
    void unusedLastLine_data() {
        QTest::addColumn<QByteArray>("head"); // [LAN] and ip=127.0.0.1, in the file's encoding
        QTest::addColumn<QByteArray>("last"); // the unused line, as it stands
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QString>("value");    // what the unused entry reads as
        QTest::addColumn<QByteArray>("saved"); // [LAN], ip=10.0.0.1, port=503 and [Notes]

        const QString head = QStringLiteral("[LAN]\r\nip=127.0.0.1\r\n[Notes]\r\n");
        const QString saved = QStringLiteral("[LAN]\r\nip=10.0.0.1\r\nport=503\r\n[Notes]\r\n");
        const QString note = QStringLiteral("uwaga=nie rusza");
        // ć, ę, ó and ń are UTF-8 lead bytes in Windows-1250.
        const std::pair<const char *, char16_t> letters[] = {
            {"\xE6", u'\u0107'}, {"\xEA", u'\u0119'}, {"\xF3", u'\u00F3'}, {"\xF1", u'\u0144'}};
        for (const auto &[last, letter] : letters)
            QTest::addRow("Windows-1250 ending in %s", QString(QChar(letter)).toUtf8().constData())
                << head.toLatin1() << note.toLatin1() + last << int(Encoding::EightBit)
                << note.mid(6) + QChar(letter) << saved.toLatin1();
        QTest::newRow("UTF-8 cut inside a character")
            << head.toLatin1() << note.toLatin1() + "\xC4" << int(Encoding::EightBit)
            << note.mid(6) + QStringLiteral("\u00C4") << saved.toLatin1();
        QTest::newRow("UTF-8 ending in a whole character")
            << head.toLatin1() << note.toLatin1() + "\xC4\x87" << int(Encoding::Utf8)
            << note.mid(6) + QStringLiteral("\u0107") << saved.toLatin1();

        const QString lastText = note + QStringLiteral("\u0107");
        for (const auto &[name, enc, bom] :
             {std::tuple{"UTF-16LE", QStringConverter::Utf16LE, QByteArray("\xFF\xFE")},
              std::tuple{"UTF-16BE", QStringConverter::Utf16BE, QByteArray("\xFE\xFF")}}) {
            QStringEncoder e(enc);
            const int encoding =
                enc == QStringConverter::Utf16LE ? int(Encoding::Utf16LE) : int(Encoding::Utf16BE);
            QTest::newRow(name) << bom + QByteArray(e(head)) << QByteArray(e(lastText)) << encoding
                                << lastText.mid(6) << bom + QByteArray(e(saved));
        }
        // An odd last byte is no character; it stays the file's last byte.
        QStringEncoder be(QStringConverter::Utf16BE);
        QTest::newRow("UTF-16BE with an odd byte at the end")
            << "\xFE\xFF" + QByteArray(be(head)) << QByteArray(be(lastText)) + "\x07"
            << int(Encoding::Utf16BE) << lastText.mid(6) << "\xFE\xFF" + QByteArray(be(saved));
    }

    void unusedLastLine() {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, last);
        QFETCH(int, encoding);
        QFETCH(QString, value);
        QFETCH(QByteArray, saved);
        TIniFile ini = FromLines(head + last);
        QCOMPARE(int(ini.FileEncoding()), encoding);
        QCOMPARE(ini.ReadString(QStringLiteral("LAN"), QStringLiteral("ip"), {}),
                 QStringLiteral("127.0.0.1"));
        QCOMPARE(ini.ReadString(QStringLiteral("Notes"), QStringLiteral("uwaga"), {}), value);
        ini.WriteString(QStringLiteral("LAN"), QStringLiteral("ip"), QStringLiteral("10.0.0.1"));
        ini.WriteInteger(QStringLiteral("LAN"), QStringLiteral("port"), 503);
        ini.UpdateFile();
        QCOMPARE(ReadBytes(m_path), saved + last);
        const TIniFile again(m_path);
        QCOMPARE(int(again.FileEncoding()), encoding);
        QCOMPARE(again.ReadString(QStringLiteral("Notes"), QStringLiteral("uwaga"), {}), value);
    }

    // ---- encodings ------------------------------------------------------

    void encoding_data() {
        QTest::addColumn<QByteArray>("original");
        QTest::addColumn<int>("encoding");
        QTest::addColumn<QByteArray>("expected"); // after writing ip=Polish and t=Łódź

        const QStringList before{"[LAN]", "ip=" + Polish, "[X]", "y=1"};
        const QStringList after{"[LAN]", "ip=" + Polish, "t=\u0141\u00F3d\u017A", "[X]", "y=1"};
        QTest::newRow("UTF-8") << CrLf(before) << int(Encoding::Utf8) << CrLf(after);
        QTest::newRow("UTF-8 with BOM") << "\xEF\xBB\xBF" + CrLf(before) << int(Encoding::Utf8Bom)
                                        << "\xEF\xBB\xBF" + CrLf(after);
        QTest::newRow("UTF-16LE") << Utf16Le(Join(before)) << int(Encoding::Utf16LE)
                                  << Utf16Le(Join(after));
        QTest::newRow("UTF-16BE") << Utf16Be(Join(before)) << int(Encoding::Utf16BE)
                                  << Utf16Be(Join(after));
        QTest::newRow("Windows-1250")
            << QByteArray("[LAN]\r\nip=" + Polish1250 + "\r\n[X]\r\ny=1\r\n")
            << int(Encoding::EightBit)
            << QByteArray("[LAN]\r\nip=" + Polish1250 + "\r\nt=\xA3\xF3\x64\x9F\r\n[X]\r\ny=1\r\n");
        // Not UTF-8 after its BOM: the section is still found, the BOM stays.
        QTest::newRow("Windows-1250 behind a UTF-8 BOM")
            << QByteArray("\xEF\xBB\xBF[LAN]\r\nip=" + Polish1250 + "\r\n[X]\r\ny=1\r\n")
            << int(Encoding::EightBit)
            << QByteArray("\xEF\xBB\xBF[LAN]\r\nip=" + Polish1250 +
                          "\r\nt=\xA3\xF3\x64\x9F\r\n[X]\r\ny=1\r\n");
    }

    void encoding() {
        QFETCH(QByteArray, original);
        QFETCH(int, encoding);
        QFETCH(QByteArray, expected);
        TIniFile ini = FromLines(original);
        QCOMPARE(int(ini.FileEncoding()), encoding);
        QCOMPARE(ini.ReadString(QStringLiteral("lan"), QStringLiteral("IP"), {}), Polish);
        ini.WriteString(QStringLiteral("LAN"), QStringLiteral("ip"), Polish);
        ini.WriteString(QStringLiteral("LAN"), QStringLiteral("t"),
                        QStringLiteral("\u0141\u00F3d\u017A"));
        ini.UpdateFile();
        QCOMPARE(ReadBytes(m_path), expected);
        const TIniFile again(m_path);
        QCOMPARE(int(again.FileEncoding()), encoding);
        QCOMPARE(again.ReadString(QStringLiteral("LAN"), QStringLiteral("t"), {}),
                 QStringLiteral("\u0141\u00F3d\u017A"));
    }

    void newFileIsUtf8WithoutBom() {
        TIniFile ini(m_path);
        ini.WriteString(QStringLiteral("LAN"), QStringLiteral("ip"), Polish);
        ini.UpdateFile();
        QCOMPARE(ReadBytes(m_path), QByteArray("[LAN]\r\nip=") + Polish.toUtf8() + "\r\n");
    }

    void windows1250LacksCharacters() {
        WriteBytes(m_path, "[A]\r\nb=\xB9\r\n"); // one byte that is not UTF-8: "ą"
        TIniFile ini(m_path);
        QCOMPARE(ini.FileEncoding(), Encoding::EightBit);
        QCOMPARE(ini.ReadString(QStringLiteral("A"), QStringLiteral("b"), {}),
                 QStringLiteral("\u0105"));
        // ñ, a CJK letter and one character outside the BMP are missing from
        // the code page; € and the undefined byte 0x81 are kept.
        ini.WriteString(QStringLiteral("A"), QStringLiteral("c"),
                        QStringLiteral("\u00F1\u65E5\U0001F600\u20AC\u0081!"));
        ini.UpdateFile();
#ifdef Q_OS_WIN
        // The system's conversion, as its profile services write: the nearest
        // letter where there is one, "?" for each other UTF-16 unit.
        QCOMPARE(ReadBytes(m_path), QByteArray("[A]\r\nb=\xB9\r\nc=n???\x80\x81!\r\n"));
#else
        QCOMPARE(ReadBytes(m_path), QByteArray("[A]\r\nb=\xB9\r\nc=???\x80\x81!\r\n"));
#endif
    }

    void windows1250Table() {
        // Every byte survives a decode and encode.
        for (int b = 0; b < 256; ++b) {
            const QByteArray one(1, char(b));
            QCOMPARE(core::EncodeWindows1250(core::DecodeWindows1250(one)), one);
        }
        QCOMPARE(core::DecodeWindows1250(Polish1250), Polish);
        QCOMPARE(core::EncodeWindows1250(Polish), Polish1250);
        // Upper-case Polish letters.
        const QString upper =
            QStringLiteral("\u0104\u0106\u0118\u0141\u0143\u00D3\u015A\u0179\u017B");
        QCOMPARE(core::EncodeWindows1250(upper),
                 QByteArray("\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF"));

        // Against the platform's own table, where Qt was built with one.
        QStringDecoder system("windows-1250");
        if (!system.isValid())
            QSKIP("Qt has no windows-1250 codec here; checked the Polish letters only");
        const int undefined[] = {0x81, 0x83, 0x88, 0x90, 0x98};
        for (int b = 0x80; b < 256; ++b) {
            if (std::find(std::begin(undefined), std::end(undefined), b) != std::end(undefined))
                continue;
            const QByteArray one(1, char(b));
            QCOMPARE(core::DecodeWindows1250(one), QString(system(one)));
        }
    }

    // ---- the atomic save ------------------------------------------------

    void failureMidSave_data() {
        QTest::addColumn<int>("limit");
        QTest::newRow("nothing written") << 0;
        QTest::newRow("one byte") << 1;
        QTest::newRow("mid line") << 13;
        QTest::newRow("all but the last byte") << -2; // size - 1
    }

    void failureMidSave() {
#ifdef Q_OS_WIN
        QSKIP("Windows has no per-process file size limit to fill the disk with");
#endif
        QFETCH(int, limit);
        const QByteArray original = CrLf({"[Main]", "left=5", "[Other]", "keep=me"});
        WriteBytes(m_path, original);
        TIniFile ini(m_path);
        ini.WriteString(QStringLiteral("Main"), QStringLiteral("left"), QStringLiteral("123456"));
        ini.WriteString(QStringLiteral("REG"), QStringLiteral("R0"), QStringLiteral("7"));
        const QByteArray expected = CrLf(ini.Lines());
        ExpectWriteFailure(ini, m_path, limit >= 0 ? limit : expected.size() - 1);
        QCOMPARE(ReadBytes(m_path), original);
        QCOMPARE(Entries(m_dir), QStringList{"Tavrin.ini"});
        // Once the disk has room again, the same save goes through.
        ini.UpdateFile();
        QCOMPARE(ReadBytes(m_path), expected);
        QCOMPARE(Entries(m_dir), QStringList{"Tavrin.ini"});
    }

    void unwritable_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("immutable file") << "file";
        QTest::newRow("immutable folder") << "folder";
        QTest::newRow("folder that cannot exist") << "under a file";
        QTest::newRow("settings path is a folder") << "is a folder";
    }

    void unwritable() {
        QFETCH(QString, kind);
        const QByteArray original = CrLf({"[Main]", "left=5"});
        QString path = m_path;
        QString watched = m_dir; // folder whose entries must not change
        std::unique_ptr<Immutable> guard;
        if (kind == "under a file") {
            WriteBytes(m_dir + "/plain", "x");
            path = m_dir + "/plain/sub/Tavrin.ini";
        } else if (kind == "is a folder") {
            QVERIFY(QDir().mkpath(m_path + "/inside"));
        } else {
            WriteBytes(m_path, original);
            guard = std::make_unique<Immutable>(kind == "file" ? m_path : m_dir);
            if (!guard->IsOn())
                QSKIP("the file system here does not take the immutable attribute");
        }
        const QStringList before = Entries(watched);

        TIniFile ini(path);
        ini.WriteString(QStringLiteral("Main"), QStringLiteral("left"), QStringLiteral("9"));
        ExpectWriteFailure(ini, path);
        QCOMPARE(Entries(watched), before);
        if (kind == "is a folder") {
            QCOMPARE(Entries(m_path), QStringList{"inside"});
            return;
        }
        if (kind == "under a file") {
            QCOMPARE(ReadBytes(m_dir + "/plain"), QByteArray("x"));
            return;
        }
        QCOMPARE(ReadBytes(m_path), original);
        // Failing again is the same failure; once writable, it succeeds.
        ExpectWriteFailure(ini, path);
        guard->Release();
        ini.UpdateFile();
        QCOMPARE(ReadBytes(m_path), CrLf({"[Main]", "left=9"}));
        QCOMPARE(Entries(m_dir), QStringList{"Tavrin.ini"});
    }

    // What the user's permissions allow, checked as a user (root writes
    // anyway). The file starts as {original}; mode -1 means no file.
    void permissions_data() {
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<bool>("saved");
        QTest::newRow("read-only file") << 0444 << 0755 << false;
        QTest::newRow("read-only folder, writable file") << 0644 << 0555 << true;
        QTest::newRow("read-only folder, no file") << -1 << 0555 << false;
        QTest::newRow("read-only folder and file") << 0444 << 0555 << false;
        QTest::newRow("file that cannot be read") << 0200 << 0755 << false;
    }

    void permissions() {
        TAVRIN_AS_UNPRIVILEGED_USER();
        QFETCH(int, fileMode);
        QFETCH(int, folderMode);
        QFETCH(bool, saved);
        const QByteArray original = CrLf({"[Main]", "left=5", "[Other]", "keep=me"});
        if (fileMode >= 0) {
            QVERIFY(WriteBytes(m_path, original));
            QCOMPARE(::chmod(QFile::encodeName(m_path).constData(), mode_t(fileMode)), 0);
        }
        const QByteArray dir = QFile::encodeName(m_dir);
        QCOMPARE(::chmod(dir.constData(), mode_t(folderMode)), 0);
        const QStringList before = Entries(m_dir);

        TIniFile ini(m_path);
        ini.WriteString(QStringLiteral("Main"), QStringLiteral("left"), QStringLiteral("9"));
        const QByteArray expected = CrLf(ini.Lines());
        if (saved)
            ini.UpdateFile();
        else
            ExpectWriteFailure(ini, m_path);
        QCOMPARE(Entries(m_dir), before);
        QCOMPARE(::chmod(dir.constData(), 0755), 0);
        if (fileMode < 0)
            return;
        QCOMPARE(::chmod(QFile::encodeName(m_path).constData(), 0644), 0);
        QCOMPARE(ReadBytes(m_path), saved ? expected : original);
    }

    void permissionsKept() {
#ifdef Q_OS_WIN
        QSKIP("file modes are a POSIX notion");
#endif
        WriteBytes(m_path, CrLf({"[Main]"}));
        QCOMPARE(::chmod(QFile::encodeName(m_path).constData(), 0640), 0);
        TIniFile ini(m_path);
        ini.WriteString(QStringLiteral("Main"), QStringLiteral("a"), QStringLiteral("1"));
        ini.UpdateFile();
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(m_path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0640);
    }

    void linkIsFollowed() {
#ifdef Q_OS_WIN
        QSKIP("symbolic links need a privilege on Windows");
#endif
        const QString real = m_dir + "/real.ini";
        WriteBytes(real, CrLf({"[Main]", "left=5"}));
        QVERIFY(QFile::link(real, m_path));
        TIniFile ini(m_path);
        QCOMPARE(ini.ReadString(QStringLiteral("Main"), QStringLiteral("left"), {}),
                 QStringLiteral("5"));
        ini.WriteString(QStringLiteral("Main"), QStringLiteral("left"), QStringLiteral("6"));
        ini.UpdateFile();
        QVERIFY(QFileInfo(m_path).isSymLink());
        QCOMPARE(ReadBytes(real), CrLf({"[Main]", "left=6"}));
        QCOMPARE(Entries(m_dir), (QStringList{"Tavrin.ini", "real.ini"}));
    }
};

QTEST_GUILESS_MAIN(TestIniFile)
#include "tst_inifile.moc"
