#pragma once
// What an earlier record knows a meter holds, setting by setting: the rule
// an audit from a record takes its expected values by. A setting is
// expected to hold, in this order of knowledge, what the poll after
// commissioning read; else what was read back after writing (the failed
// group's values too); else what was written and acknowledged; else, for a
// setting nothing of which was sent, what the poll before read. A setting
// the record cannot know (a write that failed, never read back; an
// interrupted run's group half known) is not checked, with the reason:
// never compared with an older value.
#include "module.h"

#include <QJsonObject>
#include <QString>
#include <QVector>

namespace hv52run {

struct UnknownSetting
{
    const hv52::Setting *setting = nullptr;
    QString reason; // "记录中没有调试后的值，写入失败（超时无应答）且未读回"
};

struct RecordKnowledge
{
    // The settings expected, as a settings file holds them ("module" and
    // the poll's keys).
    QJsonObject settings;
    QVector<UnknownSetting> unknown;
};

// `meter` is one meter's object of a record ("before", "after", "writes").
RecordKnowledge recordKnowledge(const hv52::ModuleDef &def, const QJsonObject &meter);

} // namespace hv52run
