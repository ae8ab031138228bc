#include "input.h"
#include "kinds.h"
#include "runstatus.h"

#include "analoglimit.h"
#include "linkerror.h"
#include "t516module.h"
#include "t528module.h"
#include "t540module.h"

#include "systemtext.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>

namespace hv52run {

using namespace hv52;

const ModuleDef &moduleNamed(const QString &name)
{
    if (const ModuleKind *kind = moduleKind(name))
        return kind->def();
    throw UsageError(QStringLiteral("未知模块“%1”（应为 %2），请求未发送。").arg(name, kindNames()));
}

namespace {

// A JSON string at `text[start]` (its opening quote), decoded as JSON
// decodes it, escapes and all; `end` receives the position of its closing
// quote.
QString jsonStringAt(const QByteArray &text, qsizetype start, qsizetype *end)
{
    qsizetype i = start + 1;
    for (; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\')
            ++i;
    }
    *end = i;
    return QJsonDocument::fromJson("[" + text.mid(start, i - start + 1) + "]").array().at(0).toString();
}

} // namespace

void walkKeys(const QByteArray &text, const std::function<void(const JsonKey &)> &each,
              const std::function<void(int)> &closed)
{
    // One entry a container open around the position: an object's path and
    // whether a key comes next, an array's path and the item it is in.
    struct Open
    {
        bool object = false;
        QString path;
        int id = 0;
        int item = 0;
        bool expectKey = false;
        QString lastKey;
    };
    QVector<Open> open;
    int objects = 0;
    int line = 1;
    // The path of a value about to start in the innermost container.
    const auto childPath = [&]() -> QString {
        if (open.isEmpty())
            return {};
        const Open &in = open.last();
        if (!in.object)
            return QStringLiteral("%1[%2]").arg(in.path).arg(in.item + 1);
        return in.path.isEmpty() ? in.lastKey : in.path + u'.' + in.lastKey;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
        } else if (c == '{' || c == '[') {
            Open o;
            o.object = c == '{';
            o.path = childPath();
            o.expectKey = o.object;
            if (o.object)
                o.id = objects++;
            open.append(o);
        } else if (c == '}' || c == ']') {
            if (!open.isEmpty()) {
                if (open.last().object && closed)
                    closed(open.last().id);
                open.removeLast();
            }
        } else if (c == ',' && !open.isEmpty()) {
            Open &in = open.last();
            if (in.object)
                in.expectKey = true;
            else
                ++in.item;
        } else if (c == '"') {
            qsizetype end = i;
            const QString string = jsonStringAt(text, i, &end);
            i = end; // a valid string holds no raw line break
            if (!open.isEmpty() && open.last().object && open.last().expectKey) {
                Open &in = open.last();
                in.lastKey = string;
                in.expectKey = false;
                each({childPath(), string, in.id, line});
            }
        }
    }
}

QVector<JsonKey> keysAtEveryDepth(const QByteArray &text)
{
    QVector<JsonKey> keys;
    walkKeys(text, [&keys](const JsonKey &key) { keys.append(key); });
    return keys;
}

QJsonObject jsonObject(const QByteArray &contents, const QString &where)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(contents, &error);
    if (error.error != QJsonParseError::NoError) {
        const int line = int(contents.left(error.offset).count('\n')) + 1;
        throw UsageError(QStringLiteral("%1：不是有效的 JSON（第 %2 行附近：%3），请求未发送。")
                             .arg(where)
                             .arg(line)
                             .arg(error.errorString()));
    }
    if (!doc.isObject())
        throw UsageError(QStringLiteral("%1：应为一个 JSON 对象，请求未发送。").arg(where));
    // QJsonDocument keeps only the last of a key given twice in one object,
    // at whatever depth: the first would be silently dropped. Only the open
    // objects' keys are kept, so a record of a large site costs little.
    QHash<int, QHash<QString, int>> seen; // object -> key -> line
    walkKeys(
        contents,
        [&](const JsonKey &key) {
            QHash<QString, int> &keys = seen[key.object];
            const auto first = keys.constFind(key.name);
            if (first != keys.constEnd())
                throw UsageError(QStringLiteral("%1：条目“%2”出现两次（第 %3 行和第 %4 行），请求未发送。")
                                     .arg(where, key.path)
                                     .arg(*first)
                                     .arg(key.line));
            keys.insert(key.name, key.line);
        },
        [&seen](int object) { seen.remove(object); });
    return doc.object();
}

QVector<Reading> readPoints(Link &link, const ModuleDef &def, const QVector<int> &indices,
                            const std::function<void()> &between)
{
    return ModuleClient(link, def).read(indices, between);
}

