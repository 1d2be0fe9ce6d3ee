#include "main/cBuddyInfo.h"

#include "messaging/Buddy.h"

namespace cfb::client {

cBuddyInfo::~cBuddyInfo()
{
    if (buddyForm_) {
        buddyForm_->close();
        buddyForm_->deleteLater();
    }
}

} // namespace cfb::client
