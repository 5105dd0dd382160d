#pragma once

// What the sync carries of a task, and its form in an iCalendar VTODO through
// the one mapping of ical/tasks_ical.h. The fields are held as text in the
// forms that compare reliably on both sides, so that "changed since the last
// sync" is a comparison of canonical texts.

#include <QByteArray>
#include <QString>
#include <QStringList>

struct TSyncFields
{
    QString summary;
    QString note;
    // Local wall-clock time "YYYY-MM-DD HH:MM:SS"; empty for none.
    QString due;
    // When the task was finished, local time as above; empty while open.
    QString finished;
    // Tag titles, sorted, each once.
    QStringList tags;

    bool operator==(const TSyncFields&) const = default;
    // One text that is equal exactly when the fields are.
    QString Canonical() const;
    static TSyncFields FromCanonical(const QString& aText);
    // Sorts the tags and drops repeated ones.
    void Normalize();
};

// One to-do as the server holds it.
struct TSyncTodo
{
    QString uid;
    // UTC "YYYY-MM-DD HH:MM:SS" (as the store writes creation times); empty
    // when the object has none.
    QString created;
    TSyncFields fields;
};

// Reads the first VTODO of an iCalendar object. False, with the reason in
// aError, when the text is no iCalendar object or its to-do cannot be a task;
// false with an empty aError when it holds no VTODO (an event, say), which the
// sync leaves alone.
bool ParseVTodo(const QByteArray& aIcs, TSyncTodo& aTodo, QString& aError);

// The iCalendar object for aFields. With aBase (the member as last stored)
// every property and component the sync does not map is kept as it was, and
// its UID with it; without it a new object is made with aUid and aCreated.
// aWrittenUid, when given, receives the UID written.
QByteArray WriteVTodo(const QByteArray& aBase, const QString& aUid, const QString& aCreated,
                      const TSyncFields& aFields, QString* aWrittenUid = nullptr);
