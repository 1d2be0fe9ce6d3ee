#include "platform/SettingsStore.h"

#include "TempConfig.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <sys/stat.h>

using cfb::SettingsStore;

TEST(SettingsStore, ReadNamesItsDefaultAndWritesPersist)
{
    TempConfig config;
    EXPECT_EQ(SettingsStore::get("Data", "DataPort", "80"), "80");
    SettingsStore::save("Data", "DataPort", "5150");
    EXPECT_EQ(SettingsStore::get("Data", "DataPort", "80"), "5150");
    const QString file = config.path() + "/config/Confabo/Confabo.ini";
    EXPECT_TRUE(QFile::exists(file));
    // It holds the enciphered password: nobody else on the machine may read it, nor the folder.
    const auto mode = [](const QString& path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0777u;
    };
    EXPECT_EQ(mode(file), 0600u);
    EXPECT_EQ(mode(config.path() + "/config/Confabo"), 0700u);

    SettingsStore::remove("Data", "DataPort");
    EXPECT_EQ(SettingsStore::get("Data", "DataPort", "80"), "80");
    // Removing what is not there is harmless.
    SettingsStore::remove("Data", "DataPort");
    SettingsStore::remove("Nowhere", "Nothing");
}

TEST(SettingsStore, EmptyValueIsAValueNotTheDefault)
{
    TempConfig config;
    SettingsStore::save("Data", "hostname", "");
    EXPECT_EQ(SettingsStore::get("Data", "hostname", "fallback"), "");
}

TEST(SettingsStore, SectionsNamedAfterOddHandlesStayOneSectionAndRoundTrip)
{
    TempConfig config;
    const QStringList handles
        = {"a/b", "a\\b", "x=y", "[br]", "50%", "%2F", "a/b/c\\d", "ünï cödé", "Data/Polling Interval"};
    for (const QString& h : handles)
        SettingsStore::save(h, "Sound", "value of " + h);
    for (const QString& h : handles)
        EXPECT_EQ(SettingsStore::get(h, "Sound", "none"), "value of " + h) << h.toStdString();

    // A handle that looks like a section path must not reach into that section.
    EXPECT_EQ(SettingsStore::get("Data", "Polling Interval", "30"), "30");
    EXPECT_EQ(SettingsStore::get("a", "b/Sound", "none"), "none");

    SettingsStore::remove("a/b", "Sound");
    EXPECT_EQ(SettingsStore::get("a/b", "Sound", "none"), "none");
    EXPECT_EQ(SettingsStore::get("a\\b", "Sound", "none"), "value of a\\b");
}

TEST(SettingsStore, KeysAndValuesWithSpecialCharactersRoundTrip)
{
    TempConfig config;
    SettingsStore::save("Debug", "Block All Data", "True");
    SettingsStore::save("Data", "key=with;odd#chars", "line1\nline2 ; # = \"q\"");
    EXPECT_EQ(SettingsStore::get("Debug", "Block All Data", "False"), "True");
    EXPECT_EQ(SettingsStore::get("Data", "key=with;odd#chars", ""), "line1\nline2 ; # = \"q\"");
}

TEST(SettingsStore, FollowsConfigHomeAtEveryCall)
{
    {
        TempConfig first;
        SettingsStore::save("Data", "CFBSERVER", "first.example");
    }
    TempConfig second;
    EXPECT_EQ(SettingsStore::get("Data", "CFBSERVER", "unset"), "unset");
}

TEST(SettingsStore, AProfileAnEarlierVersionLeftReadableIsMadePrivate)
{
    TempConfig config;
    const QString folder = config.path() + "/config/Confabo";
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile file(folder + "/Confabo.ini");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Data]\npassword=0A1B2C3D4E5F6071\n");
    file.close();
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    ::chmod(QFile::encodeName(file.fileName()).constData(), 0644);
    EXPECT_EQ(SettingsStore::get("Data", "password", ""), "0A1B2C3D4E5F6071") << "reading alone mends it";
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file.fileName()).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}
