#pragma once

// Import and export of the tasks as iCalendar (.ics) files, over the store.
//
// What a task carries beyond the tasks table (the UID of an imported to-do and
// the object as last read, with the properties Ulmora does not map) lives in a
// table of its own beside the schema, made by the first import:
// "ical_tasks" (taskid, uid, vtodo). A task made here has its id as UID and no
// row until it is read from iCalendar. Rows of deleted tasks are removed by
// the next import.

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

class TtasksDB;

// A file larger than this is refused before it is read.
inline constexpr qint64 kMaxIcsFileSize = 64LL * 1024 * 1024;

// A to-do of an imported file that was not stored, and why.
struct TIcsRefusal
{
    // Its summary, or its UID when it has none.
    QString label;
    QString reason;
};

struct TIcsImportResult
{
    // False when nothing was imported: the file could not be read, is not an
    // iCalendar file, or the database refused the import as a whole.
    bool ok = true;
    // Why, when not ok.
    QString error;
    int added = 0;
    // Already present by UID.
    int skipped = 0;
    QList<TIcsRefusal> refused;
    // Events, journal entries and other components that are not to-dos,
    // passed over.
    int ignored = 0;

    // One line of counts, and a line for each refused to-do.
    QString Summary() const;
};

struct TIcsExportResult
{
    bool ok = true;
    QString error;
    int written = 0;
};

// Adds the to-dos of the file at aPath as tasks, in one transaction: a to-do
// whose UID is already present is skipped, one that cannot be a task is
// refused with its reason and the others are added. A tag met for the first
// time is made with the next colour of the tag colours.
TIcsImportResult ImportIcs(const QString& aPath);

// Writes the tasks of aIds (every task, open and finished, when empty) to
// aPath as one calendar. The file is replaced only when all of it was written.
TIcsExportResult ExportIcs(const QString& aPath, const QStringList& aIds);

// The iCalendar object kept for one task in "ical_tasks": the one stored
// member of the task, which the import writes and the sync reads and writes,
// so that its UID and every property Ulmora does not map travel with it.
struct TIcsMember
{
    QString taskid;
    QString uid;
    QByteArray vtodo;
};

// The table's statements for a caller that holds the store's operation or
// transaction on aDB; each returns false when the engine refused (aDB's
// LastFailureReason says why). MakeMemberTable makes the table where missing.
bool MakeMemberTable(TtasksDB& aDB);
bool ReadMembers(TtasksDB& aDB, std::vector<TIcsMember>& aMembers);
// Stores the member of its task, replacing the one it had.
bool WriteMember(TtasksDB& aDB, const TIcsMember& aMember);
bool DropMember(TtasksDB& aDB, const QString& aTaskId);

// Whether this build reads and writes iCalendar files.
bool IcsSupported();
