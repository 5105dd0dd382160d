#pragma once

// A clean process state for one test of the due-date rules and reminders:
// APPDATA and the task database in a temporary folder, the settings variables
// at their defaults, the real clock, and the default locale.

#include "settings/tasks_settings.h"
#include "store/tasks_db.h"
#include "util/kvd_datetime.h"
#include "util/kvd_utils.h"

#include <QLocale>
#include <QTemporaryDir>

class TDueTestEnv
{
public:
    TDueTestEnv()
    {
        Q_ASSERT(FDir.isValid());
        qputenv("APPDATA", FDir.path().toUtf8());
        ResetEnvTableForTesting();
        Reset();
        db_file = FDir.filePath(QStringLiteral("tasks.db"));
        SetTasksDBFile(db_file);
    }
    ~TDueTestEnv() { Reset(); }
    TDueTestEnv(const TDueTestEnv&) = delete;
    TDueTestEnv& operator=(const TDueTestEnv&) = delete;

    QString Path() const { return FDir.path(); }

private:
    static void Reset()
    {
        ReleaseTasksDB();
        ReleaseTasksSettings();
        ResetTasksSettingsVariables();
        ResetNow();
        QLocale::setDefault(QLocale::system());
    }

    QTemporaryDir FDir;
};

// A local date-time on 8 May 2012 (a Tuesday) plus aDays, to write the tables.
inline QDateTime At(int aDays, int aHour, int aMinute, int aSecond = 0, int aMSec = 0)
{
    return QDateTime(QDate(2012, 5, 8).addDays(aDays), QTime(aHour, aMinute, aSecond, aMSec));
}
