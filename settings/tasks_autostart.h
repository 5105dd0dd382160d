#pragma once

// Start at login: the entry that has the desktop start Ulmora, hidden in the
// tray, when the user logs in. On Linux it is the XDG autostart entry
// "$XDG_CONFIG_HOME/autostart/io.github.ulmora.Ulmora.desktop". The entry
// itself is the setting: it is read from there and kept nowhere else, so
// that the desktop's own list of startup programs and the settings dialog
// never disagree.

#include <QString>

// The application id that names the program's desktop entries.
inline const QString kTasksAppId = QStringLiteral("io.github.ulmora.Ulmora");
// The option that starts the program hidden in the tray.
inline const QString kStartHiddenOption = QStringLiteral("--hidden");

// Whether the platform has such an entry; the settings dialog offers it only then.
bool StartAtLoginSupported();
// Where the entry lives; empty without one.
QString StartAtLoginEntry();
// Whether the entry is there and in effect (not switched off by the desktop).
bool StartsAtLogin();
// Writes the entry, which starts aProgram hidden in the tray, or removes it.
// False, with aError naming the file and the cause, when that cannot be
// done; the entry is then as it was.
bool SetStartAtLogin(bool aOn, const QString& aProgram, QString& aError);

// The program the entry starts: the running one, unless another was set.
QString StartAtLoginProgram();
// Sets the program the entry starts; empty goes back to the running one.
void SetStartAtLoginProgram(const QString& aProgram);
