#pragma once
// Provisioning: one configuration onto a list of modules, several at a time,
// each on its own connection and session, with a record of every module and
// one report.
#include "CliCommon.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <map>

class QCommandLineParser;

namespace cli {

// One line of the device list: name,host,port[,node], then the words of the
// register columns for this module alone.
struct Module {
    QString name;
    QString host;
    uint16_t port = 502;
    int node = 1;
    std::map<int, uint16_t> overrides; // by register index
};

// The device list: a header line naming its columns ("name", "host",
// "port", optional "node", register numbers), then a module a line. Throws
// UsageError naming the line at fault.
QList<Module> ParseDeviceList(const QByteArray &data, const QString &path);

// The words a configuration and a device list would give the modules'
// network address: a UsageError when two modules would end with one address.
void CheckDistinctAddresses(const std::map<int, uint16_t> &config, const QList<Module> &modules,
                            const QString &configPath);

void AddProvisionOptions(QCommandLineParser &parser);
int Provision(const QCommandLineParser &parser, const Settings &base, QTextStream &out,
              QTextStream &err);

} // namespace cli
