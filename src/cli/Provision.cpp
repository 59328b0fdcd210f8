#include "Provision.h"
#include "Modbus.h"
#include "SaveFile.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define TAVRIN_ISATTY _isatty
#define TAVRIN_FILENO _fileno
#else
#include <unistd.h>
#define TAVRIN_ISATTY isatty
#define TAVRIN_FILENO fileno
#endif

namespace cli {

namespace {

const QString OptDevices = QStringLiteral("devices");
const QString OptConfig = QStringLiteral("config");
const QString OptJobs = QStringLiteral("jobs");
const QString OptRecords = QStringLiteral("records");
const QString OptReport = QStringLiteral("report");
const QString OptDryRun = QStringLiteral("dry-run");
const QString OptRestart = QStringLiteral("restart");

constexpr int IpFirst = 24; // 40025..40028: the module's IPv4 address
constexpr int IpCount = 4;
constexpr int MaxWriteRun = 123;

std::atomic<bool> g_stop{false};

extern "C" void OnInterrupt(int) {
    g_stop = true;
    std::signal(SIGINT, SIG_DFL); // a second Ctrl+C ends at once
}

// A CSV line's fields, blanks around them dropped.
QStringList SplitCsv(const QString &line) {
    QStringList fields = core::CsvFields(line);
    for (QString &f : fields)
        f = f.trimmed();
    return fields;
}

// A name that is safe as a folder name on every system.
QString FolderName(const QString &name) {
    QString out;
    for (QChar c : name)
        out += c.isLetterOrNumber() || c == u'-' || c == u'_' || c == u'.' ? c : QChar(u'_');
    if (out.startsWith(u'.'))
        out.prepend(u'_');
    return out;
}

struct Outcome {
    QString result = QStringLiteral("unreachable");
    QString reason;
    int written = 0;
    QList<int> differing;
    QDateTime start, end;
    double seconds = 0;
    bool ran = false;
};

bool Ok(const Outcome &o) {
    return o.result == u"ok";
}

// The result word of an exit code from Link::Judge.
QString ResultWord(int code, const Link &link) {
    switch (code) {
    case Done:
        return QStringLiteral("ok");
    case Differs:
        return QStringLiteral("differs");
    case Exception:
        return QStringLiteral("exception ") +
               QString::number(link.lastCheck.found, 16).rightJustified(2, u'0').toUpper();
    case Interrupted:
        return QStringLiteral("interrupted");
    default:
        return QStringLiteral("no-answer");
    }
}

bool SaveBytes(const QString &path, const QByteArray &bytes) {
    return core::SaveBytes(path, bytes).isEmpty();
}

struct Job {
    const Settings *base;
    const std::map<int, uint16_t> *config;
    QString records;
    bool dryRun = false;
    bool restart = false;
};

Outcome RunModule(const Module &m, const Job &job) {
    Outcome o;
    o.ran = true;
    o.start = QDateTime::currentDateTime();
    QElapsedTimer clock;
    clock.start();
    const QString dir = QDir(job.records).filePath(FolderName(m.name));
    QDir().mkpath(dir);

    QFile trafficFile(QDir(dir).filePath(QStringLiteral("traffic.log")));
    trafficFile.open(QIODevice::WriteOnly | QIODevice::Truncate);
    QTextStream traffic(&trafficFile);
    traffic.setEncoding(QStringConverter::Utf8);
    QString sink;
    QTextStream none(&sink);

    Settings s = *job.base;
    s.host = m.host;
    s.port = m.port;
    s.header.unitId = m.node;
    s.log = false;
    Link link(s, none, none);
    link.quiet = true;
    link.trafficTo = &traffic;
    link.stop = &g_stop;

    const auto finish = [&](const QString &result) {
        o.result = result;
        o.reason = result == u"ok" ? QString() : link.lastWhy;
        o.end = QDateTime::currentDateTime();
        o.seconds = double(clock.nsecsElapsed()) / 1e9;
        return o;
    };

    if (!link.Open())
        return finish(QStringLiteral("unreachable"));
    uint16_t before[core::ImageSize] = {};
    int code = link.Judge(link.session.ReadRange(0, core::DeviceRegs, before), core::DeviceRegs);
    if (code != Done)
        return finish(ResultWord(code, link));
    SaveBytes(QDir(dir).filePath(QStringLiteral("before.csv")), core::RegistersCsv(before));

    std::map<int, uint16_t> words = *job.config;
    for (const auto &[index, word] : m.overrides)
        words[index] = word;
    std::map<int, uint16_t> changed;
    for (const auto &[index, word] : words)
        if (before[index] != word)
            changed[index] = word;

    if (job.dryRun) {
        for (const auto &[index, word] : changed)
            o.differing << index;
        SaveBytes(QDir(dir).filePath(QStringLiteral("after.csv")), core::RegistersCsv(before));
        if (!changed.empty())
            link.lastWhy =
                QStringLiteral("%1 to write").arg(core::Registers(qsizetype(changed.size())));
        return finish(changed.empty() ? QStringLiteral("ok") : QStringLiteral("differs"));
    }

    WriteOutcome w = link.WriteRuns(changed, MaxWriteRun);
    o.written = w.written;
    if (w.code != Done)
        return finish(ResultWord(w.code, link));
    // Stopped between the writes and the read-back: what was written is in
    // the record; the verify is left to a later run.
    if (g_stop)
        return finish(QStringLiteral("interrupted"));
    code = link.VerifyWords(words, o.differing);
    if (!link.readBack.empty()) {
        uint16_t after[core::ImageSize] = {};
        std::copy(link.readBack.begin(), link.readBack.end(), after);
        SaveBytes(QDir(dir).filePath(QStringLiteral("after.csv")), core::RegistersCsv(after));
    }
    if (code == Differs) {
        QStringList list;
        for (int i : o.differing)
            list << Number(i);
        link.lastWhy = QStringLiteral("the device holds other words in %1").arg(list.join(u' '));
    }
    if (code != Done)
        return finish(ResultWord(code, link));
    if (job.restart && !g_stop) {
        code = link.Judge(link.session.Restart());
        if (code != Done)
            return finish(ResultWord(code, link));
    }
    return finish(QStringLiteral("ok"));
}

QJsonObject ResultJson(const Module &m, const Outcome &o) {
    QJsonArray differing;
    for (int i : o.differing)
        differing.append(core::FirstNumber + i);
    return {{QStringLiteral("name"), m.name},
            {QStringLiteral("host"), m.host},
            {QStringLiteral("port"), m.port},
            {QStringLiteral("node"), m.node},
            {QStringLiteral("result"), o.result},
            {QStringLiteral("reason"), o.reason},
            {QStringLiteral("written"), o.written},
            {QStringLiteral("differing"), differing},
            {QStringLiteral("start"), o.start.toString(Qt::ISODateWithMs)},
            {QStringLiteral("end"), o.end.toString(Qt::ISODateWithMs)},
            {QStringLiteral("seconds"), qRound(o.seconds * 1000) / 1000.0}};
}

} // namespace

QList<Module> ParseDeviceList(const QByteArray &data, const QString &path) {
    const QStringList lines = QString::fromUtf8(data).split(u'\n');
    QList<Module> modules;
    QStringList header;
    int nameAt = -1, hostAt = -1, portAt = -1, nodeAt = -1;
    std::map<int, int> registerAt; // column -> register index
    const auto fail = [&](int line, const QString &why) {
        return UsageError(QStringLiteral("%1, line %2: %3").arg(path).arg(line).arg(why));
    };
    for (int n = 0; n < lines.size(); ++n) {
        QString line = lines[n];
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (n == 0 && line.startsWith(QChar(0xFEFF)))
            line.remove(0, 1);
        if (line.trimmed().isEmpty())
            continue;
        const QStringList fields = SplitCsv(line);
        if (header.isEmpty()) {
            header = fields;
            for (int c = 0; c < header.size(); ++c) {
                const QString h = header[c].toLower();
                if (h == u"name")
                    nameAt = c;
                else if (h == u"host")
                    hostAt = c;
                else if (h == u"port")
                    portAt = c;
                else if (h == u"node")
                    nodeAt = c;
                else {
                    bool ok = false;
                    const int number = h.toInt(&ok);
                    const int index = number - core::FirstNumber;
                    if (!ok || index < 0 || index >= core::DeviceRegs)
                        throw fail(n + 1, QStringLiteral("column %1 is neither name, host, port, "
                                                         "node nor a register 40001..40155")
                                              .arg(header[c]));
                    if (IsCommandRegister(index) || IsLiveRegister(index))
                        throw fail(n + 1,
                                   QStringLiteral("column %1 is %2, not configuration")
                                       .arg(header[c], IsLiveRegister(index)
                                                           ? QStringLiteral("the running counter")
                                                           : QStringLiteral("a command")));
                    registerAt[c] = index;
                }
            }
            if (nameAt < 0 || hostAt < 0 || portAt < 0)
                throw fail(n + 1,
                           QStringLiteral("the header needs the columns name, host and port"));
            continue;
        }
        if (fields.size() > header.size())
            throw fail(n + 1, QStringLiteral("more fields than the header has columns"));
        Module m;
        m.name = fields.value(nameAt);
        m.host = fields.value(hostAt);
        if (m.name.isEmpty() || m.host.isEmpty())
            throw fail(n + 1, QStringLiteral("a module needs a name and a host"));
        bool ok = false;
        const int port = fields.value(portAt).toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            throw fail(n + 1,
                       QStringLiteral("port %1 is outside 1..65535").arg(fields.value(portAt)));
        m.port = uint16_t(port);
        if (nodeAt >= 0 && !fields.value(nodeAt).isEmpty()) {
            m.node = fields.value(nodeAt).toInt(&ok);
            if (!ok || m.node < 0 || m.node > 255)
                throw fail(n + 1,
                           QStringLiteral("node %1 is outside 0..255").arg(fields.value(nodeAt)));
        }
        for (const auto &[column, index] : registerAt) {
            const QString cell = fields.value(column);
            if (cell.isEmpty())
                continue;
            const uint v = cell.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)
                               ? cell.mid(2).toUInt(&ok, 16)
                               : cell.toUInt(&ok, 10);
            if (!ok || v > 65535)
                throw fail(
                    n + 1,
                    QStringLiteral("value %1 of %2 is outside 0..65535").arg(cell, Number(index)));
            m.overrides[index] = uint16_t(v);
        }
        for (const Module &other : modules)
            if (FolderName(other.name) == FolderName(m.name))
                throw fail(n + 1, QStringLiteral("the name %1 is there twice").arg(m.name));
        modules << m;
    }
    if (modules.isEmpty())
        throw UsageError(QStringLiteral("%1 lists no module").arg(path));
    return modules;
}

