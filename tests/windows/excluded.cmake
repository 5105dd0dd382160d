# The tests of the Linux build that the Windows build leaves out, each with
# the reason and, where there is one, the Windows test that covers the same
# ground. tools/windows/run-tests prints this list with every run.

set(ULMORA_WINDOWS_EXCLUDED_DIRS e2e install)
set(ULMORA_WINDOWS_EXCLUDED_DIR_REASONS
    "e2e: shell scripts that drive the Linux binary on Xvfb; the Windows program has its own end-to-end run (tools/windows/e2e)"
    "install: the Linux installation layout (cmake --install, desktop files); the Windows package is the zip of tools/windows/package")

function(ulmora_exclude_on_windows name reason)
    set_property(GLOBAL APPEND PROPERTY ULMORA_WINDOWS_EXCLUDED ${name})
    set_property(GLOBAL APPEND PROPERTY ULMORA_WINDOWS_EXCLUDED_LINES "${name}: ${reason}")
endfunction()

ulmora_exclude_on_windows(test_ipc_server
    "tests the Linux endpoint itself (socket folders and modes, peer user ids, stale socket files); the named pipe is tested by test_pipe_win")
ulmora_exclude_on_windows(test_ipc_limits
    "drives raw Unix sockets that wait in the listen queue past the ceiling; on Windows clients wait for a pipe instance instead, and test_pipe_win tests the ceiling and the time limit that way")
ulmora_exclude_on_windows(test_ipc_start_failure
    "lowers the process's limits with setrlimit, which Windows does not have")
ulmora_exclude_on_windows(test_settings
    "full disks, read-only mounts and file modes through mount, setrlimit and chmod; on Windows semantics test_platform_win writes the settings file in place and keeps a read-only one")
ulmora_exclude_on_windows(test_update_service
    "its elevation and updater stand-ins are shell scripts; test_platform_win starts a stand-in updater through ShellExecuteExW \"runas\"")
