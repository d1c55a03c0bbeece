#include "platform/DailyAlarm.h"
#include "platform/Instance.h"
#include "settings/Store.h"
#include "support/Forms.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProgressBar>
#include <QTimer>

#include <atomic>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using MonitorTest = FormsTest;

TEST_F(MonitorTest, FirstStartShowsZeroCountersAndAThreeLineTip)
{
    CreateForms();
    ASSERT_FALSE(FrmMonitor->StartupFailed());
    EXPECT_EQ(FrmMonitor->LocalIP, QByteArray("10.0.1.23"));
    EXPECT_EQ(FrmMonitor->ExternalIP, QByteArray("?.?.?.?"));
    EXPECT_FALSE(FrmMonitor->LoggedIn);
    EXPECT_EQ(FrmMonitor->Downloaded, 0);
    EXPECT_EQ(FrmMonitor->labDownload->text(), QStringLiteral("0.00 MB"));
    EXPECT_EQ(FrmMonitor->labUpload->text(), QStringLiteral("0.00 MB"));
    EXPECT_EQ(ReadInt64Setting("downloaded", -1), 0);
    EXPECT_EQ(ReadInt64Setting("uploaded", -1), 0);

    const NotifyIconData &tray = FrmMonitor->TrayData;
    EXPECT_EQ(tray.cbSize, 488u);
    EXPECT_EQ(tray.uID, 1u);
    EXPECT_EQ(tray.uCallbackMessage, WM_TRAY_NOTIFY);
    EXPECT_EQ(tray.szTip, QStringLiteral("ZEPA-Monitor\n10.0.1.23\n?.?.?.?"));
    EXPECT_TRUE(FrmMonitor->Tray->isAdded());

    EXPECT_FALSE(FrmMonitor->isVisible());
    EXPECT_FALSE(FrmMonitor->miStatistic->isEnabled());
    EXPECT_TRUE(FrmMonitor->miOLoff->isChecked());
    EXPECT_FALSE(FrmMonitor->tKeepAlive->isActive());
    EXPECT_FALSE(FrmMonitor->tDisconnected->isActive());
    EXPECT_EQ(FrmMonitor->tKeepAlive->interval(), 600000);
    EXPECT_EQ(FrmMonitor->tDisconnected->interval(), 1800000);
    EXPECT_EQ(FrmMonitor->Alarm->time(), QTime(7, 1));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MonitorTest, StoredSettingsReachTheMonitorAtStart)
{
    WriteCredentials("abc", "xyz");
    WriteIntSetting("s_autologout", 1);
    WriteIntSetting("s_keepalive", 1);
    WriteInt64Setting("downloaded", 5242880);
    WriteInt64Setting("uploaded", -7);
    WriteDateSetting("date", DateTime::now());
    CreateForms();
    FrmMonitor->SetFormsReady();
    FrmSettings->ApplyAtStart();

    EXPECT_EQ(FrmSettings->editLoginID->text(), QStringLiteral("abc"));
    EXPECT_TRUE(FrmSettings->boxKeepAlive->isChecked());
    EXPECT_EQ(FrmMonitor->LoginID, QByteArray("abc"));
    EXPECT_EQ(FrmMonitor->Password, QByteArray("xyz"));
    EXPECT_TRUE(FrmMonitor->AutoLogout);
    EXPECT_EQ(FrmMonitor->labDownload->text(), QStringLiteral("5.00 MB"));
    // A negative stored counter counts as 0.
    EXPECT_EQ(FrmMonitor->Uploaded, 0);
}

TEST_F(MonitorTest, BalloonsAreCutAndTimedByKind)
{
    CreateForms();
    struct Case
    {
        int kind;
        QString title;
        QString text;
        QString expectedTitle;
        int expectedTimeout;
    };
    const Case cases[] = {
        {1, QString(70, QLatin1Char('t')), QString(300, QLatin1Char('x')), QString(63, QLatin1Char('t')),
         10000},
        {2, QStringLiteral("Vorsicht"), QString(), QStringLiteral("Vorsicht"), 10000},
        {3, QStringLiteral("Login Fehler"), QStringLiteral("100% <b>kaputt</b>"),
         QStringLiteral("Login Fehler"), 20000},
        {1, QString(), QStringLiteral("ohne Titel"), QStringLiteral("ZEPA-Monitor"), 10000},
    };
    for (const Case &c : cases) {
        FrmMonitor->ShowBalloon(c.kind, c.title, c.text);
        const NotifyIconData &tray = FrmMonitor->TrayData;
        EXPECT_EQ(tray.uFlags, Tray::NIF_INFO);
        EXPECT_EQ(tray.dwInfoFlags, quint32(c.kind));
        EXPECT_EQ(tray.uTimeout, quint32(c.expectedTimeout));
        EXPECT_EQ(tray.szInfoTitle, c.expectedTitle);
        EXPECT_EQ(tray.szInfo, c.text.left(255));
        EXPECT_EQ(FrmMonitor->Tray->lastBalloon().title, c.expectedTitle);
    }
    // Server texts are never read as markup.
    EXPECT_EQ(TrayIcon::plain(QStringLiteral("a <b>b</b>")).contains(QStringLiteral("&lt;b&gt;")), true);
}

