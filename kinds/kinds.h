#pragma once
// The module kinds the tools know, in one list: each with its definition.
// The scan, hv52ctl's kind check, the commissioning plan and the help text
// all take the kinds from here; a new kind is its own folder and one entry.
#include "module.h"

#include <QString>
#include <QVector>

namespace hv52 {

struct ModuleKind
{
    QString name;        // "t516": as typed on a command line and in files
    QString description; // "2 路输入、2 路继电器、3 路模拟量输出"
    const ModuleDef &(*def)();

    QString label() const { return name.toUpper(); } // "T516"
};

// Every kind, in the order the help text lists them.
const QVector<ModuleKind> &moduleKinds();
// The kind named (exactly, lower case), or null.
const ModuleKind *moduleKind(const QString &name);
// "t516、t540 或 t528": the names for a message.
QString kindNames();

// The reads that tell the kinds apart: one register each, answered by the
// kinds whose definition has it and refused (exception 02) by the others.
struct KindProbe
{
    QString key; // "relay1.state"
    quint16 address;
    bool pair;
};
const QVector<KindProbe> &kindProbes();
// The kind whose definition answers exactly the probes `answered` (one flag a
// probe, in kindProbes() order), or null: an unknown kind.
const ModuleKind *kindAnswering(const QVector<bool> &answered);

} // namespace hv52
