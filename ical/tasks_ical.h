#pragma once

// A task as an iCalendar (RFC 5545) VTODO and back, without the store: pure
// functions over text, so that files, tests and a calendar server share one
// mapping.
//
// Ulmora maps SUMMARY, DESCRIPTION (the note), DUE, STATUS with COMPLETED (the
// finish time), CREATED, CATEGORIES (the tags) and UID. Every other property
// and sub-component of a VTODO that was read (PRIORITY, RRULE, VALARM,
// RELATED-TO, X- properties of other programs) is kept in the task's kept
// object and written back unchanged. A mapped property whose value the task
// still has is written back unchanged as well (its time zone, a date-only due
// date, STATUS:CANCELLED); one whose value changed here is written from the
// task, times in UTC.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// A task as the mapping sees it. Times are text: due and finished in local
// time as the database holds them, created in UTC as the database writes it,
// all "YYYY-MM-DD HH:MM:SS"; empty for none.
struct TIcalTask
{
    QString uid;
    QString summary;
    QString note;
    QString due;
    QString finished;
    QString created;
    // Tag titles, in the order of the object.
    QStringList tags;
    // The object last read or written for this task: a VCALENDAR holding the
    // VTODO and the VTIMEZONEs that it refers to. Empty for a task that was
    // never read from or written to iCalendar.
    QByteArray kept;
};

// What reading one VTODO gave: the task, or why it cannot be one.
struct TIcalRead
{
    TIcalTask task;
    // Empty when the VTODO is a task; otherwise why it was refused.
    QString refusal;
    // A name for the refused VTODO in a report: its summary, else its UID.
    QString label;
};

// The whole calendar object of aTask (VCALENDAR with VERSION, PRODID, the
// VTIMEZONEs of its kept object and one VTODO). aNowUtc is the DTSTAMP,
// "YYYY-MM-DD HH:MM:SS" in UTC.
QByteArray TaskToIcs(const TIcalTask& aTask, const QString& aNowUtc);

// One VCALENDAR of every object in aObjects (each as TaskToIcs writes it):
// their VTODOs in order, each VTIMEZONE once (by TZID).
QByteArray JoinIcs(const std::vector<QByteArray>& aObjects);

// Reads every VTODO of iCalendar text (one or more VCALENDARs). False, with
// aError, when the text is not iCalendar. aOthers counts the components that
// are not to-dos (VEVENT, VJOURNAL, VFREEBUSY), which are passed over.
// aNowLocal is the finish time of a completed VTODO that says no time.
bool IcsToTasks(const QByteArray& aText, const QString& aNowLocal, std::vector<TIcalRead>& aRead,
                int& aOthers, QString& aError);

// The identifier of the product written in PRODID.
inline constexpr const char* kIcalProductId = "-//Ulmora//Ulmora 1.0//EN";
