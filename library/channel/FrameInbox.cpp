#include "channel/FrameInbox.h"

#include <cstring>

namespace cfb {

void FrameInbox::add(const ChannelContent::PacketFields& packet, int64_t now)
{
    if (shownAny_ && !newer(packet.frame, lastShown_)) {
        // Far behind: the sender started its numbering over (a new sign-in).
        if (int32_t(packet.frame - lastShown_) > -1000)
            return;
        shownAny_ = false;
    }
    Slot* slot = nullptr;
    for (Slot& s : slots_)
        if (s.used && s.number == packet.frame)
            slot = &s;
    if (!slot) {
        for (Slot& s : slots_)
            if (!s.used && !slot)
                slot = &s;
        if (!slot) {
            // All in use: the oldest frame is given up for the new one.
            slot = oldest();
            if (newer(slot->number, packet.frame))
                return;
        }
        slot->used = true;
        slot->number = packet.frame;
        slot->count = packet.count;
        slot->got = 0;
        slot->lastSize = 0;
        slot->have.assign(packet.count, 0);
        slot->bytes.resize(qsizetype(packet.count) * packetBytes_);
        slot->firstAt = now;
        slot->nackedAt = -1;
    }
    if (packet.count != slot->count) {
        slot->used = false; // packets that disagree about their frame: none of it is shown
        return;
    }
    if (slot->have[packet.index])
        return;
    slot->have[packet.index] = 1;
    std::memcpy(slot->bytes.data() + qsizetype(packet.index) * packetBytes_, packet.bytes.data(),
        size_t(packet.bytes.size()));
    if (packet.index + 1 == packet.count)
        slot->lastSize = packet.bytes.size();
    if (slot->got > 0)
        gapMs_ += (double(now - slot->lastAt) - gapMs_) / 8;
    ++slot->got;
    slot->lastAt = now;
}

FrameInbox::Slot* FrameInbox::oldest()
{
    Slot* found = nullptr;
    for (Slot& s : slots_)
        if (s.used && (!found || newer(found->number, s.number)))
            found = &s;
    return found;
}

bool FrameInbox::hasNewerThan(const Slot& slot) const
{
    for (const Slot& s : slots_)
        if (s.used && newer(s.number, slot.number))
            return true;
    return false;
}

void FrameInbox::handOn(Slot& slot, QList<QByteArray>* ready, QList<uint32_t>* numbers)
{
    if (ready) {
        ready->append(slot.bytes.left(qsizetype(slot.count - 1) * packetBytes_ + slot.lastSize));
        if (numbers)
            numbers->append(slot.number);
    }
    lastShown_ = slot.number;
    shownAny_ = true;
    slot.used = false;
    // Anything older than what was handed on is late.
    for (Slot& s : slots_)
        if (s.used && !newer(s.number, lastShown_))
            s.used = false;
}

bool FrameInbox::pending() const
{
    for (const Slot& s : slots_)
        if (s.used)
            return true;
    return false;
}

void FrameInbox::poll(
    int64_t now, QList<QByteArray>& ready, QList<ChannelContent::NackFields>& nacks, QList<uint32_t>* numbers)
{
    for (Slot& s : slots_) {
        if (!s.used || s.got == s.count || s.nackedAt >= 0)
            continue;
        if (now - s.lastAt < quietMs() && !hasNewerThan(s))
            continue;
        ChannelContent::NackFields nack;
        nack.frame = s.number;
        for (uint16_t i = 0; i < s.count && nack.packets.size() < ChannelContent::MaxNackedPackets; ++i)
            if (!s.have[i])
                nack.packets.append(i);
        nacks.append(nack);
        s.nackedAt = now;
    }
    while (Slot* first = oldest()) {
        if (first->got == first->count) {
            handOn(*first, &ready, numbers);
            continue;
        }
        const bool late = first->nackedAt >= 0 && now - first->nackedAt >= WaitForResendMs;
        if ((late && hasNewerThan(*first)) || now - first->firstAt >= GiveUpMs) {
            handOn(*first, nullptr, nullptr); // given up
            continue;
        }
        break;
    }
}

} // namespace cfb
