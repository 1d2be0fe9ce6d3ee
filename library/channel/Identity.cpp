#include "channel/Identity.h"

#include "channel/SodiumReady.h"
#include "platform/SettingsStore.h"

#include <QFile>
#include <QFileInfo>

#include <sodium.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cfb {
namespace {

using FileBytes = SecretBytes<Identity::FileSize + 1>;

QString quoted(const QString& path)
{
    return u'\'' + path + u'\'';
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString modeText(mode_t mode)
{
    return QStringLiteral("0%1").arg(mode & 07777, 3, 8, QLatin1Char('0'));
}

// What to do about a file whose content cannot be used.
QString replaceAdvice()
{
    return QStringLiteral(" Restore it from a backup, or move it away to start with a new identity "
                          "(your buddies will then see a new safety number).");
}

QString problemAt(const QString& path, const QString& what)
{
    return QStringLiteral("The identity key file %1 %2").arg(quoted(path), what);
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closes now, reporting a failure to write back (the errno is kept).
    bool close()
    {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

private:
    int fd_;
};

// Reads up to size bytes, fewer only at the end of the file; -1 on an error.
ssize_t readAll(int fd, uint8_t* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += size_t(n);
    }
    return ssize_t(done);
}

bool writeAll(int fd, const uint8_t* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

struct ReadOutcome {
    std::optional<Identity> identity;
    QString problem;
    bool missing = false;
};

QString permissionProblem(const QString& path, const struct stat& info)
{
    const QString mode = modeText(info.st_mode);
    const QString fix = QStringLiteral("; run chmod 600 %1 so that only you can use it.").arg(quoted(path));
    if (info.st_mode & S_IRWXO) {
        const QString how = info.st_mode & S_IROTH ? QStringLiteral("is readable by other users")
                                                   : QStringLiteral("is open to other users");
        return problemAt(path, QStringLiteral("%1 (mode %2)").arg(how, mode)) + fix;
    }
    const QString how = info.st_mode & S_IRGRP ? QStringLiteral("is readable by its group")
                                               : QStringLiteral("is open to its group");
    return problemAt(path, QStringLiteral("%1 (mode %2)").arg(how, mode)) + fix;
}

ReadOutcome readIdentity(const QString& path)
{
    ReadOutcome outcome;
    const QByteArray name = QFile::encodeName(path);
    // O_NONBLOCK: opening a FIFO someone put there must not hang the program.
    FileDescriptor file(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0) {
        const int error = errno;
        if (error == ENOENT)
            outcome.missing = true;
        else if (error == ELOOP)
            outcome.problem = problemAt(path, QStringLiteral("is a symbolic link; the key must be a file of its "
                                                             "own. Replace the link with the file it points to."));
        else
            outcome.problem = problemAt(path, QStringLiteral("cannot be read: %1.").arg(systemError(error)));
        return outcome;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        outcome.problem = problemAt(path, QStringLiteral("cannot be read: %1.").arg(systemError(errno)));
        return outcome;
    }
    if (!S_ISREG(info.st_mode)) {
        const QString kind = S_ISDIR(info.st_mode) ? QStringLiteral("a folder") : QStringLiteral("a special file");
        outcome.problem = problemAt(path, QStringLiteral("is not a regular file (it is %1). Move it away so that a new "
                                                         "identity can be made there.")
                                              .arg(kind));
        return outcome;
    }
    if (info.st_uid != ::geteuid()) {
        outcome.problem = problemAt(path, QStringLiteral("belongs to another user (uid %1); it must be yours alone. "
                                                         "Run chown %2 %3.")
                                              .arg(info.st_uid)
                                              .arg(::geteuid())
                                              .arg(quoted(path)));
        return outcome;
    }
    if (info.st_mode & (S_IRWXG | S_IRWXO)) {
        outcome.problem = permissionProblem(path, info);
        return outcome;
    }

    FileBytes bytes;
    const ssize_t size = readAll(file.get(), bytes.data(), Identity::FileSize + 1);
    if (size < 0) {
        outcome.problem = problemAt(path, QStringLiteral("cannot be read: %1.").arg(systemError(errno)));
        return outcome;
    }
    if (size_t(size) < Identity::FileSize) {
        outcome.problem = problemAt(path, QStringLiteral("is truncated (%1 bytes of %2).").arg(size).arg(Identity::FileSize))
            + replaceAdvice();
        return outcome;
    }
    if (size_t(size) > Identity::FileSize) {
        outcome.problem = problemAt(path, QStringLiteral("is longer than an identity key file (%1 bytes, not %2).")
                                              .arg(qlonglong(info.st_size))
                                              .arg(Identity::FileSize))
            + replaceAdvice();
        return outcome;
    }
    if (std::memcmp(bytes.data(), Identity::Magic, Identity::MagicSize) != 0) {
        outcome.problem = problemAt(path, QStringLiteral("is not a Confabo identity key file (it does not begin "
                                                         "with \"CONFABO IDENTITY 1\").")) + replaceAdvice();
        return outcome;
    }
    SecretKey32 secret;
    Key32 stored;
    std::memcpy(secret.data(), bytes.data() + Identity::MagicSize, Noise::KeySize);
    std::memcpy(stored.data(), bytes.data() + Identity::MagicSize + Noise::KeySize, Noise::KeySize);
    Identity identity = Identity::fromSecret(secret.get());
    if (sodium_memcmp(identity.publicKey().data(), stored.data(), Noise::KeySize) != 0) {
        outcome.problem = problemAt(path, QStringLiteral("is damaged: its public key does not belong to its secret key."))
            + replaceAdvice();
        return outcome;
    }
    outcome.identity = std::move(identity);
    return outcome;
}

// Creates the missing folders of path, each with mode 0700; existing ones are left as they are.
bool makeFolders(const QString& folder, QString& problem)
{
    const QByteArray name = QFile::encodeName(folder);
    for (qsizetype end = 1; end <= name.size(); ++end) {
        if (end < name.size() && name[end] != '/')
            continue;
        const QByteArray prefix = name.left(end);
        if (::mkdir(prefix.constData(), 0700) == 0 || errno == EEXIST)
            continue;
        problem = QStringLiteral("The folder %1 for the identity key cannot be made: %2.")
                      .arg(quoted(QFile::decodeName(prefix)), systemError(errno));
        return false;
    }
    return true;
}

void syncFolder(const QString& folder)
{
    FileDescriptor dir(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

// Puts temporary at path unless something is there already; errno says why not.
bool placeWithoutReplacing(const QByteArray& temporary, const QByteArray& path)
{
    if (::link(temporary.constData(), path.constData()) == 0)
        return true;
    // File systems without hard links can still rename without replacing.
    if (errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS)
        return ::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, path.constData(), RENAME_NOREPLACE) == 0;
    return false;
}

Identity::LoadResult fromOutcome(ReadOutcome&& outcome)
{
    Identity::LoadResult result;
    result.identity = std::move(outcome.identity);
    result.problem = std::move(outcome.problem);
    return result;
}

Identity::LoadResult create(const QString& path)
{
    Identity::LoadResult result;
    const QString folder = QFileInfo(path).absolutePath();
    if (!makeFolders(folder, result.problem))
        return result;

    SecretKey32 secret;
    randombytes_buf(secret.data(), Noise::KeySize);
    Identity identity = Identity::fromSecret(secret.get());
    FileBytes bytes;
    std::memcpy(bytes.data(), Identity::Magic, Identity::MagicSize);
    std::memcpy(bytes.data() + Identity::MagicSize, identity.secretKey().data(), Noise::KeySize);
    std::memcpy(bytes.data() + Identity::MagicSize + Noise::KeySize, identity.publicKey().data(), Noise::KeySize);

    uint8_t tag[8];
    randombytes_buf(tag, sizeof tag);
    const QByteArray temporary = QFile::encodeName(folder) + "/.identity.key."
        + QByteArray::number(qlonglong(::getpid())) + '.' + QByteArray(reinterpret_cast<char*>(tag), sizeof tag).toHex();
    FileDescriptor file(::open(temporary.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (file.get() < 0) {
        result.problem = QStringLiteral("The identity key cannot be stored in %1: %2.").arg(quoted(folder), systemError(errno));
        return result;
    }
    if (!writeAll(file.get(), bytes.data(), Identity::FileSize) || ::fsync(file.get()) != 0 || !file.close()) {
        result.problem = QStringLiteral("The identity key cannot be stored in %1: %2.").arg(quoted(folder), systemError(errno));
        ::unlink(temporary.constData());
        return result;
    }
    const bool placed = placeWithoutReplacing(temporary, QFile::encodeName(path));
    const int error = errno;
    ::unlink(temporary.constData());
    if (!placed && error != EEXIST) {
        result.problem = problemAt(path, QStringLiteral("cannot be created: %1.").arg(systemError(error)));
        return result;
    }
    syncFolder(folder);
    if (!placed) // Another process stored its key first: use that one.
        return fromOutcome(readIdentity(path));
    result.identity = std::move(identity);
    result.created = true;
    return result;
}

} // namespace

QString Identity::defaultPath()
{
    return QFileInfo(SettingsStore::filePath()).absolutePath() + QStringLiteral("/identity.key");
}

Identity::LoadResult Identity::loadOrCreate(const QString& path)
{
    if (!sodiumReady())
        return {std::nullopt, QStringLiteral("The cryptography library cannot be started."), false};
    ReadOutcome outcome = readIdentity(path);
    if (!outcome.missing)
        return fromOutcome(std::move(outcome));
    return create(path);
}

Identity Identity::fromSecret(const Key32& secret)
{
    sodiumReady();
    Key32 publicKey;
    crypto_scalarmult_curve25519_base(publicKey.data(), secret.data());
    return Identity(secret, publicKey);
}

} // namespace cfb
