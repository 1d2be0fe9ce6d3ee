// The account rules both modes of the setup dialog use, without a window or a service.
#include "messaging/Confabo.h"
#include "setup/AccountForm.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace cfb;
using namespace cfb::client;

namespace {

using Mode = AccountForm::Mode;

AccountForm newAccount(const QString& handle, const QString& password, const QString& confirmation,
    const QString& email = QStringLiteral("newuser1@example.org"), const QString& avatar = QString())
{
    return {.mode = Mode::Registration,
        .typedHandle = handle,
        .typedPassword = password,
        .typedConfirmation = confirmation,
        .typedEmail = email,
        .avatarPath = avatar};
}

AccountForm profileChange(const QString& password, const QString& confirmation)
{
    AccountForm form = newAccount(QStringLiteral("carolyn"), password, confirmation);
    form.mode = Mode::Profile;
    return form;
}

QString refusal(const AccountForm::Check& check)
{
    return check ? check->title + ": " + check->text : QString();
}

QString fileOfSize(const QTemporaryDir& folder, const QString& name, qint64 bytes)
{
    QFile file(folder.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(bytes, 'x')) != bytes)
        return {};
    return file.fileName();
}

TEST(AccountFormTest, HandleAndPasswordLengthsAreCountedOnceTrimmedAndWordedByMode)
{
    EXPECT_EQ(refusal(newAccount(" abcde ", "secret1", "secret1").checkHandle()),
        "Handle Not Accepted: The handle must be between 6 and 30 characters long.");
    EXPECT_FALSE(newAccount("abcdef", "secret1", "secret1").checkHandle());
    EXPECT_FALSE(newAccount(QString(30, 'h'), "secret1", "secret1").checkHandle());
    EXPECT_TRUE(newAccount(QString(31, 'h'), "secret1", "secret1").checkHandle());
    EXPECT_EQ(newAccount("  newuser1 ", "secret1", "secret1").handle(), "newuser1");

    // The same five-letter password, refused in the words of each mode.
    EXPECT_EQ(refusal(newAccount("newuser1", " short ", "short").checkPassword()),
        "Password Not Accepted: The password must be between 6 and 30 characters long.");
    EXPECT_EQ(refusal(profileChange("short", "short").checkPassword()),
        "Password Not Accepted: The password must be at least 6 characters.");
    const QString longest(30, 'p');
    EXPECT_FALSE(newAccount("newuser1", longest, longest).checkPassword());
    EXPECT_FALSE(profileChange(longest, longest).checkPassword());
    EXPECT_TRUE(newAccount("newuser1", longest + "p", longest + "p").checkPassword());
    EXPECT_EQ(refusal(profileChange(longest + "p", longest + "p").checkPassword()),
        "Password Not Accepted: The password must be at least 6 characters.")
        << "the profile's rule has an upper limit too";
}

TEST(AccountFormTest, ANewAccountComparesTheConfirmationTrimmedAProfileAsTyped)
{
    const QString mismatch = "Password Not Accepted: The password and confirm password fields do not match.";
    EXPECT_FALSE(newAccount("newuser1", " secret1 ", "secret1").checkPassword());
    EXPECT_EQ(newAccount("newuser1", " secret1 ", "secret1").password(), "secret1");
    EXPECT_EQ(refusal(newAccount("newuser1", "secret1", "secret2").checkPassword()), mismatch);
    EXPECT_EQ(refusal(profileChange(" secret1 ", "secret1").checkPassword()), mismatch);
    EXPECT_EQ(refusal(profileChange("newpass1", "newpass2").checkPassword()), mismatch);
    EXPECT_FALSE(profileChange(" newpass1", " newpass1").checkPassword());
}

TEST(AccountFormTest, EmailRuleCountsLengthAndForbidsSpacesAndCommasOnly)
{
    EXPECT_FALSE(AccountForm::isValidEmail("a@b.cde")) << "7 characters";
    EXPECT_TRUE(AccountForm::isValidEmail("a@b.cdef"));
    EXPECT_TRUE(AccountForm::isValidEmail("  a@b.cdef  ")) << "trimmed first";
    EXPECT_FALSE(AccountForm::isValidEmail("carolyn @example.org"));
    EXPECT_FALSE(AccountForm::isValidEmail("carolyn,x@example.org"));
    EXPECT_FALSE(AccountForm::isValidEmail("carolyn.example.org"));
    EXPECT_TRUE(AccountForm::isValidEmail("first.last@")) << "order and place of @ and . are free";
    const QString domain = "@example.org";
    EXPECT_TRUE(AccountForm::isValidEmail(QString(120 - domain.size(), 'm') + domain));
    EXPECT_FALSE(AccountForm::isValidEmail(QString(121 - domain.size(), 'm') + domain));
    EXPECT_EQ(refusal(newAccount("newuser1", "secret1", "secret1", " a@b.cde ").checkEmail()),
        "Invalid Email Address: The email address is invalid.");
}

TEST(AccountFormTest, TheAvatarFileMustExistAndFitAndANewAccountIsToldTheFirstFault)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString exact = fileOfSize(folder, "exact.jpg", Confabo::MaxAvatarSize);
    const QString tooBig = fileOfSize(folder, "big.jpg", Confabo::MaxAvatarSize + 1);
    ASSERT_FALSE(exact.isEmpty());
    ASSERT_FALSE(tooBig.isEmpty());
    const auto withAvatar = [](const QString& path) {
        return newAccount("newuser1", "secret1", "secret1", "newuser1@example.org", path);
    };
    EXPECT_FALSE(withAvatar(QString()).checkAvatar()) << "no picture is no fault";
    EXPECT_FALSE(withAvatar(exact).checkAvatar());
    EXPECT_EQ(refusal(withAvatar(tooBig).checkAvatar()),
        "Invalid Avatar File: The avatar image must be less than 120000 bytes.");
    EXPECT_EQ(refusal(withAvatar(folder.filePath("none.jpg")).checkAvatar()),
        "File Not Found: The avatar file was not found.");
    EXPECT_EQ(refusal(withAvatar(folder.path()).checkAvatar()), "File Not Found: The avatar file was not found.")
        << "a folder is no picture";

    EXPECT_FALSE(withAvatar(exact).checkNewAccount());
    // Every field wrong: the handle is named first, then the password, the avatar, the e-mail.
    AccountForm form = newAccount("abc", "abc", "abd", "a@b", folder.filePath("none.jpg"));
    EXPECT_EQ(form.checkNewAccount(), form.checkHandle());
    form.typedHandle = "newuser1";
    EXPECT_EQ(form.checkNewAccount(), form.checkPassword());
    form.typedPassword = form.typedConfirmation = "secret1";
    EXPECT_EQ(refusal(form.checkNewAccount()), "File Not Found: The avatar file was not found.");
    form.avatarPath.clear();
    EXPECT_EQ(refusal(form.checkNewAccount()), "Invalid Email Address: The email address is invalid.");
}

} // namespace
