#include "session/SecurityMark.h"

#include "messaging/Buddy.h"
#include "messaging/Confabo.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace cfb::client::SecurityMark {
namespace {

const QColor EncryptedBody(0x3a, 0x9a, 0x5b);
const QColor EncryptedEdge(0x1f, 0x5e, 0x36);
const QColor PlainBody(0xd9, 0x90, 0x2a);
const QColor PlainEdge(0x80, 0x50, 0x10);
const QColor RefusedBody(0xc0, 0x39, 0x2b);
const QColor RefusedEdge(0x70, 0x1c, 0x14);
const QColor Shackle(0x50, 0x50, 0x50);

} // namespace

State of(cfb::Confabo& library, cfb::Buddy& user)
{
    switch (library.security(user)) {
    case PeerSecurity::Encrypted:
        return State::Encrypted;
    case PeerSecurity::Plain:
        return library.hasIdentity() ? State::Plain : State::OwnKeyMissing;
    case PeerSecurity::Refused:
        break;
    }
    // Held back: the service publishes another key than the pinned one, or none at all.
    return user.knownPublicKey().key ? State::KeyChanged : State::KeyMissing;
}

QString explanation(State state, const QString& handle)
{
    switch (state) {
    case State::Encrypted:
        return QStringLiteral("Messages to %1 are encrypted end to end. Compare the safety number (Verify...) to "
                              "be sure nobody stands between you.")
            .arg(handle);
    case State::Plain:
        return QStringLiteral("Messages to %1 are not encrypted: their Confabo has no security key.").arg(handle);
    case State::OwnKeyMissing:
        return QStringLiteral("Messages to %1 are not encrypted: your Confabo has no usable security key.").arg(handle);
    case State::KeyChanged:
        return QStringLiteral("Nothing is sent to or taken from %1: their security key changed. Compare the safety "
                              "number with %1 (Verify...) before you accept the new key.")
            .arg(handle);
    case State::KeyMissing:
        return QStringLiteral("Nothing is sent to or taken from %1: they had a security key and now come without "
                              "one. Forget Key (Verify...) takes their unencrypted messages again.")
            .arg(handle);
    }
    return {};
}

QString caption(State state)
{
    switch (state) {
    case State::Encrypted:
        return QStringLiteral("Encrypted");
    case State::Plain:
    case State::OwnKeyMissing:
        return QStringLiteral("Not encrypted");
    case State::KeyChanged:
        return QStringLiteral("Key changed");
    case State::KeyMissing:
        return QStringLiteral("Key missing");
    }
    return {};
}

QPixmap badge(State state, int size)
{
    if (size <= 0)
        return {};
    const bool plain = state == State::Plain || state == State::OwnKeyMissing;
    const bool encrypted = state == State::Encrypted;
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    p.drawEllipse(QRectF(0, 0, s, s));

    // The shackle: closed, or lifted out of the body on its right.
    const qreal left = 0.33 * s, right = 0.67 * s, lift = plain ? 0.12 * s : 0.0;
    QPainterPath shackle;
    shackle.moveTo(left, 0.5 * s);
    shackle.lineTo(left, 0.36 * s - lift);
    shackle.arcTo(QRectF(left, 0.2 * s - lift, right - left, 0.32 * s), 180, -180);
    shackle.lineTo(right, (plain ? 0.4 : 0.5) * s - lift);
    p.setPen(QPen(Shackle, std::max(1.5, 0.09 * s), Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(shackle);

    p.setPen(QPen(encrypted ? EncryptedEdge : plain ? PlainEdge : RefusedEdge, std::max(1.0, 0.05 * s)));
    p.setBrush(encrypted ? EncryptedBody : plain ? PlainBody : RefusedBody);
    p.drawRoundedRect(QRectF(0.24 * s, 0.46 * s, 0.52 * s, 0.36 * s), 0.06 * s, 0.06 * s);
    if (!plain && !encrypted) {
        // A bar across the body: nothing passes.
        p.setPen(QPen(Qt::white, std::max(1.5, 0.08 * s), Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(0.36 * s, 0.64 * s), QPointF(0.64 * s, 0.64 * s));
    }
    return picture;
}

} // namespace cfb::client::SecurityMark
