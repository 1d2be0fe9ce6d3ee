#pragma once

#include "messaging/ServiceAddress.h"

#include <QString>

#include <curl/curl.h>

namespace cfb {

// Why an https request was refused, in words a user can act on ("certificate expired", "name does
// not match", "unknown certificate authority", ...), or empty when the failure had nothing to do
// with TLS. `curlText` is libcurl's own message, kept where no plainer words fit.
QString describeTlsFailure(
    CURL* curl, CURLcode result, const QString& curlText, const ServiceAddress& address, const QString& caFile);

} // namespace cfb
