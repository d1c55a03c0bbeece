#include "traffic/Limits.h"

#include "app/Monitor.h"
#include "settings/Store.h"
#include "traffic/Shutdown.h"

#include <QAction>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QTimer>

#include <cmath>

namespace {

const QColor Normal(0, 128, 0);
const QColor Warned(128, 128, 0);
const QColor Over(128, 0, 0);

struct Counter
{
    const char *setting;
    double limitMB;
    double warnMB;
    const char *warnTitle;
    const char *warnText;
    const char *overTitle;
    const char *overText;
};

const Counter DownloadCounter = {"downloaded",
                                 700,
                                 650,
                                 "Vorsicht mit dem Download!",
                                 "Sie können nur noch 50MB gefahrlos downloaden!",
                                 "Downloadlimit überschritten!",
                                 "Sie haben mehr als 700MB gedownloaded!"};
const Counter UploadCounter = {"uploaded",
                               350,
                               320,
                               "Vorsicht mit dem Upload!",
                               "Sie können nur noch 30MB gefahrlos uploaden!",
                               "Uploadlimit überschritten!",
                               "Sie haben mehr als 350MB geuploaded!"};

// The limit state is the bar's fill colour.
QColor fillColour(const QProgressBar *bar)
{
    return bar->palette().color(QPalette::Highlight);
}

void setFillColour(QProgressBar *bar, const QColor &colour)
{
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Highlight, colour);
    bar->setPalette(palette);
}

} // namespace

QString FormatMegabytes(qint64 bytes)
{
    const double mb = double(bytes) / Limits::BytesPerMB;
    const int places = mb < 10 ? 2 : (mb < 100 ? 1 : 0);
    // QString::number ignores the locale, unlike printf under a German desktop.
    return QString::number(mb, 'f', places) + QStringLiteral(" MB");
}

namespace {

void setCounter(TFrmMonitor *monitor, const Counter &counter, qint64 &field, QLabel *label, QProgressBar *bar,
                bool warn, qint64 value)
{
    field = value;
    WriteInt64Setting(counter.setting, value);
    label->setText(FormatMegabytes(value));
    const double mb = double(value) / Limits::BytesPerMB;
    const double position = std::trunc(mb * 10000.0 / counter.limitMB);
    bar->setValue(int(std::clamp(position, 0.0, 10000.0)));
    if (value == 0)
        setFillColour(bar, Normal);
    if (mb > counter.warnMB && fillColour(bar) == Normal) {
        setFillColour(bar, Warned);
        if (warn)
            monitor->ShowBalloon(2, QString::fromUtf8(counter.warnTitle),
                                 QString::fromUtf8(counter.warnText));
    }
    if (mb > counter.limitMB && fillColour(bar) == Warned) {
        setFillColour(bar, Over);
        if (warn)
            monitor->ShowBalloon(2, QString::fromUtf8(counter.overTitle),
                                 QString::fromUtf8(counter.overText));
        monitor->DoLimitAction();
    }
}

} // namespace

void TFrmMonitor::SetDownloaded(bool warn, qint64 value)
{
    setCounter(this, DownloadCounter, Downloaded, labDownload, barDownload, warn, value);
}

void TFrmMonitor::SetUploaded(bool warn, qint64 value)
{
    setCounter(this, UploadCounter, Uploaded, labUpload, barUpload, warn, value);
}

void TFrmMonitor::DoLimitAction()
{
    if (miOLoff->isChecked())
        return;
    // A login or check running now would swallow the logout: act as soon as it has ended.
    if (AccessBusy()) {
        m_limitActionPending = true;
        return;
    }
    RunLimitAction();
}

void TFrmMonitor::RunLimitAction()
{
    if (LoggedIn) {
        miLogInOutClick();
        tKeepAlive->stop();
    }
    if (miOLrestart->isChecked())
        FrmShutdown->StartCountdown(2);
    else if (miOLshutdown->isChecked())
        FrmShutdown->StartCountdown(8);
}
