// The mapping of a task to an iCalendar VTODO and back, without a database:
// text that must survive escaping and line folding, the forms of a due date,
// the states of a to-do, and the properties Ulmora does not map, which an
// edit here must leave as they were.

#include "ical/tasks_ical.h"

#include <QtTest>
#include <ctime>

namespace {

const QString kNowUtc = QStringLiteral("2026-03-01 07:00:00");
const QString kNowLocal = QStringLiteral("2026-03-01 08:00:00");

QByteArray Calendar(const QByteArray& aBody)
{
    QByteArray text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//Test//EN\r\n" + aBody +
                      "END:VCALENDAR\r\n";
    return text.replace("\r\n", "\n").replace("\n", "\r\n");
}

QByteArray Todo(const QByteArray& aProperties)
{
    return "BEGIN:VTODO\nUID:test-1@example.org\nDTSTAMP:20260301T070000Z\nSUMMARY:Task\n" +
           aProperties + "END:VTODO\n";
}

// The one task of aText; fails the test when there is not exactly one.
TIcalRead ReadOne(const QByteArray& aText)
{
    std::vector<TIcalRead> reads;
    int others = 0;
    QString error;
    const bool ok = IcsToTasks(aText, kNowLocal, reads, others, error);
    if (!ok || reads.size() != 1) {
        qWarning("read: %s, %d to-dos", qPrintable(error), int(reads.size()));
        return TIcalRead{{}, QStringLiteral("<no single to-do>"), {}};
    }
    return reads.front();
}

// The unfolded content lines of a calendar text.
QStringList Lines(const QByteArray& aText)
{
    QByteArray text = aText;
    text.replace("\r\n ", "").replace("\r\n\t", "");
    QStringList lines;
    for (const QByteArray& line : text.split('\n')) {
        const QByteArray trimmed = line.endsWith('\r') ? line.chopped(1) : line;
        if (!trimmed.isEmpty())
            lines << QString::fromUtf8(trimmed);
    }
    return lines;
}

QString LineOf(const QByteArray& aText, const QString& aName)
{
    for (const QString& line : Lines(aText)) {
        if (line.startsWith(aName + QLatin1Char(':')) || line.startsWith(aName + QLatin1Char(';')))
            return line;
    }
    return QString();
}

} // namespace

class TestIcal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // A zone with summer time, so that the conversions cross its changes
        // (2026-03-29 and 2026-10-25).
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    void textRoundTrip_data();
    void textRoundTrip();
    void folding();
    void dueRead_data();
    void dueRead();
    void dueWrittenInUtc_data();
    void dueWrittenInUtc();
    void status_data();
    void status();
    void createdAndUid();
    void keptPropertiesSurviveEdit();
    void unchangedFormsKept_data();
    void unchangedFormsKept();
    void reopenAndFinish();
    void refusals_data();
    void refusals();
    void notIcalendar_data();
    void notIcalendar();
    void severalCalendarsAndOthers();
    void joinSharesTimeZones();
};

void TestIcal::textRoundTrip_data()
{
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("note");
    QTest::addColumn<QStringList>("tags");
    QTest::newRow("plain") << "Call Anna"
                           << "" << QStringList();
    QTest::newRow("separators") << "Milk, eggs; bread\\ and \"more\""
                                << "a,b;c\\d\nsecond line\n\nafter a blank line"
                                << QStringList{QStringLiteral("Home, Garden"),
                                               QStringLiteral("A;B")};
    QTest::newRow("non-ascii") << "Grüße an Zoë — Ελλάδα, Москва"
                               << "Über\nñandú" << QStringList{QStringLiteral("Büro")};
    QTest::newRow("non-bmp") << "Party 🎉 𝄞 music"
                             << "Emoji 🥛\n𠜎 ideograph"
                             << QStringList{QStringLiteral("🎉 fun")};
    QTest::newRow("crlf in note") << "Note with CRLF"
                                  << "one\r\ntwo" << QStringList();
}

