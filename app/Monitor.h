#pragma once

#include "platform/DateTime.h"
#include "platform/TrayIcon.h"

#include <QByteArray>
#include <QString>
#include <QWidget>

class DailyAlarm;
class QAction;
class QActionGroup;
class QFrame;
class QGroupBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class TPcapThread;
class TFrmMonitor;
class TFrmSettings;
class TFrmLogin;
class TFrmRZText;
class TFrmShutdown;
class TFrmStatistic;

inline constexpr quint32 WM_TRAY_NOTIFY = 0x8000;
inline constexpr quint32 WM_TRAY_DISABLED = 0x8001;
inline constexpr quint32 WM_MONITOR_COMMAND = 0x800A;

// The six forms, created once in this order and living until the program ends.
extern TFrmMonitor *FrmMonitor;
extern TFrmSettings *FrmSettings;
extern TFrmLogin *FrmLogin;
extern TFrmRZText *FrmRZText;
extern TFrmShutdown *FrmShutdown;
extern TFrmStatistic *FrmStatistic;

extern QString LogFileName;
// Windows-1252 bytes as the servers sent them.
extern QByteArray LoginAnswer;
extern QByteArray LoginMessage;

// The main form: owns the state of the running program, the tray icon and the monitor window.
class TFrmMonitor : public QWidget
{
    Q_OBJECT
public:
    // Runs the start-up sequence.
    TFrmMonitor();
    ~TFrmMonitor() override;

    // Fields
    NotifyIconData TrayData;
    bool AutoLogout = false;
    QByteArray LocalIP;
    QByteArray ExternalIP;
    QByteArray LoginID;
    QByteArray Password;
    bool LoggedIn = false;
    TPcapThread *DownloadThread = nullptr;
    TPcapThread *UploadThread = nullptr;
    qint64 Downloaded = 0;
    qint64 Uploaded = 0;
    TDateTime LastTransfer = 0;

    // Components of the form
    TrayIcon *Tray = nullptr;
    QMenu *TrayIconMenu = nullptr;
    QAction *miMonitor = nullptr;
    QAction *miStatistic = nullptr;
    QAction *miRZText = nullptr;
    QAction *N3 = nullptr;
    QAction *miLogInOut = nullptr;
    QAction *N2 = nullptr;
    QAction *miOnLimit = nullptr;
    QMenu *miOnLimitMenu = nullptr;
    QActionGroup *OnLimitGroup = nullptr;
    QAction *miOLoff = nullptr;
    QAction *miOLlogout = nullptr;
    QAction *miOLrestart = nullptr;
    QAction *miOLshutdown = nullptr;
    QAction *miSettings = nullptr;
    QAction *miAbout = nullptr;
    QAction *N1 = nullptr;
    QAction *miExit = nullptr;
    QTimer *tKeepAlive = nullptr;
    QTimer *tDisconnected = nullptr;
    DailyAlarm *Alarm = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QLabel *imDownload = nullptr;
    QLabel *labDownloadCaption = nullptr;
    QLabel *labDownload = nullptr;
    QProgressBar *barDownload = nullptr;
    QLabel *labMinDownload = nullptr;
    QLabel *labMaxDownload = nullptr;
    QFrame *Bevel1 = nullptr;
    QLabel *imUpload = nullptr;
    QLabel *labUploadCaption = nullptr;
    QLabel *labUpload = nullptr;
    QProgressBar *barUpload = nullptr;
    QLabel *labMinUpload = nullptr;
    QLabel *labMaxUpload = nullptr;
    QPushButton *btnClose = nullptr;

    // Start-up and exit
    bool StartupFailed() const { return m_startupFailed; }
    // All six forms exist: tray input and forwarded commands are taken from here on.
    void SetFormsReady();
    bool FormsReady() const { return m_formsReady; }
    void FormDestroy();

    // Messages: forwarded commands and tray events
    void Dispatch(quint32 message, quintptr wParam, qintptr lParam);

    // Tray icon and window
    void ShowBalloon(int kind, const QString &title = QString(), const QString &text = QString());
    void SetTrayEnabled(bool enabled);
    void UpdateTrayTip();
    void miMonitorClick();
    void miStatisticClick();
    void miRZTextClick();
    void miSettingsClick();
    void miAboutClick();
    void miExitClick();
    void btnCloseClick();
    void ShowWindow();
    void HideWindow();
    QString AboutText() const;

    // Counters, accounting day and log file
    void AddTraffic(quint32 count, int direction);
    void WriteLogRecord(TDateTime dateTime, qint64 downloaded, qint64 uploaded);
    void AlarmAlarm(TDateTime triggerTime);
    void CatchUpDays();
    // The counters belong to an earlier accounting day and today's 07:01 passed without a closing.
    bool ClosingOverdue(TDateTime now) const;
    void RunDailyClosing(TDateTime now);
    void WriteDayRecords(qint64 days);

    // Limits
    void SetDownloaded(bool warn, qint64 value);
    void SetUploaded(bool warn, qint64 value);
    void DoLimitAction();

    // Login and logout
    void ApplySettings(bool login);
    int DoLogin(const QByteArray &loginId, const QByteArray &password, QByteArray *statisticUrl = nullptr);
    int DoLogout();
    void SetLoggedIn(bool state);
    void miLogInOutClick();

    // One access operation (login, logout, connection check, re-login, statistics login) at a time.
    // False when another one runs; the caller then does nothing.
    bool BeginAccess();
    void EndAccess();
    bool AccessBusy() const { return m_accessBusy; }

    // tKeepAlive runs exactly when "Bleib ständig online" is ticked.
    void FollowKeepAliveSetting();
    // Stop and start, so that the full interval begins again; a stopped timer stays stopped.
    static void RestartIfRunning(QTimer *timer);

    // Connection watch
    bool IsOnline();
    QByteArray GetExternalIP();
    void CheckConnection();
    void tKeepAliveTimer();
    void tDisconnectedTimer();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void BuildForm();
    void BuildTrayMenu();
    void LayoutForm();
    void FormShow();
    void FormHide();
    void FormClose(QCloseEvent *event);
    void StartUp();
    void FatalStartupError(const QString &text);
    void StopCaptureThread(TPcapThread *thread);

    // The login or logout of the tray item: whether it ran at all, and whether it succeeded.
    struct AccessResult
    {
        bool ran = false;
        bool succeeded = false;
    };
    AccessResult LogInOut();
    void RunLimitAction();
    void ReloginAfterClosing();

    bool m_startupFailed = false;
    bool m_accessBusy = false;
    bool m_limitActionPending = false;
    quint64 m_stateGeneration = 0;
    bool m_formsReady = false;
    bool m_destroyed = false;
};
