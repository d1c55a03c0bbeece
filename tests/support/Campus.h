#pragma once

#include "access/Http.h"
#include "settings/Store.h"
#include "sim/CampusServers.h"
#include "support/Forms.h"

using CampusSim::FailMode;
using CampusSim::Server;

// The campus servers in-process on loopback, reached under their campus names with the test CA.
class CampusTest : public FormsTest
{
protected:
    static void SetUpTestSuite()
    {
        servers = new CampusSim::CampusServers();
        std::string error;
        ASSERT_TRUE(servers->start(&error)) << error;
        servers->addAccount("demo", "demo1234");
        servers->addAccount("amp", "a&b=c+%");
        Http::setCaFileForTesting(QByteArray::fromStdString(servers->caFile()));
        auto route = [](const char *host, Server server) {
            return QByteArray(host) + ":127.0.0.1:" + QByteArray::number(servers->port(server));
        };
        Http::setConnectToForTesting(
            {route("login.zepa.example:443", Server::Login), route("ip1.example.net:80", Server::Echo1),
             route("ip2.example.net:80", Server::Echo2), route("rz.zepa.example:80", Server::Notice)});
    }

    static void TearDownTestSuite()
    {
        Http::setConnectToForTesting({});
        Http::setCaFileForTesting({});
        delete servers;
        servers = nullptr;
    }

    void SetUp() override
    {
        FormsTest::SetUp();
        for (Server s : CampusSim::AllServers)
            servers->setFailMode(s, FailMode{});
        servers->dropAll();
        servers->unblockAccount("demo");
        servers->clearRequests();
        servers->setNotice(CampusSim::CampusServers::defaultNotice());
        // The campus host answers exactly while someone is logged in, as the portal lets it.
        Echo::setProbeForTesting([](const char *) { return !servers->sessions().empty(); });
    }

    void StartWith(const QByteArray &id, const QByteArray &password)
    {
        WriteCredentials(id, password);
        CreateForms();
        FrmMonitor->SetFormsReady();
        FrmSettings->ApplyAtStart();
    }

    size_t loginPosts() const { return servers->requests(Server::Login).size(); }

    QString balloonTitle() const { return FrmMonitor->TrayData.szInfoTitle; }
    QString balloonText() const { return FrmMonitor->TrayData.szInfo; }

    static inline CampusSim::CampusServers *servers = nullptr;
};
