// zepa-campus-servers: the simulated campus's servers as one process, started by sim/campusctl
// inside the campus namespace. The echo services and traffic sources of other namespaces are bound
// there through "@NETNS"; a loopback admin port lets campusctl drive scenarios.

#include "CampusServers.h"
#include "Certificates.h"
#include "TrafficServer.h"

#include <httplib.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

using namespace CampusSim;

const char Usage[] =
    "usage: zepa-campus-servers --make-certs DIR\n"
    "       zepa-campus-servers [--certs DIR] [--login|--echo1|--echo2|--notice|--statistic "
    "ADDR:PORT[@NETNS]]...\n"
    "                           [--statistic-base URL] [--traffic ADDR:PORT[@NETNS]]... [--admin ADDR:PORT]\n"
    "                           [--portal-set 'FAMILY TABLE SET'] [--account USER:PASSWORD]... [--ready "
    "FILE]\n";

bool parseEndpoint(const std::string &text, Endpoint &endpoint)
{
    std::string rest = text;
    const size_t at = rest.find('@');
    if (at != std::string::npos) {
        endpoint.netns = rest.substr(at + 1);
        rest.resize(at);
    }
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos)
        return false;
    endpoint.host = rest.substr(0, colon);
    char *end = nullptr;
    const long port = std::strtol(rest.c_str() + colon + 1, &end, 10);
    if (*end || port < 0 || port > 65535)
        return false;
    endpoint.port = static_cast<int>(port);
    return true;
}

// Runs argv and waits; the portal must be open before the login answer leaves.
int run(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> splitWords(const std::string &text)
{
    std::vector<std::string> words;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = text.find_first_not_of(' ', pos);
        if (start == std::string::npos)
            break;
        const size_t end = text.find(' ', start);
        words.push_back(text.substr(start, end - start));
        pos = end == std::string::npos ? text.size() : end;
    }
    return words;
}

void reply(httplib::Response &res, bool ok, const std::string &text = "ok\n")
{
    res.status = ok ? 200 : 400;
    res.set_content(ok ? text : text + "\n", "text/plain; charset=windows-1252");
}

