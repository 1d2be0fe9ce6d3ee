#include "CliSession.h"

#include "CliHistory.h"
#include "CliOptions.h"
#include "JsonLines.h"

#include "audio/CallSession.h"
#include "messaging/ConfaboError.h"
#include "messaging/modINET.h"
#include "platform/Settings.h"
#include "platform/UserNotice.h"
#include "protocol/SkipJack.h"
#include "transport/PortMapper.h"
#include "transport/ivUDP.h"
#include "transport/vWinsock.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>

#include <QStandardPaths>

#include <cstdio>
#include <limits>

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

QJsonObject buddyJson(Buddy& buddy, bool lookUp, Confabo* confabo = nullptr)
{
    QJsonObject o{{"handle", buddy.handle()}, {"email", buddy.Email()}, {"user_id", buddy.BuddyUserID()},
        {"buddy_id", buddy.BuddyID()}};
    if (lookUp) {
        o.insert("status", statusName(buddy.Status()));
        o.insert("ip", buddy.IPAddress());
        if (const auto six = buddy.knownAddress6())
            o.insert("ip6", vWinsock::IPv6Text(*six));
        // How the conversation goes: "direct", "direct over IPv6" or "through the relay" ("" before
        // anything came back).
        if (confabo)
            o.insert("path", confabo->PathTo(buddy.handle()));
    }
    return o;
}

} // namespace

CliSession::CliSession()
    : confabo_(std::make_unique<Confabo>())
{
    connect(confabo_.get(), &Confabo::NewMessage, this,
        [this](QString& from, QString& email, int16_t& videoPort, QString& text) {
            QJsonObject event{{"event", "message"}, {"from", from}, {"email", email}, {"video_port", videoPort},
                {"text", text}, {"secure", confabo_->arrivalIsSecure()}};
            // A line that waited in the mailbox says so, and when it was written.
            if (confabo_->arrivalIsQueued()) {
                event.insert("queued", true);
                event.insert("time", confabo_->arrivalWritten().toUTC().toString(Qt::ISODateWithMs));
            }
            writeJsonLine(event);
            if (history_)
                history_->received(from, text, confabo_->arrivalIsSecure(), confabo_->Buddies()->Item(from) != nullptr,
                    confabo_->arrivalId());
        });
    connect(confabo_.get(), &Confabo::VideoFrameBytes, this,
        [this](QString&, QByteArray& frame) { lastFrameBytes_ = frame.size(); });
    connect(confabo_.get(), &Confabo::VideoFrame, this, [this](QString& from, QImage& picture) {
        writeJsonLine({{"event", "frame"}, {"from", from}, {"bytes", qint64(lastFrameBytes_)},
            {"width", picture.width()}, {"height", picture.height()}, {"secure", confabo_->arrivalIsSecure()}});
    });
    connect(confabo_.get(), &Confabo::KeyChanged, this, [](const QString& handle, bool verified) {
        writeJsonLine({{"event", "key_changed"}, {"handle", handle}, {"verified", verified}});
    });
    connect(confabo_.get(), &Confabo::LineDelivered, this, [this](const QString& handle, uint64_t id) {
        writeJsonLine({{"event", "delivered"}, {"id", qint64(id)}, {"to", handle}});
        if (history_)
            history_->delivered(id, true);
    });
    connect(confabo_.get(), &Confabo::LineNotDelivered, this, [this](const QString& handle, uint64_t id) {
        writeJsonLine({{"event", "not_delivered"}, {"id", qint64(id)}, {"to", handle}});
        if (history_)
            history_->delivered(id, false);
    });
    connect(confabo_.get(), &Confabo::LineQueued, this, [this](const QString& handle, uint64_t id) {
        if (history_)
            history_->queued(id);
        writeJsonLine({{"event", "queued"}, {"id", qint64(id)}, {"to", handle}});
    });
    connect(confabo_.get(), &Confabo::LineRefused, this, [](const QString& handle, uint64_t id, const QString& reason) {
        writeJsonLine({{"event", "not_delivered"}, {"id", qint64(id)}, {"to", handle}, {"reason", reason}});
    });
    connect(confabo_.get(), &Confabo::PlainRefused, this, [](const QString& handle) {
        writeJsonLine({{"event", "plain_refused"}, {"handle", handle},
            {"message",
                QStringLiteral("%1 had a security key and now has none: their unencrypted messages are refused "
                               "(\"forget-key %1\" accepts them)")
                    .arg(handle)}});
    });
    connect(confabo_.get(), &Confabo::ForgedSendersDropped, this, [](int count) {
        writeJsonLine({{"event", "dropped_forged"}, {"count", count}});
    });
    connect(confabo_.get(), &Confabo::FileOffered, this,
        [this](const QString& handle, uint32_t id, const QString& name, qint64 size, bool picture) {
            writeJsonLine({{"event", "file_offer"}, {"from", handle}, {"id", qint64(id)}, {"name", name},
                {"bytes", size}, {"picture", picture}});
            acceptFile(handle, id, name);
        });
    connect(confabo_.get(), &Confabo::FileProgress, this,
        [](const QString& handle, uint32_t id, bool incoming, qint64 done, qint64 total) {
            writeJsonLine({{"event", "file_progress"}, {"id", qint64(id)}, {"with", handle}, {"incoming", incoming},
                {"done", done}, {"total", total}});
        });
    connect(confabo_.get(), &Confabo::FileFinished, this,
        [](const QString& handle, uint32_t id, bool incoming, const QString& path, const QString& sha256) {
            const qint64 bytes = QFileInfo(path).size();
            if (incoming)
                writeJsonLine({{"event", "file"}, {"from", handle}, {"id", qint64(id)}, {"name", QFileInfo(path).fileName()},
                    {"path", path}, {"bytes", bytes}, {"sha256", sha256}});
            else
                writeJsonLine({{"event", "file_sent"}, {"to", handle}, {"id", qint64(id)}, {"bytes", bytes}, {"sha256", sha256}});
        });
    connect(confabo_.get(), &Confabo::FileFailed, this,
        [](const QString& handle, uint32_t id, bool incoming, const QString& reason) {
            writeJsonLine({{"event", "file_failed"}, {"id", qint64(id)}, {"with", handle}, {"incoming", incoming},
                {"message", reason}});
        });
    // The relayed address goes to the service, whose presence tells it to the buddies.
    connect(confabo_.get(), &Confabo::RelayAddressChanged, this, [this](const QString& address) {
        const bool ok = confabo_->PublishRelayAddress(address);
        writeJsonLine({{"event", "relay"}, {"address", address}, {"published", ok}});
    });
    connectCalls();
    connect(&buddyPoll_, &QTimer::timeout, this, &CliSession::pollBuddies);
    // The service's notices (a welcome on the first sign-in) are events like any other.
    UserNotice::setHandler([](const QString& text, const QString&) {
        writeJsonLine({{"event", "notice"}, {"text", text}});
    });
}

