#pragma once

#include <QString>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>

// An append-only text log. Each line is "[time stamp] text"; the file is opened
// and closed for every line so nothing stays open between entries. A log file
// that the log creates is readable by the user alone.
class TtasksLog
{
public:
    using TOnLog = std::function<void(TtasksLog& aLog, const QString& aLine)>;

    QString FileName;
    uint8_t Level = 4;
    TOnLog OnLog;

    void Log(const QString& aText);
    // Writes "(X) class: message" while Level is 4 or lower.
    void LogException(const std::exception& aError);
};

// The current log, or nullptr when none was set.
TtasksLog* GetTasksLog();
// Puts a log in the process-wide slot (nullptr empties it).
void SetTasksLog(std::unique_ptr<TtasksLog> aLog);
