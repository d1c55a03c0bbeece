#include "platform/Instance.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int MessageSize = 8;

QByteArray encode(quint32 wParam, qint32 lParam)
{
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out << wParam << lParam;
    return data;
}

} // namespace

Instance::Instance(const QString &identity, QObject *parent) : QObject(parent), m_identity(identity) {}

Instance::~Instance()
{
    if (m_server)
        m_server->close();
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString Instance::runtimeDirectory()
{
    QString dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!dir.isEmpty() && QDir(dir).exists())
        return dir;
    // No runtime directory: a private one of our own, never shared with other users.
    dir = QDir::tempPath() + QStringLiteral("/zepa-monitor-%1").arg(::getuid());
    const QByteArray path = QFile::encodeName(dir);
    ::mkdir(path.constData(), 0700);
    struct stat st = {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return QDir::homePath();
    ::chmod(path.constData(), 0700);
    return dir;
}

QString Instance::socketPath() const
{
    return runtimeDirectory() + QLatin1Char('/') + m_identity;
}

bool Instance::connectToFirst()
{
    if (!m_client)
        m_client = new QLocalSocket(this);
    m_client->connectToServer(socketPath());
    if (m_client->waitForConnected(2000))
        return true;
    m_client->abort();
    return false;
}

bool Instance::isFirst()
{
    if (m_decided >= 0)
        return m_decided == 1;

    const QByteArray lockPath = QFile::encodeName(socketPath() + QStringLiteral(".lock"));
    m_lockFd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);

    // The lock decides between simultaneous first starts; the kernel drops it when its holder dies, so a
    // killed instance leaves nothing behind that blocks the next start.
    for (int attempt = 0;; ++attempt) {
        if (connectToFirst()) {
            m_decided = 0;
            return false;
        }
        if (m_lockFd < 0 || ::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0)
            break;
        // Another process holds the lock and is about to listen.
        if (attempt > 600) {
            m_decided = 0;
            return false;
        }
        QThread::msleep(50);
    }

    // A socket file left by a killed instance: no one answered on it, and we hold the lock.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->listen(socketPath());
    connect(m_server, &QLocalServer::newConnection, this, &Instance::onNewConnection);
    m_decided = 1;
    return true;
}

bool Instance::send(quint32 wParam, qint32 lParam)
{
    if (!m_client || m_client->state() != QLocalSocket::ConnectedState) {
        if (!connectToFirst())
            return false;
    }
    m_client->write(encode(wParam, lParam));
    if (!m_client->waitForBytesWritten(-1))
        return false;
    // No time-out: the first instance may be showing a dialog for this command.
    while (m_client->bytesAvailable() < 1) {
        if (!m_client->waitForReadyRead(-1))
            return false;
    }
    m_client->read(1);
    return true;
}

void Instance::setHandler(Handler handler)
{
    m_handler = std::move(handler);
    processQueue();
}

void Instance::setHolding(bool holding)
{
    m_holding = holding;
    processQueue();
}

void Instance::setDiscarding(bool discarding)
{
    m_discarding = discarding;
    processQueue();
}

void Instance::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, [this, socket] {
            std::erase_if(m_queue, [socket](const Pending &p) { return p.socket == socket; });
            socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0)
            onReadyRead(socket);
    }
}

void Instance::onReadyRead(QLocalSocket *socket)
{
    while (socket->bytesAvailable() >= MessageSize) {
        QDataStream in(socket->read(MessageSize));
        quint32 wParam = 0;
        qint32 lParam = 0;
        in >> wParam >> lParam;
        m_queue.push_back({socket, wParam, lParam});
    }
    processQueue();
}

void Instance::reply(QLocalSocket *socket)
{
    if (socket->state() == QLocalSocket::ConnectedState) {
        socket->write("1", 1);
        socket->flush();
    }
}

void Instance::processQueue()
{
    // One command at a time, also when a handler pumps events and a new command arrives meanwhile.
    if (m_busy)
        return;
    m_busy = true;
    while (!m_queue.empty()) {
        if (!m_discarding && (m_holding || !m_handler))
            break;
        const Pending next = m_queue.front();
        m_queue.pop_front();
        if (!m_discarding)
            m_handler(next.wParam, next.lParam);
        // The socket may have gone while the handler ran.
        if (m_server && m_server->findChildren<QLocalSocket *>().contains(next.socket))
            reply(next.socket);
    }
    m_busy = false;
}
