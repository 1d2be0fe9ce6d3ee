// The reply and datagram document: what callers read out of replies, and the exact text of the
// documents the library builds.
#include "messaging/XmlDocument.h"

#include <gtest/gtest.h>

using namespace cfb;

TEST(XmlDocument, SelectsByAbsolutePathAndChildName)
{
    XmlDocument doc;
    ASSERT_TRUE(doc.parse("<body><user_id> 12 </user_id><buddy><handle>amy</handle></buddy></body>"));
    EXPECT_TRUE(doc.hasContent());
    EXPECT_EQ(doc.selectSingle("/body/user_id").text(), "12");
    EXPECT_EQ(doc.selectSingle("body").name(), "body");
    EXPECT_FALSE(doc.selectSingle("/body/missing"));
    EXPECT_FALSE(doc.selectSingle("/user_id"));
    EXPECT_FALSE(doc.selectSingle(""));
    const XmlElement buddy = doc.selectSingle("/body/buddy");
    EXPECT_EQ(buddy.selectSingle("handle").text(), "amy");
    EXPECT_FALSE(buddy.selectSingle("email"));
    // Reading through nothing gives nothing, never a crash.
    EXPECT_EQ(XmlElement().selectSingle("x").text(), "");
}

TEST(XmlDocument, TextJoinsDescendantsAndTrims)
{
    XmlDocument doc;
    ASSERT_TRUE(doc.parse("<body>\n  <a> x <b>y</b><![CDATA[ <z> ]]>\t</a></body>"));
    EXPECT_EQ(doc.selectSingle("/body/a").text(), "x y <z>");
    EXPECT_EQ(doc.selectSingle("/body").text(), "x y <z>");
}

TEST(XmlDocument, ElementsByTagNameInDocumentOrderAtAnyDepth)
{
    XmlDocument doc;
    ASSERT_TRUE(doc.parse("<body><buddy><handle>a</handle></buddy><x><buddy><handle>b</handle></buddy></x>"
                          "<buddy><handle>c</handle></buddy></body>"));
    const auto buddies = doc.elementsByTagName("buddy");
    ASSERT_EQ(buddies.size(), 3);
    EXPECT_EQ(buddies[0].selectSingle("handle").text(), "a");
    EXPECT_EQ(buddies[1].selectSingle("handle").text(), "b");
    EXPECT_EQ(buddies[2].selectSingle("handle").text(), "c");
    EXPECT_TRUE(doc.elementsByTagName("user").isEmpty());
    EXPECT_TRUE(XmlDocument().elementsByTagName("buddy").isEmpty());
}

TEST(XmlDocument, TextThatIsNotWellFormedLeavesItEmpty)
{
    XmlDocument doc;
    ASSERT_TRUE(doc.parse("<body/>"));
    for (const QByteArray& bad : {QByteArray(), QByteArray("   "), QByteArray("plain text"), QByteArray("<body>"),
             QByteArray("<body></bod>"), QByteArray("<a/><b/>"), QByteArray("<body/>tail"),
             QByteArray("<html><br></html>"), QByteArray("\0\0\0", 3)}) {
        EXPECT_FALSE(doc.parse(bad)) << bad.constData();
        EXPECT_FALSE(doc.hasContent());
        EXPECT_FALSE(doc.selectSingle("/body"));
    }
}

TEST(XmlDocument, DeepNestingDoesNotExhaustTheStack)
{
    QByteArray text;
    for (int i = 0; i < 200000; ++i)
        text += "<a>";
    text += "x";
    for (int i = 0; i < 200000; ++i)
        text += "</a>";
    XmlDocument doc;
    if (doc.parse(text)) {
        EXPECT_EQ(doc.selectSingle("/a").text(), "x");
        EXPECT_EQ(doc.elementsByTagName("a").size(), 200000);
    }
}

TEST(XmlDocument, TextIsWindows1252UnlessDeclaredOtherwise)
{
    XmlDocument doc;
    ASSERT_TRUE(doc.parse("<body><h>Zo\xeb \x80</h></body>"));
    EXPECT_EQ(doc.selectSingle("/body/h").text(), QString::fromUtf8("Zoë €"));
    ASSERT_TRUE(doc.parse("<?xml version=\"1.0\" encoding=\"UTF-8\"?><body><h>Zo\xc3\xab</h></body>"));
    EXPECT_EQ(doc.selectSingle("/body/h").text(), QString::fromUtf8("Zoë"));
    ASSERT_TRUE(doc.parse("<?xml version=\"1.0\" encoding=\"windows-1252\"?><body><h>\xe9</h></body>"));
    EXPECT_EQ(doc.selectSingle("/body/h").text(), QString::fromUtf8("é"));
}

