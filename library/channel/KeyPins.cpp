#include "channel/KeyPins.h"

#include "platform/SettingsStore.h"

#include <QByteArray>
#include <QHash>

#include <cstdlib>
#include <cstring>
#include <string>

namespace cfb::KeyPins {
namespace {

const QString PinSection = QStringLiteral("Peer Keys");
const QString VerifiedSection = QStringLiteral("Verified Keys");

// Handles are unique whatever their letter case: one key a user.
QString entry(const QString& handle)
{
    return handle.toLower();
}

// What the file says, by handle as asked, per settings file: the keys are read for every frame
// sent, which must neither read the file nor allocate. Writing through here forgets it all.
struct Known {
    std::optional<Key32> pinned;
    bool verified = false;
};
QHash<QString, Known>& cache()
{
    // The settings file follows $XDG_CONFIG_HOME (and $HOME); compared as they are, without
    // building the path.
    thread_local std::string config, home;
    thread_local QHash<QString, Known> known;
    const char* nowConfig = std::getenv("XDG_CONFIG_HOME");
    const char* nowHome = std::getenv("HOME");
    if (config != (nowConfig ? nowConfig : "") || home != (nowHome ? nowHome : "")) {
        config = nowConfig ? nowConfig : "";
        home = nowHome ? nowHome : "";
        known.clear();
    }
    return known;
}

const Known& known(const QString& handle)
{
    QHash<QString, Known>& all = cache();
    if (const auto found = all.constFind(handle); found != all.constEnd())
        return *found;
    Known read;
    read.pinned = fromText(SettingsStore::get(PinSection, entry(handle), QString()));
    read.verified = read.pinned && fromText(SettingsStore::get(VerifiedSection, entry(handle), QString())) == read.pinned;
    return *all.insert(handle, read);
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
    return known(handle).pinned;
}

void pin(const QString& handle, const Key32& key)
{
    const std::optional<Key32> before = pinned(handle);
    if (before && *before == key)
        return;
    SettingsStore::save(PinSection, entry(handle), toText(key));
    SettingsStore::remove(VerifiedSection, entry(handle));
    cache().clear();
}

void forget(const QString& handle)
{
    SettingsStore::remove(PinSection, entry(handle));
    SettingsStore::remove(VerifiedSection, entry(handle));
    cache().clear();
}

bool verified(const QString& handle)
{
    return known(handle).verified;
}

void setVerified(const QString& handle, bool on)
{
    const std::optional<Key32> key = pinned(handle);
    if (on && key)
        SettingsStore::save(VerifiedSection, entry(handle), toText(*key));
    else
        SettingsStore::remove(VerifiedSection, entry(handle));
    cache().clear();
}

} // namespace cfb::KeyPins
