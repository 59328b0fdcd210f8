#include "CliCommon.h"
#include "IniFile.h"
#include "Modbus.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <exception>

namespace cli {

namespace {

const QString OptHost = QStringLiteral("host");
const QString OptPort = QStringLiteral("port");
const QString OptNode = QStringLiteral("node");
const QString OptProtocol = QStringLiteral("protocol");
const QString OptTid = QStringLiteral("tid");
const QString OptIni = QStringLiteral("ini");
const QString OptConnectTimeout = QStringLiteral("connect-timeout");
const QString OptFormat = QStringLiteral("format");
const QString OptLog = QStringLiteral("log");

int Bounded(const QString &option, const QString &text, int lo, int hi) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < lo || v > hi)
        throw UsageError(QStringLiteral("--%1 needs a number in %2..%3, not %4")
                             .arg(option)
                             .arg(lo)
                             .arg(hi)
                             .arg(text));
    return v;
}

void PrintJson(QTextStream &out, const QJsonObject &o) {
    out << QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)) << u'\n';
}

} // namespace

void AddConnectionOptions(QCommandLineParser &parser) {
    parser.addOptions({
        {OptHost, QStringLiteral("The module's IPv4 address (no default)."), QStringLiteral("A")},
        {OptPort, QStringLiteral("Its TCP port (default 502)."), QStringLiteral("P")},
        {OptNode, QStringLiteral("Node ID, 0..255 (default 1)."), QStringLiteral("N")},
        {OptProtocol, QStringLiteral("Protocol ID, 0..65535 (default 1)."), QStringLiteral("N")},
        {OptTid, QStringLiteral("First transaction ID, 0..65535 (default 1)."),
         QStringLiteral("N")},
        {OptIni,
         QStringLiteral("Take the address, port and Modbus fields from a Tavrin.ini; the "
                        "options above override it."),
         QStringLiteral("FILE")},
        {OptConnectTimeout,
         QStringLiteral("Give a connect up after S seconds (default 21, as the window)."),
         QStringLiteral("S")},
        {OptFormat, QStringLiteral("What to print: text (default), csv or json."),
         QStringLiteral("F"), QStringLiteral("text")},
        {OptLog, QStringLiteral("Traffic lines on standard error, each after its local time.")},
    });
}

QString HelpText() {
    return QStringLiteral(
        "Reads, writes and checks a Tavrin display module over Modbus TCP.\n"
        "\n"
        "Commands:\n"
        "  read [FIRST[..LAST]]   registers (default 40001..40155)\n"
        "  write REG=VALUE ...    function 6 for one register, 16 for each run\n"
        "  text \"TEXT\"            the text the module shows (99 characters at most)\n"
        "  restart                the restart command (85 into 40039)\n"
        "  save FILE              read all, saved as CSV\n"
        "  load FILE              write what a CSV or a Tavrin.ini's [REG] gives, read\n"
        "                         back and verify (never 40001 or 40039, commands,\n"
        "                         nor 40002, the running counter)\n"
        "  compare FILE           read all; name every register that differs\n"
        "  watch                  the repeat job: the counter every 3 s, the trigger\n"
        "                         after three equal readings\n"
        "  network                --set-ip A --set-mask M --set-gateway G --set-port P\n"
        "                         [--restart]: checked, written, read back; with\n"
        "                         --restart the module is followed to its new address\n"
        "  provision              --devices LIST --config FILE: the configuration onto\n"
        "                         every module of the list, --jobs at a time, with a\n"
        "                         record of each and a report (exit 1 unless all ok)\n"
        "\n"
        "Exit codes: 0 done; 1 the device differs or a verify failed; 2 a usage\n"
        "error or a bad file (nothing sent); 3 no connection, or no whole answer;\n"
        "4 an exception answer; 130 provisioning stopped by Ctrl+C.");
}

