// Hostile datagrams to SecureChannel::receive, the way anyone on the path could send them to a
// client whose channel with its buddy is up, and hostile contents to ChannelContent's readers.
// Beyond surviving any bytes without a crash, a leak or undefined behaviour:
//  - nothing the input holds is ever delivered as a line or a frame (nobody without the keys can
//    write one), and the real session keeps working after every input;
//  - a content that reads as a message reads the same after writing it again.
//
// Each input is up to MaxDatagrams datagrams separated by four NUL bytes; a datagram's first byte
// says how it is sent: as it is, made an initiation of the right size with a correct mac1 (so it
// reaches the key agreement), made a data datagram to the real session's index (so it reaches
// the cipher), or handed to the content readers.
#include "channel/ChannelContent.h"
#include "channel/ChannelDatagram.h"
#include "channel/FileContent.h"
#include "channel/Identity.h"
#include "channel/SecureChannel.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>

namespace {

using namespace cfb;

constexpr int MaxDatagrams = 16;
constexpr QByteArrayView Separator("\0\0\0\0", 4);
const SecureChannel::Endpoint AtAmy {0x0100007f, 4000};
const SecureChannel::Endpoint AtBo {0x0200007f, 4000};

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "channel datagram: %s\n", what);
    std::abort();
}

Key32 keyFrom(uint8_t first)
{
    Key32 key;
    for (size_t i = 0; i < key.size(); ++i)
        key[i] = uint8_t(first * 7 + i);
    return key;
}

// Amelia and Bonnie with a session between them; datagrams between them go through a queue.
struct Harness {
    Identity amyKey = Identity::fromSecret(keyFrom(3));
    Identity boKey = Identity::fromSecret(keyFrom(5));
    std::deque<std::pair<bool, QByteArray>> wire; // (to Bonnie?, datagram)
    std::unique_ptr<SecureChannel> amy, bo;
    uint32_t boIndex = 0; // Bonnie's index of the session, as Amelia's data datagrams show it
    int delivered = 0;

    Harness()
    {
        const auto judge = [](const QString&, const Key32&) { return SecureChannel::Verdict::Trusted; };
        amy = std::make_unique<SecureChannel>(
            [this](const SecureChannel::Endpoint&, QByteArrayView d) {
                wire.emplace_back(true, d.toByteArray());
                return true;
            },
            judge);
        bo = std::make_unique<SecureChannel>(
            [this](const SecureChannel::Endpoint&, QByteArrayView d) {
                wire.emplace_back(false, d.toByteArray());
                return true;
            },
            judge);
        amy->setIdentity(&amyKey, QStringLiteral("amelia"));
        bo->setIdentity(&boKey, QStringLiteral("bonnie"));
        QObject::connect(bo.get(), &SecureChannel::messageArrived, [this] { ++delivered; });
        QObject::connect(bo.get(), &SecureChannel::frameArrived, [this] { ++delivered; });
        amy->keepAlive(boKey.publicKey(), QStringLiteral("bonnie"), AtBo);
        run();
        if (!amy->hasSession(boKey.publicKey(), QStringLiteral("bonnie")))
            fail("no session after the handshake");
    }

    void run()
    {
        while (!wire.empty()) {
            auto [toBo, datagram] = wire.front();
            wire.pop_front();
            if (toBo && ChannelDatagram::typeOf(datagram) == ChannelDatagram::Data)
                boIndex = ChannelDatagram::readIndex(datagram, 4);
            (toBo ? *bo : *amy).receive(datagram, toBo ? AtAmy : AtBo);
        }
    }

    // A real line still arrives.
    void checkSessionWorks()
    {
        const int before = delivered;
        ChannelContent::MessageFields line;
        line.handle = QStringLiteral("amelia");
        line.text = QStringLiteral("still here");
        if (!amy->sendMessage(boKey.publicKey(), QStringLiteral("bonnie"), AtBo, line))
            fail("the real session cannot send");
        run();
        if (delivered != before + 1)
            fail("a real line was not delivered after hostile input");
    }
};

Harness* harness = nullptr;

void throughContentReaders(QByteArrayView content)
{
    if (const auto fields = ChannelContent::readMessage(content)) {
        const auto written = ChannelContent::message(*fields);
        if (!written)
            fail("a message read cannot be written again");
        const auto again = ChannelContent::readMessage(*written);
        if (!again || again->handle != fields->handle || again->email != fields->email
            || again->videoPort != fields->videoPort || again->text != fields->text || again->id != fields->id
            || again->firstUnacknowledged != fields->firstUnacknowledged)
            fail("a message reads differently after writing it again");
    }
    if (const auto packet = ChannelContent::readFramePacket(content)) {
        if (packet->index >= packet->count || packet->bytes.size() > ChannelContent::FramePacketBytes)
            fail("a frame packet out of bounds was read");
    }
    if (const auto nack = ChannelContent::readFrameNack(content))
        if (nack->packets.size() > ChannelContent::MaxNackedPackets)
            fail("a nack of too many packets was read");
    if (const auto offer = FileContent::readOffer(content)) {
        if (offer->size < 0 || offer->size > FileContent::MaxFileBytes)
            fail("an offer of an impossible size was read");
        const QString name = FileContent::safeName(offer->name);
        if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')) || name.toUtf8().size() > 255)
            fail("an offered name is not safe to save under");
    }
    if (const auto data = FileContent::readData(content))
        if (data->bytes.isEmpty() || data->bytes.size() > FileContent::DataBytes)
            fail("a file packet of an impossible size was read");
    if (const auto ack = FileContent::readAck(content)) {
        uint32_t after = ack->contiguous;
        for (const FileContent::Range& range : ack->ranges) {
            if (range.first <= after || range.end <= range.first)
                fail("acknowledged ranges out of order were read");
            after = range.end;
        }
    }
}

void send(QByteArrayView datagram)
{
    using namespace ChannelDatagram;
    if (datagram.isEmpty())
        return;
    const uint8_t how = uint8_t(datagram[0]) % 4;
    QByteArray bytes = datagram.sliced(1).toByteArray();
    switch (how) {
    case 0:
        break;
    case 1: // an initiation with a good mac1: through the guard to the key agreement
        bytes = bytes.leftJustified(InitiationSize, '\0', true);
        bytes[0] = char(Initiation);
        bytes[1] = bytes[2] = bytes[3] = 0;
        sign(bytes, mac1Key(harness->boKey.publicKey()), nullptr);
        break;
    case 2: // a data datagram to the real session: through the replay window to the cipher
        bytes = bytes.leftJustified(DataOverhead, '\0');
        bytes[0] = char(Data);
        bytes[1] = bytes[2] = bytes[3] = 0;
        writeIndex(reinterpret_cast<uint8_t*>(bytes.data()) + 4, harness->boIndex);
        break;
    case 3:
        throughContentReaders(bytes);
        return;
    }
    const int before = harness->delivered;
    harness->bo->receive(bytes, AtAmy);
    harness->run();
    if (harness->delivered != before)
        fail("a datagram from the input was delivered");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
    harness = new Harness;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char*>(data), qsizetype(size));
    qsizetype start = 0;
    for (int i = 0; i < MaxDatagrams && start <= input.size(); ++i) {
        const qsizetype end = input.indexOf(Separator, start);
        send(input.sliced(start, (end < 0 ? input.size() : end) - start));
        if (end < 0)
            break;
        start = end + Separator.size();
    }
    harness->checkSessionWorks();
    return 0;
}