void CheckDistinctAddresses(const std::map<int, uint16_t> &config, const QList<Module> &modules,
                            const QString &configPath) {
    bool setsIp = false;
    for (int i = IpFirst; i < IpFirst + IpCount; ++i)
        setsIp = setsIp || config.count(i);
    if (!setsIp || modules.size() < 2)
        return;
    // The address each module would take; a word neither gives stays the
    // device's own and is unknown here, so it counts as a wildcard: two
    // modules alike in every known element would still clash.
    std::map<QList<int>, QString> seen;
    for (const Module &m : modules) {
        QList<int> ip;
        for (int i = IpFirst; i < IpFirst + IpCount; ++i) {
            auto o = m.overrides.find(i);
            auto c = config.find(i);
            ip << (o != m.overrides.end() ? o->second : c != config.end() ? c->second : -1);
        }
        const auto clash = seen.find(ip);
        if (clash != seen.end())
            throw UsageError(
                QStringLiteral("%1 sets the module's address (40025..40028) and %2 and %3 would "
                               "both take it: give each module its own address in the device "
                               "list (columns 40025..40028), or leave the address out of the "
                               "configuration")
                    .arg(configPath, clash->second, m.name));
        seen[ip] = m.name;
    }
}

void AddProvisionOptions(QCommandLineParser &parser) {
    parser.addOptions({
        {OptDevices,
         QStringLiteral("provision: the device list (name,host,port[,node] and "
                        "register columns)."),
         QStringLiteral("LIST")},
        {OptConfig, QStringLiteral("provision: the configuration (CSV or Tavrin.ini)."),
         QStringLiteral("FILE")},
        {OptJobs, QStringLiteral("provision: modules at a time (default 4)."), QStringLiteral("N"),
         QStringLiteral("4")},
        {OptRecords,
         QStringLiteral("provision: the records folder (default "
                        "tavrin-records-<time> here)."),
         QStringLiteral("DIR")},
        {OptReport, QStringLiteral("provision: the report (default DIR/report.csv)."),
         QStringLiteral("FILE")},
        {OptDryRun, QStringLiteral("provision: read and compare only; write nothing.")},
        {OptRestart, QStringLiteral("provision: send the restart command last; network: "
                                    "restart and follow the module.")},
    });
}

