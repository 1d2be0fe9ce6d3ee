#pragma once

#include <QRgb>
#include <QString>

#include <memory>

namespace cfb {
class Confabo;
}

class ServiceProcess;

// The settings store of a desktop client under test: signed in at start as `handle` (password
// "pw-" + handle) against the test's service, no first-run welcome, presence looked up at every
// poll, speech as asked, and the other users' library objects in the same store left unbound.
namespace ClientProfile {

QString password(const QString& handle);
void write(const ServiceProcess& service, const QString& handle, bool speech = false);
// Registers `handle` (e-mail handle@example.org, the password above) with a 45 x 60 avatar of one
// colour, saved in `folder`; nullptr when the picture cannot be saved or the service refuses.
std::unique_ptr<cfb::Confabo> registerUser(const QString& folder, const QString& handle, QRgb colour);

} // namespace ClientProfile
