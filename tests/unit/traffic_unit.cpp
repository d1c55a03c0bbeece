#include "traffic/Limits.h"
#include "traffic/Upcapthread.h"

#include <clocale>
#include <gtest/gtest.h>

namespace {

TEST(FormatMegabytes, PlacesByMagnitudeWithAPointInEveryLocale)
{
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    const std::pair<qint64, const char *> cases[] = {
        {0, "0.00 MB"},          {5242880, "5.00 MB"},  {10485759, "10.00 MB"},        {52428800, "50.0 MB"},
        {104857599, "100.0 MB"}, {734003200, "700 MB"}, {1048576LL * 1234, "1234 MB"},
    };
    for (const auto &[bytes, text] : cases)
        EXPECT_EQ(FormatMegabytes(bytes).toStdString(), text) << bytes;
    std::setlocale(LC_ALL, "C");
}

TEST(Filters, OutsideTrafficOfThisComputerOnly)
{
    EXPECT_EQ(DownloadFilter("10.0.1.23"),
              QByteArray("ip dst host 10.0.1.23 and not src net ( 198.18 or 10.0 )"));
    EXPECT_EQ(UploadFilter("10.0.1.23"),
              QByteArray("ip src host 10.0.1.23 and not dst net ( 198.18 or 10.0 )"));
}

} // namespace
