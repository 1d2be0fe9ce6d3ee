#include "history/HistoryStore.h"

#include "history/HistorySearch.h"
#include "platform/SettingsStore.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace cfb {
namespace {

const char* const Schema = R"sql(
CREATE TABLE IF NOT EXISTS lines (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    time INTEGER NOT NULL,
    buddy TEXT NOT NULL COLLATE NOCASE,
    outgoing INTEGER NOT NULL,
    sender TEXT NOT NULL,
    text TEXT NOT NULL,
    secure INTEGER NOT NULL,
    delivery INTEGER NOT NULL,
    wire_id INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX IF NOT EXISTS lines_by_buddy ON lines (buddy, time);
CREATE INDEX IF NOT EXISTS lines_by_wire_id ON lines (buddy, wire_id) WHERE wire_id != 0;
CREATE INDEX IF NOT EXISTS lines_waiting ON lines (delivery) WHERE delivery = 2;
CREATE VIRTUAL TABLE IF NOT EXISTS lines_text USING fts5 (
    text, content = 'lines', content_rowid = 'id', tokenize = 'unicode61 remove_diacritics 2');
CREATE TRIGGER IF NOT EXISTS lines_text_insert AFTER INSERT ON lines BEGIN
    INSERT INTO lines_text (rowid, text) VALUES (new.id, new.text);
END;
CREATE TRIGGER IF NOT EXISTS lines_text_delete AFTER DELETE ON lines BEGIN
    INSERT INTO lines_text (lines_text, rowid, text) VALUES ('delete', old.id, old.text);
END;
CREATE TRIGGER IF NOT EXISTS lines_text_update AFTER UPDATE OF text ON lines BEGIN
    INSERT INTO lines_text (lines_text, rowid, text) VALUES ('delete', old.id, old.text);
    INSERT INTO lines_text (rowid, text) VALUES (new.id, new.text);
END;
)sql";

const char* const Columns = "id, time, buddy, outgoing, sender, text, secure, delivery, wire_id";

// One prepared statement for the length of a call.
class Statement {
public:
    Statement(sqlite3* db, const QByteArray& sql)
    {
        if (db)
            sqlite3_prepare_v2(db, sql.constData(), int(sql.size()), &statement_, nullptr);
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return statement_ != nullptr; }
    void bind(int index, int64_t value) { sqlite3_bind_int64(statement_, index, value); }
    void bind(int index, const QString& value)
    {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(statement_, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
    }
    // SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return statement_ ? sqlite3_step(statement_) : SQLITE_ERROR; }
    void reset()
    {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
    QString text(int column) const
    {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return QString::fromUtf8(bytes, sqlite3_column_bytes(statement_, column));
    }
    // A line read from the columns in the order of Columns.
    HistoryLine line() const
    {
        HistoryLine line;
        line.id = integer(0);
        line.timeMs = integer(1);
        line.buddy = text(2);
        line.outgoing = integer(3) != 0;
        line.sender = text(4);
        line.text = text(5);
        line.secure = integer(6) != 0;
        line.delivery = HistoryLine::deliveryFromNumber(int(integer(7)));
        line.wireId = uint64_t(integer(8));
        return line;
    }

private:
    sqlite3_stmt* statement_ = nullptr;
};

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString key(const QString& buddy)
{
    return buddy.toCaseFolded();
}

} // namespace

QString HistoryStore::defaultPath()
{
    return QFileInfo(SettingsStore::filePath()).absolutePath() + QStringLiteral("/history.sqlite");
}

HistoryStore::HistoryStore(const QString& path, int capPerBuddy)
    : path_(path)
    , cap_(std::max(1, capPerBuddy))
{
    if (!open())
        close();
}

HistoryStore::~HistoryStore()
{
    close();
}

void HistoryStore::close()
{
    sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool HistoryStore::fail(const QString& what)
{
    problem_ = db_ ? QStringLiteral("%1: %2").arg(what, QString::fromUtf8(sqlite3_errmsg(db_))) : what;
    return false;
}

bool HistoryStore::exec(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) == SQLITE_OK)
        return true;
    problem_ = QStringLiteral("The history file %1 cannot be used: %2")
                   .arg(path_, QString::fromUtf8(error ? error : sqlite3_errmsg(db_)));
    sqlite3_free(error);
    return false;
}

// The file, and the log files SQLite keeps beside it, are made or mended to be the owner's alone
// before SQLite opens them (it gives its log files the mode of the database file).
bool HistoryStore::prepareFile()
{
    const QString folder = QFileInfo(path_).absolutePath();
    if (!QFileInfo::exists(folder)) {
        if (!QDir().mkpath(folder)) {
            problem_ = QStringLiteral("The folder %1 for the history cannot be made.").arg(folder);
            return false;
        }
        ::chmod(QFile::encodeName(folder).constData(), 0700);
    }
    const QByteArray file = QFile::encodeName(path_);
    const int made = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (made >= 0) {
        ::close(made);
    } else if (errno != EEXIST) {
        problem_ = QStringLiteral("The history file %1 cannot be made: %2").arg(path_, systemError(errno));
        return false;
    }
    for (const QByteArray& name : {file, file + "-wal", file + "-shm"}) {
        struct stat info { };
        if (::stat(name.constData(), &info) == 0 && (info.st_mode & 077) != 0
            && ::chmod(name.constData(), info.st_mode & 0700) != 0) {
            problem_ = QStringLiteral("The history file %1 is readable by others and cannot be made private: %2")
                           .arg(QFile::decodeName(name), systemError(errno));
            return false;
        }
    }
    return true;
}

bool HistoryStore::open()
{
    if (!prepareFile())
        return false;
    if (sqlite3_open_v2(QFile::encodeName(path_).constData(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
            nullptr)
        != SQLITE_OK)
        return fail(QStringLiteral("The history file %1 cannot be opened").arg(path_));
    sqlite3_extended_result_codes(db_, 1);
    // Another process of the same profile (the headless client, say) may hold the file a moment.
    sqlite3_busy_timeout(db_, 2000);
    // Deleted lines are overwritten, not left in free pages of the file.
    if (!exec("PRAGMA journal_mode = WAL") || !exec("PRAGMA synchronous = NORMAL") || !exec("PRAGMA secure_delete = ON"))
        return false;
    Statement version(db_, "PRAGMA user_version");
    if (version.step() != SQLITE_ROW)
        return fail(QStringLiteral("The history file %1 cannot be read").arg(path_));
    if (version.integer(0) > SchemaVersion) {
        problem_ = QStringLiteral("The history file %1 was written by a newer Confabo; it is left as it is.").arg(path_);
        return false;
    }
    if (!exec("BEGIN IMMEDIATE"))
        return false;
    // A file of the first version gains the lines' wire ids (0: not known) before the schema's
    // index on them is made.
    if (version.integer(0) == 1 && !exec("ALTER TABLE lines ADD COLUMN wire_id INTEGER NOT NULL DEFAULT 0")) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    const QByteArray stamp = "PRAGMA user_version = " + QByteArray::number(SchemaVersion);
    if (!exec(Schema) || !exec(stamp.constData()) || !exec("COMMIT")) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}

bool HistoryStore::insert(const HistoryLine& line, int64_t& id)
{
    Statement statement(db_,
        "INSERT INTO lines (time, buddy, outgoing, sender, text, secure, delivery, wire_id) "
        "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)");
    statement.bind(1, line.timeMs ? line.timeMs : QDateTime::currentMSecsSinceEpoch());
    statement.bind(2, line.buddy);
    statement.bind(3, int64_t(line.outgoing));
    statement.bind(4, line.sender);
    statement.bind(5, line.text);
    statement.bind(6, int64_t(line.secure));
    statement.bind(7, int64_t(line.delivery));
    statement.bind(8, int64_t(line.wireId));
    if (statement.step() != SQLITE_DONE)
        return fail(QStringLiteral("A line cannot be added to the history"));
    id = sqlite3_last_insert_rowid(db_);
    auto counted = counts_.find(key(line.buddy));
    if (counted != counts_.end())
        ++*counted;
    return true;
}

// Past the cap, the buddy's oldest lines go, a few at a time (the slack): counting a conversation
// at the cap costs milliseconds, too much for every line. The count is taken afresh before
// anything is deleted, as another process of the profile may have added or cleared lines.
bool HistoryStore::keepCap(const QString& buddy)
{
    auto counted = counts_.find(key(buddy));
    if (counted == counts_.end())
        counted = counts_.insert(key(buddy), count(buddy));
    else if (*counted > cap_ + slack())
        *counted = count(buddy);
    if (*counted <= cap_ + slack())
        return true;
    Statement oldest(db_,
        "DELETE FROM lines WHERE id IN (SELECT id FROM lines WHERE buddy = ?1 ORDER BY time, id LIMIT ?2)");
    oldest.bind(1, buddy);
    oldest.bind(2, *counted - cap_);
    if (oldest.step() != SQLITE_DONE)
        return fail(QStringLiteral("The oldest lines cannot be taken from the history"));
    *counted = cap_;
    return true;
}

int64_t HistoryStore::append(const HistoryLine& line)
{
    const QList<int64_t> ids = append(QList<HistoryLine>{line});
    return ids.isEmpty() ? 0 : ids.first();
}

QList<int64_t> HistoryStore::append(const QList<HistoryLine>& lines)
{
    if (!db_ || lines.isEmpty())
        return {};
    if (!exec("BEGIN IMMEDIATE"))
        return {};
    QList<int64_t> ids;
    ids.reserve(lines.size());
    QSet<QString> buddies;
    bool ok = true;
    for (const HistoryLine& line : lines) {
        int64_t id = 0;
        if (!(ok = insert(line, id)))
            break;
        ids.append(id);
        buddies.insert(line.buddy);
    }
    for (auto it = buddies.cbegin(); ok && it != buddies.cend(); ++it)
        ok = keepCap(*it);
    if (ok && exec("COMMIT"))
        return ids;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    counts_.clear(); // counted on the next line again
    return {};
}

bool HistoryStore::setDelivery(int64_t id, HistoryDelivery delivery)
{
    Statement statement(db_, "UPDATE lines SET delivery = ?2 WHERE id = ?1");
    statement.bind(1, id);
    statement.bind(2, int64_t(delivery));
    if (statement.step() != SQLITE_DONE)
        return db_ && fail(QStringLiteral("A line's delivery cannot be noted in the history"));
    return sqlite3_changes(db_) == 1;
}

QList<HistoryLine> HistoryStore::last(const QString& buddy, int count) const
{
    QList<HistoryLine> lines;
    if (!db_ || count <= 0)
        return lines;
    Statement statement(
        db_, QByteArray("SELECT ") + Columns + " FROM lines WHERE buddy = ?1 ORDER BY time DESC, id DESC LIMIT ?2");
    statement.bind(1, buddy);
    statement.bind(2, count);
    while (statement.step() == SQLITE_ROW)
        lines.append(statement.line());
    std::reverse(lines.begin(), lines.end());
    return lines;
}

QList<HistoryLine> HistoryStore::search(const QString& typed, int limit) const
{
    QList<HistoryLine> lines;
    const QString match = HistorySearch::matchExpression(typed);
    if (!db_ || match.isEmpty() || limit <= 0)
        return lines;
    // The index gives the newest matches first by itself (ids grow with time), without sorting
    // every match.
    Statement statement(db_,
        QByteArray("SELECT ") + Columns
            + " FROM lines WHERE id IN (SELECT rowid FROM lines_text WHERE lines_text MATCH ?1 ORDER BY rowid DESC "
              "LIMIT ?2) ORDER BY id DESC");
    statement.bind(1, match);
    statement.bind(2, limit);
    while (statement.step() == SQLITE_ROW)
        lines.append(statement.line());
    return lines;
}

QList<HistoryLine> HistoryStore::pendingOutgoing() const
{
    QList<HistoryLine> lines;
    Statement statement(db_, QByteArray("SELECT ") + Columns + " FROM lines WHERE delivery = 2 ORDER BY id");
    while (statement.step() == SQLITE_ROW)
        lines.append(statement.line());
    return lines;
}

bool HistoryStore::hasReceived(const QString& buddy, uint64_t wireId) const
{
    if (wireId == 0)
        return false;
    Statement statement(db_, "SELECT 1 FROM lines WHERE buddy = ?1 AND wire_id = ?2 AND outgoing = 0 LIMIT 1");
    statement.bind(1, buddy);
    statement.bind(2, int64_t(wireId));
    return statement.step() == SQLITE_ROW;
}

int64_t HistoryStore::count(const QString& buddy) const
{
    Statement statement(db_, "SELECT COUNT(*) FROM lines WHERE buddy = ?1");
    statement.bind(1, buddy);
    return statement.step() == SQLITE_ROW ? statement.integer(0) : 0;
}

bool HistoryStore::clear(const QString& buddy)
{
    Statement statement(db_, "DELETE FROM lines WHERE buddy = ?1");
    statement.bind(1, buddy);
    if (statement.step() != SQLITE_DONE)
        return db_ && fail(QStringLiteral("The history with %1 cannot be deleted").arg(buddy));
    counts_.remove(key(buddy));
    // The log still holds the pages as they were before: copy it into the file and empty it.
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    return true;
}

} // namespace cfb
