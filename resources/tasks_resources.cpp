#include "resources/tasks_resources.h"

QStringList TasksIconNames()
{
    return {QStringLiteral("new_24"),
            QStringLiteral("edit_24"),
            QStringLiteral("save_24"),
            QStringLiteral("cancel_24"),
            QStringLiteral("delete_24"),
            QStringLiteral("settings_24"),
            QStringLiteral("exit_24"),
            QStringLiteral("apply_24"),
            QStringLiteral("list_24"),
            QStringLiteral("1hour_24"),
            QStringLiteral("4hour_24"),
            QStringLiteral("24hour_24"),
            QStringLiteral("unplanned_hour_24"),
            QStringLiteral("update_24"),
            QStringLiteral("checklist_24")};
}
