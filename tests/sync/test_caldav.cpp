// The sync's pieces without a real server: the VTODO form of a task, the
// multistatus parser, and a hostile server that answers with huge, endless
// or malformed replies.

#include "store/tasks_store.h"
#include "sync/tasks_caldav.h"
#include "sync/tasks_sync.h"
#include "sync/tasks_sync_local.h"
#include "sync/tasks_sync_vtodo.h"
#include "util/kvd_utils.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <functional>
#include <thread>

namespace {

const QByteArray kProbeReply =
    "<?xml version=\"1.0\"?><multistatus xmlns=\"DAV:\" "
    "xmlns:C=\"urn:ietf:params:xml:ns:caldav\"><response><href>/cal/</href><propstat><prop>"
    "<resourcetype><collection/><C:calendar/></resourcetype><C:supported-calendar-component-set>"
    "<C:comp name=\"VTODO\"/></C:supported-calendar-component-set></prop><status>HTTP/1.1 200 "
    "OK</status></propstat></response></multistatus>";

// A server on 127.0.0.1 that hands each complete request to Answer.
class THostileServer
{
public:
    std::function<void(QTcpSocket&, const QByteArray&)> Answer;

    THostileServer()
    {
        FServer.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&FServer, &QTcpServer::newConnection, &FServer, [this] {
            while (QTcpSocket* socket = FServer.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    *buffer += socket->readAll();
                    const qsizetype end = buffer->indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    qsizetype length = 0;
                    for (const QByteArray& line : buffer->left(end).split('\n')) {
                        if (line.toLower().startsWith("content-length:"))
                            length = line.mid(15).trimmed().toLongLong();
                    }
                    if (buffer->size() < end + 4 + length)
                        return;
                    const QByteArray request = buffer->left(end + 4 + length);
                    buffer->remove(0, end + 4 + length);
                    Answer(*socket, request);
                });
            }
        });
    }
    QString Url() const
    {
        return QStringLiteral("http://127.0.0.1:%1/cal/").arg(FServer.serverPort());
    }

    static void Reply(QTcpSocket& aSocket, const QByteArray& aStatus, const QByteArray& aBody,
                      const QByteArray& aHeaders = QByteArray())
    {
        aSocket.write("HTTP/1.1 " + aStatus + "\r\nContent-Type: application/xml\r\n" + aHeaders +
                      "Content-Length: " + QByteArray::number(aBody.size()) + "\r\n\r\n" + aBody);
    }
    // The calendar for the probe, anything else from aRest.
    static bool Probe(QTcpSocket& aSocket, const QByteArray& aRequest)
    {
        if (!aRequest.startsWith("PROPFIND"))
            return false;
        Reply(aSocket, "207 Multi-Status", kProbeReply);
        return true;
    }

private:
    QTcpServer FServer;
};

// The content lines of iCalendar text, unfolded, without their line ends.
QList<QByteArray> ContentLines(const QByteArray& aText)
{
    QByteArray text = aText;
    text.replace("\r\n ", "").replace("\r\n\t", "");
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    lines.removeAll(QByteArray());
    return lines;
}

// The lines of aLines whose property is not one of aNames, in order.
QList<QByteArray> LinesWithout(const QList<QByteArray>& aLines, const QList<QByteArray>& aNames)
{
    QList<QByteArray> kept;
    for (const QByteArray& line : aLines) {
        bool named = false;
        for (const QByteArray& name : aNames)
            named = named || line.startsWith(name + ':') || line.startsWith(name + ';');
        if (!named)
            kept << line;
    }
    return kept;
}

// A to-do as another client writes it: its own product, parameters that
// repeat a default, a list of categories, a repeat rule with a changed
// occurrence, an alarm and properties of its own.
const QByteArray kForeignMember =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other Client//Tasks 2.1//EN\r\n"
    "BEGIN:VTIMEZONE\r\nTZID:Europe/Berlin\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r\n"
    "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\n"
    "END:STANDARD\r\nEND:VTIMEZONE\r\n"
    "BEGIN:VTODO\r\nUID:trip-42@other.example\r\nDTSTAMP:20261201T080000Z\r\n"
    "CREATED;VALUE=DATE-TIME:20261201T080000Z\r\nSUMMARY:Pack for the trip\r\n"
    "DESCRIPTION:passport\\, tickets\r\nDUE;VALUE=DATE-TIME:20270314T093000Z\r\n"
    "DTSTART;TZID=Europe/Berlin:20270301T090000\r\nCATEGORIES:Travel,Home\r\n"
    "PRIORITY:1\r\nRRULE:FREQ=WEEKLY;COUNT=4\r\nRELATED-TO;RELTYPE=PARENT:trip-1@other.example\r\n"
    "X-OTHER-COLOR:#ff0000\r\nSTATUS:NEEDS-ACTION\r\n"
    "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:Reminder\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n"
    "END:VTODO\r\n"
    "BEGIN:VTODO\r\nUID:trip-42@other.example\r\nDTSTAMP:20261201T080000Z\r\n"
    "RECURRENCE-ID:20270321T093000Z\r\nSUMMARY:Pack for the second trip\r\n"
    "DUE:20270321T093000Z\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";

