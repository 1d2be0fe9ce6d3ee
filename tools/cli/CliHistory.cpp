#include "CliHistory.h"

#include "CliOptions.h"
#include "JsonLines.h"

#include <QDateTime>
#include <QJsonArray>

using cfb::HistoryDelivery;
using cfb::HistoryLine;

CliHistory::CliHistory(const QString& path)
    : store_(path)
{
}

void CliHistory::sent(
    const QString& ownHandle, const QString& to, const QString& text, bool went, uint64_t lineId, bool secure)
{
    writtenTo_.insert(to.toCaseFolded());
    HistoryLine line;
    line.buddy = to;
    line.outgoing = true;
    line.sender = ownHandle;
    line.text = text;
    line.secure = went && secure;
    line.delivery = !went ? HistoryDelivery::NotDelivered : lineId ? HistoryDelivery::Pending : HistoryDelivery::Sent;
    line.wireId = went ? lineId : 0;
    const int64_t id = store_.append(line);
    if (id && lineId)
        waiting_.insert(lineId, id);
}

void CliHistory::received(const QString& from, const QString& text, bool secure, bool fromBuddy, uint64_t wireId)
{
    if (!fromBuddy && !writtenTo_.contains(from.toCaseFolded()))
        return;
    HistoryLine line;
    line.buddy = from;
    line.sender = from;
    line.text = text;
    line.secure = secure;
    line.wireId = secure ? wireId : 0;
    store_.append(line);
}

void CliHistory::delivered(uint64_t lineId, bool yes)
{
    const auto found = waiting_.constFind(lineId);
    if (found == waiting_.constEnd())
        return;
    store_.setDelivery(*found, yes ? HistoryDelivery::Delivered : HistoryDelivery::NotDelivered);
    waiting_.erase(found);
}

void CliHistory::queued(uint64_t lineId)
{
    if (const auto found = waiting_.constFind(lineId); found != waiting_.constEnd())
        store_.setDelivery(*found, HistoryDelivery::Queued);
}

void CliHistory::command(const QStringList& words)
{
    const auto count = words.size() == 3 ? parseNumber(words[2], 1, MostShown)
        : words.size() == 2               ? std::optional<int>(DefaultShown)
                                          : std::nullopt;
    if (!count) {
        writeJsonLine({{"event", "error"}, {"command", "history"},
            {"message", QStringLiteral("usage: history HANDLE [N] (N from 1 to %1)").arg(MostShown)}});
        return;
    }
    if (!store_.isOpen()) {
        writeJsonLine({{"event", "error"}, {"command", "history"}, {"message", store_.problem()}});
        return;
    }
    QJsonArray lines;
    for (const HistoryLine& line : store_.last(words[1], *count)) {
        const bool delivered = line.delivery == HistoryDelivery::Received || line.delivery == HistoryDelivery::Delivered;
        lines.append(QJsonObject{
            {"time", QDateTime::fromMSecsSinceEpoch(line.timeMs, Qt::UTC).toString(Qt::ISODateWithMs)},
            {"from", line.sender}, {"text", line.text}, {"direction", line.outgoing ? "out" : "in"},
            {"delivered", delivered}, {"state", HistoryLine::deliveryName(line.delivery)}, {"secure", line.secure}});
    }
    writeJsonLine({{"result", "history"}, {"handle", words[1]}, {"lines", lines}});
}
