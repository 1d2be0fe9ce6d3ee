#pragma once

#include "messaging/Stati.h"

#include <QImage>
#include <QString>

#include <cstdint>

namespace cfb {

class Buddies;

// Another user the signed-in user follows. Ids, handle and e-mail come from the buddy list;
// presence, address, avatar and mouth position are looked up from the service on read and reused
// for the polling interval ("Data"/"Polling Interval", seconds), each value on its own clock.
class Buddy {
public:
    // Reads the polling interval; raises ConfaboError when the setting is not a number.
    Buddy();

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

    // The buddy's avatar (USER_AVATAR), or the default picture when the service has none, cannot
    // be reached, or sends bytes that are no picture.
    const QImage& Avatar();
    bool usesDefaultAvatar() const { return defaultAvatarInUse_; }

    // Ends the buddy relation at the service (BUDDY_REMOVE). The buddy stays in its collection.
    bool Remove();

    // The picture used when a buddy has no avatar of its own.
    static const QImage& DefaultAvatar();

private:
    friend class Buddies;
    void init(int32_t buddyID, int32_t buddyUserID, const QString& handle, const QString& email);

    enum Looked { StatusValue, AddressValue, AvatarValue, MouthTopValue, MouthLeftValue, LookedCount };
    // True (and the clock restarted) when the value is due for a refresh.
    bool due(Looked value);
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
    int16_t pollingInterval_ = 30;
    int64_t nextRefresh_[LookedCount] = {};
    bool defaultAvatarInUse_ = false;
};

} // namespace cfb
