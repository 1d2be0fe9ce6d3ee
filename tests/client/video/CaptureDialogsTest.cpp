// The driver dialogs: shown only with a source, and what the user picks reaches the source, the
// frame sender and the settings. With CONFABO_SNAPSHOT_DIR set, the dialogs and a pattern frame
// are also saved there as pictures to look at.
#include "platform/Settings.h"
#include "video/FrameSender.h"
#include "video/PatternSource.h"
#include "video/VideoCompressionDialog.h"
#include "video/VideoFormatDialog.h"
#include "video/VideoSourceDialog.h"

#include "ScriptedDialogs.h"
#include "TempConfig.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <gtest/gtest.h>

using namespace cfb;
using namespace cfb::client;

namespace {

void snapshot(QWidget& widget, const QString& name)
{
    const QString dir = qEnvironmentVariable("CONFABO_SNAPSHOT_DIR");
    if (dir.isEmpty())
        return;
    widget.adjustSize();
    widget.grab().save(QDir(dir).filePath(name + ".png"));
}

} // namespace

TEST(CaptureDialogs, NotShownWithoutASource)
{
    QString chosen = "stale";
    EXPECT_FALSE(VideoFormatDialog::showFor(nullptr, nullptr));
    EXPECT_FALSE(VideoSourceDialog::showFor(nullptr, nullptr, &chosen));
    EXPECT_TRUE(chosen.isEmpty());
    EXPECT_FALSE(VideoCompressionDialog::showFor(nullptr, nullptr));
}

TEST(CaptureDialogs, ChoicesReachTheSourceTheSenderAndTheSettings)
{
    TempConfig config;
    ScriptedDialogs dialogs;
    PatternSource pattern({160, 120}, 5);
    pattern.setHandle("Amy");

    VideoFormatDialog format(pattern);
    auto* sizes = format.findChild<QComboBox*>("cmbSize");
    ASSERT_TRUE(sizes);
    EXPECT_EQ(sizes->currentData().toSize(), QSize(160, 120));
    EXPECT_EQ(sizes->count(), PatternSource::commonSizes().size());
    snapshot(format, "video-format");
    sizes->setCurrentIndex(sizes->findData(QSize(640, 480)));
    format.findChild<QSpinBox*>("spnRate")->setValue(15);
    format.accept();
    EXPECT_EQ(pattern.frameSize(), QSize(640, 480));
    EXPECT_EQ(pattern.frameRate(), 15);
    EXPECT_EQ(Settings::VideoWidth.read(), "640");
    EXPECT_EQ(Settings::VideoHeight.read(), "480");
    EXPECT_EQ(Settings::FrameRate.read(), "15");

    Settings::ImageQuality.write("60");
    FrameSender sender;
    VideoCompressionDialog compression(&sender);
    auto* quality = compression.findChild<QSpinBox*>("spnQuality");
    ASSERT_TRUE(quality);
    EXPECT_EQ(quality->value(), 60);
    snapshot(compression, "video-compression");
    quality->setValue(40);
    // Encoding straight from the planes is the default; the exact path is the choice left.
    auto* fromPlanes = compression.findChild<QCheckBox*>("chkEncodeFromPlanes");
    ASSERT_TRUE(fromPlanes);
    EXPECT_TRUE(fromPlanes->isChecked());
    fromPlanes->setChecked(false);
    compression.accept();
    EXPECT_EQ(Settings::ImageQuality.read(), "40");
    EXPECT_EQ(sender.quality(), 40);
    EXPECT_FALSE(sender.encodeFromPlanes());
    FrameSender later;
    later.loadEncodeFromPlanes();
    EXPECT_FALSE(later.encodeFromPlanes()) << "the choice is kept";

    VideoSourceDialog source(pattern);
    EXPECT_TRUE(source.findChild<QRadioButton*>("optPattern")->isChecked());
    EXPECT_EQ(source.choice(), "pattern");
    snapshot(source, "video-source");
    dialogs.filesToOpen << "/videos/clip.y4m";
    source.findChild<QPushButton*>("cmdBrowse")->click();
    EXPECT_EQ(dialogs.fileFilters.size(), 1);
    EXPECT_TRUE(source.findChild<QRadioButton*>("optFile")->isChecked());
    EXPECT_EQ(source.choice(), "/videos/clip.y4m");
    source.accept();
    EXPECT_EQ(Settings::VideoSource.read(), "/videos/clip.y4m");
    EXPECT_EQ(source.result(), QDialog::Accepted);

    // A file option with no file keeps the dialog open and the setting as it was.
    VideoSourceDialog empty(pattern);
    empty.findChild<QRadioButton*>("optFile")->setChecked(true);
    empty.findChild<QLineEdit*>("txtFile")->clear();
    empty.accept();
    EXPECT_NE(empty.result(), QDialog::Accepted);
    EXPECT_EQ(Settings::VideoSource.read(), "/videos/clip.y4m");

    if (!qEnvironmentVariableIsEmpty("CONFABO_SNAPSHOT_DIR")) {
        sender.convert(pattern.render(0));
        QImage::fromData(const_cast<cDIBSection&>(sender.dib()).JPGBuffer())
            .save(QDir(qEnvironmentVariable("CONFABO_SNAPSHOT_DIR")).filePath("pattern.png"));
    }
}
