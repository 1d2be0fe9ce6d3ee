// The profile's identity key file: made once with private permissions, loaded again as it was,
// and any file that is wrong refused with its own explanation and left exactly as it was.
#include "channel/Identity.h"

#include "TempConfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <thread>

using namespace cfb;

namespace {

mode_t modeOf(const QString& path)
{
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode & 07777;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

void write(const QString& path, const QByteArray& bytes, mode_t mode)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

} // namespace

TEST(Identity, MadeOncePrivatelyThenLoadedAsItWas)
{
    TempConfig config;
    const QString path = Identity::defaultPath();
    EXPECT_EQ(path, config.path() + "/config/Confabo/identity.key");

    const Identity::LoadResult made = Identity::loadOrCreate(path);
    ASSERT_TRUE(made.identity) << made.problem.toStdString();
    EXPECT_TRUE(made.created);
    EXPECT_TRUE(made.problem.isEmpty());
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(QFileInfo(path).absolutePath()), 0700u);
    EXPECT_EQ(QFileInfo(path).size(), qint64(Identity::FileSize));
    EXPECT_EQ(Identity::fromSecret(made.identity->secretKey()).publicKey(), made.identity->publicKey());
    // No temporary file is left beside it.
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{"identity.key"});

    const Identity::LoadResult loaded = Identity::loadOrCreate(path);
    ASSERT_TRUE(loaded.identity) << loaded.problem.toStdString();
    EXPECT_FALSE(loaded.created);
    EXPECT_EQ(loaded.identity->publicKey(), made.identity->publicKey());
    EXPECT_EQ(loaded.identity->secretKey(), made.identity->secretKey());
}

TEST(Identity, ProcessesStartingTogetherEndUpWithOneKey)
{
    for (int round = 0; round < 20; ++round) {
        QTemporaryDir dir;
        const QString path = dir.path() + "/profile/identity.key";
        Identity::LoadResult first, second;
        std::thread other([&] { second = Identity::loadOrCreate(path); });
        first = Identity::loadOrCreate(path);
        other.join();
        ASSERT_TRUE(first.identity && second.identity) << first.problem.toStdString() << second.problem.toStdString();
        ASSERT_EQ(first.identity->publicKey(), second.identity->publicKey()) << "round " << round;
        ASSERT_NE(first.created, second.created);
        const QByteArray stored = contentOf(path);
        ASSERT_EQ(stored.right(32),
                  QByteArray(reinterpret_cast<const char*>(first.identity->publicKey().data()), 32));
    }
}

TEST(Identity, AWrongFileIsRefusedWithItsReasonAndLeftAlone)
{
    QTemporaryDir dir;
    const QString good = dir.path() + "/good.key";
    const Identity::LoadResult made = Identity::loadOrCreate(good);
    ASSERT_TRUE(made.identity);
    const QByteArray valid = contentOf(good);
    QByteArray badPublic = valid;
    badPublic[badPublic.size() - 1] = char(badPublic.back() ^ 0x01);
    QByteArray badMagic = valid;
    badMagic[0] = 'X';

    struct Case {
        const char* name;
        QByteArray content;
        mode_t mode;
        QString expected;
    };
    const Case cases[] = {
        {"truncated", valid.left(12), 0600, "is truncated (12 bytes of 83)"},
        {"empty", QByteArray(), 0600, "is truncated (0 bytes of 83)"},
        {"too long", valid + "x", 0600, "is longer than an identity key file (84 bytes, not 83)"},
        {"group-readable", valid, 0640, "is readable by its group (mode 0640); run chmod 600"},
        {"other-readable", valid, 0604, "is readable by other users (mode 0604); run chmod 600"},
        {"group-writable", valid, 0620, "is open to its group (mode 0620)"},
        {"not ours", badMagic, 0600, "is not a Confabo identity key file"},
        {"public half corrupted", badPublic, 0600, "its public key does not belong to its secret key"},
    };
    QStringList problems;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.path() + "/" + c.name + ".key";
        write(path, c.content, c.mode);
        const Identity::LoadResult result = Identity::loadOrCreate(path);
        EXPECT_FALSE(result.identity);
        EXPECT_FALSE(result.created);
        EXPECT_TRUE(result.problem.contains(path)) << result.problem.toStdString();
        EXPECT_TRUE(result.problem.contains(c.expected)) << result.problem.toStdString();
        EXPECT_EQ(contentOf(path), c.content);
        EXPECT_EQ(modeOf(path), c.mode);
        // The secret never shows, in any form.
        const QByteArray secret(reinterpret_cast<const char*>(made.identity->secretKey().data()), 32);
        EXPECT_FALSE(result.problem.toLatin1().contains(secret.toHex()));
        EXPECT_FALSE(problems.contains(result.problem));
        problems.append(result.problem);
    }

    // Something at the path that is not a file: a folder, a link to the good file.
    const QString folder = dir.path() + "/folder.key";
    ASSERT_TRUE(QDir().mkdir(folder));
    const Identity::LoadResult notFile = Identity::loadOrCreate(folder);
    EXPECT_FALSE(notFile.identity);
    EXPECT_TRUE(notFile.problem.contains("is not a regular file (it is a folder)")) << notFile.problem.toStdString();
    EXPECT_TRUE(QFileInfo(folder).isDir());
    const QString link = dir.path() + "/link.key";
    ASSERT_TRUE(QFile::link(good, link));
    const Identity::LoadResult linked = Identity::loadOrCreate(link);
    EXPECT_FALSE(linked.identity);
    EXPECT_TRUE(linked.problem.contains("is a symbolic link")) << linked.problem.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());

    // A file that cannot be read. Root reads any file whatever its mode, so there a file that
    // belongs to someone else stands in for it.
    const QString locked = dir.path() + "/locked.key";
    write(locked, valid, 0);
    if (::geteuid() != 0) {
        const Identity::LoadResult unreadable = Identity::loadOrCreate(locked);
        EXPECT_FALSE(unreadable.identity);
        EXPECT_TRUE(unreadable.problem.contains("cannot be read: Permission denied")) << unreadable.problem.toStdString();
        EXPECT_EQ(modeOf(locked), 0u);
        ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0600), 0);
    } else {
        ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0600), 0);
        ASSERT_EQ(::chown(QFile::encodeName(locked).constData(), 65534, 65534), 0);
        const Identity::LoadResult foreign = Identity::loadOrCreate(locked);
        EXPECT_FALSE(foreign.identity);
        EXPECT_TRUE(foreign.problem.contains("belongs to another user (uid 65534)")) << foreign.problem.toStdString();
        std::cout << "[ INFO     ] running as root: the unreadable file is checked as one owned by another user\n";
    }
    EXPECT_EQ(contentOf(locked), valid);

    // The good file is still good.
    const Identity::LoadResult again = Identity::loadOrCreate(good);
    ASSERT_TRUE(again.identity);
    EXPECT_EQ(again.identity->publicKey(), made.identity->publicKey());
}
