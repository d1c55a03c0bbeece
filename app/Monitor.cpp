#include "app/Monitor.h"

#include "app/Application.h"
#include "app/Text.h"
#include "notices/Rztext.h"
#include "notices/Statistic.h"
#include "platform/DailyAlarm.h"
#include "platform/Instance.h"
#include "settings/Settings.h"
#include "settings/Store.h"
#include "traffic/Shutdown.h"
#include "traffic/Upcapthread.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>

TFrmMonitor *FrmMonitor = nullptr;
TFrmSettings *FrmSettings = nullptr;
TFrmLogin *FrmLogin = nullptr;
TFrmRZText *FrmRZText = nullptr;
TFrmShutdown *FrmShutdown = nullptr;
TFrmStatistic *FrmStatistic = nullptr;

QString LogFileName;
QByteArray LoginAnswer;
QByteArray LoginMessage;

namespace {

constexpr int ClientWidth = 322;
constexpr int ClientHeight = 221;
constexpr const char *Caption = "ZEPA-Monitor";

QIcon picture(const char *name)
{
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name)));
}

QString cut(const QString &text, int size)
{
    return text.left(size - 1);
}

} // namespace

TFrmMonitor::TFrmMonitor() : QWidget(nullptr)
{
    // Construction may throw from the store; FrmMonitor is set only once the object stands.
    BuildForm();
    StartUp();
}

TFrmMonitor::~TFrmMonitor() = default;

