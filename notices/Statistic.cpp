#include "notices/Statistic.h"

#include "access/Http.h"
#include "app/Application.h"
#include "app/FormDialog.h"
#include "app/Monitor.h"
#include "app/SaveDialog.h"
#include "app/Text.h"
#include "settings/Login.h"

#include <QBuffer>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QSaveFile>
#include <QShortcut>

TFrmStatistic::TFrmStatistic() : QWidget(nullptr)
{
    setObjectName(QStringLiteral("FrmStatistic"));
    setWindowTitle(QStringLiteral("Umsatzstatistik"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    resize(612, 355);
    CentreOnScreen(this);

    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(QIcon(QStringLiteral(":/icons/statistic.svg")).pixmap(16, 16));
    Image1->setGeometry(8, 12, 16, 16);
    comMode = new QComboBox(this);
    comMode->setObjectName(QStringLiteral("comMode"));
    comMode->addItems({QStringLiteral("Letzte 24 Stunden"), QStringLiteral("Letzte 2 Wochen")});
    comMode->setGeometry(30, 8, 180, 24);
    imStatistic = new QLabel(this);
    imStatistic->setObjectName(QStringLiteral("imStatistic"));
    imStatistic->setGeometry(8, 40, 595, 272);

    panelProgress = new QWidget(this);
    panelProgress->setObjectName(QStringLiteral("panelProgress"));
    panelProgress->resize(194, 41);
    auto *grid = new QGridLayout(panelProgress);
    grid->setContentsMargins(0, 0, 0, 0);
    labProgress = new QLabel(QStringLiteral("Bitte warten..."), panelProgress);
    labProgress->setObjectName(QStringLiteral("labProgress"));
    labProgress->setAlignment(Qt::AlignCenter);
    barProgress = new QProgressBar(panelProgress);
    barProgress->setObjectName(QStringLiteral("barProgress"));
    barProgress->setRange(0, 45);
    barProgress->setTextVisible(false);
    grid->addWidget(labProgress, 0, 0);
    grid->addWidget(barProgress, 1, 0);
    panelProgress->hide();

    btnReload = new QPushButton(QStringLiteral("Aktualisieren"), this);
    btnReload->setObjectName(QStringLiteral("btnReload"));
    btnReload->setGeometry(8, 322, 100, 26);
    btnSave = new QPushButton(QStringLiteral("Speichern"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnSave->setGeometry(114, 322, 100, 26);
    btnClose = new QPushButton(QStringLiteral("OK"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setGeometry(504, 322, 100, 26);
    btnClose->setDefault(true);
    setTabOrder(comMode, btnReload);
    setTabOrder(btnReload, btnClose);
    setTabOrder(btnClose, btnSave);

    connect(comMode, &QComboBox::currentIndexChanged, this, &TFrmStatistic::comModeChange);
    connect(btnReload, &QPushButton::clicked, this, &TFrmStatistic::btnReloadClick);
    connect(btnSave, &QPushButton::clicked, this, &TFrmStatistic::btnSaveClick);
    connect(btnClose, &QPushButton::clicked, this, &TFrmStatistic::btnCloseClick);
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &TFrmStatistic::btnCloseClick);
}

QByteArray EditStatisticAddress(QByteArray address, const QByteArray &mode)
{
    const qsizetype at = address.indexOf("Mode=");
    if (at >= 0) {
        qsizetype end = address.indexOf('&', at);
        if (end < 0)
            end = address.size();
        else
            ++end;
        address.remove(at, end - at);
    }
    if (!mode.isEmpty())
        address += "&Mode=" + mode;
    return address;
}

void TFrmStatistic::ShowAndLoad()
{
    show();
    raise();
    activateWindow();
    // A second fetch inside the first would leave the first with a truncated image.
    if (!m_fetching)
        LoadStatistic();
}

void TFrmStatistic::LoadStatistic()
{
    if (m_fetching)
        return;
    m_fetching = true;
    imStatistic->hide();
    imStatistic->clear();
    m_chartBytes.clear();
    panelProgress->move(imStatistic->x() + (imStatistic->width() - panelProgress->width()) / 2,
                        imStatistic->y() + (imStatistic->height() - panelProgress->height()) / 2);
    barProgress->setValue(0);
    panelProgress->show();
    panelProgress->raise();
    comMode->setEnabled(false);
    btnSave->setEnabled(false);
    btnReload->setEnabled(false);
    QCoreApplication::processEvents();

    bool shown = false;
    QString message;
    bool haveMessage = false;
    if (FrmMonitor->LoggedIn && FrmMonitor->BeginAccess()) {
        QByteArray address;
        int result = -1;
        if (!FrmMonitor->Password.isEmpty()) {
            result = FrmMonitor->DoLogin(FrmMonitor->LoginID, FrmMonitor->Password, &address);
        } else {
            FrmLogin->editLoginID->setText(Text::fromCp1252(FrmMonitor->LoginID));
            FrmLogin->editPassword->setText(Text::fromCp1252(FrmMonitor->Password));
            if (FrmLogin->exec() == 1)
                result = FrmMonitor->DoLogin(Text::toCp1252(FrmLogin->editLoginID->text()),
                                             Text::toCp1252(FrmLogin->editPassword->text()), &address);
        }
        FrmMonitor->EndAccess();
        haveMessage = result >= 0;
        switch (result) {
        case 0:
            if (address.isEmpty()) {
                message = QStringLiteral("Umsatzstatistik konnte nicht geholt werden.");
            } else {
                shown = DownloadChart(EditStatisticAddress(address, StatisticMode));
                haveMessage = !shown;
                message = Text::fromCp1252(LoginMessage);
            }
            break;
        case 1:
            message = Text::fromCp1252(LoginMessage);
            break;
        case 2:
            message = QStringLiteral("Überprüfen Sie LoginID und Passwort.");
            break;
        case 3:
            message = QStringLiteral("Ihr Account wurde vorübergehend gesperrt.");
            break;
        default:
            break;
        }
    }
    if (haveMessage)
        ShowMessageBox(QMessageBox::Critical, QMessageBox::Abort, message);

    btnReload->setEnabled(true);
    btnSave->setEnabled(true);
    comMode->setEnabled(true);
    panelProgress->hide();
    if (shown)
        imStatistic->show();
    m_fetching = false;
}

bool TFrmStatistic::DownloadChart(const QByteArray &address)
{
    Http::TransferOptions options;
    options.text = false;
    options.progress = [this] {
        int position = barProgress->value() + 1;
        if (position > barProgress->maximum())
            position = 0;
        barProgress->setValue(position);
        return isVisible();
    };
    ChartStream.clear();
    Http::TransferResult transfer = Http::Transfer(address, nullptr, options);
    if (transfer.stopped)
        return true;
    if (transfer.outcome == HttpOutcome::NotStarted)
        return false;
    if (transfer.outcome == HttpOutcome::Failed) {
        LoginMessage = transfer.error;
        return false;
    }
    ChartStream = std::move(transfer.body);
    QBuffer buffer(&ChartStream);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "gif");
    const QImage image = reader.read();
    if (image.isNull()) {
        ChartStream.clear();
        LoginMessage = Text::toCp1252(
            QStringLiteral("Die Umsatzstatistik ist kein lesbares GIF-Bild (%1).").arg(reader.errorString()));
        return false;
    }
    m_chartBytes = ChartStream;
    ChartStream.clear();
    imStatistic->setPixmap(QPixmap::fromImage(image));
    imStatistic->resize(image.size());
    resize(imStatistic->width() + 17, imStatistic->height() + 83);
    return true;
}

void TFrmStatistic::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (!btnClose)
        return;
    // The buttons keep to the bottom edge (OK also to the right one): the window takes the chart's
    // size, and a chart smaller than the design would hide them otherwise.
    const int top = height() - 33;
    btnReload->move(btnReload->x(), top);
    btnSave->move(btnSave->x(), top);
    btnClose->move(width() - 108, top);
}

void TFrmStatistic::comModeChange()
{
    StatisticMode = comMode->currentIndex() == 0 ? QByteArray("24H") : QByteArray();
    LoadStatistic();
}

void TFrmStatistic::btnReloadClick()
{
    LoadStatistic();
}

void TFrmStatistic::btnSaveClick()
{
    const QString path = AskSaveFileName(this, QStringLiteral("GIF Datei (*.gif)"), QStringLiteral("gif"));
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    if (m_chartBytes.isEmpty()) {
        Application::showException(
            QStringLiteral("Es ist keine Umsatzstatistik geladen, die gespeichert werden könnte."));
        return;
    }
    if (!file.open(QIODevice::WriteOnly) || file.write(m_chartBytes) < 0 || !file.commit())
        Application::showException(QStringLiteral("Die Datei »%1« konnte nicht gespeichert werden: %2")
                                       .arg(path, file.errorString()));
}

void TFrmStatistic::btnCloseClick()
{
    hide();
}

void TFrmStatistic::StopTimers() {}
