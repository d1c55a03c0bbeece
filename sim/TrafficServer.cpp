#include "TrafficServer.h"

#include "Netns.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace CampusSim {
namespace {

bool sendAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool readLine(int fd, std::string &line)
{
    char c = 0;
    while (line.size() < 64) {
        const ssize_t n = ::recv(fd, &c, 1, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (c == '\n')
            return true;
        line += c;
    }
    return false;
}

// Lets the peer close first, so that the last bytes are not cut off by a reset.
void drainAndClose(int fd)
{
    ::shutdown(fd, SHUT_WR);
    char buf[4096];
    while (::recv(fd, buf, sizeof buf, 0) > 0) {
    }
    ::close(fd);
}

void serve(int fd)
{
    std::string line;
    if (!readLine(fd, line)) {
        ::close(fd);
        return;
    }
    const bool get = line.rfind("GET ", 0) == 0;
    const bool put = line.rfind("PUT ", 0) == 0;
    char *end = nullptr;
    const unsigned long long count = (get || put) ? std::strtoull(line.c_str() + 4, &end, 10) : 0;
    if ((!get && !put) || !end || *end) {
        sendAll(fd, "ERR\n", 4);
        drainAndClose(fd);
        return;
    }
    static const std::vector<char> block(256 * 1024, 'z');
    unsigned long long left = count;
    if (get) {
        while (left > 0) {
            const size_t chunk = left < block.size() ? static_cast<size_t>(left) : block.size();
            if (!sendAll(fd, block.data(), chunk))
                break;
            left -= chunk;
        }
    } else {
        std::vector<char> buf(256 * 1024);
        while (left > 0) {
            const ssize_t n =
                ::recv(fd, buf.data(), left < buf.size() ? static_cast<size_t>(left) : buf.size(), 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            left -= static_cast<unsigned long long>(n);
        }
        if (left == 0)
            sendAll(fd, "OK\n", 3);
    }
    drainAndClose(fd);
}

} // namespace

struct TrafficServer::Impl
{
    int listenFd = -1;
    int wakeFd = -1;
    int port = 0;
    std::thread acceptor;
    std::mutex mutex;
    std::set<int> clients;
    std::vector<std::thread> workers;

    void acceptLoop()
    {
        pollfd fds[2] = {{listenFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            if (fds[1].revents)
                return;
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            std::lock_guard lock(mutex);
            clients.insert(fd);
            workers.emplace_back([this, fd] {
                serve(fd);
                std::lock_guard lock(mutex);
                clients.erase(fd);
            });
        }
    }
};

TrafficServer::TrafficServer() : d(std::make_unique<Impl>()) {}

TrafficServer::~TrafficServer()
{
    stop();
}

bool TrafficServer::start(const Endpoint &endpoint, std::string *error)
{
    std::string failure;
    const bool joined = runInNetns(
        endpoint.netns,
        [&] {
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<uint16_t>(endpoint.port));
            if (::inet_pton(AF_INET, endpoint.host.c_str(), &addr.sin_addr) != 1) {
                failure = "bad address " + endpoint.host;
                return;
            }
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const int one = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
                ::listen(fd, 16) != 0) {
                failure = "cannot listen on " + endpoint.host + ": " + std::strerror(errno);
                if (fd >= 0)
                    ::close(fd);
                return;
            }
            socklen_t len = sizeof addr;
            ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
            d->port = ntohs(addr.sin_port);
            d->listenFd = fd;
        },
        &failure);
    if (!joined || d->listenFd < 0) {
        if (error)
            *error = "traffic: " + failure;
        return false;
    }
    d->wakeFd = ::eventfd(0, EFD_CLOEXEC);
    d->acceptor = std::thread([this] { d->acceptLoop(); });
    return true;
}

void TrafficServer::stop()
{
    if (d->listenFd < 0)
        return;
    const uint64_t one = 1;
    if (::write(d->wakeFd, &one, sizeof one) < 0) {
        // The acceptor then ends with the listening socket below.
    }
    d->acceptor.join();
    {
        std::lock_guard lock(d->mutex);
        for (int fd : d->clients)
            ::shutdown(fd, SHUT_RDWR);
    }
    for (auto &worker : d->workers)
        worker.join();
    d->workers.clear();
    ::close(d->listenFd);
    ::close(d->wakeFd);
    d->listenFd = d->wakeFd = -1;
}

int TrafficServer::port() const
{
    return d->port;
}

} // namespace CampusSim
