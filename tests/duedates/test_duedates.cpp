// The due-date rules: the general choices through the clock, the night window,
// the granularities, out-of-range settings, the editor's date row, the text of
// a due date-time, and the move of several tasks in a real database file.

#include "due_test_env.h"

#include "due/tasks_duedates.h"
#include "store/tasks_db.h"
#include "store/tasks_store.h"
#include "store/zdb.h"

#include <QtTest>
#include <memory>

namespace {

// Runs a statement and returns the first column of its first row as text;
// "<null>" for NULL and "<failed>" when the statement fails.
QString Scalar(const QString& aSQL)
{
    auto query = GetTasksDB()->NewQuery();
    if (!GetTasksDB()->Query(aSQL, query.get()) || query->Eof())
        return QStringLiteral("<failed>");
    const TZField field = query->FieldByName(query->FieldNames().value(0));
    return field.IsNull() ? QStringLiteral("<null>") : field.AsString();
}

QString StoredDue(const QString& aId)
{
    auto query = GetTasksDB()->NewQuery();
    query->Params().Clear();
    query->Params()
        .CreateParam(TZFieldType::ftString, QStringLiteral("taskid"), TZParamType::ptInput)
        .SetAsString(aId);
    if (!GetTasksDB()->Query(QStringLiteral("select duedt from tasks where taskid=:taskid"),
                             query.get()) ||
        query->Eof())
        return QStringLiteral("<missing>");
    const TZField field = query->FieldByName(QStringLiteral("duedt"));
    return field.IsNull() ? QStringLiteral("<null>") : field.AsString();
}

bool InsertTask(const QString& aId, const QString& aDue)
{
    auto query = GetTasksDB()->NewQuery();
    query->Params().Clear();
    query->Params()
        .CreateParam(TZFieldType::ftString, QStringLiteral("taskid"), TZParamType::ptInput)
        .SetAsString(aId);
    TZParam& due = query->Params().CreateParam(TZFieldType::ftString, QStringLiteral("duedt"),
                                               TZParamType::ptInput);
    if (aDue.isEmpty())
        due.Clear();
    else
        due.SetAsString(aDue);
    return GetTasksDB()->Query(
        QStringLiteral("insert into tasks (taskid, summary, createddt, duedt) values "
                       "(:taskid, 'task', datetime(\"now\"), :duedt)"),
        query.get());
}

TDateTime Value(const QDateTime& aValue)
{
    return aValue.isValid() ? DateTimeFromQDateTime(aValue) : 0;
}

} // namespace

class TestDueDates : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TDueTestEnv> FEnv;

