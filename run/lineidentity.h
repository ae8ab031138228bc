#pragma once
// Whether two network endpoints are one gateway, as a rule without a
// network: the same port and an address in common. Every address of this
// host (a loopback one, or one of its interfaces') is this host, so
// 127.0.0.1, 127.1, localhost, the host's name and ::ffff:127.0.0.1 are one.
#include <QHostAddress>
#include <QList>
#include <QString>
#include <functional>

namespace hv52run {

class LineIdentity
{
public:
    // `own`: this host's addresses, besides the loopback ones.
    explicit LineIdentity(QList<QHostAddress> own = {}) : m_own(std::move(own)) {}

    // Whether two address lists name one host.
    bool sameHost(const QList<QHostAddress> &a, const QList<QHostAddress> &b) const;

private:
    // An address as compared: IPv4 for a mapped one, this host's as one.
    QString identity(const QHostAddress &address) const;
    QList<QHostAddress> m_own;
};

// Every address `host` resolves to (an address as written, or a name
// looked up); empty with `error` set when it resolves to none.
QList<QHostAddress> hostAddresses(const QString &host, QString *error);
// This host's own addresses.
QList<QHostAddress> ownAddresses();

} // namespace hv52run
