#include "imaging/PixmillLoader.h"

#include <QFileInfo>

#include <dlfcn.h>

namespace cfb {

QStringList PixmillLoader::candidates()
{
    const QString name = QStringLiteral("libpixmill.so");
    QStringList files;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&PixmillLoader::candidates), &info) != 0 && info.dli_fname)
        files << QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath() + QLatin1Char('/') + name;
    files << name;
    return files;
}

PixmillLoader::YUVFrameFn PixmillLoader::loadFrom(const QStringList& files)
{
    for (const QString& file : files) {
        void* handle = dlopen(file.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            continue;
        if (void* symbol = dlsym(handle, "YUVFrame"))
            return reinterpret_cast<YUVFrameFn>(symbol); // the library stays loaded for good
        dlclose(handle);
    }
    return nullptr;
}

PixmillLoader::YUVFrameFn PixmillLoader::yuvFrame()
{
    static const YUVFrameFn fn = loadFrom(candidates());
    return fn;
}

} // namespace cfb
