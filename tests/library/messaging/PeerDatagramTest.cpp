// The peer datagram format both ways, and frame reassembly.
#include "messaging/PeerDatagram.h"
#include "messaging/FrameAssembler.h"

#include <gtest/gtest.h>

using namespace cfb;

TEST(PeerDatagram, MessageHasTheFourElementsInOrderAndEscapesMarkup)
{
    EXPECT_EQ(PeerDatagram::message(QString::fromUtf8("Zoë"), "z@x", 5150, "a<b & c>d"),
        "<body><from_handle>Zo\xeb</from_handle><email>z@x</email><video_port>5150</video_port>"
        "<message>a&lt;b &amp; c&gt;d</message></body>");
}

TEST(PeerDatagram, MessageRoundTripsThroughTheParser)
{
    XmlDocument doc;
    const auto arrival = PeerDatagram::parse(doc, PeerDatagram::message("Amy", "", -1, QString::fromUtf8("hi € <3")));
    ASSERT_TRUE(arrival);
    EXPECT_EQ(arrival->fromHandle, "Amy");
    EXPECT_EQ(arrival->fromEmail, "");
    EXPECT_EQ(arrival->videoPort, -1);
    EXPECT_EQ(arrival->message, QString::fromUtf8("hi € <3"));
    EXPECT_FALSE(arrival->videoData);
}

TEST(PeerDatagram, FrameChunkIsBase64WithTheTypedNamespaceAndParsesBack)
{
    for (int size : {1, 2, 3, 4, 5000, 48000}) {
        QByteArray chunk;
        for (int i = 0; i < size; ++i)
            chunk.append(char(i * 31 + 7));
        QByteArray datagram;
        PeerDatagram::frameChunk(PeerDatagram::escapedText("A&B"), chunk, datagram);
        EXPECT_EQ(datagram.size(), PeerDatagram::frameChunkSize(PeerDatagram::escapedText("A&B"), size));
        EXPECT_TRUE(datagram.startsWith("<body><from_handle>A&amp;B</from_handle><video_data "
                                        "xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"bin.base64\">"));
        EXPECT_TRUE(datagram.contains(chunk.toBase64()));
        XmlDocument doc;
        const auto arrival = PeerDatagram::parse(doc, datagram);
        ASSERT_TRUE(arrival) << size;
        EXPECT_EQ(arrival->fromHandle, "A&B");
        EXPECT_EQ(arrival->videoData, chunk);
        EXPECT_EQ(arrival->message, "");
    }
}

// A NUL cannot stand in XML text and the parser stops at one, so a datagram written with it
// raw would be dropped whole by every receiver.
TEST(PeerDatagram, ANulInAnyTextGoesAsQuestionMarkSoTheDatagramStillArrives)
{
    const QString nul(QChar(0));
    XmlDocument doc;
    auto arrival = PeerDatagram::parse(
        doc, PeerDatagram::message("A" + nul + "my", "a" + nul + "@x", 7, nul + "one" + nul + "two" + nul));
    ASSERT_TRUE(arrival);
    EXPECT_EQ(arrival->fromHandle, "A?my");
    EXPECT_EQ(arrival->fromEmail, "a?@x");
    EXPECT_EQ(arrival->message, "?one?two?");

    QByteArray datagram;
    PeerDatagram::frameChunk(PeerDatagram::escapedText("Bo" + nul + "<"), QByteArray("x\0y", 3), datagram);
    EXPECT_FALSE(datagram.contains('\0'));
    arrival = PeerDatagram::parse(doc, datagram);
    ASSERT_TRUE(arrival);
    EXPECT_EQ(arrival->fromHandle, "Bo?<");
    EXPECT_EQ(arrival->videoData, QByteArray("x\0y", 3)) << "frame bytes are base64 and keep their NULs";
}

TEST(PeerDatagram, DatagramsThatCannotBeReadAreDroppedWhole)
{
    XmlDocument doc;
    const char* bad[] = {
        "", "not xml",
        "<body><from_handle>a</from_handle>", // truncated
        "<body><email>x</email><message>no sender</message></body>", // no from_handle
        "<body><from_handle>a</from_handle><video_port>99999</video_port><message>m</message></body>",
        "<body><from_handle>a</from_handle><video_port>eighty</video_port><message>m</message></body>",
        "<body><from_handle>a</from_handle><video_data xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" "
        "dt:dt=\"bin.base64\">!!garbage!!</video_data></body>",
        "<body><from_handle>a</from_handle><video_data xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" "
        "dt:dt=\"bin.base64\"></video_data></body>",
        "<body><from_handle>a</from_handle><video_data>AAAA</video_data></body>", // untyped
    };
    for (const char* text : bad)
        EXPECT_FALSE(PeerDatagram::parse(doc, text)) << text;
    // The document is reused; a good datagram after the bad ones reads normally.
    EXPECT_TRUE(PeerDatagram::parse(doc, "<body><from_handle>a</from_handle></body>"));
}

TEST(PeerDatagram, OptionalElementsMayBeMissingAndWhiteSpaceInBase64IsIgnored)
{
    XmlDocument doc;
    auto arrival = PeerDatagram::parse(doc, "<body><from_handle> Bo </from_handle><message>yo</message></body>\r\n");
    ASSERT_TRUE(arrival);
    EXPECT_EQ(arrival->fromHandle, "Bo");
    EXPECT_EQ(arrival->videoPort, 0);
    EXPECT_EQ(arrival->message, "yo");

    arrival = PeerDatagram::parse(doc,
        "<body><from_handle>Bo</from_handle><video_data "
        "xmlns:q=\"urn:schemas-microsoft-com:datatypes\" q:dt=\"bin.base64\">SGVs\r\n"
        "bG8=</video_data></body>");
    ASSERT_TRUE(arrival);
    EXPECT_EQ(arrival->videoData, QByteArray("Hello"));
}

TEST(FrameAssembler, AShortChunkEndsTheFrame)
{
    FrameAssembler frames(10);
    EXPECT_EQ(frames.add("short"), QByteArray("short"));
    EXPECT_FALSE(frames.add("0123456789"));
    EXPECT_FALSE(frames.add("abcdefghij"));
    EXPECT_EQ(frames.pending(), 20);
    EXPECT_EQ(frames.add("end"), QByteArray("0123456789abcdefghijend"));
    EXPECT_EQ(frames.pending(), 0);
}

TEST(FrameAssembler, FullChunksThatNeverEndAreCappedAndDropped)
{
    const qsizetype chunk = 64535;
    FrameAssembler frames(chunk);
    const QByteArray full(chunk, 'x');
    qsizetype added = 0;
    while (added + chunk <= FrameAssembler::MaxFrameBytes) {
        EXPECT_FALSE(frames.add(full));
        added += chunk;
    }
    EXPECT_EQ(frames.pending(), added);
    EXPECT_FALSE(frames.add(full)); // past the cap: everything so far is dropped
    EXPECT_EQ(frames.pending(), 0);
    EXPECT_EQ(frames.add("next"), QByteArray("next")) << "the next frame arrives untouched";
}
