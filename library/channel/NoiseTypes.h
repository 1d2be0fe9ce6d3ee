#pragma once

#include <QByteArrayView>

#include <array>
#include <cstddef>
#include <cstdint>

namespace cfb {

// The shapes the encrypted peer channel works in: X25519 keys and ChaChaPoly keys are 32 bytes,
// BLAKE2b digests 64.
using Key32 = std::array<uint8_t, 32>;
using Hash64 = std::array<uint8_t, 64>;
using ByteView = QByteArrayView;

namespace Noise {
inline constexpr size_t KeySize = 32;
inline constexpr size_t HashSize = 64;
inline constexpr size_t TagSize = 16;
// No Noise message (handshake or transport) is longer than this.
inline constexpr size_t MaxMessageSize = 65535;
} // namespace Noise

// Overwrites memory that held a secret in a way the compiler does not drop.
void wipeSecret(void* data, size_t size);

// A fixed-size array that is wiped when it goes away, moved from, or assigned over, so no copy
// of a key lingers in memory the process has let go.
template <size_t N>
class SecretBytes {
public:
    SecretBytes() { bytes_.fill(0); }
    explicit SecretBytes(const std::array<uint8_t, N>& bytes) : bytes_(bytes) {}
    SecretBytes(const SecretBytes& other) = default;
    SecretBytes(SecretBytes&& other) noexcept : bytes_(other.bytes_) { other.wipe(); }
    SecretBytes& operator=(const SecretBytes& other) = default;
    SecretBytes& operator=(SecretBytes&& other) noexcept
    {
        if (this != &other) {
            bytes_ = other.bytes_;
            other.wipe();
        }
        return *this;
    }
    ~SecretBytes() { wipe(); }

    std::array<uint8_t, N>& get() { return bytes_; }
    const std::array<uint8_t, N>& get() const { return bytes_; }
    uint8_t* data() { return bytes_.data(); }
    const uint8_t* data() const { return bytes_.data(); }
    void wipe() { wipeSecret(bytes_.data(), N); }

private:
    std::array<uint8_t, N> bytes_;
};

using SecretKey32 = SecretBytes<32>;
using SecretHash64 = SecretBytes<64>;

} // namespace cfb
