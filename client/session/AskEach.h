#pragma once

#include "session/ClientSession.h"

#include <QStringList>

#include <functional>

namespace cfb::client {

// ClientSession::askFrom() for each handle in turn, the next once the one before has been
// answered: work says whether the service took it, answered hears of it. An error ends the run.
inline void askEachFrom(ClientSession& session, const char* what, QWidget* control, QStringList handles,
    std::function<bool(cfb::Confabo&, const QString&)> work, std::function<void(const QString&, bool)> answered)
{
    if (handles.isEmpty())
        return;
    const QString handle = handles.takeFirst();
    session.askFrom<bool>(
        what, control, [work, handle](cfb::Confabo& service) { return work(service, handle); },
        [&session, what, control, handles, work, answered, handle](bool took) {
            answered(handle, took);
            askEachFrom(session, what, control, handles, work, answered);
        });
}

} // namespace cfb::client
