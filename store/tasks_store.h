#pragma once

// The task and tag operations of the program over the store's one connection,
// each complete and atomic. A window calls an operation and shows its result;
// nothing here shows anything. Every statement on the tasks, the tags and
// their links is written here, once.
//
// An operation that the engine refuses returns a failed TStoreResult whose
// reason names the cause in words ("the database is locked", a trigger's
// RAISE text). Only a database that cannot be opened raises EDatabaseError,
// as GetTasksDB()->Connect does.

#include "store/tasks_db.h"
#include "store/zdb.h"
#include "util/kvd_datetime.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// What an operation did: success, or the reason of its failure in words.
struct TStoreResult
{
    bool ok = true;
    // Empty on success.
    QString reason;

    explicit operator bool() const { return ok; }
    // The text a window shows: aWhat, then the reason (see FailureText).
    QString Message(const QString& aWhat) const { return FailureText(aWhat, reason); }
};

// The values by which the list statement orders a task, as stored: its finish,
// due and creation times as text (a null text for NULL) and its id.
struct TTaskListKey
{
    QString finisheddt;
    QString duedt;
    QString createddt;
    QString taskid;
};

// One row of the tasks table, as the list and the editor use it.
struct TStoredTask
{
    QString taskid;
    QString summary;
    QString note;
    // Days since 1899-12-30, local time; 0 for none (NULL in the table).
    TDateTime duedt = 0;
    bool finished = false;
    // Ids of the task's tags joined by commas, empty without tags.
    QString tagsids;
    // Where the list statement puts the task, and the stored texts of its
    // times; filled by the list operations and ReadTask.
    TTaskListKey order;
};

// The fields of a stored task that an edit writes one by one.
enum class TTaskField
{
    Summary,
    Note,
    DueDateTime
};

// An edit of a stored task: the task as the edit read it and what the user
// changed since. Only the fields the user changed are written, and only the
// links of the tags the user ticked or unticked, so that what was changed
// elsewhere meanwhile (by the sync, say) in the rest is kept.
struct TTaskEdit
{
    QString taskid;
    // The task as ReadTask gave it when the edit began. Its summary, note and
    // the stored text of its due date-time (order.duedt) tell whether a field
    // was changed elsewhere since.
    TStoredTask loaded;
    // The user's values of the fields the user changed; a field without one
    // stays as it is stored. A due date-time of 0 stores NULL.
    std::optional<QString> summary;
    std::optional<QString> note;
    std::optional<TDateTime> duedt;
    // The tags the user ticked and unticked; the task's other links stay.
    QStringList linkTagIds;
    QStringList unlinkTagIds;
};

// Why SaveTaskEdit wrote nothing although the database accepted its work.
struct TTaskEditConflict
{
    // The task is no longer stored.
    bool gone = false;
    // The fields the user changed that were changed elsewhere meanwhile to
    // another value than the user's, in the order of TTaskField.
    QList<TTaskField> fields;
    // The task as it is stored now (summary, note, duedt, order.duedt) when
    // fields is not empty.
    TStoredTask stored;

    bool Any() const { return gone || !fields.isEmpty(); }
};

// One row of the tags table.
struct TStoredTag
{
    QString tagid;
    QString title;
    int32_t color = 0;
    int image = 0;
    TDateTime createddt = 0;
};

// What a bulk entry could not store although the batch was committed.
struct TBulkEntryReport
{
    // The summaries of the lines whose task was refused, in line order.
    QStringList failedLines;
    // Tag links refused for tasks that were stored.
    int failedLinks = 0;
    // Why the last of them was refused; empty when nothing was.
    QString reason;
};

// A reminder shown for a task's due date-time.
struct TAnnouncement
{
    QString taskid;
    // Days since 1899-12-30, local time.
    TDateTime duedt = 0;
};

// One transaction of the store for a scope. It holds the store's lock and makes
// its statements one operation for LastFailureReason (see TDBOperation).
// Commit stores the work only while the engine still holds the transaction:
// on some failures (a full disk, an I/O error) the engine gives it up by
// itself, the statements after that would each have committed on their own,
// and the work is then reported as failed. A scope left without a successful
// Commit rolls back. Guards do not nest: starting a transaction commits one
// that is open.
class TDBTransaction
{
public:
    // On the program's database (GetTasksDB), or on the one given.
    TDBTransaction();
    explicit TDBTransaction(TtasksDB& aDB);
    ~TDBTransaction();
    TDBTransaction(const TDBTransaction&) = delete;
    TDBTransaction& operator=(const TDBTransaction&) = delete;

