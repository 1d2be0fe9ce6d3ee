#include "video/CaptureSourceFactory.h"

#include "platform/Settings.h"
#include "video/CameraSource.h"
#include "video/PatternSource.h"
#include "video/Y4mSource.h"

#include <QCoreApplication>
#include <QMediaDevices>

namespace cfb::client {
namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("CaptureSourceFactory", text);
}

bool missing(const Setting& setting)
{
    return setting.read(QString()).isEmpty();
}

// Never set: the size and rate VP8 sends at (JPEG then goes at the settings' defaults).
QSize configuredSize()
{
    if (missing(Settings::VideoWidth) && missing(Settings::VideoHeight))
        return Vp8DefaultSize;
    const QSize size(Settings::VideoWidth.read().toInt(), Settings::VideoHeight.read().toInt());
    return CaptureSource::isUsableSize(size) ? size : QSize(160, 120);
}

int configuredRate()
{
    if (missing(Settings::FrameRate))
        return Vp8DefaultRate;
    const int rate = Settings::FrameRate.read().toInt();
    return rate >= CaptureSource::MinRate && rate <= CaptureSource::MaxRate ? rate : 5;
}

} // namespace

std::unique_ptr<CaptureSource> createCaptureSource(
    const QString& commandLineOption, const QString& handle, QString* error)
{
    QString unused;
    QString& why = error ? *error : unused;
    why.clear();
    const QString choice = (commandLineOption.isEmpty() ? Settings::VideoSource.read() : commandLineOption).trimmed();
    const QSize size = configuredSize();
    const int rate = configuredRate();

    if (choice.isEmpty() || choice.compare(QLatin1String("camera"), Qt::CaseInsensitive) == 0) {
        const QList<QCameraDevice> cameras = QMediaDevices::videoInputs();
        if (cameras.isEmpty())
            return nullptr;
        return std::make_unique<CameraSource>(cameras.first(), size, rate);
    }
    if (choice.startsWith(QLatin1String("camera:"), Qt::CaseInsensitive)) {
        const QByteArray id = choice.mid(7).toUtf8();
        for (const QCameraDevice& camera : QMediaDevices::videoInputs())
            if (camera.id() == id)
                return std::make_unique<CameraSource>(camera, size, rate);
        why = tr("The video camera %1 is not connected.").arg(QString::fromUtf8(id));
        return nullptr;
    }
    if (choice.compare(QLatin1String("pattern"), Qt::CaseInsensitive) == 0) {
        auto pattern = std::make_unique<PatternSource>(size, rate);
        pattern->setHandle(handle);
        return pattern;
    }
    auto file = std::make_unique<Y4mSource>(choice, size, rate);
    if (!file->open()) {
        why = file->errorString();
        return nullptr;
    }
    return file;
}

std::pair<QSize, int> jpegFormatBesideVp8()
{
    QSize size;
    int rate = 0;
    if (missing(Settings::VideoWidth) && missing(Settings::VideoHeight))
        size = QSize(Settings::VideoWidth.read().toInt(), Settings::VideoHeight.read().toInt());
    if (missing(Settings::FrameRate))
        rate = Settings::FrameRate.read().toInt();
    return {size, rate};
}

QString videoSourceOption(const QStringList& arguments)
{
    static const QString name = QStringLiteral("--video-source");
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == name)
            return i + 1 < arguments.size() ? arguments[i + 1] : QString();
        if (argument.startsWith(name + QLatin1Char('=')))
            return argument.mid(name.size() + 1);
    }
    return {};
}

} // namespace cfb::client
