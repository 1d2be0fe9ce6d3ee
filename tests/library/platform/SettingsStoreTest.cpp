#include "platform/SettingsStore.h"

#include "TempConfig.h"

#include <QFile>
#include <gtest/gtest.h>

using cfb::SettingsStore;

TEST(SettingsStore, ReadNamesItsDefaultAndWritesPersist)
{
    TempConfig config;
    EXPECT_EQ(SettingsStore::get("Data", "DataPort", "80"), "80");
    SettingsStore::save("Data", "DataPort", "5150");
    EXPECT_EQ(SettingsStore::get("Data", "DataPort", "80"), "5150");
    EXPECT_TRUE(QFile::exists(config.path() + "/config/Confabo/Confabo.ini"));

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