std::optional<qint64> wholeNumberText(const QString &text)
{
    // Read by hand: a regular expression would be compiled at every start of
    // the program for the one --port or --address it reads.
    const QString trimmed = text.trimmed();
    QStringView digits(trimmed);
    const bool negative = digits.startsWith(u'-');
    if (negative || digits.startsWith(u'+'))
        digits = digits.mid(1);
    if (digits.isEmpty())
        return std::nullopt;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    while (digits.size() > 1 && digits.front() == u'0')
        digits = digits.mid(1);
    // Beyond 15 digits every number is out of any range we take.
    const qint64 magnitude = digits.size() > 15 ? qint64(1e15) : digits.toLongLong();
    return negative ? -magnitude : magnitude;
}

int wholeNumberIn(const QString &what, const QString &text, int low, int high)
{
    const std::optional<qint64> n = wholeNumberText(text);
    if (!n)
        throw UsageError(
            QStringLiteral("%1“%2”不是整数（应为 %3～%4），请求未发送。").arg(what, text).arg(low).arg(high));
    if (*n < low || *n > high)
        throw UsageError(
            QStringLiteral("%1“%2”超出范围（应为 %3～%4），请求未发送。").arg(what, text).arg(low).arg(high));
    return int(*n);
}

QByteArray readInputFile(const QString &file, qint64 maxBytes)
{
    // Looked at before opening: opening a named pipe would wait for a writer.
    const QFileInfo info(file);
    if (!info.exists())
        throw UsageError(fileReadError(file, QStringLiteral("No such file or directory"))
                         + QStringLiteral("，请求未发送。"));
    if (info.isDir())
        throw UsageError(fileReadError(file, QStringLiteral("Is a directory")) + QStringLiteral("，请求未发送。"));
    if (!info.isFile())
        throw UsageError(
            QStringLiteral("无法读取文件 %1：不是普通文件（设备、管道等不能作为输入文件），请求未发送。").arg(file));
    if (info.size() > maxBytes)
        throw UsageError(QStringLiteral("无法读取文件 %1：文件过大（%2 字节，最多 %3 字节），请求未发送。")
                             .arg(file)
                             .arg(info.size())
                             .arg(maxBytes));
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        throw UsageError(fileReadError(file, in.errorString()) + QStringLiteral("，请求未发送。"));
    // The bound holds also for a file that grows after the look above.
    const QByteArray contents = in.read(maxBytes + 1);
    if (in.error() != QFileDevice::NoError)
        throw UsageError(fileReadError(file, in.errorString()) + QStringLiteral("，请求未发送。"));
    if (contents.size() > maxBytes)
        throw UsageError(
            QStringLiteral("无法读取文件 %1：文件过大（最多 %2 字节），请求未发送。").arg(file).arg(maxBytes));
    return contents;
}

quint16 relayCommandWord(const QString &what, const QString &word)
{
    const QString w = word.trimmed();
    if (kRelayCommandTexts.contains(w))
        return *relayCommandValue(w);
    static const QStringList aliases = {"alarm", "host", "operate", "release"};
    const int alias = int(aliases.indexOf(w.toLower()));
    if (alias >= 0)
        return *relayCommandValue(kRelayCommandTexts[alias]);
    throw UsageError(QStringLiteral("%1“%2”不是控制方式（应为 %3，或 alarm、host、operate、release），请求未发送。")
                         .arg(what, word, kRelayCommandTexts.join(QStringLiteral("、"))));
}

int signalTypeWord(const QString &what, const QString &word)
{
    // "4-20 mA", "4-20mA", "4-20MA" alike: blanks and case carry nothing.
    const auto plain = [](QString t) { return t.remove(QRegularExpression(QStringLiteral("\\s"))).toLower(); };
    for (int i = 0; i < kSignalTypeTexts.size(); ++i) {
        if (plain(word) == plain(kSignalTypeTexts[i]))
            return i;
    }
    throw UsageError(QStringLiteral("%1“%2”不是信号类型（应为 \"4-20 mA\"、\"0- 5 V\"，或 4-20mA、0-5V），请求未发送。")
                         .arg(what, word));
}

int sourceWord(const QString &what, const QString &word)
{
    const QString w = word.trimmed();
    const int i = int(kSourceQuantityTexts.indexOf(w));
    if (i >= 0)
        return i;
    const std::optional<qint64> n = wholeNumberText(w);
    if (n && *n >= 0 && *n < kSourceQuantityTexts.size())
        return int(*n);
    throw UsageError(QStringLiteral("%1“%2”不是参数选择列表中的文字或序号（%3%4～%5），请求未发送。")
                         .arg(what, word, n ? QStringLiteral("超出范围，应为 ") : QString())
                         .arg(0)
                         .arg(kSourceQuantityTexts.size() - 1));
}

