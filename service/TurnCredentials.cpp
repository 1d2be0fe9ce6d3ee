#include "TurnCredentials.h"

#include "XmlReply.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QMessageAuthenticationCode>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cfb::service {

TurnCredentials::TurnCredentials(QStringList urls, QByteArray secret, int64_t lifetimeSeconds)
    : urls_(std::move(urls))
    , secret_(std::move(secret))
    , lifetime_(lifetimeSeconds)
{
}

TurnCredentials::Issued TurnCredentials::issue(int32_t userId, int64_t nowSeconds) const
{
    Issued issued;
    issued.expires = nowSeconds + lifetime_;
    issued.username = QStringLiteral("%1:%2").arg(issued.expires).arg(userId);
    issued.password = QString::fromLatin1(
        QMessageAuthenticationCode::hash(issued.username.toUtf8(), secret_, QCryptographicHash::Sha1).toBase64());
    return issued;
}

void TurnCredentials::appendTo(XmlReply& reply, int32_t userId) const
{
    const Issued issued = issue(userId, QDateTime::currentSecsSinceEpoch());
    for (const QString& url : urls_)
        reply.element("turn_url", url);
    reply.element("turn_username", issued.username)
        .element("turn_password", issued.password)
        .element("turn_ttl", lifetime_);
}

std::optional<QByteArray> TurnCredentials::readSecretFile(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = "cannot read the TURN secret file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    struct stat status {};
    QByteArray bytes;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = "the TURN secret file " + path + " is not a regular file";
    } else if (status.st_mode & (S_IRWXG | S_IRWXO)) {
        error = "the TURN secret file " + path + " may be read by others: make it mode 0600 (chmod 600)";
    } else if (status.st_size > 4096) {
        error = "the TURN secret file " + path + " is larger than a secret";
    } else {
        char buffer[4097];
        ssize_t got = 0;
        ssize_t n = 0;
        while ((n = ::read(fd, buffer + got, size_t(4096 - got))) > 0)
            got += n;
        bytes = QByteArray(buffer, got);
        std::memset(buffer, 0, sizeof buffer);
        const qsizetype end = bytes.indexOf('\n');
        if (end >= 0)
            bytes.truncate(end);
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        if (bytes.isEmpty())
            error = "the TURN secret file " + path + " holds no secret on its first line";
    }
    ::close(fd);
    if (!error.empty())
        return std::nullopt;
    return bytes;
}

} // namespace cfb::service
