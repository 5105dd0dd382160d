// The reminder pass with a recording notifier: which tasks are announced and
// when, what the balloon says, and the notifier seam itself.

#include "due_test_env.h"
#include "reminder_test_store.h"

#include "app/tasks_notifier.h"
#include "app/tasks_reminders.h"
#include "due/tasks_duedates.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_errors.h"

#include <QColor>
#include <QGuiApplication>
#include <QHash>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QtTest>
#include <cmath>
#include <limits>
#include <map>
#include <memory>

Q_DECLARE_METATYPE(TtasksNotifierAction)

namespace {

using TKind = TtasksRecordingNotifier::TKind;

TTaskRecord Task(const QString& aId, const QDateTime& aDue, const QString& aSummary = {},
                 const QString& aNote = {})
{
    TTaskRecord record(aId);
    record.summary = aSummary.isNull() ? QStringLiteral("Task ") + aId : aSummary;
    record.note = aNote;
    record.duedt = aDue.isValid() ? DateTimeFromQDateTime(aDue) : 0;
    return record;
}

// A pass at aNow over aRecords; the ids marked unread are returned in order.
QStringList Pass(QList<TTaskRecord>& aRecords, const QDateTime& aNow, ItasksNotifier& aNotifier)
{
    SetFixedNow(aNow);
    QStringList unread;
    CheckReminders(aRecords, aNotifier, [&unread](const QString& aId) { unread << aId; });
    return unread;
}

// Moves the fixed clock on by a few seconds whenever a balloon is shown, to
// see that the pass reads the clock anew for each record.
class TSlowNotifier : public TtasksRecordingNotifier
{
public:
    explicit TSlowNotifier(int aSeconds) : FSeconds(aSeconds) {}
    void ShowBalloon(const QString& aTitle, const QString& aText, int aMSecs) override
    {
        TtasksRecordingNotifier::ShowBalloon(aTitle, aText, aMSecs);
        SetFixedNow(NowDateTime().addSecs(FSeconds));
    }

private:
    int FSeconds;
};

QString Body(const QString& aNote, const QString& aDue)
{
    return QStringLiteral("NOTE:\r\n") + aNote + QStringLiteral("\r\n\r\nDUE DATETIME:\r\n") + aDue;
}

} // namespace

class TestReminders : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TDueTestEnv> FEnv;

