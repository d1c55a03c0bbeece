#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <functional>

class QSystemTrayIcon;

// The icon record as the program keeps it; TrayIcon::notify hands it to the desktop's tray.
struct NotifyIconData
{
    quint32 cbSize = 0;
    quint32 uID = 0;
    quint32 uFlags = 0;
    quint32 uCallbackMessage = 0;
    QIcon hIcon;
    QString szTip;
    QString szInfo;
    quint32 uTimeout = 0;
    QString szInfoTitle;
    quint32 dwInfoFlags = 0;
};

namespace Tray {
inline constexpr quint32 NIF_MESSAGE = 0x01;
inline constexpr quint32 NIF_ICON = 0x02;
inline constexpr quint32 NIF_TIP = 0x04;
inline constexpr quint32 NIF_INFO = 0x10;

inline constexpr quint32 NIIF_INFO = 1;
inline constexpr quint32 NIIF_WARNING = 2;
inline constexpr quint32 NIIF_ERROR = 3;

inline constexpr quint32 WM_LBUTTONDBLCLK = 0x0203;
inline constexpr quint32 WM_RBUTTONDOWN = 0x0204;
inline constexpr quint32 NIN_BALLOONUSERCLICK = 0x0405;

inline constexpr int TipSize = 128;
inline constexpr int InfoSize = 256;
inline constexpr int InfoTitleSize = 64;
} // namespace Tray

// A status-notifier or XEmbed tray icon driven by the record, with the tray's events reported as
// (callback message, event) pairs.
class TrayIcon : public QObject
{
    Q_OBJECT
public:
    enum Command
    {
        NIM_ADD,
        NIM_MODIFY,
        NIM_DELETE
    };

    explicit TrayIcon(QObject *parent = nullptr);
    ~TrayIcon() override;

    void notify(Command command, const NotifyIconData &data);
    bool isAdded() const { return m_added; }

    // What the tray host got last, for tests without a tray host.
    QString shownTip() const;
    struct Balloon
    {
        QString title;
        QString text;
        quint32 kind = 0;
        int timeout = 0;
    };
    const Balloon &lastBalloon() const { return m_lastBalloon; }
    int balloonCount() const { return m_balloonCount; }

    // Texts from servers are shown as they are, never as markup.
    static QString plain(const QString &text);

signals:
    void trayEvent(quint32 callbackMessage, quint32 event);

private:
    void onActivated(int reason);
    void onMessageClicked();

    QSystemTrayIcon *m_icon = nullptr;
    quint32 m_callback = 0;
    bool m_added = false;
    Balloon m_lastBalloon;
    int m_balloonCount = 0;
};