    // The engine began the transaction; otherwise LastFailureReason says why.
    bool Started() const { return FStarted; }
    // The engine gave up the transaction that this guard started.
    bool Lost() const;
    // Stores the work. False, with nothing of it stored, when the transaction
    // never started, was lost, or its commit failed; false too once it was
    // committed or rolled back.
    bool Commit();
    // Gives up the work; nothing of it is stored.
    void Rollback();
    // Ends the transaction of an operation: commits when aDone, otherwise
    // (or when the commit fails) rolls back, and says how it went with the
    // reason of the operation's latest failure.
    TStoreResult Finish(bool aDone);

private:
    TDBOperation FOperation;
    TtasksDB* FDB;
    bool FStarted = false;
    bool FOpen = false;
};

// A task as another program knows it (a CalDAV member, an imported to-do):
// every column of its row, its times as the store reads them back (see
// StoredTimeText), and the titles of its tags.
struct TTaskRow
{
    QString taskid;
    QString summary;
    QString note;
    // "YYYY-MM-DD HH:MM:SS"; a null text is NULL. A new row without a
    // creation time gets the database's current UTC time.
    QString duedt;
    QString finisheddt;
    QString createddt;
    // Read only: the titles of the task's tags, ordered by title.
    QStringList tagTitles;
};

// The statements on tasks, tags and links for a caller that keeps a table of
// its own beside them (the sync, the import) and writes both in one
// transaction: the caller holds a TDBTransaction on the same database while
// it uses these, so that a task and what the caller keeps of it are stored
// together or not at all. Each returns false when the engine refused; the
// database's LastFailureReason says why, and the caller's transaction may be
// lost (TDBTransaction::Lost).
class TTaskRows
{
public:
    explicit TTaskRows(TtasksDB& aDB);
    ~TTaskRows();
    TTaskRows(const TTaskRows&) = delete;
    TTaskRows& operator=(const TTaskRows&) = delete;

    // Every task with its tags' titles, by creation time, then id.
    bool ReadAll(std::vector<TTaskRow>& aRows);
    // One task with its tags' titles; aFound is false when it is not stored.
    bool Read(const QString& aId, TTaskRow& aRow, bool& aFound);
    // The ids of every task.
    bool ReadIds(QSet<QString>& aIds);
    // Stores a new row of every column of aRow (its tagTitles are not read).
    bool Insert(const TTaskRow& aRow);
    // Writes summary, note, due and finish time of the stored row aRow.taskid.
    bool Update(const TTaskRow& aRow);
    // The task and its tag links.
    bool Delete(const QString& aId);
    bool Link(const QString& aTaskId, const QString& aTagId);
    // Removes every tag link of the task.
    bool Unlink(const QString& aTaskId);
    // Every tag, in the order of TtasksStore::ListTags.
    bool ReadTags(std::vector<TStoredTag>& aTags);
    // A new tag of aTag's id, title and colour, made now.
    bool InsertTag(const TStoredTag& aTag);

private:
    TtasksDB& FDB;
    std::unique_ptr<TZQuery> FQuery;
    std::unique_ptr<TZQuery> FLinks;
};

class TtasksStore
{
public:
    TtasksStore() = delete;

    // ---- tasks
    // The tasks of the main window's list: every open task and the tasks
    // finished on the local "today" of the program's clock, open tasks first,
    // then by due date-time (none first), the newer first among equals.
    static TStoreResult ListTasks(std::vector<TStoredTask>& aTasks);
    // The rows that ListTasks would give for the tasks of aIds, in its order:
    // a task that is not stored, or no longer listed, gives none. Lets the
    // list update the rows of a few changed tasks without reading all.
    static TStoreResult ListTasksOf(const QStringList& aIds, std::vector<TStoredTask>& aTasks);
    // One task and the ids of its tags, with the stored texts of its times in
    // order. Fails with "the task is no longer stored" when there is no such
    // task.
    static TStoreResult ReadTask(const QString& aId, TStoredTask& aTask);
    // Writes the task row (a new row when aCreating, otherwise an update of
    // summary, note and due date-time) and replaces its tag links by aTagIds,
    // in one transaction: all of it is stored or nothing. The note is stored
    // as it is given, also when empty; the database sets the creation time of
    // a new row.
    static TStoreResult SaveTask(const TStoredTask& aTask, const QStringList& aTagIds,
                                 bool aCreating);
    // Writes the user's changes of an edit in one transaction that first
    // reads the task: per field the user changed, the value stored now is
    // compared with the one the edit read. When the task is gone, or a field
    // was changed meanwhile to another value than the user's, nothing is
    // written and aConflict says why; the result is still a success, as the
    // database did all it was asked. A field changed elsewhere to the user's
    // own value is no conflict. A tag link is added or removed only where it
    // is missing or present (tag ids compared ignoring case, as the editor
    // ticks them), so a link that another change made stays.
    static TStoreResult SaveTaskEdit(const TTaskEdit& aEdit, TTaskEditConflict& aConflict);
    // Deletes the task and its tag links in one transaction.
    static TStoreResult DeleteTask(const QString& aId);
    // Marks the task finished at aWhen.
    static TStoreResult FinishTask(const QString& aId, TDateTime aWhen);
    // Makes a finished task open again.
    static TStoreResult ReopenTask(const QString& aId);
    // Sets the due date-time of every listed task to aDue (0 stores NULL), one
    // statement per id, each committed on its own: a refused id does not stop
    // the others. Fails when any was refused, with the reason of the last.
    static TStoreResult MoveDueDates(const QStringList& aIds, TDateTime aDue);
    // The bulk entry: a task for each non-empty summary of aSummaries (an
    // empty one is a blank line, counted for the line numbers the log names),
    // with a new id, no note and no due date-time, each linked to every tag of
    // aTagIds. One transaction for the whole batch. A task or link the engine
    // refuses is logged, skipped and listed in aReport; fails, with nothing
    // stored, when the transaction itself fails or is lost.
    static TStoreResult InsertTasks(const QStringList& aSummaries, const QStringList& aTagIds,
                                    TBulkEntryReport& aReport);

