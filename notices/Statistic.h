#pragma once

#include <QByteArray>
#include <QWidget>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

// The user's traffic chart from the statistics server.
class TFrmStatistic : public QWidget
{
    Q_OBJECT
public:
    TFrmStatistic();

    QLabel *Image1 = nullptr;
    QComboBox *comMode = nullptr;
    QLabel *imStatistic = nullptr;
    QWidget *panelProgress = nullptr;
    QLabel *labProgress = nullptr;
    QProgressBar *barProgress = nullptr;
    QPushButton *btnReload = nullptr;
    QPushButton *btnClose = nullptr;
    QPushButton *btnSave = nullptr;

    QByteArray StatisticMode = "24H";
    QByteArray ChartStream;

    void LoadStatistic();
    void comModeChange();
    void btnReloadClick();
    void btnSaveClick();
    void btnCloseClick();
    void StopTimers();
};
