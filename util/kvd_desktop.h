#pragma once

// The desktop around the program's windows. Here rather than in kvd_utils,
// because asking for a screen needs the GUI library, which the core does
// without.

// Height of the desktop's panel at the bottom of the primary screen, 0 without
// one or without a GUI application.
int TaskbarHeight();
