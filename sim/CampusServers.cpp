#include "CampusServers.h"

#include "Certificates.h"
#include "Charts.h"
#include "Netns.h"
#include "Pages.h"

#include <httplib.h>

#include <array>
#include <atomic>
#include <cctype>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

namespace CampusSim {
namespace {

constexpr const char *Names[] = {"login", "echo1", "echo2", "notice", "statistic"};
constexpr const char *LoginPath = "/cgi-bin/laklogin";
constexpr const char *StatisticPath = "/cgi-bin/umsatz";

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::string percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string percentEncode(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> decodeForm(std::string_view body)
{
    std::vector<std::pair<std::string, std::string>> fields;
    while (!body.empty()) {
        const size_t amp = body.find('&');
        const std::string_view piece = body.substr(0, amp);
        body = amp == std::string_view::npos ? std::string_view{} : body.substr(amp + 1);
        if (piece.empty())
            continue;
        const size_t eq = piece.find('=');
        if (eq == std::string_view::npos)
            fields.emplace_back(percentDecode(piece), std::string{});
        else
            fields.emplace_back(percentDecode(piece.substr(0, eq)), percentDecode(piece.substr(eq + 1)));
    }
    return fields;
}

// Code points of 0x80..0x9F in Windows-1252; the five unassigned bytes keep their C1 value.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendJsonString(std::string &out, std::string_view bytes)
{
    out += '"';
    for (unsigned char c : bytes) {
        unsigned cp = c;
        if (c >= 0x80 && c < 0xA0)
            cp = Cp1252High[c - 0x80];
        if (cp == '"' || cp == '\\') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", cp);
            out += buf;
        } else if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    out += '"';
}

std::string isoTime(std::chrono::system_clock::time_point t)
{
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000));
    return buf;
}

struct Reply
{
    int status = 200;
    std::string contentType;
    std::string body;
};

Reply html(std::string body, int status = 200)
{
    return {status, "text/html; charset=windows-1252", std::move(body)};
}

Reply notFound()
{
    return html(Pages::errorPage(404, "Not Found"), 404);
}

struct Account
{
    std::string password;
    bool blocked = false;
    std::string down, up;
};

} // namespace

const char *serverName(Server server)
{
    return Names[static_cast<int>(server)];
}

std::optional<Server> serverFromName(std::string_view name)
{
    for (Server s : AllServers)
        if (name == serverName(s))
            return s;
    return std::nullopt;
}

std::optional<FailMode> FailMode::parse(std::string_view text)
{
    static const std::pair<const char *, Kind> plain[] = {{"ok", Ok},
                                                          {"error-page", ErrorPage},
                                                          {"no-markers", NoMarkers},
                                                          {"stall", Stall},
                                                          {"slow", Slow},
                                                          {"huge", Huge},
                                                          {"down", Down}};
    for (const auto &[name, kind] : plain)
        if (text == name) {
            FailMode mode;
            mode.kind = kind;
            return mode;
        }
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos)
        return std::nullopt;
    const std::string_view head = text.substr(0, colon);
    const std::string value(text.substr(colon + 1));
    char *end = nullptr;
    FailMode mode;
    if (head == "delay") {
        mode.kind = Delay;
        mode.seconds = std::strtod(value.c_str(), &end);
        if (value.empty() || *end || !(mode.seconds >= 0))
            return std::nullopt;
        return mode;
    }
    if (head == "slow") {
        mode.kind = Slow;
        const long rate = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end || rate <= 0 || rate > 1000000)
            return std::nullopt;
        mode.bytesPerSecond = static_cast<int>(rate);
        return mode;
    }
    return std::nullopt;
}

std::string FailMode::toString() const
{
    switch (kind) {
    case Ok:
        return "ok";
    case ErrorPage:
        return "error-page";
    case NoMarkers:
        return "no-markers";
    case Delay: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "delay:%g", seconds);
        return buf;
    }
    case Stall:
        return "stall";
    case Slow:
        return bytesPerSecond == 20 ? "slow" : "slow:" + std::to_string(bytesPerSecond);
    case Huge:
        return "huge";
    case Down:
        return "down";
    }
    return "ok";
}

