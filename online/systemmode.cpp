#include "online/systemmode.h"

#include "base/productinfo.h"

#include <QHash>
#include <QtDebug>

#include <curl/curl.h>
#include <json/json.h>

#include <memory>
#include <mutex>

namespace {

constexpr qsizetype kMaxBody = 64 * 1024;

std::mutex& heldMutex()
{
    static std::mutex m;
    return m;
}

QHash<QString, int>& held()
{
    static QHash<QString, int> values;
    return values;
}

size_t collect(char* data, size_t size, size_t count, void* user)
{
    auto* body = static_cast<QByteArray*>(user);
    const size_t n = size * count;
    if (body->size() + qsizetype(n) > kMaxBody)
        return 0;  // ends the transfer with an error
    body->append(data, qsizetype(n));
    return n;
}

// The body of GET url, or nothing after a failure (logged).
std::optional<QByteArray> fetch(const QString& url, int timeoutMs)
{
    static std::once_flag init;
    std::call_once(init, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
    if (!curl)
        return std::nullopt;
    QByteArray body;
    const QByteArray address = url.toUtf8();
    curl_easy_setopt(curl.get(), CURLOPT_URL, address.constData());
    curl_easy_setopt(curl.get(), CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(curl.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl.get(), CURLOPT_TIMEOUT_MS, long(timeoutMs));
    curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT_MS, long(timeoutMs));
    curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, &body);
    const CURLcode rc = curl_easy_perform(curl.get());
    long status = 0;
    curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &status);
    if (rc != CURLE_OK || status != 200) {
        qInfo("systemMode: %s: %s (HTTP %ld)", qUtf8Printable(url), curl_easy_strerror(rc), status);
        return std::nullopt;
    }
    return body;
}

}  // namespace

std::optional<int> parseSystemModeBody(const QByteArray& body)
{
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(body.constData(), body.constData() + body.size(), &root, &errors) || !root.isObject())
        return std::nullopt;
    const Json::Value mode = root["system_mode"];
    if (mode.isNull())
        return 0;
    if (!mode.isInt())
        return std::nullopt;
    return mode.asInt();
}

bool systemMode(const QString& host, int timeoutMs)
{
    const QString base = product::vendorBaseUrl(host);
    if (base.isEmpty())
        return false;
    {
        std::lock_guard lock(heldMutex());
        if (const auto it = held().constFind(base); it != held().constEnd())
            return *it > 0;
    }
    const std::optional<QByteArray> body = fetch(base + QStringLiteral("/itunes_bk_options.php"), timeoutMs);
    const std::optional<int> mode = body ? parseSystemModeBody(*body) : std::nullopt;
    if (!mode)
        return false;  // asked again next time
    std::lock_guard lock(heldMutex());
    held().insert(base, *mode);
    return *mode > 0;
}

bool systemMode() { return systemMode(product::vendorHost()); }

void resetSystemMode()
{
    std::lock_guard lock(heldMutex());
    held().clear();
}
