// libsecret's GLib headers name struct members "signals", which Qt defines as a keyword.
#pragma push_macro("signals")
#undef signals
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include "desktop/SecretServiceKeyring.h"

#include "common/EventLog.h"

#include <QByteArray>

#include <memory>

namespace cfb::client {
namespace {

const SecretSchema* schema()
{
    static const SecretSchema confabo = {"org.confabo.Password", SECRET_SCHEMA_NONE,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"handle", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    return &confabo;
}

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};

// Says what went wrong in the system log (never the password) and whether anything did.
bool failed(GError* error, const char* what)
{
    if (!error)
        return false;
    const std::unique_ptr<GError, ErrorFree> owned(error);
    EventLog::write(QStringLiteral("The desktop keyring could not %1 the password: %2")
                        .arg(QLatin1String(what), QString::fromUtf8(error->message)),
        EventLog::Warning);
    return true;
}

} // namespace

bool SecretServiceKeyring::available()
{
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    if (error) {
        g_error_free(error);
        return false;
    }
    if (service)
        g_object_unref(service);
    return service != nullptr;
}

std::optional<QString> SecretServiceKeyring::lookup(const QString& service, const QString& handle)
{
    GError* error = nullptr;
    gchar* found = secret_password_lookup_sync(schema(), nullptr, &error, "service", service.toUtf8().constData(),
        "handle", handle.toUtf8().constData(), nullptr);
    if (failed(error, "read"))
        return std::nullopt;
    const QString password = found ? QString::fromUtf8(found) : QString();
    if (found)
        secret_password_free(found);
    return password;
}

bool SecretServiceKeyring::store(const QString& service, const QString& handle, const QString& password)
{
    GError* error = nullptr;
    const QByteArray label = QStringLiteral("Confabo password for %1 at %2").arg(handle, service).toUtf8();
    const gboolean stored = secret_password_store_sync(schema(), SECRET_COLLECTION_DEFAULT, label.constData(),
        password.toUtf8().constData(), nullptr, &error, "service", service.toUtf8().constData(), "handle",
        handle.toUtf8().constData(), nullptr);
    return !failed(error, "keep") && stored;
}

bool SecretServiceKeyring::clear(const QString& service, const QString& handle)
{
    GError* error = nullptr;
    secret_password_clear_sync(schema(), nullptr, &error, "service", service.toUtf8().constData(), "handle",
        handle.toUtf8().constData(), nullptr);
    return !failed(error, "forget");
}

} // namespace cfb::client
