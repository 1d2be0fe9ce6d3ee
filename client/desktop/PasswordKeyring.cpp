#include "desktop/PasswordKeyring.h"

namespace cfb::client {
namespace {

PasswordKeyring* installed = nullptr;

} // namespace

PasswordKeyring* PasswordKeyring::current()
{
    return installed;
}

void PasswordKeyring::install(PasswordKeyring* keyring)
{
    installed = keyring;
}

} // namespace cfb::client
