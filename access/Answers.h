#pragma once

#include <QByteArray>

// Readings of the servers' answers; pure functions of the bytes that arrived.
namespace Answers {

// Thousands separators dropped, "." as the decimal point, whatever the user's locale; 0 when unreadable.
double ReadLenientNumber(const QByteArray &text);

// The count of days until a blocked account is free again, from its message; stops at MaxDays.
inline constexpr int MaxDays = 1000;
int DaysUntilUnblocked(const QByteArray &message);
// The message with the line of days appended (unchanged with no day to wait).
QByteArray WithDaysUntilUnblocked(const QByteArray &message);

// The personal statistics address in a login answer's body; empty when it holds none.
QByteArray StatisticAddress(const QByteArray &body);

// The public address in the answers of the two echo services; empty when the answer holds none.
QByteArray EchoAddress1(const QByteArray &body, bool *valid);
QByteArray EchoAddress2(const QByteArray &body, bool *valid);

} // namespace Answers
