// Encoding straight from the planes must look as good as the exact path through the bitmap:
// both decoded pictures are measured against the bitmap Pixmill made from the same frame.
#include "video/PlanarJpegEncoder.h"
#include "video/FrameSender.h"
#include "video/PatternSource.h"

#include <QImage>
#include <gtest/gtest.h>

#include <cmath>

using namespace cfb;
using namespace cfb::client;

namespace {

double psnr(const QImage& a, const QImage& b)
{
    double squares = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                squares += double(d) * d;
        }
    const double mse = squares / (3.0 * a.width() * a.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

} // namespace

TEST(PlanarJpegEncoder, LooksAsGoodAsTheExactPath)
{
    for (int noise : {0, 12}) {
        PatternSource pattern({640, 480}, 5);
        pattern.setHandle("Amy");
        pattern.setNoise(noise);
        const I420Frame frame = pattern.render(700000);
        FrameSender exact;
        exact.setQuality(75);
        ASSERT_TRUE(exact.convert(frame)) << "is libpixmill.so beside libconfabo.so?";
        QImage bitmap(640, 480, QImage::Format_RGB32);
        exact.dib().PaintPicture(&bitmap);
        const QImage viaBitmap = QImage::fromData(const_cast<cDIBSection&>(exact.dib()).JPGBuffer());

        PlanarJpegEncoder planar;
        ASSERT_TRUE(planar.setFrame(frame));
        const QImage viaPlanes = QImage::fromData(planar.encode(75));
        ASSERT_EQ(viaPlanes.size(), QSize(640, 480));
        const double exactPsnr = psnr(bitmap, viaBitmap), planarPsnr = psnr(bitmap, viaPlanes);
        EXPECT_GT(exactPsnr, 25) << noise;
        EXPECT_GE(planarPsnr, exactPsnr - 0.5)
            << "noise " << noise << ": " << planarPsnr << " dB against " << exactPsnr;
    }
    PlanarJpegEncoder empty;
    EXPECT_TRUE(empty.encode(75).isEmpty());
    EXPECT_FALSE(empty.setFrame({}));
}