TEST_F(MonitorTest, DisabledTrayDropsInput)
{
    CreateForms();
    FrmMonitor->SetFormsReady();
    FrmMonitor->SetTrayEnabled(false);
    EXPECT_EQ(FrmMonitor->TrayData.uCallbackMessage, WM_TRAY_DISABLED);
    // What the tray reports now carries the disabled message, which nothing handles.
    FrmMonitor->Dispatch(FrmMonitor->TrayData.uCallbackMessage, 1, Tray::WM_LBUTTONDBLCLK);
    EXPECT_FALSE(FrmMonitor->isVisible());
    FrmMonitor->SetTrayEnabled(true);
    FrmMonitor->Dispatch(FrmMonitor->TrayData.uCallbackMessage, 1, Tray::WM_LBUTTONDBLCLK);
    EXPECT_TRUE(FrmMonitor->isVisible());
}

TEST_F(MonitorTest, CommandsWaitForAllFormsAndStopAtExit)
{
    CreateForms();
    // Before all forms exist a command or tray event would meet a form that is not there.
    FrmMonitor->Dispatch(WM_MONITOR_COMMAND, 2, 1);
    FrmMonitor->Dispatch(WM_TRAY_NOTIFY, 1, Tray::WM_LBUTTONDBLCLK);
    EXPECT_FALSE(FrmMonitor->isVisible());
    EXPECT_FALSE(FrmMonitor->Alarm->isActive());
    FrmMonitor->SetFormsReady();
    EXPECT_TRUE(FrmMonitor->Alarm->isActive());
    FrmMonitor->Dispatch(WM_MONITOR_COMMAND, 2, 1);
    EXPECT_TRUE(FrmMonitor->isVisible());
    FrmMonitor->Dispatch(WM_MONITOR_COMMAND, 2, 0);
    EXPECT_FALSE(FrmMonitor->isVisible());
    FrmMonitor->Dispatch(WM_MONITOR_COMMAND, 7, 0);
    EXPECT_FALSE(FrmMonitor->isVisible());

    FrmMonitor->tKeepAlive->start();
    FrmRZText->CheckAtStart();
    FrmMonitor->FormDestroy();
    EXPECT_FALSE(FrmMonitor->tKeepAlive->isActive());
    EXPECT_FALSE(FrmMonitor->Alarm->isActive());
    EXPECT_FALSE(FrmRZText->tRZText->isActive());
    EXPECT_FALSE(FrmMonitor->Tray->isAdded());
    FrmMonitor->Dispatch(WM_MONITOR_COMMAND, 2, 1);
    EXPECT_FALSE(FrmMonitor->isVisible());
}

TEST_F(MonitorTest, WindowKeepsPositionAndWidthButNotHeight)
{
    CreateForms();
    FrmMonitor->SetFormsReady();
    FrmMonitor->miMonitorClick();
    ASSERT_TRUE(FrmMonitor->isVisible());
    FrmMonitor->move(-40, 300);
    FrmMonitor->resize(400, 300);
    FrmMonitor->btnCloseClick();
    EXPECT_FALSE(FrmMonitor->isVisible());
    EXPECT_EQ(ReadIntSetting("win_left", 0), -40);
    EXPECT_EQ(ReadIntSetting("win_top", 0), 300);
    EXPECT_EQ(ReadIntSetting("win_width", 0), 400);

    DestroyForms();
    CreateForms();
    FrmMonitor->SetFormsReady();
    FrmMonitor->miMonitorClick();
    EXPECT_EQ(FrmMonitor->x(), -40);
    EXPECT_EQ(FrmMonitor->width(), 400);
    EXPECT_EQ(FrmMonitor->height(), 221);
    // The close box only hides.
    EXPECT_FALSE(FrmMonitor->close());
    EXPECT_FALSE(FrmMonitor->isVisible());
}

