#include "app/tasks_application.h"

#include "util/kvd_guard.h"

TtasksApplication::TtasksApplication(int& aArgc, char** aArgv) : QApplication(aArgc, aArgv) {}

bool TtasksApplication::notify(QObject* aReceiver, QEvent* aEvent)
{
    // The same guard as every connected handler's: what escapes is logged and
    // shown, and the event counts as not handled.
    bool handled = false;
    RunGuarded([&] { handled = QApplication::notify(aReceiver, aEvent); });
    return handled;
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
