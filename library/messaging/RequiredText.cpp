#include "messaging/RequiredText.h"

#include "messaging/ConfaboError.h"

namespace cfb {

QString requiredText(const XmlDocument& reply, const QString& path)
{
    const XmlElement element = reply.selectSingle(path);
    if (!element)
        throw ConfaboError::missingElement(path);
    return element.text();
}

QString requiredText(const XmlElement& parent, const char* childName)
{
    const XmlElement element = parent.selectSingle(QLatin1String(childName));
    if (!element)
        throw ConfaboError::missingElement(parent.name() + u'/' + QLatin1String(childName));
    return element.text();
}

} // namespace cfb
