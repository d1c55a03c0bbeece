#pragma once

#include <QDialog>

class QGridLayout;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// The 20-second countdown before the limit action restarts or powers off the computer.
class TFrmShutdown : public QDialog
{
    Q_OBJECT
public:
    TFrmShutdown();

    QGridLayout *GridPanel1 = nullptr;
    QLabel *labText = nullptr;
    QProgressBar *barTime = nullptr;
    QPushButton *btnAbort = nullptr;
    QTimer *tDelay = nullptr;

    qint32 Remaining = 0;
    quint32 ShutdownMode = 0;

    void StartCountdown(quint32 mode);
    void tDelayTimer();
    void btnAbortClick();
    void StopTimers();

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;
};
