#include "traffic/Upcapthread.h"

#include "app/Monitor.h"
#include "campus/Campus.h"

#include <QMetaObject>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>

bool FindCampusAdapter(QByteArray *device, QByteArray *localIp, quint32 *netmask)
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t *devices = nullptr;
    if (pcap_findalldevs(&devices, errbuf) == -1)
        return false;
    bool found = false;
    for (pcap_if_t *d = devices; d && !found; d = d->next) {
        for (pcap_addr_t *a = d->addresses; a && !found; a = a->next) {
            if (!a->addr || a->addr->sa_family != AF_INET)
                continue;
            const auto *in = reinterpret_cast<const sockaddr_in *>(a->addr);
            const auto *octets = reinterpret_cast<const unsigned char *>(&in->sin_addr.s_addr);
            if (octets[0] != 10 || octets[1] != 0)
                continue;
            found = true;
            if (device)
                *device = QByteArray(d->name);
            if (localIp) {
                char text[INET_ADDRSTRLEN] = {};
                inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
                *localIp = QByteArray(text);
            }
            if (netmask) {
                *netmask = PCAP_NETMASK_UNKNOWN;
                if (a->netmask && a->netmask->sa_family == AF_INET)
                    *netmask = reinterpret_cast<const sockaddr_in *>(a->netmask)->sin_addr.s_addr;
            }
        }
    }
    pcap_freealldevs(devices);
    return found;
}

QByteArray DownloadFilter(const QByteArray &localIp)
{
    return "ip dst host " + localIp + " and not src net ( " + QByteArray(Campus::CampusNetPrefix) +
           " or 10.0 )";
}

QByteArray UploadFilter(const QByteArray &localIp)
{
    return "ip src host " + localIp + " and not dst net ( " + QByteArray(Campus::CampusNetPrefix) +
           " or 10.0 )";
}

namespace {

std::atomic<int> reopenIntervalMs{TPcapThread::ReopenIntervalMs};
std::atomic<int> lostNoticeMs{TPcapThread::LostNoticeMs};

} // namespace

void TPcapThread::setReopenTimesForTesting(int intervalMs, int noticeMs)
{
    reopenIntervalMs = intervalMs;
    lostNoticeMs = noticeMs;
}

TPcapThread::TPcapThread(bool createSuspended, const QByteArray &device, const QByteArray &filter,
                         quint32 netmask, int direction)
    : m_device(device), m_filter(filter), m_netmask(netmask)
{
    m_isFile = device.startsWith("file://");
    if (!Open()) {
        OpenFailed = true;
        return;
    }
    Direction = direction;
    if (!createSuspended)
        start();
}

bool TPcapThread::Open()
{
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    pcap_t *handle = nullptr;
    if (m_isFile) {
        handle = pcap_open_offline(m_device.mid(7).constData(), errbuf);
    } else {
        handle = pcap_create(m_device.constData(), errbuf);
        // At least 34 bytes: the filter reads the addresses of packets already in the ring again.
        // A ring larger than the default 2 MB rides out the hand-overs at gigabit rates without losing
        // packets.
        if (handle && (pcap_set_snaplen(handle, SnapshotLength) != 0 || pcap_set_promisc(handle, 1) != 0 ||
                       pcap_set_timeout(handle, ReadTimeoutMs) != 0 ||
                       pcap_set_buffer_size(handle, RingBytes) != 0 || pcap_activate(handle) < 0)) {
            pcap_close(handle);
            handle = nullptr;
        }
    }
    if (!handle)
        return false;
    bpf_program program = {};
    if (pcap_compile(handle, &program, m_filter.constData(), 1, m_netmask) < 0) {
        pcap_close(handle);
        return false;
    }
    const int set = pcap_setfilter(handle, &program);
    pcap_freecode(&program);
    if (set < 0) {
        pcap_close(handle);
        return false;
    }
    std::lock_guard lock(m_handleLock);
    PcapHandle = handle;
    return true;
}

TPcapThread::~TPcapThread()
{
    if (isRunning()) {
        Stop();
        wait();
    }
    if (PcapHandle)
        pcap_close(PcapHandle);
}

void TPcapThread::Stop()
{
    m_stopRequested = true;
    requestInterruption();
    std::lock_guard lock(m_handleLock);
    if (PcapHandle)
        pcap_breakloop(PcapHandle);
}

void TPcapThread::ReportTraffic()
{
    const quint32 count = PendingBytes;
    const int direction = Direction;
    // Synchronous: the thread waits until the GUI thread has counted the batch.
    QMetaObject::invokeMethod(
        FrmMonitor,
        [count, direction] {
            if (FrmMonitor)
                FrmMonitor->AddTraffic(count, direction);
        },
        Qt::BlockingQueuedConnection);
}

void TPcapThread::Count(quint32 wireLength)
{
    // The Ethernet header is not counted; a runt frame adds nothing.
    if (wireLength > 14)
        PendingBytes += wireLength - 14;
    if (PendingBytes >= BatchBytes) {
        ReportTraffic();
        PendingBytes = 0;
    }
}

void TPcapThread::DrainAfterStop()
{
    // The ring hands a partly filled block over only after its time-out; wait for it, then take what
    // is there without blocking.
    char errbuf[PCAP_ERRBUF_SIZE] = {};
    QThread::msleep(ReadTimeoutMs + 50);
    if (pcap_setnonblock(PcapHandle, 1, errbuf) != 0)
        return;
    pcap_pkthdr *header = nullptr;
    const u_char *data = nullptr;
    while (pcap_next_ex(PcapHandle, &header, &data) == 1)
        Count(header->len);
}

int TPcapThread::Capture()
{
    for (;;) {
        pcap_pkthdr *header = nullptr;
        const u_char *data = nullptr;
        const int result = pcap_next_ex(PcapHandle, &header, &data);
        if (result < 0)
            return result;
        if (m_stopRequested) {
            // Counted all the same: the count has to match the kernel's to the byte.
            if (result == 1)
                Count(header->len);
            return PCAP_ERROR_BREAK;
        }
        if (result == 1)
            Count(header->len);
    }
}

bool TPcapThread::Reopen()
{
    {
        std::lock_guard lock(m_handleLock);
        pcap_close(PcapHandle);
        PcapHandle = nullptr;
    }
    int waited = 0;
    bool noticed = false;
    while (!m_stopRequested) {
        for (int slept = 0; slept < reopenIntervalMs && !m_stopRequested; slept += 50)
            QThread::msleep(50);
        waited += reopenIntervalMs;
        if (m_stopRequested)
            break;
        if (Open()) {
            ++m_reopened;
            return true;
        }
        if (!noticed && waited >= lostNoticeMs) {
            noticed = true;
            emit countingLost(Direction);
        }
    }
    return false;
}

void TPcapThread::run()
{
    if (OpenFailed)
        return;
    PendingBytes = 0;
    for (;;) {
        const int end = Capture();
        if (m_stopRequested) {
            if (!m_isFile && PcapHandle)
                DrainAfterStop();
            break;
        }
        // Only a capture error (an interface gone over suspend, a replugged cable) reopens; the end of
        // a capture file ends the thread.
        if (end != PCAP_ERROR || m_isFile)
            break;
        if (PendingBytes != 0) {
            ReportTraffic();
            PendingBytes = 0;
        }
        if (!Reopen())
            break;
    }
    if (PendingBytes != 0)
        ReportTraffic();
}
