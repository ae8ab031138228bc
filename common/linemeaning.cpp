#include "linemeaning.h"
#include "dataunit.h"
#include "registerhex.h"

namespace hv52 {

namespace {

quint8 byteAt(const QByteArray &b, int i)
{
    return static_cast<quint8>(b[i]);
}

} // namespace

QString LineMeaning::strayText()
{
    return QStringLiteral("不属于任何请求的字节（迟到的应答或线路干扰），已丢弃");
}

QString LineMeaning::strayText(Framing framing, const QByteArray &bytes)
{
    if (framing != Framing::Mbap)
        return strayText();
    // Whole Modbus TCP frames of other transactions: late answers to earlier
    // requests, named by their transactions. The walk stops at the first
    // bytes that are no whole frame.
    QList<quint16> transactions;
    for (int at = 0;;) {
        const MbapFrame frame = mbapFrameAt(bytes, at);
        if (frame.state != MbapFrame::Whole)
            break;
        transactions << frame.transaction;
        at += frame.size();
    }
    if (transactions.isEmpty())
        return strayText();
    return transactionText(transactions) + QStringLiteral(" · ") + strayText();
}

QString LineMeaning::transactionText(const QList<quint16> &transactions)
{
    QStringList numbers;
    for (quint16 t : transactions)
        numbers << registerHex(t);
    return QStringLiteral("事务 ") + numbers.join(u'、');
}

void LineMeaning::forget()
{
    m_sources.clear();
    m_written.reset();
}

int LineMeaning::pollIndex(const Point &point) const
{
    const QVector<Point> &poll = m_module.poll;
    if (poll.isEmpty() || &point < poll.data() || &point >= poll.data() + poll.size())
        return -1;
    return int(&point - poll.data());
}

const Setting *LineMeaning::settingOf(quint16 reg) const
{
    for (const Setting &s : m_module.settings) {
        if (s.registers.contains(reg))
            return &s;
    }
    return nullptr;
}

QString LineMeaning::describe(const ExchangeRecord &record)
{
    const FrameParts request = splitFrame(record.framing, record.request);
    const QString meaning = describeUnit(request.unit, record);
    // Modbus TCP pairs an answer with its request by the transaction
    // identifier: shown, it ties a late answer's stray row to its request.
    if (record.framing != Framing::Mbap || record.request.size() < 2)
        return meaning;
    const QString transaction = transactionText({request.transaction});
    return meaning.isEmpty() ? transaction : transaction + QStringLiteral(" · ") + meaning;
}

QString LineMeaning::describeUnit(const QByteArray &unit, const ExchangeRecord &record)
{
    // Function code, register and count: what both requests begin with.
    if (unit.size() < 5)
        return QString();
    const quint16 reg = quint16(byteAt(unit, 1) << 8 | byteAt(unit, 2));
    if (byteAt(unit, 0) == 3) {
        m_written.reset(); // a read ends any setting's write sequence
        return describeRead(reg, byteAt(unit, 4) == 2, record);
    }
    if (byteAt(unit, 0) == 16 && unit.size() >= 8)
        return describeWrite(reg, quint16(byteAt(unit, 6) << 8 | byteAt(unit, 7)));
    return QString();
}

QString LineMeaning::describeRead(quint16 reg, bool pair, const ExchangeRecord &record)
{
    const Point *point = m_module.pointAt(reg);
    QByteArray answer;
    if (record.verdict.valid())
        answer = splitFrame(record.framing, record.answer).unit;
    // A record judged valid by whoever made it still needs the bytes of its
    // value before one is shown.
    const bool valid = answer.size() >= (pair ? 6 : 4);
    const quint32 value = valid ? unitValue(answer, pair) : 0;
    if (!point) {
        QString text = QStringLiteral("寄存器 %1").arg(registerHex(reg));
        if (valid)
            text += QStringLiteral(" = %1").arg(value);
        return text;
    }
    // "输入1 输入次数 0x0E40": the same for every read of the register.
    QString &prefix = m_prefixes[reg];
    if (prefix.isEmpty())
        prefix = point->caption() + u' ' + registerHex(reg);
    QString text = prefix;
    if (point->show == Show::Source) {
        // The limits after it are shown in this source's unit; after a failed
        // read the unit is unknown, as it is in the window.
        const int index = pollIndex(*point);
        if (valid)
            m_sources.insert(index, value);
        else
            m_sources.remove(index);
    }
    if (!valid)
        return text;
    if (point->show == Show::Limit) {
        const auto source = m_sources.constFind(point->scaleFrom);
        if (source == m_sources.constEnd())
            return text + QStringLiteral(" = %1（寄存器值）").arg(value);
        return text + QStringLiteral(" = ") + *displayText(*point, value, limitScale(int(*source)));
    }
    if (const std::optional<QString> shown = displayText(*point, value))
        return text + QStringLiteral(" = ") + *shown;
    return text + QStringLiteral(" = %1（不是列表中的选项）").arg(value);
}

QString LineMeaning::describeWrite(quint16 reg, quint16 value)
{
    const QString assigned = u' ' + registerHex(reg) + QStringLiteral(" ← ") + registerHex(value);
    const Setting *setting = settingOf(reg);
    if (!setting || !m_written || m_written->setting != setting)
        m_written.reset();

    if (reg == m_module.resetRegister) {
        for (const ResetChoice &choice : m_module.resets) {
            if (choice.code == value)
                return QStringLiteral("复位") + assigned + u' ' + QString::fromUtf8(choice.text);
        }
        return QStringLiteral("复位") + assigned + QStringLiteral(" 不是复位项目的代码");
    }
    const Point *point = m_module.pointAt(reg);
    if (!point) {
        if (setting)
            return setting->name + assigned;
        return QStringLiteral("寄存器") + assigned;
    }
    QString text = point->caption() + assigned;
    switch (point->show) {
    case Show::RelayCommand:
        if (const std::optional<QString> command = relayCommandText(value))
            text += u' ' + *command;
        return text;
    case Show::SignalType:
    case Show::Source:
    case Show::InputMode: {
        const QStringList &texts = point->listTexts();
        if (value >= texts.size())
            return text + QStringLiteral(" 不是列表中的选项");
        if (point->show == Show::Source && setting)
            m_written = WrittenSource{setting, pollIndex(*point), value};
        return text + u' ' + texts[value];
    }
    case Show::Limit:
        text += QStringLiteral(" 寄存器值 %1").arg(value);
        // The window typed the limit in the unit of the source it wrote just
        // before; without that write the unit is not known here.
        if (m_written && m_written->index == point->scaleFrom) {
            text += QStringLiteral(" = %1（%2）")
                        .arg(*displayText(*point, value, limitScale(m_written->value)),
                             kSourceQuantityTexts.value(m_written->value));
        }
        return text;
    default:
        return text + QStringLiteral(" %1").arg(value);
    }
}

} // namespace hv52
