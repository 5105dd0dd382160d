#include "cli/tasks_cli.h"

#include "due/tasks_duedates.h"
#include "ical/tasks_ics.h"
#include "settings/tasks_settings.h"
#include "store/tasks_store.h"
#include "util/kvd_utils.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

// The options of the application object that a start may carry: the toolkit
// takes them from the arguments itself (a session manager restarts a program
// with -session), so they are accepted here and left alone.
const char* const kToolkitValueOptions[] = {"platform",      "platformpluginpath",
                                            "platformtheme", "plugin",
                                            "qmljsdebugger", "qwindowgeometry",
                                            "geometry",      "qwindowtitle",
                                            "title",         "qwindowicon",
                                            "icon",          "session",
                                            "display",       "name",
                                            "style",         "stylesheet",
                                            "dialogs",       "fontengine"};
const char* const kToolkitFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

QString Quoted(const QString& aText)
{
    return QLatin1Char('"') + aText + QLatin1Char('"');
}

// The one value of an option that may be given once; false with aError when
// it was given more than once.
bool SingleValue(const QCommandLineParser& aParser, const QString& aName, QString& aValue,
                 QString& aError)
{
    const QStringList values = aParser.values(aName);
    if (values.size() > 1) {
        aError = QStringLiteral("--%1 is given more than once.").arg(aName);
        return false;
    }
    aValue = values.value(0);
    return true;
}

QString DueFormsHint()
{
    return QStringLiteral("use unplanned, hour, 4hours, tomorrow or \"YYYY-MM-DD HH:MM\"");
}

} // namespace

TCommandLine ParseCommandLine(const QStringList& aArguments)
{
    QCommandLineParser parser;
    // "-platform xcb" is one option with a value, as the toolkit reads it,
    // not the letters p, l, a, ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    const QCommandLineOption add(QStringLiteral("add"), QString(), QStringLiteral("summary"));
    const QCommandLineOption note(QStringLiteral("note"), QString(), QStringLiteral("text"));
    const QCommandLineOption tag(QStringLiteral("tag"), QString(), QStringLiteral("title"));
    const QCommandLineOption due(QStringLiteral("due"), QString(), QStringLiteral("when"));
    const QCommandLineOption show(QStringLiteral("show"), QString());
    const QCommandLineOption hidden(QStringLiteral("hidden"), QString());
    const QCommandLineOption import(QStringLiteral("import"), QString(), QStringLiteral("file"));
    const QCommandLineOption exportTo(QStringLiteral("export"), QString(), QStringLiteral("file"));
    parser.addOptions({help, version, add, note, tag, due, show, hidden, import, exportTo});
    for (const char* name : kToolkitValueOptions)
        parser.addOption(
            QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    for (const char* name : kToolkitFlagOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(name), QString()));

    TCommandLine command;
    // The parser skips the first argument, the program's name.
    if (!parser.parse(QStringList{QStringLiteral("ulmora")} + aArguments)) {
        command.error = parser.errorText();
        return command;
    }
    if (!parser.positionalArguments().isEmpty()) {
        command.error = QStringLiteral("unexpected argument %1 (a summary with blanks needs "
                                       "quotes: --add \"Call Anna\").")
                            .arg(Quoted(parser.positionalArguments().first()));
        return command;
    }
    if (parser.isSet(help)) {
        command.action = TCommandAction::Help;
        return command;
    }
    if (parser.isSet(version)) {
        command.action = TCommandAction::Version;
        return command;
    }

    const int actions = int(parser.isSet(add)) + int(parser.isSet(show)) +
                        int(parser.isSet(hidden)) + int(parser.isSet(import)) +
                        int(parser.isSet(exportTo));
    if (actions > 1) {
        command.error =
            QStringLiteral("--add, --show, --hidden, --import and --export cannot be combined.");
        return command;
    }
    if (!parser.isSet(add)) {
        for (const QCommandLineOption* option : {&note, &tag, &due}) {
            if (parser.isSet(*option)) {
                command.error =
                    QStringLiteral("--%1 belongs to --add.").arg(option->names().first());
                return command;
            }
        }
        for (const QCommandLineOption* option : {&import, &exportTo}) {
            if (!parser.isSet(*option))
                continue;
            const QString name = option->names().first();
            if (!SingleValue(parser, name, command.file, command.error))
                return command;
            if (command.file.trimmed().isEmpty()) {
                command.error = QStringLiteral("the file of --%1 is empty.").arg(name);
                return command;
            }
            // The running program that may do the import has a folder of its own.
            command.file = QFileInfo(command.file).absoluteFilePath();
            command.action = option == &import ? TCommandAction::Import : TCommandAction::Export;
            return command;
        }
        if (parser.isSet(show))
            command.action = TCommandAction::Show;
        else if (parser.isSet(hidden))
            command.action = TCommandAction::Hidden;
        return command;
    }

    command.action = TCommandAction::Add;
    TQuickTask& task = command.task;
    if (!SingleValue(parser, QStringLiteral("add"), task.summary, command.error) ||
        !SingleValue(parser, QStringLiteral("note"), task.note, command.error) ||
        !SingleValue(parser, QStringLiteral("due"), task.due, command.error))
        return command;
    task.tags = parser.values(tag);
    if (parser.isSet(due) && task.due.trimmed().isEmpty()) {
        command.error = QStringLiteral("--due is empty: %1.").arg(DueFormsHint());
        return command;
    }
    if (task.summary.trimmed().isEmpty()) {
        command.error = QStringLiteral("the summary of --add is blank.");
        return command;
    }
    for (const QString& title : task.tags) {
        if (title.trimmed().isEmpty()) {
            command.error = QStringLiteral("a --tag has a blank title.");
            return command;
        }
    }
    TQuickDueSpec spec;
    ParseQuickDue(task.due, spec, command.error);
    return command;
}

