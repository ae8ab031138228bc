// watch: polls again and again, a line for each value that changes.
#include "commands.h"
#include "commandsteps.h"
#include "consoleoutput.h"
#include "ctl.h"
#include "steps.h"

#include "values.h"

#include <QDateTime>
#include <QHash>

namespace hv52ctl {

using namespace hv52;

int watchCommand(const Options &o)
{
    expectWords(o, 1, o.entry->usage);
    const ModuleDef &def = moduleNamed(o.words[0]);
    Session s(o.line, o.command, o.address, ConsoleOutput::standard());
    QHash<QString, QString> last; // key -> what was last printed
    int width = 0;
    for (const Point &point : def.poll)
        width = std::max(width, displayWidth(point.caption()));
    const int status = s.run([&] {
        ModuleClient client(s.link(), def);
        // Only what a poll handed over at its end is printed: a value shown
        // while it ran could still be revoked by what the line did later.
        const auto print = [&](const QVector<Reading> &readings) {
            for (int i = 0; i < readings.size(); ++i) {
                const Value v = valueOf(readings[i], readings.mid(0, i + 1));
                const QString state = (v.ok ? QStringLiteral("=") : QStringLiteral("!")) + v.shown();
                const auto seen = last.constFind(v.point->key);
                if (seen != last.constEnd() && *seen == state)
                    continue;
                last.insert(v.point->key, state);
                const QDateTime now = QDateTime::currentDateTime();
                if (o.json) {
                    printOut(
                        QStringLiteral("{\"time\": %1, \"key\": %2, \"value\": %3%4}\n")
                            .arg(jsonString(now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))),
                                 jsonString(v.point->key), jsonText(v.json),
                                 v.ok ? QString() : QStringLiteral(", \"failure\": %1").arg(jsonString(v.failure))));
                } else {
                    printOut(QStringLiteral("%1  %2%3\n")
                                 .arg(now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")),
                                      padded(v.point->caption(), width + 2), v.shown()));
                }
            }
        };
        for (;;) {
            PollResult result;
            try {
                result = client.poll([&](const Reading &) { s.stopIfInterrupted(); }, [&s] { return !s.mustStop(); });
            } catch (...) {
                print(client.lastReadings()); // as far as it got, final
                throw;
            }
            print(result.readings);
            s.pause(o.intervalMs);
            s.stopIfInterrupted();
        }
        return Done;
    });
    // A watch has no end of its own: a signal or its reader leaving (| head)
    // ends it, status 0. A write that failed otherwise lost lines.
    if (status == Done && Interrupt::cause() == Interrupt::Cause::OutputFailed) {
        printErr(Interrupt::text());
        return Failed;
    }
    return status;
}

} // namespace hv52ctl
