#include "notices/Statistic.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>

TFrmStatistic::TFrmStatistic() : QWidget(nullptr)
{
    setObjectName(QStringLiteral("FrmStatistic"));
    setWindowTitle(QStringLiteral("Umsatzstatistik"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    resize(612, 355);

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

void TFrmStatistic::LoadStatistic()
{
    // The chart is fetched once the statistics window does its own work; until then nothing is shown.
    imStatistic->hide();
    imStatistic->clear();
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

void TFrmStatistic::btnSaveClick() {}

void TFrmStatistic::btnCloseClick()
{
    hide();
}

void TFrmStatistic::StopTimers() {}
