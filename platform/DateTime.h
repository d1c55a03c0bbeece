#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

// Date-times are days since 1899-12-30 in local time, the fraction being the time of day.
using TDateTime = double;

namespace DateTime {

inline constexpr double SecondsPerDay = 86400.0;

TDateTime fromQDateTime(const QDateTime &dt);
QDateTime toQDateTime(TDateTime t);

// The current local time; tests replace the clock, everything else reads it here.
TDateTime now();
QDateTime currentDateTime();
void setClockForTesting(std::function<QDateTime()> clock);

// Whole-day part (the calendar day as a day count) and the parts of a date-time.
double dateOf(TDateTime t);
int hourOf(TDateTime t);
int minuteOf(TDateTime t);
int dayOfMonth(TDateTime t);

// A stored value counts only when it is finite and lies between 1900 and 2200.
bool isPlausible(TDateTime t);

// German short date and long time: "dd.MM.yyyy HH:mm:ss", the time left out at exactly midnight.
QString toText(TDateTime t);

} // namespace DateTime
