// The simulated campus's servers started in-process on loopback, as the component tests use them,
// talked to with libcurl and certificate checks on.

#include "sim/CampusServers.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

using namespace CampusSim;

namespace {

struct Answer
{
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

size_t collect(char *data, size_t size, size_t count, void *target)
{
    auto *answer = static_cast<Answer *>(target);
    // Stops an endless body after a megabyte.
    if (answer->body.size() > (1u << 20))
        return 0;
    answer->body.append(data, size * count);
    return size * count;
}

Answer fetch(const std::string &url, const std::string &ca, const std::string &post = {},
             long timeoutMs = 10000)
{
    Answer answer;
    CURL *curl = curl_easy_init();
    EXPECT_NE(curl, nullptr);
    EXPECT_EQ(curl_easy_setopt(curl, CURLOPT_URL, url.c_str()), CURLE_OK);
    EXPECT_EQ(curl_easy_setopt(curl, CURLOPT_CAINFO, ca.c_str()), CURLE_OK);
    EXPECT_EQ(curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L), CURLE_OK);
    EXPECT_EQ(curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs), CURLE_OK);
    EXPECT_EQ(curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collect), CURLE_OK);
    EXPECT_EQ(curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer), CURLE_OK);
    if (!post.empty()) {
        EXPECT_EQ(curl_easy_setopt(curl, CURLOPT_POSTFIELDS, post.c_str()), CURLE_OK);
        EXPECT_EQ(curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, static_cast<long>(post.size())), CURLE_OK);
    }
    answer.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_easy_cleanup(curl);
    return answer;
}

std::string between(const std::string &page, const std::string &start, const std::string &end)
{
    const size_t from = page.find(start);
    if (from == std::string::npos)
        return "(missing)";
    const size_t to = page.find(end, from + start.size());
    return page.substr(from + start.size(), to - from - start.size());
}

class CampusServersTest : public testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(servers.start(&error)) << error; }
    std::string login(const std::string &body)
    {
        return fetch(servers.url(Server::Login), servers.caFile(), body).body;
    }

    CampusServers servers;
    std::string error;
};

TEST_F(CampusServersTest, ListensOnEphemeralLoopbackPortsWithItsOwnCa)
{
    std::set<int> ports;
    for (Server s : AllServers) {
        EXPECT_GT(servers.port(s), 0) << serverName(s);
        ports.insert(servers.port(s));
    }
    EXPECT_EQ(ports.size(), 5u);
    EXPECT_TRUE(std::filesystem::exists(servers.caFile()));
    const Answer form = fetch(servers.url(Server::Login), servers.caFile());
    EXPECT_EQ(form.code, CURLE_OK);
    EXPECT_NE(form.body.find("name=\"username\""), std::string::npos);
    // Without the campus's CA the certificate check fails.
    EXPECT_EQ(fetch(servers.url(Server::Login), "/etc/ssl/certs/ca-certificates.crt").code,
              CURLE_PEER_FAILED_VERIFICATION);
}

TEST_F(CampusServersTest, LoginAnswersCarryTitleAndMessage)
{
    std::vector<SessionEvent> events;
    servers.setSessionHook([&](const SessionEvent &e) { events.push_back(e); });
    servers.addAccount("anna", "geheim");
    servers.addAccount("bert", "x");
    ASSERT_TRUE(servers.blockAccount("bert", "1,234.5 MB", "96"));
    EXPECT_FALSE(servers.blockAccount("nobody", "1", "2"));

    struct Case
    {
        std::string body, title, message;
    } cases[] = {
        {"username=anna&password=falsch&action=Login", "Authentisierung fehlgeschlagen",
         "Benutzername oder Passwort ung&uuml;ltig."},
        {"username=bert&password=x&action=Login", "Account gesperrt",
         "Ihr Account wurde wegen zu hohen Umsatzes vor&uuml;bergehend gesperrt.<br>\nDownload der letzten "
         "24 "
         "Stunden in MB (max. 700): 1,234.5 MB\n<br>\nUpload der letzten 24 Stunden in MB (max. 350): 96"},
        {"username=anna&password=geheim&action=Login", "Authentisierung gelungen",
         "Sie sind jetzt f&uuml;r das Internet freigeschaltet.<br>\nBenutzer: anna, Adresse: 127.0.0.1"},
        {"action=Logout", "Logout erfolgreich",
         "Sie sind jetzt abgemeldet. Der Zugang ins Internet ist gesperrt."},
    };
    for (const Case &c : cases) {
        const std::string page = login(c.body);
        EXPECT_EQ(between(page, "<big><big>", "<br>"), c.title) << c.body;
        EXPECT_EQ(between(page, "<small><small>", "<br><br>"), c.message) << c.body;
    }
    ASSERT_EQ(events.size(), 2u);
    EXPECT_TRUE(events[0].loggedIn);
    EXPECT_EQ(events[0].address, "127.0.0.1");
    EXPECT_EQ(events[0].user, "anna");
    EXPECT_FALSE(events[1].loggedIn);
    EXPECT_TRUE(servers.sessions().empty());

    login("username=anna&password=geheim&action=Login");
    servers.dropAll();
    EXPECT_TRUE(servers.sessions().empty());
    EXPECT_EQ(events.size(), 4u);
}

