#pragma once

// The simulated campus's web servers: the HTTPS login server, the two public-address echo
// services, the notice page and the statistics charts. Tests start them in-process on 127.0.0.1
// with ephemeral ports; the daemon zepa-campus-servers starts them on the simulated campus's
// addresses inside its network namespaces.
//
// Texts travel as raw Windows-1252 bytes in std::string, exactly as the servers send and receive
// them.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace CampusSim {

enum class Server
{
    Login,
    Echo1,
    Echo2,
    Notice,
    Statistic
};
inline constexpr Server AllServers[] = {Server::Login, Server::Echo1, Server::Echo2, Server::Notice,
                                        Server::Statistic};

// "login", "echo1", "echo2", "notice", "statistic".
const char *serverName(Server server);
std::optional<Server> serverFromName(std::string_view name);

// How a server misbehaves. ErrorPage, NoMarkers and Huge answer without doing the request's work
// (no login, no logout); Delay, Stall and Slow do the work and deliver the normal answer late.
struct FailMode
{
    enum Kind
    {
        Ok,
        ErrorPage,
        NoMarkers,
        Delay,
        Stall,
        Slow,
        Huge,
        Down
    };
    Kind kind = Ok;
    double seconds = 0;      // Delay: the wait before answering
    int bytesPerSecond = 20; // Slow: the body's trickle rate

    // "ok", "error-page", "no-markers", "delay:SECONDS", "stall" (the answer is held until the
    // mode changes), "slow" or "slow:BYTES_PER_SECOND", "huge" (an endless body), "down"
    // (connection refused).
    static std::optional<FailMode> parse(std::string_view text);
    std::string toString() const;
};

struct RequestRecord
{
    std::chrono::system_clock::time_point time;
    Server server = Server::Login;
    std::string method;
    std::string path;                                      // as received, before any "?"
    std::string query;                                     // as received, after the "?"
    std::string body;                                      // raw bytes as received
    std::vector<std::pair<std::string, std::string>> form; // the body's fields, percent-decoded
    std::string client;                                    // the peer's address

    // The decoded form field, or nullopt when the body has none of that name.
    std::optional<std::string> formValue(std::string_view name) const;
    // One line of JSON with the keys time, server, method, path, query, body, form and client;
    // bytes are read as Windows-1252.
    std::string toJson() const;
};

struct SessionEvent
{
    bool loggedIn = false;
    std::string address; // the student's address as the login server sees it
    std::string user;
};

// Where one server listens. netns names a network namespace (a name under /run/netns or a path)
// to bind the socket in; empty is the caller's own.
struct Endpoint
{
    std::string host = "127.0.0.1";
    int port = 0; // 0: an ephemeral port
    std::string netns;
};

struct Options
{
    Endpoint login, echo1, echo2, notice, statistic;
    // Holds ca.pem, login.pem and login.key; made when missing. Empty: a fresh temporary directory
    // that stop() removes.
    std::string certDir;
    // Start of the statistics link on success pages, e.g. "http://statistic.zepa.example".
    // Empty: "http://statistic.localhost:<statistic port>", which libcurl resolves to loopback.
    std::string statisticBase;
    // One line per request on stderr.
    bool log = false;
};

class CampusServers
{
public:
    explicit CampusServers(Options options = {});
    ~CampusServers();
    CampusServers(const CampusServers &) = delete;
    CampusServers &operator=(const CampusServers &) = delete;

    // Returns when every server accepts connections (or with false and a reason).
    bool start(std::string *error = nullptr);
    void stop();

    int port(Server server) const;
    // e.g. "https://127.0.0.1:40123/cgi-bin/laklogin", "http://127.0.0.1:40124/getip.php".
    std::string url(Server server) const;
    // The simulated campus's CA certificate (PEM) that signed the login server's certificate.
    std::string caFile() const;

    void setFailMode(Server server, FailMode mode);
    FailMode failMode(Server server) const;

    // The notice page's body, sent as it is.
    void setNotice(std::string text);
    static std::string defaultNotice();

    void addAccount(const std::string &user, const std::string &password);
    // The blocked account answers "Account gesperrt" with down and up written behind
    // "(max. 700): " and "(max. 350): ". False when there is no such account.
    bool blockAccount(const std::string &user, const std::string &down, const std::string &up);
    bool unblockAccount(const std::string &user);

    // Called on every login and logout (also on dropAll), before the answer goes out, on the
    // server's thread.
    void setSessionHook(std::function<void(const SessionEvent &)> hook);
    // The addresses logged in now.
    std::vector<std::string> sessions() const;
    // The campus's forced disconnection: every student is logged out at once.
    void dropAll();

    std::vector<RequestRecord> requests() const;
    std::vector<RequestRecord> requests(Server server) const;
    void clearRequests();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace CampusSim
