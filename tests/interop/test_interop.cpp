// The sync against other people's software, as a matrix of scenarios by
// server: Radicale and Xandikos as the CalDAV server, todoman (through
// vdirsyncer) and python3-caldav as the other programs of the same user, and a
// proxy that fails chosen requests the ways a server or a network fails. Two
// local stores sync with the same collection as two computers would.

#include "../sync/sync_fixture.h"
#include "fault_proxy.h"
#include "ical/tasks_ics.h"
#include "interop_servers.h"
#include "todoman_client.h"

#include <QRegularExpression>
#include <algorithm>
#include <optional>

namespace {

const TSyncFixture::TSide kFirst = TSyncFixture::kFirst;
const TSyncFixture::TSide kSecond = TSyncFixture::kSecond;

QString Script(const char* aName)
{
    return QStringLiteral(ULMORA_INTEROP_DIR "/") + QLatin1String(aName);
}

QStringList ServerNames()
{
    return {QStringLiteral("Radicale"), QStringLiteral("Xandikos")};
}

// As todoman takes a local time on its command line.
QString TodomanTime(TDateTime aValue)
{
    return Text(aValue).left(16);
}
// An iCalendar UTC date-time of a local time of the store.
QString IcalUtc(TDateTime aValue)
{
    return QDateTimeFromDateTime(aValue).toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
}

// iCalendar text with CRLF line ends, written here with \n.
QByteArray Ics(const char* aText)
{
    return QByteArray(aText).replace("\r\n", "\n").replace("\n", "\r\n");
}

// The content lines of iCalendar text, unfolded.
QStringList ContentLines(const QByteArray& aText)
{
    QString text = QString::fromUtf8(aText);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1String("\n "), QString());
    text.replace(QLatin1String("\n\t"), QString());
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool IsProperty(const QString& aLine, const QString& aName)
{
    return aLine.startsWith(aName + QLatin1Char(':'), Qt::CaseInsensitive) ||
           aLine.startsWith(aName + QLatin1Char(';'), Qt::CaseInsensitive);
}

QStringList Properties(const QStringList& aLines, const QString& aName)
{
    QStringList found;
    for (const QString& line : aLines) {
        if (IsProperty(line, aName))
            found << line;
    }
    return found;
}

// A component of iCalendar text with its own lines and its sub-components.
struct TIcsComponent
{
    QString name;
    QStringList lines;
    std::vector<TIcsComponent> children;

    // VTODOs of one object are told apart by their RECURRENCE-ID.
    QString Label() const
    {
        const QStringList recurrence = Properties(lines, QStringLiteral("RECURRENCE-ID"));
        return recurrence.isEmpty() ? name : name + QLatin1Char('(') + recurrence.first() + ')';
    }
    // Every line below, each with the path of components around it.
    void Place(const QString& aPath, QStringList& aPlaced) const
    {
        const QString path = aPath + QLatin1Char('/') + Label();
        for (const QString& line : lines)
            aPlaced << path + QLatin1Char('|') + line;
        for (const TIcsComponent& child : children)
            child.Place(path, aPlaced);
    }
};

TIcsComponent Components(const QByteArray& aText)
{
    TIcsComponent root;
    std::vector<TIcsComponent*> open{&root};
    for (const QString& line : ContentLines(aText)) {
        if (line.startsWith(QLatin1String("BEGIN:"), Qt::CaseInsensitive)) {
            open.back()->children.push_back({line.mid(6).toUpper(), {}, {}});
            open.push_back(&open.back()->children.back());
        } else if (line.startsWith(QLatin1String("END:"), Qt::CaseInsensitive)) {
            if (open.size() > 1)
                open.pop_back();
        } else {
            open.back()->lines << line;
        }
    }
    return root;
}

// The lines of the to-do itself (the VTODO without RECURRENCE-ID), without
// those of its alarms.
QStringList MasterTodo(const QByteArray& aText)
{
    for (const TIcsComponent& calendar : Components(aText).children) {
        for (const TIcsComponent& child : calendar.children) {
            if (child.name == QLatin1String("VTODO") && child.Label() == child.name)
                return child.lines;
        }
    }
    return {};
}

// Every content line of the object with its place, sorted; aSkipped names
// the properties of the master VTODO left out.
QStringList PlacedLines(const QByteArray& aText, const QStringList& aSkipped)
{
    QStringList placed;
    for (const TIcsComponent& calendar : Components(aText).children)
        calendar.Place(QString(), placed);
    const QString master = QStringLiteral("/VCALENDAR/VTODO|");
    QStringList kept;
    for (const QString& line : placed) {
        bool skip = false;
        if (line.startsWith(master)) {
            for (const QString& name : aSkipped)
                skip = skip || IsProperty(line.mid(master.size()), name);
        }
        if (!skip)
            kept << line;
    }
    kept.sort();
    return kept;
}

// The lines that one sorted list has and the other lacks, in words; empty
// when both hold the same.
QString Difference(const QStringList& aBefore, const QStringList& aAfter)
{
    QStringList lost = aBefore;
    QStringList added;
    for (const QString& line : aAfter) {
        if (!lost.removeOne(line))
            added << line;
    }
    if (lost.isEmpty() && added.isEmpty())
        return QString();
    return QStringLiteral("lost: [%1] added: [%2]")
        .arg(lost.join(QStringLiteral(" ; ")), added.join(QStringLiteral(" ; ")));
}

// The values of a CATEGORIES line, sorted.
QStringList CategoryValues(const QString& aLine)
{
    QStringList values = aLine.section(QLatin1Char(':'), 1).split(QLatin1Char(','));
    values.sort();
    return values;
}

// The member whose master VTODO has this summary; empty when none or more.
QByteArray MemberWithSummary(const std::map<QString, QByteArray>& aMembers, const QString& aSummary)
{
    QByteArray found;
    int count = 0;
    for (const auto& [href, text] : aMembers) {
        if (MasterTodo(text).contains(QStringLiteral("SUMMARY:") + aSummary)) {
            found = text;
            ++count;
        }
    }
    return count == 1 ? found : QByteArray();
}

bool CaldavInstalled()
{
    static const bool installed = [] {
        QProcess check;
        check.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral("-c"), QStringLiteral("import caldav")});
        return check.waitForFinished(60000) && check.exitStatus() == QProcess::NormalExit &&
               check.exitCode() == 0;
    }();
    return installed;
}