void TestIcal::textRoundTrip()
{
    QFETCH(QString, summary);
    QFETCH(QString, note);
    QFETCH(QStringList, tags);
    TIcalTask task;
    task.uid = QStringLiteral("AbcdefghijKLMNOP");
    task.summary = summary;
    task.note = note;
    task.tags = tags;
    const QByteArray text = TaskToIcs(task, kNowUtc);
    const TIcalRead read = ReadOne(text);
    QVERIFY2(read.refusal.isEmpty(), qPrintable(read.refusal));
    QCOMPARE(read.task.summary, summary);
    // A bare CR cannot be told from a line end in iCalendar text: the note
    // comes back with LF line ends.
    QCOMPARE(read.task.note, QString(note).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QCOMPARE(read.task.tags, tags);
    QCOMPARE(read.task.uid, task.uid);
}

void TestIcal::folding()
{
    TIcalTask task;
    task.uid = QStringLiteral("AbcdefghijKLMNOP");
    // Long enough to be folded, with multi-byte characters all along so that
    // a fold inside a character would show.
    // (libical drops blanks at the end of a value, so the text ends in a letter.)
    task.summary = QString(QStringLiteral("Zoë 🎉 ")).repeated(40) + QStringLiteral("end");
    const QByteArray text = TaskToIcs(task, kNowUtc);
    for (const QByteArray& line : text.split('\n'))
        QVERIFY2(line.chopped(line.endsWith('\r') ? 1 : 0).size() <= 75, line.constData());
    // Every folded piece is valid UTF-8 on its own.
    for (const QByteArray& line : text.split('\n')) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString decoded = decoder(line);
        QVERIFY2(!decoder.hasError(), line.constData());
        Q_UNUSED(decoded);
    }
    QCOMPARE(ReadOne(text).task.summary, task.summary);
}

void TestIcal::dueRead_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("due");
    const QByteArray custom = "BEGIN:VTIMEZONE\nTZID:Custom/Plus0530\nBEGIN:STANDARD\n"
                              "DTSTART:19700101T000000\nTZOFFSETFROM:+0530\nTZOFFSETTO:+0530\n"
                              "TZNAME:X\nEND:STANDARD\nEND:VTIMEZONE\n";
    const QByteArray newYork =
        "BEGIN:VTIMEZONE\nTZID:America/New_York\nBEGIN:DAYLIGHT\nDTSTART:20070311T020000\n"
        "RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=2SU\nTZOFFSETFROM:-0500\nTZOFFSETTO:-0400\n"
        "TZNAME:EDT\nEND:DAYLIGHT\nBEGIN:STANDARD\nDTSTART:20071104T020000\n"
        "RRULE:FREQ=YEARLY;BYMONTH=11;BYDAY=1SU\nTZOFFSETFROM:-0400\nTZOFFSETTO:-0500\n"
        "TZNAME:EST\nEND:STANDARD\nEND:VTIMEZONE\n";
    QTest::newRow("utc before summer time")
        << Todo("DUE:20260328T120000Z\n") << "2026-03-28 13:00:00";
    QTest::newRow("utc after summer time")
        << Todo("DUE:20260330T120000Z\n") << "2026-03-30 14:00:00";
    QTest::newRow("utc first 02:30 of the autumn change")
        << Todo("DUE:20261025T003000Z\n") << "2026-10-25 02:30:00";
    QTest::newRow("utc after the autumn change")
        << Todo("DUE:20261025T023000Z\n") << "2026-10-25 03:30:00";
    QTest::newRow("zone of the file")
        << custom + Todo("DUE;TZID=Custom/Plus0530:20260330T120000\n") << "2026-03-30 08:30:00";
    QTest::newRow("zone of the file with its rules")
        << newYork + Todo("DUE;TZID=America/New_York:20260309T080000\n") << "2026-03-09 13:00:00";
    QTest::newRow("known zone without VTIMEZONE")
        << Todo("DUE;TZID=Asia/Tokyo:20260330T210000\n") << "2026-03-30 14:00:00";
    QTest::newRow("floating") << Todo("DUE:20260330T090000\n") << "2026-03-30 09:00:00";
    QTest::newRow("date only") << Todo("DUE;VALUE=DATE:20260329\n") << "2026-03-29 00:00:00";
    QTest::newRow("start and duration")
        << Todo("DTSTART:20260330T100000Z\nDURATION:PT2H\n") << "2026-03-30 14:00:00";
    QTest::newRow("none") << Todo("") << "";
}

void TestIcal::dueRead()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, due);
    const TIcalRead read = ReadOne(Calendar(body));
    QVERIFY2(read.refusal.isEmpty(), qPrintable(read.refusal));
    QCOMPARE(read.task.due, due);
}

void TestIcal::dueWrittenInUtc_data()
{
    QTest::addColumn<QString>("local");
    QTest::addColumn<QString>("line");
    QTest::newRow("winter") << "2026-03-28 13:00:00"
                            << "DUE:20260328T120000Z";
    QTest::newRow("summer") << "2026-03-30 14:00:00"
                            << "DUE:20260330T120000Z";
    QTest::newRow("midnight") << "2026-07-01 00:00:00"
                              << "DUE:20260630T220000Z";
}

