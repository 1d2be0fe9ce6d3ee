#include "messaging/modINET.h"

#include "messaging/ServiceAddress.h"
#include "messaging/TlsFailure.h"
#include "protocol/Cp1252.h"
#include "protocol/PercentCoding.h"

#include <curl/curl.h>

#include <mutex>

namespace cfb {
namespace {

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// TLS sessions kept between the requests of one thread: each request still opens and closes its
// own connection, but over https it resumes the last session with the service instead of a full
// handshake, which spares both sides most of a connection's cost.
class TlsSessionCache {
public:
    TlsSessionCache()
        : share_(curl_share_init())
    {
        if (share_)
            curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    }
    ~TlsSessionCache()
    {
        if (share_)
            curl_share_cleanup(share_);
    }
    TlsSessionCache(const TlsSessionCache&) = delete;
    TlsSessionCache& operator=(const TlsSessionCache&) = delete;

    CURLSH* share() const { return share_; }

    static TlsSessionCache& current()
    {
        thread_local TlsSessionCache cache;
        return cache;
    }

private:
    CURLSH* share_;
};

struct Reply {
    QByteArray bytes;
    bool tooLarge = false;
};

size_t appendChunk(char* data, size_t size, size_t count, void* userdata)
{
    auto* reply = static_cast<Reply*>(userdata);
    const size_t n = size * count;
    if (reply->bytes.size() + qsizetype(n) > MaxReplyBytes) {
        reply->tooLarge = true;
        return 0; // aborts the transfer
    }
    reply->bytes.append(data, qsizetype(n));
    return n;
}

} // namespace

bool ServiceChannel::encrypted() const
{
    return ServiceAddress::parse(server).secure;
}

ServiceChannel& ServiceChannel::current()
{
    thread_local ServiceChannel channel;
    return channel;
}

XmlDocument PostServiceRequest(const QByteArray& body, const QByteArray& header)
{
    initCurlOnce();
    XmlDocument document;
    ServiceChannel& channel = ServiceChannel::current();
    channel.lastFailure.clear();
    ++channel.postedRequests;
    if (channel.refusesRequests) {
        ++channel.refusedRequests;
        channel.lastFailure = QStringLiteral("this thread sends no service requests");
        return document;
    }

    const ServiceAddress address = ServiceAddress::parse(channel.server);
    if (!address.isValid()) {
        channel.lastFailure = address.error;
        return document;
    }
    CURL* curl = curl_easy_init();
    if (!curl) {
        channel.lastFailure = QStringLiteral("the HTTP client could not start");
        return document;
    }

    const QByteArray url = address.url(channel.scriptPath);
    Reply reply;
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, header.constData());
    headers = curl_slist_append(headers, "Accept:"); // no accepted types
    headers = curl_slist_append(headers, "Expect:");
    headers = curl_slist_append(headers, "Pragma: no-cache");

    const long connectMs = qMax(0, channel.connTimeout);
    const long totalMs = connectMs + qMax(0, channel.sendTimeout) + qMax(0, channel.recvTimeout);

    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    // Only the address's own scheme: an https request never goes out as http, and no redirect
    // (none is followed anyway) could make it.
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, address.secure ? "https" : "http");
    const QByteArray caFile = channel.caFile.toLocal8Bit();
    if (address.secure) {
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(curl, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
        // The file replaces libcurl's default bundle; the system's authorities stay trusted
        // through its default certificate folder (/etc/ssl/certs on Debian).
        if (!caFile.isEmpty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.constData());
        if (CURLSH* sessions = TlsSessionCache::current().share())
            curl_easy_setopt(curl, CURLOPT_SHARE, sessions);
    }
    curl_easy_setopt(curl, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "http generic");
    curl_easy_setopt(curl, CURLOPT_POST, 1L);
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.constData());
    curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body.size()));
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, totalMs);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, 2048L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendChunk);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &reply);

    char errorText[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    const CURLcode result = curl_easy_perform(curl);
    const QString curlText = QString::fromUtf8(*errorText ? errorText : curl_easy_strerror(result));
    const QString tlsFailure
        = address.secure ? describeTlsFailure(curl, result, curlText, address, channel.caFile) : QString();
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);

    // A reply cut short by a failure is still read as far as it came, like any partial reply;
    // an over-long one is refused whole.
    if (reply.tooLarge) {
        channel.lastFailure = QStringLiteral("the reply was larger than %1 bytes").arg(MaxReplyBytes);
        return document;
    }
    if (result != CURLE_OK && reply.bytes.isEmpty()) {
        channel.lastFailure = tlsFailure.isEmpty() ? curlText : tlsFailure;
        return document;
    }
    document.parse(reply.bytes);
    return document;
}

QByteArray AvatarUploadBody(const QByteArray& pictureBytes, int32_t userID)
{
    static const QByteArray delim = QByteArray(29, '-') + "7d1f5a80420";
    QByteArray body;
    body.reserve(pictureBytes.size() + 512);
    body += delim + "\r\n";
    body += "Content-Disposition: form-data; name=\"mode\"\r\n\r\n";
    body += "AVATAR_UPDATE\r\n";
    body += delim + "\r\n";
    body += "Content-Disposition: form-data; name=\"user_id\"\r\n\r\n";
    body += QByteArray::number(userID) + "\r\n";
    body += delim + "\r\n";
    body += "Content-Disposition: form-data; name=\"avatar\"; filename=\"c:\\temp.gif\"\r\n";
    body += "Content-Type: image/gif \r\n\r\n";
    body += pictureBytes + "\r\n";
    body += delim + "--";
    return body;
}

XmlDocument PostAvatarUpload(const QByteArray& pictureBytes, int32_t userID)
{
    return PostServiceRequest(AvatarUploadBody(pictureBytes, userID), AvatarUploadHeader);
}

QByteArray JoinByteArrays(const QByteArray& first, const QByteArray& second)
{
    QByteArray result;
    result.reserve(first.size() + second.size());
    result += first;
    result += second;
    return result;
}

QByteArray URLEncode(const QString& value)
{
    return PercentCoding::formEncoded(toCp1252(value));
}

} // namespace cfb