private Q_SLOTS:
    void init() { FEnv = std::make_unique<TDueTestEnv>(); }
    void cleanup() { FEnv.reset(); }

    void dueDateFromHours_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("hours");
        QTest::addColumn<int>("granularity");
        QTest::addColumn<int>("nightFrom");
        QTest::addColumn<int>("nightTo");
        // An invalid expectation stands for 0, no due date-time.
        QTest::addColumn<QDateTime>("expected");

        // The worked examples with the defaults: night from 22 to 7, step 10.
        QTest::newRow("14:03:27 Hour rounds 15:03 down")
            << At(0, 14, 3, 27) << 1 << 10 << 22 << 7 << At(0, 15, 0);
        QTest::newRow("14:06 Hour rounds 15:06 up")
            << At(0, 14, 6) << 1 << 10 << 22 << 7 << At(0, 15, 10);
        QTest::newRow("21:30 Hour falls into the night")
            << At(0, 21, 30) << 1 << 10 << 22 << 7 << At(1, 7, 30);
        QTest::newRow("23:00 4 Hours, night under way")
            << At(0, 23, 0) << 4 << 10 << 22 << 7 << At(1, 12, 0);
        QTest::newRow("03:00 Hour, night began the evening before")
            << At(0, 3, 0) << 1 << 10 << 22 << 7 << At(0, 13, 0);
        QTest::newRow("10:00 Tomorrow") << At(0, 10, 0) << 24 << 10 << 22 << 7 << At(1, 10, 0);
        QTest::newRow("23:30 Tomorrow after the night's end")
            << At(0, 23, 30) << 24 << 10 << 22 << 7 << At(1, 23, 30);
        QTest::newRow("06:30 Tomorrow, window of the night under way")
            << At(0, 6, 30) << 24 << 10 << 22 << 7 << At(1, 6, 30);

        // The other listed cases.
        QTest::newRow("step 60, 14:29:59 Hour")
            << At(0, 14, 29, 59) << 1 << 60 << 22 << 7 << At(0, 15, 0);
        QTest::newRow("step 60, 14:30:00 Hour")
            << At(0, 14, 30) << 1 << 60 << 22 << 7 << At(0, 16, 0);
        QTest::newRow("17:59 4 Hours rounds into the night")
            << At(0, 17, 59) << 4 << 10 << 22 << 7 << At(1, 7, 0);
        QTest::newRow("17:50 4 Hours stays")
            << At(0, 17, 50) << 4 << 10 << 22 << 7 << At(0, 21, 50);
        QTest::newRow("Unplanned") << At(0, 14, 0) << -1 << 10 << 22 << 7 << QDateTime();
        QTest::newRow("any negative hours") << At(0, 14, 0) << -24 << 10 << 22 << 7 << QDateTime();

        // Granularities.
        QTest::newRow("step 15, remainder 7 rounds down")
            << At(0, 14, 7, 59) << 1 << 15 << 22 << 7 << At(0, 15, 0);
        QTest::newRow("step 15, remainder 8 rounds up")
            << At(0, 14, 8) << 1 << 15 << 22 << 7 << At(0, 15, 15);
        QTest::newRow("step 10, remainder 4 rounds down")
            << At(0, 14, 4, 59, 999) << 1 << 10 << 22 << 7 << At(0, 15, 0);
        QTest::newRow("step 10, remainder 5 rounds up")
            << At(0, 14, 5) << 1 << 10 << 22 << 7 << At(0, 15, 10);
        QTest::newRow("step 1 cuts the seconds")
            << At(0, 14, 3, 59) << 1 << 1 << 22 << 7 << At(0, 15, 3);
        QTest::newRow("step 1440 rounds to midnight, then the night")
            << At(0, 10, 0) << 4 << 1440 << 22 << 7 << At(1, 9, 0);
        // 22:30 is a multiple of 7 minutes from the epoch; after the move 07:30
        // is not, and stays as it is.
        QTest::newRow("step 7, not rounded again after the move")
            << At(0, 21, 30) << 1 << 7 << 22 << 7 << At(1, 7, 30);

        // Edges of the night window.
        QTest::newRow("due at the night's start is moved")
            << At(0, 21, 0) << 1 << 10 << 22 << 7 << At(1, 7, 0);
        QTest::newRow("due at the night's end stays")
            << At(0, 6, 0) << 1 << 10 << 22 << 7 << At(0, 7, 0);
        QTest::newRow("at the night's end a new window begins")
            << At(0, 7, 0) << 1 << 10 << 22 << 7 << At(0, 8, 0);
        QTest::newRow("a later night is not considered")
            << At(0, 21, 50) << 24 << 10 << 22 << 7 << At(1, 21, 50);
        QTest::newRow("across the turn of the year")
            << QDateTime(QDate(2012, 12, 31), QTime(23, 0)) << 4 << 10 << 22 << 7
            << QDateTime(QDate(2013, 1, 1), QTime(12, 0));
        QTest::newRow("other night hours, 20 to 5")
            << At(0, 19, 30) << 1 << 10 << 20 << 5 << At(1, 5, 30);

        // A night that does not cross midnight lies within one day.
        QTest::newRow("night 0 to 7, day time is not moved")
            << At(0, 14, 0) << 1 << 10 << 0 << 7 << At(0, 15, 0);
        QTest::newRow("night 0 to 7, under way")
            << At(0, 3, 0) << 1 << 10 << 0 << 7 << At(0, 11, 0);
        QTest::newRow("night 0 to 7, the next one")
            << At(0, 23, 30) << 4 << 10 << 0 << 7 << At(1, 10, 30);
        QTest::newRow("night 1 to 5, Tomorrow at noon")
            << At(0, 12, 0) << 24 << 10 << 1 << 5 << At(1, 12, 0);
        QTest::newRow("equal night hours, no night")
            << At(0, 21, 30) << 1 << 10 << 22 << 22 << At(0, 22, 30);

        // Values out of range, as only a hand-edited file holds them, count as
        // the defaults.
        QTest::newRow("granularity 0 counts as 10")
            << At(0, 14, 6) << 1 << 0 << 22 << 7 << At(0, 15, 10);
        QTest::newRow("negative granularity counts as 10")
            << At(0, 14, 6) << 1 << -15 << 22 << 7 << At(0, 15, 10);
        QTest::newRow("granularity over a day counts as 10")
            << At(0, 14, 6) << 1 << 1441 << 22 << 7 << At(0, 15, 10);
        QTest::newRow("night hours out of range count as 22 to 7")
            << At(0, 21, 30) << 1 << 10 << 24 << -1 << At(1, 7, 30);
        QTest::newRow("night end out of range counts as 7")
            << At(0, 3, 0) << 1 << 10 << 22 << 99 << At(0, 13, 0);
    }
    void dueDateFromHours()
    {
        QFETCH(QDateTime, now);
        QFETCH(int, hours);
        QFETCH(int, granularity);
        QFETCH(int, nightFrom);
        QFETCH(int, nightTo);
        QFETCH(QDateTime, expected);
        time_granularity = granularity;
        night_hours_from = nightFrom;
        night_hours_to = nightTo;
        SetFixedNow(now);
        const TDateTime due = DueDateFromHours(hours);
        QCOMPARE(QDateTimeFromDateTime(due), QDateTimeFromDateTime(Value(expected)));
        QCOMPARE(due, Value(expected));
        QCOMPARE(DueDateFromHoursAt(hours, now), due);
    }

    // An exact minute must count as itself on every day: the day count's
    // binary fraction would otherwise put 15:30 a hair below it on some days.
    void exactMinutesOnManyDays()
    {
        for (int step : {1, 60}) {
            time_granularity = step;
            for (QDate day(1990, 1, 3); day.year() < 2060; day = day.addDays(97)) {
                for (int minute = 8 * 60; minute < 20 * 60 + 30; ++minute) {
                    const QDateTime now(day, QTime(minute / 60, minute % 60));
                    const int due = minute + 60;
                    const int expected =
                        step == 1 ? due : (due % 60 < 30 ? due - due % 60 : due - due % 60 + 60);
                    const QDateTime want(day, QTime(0, 0).addSecs(expected * 60));
                    SetFixedNow(now);
                    const TDateTime got = DueDateFromHours(1);
                    if (got != DateTimeFromQDateTime(want))
                        QFAIL(qPrintable(
                            QStringLiteral("step %1 at %2 gave %3")
                                .arg(step)
                                .arg(now.toString(Qt::ISODate), DateTimeToSqlText(got))));
                }
            }
        }
    }

    void choiceHours_data()
    {
        QTest::addColumn<TDueChoice>("choice");
        QTest::addColumn<int>("hours");
        QTest::newRow("Unplanned") << TDueChoice::Unplanned << -1;
        QTest::newRow("Hour, Immediately") << TDueChoice::Hour << 1;
        QTest::newRow("4 Hours, Today") << TDueChoice::FourHours << 4;
        QTest::newRow("Tomorrow") << TDueChoice::Tomorrow << 24;
        QTest::newRow("Exact is no general choice") << TDueChoice::Exact << -1;
        QTest::newRow("a number beyond the choices") << static_cast<TDueChoice>(5) << -1;
    }
    void choiceHours()
    {
        QFETCH(TDueChoice, choice);
        QFETCH(int, hours);
        QCOMPARE(ChoiceHours(choice), hours);
    }

    // The list menu's date items.
    void dueDateOfChoice_data()
    {
        QTest::addColumn<TDueChoice>("choice");
        QTest::addColumn<QDateTime>("expected");
        QTest::newRow("Immediately") << TDueChoice::Hour << At(0, 21, 50);
        QTest::newRow("Today") << TDueChoice::FourHours << At(1, 9, 50);
        QTest::newRow("Tomorrow") << TDueChoice::Tomorrow << At(1, 20, 50);
        QTest::newRow("Unplanned") << TDueChoice::Unplanned << QDateTime();
        QTest::newRow("Exact") << TDueChoice::Exact << QDateTime();
    }
    void dueDateOfChoice()
    {
        QFETCH(TDueChoice, choice);
        QFETCH(QDateTime, expected);
        // "Today" falls into the night: 00:50 becomes 09:50.
        SetFixedNow(At(0, 20, 46, 10));
        QCOMPARE(DueDateOfChoice(choice), Value(expected));
    }

    // default_duedatetime keeps its number in the file; the program reads it as
    // a choice, a number out of range as the default.
    void defaultChoiceFromTheSetting_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<TDueChoice>("choice");
        QTest::newRow("0") << 0 << TDueChoice::Unplanned;
        QTest::newRow("1") << 1 << TDueChoice::Hour;
        QTest::newRow("2") << 2 << TDueChoice::FourHours;
        QTest::newRow("3") << 3 << TDueChoice::Tomorrow;
        QTest::newRow("4") << 4 << TDueChoice::Exact;
        QTest::newRow("5") << 5 << TDueChoice::Unplanned;
        QTest::newRow("-1") << -1 << TDueChoice::Unplanned;
    }
    void defaultChoiceFromTheSetting()
    {
        QFETCH(int, stored);
        QFETCH(TDueChoice, choice);
        default_duedatetime = stored;
        QCOMPARE(DefaultDueDateTime(), choice);
    }

    void editorDueDate_data()
    {
        QTest::addColumn<bool>("general");
        QTest::addColumn<QString>("checked");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QDateTime>("expected");
        const QDate date(2012, 9, 1);
        const QTime time(16, 45, 31);
        QTest::newRow("exact with seconds") << false << "" << date << time << QDateTime(date, time);
        QTest::newRow("exact ignores the choices")
            << false << "hour" << date << time << QDateTime(date, time);
        QTest::newRow("exact at midnight")
            << false << "" << date << QTime(0, 0) << QDateTime(date, QTime(0, 0));
        QTest::newRow("exact without a date") << false << "" << QDate() << time << QDateTime();
        QTest::newRow("general Unplanned") << true << "unplanned" << date << time << QDateTime();
        QTest::newRow("general Hour") << true << "hour" << date << time << At(0, 15, 10);
        QTest::newRow("general 4 Hours") << true << "fourHours" << date << time << At(0, 18, 10);
        QTest::newRow("general Tomorrow") << true << "tomorrow" << date << time << At(1, 14, 10);
        QTest::newRow("general, none checked") << true << "" << date << time << QDateTime();
        QTest::newRow("general, the first checked counts")
            << true << "unplanned,hour" << date << time << QDateTime();
        QTest::newRow("general, Hour before Tomorrow")
            << true << "tomorrow,hour" << date << time << At(0, 15, 10);
    }
    void editorDueDate()
    {
        QFETCH(bool, general);
        QFETCH(QString, checked);
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        QFETCH(QDateTime, expected);
        SetFixedNow(At(0, 14, 6));
        const QStringList ticks = checked.split(u',', Qt::SkipEmptyParts);
        TEditorDateRow row;
        row.general = general;
        row.unplanned = ticks.contains(QStringLiteral("unplanned"));
        row.hour = ticks.contains(QStringLiteral("hour"));
        row.fourHours = ticks.contains(QStringLiteral("fourHours"));
        row.tomorrow = ticks.contains(QStringLiteral("tomorrow"));
        row.date = date;
        row.time = time;
        QCOMPARE(EditorDueDateOf(row), Value(expected));
    }

    // The picker's own limits give finite values that are stored as text and
    // read back unchanged, and shown without trouble.
    void exactDateAtPickerLimits_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::newRow("earliest") << QDate(1752, 9, 14) << QTime(0, 0);
        QTest::newRow("earliest, late in the day") << QDate(1752, 9, 14) << QTime(23, 59, 59);
        QTest::newRow("before the epoch") << QDate(1899, 12, 29) << QTime(6, 0);
        QTest::newRow("latest") << QDate(9999, 12, 31) << QTime(23, 59, 59);
    }
    void exactDateAtPickerLimits()
    {
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        const TDateTime due = ExactDueDate(date, time);
        QVERIFY(due != 0);
        QCOMPARE(QDateTimeFromDateTime(due), QDateTime(date, time));
        QCOMPARE(SqlTextToDateTime(DateTimeToSqlText(due)), due);
        QVERIFY(DueDateText(due).contains(QLocale().toString(date, ShortDateFormat(QLocale()))));
    }

    void dueDateText_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QDateTime>("due");
        QTest::addColumn<bool>("withTime");
        QTest::addColumn<QString>("timeText");
        QTest::newRow("unplanned") << "C" << QDateTime() << false << "";
        QTest::newRow("afternoon") << "C" << At(0, 15, 10) << true << "15:10:00";
        QTest::newRow("seconds shown") << "C" << At(0, 9, 5, 7) << true << "09:05:07";
        QTest::newRow("midnight shows the date alone") << "C" << At(0, 0, 0) << false << "";
        QTest::newRow("a second after midnight") << "C" << At(0, 0, 0, 1) << true << "00:00:01";
        QTest::newRow("a millisecond after midnight")
            << "C" << At(0, 0, 0, 0, 1) << true << "00:00:00";
        QTest::newRow("German") << "de_DE" << At(0, 15, 10) << true << "15:10:00";
        QTest::newRow("German midnight") << "de_DE" << At(0, 0, 0) << false << "";
    }
    void dueDateText()
    {
        QFETCH(QString, locale);
        QFETCH(QDateTime, due);
        QFETCH(bool, withTime);
        QFETCH(QString, timeText);
        QLocale::setDefault(QLocale(locale));
        TStoredTask record;
        record.taskid = QStringLiteral("ABCDEFGHIJKLMNOP");
        record.duedt = Value(due);
        const QString text = DueDateText(record);
        QCOMPARE(DueDateText(record.duedt), text);
        if (!due.isValid()) {
            QCOMPARE(text, QStringLiteral("unplanned"));
            return;
        }
        const QString date = QLocale(locale).toString(due.date(), ShortDateFormat(QLocale(locale)));
        QCOMPARE(text, withTime ? date + u' ' + timeText : date);
    }

    // Every locale shows the year of a due date in four digits, whatever its
    // own short format says ("08.05.12" would not tell 1912 from 2012).
    void dueDatesShowFourDigitYears_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");
        QTest::newRow("German") << "de_DE" << QStringLiteral("08.05.2012 15:10:00");
        QTest::newRow("US English") << "en_US" << QStringLiteral("5/8/2012 3:10:00 PM");
        QTest::newRow("British English") << "en_GB" << QStringLiteral("08/05/2012 15:10:00");
        QTest::newRow("French") << "fr_FR" << QStringLiteral("08/05/2012 15:10:00");
        QTest::newRow("Japanese") << "ja_JP" << QStringLiteral("2012/05/08 15時10分00秒");
        QTest::newRow("Dutch") << "nl_NL" << QStringLiteral("08-05-2012 15:10:00");
        QTest::newRow("C") << "C" << QStringLiteral("8 May 2012 15:10:00");
    }
    void dueDatesShowFourDigitYears()
    {
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        QLocale::setDefault(QLocale(locale));
        const QString text = DueDateText(Value(QDateTime(QDate(2012, 5, 8), QTime(15, 10))));
        QLocale::setDefault(QLocale::c());
        QCOMPARE(text, expected);
    }

    void moveDueDates()
    {
        const QStringList ids = {QStringLiteral("AAAAAAAAAAAAAAAA"), QStringLiteral("BBBB"),
                                 QStringLiteral("x\" or \"1\"=\"1")};
        for (const QString& id : ids)
            QVERIFY(InsertTask(id, QString()));
        QVERIFY(InsertTask(QStringLiteral("untouched"), QStringLiteral("2012-01-01 08:00:00")));

        QVERIFY(TtasksStore::MoveDueDates(ids, DateTimeFromQDateTime(At(1, 10, 0, 0))));
        for (const QString& id : ids)
            QCOMPARE(StoredDue(id), QStringLiteral("2012-05-09 10:00:00"));
        QCOMPARE(StoredDue(QStringLiteral("untouched")), QStringLiteral("2012-01-01 08:00:00"));

        // A fraction of a second is not stored.
        QVERIFY(TtasksStore::MoveDueDates(ids.mid(0, 1),
                                          DateTimeFromQDateTime(At(2, 11, 12, 13, 900))));
        QCOMPARE(StoredDue(ids[0]), QStringLiteral("2012-05-10 11:12:13"));

        // Unplanned stores NULL.
        QVERIFY(TtasksStore::MoveDueDates(ids, 0));
        for (const QString& id : ids)
            QCOMPARE(StoredDue(id), QStringLiteral("<null>"));
        QCOMPARE(StoredDue(QStringLiteral("untouched")), QStringLiteral("2012-01-01 08:00:00"));

        // Nothing to move is no failure.
        QVERIFY(TtasksStore::MoveDueDates({}, DateTimeFromQDateTime(At(0, 9, 0))));
        QCOMPARE(Scalar(QStringLiteral("select count(*) from tasks where duedt is null")),
                 QStringLiteral("3"));
    }

    void moveDueDatesGoesOnAfterAFailure()
    {
        const QStringList ids = {QStringLiteral("first"), QStringLiteral("refused"),
                                 QStringLiteral("last")};
        for (const QString& id : ids)
            QVERIFY(InsertTask(id, QStringLiteral("2012-01-01 08:00:00")));
        QVERIFY(GetTasksDB()->Exec(
            QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE ON tasks WHEN old.taskid = "
                           "'refused' BEGIN SELECT RAISE(ABORT, 'refused'); END;")));

        QVERIFY(!TtasksStore::MoveDueDates(ids, DateTimeFromQDateTime(At(3, 12, 0))));
        QCOMPARE(StoredDue(QStringLiteral("first")), QStringLiteral("2012-05-11 12:00:00"));
        QCOMPARE(StoredDue(QStringLiteral("refused")), QStringLiteral("2012-01-01 08:00:00"));
        QCOMPARE(StoredDue(QStringLiteral("last")), QStringLiteral("2012-05-11 12:00:00"));
    }

    // Many ids in a row through the same query: each is bound afresh.
    void moveDueDatesManyIds()
    {
        QStringList ids;
        for (int i = 0; i < 50; ++i) {
            ids << GenerateId();
            QVERIFY(InsertTask(ids.last(), QString()));
        }
        QVERIFY(TtasksStore::MoveDueDates(ids, DateTimeFromQDateTime(At(0, 23, 59, 59))));
        QCOMPARE(Scalar(QStringLiteral("select count(*) from tasks where duedt = "
                                       "'2012-05-08 23:59:59'")),
                 QStringLiteral("50"));
    }
};

QTEST_GUILESS_MAIN(TestDueDates)
#include "test_duedates.moc"
