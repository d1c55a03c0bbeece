#include "platform/DailyAlarm.h"

DailyAlarm::DailyAlarm(QObject *parent) : QObject(parent)
{
    m_timer.setInterval(CheckIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { emit alarm(DateTime::now()); });
}

void DailyAlarm::setActive(bool active)
{
    if (active)
        m_timer.start();
    else
        m_timer.stop();
}
