// The list after a change of one task, on the real window over a real
// database file: each click that changes tasks updates their rows in place,
// and what the list then shows, in content and order, is what a reload of the
// whole list gives; the other rows keep their records and marks. And the
// selection: the selection model says which rows are selected, the list the
// order in which they came. Every case runs with the toolkit's model tester
// on the list model, so each update is also a change that views can follow.

#include "app/tasks_form_main.h"
#include "app/tasks_list_view.h"
#include "store/tasks_store.h"
#include "tags/tasks_tags.h"

#include "window_fixture.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QDateEdit>
#include <QLineEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimeEdit>
#include <QToolButton>
#include <QtTest>
#include <map>
#include <memory>

namespace {

const QString kTagRed = QStringLiteral("RRRRRRRRRRRRRRRR");
const QString kTagGreen = QStringLiteral("GGGGGGGGGGGGGGGG");
// Two unplanned tasks equal in every key of the list's order.
const QString kU1 = QStringLiteral("UUUUUUUUUUUUUUUb");
const QString kU2 = QStringLiteral("UUUUUUUUUUUUUUUa");
const QString kD1 = QStringLiteral("DDDDDDDDDDDDDDD1");
const QString kD2 = QStringLiteral("DDDDDDDDDDDDDDD2");
const QString kD3 = QStringLiteral("DDDDDDDDDDDDDDD3");
const QString kD4 = QStringLiteral("DDDDDDDDDDDDDDD4");
const QString kF1 = QStringLiteral("FFFFFFFFFFFFFFF1");
const QString kF2 = QStringLiteral("FFFFFFFFFFFFFFF2");

QDateTime At(int aDay, int aHour, int aMinute = 0)
{
    return QDateTime(QDate(2026, 5, aDay), QTime(aHour, aMinute));
}

// One row as the list shows it.
QString RowText(const TTaskRecord& aRecord)
{
    return QStringList{aRecord.taskid,
                       aRecord.summary,
                       aRecord.note,
                       aRecord.duedt == 0 ? QStringLiteral("none")
                                          : DateTimeToSqlText(aRecord.duedt),
                       aRecord.finished ? QStringLiteral("finished") : QStringLiteral("open"),
                       aRecord.tagsids}
        .join(QLatin1Char('|'));
}

// Every row of the list model in order, or only those the tab shows.
QStringList Rows(TfrmTaskList& aWindow, bool aVisibleOnly = false)
{
    QStringList rows;
    TtasksListPanel* list = aWindow.ListPanel();
    for (int row = 0; row < list->TaskRecords()->Count(); ++row) {
        if (aVisibleOnly && RowHidden(aWindow, row))
            continue;
        rows << RowText(*list->RecordOfRow(row));
    }
    return rows;
}

// The row text without the row of aId, and the index of that row.
QStringList Without(QStringList aRows, const QString& aId, int* aAt = nullptr)
{
    for (int i = 0; i < aRows.size(); ++i) {
        if (aRows[i].startsWith(aId + QLatin1Char('|'))) {
            if (aAt)
                *aAt = i;
            aRows.removeAt(i);
            break;
        }
    }
    return aRows;
}

void SelectTask(TfrmTaskList& aWindow, const QString& aId)
{
    TTaskRecord* record = RecordById(aWindow, aId);
    QVERIFY(record);
    Tree(aWindow)->selectionModel()->select(
        ViewIndex(aWindow, record->row), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    aWindow.UpdateControls();
}

void SetTag(TfrmTaskList& aWindow, const QString& aTagId, bool aChecked)
{
    ItasksTagsControler* tags = aWindow.EditorPanel()->TagsControler();
    for (int i = 0; i < tags->Count(); ++i) {
        if (tags->GetTagByIndex(i)->tagid == aTagId)
            tags->GetTagByIndex(i)->SetChecked(aChecked);
    }
}

// The editor's exact due date-time.
void SetDue(TfrmTaskList& aWindow, const QDateTime& aDue)
{
    if (!W<QWidget>(aWindow, "pnlGeneralDateTime")->isHidden())
        W<QRadioButton>(aWindow, "rbGeneralExact")->click();
    W<QDateEdit>(aWindow, "edTaskDueDate")->setDate(aDue.date());
    W<QTimeEdit>(aWindow, "edTaskDueTime")->setTime(aDue.time());
}

// "New", a summary, the red tag and a due date-time, "Save"; the new id.
QString NewTask(TfrmTaskList& aWindow, const QString& aSummary)
{
    W<QToolButton>(aWindow, "btnNewTask")->click();
    W<QLineEdit>(aWindow, "edTaskSummary")->setText(aSummary);
    SetTag(aWindow, kTagRed, true);
    SetDue(aWindow, At(9, 9));
    W<QToolButton>(aWindow, "btnSaveTask")->click();
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    if (!GetTasksDB()->Query(
            QStringLiteral("select taskid from tasks where summary=%1").arg(Quoted(aSummary)),
            query.get()) ||
        query->Eof())
        return QString();
    return query->FieldByName(QStringLiteral("taskid")).AsString();
}

} // namespace

class TestListUpdates : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TTestEnv> FEnv;
    std::unique_ptr<TfrmTaskList> FWindow;
    // The toolkit's model tester on the list model and on the tab's filter
    // over it (what the view reads): each checks every signal as it comes
    // (rows inserted where announced, indexes in range, data of the right
    // types) and fails the running case at the first fault.
    std::unique_ptr<QAbstractItemModelTester> FModelTester;
    std::unique_ptr<QAbstractItemModelTester> FRowsTester;

