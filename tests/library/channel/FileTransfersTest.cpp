// Two ends of file transfers wired back to back through a link the test controls (it loses and
// reorders contents), and a hostile peer that speaks to one end directly: a file arrives whole or
// not at all, nothing is written before the user says where, and what a peer claims is bounded.
#include "channel/FileContent.h"
#include "channel/FileTransfers.h"
#include "EventLoopWait.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

#include <sys/stat.h>

using namespace cfb;

namespace {

struct End {
    std::unique_ptr<FileTransfers> files;
    QList<uint32_t> offers;
    QStringList finished; // paths
    QStringList failures;
    qint64 received = 0; // of the newest transfer coming in
};

class FileTransfersTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        downloads_ = dir_.filePath("downloads");
        ASSERT_TRUE(QDir().mkpath(downloads_));
        for (End* end : {&amy_, &bo_}) {
            End* other = end == &amy_ ? &bo_ : &amy_;
            const QByteArray from = end == &amy_ ? "amelia" : "bonnie";
            end->files = std::make_unique<FileTransfers>([this, other, from](const QByteArray&, QByteArrayView content) {
                sent_.append(content.toByteArray());
                if (!linked_ || random_.bounded(1.0) < loss_)
                    return true;
                // Delivered a little later, in any order.
                QTimer::singleShot(random_.bounded(4), other->files.get(), [other, from, bytes = content.toByteArray()] {
                    other->files->receive(from, QString::fromLatin1(from), true, bytes);
                });
                return true;
            });
            end->files->setClock([this] { return clockUs_ + QDeadlineTimer::current().deadlineNSecs() / 1000; });
            QObject::connect(end->files.get(), &FileTransfers::offered,
                [end](const QString&, bool, uint32_t id, const QString&, qint64, bool) { end->offers.append(id); });
            QObject::connect(end->files.get(), &FileTransfers::finished,
                [end](const QString&, uint32_t, bool, const QString& path, const QString&) { end->finished.append(path); });
            QObject::connect(end->files.get(), &FileTransfers::progress,
                [end](const QString&, uint32_t, bool incoming, qint64 done, qint64) { end->received = incoming ? done : end->received; });
            QObject::connect(end->files.get(), &FileTransfers::failed,
                [end](const QString&, uint32_t, bool, const QString& why) { end->failures.append(why); });
        }
    }

    QString writeFile(const QString& name, qsizetype size)
    {
        QByteArray bytes(size, Qt::Uninitialized);
        QRandomGenerator random {uint32_t(size)};
        for (qsizetype i = 0; i < size; ++i)
            bytes[i] = char(random.bounded(256));
        QFile file(dir_.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == size);
        return file.fileName();
    }

    QStringList downloaded() const { return QDir(downloads_).entryList(QDir::Files | QDir::Hidden); }

    QTemporaryDir dir_;
    QString downloads_;
    End amy_, bo_;
    QList<QByteArray> sent_;
    bool linked_ = true;
    double loss_ = 0;
    int64_t clockUs_ = 0;
    QRandomGenerator random_ {7};
};

} // namespace

TEST_F(FileTransfersTest, AFileThroughLossAndReorderingArrivesWholeAndNamedOnlyOnceItMatches)
{
    loss_ = 0.1;
    const QString path = writeFile("report.pdf", 600 * 1000 + 17);
    QString error;
    const uint32_t id = amy_.files->send("bonnie", "bonnie", path, false, error);
    ASSERT_NE(id, 0u) << error.toStdString();
    ASSERT_TRUE(waitUntil([&] { return !bo_.offers.isEmpty(); }));
    EXPECT_TRUE(downloaded().isEmpty()) << "nothing is written before the user accepts";
    ASSERT_TRUE(bo_.files->accept(bo_.offers[0], QDir(downloads_).filePath("report.pdf"), error)) << error.toStdString();
    ASSERT_TRUE(waitUntil([&] { return !amy_.finished.isEmpty() || !amy_.failures.isEmpty(); }, 30000));
    ASSERT_EQ(bo_.finished, QStringList {QDir(downloads_).filePath("report.pdf")}) << bo_.failures.join("; ").toStdString();
    EXPECT_TRUE(amy_.failures.isEmpty());
    QFile sentFile(path), savedFile(bo_.finished[0]);
    ASSERT_TRUE(sentFile.open(QIODevice::ReadOnly) && savedFile.open(QIODevice::ReadOnly));
    EXPECT_TRUE(sentFile.readAll() == savedFile.readAll());
    EXPECT_EQ(downloaded(), QStringList {"report.pdf"}) << "no temporary file is left";
    const mode_t mask = ::umask(022);
    ::umask(mask);
    struct stat saved {};
    ASSERT_EQ(::stat(QFile::encodeName(bo_.finished[0]).constData(), &saved), 0);
    EXPECT_EQ(saved.st_mode & 0777, 0666 & ~mask) << "the file kept has the mode of any new file, not the part file's";
    for (const QByteArray& content : sent_)
        EXPECT_LE(content.size(), FileContent::DataHeader + FileContent::DataBytes);

    // The same file again, stopped by its receiver half way: nothing of it stays, the sender hears.
    loss_ = 0;
    bo_.received = 0;
    ASSERT_NE(amy_.files->send("bonnie", "bonnie", path, false, error), 0u);
    ASSERT_TRUE(waitUntil([&] { return bo_.offers.size() == 2; }));
    ASSERT_TRUE(bo_.files->accept(bo_.offers[1], QDir(downloads_).filePath("again.pdf"), error));
    ASSERT_TRUE(waitUntil([&] { return bo_.received > 0; }));
    bo_.files->cancel(bo_.offers[1]);
    ASSERT_TRUE(waitUntil([&] { return amy_.failures.size() == 1; }));
    EXPECT_TRUE(amy_.failures[0].contains("cancelled")) << amy_.failures[0].toStdString();
    EXPECT_EQ(downloaded(), QStringList {"report.pdf"});
}

