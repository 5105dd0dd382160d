#pragma once

// Rows read straight from the store's database object, for the tests that
// read back what an operation stored.

#include "store/tasks_db.h"
#include "store/zdb.h"

#include <QStringList>

// Every row of a statement, its columns joined by "|", NULL as "<null>";
// "<failed>" alone when the statement fails.
inline QStringList Rows(const QString& aSQL)
{
    auto query = GetTasksDB()->NewQuery();
    if (!GetTasksDB()->Query(aSQL, query.get()))
        return {QStringLiteral("<failed>")};
    QStringList rows;
    for (; !query->Eof(); query->Next()) {
        QStringList columns;
        for (const QString& name : query->FieldNames()) {
            const TZField field = query->FieldByName(name);
            columns << (field.IsNull() ? QStringLiteral("<null>") : field.AsString());
        }
        rows << columns.join(QLatin1Char('|'));
    }
    return rows;
}

// The first row of a statement, empty when there is none.
inline QString One(const QString& aSQL)
{
    return Rows(aSQL).value(0);
}

// The number in the first column of a statement's first row (a count); -1
// when the statement fails or gives no row.
inline int Count(const QString& aSQL)
{
    auto query = GetTasksDB()->NewQuery();
    if (!GetTasksDB()->Query(aSQL, query.get()) || query->Eof())
        return -1;
    return static_cast<int>(query->FieldByName(query->FieldNames().value(0)).AsInteger());
}
