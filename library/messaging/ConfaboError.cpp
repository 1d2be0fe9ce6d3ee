#include "messaging/ConfaboError.h"

namespace cfb {

ConfaboError::ConfaboError(int number, const QString& description)
    : std::runtime_error(description.toStdString())
    , number_(number)
    , description_(description)
{
}

ConfaboError ConfaboError::typeMismatch(const QString& what)
{
    return ConfaboError(TypeMismatch, QStringLiteral("Type mismatch: %1").arg(what));
}

ConfaboError ConfaboError::missingElement(const QString& path)
{
    return ConfaboError(ObjectNotSet, QStringLiteral("The service reply has no element %1").arg(path));
}

} // namespace cfb
