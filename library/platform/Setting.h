#pragma once

#include <QString>

namespace cfb {

// One entry of the per-user settings store: its section, key and the default a read returns
// when the key is missing. Every setting the programs read is declared once in Settings.h.
struct Setting {
    const char* section;
    const char* key;
    const char* defaultValue;

    QString read() const;
    // Some windows read a setting with a default of their own (the setup dialog's frame rate
    // is "10" where the main window's is "5"); those reads name it here.
    QString read(const QString& windowDefault) const;
    void write(const QString& value) const;
    void erase() const;
};

// A setting kept in a section named after a buddy's handle (the buddy's voice).
struct BuddySetting {
    const char* key;
    const char* defaultValue;

    QString read(const QString& handle) const;
    void write(const QString& handle, const QString& value) const;
};

} // namespace cfb
