#include "platform/DailyAlarm.h"
#include "settings/Store.h"
#include "support/Forms.h"
#include "traffic/Upcapthread.h"

#include <QAction>
#include <QCheckBox>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTimer>
#include <QtEndian>

#include <cstdlib>

namespace {

TDateTime at(int y, int m, int d, int h, int mi, int s = 0)
{
    return DateTime::fromQDateTime(QDateTime(QDate(y, m, d), QTime(h, mi, s)));
}

QString record(const char *from, const char *to, const char *last, qint64 down, qint64 up)
{
    return QStringLiteral(
               "TimePeriod        = %1 --- %2\r\nLastTransfer      = %3\r\nBytesDownloaded   = %4\r\n"
               "BytesUploaded     = %5\r\n\r\n")
        .arg(QLatin1String(from), QLatin1String(to), QLatin1String(last))
        .arg(down)
        .arg(up);
}

// The monitor under a clock that the test sets.
class TrafficTest : public FormsTest
{
protected:
    void SetUp() override
    {
        FormsTest::SetUp();
        DateTime::setClockForTesting([this] { return DateTime::toQDateTime(now); });
    }

    void TearDown() override
    {
        FormsTest::TearDown();
        DateTime::setClockForTesting(nullptr);
    }

    void StartAt(TDateTime when, TDateTime lastTransfer, qint64 down = 0, qint64 up = 0)
    {
        now = when;
        WriteInt64Setting("downloaded", down);
        WriteInt64Setting("uploaded", up);
        WriteDateSetting("date", lastTransfer);
        CreateForms();
        FrmMonitor->SetFormsReady();
    }

    QString log() const
    {
        QFile file(LogFileName);
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }

    QColor fill(QProgressBar *bar) const { return bar->palette().color(QPalette::Highlight); }

