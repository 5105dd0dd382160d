#include "store/zdb.h"

#include "util/kvd_utils.h"

#include <sqlite3.h>

namespace {

QString EngineMessage(sqlite3* aHandle)
{
    return aHandle ? QString::fromUtf8(sqlite3_errmsg(aHandle)) : QStringLiteral("not connected");
}

bool IsNameChar(QChar aChar)
{
    return aChar.isLetterOrNumber() || aChar == QLatin1Char('_');
}

} // namespace

// ---------------------------------------------------------------- monitor

void TZSQLMonitor::Trace(const QString& aEvent)
{
    if (!Active || MaxTraceCount <= 0)
        return;
    FEvents.push_back(aEvent);
    while (static_cast<int>(FEvents.size()) > MaxTraceCount)
        FEvents.pop_front();
}

// ---------------------------------------------------------------- connection

TZConnection::~TZConnection()
{
    Disconnect();
}

void TZConnection::Connect()
{
    if (FHandle)
        return;
    const QByteArray path = NativePath(Database).toUtf8();
    sqlite3* handle = nullptr;
    const int rc = sqlite3_open_v2(path.constData(), &handle,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    auto fail = [&](const QString& aWhy) {
        sqlite3_close_v2(handle);
        throw EDatabaseError(
            QStringLiteral("Cannot open database file \"%1\": %2").arg(Database, aWhy));
    };
    if (rc != SQLITE_OK)
        fail(EngineMessage(handle));
    sqlite3_busy_timeout(handle, BusyTimeoutMs);
#ifdef SQLITE_DBCONFIG_DQS_DML
    // Statements compare ids with string literals in double quotes.
    sqlite3_db_config(handle, SQLITE_DBCONFIG_DQS_DML, 1, nullptr);
    sqlite3_db_config(handle, SQLITE_DBCONFIG_DQS_DDL, 1, nullptr);
#endif
    // Opening is lazy: reading the header is what tells a database from any
    // other file. It writes nothing, so a foreign file stays as it was.
    char* error = nullptr;
    if (sqlite3_exec(handle, "select count(*) from sqlite_master", nullptr, nullptr, &error) !=
        SQLITE_OK) {
        const QString why = QString::fromUtf8(error ? error : "unknown error");
        sqlite3_free(error);
        fail(why);
    }
    FHandle = handle;
    Trace(QStringLiteral("connect %1").arg(Database));
}

void TZConnection::Disconnect()
{
    if (!FHandle)
        return;
    sqlite3_close_v2(FHandle);
    FHandle = nullptr;
    Trace(QStringLiteral("disconnect %1").arg(Database));
}

bool TZConnection::AutoCommit() const
{
    return !FHandle || sqlite3_get_autocommit(FHandle) != 0;
}

void TZConnection::RaiseError(const QString& aContext) const
{
    throw EDatabaseError(aContext.isEmpty()
                             ? EngineMessage(FHandle)
                             : aContext + QStringLiteral(": ") + EngineMessage(FHandle));
}

bool TZConnection::ExecuteDirect(const QString& aSQL)
{
    if (!FHandle) {
        FLastError = QStringLiteral("Database connection is not open");
        return false;
    }
    Trace(aSQL);
    char* error = nullptr;
    const int rc = sqlite3_exec(FHandle, aSQL.toUtf8().constData(), nullptr, nullptr, &error);
    if (rc == SQLITE_OK) {
        FLastError.clear();
        return true;
    }
    FLastError = QString::fromUtf8(error ? error : sqlite3_errstr(rc));
    sqlite3_free(error);
    return false;
}

void TZConnection::StartTransaction()
{
    if (!ExecuteDirect(QStringLiteral("BEGIN")))
        throw EDatabaseError(FLastError);
}

void TZConnection::Commit()
{
    if (!ExecuteDirect(QStringLiteral("COMMIT")))
        throw EDatabaseError(FLastError);
}

void TZConnection::Rollback()
{
    if (!ExecuteDirect(QStringLiteral("ROLLBACK")))
        throw EDatabaseError(FLastError);
}

void TZConnection::Trace(const QString& aEvent)
{
    if (Monitor)
        Monitor->Trace(aEvent);
}

// ---------------------------------------------------------------- parameters

void TZParam::SetAsString(const QString& aValue)
{
    FKind = Kind::Text;
    FText = aValue;
}

void TZParam::SetAsInteger(int64_t aValue)
{
    FKind = Kind::Integer;
    FInteger = aValue;
}

void TZParam::SetAsDateTime(TDateTime aValue)
{
    FKind = Kind::DateTime;
    FDateTime = aValue;
}

void TZParam::Clear()
{
    FKind = Kind::Null;
}

QString TZParam::AsString() const
{
    switch (FKind) {
    case Kind::Text:
        return FText;
    case Kind::Integer:
        return QString::number(FInteger);
    case Kind::DateTime:
        return DateTimeToSqlText(FDateTime);
    case Kind::Null:
        break;
    }
    return QString();
}

int64_t TZParam::AsInteger() const
{
    switch (FKind) {
    case Kind::Text:
        return FText.toLongLong();
    case Kind::Integer:
        return FInteger;
    case Kind::DateTime:
        return static_cast<int64_t>(FDateTime);
    case Kind::Null:
        break;
    }
    return 0;
}

TDateTime TZParam::AsDateTime() const
{
    switch (FKind) {
    case Kind::Text:
        return SqlTextToDateTime(FText);
    case Kind::Integer:
        return static_cast<TDateTime>(FInteger);
    case Kind::DateTime:
        return FDateTime;
    case Kind::Null:
        break;
    }
    return 0;
}

TZParam& TZParams::CreateParam(TZFieldType aType, const QString& aName, TZParamType aParamType)
{
    auto param = std::make_unique<TZParam>();
    param->Name = aName;
    param->DataType = aType;
    param->ParamType = aParamType;
    FItems.push_back(std::move(param));
    return *FItems.back();
}

TZParam* TZParams::FindParam(const QString& aName)
{
    for (auto& item : FItems) {
        if (item->Name.compare(aName, Qt::CaseInsensitive) == 0)
            return item.get();
    }
    return nullptr;
}

TZParam& TZParams::ParamByName(const QString& aName)
{
    if (TZParam* param = FindParam(aName))
        return *param;
    throw EDatabaseError(QStringLiteral("Parameter '%1' not found").arg(aName));
}

QStringList ParameterNames(const QString& aSQL)
{
    QStringList names;
    const qsizetype n = aSQL.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = aSQL[i];
        if (c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`')) {
            const qsizetype close = aSQL.indexOf(c, i + 1);
            if (close < 0)
                break;
            i = close;
        } else if (c == QLatin1Char('-') && i + 1 < n && aSQL[i + 1] == QLatin1Char('-')) {
            const qsizetype end = aSQL.indexOf(QLatin1Char('\n'), i);
            if (end < 0)
                break;
            i = end;
        } else if (c == QLatin1Char(':')) {
            if (i + 1 < n && aSQL[i + 1] == QLatin1Char(':')) {
                ++i;
                continue;
            }
            qsizetype end = i + 1;
            while (end < n && IsNameChar(aSQL[end]))
                ++end;
            if (end > i + 1) {
                const QString name = aSQL.mid(i + 1, end - i - 1);
                if (!names.contains(name, Qt::CaseInsensitive))
                    names << name;
            }
            i = end - 1;
        }
    }
    return names;
}

// ---------------------------------------------------------------- fields

bool TZField::IsNull() const
{
    return sqlite3_column_type(FStatement, FIndex) == SQLITE_NULL;
}

QString TZField::AsString() const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(FStatement, FIndex));
    if (!text)
        return QString();
    return QString::fromUtf8(text, sqlite3_column_bytes(FStatement, FIndex));
}

int64_t TZField::AsInteger() const
{
    return sqlite3_column_int64(FStatement, FIndex);
}

TDateTime TZField::AsDateTime() const
{
    switch (sqlite3_column_type(FStatement, FIndex)) {
    case SQLITE_NULL:
        return 0;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
        return sqlite3_column_double(FStatement, FIndex);
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(FStatement, FIndex));
        return text ? SqlTextToDateTime(text, sqlite3_column_bytes(FStatement, FIndex)) : 0;
    }
    }
}

// ---------------------------------------------------------------- query

TZQuery::~TZQuery()
{
    Close();
    ReleaseExecStatement();
}

void TZQuery::ReleaseExecStatement()
{
    if (FExecStatement) {
        sqlite3_finalize(FExecStatement);
        FExecStatement = nullptr;
    }
    FExecSQL.clear();
}

void TZQuery::SetSQL(const QString& aSQL)
{
    Close();
    FSQL = aSQL;
    TZParams rebuilt;
    for (const QString& name : ParameterNames(aSQL)) {
        if (TZParam* old = FParams.FindParam(name)) {
            TZParam& param = rebuilt.CreateParam(old->DataType, name, old->ParamType);
            param.FKind = old->FKind;
            param.FText = old->FText;
            param.FInteger = old->FInteger;
            param.FDateTime = old->FDateTime;
        } else {
            rebuilt.CreateParam(TZFieldType::ftUnknown, name, TZParamType::ptInput);
        }
    }
    FParams.FItems = std::move(rebuilt.FItems);
}

sqlite3_stmt* TZQuery::Prepare()
{
    if (!Connection || !Connection->Connected())
        throw EDatabaseError(QStringLiteral("Database connection is not open"));
    sqlite3* db = Connection->Handle();
    Connection->Trace(FSQL);
    const QByteArray text = FSQL.toUtf8();
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, text.constData(), static_cast<int>(text.size()), &statement,
                           nullptr) != SQLITE_OK)
        Connection->RaiseError(QString());
    if (!statement)
        throw EDatabaseError(QStringLiteral("Empty statement"));
    try {
        BindParams(statement);
    } catch (...) {
        sqlite3_finalize(statement);
        throw;
    }
    return statement;
}

void TZQuery::BindParams(sqlite3_stmt* aStatement)
{
    for (const auto& param : FParams.FItems) {
        const QByteArray name = ':' + param->Name.toUtf8();
        const int index = sqlite3_bind_parameter_index(aStatement, name.constData());
        if (index == 0)
            continue;
        int rc = SQLITE_OK;
        switch (param->FKind) {
        case TZParam::Kind::Null:
            rc = sqlite3_bind_null(aStatement, index);
            break;
        case TZParam::Kind::Integer:
            rc = sqlite3_bind_int64(aStatement, index, param->FInteger);
            break;
        case TZParam::Kind::Text:
        case TZParam::Kind::DateTime: {
            const QByteArray value = param->AsString().toUtf8();
            rc = sqlite3_bind_text(aStatement, index, value.constData(),
                                   static_cast<int>(value.size()), SQLITE_TRANSIENT);
            break;
        }
        }
        if (rc != SQLITE_OK)
            Connection->RaiseError(QString());
    }
}

void TZQuery::Step()
{
    const int rc = sqlite3_step(FStatement);
    if (rc == SQLITE_ROW) {
        FEof = false;
        return;
    }
    FEof = true;
    if (rc != SQLITE_DONE) {
        const QString message = EngineMessage(Connection->Handle());
        Close();
        throw EDatabaseError(message);
    }
}

void TZQuery::Open()
{
    Close();
    FStatement = Prepare();
    const int columns = sqlite3_column_count(FStatement);
    FColumnNames.clear();
    FColumnNames.reserve(columns);
    for (int i = 0; i < columns; ++i)
        FColumnNames << QString::fromUtf8(sqlite3_column_name(FStatement, i));
    FRowIndex = 0;
    Step();
}

void TZQuery::Close()
{
    if (FStatement) {
        sqlite3_finalize(FStatement);
        FStatement = nullptr;
    }
    FEof = true;
    FColumnNames.clear();
}

void TZQuery::ExecSQL()
{
    Close();
    // A statement run again and again with new values (a bulk insert) is
    // compiled once: the compiled form is kept while the text and the
    // connection stay the same, and only the values are bound anew.
    sqlite3_stmt* statement = nullptr;
    if (FExecStatement && FExecSQL == FSQL && Connection && Connection->Connected() &&
        sqlite3_db_handle(FExecStatement) == Connection->Handle()) {
        statement = FExecStatement;
        Connection->Trace(FSQL);
        sqlite3_clear_bindings(statement);
        BindParams(statement);
    } else {
        ReleaseExecStatement();
        statement = Prepare();
        FExecStatement = statement;
        FExecSQL = FSQL;
    }
    int rc;
    do
        rc = sqlite3_step(statement);
    while (rc == SQLITE_ROW);
    sqlite3* db = Connection->Handle();
    if (rc != SQLITE_DONE) {
        const QString message = EngineMessage(db);
        sqlite3_reset(statement);
        throw EDatabaseError(message);
    }
    FRowsAffected = sqlite3_changes(db);
    sqlite3_reset(statement);
}

void TZQuery::First()
{
    if (!FStatement)
        throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
    if (FRowIndex == 0)
        return;
    // The engine's cursor only moves forward: start the statement again.
    sqlite3_reset(FStatement);
    FRowIndex = 0;
    Step();
}

void TZQuery::Next()
{
    if (!FStatement)
        throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
    if (FEof)
        return;
    ++FRowIndex;
    Step();
}

TZField TZQuery::FieldByName(const QString& aName) const
{
    if (!FStatement)
        throw EDatabaseError(QStringLiteral("Cannot perform this operation on a closed dataset"));
    // Exact spelling first, the common case, then without regard to case.
    const int count = static_cast<int>(FColumnNames.size());
    for (int i = 0; i < count; ++i) {
        if (FColumnNames[i] == aName)
            return TZField(FStatement, i);
    }
    for (int i = 0; i < count; ++i) {
        if (FColumnNames[i].compare(aName, Qt::CaseInsensitive) == 0)
            return TZField(FStatement, i);
    }
    throw EDatabaseError(QStringLiteral("Field '%1' not found").arg(aName));
}
