#pragma once

#include <QString>

namespace cfb::client {

// Starting the program when the user logs in, through the desktop's autostart folder
// ($XDG_CONFIG_HOME/autostart): one desktop entry named Confabo.desktop. The entry only ever names
// the installed `confabo`: a program in a build tree moves or goes away, and a session that starts
// it would fail at every log-in.
class AutoStart {
public:
    // The entry's path.
    static QString entryPath();
    // The installed `confabo`: the one in the folder this build installs to, else the first one on
    // $PATH; empty when Confabo is not installed.
    static QString installedProgram();
    // Writes the entry so the session starts the installed program. False when there is none or
    // the file cannot be written.
    static bool enable();
    // Removes the entry; true when none is left.
    static bool disable();
    static bool isEnabled();
    // The Exec value that starts program: quoted as desktop entries require.
    static QString execLine(const QString& program);
};

} // namespace cfb::client