TEST_F(MonitorTest, AboutBoxNamesBothAddresses)
{
    CreateForms();
    FrmMonitor->SetFormsReady();
    FrmMonitor->miAboutClick();
    ASSERT_EQ(messages.size(), 1);
    const QStringList lines = messages.first().split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 14);
    EXPECT_EQ(lines[0], QStringLiteral("ZEPA-Monitor"));
    EXPECT_EQ(lines[1], QString(16, QLatin1Char('-')));
    EXPECT_EQ(lines[6], QStringLiteral("zur ZEPA-Netzwerk einloggen und danach"));
    EXPECT_EQ(lines[12], QStringLiteral("Interne IP: 10.0.1.23"));
    EXPECT_EQ(lines[13], QStringLiteral("Externe IP: ?.?.?.?"));
    EXPECT_EQ(FrmMonitor->TrayData.uCallbackMessage, WM_TRAY_NOTIFY);
}

TEST_F(MonitorTest, WrongTypeInTheStoreEndsStartUpWithTheRegistryError)
{
    Registry::instance().write(SettingsKey, "downloaded", Registry::REG_DWORD, QByteArray(4, '\1'));
    EXPECT_THROW(CreateForms(), RegistryError);
    // The half-built monitor never became the global one.
    EXPECT_EQ(FrmMonitor, nullptr);
}

TEST_F(MonitorTest, RepeatingRegistryErrorShowsOneBoxAtATime)
{
    MessageBoxForTesting::setHook(nullptr);
    QObject thrower;
    int shown = 0;
    int boxesAtOnce = 0;
    // Two failing events: the second arrives while the first error's box is open.
    QTimer::singleShot(0, &thrower, [] { throw RegistryError(QStringLiteral("eins")); });
    QTimer::singleShot(0, &thrower, [] { throw RegistryError(QStringLiteral("zwei")); });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        int boxes = 0;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMessageBox *>(w) && w->isVisible())
                ++boxes;
        }
        boxesAtOnce = std::max(boxesAtOnce, boxes);
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            ++shown;
            box->accept();
        }
    });
    poll.start(50);
    QTest::qWait(600);
    poll.stop();
    EXPECT_EQ(boxesAtOnce, 1);
    EXPECT_GE(shown, 1);
}

// Instances in one process: each has a lock descriptor of its own, as separate processes would.
class InstanceTest : public FormsTest
{
};

TEST_F(InstanceTest, SecondStartWaitsUntilTheCommandWasCarriedOut)
{
    Instance first;
    ASSERT_TRUE(first.isFirst());
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(first.socketPath()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0077, 0u) << "only the user may reach the socket";

    QList<std::pair<quint32, qint32>> carriedOut;
    std::atomic<int> sent{0};
    first.setHandler([&](quint32 w, qint32 l) {
        // The sender is still waiting while the command runs.
        EXPECT_EQ(sent.load(), int(carriedOut.size()));
        QTest::qWait(100);
        carriedOut.append({w, l});
    });

    std::thread sender([&] {
        Instance second;
        EXPECT_FALSE(second.isFirst());
        EXPECT_TRUE(second.send(1, 0));
        sent = 1;
        EXPECT_TRUE(second.send(0, 0));
        sent = 2;
    });
    // Held until all forms exist.
    QTest::qWait(300);
    EXPECT_TRUE(carriedOut.isEmpty());
    first.setHolding(false);
    QTRY_COMPARE_WITH_TIMEOUT(sent.load(), 2, 5000);
    sender.join();
    EXPECT_EQ(carriedOut, (QList<std::pair<quint32, qint32>>{{1, 0}, {0, 0}}));
}

TEST_F(InstanceTest, ExitAnswersWithoutCarryingOut)
{
    Instance first;
    ASSERT_TRUE(first.isFirst());
    int carried = 0;
    first.setHandler([&](quint32, qint32) { ++carried; });
    std::atomic<bool> done{false};
    std::thread sender([&] {
        Instance second;
        second.isFirst();
        second.send(2, 1);
        done = true;
    });
    QTest::qWait(200);
    first.setDiscarding(true);
    QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
    sender.join();
    EXPECT_EQ(carried, 0);
}

TEST_F(InstanceTest, StaleSocketOfAKilledInstanceDoesNotBlock)
{
    // A socket file nobody listens on, as a killed instance leaves it.
    const QString path = runtimeDir() + QStringLiteral("/ZEPA-Monitor");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    qstrncpy(addr.sun_path, QFile::encodeName(path).constData(), sizeof addr.sun_path);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(path));

    Instance first;
    EXPECT_TRUE(first.isFirst());
    Instance second;
    EXPECT_FALSE(second.isFirst());
}

} // namespace
