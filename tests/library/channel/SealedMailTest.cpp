// Mail sealed for a buddy: only the buddy opens it, only with the writer's key, and nothing
// altered, cut short, turned back to its writer or malformed inside is taken.
#include "channel/Identity.h"
#include "channel/SealedMail.h"

#include <gtest/gtest.h>

using namespace cfb;

namespace {

Identity identityOf(uint8_t seed)
{
    Key32 secret {};
    secret.fill(seed);
    return Identity::fromSecret(secret);
}

} // namespace

TEST(SealedMail, OnlyTheRecipientOpensItAndOnlyAsTheWritersUntouched)
{
    const Identity amy = identityOf(1), bob = identityOf(2), eve = identityOf(3);
    SealedMail::Content line;
    line.id = (uint64_t(1) << 52) + 7;
    line.sentMs = 1767225600123;
    line.handle = QStringLiteral("amelia");
    line.text = QString::fromUtf8("while you were out, grüße 🎉");
    const std::optional<QByteArray> sealed = SealedMail::seal(line, amy, bob.publicKey());
    ASSERT_TRUE(sealed);
    EXPECT_EQ(sealed->size(), SealedMail::Overhead + 1 + 8 + 8 + 1 + 6 + line.text.toUtf8().size());
    EXPECT_FALSE(sealed->contains("amelia")) << "the handle is sealed too";
    EXPECT_NE(SealedMail::seal(line, amy, bob.publicKey()), sealed) << "a fresh nonce each time";

    const std::optional<SealedMail::Content> opened = SealedMail::open(*sealed, bob, amy.publicKey());
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->kind, SealedMail::Kind::Line);
    EXPECT_EQ(opened->id, line.id);
    EXPECT_EQ(opened->sentMs, line.sentMs);
    EXPECT_EQ(opened->handle, line.handle);
    EXPECT_EQ(opened->text, line.text);

    EXPECT_FALSE(SealedMail::open(*sealed, eve, amy.publicKey())) << "another recipient";
    EXPECT_FALSE(SealedMail::open(*sealed, bob, eve.publicKey())) << "as written by someone else";
    for (qsizetype at : {qsizetype(0), qsizetype(5), sealed->size() - 1}) {
        QByteArray altered = *sealed;
        altered[at] = char(altered[at] ^ 0x40);
        EXPECT_FALSE(SealedMail::open(altered, bob, amy.publicKey())) << "byte " << at;
    }
    for (qsizetype size : {qsizetype(0), SealedMail::Overhead, sealed->size() - 1})
        EXPECT_FALSE(SealedMail::open(sealed->left(size), bob, amy.publicKey())) << size;

    SealedMail::Content receipt;
    receipt.kind = SealedMail::Kind::Receipt;
    receipt.id = 9;
    receipt.handle = QStringLiteral("bertram");
    receipt.receiptIds = {line.id, 3, 4};
    const std::optional<QByteArray> back = SealedMail::seal(receipt, bob, amy.publicKey());
    ASSERT_TRUE(back);
    const std::optional<SealedMail::Content> got = SealedMail::open(*back, amy, bob.publicKey());
    ASSERT_TRUE(got);
    EXPECT_EQ(got->kind, SealedMail::Kind::Receipt);
    EXPECT_EQ(got->receiptIds, receipt.receiptIds);
    receipt.receiptIds = QList<uint64_t>(SealedMail::MaxReceiptIds + 1, 1);
    EXPECT_FALSE(SealedMail::seal(receipt, bob, amy.publicKey()));
    receipt.receiptIds.clear();
    receipt.handle = QString(256, u'x');
    EXPECT_FALSE(SealedMail::seal(receipt, bob, amy.publicKey())) << "a handle over 255 bytes";

    // Well sealed but naming nobody as its writer.
    line.handle.clear();
    const std::optional<QByteArray> nameless = SealedMail::seal(line, amy, bob.publicKey());
    ASSERT_TRUE(nameless);
    EXPECT_FALSE(SealedMail::open(*nameless, bob, amy.publicKey()));
}
