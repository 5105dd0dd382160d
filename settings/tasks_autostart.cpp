// What every platform's start at login shares: the program its entry starts.

#include "settings/tasks_autostart.h"

#include <QCoreApplication>

namespace {

QString gProgram;

} // namespace

QString StartAtLoginProgram()
{
    return gProgram.isEmpty() ? QCoreApplication::applicationFilePath() : gProgram;
}

void SetStartAtLoginProgram(const QString& aProgram)
{
    gProgram = aProgram;
}
