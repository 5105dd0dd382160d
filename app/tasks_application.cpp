#include "app/tasks_application.h"

#include "util/kvd_dialogs.h"
#include "util/kvd_errors.h"
#include "util/tasks_log.h"

TtasksApplication::TtasksApplication(int& aArgc, char** aArgv) : QApplication(aArgc, aArgv) {}

bool TtasksApplication::notify(QObject* aReceiver, QEvent* aEvent)
{
    try {
        return QApplication::notify(aReceiver, aEvent);
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowException(EkvdError(QStringLiteral("Unknown error")));
    }
    return false;
}

void TtasksApplication::EndProgram()
{
    // exit, not quit: quit would first ask each window to close, in no fixed
    // order, and the main window refuses while closing it only hides it to the
    // tray. Whether the program ended would then depend on which window was
    // asked first.
    QCoreApplication::exit(0);
}

bool TtasksApplication::event(QEvent* aEvent)
{
    // A quit request (QCoreApplication::quit, the end of the desktop session)
    // ends the program as "Exit" does, instead of asking the windows.
    if (aEvent->type() == QEvent::Quit) {
        EndProgram();
        return true;
    }
    return QApplication::event(aEvent);
}

void TtasksApplication::ShowException(const std::exception& aError)
{
    if (TtasksLog* log = GetTasksLog())
        log->LogException(aError);
    TkvdMessageBox::Error(activeWindow(), ErrorMessage(aError));
}
