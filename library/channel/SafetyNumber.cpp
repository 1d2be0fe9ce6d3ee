#include "channel/SafetyNumber.h"

#include "channel/SodiumReady.h"

#include <QStringList>

#include <sodium.h>

#include <algorithm>
#include <cstring>

namespace cfb::SafetyNumber {
namespace {

constexpr int GroupsPerKey = 6;
constexpr int BytesPerGroup = 5;

QStringList groupsOf(const Key32& key)
{
    Hash64 digest{};
    crypto_generichash_blake2b_state state;
    for (int i = 0; i < Iterations; ++i) {
        crypto_generichash_blake2b_init(&state, nullptr, 0, digest.size());
        crypto_generichash_blake2b_update(&state, &Version, 1);
        if (i > 0)
            crypto_generichash_blake2b_update(&state, digest.data(), digest.size());
        crypto_generichash_blake2b_update(&state, key.data(), key.size());
        crypto_generichash_blake2b_final(&state, digest.data(), digest.size());
    }
    QStringList groups;
    for (int g = 0; g < GroupsPerKey; ++g) {
        uint64_t value = 0;
        for (int i = 0; i < BytesPerGroup; ++i)
            value = (value << 8) | digest[size_t(g * BytesPerGroup + i)];
        groups.append(QStringLiteral("%1").arg(value % 100000, 5, 10, QLatin1Char('0')));
    }
    return groups;
}

QStringList groups(const Key32& a, const Key32& b)
{
    sodiumReady();
    const bool aFirst = std::memcmp(a.data(), b.data(), a.size()) <= 0;
    return groupsOf(aFirst ? a : b) + groupsOf(aFirst ? b : a);
}

} // namespace

QString of(const Key32& a, const Key32& b)
{
    return groups(a, b).join(u' ');
}

QString qrText(const Key32& a, const Key32& b)
{
    return groups(a, b).join(QString());
}

} // namespace cfb::SafetyNumber
