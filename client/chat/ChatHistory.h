#pragma once

#include "chat/ChatTranscript.h"
#include "history/HistoryLine.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace cfb {
class HistoryStore;
}

namespace cfb::client {

// The profile's history file as the conversations use it: a transcript that opens for a buddy
// begins with the newest lines kept of that buddy, and every line the two users say in it from
// then on is written to the file, with what became of it. Only what the user saw is kept: the
// user's own lines and the lines of buddies or of users the user accepted to chat with (a
// stranger's lines get a transcript only then), and the events of a conversation (calls, kept
// without a sender); other notices and pictures are not.
//
// The file opens at the first use, so that it is the profile's signed in. When it cannot be used
// the conversations go on unkept, and each transcript says so once.
class ChatHistory : public QObject {
    Q_OBJECT

public:
    // The most lines a transcript begins with: what the chat box shows of them is bounded anyway.
    static constexpr int LinesShown = 200;

    explicit ChatHistory(QObject* parent = nullptr);
    ~ChatHistory() override;

    // Begins transcript, which holds nothing yet, with the newest lines kept of handle (unless
    // load is false: it holds this session's lines already), and keeps every line added to it.
    void attach(const QString& handle, ChatTranscript& transcript, bool load);
    // Whether the line from handle that carried wireId is kept (shown before, perhaps before a restart).
    bool hasReceived(const QString& handle, uint64_t wireId);
    // Deletes every line kept of handle from the file; false when the file could not be changed.
    bool clear(const QString& handle);
    // The lines of every conversation that hold the words typed, newest first.
    QList<cfb::HistoryLine> search(const QString& typed, int limit = 200);
    // Why nothing is kept, or empty.
    QString problem();
    // What went wrong last with the file (a clear that failed, say).
    QString lastError() const;

    static ChatTranscript::Line transcriptLine(const cfb::HistoryLine& line);

    // The user's own lines kept as still waiting for their mark (the program ended before it
    // came) go again: queue hands each to the buddy's mailbox and returns the id its mark will
    // name (0: it could not go). resent() then writes what became of it.
    void sendPendingAgain(const std::function<uint64_t(const cfb::HistoryLine&)>& queue);
    void resent(uint64_t lineId, bool delivered);
    // The buddy's mailbox took the line: it is not to go again after a restart (which would show
    // it twice), and its mark may still come.
    void queued(uint64_t lineId);

private:
    cfb::HistoryStore* store();
    void keep(const QString& handle, const ChatTranscript::Line& line);
    void noteDelivery(const ChatTranscript::Line& line);

    std::unique_ptr<cfb::HistoryStore> store_;
    bool problemLogged_ = false;
    QHash<uint64_t, int64_t> waiting_; // the library's line id -> the file's
    QHash<uint64_t, int64_t> resent_; // the same for lines sent again
};

} // namespace cfb::client
