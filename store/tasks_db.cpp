#include "store/tasks_db.h"

#include "util/kvd_utils.h"
#include "util/tasks_log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <clocale>
#include <mutex>
#include <optional>

const char* const kSchemaStatements[5] = {
    "CREATE TABLE IF NOT EXISTS tasks( taskid VARCHAR(16), summary VARCHAR(1024) DEFAULT NULL, "
    "note TEXT DEFAULT NULL, createddt DATETIME DEFAULT NULL, duedt DATETIME DEFAULT NULL, "
    "finisheddt DATETIME DEFAULT NULL, PRIMARY KEY(taskid ASC));",
    "CREATE INDEX IF NOT EXISTS i_tasks_duedt ON tasks( duedt );",
    "CREATE INDEX IF NOT EXISTS i_tasks_id ON tasks( taskid );",
    "CREATE TABLE IF NOT EXISTS tags( tagid VARCHAR(16), title VARCHAR(1024) DEFAULT NULL, "
    "color INT(11) DEFAULT NULL, image INT(2) DEFAULT NULL, createddt DATETIME DEFAULT NULL, "
    "PRIMARY KEY(tagid ASC));",
    "CREATE TABLE IF NOT EXISTS tags_tasks( tagid VARCHAR(16) DEFAULT NULL, taskid VARCHAR(16) "
    "DEFAULT NULL, createddt DATETIME DEFAULT NULL, PRIMARY KEY(tagid, taskid ASC));"};

namespace {

std::recursive_mutex& Lock()
{
    static std::recursive_mutex lock;
    return lock;
}

std::unique_ptr<TtasksDB>& Instance()
{
    static std::unique_ptr<TtasksDB> instance;
    return instance;
}

// Outlives the store object, so that a store made again after ReleaseTasksDB
// opens the same file. Held under the store's lock.
std::optional<QString>& DatabaseFile()
{
    static std::optional<QString> file;
    return file;
}

void LogError(const std::exception& aError)
{
    if (TtasksLog* log = GetTasksLog())
        log->LogException(aError);
}

} // namespace

void LockDB()
{
    Lock().lock();
}
void UnlockDB()
{
    Lock().unlock();
}

void SetTasksDBFile(const QString& aFileName)
{
    TDBLock guard;
    DatabaseFile() = aFileName;
}

QString TasksDBFile()
{
    TDBLock guard;
    return DatabaseFile().value_or(QString());
}

TtasksDB* GetTasksDB()
{
    std::unique_ptr<TtasksDB>& instance = Instance();
    if (!instance)
        instance = std::make_unique<TtasksDB>();
    return instance.get();
}

void ReleaseTasksDB()
{
    TDBLock guard;
    Instance().reset();
}

bool IsQueryStatement(const QString& aSQL)
{
    const QStringView text = TrimBlanks(QStringView(aSQL));
    auto startsWith = [&](const char* aWord) {
        return text.startsWith(QLatin1String(aWord), Qt::CaseInsensitive);
    };
    if (startsWith("select"))
        return !text.contains(QLatin1String("outfile"), Qt::CaseInsensitive);
    return startsWith("show") || startsWith("describe") || startsWith("explain");
}

TtasksDB::TtasksDB()
{
    FMonitor.FileName = QDir(QCoreApplication::applicationDirPath()).filePath("db_log.log");
    FConnection.Monitor = &FMonitor;
}

TtasksDB::~TtasksDB()
{
    Disconnect();
    FMonitor.Active = false;
}

bool TtasksDB::IsConnected() const
{
    return FConnection.Connected();
}

void TtasksDB::Connect()
{
    if (IsConnected())
        return;
    TDBLock guard;
    // A store that nobody told where its file is would open some other file
    // (the engine takes an empty name for a temporary database) and lose
    // every change at exit.
    if (!DatabaseFile())
        throw EDatabaseError(QStringLiteral("The task store was given no database file."));
    FMonitor.Active = true;
    const QString path = ExpandEnvVars(*DatabaseFile());
    FConnection.Database = path;
    FConnection.Protocol = QStringLiteral("sqlite-3");
    // The whole path, as for the settings folder; the connection creates the file.
    QDir().mkpath(QFileInfo(NativePath(path)).absolutePath());
    // Numbers are written and read with "." whatever the user's region.
    std::setlocale(LC_NUMERIC, "C");
    try {
        FConnection.Connect();
    } catch (const std::exception& error) {
        NoteFailure(error);
        throw;
    }
    if (!FConnection.Connected())
        throw EDatabaseError(QStringLiteral("Cannot connect to database file \"%1\"").arg(path));
    FConnection.Properties.removeIf(
        [](const QString& aItem) { return aItem.startsWith(QLatin1String("codepage=")); });
    FConnection.Properties << QStringLiteral("codepage=utf-8");
    if (!FSchemaCreated)
        CreateSchema();
}

