#pragma once
// The command line of hv52ctl: its options as a table, and the parse that
// checks every option and value against it and the table of commands.
#include "command.h"

#include "addressing.h"
#include "linespeed.h"
#include "runrequest.h"
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace hv52ctl {

using hv52::kStandardSpeeds;

// The command line: the run it asks for (its command, line, meters, record
// heading and files) and what only hv52ctl has.
struct Options : hv52run::RunRequest
{
    bool help = false;
    bool version = false;
    const Command *entry = nullptr; // the command's entry in its table
    QStringList words;              // the positional arguments after the command

    // The command ("read", "set", ...; empty with --help/--version); the
    // line: --port N, --device PATH, --tcp HOST:PORT (RTU frames through a
    // serial device server) or --modbus-tcp HOST:PORT (a Modbus TCP gateway;
    // the address is the unit identifier); --speed, --timeout,
    // --connect-timeout; --address 1-30,41 as `meters` (one entry for a
    // plain --address A); --site, --operator, --settings, --from-scan,
    // --from-record: all in RunRequest.
    int address = 1;
    bool json = false;

    int intervalMs = 1000;                             // watch
    QList<int> speeds;                                 // scan
    QList<int> addresses;                              // scan
    int scanTimeoutMs = 100;                           // scan
    bool list = false;                                 // reset --list
    bool check = false;                                // apply --check
    QString record;                                    // --record FILE
    QString sitePlan;                                  // scan --site FILE: the lines of a site plan
    QString lineList;                                  // scan --lines port:3,tcp:HOST:PORT,...
    std::optional<QString> type, source, lower, upper; // set ... analog

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

// "9600,19200" -> standard speeds.
QList<int> parseSpeedList(const QString &text);

} // namespace hv52ctl
