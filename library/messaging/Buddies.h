#pragma once

#include "messaging/Buddy.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <memory>

namespace cfb {

// An ordered collection of buddies, positions from 1, with optional keys that compare without
// regard to letter case and may each be used once.
class Buddies {
public:
    using Item_t = std::shared_ptr<Buddy>;

    // Creates a buddy with these fields and adds it under sKey (without a key when it is empty).
    // Raises ConfaboError DuplicateKey when the key is taken.
    Item_t Add(int32_t BuddyID, int32_t BuddyUserID, const QString& handle, const QString& Email,
        const QString& sKey = QString());
    // Adds a buddy that exists already (one collection taking over another's objects).
    Item_t Add(Item_t buddy, const QString& sKey = QString());

    // The buddy at a position or under a key; nullptr when there is none.
    Item_t Item(int index) const;
    Item_t Item(const QString& key) const;

    int32_t Count() const { return int32_t(items_.size()); }

    // Raises ConfaboError InvalidArgument for a position or key that is not present.
    void Remove(int index);
    void Remove(const QString& key);

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    qsizetype indexOfKey(const QString& key) const;

    QList<Item_t> items_;
    QList<QString> keys_; // parallel to items_; empty for an item without a key
};

} // namespace cfb