    // ---- tags
    // Every tag, ordered by title (binary comparison), then by creation time.
    // A NULL column reads as empty text, 0 or the date-time 0.
    static TStoreResult ListTags(std::vector<TStoredTag>& aTags);
    // Inserts the tag (creation time set by the database) when aCreating,
    // otherwise updates its title and colour.
    static TStoreResult SaveTag(const TStoredTag& aTag, bool aCreating);
    // Deletes the tag and its links to tasks in one transaction.
    static TStoreResult DeleteTag(const QString& aId);

    // ---- reminders
    // What the reminders announced, kept so that a due date-time is announced
    // once also across restarts, in two tables of their own beside the
    // schema: "announced" (a task id and a due date-time that a reminder was
    // shown for) and "reminder_pass" (the moment of the latest reminder pass).
    // Each of these operations makes them when they are missing.
    // The moment of the latest reminder pass recorded; 0 when none was.
    static TStoreResult ReadLastReminderPass(TDateTime& aWhen);
    // The announcements of due date-times from aFrom to aUntil, both included,
    // to the whole second as the table holds them.
    static TStoreResult ListAnnounced(TDateTime aFrom, TDateTime aUntil,
                                      std::vector<TAnnouncement>& aAnnounced);
    // Records aAnnounced (an announcement recorded before stays one) and aPass
    // as the moment of the latest pass, in one transaction.
    static TStoreResult RecordReminderPass(const std::vector<TAnnouncement>& aAnnounced,
                                           TDateTime aPass);
    // Forgets the announcements that can no longer matter: those of tasks
    // deleted or finished, and of each task all but the latest due date-time.
    static TStoreResult PruneAnnounced();
};

// The one rule by which a title names tags, wherever a person or a file names
// a tag by its title (the command line, an import): the tags of exactly that
// title, or, where there is none, those whose title differs only in letter
// case, in aTags' order. With aExactOnly the first step alone: the sync takes
// a server's category as it is written, so that it goes back as it came.
QStringList TagsTitled(const std::vector<TStoredTag>& aTags, const QString& aTitle,
                       bool aExactOnly = false);

// A stored date-time as the sync and the import read it: "YYYY-MM-DD
// HH:MM:SS" for a value the store can read, the stored text itself for one
// it cannot, empty for NULL.
QString StoredTimeText(const TZField& aField);

// The text the store writes for a due date-time, as order.duedt holds it once
// read back: a null text for 0, which is stored as NULL.
QString StoredDueText(TDateTime aDue);
// Whether storing aDue (0: none) would give aTask another due date-time than
// it had when it was read: compared as the text the store writes, so a due
// date-time stored in another form, or one that cannot be read, differs from
// every value.
bool DueDateTimeDiffers(const TStoredTask& aTask, TDateTime aDue);

// The statement that loads the list; :today is the local date, YYYY-MM-DD.
QString TaskListStatement();
// The local date of the program's clock that the list statement binds as
// :today, YYYY-MM-DD.
QString TaskListToday();

// Whether the list statement gives the task of aLeft before that of aRight:
// finish time ascending, then due time ascending (NULL first in both), then
// creation time descending; tasks equal in all three come in the order in
// which the engine grouped them, by id. Values compare as the engine compares
// them: NULL first, numbers before text, text by its UTF-8 bytes.
bool ListedBefore(const TTaskListKey& aLeft, const TTaskListKey& aRight);
// Whether the list statement, run on aToday, lists the task of aKey for
// certain: an open task, or one finished on aToday written as the store
// writes times. False when it is not listed or only the engine can tell.
bool SurelyListedOn(const TTaskListKey& aKey, const QString& aToday);
