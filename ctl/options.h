#pragma once
// The command line of hv52ctl: its options as a table, and the parse that
// checks every option and value against it and the table of commands.
#include "command.h"

#include "line.h"
#include "linespeed.h"
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace hv52ctl {

using hv52::kStandardSpeeds;

struct Options
{
    bool help = false;
    bool version = false;
    QString command;                // "read", "set", ...; empty with --help/--version
    const Command *entry = nullptr; // the command's entry in its table
    QStringList words;              // the positional arguments after the command

    // --port N, --device PATH, --tcp HOST:PORT (RTU frames through a serial
    // device server) or --modbus-tcp HOST:PORT (a Modbus TCP gateway; the
    // address is the unit identifier); --speed, --timeout, --connect-timeout.
    hv52::Line line;
    int address = 1;
    // --address 1-30,41: every meter named, in order; one entry for a plain
    // --address A.
    QList<int> meters = {1};
    bool json = false;

    int intervalMs = 1000;                             // watch
    QList<int> speeds;                                 // scan
    QList<int> addresses;                              // scan
    int scanTimeoutMs = 100;                           // scan
    bool list = false;                                 // reset --list
    bool check = false;                                // apply --check
    QString record;                                    // --record FILE
    QString site, operatorName;                        // --site, --operator (the record's heading)
    QString fromScan;                                  // commission --from-scan FILE
    QString settingsByKind;                            // commission --settings t516=a.json,...
    QString fromRecord;                                // verify --from-record FILE
    QString sitePlan;                                  // scan --site FILE: the lines of a site plan
    QString lineList;                                  // scan --lines port:3,tcp:HOST:PORT,...
    std::optional<QString> type, source, lower, upper; // set ... analog

    QSet<QString> given; // long names of the options on the command line
    bool needsPort() const;
    // One meter after another with a result line each and a summary: more
    // than one address, a record asked for, or a commissioning run.
    bool multiMeter() const { return meters.size() > 1 || !record.isEmpty() || command == u"commission"; }
    // A scan of several lines at once (--site or --lines).
    bool siteScan() const { return command == u"scan" && (!sitePlan.isEmpty() || !lineList.isEmpty()); }
};

// An option of the command line.
struct OptionSpec
{
    QStringList names; // {"h", "help"}: the long name last
    QString value;     // what its value is called in the help ("N"); empty for a switch
    QStringList help;  // its lines in --help; empty for one described with its command
};
// Every option, in the order of the help (those it lists first).
const QVector<OptionSpec> &optionTable();

// Parses and checks the command line (arguments()[0] is the program) against
// the options and `commands`. Throws UsageError naming the bad option or value.
Options parseOptions(const QStringList &arguments, const CommandTable &commands);

// "192.168.1.10:502", "[::1]:502" -> host and port; UsageError naming the
// option otherwise.
void parseEndpoint(const QString &option, const QString &text, QString *host, quint16 *port);

// "1-10,17,20-30" -> the addresses in order, each 1..247 once; messages name
// `option`.
QList<int> parseAddressRange(const QString &text, const QString &option = QStringLiteral("--addresses"));
// "9600,19200" -> standard speeds.
QList<int> parseSpeedList(const QString &text);

} // namespace hv52ctl