private Q_SLOTS:
    void init() { FEnv = std::make_unique<TDueTestEnv>(); }
    void cleanup()
    {
        SetTestNotifier(nullptr);
        FEnv.reset();
    }

    // One task due at 10:00:00 (day 0) and one pass at the given moment.
    void window_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<bool>("announced");
        QTest::newRow("09:58:50, 70 seconds early") << At(0, 9, 58, 50) << false;
        QTest::newRow("09:59:50, 10 seconds early") << At(0, 9, 59, 50) << true;
        QTest::newRow("at the due time") << At(0, 10, 0) << true;
        QTest::newRow("10:01:00.5, 60 seconds after rounding down") << At(0, 10, 1, 0, 500) << true;
        QTest::newRow("10:01:00.999") << At(0, 10, 1, 0, 999) << true;
        QTest::newRow("10:01:01, 61 seconds late") << At(0, 10, 1, 1) << false;
        QTest::newRow("09:58:59.5, 60 seconds early after rounding down")
            << At(0, 9, 58, 59, 500) << true;
        QTest::newRow("09:58:59, 61 seconds early") << At(0, 9, 58, 59) << false;
        QTest::newRow("overdue by hours") << At(0, 13, 0) << false;
        QTest::newRow("the same time a day later") << At(1, 10, 0) << false;
    }
    void window()
    {
        QFETCH(QDateTime, now);
        QFETCH(bool, announced);
        TtasksRecordingNotifier notifier;
        QList<TTaskRecord> records = {Task(QStringLiteral("A"), At(0, 10, 0))};
        const QStringList unread = Pass(records, now, notifier);
        QCOMPARE(records[0].notified, announced);
        QCOMPARE(unread, announced ? QStringList{QStringLiteral("A")} : QStringList());
        QCOMPARE(notifier.SoundCount(), announced ? 1 : 0);
        QCOMPARE(notifier.Balloons().size(), announced ? 1 : 0);
    }

    // The pair of passes a minute apart: the task is announced at the second.
    void passesAMinuteApart()
    {
        TtasksRecordingNotifier notifier;
        QList<TTaskRecord> records = {Task(QStringLiteral("A"), At(0, 10, 0))};
        QVERIFY(Pass(records, At(0, 9, 58, 50), notifier).isEmpty());
        QCOMPARE(Pass(records, At(0, 9, 59, 50), notifier), QStringList{QStringLiteral("A")});
        // The next pass still finds it within the window, but it was announced.
        QVERIFY(Pass(records, At(0, 10, 0, 50), notifier).isEmpty());
        QCOMPARE(notifier.Events().size(), 2);
    }

    void skipped_data()
    {
        QTest::addColumn<bool>("finished");
        QTest::addColumn<double>("due");
        const double atTen = DateTimeFromQDateTime(At(0, 10, 0));
        QTest::newRow("finished") << true << atTen;
        QTest::newRow("unplanned") << false << 0.0;
        QTest::newRow("finished and unplanned") << true << 0.0;
        QTest::newRow("not a number") << false << std::nan("");
        QTest::newRow("infinite") << false << std::numeric_limits<double>::infinity();
        QTest::newRow("far beyond any date") << false << 1e300;
    }
    void skipped()
    {
        QFETCH(bool, finished);
        QFETCH(double, due);
        TtasksRecordingNotifier notifier;
        QList<TTaskRecord> records = {Task(QStringLiteral("A"), QDateTime())};
        records[0].finished = finished;
        records[0].duedt = due;
        QVERIFY(Pass(records, At(0, 10, 0), notifier).isEmpty());
        QVERIFY(!records[0].notified);
        QVERIFY(notifier.Events().isEmpty());
    }

    // Two tasks due at the same minute: sound and balloon for each in turn.
    void twoAtOnce()
    {
        TtasksRecordingNotifier notifier;
        QList<TTaskRecord> records = {
            Task(QStringLiteral("A"), At(0, 10, 0), QStringLiteral("First")),
            Task(QStringLiteral("late"), At(0, 9, 0)),
            Task(QStringLiteral("B"), At(0, 10, 0, 30), QStringLiteral("Second"))};
        const QStringList unread = Pass(records, At(0, 10, 0, 10), notifier);
        QCOMPARE(unread, (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
        QVERIFY(records[0].notified);
        QVERIFY(!records[1].notified);
        QVERIFY(records[2].notified);
        const QList<TtasksRecordingNotifier::TEvent>& events = notifier.Events();
        QCOMPARE(events.size(), 4);
        QCOMPARE(events[0].Kind, TKind::Sound);
        QCOMPARE(events[1].Kind, TKind::Balloon);
        QCOMPARE(events[1].Title, QStringLiteral("First"));
        QCOMPARE(events[2].Kind, TKind::Sound);
        QCOMPARE(events[3].Kind, TKind::Balloon);
        QCOMPARE(events[3].Title, QStringLiteral("Second"));
    }

    // A reload makes new records, so a task still within its minute is
    // announced again by the next pass.
    void reannouncedAfterReload()
    {
        TtasksRecordingNotifier notifier;
        QList<TTaskRecord> records = {Task(QStringLiteral("A"), At(0, 10, 0))};
        QCOMPARE(Pass(records, At(0, 9, 59, 30), notifier).size(), 1);
        // The list is reloaded 20 seconds later.
        records = {Task(QStringLiteral("A"), At(0, 10, 0))};
        QCOMPARE(Pass(records, At(0, 10, 0, 30), notifier), QStringList{QStringLiteral("A")});
        QCOMPARE(notifier.Balloons().size(), 2);
        // Without a reload it is not announced a third time.
        QVERIFY(Pass(records, At(0, 10, 0, 50), notifier).isEmpty());
    }

    // "Now" is read anew for each record, not once per pass.
    void clockReadForEachRecord_data()
    {
        QTest::addColumn<int>("secondsPerBalloon");
        QTest::addColumn<bool>("secondAnnounced");
        QTest::newRow("5 seconds pass") << 5 << true;
        QTest::newRow("6 seconds pass") << 6 << false;
    }
    void clockReadForEachRecord()
    {
        QFETCH(int, secondsPerBalloon);
        QFETCH(bool, secondAnnounced);
        TSlowNotifier notifier(secondsPerBalloon);
        QList<TTaskRecord> records = {Task(QStringLiteral("A"), At(0, 10, 0)),
                                      Task(QStringLiteral("B"), At(0, 9, 59, 5))};
        Pass(records, At(0, 10, 0), notifier);
        QVERIFY(records[0].notified);
        QCOMPARE(records[1].notified, secondAnnounced);
    }

    void texts_data()
    {
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("noteText");
        const QString astral = QString::fromUtf8("\xF0\x9F\x98\x80 \xF0\x9D\x84\x9E");
        QTest::newRow("plain") << "Call Anna"
                               << "about the offer"
                               << "Call Anna"
                               << "about the offer";
        QTest::newRow("empty summary and note") << ""
                                                << ""
                                                << "undefined"
                                                << "undefined";
        QTest::newRow("blanks and line breaks only") << " \t\r\n "
                                                     << "\r\n\r\n"
                                                     << "undefined"
                                                     << "undefined";
        QTest::newRow("control characters only")
            << QStringLiteral("\x01\x1f") << QStringLiteral("\x7f") << "undefined"
            << QStringLiteral("\x7f");
        QTest::newRow("shown untrimmed") << "  Call Anna  "
                                         << "\n two lines\r\n"
                                         << "  Call Anna  "
                                         << "\n two lines\r\n";
        QTest::newRow("no-break space is text") << QString(QChar(0xA0)) << QString(QChar(0x3000))
                                                << QString(QChar(0xA0)) << QString(QChar(0x3000));
        QTest::newRow("outside the basic plane") << astral << astral + QStringLiteral("\u2028\r\v")
                                                 << astral << astral + QStringLiteral("\u2028\r\v");
    }
    void texts()
    {
        QFETCH(QString, summary);
        QFETCH(QString, note);
        QFETCH(QString, title);
        QFETCH(QString, noteText);
        const TTaskRecord record = Task(QStringLiteral("A"), At(0, 15, 10), summary, note);
        QCOMPARE(ReminderTitle(record), title);
        QCOMPARE(ReminderBody(record), Body(noteText, DueDateText(record.duedt)));

        TtasksRecordingNotifier notifier;
        ShowReminder(&record, notifier);
        QCOMPARE(notifier.SoundCount(), 1);
        QCOMPARE(notifier.Balloons().size(), 1);
        const TtasksRecordingNotifier::TEvent balloon = notifier.Balloons().first();
        QCOMPARE(balloon.Title, title);
        QCOMPARE(balloon.Text, Body(noteText, DueDateText(record.duedt)));
        QCOMPARE(balloon.MSecs, 60000);
    }

    void bodyInAnotherLocale()
    {
        QLocale::setDefault(QLocale(QStringLiteral("de_DE")));
        const TTaskRecord record =
            Task(QStringLiteral("A"), At(0, 15, 10), QStringLiteral("S"), QStringLiteral("N"));
        const QString date = QLocale().toString(QDate(2012, 5, 8), ShortDateFormat(QLocale()));
        QCOMPARE(ReminderBody(record), QStringLiteral("NOTE:\r\nN\r\n\r\nDUE DATETIME:\r\n") +
                                           date + QStringLiteral(" 15:10:00"));
    }

    // A summary of 100,000 characters reaches the balloon whole.
    void longSummary()
    {
        const QString summary(100000, u'x');
        const TTaskRecord record = Task(QStringLiteral("A"), At(0, 10, 0), summary);
        TtasksRecordingNotifier notifier;
        ShowReminder(&record, notifier);
        QCOMPARE(notifier.Balloons().first().Title.size(), 100000);
    }

    void showReminderOfNone()
    {
        TtasksRecordingNotifier notifier;
        ShowReminder(nullptr, notifier);
        QVERIFY(notifier.Events().isEmpty());
    }

    // The pass takes the window's containers as they are: a map of owned
    // records, a hash of pointers (with an empty slot), a list of records.
    void containers()
    {
        SetFixedNow(At(0, 10, 0));
        TtasksRecordingNotifier notifier;
        QStringList unread;
        auto mark = [&unread](const QString& aId) { unread << aId; };

        std::map<QString, std::unique_ptr<TTaskRecord>> owned;
        owned["a"] = std::make_unique<TTaskRecord>(Task(QStringLiteral("a"), At(0, 10, 0)));
        owned["b"] = std::make_unique<TTaskRecord>(Task(QStringLiteral("b"), At(0, 12, 0)));
        QCOMPARE(CheckReminders(owned, notifier, mark), 1);
        QVERIFY(owned["a"]->notified);

        TTaskRecord c = Task(QStringLiteral("c"), At(0, 10, 0, 20));
        QHash<QString, TTaskRecord*> pointers = {{QStringLiteral("c"), &c},
                                                 {QStringLiteral("none"), nullptr}};
        QCOMPARE(CheckReminders(pointers, notifier, mark), 1);
        QVERIFY(c.notified);

        std::vector<std::shared_ptr<TTaskRecord>> shared = {
            std::make_shared<TTaskRecord>(Task(QStringLiteral("d"), At(0, 9, 59, 30)))};
        QCOMPARE(CheckReminders(shared, notifier, nullptr), 1);

        QCOMPARE(unread, (QStringList{QStringLiteral("a"), QStringLiteral("c")}));
        QCOMPARE(notifier.Balloons().size(), 3);
    }

    // The seam hands out the installed notifier, or a tray notifier.
    void notifierSeam()
    {
        auto recording = std::make_shared<TtasksRecordingNotifier>();
        SetTestNotifier(recording);
        QCOMPARE(CreateTasksNotifier(nullptr).get(), recording.get());
        SetTestNotifier(nullptr);
        const std::shared_ptr<ItasksNotifier> real = CreateTasksNotifier(nullptr);
        QVERIFY(real);
        QVERIFY(dynamic_cast<TtasksTrayNotifier*>(real.get()));
    }

    // The desktop's notifier without a sound server or a tray: nothing fails.
    void trayNotifierWithoutDesktop()
    {
        TtasksTrayNotifier orphan(nullptr);
        orphan.PlayInformationSound();
        orphan.ShowBalloon(QStringLiteral("title"), QStringLiteral("text"), 60000);

        auto icon = std::make_unique<QSystemTrayIcon>();
        TtasksTrayNotifier notifier(icon.get());
        notifier.PlayInformationSound();
        notifier.PlayInformationSound();
        notifier.ShowBalloon(QStringLiteral("title"), QStringLiteral("text"), 60000);
        // The icon may go before its notifier.
        icon.reset();
        notifier.ShowBalloon(QStringLiteral("title"), QStringLiteral("text"), 60000);
    }

    // A reminder as a notification: the task's id, the balloon's texts and
    // display time, and the program's icon; the recording notifier keeps it
    // whole and as the balloon the tray shows.
    void notification()
    {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::darkCyan);
        QGuiApplication::setWindowIcon(QIcon(pixmap));
        const TTaskRecord record =
            Task(QStringLiteral("A"), At(0, 15, 10), QStringLiteral("S"), QStringLiteral("N"));
        TtasksRecordingNotifier notifier;
        ShowReminder(&record, notifier);
        QCOMPARE(notifier.Notifications().size(), 1);
        const TtasksNotification shown = notifier.Notifications().first();
        QCOMPARE(shown.TaskId, QStringLiteral("A"));
        QCOMPARE(shown.Title, QStringLiteral("S"));
        QCOMPARE(shown.Body, ReminderBody(record));
        QCOMPARE(shown.MSecs, 60000);
        QCOMPARE(shown.Icon.pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::darkCyan));
        QCOMPARE(notifier.Events().size(), 2);
        QCOMPARE(notifier.Events()[0].Kind, TKind::Sound);
        QCOMPARE(notifier.Events()[1].Kind, TKind::Balloon);
        QCOMPARE(notifier.Events()[1].Text, ReminderBody(record));
        QGuiApplication::setWindowIcon(QIcon());

        // The tray notifier shows the balloon, and has nothing to take back.
        TtasksTrayNotifier tray(nullptr);
        tray.ShowNotification(shown);
        tray.Withdraw(QStringLiteral("A"));
    }

    // The user's actions reach the handlers the window set; an action without
    // a handler, or with none that fits, does nothing.
    void actionsReachHandlers_data()
    {
        QTest::addColumn<TtasksNotifierAction>("action");
        QTest::addColumn<QString>("taskId");
        QTest::addColumn<QString>("heard");
        QTest::newRow("done") << TtasksNotifierAction::Done << "A"
                              << "done A";
        QTest::newRow("snooze") << TtasksNotifierAction::Snooze << "A"
                                << "snooze A";
        QTest::newRow("a click") << TtasksNotifierAction::Open << "A"
                                 << "open A";
        QTest::newRow("a click on the counting one") << TtasksNotifierAction::Open << ""
                                                     << "missed";
        QTest::newRow("done on the counting one") << TtasksNotifierAction::Done << ""
                                                  << "";
        QTest::newRow("snooze on the counting one") << TtasksNotifierAction::Snooze << ""
                                                    << "";
    }
    void actionsReachHandlers()
    {
        QFETCH(TtasksNotifierAction, action);
        QFETCH(QString, taskId);
        QFETCH(QString, heard);
        TtasksRecordingNotifier notifier;
        // No handlers yet: nothing happens.
        notifier.Act(action, taskId);
        QStringList calls;
        TtasksNotifierHandlers handlers;
        handlers.TaskDone = [&calls](const QString& aId) { calls << "done " + aId; };
        handlers.TaskSnoozed = [&calls](const QString& aId) { calls << "snooze " + aId; };
        handlers.TaskOpened = [&calls](const QString& aId) { calls << "open " + aId; };
        handlers.MissedOpened = [&calls] { calls << "missed"; };
        notifier.SetHandlers(handlers);
        notifier.Act(action, taskId);
        QCOMPARE(calls, heard.isEmpty() ? QStringList() : QStringList{heard});
    }

    // What a handler raises is shown in an error box and goes no further.
    void handlerFailureShown()
    {
        TkvdMessageBox::SetTestMode(true);
        TkvdMessageBox::ClearShown();
        TtasksRecordingNotifier notifier;
        TtasksNotifierHandlers handlers;
        handlers.TaskDone = [](const QString&) {
            throw EkvdError(QStringLiteral("the database is locked"));
        };
        notifier.SetHandlers(handlers);
        notifier.Act(TtasksNotifierAction::Done, QStringLiteral("A"));
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        QVERIFY(TkvdMessageBox::Shown()[0].Text.contains(QStringLiteral("the database is locked")));
        TkvdMessageBox::ClearShown();
        TkvdMessageBox::SetTestMode(false);
    }

    // "Done" and "Snooze" on a stored task: what the database holds after,
    // and the notification taken back in every case.
    void reminderActions_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("snooze");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<QString>("due");
        const QString gone = QStringLiteral("the task is no longer stored");
        QTest::newRow("done, open") << "open" << false << "" << true << "2012-05-08 10:00:00";
        QTest::newRow("snooze, open") << "open" << true << "" << false << "2012-05-08 10:10:30";
        QTest::newRow("done, finished already")
            << "finished" << false << "" << true << "2012-05-08 10:00:00";
        QTest::newRow("snooze, finished already")
            << "finished" << true << "" << true << "2012-05-08 10:00:00";
        QTest::newRow("done, deleted") << "deleted" << false << gone << false << "";
        QTest::newRow("snooze, deleted") << "deleted" << true << gone << false << "";
        QTest::newRow("snooze, unplanned")
            << "unplanned" << true << "" << false << "2012-05-08 10:10:30";
    }
    void reminderActions()
    {
        QFETCH(QString, state);
        QFETCH(bool, snooze);
        QFETCH(QString, reason);
        QFETCH(bool, finished);
        QFETCH(QString, due);
        const QString id = QStringLiteral("AAAAAAAAAAAAAAAA");
        QVERIFY(StoreTask(id, state == QLatin1String("unplanned") ? QDateTime() : At(0, 10, 0)));
        if (state == QLatin1String("finished"))
            QVERIFY(TtasksStore::FinishTask(id, DateTimeFromQDateTime(At(0, 9, 0))));
        if (state == QLatin1String("deleted"))
            QVERIFY(TtasksStore::DeleteTask(id));
        SetFixedNow(At(0, 10, 0, 30, 900));
        TtasksRecordingNotifier notifier;
        const TStoreResult result =
            snooze ? SnoozeRemindedTask(id, notifier) : FinishRemindedTask(id, notifier);
        QCOMPARE(result.ok, reason.isEmpty());
        QCOMPARE(result.reason, reason);
        QCOMPARE(notifier.Withdrawn(), QStringList{id});
        QVERIFY(notifier.Events().isEmpty());
        if (state == QLatin1String("deleted")) {
            QCOMPARE(Scalar(QStringLiteral("select count(*) from tasks")), QStringLiteral("0"));
            return;
        }
        const TStoredTask task = StoredTask(id);
        QCOMPARE(task.finished, finished);
        QCOMPARE(DateTimeToSqlText(task.duedt), due);
        // Done finishes now, as ticking does; a finished task keeps its time.
        QCOMPARE(Scalar(QStringLiteral("select finisheddt from tasks")),
                 state == QLatin1String("finished") ? QStringLiteral("2012-05-08 09:00:00")
                 : finished                         ? QStringLiteral("2012-05-08 10:00:30")
                                                    : QStringLiteral("<null>"));
    }

    // Ten minutes later, to the whole second.
    void snoozedDueDate_data()
    {
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("due");
        QTest::newRow("whole second") << At(0, 10, 0) << At(0, 10, 10);
        QTest::newRow("fraction cut off") << At(0, 10, 0, 59, 999) << At(0, 10, 10, 59);
        QTest::newRow("into the next day") << At(0, 23, 55, 1) << At(1, 0, 5, 1);
    }
    void snoozedDueDate()
    {
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, due);
        QCOMPARE(QDateTimeFromDateTime(SnoozedDueDate(now)), due);
    }
};

QTEST_MAIN(TestReminders)
#include "test_reminders.moc"
