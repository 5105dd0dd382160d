#pragma once

// The window's side of the iCalendar files: asks for the file name, runs the
// import or the export and tells the user what came of it. The tray menu's
// "Import Tasks..." and "Export Tasks..." and the list menu's "Export
// Selected Tasks..." call it; after an import that added tasks it emits
// TasksImported so that the window reloads its list.

#include <QObject>
#include <QString>
#include <QStringList>

class QWidget;

class TtasksIcsActions : public QObject
{
    Q_OBJECT

public:
    explicit TtasksIcsActions(QObject* aParent = nullptr) : QObject(aParent) {}

    // The captions of the dialogs and of the menu entries that call them.
    static QString ImportCaption() { return QStringLiteral("Import Tasks"); }
    static QString ExportCaption() { return QStringLiteral("Export Tasks"); }
    static QString ExportSelectedCaption() { return QStringLiteral("Export Selected Tasks"); }
    static QString FileFilter() { return QStringLiteral("iCalendar files (*.ics);;All files (*)"); }

    // Asks for a file and imports it. False when the user cancelled or
    // nothing could be imported.
    bool ImportAsked(QWidget* aParent);
    // Asks for a file and writes the tasks of aIds to it (every task when
    // aIds is empty). False when the user cancelled or the file could not be
    // written.
    bool ExportAsked(QWidget* aParent, const QStringList& aIds);

Q_SIGNALS:
    void TasksImported();
};