void TestIcal::dueWrittenInUtc()
{
    QFETCH(QString, local);
    QFETCH(QString, line);
    TIcalTask task;
    task.uid = QStringLiteral("AbcdefghijKLMNOP");
    task.summary = QStringLiteral("Due");
    task.due = local;
    const QByteArray text = TaskToIcs(task, kNowUtc);
    QCOMPARE(LineOf(text, QStringLiteral("DUE")), line);
    QCOMPARE(ReadOne(text).task.due, local);
}

void TestIcal::status_data()
{
    QTest::addColumn<QByteArray>("properties");
    QTest::addColumn<QString>("finished");
    QTest::newRow("completed with time")
        << QByteArray("STATUS:COMPLETED\nCOMPLETED:20260301T100000Z\n") << "2026-03-01 11:00:00";
    QTest::newRow("completed without time") << QByteArray("STATUS:COMPLETED\n") << kNowLocal;
    QTest::newRow("completed time alone")
        << QByteArray("COMPLETED:20260301T100000Z\n") << "2026-03-01 11:00:00";
    QTest::newRow("cancelled") << QByteArray("STATUS:CANCELLED\n") << kNowLocal;
    QTest::newRow("needs action") << QByteArray("STATUS:NEEDS-ACTION\n") << "";
    QTest::newRow("in process") << QByteArray("STATUS:IN-PROCESS\nPERCENT-COMPLETE:40\n") << "";
    QTest::newRow("no status") << QByteArray() << "";
}

void TestIcal::status()
{
    QFETCH(QByteArray, properties);
    QFETCH(QString, finished);
    const TIcalRead read = ReadOne(Calendar(Todo(properties)));
    QVERIFY2(read.refusal.isEmpty(), qPrintable(read.refusal));
    QCOMPARE(read.task.finished, finished);
}

void TestIcal::createdAndUid()
{
    TIcalTask task;
    task.uid = QStringLiteral("AbcdefghijKLMNOP");
    task.summary = QStringLiteral("Made here");
    task.created = QStringLiteral("2026-02-01 09:30:00");
    task.finished = QStringLiteral("2026-03-02 18:45:00");
    const QByteArray text = TaskToIcs(task, kNowUtc);
    QCOMPARE(LineOf(text, QStringLiteral("CREATED")), QStringLiteral("CREATED:20260201T093000Z"));
    QCOMPARE(LineOf(text, QStringLiteral("COMPLETED")),
             QStringLiteral("COMPLETED:20260302T174500Z"));
    QCOMPARE(LineOf(text, QStringLiteral("STATUS")), QStringLiteral("STATUS:COMPLETED"));
    QCOMPARE(LineOf(text, QStringLiteral("UID")), QStringLiteral("UID:AbcdefghijKLMNOP"));
    QCOMPARE(LineOf(text, QStringLiteral("DTSTAMP")), QStringLiteral("DTSTAMP:20260301T070000Z"));
    QCOMPARE(LineOf(text, QStringLiteral("PRODID")),
             QStringLiteral("PRODID:") + QLatin1String(kIcalProductId));
    QCOMPARE(LineOf(text, QStringLiteral("VERSION")), QStringLiteral("VERSION:2.0"));
    const TIcalRead read = ReadOne(text);
    QCOMPARE(read.task.created, task.created);
    QCOMPARE(read.task.finished, task.finished);
}

