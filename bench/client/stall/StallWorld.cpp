#include "StallWorld.h"

#include "ClientProfile.h"
#include "FreeDataPort.h"

#include "chat/PictureFrame.h"
#include "messaging/Confabo.h"
#include "platform/Settings.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

const QStringList StallWorld::Buddies
    = {QStringLiteral("amelia"), QStringLiteral("bertram"), QStringLiteral("desmond")};
const QString StallWorld::User = QStringLiteral("cordelia");

StallWorld::StallWorld(int guests)
{
    if (!service.isRunning())
        problem_ = service.errorText();
    else if (!setUp(guests) && problem_.isEmpty())
        problem_ = QStringLiteral("set-up failed");
}

StallWorld::~StallWorld() = default;

bool StallWorld::setUp(int guests)
{
    namespace Settings = cfb::Settings;
    ClientProfile::write(service, User);
    Settings::VideoSource.write(QStringLiteral("camera:no-such-device"));
    QStringList everyone = Buddies;
    everyone << User;
    for (int i = 0; i < guests; ++i)
        everyone << QStringLiteral("guest%1").arg(i);
    for (const QString& handle : everyone) {
        auto user = ClientProfile::registerUser(files.path(), handle, 0xff406080);
        if (!user) {
            problem_ = QStringLiteral("cannot register %1").arg(handle);
            return false;
        }
        if (Buddies.contains(handle))
            buddies_[handle] = std::move(user);
    }
    {
        cfb::Confabo cordelia;
        if (!cordelia.Login(User, ClientProfile::password(User), QStringLiteral("127.0.0.1"))) {
            problem_ = QStringLiteral("cordelia cannot sign in");
            return false;
        }
        for (const QString& buddy : Buddies)
            if (cordelia.AddBuddy(buddy) != buddy) {
                problem_ = QStringLiteral("cordelia cannot add %1").arg(buddy);
                return false;
            }
        cordelia.Logout();
    }
    // Each buddy signs in at an address of its own, where its ear listens on the shared data port.
    dataPort_ = quint16(freeDataPort().toUInt());
    ears = std::make_unique<BuddyEars>(int(Buddies.size()), dataPort_);
    if (!dataPort_ || !ears->listening()) {
        problem_ = QStringLiteral("the buddies' data port cannot be opened");
        return false;
    }
    for (int i = 0; i < Buddies.size(); ++i)
        if (!buddies_[Buddies[i]]->Login(Buddies[i], ClientProfile::password(Buddies[i]), BuddyEars::address(i))) {
            problem_ = QStringLiteral("%1 cannot sign in").arg(Buddies[i]);
            return false;
        }
    // The window's data port: the same port at its own address.
    Settings::BlockAllData.erase();
    Settings::DataAddress.write(QStringLiteral("127.0.0.1"));
    Settings::DataPort.write(QString::number(dataPort_));
    Settings::Taskbar.write(QStringLiteral("1"));
    // A silent service costs a request these three at most.
    Settings::ConnectTimeout.write(QStringLiteral("1000"));
    Settings::SendTimeout.write(QStringLiteral("1000"));
    Settings::ReceiveTimeout.write(QStringLiteral("1000"));
    Settings::ServiceHost.write(proxy.serverSetting());
    return writePicture(QStringLiteral("picture 640x480"), QSize(640, 480))
        && writePicture(QStringLiteral("picture 4032x3024"), QSize(4032, 3024));
}

QString StallWorld::nextGuest()
{
    return QStringLiteral("guest%1").arg(guestsUsed_++);
}

// A photograph's worth of detail: smooth shading, a few shapes and a little sensor noise.
bool StallWorld::writePicture(const QString& name, QSize size)
{
    QImage photo(size, QImage::Format_RGB32);
    QRandomGenerator noise(7);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(photo.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const double u = double(x) / size.width(), v = double(y) / size.height();
            const int n = int(noise.bounded(9)) - 4;
            row[x] = qRgb(std::clamp(int(120 + 90 * std::sin(6 * u + v)) + n, 0, 255),
                std::clamp(int(110 + 80 * std::cos(4 * v - u)) + n, 0, 255),
                std::clamp(int(150 * (1 - v)) + 60 + n, 0, 255));
        }
    }
    QPainter painter(&photo);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 12; ++i) {
        painter.setBrush(QColor::fromHsv((i * 37) % 360, 160, 200));
        painter.setPen(Qt::NoPen);
        const int r = size.width() / (8 + i);
        painter.drawEllipse(QPoint((i * 331) % size.width(), (i * 197) % size.height()), r, r);
    }
    painter.end();
    const QString path = files.filePath(name.section(QLatin1Char(' '), 1) + QStringLiteral(".jpg"));
    if (!photo.save(path, "JPEG", 90)) {
        problem_ = QStringLiteral("cannot write %1").arg(path);
        return false;
    }
    pictures.append(
        {name, path, cfb::client::PictureFrame::prepare(path, cfb::client::PictureFrame::chosenQuality(), User).frame});
    return !pictures.last().frame.isEmpty();
}
