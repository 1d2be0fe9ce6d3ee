#include "messaging/MailboxRequests.h"

#include "messaging/FormRequest.h"

#include <QStringList>

namespace cfb::MailboxRequests {

PutResult put(int32_t userId, const QString& toHandle, const QByteArray& mailId, const QByteArray& sealed)
{
    const XmlDocument reply = FormRequest("MAIL_PUT")
                                  .add("user_id", userId)
                                  .add("handle", toHandle)
                                  .add("mail_id", QString::fromLatin1(mailId))
                                  .add("sealed", QString::fromLatin1(sealed.toBase64()))
                                  .post();
    const XmlElement stored = reply.selectSingle(QStringLiteral("/body/stored"));
    if (!stored)
        return {};
    if (stored.text() == QLatin1String("1"))
        return {PutResult::Stored, {}};
    const XmlElement message = reply.selectSingle(QStringLiteral("/body/message"));
    return {PutResult::Refused, message ? message.text() : QString()};
}

std::optional<Taken> take(int32_t userId)
{
    const XmlDocument reply = FormRequest("MAIL_TAKE").add("user_id", userId).post();
    const XmlElement more = reply.selectSingle(QStringLiteral("/body/more"));
    if (!more)
        return std::nullopt;
    Taken taken;
    taken.more = more.text() == QLatin1String("1");
    for (const XmlElement& mail : reply.elementsByTagName(QStringLiteral("mail"))) {
        const auto child = [&mail](const char* name) {
            const XmlElement element = mail.selectSingle(QLatin1String(name));
            return element ? element.text() : QString();
        };
        Waiting line;
        bool idOk = false, timeOk = false;
        line.id = child("id").toLongLong(&idOk);
        line.from = child("from");
        line.mailId = child("mail_id").toLatin1();
        line.storedAt = child("time").toLongLong(&timeOk);
        const XmlElement sealed = mail.selectSingle(QStringLiteral("sealed"));
        const std::optional<QByteArray> bytes = sealed ? sealed.typedValue() : std::nullopt;
        if (!idOk || line.id <= 0 || !timeOk || line.from.isEmpty() || !bytes)
            continue;
        line.sealed = *bytes;
        taken.lines.append(std::move(line));
    }
    return taken;
}

bool ack(int32_t userId, const QList<int64_t>& ids)
{
    QStringList list;
    for (const int64_t id : ids)
        list.append(QString::number(id));
    return FormRequest("MAIL_ACK").add("user_id", userId).add("ids", list.join(QLatin1Char(','))).post().hasContent();
}

} // namespace cfb::MailboxRequests
