// A module behind a line, in virtual time: the module answers each request
// at once with its own registers; the line may hold an answer (just inside,
// just past or far past the response time, or any time), drop it, garble it,
// split it, join it to the next, and send it again some milliseconds later.
// The judge is driven over it as the link drives it over a port: Flush, Send,
// Wait, in microseconds, with nothing real in between.
#pragma once
#include "dataunit.h"
#include "frames.h"
#include "judge.h"

#include <QHash>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <utility>

namespace hv52model {

using hv52::Judge;

// What the line does to one answer.
struct Fate
{
    qint64 delayUs = 0;    // from the request to the answer's first byte
    bool drop = false;     // never delivered, nor its copy
    bool garble = false;   // one byte damaged (its copy too)
    qint64 splitUs = -1;   // the second half this long after the first, -1: whole
    bool join = false;     // held until the next answer goes, then sent just before it
    qint64 copyLagUs = -1; // sent again this long after it went, -1: once only
    QByteArray trailing;   // bytes that come right after it, in the same piece
    bool refuse = false;   // an exception answer (02, no such register) instead
};

class Line
{
public:
    QHash<quint16, quint16> regs;
    quint8 address = 1;
    // The fate of the answer to the n-th request (0-based) of the line.
    std::function<Fate(int n)> fate;
    // The longest a joined answer waits for the next one.
    qint64 holdLimitUs = 2000 * 1000;
    qint64 now = 0;
    int requests = 0;
    QStringList *trace = nullptr; // when set, what happened, line by line
    void log(const QString &what)
    {
        if (trace)
            *trace << QStringLiteral("%1 ms  %2").arg(now / 1000.0, 9, 'f', 3).arg(what);
    }

    // The module's answer to a request, as the module holds its registers now.
    QByteArray answerTo(const QByteArray &request)
    {
        const quint16 reg = quint16(quint8(request[2]) << 8 | quint8(request[3]));
        if (request[1] == 16) {
            regs[reg] = quint16(quint8(request[7]) << 8 | quint8(request[8]));
            return hv52::frameRtu(address, request.mid(1, 5));
        }
        const bool pair = request[5] == 2;
        QByteArray unit("\x03", 1);
        unit += char(pair ? 4 : 2);
        const quint16 hi = regs.value(reg);
        unit += char(hi >> 8);
        unit += char(hi & 0xFF);
        if (pair) {
            const quint16 lo = regs.value(quint16(reg + 1));
            unit += char(lo >> 8);
            unit += char(lo & 0xFF);
        }
        return hv52::frameRtu(address, unit);
    }

    QVector<qint64> sentAt; // when each request went out

    void send(const QByteArray &request)
    {
        sentAt << now;
        const int n = requests++;
        Fate f = fate ? fate(n) : Fate{};
        QByteArray answer = answerTo(request);
        if (f.refuse)
            answer = hv52::frameRtu(address, QByteArray(1, char(quint8(request[1]) | 0x80)) + char(2));
        log(QStringLiteral("request %1 %2 -> answer %3: delay %4 ms%5%6%7%8%9")
                .arg(n)
                .arg(QString::fromLatin1(request.toHex(' ')))
                .arg(QString::fromLatin1(answer.toHex(' ')))
                .arg(f.delayUs / 1000.0)
                .arg(f.drop ? " dropped" : "")
                .arg(f.garble ? " garbled" : "")
                .arg(f.splitUs >= 0 ? QStringLiteral(" split %1 ms").arg(f.splitUs / 1000.0) : QString())
                .arg(f.join ? " joined" : "")
                .arg(f.copyLagUs >= 0 ? QStringLiteral(" copy %1 ms").arg(f.copyLagUs / 1000.0) : QString()));
        if (f.drop)
            return;
        if (f.garble)
            answer[3] = char(answer[3] ^ 0x10);
        qint64 at = now + f.delayUs;
        // The answers held to go with this one go first, back to back, unless
        // they went alone at the longest a line holds one.
        for (const qint64 order : std::exchange(m_joined, {})) {
            for (Delivery &d : m_pending) {
                if (d.order == order && d.at > at)
                    d.at = at;
            }
        }
        std::stable_sort(m_pending.begin(), m_pending.end(), [](const Delivery &a, const Delivery &b) {
            return a.at != b.at ? a.at < b.at : a.order < b.order;
        });
        if (f.join) {
            m_joined << m_order;
            deliver(now + holdLimitUs, answer);
            return;
        }
        if (f.splitUs >= 0) {
            deliver(at, answer.left(answer.size() / 2));
            deliver(at + f.splitUs, answer.mid(answer.size() / 2) + f.trailing);
        } else {
            deliver(at, answer + f.trailing);
        }
        if (f.copyLagUs >= 0)
            deliver(at + std::max<qint64>(0, f.splitUs) + f.copyLagUs, answer);
    }

