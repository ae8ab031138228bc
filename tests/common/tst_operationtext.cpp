// What the button operations say: the poll's summary, a stopped poll, failed
// writes and the refusal of a value that must not be written back.
#include "operationtext.h"

#include <QTest>

using hv52::Mark;
using hv52::NotRead;
using hv52::OperationText;
using hv52::Outcome;
using hv52::Verdict;
using hv52::WriteResult;

namespace {

// One letter an exchange: V valid, T timeout, C bad check bytes, E exception 02.
QVector<Verdict> verdicts(const char *letters)
{
    QVector<Verdict> list;
    for (const char *l = letters; *l; ++l) {
        Verdict v;
        v.outcome = *l == 'T'   ? Outcome::Timeout
                    : *l == 'C' ? Outcome::BadCrc
                    : *l == 'E' ? Outcome::Exception
                                : Outcome::Valid;
        if (*l == 'E')
            v.exceptionCode = 2;
        list << v;
    }
    return list;
}

// The same letters as writes; K a write kept back by the operator.
QVector<WriteResult> writes(const char *letters)
{
    QVector<WriteResult> list;
    for (const char *l = letters; *l; ++l) {
        WriteResult r;
        if (*l == 'K')
            r.keptBack = true;
        else
            r.verdict = verdicts(QByteArray(1, *l).constData()).first();
        list << r;
    }
    return list;
}

const QString kHint = QStringLiteral("<hint>");

} // namespace

class OperationTextTest : public QObject
{
    Q_OBJECT
private slots:
    void reasonCounts_data()
    {
        QTest::addColumn<QString>("failed");
        QTest::addColumn<QString>("text");
        QTest::newRow("none") << ""
                              << "";
        QTest::newRow("one reason") << "TT"
                                    << "超时无应答 2 次";
        QTest::newRow("in the order they first came") << "CTC"
                                                      << "校验错误 2 次，超时无应答 1 次";
        QTest::newRow("exceptions counted as one reason") << "E"
                                                          << "异常应答 1 次";
    }
    void reasonCounts()
    {
        QFETCH(QString, failed);
        QFETCH(QString, text);
        QCOMPARE(OperationText::reasonCounts(verdicts(qPrintable(failed))), text);
    }

    void pollFinished_data()
    {
        QTest::addColumn<int>("reads");
        QTest::addColumn<QString>("failed");
        QTest::addColumn<QString>("text");
        QTest::newRow("all read") << 27 << ""
                                  << "召测数据，完成！";
        QTest::newRow("some failed") << 27 << "TC"
                                     << "召测数据，完成！\n27 次读取中有 2 次失败。\n超时无应答 1 次，校验错误 1 次";
        QTest::newRow("some timed out: no hint") << 3 << "TT"
                                                 << "召测数据，完成！\n3 次读取中有 2 次失败。\n超时无应答 2 次";
        QTest::newRow("every read timed out: the hint")
            << 2 << "TT"
            << "召测数据，完成！\n2 次读取中有 2 次失败。\n超时无应答 2 次\n<hint>";
        QTest::newRow("every read failed, not all silent")
            << 2 << "TC"
            << "召测数据，完成！\n2 次读取中有 2 次失败。\n超时无应答 1 次，校验错误 1 次";
    }
    void pollFinished()
    {
        QFETCH(int, reads);
        QFETCH(QString, failed);
        QFETCH(QString, text);
        const QVector<Verdict> list = verdicts(qPrintable(failed));
        QCOMPARE(OperationText::pollFinished(reads, int(list.size()), list, kHint), text);
    }

    void pollStopped_data()
    {
        QTest::addColumn<int>("completed");
        QTest::addColumn<QString>("failed");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing failed") << 5 << ""
                                        << "召测已中止：27 次读取中已完成 5 次。";
        QTest::newRow("with the failures") << 3 << "TTT"
                                           << "召测已中止：27 次读取中已完成 3 次（超时无应答 3 次）。";
    }
    void pollStopped()
    {
        QFETCH(int, completed);
        QFETCH(QString, failed);
        QFETCH(QString, text);
        QCOMPARE(OperationText::pollStopped(27, completed, verdicts(qPrintable(failed))), text);
    }

    void failedWrites_data()
    {
        QTest::addColumn<QString>("results");
        QTest::addColumn<QString>("text");
        QTest::newRow("the first failed one is named") << "VCT"
                                                       << "设置失败！\nB：校验错误";
        QTest::newRow("nothing answered: the hint") << "TTT"
                                                    << "设置失败！\nA：超时无应答\n<hint>";
        QTest::newRow("kept back") << "TK"
                                   << "设置失败！\nA：超时无应答";
        QTest::newRow("kept back first") << "KT"
                                         << "设置失败！\nA：已取消，未发送";
        QTest::newRow("a write with no name") << "VVVT"
                                              << "设置失败！\n：超时无应答";
    }
    void failedWrites()
    {
        QFETCH(QString, results);
        QFETCH(QString, text);
        const QVector<QString> names = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")};
        QCOMPARE(OperationText::failedWrites(QStringLiteral("设置失败！"), names, writes(qPrintable(results)), kHint),
                 text);
    }

    void refusal_data()
    {
        QTest::addColumn<bool>("limit");
        QTest::addColumn<Mark>("mark");
        QTest::addColumn<NotRead>("why");
        QTest::addColumn<QString>("text");
        QTest::newRow("unmarked") << false << Mark::None << NotRead::EndedEarly << QString();
        QTest::newRow("failed read, list")
            << false << Mark::Failed << NotRead::EndedEarly
            << "输出1 "
               "信号类型：显示的值来自一次失败的读取，不是模块中的值，设置未发送。请重新召测，或在该框中选择一个值。";
        QTest::newRow("failed read, limit")
            << true << Mark::Failed << NotRead::EndedEarly
            << "输出1 "
               "信号类型：显示的值来自一次失败的读取，不是模块中的值，设置未发送。请重新召测，或在该框中输入一个值。";
        QTest::newRow("unit unknown") << true << Mark::UnitUnknown << NotRead::EndedEarly
                                      << "输出1 "
                                         "信号类型：显示的值按一次读取失败的参数选择换算，单位不可信，设置未发送。请重"
                                         "新召测，或在该框中输入一个值。";
        QTest::newRow("poll ended early")
            << false << Mark::NotRead << NotRead::EndedEarly
            << "输出1 "
               "信号类型：显示的值不是本次召测读到的（召测提前结束），设置未发送。请重新召测，或在该框中选择一个值。";
        QTest::newRow("port not open")
            << false << Mark::NotRead << NotRead::PortNotOpen
            << "输出1 "
               "信号类型：显示的值不是本次召测读到的（串口未能打开），设置未发送。请重新召测，或在该框中选择一个值。";
        QTest::newRow("never polled")
            << false << Mark::NotRead << NotRead::NeverPolled
            << "输出1 信号类型：显示的值不是从模块读到的（尚未召测），设置未发送。请先召测，或在该框中选择一个值。";
    }
    void refusal()
    {
        QFETCH(bool, limit);
        QFETCH(Mark, mark);
        QFETCH(NotRead, why);
        QFETCH(QString, text);
        hv52::Point point{QStringLiteral("analog1.type"),
                          0,
                          false,
                          QStringLiteral("输出1"),
                          QStringLiteral("信号类型"),
                          limit ? hv52::Show::Limit : hv52::Show::SignalType};
        QCOMPARE(OperationText::refusal(point, mark, why), text);
    }
};

QTEST_APPLESS_MAIN(OperationTextTest)
#include "tst_operationtext.moc"
