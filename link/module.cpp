#include "module.h"
#include "linkerror.h"

#include <QScopeGuard>

#include <algorithm>

namespace hv52 {

const QStringList &Point::listTexts() const
{
    static const QStringList none;
    switch (show) {
    case Show::SignalType:
        return kSignalTypeTexts;
    case Show::Source:
        return kSourceQuantityTexts;
    case Show::InputMode:
        return kInputModeTexts;
    default:
        return none;
    }
}

std::optional<QString> displayText(const Point &point, quint32 value, int scale)
{
    const QString raw = QString::number(value);
    switch (point.show) {
    case Show::AsRead:
        return raw;
    case Show::OnOff:
        return stateText(raw, QStringLiteral("ON"), QStringLiteral("OFF"));
    case Show::OperatedReleased:
        return stateText(raw, QStringLiteral("动作"), QStringLiteral("恢复"));
    case Show::Tenths:
        return dividedText(raw, 10);
    case Show::Hundredths:
        return dividedText(raw, 100);
    case Show::RelayCommand:
        // A command without a text of its own shows as its number, so it is
        // never mistaken for another command.
        return relayCommandText(value).value_or(raw);
    case Show::Limit:
        return dividedText(raw, scale);
    case Show::SignalType:
    case Show::Source:
    case Show::InputMode:
        if (!shownAsListed(point, value))
            return std::nullopt;
        return point.listTexts()[int(value)];
    }
    return raw;
}

bool shownAsListed(const Point &point, quint32 value)
{
    switch (point.show) {
    case Show::SignalType:
    case Show::Source:
    case Show::InputMode:
        return value < quint32(point.listTexts().size());
    default:
        return true;
    }
}

// The first point of the poll, then of the write-only registers, that matches.
template <class Match>
static const Point *findPoint(const ModuleDef &def, Match match)
{
    for (const QVector<Point> *points : {&def.poll, &def.writeOnly}) {
        const auto it = std::find_if(points->begin(), points->end(), match);
        if (it != points->end())
            return &*it;
    }
    return nullptr;
}

const Point *ModuleDef::pointAt(quint16 address) const
{
    return findPoint(*this, [address](const Point &p) { return p.address == address; });
}

const Point *ModuleDef::point(const QString &key) const
{
    return findPoint(*this, [&key](const Point &p) { return p.key == key; });
}

const Setting *ModuleDef::setting(const QString &key) const
{
    for (const Setting &s : settings) {
        if (s.key == key)
            return &s;
    }
    return nullptr;
}

// The poll's points whose key is `prefix` N ".count".
static int countOf(const ModuleDef &def, QLatin1String prefix)
{
    return int(std::count_if(def.poll.begin(), def.poll.end(), [prefix](const Point &p) {
        return p.key.startsWith(prefix) && p.key.endsWith(QLatin1String(".count"));
    }));
}

int ModuleDef::inputs() const
{
    return countOf(*this, QLatin1String("input"));
}

int ModuleDef::relays() const
{
    return countOf(*this, QLatin1String("relay"));
}

// Input n: count at 0x0E40 + 3n, state at 0x0E42 + 3n, ON time at
// 0x0E5E + 2n.
QVector<Point> inputPoints(int inputs)
{
    QVector<Point> points;
    for (int n = 0; n < inputs; ++n) {
        const QString row = QStringLiteral("输入%1").arg(n + 1);
        const auto cell = [&](const char *what, int address, bool pair, const QString &column, Show show) {
            return Point{QStringLiteral("input%1.%2").arg(n + 1).arg(QLatin1String(what)),
                         quint16(address),
                         pair,
                         row,
                         column,
                         show};
        };
        points << cell("count", 0x0E40 + 3 * n, true, QStringLiteral("输入次数"), Show::AsRead)
               << cell("state", 0x0E42 + 3 * n, false, QStringLiteral("输入状态"), Show::OnOff)
               << cell("on_time", 0x0E5E + 2 * n, true, QStringLiteral("输入ON时间"), Show::Tenths);
    }
    return points;
}

// Relay k: count at 0x0E20 + 3k, state at 0x0E22 + 3k, command at 0x0E80 + k.
QVector<Point> relayPoints(int relays)
{
    QVector<Point> points;
    for (int k = 0; k < relays; ++k) {
        const QString row = QStringLiteral("继电器%1").arg(k + 1);
        const auto point = [&](const char *what, int address, bool pair, const QString &column, Show show) {
            return Point{QStringLiteral("relay%1.%2").arg(k + 1).arg(QLatin1String(what)),
                         quint16(address),
                         pair,
                         row,
                         column,
                         show};
        };
        points << point("count", 0x0E20 + 3 * k, true, QStringLiteral("输出次数"), Show::AsRead)
               << point("state", 0x0E22 + 3 * k, false, QStringLiteral("输出状态"), Show::OperatedReleased)
               << point("command", 0x0E80 + k, false, QStringLiteral("控制方式"), Show::RelayCommand);
    }
    return points;
}

QVector<Point> inputModePoints(int inputs)
{
    QVector<Point> points;
    for (int n = 0; n < inputs; ++n) {
        points << Point{QStringLiteral("input%1.mode").arg(n + 1), quint16(0x0E8A + n),        false,
                        QStringLiteral("输入%1").arg(n + 1),       QStringLiteral("输入方式"), Show::InputMode};
    }
    return points;
}

QVector<Setting> inputModeSettings(int inputs)
{
    QVector<Setting> settings;
    for (int n = 0; n < inputs; ++n) {
        settings << Setting{QStringLiteral("input%1.mode").arg(n + 1),
                            QStringLiteral("输入%1 输入方式").arg(n + 1),
                            {quint16(0x0E8A + n)}};
    }
    return settings;
}

QVector<Setting> relaySettings(int relays)
{
    QVector<Setting> settings;
    for (int k = 0; k < relays; ++k) {
        settings << Setting{QStringLiteral("relay%1").arg(k + 1),
                            QStringLiteral("继电器%1 控制方式").arg(k + 1),
                            {quint16(0x0E80 + k)}};
    }
    return settings;
}

bool ModuleClient::describe(Reading &r, const QVector<Reading> &earlier) const
{
    const Point &point = *r.point;
    const quint32 value = r.ok() ? r.result.value : 0;
    int scale = 1;
    if (point.show == Show::Limit) {
        // Both limits are shown in the unit of the source just read back.
        const auto source = std::find_if(earlier.begin(), earlier.end(),
                                         [&point](const Reading &e) { return e.index == point.scaleFrom; });
        const bool known = source != earlier.end() && source->ok();
        scale = limitScale(int(known ? source->result.value : 0));
        r.scaleUnknown = !known;
    }
    const std::optional<QString> text = displayText(point, value, scale);
    if (!text)
        return false;
    r.text = *text;
    return true;
}

Reading ModuleClient::reading(int position, const ReadResult &result, const QVector<Reading> &earlier) const
{
    Reading r;
    r.index = position;
    r.point = &m_def.poll[position];
    r.result = result;
    if (!describe(r, earlier)) {
        // Only the end of the series tells whether such a value is the
        // module's: until then it shows as read, as a number.
        r.text = QString::number(result.value);
    }
    return r;
}

QVector<Reading> ModuleClient::readings(const QVector<int> &positions, const QVector<ReadResult> &results,
                                        QVector<Reading> earlier) const
{
    for (int k = 0; k < results.size() && k < positions.size(); ++k)
        earlier << reading(positions[k], results[k], earlier);
    return earlier;
}

QVector<Reading> ModuleClient::runSeries(const QVector<int> &positions, const QVector<Reading> &before,
                                         const std::function<void(int, const Reading &)> &each,
                                         const std::function<bool()> &goOn, bool ahead, int *unlisted)
{
    QVector<SeriesRead> reads;
    for (const int position : positions)
        reads.append({m_def.poll[position].address, m_def.poll[position].pair});
    // What the caller sees as the answers come: the readings so far, a read
    // read again replacing its earlier reading.
    QVector<Reading> shown = before;
    const int base = int(before.size());
    SeriesHooks hooks;
    hooks.ahead = ahead;
    hooks.goOn = [&](int k, const ReadResult &result) {
        if (result.ok() && !shownAsListed(m_def.poll[positions[k]], result.value)) {
            *unlisted = k; // a value no list has ends the series there
            return false;
        }
        return !goOn || goOn();
    };
    hooks.each = [&](int k, const ReadResult &result) {
        // A value no list has ends the series: it is not shown.
        if (*unlisted == k)
            return;
        const Reading r = reading(positions[k], result, shown);
        if (base + k < shown.size())
            shown[base + k] = r;
        else
            shown << r;
        if (each)
            each(k, r);
    };
    QVector<ReadResult> results;
    try {
        m_link.readSeries(reads, results, hooks);
    } catch (...) {
        m_last.readings = readings(positions, results, before);
        throw;
    }
    return readings(positions, results, before);
}

PollResult ModuleClient::poll(const std::function<void(const Reading &)> &each, const std::function<bool()> &goOn)
{
    m_last = {};
    QVector<int> all;
    for (int i = 0; i < m_def.poll.size(); ++i)
        all << i;
    const auto show = [&each](int, const Reading &r) {
        if (each)
            each(r);
    };
    QVector<Reading> done;
    for (int from = 0; from < all.size();) {
        int unlisted = -1;
        done = runSeries(all.mid(from), done, show, goOn, true, &unlisted);
        m_last.readings = done;
        if (unlisted < 0)
            break;
        const Reading &r = done[from + unlisted];
        if (r.ok()) {
            // A value no list has ends the poll, now that nothing can come to
            // say it was another register's; the read it ended is not shown.
            const Point &point = *r.point;
            m_last.readings = done.mid(0, from + unlisted);
            throw LinkError(QStringLiteral("读回的%1 %2 不是列表中的选项（应为 0～%3），召测中止。")
                                .arg(point.name())
                                .arg(r.result.value)
                                .arg(point.listTexts().size() - 1));
        }
        // It was another register's answer: the poll goes on after it.
        from += unlisted + 1;
    }
    PollResult result;
    result.readings = done;
    result.failures = int(std::count_if(done.begin(), done.end(), [](const Reading &r) { return !r.ok(); }));
    m_last = result;
    return result;
}

QVector<Reading> ModuleClient::read(const QVector<int> &positions, const std::function<void()> &before)
{
    m_last = {};
    if (before)
        before();
    // The caller may stop between exchanges: before each read after the
    // first, and nothing goes out ahead of it.
    const auto between = [&before, &positions](int k, const Reading &) {
        if (before && k + 1 < positions.size())
            before();
    };
    int unlisted = -1;
    const QVector<Reading> out = runSeries(positions, {}, between, {}, false, &unlisted);
    m_last.readings = out;
    if (unlisted >= 0 && out[unlisted].ok()) {
        const Point &point = *out[unlisted].point;
        m_last.readings = out.mid(0, unlisted);
        throw LinkError(QStringLiteral("读回的%1 %2 不是列表中的选项（应为 0～%3），读取中止。")
                            .arg(point.name())
                            .arg(out[unlisted].result.value)
                            .arg(point.listTexts().size() - 1));
    }
    return out;
}

QVector<WriteResult> ModuleClient::apply(const Setting &setting, const QVector<quint16> &values,
                                         const std::function<void(int, const WriteResult &)> &each)
{
    QVector<WriteResult> results;
    for (int i = 0; i < setting.registers.size() && i < values.size(); ++i) {
        results << m_link.writeRegister(setting.registers[i], values[i]);
        if (each)
            each(i, results.last());
    }
    return results;
}

WriteResult ModuleClient::reset(const ResetChoice &choice)
{
    return m_link.writeRegister(m_def.resetRegister, choice.code);
}

} // namespace hv52
