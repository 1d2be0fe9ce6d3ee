#include "messaging/TlsFailure.h"

namespace cfb {
namespace {

// The verification results libcurl's OpenSSL backend reports (OpenSSL's X509_V_ERR_* values).
// libcurl holds 1 (unspecified) until it has read the chain's result, which it does after its own
// name check; the chain itself is checked during the handshake, whose failure reports its result.
enum OpenSslVerifyResult : long {
    VerifyOk = 0,
    NotYetRead = 1,
    UnableToGetIssuerCert = 2,
    CertNotYetValid = 9,
    CertHasExpired = 10,
    DepthZeroSelfSignedCert = 18,
    SelfSignedCertInChain = 19,
    UnableToGetIssuerCertLocally = 20,
    UnableToVerifyLeafSignature = 21,
    CertRevoked = 23,
    CertUntrusted = 27,
    HostnameMismatch = 62,
    IpAddressMismatch = 64,
};

bool backendIsOpenSsl()
{
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    return info && info->ssl_version && QByteArray(info->ssl_version).startsWith("OpenSSL");
}

QString refusedCertificate(CURL* curl, const QString& curlText, const ServiceAddress& address)
{
    long verifyResult = VerifyOk;
    if (!backendIsOpenSsl() || curl_easy_getinfo(curl, CURLINFO_SSL_VERIFYRESULT, &verifyResult) != CURLE_OK)
        return QStringLiteral("certificate refused (%1)").arg(curlText);
    switch (verifyResult) {
    case CertHasExpired:
        return QStringLiteral("certificate expired: the service's certificate is out of date (or this computer's "
                              "clock is wrong)");
    case CertNotYetValid:
        return QStringLiteral("certificate not yet valid: the service's certificate starts later (or this "
                              "computer's clock is wrong)");
    case UnableToGetIssuerCert:
    case UnableToGetIssuerCertLocally:
    case UnableToVerifyLeafSignature:
    case DepthZeroSelfSignedCert:
    case SelfSignedCertInChain:
    case CertUntrusted:
        return QStringLiteral("unknown certificate authority: no authority this computer trusts signed the "
                              "service's certificate (a private one goes into the \"CA File\" setting)");
    case CertRevoked:
        return QStringLiteral("certificate revoked: the service's certificate has been withdrawn");
    case VerifyOk:
    case NotYetRead: // the chain passed; libcurl's name check failed
    case HostnameMismatch:
    case IpAddressMismatch:
        return QStringLiteral("name does not match: the service's certificate is not made out to %1").arg(address.host);
    default:
        return QStringLiteral("certificate refused (%1)").arg(curlText);
    }
}

} // namespace

QString describeTlsFailure(
    CURL* curl, CURLcode result, const QString& curlText, const ServiceAddress& address, const QString& caFile)
{
    switch (result) {
    case CURLE_PEER_FAILED_VERIFICATION:
        return refusedCertificate(curl, curlText, address);
    case CURLE_SSL_CACERT_BADFILE:
        return QStringLiteral("cannot read the \"CA File\" %1 (%2)").arg(caFile, curlText);
    case CURLE_SSL_CONNECT_ERROR:
        return QStringLiteral("no secure connection could be made (%1)").arg(curlText);
    default:
        return {};
    }
}

} // namespace cfb
