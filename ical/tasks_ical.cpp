#include "ical/tasks_ical.h"

#include "ical/tasks_ical_text.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>
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

QDateTime LocalFromText(const QString& aText)
{
    return QDateTime::fromString(aText, kTextFormat);
}

QDateTime UtcFromLocalText(const QString& aLocal)
{
    return LocalFromText(aLocal).toUTC();
}

QDateTime UtcFromUtcText(const QString& aUtc)
{
    QDateTime time = QDateTime::fromString(aUtc, kTextFormat);
    time.setTimeSpec(Qt::UTC);
    return time;
}

// A DATE-TIME value in UTC, "20270314T083000Z".
QByteArray UtcValue(const QDateTime& aUtc)
{
    return aUtc.toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'")).toLatin1();
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

// The to-do of a calendar that stands for the task: its first VTODO without a
// RECURRENCE-ID (the others are changed occurrences of a repeating one),
// else its first VTODO. The same choice as TIcalText::TaskTodo.
icalcomponent* TaskTodoOf(icalcomponent* aCalendar)
{
    if (!aCalendar)
        return nullptr;
    icalcomponent* first = nullptr;
    for (icalcomponent* todo = icalcomponent_get_first_component(aCalendar, ICAL_VTODO_COMPONENT);
         todo; todo = icalcomponent_get_next_component(aCalendar, ICAL_VTODO_COMPONENT)) {
        if (!First(todo, ICAL_RECURRENCEID_PROPERTY))
            return todo;
        if (!first)
            first = todo;
    }
    return first;
}

// The TZIDs that the lines of iCalendar text name in their parameters.
QSet<QString> TzidsOfText(const QByteArray& aText)
{
    static const QRegularExpression kTzid(QStringLiteral(";TZID=(\"[^\"]*\"|[^;:\r\n]*)"),
                                          QRegularExpression::CaseInsensitiveOption);
    // Folds joined first: a parameter may be split over two lines.
    QString text = QString::fromUtf8(aText);
    text.replace(QStringLiteral("\r\n "), QString()).replace(QStringLiteral("\r\n\t"), QString());
    text.replace(QStringLiteral("\n "), QString()).replace(QStringLiteral("\n\t"), QString());
    QSet<QString> tzids;
    for (const QRegularExpressionMatch& match : kTzid.globalMatch(text)) {
        QString tzid = match.captured(1);
        if (tzid.startsWith(QLatin1Char('"')))
            tzid = tzid.mid(1, tzid.size() - 2);
        tzids.insert(tzid);
    }
    return tzids;
}

// The components of one calendar of the text, found once: a file of
// thousands of to-dos is read in one pass, not one pass per to-do.
struct TCalendarLines
{
    TIcalText::TComponent calendar;
    // The calendar's own property lines but METHOD, which a stored object
    // must not carry.
    QByteArray properties;
    // The VTODOs of each UID in their order, and the time zones by TZID.
    QHash<QString, std::vector<TIcalText::TComponent>> todos;
    QHash<QString, TIcalText::TComponent> zones;
};

std::vector<TCalendarLines> IndexCalendars(const TIcalText& aText)
{
    std::vector<TCalendarLines> index;
    for (const TIcalText::TComponent& calendar : aText.Calendars()) {
        TCalendarLines& lines = index.emplace_back();
        lines.calendar = calendar;
        lines.properties = aText.PropertyLines(calendar, {"METHOD"});
        for (const TIcalText::TComponent& child : aText.Children(calendar)) {
            if (child.name == "VTODO")
                lines.todos[aText.Value(child, "UID")].push_back(child);
            else if (child.name == "VTIMEZONE")
                lines.zones.insert(aText.Value(child, "TZID"), child);
        }
    }
    return index;
}

// The lines of the to-do that stands for the task aUid: the first without a
// RECURRENCE-ID, else the first. False when the calendar has none of it.
bool TaskTodoLines(const TIcalText& aText, const TCalendarLines& aCalendar, const QString& aUid,
                   TIcalText::TComponent& aTodo)
{
    const auto todos = aCalendar.todos.constFind(aUid);
    if (aUid.isEmpty() || todos == aCalendar.todos.constEnd() || todos->empty())
        return false;
    aTodo = todos->front();
    for (const TIcalText::TComponent& todo : *todos) {
        if (!aText.Has(todo, "RECURRENCE-ID")) {
            aTodo = todo;
            break;
        }
    }
    return true;
}

// The object kept for the to-do aUid of a calendar, from the text as it
// came: the calendar's own properties, the time zones the to-do refers to, and every VTODO of
// that UID (a repeating one with its changed occurrences). Empty when the
// calendar holds none of that UID.
QByteArray KeptText(const TIcalText& aText, const TCalendarLines& aCalendar, const QString& aUid)
{
    const auto found = aCalendar.todos.constFind(aUid);
    if (aUid.isEmpty() || found == aCalendar.todos.constEnd())
        return QByteArray();
    QByteArray todos;
    for (const TIcalText::TComponent& todo : *found)
        todos += aText.Lines(todo);
    QByteArray zones;
    for (const QString& tzid : TzidsOfText(todos)) {
        const auto zone = aCalendar.zones.constFind(tzid);
        if (zone != aCalendar.zones.constEnd())
            zones += aText.Lines(*zone);
    }
    const QByteArray end = todos.endsWith("\r\n") ? "\r\n" : "\n";
    return "BEGIN:VCALENDAR" + end + aCalendar.properties + zones +
           todos + "END:VCALENDAR" + end;
}

} // namespace

