#pragma once

#include <QString>

#include <functional>

namespace cfb {

// The library shows no window. Text that must reach the user (the service's sign-in message, a
// bitmap that cannot be loaded) goes through this one callback, which the client turns into a
// modal message box; show() returns only after the handler returned. Without a handler the
// text goes to standard error.
class UserNotice {
public:
    using Handler = std::function<void(const QString& text, const QString& caption)>;

    // Installs the handler for the calling thread and returns the previous one.
    static Handler setHandler(Handler handler);
    static void show(const QString& text, const QString& caption = QStringLiteral("Confabo"));
};

} // namespace cfb
