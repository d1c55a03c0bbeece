#pragma once

#include <QByteArray>
#include <QList>

#include <functional>

// One text exchange with a web server, synchronous for its caller; pending GUI events are processed
// while it runs, so handlers (and further exchanges) can run inside it.
enum class HttpOutcome
{
    Completed,
    Failed,
    NotStarted
};

struct HttpResult
{
    HttpOutcome outcome = HttpOutcome::NotStarted;
    // libcurl's error text, or ours for a body over the cap or an exchange given up at the program's end.
    QByteArray error;
};

// GET without a body, POST with one. The body that arrived becomes LoginAnswer when the exchange ends.
HttpResult HttpRequest(const QByteArray &url, const QByteArray *postBody = nullptr);

namespace Http {

// A transfer into memory with the exchange's limits and event pump; the chart uses it directly.
struct TransferOptions
{
    // Text bodies end at a zero byte within a block; images keep every byte.
    bool text = true;
    // Called at each of libcurl's progress calls; false stops the transfer.
    std::function<bool()> progress;
};

struct TransferResult
{
    HttpOutcome outcome = HttpOutcome::NotStarted;
    QByteArray body;
    QByteArray error;
    // Stopped by the progress function.
    bool stopped = false;
};

TransferResult Transfer(const QByteArray &url, const QByteArray *postBody, const TransferOptions &options);

} // namespace Http

namespace Http {

inline constexpr qsizetype MaxBodyBytes = 4 * 1024 * 1024;
inline constexpr long ConnectTimeoutSeconds = 15;
// A transfer slower than 1 byte per second for this long has stalled.
inline constexpr long StallSeconds = 30;

// The CA bundle for certificate checks: the build's choice, or the test CA of in-process servers.
void setCaFileForTesting(const QByteArray &path);
QByteArray caFile();
// In-process tests reach the campus host names on loopback ("HOST:PORT:127.0.0.1:PORT" entries) and
// wait less for a stalled server.
void setConnectToForTesting(const QList<QByteArray> &entries);
void setStallSecondsForTesting(long seconds);

// Percent-encoding of the bytes of a form field; letters, digits and "-._~" stay as they are.
QByteArray formEncode(const QByteArray &value);

} // namespace Http

QByteArray HtmlToText(const QByteArray &html);

struct AnswerPage
{
    QByteArray title;
    QByteArray message;
};
AnswerPage ParseAnswerPage(const QByteArray &page);