int Provision(const QCommandLineParser &parser, const Settings &base, QTextStream &out,
              QTextStream &err) {
    if (!parser.isSet(OptDevices) || !parser.isSet(OptConfig))
        throw UsageError(QStringLiteral("provision needs --devices LIST and --config FILE"));
    const QString listPath = parser.value(OptDevices);
    QFile list(listPath);
    if (!list.open(QIODevice::ReadOnly))
        throw UsageError(QStringLiteral("cannot read %1: %2").arg(listPath, list.errorString()));
    if (list.size() > core::MaxConfigSize)
        throw UsageError(QStringLiteral("%1 is over 1 MiB").arg(listPath));
    const QList<Module> modules = ParseDeviceList(list.readAll(), listPath);

    const QString configPath = parser.value(OptConfig);
    const core::ConfigFile config = ReadConfig(configPath);
    const std::map<int, uint16_t> words = ConfigWords(config, err, configPath);
    bool ok = false;
    const int jobs = parser.value(OptJobs).toInt(&ok);
    if (!ok || jobs < 1 || jobs > 256)
        throw UsageError(QStringLiteral("--jobs needs 1..256"));
    CheckDistinctAddresses(words, modules, configPath);

    const QString records =
        parser.isSet(OptRecords)
            ? parser.value(OptRecords)
            : QStringLiteral("tavrin-records-") +
                  QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (!QDir().mkpath(records))
        throw UsageError(QStringLiteral("cannot make the records folder %1").arg(records));
    const QString reportPath = parser.isSet(OptReport)
                                   ? parser.value(OptReport)
                                   : QDir(records).filePath(QStringLiteral("report.csv"));

    Job job{&base, &words, records, parser.isSet(OptDryRun), parser.isSet(OptRestart)};
    std::vector<Outcome> outcomes(size_t(modules.size()));
    std::atomic<int> next{0};
    std::mutex progress;
    int finished = 0, failed = 0;
    const bool terminal = TAVRIN_ISATTY(TAVRIN_FILENO(stderr)) != 0;
    g_stop = false;
    const auto previous = std::signal(SIGINT, OnInterrupt);
    const auto worker = [&] {
        for (;;) {
            if (g_stop)
                return;
            const int i = next++;
            if (i >= modules.size())
                return;
            Outcome o = RunModule(modules[i], job);
            const QString result = QDir(QDir(records).filePath(FolderName(modules[i].name)))
                                       .filePath(QStringLiteral("result.json"));
            if (!SaveBytes(result, QJsonDocument(ResultJson(modules[i], o)).toJson()))
                o.reason += QStringLiteral(" (result.json not written)");
            const std::lock_guard<std::mutex> lock(progress);
            ++finished;
            failed += !Ok(o);
            if (terminal)
                err << QStringLiteral("\r%1/%2 modules, %3 failed")
                           .arg(finished)
                           .arg(modules.size())
                           .arg(failed);
            else
                err << QStringLiteral("%1 %2:%3 %4 (%5 written, %6 differ, %7 s)%8\n")
                           .arg(modules[i].name, modules[i].host)
                           .arg(modules[i].port)
                           .arg(o.result)
                           .arg(o.written)
                           .arg(o.differing.size())
                           .arg(o.seconds, 0, 'f', 2)
                           .arg(o.reason.isEmpty() ? QString() : QStringLiteral(": ") + o.reason);
            err.flush();
            outcomes[size_t(i)] = std::move(o);
        }
    };
    std::vector<std::thread> pool;
    for (int k = 0; k < std::min<qsizetype>(jobs, modules.size()); ++k)
        pool.emplace_back(worker);
    for (std::thread &t : pool)
        t.join();
    std::signal(SIGINT, previous);
    if (terminal) {
        err << u'\n';
        err.flush();
    }

    QByteArray report = "Name,Host,Port,Result,Written,Differing,Seconds\r\n";
    bool allOk = true;
    for (qsizetype i = 0; i < modules.size(); ++i) {
        const Outcome &o = outcomes[size_t(i)];
        if (!o.ran)
            continue; // never started: interrupted before its turn
        allOk = allOk && Ok(o);
        report += (core::CsvField(modules[i].name) + u',' + core::CsvField(modules[i].host) + u',' +
                   QString::number(modules[i].port) + u',' + o.result + u',' +
                   QString::number(o.written) + u',' + QString::number(o.differing.size()) + u',' +
                   QString::number(o.seconds, 'f', 2) + QStringLiteral("\r\n"))
                      .toUtf8();
    }
    if (!SaveBytes(reportPath, report))
        err << QStringLiteral("tavrin-cli: cannot write the report %1\n").arg(reportPath);
    out << QStringLiteral("%1 of %2 modules ok; report: %3\n")
               .arg(std::count_if(outcomes.begin(), outcomes.end(), Ok))
               .arg(modules.size())
               .arg(reportPath);
    if (g_stop)
        return Interrupted;
    return allOk ? Done : Differs;
}

} // namespace cli