QByteArray TaskToIcs(const TIcalTask& aTask, const QString& aNowUtc)
{
    QuietErrors();
    // The kept object as it came, edited line by line; without one (or when
    // it holds no to-do) a new object.
    TIcalText text(aTask.kept);
    TIcalText::TComponent line;
    TComponent base;
    icalcomponent* todo = nullptr;
    if (!aTask.kept.isEmpty() && text.TaskTodo(line)) {
        base.reset(icalparser_parse_string(aTask.kept.constData()));
        todo = TaskTodoOf(FirstCalendar(base.get()));
    }
    const bool known = todo != nullptr;
    if (!known) {
        text = TIcalText(QByteArray("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:") + kIcalProductId +
                         "\r\nBEGIN:VTODO\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    }
    // What the kept object says, with the task's own finish time standing in
    // for a missing COMPLETED, so that only what changed here is written.
    TIcalTask old = known ? ReadFields(todo, aTask.finished) : TIcalTask();
    // The tags as the text lists them: libical reads an escaped comma in a
    // list as the end of the list's splitting.
    if (known)
        old.tags = text.ListValues(line, "CATEGORIES");
    bool changed = !known;
    // Each change replaces the lines of one property of the task's to-do.
    const auto set = [&text](const QByteArray& aName, const QList<QByteArray>& aLines) {
        TIcalText::TComponent at;
        if (text.TaskTodo(at))
            text.SetProperty(at, aName, aLines);
    };
    const auto textLine = [](const QByteArray& aName, const QString& aValue) {
        return aValue.isEmpty() ? QList<QByteArray>()
                                : QList<QByteArray>{aName + ':' + TIcalText::EscapeText(aValue)};
    };

    if (old.uid != aTask.uid)
        set("UID", {"UID:" + aTask.uid.toUtf8()});
    set("DTSTAMP", {"DTSTAMP:" + UtcValue(UtcFromUtcText(aNowUtc))});
    if (!aTask.created.isEmpty() && old.created != aTask.created)
        set("CREATED", {"CREATED:" + UtcValue(UtcFromUtcText(aTask.created))});
    if (old.summary != aTask.summary) {
        set("SUMMARY", textLine("SUMMARY", aTask.summary));
        changed = true;
    }
    if (old.note != aTask.note) {
        set("DESCRIPTION", textLine("DESCRIPTION", aTask.note));
        changed = true;
    }
    if (old.due != aTask.due) {
        set("DURATION", {});
        set("DUE", aTask.due.isEmpty()
                       ? QList<QByteArray>()
                       : QList<QByteArray>{"DUE:" + UtcValue(UtcFromLocalText(aTask.due))});
        changed = true;
    }
    const bool wasFinished = !old.finished.isEmpty();
    const bool finished = !aTask.finished.isEmpty();
    if (wasFinished != finished || old.finished != aTask.finished) {
        if (finished) {
            // A cancelled to-do stays cancelled while it is finished here.
            if (!wasFinished) {
                set("STATUS", {"STATUS:COMPLETED"});
                set("PERCENT-COMPLETE", {"PERCENT-COMPLETE:100"});
            }
            set("COMPLETED", {"COMPLETED:" + UtcValue(UtcFromLocalText(aTask.finished))});
        } else {
            // Open again: nothing of the finish is left for another client
            // to read as done.
            set("STATUS", {"STATUS:NEEDS-ACTION"});
            set("COMPLETED", {});
            set("PERCENT-COMPLETE", {});
        }
        changed = true;
    } else if (!known) {
        set("STATUS", {"STATUS:NEEDS-ACTION"});
    }
    if (QSet<QString>(old.tags.cbegin(), old.tags.cend()) !=
        QSet<QString>(aTask.tags.cbegin(), aTask.tags.cend())) {
        // One property with the list, as most clients write and every one
        // reads; a property per tag hides the to-do from some (todoman).
        QList<QByteArray> values;
        for (const QString& title : aTask.tags)
            values << TIcalText::EscapeText(title);
        set("CATEGORIES", values.isEmpty() ? QList<QByteArray>()
                                           : QList<QByteArray>{"CATEGORIES:" + values.join(',')});
        changed = true;
    }
    if (changed && known)
        set("LAST-MODIFIED", {"LAST-MODIFIED:" + UtcValue(UtcFromUtcText(aNowUtc))});
    return text.Text();
}

QByteArray JoinIcs(const std::vector<QByteArray>& aObjects)
{
    // The to-dos and time zones of every object as their lines stand.
    QByteArray zones;
    QByteArray todos;
    QSet<QString> tzids;
    for (const QByteArray& object : aObjects) {
        const TIcalText text(object);
        for (const TIcalText::TComponent& calendar : text.Calendars()) {
            for (const TIcalText::TComponent& child : text.Children(calendar)) {
                if (child.name == "VTIMEZONE") {
                    const QString tzid = text.Value(child, "TZID");
                    if (!tzids.contains(tzid)) {
                        tzids.insert(tzid);
                        zones += text.Lines(child);
                    }
                } else if (child.name == "VTODO") {
                    todos += text.Lines(child);
                }
            }
        }
    }
    // Time zones first, as most writers place them.
    return QByteArray("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:") + kIcalProductId + "\r\n" +
           zones + todos + "END:VCALENDAR\r\n";
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
    // The text as it came, for the objects kept: libical's own writing of
    // what it read is not the same text.
    const TIcalText text(aText);
    const std::vector<TCalendarLines> lines = IndexCalendars(text);
    const bool sameCalendars = lines.size() == calendars.size();
    for (size_t index = 0; index < calendars.size(); ++index) {
        icalcomponent* calendar = calendars[index];
        // Collected first: reading a to-do walks the calendar's time zones,
        // which moves libical's one iterator of the calendar.
        std::vector<icalcomponent*> children;
        QSet<QString> repeating;
        for (icalcomponent* child = icalcomponent_get_first_component(calendar, ICAL_ANY_COMPONENT);
             child; child = icalcomponent_get_next_component(calendar, ICAL_ANY_COMPONENT)) {
            children.push_back(child);
            if (icalcomponent_isa(child) == ICAL_VTODO_COMPONENT &&
                !First(child, ICAL_RECURRENCEID_PROPERTY))
                repeating.insert(Text(icalcomponent_get_uid(child)));
        }
        QSet<QString> occurrencesRead;
        for (icalcomponent* child : children) {
            const icalcomponent_kind kind = icalcomponent_isa(child);
            if (kind == ICAL_VTIMEZONE_COMPONENT)
                continue;
            if (kind != ICAL_VTODO_COMPONENT) {
                ++aOthers;
                continue;
            }
            // A changed occurrence of a repeating to-do belongs to the to-do
            // of its UID, and is kept with it; where that is missing, the
            // first occurrence stands for the task.
            const QString uid = Text(icalcomponent_get_uid(child));
            if (First(child, ICAL_RECURRENCEID_PROPERTY) && !uid.isEmpty()) {
                if (repeating.contains(uid) || occurrencesRead.contains(uid))
                    continue;
                occurrencesRead.insert(uid);
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
            TIcalText::TComponent todoLines;
            if (sameCalendars && TaskTodoLines(text, lines[index], uid, todoLines))
                read.task.tags = text.ListValues(todoLines, "CATEGORIES");
            read.label = read.task.summary.isEmpty() ? read.task.uid : read.task.summary;
            if (read.refusal.isEmpty() && read.task.summary.trimmed().isEmpty())
                read.refusal = QStringLiteral("it has no summary");
            if (read.refusal.isEmpty() && First(child, ICAL_DUE_PROPERTY) &&
                read.task.due.isEmpty())
                read.refusal = QStringLiteral("its due date cannot be read");
            if (read.refusal.isEmpty()) {
                read.task.kept = sameCalendars ? KeptText(text, lines[index], uid) : QByteArray();
                if (read.task.kept.isEmpty())
                    read.task.kept = KeptObject(child, calendar);
            }
        }
    }
    return true;
}
