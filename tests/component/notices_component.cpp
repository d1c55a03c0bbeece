#include "app/SaveDialog.h"
#include "support/Campus.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

using NoticeTest = CampusTest;

QByteArray stored()
{
    char buffer[33] = {};
    return ReadBinarySetting("last_rztext", nullptr, buffer, 32) ? QByteArray(buffer, 32)
                                                                 : QByteArray("absent");
}

TEST_F(NoticeTest, NewNoticeIsJudgedByItsFirst32Characters)
{
    StartWith("demo", "demo1234");
    struct Case
    {
        QByteArray shown;   // the notice last shown, or empty for none
        QByteArray current; // the notice fetched now
        bool isNew;
    };
    const QByteArray notice = " RZTEXT Wartung am Montag von 8 bis 12 Uhr";
    const Case cases[] = {
        {"", notice, true},
        {notice, notice, false},
        {notice, notice.left(32) + " ganz anders weiter unten", false},
        {notice, " RZTEXT Wartung am Dienstag", true},
        {" RZTEXT kurz", " RZTEXT kurz und jetzt laenger", true},
        {" RZTEXT kurz", " RZTEXT kurz", false},
        {"", "Fehler:\n\nCould not resolve host", false},
        {"", " RZTEX", false},
    };
    for (const Case &c : cases) {
        Registry::instance().remove(SettingsKey, "last_rztext");
        if (!c.shown.isEmpty()) {
            FrmRZText->NoticeText = c.shown;
            FrmRZText->ShowNotice();
            FrmRZText->hide();
        }
        FrmRZText->NoticeText = c.current;
        EXPECT_EQ(FrmRZText->IsNewNotice(), c.isNew) << c.shown.constData() << " / " << c.current.constData();
    }
    // A short notice is stored zero-padded.
    FrmRZText->NoticeText = " RZTEXT kurz";
    FrmRZText->ShowNotice();
    EXPECT_EQ(stored(), QByteArray(" RZTEXT kurz") + QByteArray(20, '\0'));
}

TEST_F(NoticeTest, AnnouncedOnceAndMarkedAsSeenOnlyWhenShown)
{
    WriteIntSetting("s_autorztext", 1);
    StartWith("demo", "demo1234");
    FrmRZText->CheckAtStart();
    EXPECT_TRUE(FrmRZText->tRZText->isActive());
    EXPECT_EQ(FrmRZText->tRZText->interval(), 3600000);
    EXPECT_EQ(FrmMonitor->TrayData.szInfoTitle, QStringLiteral("RZText"));
    EXPECT_EQ(FrmMonitor->TrayData.szInfo,
              QStringLiteral("Es gibt eine neue RZ Mitteilung.\nBitte hier klicken um es zu lesen."));
    EXPECT_EQ(stored(), QByteArray("absent"));

    // The hourly check announces it again until it was shown; the balloon click shows it.
    const int balloons = FrmMonitor->Tray->balloonCount();
    FrmRZText->tRZTextTimer();
    EXPECT_EQ(FrmMonitor->Tray->balloonCount(), balloons + 1);
    FrmMonitor->Dispatch(WM_TRAY_NOTIFY, 1, Tray::NIN_BALLOONUSERCLICK);
    EXPECT_TRUE(FrmRZText->isVisible());
    EXPECT_TRUE(FrmRZText->eText->toPlainText().startsWith(QStringLiteral(" RZTEXT")));
    EXPECT_TRUE(stored().startsWith(" RZTEXT"));
    FrmRZText->hide();
    FrmRZText->tRZTextTimer();
    EXPECT_EQ(FrmMonitor->Tray->balloonCount(), balloons + 1);

    // A reload shows a new text without marking it as seen.
    servers->setNotice(" RZTEXT Neue Mitteilung \xfc"
                       "ber das Netz");
    FrmRZText->ShowNotice();
    FrmRZText->btnReloadClick();
    EXPECT_EQ(FrmRZText->eText->toPlainText(), QStringLiteral(" RZTEXT Neue Mitteilung über das Netz"));
    EXPECT_TRUE(FrmRZText->IsNewNotice());

    // A click on a balloon with another title, or "RZText" in other letter case, does nothing.
    FrmRZText->hide();
    FrmMonitor->ShowBalloon(1, QStringLiteral("rztext"), QStringLiteral("x"));
    FrmMonitor->Dispatch(WM_TRAY_NOTIFY, 1, Tray::NIN_BALLOONUSERCLICK);
    EXPECT_FALSE(FrmRZText->isVisible());
}

TEST_F(NoticeTest, WithoutTheOptionNothingIsFetchedButTheMenuStillShowsIt)
{
    StartWith("demo", "demo1234");
    FrmRZText->CheckAtStart();
    EXPECT_TRUE(servers->requests(Server::Notice).empty());
    FrmMonitor->miRZTextClick();
    EXPECT_EQ(servers->requests(Server::Notice).size(), 1u);
    EXPECT_TRUE(FrmRZText->isVisible());
    EXPECT_TRUE(stored().startsWith(" RZTEXT"));
}

