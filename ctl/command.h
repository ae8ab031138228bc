#pragma once
// A command of hv52ctl as its table gives it: the name, the usage the
// messages quote, the lines of the help, the options that belong to it and
// the function that runs it. The one table (commands.cpp) is what dispatch,
// the option checks, the help text and the completion's lists are made of.
#include <QString>
#include <QStringList>
#include <QVector>

namespace hv52ctl {

struct Options;

struct Command
{
    // One entry of the help's list of commands: the command line and what
    // it does, one text a line.
    struct Help
    {
        QString line;
        QStringList text;
    };

    QString name;           // "read"
    QString usage;          // "read MODULE": after "用法 hv52ctl" in a message
    QVector<Help> help;     // its entries in --help, in order
    QStringList options;    // the options of this command alone, long names ("interval")
    QStringList refused;    // line options that mean nothing to it ("speed" for scan)
    bool meterList = false; // --address may list meters (1-30,41)
    bool record = false;    // takes --record, --site, --operator
    int (*run)(const Options &) = nullptr;
};

using CommandTable = QVector<Command>;

// "a、b 或 c", "a、b 和 c": names as a message lists them.
inline QString listed(const QStringList &names, const QString &lastJoin)
{
    if (names.size() < 2)
        return names.join(QString());
    return names.mid(0, names.size() - 1).join(QStringLiteral("、")) + lastJoin + names.last();
}

} // namespace hv52ctl
