#include "channel/FrameOutbox.h"

#include "channel/ChannelContent.h"

#include <algorithm>
#include <cstring>

namespace cfb {

void FrameOutbox::keep(uint32_t number, QByteArrayView frame, uint16_t packets)
{
    Slot& slot = slots_[size_t(next_)];
    next_ = (next_ + 1) % Kept;
    slot.used = true;
    slot.number = number;
    slot.packets = packets;
    // Every slot gets room for a frame of 64 KB (or this one) at once, so the frames of a video
    // stream allocate nothing here.
    if (slot.bytes.capacity() < frame.size())
        for (Slot& each : slots_) {
            if (each.bytes.capacity() < frame.size())
                each.bytes.reserve(std::max<qsizetype>(frame.size(), 65536));
            if (each.resent.capacity() < packets)
                each.resent.reserve(std::max<size_t>(packets, 64));
        }
    slot.bytes.resize(frame.size());
    std::memcpy(slot.bytes.data(), frame.data(), size_t(frame.size()));
    slot.resent.assign(packets, 0);
}

std::optional<QByteArrayView> FrameOutbox::resend(uint32_t number, uint16_t index, uint16_t& count)
{
    const auto slot = std::find_if(
        slots_.begin(), slots_.end(), [number](const Slot& s) { return s.used && s.number == number; });
    if (slot == slots_.end() || index >= slot->packets || slot->resent[index])
        return std::nullopt;
    slot->resent[index] = 1;
    count = slot->packets;
    const qsizetype at = qsizetype(index) * packetBytes_;
    return QByteArrayView(slot->bytes).sliced(at, std::min(packetBytes_, slot->bytes.size() - at));
}

} // namespace cfb
