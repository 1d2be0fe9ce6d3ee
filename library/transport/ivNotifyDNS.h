#pragma once

#include <QString>
#include <cstdint>

namespace cfb {

// Receives the outcome of an ivDNS look-up. Only DNSSingleJobDone is ever called.
class ivNotifyDNS {
public:
    virtual ~ivNotifyDNS() = default;
    virtual void DNSSingleJobDone(int32_t& jhWnd, QString& phName, QString& hName, QString& hAlias, QString& hIP,
        bool& rCancelled, bool& rError, int32_t& rErrorCode, QString& rErrorDescription)
        = 0;
    virtual void DNSJobDone(int32_t& jhWnd, QString& phName, QString& hName, QString& hAlias, QString& hIP,
        bool& rCancelled, bool& rError, int32_t& rErrorCode, QString& rErrorDescription)
        = 0;
};

} // namespace cfb
