#include "app/Entry.h"
#include "app/Text.h"
#include "platform/DateTime.h"

#include <gtest/gtest.h>

namespace {

struct SwitchCase
{
    const char *commandLine;
    int expected;
};

class SwitchWords : public ::testing::TestWithParam<SwitchCase>
{
};

TEST_P(SwitchWords, FirstWordNamesTheSwitch)
{
    EXPECT_EQ(Entry::SwitchIndex(GetParam().commandLine), GetParam().expected) << GetParam().commandLine;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SwitchWords,
    ::testing::Values(SwitchCase{"/LOGIN", 0}, SwitchCase{"/LOGOUT", 1}, SwitchCase{"/RELOGIN", 2},
                      SwitchCase{"/SHOW", 3}, SwitchCase{"/HIDE", 4},
                      // leading blanks skipped, case ignored, further words ignored
                      SwitchCase{"   /logout   more", 1}, SwitchCase{"/ReLogin x", 2},
                      // a tab is no blank; a word that only begins with a switch matches nothing
                      SwitchCase{"\t/LOGIN", -1}, SwitchCase{"/LOGIN,", -1}, SwitchCase{"\"/LOGIN\"", -1},
                      SwitchCase{"/LOGINX", -1}, SwitchCase{"/LOG", -1}, SwitchCase{"", -1},
                      SwitchCase{"   ", -1}, SwitchCase{"LOGIN", -1}));

TEST(Text, Cp1252RoundTripAndUnencodable)
{
    const QString german = QStringLiteral("Überprüfen Sie Ihr LoginID äöüß €");
    EXPECT_EQ(Text::fromCp1252(Text::toCp1252(german)), german);
    EXPECT_EQ(Text::toCp1252(QStringLiteral("€")), QByteArray("\x80"));
    EXPECT_EQ(Text::fromCp1252(QByteArray("\xfc")), QStringLiteral("ü"));
    EXPECT_FALSE(Text::isCp1252(QStringLiteral("ł")));
    EXPECT_TRUE(Text::isCp1252(QStringLiteral("abc&=+%")));
    EXPECT_EQ(Text::fixedField(QByteArray(40, 'a')).size(), 31);
    EXPECT_EQ(Text::fixedField(QByteArray("ab\0cd", 5)), QByteArray("ab"));
}

struct DateCase
{
    QDateTime time;
    double days;
};

TEST(DateTime, DayCountsSince1899)
{
    const DateCase cases[] = {
        {QDateTime(QDate(1899, 12, 30), QTime(0, 0)), 0.0},
        {QDateTime(QDate(1900, 1, 1), QTime(12, 0)), 2.5},
        {QDateTime(QDate(2007, 9, 5), QTime(7, 0)), 39330.0 + 7.0 / 24.0},
    };
    for (const auto &c : cases) {
        EXPECT_NEAR(DateTime::fromQDateTime(c.time), c.days, 1e-9) << c.time.toString().toStdString();
        EXPECT_EQ(DateTime::toQDateTime(c.days), c.time);
    }
}

TEST(DateTime, GermanTextLeavesOutMidnight)
{
    const double start = DateTime::fromQDateTime(QDateTime(QDate(2007, 9, 5), QTime(7, 0)));
    EXPECT_EQ(DateTime::toText(start), QStringLiteral("05.09.2007 07:00:00"));
    EXPECT_EQ(DateTime::toText(std::trunc(start)), QStringLiteral("05.09.2007"));
    EXPECT_EQ(DateTime::hourOf(start), 7);
    EXPECT_EQ(DateTime::dayOfMonth(start), 5);
}

TEST(DateTime, OnlyPlausibleDatesCount)
{
    EXPECT_TRUE(DateTime::isPlausible(45000.5));
    EXPECT_FALSE(DateTime::isPlausible(std::nan("")));
    EXPECT_FALSE(DateTime::isPlausible(INFINITY));
    EXPECT_FALSE(DateTime::isPlausible(-5.0));
    EXPECT_FALSE(DateTime::isPlausible(1e12));
}

} // namespace
