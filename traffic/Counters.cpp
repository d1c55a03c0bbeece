#include "app/Monitor.h"
#include "app/Text.h"

#include "platform/DailyAlarm.h"
#include "settings/Settings.h"
#include "settings/Store.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace {

// One append per record; a short write is cut back off so that no half record stays behind.
void appendRecord(const QString &path, const QByteArray &record)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const off_t before = ::lseek(fd, 0, SEEK_END);
    const ssize_t written = ::write(fd, record.constData(), size_t(record.size()));
    if (written != ssize_t(record.size()) && before >= 0) [[maybe_unused]]
        const int cut = ::ftruncate(fd, before);
    ::close(fd);
}

} // namespace

void TFrmMonitor::AddTraffic(quint32 count, int direction)
{
    if (!LoggedIn)
        return;
    // A closing missed while the computer slept comes first, so the new day's limits are judged on the
    // new day's traffic only.
    const TDateTime now = DateTime::now();
    // The bytes came while logged in: they count for the new day whatever the re-login brings.
    if (ClosingOverdue(now))
        RunDailyClosing(now);
    LastTransfer = now;
    WriteDateSetting("date", LastTransfer);
    if (direction == 0) {
        SetDownloaded(true, Downloaded + count);
        RestartIfRunning(tKeepAlive);
        RestartIfRunning(tDisconnected);
    } else {
        SetUploaded(true, Uploaded + count);
    }
}

void TFrmMonitor::WriteLogRecord(TDateTime dateTime, qint64 downloaded, qint64 uploaded)
{
    double start = DateTime::dateOf(dateTime);
    if (DateTime::hourOf(dateTime) < 7)
        start -= 1;
    start += 7.0 / 24.0;
    const double end = start + 1;
    const QString last = downloaded > 0 || uploaded > 0 ? DateTime::toText(dateTime) : QStringLiteral("none");
    const QString record = QStringLiteral("TimePeriod        = %1 --- %2\r\n"
                                          "LastTransfer      = %3\r\n"
                                          "BytesDownloaded   = %4\r\n"
                                          "BytesUploaded     = %5\r\n"
                                          "\r\n")
                               .arg(DateTime::toText(start), DateTime::toText(end), last)
                               .arg(downloaded)
                               .arg(uploaded);
    appendRecord(LogFileName, record.toLatin1());
}

namespace {

qint64 accountingDay(TDateTime t)
{
    return qint64(std::trunc(t - 7.0 / 24.0));
}

// 07:01 of the calendar day of `t` has come.
bool pastClosingTime(TDateTime t)
{
    const int hour = DateTime::hourOf(t);
    return hour > 7 || (hour == 7 && DateTime::minuteOf(t) >= 1);
}

} // namespace

bool TFrmMonitor::ClosingOverdue(TDateTime now) const
{
    return Alarm->tag() != qint64(DateTime::dateOf(now)) && pastClosingTime(now) &&
           accountingDay(LastTransfer) < accountingDay(now);
}

void TFrmMonitor::AlarmAlarm(TDateTime triggerTime)
{
    const bool closingMinute = DateTime::hourOf(triggerTime) == 7 && DateTime::minuteOf(triggerTime) == 1;
    // The whole date: the day of the month alone would skip a closing a month later.
    if (Alarm->tag() == qint64(DateTime::dateOf(triggerTime)))
        return;
    if (closingMinute || ClosingOverdue(triggerTime))
        RunDailyClosing(triggerTime);
}

void TFrmMonitor::RunDailyClosing(TDateTime now)
{
    Alarm->setTag(qint64(DateTime::dateOf(now)));

    WriteDayRecords(std::max<qint64>(1, accountingDay(now) - accountingDay(LastTransfer)));
    SetDownloaded(false, 0);
    SetUploaded(false, 0);
    // The closed day must not be written again by a later closing or the next start.
    LastTransfer = now;
    WriteDateSetting("date", LastTransfer);

    if (!LoggedIn && !FrmSettings->boxAutoLogin->isChecked())
        return;
    if (!BeginAccess())
        return;
    ReloginAfterClosing();
    EndAccess();
}

void TFrmMonitor::ReloginAfterClosing()
{
    SetLoggedIn(false);
    // Without a stored password a login could only blame the user's credentials.
    if (Password.isEmpty()) {
        ShowBalloon(3, QStringLiteral("Verbindung unterbrochen"),
                    QStringLiteral("Bitte manuell wieder einloggen."));
        return;
    }
    const int result = DoLogin(LoginID, Password);
    if (result == 0) {
        QThread::msleep(1500);
        if (!IsOnline()) {
            ShowBalloon(3, QStringLiteral("Login Fehler"), QStringLiteral("Login-Server interner Fehler."));
            return;
        }
        SetLoggedIn(true);
        RestartIfRunning(tDisconnected);
        FollowKeepAliveSetting();
        ShowBalloon(1, QStringLiteral("Login erfolgreich"), QStringLiteral("Sie sind jetzt wieder online."));
    } else if (result == 2) {
        ShowBalloon(3, QStringLiteral("Login Fehler"),
                    QStringLiteral("Überprüfen Sie Ihr LoginID und Passwort."));
    } else {
        ShowBalloon(3, QStringLiteral("Login Fehler"), Text::fromCp1252(LoginMessage));
    }
}

void TFrmMonitor::WriteDayRecords(qint64 days)
{
    // One record per accounting day from the counters' own on; only the first carries the counts.
    for (qint64 i = 0; i < days; ++i)
        WriteLogRecord(LastTransfer + double(i), i == 0 ? Downloaded : 0, i == 0 ? Uploaded : 0);
}

void TFrmMonitor::CatchUpDays()
{
    const TDateTime now = DateTime::now();
    const double nowShifted = now - 7.0 / 24.0;
    const double lastShifted = LastTransfer - 7.0 / 24.0;
    if (!(lastShifted < nowShifted))
        return;
    const qint64 n = qint64(std::trunc(nowShifted)) - qint64(std::trunc(lastShifted));
    if (n <= 0)
        return;
    WriteDayRecords(n);
    Downloaded = 0;
    Uploaded = 0;
    WriteInt64Setting("downloaded", 0);
    WriteInt64Setting("uploaded", 0);
    LastTransfer = now;
    WriteDateSetting("date", LastTransfer);
    // At or after 07:00 this was today's closing; 07:01 must not close the day just begun.
    if (DateTime::hourOf(now) >= 7)
        Alarm->setTag(qint64(DateTime::dateOf(now)));
}
