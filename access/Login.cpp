#include "app/Monitor.h"

#include "app/Text.h"
#include "settings/Login.h"
#include "settings/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QThread>
#include <QTimer>

namespace {

void restartIfRunning(QTimer *timer)
{
    if (timer->isActive()) {
        timer->stop();
        timer->start();
    }
}

} // namespace

void TFrmMonitor::ApplySettings(bool login)
{
    const bool keepAlive = FrmSettings->boxKeepAlive->isChecked();
    const bool autoLogin = FrmSettings->boxAutoLogin->isChecked();
    if (LoggedIn || autoLogin) {
        tKeepAlive->stop();
        if (keepAlive)
            tKeepAlive->start();
    }
    if (LoggedIn) {
        tDisconnected->stop();
        if (!keepAlive)
            tDisconnected->start();
    }
    LoginID = Text::toCp1252(FrmSettings->editLoginID->text());
    Password = Text::toCp1252(FrmSettings->editPassword->text());
    AutoLogout = FrmSettings->boxAutoLogout->isChecked();
    if (!login)
        return;
    SetLoggedIn(IsOnline());
    if (LoggedIn && autoLogin)
        ShowBalloon(1, QStringLiteral("Login unnötig"), QStringLiteral("Sie sind jetzt online."));
    if (!LoggedIn && autoLogin)
        miLogInOutClick();
}

int TFrmMonitor::DoLogin(const QByteArray &loginId, const QByteArray &password, QByteArray *statisticUrl)
{
    // The login exchange comes with the campus access; until then no exchange starts.
    Q_UNUSED(loginId);
    Q_UNUSED(password);
    Q_UNUSED(statisticUrl);
    return 1;
}

int TFrmMonitor::DoLogout()
{
    return 1;
}

void TFrmMonitor::SetLoggedIn(bool state)
{
    miLogInOut->setText(state ? QStringLiteral("Logout") : QStringLiteral("Login"));
    if (state != LoggedIn) {
        ExternalIP = state ? GetExternalIP() : QByteArray("?.?.?.?");
        UpdateTrayTip();
    }
    if (!state)
        tDisconnected->stop();
    LoggedIn = state;
    miStatistic->setEnabled(state && FrmStatistic != nullptr);
}

void TFrmMonitor::miLogInOutClick()
{
    if (LoggedIn) {
        if (DoLogout() != 0) {
            ShowBalloon(3, QStringLiteral("Logout Fehler"), Text::fromCp1252(LoginMessage));
            return;
        }
        if (IsOnline()) {
            ShowBalloon(3, QStringLiteral("Logout Fehler"), QStringLiteral("Logout-Server interner Fehler."));
            return;
        }
        SetLoggedIn(false);
        ShowBalloon(1, QStringLiteral("Logout erfolgreich"), QStringLiteral("Sie sind jetzt offline."));
        if (FrmSettings->boxKeepAlive->isChecked())
            tKeepAlive->start();
        else
            tKeepAlive->stop();
        return;
    }

    int result = 1;
    if (!Password.isEmpty()) {
        result = DoLogin(LoginID, Password);
    } else {
        FrmLogin->editLoginID->setText(Text::fromCp1252(LoginID));
        FrmLogin->editPassword->setText(Text::fromCp1252(Password));
        if (FrmLogin->exec() != 1)
            return;
        result = DoLogin(Text::toCp1252(FrmLogin->editLoginID->text()),
                         Text::toCp1252(FrmLogin->editPassword->text()));
    }
    if (result == 0) {
        QThread::msleep(1500);
        if (IsOnline()) {
            SetLoggedIn(true);
            restartIfRunning(tDisconnected);
            ShowBalloon(1, QStringLiteral("Login erfolgreich"), QStringLiteral("Sie sind jetzt online."));
            tKeepAlive->stop();
        } else {
            ShowBalloon(3, QStringLiteral("Login Fehler"), QStringLiteral("Login-Server interner Fehler."));
        }
    } else if (result == 2) {
        ShowBalloon(3, QStringLiteral("Login Fehler"),
                    QStringLiteral("Überprüfen Sie Ihr LoginID und Passwort."));
    } else {
        ShowBalloon(3, QStringLiteral("Login Fehler"), Text::fromCp1252(LoginMessage));
    }
}
