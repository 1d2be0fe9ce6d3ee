#include "history/HistoryStore.h"

#include "TempConfig.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

using cfb::HistoryDelivery;
using cfb::HistoryLine;
using cfb::HistoryStore;

namespace {

unsigned modeOf(const QString& path)
{
    struct stat st { };
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0777u;
}

HistoryLine said(const QString& buddy, const QString& sender, const QString& text, int64_t timeMs = 0,
    HistoryDelivery delivery = HistoryDelivery::Received)
{
    HistoryLine line;
    line.buddy = buddy;
    line.sender = sender;
    line.outgoing = sender != buddy;
    line.text = text;
    line.timeMs = timeMs;
    line.delivery = delivery;
    line.secure = delivery != HistoryDelivery::Sent;
    return line;
}

QStringList textsOf(const QList<HistoryLine>& lines)
{
    QStringList texts;
    for (const HistoryLine& line : lines)
        texts << line.text;
    return texts;
}

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// What was said stays: a reopened file gives the lines back with their times, senders and
// states, the states noted later by id included; the file is private from the first line on, and
// made so again when found readable by others.
TEST(HistoryStore, KeepsTheConversationAcrossARestart)
{
    TempConfig config;
    const QString path = HistoryStore::defaultPath();
    EXPECT_TRUE(path.startsWith(config.path()));
    const int64_t monday = QDateTime(QDate(2024, 3, 4), QTime(9, 15), Qt::UTC).toMSecsSinceEpoch();
    int64_t pendingId = 0, lostId = 0;
    {
        HistoryStore store(path);
        ASSERT_TRUE(store.isOpen()) << store.problem().toStdString();
        EXPECT_EQ(modeOf(path), 0600u);
        EXPECT_GT(store.append(said("bertram", "bertram", "good morning", monday)), 0);
        pendingId = store.append(said("bertram", "amelia", "morning! coffee?", monday + 60000, HistoryDelivery::Pending));
        lostId = store.append(said("bertram", "amelia", "hello?", monday + 120000, HistoryDelivery::Pending));
        store.append(said("cordelia", "amelia", "plain words", monday + 1, HistoryDelivery::Sent));
        ASSERT_GT(lostId, pendingId);
        EXPECT_EQ(textsOf(store.pendingOutgoing()), (QStringList{"morning! coffee?", "hello?"}));
        EXPECT_TRUE(store.setDelivery(pendingId, HistoryDelivery::Delivered));
        EXPECT_FALSE(store.setDelivery(lostId + 1000, HistoryDelivery::Delivered)) << "no such line";
    }
    ::chmod(QFile::encodeName(path).constData(), 0644);

    HistoryStore store(path);
    ASSERT_TRUE(store.isOpen()) << store.problem().toStdString();
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(path + "-wal"), 0600u);
    const QList<HistoryLine> lines = store.last("Bertram", 10); // handles match whatever their case
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0].timeMs, monday);
    EXPECT_EQ(lines[0].sender, "bertram");
    EXPECT_FALSE(lines[0].outgoing);
    EXPECT_EQ(lines[0].delivery, HistoryDelivery::Received);
    EXPECT_EQ(lines[1].id, pendingId);
    EXPECT_TRUE(lines[1].outgoing);
    EXPECT_TRUE(lines[1].secure);
    EXPECT_EQ(lines[1].delivery, HistoryDelivery::Delivered);
    EXPECT_EQ(lines[2].text, "hello?");
    EXPECT_EQ(lines[2].delivery, HistoryDelivery::Pending);
    EXPECT_EQ(textsOf(store.last("bertram", 2)), (QStringList{"morning! coffee?", "hello?"})) << "the newest two";
    EXPECT_EQ(textsOf(store.pendingOutgoing()), QStringList{"hello?"});
    EXPECT_EQ(store.last("cordelia", 5).value(0).delivery, HistoryDelivery::Sent);
    EXPECT_TRUE(store.last("nobody", 5).isEmpty());
}