// A to-do of another program, with what such programs write and Ulmora does
// not map: its own PRODID, value types spelled out, a priority, a rule of
// repetition with a moved occurrence (the second VTODO), an alarm, a start
// in a time zone that the object defines, a link to another to-do and
// properties of its own.
const char* const kOtherTodo = R"(BEGIN:VCALENDAR
VERSION:2.0
PRODID:-//Example Corp.//Other Tasks 3.2//EN
CALSCALE:GREGORIAN
BEGIN:VTIMEZONE
TZID:Europe/Berlin
BEGIN:DAYLIGHT
TZOFFSETFROM:+0100
TZOFFSETTO:+0200
TZNAME:CEST
DTSTART:19700329T020000
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU
END:DAYLIGHT
BEGIN:STANDARD
TZOFFSETFROM:+0200
TZOFFSETTO:+0100
TZNAME:CET
DTSTART:19701025T030000
RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU
END:STANDARD
END:VTIMEZONE
BEGIN:VTODO
UID:weekly-review-7@example.org
DTSTAMP:20260101T080000Z
CREATED;VALUE=DATE-TIME:20260101T080000Z
LAST-MODIFIED:20260101T080000Z
SEQUENCE:2
SUMMARY:Weekly review
DESCRIPTION:Old note
DTSTART;TZID=Europe/Berlin:20270104T090000
DUE;VALUE=DATE-TIME:20270104T170000Z
PRIORITY:2
RRULE:FREQ=WEEKLY;BYDAY=MO
RELATED-TO;RELTYPE=PARENT:project-9@example.org
X-OTHER-APP-COLOR:#ff8800
X-OTHER-APP-FLAGS;X-OTHER-PARAM=1:starred
STATUS:NEEDS-ACTION
BEGIN:VALARM
ACTION:DISPLAY
DESCRIPTION:Review time
TRIGGER;RELATED=START:-PT30M
END:VALARM
END:VTODO
BEGIN:VTODO
UID:weekly-review-7@example.org
RECURRENCE-ID;TZID=Europe/Berlin:20270111T090000
DTSTAMP:20260101T080000Z
SUMMARY:Weekly review (moved)
DTSTART;TZID=Europe/Berlin:20270111T140000
DUE;VALUE=DATE-TIME:20270111T170000Z
STATUS:NEEDS-ACTION
END:VTODO
END:VCALENDAR
)";

} // namespace

// Each makes the test return when the scenario cannot run: skipped with the
// reason when a program is missing, failed when it does not work.
#define PREPARE(aServer)                                                                           \
    do {                                                                                           \
        QString skip_;                                                                             \
        QString fail_;                                                                             \
        if (!Prepare(aServer, skip_, fail_)) {                                                     \
            if (!skip_.isEmpty())                                                                  \
                QSKIP(qPrintable(skip_));                                                          \
            QFAIL(qPrintable(fail_));                                                              \
        }                                                                                          \
    } while (false)
#define NEED_TODOMAN()                                                                             \
    do {                                                                                           \
        if (!TTodoman::Missing().isEmpty())                                                        \
            QSKIP(qPrintable(TTodoman::Missing()));                                                \
        QVERIFY2(Todoman().Setup(FUrl, TRadicaleServer::kUser, TRadicaleServer::kPassword),        \
                 qPrintable(Todoman().Error()));                                                   \
    } while (false)
#define NEED_CALDAV()                                                                              \
    do {                                                                                           \
        if (!CaldavInstalled())                                                                    \
            QSKIP("python3-caldav is not installed");                                              \
    } while (false)
#define QVERIFY_TODOMAN(aCall) QVERIFY2(aCall, qPrintable(Todoman().Error()))

class TestInterop : public QObject
{
    Q_OBJECT

private:
    std::map<QString, std::unique_ptr<TInteropServer>> FServers;
    std::map<QString, QString> FStartErrors;
    std::map<QString, std::unique_ptr<TFaultProxy>> FProxies;
    TInteropServer* FServer = nullptr;
    // The collection of the running scenario.
    QString FUrl;
    QTemporaryDir FDir;
    std::unique_ptr<TTodoman> FTodoman;

    // Fresh stores and a fresh collection on the row's server, started at its
    // first use.
    bool Prepare(const QString& aServer, QString& aSkip, QString& aFail)
    {
        const auto server = FServers.find(aServer);
        if (server == FServers.end()) {
            aFail = QStringLiteral("no server %1").arg(aServer);
            return false;
        }
        FServer = server->second.get();
        if (FServer->Program().isEmpty()) {
            aSkip = QStringLiteral("%1 is not installed").arg(aServer);
            return false;
        }
        if (!FStartErrors.count(aServer)) {
            QString error;
            if (!FServer->Start(error))
                FStartErrors[aServer] = error.isEmpty() ? QStringLiteral("failed") : error;
            else
                FStartErrors[aServer] = QString();
        }
        if (!FStartErrors[aServer].isEmpty()) {
            aFail = FStartErrors[aServer];
            return false;
        }
        ReleaseTasksDB();
        QFile::remove(File(kFirst));
        QFile::remove(File(kSecond));
        FTodoman.reset();
        FUrl = FServer->NewCalendar();
        if (FUrl.isEmpty()) {
            aFail = QStringLiteral("%1 refused to make a calendar").arg(aServer);
            return false;
        }
        return true;
    }

    QString File(TSyncFixture::TSide aSide) const
    {
        return FDir.filePath(aSide == kFirst ? QStringLiteral("first.db")
                                             : QStringLiteral("second.db"));
    }
    void Use(TSyncFixture::TSide aSide)
    {
        ReleaseTasksDB();
        SetTasksDBFile(File(aSide));
    }
    TSyncConfig Config(const QString& aUrl) const
    {
        TSyncConfig config;
        config.url = aUrl;
        config.client.user = TRadicaleServer::kUser;
        config.client.password = TRadicaleServer::kPassword;
        return config;
    }
    // One sync of a store with the scenario's collection, or with aUrl.
    TSyncResult Sync(TSyncFixture::TSide aSide, const QString& aUrl = QString())
    {
        Use(aSide);
        return SyncOnce(*GetTasksDB(), Config(aUrl.isEmpty() ? FUrl : aUrl));
    }

