#include "store/tasks_statement.h"

void UseStatement(TZQuery& aQuery, const QString& aSQL)
{
    if (aQuery.SQL() != aSQL)
        aQuery.SetSQL(aSQL);
}

bool RunStatement(TtasksDB& aDB, TZQuery& aQuery)
{
    // The store assigns the text to the query again: hand it a copy, not the
    // query's own string.
    const QString sql = aQuery.SQL();
    return aDB.Query(sql, &aQuery);
}

bool RunStatement(TtasksDB& aDB, TZQuery& aQuery, const QString& aSQL)
{
    UseStatement(aQuery, aSQL);
    return RunStatement(aDB, aQuery);
}

void BindText(TZQuery& aQuery, const QString& aName, const QString& aValue)
{
    aQuery.ParamByName(aName).SetAsString(aValue);
}

void BindTextOrNull(TZQuery& aQuery, const QString& aName, const QString& aValue)
{
    if (aValue.isNull())
        aQuery.ParamByName(aName).Clear();
    else
        aQuery.ParamByName(aName).SetAsString(aValue);
}

void BindInteger(TZQuery& aQuery, const QString& aName, int64_t aValue)
{
    aQuery.ParamByName(aName).SetAsInteger(aValue);
}

void BindDateTime(TZQuery& aQuery, const QString& aName, TDateTime aValue)
{
    TZParam& param = aQuery.ParamByName(aName);
    if (aValue != 0)
        param.SetAsDateTime(aValue);
    else
        param.Clear();
}

TStoreResult StatementOutcome(TtasksDB& aDB, bool aOk)
{
    if (aOk)
        return TStoreResult();
    return TStoreResult{false, aDB.LastFailureReason()};
}
