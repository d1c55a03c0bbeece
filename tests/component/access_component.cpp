#include "access/Http.h"
#include "settings/Store.h"
#include "support/Campus.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace {

using AccessTest = CampusTest;

TEST_F(AccessTest, LoginResultCodes)
{
    StartWith("demo", "demo1234");
    struct Case
    {
        const char *id;
        const char *password;
        FailMode::Kind mode;
        int expected;
        const char *messagePart;
    };
    const Case cases[] = {
        {"demo", "demo1234", FailMode::Ok, 0, ""},
        {"demo", "falsch", FailMode::Ok, 2, ""},
        {"nobody", "x", FailMode::Ok, 2, ""},
        {"demo", "demo1234", FailMode::NoMarkers, 1, "Fehler"},
        {"demo", "demo1234", FailMode::ErrorPage, 1, ""},
        {"demo", "demo1234", FailMode::Down, 1, "onnect"},
    };
    for (const Case &c : cases) {
        FailMode mode;
        mode.kind = c.mode;
        servers->setFailMode(Server::Login, mode);
        EXPECT_EQ(FrmMonitor->DoLogin(c.id, c.password), c.expected)
            << c.id << " " << c.password << " " << c.mode;
        EXPECT_TRUE(LoginMessage.contains(c.messagePart)) << LoginMessage.constData();
    }
}

TEST_F(AccessTest, BlockedAccountGetsItsDaysAndStatisticsAddressComesOnRequest)
{
    StartWith("demo", "demo1234");
    servers->blockAccount("demo", "812.34", "120");
    EXPECT_EQ(FrmMonitor->DoLogin("demo", "demo1234"), 3);
    EXPECT_TRUE(LoginMessage.endsWith("\n\nTage bis entspeerung: 1")) << LoginMessage.constData();
    servers->unblockAccount("demo");

    QByteArray url = "untouched";
    EXPECT_EQ(FrmMonitor->DoLogin("demo", "falsch", &url), 2);
    EXPECT_EQ(url, QByteArray("untouched"));
    EXPECT_EQ(FrmMonitor->DoLogin("demo", "demo1234", &url), 0);
    EXPECT_TRUE(url.startsWith("http://statistic.")) << url.constData();
    const auto posts = servers->requests(Server::Login);
    EXPECT_EQ(posts.back().formValue("ShowTraffic"), std::optional<std::string>("1"));
    EXPECT_EQ(posts.front().formValue("ShowTraffic"), std::nullopt);
}

TEST_F(AccessTest, PasswordWithFormCharactersArrivesAsTyped)
{
    StartWith("amp", "a&b=c+%");
    EXPECT_EQ(FrmMonitor->DoLogin(FrmMonitor->LoginID, FrmMonitor->Password), 0);
    const auto post = servers->requests(Server::Login).back();
    EXPECT_EQ(post.formValue("password"), std::optional<std::string>("a&b=c+%"));
    EXPECT_EQ(post.body, "username=amp&password=a%26b%3Dc%2B%25&action=Login");
}

TEST_F(AccessTest, LogoutResultCodes)
{
    StartWith("demo", "demo1234");
    ASSERT_EQ(FrmMonitor->DoLogin("demo", "demo1234"), 0);
    const std::pair<FailMode::Kind, int> cases[] = {
        {FailMode::ErrorPage, 2}, {FailMode::Down, 1}, {FailMode::Ok, 0}};
    for (const auto &[kind, expected] : cases) {
        FailMode mode;
        mode.kind = kind;
        servers->setFailMode(Server::Login, mode);
        EXPECT_EQ(FrmMonitor->DoLogout(), expected) << kind;
    }
    EXPECT_EQ(servers->requests(Server::Login).back().body, "action=Logout");
}

