#pragma once

#include "channel/NoiseTypes.h"
#include "channel/SecureChannel.h"
#include "messaging/Buddies.h"
#include "messaging/FrameAssembler.h"
#include "messaging/PeerPaths.h"
#include "messaging/Stati.h"
#include "messaging/XmlDocument.h"
#include "protocol/AccountRules.h"
#include "video/I420View.h"

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace cfb {

class Identity;
class ivUDP;
class KeepAlive;
class Mailbox;
class PeerAddresses;
class SecureChannel;
class SecureVideo;
class SenderCheck;
class CallSession;

// How lines and frames to a user travel: encrypted to the key the service publishes (pinned on
// first use), in the plain format to a user whose client has no key, or not at all while a
// pinned key is missing or changed unconfirmed.
enum class PeerSecurity { Plain, Encrypted, Refused };

// Who is signed in and what the service told about them: what a Confabo on another thread takes
// over with adopt().
struct Account {
    struct BuddyRow {
        int32_t buddyID = 0;
        int32_t userID = 0;
        QString handle;
        QString email;
    };
    int32_t userID = 0;
    QString handle;
    QString password;
    QString email;
    Stati status = CFB_OFFLINE;
    QImage avatar;
    int16_t mouthLeft = 0;
    int16_t mouthTop = 0;
    QList<BuddyRow> buddies;
    QSet<QString> blocked;
    RelayCredentials relay;
};

// The messaging library's main object: the signed-in user's identity and presence, and the
// account operations. Create one per process on the thread that will use it; service calls block
// that thread. Errors in what the service answers raise ConfaboError.
class Confabo : public QObject {
    Q_OBJECT

public:
    // Loads the service channel settings from the store and writes them back, so the store holds
    // them from the first run on, and binds the receiving socket to "Data"/"DataPort" (default
    // 80) unless "Debug"/"Block All Data" is set. Raises ConfaboError (TypeMismatch) for a
    // timeout or "Block All Data" setting that is not a number or Boolean.
    explicit Confabo(QObject* parent = nullptr);
    // Without a receiving socket: an object that only makes service requests (on a thread of its
    // own, say) for an object that receives.
    enum NoDataPort { WithoutDataPort };
    Confabo(NoDataPort, QObject* parent = nullptr);
    ~Confabo() override;

    // The signed-in user's state, and taking over another object's. Buddies already known keep
    // their objects (and what was looked up for them); new ones do not look themselves up when
    // this object's buddies do not (see Buddy::setLooksUp).
    Account account() const;
    void adopt(const Account& account);
    // The address Login tells the service for a host name setting: the host name, or where the
    // receiving socket is bound when it is bound to one address.
    QString signInAddress(const QString& hostname) const;
    // The IPv6 address Login tells the service: the data port's own when it is bound to one, the
    // default route's when it takes both families, none when it is bound to an IPv4 address.
    static QString ownIPv6Address();
    // Whether this object's buddies ask the service themselves (the default); see Buddy::setLooksUp.
    void setBuddiesLookUp(bool on) { buddiesLookUp_ = on; }

    // Signs in. False when the service cannot be reached or refuses. Without a hostname, the
    // service is also told the local address of the default route, which it hands to buddies
    // signed in from the same public address (behind the same router). Once signed in, the way
    // to each online buddy is kept open (see KeepAlive) until Logout or CleanUp. A notice from the service is
    // handed to UserNotice before the fields are stored. Raises ConfaboError when the reply
    // lacks an element it must have; the fields stored before that keep their new values.
    bool Login(const QString& handle, const QString& Password, const QString& hostname = QString());
    // Tells the service the user left, after hanging up a call that is on (CallEnded follows at
    // once). The reply is not examined; the result is always false.
    bool Logout();
    // Asks the service to change the user's presence; Status changes only when it answered.
    bool SetStatus(Stati Status);
    // Hangs up a call that is on, closes and drops the receiving socket, the buddies and the
    // receiving state; user fields stay. Runs on destruction too (without CallEnded then).
    void CleanUp();

    // The socket that receives messages and frames on the data port; nullptr after CleanUp.
    // Setting another one takes it over (and drops the current one).
    ivUDP* wsReceive() const { return wsReceive_; }
    void setWsReceive(ivUDP* socket);
    // Binds a receiving socket to the data port as every client does: at the "Data Address"
    // setting (every address when empty), sharing the port with clients at other addresses of
    // the machine but never at the same one.
    static void bindDataPort(ivUDP& socket, const QString& port);
    static constexpr int32_t DataPortReceiveBuffer = 4 * 1024 * 1024;

    // Sends a message to a buddy (by handle or position); a handle that is not a buddy is looked
    // up at the service first. False, sending nothing, unless the user is available, or offline
    // with a key: then the line goes to their mailbox at the service (lastLineQueued()).
    bool SendMessage(const QString& ToHandle, const QString& Message, int16_t VideoPort = 0, int16_t DataPort = 80);
    bool SendMessage(int ToIndex, const QString& Message, int16_t VideoPort = 0, int16_t DataPort = 80);

    // The handling of one arriving datagram, as when it comes in on the data port: well-formed
    // datagrams from senders that are not blocked raise VideoFrame (when a frame completes) and
    // then NewMessage (when the message is not empty); anything else is dropped without a trace.
    void ReceiveDatagram(QByteArrayView datagram);
    // The same for a datagram from senderAddress (dotted IPv4): one that names a buddy as its
    // sender but does not come from the address looked up for that buddy is dropped and counted
    // (ForgedSendersDropped).
    void ReceiveDatagram(QByteArrayView datagram, const QString& senderAddress);

    // What keeps the way through routers open to the online buddies.
    cfb::KeepAlive& keepAlive() const { return *keepAlive_; }

    // The profile's key pair (identity.key beside the settings file), made at the first start.
    // Without one (a file that is unreadable, truncated or readable by others, which is never
    // replaced) identityProblem() says what is wrong and everything travels in the plain format.
    bool hasIdentity() const;
    QString identityProblem() const { return identityProblem_; }
    std::optional<Key32> publicKey() const;
    // Another key pair, or none (tests: two users of one profile).
    void setIdentity(std::optional<Identity> identity);

    // How this user's lines and frames reach the buddy (or a looked-up user) now. The first key
    // seen for a handle is pinned; a different one later raises KeyChanged (and, for a verified
    // buddy, is refused until acceptKey); a pinned key that went missing raises PlainRefused.
    PeerSecurity security(Buddy& buddy);
    // The same for a buddy in the collection, by handle; Plain for anyone else.
    PeerSecurity security(const QString& handle);
    // The 60 digits both users see for their two keys, empty without both keys.
    QString safetyNumber(const QString& handle);
    bool isVerified(const QString& handle) const;
    void setVerified(const QString& handle, bool verified);
    // Takes the key the service now publishes for handle in place of the pinned one.
    void acceptKey(const QString& handle);
    // Forgets the pinned key, so a buddy without a key is reached in the plain format again.
    void forgetKey(const QString& handle);
    // While NewMessage, VideoFrame or VideoFrameBytes is raised: whether it came over the
    // encrypted channel from the key known for its sender.
    bool arrivalIsSecure() const { return arrivalSecure_; }
    // The id of the line the last SendMessage sent over the encrypted channel (0 when it went in
    // the plain format, which nobody acknowledges, or was not sent); LineDelivered or
    // LineNotDelivered follows with that id.
    uint64_t lastLineId() const { return lastLineId_; }
    // Whether the last SendMessage left the line for an offline buddy in their mailbox at the
    // service, sealed to their key: LineQueued or LineRefused (or LineNotDelivered) follows, and
    // LineDelivered once the buddy took it.
    bool lastLineQueued() const { return lastLineQueued_; }

    // Offline lines (the service's mailboxes, which hold them sealed: the service sees who wrote
    // to whom, when, and how many bytes, never the text). A line the encrypted channel could not
    // deliver in 30 s goes there on its own, keeping its id; a line to an offline buddy goes
    // there at once. Mail waiting for this user is taken at sign-in and every polling interval
    // ("Data"/"Polling Interval"), shown through NewMessage (arrivalIsQueued) once, however
    // often and whichever way it came, and answered with a receipt.
    //
    // QueueMail leaves a line for handle in their mailbox: a line written earlier that never
    // went (kept by the caller across a restart, with its id and time), or a new one (id 0: a
    // new id is made). Returns the line's id, 0 before sign-in or without an identity. The
    // signals follow as for SendMessage.
    uint64_t QueueMail(const QString& handle, const QString& text, uint64_t id = 0, const QDateTime& written = {});
    // Starts taking mail for the signed-in user: Login does it; an object that took its
    // account over with adopt() calls it (again after each adopt: taking goes on for the user it
    // already takes mail for). The mail requests never block this thread.
    void StartMail();
    // Takes the mail waiting now (the polling interval does it too).
    void TakeMail();
    // While NewMessage is raised: whether the line came from the mailbox, and when its sender
    // wrote it (invalid for a line that came directly, which is being written now).
    bool arrivalIsQueued() const { return arrivalWritten_.isValid(); }
    QDateTime arrivalWritten() const { return arrivalWritten_; }
    // While NewMessage is raised: the id the line carries from its sender's client, the same
    // whichever way it came (0 for the plain format). Keep it with the line to recognise it later.
    uint64_t arrivalId() const { return arrivalId_; }
    // Asked before an encrypted line is shown: whether the line from handle with that id was
    // shown before (kept by the caller, so it holds across restarts). A line its sender sends
    // again, having never had the receipt, is then acknowledged but not shown twice.
    using ShownBefore = std::function<bool(const QString& handle, uint64_t id)>;
    void setShownBefore(ShownBefore shownBefore) { shownBefore_ = std::move(shownBefore); }

    // Files, between Confabo clients only (over the encrypted channel). SendFile offers the file
    // at Path to the buddy (Picture: shown in the conversation when it arrives, at most 16 MB)
    // and returns the transfer's id, or 0 with Error; the File signals follow, by id. An offer
    // from a buddy (FileOffered) is answered with AcceptFile, which saves it at Path once whole
    // and its SHA-256 matches, or DeclineFile. Offers from anyone else are declined here.
    uint32_t SendFile(const QString& ToHandle, const QString& Path, bool Picture, int16_t DataPort, QString& Error);
    bool AcceptFile(uint32_t Id, const QString& Path, QString& Error);
    void DeclineFile(uint32_t Id);
    void CancelFile(uint32_t Id);

    // Voice calls, with buddies known by their key only, one at a time (see CallSession, which
    // takes the microphone's frames and gives the loudspeaker's). Call returns false with Error
    // when the buddy cannot be called (no key, not online, a call already on); the Call signals
    // follow otherwise. Invites from anyone but such a buddy are dropped.
    bool Call(const QString& ToHandle, int16_t DataPort, QString& Error);
    bool Answer();
    bool Decline();
    bool Hangup();
    cfb::CallSession* calls() const { return calls_; }
    // Whether the buddy's client said, in its encrypted session now up, that it takes calls.
    bool takesCalls(Buddy& buddy);

    // The object signed in as handle on this thread that owns a data port, if any: what that
    // user sends goes through it.
    static Confabo* signedInHere(const QString& handle);
    // Encrypted sends for Buddy: nothing when the buddy is reached in the plain format.
    std::optional<bool> sendSecureMessage(Buddy& buddy, const QString& Message, int16_t VideoPort, int16_t DataPort);
    std::optional<bool> sendSecureFrame(Buddy& buddy, QByteArrayView frame, int16_t VideoPort);
    // Live video as VP8, sized to the path, to a buddy whose client said it decodes VP8: nullopt
    // when the buddy gets JPEG frames (sendSecureFrame), otherwise whether it left.
    std::optional<bool> sendSecureVideo(Buddy& buddy, const I420View& picture, int captureRate, int16_t VideoPort);
    // What live video to the buddy is now, for the user: "VP8, 480 kbit/s, 640x480 30 fps" while
    // VP8 goes, empty otherwise (JPEG frames, or nothing sent yet).
    QString videoStatus(Buddy& buddy);
    // Whether pictures to the buddy would go as VP8 now.
    bool takesVp8(Buddy& buddy);
    cfb::SecureVideo* secureVideo() const { return video_; }
    // For KeepAlive: keeps the encrypted session to the buddy up; false when the buddy is reached
    // in the plain format.
    bool keepAliveSecure(Buddy& buddy, uint32_t address, uint16_t port);
    cfb::SecureChannel* secureChannel() const { return channel_; }
    // The key an encrypted send to the buddy would go to now, found without pinning or telling
    // anything (a changed or missing key gives nullopt: the next send asks about it).
    std::optional<Key32> encryptedKey(Buddy& buddy);

    // The relay (TURN) the service named at sign-in, if any, and how each buddy is reached:
    // "direct", "through the relay", or "" before anything came back from the buddy.
    const RelayCredentials& relayCredentials() const { return relayCredentials_; }
    QString PathTo(const QString& handle);
    cfb::PeerPaths* peerPaths() const { return peerPaths_; }
    // Tells the service the relayed address this user holds (see RelayAddressChanged), "" for
    // none; false when the service did not take it.
    bool PublishRelayAddress(const QString& address);
    // Whether the relay credentials expire soon (within an hour, or half their lifetime), and
    // asking the service for new ones; false when it gave none.
    bool relayCredentialsDue() const;
    bool RefreshRelayCredentials();

    // The largest avatar file, in bytes, that the client accepts.
    static constexpr int32_t MaxAvatarSize = AccountRules::MaxAvatarSize;

    // Creates an account; does not sign in. False without a request when the handle holds a
    // space, '@', '`', '\'' or '"'; false when the service refuses. Raises ConfaboError when the
    // service answers with something that is not a user id, or when the avatar file cannot be
    // read (the account exists by then).
    bool Register(const QString& handle, const QString& Password, const QString& Email,
        const QString& AvatarPath = QString(), int16_t MouthLeft = 0, int16_t MouthTop = 0);
    // Change the signed-in user's password or e-mail address. False, keeping the old value,
    // before sign-in or when the service did not take the change.
    bool ChangePassword(const QString& NewPassword);
    bool ChangeEmail(const QString& NewEmail);
    // Stores the mouth position and, when the file exists, uploads it as the avatar. Returns
    // whether the last request was answered. Raises ConfaboError when the uploaded file is no
    // picture.
    bool SetAvatar(const QString& AvatarPath, int16_t MouthLeft, int16_t MouthTop);

    // The user's buddies, created empty when there are none; replacing them swaps the collection.
    std::shared_ptr<cfb::Buddies> Buddies();
    void setBuddies(std::shared_ptr<cfb::Buddies> buddies);
    // Adds a buddy by e-mail address or handle. Returns the handle the service found (empty when
    // nobody was found or the service could not be reached); the buddy joins the collection only
    // when a new relation was made.
    QString AddBuddy(const QString& EmailOrHandle);
    // The users available now; nullptr before sign-in.
    std::shared_ptr<cfb::Buddies> AvailableUsers();

    // Blocked handles (letter case counts). Block and unblock change the set only when the
    // service took the change.
    bool IsBlocked(const QString& handle) const;
    bool BlockUser(const QString& handle);
    bool UnBlockUser(const QString& handle);
    // The blocked handles as the service lists them, followed by one empty element.
    QStringList GetBlockedUserList();

    // The user's profile and buddies as XML text.
    QString WriteXML();

    const QImage& Avatar() const { return avatar_; }
    int16_t MouthLeft() const { return mouthLeft_; }
    int16_t MouthTop() const { return mouthTop_; }
    QString IPAddress() const { return ipAddress_; }
    QString Email() const { return email_; }
    void setEmail(const QString& value) { email_ = value; }
    QString Password() const { return password_; }
    void setPassword(const QString& value) { password_ = value; }
    Stati Status() const { return status_; }
    void setStatus(Stati value) { status_ = value; }
    int32_t userID() const { return userID_; }
    QString handle() const { return handle_; }
    void setHandle(const QString& value) { handle_ = value; }

    // The service channel's timeouts in milliseconds, shared by every object on this thread and
    // never stored.
    int32_t HTTPSendTimeout() const;
    void setHTTPSendTimeout(int32_t milliseconds);
    int32_t HTTPRecvTimeout() const;
    void setHTTPRecvTimeout(int32_t milliseconds);
    int32_t HTTPConnTimeout() const;
    void setHTTPConnTimeout(int32_t milliseconds);

    // True when "Block All Data" was set at construction: nothing is received.
    bool blocksAllData() const { return blockAllData_; }

signals:
    void NewMessage(QString& FromHandle, QString& FromEmail, int16_t& VideoPort, QString& Message);
    // VideoFrame is a null image when the frame's bytes are no picture.
    void VideoFrame(QString& FromHandle, QImage& VideoFrame);
    // The bytes of a completed frame, raised just before VideoFrame.
    void VideoFrameBytes(QString& FromHandle, QByteArray& Frame);
    // Datagrams that named a buddy as sender but came from elsewhere, or did not authenticate
    // on the encrypted channel, dropped since the last report; raised at most once a minute.
    void ForgedSendersDropped(int count);
    // The service hands out another key for handle than the one pinned. verified: the user had
    // verified the old one, so nothing is sent or taken until acceptKey.
    void KeyChanged(const QString& handle, bool verified);
    // handle had a pinned key and now comes without one: its plain datagrams are refused, and
    // nothing is sent to it, until forgetKey. Raised once.
    void PlainRefused(const QString& handle);
    // The buddy acknowledged the line; or did not within 30 s of sending again.
    void LineDelivered(const QString& handle, uint64_t id);
    void LineNotDelivered(const QString& handle, uint64_t id);
    // The line waits in the buddy's mailbox at the service; or the service would not keep it,
    // with its words for the user ("bertram's mailbox is full.").
    void LineQueued(const QString& handle, uint64_t id);
    void LineRefused(const QString& handle, uint64_t id, const QString& reason);
    void FileOffered(const QString& handle, uint32_t id, const QString& name, qint64 size, bool picture);
    // incoming: a file from the buddy; else one to them. done of total bytes are there.
    void FileProgress(const QString& handle, uint32_t id, bool incoming, qint64 done, qint64 total);
    // Whole, its SHA-256 (hex) matched: saved at path, or (sent) the buddy saved it.
    void FileFinished(const QString& handle, uint32_t id, bool incoming, const QString& path, const QString& sha256);
    void FileFailed(const QString& handle, uint32_t id, bool incoming, const QString& reason);
    void CallIncoming(const QString& handle);
    void CallStarted(const QString& handle);
    // reason: hangup, declined, busy, missed or failed.
    void CallEnded(const QString& handle, const QString& reason);
    // This user's relayed address to publish with PublishRelayAddress (again every few minutes
    // while held), or "" when it was lost.
    void RelayAddressChanged(const QString& address);

private:
    void loadChannelSettings();
    void attachReceiver(ivUDP* socket);
    void bindReceiver();
    void onReceiveError();
    void onDataArrival();
    void receive(QByteArrayView datagram, const uint32_t* senderAddress);
    struct Resolved {
        PeerSecurity security = PeerSecurity::Plain;
        Key32 key {};
    };
    Resolved resolve(const QString& handle, const KeyLookup& looked);
    bool plainRefusedFrom(const QString& handle);
    void loadIdentity();
    void createChannel();
    void createCalls();
    void registerHere();
    void onChannelMessage(const QString& handle, bool trusted, const QString& email, int16_t port, const QString& text,
        uint64_t wireId);
    void createMailbox();
    void onMailArrived(const QString& handle, uint64_t id, const QString& text, int64_t writtenMs);
    std::optional<Key32> mailKeyOf(const QString& handle);
    bool queueForOffline(Buddy& buddy, const QString& Message);
    void onChannelFrame(const QString& handle, bool trusted, QByteArray& frame);
    struct SecureRoute {
        Resolved known;
        SecureChannel::Endpoint to;
    };
    std::optional<SecureRoute> secureRoute(Buddy& buddy, int16_t port);
    void loadBuddyList();
    void loadBlockedUsers();
    void readRelayCredentials(const XmlDocument& reply);
    void takeRelayCredentials(const RelayCredentials& credentials);

    int32_t userID_ = 0;
    QString handle_;
    Stati status_ = CFB_OFFLINE;
    QString password_;
    QString email_;
    QString ipAddress_; // no operation assigns it
    QImage avatar_;
    int16_t mouthTop_ = 0;
    int16_t mouthLeft_ = 0;
    bool blockAllData_ = false;
    bool buddiesLookUp_ = true;
    std::shared_ptr<cfb::Buddies> buddies_;
    QSet<QString> blocked_;

    ivUDP* wsReceive_ = nullptr; // owned
    bool recovering_ = false;
    std::unique_ptr<XmlDocument> datagramDocument_;
    FrameAssembler frames_;
    SecureVideo* video_ = nullptr;
    QByteArray arrival_;
    PeerAddresses* peerAddresses_ = nullptr; // children of this object
    SenderCheck* senderCheck_ = nullptr;
    KeepAlive* keepAlive_ = nullptr;
    std::unique_ptr<Identity> identity_;
    QString identityProblem_;
    SecureChannel* channel_ = nullptr; // child; only with a data port
    CallSession* calls_ = nullptr; // child; only with a channel
    int16_t callPort_ = 0; // the data port of the buddy called
    PeerPaths* peerPaths_ = nullptr; // child; only with a data port
    RelayCredentials relayCredentials_;
    bool arrivalSecure_ = false;
    uint64_t lastLineId_ = 0;
    bool lastLineQueued_ = false;
    Mailbox* mailbox_ = nullptr; // child; only with a channel
    QDateTime arrivalWritten_;
    uint64_t arrivalId_ = 0;
    ShownBefore shownBefore_;
    QSet<QString> keyNotices_; // "handle key" already announced by KeyChanged or PlainRefused
};

} // namespace cfb
