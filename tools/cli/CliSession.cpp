#include "CliSession.h"

#include "CliOptions.h"
#include "JsonLines.h"

#include "messaging/ConfaboError.h"
#include "messaging/modINET.h"
#include "platform/SettingsStore.h"
#include "startup/SkipJack.h"

#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>

#include <cstdio>

using namespace cfb;

namespace {

QString statusName(Stati status)
{
    switch (status) {
    case CFB_AVAILABLE:
        return QStringLiteral("available");
    case CFB_BUSY:
        return QStringLiteral("busy");
    default:
        return QStringLiteral("offline");
    }
}

void reportError(const QString& command, const QString& message)
{
    writeJsonLine({{"event", "error"}, {"command", command}, {"message", message}});
}

QJsonObject buddyJson(Buddy& buddy, bool lookUp)
{
    QJsonObject o{{"handle", buddy.handle()}, {"email", buddy.Email()}, {"user_id", buddy.BuddyUserID()},
        {"buddy_id", buddy.BuddyID()}};
    if (lookUp) {
        o.insert("status", statusName(buddy.Status()));
        o.insert("ip", buddy.IPAddress());
    }
    return o;
}

} // namespace

CliSession::CliSession()
    : confabo_(std::make_unique<Confabo>())
{
    connect(confabo_.get(), &Confabo::NewMessage, this,
        [](QString& from, QString& email, int16_t& videoPort, QString& text) {
            writeJsonLine(
                {{"event", "message"}, {"from", from}, {"email", email}, {"video_port", videoPort}, {"text", text}});
        });
}

bool CliSession::signIn(const CliOptions& options)
{
    const QString password = SkipJack::EncipherPassword(options.value("password"));
    if (!confabo_->Login(options.value("handle"), password, options.value("hostname"))) {
        const QString failure = ServiceChannel::current().lastFailure;
        if (!failure.isEmpty())
            std::fprintf(stderr, "confabo-cli: cannot reach the service at %s: %s\n",
                qUtf8Printable(ServiceChannel::current().server), qUtf8Printable(failure));
        else
            std::fprintf(stderr, "confabo-cli: the service refused the sign-in of \"%s\"\n",
                qUtf8Printable(options.value("handle")));
        return false;
    }
    if (options.value("status") == QLatin1String("busy"))
        confabo_->SetStatus(CFB_BUSY);

    QJsonArray buddies;
    for (const auto& buddy : *confabo_->Buddies())
        buddies.append(buddyJson(*buddy, false));
    writeJsonLine({{"event", "signed_in"}, {"handle", confabo_->handle()}, {"user_id", confabo_->userID()},
        {"email", confabo_->Email()}, {"status", statusName(confabo_->Status())}, {"buddies", buddies}});
    return true;
}

bool CliSession::handle(const QString& line)
{
    const QStringList words = line.trimmed().split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return true;
    const QString command = words.first();
    try {
        if (command == QLatin1String("quit")) {
            signOut();
            return false;
        } else if (command == QLatin1String("send")) {
            commandSend(words);
        } else if (command == QLatin1String("frame")) {
            commandFrame(words);
        } else if (command == QLatin1String("status")) {
            commandStatus(words);
        } else if (command == QLatin1String("buddies")) {
            commandBuddies();
        } else if (command == QLatin1String("add")) {
            commandAdd(words);
        } else if (command == QLatin1String("remove")) {
            commandRemove(words);
        } else if (command == QLatin1String("block") || command == QLatin1String("unblock")) {
            commandBlock(words, command == QLatin1String("block"));
        } else if (command == QLatin1String("online")) {
            commandOnline();
        } else {
            reportError(command, QStringLiteral("unknown command"));
        }
    } catch (const ConfaboError& e) {
        reportError(command, e.description());
    }
    return true;
}

void CliSession::signOut()
{
    if (signedOut_)
        return;
    signedOut_ = true;
    confabo_->Logout();
    confabo_->CleanUp();
    writeJsonLine({{"event", "signed_out"}});
}

void CliSession::commandSend(const QStringList& words)
{
    reportError(words.first(), QStringLiteral("sending is not available in this build"));
}

void CliSession::commandFrame(const QStringList& words)
{
    reportError(words.first(), QStringLiteral("sending is not available in this build"));
}

void CliSession::commandStatus(const QStringList& words)
{
    if (words.size() != 2 || (words[1] != QLatin1String("available") && words[1] != QLatin1String("busy"))) {
        reportError(words.first(), QStringLiteral("usage: status available|busy"));
        return;
    }
    const bool ok = confabo_->SetStatus(words[1] == QLatin1String("busy") ? CFB_BUSY : CFB_AVAILABLE);
    writeJsonLine({{"result", "status"}, {"ok", ok}, {"status", statusName(confabo_->Status())}});
}

void CliSession::commandBuddies()
{
    QJsonArray list;
    for (const auto& buddy : *confabo_->Buddies())
        list.append(buddyJson(*buddy, true));
    writeJsonLine({{"result", "buddies"}, {"buddies", list}});
}

void CliSession::commandAdd(const QStringList& words)
{
    if (words.size() != 2) {
        reportError(words.first(), QStringLiteral("usage: add EMAIL_OR_HANDLE"));
        return;
    }
    const int before = confabo_->Buddies()->Count();
    const QString handle = confabo_->AddBuddy(words[1]);
    writeJsonLine({{"result", "add"}, {"ok", !handle.isEmpty()}, {"handle", handle},
        {"added", confabo_->Buddies()->Count() > before}});
}

void CliSession::commandRemove(const QStringList& words)
{
    if (words.size() != 2) {
        reportError(words.first(), QStringLiteral("usage: remove HANDLE"));
        return;
    }
    const auto buddy = confabo_->Buddies()->Item(words[1]);
    if (!buddy) {
        reportError(words.first(), QStringLiteral("\"%1\" is not a buddy").arg(words[1]));
        return;
    }
    const bool ok = buddy->Remove();
    if (ok)
        confabo_->Buddies()->Remove(words[1]);
    writeJsonLine({{"result", "remove"}, {"ok", ok}, {"handle", buddy->handle()}});
}

void CliSession::commandBlock(const QStringList& words, bool block)
{
    if (words.size() != 2) {
        reportError(words.first(), QStringLiteral("usage: %1 HANDLE").arg(words.first()));
        return;
    }
    const bool ok = block ? confabo_->BlockUser(words[1]) : confabo_->UnBlockUser(words[1]);
    writeJsonLine({{"result", words.first()}, {"ok", ok}, {"handle", words[1]}});
}

void CliSession::commandOnline()
{
    QJsonArray list;
    if (const auto users = confabo_->AvailableUsers()) {
        for (const auto& user : *users)
            list.append(buddyJson(*user, false));
    }
    writeJsonLine({{"result", "online"}, {"users", list}});
}