// Search finds lines of every conversation by the beginnings of their words, newest first, and
// takes whatever is typed as words; Clear deletes one buddy's lines from the file itself.
TEST(HistoryStore, SearchFindsEveryConversationAndClearDeletesFromTheDisk)
{
    TempConfig config;
    HistoryStore store(HistoryStore::defaultPath());
    ASSERT_TRUE(store.isOpen()) << store.problem().toStdString();
    store.append(said("bertram", "bertram", "The meeting moved to Friday"));
    store.append(said("cordelia", "amelia", "see you at the Café after the meeting", 0, HistoryDelivery::Pending));
    store.append(said("cordelia", "cordelia", "a secret plan for saturday"));
    store.append(said("bertram", "amelia", "fine"));

    EXPECT_EQ(textsOf(store.search("meet")),
        (QStringList{"see you at the Café after the meeting", "The meeting moved to Friday"}));
    EXPECT_EQ(textsOf(store.search("MEETING cafe")), QStringList{"see you at the Café after the meeting"});
    EXPECT_EQ(store.search("meeting", 1).size(), 1);
    EXPECT_TRUE(store.search("nothing-like-it").isEmpty());
    for (const QString typed : {"\"", "*", "NEAR(", "AND", "  ", "-", "^x:y", "fine*)"})
        EXPECT_LE(store.search(typed).size(), 1) << typed.toStdString();
    EXPECT_EQ(textsOf(store.search("fine*)")), QStringList{"fine"});
    EXPECT_TRUE(store.search("meeting\" OR \"fine").isEmpty()) << "quotes are text, not syntax";

    EXPECT_TRUE(store.clear("Cordelia"));
    EXPECT_TRUE(store.last("cordelia", 10).isEmpty());
    EXPECT_EQ(textsOf(store.search("meeting")), QStringList{"The meeting moved to Friday"});
    EXPECT_EQ(store.last("bertram", 10).size(), 2);
    EXPECT_TRUE(store.pendingOutgoing().isEmpty());
    const QByteArray onDisk = bytesOf(store.path()) + bytesOf(store.path() + "-wal");
    EXPECT_FALSE(onDisk.isEmpty());
    EXPECT_FALSE(onDisk.contains("a secret plan for saturday"));
    EXPECT_TRUE(onDisk.contains("The meeting moved to Friday"));
}

// Past the cap the oldest lines of that buddy go, one line or a batch at a time; other buddies
// keep theirs.
TEST(HistoryStore, TheCapDropsTheOldestLinesOfThatBuddy)
{
    TempConfig config;
    HistoryStore store(HistoryStore::defaultPath(), 5);
    ASSERT_TRUE(store.isOpen());
    for (int i = 1; i <= 8; ++i)
        ASSERT_GT(store.append(said("bertram", "bertram", QString::number(i), 1000 + i)), 0);
    store.append(said("cordelia", "cordelia", "one", 1));
    EXPECT_EQ(textsOf(store.last("bertram", 10)), (QStringList{"4", "5", "6", "7", "8"}));
    EXPECT_EQ(store.count("bertram"), 5);

    QList<HistoryLine> batch;
    for (int i = 9; i <= 11; ++i)
        batch << said("bertram", "amelia", QString::number(i), 1000 + i, HistoryDelivery::Pending);
    batch << said("cordelia", "cordelia", "two", 2);
    EXPECT_EQ(store.append(batch).size(), 4);
    EXPECT_EQ(textsOf(store.last("bertram", 10)), (QStringList{"7", "8", "9", "10", "11"}));
    EXPECT_EQ(textsOf(store.last("cordelia", 10)), (QStringList{"one", "two"}));
    EXPECT_TRUE(store.search("4").isEmpty()) << "what left the conversation leaves the index too";
}

