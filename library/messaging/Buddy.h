#pragma once

#include "channel/NoiseTypes.h"
#include "messaging/Stati.h"
#include "messaging/XmlDocument.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace cfb {

class Buddies;
class ivUDP;

// What looking a buddy up found: presence, address, mouth position and avatar.
struct BuddyLookups {
    Stati status = CFB_OFFLINE;
    QString ipAddress;
    int16_t mouthTop = 0;
    int16_t mouthLeft = 0;
    QImage avatar;
    bool defaultAvatar = false;
    // The key the user's client published at its last sign-in; none for a client without one.
    std::optional<Key32> publicKey;
};

// What the lookups said of a buddy's public key: whether any reply came yet, and the key.
struct KeyLookup {
    bool lookedUp = false;
    std::optional<Key32> key;
};

// Another user the signed-in user follows. Ids, handle and e-mail come from the buddy list;
// presence, address, avatar and mouth position are looked up from the service on read and reused
// for the polling interval ("Data"/"Polling Interval", seconds), each value on its own clock.
class Buddy {
public:
    // Reads the polling interval; raises ConfaboError when the setting is not a number.
    Buddy();
    ~Buddy();
    Buddy(const Buddy&) = delete;
    Buddy& operator=(const Buddy&) = delete;

    // Looks a user up by handle (USER_FIND). False, changing nothing, when the service does not
    // know the handle or cannot be reached.
    bool LoadByHandle(const QString& handle);

    int32_t BuddyID() const { return buddyID_; }
    int32_t BuddyUserID() const { return buddyUserID_; }
    QString handle() const { return handle_; }
    QString Email() const { return email_; }

    // Each of these asks the service (USER_INFO) at most once per polling interval; the
    // interval restarts before the request, so a failed one is retried only after it. Raises
    // ConfaboError when a reply lacks the element.
    Stati Status();
    QString IPAddress();
    int16_t MouthTop();
    int16_t MouthLeft();
    // The status and address of the last USER_INFO reply, without asking the service (offline
    // and empty before the first lookup).
    Stati knownStatus() const;
    QString knownAddress() const;
    // The relayed address ("a.b.c.d:port") the buddy holds at the TURN relay, as the last lookup
    // said (services without relays never say one): empty when none.
    QString knownRelay() const;
    // The buddy's IPv6 address as the last lookup said (services and clients without IPv6 never
    // say one): nullopt when none or not a well-formed literal. Read from each reply once.
    std::optional<std::array<uint8_t, 16>> knownAddress6() const;
    // The public key the service publishes for the buddy (none for an older client), asked for
    // with the status; knownPublicKey() only tells what the last reply said.
    std::optional<Key32> PublicKey();
    KeyLookup knownPublicKey() const;

    // The buddy's avatar (USER_AVATAR), or the default picture when the service has none, cannot
    // be reached, or sends bytes that are no picture.
    const QImage& Avatar();
    bool usesDefaultAvatar() const { return defaultAvatarInUse_; }

    // Ends the buddy relation at the service (BUDDY_REMOVE). The buddy stays in its collection.
    bool Remove();

    // Sends a message datagram to the buddy's address and data port. False, sending nothing,
    // unless the buddy is available; true once the datagram was handed to a socket (a send
    // error is that socket's to report). Ports are 16-bit numbers read unsigned, so 40000
    // arrives as -25536 and still names port 40000. Messages and frames leave from the data port
    // of FromHandle where that user is signed in on this thread (see DataPortSockets), otherwise
    // from a socket of their own.
    bool SendMessage(const QString& FromHandle, const QString& FromEmail, const QString& Message,
        int16_t VideoPort = 80, int16_t DataPort = 80);
    // Sends a frame (picture bytes) to the buddy's address and video port, in chunks of 64535
    // bytes. False, sending nothing, for an empty frame, a buddy that is not available, or a
    // frame whose chunks would not fit in a UDP datagram (frames up to about 48,000 bytes travel
    // as one datagram), or port 0. A steady stream of frames reuses one socket and one datagram
    // buffer and allocates nothing.
    bool SendFrame(QByteArrayView buf, const QString& FromHandle, int16_t VideoPort = 80);

    // The picture used when a buddy has no avatar of its own.
    static const QImage& DefaultAvatar();

    // Presence, address and mouth, read from one USER_INFO reply (asked for as the properties
    // do, at most once a polling interval); the avatar is left empty.
    BuddyLookups lookUp();
    // Whether the properties ask the service themselves (the default). A buddy that does not only
    // shows what adopt() gave it: a program whose user-interface thread must never wait on the
    // network has another thread look its buddies up and hands the values over.
    bool looksUp() const { return looksUp_; }
    void setLooksUp(bool on) { looksUp_ = on; }
    // Takes values looked up elsewhere (by another Buddy for the same user).
    void adopt(const BuddyLookups& lookups);
    // Whether adopt() has given this buddy any values yet.
    bool hasLookups() const { return adopted_; }

    // Forgets when the values were looked up, so that the next read of each asks the service
    // again (for a caller that wants the presence as it is now, not as of the last poll).
    void forgetLookups();

private:
    friend class Buddies;
    void init(int32_t buddyID, int32_t buddyUserID, const QString& handle, const QString& email);

    enum Looked { StatusValue, AddressValue, MouthTopValue, MouthLeftValue, PublicKeyValue, LookedCount };
    // True when the value is to be read (again) from the USER_INFO reply, which is asked for
    // once a polling interval.
    bool freshInfo(Looked value);
    void refreshInfo();
    void useDefaultAvatar();

    int32_t buddyID_ = 0;
    int32_t buddyUserID_ = 0;
    QString handle_;
    QString email_;
    QString ipAddress_;
    Stati status_ = CFB_OFFLINE;
    QImage avatar_;
    int16_t mouthLeft_ = 0;
    int16_t mouthTop_ = 0;
    std::optional<Key32> publicKey_;
    bool keyLookedUp_ = false;
    mutable std::optional<Key32> parsedKey_; // the key of reply keyParsedFrom_, not yet taken
    mutable uint64_t keyParsedFrom_ = 0;
    mutable std::optional<std::array<uint8_t, 16>> address6_; // of reply address6ParsedFrom_
    mutable uint64_t address6ParsedFrom_ = 0;
    int16_t pollingInterval_ = 30;
    // The last USER_INFO reply, its number (0: none yet), and the reply each value was read from.
    XmlDocument info_;
    uint64_t infoReply_ = 0;
    uint64_t readReply_[LookedCount] = {};
    int64_t infoRefresh_ = 0; // when USER_INFO is next asked for, on the polling clock
    int64_t avatarRefresh_ = 0; // when USER_AVATAR is
    bool defaultAvatarInUse_ = false;
    bool looksUp_ = true;
    bool holdInfo_ = false; // lookUp() reads every value from the reply it has
    bool adopted_ = false;

    // The frame path's socket and buffers, kept between frames.
    std::unique_ptr<ivUDP> frameSocket_;
    QString frameFrom_;
    QByteArray frameFromEscaped_;
    QByteArray frameDatagram_;
    uint16_t framePort_ = 0; // the port frameSocket_ sends to
    QString frameHost_; // the address frames went to last, and parsed
    uint32_t frameAddress_ = 0;
};

} // namespace cfb
