// The requests of the system to end the program on Windows:
// - the end of the session (log off, shut down): WM_QUERYENDSESSION to the
//   program's top-level windows. It is answered yes and the program ends the
//   way "Exit" does right away, while the system is still asking the other
//   programs: once WM_ENDSESSION has been answered the system may end the
//   process at any moment, before the window has written its geometry;
// - a console the program was started from, when one is attached: Ctrl+C,
//   Ctrl+Break, closing the console, log off and shut down. The handler runs on
//   a thread of the system; it hands the request to the event loop and waits
//   (a little less than the five seconds the system grants) until the program
//   has finished, because returning ends the process on the spot.

#include "app/tasks_signals.h"

#include "app/tasks_application.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QMetaObject>
#include <cstdlib>

#include <windows.h>

namespace {

constexpr DWORD kConsoleWaitMs = 4500;

// Set when the process is finishing (after the program entry returned).
HANDLE gFinished = nullptr;

void RequestEnd()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { TtasksApplication::EndProgram(); }, Qt::QueuedConnection);
}

BOOL WINAPI OnConsoleEvent(DWORD aEvent)
{
    switch (aEvent) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        RequestEnd();
        ::WaitForSingleObject(gFinished, kConsoleWaitMs);
        return TRUE;
    default:
        return FALSE;
    }
}

void OnProcessFinished()
{
    ::SetEvent(gFinished);
}

class TSessionEndFilter : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray& aType, void* aMessage, qintptr*) override
    {
        if (aType != "windows_generic_MSG")
            return false;
        const MSG* message = static_cast<const MSG*>(aMessage);
        if (message->message == WM_QUERYENDSESSION ||
            (message->message == WM_ENDSESSION && message->wParam))
            RequestEnd();
        // The toolkit goes on with its own handling and its answer (yes).
        return false;
    }
};

} // namespace

void EndProgramOnSystemRequests()
{
    if (gFinished)
        return;
    gFinished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!gFinished)
        return;
    std::atexit(OnProcessFinished);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    // Lives as long as the application, which removes it when destroyed.
    static TSessionEndFilter filter;
    QCoreApplication::instance()->installNativeEventFilter(&filter);
}
