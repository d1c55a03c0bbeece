#include "app/Monitor.h"

#include "campus/Campus.h"
#include "platform/Echo.h"

#include <QTimer>

bool TFrmMonitor::IsOnline()
{
    // The tray goes back to the state it was in: a dialog may have disabled it.
    const bool wasEnabled = TrayData.uCallbackMessage == WM_TRAY_NOTIFY;
    SetTrayEnabled(false);
    const bool online = Echo::probe(Campus::CampusReferenceHost, 100);
    SetTrayEnabled(wasEnabled);
    return online;
}

QByteArray TFrmMonitor::GetExternalIP()
{
    // The echo services are asked once the campus access can make exchanges.
    return QByteArray("?.?.?.?");
}

void TFrmMonitor::CheckConnection()
{
    bool online = IsOnline();
    if (!online) {
        SetLoggedIn(false);
        if (!Password.isEmpty()) {
            online = DoLogin(LoginID, Password) == 0;
            if (online)
                ShowBalloon(3, QStringLiteral("Verbindung erneut"),
                            QStringLiteral("Sie sind jetzt wieder online."));
            else
                ShowBalloon(3, QStringLiteral("Verbindung unterbrochen"),
                            QStringLiteral("Wieder einloggen war nicht möglich."));
        } else {
            ShowBalloon(3, QStringLiteral("Verbindung unterbrochen"),
                        QStringLiteral("Bitte manuell wieder einloggen."));
        }
    }
    SetLoggedIn(online);
}

void TFrmMonitor::tKeepAliveTimer()
{
    CheckConnection();
}

void TFrmMonitor::tDisconnectedTimer()
{
    SetLoggedIn(false);
}
