#pragma once

#include <QString>

namespace cfb::service::Ipv6Text {

// The address in its compressed form when the text is an IPv6 literal that may stand for a
// user's machine (unicast; not unspecified, loopback, link-local or IPv4-mapped), else empty.
// Names, brackets, zones and ports are not taken.
QString usable(const QString& text);

} // namespace cfb::service::Ipv6Text
