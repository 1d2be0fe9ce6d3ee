#pragma once

#include "chat/ChatTranscript.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QPixmap>
#include <QString>

#include <functional>
#include <map>
#include <memory>

class QTabBar;

namespace cfb {
class Buddy;
class Buddies;
} // namespace cfb

namespace cfb::client {

class ChatHistory;
class ClientSession;
class ChatTranscript;
class cBuddyInfo;

// The main window's buddy tabs: one per buddy who is signed in (available or busy), and one per
// user chatted with who is no buddy, each keyed by handle with the buddy's avatar as its icon and
// a record (cBuddyInfo: the buddy, its transcript, its switches, its own window). Tabs go by key,
// never by position. A tab whose user's lines are not encrypted (or are held back) carries a
// padlock in its icon's corner and says why in its tooltip, below the e-mail address; so does the
// user's own window. A busy buddy's tab is greyed with a busy sign; a buddy who signed out keeps
// a greyed tab while a conversation with them is open (the user wrote to them this session, opened
// it, or it holds lines they left in the mailbox), for lines that wait in their mailbox; while the service cannot be
// reached every tab is greyed, its presence unknown; a tab with lines the user has not seen has
// its text coloured. A transcript outlives its tab: the user's next tab this session shows it. A
// record's transcript begins with the newest lines kept of its user, and what is said in it is
// kept (ChatHistory).
class BuddyTabs : public QObject {
    Q_OBJECT

public:
    BuddyTabs(QTabBar& bar, ClientSession& session, QObject* parent = nullptr);
    ~BuddyTabs() override;

    // The record of a user with a tab (or kept for one); nullptr when there is none.
    cBuddyInfo* record(const QString& handle) const;
    cBuddyInfo* addRecord(const QString& handle);
    void forgetRecord(const QString& handle);
    // The buddy's transcript, whose record is made (without a tab) when there is none yet, so
    // that what is said of the buddy is there when the tab comes; nullptr for a user who is no
    // buddy and has no record.
    ChatTranscript* transcriptOf(const QString& handle);
    // Every tab and record goes.
    void clear();
    // The kept conversations.
    ChatHistory& history() const { return *history_; }
    // Deletes the user's kept conversation from the disk, and empties the transcript; false (the
    // transcript as it was) when the file could not be changed.
    bool clearHistory(const QString& handle);
    // A record for a user who is no buddy, looked up on the service thread first; then follows.
    void addStranger(const QString& handle, std::function<void()> then);
    // The records of users who are not on the buddy list.
    QHash<QString, std::shared_ptr<cfb::Buddy>> strangers(const cfb::Buddies& buddies) const;

    int indexOf(const QString& handle) const;
    QString handleAt(int index) const;
    int count() const;

    // A tab for the user (and a record showing buddy) unless there is one.
    void add(const QString& handle, const std::shared_ptr<cfb::Buddy>& buddy);
    // The user's tab, icon and record go; the transcript is kept for the user's next record.
    void remove(const QString& handle);
    // Tabs for the buddies who are available now and for no one else who is on the list; the
    // tabs of users who are no buddies stay while they are available. Every tab's mark is drawn
    // anew, as keys arrive with the lookups.
    void follow(const cfb::Buddies& buddies);

    // Whether the last poll reached the service; without it every tab shows its presence unknown.
    void setPresenceKnown(bool known);
    bool presenceKnown() const { return presenceKnown_; }
    // Marks the user's tab as holding lines the user has not seen (the tab is not the selected
    // one); selecting the tab clears the mark.
    void setUnread(const QString& handle, bool unread);
    bool isUnread(const QString& handle) const { return unread_.contains(handle); }

    // Whether a buddy with this presence has a tab: whoever is signed in.
    static bool hasTab(int status);
    // Keeps the user's tab while they are offline, as for a conversation with lines in it.
    void keepOpen(const QString& handle) { open_.insert(handle); }

private:
    // The tab's icon and tooltip, and its record's mark, as the library sees the user now.
    void decorate(int index);

    QTabBar& bar_;
    ClientSession& session_;
    std::map<QString, std::unique_ptr<cBuddyInfo>> records_;
    QHash<QString, QPixmap> icons_;
    // The transcripts of users whose record went, for their next record this session.
    QHash<QString, QList<ChatTranscript::Line>> kept_;
    QSet<QString> unread_;
    QSet<QString> open_; // conversations with tabs kept while their buddy is offline
    bool presenceKnown_ = true;
    ChatHistory* history_; // child
};

} // namespace cfb::client
