#include "notices/Statistic.h"

#include <gtest/gtest.h>

namespace {

TEST(StatisticAddress, ModeParameterReplaced)
{
    struct Case
    {
        const char *address;
        const char *mode;
        const char *expected;
    };
    const Case cases[] = {
        {"http://statistic.x/s?a=1&Mode=A&b=2", "24H", "http://statistic.x/s?a=1&b=2&Mode=24H"},
        {"http://statistic.x/s?a=1&Mode=A&b=2", "", "http://statistic.x/s?a=1&b=2"},
        {"http://statistic.x/s?a=1&Mode=A", "24H", "http://statistic.x/s?a=1&&Mode=24H"},
        {"http://statistic.x/s?a=1&Mode=A", "", "http://statistic.x/s?a=1&"},
        {"http://statistic.x/s?a=1", "24H", "http://statistic.x/s?a=1&Mode=24H"},
        // Only the first occurrence goes.
        {"http://statistic.x/s?Mode=A&Mode=B", "", "http://statistic.x/s?Mode=B"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(EditStatisticAddress(c.address, c.mode), QByteArray(c.expected))
            << c.address << " " << c.mode;
}

} // namespace
