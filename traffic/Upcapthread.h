#pragma once

#include <QByteArray>
#include <QThread>
#include <atomic>
#include <mutex>

struct pcap;

// The adapter with the first 10.0.x.x address, in the capture library's order of devices and
// addresses. Outputs that are null are skipped; on false they are left untouched.
bool FindCampusAdapter(QByteArray *device, QByteArray *localIp, quint32 *netmask);

QByteArray DownloadFilter(const QByteArray &localIp);
QByteArray UploadFilter(const QByteArray &localIp);

// Counts the IP bytes that pass its filter and hands them to the GUI thread in batches.
// A device name "file://PATH" replays a capture file instead.
class TPcapThread : public QThread
{
    Q_OBJECT
public:
    TPcapThread(bool createSuspended, const QByteArray &device, const QByteArray &filter, quint32 netmask,
                int direction);
    ~TPcapThread() override;

    // Ends a blocked read at once; the last packets are still counted before the final hand-over.
    void Stop();

    pcap *PcapHandle = nullptr;
    quint32 PendingBytes = 0;
    int Direction = 0;
    bool OpenFailed = false;

    static constexpr quint32 BatchBytes = 100000;
    static constexpr int SnapshotLength = 64;
    static constexpr int ReadTimeoutMs = 500;
    static constexpr int RingBytes = 16 * 1024 * 1024;
    static constexpr int ReopenIntervalMs = 3000;
    static constexpr int LostNoticeMs = 60000;

    // Tests shorten the waits of the reopening.
    static void setReopenTimesForTesting(int intervalMs, int noticeMs);
    int reopenCount() const { return m_reopened; }

signals:
    // Counting in this direction has not come back for a minute after a capture error.
    void countingLost(int direction);

protected:
    void run() override;

private:
    bool Open();
    int Capture();
    bool Reopen();
    void ReportTraffic();
    void Count(quint32 wireLength);
    void DrainAfterStop();

    QByteArray m_device;
    QByteArray m_filter;
    quint32 m_netmask = 0;
    bool m_isFile = false;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<int> m_reopened{0};
    // Guards PcapHandle between the stop request and a reopening.
    std::mutex m_handleLock;
};
