#pragma once
// hv52ctl: the module tools' operations from a command line, on the same link
// and module definitions as the windows. Runs without a display.
#include <QString>
#include <QStringList>
#include <exception>

namespace hv52ctl {

// Exit statuses.
enum Status {
    Done = 0,     // everything done
    Failed = 1,   // an exchange failed, or a value did not read back as written
    BadInput = 2, // bad command line or input file: nothing was sent
    NoPort = 3,   // the port could not be opened
};

// A bad command line or input: reported before anything is sent.
class UsageError : public std::exception
{
public:
    explicit UsageError(QString text) : m_text(std::move(text)), m_utf8(m_text.toUtf8()) {}
    const QString &text() const { return m_text; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_text;
    QByteArray m_utf8;
};

// The whole program: arguments as QCoreApplication::arguments() gives them.
// Needs a QCoreApplication. Returns the exit status.
int run(const QStringList &arguments);

// Output: UTF-8, flushed at once so a reader of a pipe sees each line as it
// is printed.
void printOut(const QString &text);
void printErr(const QString &text);

} // namespace hv52ctl