std::optional<std::string> RequestRecord::formValue(std::string_view name) const
{
    for (const auto &[key, value] : form)
        if (key == name)
            return value;
    return std::nullopt;
}

std::string RequestRecord::toJson() const
{
    std::string out = "{\"time\": ";
    appendJsonString(out, isoTime(time));
    out += ", \"server\": ";
    appendJsonString(out, serverName(server));
    out += ", \"method\": ";
    appendJsonString(out, method);
    out += ", \"path\": ";
    appendJsonString(out, path);
    out += ", \"query\": ";
    appendJsonString(out, query);
    out += ", \"body\": ";
    appendJsonString(out, body);
    out += ", \"form\": {";
    bool first = true;
    for (const auto &[key, value] : form) {
        out += first ? "" : ", ";
        first = false;
        appendJsonString(out, key);
        out += ": ";
        appendJsonString(out, value);
    }
    out += "}, \"client\": ";
    appendJsonString(out, client);
    out += '}';
    return out;
}

struct CampusServers::Impl
{
    struct Site
    {
        Server which = Server::Login;
        Endpoint endpoint;
        int port = 0;
        FailMode mode;
        bool closing = false; // guarded by Impl::mutex
        std::unique_ptr<httplib::Server> server;
        std::thread thread;
    };

    Options options;
    CertificateFiles certs;
    std::string tempDir;
    std::array<Site, 5> sites;
    bool running = false;

    std::mutex control; // serialises start, stop and the opening and closing of sites
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, Account> accounts;
    std::map<std::string, std::string> sessions; // address -> user
    std::string notice = Pages::notice();
    std::function<void(const SessionEvent &)> hook;
    std::vector<RequestRecord> records;

    Site &site(Server s) { return sites[static_cast<size_t>(s)]; }
    const Site &site(Server s) const { return sites[static_cast<size_t>(s)]; }

    bool open(Site &s, std::string *error);
    void close(Site &s);
    void handle(Site &s, const httplib::Request &req, httplib::Response &res);
    Reply respond(Site &s, const httplib::Request &req, const RequestRecord &record);
    Reply login(const RequestRecord &record);
    Reply statistic(const httplib::Request &req);
    std::string statisticLink(const std::string &user) const;
    void notify(const SessionEvent &event);

    // Waits until pred holds or the site closes; false when it closed. Called with lock held.
    template <class Pred> bool waitUntil(std::unique_lock<std::mutex> &lock, Site &s, Pred pred)
    {
        changed.wait(lock, [&] { return s.closing || pred(); });
        return !s.closing;
    }
    bool sleepFor(Site &s, std::chrono::duration<double> d)
    {
        std::unique_lock lock(mutex);
        return !changed.wait_for(lock, d, [&] { return s.closing; });
    }
};

