#include "tcptransport.h"
#include "linkerror.h"
#include "systemtext.h"

#include <QEventLoop>
#include <QNetworkProxy>
#include <QTimer>

namespace hv52 {

TcpTransport::TcpTransport(QObject *parent) : Transport(parent)
{
    connect(&m_socket, &QTcpSocket::readyRead, this, &Transport::readyRead);
    connect(&m_socket, &QTcpSocket::errorOccurred, this, &TcpTransport::onError);
    // A device server or gateway on the plant network is reached directly:
    // no proxy of the desktop's settings stands between, nor is looked up.
    m_socket.setProxy(QNetworkProxy::NoProxy);
    // A peer that floods the connection is held back by TCP itself once
    // this much waits unread, instead of filling the memory.
    m_socket.setReadBufferSize(64 * 1024);
}

TcpTransport::~TcpTransport()
{
    m_socket.disconnect(this);
    close();
}

void TcpTransport::configure(const QString &host, quint16 port, Framing framing, int connectTimeoutMs)
{
    m_host = host;
    m_port = port;
    m_framing = framing;
    m_connectTimeoutMs = connectTimeoutMs;
}

QString TcpTransport::label() const
{
    // An IPv6 address in brackets, so that its port stays apart.
    return m_host.contains(u':') ? QStringLiteral("[%1]:%2").arg(m_host).arg(m_port)
                                 : QStringLiteral("%1:%2").arg(m_host).arg(m_port);
}

void TcpTransport::open()
{
    close();
    clearFailure();
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    bool timedOut = false;
    const auto done = connect(&m_socket, &QTcpSocket::connected, &loop, &QEventLoop::quit);
    const auto refused = connect(&m_socket, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
    connect(&limit, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    m_socket.connectToHost(m_host, m_port);
    if (m_socket.state() != QAbstractSocket::ConnectedState && m_socket.state() != QAbstractSocket::UnconnectedState) {
        limit.start(m_connectTimeoutMs);
        loop.exec();
    }
    disconnect(done);
    disconnect(refused);
    if (m_socket.state() == QAbstractSocket::ConnectedState) {
        // Small frames go out at once, not gathered for a later packet.
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_connected = true;
        emit opened();
        return;
    }
    const QAbstractSocket::SocketError error = m_socket.error();
    const QString text = m_socket.errorString();
    m_socket.abort();
    if (timedOut)
        throw LinkError(LinkError::Kind::ConnectTimeout, place().withNumber(m_connectTimeoutMs));
    if (error == QAbstractSocket::ConnectionRefusedError)
        throw LinkError(LinkError::Kind::ConnectRefused, place());
    if (error == QAbstractSocket::HostNotFoundError)
        throw LinkError(LinkError::Kind::HostNotFound, place());
    if (error == QAbstractSocket::NetworkError)
        throw LinkError(LinkError::Kind::NetworkUnreachable, place());
    throw LinkError(LinkError::Kind::ConnectFailed, place().withReason(systemErrorText(text)));
}

void TcpTransport::close()
{
    if (!m_connected) {
        m_socket.abort();
        return;
    }
    m_connected = false;
    m_socket.abort(); // nothing of ours is left to send: the answer decides
    emit closed();
}

bool TcpTransport::isOpen() const
{
    return m_connected && m_socket.state() == QAbstractSocket::ConnectedState;
}

bool TcpTransport::write(const QByteArray &bytes)
{
    // A connection closed by the far end between exchanges is already the
    // reason; a write to the closed socket is not tried.
    if (!m_socket.isOpen() || m_socket.state() != QAbstractSocket::ConnectedState) {
        if (!failure())
            fail(LinkError::Kind::ConnectionLost, place());
        return false;
    }
    if (m_socket.write(bytes) == bytes.size()) {
        m_socket.flush();
        return true;
    }
    if (!failure())
        fail(LinkError::Kind::ConnectionWriteFailed, place().withReason(systemErrorText(m_socket.errorString())));
    return false;
}

bool TcpTransport::waitForBytes(int ms)
{
    return m_connected && m_socket.waitForReadyRead(ms);
}

void TcpTransport::clear()
{
    if (m_socket.isOpen())
        m_socket.readAll();
}

void TcpTransport::onError(QAbstractSocket::SocketError error)
{
    if (!m_connected)
        return; // open() names its own failures
    if (error == QAbstractSocket::SocketTimeoutError)
        return; // a wait for bytes that ran out: the link's timer decides
    const bool byPeer = error == QAbstractSocket::RemoteHostClosedError;
    const QString reason = byPeer ? QString() : systemErrorText(m_socket.errorString());
    m_connected = false;
    emit closed();
    fail(byPeer ? LinkError::Kind::ConnectionClosedByPeer : LinkError::Kind::ConnectionBroken,
         place().withReason(reason));
}

} // namespace hv52
