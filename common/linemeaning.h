#pragma once
#include "link.h"
#include "module.h"

#include <QHash>
#include <optional>

namespace hv52 {

// What one exchange did, in the words of the window: the register's caption
// and address, and the value read or written with its meaning, taken from
// the data units whatever their framing; on Modbus TCP led by the request's
// transaction. Remembers what the conversions need from earlier exchanges:
// the last source quantity read per analog output (limits are shown in its
// unit) and the source just written in the same setting.
class LineMeaning
{
public:
    explicit LineMeaning(const ModuleDef &module) : m_module(module) {}

    QString describe(const ExchangeRecord &record);
    // Forgets the sources seen: the rows they came from were cleared.
    void forget();

    static QString strayText();
    // The same for bytes on a line of this framing: on Modbus TCP led by the
    // transactions of the whole frames among them.
    static QString strayText(Framing framing, const QByteArray &bytes);

private:
    // "事务 0x0001", or "事务 0x0003、0x0004".
    static QString transactionText(const QList<quint16> &transactions);
    QString describeUnit(const QByteArray &unit, const ExchangeRecord &record);
    QString describeRead(quint16 reg, bool pair, const ExchangeRecord &record);
    QString describeWrite(quint16 reg, quint16 value);
    int pollIndex(const Point &point) const;
    const Setting *settingOf(quint16 reg) const;

    const ModuleDef &m_module;
    QHash<int, quint32> m_sources;      // poll index of a source -> its last valid value
    QHash<quint16, QString> m_prefixes; // register -> its caption and address
    // The source quantity written earlier in the setting now being written.
    struct WrittenSource
    {
        const Setting *setting;
        int index;
        quint16 value;
    };
    std::optional<WrittenSource> m_written;
};

} // namespace hv52
