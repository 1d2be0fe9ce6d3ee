#include "history/HistoryLine.h"

namespace cfb {

QString HistoryLine::deliveryName(HistoryDelivery delivery)
{
    switch (delivery) {
    case HistoryDelivery::Received:
        return QStringLiteral("received");
    case HistoryDelivery::Sent:
        return QStringLiteral("sent");
    case HistoryDelivery::Pending:
        return QStringLiteral("pending");
    case HistoryDelivery::Delivered:
        return QStringLiteral("delivered");
    case HistoryDelivery::NotDelivered:
        return QStringLiteral("not_delivered");
    case HistoryDelivery::Queued:
        return QStringLiteral("queued");
    }
    return QStringLiteral("sent");
}

HistoryDelivery HistoryLine::deliveryFromNumber(int number)
{
    if (number < int(HistoryDelivery::Received) || number > int(HistoryDelivery::Queued))
        return HistoryDelivery::Sent;
    return HistoryDelivery(number);
}

} // namespace cfb
