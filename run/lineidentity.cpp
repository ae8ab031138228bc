#include "lineidentity.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QSet>

namespace hv52run {

QString LineIdentity::identity(const QHostAddress &address) const
{
    QHostAddress a = address;
    bool mapped = false;
    const quint32 v4 = a.toIPv4Address(&mapped);
    if (mapped)
        a = QHostAddress(v4);
    a.setScopeId(QString());
    if (a.isLoopback() || std::any_of(m_own.begin(), m_own.end(), [&a](const QHostAddress &own) {
            return own.isEqual(a, QHostAddress::ConvertV4MappedToIPv4);
        }))
        return QStringLiteral("this host");
    return a.toString();
}

bool LineIdentity::sameHost(const QList<QHostAddress> &a, const QList<QHostAddress> &b) const
{
    QSet<QString> first;
    for (const QHostAddress &x : a)
        first.insert(identity(x));
    return std::any_of(b.begin(), b.end(), [&](const QHostAddress &y) { return first.contains(identity(y)); });
}

QList<QHostAddress> hostAddresses(const QString &host, QString *error)
{
    QHostAddress literal;
    if (literal.setAddress(host))
        return {literal};
    // A name, or an address in a shorthand (127.1) the system's lookup reads.
    const QHostInfo info = QHostInfo::fromName(host);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty())
        *error = info.errorString();
    return info.addresses();
}

QList<QHostAddress> ownAddresses()
{
    return QNetworkInterface::allAddresses();
}

} // namespace hv52run
