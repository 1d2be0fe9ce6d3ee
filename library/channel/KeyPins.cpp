#include "channel/KeyPins.h"

#include "platform/SettingsStore.h"

#include <QByteArray>

#include <cstring>

namespace cfb::KeyPins {
namespace {

const QString PinSection = QStringLiteral("Peer Keys");
const QString VerifiedSection = QStringLiteral("Verified Keys");

// Handles are unique whatever their letter case: one key a user.
QString entry(const QString& handle)
{
    return handle.toLower();
}

} // namespace

QString toText(const Key32& key)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(key.data()), key.size()).toBase64());
}

std::optional<Key32> fromText(const QString& text)
{
    const auto decoded = QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != 32)
        return std::nullopt;
    Key32 key;
    std::memcpy(key.data(), decoded.decoded.constData(), key.size());
    return key;
}

std::optional<Key32> pinned(const QString& handle)
{
    return fromText(SettingsStore::get(PinSection, entry(handle), QString()));
}

void pin(const QString& handle, const Key32& key)
{
    const std::optional<Key32> before = pinned(handle);
    if (before && *before == key)
        return;
    SettingsStore::save(PinSection, entry(handle), toText(key));
    SettingsStore::remove(VerifiedSection, entry(handle));
}

void forget(const QString& handle)
{
    SettingsStore::remove(PinSection, entry(handle));
    SettingsStore::remove(VerifiedSection, entry(handle));
}

bool verified(const QString& handle)
{
    const std::optional<Key32> key = pinned(handle);
    return key && fromText(SettingsStore::get(VerifiedSection, entry(handle), QString())) == key;
}

void setVerified(const QString& handle, bool on)
{
    const std::optional<Key32> key = pinned(handle);
    if (on && key)
        SettingsStore::save(VerifiedSection, entry(handle), toText(*key));
    else
        SettingsStore::remove(VerifiedSection, entry(handle));
}

} // namespace cfb::KeyPins
