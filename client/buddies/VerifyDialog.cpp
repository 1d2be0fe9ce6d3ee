#include "buddies/VerifyDialog.h"

#include "buddies/QrCodePicture.h"
#include "channel/SafetyNumber.h"
#include "common/LocalErrorHandler.h"
#include "messaging/Buddy.h"
#include "messaging/Confabo.h"
#include "session/ClientSession.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace cfb::client {
namespace {

constexpr int GroupsPerRow = 4;
constexpr int ModulePixels = 4;

// The 60 digits in three rows of four groups.
QString inRows(const QString& number)
{
    const QStringList groups = number.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList rows;
    for (qsizetype i = 0; i < groups.size(); i += GroupsPerRow)
        rows << groups.mid(i, GroupsPerRow).join(QLatin1Char(' '));
    return rows.join(QLatin1Char('\n'));
}

} // namespace

VerifyDialog::VerifyDialog(ClientSession& session, std::shared_ptr<cfb::Buddy> buddy, QWidget* owner)
    : QDialog(owner)
    , session_(session)
    , buddy_(std::move(buddy))
    , handle_(buddy_ ? buddy_->handle() : QString())
{
    setObjectName(QStringLiteral("VerifyDialog"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowTitle(QStringLiteral("Verify %1").arg(handle_));

    explanation_ = new QLabel(this);
    explanation_->setObjectName(QStringLiteral("lblExplanation"));
    explanation_->setWordWrap(true);
    explanation_->setMinimumWidth(300);
    digits_ = new QLabel(this);
    digits_->setObjectName(QStringLiteral("lblSafetyNumber"));
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSizeF(fixed.pointSizeF() * 1.25);
    digits_->setFont(fixed);
    digits_->setAlignment(Qt::AlignCenter);
    digits_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    code_ = new QLabel(this);
    code_->setObjectName(QStringLiteral("imgSafetyCode"));
    code_->setAlignment(Qt::AlignCenter);
    verified_ = new QCheckBox(QStringLiteral("Verified"), this);
    verified_->setObjectName(QStringLiteral("chkVerified"));
    accept_ = new QPushButton(QStringLiteral("Accept New Key"), this);
    accept_->setObjectName(QStringLiteral("cmdAcceptKey"));
    accept_->setAutoDefault(false);
    forget_ = new QPushButton(QStringLiteral("Forget Key"), this);
    forget_->setObjectName(QStringLiteral("cmdForgetKey"));
    forget_->setAutoDefault(false);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("cmdClose"));
    close->setDefault(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(accept_);
    buttons->addWidget(forget_);
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(explanation_);
    layout->addWidget(digits_);
    layout->addWidget(code_);
    layout->addWidget(verified_);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(verified_, &QCheckBox::toggled, this, [this](bool on) {
        if (Confabo* library = session_.library())
            library->setVerified(handle_, on);
    });
    connect(accept_, &QPushButton::clicked, this, [this] {
        withErrorReport("Accept New Key", [this] {
            if (Confabo* library = session_.library())
                library->acceptKey(handle_);
            refresh();
        });
    });
    connect(forget_, &QPushButton::clicked, this, [this] {
        withErrorReport("Forget Key", [this] {
            if (Confabo* library = session_.library())
                library->forgetKey(handle_);
            refresh();
        });
    });
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    previousWindow_ = session_.currentWindow();
    session_.setCurrentWindow(this);
    refresh();
}

VerifyDialog::~VerifyDialog() = default;

void VerifyDialog::done(int result)
{
    session_.setCurrentWindow(previousWindow_);
    QDialog::done(result);
}

void VerifyDialog::refresh()
{
    Confabo* library = session_.library();
    const SecurityMark::State state
        = library && buddy_ ? SecurityMark::of(*library, *buddy_) : SecurityMark::State::OwnKeyMissing;
    QString number;
    QString text;
    switch (state) {
    case SecurityMark::State::Encrypted:
        number = library->safetyNumber(handle_);
        text = QStringLiteral("Compare these numbers with %1, in person or on a call. If they match, nobody "
                              "stands between you, the service included.")
                   .arg(handle_);
        break;
    case SecurityMark::State::KeyChanged:
        // The number of the key the service publishes now, which Accept New Key takes.
        if (const std::optional<Key32> own = library->publicKey(), theirs = buddy_->knownPublicKey().key; own && theirs)
            number = SafetyNumber::of(*own, *theirs);
        text = QStringLiteral("%1's security key changed: nothing is sent to or taken from %1 until you accept "
                              "the new key. Compare these numbers for the new key with %1, in person or on a "
                              "call, before you do.")
                   .arg(handle_);
        break;
    case SecurityMark::State::KeyMissing:
        text = QStringLiteral("%1 no longer has a security key: their unencrypted messages are refused. Forget Key "
                              "takes them again, unencrypted.")
                   .arg(handle_);
        break;
    case SecurityMark::State::Plain:
        break;
    case SecurityMark::State::OwnKeyMissing:
        text
            = QStringLiteral("Your Confabo has no usable security key: messages to %1 are not encrypted.").arg(handle_);
        if (library && !library->identityProblem().isEmpty())
            text += QStringLiteral("\n\n") + library->identityProblem();
        break;
    }
    if (state == SecurityMark::State::Plain || (state == SecurityMark::State::Encrypted && number.isEmpty()))
        text = QStringLiteral("%1 has no security key: messages to them are not encrypted.").arg(handle_);
    explanation_->setText(text);
    showNumber(number);
    const bool comparable = state == SecurityMark::State::Encrypted && !number.isEmpty();
    {
        const QSignalBlocker quiet(verified_);
        verified_->setChecked(comparable && library->isVerified(handle_));
    }
    verified_->setVisible(comparable);
    accept_->setVisible(state == SecurityMark::State::KeyChanged);
    forget_->setVisible(state == SecurityMark::State::KeyMissing);
}

void VerifyDialog::showNumber(const QString& number)
{
    number_ = number;
    digits_->setText(inRows(number));
    digits_->setVisible(!number.isEmpty());
    const QImage code = QrCodePicture::of(QString(number).remove(QLatin1Char(' ')), ModulePixels);
    code_->setPixmap(code.isNull() ? QPixmap() : QPixmap::fromImage(code));
    code_->setVisible(!code.isNull());
}

} // namespace cfb::client
