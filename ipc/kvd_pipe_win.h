#pragma once

// What the Windows pipe endpoint (kvd_pipe_win.cpp) shows of its security,
// so that a test can check the access list the pipe is created with.

#include <QString>

// The string form (SID) of the user who runs this process; empty when it
// cannot be read.
QString CurrentUserSid();

// The security descriptor every instance of the pipe is created with, in SDDL:
// a protected access list (nothing inherited) that grants full access to
// aUserSid, to SYSTEM and to the Administrators (the updater runs elevated),
// and to nobody else.
QString PipeSecuritySddl(const QString& aUserSid);

// The access list that the pipe instance aHandle actually carries, in SDDL;
// empty when it cannot be read.
QString PipeSecurityOf(int aHandle);
