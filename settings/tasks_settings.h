#pragma once

#include "settings/kvd_settings.h"

#include <QString>

// The application's seven settings, process-wide and named by their keys. They
// hold the built-in defaults until the settings are loaded; every part of the
// program reads them directly.
extern QString db_file;
extern int night_hours_from;
extern int night_hours_to;
extern QString theme;
extern int default_duedatetime;
extern int time_granularity;
extern bool close_minimizes;

namespace TasksDefaults {
inline const QString db_file = QStringLiteral("%APPDATA%\\BEXO\\tasks.db");
constexpr int night_hours_from = 22;
constexpr int night_hours_to = 7;
inline const QString theme = QStringLiteral("Turquoise Gray");
constexpr int default_duedatetime = 0;
constexpr int time_granularity = 10;
constexpr bool close_minimizes = true;
} // namespace TasksDefaults

// The due-date choices of the task editor, numbered as default_duedatetime
// stores them and as the settings dialog lists them.
enum class TDueChoice
{
    Unplanned = 0,
    Hour = 1,
    FourHours = 2,
    Tomorrow = 3,
    Exact = 4 // the exact date and time pickers
};

// Values as the computations may use them: a value out of its range, which
// only a hand-edited file can hold, gives the built-in default.
int NightHoursFrom();
int NightHoursTo();
int TimeGranularity();
TDueChoice DefaultDueDateTime();

class TtasksSettings : public TkvdSettings
{
public:
    // Opens the file and loads it, which writes all seven keys back.
    explicit TtasksSettings(const QString& aFileName);

    void Load() override;
    void Save() override;
};

// "%APPDATA%\BEXO\config.ini" with the placeholder expanded.
QString DefaultConfigFile();

// The one settings object, created and loaded on the first call for
// aConfigFile, or the default file when it is empty; later calls ignore it.
TtasksSettings* GetTasksSettings(const QString& aConfigFile = QString());

// Puts the program's log, "ulmora.log" beside the config file at level 4, in
// the log slot, so failed statements can be read afterwards.
void StartTasksLog();

// Releases the settings object and puts the defaults back in the variables.
// Tests use it to start again from a clean process state; at exit the object is
// released the same way.
void ReleaseTasksSettings();
void ResetTasksSettingsVariables();
