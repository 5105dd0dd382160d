#pragma once

// What one sync did, as the window shows it. A header of its own, of Qt Core
// values only, so that the window's side reads it also in a build without the
// sync engine.

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QStringList>

struct TSyncResult
{
    bool ok = false;
    // The error in words when not ok.
    QString error;
    // When the sync ended, local time.
    QDateTime finishedAt;
    int uploaded = 0;
    int downloaded = 0;
    int deletedRemote = 0;
    int deletedLocal = 0;
    int conflicts = 0;
    // One text per task that did not go through this time (refused by the
    // server, or a member that cannot be read), naming the task by its
    // summary; the others were synced. Not empty means not ok.
    QStringList itemErrors;
    // What the user should know of a sync that went through, in words:
    // a collection that was found empty or reset and was filled again.
    QString notice;
    // The local tasks the sync created, changed or deleted, for the window's rows.
    QStringList changedTaskIds;
};

Q_DECLARE_METATYPE(TSyncResult)