bool CampusServers::Impl::open(Site &s, std::string *error)
{
    std::unique_ptr<httplib::Server> server;
    if (s.which == Server::Login)
        server = std::make_unique<httplib::SSLServer>(certs.certFile.c_str(), certs.keyFile.c_str());
    else
        server = std::make_unique<httplib::Server>();
    if (!server->is_valid()) {
        if (error)
            *error = std::string(serverName(s.which)) + ": cannot load its certificate";
        return false;
    }
    auto handler = [this, &s](const httplib::Request &req, httplib::Response &res) { handle(s, req, res); };
    server->Get(".*", handler);
    server->Post(".*", handler);
    // Short, so that closing a site for "down" does not wait long for idle keep-alive clients.
    server->set_keep_alive_timeout(1);

    int port = -1;
    std::string nsError;
    const bool joined = runInNetns(
        s.endpoint.netns,
        [&] {
            if (s.port == 0)
                port = server->bind_to_any_port(s.endpoint.host);
            else
                port = server->bind_to_port(s.endpoint.host, s.port) ? s.port : -1;
        },
        &nsError);
    if (!joined || port <= 0) {
        if (error)
            *error = std::string(serverName(s.which)) + ": cannot listen on " + s.endpoint.host + ":" +
                     std::to_string(s.port) + (nsError.empty() ? "" : " (" + nsError + ")");
        return false;
    }
    s.port = port;
    {
        std::lock_guard lock(mutex);
        s.closing = false;
    }
    httplib::Server *raw = server.get();
    s.thread = std::thread([raw] { raw->listen_after_bind(); });
    // stop() is lost on a server that has not entered its accept loop yet.
    while (!raw->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    s.server = std::move(server);
    return true;
}

void CampusServers::Impl::close(Site &s)
{
    if (!s.server)
        return;
    {
        std::lock_guard lock(mutex);
        s.closing = true;
    }
    changed.notify_all();
    s.server->stop();
    s.thread.join();
    s.server.reset();
}

void CampusServers::Impl::notify(const SessionEvent &event)
{
    std::function<void(const SessionEvent &)> h;
    {
        std::lock_guard lock(mutex);
        h = hook;
    }
    if (h)
        h(event);
}

std::string CampusServers::Impl::statisticLink(const std::string &user) const
{
    const std::string base = options.statisticBase.empty() ? "http://statistic.localhost:" +
                                                                 std::to_string(site(Server::Statistic).port)
                                                           : options.statisticBase;
    // A "Mode" in the middle, as the campus hands it out: the program replaces it.
    return base + StatisticPath + "?user=" + percentEncode(user) + "&Mode=2W&lang=de";
}

Reply CampusServers::Impl::login(const RequestRecord &record)
{
    const std::string action = record.formValue("action").value_or("");
    if (action == "Login") {
        const std::string user = record.formValue("username").value_or("");
        const std::string password = record.formValue("password").value_or("");
        std::unique_lock lock(mutex);
        const auto it = accounts.find(user);
        if (user.empty() || it == accounts.end() || it->second.password != password)
            return html(Pages::loginFailed());
        if (it->second.blocked)
            return html(Pages::accountBlocked(it->second.down, it->second.up));
        sessions[record.client] = user;
        lock.unlock();
        // The portal opens before the answer leaves, as on the campus.
        notify({true, record.client, user});
        const bool showTraffic = record.formValue("ShowTraffic").value_or("") == "1";
        return html(
            Pages::loginSuccess(user, record.client, showTraffic ? statisticLink(user) : std::string{}));
    }
    if (action == "Logout") {
        std::unique_lock lock(mutex);
        const auto it = sessions.find(record.client);
        const bool was = it != sessions.end();
        std::string user;
        if (was) {
            user = it->second;
            sessions.erase(it);
        }
        lock.unlock();
        if (was)
            notify({false, record.client, user});
        return html(Pages::logoutDone(was));
    }
    return html(Pages::unknownAction());
}

Reply CampusServers::Impl::statistic(const httplib::Request &req)
{
    const std::string user = req.get_param_value("user");
    {
        std::lock_guard lock(mutex);
        if (user.empty() || !accounts.count(user))
            return html(Pages::errorPage(403, "Forbidden"), 403);
    }
    const size_t modes = req.get_param_value_count("Mode");
    const std::string mode = req.get_param_value("Mode");
    // The program sends "Mode=24H" or no mode at all; anything else shows up as a broken chart.
    if (modes > 1 || (modes == 1 && mode != "24H" && mode != "2W"))
        return html(Pages::errorPage(400, "Bad Request"), 400);
    const std::string_view gif = mode == "24H" ? Charts::day() : Charts::twoWeeks();
    return {200, "image/gif", std::string(gif)};
}

Reply CampusServers::Impl::respond(Site &s, const httplib::Request &req, const RequestRecord &record)
{
    switch (s.which) {
    case Server::Login:
        if (record.path != LoginPath)
            return notFound();
        if (record.method == "GET")
            return html(Pages::loginForm());
        return login(record);
    case Server::Echo1:
        if (record.path != "/getip.php")
            return notFound();
        return {200, "text/plain", record.client};
    case Server::Echo2:
        if (record.path != "/getip.php")
            return notFound();
        return html(Pages::echo2(record.client));
    case Server::Notice: {
        if (record.path != "/motd")
            return notFound();
        std::lock_guard lock(mutex);
        return {200, "text/plain; charset=windows-1252", notice};
    }
    case Server::Statistic:
        if (record.path != StatisticPath)
            return notFound();
        return statistic(req);
    }
    return notFound();
}

void CampusServers::Impl::handle(Site &s, const httplib::Request &req, httplib::Response &res)
{
    RequestRecord record;
    record.time = std::chrono::system_clock::now();
    record.server = s.which;
    record.method = req.method;
    const size_t q = req.target.find('?');
    record.path = req.target.substr(0, q);
    record.query = q == std::string::npos ? std::string{} : req.target.substr(q + 1);
    record.body = req.body;
    record.form = decodeForm(req.body);
    record.client = req.remote_addr;

    FailMode mode;
    {
        std::unique_lock lock(mutex);
        records.push_back(record);
        mode = s.mode;
        if (mode.kind == FailMode::Stall) {
            if (!waitUntil(lock, s, [&] { return s.mode.kind != FailMode::Stall; })) {
                res.status = 503;
                return;
            }
            mode = FailMode{};
        }
    }
    if (options.log)
        std::fprintf(stderr, "%s %s %s %s (%s)\n", serverName(s.which), record.client.c_str(),
                     req.method.c_str(), req.target.c_str(), mode.toString().c_str());

    if (mode.kind == FailMode::Delay && !sleepFor(s, std::chrono::duration<double>(mode.seconds))) {
        res.status = 503;
        return;
    }
    if (mode.kind == FailMode::ErrorPage) {
        res.status = 500;
        res.set_content(Pages::errorPage(500, "Internal Server Error"), "text/html; charset=iso-8859-1");
        return;
    }
    if (mode.kind == FailMode::NoMarkers) {
        const std::string body = Pages::withoutMarkers(s.which);
        res.set_content(body, s.which == Server::Notice ? "text/plain" : "text/html");
        return;
    }
    if (mode.kind == FailMode::Huge) {
        const std::string chunk = [&] {
            const std::string piece = Pages::filler(s.which);
            std::string c;
            while (c.size() < 64 * 1024)
                c += piece;
            return c;
        }();
        res.set_chunked_content_provider("text/html", [this, &s, chunk](size_t, httplib::DataSink &sink) {
            {
                std::lock_guard lock(mutex);
                if (s.closing || s.mode.kind != FailMode::Huge) {
                    sink.done();
                    return true;
                }
            }
            if (!sink.write(chunk.data(), chunk.size()))
                return false;
            // About 6 MB/s: endless, yet no burden on a 2-core machine.
            sleepFor(s, std::chrono::milliseconds(10));
            return true;
        });
        return;
    }

    Reply reply = respond(s, req, record);
    res.status = reply.status;
    if (mode.kind == FailMode::Slow) {
        const auto pause = std::chrono::duration<double>(1.0 / mode.bytesPerSecond);
        auto body = std::make_shared<std::string>(std::move(reply.body));
        res.set_content_provider(body->size(), reply.contentType,
                                 [this, &s, body, pause](size_t offset, size_t, httplib::DataSink &sink) {
                                     if (!sleepFor(s, pause))
                                         return false;
                                     return sink.write(body->data() + offset, 1);
                                 });
        return;
    }
    res.set_content(reply.body, reply.contentType);
}

CampusServers::CampusServers(Options options) : d(std::make_unique<Impl>())
{
    d->options = std::move(options);
    const Endpoint *endpoints[] = {&d->options.login, &d->options.echo1, &d->options.echo2,
                                   &d->options.notice, &d->options.statistic};
    for (Server s : AllServers) {
        Impl::Site &site = d->site(s);
        site.which = s;
        site.endpoint = *endpoints[static_cast<int>(s)];
        site.port = site.endpoint.port;
    }
}

CampusServers::~CampusServers()
{
    stop();
}

bool CampusServers::start(std::string *error)
{
    std::lock_guard control(d->control);
    if (d->running)
        return true;
    std::string dir = d->options.certDir;
    if (dir.empty()) {
        char pattern[] = "/tmp/zepa-campus-XXXXXX";
        if (!::mkdtemp(pattern)) {
            if (error)
                *error = "cannot make a temporary directory";
            return false;
        }
        d->tempDir = dir = pattern;
    }
    auto certs = ensureCertificates(dir, error);
    if (!certs)
        return false;
    d->certs = *certs;
    for (auto &site : d->sites) {
        if (site.mode.kind == FailMode::Down)
            continue;
        if (!d->open(site, error)) {
            for (auto &other : d->sites)
                d->close(other);
            return false;
        }
    }
    d->running = true;
    return true;
}

void CampusServers::stop()
{
    std::lock_guard control(d->control);
    for (auto &site : d->sites)
        d->close(site);
    d->running = false;
    if (!d->tempDir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(d->tempDir, ec);
        d->tempDir.clear();
    }
}

int CampusServers::port(Server server) const
{
    return d->site(server).port;
}

std::string CampusServers::url(Server server) const
{
    const auto &site = d->site(server);
    const std::string hostPort = site.endpoint.host + ":" + std::to_string(site.port);
    switch (server) {
    case Server::Login:
        return "https://" + hostPort + LoginPath;
    case Server::Echo1:
    case Server::Echo2:
        return "http://" + hostPort + "/getip.php";
    case Server::Notice:
        return "http://" + hostPort + "/motd";
    case Server::Statistic:
        return "http://" + hostPort + StatisticPath;
    }
    return {};
}

std::string CampusServers::caFile() const
{
    return d->certs.caFile;
}

void CampusServers::setFailMode(Server server, FailMode mode)
{
    std::lock_guard control(d->control);
    auto &site = d->site(server);
    FailMode old;
    {
        std::lock_guard lock(d->mutex);
        old = site.mode;
        site.mode = mode;
    }
    d->changed.notify_all();
    if (!d->running)
        return;
    if (mode.kind == FailMode::Down && old.kind != FailMode::Down)
        d->close(site);
    else if (mode.kind != FailMode::Down && old.kind == FailMode::Down) {
        std::string error;
        if (!d->open(site, &error))
            std::fprintf(stderr, "%s\n", error.c_str());
    }
}

FailMode CampusServers::failMode(Server server) const
{
    std::lock_guard lock(d->mutex);
    return d->site(server).mode;
}

void CampusServers::setNotice(std::string text)
{
    std::lock_guard lock(d->mutex);
    d->notice = std::move(text);
}

std::string CampusServers::defaultNotice()
{
    return Pages::notice();
}

void CampusServers::addAccount(const std::string &user, const std::string &password)
{
    std::lock_guard lock(d->mutex);
    d->accounts[user] = Account{password, false, {}, {}};
}

bool CampusServers::blockAccount(const std::string &user, const std::string &down, const std::string &up)
{
    std::lock_guard lock(d->mutex);
    const auto it = d->accounts.find(user);
    if (it == d->accounts.end())
        return false;
    it->second.blocked = true;
    it->second.down = down;
    it->second.up = up;
    return true;
}

bool CampusServers::unblockAccount(const std::string &user)
{
    std::lock_guard lock(d->mutex);
    const auto it = d->accounts.find(user);
    if (it == d->accounts.end())
        return false;
    it->second.blocked = false;
    return true;
}

void CampusServers::setSessionHook(std::function<void(const SessionEvent &)> hook)
{
    std::lock_guard lock(d->mutex);
    d->hook = std::move(hook);
}

std::vector<std::string> CampusServers::sessions() const
{
    std::lock_guard lock(d->mutex);
    std::vector<std::string> out;
    for (const auto &entry : d->sessions)
        out.push_back(entry.first);
    return out;
}

void CampusServers::dropAll()
{
    std::map<std::string, std::string> dropped;
    {
        std::lock_guard lock(d->mutex);
        dropped.swap(d->sessions);
    }
    for (const auto &[address, user] : dropped)
        d->notify({false, address, user});
}

std::vector<RequestRecord> CampusServers::requests() const
{
    std::lock_guard lock(d->mutex);
    return d->records;
}

std::vector<RequestRecord> CampusServers::requests(Server server) const
{
    std::lock_guard lock(d->mutex);
    std::vector<RequestRecord> out;
    for (const auto &r : d->records)
        if (r.server == server)
            out.push_back(r);
    return out;
}

void CampusServers::clearRequests()
{
    std::lock_guard lock(d->mutex);
    d->records.clear();
}

} // namespace CampusSim
