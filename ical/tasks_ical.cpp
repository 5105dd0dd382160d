#include "ical/tasks_ical.h"

#include <QDateTime>
#include <QSet>
#include <libical/ical.h>
#include <memory>

namespace {

const QString kTextFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

struct TComponentFree
{
    void operator()(icalcomponent* aComponent) const { icalcomponent_free(aComponent); }
};
using TComponent = std::unique_ptr<icalcomponent, TComponentFree>;

// libical reports a failure through icalerrno and its return values; it must
// never end the program.
void QuietErrors()
{
    icalerror_set_errors_are_fatal(0);
}

QString Text(const char* aText)
{
    return aText ? QString::fromUtf8(aText) : QString();
}

QByteArray Serialized(icalcomponent* aComponent)
{
    char* text = icalcomponent_as_ical_string_r(aComponent);
    QByteArray result(text ? text : "");
    icalmemory_free_buffer(text);
    return result;
}

// A UTC date-time of libical from the database's UTC text.
icaltimetype UtcTime(const QDateTime& aUtc)
{
    icaltimetype time = icaltime_null_time();
    time.year = aUtc.date().year();
    time.month = aUtc.date().month();
    time.day = aUtc.date().day();
    time.hour = aUtc.time().hour();
    time.minute = aUtc.time().minute();
    time.second = aUtc.time().second();
    time.is_date = 0;
    time.zone = icaltimezone_get_utc_timezone();
    return time;
}

QDateTime LocalFromText(const QString& aText)
{
    return QDateTime::fromString(aText, kTextFormat);
}

icaltimetype UtcFromLocalText(const QString& aLocal)
{
    return UtcTime(LocalFromText(aLocal).toUTC());
}

icaltimetype UtcFromUtcText(const QString& aUtc)
{
    QDateTime time = QDateTime::fromString(aUtc, kTextFormat);
    time.setTimeSpec(Qt::UTC);
    return UtcTime(time);
}

// The time zone of a TZID that the calendar holding the property does not
// define: one of libical's own zones, or none (the time is then read as
// floating).
icaltimezone* BuiltinZone(icalproperty* aProperty)
{
    icalparameter* tzid = icalproperty_get_first_parameter(aProperty, ICAL_TZID_PARAMETER);
    const char* name = tzid ? icalparameter_get_tzid(tzid) : nullptr;
    if (!name || !*name)
        return nullptr;
    if (icaltimezone* zone = icaltimezone_get_builtin_timezone(name))
        return zone;
    return icaltimezone_get_builtin_timezone_from_tzid(name);
}

// A date-time of the object in the forms RFC 5545 allows: UTC, with a time
// zone (of the calendar or libical's own), floating (local time) or a date
// alone (local 00:00). Invalid when the property is missing or unreadable.
QDateTime ReadDateTime(icalproperty* aProperty, icalcomponent* aComponent)
{
    if (!aProperty)
        return {};
    icaltimetype time = icalproperty_get_datetime_with_component(aProperty, aComponent);
    if (icaltime_is_null_time(time) || !icaltime_is_valid_time(time))
        return {};
    const QDate date(time.year, time.month, time.day);
    if (!date.isValid())
        return {};
    if (time.is_date)
        return QDateTime(date, QTime(0, 0));
    if (!time.zone && !icaltime_is_utc(time)) {
        if (icaltimezone* zone = BuiltinZone(aProperty))
            time.zone = zone;
    }
    if (time.zone || icaltime_is_utc(time)) {
        const icaltimetype utc = icaltime_convert_to_zone(time, icaltimezone_get_utc_timezone());
        const QDate utcDate(utc.year, utc.month, utc.day);
        const QTime utcTime(utc.hour, utc.minute, utc.second);
        if (!utcDate.isValid() || !utcTime.isValid())
            return {};
        return QDateTime(utcDate, utcTime, Qt::UTC).toLocalTime();
    }
    const QTime local(time.hour, time.minute, time.second);
    if (!local.isValid())
        return {};
    return QDateTime(date, local);
}

QString LocalText(const QDateTime& aTime)
{
    return aTime.isValid() ? aTime.toLocalTime().toString(kTextFormat) : QString();
}

QString UtcText(const QDateTime& aTime)
{
    return aTime.isValid() ? aTime.toUTC().toString(kTextFormat) : QString();
}

icalproperty* First(icalcomponent* aComponent, icalproperty_kind aKind)
{
    return icalcomponent_get_first_property(aComponent, aKind);
}

void RemoveAll(icalcomponent* aComponent, icalproperty_kind aKind)
{
    while (icalproperty* property = First(aComponent, aKind)) {
        icalcomponent_remove_property(aComponent, property);
        icalproperty_free(property);
    }
}

// The tags of CATEGORIES: libical splits a list into one property per value;
// a value is taken once, blanks are passed over.
QStringList Categories(icalcomponent* aTodo)
{
    QStringList tags;
    for (icalproperty* property = First(aTodo, ICAL_CATEGORIES_PROPERTY); property;
         property = icalcomponent_get_next_property(aTodo, ICAL_CATEGORIES_PROPERTY)) {
        const QString title = Text(icalproperty_get_categories(property)).trimmed();
        if (!title.isEmpty() && !tags.contains(title))
            tags << title;
    }
    return tags;
}

bool IsFinished(icalcomponent* aTodo)
{
    // Without STATUS libical answers 0 (or ICAL_STATUS_NONE): a COMPLETED
    // time alone then says that the to-do is done.
    if (!First(aTodo, ICAL_STATUS_PROPERTY))
        return First(aTodo, ICAL_COMPLETED_PROPERTY) != nullptr;
    const icalproperty_status status = icalcomponent_get_status(aTodo);
    return status == ICAL_STATUS_COMPLETED || status == ICAL_STATUS_CANCELLED;
}

// The mapped fields of a VTODO; the finish time of a finished VTODO without
// COMPLETED is aNowLocal.
TIcalTask ReadFields(icalcomponent* aTodo, const QString& aNowLocal)
{
    TIcalTask task;
    task.uid = Text(icalcomponent_get_uid(aTodo));
    task.summary = Text(icalcomponent_get_summary(aTodo));
    task.note = Text(icalcomponent_get_description(aTodo));
    icalproperty* due = First(aTodo, ICAL_DUE_PROPERTY);
    if (due) {
        task.due = LocalText(ReadDateTime(due, aTodo));
    } else if (First(aTodo, ICAL_DTSTART_PROPERTY) && First(aTodo, ICAL_DURATION_PROPERTY)) {
        // Without DUE the end of the to-do is its start plus its duration.
        const QDateTime start = ReadDateTime(First(aTodo, ICAL_DTSTART_PROPERTY), aTodo);
        const icaldurationtype duration =
            icalproperty_get_duration(First(aTodo, ICAL_DURATION_PROPERTY));
        if (start.isValid() && !icaldurationtype_is_bad_duration(duration))
            task.due = LocalText(start.addSecs(icaldurationtype_as_int(duration)));
    }
    if (IsFinished(aTodo)) {
        task.finished = LocalText(ReadDateTime(First(aTodo, ICAL_COMPLETED_PROPERTY), aTodo));
        if (task.finished.isEmpty())
            task.finished = aNowLocal;
    }
    task.created = UtcText(ReadDateTime(First(aTodo, ICAL_CREATED_PROPERTY), aTodo));
    task.tags = Categories(aTodo);
    return task;
}

// The TZIDs that the properties of aComponent and its sub-components name.
void CollectTzids(icalcomponent* aComponent, QSet<QString>& aTzids)
{
    for (icalproperty* property = First(aComponent, ICAL_ANY_PROPERTY); property;
         property = icalcomponent_get_next_property(aComponent, ICAL_ANY_PROPERTY)) {
        for (icalparameter* tzid = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
             tzid; tzid = icalproperty_get_next_parameter(property, ICAL_TZID_PARAMETER))
            aTzids.insert(Text(icalparameter_get_tzid(tzid)));
    }
    for (icalcomponent* child = icalcomponent_get_first_component(aComponent, ICAL_ANY_COMPONENT);
         child; child = icalcomponent_get_next_component(aComponent, ICAL_ANY_COMPONENT))
        CollectTzids(child, aTzids);
}

QString TzidOf(icalcomponent* aTimezone)
{
    icalproperty* tzid = First(aTimezone, ICAL_TZID_PROPERTY);
    return tzid ? Text(icalproperty_get_tzid(tzid)) : QString();
}

icalcomponent* NewCalendar()
{
    icalcomponent* calendar = icalcomponent_new_vcalendar();
    icalcomponent_add_property(calendar, icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar, icalproperty_new_prodid(kIcalProductId));
    return calendar;
}

// A calendar of aTodo (cloned) and the VTIMEZONEs of aSource that it refers to.
QByteArray KeptObject(icalcomponent* aTodo, icalcomponent* aSource)
{
    TComponent calendar(NewCalendar());
    QSet<QString> tzids;
    CollectTzids(aTodo, tzids);
    if (aSource) {
        for (icalcomponent* zone =
                 icalcomponent_get_first_component(aSource, ICAL_VTIMEZONE_COMPONENT);
             zone; zone = icalcomponent_get_next_component(aSource, ICAL_VTIMEZONE_COMPONENT)) {
            if (tzids.contains(TzidOf(zone)))
                icalcomponent_add_component(calendar.get(), icalcomponent_new_clone(zone));
        }
    }
    icalcomponent_add_component(calendar.get(), icalcomponent_new_clone(aTodo));
    return Serialized(calendar.get());
}

// The first VCALENDAR of parsed text: the text's root, or a child of the
// root that libical makes for more than one.
icalcomponent* FirstCalendar(icalcomponent* aRoot)
{
    if (!aRoot)
        return nullptr;
    if (icalcomponent_isa(aRoot) == ICAL_VCALENDAR_COMPONENT)
        return aRoot;
    return icalcomponent_get_first_component(aRoot, ICAL_VCALENDAR_COMPONENT);
}

// Whether the text begins (after a byte-order mark and blank lines) with
// BEGIN:VCALENDAR, as every iCalendar object does.
bool LooksLikeIcalendar(const QByteArray& aText)
{
    QByteArray head = aText.left(4096);
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    head = head.trimmed();
    return head.left(15).toUpper() == "BEGIN:VCALENDAR";
}

// The X-LIC-ERROR texts that libical put in place of the unreadable
// properties of the component itself.
QStringList ParseErrors(icalcomponent* aComponent)
{
    QStringList errors;
    for (icalproperty* error = First(aComponent, ICAL_XLICERROR_PROPERTY); error;
         error = icalcomponent_get_next_property(aComponent, ICAL_XLICERROR_PROPERTY))
        errors << Text(icalproperty_get_xlicerror(error));
    return errors;
}

// Whether a libical parse error is about one of the properties that the
// mapping reads (its text names the property).
bool ErrorOfMappedProperty(const QString& aError)
{
    static const char* const kMapped[] = {"SUMMARY", "DESCRIPTION", "DUE", "STATUS",  "COMPLETED",
                                          "CREATED", "CATEGORIES",  "UID", "DTSTART", "DURATION"};
    // A property without a value is left out, as if it were missing.
    if (aError.startsWith(QLatin1String("No value for"), Qt::CaseInsensitive))
        return false;
    for (const char* name : kMapped) {
        if (aError.contains(QLatin1String(name), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

void SetText(icalcomponent* aTodo, icalproperty_kind aKind, const QString& aValue)
{
    RemoveAll(aTodo, aKind);
    if (aValue.isEmpty())
        return;
    icalproperty* property = icalproperty_new(aKind);
    icalproperty_set_value(property, icalvalue_new_text(aValue.toUtf8().constData()));
    icalcomponent_add_property(aTodo, property);
}

} // namespace

QByteArray TaskToIcs(const TIcalTask& aTask, const QString& aNowUtc)
{
    QuietErrors();
    TComponent base;
    icalcomponent* todo = nullptr;
    if (!aTask.kept.isEmpty()) {
        base.reset(icalparser_parse_string(aTask.kept.constData()));
        icalcomponent* calendar = FirstCalendar(base.get());
        if (calendar)
            todo = icalcomponent_get_first_component(calendar, ICAL_VTODO_COMPONENT);
    }
    TComponent fresh;
    const bool known = todo != nullptr;
    if (!todo) {
        fresh.reset(icalcomponent_new_vtodo());
        todo = fresh.get();
    }
    // What the kept object says, with the task's own finish time standing in
    // for a missing COMPLETED, so that only what changed here is written.
    const TIcalTask old = ReadFields(todo, aTask.finished);
    bool changed = !known;

    if (old.uid != aTask.uid) {
        RemoveAll(todo, ICAL_UID_PROPERTY);
        icalcomponent_add_property(todo, icalproperty_new_uid(aTask.uid.toUtf8().constData()));
    }
    if (old.summary != aTask.summary) {
        SetText(todo, ICAL_SUMMARY_PROPERTY, aTask.summary);
        changed = true;
    }
    if (old.note != aTask.note) {
        SetText(todo, ICAL_DESCRIPTION_PROPERTY, aTask.note);
        changed = true;
    }
    if (old.due != aTask.due) {
        RemoveAll(todo, ICAL_DUE_PROPERTY);
        RemoveAll(todo, ICAL_DURATION_PROPERTY);
        if (!aTask.due.isEmpty())
            icalcomponent_add_property(todo, icalproperty_new_due(UtcFromLocalText(aTask.due)));
        changed = true;
    }
    const bool wasFinished = !old.finished.isEmpty();
    const bool finished = !aTask.finished.isEmpty();
    if (wasFinished != finished || old.finished != aTask.finished) {
        RemoveAll(todo, ICAL_COMPLETED_PROPERTY);
        if (finished) {
            // A cancelled to-do stays cancelled while it is finished here.
            if (!wasFinished) {
                RemoveAll(todo, ICAL_STATUS_PROPERTY);
                icalcomponent_add_property(todo, icalproperty_new_status(ICAL_STATUS_COMPLETED));
            }
            icalcomponent_add_property(
                todo, icalproperty_new_completed(UtcFromLocalText(aTask.finished)));
            if (icalproperty* percent = First(todo, ICAL_PERCENTCOMPLETE_PROPERTY))
                icalproperty_set_percentcomplete(percent, 100);
        } else {
            RemoveAll(todo, ICAL_STATUS_PROPERTY);
            icalcomponent_add_property(todo, icalproperty_new_status(ICAL_STATUS_NEEDSACTION));
            icalproperty* percent = First(todo, ICAL_PERCENTCOMPLETE_PROPERTY);
            if (percent && icalproperty_get_percentcomplete(percent) >= 100) {
                icalcomponent_remove_property(todo, percent);
                icalproperty_free(percent);
            }
        }
        changed = true;
    } else if (!known) {
        icalcomponent_add_property(todo, icalproperty_new_status(ICAL_STATUS_NEEDSACTION));
    }
    if (!aTask.created.isEmpty() && old.created != aTask.created) {
        RemoveAll(todo, ICAL_CREATED_PROPERTY);
        icalcomponent_add_property(todo, icalproperty_new_created(UtcFromUtcText(aTask.created)));
    }
    if (QSet<QString>(old.tags.cbegin(), old.tags.cend()) !=
        QSet<QString>(aTask.tags.cbegin(), aTask.tags.cend())) {
        RemoveAll(todo, ICAL_CATEGORIES_PROPERTY);
        for (const QString& title : aTask.tags) {
            icalproperty* property = icalproperty_new(ICAL_CATEGORIES_PROPERTY);
            icalproperty_set_value(property, icalvalue_new_text(title.toUtf8().constData()));
            icalcomponent_add_property(todo, property);
        }
        changed = true;
    }
    RemoveAll(todo, ICAL_DTSTAMP_PROPERTY);
    icalcomponent_add_property(todo, icalproperty_new_dtstamp(UtcFromUtcText(aNowUtc)));
    if (changed && known) {
        RemoveAll(todo, ICAL_LASTMODIFIED_PROPERTY);
        icalcomponent_add_property(todo, icalproperty_new_lastmodified(UtcFromUtcText(aNowUtc)));
    }
    return KeptObject(todo, FirstCalendar(base.get()));
}

QByteArray JoinIcs(const std::vector<QByteArray>& aObjects)
{
    QuietErrors();
    TComponent calendar(NewCalendar());
    std::vector<icalcomponent*> todos;
    QSet<QString> zones;
    for (const QByteArray& object : aObjects) {
        const TComponent root(icalparser_parse_string(object.constData()));
        icalcomponent* source = FirstCalendar(root.get());
        if (!source)
            continue;
        for (icalcomponent* child = icalcomponent_get_first_component(source, ICAL_ANY_COMPONENT);
             child; child = icalcomponent_get_next_component(source, ICAL_ANY_COMPONENT)) {
            const icalcomponent_kind kind = icalcomponent_isa(child);
            if (kind == ICAL_VTIMEZONE_COMPONENT) {
                const QString tzid = TzidOf(child);
                if (!zones.contains(tzid)) {
                    zones.insert(tzid);
                    icalcomponent_add_component(calendar.get(), icalcomponent_new_clone(child));
                }
            } else if (kind == ICAL_VTODO_COMPONENT) {
                todos.push_back(icalcomponent_new_clone(child));
            }
        }
    }
    // Time zones first, as most writers place them.
    for (icalcomponent* todo : todos)
        icalcomponent_add_component(calendar.get(), todo);
    return Serialized(calendar.get());
}

bool IcsToTasks(const QByteArray& aText, const QString& aNowLocal, std::vector<TIcalRead>& aRead,
                int& aOthers, QString& aError)
{
    QuietErrors();
    aRead.clear();
    aOthers = 0;
    if (!LooksLikeIcalendar(aText) || aText.contains('\0')) {
        aError = QStringLiteral("it is not an iCalendar file");
        return false;
    }
    const TComponent root(icalparser_parse_string(aText.constData()));
    if (!FirstCalendar(root.get())) {
        // It begins as one but libical finds no whole calendar in it.
        aError = QStringLiteral("it is not a complete iCalendar file");
        return false;
    }
    std::vector<icalcomponent*> calendars;
    if (icalcomponent_isa(root.get()) == ICAL_VCALENDAR_COMPONENT) {
        calendars.push_back(root.get());
    } else {
        for (icalcomponent* calendar =
                 icalcomponent_get_first_component(root.get(), ICAL_VCALENDAR_COMPONENT);
             calendar;
             calendar = icalcomponent_get_next_component(root.get(), ICAL_VCALENDAR_COMPONENT))
            calendars.push_back(calendar);
    }
    for (icalcomponent* calendar : calendars) {
        // Collected first: reading a to-do walks the calendar's time zones,
        // which moves libical's one iterator of the calendar.
        std::vector<icalcomponent*> children;
        for (icalcomponent* child = icalcomponent_get_first_component(calendar, ICAL_ANY_COMPONENT);
             child; child = icalcomponent_get_next_component(calendar, ICAL_ANY_COMPONENT))
            children.push_back(child);
        for (icalcomponent* child : children) {
            const icalcomponent_kind kind = icalcomponent_isa(child);
            if (kind == ICAL_VTIMEZONE_COMPONENT)
                continue;
            if (kind != ICAL_VTODO_COMPONENT) {
                ++aOthers;
                continue;
            }
            TIcalRead& read = aRead.emplace_back();
            for (const QString& error : ParseErrors(child)) {
                if (ErrorOfMappedProperty(error)) {
                    read.refusal = QStringLiteral("it has an unreadable property (%1)").arg(error);
                    break;
                }
            }
            // What libical could not read of the other properties is left out
            // of the kept object.
            icalcomponent_strip_errors(child);
            read.task = ReadFields(child, aNowLocal);
            read.label = read.task.summary.isEmpty() ? read.task.uid : read.task.summary;
            if (read.refusal.isEmpty() && read.task.summary.trimmed().isEmpty())
                read.refusal = QStringLiteral("it has no summary");
            if (read.refusal.isEmpty() && First(child, ICAL_DUE_PROPERTY) &&
                read.task.due.isEmpty())
                read.refusal = QStringLiteral("its due date cannot be read");
            if (read.refusal.isEmpty())
                read.task.kept = KeptObject(child, calendar);
        }
    }
    return true;
}