TEST_F(AccessTest, TrayItemLogsInAndOutWithItsBalloons)
{
    WriteIntSetting("s_keepalive", 1);
    StartWith("demo", "demo1234");
    FrmMonitor->miLogInOutClick();
    EXPECT_TRUE(FrmMonitor->LoggedIn);
    EXPECT_EQ(balloonTitle(), QStringLiteral("Login erfolgreich"));
    EXPECT_EQ(FrmMonitor->TrayData.dwInfoFlags, 1u);
    EXPECT_EQ(FrmMonitor->miLogInOut->text(), QStringLiteral("Logout"));
    EXPECT_TRUE(FrmMonitor->miStatistic->isEnabled());
    EXPECT_EQ(FrmMonitor->ExternalIP, QByteArray("127.0.0.1"));
    EXPECT_EQ(FrmMonitor->TrayData.szTip, QStringLiteral("ZEPA-Monitor\n10.0.1.23\n127.0.0.1"));
    // Staying online means the connection is watched after a login.
    EXPECT_TRUE(FrmMonitor->tKeepAlive->isActive());

    FrmMonitor->miLogInOutClick();
    EXPECT_FALSE(FrmMonitor->LoggedIn);
    EXPECT_EQ(balloonTitle(), QStringLiteral("Logout erfolgreich"));
    EXPECT_EQ(balloonText(), QStringLiteral("Sie sind jetzt offline."));
    EXPECT_EQ(FrmMonitor->ExternalIP, QByteArray("?.?.?.?"));
    EXPECT_EQ(FrmMonitor->miLogInOut->text(), QStringLiteral("Login"));
    EXPECT_TRUE(FrmMonitor->tKeepAlive->isActive());
}

TEST_F(AccessTest, FailedLoginsAndLogoutsSayWhy)
{
    StartWith("demo", "falsch");
    FrmMonitor->miLogInOutClick();
    EXPECT_EQ(balloonTitle(), QStringLiteral("Login Fehler"));
    EXPECT_EQ(balloonText(), QStringLiteral("Überprüfen Sie Ihr LoginID und Passwort."));
    EXPECT_EQ(FrmMonitor->TrayData.uTimeout, 20000u);

    // Accepted, but the campus host stays silent.
    Echo::setProbeForTesting([](const char *) { return false; });
    FrmMonitor->Password = "demo1234";
    FrmMonitor->miLogInOutClick();
    EXPECT_FALSE(FrmMonitor->LoggedIn);
    EXPECT_EQ(balloonText(), QStringLiteral("Login-Server interner Fehler."));

    // Logged in, and the host still answers after the logout.
    Echo::setProbeForTesting([](const char *) { return true; });
    FrmMonitor->SetLoggedIn(true);
    FrmMonitor->miLogInOutClick();
    EXPECT_TRUE(FrmMonitor->LoggedIn);
    EXPECT_EQ(balloonTitle(), QStringLiteral("Logout Fehler"));
    EXPECT_EQ(balloonText(), QStringLiteral("Logout-Server interner Fehler."));

    FailMode page;
    page.kind = FailMode::ErrorPage;
    servers->setFailMode(Server::Login, page);
    FrmMonitor->miLogInOutClick();
    EXPECT_EQ(balloonTitle(), QStringLiteral("Logout Fehler"));
    EXPECT_EQ(balloonText(), QStringLiteral("Fehler"));
}

TEST_F(AccessTest, DeclinedLoginDialogSendsAndShowsNothing)
{
    StartWith("demo", "");
    const int balloons = FrmMonitor->Tray->balloonCount();
    QTimer::singleShot(200, FrmLogin, [] {
        EXPECT_TRUE(FrmLogin->isVisible());
        EXPECT_TRUE(FrmLogin->editPassword->hasFocus());
        FrmLogin->btnCancel->click();
    });
    FrmMonitor->miLogInOutClick();
    EXPECT_EQ(loginPosts(), 0u);
    EXPECT_EQ(FrmMonitor->Tray->balloonCount(), balloons);
}

