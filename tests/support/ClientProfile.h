#pragma once

#include <QString>

class ServiceProcess;

// The settings store of a desktop client under test: signed in at start as `handle` (password
// "pw-" + handle) against the test's service, no first-run welcome, presence looked up at every
// poll, speech as asked, and the other users' library objects in the same store left unbound.
namespace ClientProfile {

QString password(const QString& handle);
void write(const ServiceProcess& service, const QString& handle, bool speech = false);

} // namespace ClientProfile