TEST_F(CampusServersTest, StatisticsLinkLeadsToTwoCharts)
{
    servers.addAccount("anna", "geheim");
    const std::string page = login("username=anna&password=geheim&action=Login&ShowTraffic=1");
    const std::string link = "http://statistic." + between(page, "http://statistic.", ">");
    EXPECT_EQ(link, "http://statistic.localhost:" + std::to_string(servers.port(Server::Statistic)) +
                        "/cgi-bin/umsatz?user=anna&Mode=2W&lang=de");
    const std::string base = "http://127.0.0.1:" + std::to_string(servers.port(Server::Statistic)) +
                             "/cgi-bin/umsatz?user=anna&lang=de";
    const Answer day = fetch(base + "&Mode=24H", servers.caFile());
    const Answer weeks = fetch(base, servers.caFile());
    EXPECT_EQ(day.body.substr(0, 4), "GIF8");
    EXPECT_EQ(weeks.body.substr(0, 4), "GIF8");
    EXPECT_NE(day.body, weeks.body);
    EXPECT_EQ(fetch(base + "&Mode=2W&Mode=24H", servers.caFile()).status, 400);
    EXPECT_EQ(fetch(servers.url(Server::Statistic) + "?user=nobody", servers.caFile()).status, 403);
}

TEST_F(CampusServersTest, EchoAndNoticeAnswers)
{
    EXPECT_EQ(fetch(servers.url(Server::Echo1), {}).body, "127.0.0.1");
    EXPECT_EQ(between(fetch(servers.url(Server::Echo2), {}).body,
                      "Your IP: ", " <!--    END PRINT TIME AND DATE    -->"),
              "127.0.0.1");
    EXPECT_EQ(fetch(servers.url(Server::Notice), {}).body, CampusServers::defaultNotice());
    servers.setNotice(" RZTEXT Gr\xfc\xdf"
                      "e");
    EXPECT_EQ(fetch(servers.url(Server::Notice), {}).body, " RZTEXT Gr\xfc\xdf"
                                                           "e");
}

TEST_F(CampusServersTest, FailModes)
{
    struct Case
    {
        const char *mode;
        CURLcode code;
        long status;
    } cases[] = {
        {"error-page", CURLE_OK, 500},
        {"no-markers", CURLE_OK, 200},
        {"delay:0.2", CURLE_OK, 200},
        {"stall", CURLE_OPERATION_TIMEDOUT, 0},
        {"slow:5", CURLE_OPERATION_TIMEDOUT, 200},
        {"huge", CURLE_WRITE_ERROR, 200},
        {"down", CURLE_COULDNT_CONNECT, 0},
    };
    for (const Case &c : cases) {
        const auto mode = FailMode::parse(c.mode);
        ASSERT_TRUE(mode) << c.mode;
        EXPECT_EQ(mode->toString(), c.mode);
        servers.setFailMode(Server::Echo1, *mode);
        const Answer answer = fetch(servers.url(Server::Echo1), {}, {}, 1500);
        EXPECT_EQ(answer.code, c.code) << c.mode;
        EXPECT_EQ(answer.status, c.status) << c.mode;
        servers.setFailMode(Server::Echo1, {});
        EXPECT_EQ(fetch(servers.url(Server::Echo1), {}).body, "127.0.0.1") << "after " << c.mode;
    }
    EXPECT_FALSE(FailMode::parse("delay:"));
    EXPECT_FALSE(FailMode::parse("sometimes"));
}

TEST_F(CampusServersTest, RecordsEveryRequestAsWindows1252Json)
{
    servers.addAccount("J\xfcrgen", "p&ss");
    login("username=J%FCrgen&password=p%26ss&action=Login");
    fetch(servers.url(Server::Notice) + "?x=1", {});
    const auto records = servers.requests();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].formValue("username"), "J\xfcrgen");
    EXPECT_EQ(records[0].formValue("password"), "p&ss");
    EXPECT_EQ(records[1].query, "x=1");
    const std::string json = records[0].toJson();
    EXPECT_NE(json.find("\"server\": \"login\""), std::string::npos) << json;
    EXPECT_NE(
        json.find(
            "\"form\": {\"username\": \"J\xc3\xbcrgen\", \"password\": \"p&ss\", \"action\": \"Login\"}"),
        std::string::npos)
        << json;
    EXPECT_NE(json.find("\"client\": \"127.0.0.1\""), std::string::npos) << json;
    EXPECT_EQ(servers.requests(Server::Echo2).size(), 0u);
    servers.clearRequests();
    EXPECT_TRUE(servers.requests().empty());
}

} // namespace

int main(int argc, char **argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    curl_global_cleanup();
    return rc;
}
