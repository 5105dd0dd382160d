#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QStringList>

// The 24 by 24 icons of the windows, by name: "new_24", "edit_24", "save_24",
// "cancel_24", "delete_24", "settings_24", "exit_24", "apply_24", "list_24",
// "1hour_24", "4hour_24", "24hour_24", "unplanned_hour_24", "update_24",
// "checklist_24". An unknown name gives a null icon.
QIcon TasksIcon(const QString& aName);
QStringList TasksIconNames();

// The program's own icon (window and tray).
QIcon TasksAppIcon();

// The 200 by 200 picture behind the task list.
QPixmap TasksListBackground();

// Registers the compiled-in resources. The accessors above call it; code that
// opens ":/icons/..." paths itself calls it first.
void InitTasksResources();
