#include "path/TurnServerUrl.h"

#include <QStringList>

namespace cfb {

std::optional<TurnServerUrl> TurnServerUrl::parse(const QString& url)
{
    if (url.size() > 512)
        return std::nullopt;
    TurnServerUrl server;
    QString rest;
    if (url.startsWith(QLatin1String("turn:"))) {
        rest = url.mid(5);
    } else if (url.startsWith(QLatin1String("turns:"))) {
        rest = url.mid(6);
        server.transport = Transport::Tls;
        server.port = 5349;
    } else {
        return std::nullopt;
    }
    const qsizetype query = rest.indexOf(QLatin1Char('?'));
    if (query >= 0) {
        const QString parameter = rest.mid(query + 1);
        rest.truncate(query);
        if (parameter == QLatin1String("transport=tcp")) {
            if (server.transport == Transport::Udp)
                server.transport = Transport::Tcp;
        } else if (parameter != QLatin1String("transport=udp") || server.transport == Transport::Tls) {
            return std::nullopt;
        }
    }
    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        server.host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty() && !after.startsWith(QLatin1Char(':')))
            return std::nullopt;
        portText = after.mid(1);
    } else {
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        server.host = colon < 0 ? rest : rest.left(colon);
        if (colon >= 0)
            portText = rest.mid(colon + 1);
        if (server.host.contains(QLatin1Char(':')))
            return std::nullopt;
    }
    if (server.host.isEmpty() || server.host.contains(QLatin1Char('/')) || server.host.contains(QLatin1Char('@')))
        return std::nullopt;
    if (!portText.isEmpty() || rest.endsWith(QLatin1Char(':'))) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!ok || port == 0 || port > 65535 || portText.size() > 5)
            return std::nullopt;
        server.port = uint16_t(port);
    }
    return server;
}

} // namespace cfb
