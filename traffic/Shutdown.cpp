#include "traffic/Shutdown.h"

#include "platform/Power.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

TFrmShutdown::TFrmShutdown() : QDialog(nullptr)
{
    setObjectName(QStringLiteral("FrmShutdown"));
    setWindowTitle(QStringLiteral("ZEPA-Monitor"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);
    resize(260, 110);

    GridPanel1 = new QGridLayout(this);
    labText = new QLabel(this);
    labText->setObjectName(QStringLiteral("labText"));
    labText->setTextFormat(Qt::PlainText);
    barTime = new QProgressBar(this);
    barTime->setObjectName(QStringLiteral("barTime"));
    barTime->setTextVisible(false);
    QPalette palette = barTime->palette();
    palette.setColor(QPalette::Highlight, QColor(128, 0, 0));
    barTime->setPalette(palette);
    btnAbort = new QPushButton(QStringLiteral("Abbrechen"), this);
    btnAbort->setObjectName(QStringLiteral("btnAbort"));
    btnAbort->setDefault(true);
    GridPanel1->addWidget(labText, 0, 0, Qt::AlignCenter);
    GridPanel1->addWidget(barTime, 1, 0, Qt::AlignCenter);
    GridPanel1->addWidget(btnAbort, 2, 0, Qt::AlignCenter);
    GridPanel1->setRowStretch(0, 37);
    GridPanel1->setRowStretch(1, 25);
    GridPanel1->setRowStretch(2, 37);
    connect(btnAbort, &QPushButton::clicked, this, &TFrmShutdown::btnAbortClick);

    tDelay = new QTimer(this);
    tDelay->setObjectName(QStringLiteral("tDelay"));
    tDelay->setInterval(1000);
    connect(tDelay, &QTimer::timeout, this, &TFrmShutdown::tDelayTimer);

    // logind needs no privilege step; only the range is set up here.
    barTime->setRange(0, 20);
}

void TFrmShutdown::StartCountdown(quint32 mode)
{
    labText->setText(mode == 8 ? QStringLiteral("Computer wird heruntergefahrt...")
                               : QStringLiteral("Computer wird neugestartet..."));
    ShutdownMode = mode;
    Remaining = 20;
    barTime->setValue(20 - Remaining);
    if (!tDelay->isActive())
        tDelay->start();
    show();
}

void TFrmShutdown::tDelayTimer()
{
    Remaining -= 1;
    if (Remaining == 0) {
        btnAbortClick();
        Power::request(ShutdownMode);
        return;
    }
    barTime->setValue(20 - Remaining);
}

void TFrmShutdown::btnAbortClick()
{
    tDelay->stop();
    hide();
    barTime->setValue(0);
}

void TFrmShutdown::StopTimers()
{
    tDelay->stop();
}

void TFrmShutdown::closeEvent(QCloseEvent *event)
{
    // Hiding the only "Abbrechen" while the count runs on would restart the computer without warning.
    event->ignore();
    btnAbortClick();
}

void TFrmShutdown::reject()
{
    btnAbortClick();
}
