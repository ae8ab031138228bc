// read: the whole poll of a module, as a table or JSON.
#include "commands.h"
#include "commandsteps.h"
#include "commissionrun.h"
#include "consoleoutput.h"
#include "ctl.h"
#include "steps.h"

namespace hv52ctl {

using namespace hv52;

int readCommand(const Options &o)
{
    expectWords(o, 1, o.entry->usage);
    const ModuleDef &def = moduleNamed(o.words[0]);
    if (o.multiMeter())
        return runMeters(o, sameForEvery(o, def, {}));
    Session s(o.line, o.command, o.address, ConsoleOutput::standard());
    QVector<Value> values;
    QString stopped;
    QVector<Reading> readings;
    const int status = s.run([&] {
        values = pollValues(s, def, &stopped, &readings);
        return Done;
    });
    if (status == NoPort)
        return NoPort;

    const bool dead = s.moduleDead() && !s.interrupted();
    const bool cut = s.interrupted(); // not a table that could not be printed
    printOut(o.json ? valuesJson(def, values, true) : valuesTable(values));
    bool failed = status != Done;
    if (!stopped.isEmpty()) {
        printErr(stopped);
        failed = true;
    } else if (cut) {
        printErr(Interrupt::text() + QStringLiteral("，召测未完成。"));
        failed = true;
    }
    for (int i = 0; i < readings.size() && i < values.size(); ++i) {
        if (!values[i].ok) {
            printErr(failureLine(values[i]));
            failed = true;
        }
    }
    if (dead)
        printErr(s.silenceHint());
    return failed ? Failed : Done;
}

} // namespace hv52ctl
