#pragma once

// The one way a statement is put on a query, given its values, run and
// reported: for the store's own operations and for the tables that the sync
// and the import keep beside the schema. Ids and values are bound, never
// spliced into the text.

#include "store/tasks_db.h"
#include "store/tasks_store.h"
#include "store/zdb.h"
#include "util/kvd_datetime.h"

#include <QString>
#include <cstdint>

// Puts aSQL on the query, with its parameters, unless it is there already:
// the values bound before stay.
void UseStatement(TZQuery& aQuery, const QString& aSQL);
// Runs the statement on the query through aDB: opened when it yields rows,
// executed otherwise. False when the engine refused (aDB's LastFailureReason
// says why).
bool RunStatement(TtasksDB& aDB, TZQuery& aQuery);
// UseStatement, then RunStatement.
bool RunStatement(TtasksDB& aDB, TZQuery& aQuery, const QString& aSQL);

// Binds a text; a null text binds the empty text.
void BindText(TZQuery& aQuery, const QString& aName, const QString& aValue);
// Binds a text; a null text binds NULL.
void BindTextOrNull(TZQuery& aQuery, const QString& aName, const QString& aValue);
void BindInteger(TZQuery& aQuery, const QString& aName, int64_t aValue);
// Binds a date-time as the store writes it; 0 binds NULL.
void BindDateTime(TZQuery& aQuery, const QString& aName, TDateTime aValue);

// The outcome of an operation that is still under way on aDB, so that the
// reason is that of its own latest failure.
TStoreResult StatementOutcome(TtasksDB& aDB, bool aOk);
