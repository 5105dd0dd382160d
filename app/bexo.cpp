// Program entry of Ulmora.

#include "app/tasks_application.h"
#include "app/tasks_form_main.h"
#include "app/tasks_instance_window.h"
#include "app/tasks_session_bus.h"
#include "app/tasks_signals.h"
#include "app/tasks_tray.h"
#include "cli/tasks_cli.h"
#include "cli/tasks_instance.h"
#include "resources/tasks_resources.h"
#include "resources/tasks_themes.h"
#include "settings/tasks_settings.h"
#include "store/tasks_db.h"
#include "update/kvd_services.h"
#include "update/kvd_update_dialogs.h"
#include "util/kvd_errors.h"
#include "util/kvd_guard.h"
#include "util/kvd_utils.h"
#include "util/tasks_log.h"

#include <QCoreApplication>
#include <cstdio>
#include <memory>

namespace {

QStringList ArgumentsOf(int aArgc, char* aArgv[])
{
    QStringList arguments;
    for (int i = 1; i < aArgc; ++i)
        arguments << QString::fromLocal8Bit(aArgv[i]);
    return arguments;
}

void PrintOut(const QString& aText)
{
    std::fputs(aText.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void PrintError(const QString& aText)
{
    std::fputs(QStringLiteral("ulmora: %1\n").arg(aText).toLocal8Bit().constData(), stderr);
}

// A problem of the running program goes to its log as well, where it can be
// read when the program was started from the desktop.
void ReportProblem(const QString& aText)
{
    PrintError(aText);
    if (TtasksLog* log = GetTasksLog())
        log->Log(aText);
}

// --add or --import with no instance running, and --export: the work goes
// straight to the database that the settings name, without a window or a
// display.
int RunWithoutWindow(int aArgc, char* aArgv[], const TCommandLine& aCommand)
{
    QCoreApplication app(aArgc, aArgv);
    QCoreApplication::setApplicationName(QStringLiteral("Ulmora"));
    TQuickResult result;
    try {
        GetTasksSettings();
        StartTasksLog();
        SetTasksDBFile(db_file);
        if (aCommand.action == TCommandAction::Import)
            result = ImportTasksFile(aCommand.file);
        else if (aCommand.action == TCommandAction::Export)
            result = ExportTasksFile(aCommand.file);
        else
            result = StoreQuickTask(aCommand.task);
    } catch (const std::exception& error) {
        // The database cannot be opened.
        result.status = kExitFailure;
        result.message = ErrorMessage(error);
    }
    ReleaseTasksDB();
    ReleaseTasksSettings();
    if (result.status != kExitOk)
        PrintError(result.message);
    else if (!result.message.isEmpty())
        PrintOut(result.message + QLatin1Char('\n'));
    return result.status;
}

// The program with its window; it answers later starts on aInstance.
int RunWindow(int aArgc, char* aArgv[], const TCommandLine& aCommand, TInstanceServer& aInstance,
              const QString& aWarning)
{
    // The application; the main window is its task bar entry, and hiding it
    // to the tray must not end the program.
    TtasksApplication app(aArgc, aArgv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(TasksAppIcon());
    ApplyTheme(TasksDefaults::theme);
    // The application name is also the display name (message box titles). An
    // explicit display name would make X11 show every dialog as "Settings —
    // Ulmora" instead of its own caption.
    QApplication::setApplicationName(QStringLiteral("Ulmora"));
    // Failed statements are written to "ulmora.log" beside the settings file.
    StartTasksLog();
    // A logout, kill or Ctrl+C ends the program as "Exit" does.
    EndProgramOnSystemRequests();
    // "Check Now!" asks and answers through the wait box and message boxes.
    SetUpdateUI(std::make_shared<TkvdUpdateDialogs>());
    if (!aWarning.isEmpty())
        ReportProblem(aWarning);
    int result = 0;
    {
        // Creating the window runs FormCreate.
        auto window = std::make_unique<TfrmTaskList>();
        // Later starts are answered from here on; their requests wait for
        // the event loop.
        TfrmTaskList* shown = window.get();
        if (!aInstance.Start([shown](const TInstanceRequest& aRequest) {
                return AnswerInstanceRequest(*shown, aRequest);
            }))
            ReportProblem(QStringLiteral("a second start cannot reach this one: its channel %1 "
                                         "could not be made.")
                              .arg(aInstance.PipePath()));
        // The loop starts with the window shown (FormShow), unless the
        // program starts hidden in the tray (at login). Without a tray to
        // hide in, the window starts minimised instead, so that it can be
        // reached from the task bar.
        // The loop ends with status 0 in one way only, QCoreApplication::exit(0):
        // "Exit" in the tray menu, a close that is not a hide, a quit request
        // of the desktop and SIGTERM, SIGINT or SIGHUP come through
        // TtasksApplication::EndProgram, the updater's terminate command
        // through the update service.
        // The end, once: no request may reach a window that is going; the
        // window writes its geometry (FormDestroy); the update service stops
        // its timer, pipe server and pool; the store closes the database, and
        // the settings flush and close. The toolkit emits aboutToQuit when the
        // loop ends, and on Windows also inside WM_ENDSESSION, after which the
        // system may end the process before the loop returns: the end runs
        // at whichever comes first.
        bool finished = false;
        const auto finish = [&] {
            if (finished)
                return;
            finished = true;
            aInstance.Stop();
            window->FormDestroy();
            ReleaseServices();
            SetUpdateUI(nullptr);
            ReleaseTasksDB();
            ReleaseTasksSettings();
        };
        ConnectGuarded(&app, &QCoreApplication::aboutToQuit, window.get(), finish);
        if (aCommand.action != TCommandAction::Hidden)
            window->show();
        else if (!window->Tray()->Present())
            window->ShowMinimised();
        result = QApplication::exec();
        finish();
    }
    return result;
}

} // namespace

int main(int argc, char* argv[])
{
    // Before anything can reach for the session bus, and while the process
    // has one thread: the step changes the environment.
    NeverLaunchSessionBus();
    // The command line comes first: the version, the help and a quick entry
    // need no display.
    const TCommandLine command = ParseCommandLine(ArgumentsOf(argc, argv));
    if (!command.error.isEmpty()) {
        PrintError(command.error + QLatin1Char('\n') + UsageHint());
        return kExitUsage;
    }
    if (command.action == TCommandAction::Help) {
        PrintOut(HelpText());
        return kExitOk;
    }
    if (command.action == TCommandAction::Version) {
        PrintOut(VersionText() + QLatin1Char('\n'));
        return kExitOk;
    }

    // An export reads the database alone, whether or not a program runs.
    if (command.action == TCommandAction::Export)
        return RunWithoutWindow(argc, argv, command);

    // One program per settings file: a later start hands its request to the
    // one that runs and ends with its answer.
    const QString channel = InstanceChannelName(NativePath(DefaultConfigFile()));
    TInstanceReach reach = ReachInstance(channel, InstanceRequestOf(command));
    if (reach.outcome != TInstanceReach::TOutcome::Instance) {
        if (reach.reply.status != kExitOk)
            PrintError(reach.reply.message);
        else if (!reach.reply.message.isEmpty())
            PrintOut(reach.reply.message + QLatin1Char('\n'));
        return reach.reply.status;
    }
    // The lock stays taken until the program ends: a start meanwhile waits
    // for this one, whether it stores a task or runs the window.
    TInstanceServer instance(channel, std::move(reach.lock));
    if (command.action == TCommandAction::Add || command.action == TCommandAction::Import)
        return RunWithoutWindow(argc, argv, command);
    return RunWindow(argc, argv, command, instance, reach.warning);
}
