#pragma once

#include <QString>

#include <cstdint>

namespace cfb::client {

// One file on its way to or from a buddy, as the windows show it.
struct FileTransfer {
    uint32_t id = 0;
    QString handle; // the buddy
    QString name;
    qint64 size = 0;
    qint64 done = 0;
    bool incoming = false;
    bool picture = false;
    QString path; // where it is read from, or saved to once accepted
};

} // namespace cfb::client
