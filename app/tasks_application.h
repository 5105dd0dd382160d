#pragma once

#include <QApplication>
#include <exception>

// The application object. Any error that escapes the handling of an event (a
// click, a key, a timer, a menu command) ends up here: it is logged, shown in
// an error box with its text, and the program goes on with the next event.
class TtasksApplication : public QApplication
{
    Q_OBJECT
public:
    TtasksApplication(int& aArgc, char** aArgv);

    bool notify(QObject* aReceiver, QEvent* aEvent) override;

    // Logs the error and shows it in an error box.
    static void ShowException(const std::exception& aError);
};
