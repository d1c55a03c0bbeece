#pragma once

#include <QObject>
#include <QString>
#include <deque>
#include <functional>

class QLocalServer;
class QLocalSocket;

// One running instance per user: a lock file decides who is first, and the first instance's local
// socket carries the commands of later starts. A sender waits until its command was carried out.
class Instance : public QObject
{
    Q_OBJECT
public:
    using Handler = std::function<void(quint32 wParam, qint32 lParam)>;

    explicit Instance(const QString &identity = QStringLiteral("ZEPA-Monitor"), QObject *parent = nullptr);
    ~Instance() override;

    // Decides once whether this process is the first instance; the first one listens from here on.
    bool isFirst();

    // Second instance: sends one command and returns once the first instance has carried it out.
    // False when the first instance could not be reached or went away meanwhile.
    bool send(quint32 wParam, qint32 lParam);

    // First instance. Commands wait until a handler is set and holding is off, then run one at a time.
    void setHandler(Handler handler);
    void setHolding(bool holding);
    // From here on every command is answered without being carried out.
    void setDiscarding(bool discarding);

    static QString runtimeDirectory();
    QString socketPath() const;

private:
    struct Pending
    {
        QLocalSocket *socket;
        quint32 wParam;
        qint32 lParam;
    };

    bool connectToFirst();
    void onNewConnection();
    void onReadyRead(QLocalSocket *socket);
    void processQueue();
    static void reply(QLocalSocket *socket);

    QString m_identity;
    int m_lockFd = -1;
    int m_decided = -1;
    QLocalServer *m_server = nullptr;
    QLocalSocket *m_client = nullptr;
    Handler m_handler;
    std::deque<Pending> m_queue;
    bool m_holding = true;
    bool m_discarding = false;
    bool m_busy = false;
};
