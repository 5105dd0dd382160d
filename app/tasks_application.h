#pragma once

#include <QApplication>

// The application object. Any error that escapes the handling of an event (a
// click, a key, a timer, a menu command) ends up here: it is logged, shown in
// an error box with its text, and the program goes on with the next event.
// Handlers connected to signals are caught by the same guard where they are
// connected (ConnectGuarded, util/kvd_guard.h), so that no exception passes
// through Qt's signal delivery.
class TtasksApplication : public QApplication
{
    Q_OBJECT
public:
    TtasksApplication(int& aArgc, char** aArgv);

    bool notify(QObject* aReceiver, QEvent* aEvent) override;

    // Ends the program: the event loop ends with status 0 whatever the windows
    // say, and the program entry then destroys the main window (which writes
    // its geometry) and releases the update service, the task store and the
    // settings, in that order. "Exit" in the tray menu, a close of the window
    // that is not a hide and a quit request of the desktop or of the toolkit
    // come here; the updater's terminate command, in the update service below
    // the application, ends the loop with the same QCoreApplication::exit(0).
    static void EndProgram();

protected:
    bool event(QEvent* aEvent) override;
};