quint16 limitWord(const QString &what, const QString &text, int source)
{
    try {
        return limitRegisterValue(what, text, limitScale(source));
    } catch (const LinkError &e) {
        throw UsageError(e.text());
    }
}

QVector<int> pollIndices(const ModuleDef &def, const Setting &setting)
{
    QVector<int> out;
    for (quint16 reg : setting.registers) {
        for (int i = 0; i < def.poll.size(); ++i) {
            if (def.poll[i].address == reg)
                out << i;
        }
    }
    return out;
}

QVector<const Setting *> readableSettings(const ModuleDef &def)
{
    QVector<const Setting *> out;
    for (const Setting &s : def.settings) {
        if (pollIndices(def, s).size() == s.registers.size())
            out << &s;
    }
    return out;
}

QVector<Planned> plannedFromFile(const ModuleDef &def, const QByteArray &contents, const QString &file)
{
    const QJsonObject object = jsonObject(contents, QStringLiteral("文件 %1").arg(file));
    const auto bad = [&](const QString &text) { return UsageError(QStringLiteral("文件 %1：%2").arg(file, text)); };

    const QJsonValue module = object.value(QStringLiteral("module"));
    if (!module.isString())
        throw bad(QStringLiteral("缺少条目 module（应为 \"%1\"），请求未发送。").arg(def.name));
    if (module.toString() != def.name)
        throw bad(QStringLiteral("条目 module 为 \"%1\"，与命令中的模块 %2 不符，请求未发送。")
                      .arg(module.toString(), def.name));
    const QJsonValue failures = object.value(QStringLiteral("failures"));
    if (!failures.isUndefined() && !(failures.isObject() && failures.toObject().isEmpty()))
        throw bad(QStringLiteral("条目 failures 列有读取失败的值，这样的文件不能写入，请求未发送。"));

    const QVector<const Setting *> settings = readableSettings(def);
    QSet<QString> settable;
    for (const Setting *s : settings) {
        for (int i : pollIndices(def, *s))
            settable << def.poll[i].key;
    }
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString key = it.key();
        if (key == u"module" || key == u"failures" || settable.contains(key))
            continue;
        // The other values of read --json (counts, states) cannot be written;
        // they may stand in the file and are left alone.
        if (std::any_of(def.poll.begin(), def.poll.end(), [&](const Point &p) { return p.key == key; }))
            continue;
        throw bad(QStringLiteral("未知条目“%1”（%2 的可写条目：%3），请求未发送。")
                      .arg(key, def.name, QStringList(settable.begin(), settable.end()).join(QStringLiteral("、"))));
    }

    QVector<Planned> planned;
    for (const Setting *s : settings) {
        const QVector<int> indices = pollIndices(def, *s);
        QStringList present, missing;
        for (int i : indices)
            (object.contains(def.poll[i].key) ? present : missing) << def.poll[i].key;
        if (present.isEmpty())
            continue;
        if (!missing.isEmpty()) {
            throw bad(QStringLiteral("缺少条目 %1（%2 的 %3 个值一起写入），请求未发送。")
                          .arg(missing.join(QStringLiteral("、")), s->name)
                          .arg(indices.size()));
        }
        Planned p{s, {}};
        int source = 0;
        for (int i : indices) {
            const Point &point = def.poll[i];
            const QJsonValue v = object.value(point.key);
            const QString what = QStringLiteral("条目 %1（%2）").arg(point.key, point.caption());
            if (v.isNull())
                throw bad(QStringLiteral("%1为 null（读取失败的值不能写入），请求未发送。").arg(what));
            QString text;
            if (v.isString())
                text = v.toString();
            else if (v.isDouble() && (point.show == Show::Limit || point.show == Show::Source))
                // The shortest text that reads back as this double: what was typed.
                text = QString::number(v.toDouble(), 'f', QLocale::FloatingPointShortest);
            else
                throw bad(QStringLiteral("%1的值类型不对（应为%2），请求未发送。")
                              .arg(what, point.show == Show::Limit ? QStringLiteral("数字") : QStringLiteral("文字")));
            try {
                switch (point.show) {
                case Show::RelayCommand:
                    p.values << relayCommandWord(what, text);
                    break;
                case Show::SignalType:
                    p.values << quint16(signalTypeWord(what, text));
                    break;
                case Show::Source:
                    source = sourceWord(what, text);
                    p.values << quint16(source);
                    break;
                case Show::Limit:
                    p.values << limitWord(what, text, source);
                    break;
                default:
                    throw UsageError(QStringLiteral("%1不能写入，请求未发送。").arg(what));
                }
            } catch (const UsageError &e) {
                throw bad(e.text());
            }
        }
        planned << p;
    }
    return planned;
}

} // namespace hv52run
