#include "util/kvd_guard.h"

#include "util/kvd_dialogs.h"
#include "util/tasks_log.h"

#include <QApplication>

void ShowException(const std::exception& aError)
{
    if (TtasksLog* log = GetTasksLog())
        log->LogException(aError);
    TkvdMessageBox::Error(QApplication::activeWindow(), ErrorMessage(aError));
}