void addAdminRoutes(httplib::Server &admin, CampusServers &servers)
{
    admin.Get("/ping", [](const httplib::Request &, httplib::Response &res) { reply(res, true); });
    admin.Post("/notice", [&](const httplib::Request &req, httplib::Response &res) {
        servers.setNotice(req.body);
        reply(res, true);
    });
    admin.Post("/account", [&](const httplib::Request &req, httplib::Response &res) {
        const std::string op = req.get_param_value("op");
        const std::string user = req.get_param_value("user");
        if (op == "add") {
            servers.addAccount(user, req.get_param_value("password"));
            reply(res, true);
        } else if (op == "block") {
            const bool ok =
                servers.blockAccount(user, req.get_param_value("down"), req.get_param_value("up"));
            reply(res, ok, ok ? "ok\n" : "no such account");
        } else if (op == "unblock") {
            const bool ok = servers.unblockAccount(user);
            reply(res, ok, ok ? "ok\n" : "no such account");
        } else {
            reply(res, false, "unknown account operation");
        }
    });
    admin.Post("/fail", [&](const httplib::Request &req, httplib::Response &res) {
        const auto server = serverFromName(req.get_param_value("server"));
        const auto mode = FailMode::parse(req.get_param_value("mode"));
        if (!server || !mode)
            return reply(res, false, "unknown server or mode");
        servers.setFailMode(*server, *mode);
        reply(res, true);
    });
    admin.Get("/requests", [&](const httplib::Request &req, httplib::Response &res) {
        std::vector<RequestRecord> records;
        if (req.has_param("server")) {
            const auto server = serverFromName(req.get_param_value("server"));
            if (!server)
                return reply(res, false, "unknown server");
            records = servers.requests(*server);
        } else {
            records = servers.requests();
        }
        std::string out;
        for (const auto &r : records)
            out += r.toJson() + "\n";
        res.set_content(out, "application/json");
    });
    admin.Post("/reset", [&](const httplib::Request &, httplib::Response &res) {
        servers.clearRequests();
        reply(res, true);
    });
    admin.Post("/drop", [&](const httplib::Request &, httplib::Response &res) {
        servers.dropAll();
        reply(res, true);
    });
    admin.Get("/sessions", [&](const httplib::Request &, httplib::Response &res) {
        std::string out;
        for (const auto &address : servers.sessions())
            out += address + "\n";
        res.set_content(out, "text/plain");
    });
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    options.log = true;
    std::vector<Endpoint> traffic;
    std::vector<std::pair<std::string, std::string>> accounts;
    std::string admin, portalSet, readyFile;

    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "missing value for %s\n%s", arg.c_str(), Usage);
            return 2;
        }
        const std::string value = argv[++i];
        bool ok = true;
        if (arg == "--make-certs") {
            std::string error;
            if (!ensureCertificates(value, &error)) {
                std::fprintf(stderr, "%s\n", error.c_str());
                return 1;
            }
            return 0;
        } else if (arg == "--certs") {
            options.certDir = value;
        } else if (arg == "--login") {
            ok = parseEndpoint(value, options.login);
        } else if (arg == "--echo1") {
            ok = parseEndpoint(value, options.echo1);
        } else if (arg == "--echo2") {
            ok = parseEndpoint(value, options.echo2);
        } else if (arg == "--notice") {
            ok = parseEndpoint(value, options.notice);
        } else if (arg == "--statistic") {
            ok = parseEndpoint(value, options.statistic);
        } else if (arg == "--statistic-base") {
            options.statisticBase = value;
        } else if (arg == "--traffic") {
            ok = parseEndpoint(value, traffic.emplace_back());
        } else if (arg == "--admin") {
            admin = value;
        } else if (arg == "--portal-set") {
            portalSet = value;
        } else if (arg == "--account") {
            const size_t colon = value.find(':');
            ok = colon != std::string::npos;
            if (ok)
                accounts.emplace_back(value.substr(0, colon), value.substr(colon + 1));
        } else if (arg == "--ready") {
            readyFile = value;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "bad argument %s %s\n%s", arg.c_str(), value.c_str(), Usage);
            return 2;
        }
    }

    // Every thread inherits this mask, so only sigwait() below sees the stop signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    setvbuf(stderr, nullptr, _IOLBF, 0);

    CampusServers servers(options);
    for (const auto &[user, password] : accounts)
        servers.addAccount(user, password);
    if (!portalSet.empty()) {
        const std::vector<std::string> set = splitWords(portalSet);
        servers.setSessionHook([set](const SessionEvent &event) {
            std::vector<std::string> args{"nft", event.loggedIn ? "add" : "delete", "element"};
            args.insert(args.end(), set.begin(), set.end());
            args.push_back("{ " + event.address + " }");
            const int rc = run(args);
            std::fprintf(stderr, "portal: %s %s for %s (nft %d)\n", event.loggedIn ? "open" : "close",
                         event.address.c_str(), event.user.c_str(), rc);
        });
    }

    std::string error;
    if (!servers.start(&error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::vector<std::unique_ptr<TrafficServer>> sources;
    for (const auto &endpoint : traffic) {
        auto source = std::make_unique<TrafficServer>();
        if (!source->start(endpoint, &error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        sources.push_back(std::move(source));
    }

    httplib::Server adminServer;
    std::thread adminThread;
    if (!admin.empty()) {
        Endpoint endpoint;
        if (!parseEndpoint(admin, endpoint) || !adminServer.bind_to_port(endpoint.host, endpoint.port)) {
            std::fprintf(stderr, "cannot listen on the admin address %s\n", admin.c_str());
            return 1;
        }
        addAdminRoutes(adminServer, servers);
        adminThread = std::thread([&] { adminServer.listen_after_bind(); });
        while (!adminServer.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    for (Server s : AllServers)
        std::fprintf(stderr, "%s listens on port %d\n", serverName(s), servers.port(s));
    if (!readyFile.empty()) {
        std::ofstream ready(readyFile + ".tmp");
        ready << "ready\n";
        ready.close();
        std::rename((readyFile + ".tmp").c_str(), readyFile.c_str());
    }

    int sig = 0;
    sigwait(&stopSignals, &sig);
    std::fprintf(stderr, "stopping on signal %d\n", sig);
    if (adminThread.joinable()) {
        adminServer.stop();
        adminThread.join();
    }
    for (auto &source : sources)
        source->stop();
    servers.stop();
    return 0;
}
