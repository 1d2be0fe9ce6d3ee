#include "messaging/Buddies.h"

#include "messaging/ConfaboError.h"

namespace cfb {

Buddies::Item_t Buddies::Add(
    int32_t BuddyID, int32_t BuddyUserID, const QString& handle, const QString& Email, const QString& sKey)
{
    auto buddy = std::make_shared<Buddy>();
    buddy->init(BuddyID, BuddyUserID, handle, Email);
    return Add(std::move(buddy), sKey);
}

Buddies::Item_t Buddies::Add(Item_t buddy, const QString& sKey)
{
    if (!sKey.isEmpty() && indexOfKey(sKey) >= 0)
        throw ConfaboError(ConfaboError::DuplicateKey,
            QStringLiteral("The key \"%1\" is already associated with an element of this collection").arg(sKey));
    items_.append(buddy);
    keys_.append(sKey);
    return buddy;
}

Buddies::Item_t Buddies::Item(int index) const
{
    return (index >= 1 && index <= items_.size()) ? items_[index - 1] : nullptr;
}

Buddies::Item_t Buddies::Item(const QString& key) const
{
    const qsizetype at = indexOfKey(key);
    return at >= 0 ? items_[at] : nullptr;
}

void Buddies::Remove(int index)
{
    if (index < 1 || index > items_.size())
        throw ConfaboError(ConfaboError::InvalidArgument, QStringLiteral("No buddy at position %1").arg(index));
    items_.removeAt(index - 1);
    keys_.removeAt(index - 1);
}

void Buddies::Remove(const QString& key)
{
    const qsizetype at = indexOfKey(key);
    if (at < 0)
        throw ConfaboError(ConfaboError::InvalidArgument, QStringLiteral("No buddy under the key \"%1\"").arg(key));
    items_.removeAt(at);
    keys_.removeAt(at);
}

qsizetype Buddies::indexOfKey(const QString& key) const
{
    if (key.isEmpty())
        return -1;
    for (qsizetype i = 0; i < keys_.size(); ++i) {
        if (keys_[i].compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

} // namespace cfb
