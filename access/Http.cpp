#include "access/Http.h"

#include "app/Application.h"
#include "app/Monitor.h"
#include "campus/Campus.h"

#include <QCoreApplication>

#include <curl/curl.h>

namespace {

QByteArray &caOverride()
{
    static QByteArray path;
    return path;
}

QList<QByteArray> &connectTo()
{
    static QList<QByteArray> entries;
    return entries;
}

long &stallSeconds()
{
    static long seconds = Http::StallSeconds;
    return seconds;
}

struct Exchange
{
    const Http::TransferOptions *options = nullptr;
    QByteArray body;
    bool overCap = false;
    bool stopped = false;
};

// Each exchange collects its own body, so one started inside another never mixes with it.
size_t appendBody(char *data, size_t size, size_t count, void *user)
{
    auto *exchange = static_cast<Exchange *>(user);
    const size_t bytes = size * count;
    const size_t kept = exchange->options->text ? qstrnlen(data, bytes) : bytes;
    if (exchange->body.size() + qsizetype(kept) > Http::MaxBodyBytes) {
        exchange->overCap = true;
        return 0;
    }
    exchange->body.append(data, qsizetype(kept));
    return bytes;
}

int onProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto *exchange = static_cast<Exchange *>(user);
    if (exchange->options->progress && !exchange->options->progress()) {
        exchange->stopped = true;
        return 1;
    }
    return 0;
}

bool setAll(CURL *curl, const QByteArray &url, const QByteArray *postBody, Exchange *exchange,
            char *errorBuffer, curl_slist *routes)
{
    bool ok = curl_easy_setopt(curl, CURLOPT_URL, url.constData()) == CURLE_OK;
    if (postBody) {
        ok = ok && curl_easy_setopt(curl, CURLOPT_POST, 1L) == CURLE_OK;
        ok = ok && curl_easy_setopt(curl, CURLOPT_POSTFIELDS, postBody->constData()) == CURLE_OK;
        ok = ok && curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(postBody->size())) == CURLE_OK;
    }
    // Certificate checks stay on: the login form carries the password.
    const QByteArray ca = Http::caFile();
    if (!ca.isEmpty())
        ok = ok && curl_easy_setopt(curl, CURLOPT_CAINFO, ca.constData()) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_WRITEDATA, exchange) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_XFERINFODATA, exchange) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    // Without limits a server that accepts and never answers would hang every later exchange.
    ok = ok && curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, Http::ConnectTimeoutSeconds) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L) == CURLE_OK;
    ok = ok && curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds()) == CURLE_OK;
    if (routes)
        ok = ok && curl_easy_setopt(curl, CURLOPT_CONNECT_TO, routes) == CURLE_OK;
    return ok;
}

} // namespace

namespace Http {

void setCaFileForTesting(const QByteArray &path)
{
    caOverride() = path;
}

QByteArray caFile()
{
    return caOverride().isEmpty() ? QByteArray(Campus::CaFile) : caOverride();
}

void setConnectToForTesting(const QList<QByteArray> &entries)
{
    connectTo() = entries;
}

void setStallSecondsForTesting(long seconds)
{
    stallSeconds() = seconds;
}

QByteArray formEncode(const QByteArray &value)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    for (char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
            c == '.' || c == '_' || c == '~') {
            out.append(ch);
        } else {
            out.append('%');
            out.append(hex[c >> 4]);
            out.append(hex[c & 0x0f]);
        }
    }
    return out;
}

} // namespace Http

