#include "operationtext.h"

#include <QMap>
#include <QStringList>
#include <algorithm>

namespace hv52 {

QString OperationText::reasonCounts(const QVector<Verdict> &failed)
{
    QStringList reasons;
    QMap<QString, int> counts;
    for (const Verdict &verdict : failed) {
        const QString reason =
            verdict.outcome == Outcome::Exception ? QStringLiteral("异常应答") : outcomeText(verdict);
        if (!counts.contains(reason))
            reasons << reason;
        ++counts[reason];
    }
    QStringList parts;
    for (const QString &reason : reasons)
        parts << QStringLiteral("%1 %2 次").arg(reason).arg(counts[reason]);
    return parts.join(QStringLiteral("，"));
}

QString OperationText::pollFinished(int reads, int failures, const QVector<Verdict> &failed, const QString &silence)
{
    QString text = QStringLiteral("召测数据，完成！");
    if (failures > 0) {
        text += QStringLiteral("\n%1 次读取中有 %2 次失败。").arg(reads).arg(failures);
        // How many failed for which reason, in the order they first came.
        const bool allSilent =
            std::all_of(failed.begin(), failed.end(), [](const Verdict &v) { return v.outcome == Outcome::Timeout; });
        text += u'\n' + reasonCounts(failed);
        if (allSilent && failures == reads)
            text += u'\n' + silence;
    }
    return text;
}

QString OperationText::pollStopped(int reads, int completed, const QVector<Verdict> &failed)
{
    QString text = QStringLiteral("召测已中止：%1 次读取中已完成 %2 次").arg(reads).arg(completed);
    if (!failed.isEmpty())
        text += QStringLiteral("（%1）").arg(reasonCounts(failed));
    return text + QStringLiteral("。");
}

QString OperationText::failedWrites(const QString &first, const QVector<QString> &names,
                                    const QVector<WriteResult> &results, const QString &silence)
{
    const auto failed = std::find_if(results.begin(), results.end(), [](const WriteResult &r) { return !r.ok(); });
    const QString why = failed->keptBack ? QStringLiteral("已取消，未发送") : outcomeText(failed->verdict);
    QString text = QStringLiteral("%1\n%2：%3").arg(first, names.value(int(failed - results.begin())), why);
    const bool allSilent = std::all_of(results.begin(), results.end(), [](const WriteResult &r) {
        return !r.keptBack && r.verdict.outcome == Outcome::Timeout;
    });
    if (allSilent)
        text += u'\n' + silence;
    return text;
}

QString OperationText::refusal(const Point &point, Mark mark, NotRead why)
{
    if (mark == Mark::None)
        return QString();
    // What the value is; one no poll has read yet asks for a first poll.
    const QString shown = mark == Mark::Failed ? QStringLiteral("来自一次失败的读取，不是模块中的值")
                          : mark == Mark::UnitUnknown ? QStringLiteral("按一次读取失败的参数选择换算，单位不可信")
                          : why == NotRead::EndedEarly ? QStringLiteral("不是本次召测读到的（召测提前结束）")
                          : why == NotRead::PortNotOpen ? QStringLiteral("不是本次召测读到的（串口未能打开）")
                                                        : QStringLiteral("不是从模块读到的（尚未召测）");
    const bool neverPolled = mark == Mark::NotRead && why == NotRead::NeverPolled;
    const QString action =
        point.show == Show::Limit ? QStringLiteral("在该框中输入一个值") : QStringLiteral("在该框中选择一个值");
    return QStringLiteral("%1：显示的值%2，设置未发送。请%3召测，或%4。")
        .arg(point.caption(), shown, neverPolled ? QStringLiteral("先") : QStringLiteral("重新"), action);
}

} // namespace hv52