// A calendar kept in memory behind a THostileServer, as an old server
// without sync reports answers (calendar-query, multiget, conditional PUT and
// DELETE), with faults the test switches on: a status instead of storing
// (once or for ever) for the PUT of a task's summary, or storing and then
// answering 500.
class TMemoryCalendar
{
public:
    struct TFault
    {
        QByteArray summary;
        QByteArray status;
        bool store = false;
        int times = -1;
    };
    std::map<QString, std::pair<QByteArray, QByteArray>> members;
    std::vector<TFault> faults;

    TMemoryCalendar()
    {
        FServer.Answer = [this](QTcpSocket& aSocket, const QByteArray& aRequest) {
            Answer(aSocket, aRequest);
        };
    }
    QString Url() const { return FServer.Url(); }

private:
    static QByteArray Header(const QByteArray& aRequest, const QByteArray& aName)
    {
        for (const QByteArray& line : aRequest.left(aRequest.indexOf("\r\n\r\n")).split('\n')) {
            if (line.toLower().startsWith(aName.toLower() + ':'))
                return line.mid(aName.size() + 1).trimmed();
        }
        return QByteArray();
    }
    static QByteArray Response(const QString& aHref, const QByteArray& aEtag,
                               const QByteArray& aData = QByteArray())
    {
        QByteArray prop = "<getetag>" + aEtag + "</getetag>";
        if (!aData.isNull())
            prop += "<C:calendar-data>" + QString::fromUtf8(aData).toHtmlEscaped().toUtf8() +
                    "</C:calendar-data>";
        return "<response><href>" + aHref.toUtf8() + "</href><propstat><prop>" + prop +
               "</prop><status>HTTP/1.1 200 OK</status></propstat></response>";
    }
    void Answer(QTcpSocket& aSocket, const QByteArray& aRequest)
    {
        if (THostileServer::Probe(aSocket, aRequest))
            return;
        const QByteArray head = aRequest.left(aRequest.indexOf("\r\n"));
        const QString path = QString::fromUtf8(head.split(' ').value(1));
        const QByteArray body = aRequest.mid(aRequest.indexOf("\r\n\r\n") + 4);
        const QByteArray open = "<multistatus xmlns=\"DAV:\" "
                                "xmlns:C=\"urn:ietf:params:xml:ns:caldav\">";
        if (head.startsWith("REPORT")) {
            QByteArray reply = open;
            const bool multiget = body.contains("calendar-multiget");
            for (const auto& [href, member] : members) {
                if (!multiget || body.contains("<d:href>" + href.toUtf8() + "</d:href>"))
                    reply += multiget ? Response(href, member.first, member.second)
                                      : Response(href, member.first);
            }
            THostileServer::Reply(aSocket, "207 Multi-Status", reply + "</multistatus>");
            return;
        }
        const auto member = members.find(path);
        if (head.startsWith("DELETE")) {
            if (member == members.end()) {
                THostileServer::Reply(aSocket, "404 Not Found", "");
                return;
            }
            members.erase(member);
            THostileServer::Reply(aSocket, "204 No Content", "");
            return;
        }
        // PUT
        const QByteArray match = Header(aRequest, "If-Match");
        if ((!match.isEmpty() && (member == members.end() || member->second.first != match)) ||
            (match.isEmpty() && member != members.end())) {
            THostileServer::Reply(aSocket, "412 Precondition Failed", "");
            return;
        }
        for (TFault& fault : faults) {
            if (fault.times == 0 || !body.contains("SUMMARY:" + fault.summary + "\r\n"))
                continue;
            if (fault.times > 0)
                --fault.times;
            if (fault.store)
                members[path] = {Etag(), body};
            THostileServer::Reply(aSocket, fault.status, "");
            return;
        }
        const QByteArray etag = Etag();
        members[path] = {etag, body};
        THostileServer::Reply(aSocket, "201 Created", "", "ETag: " + etag + "\r\n");
    }
    QByteArray Etag() { return "\"" + QByteArray::number(++FVersion) + "\""; }

    THostileServer FServer;
    int FVersion = 0;
};

