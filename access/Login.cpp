#include "app/Monitor.h"

#include "access/Answers.h"
#include "access/Http.h"
#include "app/Text.h"
#include "campus/Campus.h"
#include "settings/Login.h"
#include "settings/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QThread>
#include <QTimer>

#include <optional>

namespace {

// A form post to the login server: its answer, or nothing when none came (LoginMessage then holds the
// error text of a failed exchange; one that could not start leaves it as it was).
std::optional<QByteArray> PostToLoginServer(const QByteArray &body)
{
    const HttpResult result = HttpRequest(Campus::LoginURL, &body);
    if (result.outcome == HttpOutcome::Failed)
        LoginMessage = result.error;
    if (result.outcome != HttpOutcome::Completed)
        return std::nullopt;
    return LoginAnswer;
}

} // namespace

void TFrmMonitor::FollowKeepAliveSetting()
{
    if (FrmSettings->boxKeepAlive->isChecked())
        tKeepAlive->start();
    else
        tKeepAlive->stop();
}

void TFrmMonitor::RestartIfRunning(QTimer *timer)
{
    if (timer->isActive()) {
        timer->stop();
        timer->start();
    }
}

bool TFrmMonitor::BeginAccess()
{
    if (m_accessBusy)
        return false;
    m_accessBusy = true;
    return true;
}

void TFrmMonitor::EndAccess()
{
    m_accessBusy = false;
    // A limit passed during another operation acts once that one has ended.
    if (m_limitActionPending) {
        m_limitActionPending = false;
        RunLimitAction();
    }
}

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
    LoginID = Text::fixedField(Text::toCp1252(FrmSettings->editLoginID->text()));
    Password = Text::fixedField(Text::toCp1252(FrmSettings->editPassword->text()));
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
    // Encoded as form fields must be, so "&", "=", "+" and "%" in a password reach the server as typed.
    QByteArray body =
        "username=" + Http::formEncode(loginId) + "&password=" + Http::formEncode(password) + "&action=Login";
    if (statisticUrl)
        body += "&ShowTraffic=1";
    const std::optional<QByteArray> answer = PostToLoginServer(body);
    if (!answer)
        return 1;
    const AnswerPage page = ParseAnswerPage(*answer);
    LoginMessage = page.message;
    if (page.title == "Authentisierung gelungen") {
        if (statisticUrl)
            *statisticUrl = Answers::StatisticAddress(*answer);
        return 0;
    }
    if (page.title == "Authentisierung fehlgeschlagen")
        return 2;
    if (page.title == "Account gesperrt") {
        LoginMessage = Answers::WithDaysUntilUnblocked(LoginMessage);
        return 3;
    }
    return 1;
}

int TFrmMonitor::DoLogout()
{
    const std::optional<QByteArray> answer = PostToLoginServer("action=Logout");
    if (!answer)
        return 1;
    const AnswerPage page = ParseAnswerPage(*answer);
    LoginMessage = page.message;
    return page.title == "Logout erfolgreich" ? 0 : 2;
}

void TFrmMonitor::SetLoggedIn(bool state)
{
    // The newest call wins: an older one that resumes after its address query writes nothing back.
    const quint64 generation = ++m_stateGeneration;
    miLogInOut->setText(state ? QStringLiteral("Logout") : QStringLiteral("Login"));
    if (state != LoggedIn) {
        if (state) {
            const QByteArray address = GetExternalIP();
            if (generation != m_stateGeneration)
                return;
            ExternalIP = address;
        } else {
            ExternalIP = "?.?.?.?";
        }
        UpdateTrayTip();
    }
    if (!state)
        tDisconnected->stop();
    LoggedIn = state;
    miStatistic->setEnabled(state && FrmStatistic != nullptr);
}

void TFrmMonitor::miLogInOutClick()
{
    LogInOut();
}

TFrmMonitor::AccessResult TFrmMonitor::LogInOut()
{
    if (!BeginAccess())
        return {};
    AccessResult outcome{true, false};

    if (LoggedIn) {
        if (DoLogout() != 0) {
            ShowBalloon(3, QStringLiteral("Logout Fehler"), Text::fromCp1252(LoginMessage));
        } else if (IsOnline()) {
            ShowBalloon(3, QStringLiteral("Logout Fehler"), QStringLiteral("Logout-Server interner Fehler."));
        } else {
            SetLoggedIn(false);
            ShowBalloon(1, QStringLiteral("Logout erfolgreich"), QStringLiteral("Sie sind jetzt offline."));
            FollowKeepAliveSetting();
            outcome.succeeded = true;
        }
        EndAccess();
        return outcome;
    }

    int result = 1;
    bool asked = true;
    if (!Password.isEmpty()) {
        result = DoLogin(LoginID, Password);
    } else {
        FrmLogin->editLoginID->setText(Text::fromCp1252(LoginID));
        FrmLogin->editPassword->setText(Text::fromCp1252(Password));
        asked = FrmLogin->exec() == 1;
        if (asked)
            result = DoLogin(Text::toCp1252(FrmLogin->editLoginID->text()),
                             Text::toCp1252(FrmLogin->editPassword->text()));
    }
    if (!asked) {
        // Declined: nothing was sent and nothing is shown.
    } else if (result == 0) {
        QThread::msleep(1500);
        if (IsOnline()) {
            SetLoggedIn(true);
            RestartIfRunning(tDisconnected);
            ShowBalloon(1, QStringLiteral("Login erfolgreich"), QStringLiteral("Sie sind jetzt online."));
            // Staying online means watching the connection from now on.
            FollowKeepAliveSetting();
            outcome.succeeded = true;
        } else {
            ShowBalloon(3, QStringLiteral("Login Fehler"), QStringLiteral("Login-Server interner Fehler."));
        }
    } else if (result == 2) {
        ShowBalloon(3, QStringLiteral("Login Fehler"),
                    QStringLiteral("Überprüfen Sie Ihr LoginID und Passwort."));
    } else {
        ShowBalloon(3, QStringLiteral("Login Fehler"), Text::fromCp1252(LoginMessage));
    }
    EndAccess();
    return outcome;
}
