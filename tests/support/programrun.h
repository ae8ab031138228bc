#pragma once
// A program the tests run to its end: its exit status (-1 when it did not
// end normally) and what it printed.
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>

namespace hv52test {

struct Result
{
    int status = -1;
    QString out;
    QString err;
    QJsonObject json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
};

// Waits up to `timeoutMs` for the program, killed after that.
inline Result finish(QProcess &p, int timeoutMs)
{
    if (!p.waitForFinished(timeoutMs))
        p.kill();
    p.waitForFinished();
    Result r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

} // namespace hv52test
