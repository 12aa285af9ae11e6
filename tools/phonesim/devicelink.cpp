#include "devicelink.h"

#include "connection.h"
#include "log.h"

#include <chrono>
#include <thread>

namespace {
constexpr uint32_t kMaxBlock = 64u << 20;
constexpr char kCodeEnd = 0x00, kCodeLocalError = 0x06, kCodeRemoteError = 0x0B, kCodeData = 0x0C;
} // namespace

Plist DeviceLink::message(std::initializer_list<plist_t> items)
{
    Plist a = Plist::array();
    for (plist_t i : items)
        a.append(i);
    return a;
}

bool DeviceLink::send(const Plist& message) { return m_conn.sendPlist(message, true); }

bool DeviceLink::receive(Plist& message)
{
    return m_conn.recvPlist(message) && message.type() == PLIST_ARRAY && plist_array_get_size(message.get()) >= 1;
}

bool DeviceLink::versionExchange()
{
    if (!send(message({plist_new_string("DLMessageVersionExchange"), plist_new_uint(300), plist_new_uint(0)})))
        return false;
    Plist reply;
    if (!receive(reply))
        return false;
    if (Plist::stringOf(plist_array_get_item(reply.get(), 0)) != "DLMessageVersionExchange"
        || Plist::stringOf(plist_array_get_item(reply.get(), 1)) != "DLVersionsOk")
        return false;
    return send(message({plist_new_string("DLMessageDeviceReady")}));
}

bool DeviceLink::readStatus(Status& status)
{
    Plist reply;
    if (!receive(reply))
        return false;
    if (Plist::stringOf(plist_array_get_item(reply.get(), 0)) != "DLMessageStatusResponse")
        return false;
    // Negative codes arrive as unsigned 64-bit two's complement.
    status.code = static_cast<int64_t>(Plist::uintOf(plist_array_get_item(reply.get(), 1)).value_or(0));
    status.description = Plist::stringOf(plist_array_get_item(reply.get(), 2)).value_or("");
    if (status.description == "___EmptyParameterString___")
        status.description.clear();
    plist_t payload = plist_array_get_item(reply.get(), 3);
    status.payload = payload ? Plist(plist_copy(payload)) : Plist();
    return true;
}

bool DeviceLink::request(const Plist& msg, Status& status)
{
    return send(msg) && readStatus(status);
}

bool DeviceLink::upload(const std::vector<Upload>& files, double progress, Status& status)
{
    return upload(files, progress, status, Sabotage());
}

bool DeviceLink::upload(const std::vector<Upload>& files, double progress, Status& status, Sabotage sabotage)
{
    uint64_t total = 0;
    for (const Upload& f : files)
        total += f.data.size();
    if (!send(message({plist_new_string("DLMessageUploadFiles"), plist_new_dict(), plist_new_real(progress),
                       plist_new_uint(total)})))
        return false;
    std::string out;
    auto flush = [&]() {
        const bool ok = m_conn.writeAll(out);
        out.clear();
        return ok;
    };
    for (const Upload& f : files) {
        appendBe32(out, static_cast<uint32_t>(f.devicePath.size()));
        out += f.devicePath;
        appendBe32(out, static_cast<uint32_t>(f.hostPath.size()));
        out += f.hostPath;
        if (sabotage.remoteError) {
            appendBe32(out, static_cast<uint32_t>(sabotage.remoteError->size() + 1));
            out.push_back(kCodeRemoteError);
            out += *sabotage.remoteError;
            sabotage.remoteError.reset();
            continue;
        }
        for (size_t at = 0; at < f.data.size(); at += 65536) {
            const size_t n = std::min<size_t>(65536, f.data.size() - at);
            appendBe32(out, static_cast<uint32_t>(n + 1));
            out.push_back(kCodeData);
            out.append(f.data, at, n);
            m_bytesSent += n;
            if (sabotage.stallInsideFile) {
                flush();
                return stallUntilDropped();
            }
            if (sabotage.dropInsideFile) {
                flush();
                Log::line("dropping the connection inside an upload, as armed");
                m_conn.abort();
                return false;
            }
            if (out.size() > (1u << 20) && !flush())
                return false;
        }
        appendBe32(out, 1);
        out.push_back(kCodeEnd);
    }
    appendBe32(out, 0);
    return flush() && readStatus(status);
}

bool DeviceLink::download(const std::vector<std::string>& paths, double progress,
                          std::map<std::string, std::optional<std::string>>& files, Status& status, bool dropInsideFile,
                          bool stallInsideFile)
{
    Plist list = Plist::array();
    for (const std::string& p : paths)
        list.append(plist_new_string(p.c_str()));
    if (!send(message({plist_new_string("DLMessageDownloadFiles"), list.release(), plist_new_dict(),
                       plist_new_real(progress)})))
        return false;
    for (;;) {
        unsigned char len[4];
        if (!m_conn.readExact(len, 4))
            return false;
        const uint32_t n = readBe32(len);
        if (n == 0)
            break;
        if (n > 4096)
            return false;
        std::string path(n, '\0');
        if (!m_conn.readExact(path.data(), n))
            return false;
        std::string data;
        bool failed = false;
        for (;;) {
            if (!m_conn.readExact(len, 4))
                return false;
            const uint32_t blen = readBe32(len);
            if (blen == 0 || blen > kMaxBlock)
                return false;
            std::string block(blen, '\0');
            if (!m_conn.readExact(block.data(), blen))
                return false;
            if (block[0] == kCodeData) {
                data.append(block, 1);
                if (dropInsideFile) {
                    Log::line("dropping the connection inside a download, as armed");
                    m_conn.abort();
                    return false;
                }
                if (stallInsideFile)
                    return stallUntilDropped();
                continue;
            }
            failed = block[0] != kCodeEnd;
            if (block[0] == kCodeLocalError)
                Log::line("host could not send ", path, ": ", block.substr(1));
            break;
        }
        if (failed)
            files[path] = std::nullopt;
        else
            files[path] = std::move(data);
    }
    return readStatus(status);
}

bool DeviceLink::stallUntilDropped()
{
    Log::line("stalling inside a file until the connection goes, as armed");
    for (int waited = 0; waited < 60000 && !m_conn.aborted(); waited += 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return false;
}

bool DeviceLink::processMessage(int64_t errorCode, const std::string& description)
{
    Plist body = Plist::dict();
    body.set("MessageName", "Response");
    body.set("ErrorCode", plist_new_uint(static_cast<uint64_t>(errorCode)));
    if (!description.empty())
        body.set("ErrorDescription", description);
    return send(message({plist_new_string("DLMessageProcessMessage"), body.release()}));
}
