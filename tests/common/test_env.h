#pragma once

// A clean process state for one test: APPDATA in a temporary folder, the
// placeholder table rebuilt from it, the settings variables at their defaults,
// no settings object and no database object, and the store given the default
// db_file, as the program gives it.

#include "settings/tasks_settings.h"
#include "store/tasks_db.h"
#include "util/kvd_datetime.h"
#include "util/kvd_utils.h"

#include <QTemporaryDir>
#include <QtTest>

class TTestEnv
{
public:
    TTestEnv()
    {
        Q_ASSERT(FDir.isValid());
        qputenv("APPDATA", FDir.path().toUtf8());
        ResetEnvTableForTesting();
        ReleaseTasksDB();
        ReleaseTasksSettings();
        ResetTasksSettingsVariables();
        SetTasksDBFile(db_file);
        ResetNow();
    }
    ~TTestEnv()
    {
        ReleaseTasksDB();
        ReleaseTasksSettings();
        ResetTasksSettingsVariables();
        ResetNow();
    }

    QString Path() const { return FDir.path(); }
    QString File(const QString& aName) const { return FDir.filePath(aName); }
    // Points the store, and the db_file setting that a window gives it, at a
    // database file in the temporary folder.
    QString UseDatabase(const QString& aName = QStringLiteral("tasks.db"))
    {
        db_file = File(aName);
        SetTasksDBFile(db_file);
        return db_file;
    }

private:
    QTemporaryDir FDir;
};
