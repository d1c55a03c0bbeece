#include "access/Answers.h"

#include <charconv>
#include <cmath>

namespace Answers {
namespace {

QByteArray trimControls(const QByteArray &text)
{
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && static_cast<unsigned char>(text[start]) <= 32)
        ++start;
    while (end > start && static_cast<unsigned char>(text[end - 1]) <= 32)
        --end;
    return text.mid(start, end - start);
}

double figureBehind(const QByteArray &message, const char *marker, bool cutAtLineFeed)
{
    const qsizetype at = message.indexOf(marker);
    if (at < 0)
        return 0;
    QByteArray figure = trimControls(message.mid(at + qstrlen(marker), 30));
    if (cutAtLineFeed) {
        const qsizetype lf = figure.indexOf('\n');
        if (lf >= 0)
            figure.truncate(lf);
    }
    return ReadLenientNumber(figure);
}

} // namespace

double ReadLenientNumber(const QByteArray &text)
{
    QByteArray kept;
    for (char c : text) {
        if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == 'E' || c == 'e' || c == '.')
            kept.append(c);
    }
    if (kept.endsWith('-') || kept.endsWith('.'))
        kept.append('0');
    if (kept.isEmpty())
        return 0;
    // from_chars reads the same in every locale, unlike strtod under a German desktop.
    const char *begin = kept.constData();
    const char *end = begin + kept.size();
    bool negative = false;
    if (*begin == '+' || *begin == '-') {
        negative = *begin == '-';
        ++begin;
    }
    if (begin != end && (*begin == '+' || *begin == '-'))
        return 0;
    double value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range))
        return 0;
    if (ec == std::errc::result_out_of_range)
        value = HUGE_VAL;
    return negative ? -value : value;
}

int DaysUntilUnblocked(const QByteArray &message)
{
    double down = figureBehind(message, "(max. 700): ", true);
    double up = figureBehind(message, "(max. 350): ", false);
    int days = 0;
    // A figure that reads as infinite would never fall below its limit.
    while ((down >= 700 || up >= 350) && days < MaxDays) {
        down *= 0.8;
        up *= 0.8;
        ++days;
    }
    return days;
}

QByteArray WithDaysUntilUnblocked(const QByteArray &message)
{
    const int days = DaysUntilUnblocked(message);
    if (days <= 0)
        return message;
    if (days >= MaxDays)
        return message + "\n\nTage bis entspeerung: mehr als " + QByteArray::number(MaxDays);
    return message + "\n\nTage bis entspeerung: " + QByteArray::number(days);
}

QByteArray StatisticAddress(const QByteArray &body)
{
    const qsizetype at = body.indexOf("http://statistic.");
    if (at < 0)
        return QByteArray();
    const QByteArray window = body.mid(at, 200);
    const qsizetype end = window.indexOf('>');
    return end < 0 ? QByteArray() : window.left(end);
}

QByteArray EchoAddress1(const QByteArray &body, bool *valid)
{
    *valid = body.size() >= 7 && body.size() <= 15;
    return *valid ? body : QByteArray();
}

QByteArray EchoAddress2(const QByteArray &body, bool *valid)
{
    *valid = false;
    const qsizetype at = body.indexOf("Your IP: ");
    if (at < 0)
        return QByteArray();
    const qsizetype start = at + 9;
    const qsizetype end = body.indexOf(" <!--    END PRINT TIME AND DATE    -->");
    if (end < 0)
        return QByteArray();
    *valid = true;
    return end < start ? QByteArray() : body.mid(start, end - start);
}

} // namespace Answers