void TFrmMonitor::BuildForm()
{
    setObjectName(QStringLiteral("FrmMonitor"));
    setWindowTitle(QString::fromLatin1(Caption));
    setWindowIcon(picture("zepa-monitor"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint |
                   Qt::CustomizeWindowHint);
    setFont(QFont(QStringLiteral("Tahoma"), 8));
    move(192, 107);
    resize(ClientWidth, ClientHeight);
    setMinimumWidth(280);
    setMaximumHeight(353);

    GroupBox1 = new QGroupBox(this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    const QFont valueFont(QStringLiteral("Tahoma"), 10, QFont::Bold);

    auto makeLabel = [this](const char *name, const QString &text) {
        auto *label = new QLabel(text, GroupBox1);
        label->setObjectName(QLatin1String(name));
        label->setTextFormat(Qt::PlainText);
        return label;
    };
    auto makeBar = [this](const char *name) {
        auto *bar = new QProgressBar(GroupBox1);
        bar->setObjectName(QLatin1String(name));
        bar->setRange(0, 10000);
        bar->setValue(0);
        bar->setTextVisible(false);
        // Green is the normal limit state.
        QPalette palette = bar->palette();
        palette.setColor(QPalette::Highlight, QColor(0, 128, 0));
        bar->setPalette(palette);
        return bar;
    };

    imDownload = makeLabel("imDownload", QString());
    imDownload->setPixmap(picture("download").pixmap(16, 16));
    labDownloadCaption = makeLabel("labDownloadCaption", QStringLiteral("Download:"));
    labDownload = makeLabel("labDownload", QString());
    labDownload->setFont(valueFont);
    labDownload->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    barDownload = makeBar("barDownload");
    labMinDownload = makeLabel("labMinDownload", QStringLiteral("0 MB"));
    labMaxDownload = makeLabel("labMaxDownload", QStringLiteral("700 MB"));
    labMaxDownload->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Bevel1 = new QFrame(GroupBox1);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    imUpload = makeLabel("imUpload", QString());
    imUpload->setPixmap(picture("upload").pixmap(16, 16));
    labUploadCaption = makeLabel("labUploadCaption", QStringLiteral("Upload:"));
    labUpload = makeLabel("labUpload", QString());
    labUpload->setFont(valueFont);
    labUpload->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    barUpload = makeBar("barUpload");
    labMinUpload = makeLabel("labMinUpload", QStringLiteral("0 MB"));
    labMaxUpload = makeLabel("labMaxUpload", QStringLiteral("350 MB"));
    labMaxUpload->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    btnClose = new QPushButton(QStringLiteral("OK"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setDefault(true);
    btnClose->setAutoDefault(true);
    connect(btnClose, &QPushButton::clicked, this, &TFrmMonitor::btnCloseClick);
    // The OK button is also the cancel button.
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &TFrmMonitor::btnCloseClick);
    LayoutForm();

    tKeepAlive = new QTimer(this);
    tKeepAlive->setObjectName(QStringLiteral("tKeepAlive"));
    tKeepAlive->setInterval(600000);
    connect(tKeepAlive, &QTimer::timeout, this, &TFrmMonitor::tKeepAliveTimer);
    tDisconnected = new QTimer(this);
    tDisconnected->setObjectName(QStringLiteral("tDisconnected"));
    tDisconnected->setInterval(1800000);
    connect(tDisconnected, &QTimer::timeout, this, &TFrmMonitor::tDisconnectedTimer);
    Alarm = new DailyAlarm(this);
    Alarm->setObjectName(QStringLiteral("Alarm"));
    connect(Alarm, &DailyAlarm::alarm, this, &TFrmMonitor::AlarmAlarm);

    BuildTrayMenu();
    Tray = new TrayIcon(this);
    connect(Tray, &TrayIcon::trayEvent, this,
            [this](quint32 message, quint32 event) { Dispatch(message, 1, qintptr(event)); });
}

void TFrmMonitor::BuildTrayMenu()
{
    TrayIconMenu = new QMenu(this);
    TrayIconMenu->setObjectName(QStringLiteral("TrayIconMenu"));
    auto item = [this](const char *name, const QString &caption, const char *icon) {
        QAction *action = TrayIconMenu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        if (icon)
            action->setIcon(picture(icon));
        return action;
    };
    miMonitor = item("miMonitor", QStringLiteral("Monitor"), "monitor");
    TrayIconMenu->setDefaultAction(miMonitor);
    miStatistic = item("miStatistic", QStringLiteral("Umsatzstatistik"), "statistic");
    miStatistic->setEnabled(false);
    miRZText = item("miRZText", QStringLiteral("RZ Mitteilung"), "rztext");
    N3 = TrayIconMenu->addSeparator();
    miLogInOut = item("miLogInOut", QStringLiteral("LogInOut"), "login");
    N2 = TrayIconMenu->addSeparator();

    miOnLimitMenu = new QMenu(QStringLiteral("Bei Überschreitung"), TrayIconMenu);
    miOnLimitMenu->setObjectName(QStringLiteral("miOnLimitMenu"));
    miOnLimitMenu->setIcon(picture("onlimit"));
    miOnLimit = TrayIconMenu->addMenu(miOnLimitMenu);
    miOnLimit->setObjectName(QStringLiteral("miOnLimit"));
    OnLimitGroup = new QActionGroup(this);
    auto radio = [this](const char *name, const QString &caption) {
        QAction *action = miOnLimitMenu->addAction(caption);
        action->setObjectName(QLatin1String(name));
        action->setCheckable(true);
        OnLimitGroup->addAction(action);
        return action;
    };
    miOLoff = radio("miOLoff", QStringLiteral("Nichts"));
    miOLlogout = radio("miOLlogout", QStringLiteral("Logout vom ZEPA"));
    miOLrestart = radio("miOLrestart", QStringLiteral("Computer neustarten"));
    miOLshutdown = radio("miOLshutdown", QStringLiteral("Computer runterfahren"));
    miOLoff->setChecked(true);

    miSettings = item("miSettings", QStringLiteral("Einstellungen"), "settings");
    miAbout = item("miAbout", QStringLiteral("Über"), "about");
    N1 = TrayIconMenu->addSeparator();
    miExit = item("miExit", QStringLiteral("Beenden"), "exit");

    connect(miMonitor, &QAction::triggered, this, &TFrmMonitor::miMonitorClick);
    connect(miStatistic, &QAction::triggered, this, &TFrmMonitor::miStatisticClick);
    connect(miRZText, &QAction::triggered, this, &TFrmMonitor::miRZTextClick);
    connect(miLogInOut, &QAction::triggered, this, &TFrmMonitor::miLogInOutClick);
    connect(miSettings, &QAction::triggered, this, &TFrmMonitor::miSettingsClick);
    connect(miAbout, &QAction::triggered, this, &TFrmMonitor::miAboutClick);
    connect(miExit, &QAction::triggered, this, &TFrmMonitor::miExitClick);
}

void TFrmMonitor::LayoutForm()
{
    // The designed positions for a client width of 322; anchored parts follow the right edge.
    const int grow = width() - ClientWidth;
    GroupBox1->setGeometry(8, 8, 305 + grow, 169);
    const int right = 289 + grow;
    imDownload->setGeometry(16, 20, 16, 16);
    labDownloadCaption->setGeometry(35, 21, 80, 17);
    labDownload->setGeometry(right - 150, 18, 150, 20);
    barDownload->setGeometry(16, 42, 273 + grow, 16);
    labMinDownload->setGeometry(16, 62, 60, 15);
    labMaxDownload->setGeometry(right - 80, 62, 80, 15);
    Bevel1->setGeometry(16, 89, 273 + grow, 2);
    imUpload->setGeometry(16, 100, 16, 16);
    labUploadCaption->setGeometry(35, 101, 80, 17);
    labUpload->setGeometry(right - 150, 98, 150, 20);
    barUpload->setGeometry(16, 122, 273 + grow, 16);
    labMinUpload->setGeometry(16, 142, 60, 15);
    labMaxUpload->setGeometry(right - 80, 142, 80, 15);
    btnClose->setGeometry(width() - 92, height() - 33, 84, 25);
}

void TFrmMonitor::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (GroupBox1)
        LayoutForm();
}

void TFrmMonitor::StartUp()
{
    LogFileName = QDir(qEnvironmentVariable("XDG_DATA_HOME").isEmpty() ||
                               !QDir::isAbsolutePath(qEnvironmentVariable("XDG_DATA_HOME"))
                           ? QDir::homePath() + QStringLiteral("/.local/share")
                           : qEnvironmentVariable("XDG_DATA_HOME"))
                      .filePath(QStringLiteral("ZEPA_Monitor/ZEPA_Monitor.log"));

    TrayData = NotifyIconData();
    TrayData.cbSize = 488;
    TrayData.uID = 1;
    TrayData.uFlags = Tray::NIF_MESSAGE | Tray::NIF_ICON | Tray::NIF_TIP;
    TrayData.uCallbackMessage = WM_TRAY_NOTIFY;
    TrayData.hIcon = picture("zepa-monitor");
    TrayData.szTip = windowTitle();
    Tray->notify(TrayIcon::NIM_ADD, TrayData);

    Alarm->setTime(QTime(7, 1));

    QByteArray device;
    quint32 netmask = 0;
    if (!FindCampusAdapter(&device, &LocalIP, &netmask)) {
        FatalStartupError(QStringLiteral("Es gibt kein Netzwerkkarte mit 10.0.x.x Adresse!"));
        return;
    }

    ExternalIP = "?.?.?.?";
    UpdateTrayTip();
    LoggedIn = false;

    // A counter below zero or a date that is no date would only mislead the accounting.
    Downloaded = std::max<qint64>(0, ReadInt64Setting("downloaded", 0));
    Uploaded = std::max<qint64>(0, ReadInt64Setting("uploaded", 0));
    LastTransfer = ReadDateSetting("date", DateTime::now());
    CatchUpDays();
    SetDownloaded(false, Downloaded);
    SetUploaded(false, Uploaded);

    DownloadThread = new TPcapThread(false, device, DownloadFilter(LocalIP), netmask, 0);
    UploadThread = new TPcapThread(false, device, UploadFilter(LocalIP), netmask, 1);
    if (DownloadThread->OpenFailed || UploadThread->OpenFailed) {
        FatalStartupError(QStringLiteral("Keine ZUW-Netz Verbindung gefunden!"));
        return;
    }
    for (TPcapThread *thread : {DownloadThread, UploadThread}) {
        connect(thread, &TPcapThread::countingLost, this, [this](int direction) {
            ShowBalloon(3, QStringLiteral("Zählung unterbrochen"),
                        QStringLiteral("Der %1 kann seit einer Minute nicht mehr gezählt werden. "
                                       "ZEPA-Monitor versucht es weiter.")
                            .arg(direction == 0 ? QStringLiteral("Download") : QStringLiteral("Upload")));
        });
    }
}

void TFrmMonitor::FatalStartupError(const QString &text)
{
    m_startupFailed = true;
    SetTrayEnabled(false);
    ShowMessageBox(QMessageBox::Critical, QMessageBox::Abort, text);
    Application::get()->requestTermination();
}

void TFrmMonitor::SetFormsReady()
{
    m_formsReady = true;
    // Checked from here on only: a closing with its re-login needs the settings dialog, and a fatal
    // start-up message must not let it run meanwhile.
    Alarm->setActive(true);
    if (Instance *instance = Application::get() ? Application::get()->instance() : nullptr)
        instance->setHolding(false);
}

void TFrmMonitor::StopCaptureThread(TPcapThread *thread)
{
    if (!thread)
        return;
    // Waiting in an event loop keeps serving the thread's last hand-over.
    QEventLoop loop;
    connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    thread->Stop();
    if (!thread->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread->wait();
}

void TFrmMonitor::FormDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;

    // From here on nothing may log in again or open a dialog: only the hand-overs are served.
    if (Application *app = Application::get()) {
        app->beginExit();
        if (app->instance())
            app->instance()->setDiscarding(true);
    }
    tKeepAlive->stop();
    tDisconnected->stop();
    Alarm->setActive(false);
    if (FrmRZText)
        FrmRZText->StopTimers();
    if (FrmShutdown)
        FrmShutdown->StopTimers();
    if (FrmStatistic)
        FrmStatistic->StopTimers();

    if (LoggedIn && AutoLogout)
        DoLogout();
    StopCaptureThread(DownloadThread);
    StopCaptureThread(UploadThread);
    Tray->notify(TrayIcon::NIM_DELETE, TrayData);
}

void TFrmMonitor::Dispatch(quint32 message, quintptr wParam, qintptr lParam)
{
    if (message == WM_MONITOR_COMMAND) {
        const Application *app = Application::get();
        if (!m_formsReady || (app && app->exiting()))
            return;
        switch (wParam) {
        case 0:
            if (!LoggedIn) {
                // A successful login has set the keep-alive timer as the setting says, as for the tray item.
                const AccessResult login = LogInOut();
                if (login.ran && !login.succeeded)
                    tKeepAlive->stop();
            }
            break;
        case 1:
            if (LoggedIn && LogInOut().ran)
                FollowKeepAliveSetting();
            break;
        case 2:
            if (lParam != 0)
                ShowWindow();
            else
                HideWindow();
            break;
        default:
            break;
        }
        return;
    }
    if (message != WM_TRAY_NOTIFY)
        return;
    // Tray input before all forms exist or after the exit began would meet a form that is not there.
    const Application *app = Application::get();
    if (!m_formsReady || (app && app->exiting()))
        return;
    switch (quint32(lParam) & 0xffff) {
    case Tray::WM_LBUTTONDBLCLK:
        if (tKeepAlive->isActive())
            CheckConnection();
        miMonitorClick();
        break;
    case Tray::WM_RBUTTONDOWN: {
        const QPoint pos = QCursor::pos();
        activateWindow();
        SetLoggedIn(IsOnline());
        TrayIconMenu->popup(pos);
        break;
    }
    case Tray::NIN_BALLOONUSERCLICK:
        if (TrayData.szInfoTitle == QLatin1String("RZText"))
            FrmRZText->ShowNotice();
        break;
    default:
        break;
    }
}

void TFrmMonitor::ShowBalloon(int kind, const QString &title, const QString &text)
{
    TrayData.uFlags = Tray::NIF_INFO;
    TrayData.dwInfoFlags = quint32(kind);
    TrayData.uTimeout = kind == 3 ? 20000 : 10000;
    TrayData.szInfoTitle = cut(title.isNull() ? windowTitle() : title, Tray::InfoTitleSize);
    TrayData.szInfo = cut(text, Tray::InfoSize);
    Tray->notify(TrayIcon::NIM_MODIFY, TrayData);
}

void TFrmMonitor::SetTrayEnabled(bool enabled)
{
    TrayData.uFlags = Tray::NIF_MESSAGE;
    TrayData.uCallbackMessage = enabled ? WM_TRAY_NOTIFY : WM_TRAY_DISABLED;
    Tray->notify(TrayIcon::NIM_MODIFY, TrayData);
}

void TFrmMonitor::UpdateTrayTip()
{
    TrayData.uFlags = Tray::NIF_TIP;
    TrayData.szTip = cut(QStringLiteral("%1\n%2\n%3")
                             .arg(windowTitle(), QString::fromLatin1(LocalIP), Text::fromCp1252(ExternalIP)),
                         Tray::TipSize);
    Tray->notify(TrayIcon::NIM_MODIFY, TrayData);
}

void TFrmMonitor::ShowWindow()
{
    show();
    raise();
    activateWindow();
}

void TFrmMonitor::HideWindow()
{
    hide();
}

void TFrmMonitor::miMonitorClick()
{
    if (isVisible())
        HideWindow();
    else
        ShowWindow();
}

void TFrmMonitor::btnCloseClick()
{
    HideWindow();
}

void TFrmMonitor::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFrmMonitor::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        FormHide();
}

void TFrmMonitor::closeEvent(QCloseEvent *event)
{
    FormClose(event);
}

void TFrmMonitor::FormShow()
{
    const int left = ReadIntSetting("win_left", x());
    const int top = ReadIntSetting("win_top", y());
    const int w = ReadIntSetting("win_width", width());
    move(left, top);
    resize(w, height());
    btnClose->setFocus();
}

void TFrmMonitor::FormHide()
{
    WriteIntSetting("win_left", x());
    WriteIntSetting("win_top", y());
    WriteIntSetting("win_width", width());
}

void TFrmMonitor::FormClose(QCloseEvent *event)
{
    // Closing only hides; the program goes on in the tray.
    event->ignore();
    HideWindow();
}

void TFrmMonitor::miStatisticClick()
{
    FrmStatistic->ShowAndLoad();
}

void TFrmMonitor::miRZTextClick()
{
    FrmRZText->FetchNotice();
    FrmRZText->ShowNotice();
}

void TFrmMonitor::miSettingsClick()
{
    FrmSettings->exec();
}

QString TFrmMonitor::AboutText() const
{
    const QStringList lines = {
        QStringLiteral("ZEPA-Monitor"),
        QStringLiteral("----------------"),
        QString(),
        QStringLiteral("Version %1 vom 11.12.2026").arg(QStringLiteral(ZEPA_VERSION)),
        QString(),
        QStringLiteral("Dieses Programm kann Dich automatisch"),
        QStringLiteral("zur ZEPA-Netzwerk einloggen und danach"),
        QStringLiteral("die genutzten Datenmengen anzeigen."),
        QString(),
        QStringLiteral("Entwickelt vom ZEPA-Monitor-Team"),
        QStringLiteral("Kontakt: zepa-monitor@zepa.example"),
        QString(),
        QStringLiteral("Interne IP: ") + QString::fromLatin1(LocalIP),
        QStringLiteral("Externe IP: ") + Text::fromCp1252(ExternalIP),
    };
    return lines.join(QLatin1Char('\n'));
}

void TFrmMonitor::miAboutClick()
{
    SetTrayEnabled(false);
    ShowMessageBox(QMessageBox::Information, QMessageBox::Ok, AboutText());
    SetTrayEnabled(true);
}

void TFrmMonitor::miExitClick()
{
    Application::get()->requestTermination();
}
