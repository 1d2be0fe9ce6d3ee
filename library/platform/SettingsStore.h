#pragma once

#include <QString>

namespace cfb {

// The per-user settings store: text values addressed by (section, key) under the application
// title "Confabo", kept in $XDG_CONFIG_HOME/Confabo/Confabo.ini. Any section or key name works,
// including ones holding '/', '\', '=' or '[' (a section per buddy handle relies on that). The
// folder is the owner's alone (0700) and the file too (0600).
class SettingsStore {
public:
    static constexpr const char* AppTitle = "Confabo";

    // The INI file the store lives in; follows $XDG_CONFIG_HOME at every call.
    static QString filePath();

    static QString get(const QString& section, const QString& key, const QString& defaultValue);
    static void save(const QString& section, const QString& key, const QString& value);
    static void remove(const QString& section, const QString& key);
};

} // namespace cfb
