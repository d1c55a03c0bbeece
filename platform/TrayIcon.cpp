#include "platform/TrayIcon.h"

#include <QSystemTrayIcon>
#include <QTextDocument>

TrayIcon::TrayIcon(QObject *parent) : QObject(parent), m_icon(new QSystemTrayIcon(this))
{
    connect(m_icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { onActivated(int(reason)); });
    connect(m_icon, &QSystemTrayIcon::messageClicked, this, &TrayIcon::onMessageClicked);
}

TrayIcon::~TrayIcon() = default;

QString TrayIcon::plain(const QString &text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpacePre) : text;
}

void TrayIcon::notify(Command command, const NotifyIconData &data)
{
    if (command == NIM_DELETE) {
        m_icon->hide();
        m_added = false;
        return;
    }
    if (command == NIM_MODIFY && !m_added)
        return;
    const quint32 flags = data.uFlags;
    if (flags & Tray::NIF_MESSAGE)
        m_callback = data.uCallbackMessage;
    if (flags & Tray::NIF_ICON)
        m_icon->setIcon(data.hIcon);
    if (flags & Tray::NIF_TIP)
        m_icon->setToolTip(plain(data.szTip));
    if (command == NIM_ADD) {
        m_icon->show();
        m_added = true;
    }
    if (flags & Tray::NIF_INFO) {
        QSystemTrayIcon::MessageIcon icon = QSystemTrayIcon::NoIcon;
        switch (data.dwInfoFlags) {
        case Tray::NIIF_INFO:
            icon = QSystemTrayIcon::Information;
            break;
        case Tray::NIIF_WARNING:
            icon = QSystemTrayIcon::Warning;
            break;
        case Tray::NIIF_ERROR:
            icon = QSystemTrayIcon::Critical;
            break;
        default:
            break;
        }
        m_lastBalloon = {data.szInfoTitle, data.szInfo, data.dwInfoFlags, int(data.uTimeout)};
        ++m_balloonCount;
        m_icon->showMessage(plain(data.szInfoTitle), plain(data.szInfo), icon, int(data.uTimeout));
    }
}

QString TrayIcon::shownTip() const
{
    return m_icon->toolTip();
}

void TrayIcon::onActivated(int reason)
{
    switch (QSystemTrayIcon::ActivationReason(reason)) {
    case QSystemTrayIcon::DoubleClick:
        emit trayEvent(m_callback, Tray::WM_LBUTTONDBLCLK);
        break;
    case QSystemTrayIcon::Context:
        emit trayEvent(m_callback, Tray::WM_RBUTTONDOWN);
        break;
    default:
        break;
    }
}

void TrayIcon::onMessageClicked()
{
    emit trayEvent(m_callback, Tray::NIN_BALLOONUSERCLICK);
}