TEST_F(AccessTest, ConnectionCheckLogsInAgainAfterADrop)
{
    WriteIntSetting("s_keepalive", 1);
    StartWith("demo", "demo1234");
    FrmMonitor->miLogInOutClick();
    ASSERT_TRUE(FrmMonitor->LoggedIn);
    servers->dropAll();
    FrmMonitor->tKeepAliveTimer();
    EXPECT_TRUE(FrmMonitor->LoggedIn);
    EXPECT_EQ(balloonTitle(), QStringLiteral("Verbindung erneut"));
    EXPECT_EQ(FrmMonitor->TrayData.dwInfoFlags, 3u);
    EXPECT_TRUE(FrmMonitor->tKeepAlive->isActive());

    // Without a stored password nobody is asked and nothing is sent.
    servers->dropAll();
    FrmMonitor->Password.clear();
    const size_t posts = loginPosts();
    FrmMonitor->CheckConnection();
    EXPECT_FALSE(FrmMonitor->LoggedIn);
    EXPECT_EQ(balloonText(), QStringLiteral("Bitte manuell wieder einloggen."));
    EXPECT_EQ(loginPosts(), posts);
}

TEST_F(AccessTest, PublicAddressFromTheSecondServiceAndNeverLongerThanTheField)
{
    StartWith("demo", "demo1234");
    FailMode down;
    down.kind = FailMode::Down;
    servers->setFailMode(Server::Echo1, down);
    EXPECT_EQ(FrmMonitor->GetExternalIP(), QByteArray("127.0.0.1"));
    EXPECT_EQ(servers->requests(Server::Echo2).size(), 1u);
    servers->setFailMode(Server::Echo2, down);
    EXPECT_EQ(FrmMonitor->GetExternalIP(), QByteArray("?.?.?.?"));
    // An answer of the first service that is no address: the second is not asked.
    FailMode page;
    page.kind = FailMode::ErrorPage;
    servers->setFailMode(Server::Echo1, page);
    const size_t asked = servers->requests(Server::Echo2).size();
    EXPECT_EQ(FrmMonitor->GetExternalIP(), QByteArray("?.?.?.?"));
    EXPECT_EQ(servers->requests(Server::Echo2).size(), asked);
}

TEST_F(AccessTest, NestedExchangeKeepsTheOuterBodyAndOneAccessRunsAtATime)
{
    StartWith("demo", "demo1234");
    FailMode slow;
    slow.kind = FailMode::Delay;
    slow.seconds = 1;
    servers->setFailMode(Server::Login, slow);
    QByteArray nested;
    int checks = 0;
    QTimer::singleShot(300, FrmMonitor, [&] {
        // An exchange of its own inside the login, and a check that must not start a second login.
        nested = FrmMonitor->GetExternalIP();
        FrmMonitor->CheckConnection();
        ++checks;
    });
    FrmMonitor->miLogInOutClick();
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(nested, QByteArray("127.0.0.1"));
    EXPECT_TRUE(FrmMonitor->LoggedIn);
    EXPECT_EQ(balloonTitle(), QStringLiteral("Login erfolgreich"));
    EXPECT_EQ(loginPosts(), 1u);
}

TEST_F(AccessTest, StalledOrEndlessServerEndsTheExchangeWhileTheGuiRuns)
{
    StartWith("demo", "demo1234");
    Http::setStallSecondsForTesting(2);
    FailMode stall;
    stall.kind = FailMode::Stall;
    servers->setFailMode(Server::Login, stall);

    QElapsedTimer clock;
    qint64 last = 0;
    qint64 largestGap = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        largestGap = std::max(largestGap, clock.elapsed() - last);
        last = clock.elapsed();
    });
    tick.start(10);
    clock.start();
    EXPECT_EQ(FrmMonitor->DoLogin("demo", "demo1234"), 1);
    const qint64 took = clock.elapsed();
    tick.stop();
    EXPECT_LT(took, 10000);
    EXPECT_FALSE(LoginMessage.isEmpty());
    EXPECT_LT(largestGap, 200) << "the GUI stood still during the exchange";

    FailMode huge;
    huge.kind = FailMode::Huge;
    servers->setFailMode(Server::Login, huge);
    EXPECT_EQ(FrmMonitor->DoLogin("demo", "demo1234"), 1);
    EXPECT_TRUE(LoginMessage.contains("zu gro")) << LoginMessage.constData();
    Http::setStallSecondsForTesting(Http::StallSeconds);
    servers->setFailMode(Server::Login, FailMode{});
}

} // namespace