// A file that is no history, or a place where none can be made, leaves the store closed with a
// reason; nothing is written over what is there and nothing crashes.
TEST(HistoryStore, AFileThatCannotBeUsedFailsCleanly)
{
    TempConfig config;
    QDir().mkpath(config.path() + "/profile");
    const QString corrupt = config.path() + "/profile/history.sqlite";
    QByteArray garbage(64 * 1024, '\x5a');
    garbage.replace(0, 20, "not a database file!");
    {
        QFile file(corrupt);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    HistoryStore store(corrupt);
    EXPECT_FALSE(store.isOpen());
    EXPECT_TRUE(store.problem().contains(corrupt)) << store.problem().toStdString();
    EXPECT_EQ(store.append(said("bertram", "bertram", "lost?")), 0);
    EXPECT_TRUE(store.last("bertram", 10).isEmpty());
    EXPECT_TRUE(store.search("lost").isEmpty());
    EXPECT_TRUE(store.pendingOutgoing().isEmpty());
    EXPECT_FALSE(store.setDelivery(1, HistoryDelivery::Delivered));
    EXPECT_FALSE(store.clear("bertram"));
    EXPECT_EQ(bytesOf(corrupt), garbage) << "the file is left as it was";

    // A folder where a file is: no history can be made there.
    QFile blocker(config.path() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    HistoryStore nowhere(config.path() + "/blocker/history.sqlite");
    EXPECT_FALSE(nowhere.isOpen());
    EXPECT_FALSE(nowhere.problem().isEmpty());
    EXPECT_EQ(nowhere.append(said("bertram", "bertram", "lost?")), 0);

    // A database from a newer version is left alone.
    const QString newer = config.path() + "/newer.sqlite";
    {
        HistoryStore made(newer);
        ASSERT_TRUE(made.isOpen());
        made.append(said("bertram", "bertram", "from the future"));
    }
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(newer).constData(), &raw), SQLITE_OK);
    const QByteArray later = "PRAGMA user_version = " + QByteArray::number(HistoryStore::SchemaVersion + 1);
    EXPECT_EQ(sqlite3_exec(raw, later.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(raw);
    HistoryStore future(newer);
    EXPECT_FALSE(future.isOpen());
    EXPECT_TRUE(future.problem().contains("newer")) << future.problem().toStdString();
}

// A line is known again by the id it came with, after a restart too, in a file of the first
// version as well (its lines, which had no ids, stay as they were).
TEST(HistoryStore, ReceivedLinesAreKnownByTheirIds)
{
    TempConfig config;
    const QString path = HistoryStore::defaultPath();
    QDir().mkpath(QFileInfo(path).absolutePath());
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                  "CREATE TABLE lines (id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL, buddy TEXT NOT "
                  "NULL COLLATE NOCASE, outgoing INTEGER NOT NULL, sender TEXT NOT NULL, text TEXT NOT NULL, secure "
                  "INTEGER NOT NULL, delivery INTEGER NOT NULL);"
                  "INSERT INTO lines (time, buddy, outgoing, sender, text, secure, delivery) "
                  "VALUES (1000, 'bertram', 0, 'bertram', 'from before', 1, 0);"
                  "PRAGMA user_version = 1;",
                  nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(raw);
    ::chmod(QFile::encodeName(path).constData(), 0600);

    const uint64_t id = (uint64_t(1) << 52) + 7;
    {
        HistoryStore store(path);
        ASSERT_TRUE(store.isOpen()) << store.problem().toStdString();
        EXPECT_EQ(textsOf(store.last("bertram", 5)), QStringList{"from before"});
        EXPECT_EQ(store.last("bertram", 5).value(0).wireId, 0u);
        HistoryLine line = said("bertram", "bertram", "with an id");
        line.wireId = id;
        ASSERT_GT(store.append(line), 0);
        HistoryLine own = said("bertram", "amelia", "mine", 0, HistoryDelivery::Pending);
        own.wireId = id + 1;
        ASSERT_GT(store.append(own), 0);
    }
    HistoryStore store(path);
    EXPECT_TRUE(store.hasReceived("Bertram", id));
    EXPECT_EQ(store.last("bertram", 1).value(0).wireId, id + 1);
    EXPECT_FALSE(store.hasReceived("bertram", id + 1)) << "the user's own line is not one received";
    EXPECT_FALSE(store.hasReceived("cordelia", id)) << "ids are the sender's own";
    EXPECT_FALSE(store.hasReceived("bertram", 0)) << "a plain line has none";
}
