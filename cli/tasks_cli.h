#pragma once

// The program's command line: quick entry of one task from a shell or a
// desktop keyboard shortcut, showing the window, starting hidden in the tray,
// the version and the help. Reading it needs no display, and neither does
// storing a task, so the program entry reads its command line before it
// creates the application object.

#include "util/kvd_datetime.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// Exit statuses of the program.
constexpr int kExitOk = 0;
// The task could not be stored, or the running program did not answer.
constexpr int kExitFailure = 1;
// The command line is wrong; nothing was stored.
constexpr int kExitUsage = 2;

// What a start of the program is asked to do.
enum class TCommandAction
{
    Start,  // no option: start, or show the window of the program that runs
    Show,   // --show: the same
    Hidden, // --hidden: start in the tray without showing the window
    Add,    // --add: store one task and end
    Import, // --import: add the to-dos of an iCalendar file and end
    Export, // --export: write every task to an iCalendar file and end
    Help,
    Version
};

// One task of the command line, as typed: the tags by title, the due
// date-time as its option's text (empty: the settings' default choice).
struct TQuickTask
{
    QString summary;
    QString note;
    QStringList tags;
    QString due;
};

struct TCommandLine
{
    TCommandAction action = TCommandAction::Start;
    // For Add.
    TQuickTask task;
    // For Import and Export: the file, as an absolute path.
    QString file;
    // Why the command line is refused; empty when it is not.
    QString error;
};

// Reads the arguments after the program's name. The toolkit's own options
// (-platform, -session, -style, ...) are let through for the application
// object, which takes them from the same arguments.
TCommandLine ParseCommandLine(const QStringList& aArguments);

// "Ulmora 1.0.0.1".
QString VersionText();
QString HelpText();
// The line printed after a refused command line.
QString UsageHint();

// The due date-time of --due: one of the general choices, or an exact local
// date and time "YYYY-MM-DD HH:MM".
enum class TQuickDue
{
    Default, // no --due: the settings' default choice, as the editor presets it
    Unplanned,
    Hour,
    FourHours,
    Tomorrow,
    Exact
};

struct TQuickDueSpec
{
    TQuickDue kind = TQuickDue::Default;
    // For Exact.
    QDate date;
    QTime time;
};

// Reads a --due text; false, with aError saying why, when it is none of the forms.
bool ParseQuickDue(const QString& aText, TQuickDueSpec& aSpec, QString& aError);
// The due date-time by the editor's rules, computed from now: a general
// choice rounded to the time granularity and moved past the night, an exact
// one as given; the default is the choice the editor's "New" presets (the
// exact choice being the current time). 0 for none.
TDateTime QuickDueDate(const TQuickDueSpec& aSpec);

// What storing a task came to: kExitOk, kExitUsage for input that cannot be
// stored (a blank summary, an unknown tag, a bad date), kExitFailure when the
// database refused it; the message says why.
struct TQuickResult
{
    int status = kExitOk;
    QString message;
    // The stored task's id.
    QString taskid;
};

// Stores aTask as the editor's "Save" stores a new one, in one transaction:
// a new id, the summary and note as typed, the tags found by title, the due
// date-time of QuickDueDate. A title matches the tags of exactly that title,
// or when there is none, those whose title differs only in letter case; every
// matching tag is linked. Nothing is stored when any title matches no tag.
// Uses the settings and the store as they are; the caller loads the settings
// and names the database.
TQuickResult StoreQuickTask(const TQuickTask& aTask);

// --import: adds the to-dos of the iCalendar file aPath (see ImportIcs).
// kExitOk with the counts as the message when the file was read, also when
// some to-dos were refused (each named with its reason); kExitFailure when
// the file could not be read or the database refused the import.
TQuickResult ImportTasksFile(const QString& aPath);
// --export: writes every task to aPath; kExitOk with the count as the
// message, kExitFailure when the file could not be written.
TQuickResult ExportTasksFile(const QString& aPath);