Settings ParseSettings(const QCommandLineParser &parser, bool needHost) {
    Settings s;
    if (parser.isSet(OptIni)) {
        const QString path = parser.value(OptIni);
        QFile probe(path);
        if (!QFileInfo(path).isFile() || !probe.open(QIODevice::ReadOnly))
            throw UsageError(QStringLiteral("cannot read %1").arg(path));
        const ini::TIniFile ini(path);
        s.host = ini.ReadString(QStringLiteral("LAN"), QStringLiteral("ip"), QString()).trimmed();
        if (s.host.isEmpty() && !parser.isSet(OptHost) && needHost)
            throw UsageError(QStringLiteral("%1 names no module address ([LAN] ip)").arg(path));
        const QString section = QStringLiteral("Modbus");
        s.port = uint16_t(Bounded(
            OptPort,
            QString::number(ini.ReadInteger(QStringLiteral("LAN"), QStringLiteral("port"), 502)), 1,
            65535));
        s.header.unitId = Bounded(
            OptNode, QString::number(ini.ReadInteger(section, QStringLiteral("seNodeID"), 1)), 0,
            255);
        s.header.protocolId = Bounded(
            OptProtocol,
            QString::number(ini.ReadInteger(section, QStringLiteral("seProtocolID"), 1)), 0, 65535);
        s.header.transactionId = Bounded(
            OptTid, QString::number(ini.ReadInteger(section, QStringLiteral("seTransactionID"), 1)),
            0, 65535);
    }
    if (parser.isSet(OptHost))
        s.host = parser.value(OptHost).trimmed();
    if (s.host.isEmpty() && needHost)
        throw UsageError(QStringLiteral("no module address: give --host A or --ini FILE"));
    if (parser.isSet(OptPort))
        s.port = uint16_t(Bounded(OptPort, parser.value(OptPort), 1, 65535));
    if (parser.isSet(OptNode))
        s.header.unitId = Bounded(OptNode, parser.value(OptNode), 0, 255);
    if (parser.isSet(OptProtocol))
        s.header.protocolId = Bounded(OptProtocol, parser.value(OptProtocol), 0, 65535);
    if (parser.isSet(OptTid))
        s.header.transactionId = Bounded(OptTid, parser.value(OptTid), 0, 65535);
    if (parser.isSet(OptConnectTimeout)) {
        bool ok = false;
        const double seconds = parser.value(OptConnectTimeout).toDouble(&ok);
        if (!ok || seconds <= 0 || seconds > 600)
            throw UsageError(
                QStringLiteral("--connect-timeout needs seconds above 0, 600 at most"));
        s.connectTimeoutMs = std::max(1, int(seconds * 1000));
    }
    const QString format = parser.value(OptFormat);
    if (format == u"text")
        s.format = Format::Text;
    else if (format == u"csv")
        s.format = Format::Csv;
    else if (format == u"json")
        s.format = Format::Json;
    else
        throw UsageError(QStringLiteral("--format is text, csv or json, not %1").arg(format));
    s.log = parser.isSet(OptLog);
    return s;
}

QString Number(int index) {
    return QString::number(core::FirstNumber + index);
}

bool IsCommandRegister(int index) {
    return index == core::TriggerIndex || index == core::RestartIndex;
}

bool IsLiveRegister(int index) {
    return index == core::CounterIndex;
}

core::ConfigFile ReadConfig(const QString &path) {
    const core::ConfigFile config = core::ReadConfigFile(path);
    if (!config.ok)
        throw UsageError(core::ConfigRefusal(config, path));
    return config;
}

// The words to write, by index, from a configuration file: the trigger and
// the restart are commands, so they are left out, and said so.
std::map<int, uint16_t> ConfigWords(const core::ConfigFile &config, QTextStream &err,
                                    const QString &path) {
    std::map<int, uint16_t> words;
    for (int i = 0; i < core::DeviceRegs; ++i) {
        if (!config.given[i])
            continue;
        if (IsCommandRegister(i) || IsLiveRegister(i)) {
            err << QStringLiteral("tavrin-cli: %1 gives %2 (%3): %4, not configuration; "
                                  "not used.\n")
                       .arg(path, Number(i), core::RegisterName(i + 1),
                            IsLiveRegister(i) ? QStringLiteral("the running counter")
                                              : QStringLiteral("a command"));
            continue;
        }
        words[i] = config.values[i];
    }
    return words;
}

// ---- Link --------------------------------------------------------------------

Link::Link(const Settings &s, QTextStream &o, QTextStream &e) : settings(s), out(o), err(e) {
    session.client = &client;
    session.header = settings.header;
    session.traffic = [this](const QString &line) { Traffic(line); };
    session.message = [this](const QString &text) { Say(text); };
    if (settings.log)
        trafficTo = &err;
}

void Link::Say(const QString &why) {
    lastWhy = why;
    if (quiet)
        return;
    err << QStringLiteral("tavrin-cli: ") << why << u'\n';
    err.flush();
}

void Link::Traffic(const QString &line) {
    if (!trafficTo)
        return;
    QString text = line;
    while (text.endsWith(u'\n') || text.endsWith(u'\r'))
        text.chop(1);
    QString head =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz "));
    if (text.startsWith(QStringLiteral("Send: "))) {
        m_sent.start();
        m_sentValid = true;
    } else if (m_sentValid && text.startsWith(QStringLiteral("Receive: "))) {
        const qint64 us = m_sent.nsecsElapsed() / 1000;
        head +=
            QStringLiteral("(%1.%2 ms) ").arg(us / 1000).arg(us % 1000, 3, 10, QLatin1Char('0'));
        m_sentValid = false;
    }
    // A file gets the saved log's CR LF; a terminal its own line end.
    *trafficTo << head << text << (trafficTo == &err ? "\n" : "\r\n");
    trafficTo->flush();
}

