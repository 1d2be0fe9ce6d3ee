#include "messaging/ServiceAddress.h"

#include "protocol/PercentCoding.h"

namespace cfb {
namespace {

ServiceAddress invalid(const QString& setting, const QString& why)
{
    ServiceAddress address;
    address.error = QStringLiteral("the service address \"%1\" %2").arg(setting, why);
    return address;
}

} // namespace

ServiceAddress ServiceAddress::parse(const QString& setting)
{
    ServiceAddress address;
    QString text = setting.trimmed();
    const qsizetype schemeEnd = text.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0) {
        const QString scheme = text.left(schemeEnd).toLower();
        if (scheme == QLatin1String("https"))
            address.secure = true;
        else if (scheme != QLatin1String("http"))
            return invalid(setting, QStringLiteral("must start with https:// or http://, or be a host alone"));
        text = text.mid(schemeEnd + 3);
    }
    if (text.endsWith(u'/'))
        text.chop(1);
    if (text.isEmpty())
        return invalid(setting, QStringLiteral("names no host"));
    if (text.contains(u'/'))
        return invalid(setting, QStringLiteral("holds a path; only a port may follow the host"));

    QString portText;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        const QString rest = close < 0 ? QString() : text.mid(close + 1);
        if (close < 0 || (!rest.isEmpty() && !rest.startsWith(u':')))
            return invalid(setting, QStringLiteral("is no bracketed IPv6 address"));
        address.host = text.left(close + 1);
        portText = rest.mid(1);
    } else if (text.count(u':') == 1) {
        const qsizetype colon = text.indexOf(u':');
        address.host = text.left(colon);
        portText = text.mid(colon + 1);
    } else if (text.contains(u':')) {
        address.host = u'[' + text + u']'; // a bare IPv6 address
    } else {
        address.host = text;
    }
    if (address.host.isEmpty() || address.host == QLatin1String("[]"))
        return invalid(setting, QStringLiteral("names no host"));

    address.port = address.secure ? 443 : 80;
    if (!portText.isEmpty()) {
        bool ok = false;
        const uint number = portText.toUInt(&ok);
        if (!ok || number < 1 || number > 65535 || !portText.front().isDigit())
            return invalid(setting, QStringLiteral("has no port number from 1 to 65535 after the ':'"));
        address.port = uint16_t(number);
    }
    return address;
}

QByteArray ServiceAddress::url(const QString& scriptPath) const
{
    QString path = scriptPath.trimmed();
    if (!path.startsWith(u'/'))
        path.prepend(u'/');
    // The URL parser takes no spaces, controls or raw 8-bit bytes in the path.
    return (secure ? "https://" : "http://") + host.toUtf8() + ':' + QByteArray::number(port)
        + PercentCoding::pathEncoded(path.toUtf8());
}

} // namespace cfb