void CliSession::connectCalls()
{
    CallSession* calls = confabo_->calls();
    if (!calls)
        return;
    // The microphone is a file (or silence) and the loudspeaker another: nothing played comes back
    // into the microphone, so there is no echo to cancel and the sound goes as the file has it.
    calls->setEchoCancellation(false);
    connect(confabo_.get(), &Confabo::CallIncoming, this,
        [](const QString& handle) { writeJsonLine({{"event", "call"}, {"from", handle}}); });
    connect(confabo_.get(), &Confabo::CallStarted, this, [this](const QString& handle) {
        callAudio_.callStarted();
        writeJsonLine({{"event", "call_started"}, {"with", handle},
            {"time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)}});
    });
    // The recording is there by the time a reader sees the event.
    connect(confabo_.get(), &Confabo::CallEnded, this, [this](const QString& handle, const QString& reason) {
        QString error;
        if (!callAudio_.callEnded(error))
            reportError(QStringLiteral("audio-out"), error);
        writeJsonLine({{"event", "call_ended"}, {"with", handle}, {"reason", reason}});
    });
}

bool CliSession::setCallOptions(const CliOptions& options, QString& error)
{
    if (options.has("audio-in") && !callAudio_.setInput(options.value("audio-in"), error))
        return false;
    if (options.has("audio-out") && !callAudio_.setOutput(options.value("audio-out"), error))
        return false;
    if (options.has("ring-seconds")) {
        const auto seconds = parseNumber(options.value("ring-seconds"), 1, 600);
        if (!seconds) {
            error = QStringLiteral("--ring-seconds must be a number from 1 to 600");
            return false;
        }
        if (confabo_->calls())
            confabo_->calls()->setRingMs(*seconds * 1000);
    }
    if (confabo_->calls())
        callAudio_.attach(*confabo_->calls());
    return true;
}

bool CliSession::signIn(const CliOptions& options)
{
    // Without a usable key file this client talks only in the plain format: say why, once.
    if (!confabo_->hasIdentity())
        writeJsonLine({{"event", "error"}, {"command", "identity"}, {"message", confabo_->identityProblem()}});
    downloads_ = options.has(QStringLiteral("downloads"))
        ? options.value("downloads")
        : QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
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
    // Without a usable history file the session goes on, keeping nothing: say why, once.
    history_ = std::make_unique<CliHistory>(options.value("history", HistoryStore::defaultPath()));
    if (!history_->isOpen())
        writeJsonLine({{"event", "error"}, {"command", "history"}, {"message", history_->problem()}});
    // A line kept already (shown before a restart, its receipt lost) is not shown again.
    confabo_->setShownBefore(
        [this](const QString& from, uint64_t id) { return history_ && history_->seen(from, id); });

    QJsonArray buddies;
    for (const auto& buddy : *confabo_->Buddies())
        buddies.append(buddyJson(*buddy, false));
    writeJsonLine({{"event", "signed_in"}, {"handle", confabo_->handle()}, {"user_id", confabo_->userID()},
        {"email", confabo_->Email()}, {"status", statusName(confabo_->Status())}, {"buddies", buddies}});
    reportUnboundDataPort();
    startPortMapping();
    pollBuddies();
    buddyPoll_.start(qMax(1, Settings::PollingInterval.read().toInt()) * 1000);
    return true;
}

CliSession::~CliSession() = default;

void CliSession::startPortMapping()
{
    ivUDP* socket = confabo_->wsReceive();
    if (confabo_->blocksAllData() || !socket || socket->State() != sckUDPListening)
        return;
    mapper_ = std::make_unique<PortMapper>();
    // A plain line, for people and scripts watching the session.
    // Over IPv6 nothing translates addresses: the line names the address buddies with IPv6 use.
    const QString six = socket->takesIPv6() ? Confabo::ownIPv6Address() : QString();
    connect(mapper_.get(), &PortMapper::reachabilityChanged, this, [six](const Reachability& now) {
        if (now.kind == Reachability::Unknown)
            return;
        const QString ipv6 = six.isEmpty() ? QString() : QStringLiteral("; IPv6 direct at %1").arg(six);
        std::printf("Reachability: %s%s\n", qUtf8Printable(now.text()), qUtf8Printable(ipv6));
        std::fflush(stdout);
    });
    mapper_->map(uint16_t(socket->LocalPort().toInt()), Settings::MapDataPort.read().trimmed() != QLatin1String("0"));
}

void CliSession::pollBuddies()
{
    if (signedOut_)
        return;
    if (confabo_->relayCredentialsDue() && !confabo_->RefreshRelayCredentials())
        reportError(QStringLiteral("relay"), QStringLiteral("the service gave no new relay credentials"));
    for (const auto& buddy : *confabo_->Buddies()) {
        try {
            if (buddy->Status() != CFB_OFFLINE)
                buddy->IPAddress();
        } catch (const ConfaboError& e) {
            reportError(QStringLiteral("poll"), e.description());
        }
    }
}

// A receiving socket that could not be bound hears nothing: say so at once, with the way out.
void CliSession::reportUnboundDataPort()
{
    ivUDP* socket = confabo_->wsReceive();
    if (confabo_->blocksAllData() || (socket && socket->State() == sckUDPListening))
        return;
    const int32_t code = socket ? socket->LastErrorCode() : 0;
    QString reason = socket ? socket->LastErrorString() : QString();
    if (reason.isEmpty())
        reason = QStringLiteral("the socket is not bound");
    // Another client at this address holds the port: a second user of this machine takes another
    // address. Otherwise the port is most likely below 1024 without the privilege to bind it.
    const QString way = code == vWinsock::WSAEADDRINUSE
        ? QStringLiteral("A second user on this machine binds it at another address (--data-address 127.0.0.2).")
        : QStringLiteral("Choose one data port of 1024 or above (--data-port N), the same for every buddy, or give "
                         "the program the capability to bind it (setcap cap_net_bind_service=+ep).");
    writeJsonLine({{"event", "error"}, {"command", "data_port"}, {"port", ownDataPort()}, {"code", code},
        {"message",
            QStringLiteral("cannot receive on data port %1: %2. Messages and video will not arrive. %3")
                .arg(ownDataPort())
                .arg(reason, way)}});
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
            commandSend(line);
        } else if (command == QLatin1String("frame")) {
            commandFrame(line);
        } else if (command == QLatin1String("file")) {
            commandFile(line);
        } else if (command == QLatin1String("cancel")) {
            commandCancel(words);
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
        } else if (command == QLatin1String("safety")) {
            commandSafety(words);
        } else if (command == QLatin1String("verify") || command == QLatin1String("forget-key")) {
            commandKey(words);
        } else if (command == QLatin1String("call")) {
            commandCall(words);
        } else if (command == QLatin1String("answer") || command == QLatin1String("decline")
            || command == QLatin1String("hangup")) {
            commandCallAction(command);
        } else if (command == QLatin1String("history") && history_) {
            history_->command(words);
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
    buddyPoll_.stop();
    mapper_.reset(); // the router forgets the mapping
    confabo_->Logout();
    confabo_->CleanUp();
    writeJsonLine({{"event", "signed_out"}});
}

int16_t CliSession::ownDataPort() const
{
    const auto port = parseNumber(Settings::DataPort.read(), 1, 32767);
    return int16_t(port.value_or(80));
}

bool CliSession::peerArguments(
    const QString& command, const QString& line, int16_t& port, QString& handle, QString& rest)
{
    // The rest of the line is kept as typed, spaces and all.
    QString remaining = line.trimmed().mid(command.size()).trimmed();
    const auto takeWord = [&remaining]() {
        const qsizetype space = remaining.indexOf(QRegularExpression(QStringLiteral("\\s")));
        const QString word = space < 0 ? remaining : remaining.left(space);
        remaining = space < 0 ? QString() : remaining.mid(space).trimmed();
        return word;
    };
    port = ownDataPort();
    QString word = takeWord();
    if (word == QLatin1String("--port")) {
        const auto number = parseNumber(takeWord(), 1, 32767);
        if (!number) {
            reportError(command, QStringLiteral("--port must be a number from 1 to 32767"));
            return false;
        }
        port = int16_t(*number);
        word = takeWord();
    }
    handle = word;
    rest = remaining;
    if (handle.isEmpty() || rest.isEmpty()) {
        reportError(command,
            command == QLatin1String("send")   ? QStringLiteral("usage: send [--port N] HANDLE TEXT...")
                : command == QLatin1String("file") ? QStringLiteral("usage: file [--port N] HANDLE PATH")
                                                   : QStringLiteral("usage: frame [--port N] HANDLE FILE"));
        return false;
    }
    return true;
}

std::shared_ptr<Buddy> CliSession::buddyOrStranger(const QString& handle)
{
    if (auto buddy = confabo_->Buddies()->Item(handle))
        return buddy;
    auto stranger = std::make_shared<Buddy>();
    if (!stranger->LoadByHandle(handle))
        return nullptr;
    return stranger;
}

void CliSession::commandSend(const QString& line)
{
    int16_t port = 0;
    QString handle, text;
    if (!peerArguments(QStringLiteral("send"), line, port, handle, text))
        return;
    // Like the desktop client, this client's one data port is also its video port.
    const bool ok = confabo_->SendMessage(handle, text, ownDataPort(), port);
    // Over the encrypted channel a line has an id, and a receipt (or its absence) follows.
    // To an offline buddy it waits in their mailbox: "queued", then "delivered" once they took it.
    QJsonObject result{{"result", "send"}, {"ok", ok}, {"to", handle}, {"id", qint64(confabo_->lastLineId())},
        {"secure", confabo_->security(handle) == PeerSecurity::Encrypted}};
    if (confabo_->lastLineQueued())
        result.insert("queued", true);
    writeJsonLine(result);
    if (history_)
        history_->sent(confabo_->handle(), handle, text, ok, confabo_->lastLineId(), confabo_->lastLineId() != 0);
}

void CliSession::commandFrame(const QString& line)
{
    int16_t port = 0;
    QString handle, path;
    if (!peerArguments(QStringLiteral("frame"), line, port, handle, path))
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reportError(QStringLiteral("frame"), QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return;
    }
    const QByteArray bytes = file.readAll();
    const auto buddy = buddyOrStranger(handle);
    const bool ok = buddy && buddy->SendFrame(bytes, confabo_->handle(), port);
    writeJsonLine({{"result", "frame"}, {"ok", ok}, {"to", handle}, {"bytes", qint64(bytes.size())}});
}

void CliSession::commandFile(const QString& line)
{
    int16_t port = 0;
    QString handle, path;
    if (!peerArguments(QStringLiteral("file"), line, port, handle, path))
        return;
    QString error;
    const uint32_t id = confabo_->SendFile(handle, path, false, port, error);
    QJsonObject result {{"result", "file"}, {"ok", id != 0}, {"to", handle}, {"id", qint64(id)},
        {"bytes", QFileInfo(path).size()}};
    if (id == 0)
        result.insert("message", error);
    writeJsonLine(result);
}

void CliSession::commandCancel(const QStringList& words)
{
    const auto id = words.size() == 2 ? parseNumber(words[1], 1, std::numeric_limits<int>::max()) : std::nullopt;
    if (!id) {
        reportError(words.first(), QStringLiteral("usage: cancel ID (the id of a file's transfer)"));
        return;
    }
    confabo_->CancelFile(uint32_t(*id));
    writeJsonLine({{"result", "cancel"}, {"ok", true}, {"id", *id}});
}

void CliSession::acceptFile(const QString& handle, uint32_t id, const QString& name)
{
    const QDir folder(downloads_);
    if (!folder.exists() && !QDir().mkpath(downloads_)) {
        confabo_->DeclineFile(id);
        writeJsonLine({{"event", "file_failed"}, {"id", qint64(id)}, {"with", handle}, {"incoming", true},
            {"message", QStringLiteral("cannot make the folder %1").arg(downloads_)}});
        return;
    }
    // "name.ext", then "name (2).ext" and so on: nothing that is there is overwritten.
    const QFileInfo info(name);
    const QString base = info.completeBaseName();
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    QString path = folder.filePath(name);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder.filePath(QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(suffix));
    QString error;
    if (!confabo_->AcceptFile(id, path, error)) {
        confabo_->DeclineFile(id);
        writeJsonLine({{"event", "file_failed"}, {"id", qint64(id)}, {"with", handle}, {"incoming", true}, {"message", error}});
    }
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
    // The presence as it is now: a lookup that fails is an error, never the value seen before.
    ServiceChannel& channel = ServiceChannel::current();
    QJsonArray list;
    for (const auto& buddy : *confabo_->Buddies()) {
        buddy->forgetLookups();
        channel.lastFailure.clear();
        QJsonObject entry = buddyJson(*buddy, true, confabo_.get());
        if (!channel.lastFailure.isEmpty()) {
            reportError(QStringLiteral("buddies"),
                QStringLiteral("cannot reach the service at %1: %2").arg(channel.server, channel.lastFailure));
            return;
        }
        list.append(entry);
    }
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

void CliSession::commandSafety(const QStringList& words)
{
    if (words.size() != 2) {
        reportError(words.first(), QStringLiteral("usage: safety HANDLE"));
        return;
    }
    const QString number = confabo_->safetyNumber(words[1]);
    QJsonObject result{{"result", "safety"}, {"handle", words[1]}, {"ok", !number.isEmpty()}};
    if (number.isEmpty())
        result.insert("message", QStringLiteral("%1 has no security key: messages to them are not encrypted").arg(words[1]));
    else
        result.insert("number", number), result.insert("verified", confabo_->isVerified(words[1]));
    writeJsonLine(result);
}

void CliSession::commandKey(const QStringList& words)
{
    if (words.size() != 2) {
        reportError(words.first(), QStringLiteral("usage: %1 HANDLE").arg(words.first()));
        return;
    }
    if (words.first() == QLatin1String("verify")) {
        const bool ok = !confabo_->safetyNumber(words[1]).isEmpty();
        if (ok)
            confabo_->setVerified(words[1], true);
        writeJsonLine({{"result", "verify"}, {"ok", ok}, {"handle", words[1]}});
    } else {
        confabo_->forgetKey(words[1]);
        writeJsonLine({{"result", "forget-key"}, {"ok", true}, {"handle", words[1]}});
    }
}

void CliSession::commandCall(const QStringList& words)
{
    int16_t port = ownDataPort();
    QString handle = words.value(1);
    if (words.size() == 4 && words[1] == QLatin1String("--port")) {
        const auto number = parseNumber(words[2], 1, 32767);
        if (!number) {
            reportError(words.first(), QStringLiteral("--port must be a number from 1 to 32767"));
            return;
        }
        port = int16_t(*number);
        handle = words[3];
    } else if (words.size() != 2) {
        reportError(words.first(), QStringLiteral("usage: call [--port N] HANDLE"));
        return;
    }
    QString error;
    const bool ok = confabo_->Call(handle, port, error);
    QJsonObject result{{"result", "call"}, {"ok", ok}, {"to", handle}};
    if (!ok)
        result.insert("message", error);
    writeJsonLine(result);
}

void CliSession::commandCallAction(const QString& command)
{
    const CallSession* calls = confabo_->calls();
    const QString peer = calls ? calls->peer() : QString();
    bool ok = false;
    if (command == QLatin1String("answer"))
        ok = confabo_->Answer();
    else if (command == QLatin1String("decline"))
        ok = confabo_->Decline();
    else
        ok = confabo_->Hangup();
    QJsonObject result{{"result", command}, {"ok", ok}};
    if (ok)
        result.insert("with", peer);
    else
        result.insert("message",
            command == QLatin1String("hangup") ? QStringLiteral("no call is on")
                                               : QStringLiteral("no call is ringing"));
    writeJsonLine(result);
}
