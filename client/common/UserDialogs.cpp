#include "common/UserDialogs.h"

namespace cfb::client {
namespace {

UserDialogs* installed = nullptr;

} // namespace

// Defined beside the Qt implementation.
UserDialogs& qtUserDialogs();

UserDialogs& UserDialogs::current()
{
    return installed ? *installed : qtUserDialogs();
}

void UserDialogs::install(UserDialogs* dialogs)
{
    installed = dialogs;
}

} // namespace cfb::client