    // Everything delivered by now and not yet taken.
    QByteArray take()
    {
        QByteArray out;
        while (!m_pending.isEmpty() && m_pending.first().at <= now) {
            out += m_pending.first().bytes;
            m_pending.removeFirst();
        }
        if (!out.isEmpty())
            log(QStringLiteral("   bytes %1").arg(QString::fromLatin1(out.toHex(' '))));
        return out;
    }
    // When the next bytes come, if ever.
    qint64 nextAt() const { return m_pending.isEmpty() ? std::numeric_limits<qint64>::max() : m_pending.first().at; }

    // Bytes the line brings at a time of its own: noise, a flood.
    void deliver(qint64 at, const QByteArray &bytes)
    {
        const Delivery d{at, m_order++, bytes};
        const auto where =
            std::upper_bound(m_pending.begin(), m_pending.end(), d, [](const Delivery &a, const Delivery &b) {
                return a.at != b.at ? a.at < b.at : a.order < b.order;
            });
        m_pending.insert(where, d);
    }

private:
    struct Delivery
    {
        qint64 at;
        qint64 order;
        QByteArray bytes;
    };
    QVector<Delivery> m_pending;
    QVector<qint64> m_joined; // deliveries held for the next answer
    qint64 m_order = 0;
};

// What one run of the judge over the line gave.
struct Run
{
    QVector<Judge::Read> results;
    bool failed = false; // the line ended the operation (never quiet, a flood)
    int exchanges = 0;
    qint64 endUs = 0;
    // Rows by id, with the verdict they show at the end.
    QHash<quint64, hv52::Verdict> rows;
    QVector<QVector<quint64>> rowsOfRead; // the rows of each read's exchanges
};

// Drives the judge through one series of reads over the line, the way the
// link drives it over a port. `wakeEach`: wake at every delivery (a TCP
// socket, a port without the minimum-read count); otherwise at the bytes the
// judge needs (a terminal with VMIN).
inline Run drive(Judge &judge, Line &line, int reads, bool wakeEach)
{
    Run out;
    out.rowsOfRead.resize(reads);
    QByteArray buffered; // delivered, not yet handed to the judge (VMIN not reached)
    const auto events = [&] {
        for (const Judge::Event &e : judge.takeEvents()) {
            if (line.trace && e.kind != Judge::Event::Stray)
                line.log(QStringLiteral("   %1 %2: %3")
                             .arg(e.kind == Judge::Event::Row ? "row" : "mark")
                             .arg(e.id)
                             .arg(outcomeText(e.verdict)));
            if (e.kind == Judge::Event::Row) {
                out.rows.insert(e.id, e.verdict);
                if (e.read >= 0 && e.read < out.rowsOfRead.size())
                    out.rowsOfRead[e.read] << e.id;
            } else if (e.kind == Judge::Event::Mark)
                out.rows[e.id] = e.verdict;
        }
    };
    int current = -1;
    for (int guard = 0; guard < 100000; ++guard) {
        const Judge::Step step = judge.next(line.now);
        if (line.trace && step.what == Judge::Do::Answered)
            line.log(
                QStringLiteral("   read %1: %2 %3%4")
                    .arg(step.read)
                    .arg(outcomeText(judge.results()[step.read].verdict))
                    .arg(judge.results()[step.read].value)
                    .arg(judge.careful()
                             ? QStringLiteral(" (careful, %1 owed: %2)").arg(judge.owedCount()).arg(judge.owedText())
                             : QStringLiteral(" (%1 owed: %2)").arg(judge.owedCount()).arg(judge.owedText())));
        if (line.trace && step.what == Judge::Do::Wait)
            line.log(QStringLiteral("   wait until %1 ms").arg(step.untilUs / 1000.0));
        events();
        if (step.what == Judge::Do::Done)
            break;
        if (step.what == Judge::Do::Fail) {
            out.failed = true;
            break;
        }
        switch (step.what) {
        case Judge::Do::Flush:
            judge.flushed(buffered + line.take(), line.now);
            buffered.clear();
            break;
        case Judge::Do::Send:
            line.send(step.frame);
            ++out.exchanges;
            judge.sent(line.now);
            break;
        case Judge::Do::Wait: {
            // Up to the deadline, waking when bytes come (or enough of them).
            for (;;) {
                const qint64 at = line.nextAt();
                if (at > step.untilUs) {
                    line.now = std::max(line.now, step.untilUs);
                    buffered += line.take();
                    break;
                }
                line.now = std::max(line.now, at);
                buffered += line.take();
                if (wakeEach || buffered.size() >= step.needed)
                    break;
            }
            if (!buffered.isEmpty()) {
                judge.heard(buffered, line.now);
                buffered.clear();
            }
            break;
        }
        case Judge::Do::Answered:
            current = step.read;
            break;
        default:
            break;
        }
        events();
    }
    Q_UNUSED(current);
    out.results = judge.results();
    out.endUs = line.now;
    return out;
}

inline Run runSeries(Judge &judge, Line &line, const QVector<Judge::Ask> &asks, bool wakeEach = true)
{
    judge.startReads(asks);
    return drive(judge, line, int(asks.size()), wakeEach);
}

// A write already started on the judge, to its end.
inline Run runWrite(Judge &judge, Line &line)
{
    return drive(judge, line, 0, true);
}

} // namespace hv52model
