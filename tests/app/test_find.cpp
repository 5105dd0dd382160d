// Finding a task on the real window: Ctrl+F shows the find field above the
// list, each keystroke narrows the rows of the current tab to the tasks whose
// summary or note holds the text (letter case ignored, by Unicode folding,
// right-to-left and beyond-BMP text included), Escape or an empty field shows
// every row again. The selection keeps only rows still in view, so no command
// acts on a hidden task, and an open editor keeps what was typed.

#include "app/tasks_form_main.h"
#include "app/tasks_list_view.h"
#include "store/tasks_store.h"

#include "window_fixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QtTest>
#include <memory>

namespace {

const QString kTagRed = QStringLiteral("RRRRRRRRRRRRRRRR");
const QString kOffice = QStringLiteral("AAAAAAAAAAAAAAA1");
const QString kMilk = QStringLiteral("AAAAAAAAAAAAAAA2");
const QString kHebrew = QStringLiteral("AAAAAAAAAAAAAAA3");
const QString kDeseret = QStringLiteral("AAAAAAAAAAAAAAA4");
const QString kGreek = QStringLiteral("AAAAAAAAAAAAAAA5");
const QString kParty = QStringLiteral("AAAAAAAAAAAAAAA6");

void StandardData()
{
    AddTag(kTagRed, QStringLiteral("Red"));
    AddTask(kOffice, QStringLiteral("Call the Office"), QStringLiteral("2026-05-01 10:00:00"), {},
            {}, QStringLiteral("about the invoice"));
    AddTask(kMilk, QStringLiteral("Buy milk"), QStringLiteral("2026-05-02 10:00:00"), {}, {},
            QStringLiteral("before the office closes"));
    Link(kMilk, kTagRed);
    // Hebrew, written right to left.
    AddTask(kHebrew, QStringLiteral("שלום עולם"), QStringLiteral("2026-05-03 10:00:00"));
    // U+10400, a capital letter beyond the BMP whose small form is U+10428.
    AddTask(kDeseret, QStringLiteral("Read \U00010400 notes"),
            QStringLiteral("2026-05-04 10:00:00"));
    AddTask(kGreek, QStringLiteral("ΣΊΣΥΦΟΣ"), QStringLiteral("2026-05-05 10:00:00"));
    Link(kGreek, kTagRed);
    // Finished today, so listed.
    AddTask(kParty, QStringLiteral("Office party"), {},
            NowDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
}

// The ids of the rows the view shows, in order.
QStringList VisibleIds(TfrmTaskList& aWindow)
{
    QStringList ids;
    TtasksListFilter* rows = aWindow.ListPanel()->TaskRows();
    for (int row = 0; row < rows->rowCount(); ++row)
        ids << rows->Record(rows->index(row, 0))->taskid;
    return ids;
}

// Types aText key by key, a character beyond the BMP as one key.
void Type(QWidget* aWidget, const QString& aText)
{
    for (qsizetype i = 0; i < aText.size(); ++i) {
        const qsizetype length = aText[i].isHighSurrogate() ? 2 : 1;
        QTest::sendKeyEvent(QTest::Click, aWidget, Qt::Key_unknown, aText.mid(i, length),
                            Qt::NoModifier);
        i += length - 1;
    }
}

QLineEdit* FindField(TfrmTaskList& aWindow)
{
    return W<QLineEdit>(aWindow, "edtFind");
}

void SelectTask(TfrmTaskList& aWindow, const QString& aId)
{
    TtasksListPanel* list = aWindow.ListPanel();
    for (int row = 0; row < list->TaskRecords()->Count(); ++row) {
        if (list->RecordOfRow(row)->taskid == aId) {
            Tree(aWindow)->selectionModel()->select(
                ViewIndex(aWindow, row), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    aWindow.UpdateControls();
}

void ShowWindow(TfrmTaskList& aWindow)
{
    aWindow.show();
    QApplication::setActiveWindow(&aWindow);
    QVERIFY(QTest::qWaitForWindowActive(&aWindow));
}

} // namespace

class TestFind : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TTestEnv> FEnv;

private Q_SLOTS:
    void init()
    {
        FEnv = StartWindowTest();
        StandardData();
    }
    void cleanup() { EndWindowTest(FEnv); }

    void filter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("redTab");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("count");
        const QStringList all{kOffice, kMilk, kHebrew, kDeseret, kGreek, kParty};
        QTest::newRow("empty shows all") << QString() << false << all << QString();
        QTest::newRow("summary and note, any case")
            << QStringLiteral("office") << false << QStringList{kOffice, kMilk, kParty}
            << QStringLiteral("3 tasks");
        QTest::newRow("upper case")
            << QStringLiteral("OFFICE") << false << QStringList{kOffice, kMilk, kParty}
            << QStringLiteral("3 tasks");
        QTest::newRow("note only") << QStringLiteral("Invoice") << false << QStringList{kOffice}
                                   << QStringLiteral("1 task");
        QTest::newRow("within the tab")
            << QStringLiteral("office") << true << QStringList{kMilk} << QStringLiteral("1 task");
        QTest::newRow("right to left")
            << QStringLiteral("עולם") << false << QStringList{kHebrew} << QStringLiteral("1 task");
        QTest::newRow("beyond the BMP, other case")
            << QStringLiteral("\U00010428") << false << QStringList{kDeseret}
            << QStringLiteral("1 task");
        QTest::newRow("final sigma") << QStringLiteral("σίσυφος") << false << QStringList{kGreek}
                                     << QStringLiteral("1 task");
        QTest::newRow("not across summary and note")
            << QStringLiteral("milk before") << false << QStringList{}
            << QStringLiteral("No task found");
        QTest::newRow("nothing") << QStringLiteral("zzz") << false << QStringList{}
                                 << QStringLiteral("No task found");
    }
    void filter()
    {
        QFETCH(QString, text);
        QFETCH(bool, redTab);
        QFETCH(QStringList, expected);
        QFETCH(QString, count);
        TfrmTaskList window;
        ShowWindow(window);
        if (redTab)
            Tabs(window)->setCurrentIndex(1);
        QTest::keyClick(Tree(window), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(FindField(window)->isVisible());
        QVERIFY(FindField(window)->hasFocus());
        // Typed key by key, as each keystroke filters.
        Type(FindField(window), text);
        QCOMPARE(VisibleIds(window), expected);
        QCOMPARE(W<QLabel>(window, "lblFindCount")->text(), count);
        // The tab switch keeps the find; the other tab shows its own rows of it.
        Tabs(window)->setCurrentIndex(redTab ? 0 : 1);
        for (const QString& id : VisibleIds(window)) {
            QVERIFY(TaskMatchesFind(*RecordById(window, id), text));
            if (!redTab)
                QVERIFY(RecordById(window, id)->tagsids.contains(kTagRed));
        }
    }

    // Escape, from the field or from the list it narrows, empties and hides
    // the field and shows every row; emptying the field shows every row and
    // leaves the field open.
    void close_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("fieldVisible");
        QTest::newRow("Escape in the field") << QStringLiteral("escape") << false;
        QTest::newRow("Escape in the list") << QStringLiteral("list escape") << false;
        QTest::newRow("field emptied") << QStringLiteral("clear") << true;
    }
    void close()
    {
        QFETCH(QString, how);
        QFETCH(bool, fieldVisible);
        TfrmTaskList window;
        ShowWindow(window);
        QTest::keyClick(Tree(window), Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(FindField(window), QStringLiteral("milk"));
        QCOMPARE(VisibleIds(window), QStringList{kMilk});
        if (how == QLatin1String("escape")) {
            QTest::keyClick(FindField(window), Qt::Key_Escape);
            QVERIFY(Tree(window)->hasFocus());
        } else if (how == QLatin1String("list escape")) {
            QTest::keyClick(FindField(window), Qt::Key_Down);
            QVERIFY(Tree(window)->hasFocus());
            QTest::keyClick(Tree(window), Qt::Key_Escape);
        } else {
            FindField(window)->selectAll();
            QTest::keyClick(FindField(window), Qt::Key_Backspace);
        }
        QCOMPARE(VisibleIds(window).size(), 6);
        QCOMPARE(FindField(window)->isVisible(), fieldVisible);
        QVERIFY(FindField(window)->text().isEmpty());
        // Ctrl+F again starts with the text selected, so typing replaces it.
        QTest::keyClick(Tree(window), Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(FindField(window), QStringLiteral("party"));
        QCOMPARE(VisibleIds(window), QStringList{kParty});
        QTest::keyClick(Tree(window), Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(FindField(window)->selectedText(), QStringLiteral("party"));
    }

    // A selected row that the find hides is no longer selected: Delete takes
    // only the rows in view. The arrow down from the field goes to the first
    // row found.
    void selection()
    {
        TfrmTaskList window;
        ShowWindow(window);
        SelectTask(window, kOffice);
        SelectTask(window, kMilk);
        QCOMPARE(window.ListPanel()->SelectedIds(), (QStringList{kOffice, kMilk}));
        QTest::keyClick(Tree(window), Qt::Key_F, Qt::ControlModifier);
        QTest::keyClicks(FindField(window), QStringLiteral("milk"));
        QCOMPARE(window.ListPanel()->SelectedIds(), QStringList{kMilk});
        W<QToolButton>(window, "btnDeleteTask")->click();
        QVERIFY(!RecordById(window, kMilk));
        QVERIFY(RecordById(window, kOffice));
        std::vector<TStoredTask> stored;
        QVERIFY(TtasksStore::ListTasks(stored));
        QCOMPARE(stored.size(), size_t(5));
        QCOMPARE(W<QLabel>(window, "lblFindCount")->text(), QStringLiteral("No task found"));

        FindField(window)->setText(QStringLiteral("office"));
        QVERIFY(!W<QToolButton>(window, "btnEdit")->isEnabled());
        QTest::keyClick(FindField(window), Qt::Key_Down);
        QCOMPARE(window.ListPanel()->SelectedIds(), QStringList{kOffice});
        QVERIFY(W<QToolButton>(window, "btnEdit")->isEnabled());
    }

    // The find works beside an open editor: the editor keeps its text, a saved
    // task shows when it holds the text and waits hidden when it does not.
    void editor_open()
    {
        TfrmTaskList window;
        ShowWindow(window);
        W<QToolButton>(window, "btnNewTask")->click();
        QTest::keyClicks(W<QLineEdit>(window, "edTaskSummary"), QStringLiteral("Office chairs"));
        QTest::keyClick(W<QLineEdit>(window, "edTaskSummary"), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(FindField(window)->hasFocus());
        QTest::keyClicks(FindField(window), QStringLiteral("office"));
        QVERIFY(window.EditorPanel()->Editing());
        QCOMPARE(W<QLineEdit>(window, "edTaskSummary")->text(), QStringLiteral("Office chairs"));
        W<QToolButton>(window, "btnSaveTask")->click();
        QCOMPARE(VisibleIds(window).size(), 4);
        QCOMPARE(W<QLabel>(window, "lblFindCount")->text(), QStringLiteral("4 tasks"));

        W<QToolButton>(window, "btnNewTask")->click();
        QTest::keyClicks(W<QLineEdit>(window, "edTaskSummary"), QStringLiteral("Walk the dog"));
        W<QToolButton>(window, "btnSaveTask")->click();
        QCOMPARE(VisibleIds(window).size(), 4);
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 8);
        QTest::keyClick(FindField(window), Qt::Key_Escape);
        QCOMPARE(VisibleIds(window).size(), 8);
    }
};

QTEST_MAIN(TestFind)
#include "test_find.moc"
