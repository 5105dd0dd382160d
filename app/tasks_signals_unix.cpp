#include "app/tasks_signals.h"

#include "app/tasks_application.h"
#include "util/kvd_guard.h"

#include <QSocketNotifier>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The write end is used by the signal handler; only write() is safe there.
int gSignalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    // A full pipe already holds a request to end; nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &byte, 1);
}

} // namespace

void EndProgramOnSystemRequests()
{
    if (gSignalPipe[0] >= 0)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, gSignalPipe) != 0)
        return; // the signals keep their default action
    auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, qApp);
    ConnectGuarded(notifier, &QSocketNotifier::activated, notifier, [] {
        char bytes[16];
        while (::read(gSignalPipe[0], bytes, sizeof bytes) > 0) {
        }
        TtasksApplication::EndProgram();
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}