    // The tasks of a store as canonical fields, sorted: equal for two stores
    // that hold the same tasks, whatever their ids.
    QStringList Canon(TSyncFixture::TSide aSide)
    {
        Use(aSide);
        QStringList canon;
        for (const auto& [id, task] : TSyncFixture::Tasks())
            canon << task.fields.Canonical();
        canon.sort();
        return canon;
    }
    std::vector<TLocalTask> LocalTasks(TSyncFixture::TSide aSide)
    {
        Use(aSide);
        std::vector<TLocalTask> tasks;
        for (const auto& [id, task] : TSyncFixture::Tasks())
            tasks.push_back(task);
        return tasks;
    }
    std::optional<TLocalTask> LocalTask(TSyncFixture::TSide aSide, const QString& aSummary)
    {
        for (const TLocalTask& task : LocalTasks(aSide)) {
            if (task.fields.summary == aSummary)
                return task;
        }
        return std::nullopt;
    }
    std::map<QString, QByteArray> Members(const QString& aUrl = QString())
    {
        std::map<QString, QByteArray> members;
        if (!TInteropServer::Members(aUrl.isEmpty() ? FUrl : aUrl, members))
            members[QStringLiteral("<the server did not list the collection>")] = QByteArray();
        return members;
    }
    // The summaries of the master VTODOs on the server, sorted.
    QStringList ServerSummaries(const QString& aUrl = QString())
    {
        QStringList summaries;
        for (const auto& [href, text] : Members(aUrl)) {
            const QStringList summary = Properties(MasterTodo(text), QStringLiteral("SUMMARY"));
            summaries << (summary.isEmpty() ? href : summary.first().mid(8));
        }
        summaries.sort();
        return summaries;
    }

    TTodoman& Todoman()
    {
        if (!FTodoman)
            FTodoman = std::make_unique<TTodoman>(Script("todoman_client.py"));
        return *FTodoman;
    }
    // The proxy in front of the row's server, started at its first use with
    // no rules.
    TFaultProxy* Proxy()
    {
        std::unique_ptr<TFaultProxy>& proxy = FProxies[FServer->Name()];
        if (!proxy) {
            proxy = std::make_unique<TFaultProxy>();
            QString error;
            if (!proxy->Start(Script("fault_proxy.py"), FServer->Port(), error)) {
                qWarning("%s", qPrintable(error));
                proxy.reset();
                return nullptr;
            }
        }
        return proxy->Clear() ? proxy.get() : nullptr;
    }

