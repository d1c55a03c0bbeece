#include "platform/DateTime.h"

#include <cmath>

namespace DateTime {
namespace {

const QDate &epoch()
{
    static const QDate date(1899, 12, 30);
    return date;
}

std::function<QDateTime()> &clock()
{
    static std::function<QDateTime()> fn;
    return fn;
}

} // namespace

TDateTime fromQDateTime(const QDateTime &dt)
{
    const QDateTime local = dt.toLocalTime();
    const double days = static_cast<double>(epoch().daysTo(local.date()));
    const double msecs = static_cast<double>(local.time().msecsSinceStartOfDay());
    const double fraction = msecs / (SecondsPerDay * 1000.0);
    // Before the epoch the fraction counts away from zero, as the day count's sign says.
    return days >= 0 ? days + fraction : days - fraction;
}

QDateTime toQDateTime(TDateTime t)
{
    double whole = std::trunc(t);
    double fraction = std::fabs(t - whole);
    qint64 msecs = std::llround(fraction * SecondsPerDay * 1000.0);
    if (msecs >= qint64(SecondsPerDay) * 1000) {
        msecs -= qint64(SecondsPerDay) * 1000;
        whole += t >= 0 ? 1 : -1;
    }
    const QDate date = epoch().addDays(static_cast<qint64>(whole));
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs)));
}

QDateTime currentDateTime()
{
    return clock() ? clock()() : QDateTime::currentDateTime();
}

TDateTime now()
{
    return fromQDateTime(currentDateTime());
}

void setClockForTesting(std::function<QDateTime()> fn)
{
    clock() = std::move(fn);
}

double dateOf(TDateTime t)
{
    return static_cast<double>(epoch().daysTo(toQDateTime(t).date()));
}

int hourOf(TDateTime t)
{
    return toQDateTime(t).time().hour();
}

int minuteOf(TDateTime t)
{
    return toQDateTime(t).time().minute();
}

int dayOfMonth(TDateTime t)
{
    return toQDateTime(t).date().day();
}

bool isPlausible(TDateTime t)
{
    // 1900-01-01 and 2200-01-01 as day counts
    return std::isfinite(t) && t >= 2.0 && t < 109574.0;
}

QString toText(TDateTime t)
{
    const QDateTime dt = toQDateTime(t);
    const QTime time = dt.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0)
        return dt.date().toString(QStringLiteral("dd.MM.yyyy"));
    return dt.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}

} // namespace DateTime
