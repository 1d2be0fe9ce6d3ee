#pragma once

#include "common/modMain.h"
#include "messaging/ConfaboError.h"

#include <QString>

#include <exception>
#include <utility>

namespace cfb::client {

// Runs one routine of a window under the client's local error handler: an error it raises goes to
// the event log (and, with "Display Errors" on, a message box) and the routine ends there.
template <typename Routine> void withErrorReport(const char* routine, Routine&& body)
{
    try {
        std::forward<Routine>(body)();
    } catch (const cfb::ConfaboError& e) {
        modMain::ReportError(
            QStringLiteral("%1: %2 (error %3)").arg(QLatin1String(routine), e.description()).arg(e.number()),
            modMain::EventError, true);
    } catch (const std::exception& e) {
        modMain::ReportError(QStringLiteral("%1: %2").arg(QLatin1String(routine), QString::fromLocal8Bit(e.what())),
            modMain::EventError, true);
    }
}

} // namespace cfb::client
