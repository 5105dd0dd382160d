#pragma once

#include "settings/kvd_ini.h"

#include <QString>
#include <cstdint>

// Typed keys of the section "main" of one INI file, and the load/save protocol
// of a settings class. Every write reaches the file at once; a file that cannot
// be written leaves the values in memory and the file as it was, and no write
// reports to its caller: WriteProblem tells whether the file can be written.
class TkvdSettings
{
public:
    // Creates the file's folder, and any missing folder above it, for the user
    // alone, and opens the file.
    // A derived class calls Load at the end of its own constructor.
    explicit TkvdSettings(const QString& aFileName);
    virtual ~TkvdSettings();

    TkvdSettings(const TkvdSettings&) = delete;
    TkvdSettings& operator=(const TkvdSettings&) = delete;

    virtual void Load() {}
    virtual void Save() {}
    virtual void SaveAndLoad();

    bool ReadBool(const QString& aKey, bool aDefault) const;
    int32_t ReadInteger(const QString& aKey, int32_t aDefault) const;
    QString ReadString(const QString& aKey, const QString& aDefault) const;
    void WriteBool(const QString& aKey, bool aValue);
    void WriteInteger(const QString& aKey, int32_t aValue);
    void WriteString(const QString& aKey, const QString& aValue);
    // The same for a key of another section of the file, for a facility whose
    // keys keep to a section of their own.
    QString ReadSectionString(const QString& aSection, const QString& aKey,
                              const QString& aDefault) const;
    void WriteSectionString(const QString& aSection, const QString& aKey, const QString& aValue);
    void Flush();

    const QString& FileName() const { return FIni.FileName(); }
    // Why the settings file cannot be written, in words ("the disk is full"),
    // or an empty text when it can; see TkvdIniFile::WriteProblem.
    QString WriteProblem() const { return FIni.WriteProblem(); }

private:
    TkvdIniFile FIni;
};

// Reads an integer the way the settings file holds it: decimal, or hexadecimal
// after "0x"/"0X"; false when the text is no 32-bit number.
bool ParseIniInteger(const QString& aText, int32_t& aValue);
