#pragma once

#include "platform/DateTime.h"

#include <QObject>
#include <QTime>
#include <QTimer>

// A daily alarm item that looks at the wall clock every few seconds, so suspend and clock changes
// cannot skip it: the handler gets the current time on every check, and its own guards decide.
class DailyAlarm : public QObject
{
    Q_OBJECT
public:
    explicit DailyAlarm(QObject *parent = nullptr);

    void setTime(const QTime &time) { m_time = time; }
    QTime time() const { return m_time; }
    void setActive(bool active);
    bool isActive() const { return m_timer.isActive(); }

    // The once-a-day guard lives with the alarm, as the program's other state lives in its components.
    qint64 tag() const { return m_tag; }
    void setTag(qint64 tag) { m_tag = tag; }

    static constexpr int CheckIntervalMs = 5000;

signals:
    void alarm(TDateTime triggerTime);

private:
    QTimer m_timer;
    QTime m_time;
    qint64 m_tag = 0;
};
