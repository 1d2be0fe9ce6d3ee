#pragma once

#include "history/HistoryLine.h"

#include <QHash>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

struct sqlite3;

namespace cfb {

// The conversations of one profile, kept in a SQLite file of their own beside the settings: every
// line with its time, its buddy, who said it, whether it was encrypted and what became of it.
// The file is the owner's alone (0600, mended when found wider) and written ahead (WAL), so a
// crash loses no line that append() returned an id for. Each buddy keeps capPerBuddy lines, the
// oldest going first (a thousandth more may wait a moment before they go: slack()). Lines are found by buddy and time, and by the words they hold
// (a full-text index).
//
// Nothing here throws: a file that cannot be opened (not a database, unwritable, from a newer
// version) leaves the store closed, with problem() saying why, and every operation then finds
// nothing and writes nothing. A write that fails later says so through its result and problem().
// Used by one thread.
class HistoryStore {
public:
    static constexpr int DefaultCapPerBuddy = 100000;
    static constexpr int SchemaVersion = 2;

    // "history.sqlite" in the folder of the settings file (follows $XDG_CONFIG_HOME).
    static QString defaultPath();

    explicit HistoryStore(const QString& path, int capPerBuddy = DefaultCapPerBuddy);
    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    bool isOpen() const { return db_ != nullptr; }
    QString problem() const { return problem_; }
    QString path() const { return path_; }

    // Stores the line (a time of 0 is now) and returns its id, 0 when it could not be stored.
    int64_t append(const HistoryLine& line);
    // Many lines in one transaction: all are stored or none; the ids in order, empty on failure.
    QList<int64_t> append(const QList<HistoryLine>& lines);
    // What became of the line with that id; false when there is no such line or the write failed.
    bool setDelivery(int64_t id, HistoryDelivery delivery);

    // The newest count lines with buddy (letter case aside), oldest first.
    QList<HistoryLine> last(const QString& buddy, int count) const;
    // Lines of every conversation holding every word typed (each as the beginning of a word),
    // newest first, at most limit.
    QList<HistoryLine> search(const QString& typed, int limit = 200) const;
    // The user's own lines still waiting for their acknowledgement, oldest first: what a restart
    // may send again.
    QList<HistoryLine> pendingOutgoing() const;
    // Whether a line from buddy that carried wireId is kept: a line shown before a restart that
    // comes again (its sender never got the receipt) is not shown twice.
    bool hasReceived(const QString& buddy, uint64_t wireId) const;
    int64_t count(const QString& buddy) const;
    // How far past the cap a conversation may grow before its oldest lines go.
    int slack() const { return cap_ / 1000; }

    // Deletes every line with buddy from the file.
    bool clear(const QString& buddy);

private:
    bool open();
    bool prepareFile();
    bool exec(const char* sql);
    bool insert(const HistoryLine& line, int64_t& id);
    bool keepCap(const QString& buddy);
    bool fail(const QString& what);
    void close();

    QString path_;
    int cap_;
    sqlite3* db_ = nullptr;
    mutable QString problem_;
    // Lines per buddy (case-folded handle), counted once, so that the cap costs no count per line.
    QHash<QString, int64_t> counts_;
};

} // namespace cfb
