#pragma once

#include "messaging/XmlDocument.h"

#include <QString>

namespace cfb {

// The text of an element an operation must find in a reply: by absolute path, or as the child of
// a list element (a buddy, a user, a blocked user). Its absence raises ConfaboError ObjectNotSet.
QString requiredText(const XmlDocument& reply, const QString& path);
QString requiredText(const XmlElement& parent, const char* childName);

} // namespace cfb
