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
    bool DownloadChart(const QByteArray &address);
    // The tray item: while a fetch runs it only shows the window.
    void ShowAndLoad();
    bool Fetching() const { return m_fetching; }
    // The bytes of the chart shown, saved unchanged (Qt reads GIF but cannot write it).
    QByteArray ChartBytes() const { return m_chartBytes; }
    void comModeChange();
    void btnReloadClick();
    void btnSaveClick();
    void btnCloseClick();
    void StopTimers();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    bool m_fetching = false;
    QByteArray m_chartBytes;
};

// The statistics address with its "Mode" parameter replaced by `mode` (none when empty).
QByteArray EditStatisticAddress(QByteArray address, const QByteArray &mode);
