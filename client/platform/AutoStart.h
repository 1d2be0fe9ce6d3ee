#pragma once

#include <QString>

namespace cfb::client {

// Starting the program when the user logs in, through the desktop's autostart folder
// ($XDG_CONFIG_HOME/autostart): one desktop entry named Confabo.desktop.
class AutoStart {
public:
    // The entry's path.
    static QString entryPath();
    // Writes the entry so the session starts `program` (the running program when empty). False
    // when the file cannot be written.
    static bool enable(const QString& program = QString());
    // Removes the entry; true when none is left.
    static bool disable();
    static bool isEnabled();
    // The Exec value that starts program: quoted as desktop entries require.
    static QString execLine(const QString& program);
};

} // namespace cfb::client
