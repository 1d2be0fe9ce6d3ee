#pragma once

#include <QString>
#include <cstdint>

namespace cfb {

// Read-only view of this thread's socket layer. Holds one reference on it while it exists.
class ivWinsockInfo {
public:
    ivWinsockInfo();
    ~ivWinsockInfo();
    ivWinsockInfo(const ivWinsockInfo&) = delete;
    ivWinsockInfo& operator=(const ivWinsockInfo&) = delete;

    bool Usable() const;
    QString Description() const;
    int32_t VersionMajor() const;
    int32_t VersionMinor() const;
    int32_t MaxSockets() const;
    int32_t MaxUDPData() const;
    // Fixed: the name the object model has always given its socket layer.
    static QString Library() { return QStringLiteral("wsock32.dll"); }
    QString MachineName() const;
    QString LocalIPAddress() const;

private:
    bool started_ = false;
};

} // namespace cfb
