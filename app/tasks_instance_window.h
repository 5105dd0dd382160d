#pragma once

// The running program's answers to a later start, given on its main window.

#include "cli/tasks_instance.h"

class TfrmTaskList;

// Runs on the GUI thread: "show" shows the window and brings it to the front;
// "add" stores the task (StoreQuickTask) and reloads the tags and the list;
// "ping" does nothing. An unknown request is refused with kExitUsage.
TInstanceReply AnswerInstanceRequest(TfrmTaskList& aWindow, const TInstanceRequest& aRequest);
