#pragma once

// The sync's settings in the settings file: the collection's address, the
// user name and whether sync is on, in a section of their own ("Sync") so
// that the keys of "main" stay as they are. The password is never written
// here; it lives in the desktop's keyring (sync_ui/tasks_sync_passwords.h).

#include <QString>

struct TSyncSettings
{
    QString url;
    QString user;
    bool enabled = false;

    // Sync runs only with an address and switched on; otherwise nothing is sent.
    bool Configured() const { return enabled && !url.isEmpty(); }
    // The name of the password in the keyring: one per user and collection.
    QString PasswordKey() const { return user + QLatin1Char('@') + url; }
    bool operator==(const TSyncSettings&) const = default;
};

// From the settings object; the defaults (nothing configured) for missing keys.
TSyncSettings ReadSyncSettings();
// Into the settings object, which writes the file at once. The address and
// user name are taken without blanks around them.
void WriteSyncSettings(const TSyncSettings& aSettings);
