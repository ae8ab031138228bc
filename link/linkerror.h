#pragma once
#include <QString>
#include <exception>

namespace hv52 {

// An error that ends a button handler on its error path. The text is shown to
// the operator as it stands, so it is always Chinese and names the bad value.
class LinkError : public std::exception
{
public:
    explicit LinkError(QString text) : m_text(std::move(text)), m_utf8(m_text.toUtf8()) {}
    const QString &text() const { return m_text; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_text;
    QByteArray m_utf8;
};

// The operation was ended because its window closed; nothing more is shown.
class Aborted : public std::exception
{
public:
    const char *what() const noexcept override { return "operation aborted"; }
};

} // namespace hv52
