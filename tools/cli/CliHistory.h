#pragma once

#include "history/HistoryStore.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

// The session's conversations in the profile's history file (or the one --history names): the
// lines it sends and the lines buddies send it, with their times and what became of them, and
// the "history" command that reads them back. A stranger's lines are kept once the session has
// written to that stranger; until then a flood of them writes nothing.
class CliHistory {
public:
    explicit CliHistory(const QString& path);

    bool isOpen() const { return store_.isOpen(); }
    QString problem() const { return store_.problem(); }

    // A send: went (id, when encrypted, names the acknowledgement to come) or could not go.
    void sent(const QString& ownHandle, const QString& to, const QString& text, bool went, uint64_t lineId, bool secure);
    // wireId: the id the line came with, by which it is known when it comes again (seen()).
    void received(const QString& from, const QString& text, bool secure, bool fromBuddy, uint64_t wireId);
    bool seen(const QString& from, uint64_t wireId) const { return store_.hasReceived(from, wireId); }
    void delivered(uint64_t lineId, bool yes);
    // The buddy's mailbox took the line: it is not to go again, and its mark may still come.
    void queued(uint64_t lineId);

    // "history HANDLE [N]": the newest N lines (50 unless given) with HANDLE, oldest first.
    void command(const QStringList& words);

    static constexpr int DefaultShown = 50;
    static constexpr int MostShown = 10000;

private:
    cfb::HistoryStore store_;
    QHash<uint64_t, int64_t> waiting_; // the library's line id -> the history's
    QSet<QString> writtenTo_; // case-folded handles
};
