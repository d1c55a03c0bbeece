#include "app/Monitor.h"

#include "access/Answers.h"
#include "access/Http.h"
#include "app/Text.h"
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
    static const QByteArray unknown = "?.?.?.?";
    const HttpResult first = HttpRequest(Campus::IPEchoURL1);
    bool valid = false;
    QByteArray address;
    if (first.outcome == HttpOutcome::NotStarted)
        return unknown;
    if (first.outcome == HttpOutcome::Completed) {
        address = Answers::EchoAddress1(LoginAnswer, &valid);
    } else {
        const HttpResult second = HttpRequest(Campus::IPEchoURL2);
        if (second.outcome != HttpOutcome::Completed)
            return unknown;
        address = Answers::EchoAddress2(LoginAnswer, &valid);
    }
    // The field holds 31 characters; a longer text is cut, never overrun.
    return valid ? Text::fixedField(address) : unknown;
}

void TFrmMonitor::CheckConnection()
{
    if (!BeginAccess())
        return;
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
        // After a re-login the connection stays watched when the user wants to stay online.
        if (online)
            FollowKeepAliveSetting();
    }
    SetLoggedIn(online);
    EndAccess();
}

void TFrmMonitor::tKeepAliveTimer()
{
    CheckConnection();
}

void TFrmMonitor::tDisconnectedTimer()
{
    SetLoggedIn(false);
}