    // The window over the tasks stored so far, its models under the testers.
    TfrmTaskList& OpenWindow()
    {
        FWindow = std::make_unique<TfrmTaskList>();
        TtasksListPanel* list = FWindow->ListPanel();
        const auto mode = QAbstractItemModelTester::FailureReportingMode::QtTest;
        FModelTester = std::make_unique<QAbstractItemModelTester>(list->TaskRecords(), mode);
        FRowsTester = std::make_unique<QAbstractItemModelTester>(list->TaskRows(), mode);
        return *FWindow;
    }

    void Data()
    {
        AddTag(kTagRed, QStringLiteral("red"));
        AddTag(kTagGreen, QStringLiteral("green"));
        AddTask(kU1, QStringLiteral("unplanned b"), {}, {}, "2026-05-01 08:00:00",
                QStringLiteral("a note"));
        AddTask(kU2, QStringLiteral("unplanned a"), {}, {}, "2026-05-01 08:00:00");
        AddTask(kD1, QStringLiteral("overdue"), "2026-05-08 11:00:00", {}, "2026-05-02 08:00:00");
        AddTask(kD2, QStringLiteral("due, older"), "2026-05-09 09:00:00", {},
                "2026-05-03 08:00:00");
        AddTask(kD3, QStringLiteral("due, newer"), "2026-05-09 09:00:00", {},
                "2026-05-04 08:00:00");
        AddTask(kD4, QStringLiteral("later"), "2026-05-10 10:00:00", {}, "2026-05-05 08:00:00");
        AddTask(kF1, QStringLiteral("done first"), {}, "2026-05-08 09:00:00",
                "2026-05-01 08:00:00");
        AddTask(kF2, QStringLiteral("done second"), "2026-05-08 08:00:00", "2026-05-08 10:00:00",
                "2026-05-01 08:00:00");
        AddTask(QStringLiteral("YYYYYYYYYYYYYYYY"), QStringLiteral("done yesterday"), {},
                "2026-05-07 10:00:00", "2026-05-01 08:00:00");
        // Linked against the order in which the list joins them.
        Link(kU1, kTagRed);
        Link(kU1, kTagGreen);
        Link(kD2, kTagRed);
        Link(kF2, kTagRed);
    }

private Q_SLOTS:
    void init()
    {
        FEnv = StartWindowTest();
        SetFixedNow(At(8, 12));
    }
    void cleanup()
    {
        FRowsTester.reset();
        FModelTester.reset();
        FWindow.reset();
        EndWindowTest(FEnv);
    }