QString VersionText()
{
    return QStringLiteral("Ulmora ") + GetAppVersion();
}

QString UsageHint()
{
    return QStringLiteral("Try \"ulmora --help\" for the options.");
}

QString HelpText()
{
    return QStringLiteral(
        "Usage: ulmora [--show | --hidden]\n"
        "       ulmora --add SUMMARY [--note TEXT] [--tag TITLE]... [--due WHEN]\n"
        "       ulmora --import FILE | --export FILE\n"
        "\n"
        "Ulmora, a to-do list in the tray. Without options it starts, or shows the\n"
        "window of the Ulmora that already runs.\n"
        "\n"
        "  --add SUMMARY   store a new task and end; a running Ulmora lists it at once\n"
        "  --note TEXT     the task's note\n"
        "  --tag TITLE     a tag of the task, by its title; repeat it for more tags\n"
        "  --due WHEN      unplanned, hour, 4hours, tomorrow or \"YYYY-MM-DD HH:MM\";\n"
        "                  without it, the default due date of the settings. As in the\n"
        "                  editor, hour, 4hours and tomorrow are rounded to the time\n"
        "                  granularity and moved past the night hours\n"
        "  --import FILE   add the to-dos of an iCalendar (.ics) file as tasks and end;\n"
        "                  to-dos already present (by UID) are skipped, and the counts\n"
        "                  of added, skipped and refused ones are printed\n"
        "  --export FILE   write every task, open and finished, to an iCalendar (.ics)\n"
        "                  file and end\n"
        "  --show          show the window (starting Ulmora when it does not run)\n"
        "  --hidden        start in the tray without showing the window, as at login\n"
        "  --version       print the version and end\n"
        "  -h, --help      print this help and end\n"
        "\n"
        "Exit status: 0 done; 1 the task could not be stored, the file could not be\n"
        "read or written, or the running Ulmora did not answer; 2 a wrong command\n"
        "line, an unknown tag or a bad date (nothing is stored).\n");
}

bool ParseQuickDue(const QString& aText, TQuickDueSpec& aSpec, QString& aError)
{
    aSpec = TQuickDueSpec();
    const QString word = aText.trimmed().toLower();
    if (aText.isEmpty())
        return true;
    const std::pair<const char*, TQuickDue> words[] = {{"unplanned", TQuickDue::Unplanned},
                                                       {"hour", TQuickDue::Hour},
                                                       {"4hours", TQuickDue::FourHours},
                                                       {"tomorrow", TQuickDue::Tomorrow}};
    for (const auto& [name, kind] : words) {
        if (word == QLatin1String(name)) {
            aSpec.kind = kind;
            return true;
        }
    }
    static const QRegularExpression exact(
        QStringLiteral("^(\\d{4})-(\\d{2})-(\\d{2}) (\\d{2}):(\\d{2})$"));
    const QRegularExpressionMatch match = exact.match(aText.trimmed());
    if (!match.hasMatch()) {
        aError = QStringLiteral("--due %1 is no due date: %2.").arg(Quoted(aText), DueFormsHint());
        return false;
    }
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.captured(3).toInt());
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt());
    if (!date.isValid() || !time.isValid()) {
        aError = QStringLiteral("--due %1: there is no such %2.")
                     .arg(Quoted(aText),
                          date.isValid() ? QStringLiteral("time of day") : QStringLiteral("date"));
        return false;
    }
    aSpec.kind = TQuickDue::Exact;
    aSpec.date = date;
    aSpec.time = time;
    return true;
}