    // Stores the object as a new member through python3-caldav.
    bool OtherClientSave(const QByteArray& aText, QString& aError)
    {
        QFile file(FDir.filePath(QStringLiteral("other.ics")));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(aText) < 0) {
            aError = file.errorString();
            return false;
        }
        file.close();
        QProcess process;
        process.start(QStringLiteral("/usr/bin/python3"),
                      {Script("other_client.py"), FUrl, TRadicaleServer::kUser,
                       TRadicaleServer::kPassword, QStringLiteral("save"), file.fileName()});
        if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
            process.exitCode() != 0) {
            aError = QString::fromUtf8(process.readAllStandardError());
            return false;
        }
        return true;
    }

    // Several new tasks in the open store; their ids in order.
    static QStringList NewTasks(const QString& aPattern, int aCount)
    {
        QStringList ids;
        for (int i = 1; i <= aCount; ++i)
            ids << TSyncFixture::NewTask(aPattern.arg(i));
        return ids;
    }

    // The changes of one side reach the others: the side that made them
    // syncs first.
    bool Travel(bool aFromTodoman, QString& aError)
    {
        if (aFromTodoman && !Todoman().Sync()) {
            aError = Todoman().Error();
            return false;
        }
        for (const auto side : {kFirst, kSecond}) {
            const TSyncResult result = Sync(side);
            if (!result.ok) {
                aError = result.error;
                return false;
            }
        }
        if (!aFromTodoman && !Todoman().Sync()) {
            aError = Todoman().Error();
            return false;
        }
        return true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        FServers[QStringLiteral("Radicale")] = std::make_unique<TRadicaleInterop>();
        FServers[QStringLiteral("Xandikos")] = std::make_unique<TXandikosServer>();
    }
    void cleanup()
    {
        ReleaseTasksDB();
        FTodoman.reset();
    }
    void cleanupTestCase()
    {
        FProxies.clear();
        FServers.clear();
    }

    // Create, edit, finish, re-open and delete, made in one program, reach
    // the other two: made in Ulmora they reach the other store and todoman,
    // made in todoman both stores.
    void lifecycle_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("fromTodoman");
        for (const QString& server : ServerNames()) {
            QTest::addRow("%s: changes made in Ulmora", qPrintable(server)) << server << false;
            QTest::addRow("%s: changes made in todoman", qPrintable(server)) << server << true;
        }
    }
    void lifecycle()
    {
        QFETCH(QString, server);
        QFETCH(bool, fromTodoman);
        PREPARE(server);
        NEED_TODOMAN();
        QVERIFY_SYNC(Sync(kFirst));
        QVERIFY_SYNC(Sync(kSecond));
        QString error;
        // The stores that receive the changes.
        const std::vector<TSyncFixture::TSide> receivers =
            fromTodoman ? std::vector<TSyncFixture::TSide>{kFirst, kSecond}
                        : std::vector<TSyncFixture::TSide>{kSecond};
        const auto expect = [&](const QString& aSummary, const QString& aNote, const QString& aDue,
                                const QString& aFinished, const QStringList& aTags) {
            for (const auto side : receivers) {
                const std::vector<TLocalTask> tasks = LocalTasks(side);
                QCOMPARE(tasks.size(), size_t(1));
                const TSyncFields& fields = tasks.front().fields;
                QCOMPARE(fields.summary, aSummary);
                QCOMPARE(fields.note, aNote);
                QCOMPARE(fields.due, aDue);
                QCOMPARE(fields.finished, aFinished);
                QCOMPARE(fields.tags, aTags);
            }
            std::vector<TTodomanTask> listed;
            QVERIFY_TODOMAN(Todoman().List(listed));
            QCOMPARE(listed.size(), size_t(1));
            QCOMPARE(listed.front().summary, aSummary);
            QCOMPARE(listed.front().description, aNote);
            QCOMPARE(listed.front().due, aDue);
            QCOMPARE(listed.front().completed, !aFinished.isEmpty());
            QCOMPARE(listed.front().completedAt, aFinished);
            for (const QString& tag : aTags)
                QCOMPARE(Todoman().Summaries(tag), QStringList{aSummary});
        };

        QString id;
        if (fromTodoman) {
            QVERIFY_TODOMAN(
                Todoman().New(QStringLiteral("Call the plumber"),
                              {QStringLiteral("--due"), TodomanTime(Due()),
                               QStringLiteral("--note"), QStringLiteral("about the leak")}));
        } else {
            Use(kFirst);
            id = TSyncFixture::NewTask(QStringLiteral("Buy milk"), {QStringLiteral("Home")},
                                       QStringLiteral("semi-skimmed"), Due());
            QVERIFY(!id.isEmpty());
        }
        QVERIFY2(Travel(fromTodoman, error), qPrintable(error));
        if (fromTodoman)
            expect(QStringLiteral("Call the plumber"), QStringLiteral("about the leak"),
                   Text(Due()), QString(), {});
        else
            expect(QStringLiteral("Buy milk"), QStringLiteral("semi-skimmed"), Text(Due()),
                   QString(), {QStringLiteral("Home")});
        if (QTest::currentTestFailed())
            return;

        // Summary, note, due date and tags.
        const QString summary =
            fromTodoman ? QStringLiteral("Call the plumber again") : QStringLiteral("Buy oat milk");
        const QString note = fromTodoman ? QStringLiteral("the leak is back")
                                         : QStringLiteral("two litres\nfrom the market");
        if (fromTodoman) {
            QVERIFY_TODOMAN(
                Todoman().Edit(QStringLiteral("Call the plumber"),
                               {QStringLiteral("--summary"), summary, QStringLiteral("--note"),
                                note, QStringLiteral("--due"), TodomanTime(OtherDue())}));
        } else {
            Use(kFirst);
            QVERIFY(TSyncFixture::Edit(id, summary, note, OtherDue(), {QStringLiteral("Errands")}));
        }
        QVERIFY2(Travel(fromTodoman, error), qPrintable(error));
        const QStringList tags =
            fromTodoman ? QStringList() : QStringList{QStringLiteral("Errands")};
        expect(summary, note, Text(OtherDue()), QString(), tags);
        if (QTest::currentTestFailed())
            return;
        if (!fromTodoman)
            QCOMPARE(Todoman().Summaries(QStringLiteral("Home")), QStringList());

        QString finished = Text(Finished());
        if (fromTodoman) {
            QVERIFY_TODOMAN(Todoman().Done(summary));
            std::vector<TTodomanTask> listed;
            QVERIFY_TODOMAN(Todoman().List(listed));
            QCOMPARE(listed.size(), size_t(1));
            finished = listed.front().completedAt;
            QVERIFY(!finished.isEmpty());
        } else {
            Use(kFirst);
            QVERIFY(TtasksStore::FinishTask(id, Finished()));
        }
        QVERIFY2(Travel(fromTodoman, error), qPrintable(error));
        expect(summary, note, Text(OtherDue()), finished, tags);
        if (QTest::currentTestFailed())
            return;

        if (fromTodoman) {
            QVERIFY_TODOMAN(Todoman().Reopen(summary));
        } else {
            Use(kFirst);
            QVERIFY(TtasksStore::ReopenTask(id));
        }
        QVERIFY2(Travel(fromTodoman, error), qPrintable(error));
        expect(summary, note, Text(OtherDue()), QString(), tags);
        if (QTest::currentTestFailed())
            return;

        if (fromTodoman) {
            QVERIFY_TODOMAN(Todoman().Delete(summary));
        } else {
            Use(kFirst);
            QVERIFY(TtasksStore::DeleteTask(id));
        }
        QVERIFY2(Travel(fromTodoman, error), qPrintable(error));
        for (const auto side : {kFirst, kSecond})
            QCOMPARE(LocalTasks(side).size(), size_t(0));
        QCOMPARE(Todoman().Summaries(), QStringList());
        QCOMPARE(ServerSummaries(), QStringList());
    }

    // Tags travel as one CATEGORIES property holding the list, which every
    // program reads: one written by another program keeps that form when
    // Ulmora changes the task, and two tags of Ulmora's are written so.
    void tags_data()
    {
        QTest::addColumn<QString>("server");
        for (const QString& server : ServerNames())
            QTest::newRow(qPrintable(server)) << server;
    }
    void tags()
    {
        QFETCH(QString, server);
        PREPARE(server);
        NEED_CALDAV();
        QString error;
        QVERIFY2(OtherClientSave(Ics("BEGIN:VCALENDAR\nVERSION:2.0\n"
                                     "PRODID:-//Example Corp.//Other Tasks 3.2//EN\n"
                                     "BEGIN:VTODO\nUID:travel-1@example.org\n"
                                     "DTSTAMP:20260101T080000Z\nSUMMARY:Pack the bags\n"
                                     "CATEGORIES:Travel,Home\nEND:VTODO\nEND:VCALENDAR\n"),
                                 error),
                 qPrintable(error));
        Use(kFirst);
        QVERIFY(!TSyncFixture::NewTask(QStringLiteral("Plan the route"),
                                       {QStringLiteral("Travel"), QStringLiteral("Home")})
                     .isEmpty());
        QVERIFY_SYNC(Sync(kFirst));
        const std::optional<TLocalTask> bags = LocalTask(kFirst, QStringLiteral("Pack the bags"));
        QVERIFY(bags);
        const QStringList both{QStringLiteral("Home"), QStringLiteral("Travel")};
        QCOMPARE(bags->fields.tags, both);
        QVERIFY(TtasksStore::FinishTask(bags->taskid, Finished()));
        QVERIFY_SYNC(Sync(kFirst));

        const std::map<QString, QByteArray> members = Members();
        for (const QString& summary :
             {QStringLiteral("Pack the bags"), QStringLiteral("Plan the route")}) {
            const QByteArray text = MemberWithSummary(members, summary);
            QVERIFY2(!text.isEmpty(), qPrintable(summary));
            const QStringList lines = Properties(MasterTodo(text), QStringLiteral("CATEGORIES"));
            QVERIFY2(lines.size() == 1, qPrintable(summary + QStringLiteral(": ") +
                                                   lines.join(QStringLiteral(" ; "))));
            QCOMPARE(CategoryValues(lines.first()), both);
        }
        QVERIFY_SYNC(Sync(kSecond));
        for (const TLocalTask& task : LocalTasks(kSecond))
            QCOMPARE(task.fields.tags, both);

        if (!TTodoman::Missing().isEmpty())
            QSKIP(qPrintable(TTodoman::Missing()));
        QVERIFY_TODOMAN(Todoman().Setup(FUrl, TRadicaleServer::kUser, TRadicaleServer::kPassword));
        QVERIFY_TODOMAN(Todoman().Sync());
        const QStringList summaries{QStringLiteral("Pack the bags"),
                                    QStringLiteral("Plan the route")};
        QCOMPARE(Todoman().Summaries(), summaries);
        QCOMPARE(Todoman().Summaries(QStringLiteral("Travel")), summaries);
    }

    // What another program wrote and Ulmora does not change stays as it was,
    // line for line: Ulmora rewrites only the properties of the change and
    // the stamps of a new version.
    void keptByteForByte_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("finish");
        for (const QString& server : ServerNames()) {
            QTest::addRow("%s: the note changed", qPrintable(server)) << server << false;
            QTest::addRow("%s: finished", qPrintable(server)) << server << true;
        }
    }
    void keptByteForByte()
    {
        QFETCH(QString, server);
        QFETCH(bool, finish);
        PREPARE(server);
        NEED_CALDAV();
        QString error;
        QVERIFY2(OtherClientSave(Ics(kOtherTodo), error), qPrintable(error));
        std::map<QString, QByteArray> members = Members();
        QCOMPARE(members.size(), size_t(1));
        const QString href = members.begin()->first;
        const QByteArray before = members.begin()->second;

        QVERIFY_SYNC(Sync(kFirst));
        const std::vector<TLocalTask> tasks = LocalTasks(kFirst);
        QCOMPARE(tasks.size(), size_t(1));
        const TLocalTask& task = tasks.front();
        QCOMPARE(task.fields.summary, QStringLiteral("Weekly review"));
        if (finish) {
            QVERIFY(TtasksStore::FinishTask(task.taskid, Finished()));
        } else {
            QVERIFY(TSyncFixture::Edit(task.taskid, task.fields.summary, QStringLiteral("New note"),
                                       SqlTextToDateTime(task.fields.due), task.fields.tags));
        }
        QVERIFY_SYNC(Sync(kFirst));
        members = Members();
        QCOMPARE(members.size(), size_t(1));
        QCOMPARE(members.begin()->first, href);
        const QByteArray after = members.begin()->second;

        const QStringList master = MasterTodo(after);
        if (finish)
            QCOMPARE(Properties(master, QStringLiteral("STATUS")),
                     QStringList{QStringLiteral("STATUS:COMPLETED")});
        else
            QCOMPARE(Properties(master, QStringLiteral("DESCRIPTION")),
                     QStringList{QStringLiteral("DESCRIPTION:New note")});
        QStringList skipped{QStringLiteral("DTSTAMP"), QStringLiteral("LAST-MODIFIED"),
                            QStringLiteral("SEQUENCE")};
        if (finish)
            skipped << QStringLiteral("STATUS") << QStringLiteral("COMPLETED")
                    << QStringLiteral("PERCENT-COMPLETE");
        else
            skipped << QStringLiteral("DESCRIPTION");
        const QString difference =
            Difference(PlacedLines(before, skipped), PlacedLines(after, skipped));
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // Finished is STATUS:COMPLETED with its time and 100 percent, whatever the
    // to-do said before; re-opened is STATUS:NEEDS-ACTION with neither.
    void finishAndReopen_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QByteArray>("member");
        const QByteArray head = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Example Corp.//Other "
                                "Tasks 3.2//EN\nBEGIN:VTODO\nUID:finish-me@example.org\n"
                                "DTSTAMP:20260101T080000Z\nSUMMARY:Finish me\n";
        for (const QString& server : ServerNames()) {
            QTest::addRow("%s: made in Ulmora", qPrintable(server)) << server << QByteArray();
            QTest::addRow("%s: from another program, no percentage", qPrintable(server))
                << server << Ics(head + "STATUS:NEEDS-ACTION\nEND:VTODO\nEND:VCALENDAR\n");
            QTest::addRow("%s: from another program, 40 percent done", qPrintable(server))
                << server
                << Ics(head + "STATUS:IN-PROCESS\nPERCENT-COMPLETE:40\nEND:VTODO\nEND:VCALENDAR\n");
        }
    }
    void finishAndReopen()
    {
        QFETCH(QString, server);
        QFETCH(QByteArray, member);
        PREPARE(server);
        Use(kFirst);
        if (member.isEmpty())
            QVERIFY(!TSyncFixture::NewTask(QStringLiteral("Finish me")).isEmpty());
        else
            QVERIFY(TInteropServer::PutNew(FUrl + QStringLiteral("finish-me.ics"), member));
        QVERIFY_SYNC(Sync(kFirst));
        const std::optional<TLocalTask> task = LocalTask(kFirst, QStringLiteral("Finish me"));
        QVERIFY(task);

        QVERIFY(TtasksStore::FinishTask(task->taskid, Finished()));
        QVERIFY_SYNC(Sync(kFirst));
        QStringList master = MasterTodo(MemberWithSummary(Members(), QStringLiteral("Finish me")));
        QCOMPARE(Properties(master, QStringLiteral("STATUS")),
                 QStringList{QStringLiteral("STATUS:COMPLETED")});
        QCOMPARE(Properties(master, QStringLiteral("COMPLETED")),
                 QStringList{QStringLiteral("COMPLETED:") + IcalUtc(Finished())});
        QCOMPARE(Properties(master, QStringLiteral("PERCENT-COMPLETE")),
                 QStringList{QStringLiteral("PERCENT-COMPLETE:100")});

        Use(kFirst);
        QVERIFY(TtasksStore::ReopenTask(task->taskid));
        QVERIFY_SYNC(Sync(kFirst));
        master = MasterTodo(MemberWithSummary(Members(), QStringLiteral("Finish me")));
        QCOMPARE(Properties(master, QStringLiteral("STATUS")),
                 QStringList{QStringLiteral("STATUS:NEEDS-ACTION")});
        QCOMPARE(Properties(master, QStringLiteral("COMPLETED")), QStringList());
        QCOMPARE(Properties(master, QStringLiteral("PERCENT-COMPLETE")), QStringList());
    }

    // The same field changed in todoman and in Ulmora: the server's value
    // (todoman's, which reached it first) wins, and Ulmora's is kept in a
    // copy marked "Conflict: " that every program shows.
    void conflict_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("field");
        for (const QString& server : ServerNames()) {
            for (const char* field : {"summary", "note", "due"})
                QTest::addRow("%s: %s", qPrintable(server), field)
                    << server << QString::fromLatin1(field);
        }
    }
    void conflict()
    {
        QFETCH(QString, server);
        QFETCH(QString, field);
        PREPARE(server);
        NEED_TODOMAN();
        Use(kFirst);
        const QString id = TSyncFixture::NewTask(QStringLiteral("Book the hall"), {},
                                                 QStringLiteral("for 40 people"), Due());
        QVERIFY_SYNC(Sync(kFirst));
        QVERIFY_SYNC(Sync(kSecond));
        QVERIFY_TODOMAN(Todoman().Sync());

        // What todoman and Ulmora write, and what the server then holds.
        TSyncFields base{QStringLiteral("Book the hall"),
                         QStringLiteral("for 40 people"),
                         Text(Due()),
                         QString(),
                         {}};
        TSyncFields theirs = base;
        TSyncFields ours = base;
        QStringList option;
        if (field == QLatin1String("summary")) {
            theirs.summary = QStringLiteral("Book the big hall");
            ours.summary = QStringLiteral("Book the small hall");
            option = QStringList{QStringLiteral("--summary"), theirs.summary};
        } else if (field == QLatin1String("note")) {
            theirs.note = QStringLiteral("for 60 people");
            ours.note = QStringLiteral("for 50 people");
            option = QStringList{QStringLiteral("--note"), theirs.note};
        } else {
            theirs.due = Text(OtherDue());
            ours.due = Text(EncodeDateTime(2027, 3, 20, 12, 0));
            option = QStringList{QStringLiteral("--due"), TodomanTime(OtherDue())};
        }
        QVERIFY_TODOMAN(Todoman().Edit(base.summary, option));
        QVERIFY_TODOMAN(Todoman().Sync());
        Use(kFirst);
        QVERIFY(TSyncFixture::Edit(id, ours.summary, ours.note, SqlTextToDateTime(ours.due), {}));

        const TSyncResult result = Sync(kFirst);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.conflicts, 1);
        TSyncFields copy = ours;
        copy.summary = ConflictPrefix() + ours.summary;
        QStringList expected{theirs.Canonical(), copy.Canonical()};
        expected.sort();
        QCOMPARE(Canon(kFirst), expected);
        Use(kFirst);
        QCOMPARE(TSyncFixture::Tasks()[id].fields, theirs);
        QVERIFY_SYNC(Sync(kSecond));
        QCOMPARE(Canon(kSecond), expected);

        QVERIFY_TODOMAN(Todoman().Sync());
        std::vector<TTodomanTask> listed;
        QVERIFY_TODOMAN(Todoman().List(listed));
        QCOMPARE(listed.size(), size_t(2));
        for (const TTodomanTask& task : listed) {
            const TSyncFields& fields = task.summary == copy.summary ? copy : theirs;
            QCOMPARE(task.summary, fields.summary);
            QCOMPARE(task.description, fields.note);
            QCOMPARE(task.due, fields.due);
        }
    }

    // The calendar is deleted and made again at the same address: a store
    // that synced with it loses nothing and fills it again, and says so.
    void collectionReset_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("syncedAgain");
        // Right after its upload a store holds the sync token of the
        // collection before it (empty, as it is again after the reset); after
        // one more sync, a token that the new collection never gave.
        for (const QString& server : ServerNames()) {
            QTest::addRow("%s: reset after the upload", qPrintable(server)) << server << false;
            QTest::addRow("%s: reset after a later sync", qPrintable(server)) << server << true;
        }
    }
    void collectionReset()
    {
        QFETCH(QString, server);
        QFETCH(bool, syncedAgain);
        PREPARE(server);
        Use(kFirst);
        for (int i = 1; i <= 7; ++i)
            QVERIFY(
                !TSyncFixture::NewTask(QStringLiteral("Reset task %1").arg(i),
                                       i % 2 ? QStringList{QStringLiteral("Home")} : QStringList(),
                                       QStringLiteral("note %1").arg(i))
                     .isEmpty());
        QVERIFY_SYNC(Sync(kFirst));
        QVERIFY_SYNC(Sync(kSecond));
        if (syncedAgain) {
            QVERIFY_SYNC(Sync(kFirst));
            QVERIFY_SYNC(Sync(kSecond));
        }
        const QStringList before = Canon(kFirst);
        QCOMPARE(before.size(), 7);
        QCOMPARE(Canon(kSecond), before);

        QVERIFY(TInteropServer::DeleteCollection(FUrl));
        QVERIFY(TInteropServer::MakeCalendarAt(FUrl));
        QCOMPARE(Members().size(), size_t(0));

        const TSyncResult result = Sync(kFirst);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.deletedLocal, 0);
        QCOMPARE(Canon(kFirst), before);
        QCOMPARE(ServerSummaries().size(), 7);
        QVERIFY2(!result.notice.isEmpty(), "the sync says nothing of the emptied collection");

        const TSyncResult second = Sync(kSecond);
        QVERIFY2(second.ok, qPrintable(second.error));
        QCOMPARE(second.deletedLocal, 0);
        QCOMPARE(Canon(kSecond), before);
        QCOMPARE(ServerSummaries().size(), 7);
    }

    // The address of the collection changes: to another collection and back,
    // or to the same one by another name of the host. Nothing is doubled
    // anywhere, and a task of todoman's uploaded to the other collection is
    // the same to-do, with its UID and everything else todoman wrote.
    void addressChange_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("otherCollection");
        for (const QString& server : ServerNames()) {
            QTest::addRow("%s: another collection and back", qPrintable(server)) << server << true;
            QTest::addRow("%s: localhost for 127.0.0.1", qPrintable(server)) << server << false;
        }
    }
    void addressChange()
    {
        QFETCH(QString, server);
        QFETCH(bool, otherCollection);
        PREPARE(server);
        NEED_TODOMAN();
        const QString fromTodoman = QStringLiteral("From todoman");
        QVERIFY_TODOMAN(Todoman().New(
            fromTodoman, {QStringLiteral("--priority"), QStringLiteral("high"),
                          QStringLiteral("--start"), TodomanTime(EncodeDateTime(2027, 3, 10, 8, 0)),
                          QStringLiteral("--due"), TodomanTime(Due())}));
        QVERIFY_TODOMAN(Todoman().Append(
            fromTodoman,
            {QStringLiteral("RRULE:FREQ=WEEKLY;COUNT=4"),
             QStringLiteral("X-TODOMAN-TEST;X-PARAM=1:kept"),
             QStringLiteral("RELATED-TO:parent-1@example.org"), QStringLiteral("BEGIN:VALARM"),
             QStringLiteral("ACTION:DISPLAY"), QStringLiteral("DESCRIPTION:Reminder"),
             QStringLiteral("TRIGGER:-PT15M"), QStringLiteral("END:VALARM")}));
        QVERIFY_TODOMAN(Todoman().Sync());
        Use(kFirst);
        QVERIFY(!TSyncFixture::NewTask(QStringLiteral("Ulmora one")).isEmpty());
        QVERIFY(!TSyncFixture::NewTask(QStringLiteral("Ulmora two"), {QStringLiteral("Home")})
                     .isEmpty());
        QVERIFY_SYNC(Sync(kFirst));
        QVERIFY_SYNC(Sync(kSecond));
        QVERIFY_TODOMAN(Todoman().Sync());
        const QStringList all{fromTodoman, QStringLiteral("Ulmora one"),
                              QStringLiteral("Ulmora two")};
        QCOMPARE(ServerSummaries(), all);
        const QStringList canon = Canon(kFirst);
        QCOMPARE(canon.size(), 3);
        const QByteArray original = MemberWithSummary(Members(), fromTodoman);
        QVERIFY(!original.isEmpty());

        if (otherCollection) {
            const QString other = FServer->NewCalendar();
            QVERIFY(!other.isEmpty());
            QVERIFY_SYNC(Sync(kFirst, other));
            QCOMPARE(ServerSummaries(other), all);
            const QByteArray copy = MemberWithSummary(Members(other), fromTodoman);
            // The to-do itself: its UID and what todoman wrote beyond the
            // fields Ulmora maps, alarm included.
            QStringList kept;
            for (const QString& line : PlacedLines(original, {})) {
                for (const char* name :
                     {"UID", "PRIORITY", "RRULE", "DTSTART", "X-TODOMAN-TEST", "RELATED-TO"}) {
                    if (IsProperty(line.section(QLatin1Char('|'), 1), QLatin1String(name)))
                        kept << line;
                }
                if (line.contains(QLatin1String("/VALARM|")))
                    kept << line;
            }
            QCOMPARE(kept.size(), 9);
            const QStringList copied = PlacedLines(copy, {});
            for (const QString& line : kept)
                QVERIFY2(
                    copied.contains(line),
                    qPrintable(QStringLiteral("%1 is missing in %2")
                                   .arg(line, ContentLines(copy).join(QStringLiteral(" ; ")))));
            QVERIFY_SYNC(Sync(kFirst));
        } else {
            QUrl alias(FUrl);
            alias.setHost(QStringLiteral("localhost"));
            QVERIFY_SYNC(Sync(kFirst, alias.toString()));
            QCOMPARE(ServerSummaries(), all);
            QCOMPARE(Canon(kFirst), canon);
            QVERIFY_SYNC(Sync(kFirst));
        }
        QCOMPARE(ServerSummaries(), all);
        QCOMPARE(Canon(kFirst), canon);
        QVERIFY_SYNC(Sync(kSecond));
        QCOMPARE(Canon(kSecond), canon);
        QVERIFY_TODOMAN(Todoman().Sync());
        QCOMPARE(Todoman().Summaries(), all);
    }

    // A to-do imported from a file is the same to-do on the server: its UID
    // and the properties Ulmora does not map go with it.
    void importThenSync_data()
    {
        QTest::addColumn<QString>("server");
        for (const QString& server : ServerNames())
            QTest::newRow(qPrintable(server)) << server;
    }
    void importThenSync()
    {
        QFETCH(QString, server);
        PREPARE(server);
        if (!IcsSupported())
            QSKIP("this build reads no iCalendar files");
        const QString path = FDir.filePath(QStringLiteral("import.ics"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(Ics("BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Example Corp.//Paper Planner//EN\n"
                       "BEGIN:VTODO\nUID:imported-42@example.org\nDTSTAMP:20260101T080000Z\n"
                       "SUMMARY:Renew passport\nPRIORITY:1\nX-PLANNER-PAGE:17\n"
                       "RELATED-TO:papers@example.org\nBEGIN:VALARM\nACTION:DISPLAY\n"
                       "DESCRIPTION:Passport\nTRIGGER:-P7D\nEND:VALARM\nEND:VTODO\n"
                       "END:VCALENDAR\n"));
        file.close();
        Use(kFirst);
        const TIcsImportResult imported = ImportIcs(path);
        QVERIFY2(imported.ok, qPrintable(imported.error));
        QCOMPARE(imported.added, 1);
        QVERIFY_SYNC(Sync(kFirst));

        const std::map<QString, QByteArray> members = Members();
        QCOMPARE(members.size(), size_t(1));
        const QStringList placed = PlacedLines(members.begin()->second, {});
        for (const QString& line :
             {QStringLiteral("/VCALENDAR/VTODO|UID:imported-42@example.org"),
              QStringLiteral("/VCALENDAR/VTODO|PRIORITY:1"),
              QStringLiteral("/VCALENDAR/VTODO|X-PLANNER-PAGE:17"),
              QStringLiteral("/VCALENDAR/VTODO|RELATED-TO:papers@example.org"),
              QStringLiteral("/VCALENDAR/VTODO/VALARM|TRIGGER:-P7D")})
            QVERIFY2(placed.contains(line), qPrintable(line + QStringLiteral(" is missing in ") +
                                                       placed.join(QStringLiteral(" ; "))));
        QVERIFY_SYNC(Sync(kSecond));
        QCOMPARE(Canon(kSecond), Canon(kFirst));
    }

    // The server refuses one new task: the others go up, the result names the
    // refused one by its summary, and a later sync neither doubles anything
    // nor loses it.
    void refusedTask_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("lasting");
        for (const QString& server : ServerNames()) {
            QTest::addRow("%s: 412 on its first upload", qPrintable(server))
                << server << 412 << false;
            QTest::addRow("%s: 403 on every upload", qPrintable(server)) << server << 403 << true;
        }
    }
    void refusedTask()
    {
        QFETCH(QString, server);
        QFETCH(int, status);
        QFETCH(bool, lasting);
        PREPARE(server);
        TFaultProxy* proxy = Proxy();
        QVERIFY(proxy);
        const QString url = proxy->Through(FUrl);
        Use(kFirst);
        const QStringList ids = NewTasks(QStringLiteral("Errand %1"), 5);
        const QString refused = QStringLiteral("Errand 3");
        QVERIFY(
            proxy->SetFaults({{QStringLiteral("PUT"), ids[2], QStringLiteral("status"), status}}));
        const QStringList others{QStringLiteral("Errand 1"), QStringLiteral("Errand 2"),
                                 QStringLiteral("Errand 4"), QStringLiteral("Errand 5")};

        for (int round = 0; round < (lasting ? 2 : 1); ++round) {
            const TSyncResult result = Sync(kFirst, url);
            QVERIFY(!result.ok);
            QCOMPARE(result.itemErrors.size(), 1);
            QVERIFY2(result.itemErrors.first().contains(refused),
                     qPrintable(result.itemErrors.first()));
            QCOMPARE(ServerSummaries(), others);
            QCOMPARE(LocalTasks(kFirst).size(), size_t(5));
        }
        QVERIFY_SYNC(Sync(kSecond));
        QCOMPARE(LocalTasks(kSecond).size(), size_t(4));

        QVERIFY(proxy->Clear());
        const TSyncResult result = Sync(kFirst, url);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.itemErrors, QStringList());
        QStringList all = others;
        all << refused;
        all.sort();
        QCOMPARE(ServerSummaries(), all);
        QVERIFY_SYNC(Sync(kSecond));
        QCOMPARE(Canon(kSecond), Canon(kFirst));
        QCOMPARE(LocalTasks(kFirst).size(), size_t(5));
    }

    // A sync that fails midway (a server that stores but answers 500, a
    // connection dropped before or after the server stored an upload, a
    // listing that fails) ends with the error in words and changes nothing
    // here; the next sync converges exactly, with no task doubled and no
    // conflict copy.
    void failedRequests_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("skip");
        for (const QString& server : ServerNames()) {
            QTest::addRow("%s: every upload stored, answered 500", qPrintable(server))
                << server << "PUT"
                << "after" << 0;
            QTest::addRow("%s: connection dropped after 4 uploads", qPrintable(server))
                << server << "PUT"
                << "drop" << 4;
            QTest::addRow("%s: connection dropped once the 5th upload was stored",
                          qPrintable(server))
                << server << "PUT"
                << "drop-after" << 4;
            QTest::addRow("%s: 500 on every REPORT", qPrintable(server)) << server << "REPORT"
                                                                         << "status" << 0;
        }
    }
    void failedRequests()
    {
        QFETCH(QString, server);
        QFETCH(QString, method);
        QFETCH(QString, action);
        QFETCH(int, skip);
        PREPARE(server);
        TFaultProxy* proxy = Proxy();
        QVERIFY(proxy);
        const QString url = proxy->Through(FUrl);
        Use(kFirst);
        NewTasks(QStringLiteral("Synced %1"), 3);
        QVERIFY_SYNC(Sync(kFirst, url));
        QVERIFY_SYNC(Sync(kSecond));
        Use(kFirst);
        NewTasks(QStringLiteral("New %1"), 12);
        const QStringList before = Canon(kFirst);

        QVERIFY(proxy->SetFaults({{method, QString(), action, 500, skip}}));
        const TSyncResult failed = Sync(kFirst, url);
        QVERIFY(!failed.ok);
        QVERIFY2(!failed.error.isEmpty() || !failed.itemErrors.isEmpty(),
                 "the failed sync gives no reason");
        QCOMPARE(Canon(kFirst), before);
        QCOMPARE(Canon(kSecond).size(), 3);

        QVERIFY(proxy->Clear());
        const TSyncResult result = Sync(kFirst, url);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.conflicts, 0);
        QCOMPARE(Canon(kFirst), before);
        QCOMPARE(Members().size(), size_t(15));
        QVERIFY_SYNC(Sync(kSecond));
        QCOMPARE(Canon(kSecond), before);
        const TSyncResult again = Sync(kFirst, url);
        QVERIFY2(again.ok, qPrintable(again.error));
        QCOMPARE(again.uploaded + again.downloaded + again.conflicts + again.deletedLocal +
                     again.deletedRemote,
                 0);
    }

    // A collection that is not there is named in the error, in the same
    // words on every server.
    void missingCollection_data()
    {
        QTest::addColumn<QString>("server");
        for (const QString& server : ServerNames())
            QTest::newRow(qPrintable(server)) << server;
    }
    void missingCollection()
    {
        QFETCH(QString, server);
        PREPARE(server);
        Use(kFirst);
        QVERIFY(!TSyncFixture::NewTask(QStringLiteral("Keep me")).isEmpty());
        const QStringList before = Canon(kFirst);
        const QString url = FServer->CalendarUrl(QStringLiteral("no-such-calendar"));
        const TSyncResult result = Sync(kFirst, url);
        QVERIFY(!result.ok);
        QCOMPARE(result.error, QStringLiteral("the collection %1 does not exist").arg(url));
        QCOMPARE(Canon(kFirst), before);
    }
};

QTEST_GUILESS_MAIN(TestInterop)
#include "test_interop.moc"