TEST_F(FileTransfersTest, WhatAHostilePeerSendsIsBoundedAndADamagedFileIsNotKept)
{
    linked_ = false; // bonnie's answers go nowhere; the test speaks for amelia
    FileTransfers& bo = *bo_.files;
    const auto offer = [](uint32_t transfer, int64_t size, QByteArray sha256 = QByteArray(32, 'x'), uint8_t flags = 0) {
        FileContent::OfferFields fields;
        fields.transfer = transfer;
        fields.size = size;
        std::copy(sha256.begin(), sha256.end(), fields.sha256.begin());
        fields.flags = flags;
        fields.name = "../../.bashrc";
        return *FileContent::offer(fields);
    };
    const auto answers = [this](FileContent::Answer answer) {
        int n = 0;
        for (const QByteArray& content : sent_)
            if (const auto reply = FileContent::readReply(content); reply && reply->answer == answer)
                ++n;
        return n;
    };
    // A flood of offers: only a few wait for the user, the rest are declined at once; a
    // "picture" over 16 MB is declined too.
    for (uint32_t t = 1; t <= 10; ++t)
        bo.receive("amelia", "amelia", true, offer(t, 5000));
    bo.receive("amelia", "amelia", true, offer(11, int64_t(17) << 20, QByteArray(32, 'x'), FileContent::Picture));
    EXPECT_EQ(bo_.offers.size(), FileTransfers::MaxOffersPerPeer);
    EXPECT_EQ(answers(FileContent::Answer::Declined), 11 - FileTransfers::MaxOffersPerPeer);

    // Data before the user said where: nothing written. Data of no transfer: told it is unknown.
    QByteArray content;
    FileContent::data(1, 0, 1, QByteArray(FileContent::DataBytes, 'a'), content);
    bo.receive("amelia", "amelia", true, content);
    FileContent::data(999, 0, 1, QByteArray(10, 'a'), content);
    bo.receive("amelia", "amelia", true, content);
    EXPECT_TRUE(downloaded().isEmpty());
    EXPECT_EQ(answers(FileContent::Answer::Cancelled), 1);

    // Accepted: the offered name is not a path, and packets out of the file's bounds are dropped.
    QString error;
    const QString target = QDir(downloads_).filePath(FileContent::safeName("../../.bashrc"));
    EXPECT_EQ(QFileInfo(target).fileName(), "bashrc");
    ASSERT_TRUE(bo.accept(bo_.offers[0], target, error)) << error.toStdString();
    FileContent::data(1, 5, 2, QByteArray(FileContent::DataBytes, 'b'), content); // no packet 5 in 5,000 bytes
    bo.receive("amelia", "amelia", true, content);
    FileContent::data(1, 4, 3, QByteArray(FileContent::DataBytes, 'b'), content); // the last one is short
    bo.receive("amelia", "amelia", true, content);
    for (const char* malformed : {"\x07\x01\x00\x00", "\x08\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02"})
        bo.receive("amelia", "amelia", true, QByteArray(malformed, int(strlen(malformed)) + 1));
    EXPECT_TRUE(downloaded().isEmpty()) << "nothing takes a name before it is whole";

    // All of it, but not the bytes the offer's SHA-256 promised: refused, and nothing left.
    for (uint32_t p = 0; p < 5; ++p) {
        FileContent::data(1, p, 10 + p, QByteArray(p < 4 ? FileContent::DataBytes : 5000 - 4 * FileContent::DataBytes, 'c'), content);
        bo.receive("amelia", "amelia", true, content);
    }
    EXPECT_EQ(answers(FileContent::Answer::Failed), 1);
    ASSERT_EQ(bo_.failures.size(), 1);
    EXPECT_TRUE(bo_.failures[0].contains("SHA-256")) << bo_.failures[0].toStdString();
    EXPECT_TRUE(downloaded().isEmpty());

    // The other offers, never repeated by their sender, are given up in time.
    clockUs_ += 31000000;
    ASSERT_TRUE(waitUntil([&] { return bo_.failures.size() == FileTransfers::MaxOffersPerPeer; }, 2000));
}
