#include "settings/tasks_sync_settings.h"

#include "settings/tasks_settings.h"

namespace {

const QString kSection = QStringLiteral("Sync");
const QString kKeyUrl = QStringLiteral("url");
const QString kKeyUser = QStringLiteral("user");
const QString kKeyEnabled = QStringLiteral("enabled");

} // namespace

TSyncSettings ReadSyncSettings()
{
    TSyncSettings result;
    const TtasksSettings* settings = GetTasksSettings();
    if (!settings)
        return result;
    result.url = settings->ReadSectionString(kSection, kKeyUrl, QString()).trimmed();
    result.user = settings->ReadSectionString(kSection, kKeyUser, QString()).trimmed();
    int32_t enabled = 0;
    result.enabled =
        ParseIniInteger(settings->ReadSectionString(kSection, kKeyEnabled, QString()), enabled) &&
        enabled != 0;
    return result;
}

void WriteSyncSettings(const TSyncSettings& aSettings)
{
    TtasksSettings* settings = GetTasksSettings();
    if (!settings)
        return;
    TSyncSettings wanted = aSettings;
    wanted.url = wanted.url.trimmed();
    wanted.user = wanted.user.trimmed();
    // A file without the section and a user who never set sync up: the file
    // stays as it was, byte for byte.
    if (wanted == ReadSyncSettings())
        return;
    settings->WriteSectionString(kSection, kKeyUrl, wanted.url);
    settings->WriteSectionString(kSection, kKeyUser, wanted.user);
    settings->WriteSectionString(kSection, kKeyEnabled,
                                 wanted.enabled ? QStringLiteral("1") : QStringLiteral("0"));
}
