#pragma once
// What the window's button operations say to the operator in their message
// boxes, made from their outcomes alone: no widget and no link here.
#include "link.h"
#include "mark.h"
#include "module.h"

#include <QString>
#include <QVector>

namespace hv52 {

class OperationText
{
public:
    // The failed reads of a poll counted by reason, in the order the reasons
    // first came: "超时无应答 2 次，校验错误 1 次".
    static QString reasonCounts(const QVector<Verdict> &failed);
    // A poll of `reads` reads that ran to its end, `failures` of them failed
    // (`failed`, in poll order); `silence` is added when every read timed out.
    static QString pollFinished(int reads, int failures, const QVector<Verdict> &failed, const QString &silence);
    // A poll the operator stopped after `completed` of its `reads` reads.
    static QString pollStopped(int reads, int completed, const QVector<Verdict> &failed);
    // A failed setting's or reset's message: its first line, then the first
    // failed write (named by `names`, one a write) and why; `silence` when
    // nothing answered at all.
    static QString failedWrites(const QString &first, const QVector<QString> &names,
                                const QVector<WriteResult> &results, const QString &silence);
    // Why the value a control of `point` shows, marked `mark` (`why` for
    // NotRead), must not be written back; empty for an unmarked one.
    static QString refusal(const Point &point, Mark mark, NotRead why);
};

} // namespace hv52
