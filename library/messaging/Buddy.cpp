#include "messaging/Buddy.h"

#include "imaging/modPic.h"
#include "messaging/ConfaboError.h"
#include "messaging/FormRequest.h"
#include "messaging/TextNumbers.h"
#include "platform/SettingsStore.h"

#include <QFile>

#include <chrono>

namespace cfb {
namespace {

// Whole seconds on a clock that never steps back, so a changed system time cannot stall or
// hurry the polling.
int64_t nowSeconds()
{
    using namespace std::chrono;
    return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

QString requiredText(const XmlDocument& reply, const QString& path)
{
    const XmlElement element = reply.selectSingle(path);
    if (!element)
        throw ConfaboError::missingElement(path);
    return element.text();
}

} // namespace

Buddy::Buddy()
{
    pollingInterval_ = toInteger(
        SettingsStore::get(QStringLiteral("Data"), QStringLiteral("Polling Interval"), QStringLiteral("30")));
    const int64_t never = std::numeric_limits<int64_t>::min();
    for (int64_t& t : nextRefresh_)
        t = never;
}

void Buddy::init(int32_t buddyID, int32_t buddyUserID, const QString& handle, const QString& email)
{
    buddyID_ = buddyID;
    buddyUserID_ = buddyUserID;
    handle_ = handle;
    email_ = email;
}

bool Buddy::LoadByHandle(const QString& handle)
{
    const XmlDocument reply = FormRequest("USER_FIND").add("handle", handle).post();
    if (!reply.hasContent())
        return false;
    const int32_t userID = toLong(requiredText(reply, QStringLiteral("/body/user_id")));
    const QString email = requiredText(reply, QStringLiteral("/body/email"));
    init(0, userID, handle, email);
    return true;
}

bool Buddy::due(Looked value)
{
    const int64_t now = nowSeconds();
    if (now <= nextRefresh_[value])
        return false;
    nextRefresh_[value] = now + pollingInterval_;
    return true;
}

Stati Buddy::Status()
{
    if (due(StatusValue)) {
        const XmlDocument reply = FormRequest("USER_INFO").add("user_id", buddyUserID_).post();
        if (reply.hasContent()) {
            const int32_t value = toLong(requiredText(reply, QStringLiteral("/body/status")));
            // A presence this library does not know is treated as not reachable.
            status_ = (value == CFB_AVAILABLE || value == CFB_BUSY) ? Stati(value) : CFB_OFFLINE;
        }
    }
    return status_;
}

QString Buddy::IPAddress()
{
    if (due(AddressValue)) {
        const XmlDocument reply = FormRequest("USER_INFO").add("user_id", buddyUserID_).post();
        if (reply.hasContent())
            ipAddress_ = requiredText(reply, QStringLiteral("/body/ip"));
    }
    return ipAddress_;
}

int16_t Buddy::MouthTop()
{
    if (due(MouthTopValue)) {
        const XmlDocument reply = FormRequest("USER_INFO").add("user_id", buddyUserID_).post();
        if (reply.hasContent())
            mouthTop_ = toInteger(requiredText(reply, QStringLiteral("/body/mouth_top")));
    }
    return mouthTop_;
}

int16_t Buddy::MouthLeft()
{
    if (due(MouthLeftValue)) {
        const XmlDocument reply = FormRequest("USER_INFO").add("user_id", buddyUserID_).post();
        if (reply.hasContent())
            mouthLeft_ = toInteger(requiredText(reply, QStringLiteral("/body/mouth_left")));
    }
    return mouthLeft_;
}

const QImage& Buddy::Avatar()
{
    const bool firstLook = avatar_.isNull() && !defaultAvatarInUse_;
    if (firstLook || nowSeconds() > nextRefresh_[AvatarValue]) {
        nextRefresh_[AvatarValue] = nowSeconds() + pollingInterval_;
        defaultAvatarInUse_ = false;
        if (!handle_.isEmpty() || buddyUserID_ > 0) {
            const XmlDocument reply = FormRequest("USER_AVATAR").add("user_id", buddyUserID_).post();
            const auto bytes
                = reply.hasContent() ? reply.selectSingle(QStringLiteral("/body/avatar")).typedValue() : std::nullopt;
            QImage picture = bytes ? PictureFromBytes(*bytes) : QImage();
            if (picture.isNull())
                useDefaultAvatar();
            else
                avatar_ = std::move(picture);
        }
    }
    return avatar_;
}

void Buddy::useDefaultAvatar()
{
    defaultAvatarInUse_ = true;
    avatar_ = DefaultAvatar();
}

const QImage& Buddy::DefaultAvatar()
{
    static const QImage picture = [] {
        QFile file(QStringLiteral(":/confabo/default_avatar.gif"));
        file.open(QIODevice::ReadOnly);
        return PictureFromBytes(file.readAll());
    }();
    return picture;
}

bool Buddy::Remove()
{
    const XmlDocument reply = FormRequest("BUDDY_REMOVE").add("buddy_id", buddyID_).post();
    if (!reply.hasContent())
        return false;
    return requiredText(reply, QStringLiteral("/body")) == QLatin1String("1");
}

} // namespace cfb
