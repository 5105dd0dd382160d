#include "app/tasks_instance_window.h"

#include "app/tasks_form_main.h"

TInstanceReply AnswerInstanceRequest(TfrmTaskList& aWindow, const TInstanceRequest& aRequest)
{
    TInstanceReply reply;
    if (aRequest.command == kInstanceShow) {
        aWindow.ShowList();
    } else if (aRequest.command == kInstanceAdd) {
        const TQuickResult stored = StoreQuickTask(aRequest.task);
        reply.status = stored.status;
        reply.message = stored.message;
        // The list shows the new task at once, under the tab that is selected.
        if (stored.status == kExitOk)
            aWindow.LoadTagTabs();
    } else if (aRequest.command == kInstanceImport) {
        const TQuickResult imported = ImportTasksFile(aRequest.file);
        reply.status = imported.status;
        reply.message = imported.message;
        // The added tasks and tags are listed at once.
        if (imported.status == kExitOk)
            aWindow.LoadTagTabs();
    } else if (aRequest.command != kInstancePing) {
        reply.status = kExitUsage;
        reply.message = QStringLiteral("the running Ulmora does not know the request \"%1\".")
                            .arg(aRequest.command);
    }
    return reply;
}
