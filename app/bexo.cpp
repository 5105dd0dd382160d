// Program entry of Ulmora.

#include "app/tasks_application.h"
#include "app/tasks_form_main.h"
#include "app/tasks_signals.h"
#include "resources/tasks_resources.h"
#include "resources/tasks_themes.h"
#include "settings/tasks_settings.h"
#include "store/tasks_db.h"
#include "update/kvd_services.h"
#include "update/kvd_update_dialogs.h"

#include <memory>

int main(int argc, char* argv[])
{
    // 1. The application; the main window is its task bar entry, and hiding it
    // to the tray must not end the program.
    TtasksApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(TasksAppIcon());
    // 2.
    ApplyTheme(TasksDefaults::theme);
    // 3.
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
    int result = 0;
    {
        // 4. Creating the window runs FormCreate.
        auto window = std::make_unique<TfrmTaskList>();
        // 5. The loop starts with the window shown (FormShow). It ends with
        // status 0 in one way only, QCoreApplication::exit(0): "Exit" in the
        // tray menu, a close that is not a hide, a quit request of the
        // desktop and SIGTERM, SIGINT or SIGHUP come through
        // TtasksApplication::EndProgram, the updater's terminate command
        // through the update service. Then the window is destroyed
        // (FormDestroy writes its geometry).
        window->show();
        result = QApplication::exec();
    }
    // The update service stops its timer, pipe server and pool; then the store
    // closes the database, and the settings flush and close.
    ReleaseServices();
    SetUpdateUI(nullptr);
    ReleaseTasksDB();
    ReleaseTasksSettings();
    return result;
}