namespace Http {

TransferResult Transfer(const QByteArray &url, const QByteArray *postBody, const TransferOptions &options)
{
    TransferResult result;
    CURL *curl = curl_easy_init();
    if (!curl)
        return result;
    CURLM *multi = curl_multi_init();
    if (!multi) {
        curl_easy_cleanup(curl);
        return result;
    }

    Exchange exchange;
    exchange.options = &options;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    curl_slist *routes = nullptr;
    for (const QByteArray &entry : connectTo())
        routes = curl_slist_append(routes, entry.constData());
    if (!setAll(curl, url, postBody, &exchange, errorBuffer, routes)) {
        curl_multi_cleanup(multi);
        curl_easy_cleanup(curl);
        curl_slist_free_all(routes);
        return result;
    }
    errorBuffer[0] = '\0';
    curl_multi_add_handle(multi, curl);

    // Short waits on the transfer with the GUI's pending events in between: the caller stays
    // synchronous and the GUI never waits for more than a few milliseconds.
    CURLcode code = CURLE_OK;
    bool done = false;
    bool aborted = false;
    while (!done) {
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            code = CURLE_FAILED_INIT;
            break;
        }
        int queued = 0;
        while (CURLMsg *msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                code = msg->data.result;
                done = true;
            }
        }
        if (done)
            break;
        curl_multi_poll(multi, nullptr, 0, 10, nullptr);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        const Application *app = Application::get();
        if (app && app->exchangesAborted()) {
            aborted = true;
            break;
        }
    }
    curl_multi_remove_handle(multi, curl);
    curl_multi_cleanup(multi);
    curl_easy_cleanup(curl);
    curl_slist_free_all(routes);

    result.body = std::move(exchange.body);
    result.stopped = exchange.stopped;
    if (aborted) {
        result.outcome = HttpOutcome::Failed;
        result.error = "Abgebrochen: ZEPA-Monitor wird beendet.";
    } else if (exchange.overCap) {
        result.outcome = HttpOutcome::Failed;
        // Windows-1252, as every text that ends up in LoginMessage.
        result.error = "Die Antwort des Servers ist zu gro\xdf (mehr als 4 MiB) und wurde verworfen.";
    } else if (code == CURLE_OK) {
        result.outcome = HttpOutcome::Completed;
    } else {
        result.outcome = HttpOutcome::Failed;
        result.error = errorBuffer[0] ? QByteArray(errorBuffer) : QByteArray(curl_easy_strerror(code));
    }
    return result;
}

} // namespace Http

HttpResult HttpRequest(const QByteArray &url, const QByteArray *postBody)
{
    static const Http::TransferOptions text;
    Http::TransferResult transfer = Http::Transfer(url, postBody, text);
    if (transfer.outcome != HttpOutcome::NotStarted)
        LoginAnswer = std::move(transfer.body);
    return {transfer.outcome, transfer.error};
}

QByteArray HtmlToText(const QByteArray &html)
{
    QByteArray text = html;
    text.replace('\n', ' ');
    text.replace("<br>", "\n");
    text.replace("<BR>", "\n\n");
    text.replace("&auml;", "\xe4");
    text.replace("&ouml;", "\xf6");
    text.replace("&uuml;", "\xfc");
    return text;
}

namespace {

// The text between `start` and the first `marker` lying wholly within the 512 bytes from `start`.
qsizetype markerInWindow(const QByteArray &page, qsizetype start, const char *marker)
{
    const QByteArray window = page.mid(start, 512);
    return window.indexOf(marker);
}

} // namespace

AnswerPage ParseAnswerPage(const QByteArray &page)
{
    AnswerPage answer{"Fehler", "Fehler"};
    const qsizetype big = page.indexOf("<big><big>");
    if (big < 0)
        return answer;
    const qsizetype titleStart = big + 10;
    const qsizetype titleEnd = markerInWindow(page, titleStart, "<br>");
    if (titleEnd < 0)
        return answer;
    answer.title = HtmlToText(page.mid(titleStart, titleEnd));

    const qsizetype small = page.indexOf("<small><small>");
    if (small < 0)
        return answer;
    const qsizetype messageStart = small + 14;
    qsizetype messageEnd = markerInWindow(page, messageStart, "<br><br>");
    if (messageEnd < 0)
        messageEnd = markerInWindow(page, messageStart, "<br>");
    if (messageEnd < 0)
        return answer;
    answer.message = HtmlToText(page.mid(messageStart, messageEnd));
    return answer;
}
