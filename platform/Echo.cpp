#include "platform/Echo.h"

#include <QtGlobal>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Echo {
namespace {

std::function<bool(const char *)> &fakeProbe()
{
    static std::function<bool(const char *)> fn;
    return fn;
}

quint16 checksum(const unsigned char *data, size_t size)
{
    quint32 sum = 0;
    for (size_t i = 0; i + 1 < size; i += 2)
        sum += quint32(data[i]) << 8 | data[i + 1];
    if (size & 1)
        sum += quint32(data[size - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xffff) + (sum >> 16);
    return static_cast<quint16>(~sum);
}

struct Socket
{
    int fd = -1;
    bool raw = false;
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

void setProbeForTesting(std::function<bool(const char *)> fake)
{
    fakeProbe() = std::move(fake);
}

bool probe(const char *host, int timeoutMs)
{
    if (fakeProbe())
        return fakeProbe()(host);

    sockaddr_in target = {};
    target.sin_family = AF_INET;
    if (::inet_pton(AF_INET, host, &target.sin_addr) != 1)
        return false;

    // A ping socket where the system allows it, otherwise a raw socket (the capture's CAP_NET_RAW).
    Socket sock;
    sock.fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (sock.fd < 0) {
        sock.fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        sock.raw = true;
    }
    if (sock.fd < 0)
        return false;
    const int ttl = 255;
    ::setsockopt(sock.fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    if (!sock.raw && ::connect(sock.fd, reinterpret_cast<sockaddr *>(&target), sizeof target) != 0)
        return false;

    static quint16 sequence = 0;
    const quint16 seq = ++sequence;
    const quint16 ident = static_cast<quint16>(::getpid());
    unsigned char request[8] = {ICMP_ECHO, 0, 0, 0, 0, 0, 0, 0};
    request[4] = ident >> 8;
    request[5] = ident & 0xff;
    request[6] = seq >> 8;
    request[7] = seq & 0xff;
    const quint16 sum = checksum(request, sizeof request);
    request[2] = sum >> 8;
    request[3] = sum & 0xff;

    if (::sendto(sock.fd, request, sizeof request, 0, reinterpret_cast<sockaddr *>(&target), sizeof target) <
        0)
        return false;

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd pfd = {sock.fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, int(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        unsigned char reply[1500];
        sockaddr_in from = {};
        socklen_t fromSize = sizeof from;
        const ssize_t n =
            ::recvfrom(sock.fd, reply, sizeof reply, 0, reinterpret_cast<sockaddr *>(&from), &fromSize);
        if (n < 0)
            continue;
        if (from.sin_addr.s_addr != target.sin_addr.s_addr)
            continue;
        const unsigned char *icmp = reply;
        ssize_t size = n;
        if (sock.raw) {
            // A raw socket delivers the IP header too, and every ICMP packet of the host.
            if (size < 20)
                continue;
            const int headerSize = (reply[0] & 0x0f) * 4;
            if (size < headerSize + 8)
                continue;
            icmp += headerSize;
            size -= headerSize;
        }
        if (size < 8 || icmp[0] != ICMP_ECHOREPLY || icmp[1] != 0)
            continue;
        const quint16 gotSeq = quint16(icmp[6] << 8 | icmp[7]);
        // The kernel rewrites the identifier of a ping socket; the sequence still marks our request.
        const quint16 gotIdent = quint16(icmp[4] << 8 | icmp[5]);
        if (gotSeq == seq && (!sock.raw || gotIdent == ident))
            return true;
    }
}

} // namespace Echo
