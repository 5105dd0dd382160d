#include "settings/kvd_settings.h"

#include "util/kvd_utils.h"

#include <QFileInfo>

namespace {

const QString kSection = QStringLiteral("main");

QString CreateFolderOf(const QString& aFileName)
{
    // The whole path: on Linux the folder that stands in for APPDATA
    // (~/.config) need not exist yet on a fresh account. The folders made here
    // hold the user's settings and log, so they are for the user alone. A
    // failure shows later as a file that cannot be written, which the settings
    // survive.
    if (!aFileName.isEmpty())
        CreatePrivateFolder(QFileInfo(NativePath(aFileName)).absolutePath());
    return aFileName;
}

} // namespace

bool ParseIniInteger(const QString& aText, int32_t& aValue)
{
    bool ok = false;
    if (aText.size() > 2 && aText[0] == QLatin1Char('0') &&
        (aText[1] == QLatin1Char('x') || aText[1] == QLatin1Char('X'))) {
        const QString digits = aText.mid(2);
        if (digits.startsWith(QLatin1Char('+')) || digits.startsWith(QLatin1Char('-')))
            return false;
        const qulonglong value = digits.toULongLong(&ok, 16);
        if (!ok || value > 0xFFFFFFFFull)
            return false;
        aValue = static_cast<int32_t>(static_cast<uint32_t>(value));
        return true;
    }
    const int value = aText.toInt(&ok, 10);
    if (ok)
        aValue = value;
    return ok;
}

TkvdSettings::TkvdSettings(const QString& aFileName) : FIni(CreateFolderOf(aFileName)) {}

TkvdSettings::~TkvdSettings()
{
    Flush();
}

void TkvdSettings::SaveAndLoad()
{
    Save();
    Load();
}

bool TkvdSettings::ReadBool(const QString& aKey, bool aDefault) const
{
    return ReadInteger(aKey, aDefault ? 1 : 0) != 0;
}

int32_t TkvdSettings::ReadInteger(const QString& aKey, int32_t aDefault) const
{
    int32_t value = aDefault;
    if (!ParseIniInteger(FIni.ReadString(kSection, aKey, QString()), value))
        return aDefault;
    return value;
}

QString TkvdSettings::ReadString(const QString& aKey, const QString& aDefault) const
{
    return FIni.ReadString(kSection, aKey, aDefault);
}

void TkvdSettings::WriteBool(const QString& aKey, bool aValue)
{
    WriteString(aKey, aValue ? QStringLiteral("1") : QStringLiteral("0"));
}

void TkvdSettings::WriteInteger(const QString& aKey, int32_t aValue)
{
    WriteString(aKey, QString::number(aValue));
}

void TkvdSettings::WriteString(const QString& aKey, const QString& aValue)
{
    FIni.WriteString(kSection, aKey, aValue);
}

QString TkvdSettings::ReadSectionString(const QString& aSection, const QString& aKey,
                                        const QString& aDefault) const
{
    return FIni.ReadString(aSection, aKey, aDefault);
}

void TkvdSettings::WriteSectionString(const QString& aSection, const QString& aKey,
                                      const QString& aValue)
{
    FIni.WriteString(aSection, aKey, aValue);
}

void TkvdSettings::Flush()
{
    FIni.Flush();
}
