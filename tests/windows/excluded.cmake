# The tests of the Linux build that the Windows build leaves out, each with
# the reason and, where there is one, the Windows test that covers the same
# ground. tools/windows/run-tests prints this list with every run.

set(ULMORA_WINDOWS_EXCLUDED_DIRS e2e install)
set(ULMORA_WINDOWS_EXCLUDED_DIR_REASONS
    "e2e: shell scripts that drive the Linux binary on Xvfb, and the Windows program has its own end-to-end run (tools/windows/e2e)"
    "install: the Linux installation layout (cmake --install, desktop files), and the Windows package is the zip of tools/windows/package")

function(ulmora_exclude_on_windows name reason)
    set_property(GLOBAL APPEND PROPERTY ULMORA_WINDOWS_EXCLUDED ${name})
    set_property(GLOBAL APPEND PROPERTY ULMORA_WINDOWS_EXCLUDED_LINES "${name}: ${reason}")
endfunction()

ulmora_exclude_on_windows(test_e2e_update
    "starts the program on an Xvfb display, which a Windows program cannot start, and tools/windows/e2e runs ulmora.exe with ulmora-pipe.exe's version and terminate commands on Xvfb from the Linux side")
ulmora_exclude_on_windows(test_ipc_server
    "tests the Linux endpoint itself (socket folders and modes, peer user ids, stale socket files), the named pipe is tested by test_pipe_win")
ulmora_exclude_on_windows(test_ipc_limits
    "drives raw Unix sockets that wait in the listen queue past the ceiling, while on Windows clients wait for a pipe instance instead, and test_pipe_win tests the ceiling and the time limit that way")
ulmora_exclude_on_windows(test_ipc_start_failure
    "lowers the process's limits with setrlimit, which Windows does not have")
ulmora_exclude_on_windows(test_settings
    "full disks, read-only mounts and file modes through mount, setrlimit and chmod, while on Windows semantics test_platform_win writes the settings file in place and keeps a read-only one")
ulmora_exclude_on_windows(test_update_service
    "its elevation and updater stand-ins are shell scripts, and test_platform_win starts a stand-in updater through ShellExecuteExW \"runas\"")
ulmora_exclude_on_windows(test_instance
    "drives the Linux instance lock and channel through Unix sockets and file modes, and test_login_instance_win tests the named-mutex lock of cli/tasks_instance_lock_win.cpp")

# Tests that are shell scripts run by CTest on the build host against the
# built program: they drive a Linux binary. tools/windows/run-tests leaves
# them out (ctest -E).
function(ulmora_exclude_script_on_windows name reason)
    set_property(GLOBAL APPEND PROPERTY ULMORA_WINDOWS_EXCLUDED_SCRIPTS ${name})
    set_property(GLOBAL APPEND PROPERTY ULMORA_WINDOWS_EXCLUDED_LINES "${name}: ${reason}")
endfunction()
ulmora_exclude_script_on_windows(cli_binary
    "a shell script that runs the Linux binary's command line, and ulmora.exe's start and end are run by tools/windows/e2e")

# Test functions that check a Linux facility; the Windows build skips them
# (they run, but QtTest's BLACKLIST beside the program keeps their result out of the verdict).
function(ulmora_skip_functions_on_windows test reason)
    set_property(GLOBAL APPEND PROPERTY ULMORA_WINDOWS_SKIPPED_TESTS ${test})
    set_property(GLOBAL APPEND PROPERTY ULMORA_WINDOWS_SKIPPED_${test} ${ARGN})
    list(JOIN ARGN ", " functions)
    set_property(GLOBAL APPEND PROPERTY ULMORA_WINDOWS_EXCLUDED_LINES
        "${test} (${functions}): ${reason}")
endfunction()
ulmora_skip_functions_on_windows(test_util
    "the POSIX stand-ins of unset folder variables and elevation through pkexec, which test_platform_win covers for Windows"
    posixStandInsForUnsetVariables runElevatedStartsTheCommand)
ulmora_skip_functions_on_windows(test_log
    "Unix file modes of the log file, which Windows does not have"
    theLogFileIsPrivate)
ulmora_skip_functions_on_windows(test_store
    "the Linux error texts for a database path that is a folder or cannot be made"
    connectFailuresNameThePath)
ulmora_skip_functions_on_windows(test_cli
    "the channel name of a path through a symbolic link, made with a Linux symlink, and command-line file options whose rows are Unix absolute paths"
    channelName importAndExportOptions)
ulmora_exclude_on_windows(test_ipc_load
    "counts on clients past the ceiling of 64 waiting in the listen queue without a time limit, while on Windows they wait for a pipe instance within their connect time-out (under wine 8 of 200 clients gave up after 10 s, and a failed check leaves client threads running), and test_pipe_win runs the ceiling, the time limit and Stop under load on Windows semantics")
