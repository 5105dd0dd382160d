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
        QVERIFY(TSyncLocal::Open(QStringLiteral("http://127.0.0.1/cal/"), token));
        TStoredTask task;
        task.taskid = GenerateId();
        task.summary = QStringLiteral("As the sync read it");
        QVERIFY(TtasksStore::SaveTask(task, {}, true));
        std::map<QString, TLocalTask> read;
        QVERIFY(TSyncLocal::ReadTasks(read));
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
        TSyncBatch batch;
        QVERIFY(batch.Add(write));
        QVERIFY(batch.Flush());
        QCOMPARE(batch.Skipped(), 1);
        QVERIFY(batch.Written().isEmpty());
        TStoredTask stored;
        QVERIFY(TtasksStore::ReadTask(task.taskid, stored));
        QCOMPARE(stored.summary, QStringLiteral("Edited in the window meanwhile"));
        std::vector<TSyncItem> items;
        QVERIFY(TSyncLocal::ReadItems(items));
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
            result = SyncOnce(config);
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        worker.join();
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.downloaded, 0);
        QCOMPARE(multigets, 0);
        std::map<QString, TLocalTask> tasks;
        QVERIFY(TSyncLocal::ReadTasks(tasks));
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
        QTest::newRow("malformed iCalendar")
            << "ical"
            << "the server's item /cal/bad.ics is not a valid iCalendar object: it is not a "
               "complete iCalendar file";
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
        QVERIFY(TSyncLocal::ReadTasks(before));

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
        config.user = QStringLiteral("user");
        config.password = QStringLiteral("password");
        config.timeoutMs = 1500;
        config.maxReplyBytes = 1024 * 1024;
        std::atomic<bool> done{false};
        TSyncResult result;
        std::thread worker([&] {
            result = SyncOnce(config);
            done = true;
        });
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        worker.join();
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(error), qPrintable(result.error));
        std::map<QString, TLocalTask> after;
        QVERIFY(TSyncLocal::ReadTasks(after));
        QCOMPARE(after.size(), before.size());
        QCOMPARE(after.begin()->second.fields, before.begin()->second.fields);
        ReleaseTasksDB();
    }
};

QTEST_GUILESS_MAIN(TestCalDav)
#include "test_caldav.moc"
