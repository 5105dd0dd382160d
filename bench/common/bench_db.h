#pragma once

// Builds the benchmark databases: N tasks with the program's schema, a fifth of
// them unplanned, a tenth finished today, each with up to three of 20 tags.
// Shared by the benchmarks of the store and of the main window's list.

#include "store/tasks_db.h"
#include "util/kvd_datetime.h"
#include "util/kvd_utils.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <random>
#include <sqlite3.h>
#include <stdexcept>

// The list statement of the main window, comparing finish dates with the local date.
inline const char* const kBenchListStatement =
    "select ts.*, group_concat(tt.tagid) as tagsids from tasks ts left join tags_tasks tt on "
    "ts.taskid=tt.taskid where ts.finisheddt isnull or "
    "date(ts.finisheddt)=date(\"now\",\"localtime\") group by ts.taskid order by ts.finisheddt, "
    "ts.duedt,ts.createddt desc";

inline void BenchExec(sqlite3* aDb, const char* aSQL)
{
    char* error = nullptr;
    if (sqlite3_exec(aDb, aSQL, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "unknown";
        sqlite3_free(error);
        throw std::runtime_error(message);
    }
}

// Creates (or reuses) the database file for aTasks tasks under aFolder and
// returns its path.
inline QString BuildBenchDatabase(const QString& aFolder, int aTasks)
{
    QDir().mkpath(aFolder);
    const QString path = QDir(aFolder).filePath(QStringLiteral("bench-%1.db").arg(aTasks));
    if (QFile::exists(path))
        return path;
    const QString building = path + QStringLiteral(".part");
    QFile::remove(building);
    sqlite3* db = nullptr;
    if (sqlite3_open(building.toUtf8().constData(), &db) != SQLITE_OK)
        throw std::runtime_error("cannot create the benchmark database");
    for (const char* statement : kSchemaStatements)
        BenchExec(db, statement);
    BenchExec(db, "BEGIN");
    std::mt19937 random(42);
    QStringList tags;
    sqlite3_stmt* tag = nullptr;
    sqlite3_prepare_v2(db,
                       "insert into tags (tagid, title, color, createddt) values (?, ?, ?, "
                       "datetime(\"now\"))",
                       -1, &tag, nullptr);
    for (int i = 0; i < 20; ++i) {
        const QByteArray id = GenerateId().toUtf8();
        const QByteArray title = QStringLiteral("Tag %1").arg(i).toUtf8();
        tags << QString::fromUtf8(id);
        sqlite3_bind_text(tag, 1, id.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(tag, 2, title.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(tag, 3, static_cast<int>(random() & 0xFFFFFF));
        sqlite3_step(tag);
        sqlite3_reset(tag);
    }
    sqlite3_finalize(tag);

    sqlite3_stmt* task = nullptr;
    sqlite3_prepare_v2(db,
                       "insert into tasks (taskid, summary, note, createddt, duedt, finisheddt) "
                       "values (?, ?, ?, ?, ?, ?)",
                       -1, &task, nullptr);
    sqlite3_stmt* link = nullptr;
    sqlite3_prepare_v2(db, "insert or ignore into tags_tasks (tagid, taskid) values (?, ?)", -1,
                       &link, nullptr);
    const TDateTime now = Now();
    for (int i = 0; i < aTasks; ++i) {
        const QByteArray id = GenerateId().toUtf8();
        const QByteArray summary = QStringLiteral("Task number %1 to be done soon").arg(i).toUtf8();
        const QByteArray note =
            (i % 3 == 0) ? QByteArray("A note\r\nwith two lines") : QByteArray();
        const QByteArray created =
            DateTimeToSqlText(now - 30 + (random() % 30000) / 1000.0).toUtf8();
        const QByteArray due = DateTimeToSqlText(now - 5 + (random() % 20000) / 1000.0).toUtf8();
        const QByteArray finished = DateTimeToSqlText(now - (random() % 100) / 1000.0).toUtf8();
        sqlite3_bind_text(task, 1, id.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(task, 2, summary.constData(), -1, SQLITE_TRANSIENT);
        if (note.isEmpty())
            sqlite3_bind_null(task, 3);
        else
            sqlite3_bind_text(task, 3, note.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(task, 4, created.constData(), -1, SQLITE_TRANSIENT);
        if (i % 5 == 0)
            sqlite3_bind_null(task, 5);
        else
            sqlite3_bind_text(task, 5, due.constData(), -1, SQLITE_TRANSIENT);
        if (i % 10 == 1)
            sqlite3_bind_text(task, 6, finished.constData(), -1, SQLITE_TRANSIENT);
        else
            sqlite3_bind_null(task, 6);
        sqlite3_step(task);
        sqlite3_reset(task);
        const int links = static_cast<int>(random() % 4);
        for (int t = 0; t < links; ++t) {
            const QByteArray tagId = tags[static_cast<int>(random() % tags.size())].toUtf8();
            sqlite3_bind_text(link, 1, tagId.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(link, 2, id.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_step(link);
            sqlite3_reset(link);
        }
    }
    sqlite3_finalize(task);
    sqlite3_finalize(link);
    BenchExec(db, "COMMIT");
    sqlite3_close(db);
    QFile::rename(building, path);
    return path;
}