    void changeUpdatesRowsAsAReloadWould_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("tagTab");
        QTest::addColumn<int>("resets");
        for (const char* action :
             {"new task", "edit among equals", "edit that moves the row", "tick", "re-open",
              "tick, then a new task", "delete", "date move of several", "mark as read",
              "new task past midnight"})
            QTest::newRow(action) << QString::fromLatin1(action) << false << 0;
        QTest::newRow("edit that takes the row off the tab")
            << QStringLiteral("edit off the tab") << true << 0;
        QTest::newRow("new task on a tag's tab") << QStringLiteral("new task") << true << 0;
        // Many rows at once are put in with one reset of the views.
        QTest::newRow("date move of many") << QStringLiteral("date move of many") << false << 1;
    }
    void changeUpdatesRowsAsAReloadWould()
    {
        QFETCH(QString, action);
        QFETCH(bool, tagTab);
        QFETCH(int, resets);
        Data();
        if (action == QLatin1String("date move of many")) {
            for (int i = 0; i < 80; ++i)
                AddTask(QStringLiteral("MANY%1").arg(i, 12, 10, QLatin1Char('a')),
                        QStringLiteral("many %1").arg(i),
                        QStringLiteral("2026-05-%1 10:00:00").arg(10 + i % 15), {},
                        QStringLiteral("2026-05-0%1 08:00:00").arg(1 + i % 7));
        }
        TfrmTaskList& window = OpenWindow();
        window.show();
        TtasksListPanel* list = window.ListPanel();
        if (tagTab)
            Tabs(window)->setCurrentIndex(2);
        QVERIFY(tagTab == (list->CurrentTag() != nullptr));
        // Every row announced, one unread.
        std::map<QString, TTaskRecord*> before;
        for (int row = 0; row < list->TaskRecords()->Count(); ++row) {
            TTaskRecord* record = list->RecordOfRow(row);
            record->notified = true;
            before[record->taskid] = record;
        }
        list->MarkUnread(kD4);
        QStringList unread = list->UnreadIds();
        const QStringList rowsBefore = Rows(window);
        int counted = 0;
        connect(list->TaskRecords(), &QAbstractItemModel::modelReset, this, [&] { ++counted; });

        // The tasks whose rows were read again for the change.
        QStringList changed;
        // A ticked row that keeps its place until the next change.
        QString ticked;
        if (action == QLatin1String("new task")) {
            changed << NewTask(window, QStringLiteral("the new one"));
        } else if (action == QLatin1String("new task past midnight")) {
            // The list was read yesterday: the tasks finished then go.
            SetFixedNow(At(9, 8));
            changed << NewTask(window, QStringLiteral("the new one"));
        } else if (action == QLatin1String("edit among equals")) {
            SelectTask(window, kU1);
            W<QToolButton>(window, "btnEdit")->click();
            W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("unplanned b, edited"));
            W<QToolButton>(window, "btnSaveTask")->click();
            changed << kU1;
        } else if (action == QLatin1String("edit that moves the row")) {
            SelectTask(window, kD1);
            W<QToolButton>(window, "btnEdit")->click();
            SetDue(window, At(9, 9));
            SetTag(window, kTagGreen, true);
            W<QToolButton>(window, "btnSaveTask")->click();
            changed << kD1;
        } else if (action == QLatin1String("edit off the tab")) {
            SelectTask(window, kD2);
            W<QToolButton>(window, "btnEdit")->click();
            SetTag(window, kTagRed, false);
            W<QToolButton>(window, "btnSaveTask")->click();
            changed << kD2;
        } else if (action == QLatin1String("tick")) {
            ticked = kD3;
            Tick(window, kD3);
        } else if (action == QLatin1String("re-open")) {
            ticked = kF1;
            Tick(window, kF1);
        } else if (action == QLatin1String("tick, then a new task")) {
            Tick(window, kD3);
            changed << NewTask(window, QStringLiteral("the new one"));
        } else if (action == QLatin1String("delete")) {
            SelectTask(window, kD4);
            W<QToolButton>(window, "btnDeleteTask")->click();
        } else if (action == QLatin1String("date move of several")) {
            for (const QString& id : {kF2, kU2, kD1})
                SelectTask(window, id);
            W<QAction>(window, "itDatemoveTomorrow")->trigger();
            changed << kF2 << kU2 << kD1;
        } else if (action == QLatin1String("date move of many")) {
            Tree(window)->selectAll();
            // As the menu does when it opens.
            window.UpdateControls();
            changed = list->SelectedIds();
            QCOMPARE(changed.size(), 88);
            W<QAction>(window, "itDatemoveToday")->trigger();
        } else if (action == QLatin1String("mark as read")) {
            W<QToolButton>(window, "btnMarkAsRead")->click();
            unread.clear();
        }
        QCOMPARE(ErrorBoxes(), 0);
        QVERIFY(!window.EditorPanel()->Editing());
        for (const QString& id : changed)
            QVERIFY2(!id.isEmpty() && RecordById(window, id), qPrintable(id));
        QCOMPARE(counted, resets);
        if (action != QLatin1String("mark as read") && ticked.isEmpty())
            QVERIFY(list->SelectedIds().isEmpty());

        // The other rows keep their records and marks; a changed task's record
        // starts as a load makes it.
        QCOMPARE(list->UnreadIds(), unread);
        for (const auto& [id, record] : before) {
            TTaskRecord* now = RecordById(window, id);
            if (!now)
                continue;
            QCOMPARE(now, record);
            QVERIFY2(now->notified != changed.contains(id), qPrintable(id));
        }

        const QStringList rows = Rows(window);
        const QStringList visible = Rows(window, true);
        list->LoadTasks(list->CurrentTag());
        const QStringList reloaded = Rows(window);
        const QStringList reloadedVisible = Rows(window, true);
        if (ticked.isEmpty()) {
            QCOMPARE(rows, reloaded);
            QCOMPARE(visible, reloadedVisible);
        } else {
            // The ticked row shows what is stored, where it was.
            int at = -1;
            int atBefore = -2;
            Without(rowsBefore, ticked, &atBefore);
            QCOMPARE(Without(rows, ticked, &at), Without(reloaded, ticked));
            QCOMPARE(at, atBefore);
            int reloadedAt = -1;
            Without(reloaded, ticked, &reloadedAt);
            QCOMPARE(rows[at], reloaded[reloadedAt]);
            QVERIFY(at != reloadedAt);
        }
        if (action == QLatin1String("new task past midnight"))
            QVERIFY(!RecordById(window, kF1) && !RecordById(window, kF2));
    }

    // A row of a task that another program deleted goes at the next change,
    // as at a reload; a row that cannot be read back leaves the list as it was.
    void rowsOfOthersAndAFailedRead()
    {
        Data();
        TfrmTaskList& window = OpenWindow();
        window.show();
        TtasksListPanel* list = window.ListPanel();
        const QStringList before = Rows(window);
        TTaskRecord* u1 = RecordById(window, kU1);
        Sql(QStringLiteral("drop table tags_tasks"));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, list->UpdateTasks({kU1}));
        QCOMPARE(Rows(window), before);
        QCOMPARE(RecordById(window, kU1), u1);
    }

    // Which rows are selected is the selection model's, also when it changed
    // without saying so; the order is that in which the user selected them.
    void selectionModelDecidesTheSelectedIds()
    {
        Data();
        TfrmTaskList& window = OpenWindow();
        window.show();
        TtasksListPanel* list = window.ListPanel();
        QItemSelectionModel* selection = Tree(window)->selectionModel();
        const auto rowOf = [&](const QString& aId) {
            return ViewIndex(window, RecordById(window, aId)->row);
        };
        for (const QString& id : {kD2, kU1, kD3})
            selection->select(rowOf(id), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(list->SelectedIds(), QStringList({kD2, kU1, kD3}));
        {
            const QSignalBlocker silent(selection);
            selection->select(rowOf(kU2), QItemSelectionModel::Select | QItemSelectionModel::Rows);
            selection->select(rowOf(kU1),
                              QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        }
        // Unseen: U2 is selected all the same, after the others; U1 is not.
        QCOMPARE(list->SelectedIds(), QStringList({kD2, kD3, kU2}));
        selection->reset();
        QVERIFY(list->SelectedIds().isEmpty());
        QVERIFY(!list->SelectedTask());
        // A date move then changes nothing.
        W<QAction>(window, "itDatemoveUnplanned")->trigger();
        QCOMPARE(RecordById(window, kD2)->duedt, EncodeDateTime(2026, 5, 9, 9));
    }
};

QTEST_MAIN(TestListUpdates)
#include "test_list_updates.moc"
