#pragma once

#include <QString>

namespace cfb::client {

// A size as people read it: "512 bytes", "206 KB", "4.2 MB", "412 MB", "1.6 GB" (1,000-based,
// as file managers show them).
inline QString byteSize(qint64 bytes)
{
    const auto scaled = [](double value, const char* unit) {
        return value < 10 ? QStringLiteral("%1 %2").arg(value, 0, 'f', 1).arg(QLatin1String(unit))
                          : QStringLiteral("%1 %2").arg(qint64(value + 0.5)).arg(QLatin1String(unit));
    };
    if (bytes < 1000)
        return bytes == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1000 * 1000)
        return scaled(double(bytes) / 1e3, "KB");
    if (bytes < 1000 * 1000 * 1000)
        return scaled(double(bytes) / 1e6, "MB");
    return scaled(double(bytes) / 1e9, "GB");
}

} // namespace cfb::client
