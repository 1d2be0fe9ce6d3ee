// Our IK handshake against the published Noise vectors: every message's bytes, the handshake
// hash, and the transport messages after the split must come out exactly as listed.
#include "channel/Identity.h"
#include "channel/NoiseHandshake.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace cfb;

namespace {

QByteArray hexField(const QJsonObject& object, const char* name)
{
    return QByteArray::fromHex(object.value(QLatin1String(name)).toString().toLatin1());
}

Key32 keyField(const QJsonObject& object, const char* name)
{
    const QByteArray bytes = hexField(object, name);
    Key32 key{};
    EXPECT_EQ(bytes.size(), 32) << name;
    std::copy_n(bytes.constData(), std::min<qsizetype>(bytes.size(), 32), key.begin());
    return key;
}

Key32 publicOf(const Key32& secret)
{
    return Identity::fromSecret(secret).publicKey();
}

QByteArray hexOf(ByteView bytes)
{
    return bytes.toByteArray().toHex();
}

void replay(const QJsonObject& vector)
{
    const Key32 initStatic = keyField(vector, "init_static");
    const Key32 respStatic = keyField(vector, "resp_static");
    const Key32 initEphemeral = keyField(vector, "init_ephemeral");
    const Key32 respEphemeral = keyField(vector, "resp_ephemeral");
    ASSERT_EQ(keyField(vector, "init_remote_static"), publicOf(respStatic));

    NoiseHandshake initiator = NoiseHandshake::initiator(initStatic, publicOf(initStatic), publicOf(respStatic),
                                                         hexField(vector, "init_prologue"));
    NoiseHandshake responder
        = NoiseHandshake::responder(respStatic, publicOf(respStatic), hexField(vector, "resp_prologue"));
    initiator.setEphemeral(initEphemeral, publicOf(initEphemeral));
    responder.setEphemeral(respEphemeral, publicOf(respEphemeral));

    const QJsonArray messages = vector.value("messages").toArray();
    ASSERT_GE(messages.size(), 3);
    std::pair<NoiseCipher, NoiseCipher> initiatorCiphers;
    std::pair<NoiseCipher, NoiseCipher> responderCiphers;
    for (qsizetype i = 0; i < messages.size(); ++i) {
        SCOPED_TRACE("message " + std::to_string(i));
        const QJsonObject message = messages[i].toObject();
        const QByteArray payload = hexField(message, "payload");
        const QByteArray expected = hexField(message, "ciphertext");
        const bool fromInitiator = i % 2 == 0;
        QByteArray sent;
        QByteArray received;
        if (i < 2) {
            NoiseHandshake& writer = fromInitiator ? initiator : responder;
            NoiseHandshake& reader = fromInitiator ? responder : initiator;
            ASSERT_TRUE(writer.writeMessage(payload, sent));
            ASSERT_EQ(hexOf(sent), hexOf(expected));
            ASSERT_TRUE(reader.readMessage(sent, received));
            if (i == 1) {
                ASSERT_TRUE(initiator.isFinished() && responder.isFinished());
                if (vector.contains("handshake_hash")) {
                    EXPECT_EQ(initiator.handshakeHash().toHex(), hexField(vector, "handshake_hash").toHex());
                    EXPECT_EQ(responder.handshakeHash(), initiator.handshakeHash());
                }
                EXPECT_EQ(responder.remoteStatic(), publicOf(initStatic));
                initiatorCiphers = initiator.split();
                responderCiphers = responder.split();
            }
        } else {
            NoiseCipher& sender = fromInitiator ? initiatorCiphers.first : responderCiphers.first;
            NoiseCipher& receiver = fromInitiator ? responderCiphers.second : initiatorCiphers.second;
            ASSERT_TRUE(sender.encryptWithAd({}, payload, sent));
            ASSERT_EQ(hexOf(sent), hexOf(expected));
            ASSERT_TRUE(receiver.decryptWithAd({}, sent, received));
        }
        EXPECT_EQ(hexOf(received), hexOf(payload));
    }
}

} // namespace

TEST(NoiseVectors, EveryPublishedIkVectorIsReproducedByteForByte)
{
    QFile file(QStringLiteral(NOISE_IK_VECTORS));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << NOISE_IK_VECTORS;
    const QJsonArray vectors = QJsonDocument::fromJson(file.readAll()).object().value("vectors").toArray();
    ASSERT_EQ(vectors.size(), 2);
    for (const QJsonValue& vector : vectors) {
        const QJsonObject object = vector.toObject();
        ASSERT_EQ(object.value("protocol_name").toString(), QLatin1String(NoiseHandshake::ProtocolName));
        SCOPED_TRACE(object.value("init_prologue").toString().toStdString());
        replay(object);
    }
}
