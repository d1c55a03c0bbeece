#include "access/Answers.h"
#include "access/Http.h"

#include <QLocale>

#include <clocale>
#include <cmath>
#include <gtest/gtest.h>

namespace {

TEST(HtmlToText, OnlyLineFeedsBreaksAndSmallUmlautsChange)
{
    const std::pair<QByteArray, QByteArray> cases[] = {
        {"&uuml;ber", "\xfc"
                      "ber"},
        {"a<br>b<BR>c", "a\nb\n\nc"},
        {"a\n<br>b", "a \nb"},
        {"&szlig; &Auml; <Br> <br/> &amp; &nbsp;\r", "&szlig; &Auml; <Br> <br/> &amp; &nbsp;\r"},
        {"Gr&ouml;&szlig;e &auml;", "Gr\xf6&szlig;e \xe4"},
    };
    for (const auto &[html, text] : cases)
        EXPECT_EQ(HtmlToText(html), text) << html.constData();
}

TEST(ParseAnswerPage, TitleAndMessageBetweenTheirMarkers)
{
    struct Case
    {
        QByteArray page;
        QByteArray title;
        QByteArray message;
    };
    const QByteArray far(600, 'x');
    const Case cases[] = {
        {"<big><big>Logout erfolgreich<br><small><small>Sie sind\nab jetzt offline.<br><br>mehr",
         "Logout erfolgreich", "Sie sind ab jetzt offline."},
        {"<big><big>T<br>x<small><small>eins<br>zwei<br><br>drei", "T", "eins\nzwei"},
        {"<big><big>T<br><small><small>eins<br>zwei" + far, "T", "eins"},
        {"<small><small>nur Nachricht<br><br>", "Fehler", "Fehler"},
        {"<big><big>" + far + "<br><small><small>m<br><br>", "Fehler", "Fehler"},
        {"<big><big>Nur Titel<br>", "Nur Titel", "Fehler"},
        {"<big><big>T<br><small><small>" + far + "<br><br>", "T", "Fehler"},
        {"", "Fehler", "Fehler"},
    };
    for (const Case &c : cases) {
        const AnswerPage page = ParseAnswerPage(c.page);
        EXPECT_EQ(page.title, c.title) << c.page.left(60).constData();
        EXPECT_EQ(page.message, c.message) << c.page.left(60).constData();
    }
}

TEST(LenientNumber, ReadsAlikeInEveryLocale)
{
    // A German desktop makes the C library read "812.34" as 812.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    const std::pair<QByteArray, double> cases[] = {
        {"812.34", 812.34}, {"1,234.5 MB", 1234.5}, {"1.2.3", 0}, {"", 0},
        {"abc", 0},         {"120", 120},           {"-", 0},     {"7.", 7},
        {"-3", -3},         {"2e3", 2000},          {"1e", 0},    {"+5", 5},
    };
    for (const auto &[text, value] : cases)
        EXPECT_DOUBLE_EQ(Answers::ReadLenientNumber(text), value) << text.constData();
    EXPECT_TRUE(std::isinf(Answers::ReadLenientNumber("1e999")));
    std::setlocale(LC_ALL, "C");
}

TEST(DaysUntilUnblocked, ShrinksByAFifthADay)
{
    const std::pair<QByteArray, int> cases[] = {
        {"Down (max. 700): 812.34\nx Up (max. 350): 120", 1},
        {"(max. 700): 700 (max. 350): 0", 1},
        {"(max. 700): 1000 (max. 350): 500", 2},
        {"kein Wert", 0},
        {"(max. 700): 699 (max. 350): 349", 0},
        // Infinite or absurd figures stop at the bound instead of hanging.
        {"(max. 700): 1e999", Answers::MaxDays},
        {"(max. 700): 1e300", Answers::MaxDays},
    };
    for (const auto &[message, days] : cases)
        EXPECT_EQ(Answers::DaysUntilUnblocked(message), days) << message.constData();
    EXPECT_EQ(Answers::WithDaysUntilUnblocked("(max. 700): 812.34\n(max. 350): 120"),
              QByteArray("(max. 700): 812.34\n(max. 350): 120\n\nTage bis entspeerung: 1"));
    EXPECT_EQ(Answers::WithDaysUntilUnblocked("ohne"), QByteArray("ohne"));
    EXPECT_TRUE(Answers::WithDaysUntilUnblocked("(max. 700): 1e999").endsWith("mehr als 1000"));
}

TEST(StatisticAddress, FromTheMarkerToTheNextBracket)
{
    const QByteArray url = "http://statistic.zepa.example/cgi-bin/traffic?user=demo&Mode=24H";
    EXPECT_EQ(Answers::StatisticAddress("<a href=\"" + url + "\">x"), url + "\"");
    EXPECT_EQ(Answers::StatisticAddress("<a href=" + url + ">x"), url);
    EXPECT_EQ(Answers::StatisticAddress("no link here"), QByteArray());
    EXPECT_EQ(Answers::StatisticAddress("http://statistic." + QByteArray(190, 'a') + ">"), QByteArray());
    EXPECT_EQ(Answers::StatisticAddress("http://statistic." + QByteArray(182, 'a') + ">").size(), 199);
}

TEST(EchoAnswers, BareAddressOrBetweenMarkers)
{
    bool valid = false;
    EXPECT_EQ(Answers::EchoAddress1("1.2.3.4", &valid), QByteArray("1.2.3.4"));
    EXPECT_TRUE(valid);
    EXPECT_EQ(Answers::EchoAddress1("1.2.3.4\n", &valid), QByteArray("1.2.3.4\n"));
    EXPECT_TRUE(valid);
    Answers::EchoAddress1("255.255.255.2555", &valid);
    EXPECT_FALSE(valid);
    Answers::EchoAddress1("<html>", &valid);
    EXPECT_FALSE(valid);

    const QByteArray end = " <!--    END PRINT TIME AND DATE    -->";
    EXPECT_EQ(Answers::EchoAddress2("<p>Your IP: 198.18.255.1" + end, &valid), QByteArray("198.18.255.1"));
    EXPECT_TRUE(valid);
    Answers::EchoAddress2("Your IP: 1.2.3.4", &valid);
    EXPECT_FALSE(valid);
    EXPECT_EQ(Answers::EchoAddress2(end + "Your IP: 1.2.3.4", &valid), QByteArray());
    EXPECT_TRUE(valid);
}

TEST(FormEncode, PlainTextStaysSpecialCharactersAreEscaped)
{
    EXPECT_EQ(Http::formEncode("demo1234"), QByteArray("demo1234"));
    EXPECT_EQ(Http::formEncode("a&b=c+d%"), QByteArray("a%26b%3Dc%2Bd%25"));
    EXPECT_EQ(Http::formEncode("\xe4 x"), QByteArray("%E4%20x"));
}

} // namespace
