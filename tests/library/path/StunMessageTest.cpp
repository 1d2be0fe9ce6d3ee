// What the relay's messages look like on the wire, and that what comes from the network is read
// only as far as it really goes.

#include "path/StunMessage.h"
#include "path/TurnChannelData.h"
#include "path/TurnServerUrl.h"
#include "path/TurnStream.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <gtest/gtest.h>

#include <arpa/inet.h>

using namespace cfb;

namespace {

const QByteArray Key = StunMessage::longTermKey(QStringLiteral("1700000000:42"), QStringLiteral("confabo.lab"),
    QStringLiteral("c2VjcmV0"));

QByteArray allocateRequest()
{
    StunMessage message = StunMessage::make(StunMessage::Allocate, StunMessage::Request);
    message.addUint32(StunMessage::RequestedTransport, 17u << 24)
        .addText(StunMessage::Username, QStringLiteral("1700000000:42"))
        .addAddress(StunMessage::XorPeerAddress, {htonl(0x0B120007), 49160});
    return message.encode(Key);
}

TEST(StunMessage, EncodedRequestReadsBackWithItsIntegrity)
{
    const QByteArray bytes = allocateRequest();
    ASSERT_EQ(bytes.size() % 4, 0);
    const auto parsed = StunMessage::parse(bytes);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->method(), StunMessage::Allocate);
    EXPECT_EQ(parsed->messageClass(), StunMessage::Request);
    EXPECT_EQ(parsed->text(StunMessage::Username), QStringLiteral("1700000000:42"));
    const auto peer = parsed->address(StunMessage::XorPeerAddress);
    ASSERT_TRUE(peer);
    EXPECT_EQ(peer->address, htonl(0x0B120007));
    EXPECT_EQ(peer->port, 49160);
    EXPECT_TRUE(parsed->hasIntegrity(Key));
    EXPECT_FALSE(parsed->hasIntegrity(StunMessage::longTermKey("1700000000:42", "confabo.lab", "other")));

    // One bit changed anywhere before the integrity attribute breaks it.
    QByteArray changed = bytes;
    changed[26] = char(changed[26] ^ 1);
    const auto tampered = StunMessage::parse(changed);
    ASSERT_TRUE(tampered);
    EXPECT_FALSE(tampered->hasIntegrity(Key));
}

TEST(StunMessage, MalformedDatagramsAreRefusedWhole)
{
    const QByteArray good = allocateRequest();
    // Cut anywhere: the header's length no longer matches.
    for (qsizetype size = 0; size < good.size(); ++size)
        EXPECT_FALSE(StunMessage::parse(good.left(size))) << size;
    // An attribute whose length runs past the end.
    QByteArray overlong = good;
    overlong[StunMessage::HeaderSize + 3] = char(0x7F);
    EXPECT_FALSE(StunMessage::parse(overlong));
    // A header length that is not a multiple of four, the wrong cookie, the top bits set.
    QByteArray odd = good;
    odd[3] = char(odd[3] + 1);
    EXPECT_FALSE(StunMessage::parse(odd + '\0'));
    QByteArray cookie = good;
    cookie[4] = 0;
    EXPECT_FALSE(StunMessage::parse(cookie));
    QByteArray channelData = good;
    channelData[0] = char(0x40);
    EXPECT_FALSE(StunMessage::parse(channelData));
    // A MESSAGE-INTEGRITY of the wrong size.
    StunMessage shortMac = StunMessage::make(StunMessage::Refresh, StunMessage::Success);
    shortMac.add(StunMessage::MessageIntegrity, QByteArray(8, 'x'));
    EXPECT_FALSE(StunMessage::parse(shortMac.encode()));
}

TEST(StunMessage, AttributesThatDoNotFitTheirTypeReadAsAbsent)
{
    StunMessage message = StunMessage::make(StunMessage::Allocate, StunMessage::Error);
    message.add(StunMessage::ErrorCode, QByteArray("\0\0", 2)) // shorter than its four bytes
        .add(StunMessage::Lifetime, QByteArray("\0\0\x02", 3))
        .add(StunMessage::XorRelayedAddress, QByteArray("\0\x02\0\0", 4)); // IPv6 family, short
    for (int i = 0; i < 100; ++i)
        message.addUint32(0x8000 + i, uint32_t(i)); // more than are kept
    const auto parsed = StunMessage::parse(message.encode());
    ASSERT_TRUE(parsed);
    EXPECT_FALSE(parsed->errorCode());
    EXPECT_FALSE(parsed->uint32(StunMessage::Lifetime));
    EXPECT_FALSE(parsed->address(StunMessage::XorRelayedAddress));
    EXPECT_FALSE(parsed->uint32(0x8000 + 99));

    StunMessage refused = StunMessage::make(StunMessage::Allocate, StunMessage::Error);
    refused.add(StunMessage::ErrorCode, QByteArray("\0\0\x04\x01Unauthorized", 16));
    EXPECT_EQ(StunMessage::parse(refused.encode())->errorCode(), 401);
}

