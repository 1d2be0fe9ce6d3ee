#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace cfb {

// A TURN server as the service names it (RFC 7065): "turn:HOST[:PORT][?transport=udp|tcp]" or
// "turns:HOST[:PORT][?transport=tcp]".
struct TurnServerUrl {
    enum class Transport { Udp, Tcp, Tls };
    QString host;
    uint16_t port = 3478;
    Transport transport = Transport::Udp;

    // nullopt for anything else (an IPv6 literal in brackets is read, with its port).
    static std::optional<TurnServerUrl> parse(const QString& url);
};

} // namespace cfb