void TestIcal::keptPropertiesSurviveEdit()
{
    const QByteArray zone = "BEGIN:VTIMEZONE\nTZID:Custom/Plus0530\nBEGIN:STANDARD\n"
                            "DTSTART:19700101T000000\nTZOFFSETFROM:+0530\nTZOFFSETTO:+0530\n"
                            "TZNAME:X\nEND:STANDARD\nEND:VTIMEZONE\n";
    const QByteArray unknown =
        "PRIORITY:1\nRRULE:FREQ=WEEKLY;BYDAY=MO\nRELATED-TO;RELTYPE=PARENT:parent@example.org\n"
        "X-OTHER-CLIENT;X-PARAM=1:some value\\, "
        "kept\nDTSTART;TZID=Custom/Plus0530:20260301T090000\n"
        "BEGIN:VALARM\nACTION:DISPLAY\nDESCRIPTION:Reminder\nTRIGGER:-PT15M\nEND:VALARM\n";
    const QByteArray source = Calendar(
        zone + Todo("DESCRIPTION:Old note\nDUE:20260330T120000Z\nCATEGORIES:Old\n" + unknown));
    TIcalTask task = ReadOne(source).task;
    QVERIFY(!task.kept.isEmpty());
    const QStringList before = Lines(task.kept);

    task.summary = QStringLiteral("New summary");
    task.note = QStringLiteral("New note");
    task.due = QStringLiteral("2026-04-02 10:00:00");
    task.finished = QStringLiteral("2026-04-01 12:00:00");
    task.tags = QStringList{QStringLiteral("New"), QStringLiteral("Other")};
    const QByteArray written = TaskToIcs(task, kNowUtc);
    const QStringList after = Lines(written);

    // Every line outside the mapped properties is there as it was.
    static const QStringList kMapped = {
        QStringLiteral("SUMMARY"), QStringLiteral("DESCRIPTION"),   QStringLiteral("DUE"),
        QStringLiteral("STATUS"),  QStringLiteral("COMPLETED"),     QStringLiteral("CATEGORIES"),
        QStringLiteral("DTSTAMP"), QStringLiteral("LAST-MODIFIED"), QStringLiteral("PRODID")};
    for (const QString& line : before) {
        const QString name = line.section(QRegularExpression(QStringLiteral("[:;]")), 0, 0);
        if (kMapped.contains(name) && !line.startsWith(QLatin1String("DESCRIPTION:Reminder")))
            continue;
        QVERIFY2(after.contains(line), qPrintable(line));
    }
    QVERIFY(after.contains(QStringLiteral("SUMMARY:New summary")));
    QVERIFY(after.contains(QStringLiteral("DUE:20260402T080000Z")));
    QVERIFY(after.contains(QStringLiteral("STATUS:COMPLETED")));
    QVERIFY(after.contains(QStringLiteral("COMPLETED:20260401T100000Z")));
    QVERIFY(after.contains(QStringLiteral("LAST-MODIFIED:20260301T070000Z")));
    QVERIFY(!after.contains(QStringLiteral("CATEGORIES:Old")));
    QVERIFY(!written.contains("Old note"));
    // The time zone that DTSTART names goes with the object.
    QVERIFY(after.contains(QStringLiteral("TZID:Custom/Plus0530")));
    const TIcalRead again = ReadOne(written);
    QCOMPARE(again.task.tags, task.tags);
    QCOMPARE(again.task.due, task.due);
}

void TestIcal::unchangedFormsKept_data()
{
    QTest::addColumn<QByteArray>("properties");
    QTest::addColumn<QString>("line");
    QTest::newRow("date-only due")
        << QByteArray("DUE;VALUE=DATE:20260329\n") << "DUE;VALUE=DATE:20260329";
    QTest::newRow("due in a zone") << QByteArray("DUE;TZID=Asia/Tokyo:20260330T210000\n")
                                   << "DUE;TZID=Asia/Tokyo:20260330T210000";
    QTest::newRow("cancelled") << QByteArray("STATUS:CANCELLED\n") << "STATUS:CANCELLED";
    QTest::newRow("language of the summary") << QByteArray() << "SUMMARY;LANGUAGE=de:Aufgabe";
}

void TestIcal::unchangedFormsKept()
{
    QFETCH(QByteArray, properties);
    QFETCH(QString, line);
    QByteArray todo = Todo(properties);
    todo.replace("SUMMARY:Task", "SUMMARY;LANGUAGE=de:Aufgabe");
    TIcalTask task = ReadOne(Calendar(todo)).task;
    // Nothing mapped changed here: each mapped property keeps its form.
    const QByteArray written = TaskToIcs(task, kNowUtc);
    QVERIFY2(Lines(written).contains(line), written.constData());
    QVERIFY(!written.contains("LAST-MODIFIED"));
}

void TestIcal::reopenAndFinish()
{
    TIcalTask task = ReadOne(Calendar(Todo("STATUS:COMPLETED\nCOMPLETED:20260301T100000Z\n"
                                           "PERCENT-COMPLETE:100\n")))
                         .task;
    task.finished.clear();
    QByteArray written = TaskToIcs(task, kNowUtc);
    QVERIFY(Lines(written).contains(QStringLiteral("STATUS:NEEDS-ACTION")));
    QVERIFY(!written.contains("COMPLETED:"));
    QVERIFY(!written.contains("PERCENT-COMPLETE"));

    task = ReadOne(Calendar(Todo("STATUS:IN-PROCESS\nPERCENT-COMPLETE:40\n"))).task;
    task.finished = QStringLiteral("2026-03-05 10:00:00");
    written = TaskToIcs(task, kNowUtc);
    QVERIFY(Lines(written).contains(QStringLiteral("STATUS:COMPLETED")));
    QVERIFY(Lines(written).contains(QStringLiteral("PERCENT-COMPLETE:100")));
    QVERIFY(!written.contains("IN-PROCESS"));
}

