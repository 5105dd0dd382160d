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

void TtasksApplication::ShowException(const std::exception& aError)
{
    if (TtasksLog* log = GetTasksLog())
        log->LogException(aError);
    TkvdMessageBox::Error(activeWindow(), ErrorMessage(aError));
}
