#include "platform/UserNotice.h"

#include <cstdio>

namespace cfb {
namespace {

thread_local UserNotice::Handler currentHandler;

} // namespace

UserNotice::Handler UserNotice::setHandler(Handler handler)
{
    Handler previous = std::move(currentHandler);
    currentHandler = std::move(handler);
    return previous;
}

void UserNotice::show(const QString& text, const QString& caption)
{
    if (currentHandler) {
        currentHandler(text, caption);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", qUtf8Printable(caption), qUtf8Printable(text));
}

} // namespace cfb
