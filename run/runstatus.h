#pragma once
// How a run ends, and the error of an input refused before anything is sent:
// shared by hv52ctl (its exit statuses) and the line window (its messages).
#include <QByteArray>
#include <QString>
#include <exception>

namespace hv52run {

// A run's end, hv52ctl's exit statuses.
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

} // namespace hv52run