bool Link::Open() {
    client.Host = settings.host.toStdString();
    client.Port = settings.port;
    client.ConnectTimeout = settings.connectTimeoutMs;
    try {
        client.Connect();
    } catch (const std::exception &e) {
        Say(QStringLiteral("no connection to %1:%2: %3")
                .arg(settings.host)
                .arg(settings.port)
                .arg(QString::fromLocal8Bit(e.what()).replace(u'\n', u' ')));
        return false;
    }
    return true;
}

int Link::Judge(const engine::Reply &r, int count) {
    QString why;
    int code = 0;
    const std::span<const uint8_t> request = session.Request();
    const bool write = request.size() > size_t(core::FunctionAt) &&
                       request[core::FunctionAt] != core::FnReadHolding;
    lastCheck = r.check;
    if (!r.exchange.sent)
        return 3; // the session has said "not connected"
    if (r.exchange.sendStuck) {
        why = QStringLiteral("the device took no more bytes");
        code = 3;
    } else if (!r.exchange.Answered()) {
        why = QStringLiteral("no answer from the device");
        code = 3;
    } else if (r.check.fault == core::AnswerFault::Exception) {
        why = core::AnswerFaultText(r.check);
        code = 4;
    } else if (r.check.fault != core::AnswerFault::None) {
        why = core::AnswerFaultText(r.check);
        code = 3;
    } else if (write && !r.acknowledged) {
        why = QStringLiteral("the answer does not echo the request");
        code = 1;
    } else if (!write && r.taken < count) {
        why = QStringLiteral("the answer holds %1 of %2 registers").arg(r.taken).arg(count);
        code = 3;
    }
    if (code != 0)
        Say(why);
    return code;
}

WriteOutcome Link::WriteRuns(const std::map<int, uint16_t> &words, int maxRun) {
    WriteOutcome w;
    for (auto it = words.begin(); it != words.end();) {
        // A run of consecutive registers, cut at maxRun.
        const int first = it->first;
        QList<uint16_t> run;
        while (it != words.end() && it->first == first + int(run.size()) &&
               int(run.size()) < maxRun) {
            run << it->second;
            ++it;
        }
        // Ctrl+C: the exchange under way has ended; no further one starts.
        if (stop && *stop) {
            w.code = Interrupted;
            return w;
        }
        const engine::Reply r =
            run.size() == 1 ? session.WriteSingle(first, run[0]) : session.WriteRange(first, run);
        ++w.requests;
        w.code = Judge(r);
        if (w.code != 0)
            return w; // nothing more after a failed write
        w.written += int(run.size());
    }
    return w;
}

int Link::VerifyWords(const std::map<int, uint16_t> &words, QList<int> &differing) {
    uint16_t image[core::ImageSize] = {};
    const int code = Judge(session.ReadRange(0, core::DeviceRegs, image), core::DeviceRegs);
    if (code != 0)
        return code;
    differing.clear();
    for (const auto &[index, word] : words)
        if (image[index] != word)
            differing << index;
    readBack.assign(image, image + core::DeviceRegs);
    return differing.isEmpty() ? 0 : 1;
}

void Link::PrintRegisters(const uint16_t *image, int first, int count) {
    if (settings.format == Format::Csv) {
        out << QStringLiteral("Register,Name,Value\n");
        for (int i = first; i < first + count; ++i)
            out << Number(i) << u',' << core::CsvField(core::RegisterName(i + 1)) << u','
                << image[i] << u'\n';
        return;
    }
    if (settings.format == Format::Json) {
        QJsonArray regs;
        for (int i = first; i < first + count; ++i)
            regs.append(QJsonObject{{QStringLiteral("register"), core::FirstNumber + i},
                                    {QStringLiteral("name"), core::RegisterName(i + 1)},
                                    {QStringLiteral("value"), image[i]}});
        PrintJson(out, {{QStringLiteral("registers"), regs}});
        return;
    }
    for (int i = first; i < first + count; ++i)
        out << Number(i) << QStringLiteral(" %1  ").arg(image[i], 5) << core::RegisterName(i + 1)
            << u'\n';
}

