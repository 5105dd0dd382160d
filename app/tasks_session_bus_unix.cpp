// Without a session bus of the desktop the program's environment names an
// address that libdbus 1.14 (QtDBus) and GDBus 2.74 (libsecret under
// QtKeychain) both refuse at once as an unknown transport: no connection is
// tried and nothing is launched. The notifier then shows the tray's balloon
// and the sync asks for its password once per run, as on a desktop without a
// bus. Programs started from here inherit the address and launch no bus
// either.

#include "app/tasks_session_bus.h"

#include <QByteArray>
#include <QtGlobal>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kNoSessionBus[] = "disabled:";

// The socket of the bus that the user's session starts for all the user's
// logins (systemd's dbus.socket), found by libdbus and GDBus without an
// address. libdbus takes it only as a socket owned by this user, and so does
// this test: anything else there would not keep libdbus from launching.
bool HasUserBusSocket()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return false;
    const QByteArray path = runtime + "/bus";
    struct stat info = {};
    return ::lstat(path.constData(), &info) == 0 && S_ISSOCK(info.st_mode) &&
           info.st_uid == ::getuid();
}

} // namespace

void NeverLaunchSessionBus()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") || HasUserBusSocket())
        return;
    qputenv("DBUS_SESSION_BUS_ADDRESS", kNoSessionBus);
}
