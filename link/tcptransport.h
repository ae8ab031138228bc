#pragma once
#include "transport.h"

#include <QTcpSocket>

namespace hv52 {

// A line behind a TCP endpoint: a serial device server that passes RTU frames
// through, or a Modbus TCP gateway (MBAP framing). The connection is made when
// an operation opens the line and closed when it ends.
class TcpTransport : public Transport
{
    Q_OBJECT
public:
    explicit TcpTransport(QObject *parent = nullptr);
    ~TcpTransport() override;

    void configure(const QString &host, quint16 port, Framing framing, int connectTimeoutMs);

    void open() override;
    void close() override;
    bool isOpen() const override;
    bool write(const QByteArray &bytes) override;
    QByteArray readAll() override { return m_socket.isOpen() ? m_socket.readAll() : QByteArray(); }
    void clear() override;
    bool waitForBytes(int ms) override;
    Framing framing() const override { return m_framing; }
    QString label() const override;
    QString lineName() const override { return QStringLiteral("连接 %1").arg(label()); }
    bool isConnection() const override { return true; }

private:
    void onError(QAbstractSocket::SocketError error);

    QTcpSocket m_socket;
    QString m_host;
    quint16 m_port = 0;
    Framing m_framing = Framing::Rtu;
    int m_connectTimeoutMs = 3000;
    bool m_connected = false; // between a made connection and close()
};

} // namespace hv52