void Link::PrintWritten(const std::map<int, uint16_t> &words, const WriteOutcome &w) {
    const auto device = [this](int index) {
        return index < int(readBack.size()) ? readBack[size_t(index)] : uint16_t(0);
    };
    if (settings.format == Format::Json) {
        QJsonArray written, differing;
        for (const auto &[index, word] : words)
            written.append(QJsonObject{{QStringLiteral("register"), core::FirstNumber + index},
                                       {QStringLiteral("value"), word}});
        for (int index : w.differing)
            differing.append(QJsonObject{{QStringLiteral("register"), core::FirstNumber + index},
                                         {QStringLiteral("written"), words.at(index)},
                                         {QStringLiteral("device"), device(index)}});
        PrintJson(out, {{QStringLiteral("registers"), written},
                        {QStringLiteral("requests"), w.requests},
                        {QStringLiteral("written"), w.written},
                        {QStringLiteral("differing"), differing},
                        {QStringLiteral("exit"), w.code}});
        return;
    }
    if (settings.format == Format::Csv) {
        out << QStringLiteral("Register,Value,Result\n");
        for (const auto &[index, word] : words) {
            const QString result =
                w.differing.contains(index)
                    ? QStringLiteral("differs: device holds %1").arg(device(index))
                : w.code == 0 ? QStringLiteral("ok")
                              : QStringLiteral("unknown");
            out << Number(index) << u',' << word << u',' << result << u'\n';
        }
        return;
    }
    out << QStringLiteral("Wrote %1 of %2 in %3 %4.\n")
               .arg(w.written)
               .arg(core::Registers(qsizetype(words.size())))
               .arg(w.requests)
               .arg(w.requests == 1 ? QStringLiteral("request") : QStringLiteral("requests"));
    for (int index : w.differing)
        out << QStringLiteral("%1: written %2, device holds %3\n")
                   .arg(Number(index))
                   .arg(words.at(index))
                   .arg(device(index));
    if (!readBack.empty() && w.differing.isEmpty())
        out << QStringLiteral("Verify: %1 OK.\n").arg(core::Registers(qsizetype(words.size())));
}

void Link::PrintComparison(const std::map<int, uint16_t> &file, const uint16_t *device,
                           const QList<int> &differing) {
    if (settings.format == Format::Csv) {
        out << QStringLiteral("Register,Name,File,Device\n");
        for (int i : differing)
            out << Number(i) << u',' << core::CsvField(core::RegisterName(i + 1)) << u','
                << file.at(i) << u',' << device[i] << u'\n';
        return;
    }
    if (settings.format == Format::Json) {
        QJsonArray list;
        for (int i : differing)
            list.append(QJsonObject{{QStringLiteral("register"), core::FirstNumber + i},
                                    {QStringLiteral("name"), core::RegisterName(i + 1)},
                                    {QStringLiteral("file"), file.at(i)},
                                    {QStringLiteral("device"), device[i]}});
        PrintJson(out, {{QStringLiteral("compared"), int(file.size())},
                        {QStringLiteral("differing"), list}});
        return;
    }
    for (int i : differing)
        out << QStringLiteral("%1 %2: file %3, device %4\n")
                   .arg(Number(i), core::RegisterName(i + 1))
                   .arg(file.at(i))
                   .arg(device[i]);
    out << core::CompareText(differing, int(file.size())) << u'\n';
}

void Link::PrintEvent(const QString &event, const QString &text) {
    if (settings.format == Format::Json)
        PrintJson(out, {{QStringLiteral("event"), event}, {QStringLiteral("text"), text}});
    else if (settings.format == Format::Csv)
        out << event << u',' << core::CsvField(text) << u'\n';
    else
        out << text << u'\n';
}

void Link::PrintTick(uint16_t counter, bool answered, int unchanged, bool trigger, bool written) {
    const QString time =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    if (settings.format == Format::Json) {
        PrintJson(out, {{QStringLiteral("time"), time},
                        {QStringLiteral("counter"), counter},
                        {QStringLiteral("answered"), answered},
                        {QStringLiteral("unchanged"), unchanged},
                        {QStringLiteral("trigger"), trigger},
                        {QStringLiteral("triggerWritten"), written}});
    } else if (settings.format == Format::Csv) {
        if (!m_tickHeader) {
            out << QStringLiteral("Time,Counter,Answered,Unchanged,Trigger\n");
            m_tickHeader = true;
        }
        out << time << u',' << counter << u',' << (answered ? 1 : 0) << u',' << unchanged << u','
            << (trigger ? (written ? QStringLiteral("written") : QStringLiteral("failed"))
                        : QString())
            << u'\n';
    } else {
        out << time << QStringLiteral(" counter %1").arg(counter)
            << (answered ? QString() : QStringLiteral(" (no answer, last reading kept)"))
            << QStringLiteral(", unchanged %1").arg(unchanged);
        if (trigger)
            out << (written ? QStringLiteral(": trigger written")
                            : QStringLiteral(": trigger not acknowledged"));
        out << u'\n';
    }
    out.flush();
}

} // namespace cli