TEST_F(NoticeTest, FailedFetchIsShownButNeverAnnouncedOrStored)
{
    WriteIntSetting("s_autorztext", 1);
    StartWith("demo", "demo1234");
    FailMode down;
    down.kind = FailMode::Down;
    servers->setFailMode(Server::Notice, down);
    const int balloons = FrmMonitor->Tray->balloonCount();
    FrmRZText->tRZTextTimer();
    EXPECT_TRUE(FrmRZText->NoticeText.startsWith("Fehler:\n\n")) << FrmRZText->NoticeText.constData();
    EXPECT_EQ(FrmMonitor->Tray->balloonCount(), balloons);
    FrmRZText->ShowNotice();
    EXPECT_TRUE(FrmRZText->eText->toPlainText().startsWith(QStringLiteral("Fehler:")));
    EXPECT_EQ(stored(), QByteArray("absent"));
    // An error page with a status is a page like any other, but no notice.
    FailMode page;
    page.kind = FailMode::ErrorPage;
    servers->setFailMode(Server::Notice, page);
    FrmRZText->FetchNotice();
    EXPECT_FALSE(FrmRZText->NoticeText.isEmpty());
    EXPECT_FALSE(FrmRZText->IsNewNotice());
}

TEST_F(NoticeTest, SavedAsUtf8TextAsShown)
{
    StartWith("demo", "demo1234");
    servers->setNotice(" RZTEXT Gr\xfc\xdf"
                       "e\nzweite Zeile");
    FrmMonitor->miRZTextClick();
    const QString path = configDir() + QStringLiteral("/notice.txt");
    SaveDialogForTesting::setNextAnswer(path);
    FrmRZText->btnSaveClick();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(file.readAll()), QStringLiteral(" RZTEXT Grüße\nzweite Zeile\n"));
    // Cancelled: nothing written.
    SaveDialogForTesting::setNextAnswer(QString());
    FrmRZText->btnSaveClick();
}

using StatisticTest = CampusTest;

TEST_F(StatisticTest, ChartInBothModesSizesTheWindow)
{
    StartWith("demo", "demo1234");
    FrmMonitor->miLogInOutClick();
    ASSERT_TRUE(FrmMonitor->miStatistic->isEnabled());
    FrmMonitor->miStatisticClick();
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('|')).toStdString();
    ASSERT_TRUE(FrmStatistic->imStatistic->isVisible());
    const QSize chart = FrmStatistic->imStatistic->pixmap().size();
    EXPECT_EQ(FrmStatistic->size(), QSize(chart.width() + 17, chart.height() + 83));
    EXPECT_TRUE(FrmStatistic->ChartBytes().startsWith("GIF8"));

    FrmStatistic->comMode->setCurrentIndex(1);
    EXPECT_TRUE(FrmStatistic->imStatistic->isVisible());
    const auto charts = servers->requests(Server::Statistic);
    ASSERT_EQ(charts.size(), 2u);
    EXPECT_NE(charts[0].query.find("&Mode=24H"), std::string::npos) << charts[0].query;
    EXPECT_EQ(charts[1].query.find("Mode="), std::string::npos) << charts[1].query;
    // Every fetch is a fresh login that asks for the traffic display.
    const auto logins = servers->requests(Server::Login);
    EXPECT_EQ(logins.back().formValue("ShowTraffic"), std::optional<std::string>("1"));

    const QString path = configDir() + QStringLiteral("/chart.gif");
    SaveDialogForTesting::setNextAnswer(path);
    FrmStatistic->btnSaveClick();
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), FrmStatistic->ChartBytes());
}

TEST_F(StatisticTest, FailuresEndWithAMessageAndNoChart)
{
    StartWith("demo", "demo1234");
    FrmMonitor->miLogInOutClick();
    ASSERT_TRUE(FrmMonitor->LoggedIn);
    struct Case
    {
        Server server;
        FailMode::Kind kind;
        const char *messagePart;
    };
    const Case cases[] = {
        {Server::Statistic, FailMode::ErrorPage, "GIF"}, {Server::Statistic, FailMode::NoMarkers, "GIF"},
        {Server::Statistic, FailMode::Huge, "zu gro"},   {Server::Statistic, FailMode::Down, "onnect"},
        {Server::Login, FailMode::NoMarkers, "Fehler"},
    };
    for (const Case &c : cases) {
        FailMode mode;
        mode.kind = c.kind;
        servers->setFailMode(c.server, mode);
        messages.clear();
        FrmStatistic->ShowAndLoad();
        ASSERT_EQ(messages.size(), 1) << c.kind;
        EXPECT_TRUE(messages.first().contains(QLatin1String(c.messagePart)))
            << messages.first().toStdString();
        EXPECT_FALSE(FrmStatistic->imStatistic->isVisible());
        EXPECT_TRUE(FrmStatistic->btnReload->isEnabled());
        servers->setFailMode(c.server, FailMode{});
    }
}

TEST_F(StatisticTest, HidingTheWindowStopsASlowDownloadSilently)
{
    StartWith("demo", "demo1234");
    FrmMonitor->miLogInOutClick();
    FailMode slow;
    slow.kind = FailMode::Slow;
    servers->setFailMode(Server::Statistic, slow);
    QTimer::singleShot(1500, FrmStatistic, [] {
        // A second request from the tray while the fetch runs only shows the window.
        FrmStatistic->ShowAndLoad();
        FrmStatistic->btnCloseClick();
    });
    QElapsedTimer clock;
    clock.start();
    FrmStatistic->ShowAndLoad();
    EXPECT_LT(clock.elapsed(), 6000);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_FALSE(FrmStatistic->imStatistic->isVisible());
    EXPECT_EQ(servers->requests(Server::Statistic).size(), 1u);
}

TEST_F(StatisticTest, NotLoggedInFetchesNothing)
{
    StartWith("demo", "demo1234");
    FrmStatistic->ShowAndLoad();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(servers->requests(Server::Login).empty());
    EXPECT_FALSE(FrmStatistic->imStatistic->isVisible());
}

} // namespace
