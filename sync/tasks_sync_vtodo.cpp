#include "sync/tasks_sync_vtodo.h"

#include "ical/tasks_ical.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <vector>

namespace {

const QString kTextFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

} // namespace

QString TSyncFields::Canonical() const
{
    const QJsonArray array{summary, note, due, finished, QJsonArray::fromStringList(tags)};
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

TSyncFields TSyncFields::FromCanonical(const QString& aText)
{
    const QJsonArray array = QJsonDocument::fromJson(aText.toUtf8()).array();
    TSyncFields fields;
    fields.summary = array.at(0).toString();
    fields.note = array.at(1).toString();
    fields.due = array.at(2).toString();
    fields.finished = array.at(3).toString();
    for (const QJsonValue& tag : array.at(4).toArray())
        fields.tags << tag.toString();
    return fields;
}

void TSyncFields::Normalize()
{
    tags.sort();
    tags.removeDuplicates();
}

bool ParseVTodo(const QByteArray& aIcs, TSyncTodo& aTodo, QString& aError)
{
    aTodo = TSyncTodo();
    aError.clear();
    std::vector<TIcalRead> read;
    int others = 0;
    if (!IcsToTasks(aIcs, QDateTime::currentDateTime().toString(kTextFormat), read, others, aError))
        return false;
    // A member holds one object: its first to-do is the task, and a member
    // without one (an event) is not the sync's.
    if (read.empty())
        return false;
    if (!read.front().refusal.isEmpty()) {
        aError = read.front().refusal;
        return false;
    }
    const TIcalTask& task = read.front().task;
    aTodo.uid = task.uid;
    aTodo.created = task.created;
    aTodo.fields = {task.summary, task.note, task.due, task.finished, task.tags};
    aTodo.fields.Normalize();
    return true;
}

QByteArray WriteVTodo(const QByteArray& aBase, const QString& aUid, const QString& aCreated,
                      const TSyncFields& aFields, QString* aWrittenUid)
{
    TIcalTask task;
    task.uid = aUid;
    task.created = aCreated;
    TSyncTodo base;
    QString error;
    if (!aBase.isEmpty() && ParseVTodo(aBase, base, error)) {
        // The member keeps its UID and everything the sync does not map.
        task.uid = base.uid;
        task.created = base.created.isEmpty() ? aCreated : base.created;
        task.kept = aBase;
    }
    if (aWrittenUid)
        *aWrittenUid = task.uid;
    task.summary = aFields.summary;
    task.note = aFields.note;
    task.due = aFields.due;
    task.finished = aFields.finished;
    task.tags = aFields.tags;
    return TaskToIcs(task, QDateTime::currentDateTimeUtc().toString(kTextFormat));
}