void TestIcal::refusals_data()
{
    QTest::addColumn<QByteArray>("todo");
    QTest::addColumn<QString>("reason");
    QTest::newRow("no summary") << QByteArray("BEGIN:VTODO\nUID:x@example.org\nEND:VTODO\n")
                                << "it has no summary";
    QTest::newRow("blank summary")
        << QByteArray("BEGIN:VTODO\nUID:x@example.org\nSUMMARY:   \nEND:VTODO\n")
        << "it has no summary";
    QTest::newRow("bad completed time")
        << Todo("STATUS:COMPLETED\nCOMPLETED:yesterday\n") << "unreadable property";
    QTest::newRow("bad due") << Todo("DUE:tomorrow-ish\n") << "unreadable property";
}

void TestIcal::refusals()
{
    QFETCH(QByteArray, todo);
    QFETCH(QString, reason);
    std::vector<TIcalRead> reads;
    int others = 0;
    QString error;
    QVERIFY(IcsToTasks(Calendar(todo + Todo("")), kNowLocal, reads, others, error));
    QCOMPARE(int(reads.size()), 2);
    QVERIFY2(reads[0].refusal.contains(reason), qPrintable(reads[0].refusal));
    QVERIFY(!reads[0].label.isEmpty());
    // The good one beside it is read.
    QVERIFY(reads[1].refusal.isEmpty());
}

void TestIcal::notIcalendar_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("plain text") << QByteArray("Buy milk\nCall Anna\n");
    QTest::newRow("vcard") << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Anna\r\nEND:VCARD\r\n");
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0", 11);
    QTest::newRow("nul inside") << QByteArray("BEGIN:VCALENDAR\r\n\0END:VCALENDAR\r\n", 33);
}

void TestIcal::notIcalendar()
{
    QFETCH(QByteArray, text);
    std::vector<TIcalRead> reads;
    int others = 0;
    QString error;
    QVERIFY(!IcsToTasks(text, kNowLocal, reads, others, error));
    QCOMPARE(error, QStringLiteral("it is not an iCalendar file"));
    QVERIFY(reads.empty());
}

void TestIcal::severalCalendarsAndOthers()
{
    const QByteArray text =
        Calendar(Todo("") + "BEGIN:VEVENT\nUID:e@example.org\nDTSTAMP:20260301T070000Z\n"
                            "DTSTART:20260301T070000Z\nEND:VEVENT\nBEGIN:VJOURNAL\n"
                            "UID:j@example.org\nDTSTAMP:20260301T070000Z\nEND:VJOURNAL\n") +
        Calendar(Todo("").replace("test-1", "test-2"));
    std::vector<TIcalRead> reads;
    int others = 0;
    QString error;
    QVERIFY(IcsToTasks("\xEF\xBB\xBF\r\n" + text, kNowLocal, reads, others, error));
    QCOMPARE(int(reads.size()), 2);
    QCOMPARE(others, 2);
    QCOMPARE(reads[1].task.uid, QStringLiteral("test-2@example.org"));
}

void TestIcal::joinSharesTimeZones()
{
    const QByteArray zone = "BEGIN:VTIMEZONE\nTZID:Custom/Plus0530\nBEGIN:STANDARD\n"
                            "DTSTART:19700101T000000\nTZOFFSETFROM:+0530\nTZOFFSETTO:+0530\n"
                            "TZNAME:X\nEND:STANDARD\nEND:VTIMEZONE\n";
    const QByteArray first =
        ReadOne(Calendar(zone + Todo("DUE;TZID=Custom/Plus0530:20260330T120000\n"))).task.kept;
    QByteArray other = Todo("DUE;TZID=Custom/Plus0530:20260331T120000\n");
    other.replace("test-1", "test-2");
    const QByteArray second = ReadOne(Calendar(zone + other)).task.kept;
    const QByteArray joined = JoinIcs({first, second});
    QCOMPARE(joined.count("BEGIN:VTIMEZONE"), 1);
    QCOMPARE(joined.count("BEGIN:VTODO"), 2);
    QCOMPARE(joined.count("BEGIN:VCALENDAR"), 1);
    std::vector<TIcalRead> reads;
    int others = 0;
    QString error;
    QVERIFY(IcsToTasks(joined, kNowLocal, reads, others, error));
    QCOMPARE(int(reads.size()), 2);
    QCOMPARE(reads[1].task.due, QStringLiteral("2026-03-31 08:30:00"));
}

QTEST_GUILESS_MAIN(TestIcal)
#include "test_ical.moc"
