#include "util/tasks_log.h"

#include "util/kvd_datetime.h"
#include "util/kvd_errors.h"
#include "util/kvd_utils.h"

#include <QFile>

namespace {

std::unique_ptr<TtasksLog>& Slot()
{
    static std::unique_ptr<TtasksLog> slot;
    return slot;
}

} // namespace

void TtasksLog::Log(const QString& aText)
{
    // A log must never become the reason something fails: every failure here
    // only loses the entry.
    try {
        const QString line = QStringLiteral("[%1] %2").arg(FormatDateTimeLocale(Now()), aText);
        // Failed statements may quote the user's tasks: a new log file is for
        // the user alone.
        QFile file(NativePath(FileName));
        if (!OpenPrivateFile(file, QIODevice::WriteOnly | QIODevice::Append))
            return;
        file.write(line.toLocal8Bit());
        file.write("\r\n");
        if (OnLog)
            OnLog(*this, line);
        file.close();
    } catch (...) {
    }
}

void TtasksLog::LogException(const std::exception& aError)
{
    if (Level > 4)
        return;
    Log(QStringLiteral("(X) %1: %2").arg(ErrorClassName(aError), ErrorMessage(aError)));
}

TtasksLog* GetTasksLog()
{
    return Slot().get();
}

void SetTasksLog(std::unique_ptr<TtasksLog> aLog)
{
    Slot() = std::move(aLog);
}