TEST(XmlDocument, Base64TypedValueWhateverThePrefix)
{
    XmlDocument doc;
    ASSERT_TRUE(doc.parse("<body xmlns:q=\"urn:schemas-microsoft-com:datatypes\">"
                          "<a xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"bin.base64\">SGVs\n bG8=</a>"
                          "<b q:dt=\"bin.base64\">AAEC</b>"
                          "<c dt:dt=\"bin.base64\" xmlns:dt=\"urn:other\">AAEC</c>"
                          "<d>AAEC</d>"
                          "<e xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"bin.base64\"/>"
                          "<f xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"bin.base64\">@@not base64@@</f>"
                          "<g xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"string\">AAEC</g>"
                          "</body>"));
    EXPECT_EQ(doc.selectSingle("/body/a").typedValue(), QByteArray("Hello"));
    EXPECT_EQ(doc.selectSingle("/body/b").typedValue(), QByteArray("\0\1\2", 3));
    EXPECT_FALSE(doc.selectSingle("/body/c").typedValue()) << "bound to another namespace";
    EXPECT_FALSE(doc.selectSingle("/body/d").typedValue()) << "untyped";
    EXPECT_FALSE(doc.selectSingle("/body/e").typedValue()) << "no content is null";
    EXPECT_FALSE(doc.selectSingle("/body/f").typedValue()) << "garbage is null";
    EXPECT_FALSE(doc.selectSingle("/body/g").typedValue()) << "another type";
    EXPECT_FALSE(doc.selectSingle("/body/none").typedValue());
}

TEST(XmlDocument, BuildsAndSerialisesADatagramWithoutDeclaration)
{
    XmlDocument doc;
    XmlElement body = doc.createElement("body");
    XmlElement from = doc.createElement("from_handle");
    from.setText(QString::fromUtf8("Zoë"));
    body.appendChild(from);
    XmlElement message = doc.createElement("message");
    message.setText("a < b && c > d \"q\"");
    body.appendChild(message);
    doc.setDocumentElement(body);
    EXPECT_EQ(doc.serialise(),
        "<body><from_handle>Zo\xeb</from_handle><message>a &lt; b &amp;&amp; c &gt; d \"q\"</message></body>");

    XmlDocument back;
    ASSERT_TRUE(back.parse(doc.serialise()));
    EXPECT_EQ(back.selectSingle("/body/message").text(), "a < b && c > d \"q\"");
}

TEST(XmlDocument, TypedValueRoundTripsThroughSerialisedText)
{
    QByteArray bytes;
    for (int i = 0; i < 1000; ++i)
        bytes.append(char(i * 7));
    XmlDocument doc;
    XmlElement body = doc.createElement("body");
    XmlElement data = doc.createElement("video_data");
    data.setDataType("bin.base64");
    data.setTypedValue(bytes);
    body.appendChild(data);
    doc.setDocumentElement(body);
    const QByteArray text = doc.serialise();
    EXPECT_TRUE(
        text.startsWith("<body><video_data xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"bin.base64\">"));

    XmlDocument back;
    ASSERT_TRUE(back.parse(text));
    EXPECT_EQ(back.selectSingle("/body/video_data").typedValue(), bytes);

    // Setting a new value replaces the old one.
    data.setTypedValue("xyz");
    ASSERT_TRUE(back.parse(doc.serialise()));
    EXPECT_EQ(back.selectSingle("/body/video_data").typedValue(), QByteArray("xyz"));
}

TEST(XmlDocument, Base64EdgeCases)
{
    const auto typed = [](const QByteArray& content) {
        XmlDocument doc;
        doc.parse("<a xmlns:dt=\"urn:schemas-microsoft-com:datatypes\" dt:dt=\"bin.base64\">" + content + "</a>");
        return doc.selectSingle("/a").typedValue();
    };
    EXPECT_EQ(typed("TWFu"), QByteArray("Man"));
    EXPECT_EQ(typed("TWE="), QByteArray("Ma"));
    EXPECT_EQ(typed("TWE"), QByteArray("Ma")) << "padding may be left off";
    EXPECT_EQ(typed("TQ=="), QByteArray("M"));
    EXPECT_EQ(typed(" T W\r\n E = "), QByteArray("Ma"));
    EXPECT_EQ(typed("T<![CDATA[WFu]]>"), QByteArray("Man")) << "text split across nodes";
    EXPECT_FALSE(typed("T")) << "a lone character over";
    EXPECT_FALSE(typed("TWE=x")) << "data after padding";
    EXPECT_FALSE(typed("TQ===")) << "too much padding";
    EXPECT_FALSE(typed("TW-u")) << "not in the alphabet";
    EXPECT_FALSE(typed("   ")) << "nothing but white space";
    EXPECT_FALSE(typed("TWE=\xff"));
}