void TtasksDB::Disconnect()
{
    TDBLock guard;
    FConnection.Disconnect();
}

void TtasksDB::CreateSchema()
{
    TDBLock guard;
    if (FSchemaCreated)
        return;
    for (const char* statement : kSchemaStatements)
        Exec(QString::fromLatin1(statement));
    FSchemaCreated = true;
}

bool TtasksDB::Exec(const QString& aSQL)
{
    TDBLock guard;
    Connect();
    BeginStatement();
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (FConnection.ExecuteDirect(aSQL))
            return true;
        NoteFailure(FConnection.LastFailureReason());
        LogError(EDatabaseError(FConnection.LastError()));
    }
    return false;
}

std::unique_ptr<TZQuery> TtasksDB::NewQuery()
{
    Connect();
    return std::make_unique<TZQuery>(&FConnection);
}

bool TtasksDB::Query(const QString& aSQL, TZQuery* aQuery)
{
    TDBLock guard;
    if (!aQuery || aSQL.trimmed().isEmpty()) {
        BeginStatement();
        return false;
    }
    Connect();
    BeginStatement();
    aQuery->Close();
    aQuery->SetSQL(aSQL);
    bool owner = false;
    try {
        if (!FConnection.InTransaction()) {
            FConnection.StartTransaction();
            owner = true;
        }
        if (IsQueryStatement(aSQL))
            aQuery->Open();
        else
            aQuery->ExecSQL();
        if (owner)
            FConnection.Commit();
        return true;
    } catch (const std::exception& error) {
        NoteFailure(error);
        aQuery->Close();
        if (owner && FConnection.InTransaction())
            FConnection.ExecuteDirect(QStringLiteral("ROLLBACK"));
        LogError(error);
        return false;
    }
}

bool TtasksDB::StartTransaction()
{
    TDBLock guard;
    Connect();
    // A transaction is an operation of its own, also when one was open.
    if (FOperationDepth == 0)
        FLastFailureReason.clear();
    try {
        if (FConnection.InTransaction())
            FConnection.Commit();
        FConnection.StartTransaction();
        return true;
    } catch (const std::exception& error) {
        NoteFailure(error);
        LogError(error);
        return false;
    }
}

bool TtasksDB::Commit()
{
    TDBLock guard;
    Connect();
    if (!FConnection.InTransaction())
        return true;
    try {
        FConnection.Commit();
        return true;
    } catch (const std::exception& error) {
        // A commit that fails must not leave the transaction open behind the
        // caller's back: nothing of it is stored.
        NoteFailure(error);
        LogError(error);
        if (FConnection.InTransaction())
            FConnection.ExecuteDirect(QStringLiteral("ROLLBACK"));
        return false;
    }
}

bool TtasksDB::Rollback()
{
    TDBLock guard;
    Connect();
    if (!FConnection.InTransaction())
        return true;
    try {
        FConnection.Rollback();
        return true;
    } catch (const std::exception& error) {
        NoteFailure(error);
        LogError(error);
        return false;
    }
}

void TtasksDB::BeginStatement()
{
    // Inside a transaction or a TDBOperation the statement is a step of a
    // larger operation, whose failure reason stays until that one ends.
    if (FOperationDepth == 0 && !FConnection.InTransaction())
        FLastFailureReason.clear();
}

void TtasksDB::NoteFailure(const std::exception& aError)
{
    if (const auto* engine = dynamic_cast<const EZSQLiteError*>(&aError))
        FLastFailureReason = engine->Reason();
    else
        FLastFailureReason = ErrorMessage(aError);
}

QString TtasksDB::FailureMessage(const QString& aWhat) const
{
    return FailureText(aWhat, FLastFailureReason);
}

QString TtasksDB::AccessProblem() const
{
    const QString path =
        NativePath(IsConnected() ? FConnection.Database : ExpandEnvVars(TasksDBFile()));
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    // The engine writes the file and, beside it, the journal of each
    // transaction: both the file and its folder must be writable.
    if (file.exists() && !file.isWritable())
        return QStringLiteral("the database file is read-only");
    if (!folder.exists())
        return QStringLiteral("the database folder does not exist");
    if (!folder.isWritable())
        return QStringLiteral("the database folder is read-only");
    return QString();
}

// The lock (the first member) is held before the database is asked for.
TDBOperation::TDBOperation() : FDB(GetTasksDB())
{
    if (FDB->FOperationDepth++ == 0)
        FDB->FLastFailureReason.clear();
}

TDBOperation::TDBOperation(TtasksDB& aDB) : FDB(&aDB)
{
    if (FDB->FOperationDepth++ == 0)
        FDB->FLastFailureReason.clear();
}

TDBOperation::~TDBOperation()
{
    --FDB->FOperationDepth;
}