    TDateTime now = 0;
};

TEST_F(TrafficTest, RecordsNameTheAccountingDayOfTheirTime)
{
    StartAt(at(2007, 9, 5, 10, 0), at(2007, 9, 5, 9, 0));
    ASSERT_FALSE(QFile::exists(LogFileName));
    FrmMonitor->WriteLogRecord(at(2007, 9, 5, 6, 59), 1, 0);
    FrmMonitor->WriteLogRecord(at(2007, 9, 5, 7, 0), 0, 0);
    EXPECT_EQ(log(), record("04.09.2007 07:00:00", "05.09.2007 07:00:00", "05.09.2007 06:59:00", 1, 0) +
                         record("05.09.2007 07:00:00", "06.09.2007 07:00:00", "none", 0, 0));
}

TEST_F(TrafficTest, StartOnALaterDayClosesTheMissedDays)
{
    const qint64 mb200 = 200LL * 1048576;
    StartAt(at(2026, 12, 10, 9, 0), at(2026, 12, 7, 15, 0), mb200, 5);
    EXPECT_EQ(log(), record("07.12.2026 07:00:00", "08.12.2026 07:00:00", "07.12.2026 15:00:00", mb200, 5) +
                         record("08.12.2026 07:00:00", "09.12.2026 07:00:00", "none", 0, 0) +
                         record("09.12.2026 07:00:00", "10.12.2026 07:00:00", "none", 0, 0));
    EXPECT_EQ(FrmMonitor->Downloaded, 0);
    EXPECT_EQ(ReadInt64Setting("downloaded", -1), 0);
    EXPECT_EQ(ReadDateSetting("date", 0), at(2026, 12, 10, 9, 0));
    EXPECT_EQ(FrmMonitor->labDownload->text(), QStringLiteral("0.00 MB"));
}

TEST_F(TrafficTest, StartsThatCloseNothing)
{
    const TDateTime last = at(2026, 12, 9, 20, 0);
    // The morning after, before 07:00, is still the same accounting day; a clock set back closes nothing.
    for (TDateTime start : {at(2026, 12, 10, 6, 30), at(2026, 12, 9, 8, 0)}) {
        StartAt(start, last, 5242880);
        EXPECT_EQ(log(), QString());
        EXPECT_EQ(FrmMonitor->Downloaded, 5242880);
        EXPECT_EQ(FrmMonitor->labDownload->text(), QStringLiteral("5.00 MB"));
        DestroyForms();
    }
}

TEST_F(TrafficTest, DailyClosingAtSevenOhOneOncePerDate)
{
    StartAt(at(2026, 12, 10, 6, 50), at(2026, 12, 9, 20, 0), 5242880, 1024);
    FrmMonitor->AlarmAlarm(at(2026, 12, 10, 7, 0, 59));
    EXPECT_EQ(log(), QString());
    now = at(2026, 12, 10, 7, 1, 10);
    FrmMonitor->AlarmAlarm(now);
    FrmMonitor->AlarmAlarm(at(2026, 12, 10, 7, 1, 40));
    EXPECT_EQ(log(),
              record("09.12.2026 07:00:00", "10.12.2026 07:00:00", "09.12.2026 20:00:00", 5242880, 1024));
    EXPECT_EQ(FrmMonitor->Downloaded, 0);
    EXPECT_EQ(FrmMonitor->Uploaded, 0);
    EXPECT_EQ(FrmMonitor->barDownload->value(), 0);
    EXPECT_EQ(FrmMonitor->labUpload->text(), QStringLiteral("0.00 MB"));
    // The closed day is not written again: the next closing names the day that began.
    EXPECT_EQ(ReadDateSetting("date", 0), at(2026, 12, 10, 7, 1, 10));
    FrmMonitor->AlarmAlarm(at(2026, 12, 11, 7, 1, 0));
    EXPECT_TRUE(log().endsWith(record("10.12.2026 07:00:00", "11.12.2026 07:00:00", "none", 0, 0)));
    // A month later on the same day of the month it closes again, one record for each of the 31 days.
    FrmMonitor->AlarmAlarm(at(2027, 1, 11, 7, 1, 0));
    EXPECT_EQ(log().count(QStringLiteral("TimePeriod")), 2 + 31);
}

TEST_F(TrafficTest, SleepThroughTheClosingClosesBeforeCounting)
{
    StartAt(at(2026, 12, 10, 6, 50), at(2026, 12, 9, 20, 0), 600LL * 1048576);
    FrmMonitor->LoggedIn = true;
    // Woken at 09:30 two days later: the alarm's next check closes both days.
    now = at(2026, 12, 11, 9, 30);
    FrmMonitor->AddTraffic(100000, 0);
    EXPECT_EQ(log(), record("09.12.2026 07:00:00", "10.12.2026 07:00:00", "09.12.2026 20:00:00",
                            600LL * 1048576, 0) +
                         record("10.12.2026 07:00:00", "11.12.2026 07:00:00", "none", 0, 0));
    EXPECT_EQ(FrmMonitor->Downloaded, 100000);
    // Today's closing is done; the alarm does not close again today.
    FrmMonitor->AlarmAlarm(at(2026, 12, 11, 9, 31));
    EXPECT_EQ(log().count(QStringLiteral("TimePeriod")), 2);
}

TEST_F(TrafficTest, AlarmAfterSleepClosesLate)
{
    StartAt(at(2026, 12, 10, 6, 50), at(2026, 12, 9, 20, 0), 1000);
    FrmMonitor->AlarmAlarm(at(2026, 12, 10, 9, 30));
    EXPECT_EQ(log(), record("09.12.2026 07:00:00", "10.12.2026 07:00:00", "09.12.2026 20:00:00", 1000, 0));
    EXPECT_EQ(FrmMonitor->Downloaded, 0);
}

TEST_F(TrafficTest, StartBetweenSevenAndSevenOhOneIsTodaysClosing)
{
    StartAt(at(2026, 12, 10, 7, 0, 30), at(2026, 12, 9, 15, 0), 1000);
    EXPECT_EQ(log().count(QStringLiteral("TimePeriod")), 1);
    FrmMonitor->AlarmAlarm(at(2026, 12, 10, 7, 1, 5));
    EXPECT_EQ(log().count(QStringLiteral("TimePeriod")), 1);
}

TEST_F(TrafficTest, TrafficCountsOnlyWhileLoggedIn)
{
    StartAt(at(2026, 12, 10, 12, 0), at(2026, 12, 10, 11, 0));
    now = at(2026, 12, 10, 12, 5);
    FrmMonitor->AddTraffic(100000, 0);
    EXPECT_EQ(FrmMonitor->Downloaded, 0);
    EXPECT_EQ(ReadDateSetting("date", 0), at(2026, 12, 10, 11, 0));
    FrmMonitor->LoggedIn = true;
    FrmMonitor->tKeepAlive->start();
    FrmMonitor->AddTraffic(100000, 0);
    FrmMonitor->AddTraffic(5000, 1);
    EXPECT_EQ(FrmMonitor->Downloaded, 100000);
    EXPECT_EQ(FrmMonitor->Uploaded, 5000);
    EXPECT_EQ(ReadInt64Setting("uploaded", 0), 5000);
    EXPECT_EQ(ReadDateSetting("date", 0), now);
}

TEST_F(TrafficTest, LimitStatesMoveForwardOncePerDay)
{
    StartAt(at(2026, 12, 10, 12, 0), at(2026, 12, 10, 11, 0));
    const QColor green(0, 128, 0), olive(128, 128, 0), maroon(128, 0, 0);
    struct Step
    {
        bool download;
        qint64 value;
        int newBalloons;
        QColor colour;
        const char *lastTitle;
    };
    const Step steps[] = {
        {true, 681574400, 0, green, nullptr},
        {true, 681574401, 1, olive, "Vorsicht mit dem Download!"},
        {true, 700000000, 0, olive, nullptr},
        {true, 734003200, 0, olive, nullptr},
        {true, 734003201, 1, maroon, "Downloadlimit überschritten!"},
        {true, 800000000, 0, maroon, nullptr},
        {false, 335544320, 0, green, nullptr},
        {false, 335544321, 1, olive, "Vorsicht mit dem Upload!"},
        {false, 367001600, 0, olive, nullptr},
        {false, 367001601, 1, maroon, "Uploadlimit überschritten!"},
    };
    for (const Step &step : steps) {
        const int before = FrmMonitor->Tray->balloonCount();
        if (step.download)
            FrmMonitor->SetDownloaded(true, step.value);
        else
            FrmMonitor->SetUploaded(true, step.value);
        QProgressBar *bar = step.download ? FrmMonitor->barDownload : FrmMonitor->barUpload;
        EXPECT_EQ(FrmMonitor->Tray->balloonCount() - before, step.newBalloons) << step.value;
        EXPECT_EQ(fill(bar), step.colour) << step.value;
        if (step.lastTitle) {
            EXPECT_EQ(FrmMonitor->TrayData.szInfoTitle, QString::fromUtf8(step.lastTitle));
            EXPECT_EQ(FrmMonitor->TrayData.dwInfoFlags, 2u);
        }
    }
    EXPECT_EQ(FrmMonitor->barDownload->value(), 10000);
    EXPECT_EQ(FrmMonitor->barUpload->value(), 10000);
    // The closing brings both back to zero and green.
    FrmMonitor->AlarmAlarm(at(2026, 12, 11, 7, 1));
    EXPECT_EQ(fill(FrmMonitor->barDownload), green);
    EXPECT_EQ(fill(FrmMonitor->barUpload), green);
    EXPECT_EQ(FrmMonitor->barDownload->value(), 0);
}

TEST_F(TrafficTest, OneJumpPastBothThresholdsWarnsThenActs)
{
    StartAt(at(2026, 12, 10, 12, 0), at(2026, 12, 10, 11, 0), 640LL * 1048576);
    FrmMonitor->miOLrestart->setChecked(true);
    const int before = FrmMonitor->Tray->balloonCount();
    FrmMonitor->SetDownloaded(true, 710LL * 1048576);
    EXPECT_EQ(FrmMonitor->Tray->balloonCount() - before, 2);
    EXPECT_EQ(FrmMonitor->TrayData.szInfoTitle, QStringLiteral("Downloadlimit überschritten!"));
    EXPECT_TRUE(FrmShutdown->isVisible());
    EXPECT_EQ(FrmShutdown->ShutdownMode, 2u);
    EXPECT_EQ(FrmShutdown->labText->text(), QStringLiteral("Computer wird neugestartet..."));
    FrmShutdown->btnAbortClick();
    // Changing the action afterwards acts no more the same day.
    FrmMonitor->miOLshutdown->setChecked(true);
    FrmMonitor->SetDownloaded(true, 720LL * 1048576);
    EXPECT_FALSE(FrmShutdown->isVisible());
}

TEST_F(TrafficTest, StoredCountOverTheWarningIsOliveWithoutABalloon)
{
    StartAt(at(2026, 12, 10, 12, 0), at(2026, 12, 10, 11, 0), 680LL * 1048576);
    EXPECT_EQ(fill(FrmMonitor->barDownload), QColor(128, 128, 0));
    EXPECT_EQ(FrmMonitor->Tray->balloonCount(), 0);
    FrmMonitor->SetDownloaded(true, 701LL * 1048576);
    EXPECT_EQ(FrmMonitor->TrayData.szInfoTitle, QStringLiteral("Downloadlimit überschritten!"));
}

TEST_F(TrafficTest, CountdownRunsOutAndCanBeAborted)
{
    StartAt(at(2026, 12, 10, 12, 0), at(2026, 12, 10, 11, 0));
    FrmShutdown->StartCountdown(8);
    EXPECT_EQ(FrmShutdown->labText->text(), QStringLiteral("Computer wird heruntergefahrt..."));
    EXPECT_EQ(FrmShutdown->barTime->value(), 0);
    for (int i = 0; i < 19; ++i)
        FrmShutdown->tDelayTimer();
    EXPECT_EQ(FrmShutdown->barTime->value(), 19);
    EXPECT_TRUE(FrmShutdown->isVisible());
    // The close box aborts: it must never hide the only "Abbrechen" while the count runs on.
    FrmShutdown->close();
    EXPECT_FALSE(FrmShutdown->isVisible());
    EXPECT_FALSE(FrmShutdown->tDelay->isActive());
    EXPECT_EQ(FrmShutdown->barTime->value(), 0);
    FrmShutdown->StartCountdown(2);
    EXPECT_EQ(FrmShutdown->Remaining, 20);
    EXPECT_TRUE(FrmShutdown->tDelay->isActive());
}

// A capture file: Ethernet frames of the given wire lengths from `source` to `target`.
QByteArray captureFile(const QList<std::tuple<const char *, const char *, int>> &packets)
{
    QByteArray file;
    auto put32 = [&file](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        file.append(b, 4);
    };
    put32(0xa1b2c3d4);
    file.append("\x02\x00\x04\x00", 4);
    put32(0);
    put32(0);
    put32(65535);
    put32(1);
    for (const auto &[source, target, length] : packets) {
        QByteArray frame(14, '\0');
        frame[12] = 0x08;
        QByteArray ip(20, '\0');
        ip[0] = 0x45;
        qToBigEndian(quint16(length - 14), ip.data() + 2);
        ip[8] = 64;
        ip[9] = 17;
        auto addr = [](const char *text) {
            const QList<QByteArray> parts = QByteArray(text).split('.');
            QByteArray out;
            for (const QByteArray &p : parts)
                out.append(char(p.toInt()));
            return out;
        };
        ip.replace(12, 4, addr(source));
        ip.replace(16, 4, addr(target));
        frame += ip;
        const int captured = std::min<int>(int(frame.size()), length);
        put32(0);
        put32(0);
        put32(quint32(captured));
        put32(quint32(length));
        file.append(frame.left(captured));
    }
    return file;
}

TEST_F(TrafficTest, ReplayedCaptureCountsOutsideTrafficToThisComputer)
{
    StartAt(at(2026, 12, 10, 12, 0), at(2026, 12, 10, 11, 0));
    FrmMonitor->LoggedIn = true;
    QList<std::tuple<const char *, const char *, int>> packets;
    for (int i = 0; i < 70; ++i)
        packets.append({"203.0.113.5", "10.0.1.23", 1514});
    packets.append({"203.0.113.5", "10.0.1.23", 60});
    packets.append({"198.18.0.1", "10.0.1.23", 1514});  // campus
    packets.append({"10.0.0.50", "10.0.1.23", 1514});   // the own segment
    packets.append({"203.0.113.5", "10.0.1.99", 1514}); // another computer, seen in promiscuous mode
    packets.append({"10.0.1.23", "203.0.113.5", 1514}); // upload
    const QString path = configDir() + QStringLiteral("/replay.pcap");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(captureFile(packets));
    file.close();

    const qint64 before = FrmMonitor->Downloaded;
    TPcapThread thread(true, "file://" + QFile::encodeName(path), DownloadFilter("10.0.1.23"), 0xffffffff, 0);
    ASSERT_FALSE(thread.OpenFailed);
    QEventLoop loop;
    QObject::connect(&thread, &QThread::finished, &loop, &QEventLoop::quit);
    thread.start();
    loop.exec();
    EXPECT_EQ(FrmMonitor->Downloaded - before, 70 * 1500 + 46);
}

TEST_F(TrafficTest, CaptureComesBackAfterTheInterfaceReturns)
{
    StartAt(at(2026, 12, 10, 12, 0), at(2026, 12, 10, 11, 0));
    ASSERT_EQ(
        std::system("ip link add zr0 type veth peer name zr1 && ip link set zr0 up && ip link set zr1 up"),
        0);
    TPcapThread::setReopenTimesForTesting(100, 400);
    TPcapThread thread(false, "zr0", "ip", 0xffffffff, 0);
    ASSERT_FALSE(thread.OpenFailed);
    QSignalSpy lost(&thread, &TPcapThread::countingLost);
    QTest::qWait(300);
    ASSERT_EQ(std::system("ip link del zr0"), 0);
    EXPECT_TRUE(lost.wait(3000)) << "a lasting loss is reported";
    EXPECT_EQ(lost.count(), 1);
    ASSERT_EQ(
        std::system("ip link add zr0 type veth peer name zr1 && ip link set zr0 up && ip link set zr1 up"),
        0);
    QTRY_COMPARE_WITH_TIMEOUT(thread.reopenCount(), 1, 3000);
    EXPECT_EQ(lost.count(), 1);
    thread.Stop();
    QEventLoop loop;
    QObject::connect(&thread, &QThread::finished, &loop, &QEventLoop::quit);
    if (!thread.isFinished())
        loop.exec();
    std::system("ip link del zr0");
    TPcapThread::setReopenTimesForTesting(TPcapThread::ReopenIntervalMs, TPcapThread::LostNoticeMs);
}

} // namespace