TEST(TurnChannelData, FramesReadBackAndLengthsAreChecked)
{
    QByteArray framed;
    TurnChannelData::frame(0x4001, "ciphertext", framed);
    const auto frame = TurnChannelData::parse(framed);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->channel, 0x4001);
    EXPECT_EQ(frame->bytes, QByteArrayView("ciphertext"));
    EXPECT_TRUE(TurnChannelData::parse(framed + QByteArray(2, '\0'))); // padding
    EXPECT_FALSE(TurnChannelData::parse(framed.left(framed.size() - 1)));
    EXPECT_FALSE(TurnChannelData::parse(framed.left(3)));
    QByteArray outside = framed;
    outside[0] = char(0x50); // past 0x4FFF
    EXPECT_FALSE(TurnChannelData::parse(outside));
}

TEST(TurnServerUrl, TheServiceFormsAreReadAndOthersRefused)
{
    const auto udp = TurnServerUrl::parse(QStringLiteral("turn:relay.example.org:3478"));
    ASSERT_TRUE(udp);
    EXPECT_EQ(udp->host, QStringLiteral("relay.example.org"));
    EXPECT_EQ(udp->port, 3478);
    EXPECT_EQ(udp->transport, TurnServerUrl::Transport::Udp);
    EXPECT_EQ(TurnServerUrl::parse(QStringLiteral("turn:relay.example.org:443?transport=tcp"))->transport,
        TurnServerUrl::Transport::Tcp);
    EXPECT_EQ(TurnServerUrl::parse(QStringLiteral("turns:relay.example.org"))->port, 5349);
    EXPECT_EQ(TurnServerUrl::parse(QStringLiteral("turn:[2001:db8::1]:3478"))->host, QStringLiteral("2001:db8::1"));
    for (const char* bad : {"stun:relay:3478", "turn:", "turn:relay:0", "turn:relay:70000", "turn:relay:",
             "turn:relay:3478?transport=sctp", "turns:relay?transport=udp", "turn:user@relay", "turn:2001:db8::1"})
        EXPECT_FALSE(TurnServerUrl::parse(QString::fromLatin1(bad))) << bad;
}

} // namespace

// TURN over a stream: what a TCP relay sends arrives cut into whole messages however the bytes
// are split, channel data leaves padded to four bytes, and bytes that are no TURN end it.
TEST(TurnStream, CutsMessagesAndPadsChannelDataOverRealTcp)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    std::vector<QByteArray> arrived;
    TurnStream stream([&](QByteArrayView message) { arrived.emplace_back(message.toByteArray()); });
    QString closedWhy;
    QObject::connect(&stream, &TurnStream::closed, [&](const QString& why) { closedWhy = why; });
    stream.open(QStringLiteral("127.0.0.1"), server.serverPort(), false, QString(), QString());

    QByteArray framed;
    TurnChannelData::frame(0x4001, "hello", framed); // 9 bytes: 3 of padding on a stream
    ASSERT_TRUE(stream.write(framed)); // before the connection is up: waits
    ASSERT_TRUE(server.waitForNewConnection(5000));
    QTcpSocket* relay = server.nextPendingConnection();
    QByteArray got;
    for (int i = 0; i < 100 && got.size() < 12; ++i) {
        QCoreApplication::processEvents();
        relay->waitForReadyRead(20);
        got += relay->readAll();
    }
    ASSERT_EQ(got.size(), 12);
    EXPECT_EQ(got.left(9), framed);
    EXPECT_EQ(got.mid(9), QByteArray(3, '\0'));

    // A STUN answer and padded channel data, sent a byte at a time.
    const QByteArray stun = StunMessage::make(StunMessage::Binding, StunMessage::Success).encode();
    const QByteArray wire = stun + got;
    for (const char byte : wire) {
        relay->write(&byte, 1);
        relay->flush();
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    for (int i = 0; i < 200 && arrived.size() < 2; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    ASSERT_EQ(arrived.size(), 2u);
    EXPECT_EQ(arrived[0], stun);
    const auto frame = TurnChannelData::parse(arrived[1]);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->bytes, QByteArrayView("hello"));

    // Anything that cannot begin a STUN message or channel data ends the connection: here a TLS
    // record, what a server that speaks TLS on the port answers.
    relay->write(QByteArray::fromHex("160301010002000100030300"));
    relay->flush();
    for (int i = 0; i < 200 && stream.isOpen(); ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(5);
    }
    EXPECT_FALSE(stream.isOpen());
    EXPECT_FALSE(closedWhy.isEmpty());
    EXPECT_FALSE(stream.write(framed));
}

TEST(TurnStream, MessageSizesAreBoundedByTheirHeaders)
{
    // A STUN header whose length is no multiple of four, or a wrong cookie, is no TURN.
    QByteArray header = StunMessage::make(StunMessage::Binding, StunMessage::Success).encode();
    EXPECT_EQ(TurnStream::nextMessageSize(header), header.size());
    EXPECT_EQ(TurnStream::nextMessageSize(header.left(7)), 0);
    header[3] = char(2);
    EXPECT_EQ(TurnStream::nextMessageSize(header), -1);
    header[3] = char(0);
    header[4] = char(0x22);
    EXPECT_EQ(TurnStream::nextMessageSize(header), -1);
    // Channel data says its length, and takes its padding; the first byte's top bits 0b10 are no TURN.
    const QByteArray data = QByteArray::fromHex("4000ffff");
    EXPECT_EQ(TurnStream::nextMessageSize(data), 0); // 65,540 bytes needed
    EXPECT_EQ(TurnStream::nextMessageSize(QByteArray::fromHex("40000001aa000000")), 8);
    EXPECT_EQ(TurnStream::nextMessageSize(QByteArray::fromHex("80000000")), -1);
}