TDateTime QuickDueDate(const TQuickDueSpec& aSpec)
{
    switch (aSpec.kind) {
    case TQuickDue::Unplanned:
        return DueDateOfChoice(TDueChoice::Unplanned);
    case TQuickDue::Hour:
        return DueDateOfChoice(TDueChoice::Hour);
    case TQuickDue::FourHours:
        return DueDateOfChoice(TDueChoice::FourHours);
    case TQuickDue::Tomorrow:
        return DueDateOfChoice(TDueChoice::Tomorrow);
    case TQuickDue::Exact:
        return ExactDueDate(aSpec.date, aSpec.time);
    case TQuickDue::Default:
        break;
    }
    const TDueChoice choice = DefaultDueDateTime();
    if (choice != TDueChoice::Exact)
        return DueDateOfChoice(choice);
    // The editor's "New" presets the exact pickers to now, to the second.
    const QDateTime now = NowDateTime();
    const QTime time = now.time();
    return ExactDueDate(now.date(), QTime(time.hour(), time.minute(), time.second()));
}

TQuickResult StoreQuickTask(const TQuickTask& aTask)
{
    TQuickResult result;
    auto refuse = [&result](int aStatus, const QString& aMessage) {
        result.status = aStatus;
        result.message = aMessage;
        return result;
    };
    if (aTask.summary.trimmed().isEmpty())
        return refuse(kExitUsage, QStringLiteral("the summary of --add is blank."));
    TQuickDueSpec spec;
    QString error;
    if (!ParseQuickDue(aTask.due, spec, error))
        return refuse(kExitUsage, error);

    QStringList tagIds;
    if (!aTask.tags.isEmpty()) {
        std::vector<TStoredTag> tags;
        const TStoreResult listed = TtasksStore::ListTags(tags);
        if (!listed)
            return refuse(kExitFailure,
                          QStringLiteral("the tags could not be read, so nothing was stored: %1")
                              .arg(listed.reason));
        QStringList unknown;
        for (const QString& title : aTask.tags) {
            const QStringList found = TagsTitled(tags, title);
            if (found.isEmpty())
                unknown << Quoted(title);
            for (const QString& id : found) {
                if (!tagIds.contains(id))
                    tagIds << id;
            }
        }
        if (!unknown.isEmpty()) {
            QStringList titles;
            for (const TStoredTag& stored : tags)
                titles << Quoted(stored.title);
            const QString known =
                titles.isEmpty()
                    ? QStringLiteral("there are no tags yet (the settings dialog makes them)")
                    : QStringLiteral("the tags are %1").arg(titles.join(QStringLiteral(", ")));
            return refuse(kExitUsage,
                          QStringLiteral("no tag is titled %1, so nothing was stored; %2.")
                              .arg(unknown.join(QStringLiteral(", ")), known));
        }
    }

    TStoredTask task;
    task.taskid = GenerateId();
    task.summary = aTask.summary;
    task.note = aTask.note;
    task.duedt = QuickDueDate(spec);
    const TStoreResult stored = TtasksStore::SaveTask(task, tagIds, true);
    if (!stored)
        return refuse(kExitFailure,
                      QStringLiteral("the task could not be stored: %1").arg(stored.reason));
    result.taskid = task.taskid;
    return result;
}

TQuickResult ImportTasksFile(const QString& aPath)
{
    TQuickResult result;
    const TIcsImportResult imported = ImportIcs(aPath);
    result.status = imported.ok ? kExitOk : kExitFailure;
    result.message = imported.ok ? QStringLiteral("Imported %1: %2").arg(aPath, imported.Summary())
                                 : imported.error;
    return result;
}

TQuickResult ExportTasksFile(const QString& aPath)
{
    TQuickResult result;
    const TIcsExportResult exported = ExportIcs(aPath, {});
    result.status = exported.ok ? kExitOk : kExitFailure;
    result.message = exported.ok ? QStringLiteral("Exported %1 %2 to %3.")
                                       .arg(exported.written)
                                       .arg(exported.written == 1 ? QStringLiteral("task")
                                                                  : QStringLiteral("tasks"),
                                            aPath)
                                 : exported.error;
    return result;
}
