#include "channel/FileContent.h"

#include "channel/LittleEndian.h"


#include <algorithm>
#include <cstring>

namespace cfb::FileContent {

using LittleEndian::append;
using LittleEndian::read;

QString safeName(const QString& name)
{
    QString base = name.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    base.removeIf([](QChar c) { return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format; });
    while (base.startsWith(QLatin1Char('.')))
        base.remove(0, 1);
    base = base.trimmed();
    // At most 255 bytes of UTF-8, cut between characters.
    while (base.toUtf8().size() > 255)
        base.chop(base.size() >= 2 && base.at(base.size() - 1).isLowSurrogate() ? 2 : 1);
    return base.isEmpty() ? QStringLiteral("file") : base;
}

std::optional<QByteArray> offer(const OfferFields& fields)
{
    if (fields.size < 0 || fields.size > MaxFileBytes)
        return std::nullopt;
    QByteArray out;
    out += char(Offer);
    append(out, fields.transfer, 4);
    append(out, uint64_t(fields.size), 8);
    out.append(reinterpret_cast<const char*>(fields.sha256.data()), qsizetype(fields.sha256.size()));
    out += char(fields.flags);
    if (!ChannelContent::appendShortText(out, fields.name))
        return std::nullopt;
    return out;
}

QByteArray reply(uint32_t transfer, Answer answer)
{
    QByteArray out;
    out += char(Reply);
    append(out, transfer, 4);
    out += char(answer);
    return out;
}

void data(uint32_t transfer, uint32_t packet, uint32_t sendNumber, QByteArrayView bytes, QByteArray& out)
{
    if (out.capacity() < DataHeader + DataBytes)
        out.reserve(DataHeader + DataBytes);
    out.resize(DataHeader + bytes.size());
    auto* p = reinterpret_cast<uint8_t*>(out.data());
    p[0] = Data;
    LittleEndian::write(p + 1, transfer, 4);
    LittleEndian::write(p + 5, packet, 4);
    LittleEndian::write(p + 9, sendNumber, 4);
    if (!bytes.isEmpty())
        std::memcpy(p + DataHeader, bytes.data(), size_t(bytes.size()));
}

QByteArray ack(const AckFields& fields)
{
    QByteArray out;
    const qsizetype count = std::min<qsizetype>(fields.ranges.size(), MaxAckRanges);
    out += char(Ack);
    append(out, fields.transfer, 4);
    append(out, fields.contiguous, 4);
    append(out, fields.newestSend, 4);
    out += char(uint8_t(count));
    for (qsizetype i = 0; i < count; ++i) {
        append(out, fields.ranges[i].first, 4);
        append(out, fields.ranges[i].end, 4);
    }
    return out;
}

QByteArray cancel(uint32_t transfer)
{
    QByteArray out;
    out += char(Cancel);
    append(out, transfer, 4);
    return out;
}

std::optional<OfferFields> readOffer(QByteArrayView content)
{
    constexpr qsizetype Fixed = 1 + 4 + 8 + 32 + 1;
    if (content.size() < Fixed + 1 || uint8_t(content[0]) != Offer)
        return std::nullopt;
    OfferFields fields;
    fields.transfer = uint32_t(read(content, 1, 4));
    const uint64_t size = read(content, 5, 8);
    if (size > uint64_t(MaxFileBytes) || fields.transfer == 0)
        return std::nullopt;
    fields.size = int64_t(size);
    std::memcpy(fields.sha256.data(), content.data() + 13, fields.sha256.size());
    fields.flags = uint8_t(content[45]);
    qsizetype pos = Fixed;
    if (!ChannelContent::readShortText(content, pos, fields.name) || pos != content.size())
        return std::nullopt;
    return fields;
}

std::optional<ReplyFields> readReply(QByteArrayView content)
{
    if (content.size() != 6 || uint8_t(content[0]) != Reply || uint8_t(content[5]) > uint8_t(Answer::Failed))
        return std::nullopt;
    return ReplyFields {uint32_t(read(content, 1, 4)), Answer(uint8_t(content[5]))};
}

std::optional<DataFields> readData(QByteArrayView content)
{
    if (content.size() <= DataHeader || content.size() > DataHeader + DataBytes || uint8_t(content[0]) != Data)
        return std::nullopt;
    DataFields fields;
    fields.transfer = uint32_t(read(content, 1, 4));
    fields.packet = uint32_t(read(content, 5, 4));
    fields.sendNumber = uint32_t(read(content, 9, 4));
    fields.bytes = content.sliced(DataHeader);
    return fields;
}

std::optional<AckFields> readAck(QByteArrayView content)
{
    if (content.size() < 14 || uint8_t(content[0]) != Ack)
        return std::nullopt;
    const int count = uint8_t(content[13]);
    if (count > MaxAckRanges || content.size() != 14 + 8 * qsizetype(count))
        return std::nullopt;
    AckFields fields;
    fields.transfer = uint32_t(read(content, 1, 4));
    fields.contiguous = uint32_t(read(content, 5, 4));
    fields.newestSend = uint32_t(read(content, 9, 4));
    uint32_t after = fields.contiguous;
    for (int i = 0; i < count; ++i) {
        const Range range {uint32_t(read(content, 14 + 8 * i, 4)), uint32_t(read(content, 18 + 8 * i, 4))};
        // In order, not touching, not empty.
        if (range.first <= after || range.end <= range.first)
            return std::nullopt;
        fields.ranges.append(range);
        after = range.end;
    }
    return fields;
}

std::optional<uint32_t> readCancel(QByteArrayView content)
{
    if (content.size() != 5 || uint8_t(content[0]) != Cancel)
        return std::nullopt;
    return uint32_t(read(content, 1, 4));
}

} // namespace cfb::FileContent
