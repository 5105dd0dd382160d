#pragma once

// The requests of the system to end the program (on Linux the signals SIGTERM,
// SIGINT and SIGHUP: a logout, kill, Ctrl+C in a terminal) end it the way
// "Exit" does, so the window writes its geometry and the pipe, the store and
// the settings are released in order. Without this, the default action of the
// signal ends the process on the spot. Called once, after the application
// object exists; what a signal may do is limited, so the request is handed to
// the event loop.
void EndProgramOnSystemRequests();