// One sync on a thread of its own while this thread serves the test's
// server; its result.
TSyncResult SyncInThread(const TSyncConfig& aConfig)
{
    std::atomic<bool> done{false};
    TSyncResult result;
    std::thread worker([&] {
        result = SyncOnce(*GetTasksDB(), aConfig);
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    worker.join();
    return result;
}

} // namespace

class TestCalDav : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // What the sync writes, it reads back as the same fields.
    void vtodoRoundTrip_data()
    {
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("due");
        QTest::addColumn<QString>("finished");
        QTest::addColumn<QStringList>("tags");
        QTest::newRow("plain") << "Buy milk"
                               << ""
                               << ""
                               << "" << QStringList();
        QTest::newRow("escapes") << "a, b; c \\ d"
                                 << "line one\nline two, ; \\"
                                 << "2027-03-14 09:30:00"
                                 << "" << QStringList{"a,b", "c;d"};
        QTest::newRow("finished, long UTF-8 text folded")
            << QString(40, QChar(0x00E9)) + QString(30, QChar(0x4E2D)) << QString(200, 'x')
            << "2026-01-01 00:00:00"
            << "2026-12-10 16:45:12" << QStringList{"Home"};
    }
    void vtodoRoundTrip()
    {
        QFETCH(QString, summary);
        QFETCH(QString, note);
        QFETCH(QString, due);
        QFETCH(QString, finished);
        QFETCH(QStringList, tags);
        TSyncFields fields{summary, note, due, finished, tags};
        fields.Normalize();
        const QByteArray ics =
            WriteVTodo(QByteArray(), QStringLiteral("AbcdefghijklmnoP"), QString(), fields);
        for (const QByteArray& line : ics.split('\n'))
            QVERIFY2(line.size() <= 76, line.constData());
        TSyncTodo todo;
        QString error;
        QVERIFY2(ParseVTodo(ics, todo, error), qPrintable(error));
        QCOMPARE(todo.uid, QStringLiteral("AbcdefghijklmnoP"));
        QCOMPARE(todo.fields, fields);
        QCOMPARE(TSyncFields::FromCanonical(fields.Canonical()), fields);
    }

    // Writing over the server's text keeps what the sync does not map.
    void vtodoKeepsUnknown()
    {
        const QByteArray base = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:other\r\n"
                                "BEGIN:VTODO\r\nUID:x-1\r\nSUMMARY:Old\r\nX-PRIORITY-LABEL:high\r\n"
                                "PRIORITY:1\r\nDURATION:PT1H\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\n"
                                "DESCRIPTION:alarm text\r\nTRIGGER:-PT5M\r\nEND:VALARM\r\n"
                                "END:VTODO\r\nEND:VCALENDAR\r\n";
        TSyncFields fields;
        fields.summary = QStringLiteral("New");
        fields.due = QStringLiteral("2027-01-02 03:04:05");
        const QByteArray ics = WriteVTodo(base, QStringLiteral("x-1"), QString(), fields);
        QVERIFY2(ics.contains("X-PRIORITY-LABEL:high\r\n"), ics.constData());
        QVERIFY(ics.contains("PRIORITY:1\r\n"));
        QVERIFY(ics.contains("DESCRIPTION:alarm text\r\n"));
        QVERIFY(!ics.contains("DURATION"));
        QVERIFY(!ics.contains("SUMMARY:Old"));
        TSyncTodo todo;
        QString error;
        QVERIFY(ParseVTodo(ics, todo, error));
        QCOMPARE(todo.uid, QStringLiteral("x-1"));
        QCOMPARE(todo.fields, fields);
    }

    // A change here rewrites only the properties it changes: every other
    // line of the member, the other client's product, the parameters, the
    // list of categories and the changed occurrence of a repeating to-do,
    // stays byte for byte.
    void vtodoKeepsOtherLines_data()
    {
        QTest::addColumn<QString>("what");
        // The properties the change may rewrite (beside DTSTAMP and
        // LAST-MODIFIED, which every change sets).
        QTest::addColumn<QList<QByteArray>>("rewritten");
        // Lines the result must hold.
        QTest::addColumn<QList<QByteArray>>("present");
        QTest::addColumn<QList<QByteArray>>("absent");
        QTest::newRow("note changed")
            << "note" << QList<QByteArray>{"DESCRIPTION"}
            << QList<QByteArray>{"DESCRIPTION:passport\\, visa"} << QList<QByteArray>{};
        QTest::newRow("finished") << "finish"
                                  << QList<QByteArray>{"STATUS", "COMPLETED", "PERCENT-COMPLETE"}
                                  << QList<QByteArray>{"STATUS:COMPLETED", "PERCENT-COMPLETE:100"}
                                  << QList<QByteArray>{"STATUS:NEEDS-ACTION"};
        QTest::newRow("a tag added: one list")
            << "tag" << QList<QByteArray>{"CATEGORIES"}
            << QList<QByteArray>{"CATEGORIES:Home,Packing,Travel"} << QList<QByteArray>{};
        QTest::newRow("nothing mapped changed")
            << "none" << QList<QByteArray>{} << QList<QByteArray>{"CATEGORIES:Travel,Home"}
            << QList<QByteArray>{};
    }
    void vtodoKeepsOtherLines()
    {
        QFETCH(QString, what);
        QFETCH(QList<QByteArray>, rewritten);
        QFETCH(QList<QByteArray>, present);
        QFETCH(QList<QByteArray>, absent);
        TSyncTodo todo;
        QString error;
        QVERIFY2(ParseVTodo(kForeignMember, todo, error), qPrintable(error));
        // The repeating to-do is the task, not its changed occurrence.
        QCOMPARE(todo.fields.summary, QStringLiteral("Pack for the trip"));
        QCOMPARE(todo.fields.tags, (QStringList{"Home", "Travel"}));
        TSyncFields fields = todo.fields;
        if (what == QLatin1String("note"))
            fields.note = QStringLiteral("passport, visa");
        else if (what == QLatin1String("finish"))
            fields.finished = QStringLiteral("2026-12-10 16:45:12");
        else if (what == QLatin1String("tag"))
            fields.tags = QStringList{"Home", "Packing", "Travel"};
        QString uid;
        const QByteArray written = WriteVTodo(kForeignMember, QStringLiteral("AbcdefghijklmnoP"),
                                              QStringLiteral("2026-01-01 00:00:00"), fields, &uid);
        QCOMPARE(uid, QStringLiteral("trip-42@other.example"));
        const QList<QByteArray> always{"DTSTAMP", "LAST-MODIFIED"};
        QCOMPARE(LinesWithout(ContentLines(written), always + rewritten),
                 LinesWithout(ContentLines(kForeignMember), always + rewritten));
        const QList<QByteArray> lines = ContentLines(written);
        for (const QByteArray& line : present)
            QVERIFY2(lines.contains(line), line.constData());
        for (const QByteArray& line : absent)
            QVERIFY2(!lines.contains(line), line.constData());
        QCOMPARE(lines.count("CATEGORIES:Travel,Home") +
                     lines.count("CATEGORIES:Home,Packing,Travel"),
                 1);
        TSyncTodo back;
        QVERIFY2(ParseVTodo(written, back, error), qPrintable(error));
        QCOMPARE(back.fields, fields);
    }

    // Re-opening leaves nothing that another client reads as done; finishing
    // says done in all three properties, also where the to-do had no
    // PERCENT-COMPLETE.
    void vtodoFinishAndReopen()
    {
        TSyncFields fields;
        fields.summary = QStringLiteral("Call Ann");
        const QByteArray open =
            WriteVTodo(QByteArray(), QStringLiteral("AbcdefghijklmnoP"), QString(), fields);
        QVERIFY(!open.contains("PERCENT-COMPLETE"));
        fields.finished = QStringLiteral("2026-12-10 16:45:12");
        const QByteArray done =
            WriteVTodo(open, QStringLiteral("AbcdefghijklmnoP"), QString(), fields);
        QList<QByteArray> lines = ContentLines(done);
        QVERIFY(lines.contains("STATUS:COMPLETED"));
        QVERIFY(lines.contains("PERCENT-COMPLETE:100"));
        QCOMPARE(LinesWithout(lines, {"COMPLETED"}).size(), lines.size() - 1);
        fields.finished.clear();
        const QByteArray reopened =
            WriteVTodo(done, QStringLiteral("AbcdefghijklmnoP"), QString(), fields);
        lines = ContentLines(reopened);
        QVERIFY(lines.contains("STATUS:NEEDS-ACTION"));
        QCOMPARE(LinesWithout(lines, {"COMPLETED", "PERCENT-COMPLETE"}), lines);
        QCOMPARE(lines.count("STATUS:NEEDS-ACTION"), 1);
    }

    // Tags made here go as one CATEGORIES list, with the commas of a title
    // escaped, and come back as the same tags.
    void vtodoOneCategoriesList()
    {
        TSyncFields fields;
        fields.summary = QStringLiteral("Two tags");
        fields.tags = QStringList{"Home", "Work, Office"};
        const QByteArray ics =
            WriteVTodo(QByteArray(), QStringLiteral("AbcdefghijklmnoP"), QString(), fields);
        const QList<QByteArray> lines = ContentLines(ics);
        QCOMPARE(LinesWithout(lines, {"CATEGORIES"}).size(), lines.size() - 1);
        QVERIFY2(lines.contains("CATEGORIES:Home,Work\\, Office"), ics.constData());
        TSyncTodo todo;
        QString error;
        QVERIFY(ParseVTodo(ics, todo, error));
        QCOMPARE(todo.fields.tags, fields.tags);
    }

    // Forms that other clients write.
    void vtodoForeign_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("due");
        QTest::addColumn<QString>("finished");
        QTest::addColumn<QStringList>("tags");
        QTest::newRow("date only")
            << QByteArray("DUE;VALUE=DATE:20270314\r\n") << "2027-03-14 00:00:00"
            << "" << QStringList();
        QTest::newRow("UTC due") << QByteArray("DUE:20270314T093000Z\r\n")
                                 << QDateTime(QDate(2027, 3, 14), QTime(9, 30), QTimeZone::utc())
                                        .toLocalTime()
                                        .toString("yyyy-MM-dd HH:mm:ss")
                                 << "" << QStringList();
        QTest::newRow("completed in UTC")
            << QByteArray("STATUS:COMPLETED\r\nCOMPLETED:20261210T120000Z\r\n") << ""
            << QDateTime(QDate(2026, 12, 10), QTime(12, 0), QTimeZone::utc())
                   .toLocalTime()
                   .toString("yyyy-MM-dd HH:mm:ss")
            << QStringList();
        QTest::newRow("re-opened with an old completion")
            << QByteArray("STATUS:NEEDS-ACTION\r\nCOMPLETED:20261210T120000Z\r\n") << ""
            << "" << QStringList();
        QTest::newRow("categories on two lines, folded")
            << QByteArray("CATEGORIES:Work,Ho\r\n me\r\nCATEGORIES:Work,Phone\r\n") << ""
            << "" << QStringList{"Home", "Phone", "Work"};
    }
    void vtodoForeign()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QString, due);
        QFETCH(QString, finished);
        QFETCH(QStringList, tags);
        TSyncTodo todo;
        QString error;
        QVERIFY2(ParseVTodo("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:u\r\nSUMMARY:s\r\n" + lines +
                                "END:VTODO\r\nEND:VCALENDAR\r\n",
                            todo, error),
                 qPrintable(error));
        QCOMPARE(todo.fields.due, due);
        QCOMPARE(todo.fields.finished, finished);
        QCOMPARE(todo.fields.tags, tags);
    }

    void vtodoMalformed_data()
    {
        QTest::addColumn<QByteArray>("ics");
        QTest::addColumn<QString>("error");
        QTest::newRow("no calendar") << QByteArray("<html>") << "it is not an iCalendar file";
        QTest::newRow("unterminated")
            << QByteArray("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nSUMMARY:x\r\n")
            << "it is not a complete iCalendar file";
        QTest::newRow("bad due") << QByteArray("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nDUE:tomorrow\r\n"
                                               "END:VTODO\r\nEND:VCALENDAR\r\n")
                                 << "it has an unreadable property (Can't parse as DATE-TIME "
                                    "value in DUE property. Removing entire property: tomorrow)";
        QTest::newRow("an event, no task")
            << QByteArray("BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n")
            << "";
    }
    void vtodoMalformed()
    {
        QFETCH(QByteArray, ics);
        QFETCH(QString, error);
        TSyncTodo todo;
        QString reason;
        QVERIFY(!ParseVTodo(ics, todo, reason));
        QCOMPARE(reason, error);
    }

    void multistatus()
    {
        const TDavMultistatus status = ParseMultistatus(
            "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>/cal/a%20b.ics</D:href>"
            "<D:propstat><D:prop><D:getetag>\"1\"</D:getetag></D:prop><D:status>HTTP/1.1 200 "
            "OK</D:status></D:propstat><D:propstat><D:prop><x:other xmlns:x=\"urn:x\"/></D:prop>"
            "<D:status>HTTP/1.1 404 Not Found</D:status></D:propstat></D:response>"
            "<D:response><D:href>/cal/gone.ics</D:href><D:status>HTTP/1.1 404 Not "
            "Found</D:status></D:response><D:sync-token>tok-2</D:sync-token></D:multistatus>");
        QCOMPARE(status.responses.size(), size_t(2));
        QCOMPARE(status.responses[0].href, QStringLiteral("/cal/a%20b.ics"));
        QCOMPARE(status.responses[0].Find("DAV:", "getetag")->text, QStringLiteral("\"1\""));
        QVERIFY(!status.responses[0].Find("urn:x", "other"));
        QCOMPARE(status.responses[1].status, 404);
        QCOMPARE(status.syncToken, QStringLiteral("tok-2"));
    }

    // A task edited in the window while the sync ran is not overwritten: the
    // write and the state of that task wait for the next sync.
    void batchKeepsEditMadeMeanwhile()
    {
        QTemporaryDir dir;
        ReleaseTasksDB();
        SetTasksDBFile(dir.filePath(QStringLiteral("tasks.db")));
        QString token;
        QVERIFY(TSyncLocal(*GetTasksDB()).Open(QStringLiteral("http://127.0.0.1/cal/"), token));
        TStoredTask task;
        task.taskid = GenerateId();
        task.summary = QStringLiteral("As the sync read it");
        QVERIFY(TtasksStore::SaveTask(task, {}, true));
        std::map<QString, TLocalTask> read;
        QVERIFY(TSyncLocal(*GetTasksDB()).ReadTasks(read));
        task.summary = QStringLiteral("Edited in the window meanwhile");
        QVERIFY(TtasksStore::SaveTask(task, {}, false));

        TSyncFields server;
        server.summary = QStringLiteral("From the server");
        TSyncWrite write;
        write.taskid = task.taskid;
        write.expected = read[task.taskid].fields.Canonical();
        write.fields = server;
        write.item = TSyncItem{task.taskid, QStringLiteral("/cal/a.ics"), QStringLiteral("\"e\""),
                               server.Canonical(), QByteArray()};
        TSyncBatch batch(*GetTasksDB());
        QVERIFY(batch.Add(write));
        QVERIFY(batch.Flush());
        QCOMPARE(batch.Skipped(), 1);
        QVERIFY(batch.Written().isEmpty());
        TStoredTask stored;
        QVERIFY(TtasksStore::ReadTask(task.taskid, stored));
        QCOMPARE(stored.summary, QStringLiteral("Edited in the window meanwhile"));
        std::vector<TSyncItem> items;
        QVERIFY(TSyncLocal(*GetTasksDB()).ReadItems(items));
        QVERIFY(items.empty());
        ReleaseTasksDB();
    }

    // Members named outside the collection (another host, another path) are
    // neither fetched nor stored.
    void foreignHrefsIgnored()
    {
        QTemporaryDir dir;
        ReleaseTasksDB();
        SetTasksDBFile(dir.filePath(QStringLiteral("tasks.db")));
        THostileServer server;
        int multigets = 0;
        server.Answer = [&multigets](QTcpSocket& aSocket, const QByteArray& aRequest) {
            if (THostileServer::Probe(aSocket, aRequest))
                return;
            if (aRequest.contains("calendar-multiget"))
                ++multigets;
            THostileServer::Reply(
                aSocket, "207 Multi-Status",
                "<multistatus xmlns=\"DAV:\"><response><href>http://elsewhere.example/cal/a.ics"
                "</href><propstat><prop><getetag>\"1\"</getetag></prop><status>HTTP/1.1 200 OK"
                "</status></propstat></response><response><href>/other/b.ics</href><propstat>"
                "<prop><getetag>\"2\"</getetag></prop><status>HTTP/1.1 200 OK</status>"
                "</propstat></response><response><href>/cal/../secret/c.ics</href><propstat>"
                "<prop><getetag>\"3\"</getetag></prop><status>HTTP/1.1 200 OK</status>"
                "</propstat></response></multistatus>");
        };
        TSyncConfig config;
        config.url = server.Url();
        std::atomic<bool> done{false};
        TSyncResult result;
        std::thread worker([&] {
            result = SyncOnce(*GetTasksDB(), config);
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        worker.join();
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.downloaded, 0);
        QCOMPARE(multigets, 0);
        std::map<QString, TLocalTask> tasks;
        QVERIFY(TSyncLocal(*GetTasksDB()).ReadTasks(tasks));
        QVERIFY(tasks.empty());
        ReleaseTasksDB();
    }

    // A hostile server: a clear error, and the local tasks as they were.
    void hostile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("error");
        QTest::newRow("huge reply") << "huge"
                                    << "the server's reply is too large (over 1 MiB)";
        QTest::newRow("huge declared length") << "declared"
                                              << "the server's reply is too large (over 1 MiB)";
        QTest::newRow("endless reply") << "endless"
                                       << "did not answer within 1.5 seconds";
        QTest::newRow("silent server") << "silent"
                                       << "did not answer within 1.5 seconds";
        QTest::newRow("malformed XML") << "xml"
                                       << "the server's reply is not valid XML";
        QTest::newRow("entity bomb") << "dtd"
                                     << "declares a document type";
        QTest::newRow("not a calendar") << "html"
                                        << "is not a WebDAV multistatus";
        QTest::newRow("not HTTP") << "garbage"
                                  << "the server 127.0.0.1:";
        QTest::newRow("redirect elsewhere") << "redirect"
                                            << "to http://elsewhere.example/cal/";
        QTest::newRow("missing collection as a multistatus of not found")
            << "inner404"
            << "the collection http://127.0.0.1:";
        QTest::newRow("missing collection, every property not found") << "props404"
                                                                      << "does not exist";
        QTest::newRow("malformed iCalendar")
            << "ical"
            << "\"x\" on the server cannot be read: it is not a complete iCalendar file "
               "(/cal/bad.ics)";
    }
    void hostile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, error);
        QTemporaryDir dir;
        ReleaseTasksDB();
        SetTasksDBFile(dir.filePath(QStringLiteral("tasks.db")));
        TStoredTask task;
        task.taskid = GenerateId();
        task.summary = QStringLiteral("Stays as it is");
        QVERIFY(TtasksStore::SaveTask(task, {}, true));
        std::map<QString, TLocalTask> before;
        QVERIFY(TSyncLocal(*GetTasksDB()).ReadTasks(before));

        THostileServer server;
        server.Answer = [kind](QTcpSocket& aSocket, const QByteArray& aRequest) {
            if (kind == "huge") {
                aSocket.write("HTTP/1.1 207 Multi-Status\r\nConnection: close\r\n\r\n");
                aSocket.write(QByteArray(3 * 1024 * 1024, 'x'));
            } else if (kind == "declared") {
                aSocket.write("HTTP/1.1 207 Multi-Status\r\nContent-Length: 1000000000000\r\n\r\n");
            } else if (kind == "endless") {
                aSocket.write("HTTP/1.1 207 Multi-Status\r\nConnection: close\r\n\r\n<");
                auto* timer = new QTimer(&aSocket);
                QObject::connect(timer, &QTimer::timeout, &aSocket,
                                 [&aSocket] { aSocket.write("a"); });
                timer->start(50);
            } else if (kind == "silent") {
            } else if (kind == "xml") {
                THostileServer::Reply(aSocket, "207 Multi-Status",
                                      "<multistatus xmlns=\"DAV:\"><response><href>");
            } else if (kind == "dtd") {
                THostileServer::Reply(
                    aSocket, "207 Multi-Status",
                    "<?xml version=\"1.0\"?><!DOCTYPE m [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
                    "\"&a;&a;&a;&a;&a;&a;&a;&a;\">]><multistatus xmlns=\"DAV:\">&b;</multistatus>");
            } else if (kind == "html") {
                THostileServer::Reply(aSocket, "207 Multi-Status", "<html><body>hi</body></html>");
            } else if (kind == "garbage") {
                aSocket.write("SSH-2.0-OpenSSH\r\n\r\n\x01\x02\x03");
                aSocket.disconnectFromHost();
            } else if (kind == "redirect") {
                THostileServer::Reply(aSocket, "301 Moved", "",
                                      "Location: http://elsewhere.example/cal/\r\n");
            } else if (kind == "inner404") {
                THostileServer::Reply(aSocket, "207 Multi-Status",
                                      "<multistatus xmlns=\"DAV:\"><response><href>/cal/</href>"
                                      "<status>HTTP/1.1 404 Not Found</status></response>"
                                      "</multistatus>");
            } else if (kind == "props404") {
                THostileServer::Reply(
                    aSocket, "207 Multi-Status",
                    "<multistatus xmlns=\"DAV:\"><response><href>/cal/</href><propstat><prop>"
                    "<resourcetype/><displayname/></prop><status>HTTP/1.1 404 Not Found</status>"
                    "</propstat></response></multistatus>");
            } else if (kind == "ical") {
                if (THostileServer::Probe(aSocket, aRequest))
                    return;
                if (aRequest.contains("calendar-query"))
                    THostileServer::Reply(
                        aSocket, "207 Multi-Status",
                        "<multistatus xmlns=\"DAV:\"><response><href>/cal/bad.ics</href>"
                        "<propstat><prop><getetag>\"e1\"</getetag></prop><status>HTTP/1.1 200 "
                        "OK</status></propstat></response></multistatus>");
                else if (aRequest.contains("calendar-multiget"))
                    THostileServer::Reply(
                        aSocket, "207 Multi-Status",
                        "<multistatus xmlns=\"DAV:\" xmlns:C=\"urn:ietf:params:xml:ns:caldav\">"
                        "<response><href>/cal/bad.ics</href><propstat><prop><getetag>\"e1\""
                        "</getetag><C:calendar-data>BEGIN:VCALENDAR\nBEGIN:VTODO\nSUMMARY:x\n"
                        "</C:calendar-data></prop><status>HTTP/1.1 200 OK</status></propstat>"
                        "</response></multistatus>");
                else
                    THostileServer::Reply(aSocket, "201 Created", "", "ETag: \"new\"\r\n");
            }
        };
        TSyncConfig config;
        config.url = server.Url();
        config.client.user = QStringLiteral("user");
        config.client.password = QStringLiteral("password");
        config.client.timeoutMs = 1500;
        config.client.maxReplyBytes = 1024 * 1024;
        const TSyncResult result = SyncInThread(config);
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(error), qPrintable(result.error));
        std::map<QString, TLocalTask> after;
        QVERIFY(TSyncLocal(*GetTasksDB()).ReadTasks(after));
        QCOMPARE(after.size(), before.size());
        QCOMPARE(after.begin()->second.fields, before.begin()->second.fields);
        ReleaseTasksDB();
    }

    // A task the server refuses does not stop the others, is named in the
    // result by its summary, and goes up once the server takes it; a server
    // that stores but says it failed leaves no second copy.
    void refusedItem_data()
    {
        QTest::addColumn<QByteArray>("status");
        QTest::addColumn<bool>("store");
        QTest::addColumn<int>("times");
        QTest::addColumn<QString>("answer");
        QTest::newRow("refused for ever") << QByteArray("403 Forbidden") << false << -1 << "403";
        QTest::newRow("precondition refused once, nothing there")
            << QByteArray("412 Precondition Failed") << false << 1 << "412";
        QTest::newRow("stored, but answered 500")
            << QByteArray("500 Internal Server Error") << true << 1 << "500";
    }
    void refusedItem()
    {
        QFETCH(QByteArray, status);
        QFETCH(bool, store);
        QFETCH(int, times);
        QFETCH(QString, answer);
        QTemporaryDir dir;
        ReleaseTasksDB();
        SetTasksDBFile(dir.filePath(QStringLiteral("tasks.db")));
        for (const QString& summary :
             {QStringLiteral("First"), QStringLiteral("Refused"), QStringLiteral("Third")}) {
            TStoredTask task;
            task.taskid = GenerateId();
            task.summary = summary;
            QVERIFY(TtasksStore::SaveTask(task, {}, true));
        }
        TMemoryCalendar server;
        server.faults.push_back({"Refused", status, store, times});
        TSyncConfig config;
        config.url = server.Url();
        const auto sync = [&] { return SyncInThread(config); };
        TSyncResult result = sync();
        QVERIFY(!result.ok);
        QCOMPARE(result.itemErrors.size(), 1);
        QVERIFY2(result.itemErrors.first().contains(QStringLiteral("\"Refused\"")) &&
                     result.itemErrors.first().contains(answer),
                 qPrintable(result.itemErrors.first()));
        QVERIFY2(result.error.contains(QStringLiteral("\"Refused\"")), qPrintable(result.error));
        QCOMPARE(server.members.size(), size_t(store ? 3 : 2));

        result = sync();
        if (times < 0) {
            QVERIFY(!result.ok);
            QCOMPARE(server.members.size(), size_t(2));
            server.faults.clear();
            result = sync();
        }
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.conflicts, 0);
        QCOMPARE(server.members.size(), size_t(3));
        std::map<QString, TLocalTask> tasks;
        QVERIFY(TSyncLocal(*GetTasksDB()).ReadTasks(tasks));
        QCOMPARE(tasks.size(), size_t(3));
        ReleaseTasksDB();
    }

    // A server without sync reports that lost every member: the tasks go
    // back once; gone again at the next sync, another client deletes them,
    // and so they are deleted here too (they do not come back for ever).
    void emptiedWithoutSyncReports()
    {
        QTemporaryDir dir;
        ReleaseTasksDB();
        SetTasksDBFile(dir.filePath(QStringLiteral("tasks.db")));
        for (const QString& summary : {QStringLiteral("One"), QStringLiteral("Two")}) {
            TStoredTask task;
            task.taskid = GenerateId();
            task.summary = summary;
            QVERIFY(TtasksStore::SaveTask(task, {}, true));
        }
        TMemoryCalendar server;
        TSyncConfig config;
        config.url = server.Url();
        const auto sync = [&] { return SyncInThread(config); };
        const TSyncResult first = sync();
        QVERIFY2(first.ok, qPrintable(first.error));
        QCOMPARE(server.members.size(), size_t(2));
        server.members.clear();
        TSyncResult result = sync();
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.deletedLocal, 0);
        QVERIFY(!result.notice.isEmpty());
        QCOMPARE(server.members.size(), size_t(2));
        server.members.clear();
        result = sync();
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.deletedLocal, 2);
        QVERIFY(result.notice.isEmpty());
        std::map<QString, TLocalTask> tasks;
        QVERIFY(TSyncLocal(*GetTasksDB()).ReadTasks(tasks));
        QVERIFY(tasks.empty());
        ReleaseTasksDB();
    }
};

QTEST_GUILESS_MAIN(TestCalDav)
#include "test_caldav.moc"
