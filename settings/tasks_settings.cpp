#include "settings/tasks_settings.h"

#include "util/kvd_utils.h"
#include "util/tasks_log.h"

#include <QFileInfo>
#include <memory>

QString db_file = TasksDefaults::db_file;
int night_hours_from = TasksDefaults::night_hours_from;
int night_hours_to = TasksDefaults::night_hours_to;
QString theme = TasksDefaults::theme;
int default_duedatetime = TasksDefaults::default_duedatetime;
int time_granularity = TasksDefaults::time_granularity;
bool close_minimizes = TasksDefaults::close_minimizes;

namespace {

std::unique_ptr<TtasksSettings>& Instance()
{
    static std::unique_ptr<TtasksSettings> instance;
    return instance;
}

bool IsHour(int aValue)
{
    return aValue >= 0 && aValue <= 23;
}

} // namespace

int NightHoursFrom()
{
    return IsHour(night_hours_from) ? night_hours_from : TasksDefaults::night_hours_from;
}

int NightHoursTo()
{
    return IsHour(night_hours_to) ? night_hours_to : TasksDefaults::night_hours_to;
}

int TimeGranularity()
{
    return time_granularity >= 1 && time_granularity <= 1440 ? time_granularity
                                                             : TasksDefaults::time_granularity;
}

TDueChoice DefaultDueDateTime()
{
    const bool known = default_duedatetime >= static_cast<int>(TDueChoice::Unplanned) &&
                       default_duedatetime <= static_cast<int>(TDueChoice::Exact);
    return static_cast<TDueChoice>(known ? default_duedatetime
                                         : TasksDefaults::default_duedatetime);
}

TtasksSettings::TtasksSettings(const QString& aFileName) : TkvdSettings(aFileName)
{
    Load();
}

void TtasksSettings::Load()
{
    TkvdSettings::Load();
    db_file = ReadString(QStringLiteral("db_file"), db_file);
    night_hours_from = ReadInteger(QStringLiteral("night_hours_from"), night_hours_from);
    night_hours_to = ReadInteger(QStringLiteral("night_hours_to"), night_hours_to);
    theme = ReadString(QStringLiteral("theme"), theme);
    default_duedatetime = ReadInteger(QStringLiteral("default_duedatetime"), default_duedatetime);
    time_granularity = ReadInteger(QStringLiteral("time_granularity"), time_granularity);
    close_minimizes = ReadBool(QStringLiteral("close_minimizes"), close_minimizes);
    Save();
}

void TtasksSettings::Save()
{
    TkvdSettings::Save();
    WriteString(QStringLiteral("db_file"), db_file);
    WriteInteger(QStringLiteral("night_hours_from"), night_hours_from);
    WriteInteger(QStringLiteral("night_hours_to"), night_hours_to);
    WriteString(QStringLiteral("theme"), theme);
    WriteInteger(QStringLiteral("default_duedatetime"), default_duedatetime);
    WriteInteger(QStringLiteral("time_granularity"), time_granularity);
    WriteBool(QStringLiteral("close_minimizes"), close_minimizes);
    Flush();
}

QString DefaultConfigFile()
{
    return ExpandEnvVars(QStringLiteral("%APPDATA%\\BEXO\\config.ini"));
}

TtasksSettings* GetTasksSettings(const QString& aConfigFile)
{
    std::unique_ptr<TtasksSettings>& instance = Instance();
    if (!instance)
        instance = std::make_unique<TtasksSettings>(aConfigFile.isEmpty() ? DefaultConfigFile()
                                                                          : aConfigFile);
    return instance.get();
}

void StartTasksLog()
{
    auto log = std::make_unique<TtasksLog>();
    log->FileName = FileBeside(DefaultConfigFile(), QStringLiteral("ulmora.log"));
    log->Level = 4;
    // The folder that reading the settings would make, made now: on a first
    // run what fails before that (the update service starts first) is logged
    // too, not lost.
    CreatePrivateFolder(QFileInfo(NativePath(log->FileName)).absolutePath());
    SetTasksLog(std::move(log));
}

void ReleaseTasksSettings()
{
    Instance().reset();
}

void ResetTasksSettingsVariables()
{
    db_file = TasksDefaults::db_file;
    night_hours_from = TasksDefaults::night_hours_from;
    night_hours_to = TasksDefaults::night_hours_to;
    theme = TasksDefaults::theme;
    default_duedatetime = TasksDefaults::default_duedatetime;
    time_granularity = TasksDefaults::time_granularity;
    close_minimizes = TasksDefaults::close_minimizes;
}
