// The task editor of the main window, driven by clicking its real buttons
// over a real database file in a temporary APPDATA: its states and
// transitions, the date row, save, cancel, edit and delete, the tag ticks, a
// save the database refuses, the shortcut while editing, bad input, and the
// reminders the window's timer announces.

#include "app/tasks_form_main.h"
#include "app/tasks_list_view.h"
#include "app/tasks_notifier.h"
#include "app/tasks_splitter.h"
#include "resources/tasks_themes.h"
#include "store/tasks_store.h"
#include "tags/tasks_tags.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_errors.h"

#include "../common/store_rows.h"
#include "window_fixture.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>
#include <memory>
#include <sqlite3.h>

namespace {

const QString kTaskA = QStringLiteral("AAAAAAAAAAAAAAAA");
const QString kTaskB = QStringLiteral("BBBBBBBBBBBBBBBB");
const QString kTaskC = QStringLiteral("CCCCCCCCCCCCCCCC");
const QString kTagRed = QStringLiteral("RRRRRRRRRRRRRRRR");
const QString kTagGreen = QStringLiteral("GGGGGGGGGGGGGGGG");
const QString kTagBlue = QStringLiteral("HHHHHHHHHHHHHHHH");

// Set by the store's commit while a test refuses to read the links after it.
bool gLinksRefused = false;

QStringList LinksOf(const QString& aTaskId)
{
    QStringList links =
        Rows(QStringLiteral("select tagid from tags_tasks where taskid=%1").arg(Quoted(aTaskId)));
    links.sort();
    return links;
}

int RowOf(TfrmTaskList& aWindow, const QString& aId)
{
    for (int row = 0; row < aWindow.ListPanel()->TaskRecords()->Count(); ++row) {
        if (aWindow.ListPanel()->RecordOfRow(row)->taskid == aId)
            return row;
    }
    return -1;
}

void SelectTask(TfrmTaskList& aWindow, const QString& aId,
                QItemSelectionModel::SelectionFlags aFlags = QItemSelectionModel::Select)
{
    const QModelIndex index = ViewIndex(aWindow, RowOf(aWindow, aId));
    Tree(aWindow)->selectionModel()->select(index, aFlags | QItemSelectionModel::Rows);
    aWindow.UpdateControls();
}

// Opens the editor the way a user does: New, or the task selected and Edit.
void OpenEditor(TfrmTaskList& aWindow, bool aCreating, const QString& aId)
{
    if (aCreating) {
        W<QToolButton>(aWindow, "btnNewTask")->click();
    } else {
        SelectTask(aWindow, aId);
        W<QToolButton>(aWindow, "btnEdit")->click();
    }
}

// A user's click on a tag's check box in the editor's tag list.
void ClickTag(TfrmTaskList& aWindow, const QString& aTitle)
{
    QAbstractItemModel* model = W<QTreeView>(aWindow, "vtTags")->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int column = 0; column < model->columnCount(); ++column) {
            if (model->index(row, column).data().toString() == aTitle) {
                QVERIFY(model->setData(model->index(row, 0), QVariant(), Qt::CheckStateRole));
                return;
            }
        }
    }
    QFAIL(qPrintable(QStringLiteral("no tag titled %1").arg(aTitle)));
}

QStringList TickedTags(TfrmTaskList& aWindow)
{
    QStringList ids;
    for (int i = 0; i < aWindow.EditorPanel()->TagsControler()->Count(); ++i) {
        const TtasksTag* tag = aWindow.EditorPanel()->TagsControler()->GetTagByIndex(i);
        if (tag->checked())
            ids << tag->tagid;
    }
    ids.sort();
    return ids;
}

// The radio button of the general panel that is checked, by object name.
QString CheckedChoice(TfrmTaskList& aWindow)
{
    QAbstractButton* checked =
        W<QRadioButton>(aWindow, "rbGeneralUnplanned")->group()->checkedButton();
    return checked ? checked->objectName() : QString();
}

QString PanelShown(TfrmTaskList& aWindow)
{
    const bool general = !W<QWidget>(aWindow, "pnlGeneralDateTime")->isHidden();
    const bool exact = !W<QWidget>(aWindow, "pnlExactDateTime")->isHidden();
    if (general == exact)
        return QStringLiteral("both or none");
    return general ? QStringLiteral("general") : QStringLiteral("exact");
}

// State as "<closed|creating|editing>/<id or empty>/<panel shown>/<status>".
QString EditorState(TfrmTaskList& aWindow)
{
    QString state = !aWindow.EditorPanel()->Editing()   ? QStringLiteral("closed")
                    : aWindow.EditorPanel()->Creating() ? QStringLiteral("creating")
                                                        : QStringLiteral("editing");
    state += QLatin1Char('/') + aWindow.EditorPanel()->EditTaskId();
    const bool panel = W<QWidget>(aWindow, "pnlEditTask")->isVisibleTo(&aWindow);
    // The splitter comes and goes with the panel.
    if (W<TtasksSplitter>(aWindow, "splitterEditTask")->isVisibleTo(&aWindow) != panel)
        state += QStringLiteral("/splitter differs");
    state += panel ? QStringLiteral("/shown/") : QStringLiteral("/hidden/");
    if (aWindow.EditorPanel()->Editing())
        state += W<QLabel>(aWindow, "lblEditStatus")->text();
    return state;
}

// Another program's exclusive lock on the window's database file while it lives.
class TExclusiveLock
{
public:
    TExclusiveLock()
    {
        const QString file = NativePath(GetTasksDB()->Connection().Database);
        sqlite3_open(file.toUtf8().constData(), &FHandle);
        FLocked = sqlite3_exec(FHandle, "begin exclusive", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~TExclusiveLock()
    {
        sqlite3_exec(FHandle, "rollback", nullptr, nullptr, nullptr);
        sqlite3_close(FHandle);
    }
    TExclusiveLock(const TExclusiveLock&) = delete;
    TExclusiveLock& operator=(const TExclusiveLock&) = delete;
    bool Locked() const { return FLocked; }

private:
    sqlite3* FHandle = nullptr;
    bool FLocked = false;
};

QString FirstErrorText()
{
    for (const TkvdMessageBox::TShown& shown : TkvdMessageBox::Shown()) {
        if (shown.Kind == TMsgKind::Error)
            return shown.Text;
    }
    return QStringLiteral("<no error box>");
}

// The editor's questions when a save meets a change made elsewhere, which
// say what each field is now.
QString ChangedQuestion(const QStringList& aNow)
{
    return QStringLiteral("While you edited this task it was changed elsewhere: %1.\n\nReplace "
                          "that with yours? No keeps your entries in the editor and saves "
                          "nothing.")
        .arg(QLocale().createSeparatedList(aNow));
}
// The question when the note typed meets "note from the server".
const QString kServerNoteQuestion =
    ChangedQuestion({QStringLiteral("the note is now \u201Cnote from the server\u201D")});
const QString kDeletedQuestion =
    QStringLiteral("While you edited this task it was deleted elsewhere.\n\nSave your entries "
                   "as a new task? No keeps them in the editor and saves nothing.");

// The texts of the questions asked since the last ClearShown.
QStringList Questions()
{
    QStringList texts;
    for (const TkvdMessageBox::TShown& shown : TkvdMessageBox::Shown()) {
        if (shown.Kind == TMsgKind::Confirmation)
            texts << shown.Text;
    }
    return texts;
}

QDateTime At(int aHour, int aMinute, int aSecond = 0, int aMSec = 0)
{
    return QDateTime(QDate(2026, 5, 8), QTime(aHour, aMinute, aSecond, aMSec));
}

} // namespace

class TestEditor : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TTestEnv> FEnv;
    std::shared_ptr<TtasksRecordingNotifier> FNotifier;

    // Three tags, task A with two of them and a due date-time, task B plain.
    void StandardData()
    {
        AddTag(kTagRed, QStringLiteral("red"));
        AddTag(kTagGreen, QStringLiteral("green"));
        AddTag(kTagBlue, QStringLiteral("blue"));
        AddTask(kTaskA, QStringLiteral("alpha"), QStringLiteral("2026-05-09 16:20:30"), QString(),
                QString(), QStringLiteral("note of alpha"));
        Link(kTaskA, kTagRed);
        Link(kTaskA, kTagGreen);
        AddTask(kTaskB, QStringLiteral("beta"));
    }

private Q_SLOTS:
    void init()
    {
        FEnv = StartWindowTest();
        FNotifier = std::make_shared<TtasksRecordingNotifier>();
        SetTestNotifier(FNotifier);
        SetFixedNow(At(14, 3, 27));
    }
    void cleanup()
    {
        SetTestNotifier({});
        FNotifier.reset();
        EndWindowTest(FEnv);
    }

    // ---------------------------------------------------------------- states

    void statesAndTransitions_data()
    {
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QString>("expected");
        const QString idA = kTaskA;
        QTest::newRow("start") << QStringList() << "closed//hidden/";
        QTest::newRow("New") << QStringList{"new"} << "creating//shown/Creating Task";
        QTest::newRow("New, Cancel") << QStringList{"new", "cancel"} << "closed//hidden/";
        QTest::newRow("New, Save") << QStringList{"new", "save"} << "closed//hidden/";
        QTest::newRow("New, list click") << QStringList{"new", "listclick"} << "closed//hidden/";
        QTest::newRow("Edit") << QStringList{"select", "edit"}
                              << "editing/" + idA + "/shown/Editing Task";
        QTest::newRow("Edit, Cancel")
            << QStringList{"select", "edit", "cancel"} << "closed//hidden/";
        QTest::newRow("Edit, Save") << QStringList{"select", "edit", "save"} << "closed//hidden/";
        QTest::newRow("Edit menu item")
            << QStringList{"select", "edititem"} << "editing/" + idA + "/shown/Editing Task";
        QTest::newRow("double click")
            << QStringList{"dblclick"} << "editing/" + idA + "/shown/Editing Task";
        QTest::newRow("double click, then a click in the list")
            << QStringList{"dblclick", "listclick"} << "closed//hidden/";
        QTest::newRow("Edit without selection") << QStringList{"edit"} << "closed//hidden/";
        QTest::newRow("New menu item") << QStringList{"newitem"} << "creating//shown/Creating Task";
        QTest::newRow("tray New Task") << QStringList{"traynew"} << "creating//shown/Creating Task";
        QTest::newRow("shortcut") << QStringList{"shortcut"} << "creating//shown/Creating Task";
        QTest::newRow("New, close button hides")
            << QStringList{"new", "close"} << "closed//hidden/";
        QTest::newRow("Edit, close button hides")
            << QStringList{"select", "edit", "close"} << "closed//hidden/";
    }
    void statesAndTransitions()
    {
        QFETCH(QStringList, clicks);
        QFETCH(QString, expected);
        StandardData();
        TfrmTaskList window;
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (const QString& click : clicks) {
            if (click == QLatin1String("new"))
                W<QToolButton>(window, "btnNewTask")->click();
            else if (click == QLatin1String("newitem"))
                W<QAction>(window, "itTreeNewTask")->trigger();
            else if (click == QLatin1String("traynew"))
                W<QAction>(window, "itTrayNewTask")->trigger();
            else if (click == QLatin1String("shortcut"))
                QTest::keyClick(Tree(window), Qt::Key_Q, Qt::ControlModifier | Qt::ShiftModifier);
            else if (click == QLatin1String("select"))
                SelectTask(window, kTaskA);
            else if (click == QLatin1String("edit"))
                W<QToolButton>(window, "btnEdit")->click();
            else if (click == QLatin1String("edititem"))
                W<QAction>(window, "itTreeEditTask")->trigger();
            else if (click == QLatin1String("save"))
                W<QToolButton>(window, "btnSaveTask")->click();
            else if (click == QLatin1String("cancel"))
                W<QToolButton>(window, "btnCancelEdit")->click();
            else if (click == QLatin1String("close"))
                window.close();
            else if (click == QLatin1String("listclick") || click == QLatin1String("dblclick")) {
                const QRect rect =
                    Tree(window)->visualRect(ViewIndex(window, RowOf(window, kTaskA), 1));
                QVERIFY(rect.isValid());
                if (click == QLatin1String("listclick"))
                    QTest::mouseClick(Tree(window)->viewport(), Qt::LeftButton, {}, rect.center());
                else {
                    // As the window system delivers it: the second press comes
                    // as a double click and its release follows.
                    QTest::mouseDClick(Tree(window)->viewport(), Qt::LeftButton, {}, rect.center());
                    QTest::mouseRelease(Tree(window)->viewport(), Qt::LeftButton, {},
                                        rect.center());
                }
            }
        }
        QCOMPARE(EditorState(window), expected);
        // Only the open editor saves and cancels; only the closed one offers
        // New, and Edit and Delete when a task is selected.
        QCOMPARE(W<QToolButton>(window, "btnSaveTask")->isEnabled(),
                 window.EditorPanel()->Editing());
        QCOMPARE(W<QToolButton>(window, "btnCancelEdit")->isEnabled(),
                 window.EditorPanel()->Editing());
        QCOMPARE(W<QToolButton>(window, "btnNewTask")->isEnabled(),
                 !window.EditorPanel()->Editing());
        QCOMPARE(W<QAction>(window, "itTrayNewTask")->isEnabled(),
                 !window.EditorPanel()->Editing());
        QCOMPARE(W<QToolButton>(window, "btnEdit")->isEnabled(),
                 !window.EditorPanel()->Editing() && window.ListPanel()->SelectedTask());
        QCOMPARE(W<QToolButton>(window, "btnDeleteTask")->isEnabled(),
                 !window.EditorPanel()->Editing() && window.ListPanel()->SelectedTask());
        if (window.EditorPanel()->Editing() && window.isVisible())
            QCOMPARE(QApplication::focusWidget(),
                     static_cast<QWidget*>(W<QLineEdit>(window, "edTaskSummary")));
    }

    // The editor's controls from top to bottom, their captions and sizes.
    void editorLayout()
    {
        TfrmTaskList window;
        window.show();
        W<QToolButton>(window, "btnNewTask")->click();
        QWidget* panel = W<QWidget>(window, "pnlEditTask");
        QCOMPARE(panel->objectName(), QStringLiteral("pnlEditTask"));
        QCOMPARE(panel->height(), 300);
        const QList<QPair<QWidget*, QString>> rows = {
            {W<QLabel>(window, "lblEditStatus"), QStringLiteral("lblEditStatus")},
            {W<QLabel>(window, "lblTaskSummary"), QStringLiteral("lblTaskSummary")},
            {W<QLineEdit>(window, "edTaskSummary"), QStringLiteral("edTaskSummary")},
            {W<QLabel>(window, "lblTaskNotes"), QStringLiteral("lblTaskNotes")},
            {W<QPlainTextEdit>(window, "edTaskNote"), QStringLiteral("edTaskNote")},
            {W<QLabel>(window, "lblTags"), QStringLiteral("lblTags")},
            {W<QTreeView>(window, "vtTags"), QStringLiteral("vtTags")},
            {W<QLabel>(window, "lblTaskDueDatetime"), QStringLiteral("lblTaskDueDatetime")},
            {W<QWidget>(window, "pnlDateTime"), QStringLiteral("pnlDateTime")}};
        int top = -1;
        for (const auto& [widget, name] : rows) {
            QCOMPARE(widget->objectName(), name);
            QVERIFY2(widget->parentWidget() == panel, qPrintable(name));
            QVERIFY2(widget->geometry().top() > top, qPrintable(name));
            top = widget->geometry().top();
        }
        QVERIFY(W<QLabel>(window, "lblEditStatus")->font().bold());
        QCOMPARE(W<QLabel>(window, "lblTaskSummary")->text(), QStringLiteral("Summary"));
        QCOMPARE(W<QLabel>(window, "lblTaskNotes")->text(), QStringLiteral("Note"));
        QCOMPARE(W<QLabel>(window, "lblTags")->text(), QStringLiteral("Tags"));
        QCOMPARE(W<QLabel>(window, "lblTaskDueDatetime")->text(), QStringLiteral("Due Date Time"));
        QCOMPARE(W<QTreeView>(window, "vtTags")->height(), 90);
        QCOMPARE(W<QWidget>(window, "pnlDateTime")->height(), 34);
        QCOMPARE(W<TtasksSplitter>(window, "splitterEditTask")->height(), 5);
        QCOMPARE(W<TtasksSplitter>(window, "splitterEditTask")->geometry().bottom() + 1,
                 panel->geometry().top());

        // The exact panel: date, time with seconds, "General Date".
        QCOMPARE(W<QWidget>(window, "pnlExactDateTime")->objectName(),
                 QStringLiteral("pnlExactDateTime"));
        QCOMPARE(W<QDateEdit>(window, "edTaskDueDate")->objectName(),
                 QStringLiteral("edTaskDueDate"));
        QVERIFY(W<QDateEdit>(window, "edTaskDueDate")->calendarPopup());
        QCOMPARE(W<QTimeEdit>(window, "edTaskDueTime")->objectName(),
                 QStringLiteral("edTaskDueTime"));
        QVERIFY(
            W<QTimeEdit>(window, "edTaskDueTime")->displayFormat().contains(QStringLiteral("ss")));
        QCOMPARE(W<QCheckBox>(window, "cbxGeneralDatetime")->objectName(),
                 QStringLiteral("cbxGeneralDatetime"));
        QCOMPARE(W<QCheckBox>(window, "cbxGeneralDatetime")->text(),
                 QStringLiteral("General Date"));
        // The general panel: one exclusive group, left to right.
        QCOMPARE(W<QWidget>(window, "pnlGeneralDateTime")->objectName(),
                 QStringLiteral("pnlGeneralDateTime"));
        QVERIFY(W<QRadioButton>(window, "rbGeneralUnplanned")->group()->exclusive());
        QStringList radios;
        int left = -1;
        for (QRadioButton* radio :
             {W<QRadioButton>(window, "rbGeneralUnplanned"),
              W<QRadioButton>(window, "rbGeneralHour"), W<QRadioButton>(window, "rbGeneral4Hours"),
              W<QRadioButton>(window, "rbGeneralTomorrow"),
              W<QRadioButton>(window, "rbGeneralExact")}) {
            QCOMPARE(radio->group(), W<QRadioButton>(window, "rbGeneralUnplanned")->group());
            QCOMPARE(radio->parentWidget(), W<QWidget>(window, "pnlGeneralDateTime"));
            QVERIFY(radio->geometry().left() > left ||
                    W<QWidget>(window, "pnlGeneralDateTime")->isHidden());
            left = radio->geometry().left();
            radios << radio->objectName() + '=' + radio->text();
        }
        QCOMPARE(radios.join(QLatin1Char('|')),
                 QStringLiteral("rbGeneralUnplanned=Unplanned|rbGeneralHour=Hour|"
                                "rbGeneral4Hours=4 Hours|rbGeneralTomorrow=Tomorrow|"
                                "rbGeneralExact=Exact"));
    }

    // ---------------------------------------------------------------- date row

    void newTaskDateRowFollowsDefault_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QString>("checked");
        QTest::newRow("0 unplanned") << 0 << "general"
                                     << "rbGeneralUnplanned";
        QTest::newRow("1 hour") << 1 << "general"
                                << "rbGeneralHour";
        QTest::newRow("2 four hours") << 2 << "general"
                                      << "rbGeneral4Hours";
        QTest::newRow("3 tomorrow") << 3 << "general"
                                    << "rbGeneralTomorrow";
        QTest::newRow("4 exact") << 4 << "exact"
                                 << "";
        QTest::newRow("9 out of range") << 9 << "general"
                                        << "rbGeneralUnplanned";
    }
    void newTaskDateRowFollowsDefault()
    {
        QFETCH(int, choice);
        QFETCH(QString, panel);
        QFETCH(QString, checked);
        TfrmTaskList window;
        default_duedatetime = choice;
        W<QToolButton>(window, "btnNewTask")->click();
        QCOMPARE(PanelShown(window), panel);
        if (panel == QLatin1String("general")) {
            QCOMPARE(CheckedChoice(window), checked);
        } else {
            // Today and the time of day as it is, with seconds, not rounded.
            QCOMPARE(W<QDateEdit>(window, "edTaskDueDate")->date(), QDate(2026, 5, 8));
            QCOMPARE(W<QTimeEdit>(window, "edTaskDueTime")->time(), QTime(14, 3, 27));
            QVERIFY(!W<QCheckBox>(window, "cbxGeneralDatetime")->isChecked());
        }
    }

    void generalDateAndExactSwitchPanels()
    {
        StandardData();
        default_duedatetime = 2;
        TfrmTaskList window;
        window.show();
        SelectTask(window, kTaskA);
        W<QToolButton>(window, "btnEdit")->click();
        QCOMPARE(PanelShown(window), QStringLiteral("exact"));
        QCOMPARE(W<QDateEdit>(window, "edTaskDueDate")->date(), QDate(2026, 5, 9));
        QCOMPARE(W<QTimeEdit>(window, "edTaskDueTime")->time(), QTime(16, 20, 30));
        QVERIFY(!W<QCheckBox>(window, "cbxGeneralDatetime")->isChecked());

        QTest::mouseClick(W<QCheckBox>(window, "cbxGeneralDatetime"), Qt::LeftButton);
        QCOMPARE(PanelShown(window), QStringLiteral("general"));
        QCOMPARE(CheckedChoice(window), QStringLiteral("rbGeneral4Hours"));

        QTest::mouseClick(W<QRadioButton>(window, "rbGeneralExact"), Qt::LeftButton);
        QCOMPARE(PanelShown(window), QStringLiteral("exact"));
        QVERIFY(!W<QCheckBox>(window, "cbxGeneralDatetime")->isChecked());
        // The pickers come back as they were.
        QCOMPARE(W<QDateEdit>(window, "edTaskDueDate")->date(), QDate(2026, 5, 9));
        QCOMPARE(W<QTimeEdit>(window, "edTaskDueTime")->time(), QTime(16, 20, 30));
    }

    // An unplanned task's "Exact" starts from the rounded now, not 30.12.1899.
    void unplannedTaskOffersNowOnTheExactPanel()
    {
        StandardData();
        TfrmTaskList window;
        window.show();
        SelectTask(window, kTaskB);
        W<QToolButton>(window, "btnEdit")->click();
        QCOMPARE(PanelShown(window), QStringLiteral("general"));
        QTest::mouseClick(W<QRadioButton>(window, "rbGeneralExact"), Qt::LeftButton);
        QCOMPARE(PanelShown(window), QStringLiteral("exact"));
        QCOMPARE(W<QDateEdit>(window, "edTaskDueDate")->date(), QDate(2026, 5, 8));
        QCOMPARE(W<QTimeEdit>(window, "edTaskDueTime")->time(), QTime(14, 0));
    }

    // ---------------------------------------------------------------- save

    void newTaskIsSavedWithIdDueAndTags_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QString>("due");
        // Now is 14:03:27; step 10, night 22 to 7.
        QTest::newRow("Unplanned") << 0 << "<null>";
        QTest::newRow("Hour") << 1 << "2026-05-08 15:00:00";
        QTest::newRow("4 Hours") << 2 << "2026-05-08 18:00:00";
        QTest::newRow("Tomorrow") << 3 << "2026-05-09 14:00:00";
        QTest::newRow("exact, now") << 4 << "2026-05-08 14:03:27";
    }
    void newTaskIsSavedWithIdDueAndTags()
    {
        QFETCH(int, choice);
        QFETCH(QString, due);
        StandardData();
        default_duedatetime = choice;
        TfrmTaskList window;
        window.show();
        W<QToolButton>(window, "btnNewTask")->click();
        QTest::keyClicks(W<QLineEdit>(window, "edTaskSummary"),
                         QStringLiteral("  call the office "));
        W<QPlainTextEdit>(window, "edTaskNote")
            ->setPlainText(QStringLiteral("first line\nsecond line"));
        ClickTag(window, QStringLiteral("red"));
        ClickTag(window, QStringLiteral("blue"));
        W<QToolButton>(window, "btnSaveTask")->click();

        QCOMPARE(EditorState(window), QStringLiteral("closed//hidden/"));
        QCOMPARE(ErrorBoxes(), 0);
        const QStringList rows = Rows(QStringLiteral(
            "select taskid, summary, note, duedt, createddt is not null, finisheddt from tasks "
            "where taskid not in ('AAAAAAAAAAAAAAAA', 'BBBBBBBBBBBBBBBB')"));
        QCOMPARE(rows.size(), 1);
        const QStringList columns = rows[0].split(QLatin1Char('|'));
        const QString id = columns[0];
        QVERIFY2(QRegularExpression(QStringLiteral("^[A-Ya-y]{16}$")).match(id).hasMatch(),
                 qPrintable(id));
        // The summary as typed, not trimmed.
        QCOMPARE(columns.mid(1), QStringList({"  call the office ", "first line\nsecond line", due,
                                              "1", "<null>"}));
        QCOMPARE(LinksOf(id), QStringList({kTagBlue, kTagRed}));
        // The list was reloaded and shows it.
        QVERIFY(RecordById(window, id));
        QCOMPARE(RecordById(window, id)->summary, QStringLiteral("  call the office "));
    }

    void editedTaskIsUpdatedInPlace()
    {
        StandardData();
        TfrmTaskList window;
        window.show();
        SelectTask(window, kTaskA);
        W<QToolButton>(window, "btnEdit")->click();
        QCOMPARE(W<QLineEdit>(window, "edTaskSummary")->text(), QStringLiteral("alpha"));
        QCOMPARE(W<QPlainTextEdit>(window, "edTaskNote")->toPlainText(),
                 QStringLiteral("note of alpha"));
        QCOMPARE(TickedTags(window), QStringList({kTagGreen, kTagRed}));

        W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("alpha changed"));
        W<QPlainTextEdit>(window, "edTaskNote")->clear();
        W<QTimeEdit>(window, "edTaskDueTime")->setTime(QTime(8, 0, 5));
        ClickTag(window, QStringLiteral("green"));
        ClickTag(window, QStringLiteral("blue"));
        W<QToolButton>(window, "btnSaveTask")->click();

        QCOMPARE(EditorState(window), QStringLiteral("closed//hidden/"));
        QCOMPARE(Rows(QStringLiteral("select summary, note, duedt from tasks where taskid=%1")
                          .arg(Quoted(kTaskA))),
                 QStringList{QStringLiteral("alpha changed||2026-05-09 08:00:05")});
        QCOMPARE(LinksOf(kTaskA), QStringList({kTagBlue, kTagRed}));
        QCOMPARE(One(QStringLiteral("select count(*) from tasks")), QStringLiteral("2"));
        QCOMPARE(RecordById(window, kTaskA)->summary, QStringLiteral("alpha changed"));
    }

    void unplannedTaskGetsTheDefaultChoiceWhenSaved()
    {
        StandardData();
        default_duedatetime = 1;
        TfrmTaskList window;
        window.show();
        SelectTask(window, kTaskB);
        W<QToolButton>(window, "btnEdit")->click();
        QCOMPARE(PanelShown(window), QStringLiteral("general"));
        QCOMPARE(CheckedChoice(window), QStringLiteral("rbGeneralHour"));
        // "Hour" means an hour from the moment of saving.
        SetFixedNow(At(21, 30));
        W<QToolButton>(window, "btnSaveTask")->click();
        QCOMPARE(One(QStringLiteral("select duedt from tasks where taskid=%1").arg(Quoted(kTaskB))),
                 QStringLiteral("2026-05-09 07:30:00"));
    }

    void untickingAllRemovesEveryLink()
    {
        StandardData();
        TfrmTaskList window;
        window.show();
        SelectTask(window, kTaskA);
        W<QToolButton>(window, "btnEdit")->click();
        ClickTag(window, QStringLiteral("red"));
        ClickTag(window, QStringLiteral("green"));
        QVERIFY(TickedTags(window).isEmpty());
        W<QToolButton>(window, "btnSaveTask")->click();
        QVERIFY(LinksOf(kTaskA).isEmpty());
        QVERIFY(RecordById(window, kTaskA)->tagsids.isEmpty());
    }

    // ---------------------------------------------------------------- changed elsewhere

    // The database changes behind the open editor, as a sync writes it: a
    // save writes only what the user changed, keeps the rest, and replaces a
    // change made elsewhere only when the user says so.
    void saveKeepsWhatChangedElsewhere_data()
    {
        QTest::addColumn<QString>("task");
        // What the user types; a null QVariant leaves the field alone. The
        // due time is set on the exact panel.
        QTest::addColumn<QVariant>("summary");
        QTest::addColumn<QVariant>("note");
        QTest::addColumn<QVariant>("dueTime");
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QStringList>("elsewhere");
        // The answer queued for a question; NoButton queues none.
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("questions");
        QTest::addColumn<bool>("staysOpen");
        // "is task A|summary|note|due" of every task, by summary.
        QTest::addColumn<QStringList>("tasks");
        // "summary|tag id" of every link.
        QTest::addColumn<QStringList>("links");
        const QVariant none;
        const QString a = kTaskA;
        const auto setA = [&](const QString& aAssignments) {
            return QStringLiteral("update tasks set %1 where taskid='%2'").arg(aAssignments, a);
        };
        const QString serverNote = setA(QStringLiteral("note='note from the server'"));
        const QString beta = QStringLiteral("0|beta|<null>|<null>");
        const QString due = QStringLiteral("2026-05-09 16:20:30");
        const auto linksOf = [](const QString& aSummary, const QStringList& aTags) {
            QStringList links;
            for (const QString& tag : aTags)
                links << aSummary + QLatin1Char('|') + tag;
            return links;
        };
        const QStringList deleteA = {
            QStringLiteral("delete from tags_tasks where taskid='%1'").arg(a),
            QStringLiteral("delete from tasks where taskid='%1'").arg(a)};
        const int no = QMessageBox::No;
        const int yes = QMessageBox::Yes;
        const int unanswered = QMessageBox::NoButton;

        QTest::newRow("summary typed, note changed elsewhere")
            << a << QVariant("alpha typed") << none << none << QStringList()
            << QStringList{serverNote} << unanswered << QStringList() << false
            << QStringList{"1|alpha typed|note from the server|" + due, beta}
            << linksOf("alpha typed", {kTagGreen, kTagRed});
        QTest::newRow("note typed, due date changed elsewhere")
            << a << none << QVariant("typed note") << none << QStringList()
            << QStringList{setA("duedt='2026-06-01 10:00:00'")} << unanswered << QStringList()
            << false << QStringList{"1|alpha|typed note|2026-06-01 10:00:00", beta}
            << linksOf("alpha", {kTagGreen, kTagRed});
        QTest::newRow("note typed, note changed elsewhere, Yes")
            << a << none << QVariant("typed note") << none << QStringList()
            << QStringList{serverNote} << yes << QStringList{kServerNoteQuestion} << false
            << QStringList{"1|alpha|typed note|" + due, beta}
            << linksOf("alpha", {kTagGreen, kTagRed});
        QTest::newRow("note typed, note changed elsewhere, No")
            << a << none << QVariant("typed note") << none << QStringList()
            << QStringList{serverNote} << no << QStringList{kServerNoteQuestion} << true
            << QStringList{"1|alpha|note from the server|" + due, beta}
            << linksOf("alpha", {kTagGreen, kTagRed});
        // The question's default replaces nothing.
        QTest::newRow("note typed, note changed elsewhere, unanswered")
            << a << none << QVariant("typed note") << none << QStringList()
            << QStringList{serverNote} << unanswered << QStringList{kServerNoteQuestion} << true
            << QStringList{"1|alpha|note from the server|" + due, beta}
            << linksOf("alpha", {kTagGreen, kTagRed});
        QTest::newRow("summary, note and due typed; summary and due changed elsewhere, Yes")
            << a << QVariant("alpha typed") << QVariant("typed note") << QVariant(QTime(8, 0, 5))
            << QStringList()
            << QStringList{setA("summary='from the server', duedt='2026-06-01 10:00:00'")} << yes
            << QStringList{ChangedQuestion(
                   {QStringLiteral("the summary is now \u201Cfrom the server\u201D"),
                    QStringLiteral("the due date is now ") +
                        QLocale().toString(QDateTime(QDate(2026, 6, 1), QTime(10, 0)),
                                           QLocale::ShortFormat)})}
            << false << QStringList{"1|alpha typed|typed note|2026-05-09 08:00:05", beta}
            << linksOf("alpha typed", {kTagGreen, kTagRed});
        QTest::newRow("tags ticked and unticked while a tag was linked elsewhere")
            << a << none << none << none << QStringList{"green", "blue"}
            << QStringList{QStringLiteral("insert into tags (tagid, title) values "
                                          "('SSSSSSSSSSSSSSSS', 'from the server')"),
                           QStringLiteral("insert into tags_tasks (tagid, taskid) values "
                                          "('SSSSSSSSSSSSSSSS', '%1')")
                               .arg(a)}
            << unanswered << QStringList() << false
            << QStringList{"1|alpha|note of alpha|" + due, beta}
            << linksOf("alpha", {kTagBlue, kTagRed, "SSSSSSSSSSSSSSSS"});
        // The general panel shows the unplanned task's default choice,
        // "Unplanned": the due date-time is untouched.
        QTest::newRow("unplanned task, summary typed, due date set elsewhere")
            << kTaskB << QVariant("beta typed") << none << none << QStringList()
            << QStringList{QStringLiteral("update tasks set duedt='2026-06-01 10:00:00' where "
                                          "taskid='%1'")
                               .arg(kTaskB)}
            << unanswered << QStringList() << false
            << QStringList{"1|alpha|note of alpha|" + due,
                           "0|beta typed|<null>|2026-06-01 10:00:00"}
            << linksOf("alpha", {kTagGreen, kTagRed});
        QTest::newRow("deleted elsewhere, Yes: stored as a new task")
            << a << QVariant("alpha typed") << none << none << QStringList{"blue"} << deleteA << yes
            << QStringList{kDeletedQuestion} << false
            << QStringList{"0|alpha typed|note of alpha|" + due, beta}
            << linksOf("alpha typed", {kTagGreen, kTagBlue, kTagRed});
        QTest::newRow("deleted elsewhere, No")
            << a << QVariant("alpha typed") << none << none << QStringList{"blue"} << deleteA << no
            << QStringList{kDeletedQuestion} << true << QStringList{beta} << QStringList();
    }
    void saveKeepsWhatChangedElsewhere()
    {
        QFETCH(QString, task);
        QFETCH(QVariant, summary);
        QFETCH(QVariant, note);
        QFETCH(QVariant, dueTime);
        QFETCH(QStringList, clicks);
        QFETCH(QStringList, elsewhere);
        QFETCH(int, answer);
        QFETCH(QStringList, questions);
        QFETCH(bool, staysOpen);
        QFETCH(QStringList, tasks);
        QFETCH(QStringList, links);
        StandardData();
        TfrmTaskList window;
        window.show();
        OpenEditor(window, false, task);
        if (!summary.isNull())
            W<QLineEdit>(window, "edTaskSummary")->setText(summary.toString());
        if (!note.isNull())
            W<QPlainTextEdit>(window, "edTaskNote")->setPlainText(note.toString());
        if (!dueTime.isNull())
            W<QTimeEdit>(window, "edTaskDueTime")->setTime(dueTime.toTime());
        for (const QString& title : clicks)
            ClickTag(window, title);
        const QString typedSummary = W<QLineEdit>(window, "edTaskSummary")->text();
        const QString typedNote = W<QPlainTextEdit>(window, "edTaskNote")->toPlainText();
        const QStringList ticks = TickedTags(window);
        for (const QString& statement : elsewhere)
            Sql(statement);
        if (answer != QMessageBox::NoButton)
            TkvdMessageBox::SetNextAnswer(QMessageBox::StandardButton(answer));

        W<QToolButton>(window, "btnSaveTask")->click();

        QCOMPARE(ErrorBoxes(), 0);
        QCOMPARE(Questions(), questions);
        QCOMPARE(window.EditorPanel()->Editing(), staysOpen);
        QCOMPARE(Rows(QStringLiteral("select taskid='%1', summary, note, duedt from tasks order "
                                     "by summary")
                          .arg(kTaskA)),
                 tasks);
        QCOMPARE(Rows(QStringLiteral("select ts.summary, tt.tagid from tags_tasks tt join tasks ts "
                                     "on ts.taskid=tt.taskid order by ts.summary, tt.tagid")),
                 links);
        if (staysOpen) {
            // Nothing typed or ticked is lost, and the editor still edits the task.
            QCOMPARE(window.EditorPanel()->EditTaskId(), task);
            QCOMPARE(W<QLineEdit>(window, "edTaskSummary")->text(), typedSummary);
            QCOMPARE(W<QPlainTextEdit>(window, "edTaskNote")->toPlainText(), typedNote);
            QCOMPARE(TickedTags(window), ticks);
            return;
        }
        // The list shows what is stored, the task deleted elsewhere no more.
        QStringList listed;
        for (int row = 0; row < window.ListPanel()->TaskRecords()->Count(); ++row) {
            const TTaskRecord* record = window.ListPanel()->RecordOfRow(row);
            listed << record->summary + QLatin1Char('|') + record->note;
        }
        listed.sort();
        QCOMPARE(listed, Rows(QStringLiteral("select summary, coalesce(note, '') from tasks order "
                                             "by summary")));
    }

    // A conflict answered No keeps the editor; a second save asks again, and
    // Yes then stores what was typed.
    void saveAfterNoAsksAgain()
    {
        StandardData();
        TfrmTaskList window;
        window.show();
        OpenEditor(window, false, kTaskA);
        W<QPlainTextEdit>(window, "edTaskNote")->setPlainText(QStringLiteral("typed note"));
        Sql(QStringLiteral("update tasks set note='note from the server'"));
        TkvdMessageBox::SetNextAnswer(QMessageBox::No);
        W<QToolButton>(window, "btnSaveTask")->click();
        QVERIFY(window.EditorPanel()->Editing());
        TkvdMessageBox::SetNextAnswer(QMessageBox::Yes);
        W<QToolButton>(window, "btnSaveTask")->click();
        QCOMPARE(Questions(), QStringList(2, kServerNoteQuestion));
        QVERIFY(!window.EditorPanel()->Editing());
        QCOMPARE(One(QStringLiteral("select note from tasks where taskid=%1").arg(Quoted(kTaskA))),
                 QStringLiteral("typed note"));
        QCOMPARE(RecordById(window, kTaskA)->note, QStringLiteral("typed note"));
    }

    // ---------------------------------------------------------------- cancel, tags

    void cancelWritesNothingAndEmptiesTheFields()
    {
        StandardData();
        TfrmTaskList window;
        window.show();
        const QStringList before = Rows(QStringLiteral("select * from tasks order by taskid"));
        W<QToolButton>(window, "btnNewTask")->click();
        QTest::keyClicks(W<QLineEdit>(window, "edTaskSummary"), QStringLiteral("never stored"));
        W<QPlainTextEdit>(window, "edTaskNote")->setPlainText(QStringLiteral("nor this"));
        W<QToolButton>(window, "btnCancelEdit")->click();
        QCOMPARE(Rows(QStringLiteral("select * from tasks order by taskid")), before);
        QVERIFY(W<QLineEdit>(window, "edTaskSummary")->text().isEmpty());
        QVERIFY(W<QPlainTextEdit>(window, "edTaskNote")->toPlainText().isEmpty());

        SelectTask(window, kTaskA);
        W<QToolButton>(window, "btnEdit")->click();
        W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("changed"));
        W<QToolButton>(window, "btnCancelEdit")->click();
        QCOMPARE(Rows(QStringLiteral("select * from tasks order by taskid")), before);
        QCOMPARE(LinksOf(kTaskA), QStringList({kTagGreen, kTagRed}));
    }

    void ticksOutliveCancelUntilTheTagsReload()
    {
        StandardData();
        TfrmTaskList window;
        window.show();
        SelectTask(window, kTaskA);
        W<QToolButton>(window, "btnEdit")->click();
        W<QToolButton>(window, "btnCancelEdit")->click();
        // The check list keeps the ticks of the task last opened.
        W<QToolButton>(window, "btnNewTask")->click();
        QCOMPARE(TickedTags(window), QStringList({kTagGreen, kTagRed}));
        // Editing another task sets every tag: those of the other task go.
        W<QToolButton>(window, "btnCancelEdit")->click();
        Link(kTaskB, kTagBlue);
        window.ListPanel()->LoadTasks(window.ListPanel()->CurrentTag());
        SelectTask(window, kTaskB);
        W<QToolButton>(window, "btnEdit")->click();
        QCOMPARE(TickedTags(window), QStringList({kTagBlue}));
        // Reloading the tags (as the settings dialog does) unticks all, also
        // in the open editor.
        window.LoadTagTabs();
        QVERIFY(window.EditorPanel()->Editing());
        QVERIFY(TickedTags(window).isEmpty());
    }

    // ---------------------------------------------------------------- delete

    void deleteRemovesTheTopmostSelectedTaskAndItsLinks()
    {
        StandardData();
        AddTask(kTaskC, QStringLiteral("gamma"), QStringLiteral("2026-05-10 09:00:00"));
        Link(kTaskC, kTagBlue);
        TfrmTaskList window;
        window.show();
        // The list is in due order, the unplanned first: B, A, C. Of A and C,
        // selected last first, A is the topmost.
        SelectTask(window, kTaskC);
        SelectTask(window, kTaskA);
        QCOMPARE(window.ListPanel()->SelectedTask()->taskid, kTaskA);
        W<QToolButton>(window, "btnDeleteTask")->click();
        QCOMPARE(ErrorBoxes(), 0);
        QCOMPARE(Rows(QStringLiteral("select taskid from tasks order by taskid")),
                 QStringList({kTaskB, kTaskC}));
        QVERIFY(LinksOf(kTaskA).isEmpty());
        QCOMPARE(LinksOf(kTaskC), QStringList{kTagBlue});
        QVERIFY(!RecordById(window, kTaskA));
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 2);

        // The list menu's item does the same.
        SelectTask(window, kTaskC, QItemSelectionModel::ClearAndSelect);
        W<QAction>(window, "itTreeDeleteTask")->trigger();
        QCOMPARE(Rows(QStringLiteral("select taskid from tasks")), QStringList{kTaskB});
    }

    void deleteWithoutSelectionDoesNothing()
    {
        StandardData();
        TfrmTaskList window;
        window.EditorPanel()->btnDeleteTaskClick();
        QCOMPARE(One(QStringLiteral("select count(*) from tasks")), QStringLiteral("2"));
        QCOMPARE(ErrorBoxes(), 0);
    }

    void refusedDeleteIsReportedAndKeepsTheTask()
    {
        StandardData();
        Sql(QStringLiteral("CREATE TRIGGER refuse_delete BEFORE DELETE ON tasks BEGIN SELECT "
                           "RAISE(ABORT,'refused'); END;"));
        TfrmTaskList window;
        window.show();
        SelectTask(window, kTaskA);
        W<QToolButton>(window, "btnDeleteTask")->click();
        QCOMPARE(ErrorBoxes(), 1);
        // The links went in the same transaction, so they are back too.
        QCOMPARE(LinksOf(kTaskA), QStringList({kTagGreen, kTagRed}));
        QVERIFY(RecordById(window, kTaskA));
    }

    // ---------------------------------------------------------------- refused save

    void refusedSaveKeepsTheEditorAndStoresNothing_data()
    {
        QTest::addColumn<bool>("creating");
        QTest::addColumn<QString>("trigger");
        QTest::newRow("new task, row refused") << true << "BEFORE INSERT ON tasks";
        QTest::newRow("new task, link refused") << true << "BEFORE INSERT ON tags_tasks";
        QTest::newRow("stored task, row refused") << false << "BEFORE UPDATE ON tasks";
        QTest::newRow("stored task, link refused") << false << "BEFORE INSERT ON tags_tasks";
        QTest::newRow("stored task, unlink refused") << false << "BEFORE DELETE ON tags_tasks";
    }
    void refusedSaveKeepsTheEditorAndStoresNothing()
    {
        QFETCH(bool, creating);
        QFETCH(QString, trigger);
        StandardData();
        Sql(QStringLiteral("CREATE TRIGGER refuse %1 BEGIN SELECT RAISE(ABORT,'refused'); END;")
                .arg(trigger));
        const QStringList tasksBefore = Rows(QStringLiteral("select * from tasks order by taskid"));
        const QStringList linksBefore =
            Rows(QStringLiteral("select * from tags_tasks order by taskid, tagid"));
        TfrmTaskList window;
        window.show();
        OpenEditor(window, creating, kTaskA);
        const QString stateBefore = EditorState(window);
        const QString summary = QStringLiteral("typed summary");
        const QString note = QStringLiteral("typed\nnote");
        W<QLineEdit>(window, "edTaskSummary")->setText(summary);
        W<QPlainTextEdit>(window, "edTaskNote")->setPlainText(note);
        // A tag ticked and, on the stored task, one unticked: its save both
        // links and unlinks.
        ClickTag(window, QStringLiteral("blue"));
        ClickTag(window, QStringLiteral("red"));
        const QStringList ticks = TickedTags(window);
        QVERIFY(!ticks.isEmpty());
        const QStringList listBefore = [&] {
            QStringList ids;
            for (int row = 0; row < window.ListPanel()->TaskRecords()->Count(); ++row)
                ids << window.ListPanel()->RecordOfRow(row)->taskid + '=' +
                           window.ListPanel()->RecordOfRow(row)->summary;
            return ids;
        }();

        W<QToolButton>(window, "btnSaveTask")->click();

        QCOMPARE(ErrorBoxes(), 1);
        QCOMPARE(EditorState(window), stateBefore);
        QCOMPARE(W<QLineEdit>(window, "edTaskSummary")->text(), summary);
        QCOMPARE(W<QPlainTextEdit>(window, "edTaskNote")->toPlainText(), note);
        QCOMPARE(TickedTags(window), ticks);
        QCOMPARE(Rows(QStringLiteral("select * from tasks order by taskid")), tasksBefore);
        QCOMPARE(Rows(QStringLiteral("select * from tags_tasks order by taskid, tagid")),
                 linksBefore);
        QStringList listAfter;
        for (int row = 0; row < window.ListPanel()->TaskRecords()->Count(); ++row)
            listAfter << window.ListPanel()->RecordOfRow(row)->taskid + '=' +
                             window.ListPanel()->RecordOfRow(row)->summary;
        QCOMPARE(listAfter, listBefore);

        // Once the database accepts again, the same editor saves it all.
        Sql(QStringLiteral("DROP TRIGGER refuse"));
        W<QToolButton>(window, "btnSaveTask")->click();
        QCOMPARE(ErrorBoxes(), 1);
        QVERIFY(!window.EditorPanel()->Editing());
        const QString id =
            One(QStringLiteral("select taskid from tasks where summary=%1").arg(Quoted(summary)));
        QVERIFY(!id.isEmpty());
        if (!creating)
            QCOMPARE(id, kTaskA);
        QCOMPARE(LinksOf(id), ticks);
        QCOMPARE(One(QStringLiteral("select count(*) from tasks")),
                 QString::number(creating ? 3 : 2));
    }

    // ---------------------------------------------------------------- failure reasons

    // Each store failure the window reports says what failed, then why.
    void storeFailuresNameTheirReason_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("text");
        const QString saved = QStringLiteral("The task could not be saved. Nothing of it was "
                                             "stored; the editor keeps your entries.");
        const QString read = QStringLiteral("The task could not be read from the database.");
        const QString refused = QStringLiteral("refused by the test");
        const QString locked = QStringLiteral("the database is locked");
        QTest::newRow("save new, row refused")
            << "save new"
            << "BEFORE INSERT ON tasks" << FailureText(saved, refused);
        QTest::newRow("save new, locked") << "save new"
                                          << "locked" << FailureText(saved, locked);
        QTest::newRow("save edited, link refused")
            << "save edited"
            << "BEFORE INSERT ON tags_tasks" << FailureText(saved, refused);
        QTest::newRow("delete, refused")
            << "delete"
            << "BEFORE DELETE ON tasks"
            << FailureText(QStringLiteral("The task could not be deleted."), refused);
        QTest::newRow("finish, refused")
            << "finish"
            << "BEFORE UPDATE ON tasks"
            << FailureText(QStringLiteral("The task could not be finished."), refused);
        QTest::newRow("finish, locked")
            << "finish"
            << "locked" << FailureText(QStringLiteral("The task could not be finished."), locked);
        QTest::newRow("re-open, locked")
            << "re-open"
            << "locked" << FailureText(QStringLiteral("The task could not be re-opened."), locked);
        // The first of the two tasks fails and the second is moved after it:
        // the reason of the failure is still the one shown.
        QTest::newRow("due date move, first task refused")
            << "move"
            << "BEFORE UPDATE ON tasks WHEN old.taskid = 'AAAAAAAAAAAAAAAA'"
            << FailureText(
                   QStringLiteral("The due date could not be changed for every selected task."),
                   refused);
        QTest::newRow("edit, locked") << "edit"
                                      << "locked" << FailureText(read, locked);
        QTest::newRow("edit, task gone")
            << "edit"
            << "gone" << FailureText(read, QStringLiteral("the task is no longer stored"));
        QTest::newRow("task list, locked")
            << "list"
            << "locked"
            << FailureText(QStringLiteral("The task list could not be read from the database."),
                           locked);
        QTest::newRow("tags, locked")
            << "tags"
            << "locked"
            << FailureText(QStringLiteral("The tags could not be read from the database."), locked);
    }

    void storeFailuresNameTheirReason()
    {
        QFETCH(QString, action);
        QFETCH(QString, failure);
        QFETCH(QString, text);
        // The busy time-out is read at the connect: a locked file fails fast.
        GetTasksSettings();
        GetTasksDB()->Connection().BusyTimeoutMs = 20;
        StandardData();
        AddTask(kTaskC, QStringLiteral("gamma, finished today"), QString(),
                QStringLiteral("2026-05-08 10:00:00"));
        TfrmTaskList window;
        window.show();
        if (action == QLatin1String("save new") || action == QLatin1String("save edited")) {
            OpenEditor(window, action == QLatin1String("save new"), kTaskA);
            W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("typed"));
            ClickTag(window, QStringLiteral("blue"));
        } else if (action == QLatin1String("move")) {
            SelectTask(window, kTaskA);
            SelectTask(window, kTaskB);
            // The refused task is updated first, the accepted one after it.
            QCOMPARE(window.ListPanel()->SelectedIds(), QStringList({kTaskA, kTaskB}));
        } else if (action != QLatin1String("list") && action != QLatin1String("tags")) {
            SelectTask(window, action == QLatin1String("re-open") ? kTaskC : kTaskA);
        }
        QCOMPARE(ErrorBoxes(), 0);

        std::unique_ptr<TExclusiveLock> lock;
        if (failure == QLatin1String("locked")) {
            lock = std::make_unique<TExclusiveLock>();
            QVERIFY(lock->Locked());
        } else if (failure == QLatin1String("gone")) {
            Sql(QStringLiteral("delete from tasks where taskid=%1").arg(Quoted(kTaskA)));
        } else {
            Sql(QStringLiteral("CREATE TRIGGER refuse %1 BEGIN SELECT RAISE(ABORT,'refused by "
                               "the test'); END;")
                    .arg(failure));
        }

        QString shown;
        try {
            if (action.startsWith(QLatin1String("save")))
                W<QToolButton>(window, "btnSaveTask")->click();
            else if (action == QLatin1String("delete"))
                W<QToolButton>(window, "btnDeleteTask")->click();
            else if (action == QLatin1String("finish") || action == QLatin1String("re-open"))
                window.ListPanel()->ToggleFinished(window.ListPanel()->SelectedTask());
            else if (action == QLatin1String("move"))
                W<QAction>(window, "itDatemoveTomorrow")->trigger();
            else if (action == QLatin1String("edit"))
                W<QToolButton>(window, "btnEdit")->click();
            else if (action == QLatin1String("list"))
                window.ListPanel()->LoadTasks(window.ListPanel()->CurrentTag());
            else
                window.LoadTagTabs();
            shown = FirstErrorText();
        } catch (const std::exception& error) {
            // The application's catch point shows what escapes a handler.
            shown = ErrorMessage(error);
        }
        QCOMPARE(shown, text);
    }

    // The save is committed and then reading its row back for the list fails:
    // the editor stays open on the stored task, and saving again updates that
    // task instead of inserting it a second time.
    void failedReloadAfterASaveKeepsTheStoredTask()
    {
        AddTask(kTaskB, QStringLiteral("linked"));
        Link(kTaskB, kTagRed);
        TfrmTaskList window;
        window.show();
        W<QToolButton>(window, "btnNewTask")->click();
        W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("first text"));
        // Once the save has committed, the links can no longer be read, so
        // reading the saved task's row back for the list fails.
        sqlite3* handle = GetTasksDB()->Connection().Handle();
        gLinksRefused = false;
        sqlite3_commit_hook(
            handle,
            [](void*) {
                gLinksRefused = true;
                return 0;
            },
            nullptr);
        sqlite3_set_authorizer(
            handle,
            [](void*, int aAction, const char* aTable, const char*, const char*, const char*) {
                return gLinksRefused && aAction == SQLITE_READ && qstrcmp(aTable, "tags_tasks") == 0
                           ? SQLITE_DENY
                           : SQLITE_OK;
            },
            nullptr);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, window.EditorPanel()->btnSaveTaskClick());
        sqlite3_set_authorizer(handle, nullptr, nullptr);
        sqlite3_commit_hook(handle, nullptr, nullptr);
        const QString id =
            One(QStringLiteral("select taskid from tasks where summary='first text'"));
        QVERIFY(!id.isEmpty());
        QVERIFY(window.EditorPanel()->Editing());
        QCOMPARE(window.EditorPanel()->EditTaskId(), id);
        QCOMPARE(W<QLineEdit>(window, "edTaskSummary")->text(), QStringLiteral("first text"));

        W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("second text"));
        W<QToolButton>(window, "btnSaveTask")->click();
        QCOMPARE(ErrorBoxes(), 0);
        QVERIFY(!window.EditorPanel()->Editing());
        QCOMPARE(Rows(QStringLiteral("select taskid, summary from tasks where taskid<>%1")
                          .arg(Quoted(kTaskB))),
                 QStringList{id + QStringLiteral("|second text")});
    }

    // ---------------------------------------------------------------- shortcut

    void shortcutWhileEditingKeepsTheOpenEdit_data()
    {
        QTest::addColumn<bool>("creating");
        QTest::newRow("editing a stored task") << false;
        QTest::newRow("creating a task") << true;
    }
    void shortcutWhileEditingKeepsTheOpenEdit()
    {
        QFETCH(bool, creating);
        StandardData();
        default_duedatetime = 1;
        TfrmTaskList window;
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        OpenEditor(window, creating, kTaskA);
        W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("kept"));
        W<QPlainTextEdit>(window, "edTaskNote")->setPlainText(QStringLiteral("kept note"));
        const QString state = EditorState(window);
        const QString panel = PanelShown(window);
        const QDate date = W<QDateEdit>(window, "edTaskDueDate")->date();
        const QTime time = W<QTimeEdit>(window, "edTaskDueTime")->time();
        W<QPlainTextEdit>(window, "edTaskNote")->setFocus();
        window.hide();

        // From another widget of the program, with the window hidden.
        QTest::keyClick(W<QPlainTextEdit>(window, "edTaskNote"), Qt::Key_Q,
                        Qt::ControlModifier | Qt::ShiftModifier);
        window.eventsShortCut();

        QVERIFY(window.isVisible());
        QCOMPARE(EditorState(window), state);
        QCOMPARE(PanelShown(window), panel);
        QCOMPARE(W<QDateEdit>(window, "edTaskDueDate")->date(), date);
        QCOMPARE(W<QTimeEdit>(window, "edTaskDueTime")->time(), time);
        QCOMPARE(W<QLineEdit>(window, "edTaskSummary")->text(), QStringLiteral("kept"));
        QCOMPARE(W<QPlainTextEdit>(window, "edTaskNote")->toPlainText(),
                 QStringLiteral("kept note"));
        QVERIFY(W<QLineEdit>(window, "edTaskSummary")->hasFocus() ||
                window.focusWidget() ==
                    static_cast<QWidget*>(W<QLineEdit>(window, "edTaskSummary")));

        W<QToolButton>(window, "btnSaveTask")->click();
        QCOMPARE(ErrorBoxes(), 0);
        QVERIFY(!window.EditorPanel()->Editing());
        QCOMPARE(One(QStringLiteral("select count(*) from tasks")),
                 QString::number(creating ? 3 : 2));
        QCOMPARE(One(QStringLiteral("select count(*) from tasks where summary='kept'")),
                 QStringLiteral("1"));
        if (!creating)
            QCOMPARE(One(QStringLiteral("select summary from tasks where taskid=%1")
                             .arg(Quoted(kTaskA))),
                     QStringLiteral("kept"));
    }

    // ---------------------------------------------------------------- double click while editing

    void doubleClickWhileEditingOpensTheClickedTask_data()
    {
        QTest::addColumn<bool>("creating");
        QTest::newRow("creating a task") << true;
        QTest::newRow("editing another task") << false;
    }
    void doubleClickWhileEditingOpensTheClickedTask()
    {
        QFETCH(bool, creating);
        StandardData();
        TfrmTaskList window;
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        OpenEditor(window, creating, kTaskB);
        W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("draft never stored"));
        const QStringList before = Rows(QStringLiteral("select * from tasks order by taskid"));

        const QRect rect = Tree(window)->visualRect(ViewIndex(window, RowOf(window, kTaskA), 1));
        QVERIFY(rect.isValid());
        QTest::mouseClick(Tree(window)->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(Tree(window)->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseRelease(Tree(window)->viewport(), Qt::LeftButton, {}, rect.center());

        // The open edit went without a save; the double-clicked task is open.
        QCOMPARE(EditorState(window), "editing/" + kTaskA + "/shown/Editing Task");
        QCOMPARE(W<QLineEdit>(window, "edTaskSummary")->text(), QStringLiteral("alpha"));
        QCOMPARE(Rows(QStringLiteral("select * from tasks order by taskid")), before);
        QCOMPARE(ErrorBoxes(), 0);
    }

    void hourIsCountedFromTheSave()
    {
        default_duedatetime = 1;
        TfrmTaskList window;
        window.show();
        W<QToolButton>(window, "btnNewTask")->click();
        QCOMPARE(CheckedChoice(window), QStringLiteral("rbGeneralHour"));
        W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("an hour after the save"));
        // Saved an hour after "New": an hour from the save, rounded.
        SetFixedNow(At(15, 6, 0));
        W<QToolButton>(window, "btnSaveTask")->click();
        QCOMPARE(One(QStringLiteral("select duedt from tasks")),
                 QStringLiteral("2026-05-08 16:10:00"));
    }

    // ---------------------------------------------------------------- due-date menu

    void dueDateMenuMovesEverySelectedTask_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("due");
        // Now is 14:03:27; step 10, night 22 to 7.
        QTest::newRow("Immediately") << "itDatemoveImmediately"
                                     << "2026-05-08 15:00:00";
        QTest::newRow("Today") << "itDatemoveToday"
                               << "2026-05-08 18:00:00";
        QTest::newRow("Tomorrow") << "itDatemoveTomorrow"
                                  << "2026-05-09 14:00:00";
        QTest::newRow("Unplanned") << "itDatemoveUnplanned"
                                   << "<null>";
    }
    void dueDateMenuMovesEverySelectedTask()
    {
        QFETCH(QString, item);
        QFETCH(QString, due);
        StandardData();
        AddTask(kTaskC, QStringLiteral("gamma"), QStringLiteral("2026-05-10 09:00:00"));
        AddTask(QStringLiteral("DDDDDDDDDDDDDDDD"), QStringLiteral("not selected"),
                QStringLiteral("2026-05-11 09:00:00"));
        TfrmTaskList window;
        window.show();
        auto* action = W<QMenu>(window, "tasklist_popup")->findChild<QAction*>(item);
        QVERIFY(action);

        // The moved rows are updated in place: the list is not read again,
        // which would reset the model.
        int resets = 0;
        connect(window.ListPanel()->TaskRecords(), &QAbstractItemModel::modelReset, this,
                [&] { ++resets; });

        SelectTask(window, kTaskA);
        SelectTask(window, kTaskB);
        SelectTask(window, kTaskC);
        QVERIFY(action->isEnabled());
        action->trigger();

        QCOMPARE(resets, 0);
        QVERIFY(window.ListPanel()->SelectedIds().isEmpty());
        // In the order a reload gives.
        QStringList shown;
        for (int row = 0; row < window.ListPanel()->TaskRecords()->Count(); ++row)
            shown << window.ListPanel()->RecordOfRow(row)->taskid;
        std::vector<TStoredTask> stored;
        QVERIFY(TtasksStore::ListTasks(stored));
        QStringList listed;
        for (const TStoredTask& task : stored)
            listed << task.taskid;
        QCOMPARE(shown, listed);
        QCOMPARE(ErrorBoxes(), 0);
        QCOMPARE(Rows(QStringLiteral("select duedt from tasks where taskid in ('%1', '%2', '%3')")
                          .arg(kTaskA, kTaskB, kTaskC)),
                 QStringList({due, due, due}));
        QCOMPARE(One(QStringLiteral("select duedt from tasks where taskid='DDDDDDDDDDDDDDDD'")),
                 QStringLiteral("2026-05-11 09:00:00"));
        // The reload shows it: "unplanned" in gray, or the new date-time.
        const TTaskRecord* record = RecordById(window, kTaskA);
        QVERIFY(record);
        const QString text =
            window.ListPanel()->TaskRecords()->index(record->row, kColDue).data().toString();
        const TRowTextStyle style =
            TaskTextStyle(*record, false, Now(), window.font(), QColor(Qt::black));
        if (due == QLatin1String("<null>")) {
            QCOMPARE(text, QStringLiteral("unplanned"));
            QCOMPARE(style.Color, QColor(128, 128, 128));
        } else {
            QCOMPARE(text, DueDateText(record->duedt));
            QCOMPARE(style.Color, QColor(Qt::black));
        }
        // The selection went with the reload.
        QVERIFY(window.ListPanel()->SelectedIds().isEmpty());
        QVERIFY(!action->isEnabled());
    }

    void dueDateMenuLeavesTheOpenEditor()
    {
        StandardData();
        TfrmTaskList window;
        window.show();
        W<QToolButton>(window, "btnNewTask")->click();
        W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("typed"));
        // A right click selects the row under the mouse and leaves the editor open.
        const QRect rect = Tree(window)->visualRect(ViewIndex(window, RowOf(window, kTaskB), 1));
        QTest::mouseClick(Tree(window)->viewport(), Qt::RightButton, {}, rect.center());
        QVERIFY(window.ListPanel()->SelectedTask());
        QCOMPARE(window.ListPanel()->SelectedTask()->taskid, kTaskB);
        QCOMPARE(EditorState(window), QStringLiteral("creating//shown/Creating Task"));
        // The menu's opening updates the controls.
        Q_EMIT W<QMenu>(window, "tasklist_popup")->aboutToShow();
        QVERIFY(W<QAction>(window, "itDatemoveTomorrow")->isEnabled());
        QVERIFY(!W<QAction>(window, "itTreeEditTask")->isEnabled());
        W<QAction>(window, "itDatemoveTomorrow")->trigger();
        QCOMPARE(One(QStringLiteral("select duedt from tasks where taskid=%1").arg(Quoted(kTaskB))),
                 QStringLiteral("2026-05-09 14:00:00"));
        QCOMPARE(EditorState(window), QStringLiteral("creating//shown/Creating Task"));
        QCOMPARE(W<QLineEdit>(window, "edTaskSummary")->text(), QStringLiteral("typed"));
    }

    // Rows that the tag tab hides are never part of the selection, so neither
    // Delete nor a due-date move reaches a task the user cannot see.
    void hiddenRowsAreNeverSelected_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("select all") << "all";
        QTest::newRow("shift click") << "shift";
    }
    void hiddenRowsAreNeverSelected()
    {
        QFETCH(QString, how);
        AddTag(kTagRed, QStringLiteral("red"));
        AddTask(kTaskA, QStringLiteral("first red"), QStringLiteral("2026-05-09 10:00:00"));
        AddTask(kTaskB, QStringLiteral("hidden between"), QStringLiteral("2026-05-09 11:00:00"));
        AddTask(kTaskC, QStringLiteral("second red"), QStringLiteral("2026-05-09 12:00:00"));
        Link(kTaskA, kTagRed);
        Link(kTaskC, kTagRed);
        TfrmTaskList window;
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        Tabs(window)->setCurrentIndex(1);
        QVERIFY(RowHidden(window, RowOf(window, kTaskB)));

        if (how == QLatin1String("all")) {
            Tree(window)->setFocus();
            QTest::keyClick(Tree(window), Qt::Key_A, Qt::ControlModifier);
        } else {
            auto rectOf = [&](const QString& aId) {
                return Tree(window)->visualRect(ViewIndex(window, RowOf(window, aId), 1));
            };
            QTest::mouseClick(Tree(window)->viewport(), Qt::LeftButton, {},
                              rectOf(kTaskA).center());
            QTest::mouseClick(Tree(window)->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                              rectOf(kTaskC).center());
        }
        QStringList selected = window.ListPanel()->SelectedIds();
        selected.sort();
        QCOMPARE(selected, QStringList({kTaskA, kTaskC}));

        W<QAction>(window, "itDatemoveUnplanned")->trigger();
        QCOMPARE(One(QStringLiteral("select duedt from tasks where taskid=%1").arg(Quoted(kTaskB))),
                 QStringLiteral("2026-05-09 11:00:00"));
    }

    // ---------------------------------------------------------------- bad input

    void textIsStoredAndReadBackAsTyped_data()
    {
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("note");
        QTest::newRow("100,000 characters")
            << QString(100000, QLatin1Char('x')) << QString(100000, QChar(0x00e9));
        QTest::newRow("every kind of line break")
            << QStringLiteral("one line")
            << QStringLiteral("lf\ncrlf\r\ncr\rvt\vff\fnel") + QChar(0x85) + QStringLiteral("ls") +
                   QChar(0x2028) + QStringLiteral("ps") + QChar(0x2029) + QStringLiteral("end");
        QTest::newRow("outside the BMP")
            << QString::fromUtf8("\xF0\x9F\x98\x80 \xF0\x9D\x84\x9E clef")
            << QString::fromUtf8("\xF0\x9F\x8C\x8D\n\xF0\xA0\x80\x80 \xF0\x9F\x91\x8D\xF0\x9F"
                                 "\x8F\xBD");
        QTest::newRow("quotes and SQL")
            << QStringLiteral("\"; drop table tasks; --'") << QStringLiteral("' or 1=1 --");
        QTest::newRow("empty") << QString() << QString();
    }
    void textIsStoredAndReadBackAsTyped()
    {
        QFETCH(QString, summary);
        QFETCH(QString, note);
        TfrmTaskList window;
        window.show();
        W<QToolButton>(window, "btnNewTask")->click();
        W<QLineEdit>(window, "edTaskSummary")->setText(summary);
        W<QPlainTextEdit>(window, "edTaskNote")->setPlainText(note);
        // What the fields hold is what was typed.
        const QString typedSummary = W<QLineEdit>(window, "edTaskSummary")->text();
        const QString typedNote = W<QPlainTextEdit>(window, "edTaskNote")->toPlainText();
        QCOMPARE(typedSummary.size(), summary.size());
        W<QToolButton>(window, "btnSaveTask")->click();
        QCOMPARE(ErrorBoxes(), 0);
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 1);
        TTaskRecord* record = window.ListPanel()->RecordOfRow(0);
        QCOMPARE(record->summary, typedSummary);
        QCOMPARE(record->note, typedNote);

        SelectTask(window, record->taskid);
        W<QToolButton>(window, "btnEdit")->click();
        QCOMPARE(W<QLineEdit>(window, "edTaskSummary")->text(), typedSummary);
        QCOMPARE(W<QPlainTextEdit>(window, "edTaskNote")->toPlainText(), typedNote);
        QVERIFY(!window.ListPanel()->TaskHintText(*record).isEmpty());
    }

    void datesAtThePickerLimits_data()
    {
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::newRow("first day, midnight") << QDate(1752, 9, 14) << QTime(0, 0, 0);
        QTest::newRow("first day, last second") << QDate(1752, 9, 14) << QTime(23, 59, 59);
        QTest::newRow("last day, last second") << QDate(9999, 12, 31) << QTime(23, 59, 59);
        QTest::newRow("last day, midnight") << QDate(9999, 12, 31) << QTime(0, 0, 0);
        QTest::newRow("leap day") << QDate(2028, 2, 29) << QTime(12, 0, 1);
    }
    void datesAtThePickerLimits()
    {
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        default_duedatetime = 4;
        TfrmTaskList window;
        window.show();
        W<QToolButton>(window, "btnNewTask")->click();
        W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("limit"));
        W<QDateEdit>(window, "edTaskDueDate")
            ->setDate(W<QDateEdit>(window, "edTaskDueDate")->minimumDate() > date
                          ? W<QDateEdit>(window, "edTaskDueDate")->minimumDate()
                          : std::min(date, W<QDateEdit>(window, "edTaskDueDate")->maximumDate()));
        W<QTimeEdit>(window, "edTaskDueTime")->setTime(time);
        const QDate picked = W<QDateEdit>(window, "edTaskDueDate")->date();
        W<QToolButton>(window, "btnSaveTask")->click();
        QCOMPARE(ErrorBoxes(), 0);
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 1);
        QCOMPARE(One(QStringLiteral("select duedt from tasks")),
                 QDateTime(picked, time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        TTaskRecord* record = window.ListPanel()->RecordOfRow(0);
        QVERIFY(!window.ListPanel()->TaskRecords()->index(0, kColDue).data().toString().isEmpty());
        SelectTask(window, record->taskid);
        W<QToolButton>(window, "btnEdit")->click();
        QCOMPARE(PanelShown(window), QStringLiteral("exact"));
        QCOMPARE(W<QDateEdit>(window, "edTaskDueDate")->date(), picked);
        QCOMPARE(W<QTimeEdit>(window, "edTaskDueTime")->time(), time);
    }

    void malformedStoredDueReadsAsUnplanned_data()
    {
        QTest::addColumn<QString>("due");
        QTest::newRow("words") << "soon";
        QTest::newRow("empty text") << "";
        QTest::newRow("month 13") << "2026-13-45 99:99:99";
        QTest::newRow("half a date") << "2026-05";
    }
    void malformedStoredDueReadsAsUnplanned()
    {
        QFETCH(QString, due);
        AddTask(kTaskA, QStringLiteral("odd"), due);
        TfrmTaskList window;
        window.show();
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 1);
        QCOMPARE(window.ListPanel()->TaskRecords()->index(0, kColDue).data().toString(),
                 QStringLiteral("unplanned"));
        SelectTask(window, kTaskA);
        W<QToolButton>(window, "btnEdit")->click();
        QVERIFY(window.EditorPanel()->Editing());
        QCOMPARE(PanelShown(window), QStringLiteral("general"));
        QCOMPARE(CheckedChoice(window), QStringLiteral("rbGeneralUnplanned"));
        // Saving it as it shows stores no due date-time.
        W<QToolButton>(window, "btnSaveTask")->click();
        QCOMPARE(One(QStringLiteral("select duedt from tasks")), QStringLiteral("<null>"));
    }

    // ---------------------------------------------------------------- reminders

    void reminderTimerRunsEveryMinute()
    {
        TfrmTaskList window;
        auto* timer = window.findChild<QTimer*>(QStringLiteral("notifications"));
        QVERIFY(timer);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 60000);
        QVERIFY(window.Tray()->Notifier() == FNotifier.get());
    }

    void reminderPassThroughTheWindow()
    {
        AddTask(kTaskA, QStringLiteral("due soon"), QStringLiteral("2026-05-08 10:00:00"),
                QString(), QString(), QStringLiteral("the note"));
        AddTask(kTaskB, QStringLiteral("later"), QStringLiteral("2026-05-08 10:05:00"));
        AddTask(kTaskC, QStringLiteral("unplanned"));
        TfrmTaskList window;
        window.show();

        SetFixedNow(At(9, 58, 50));
        window.notificationsTimer();
        QVERIFY(FNotifier->Events().isEmpty());
        QVERIFY(!W<QToolButton>(window, "btnMarkAsRead")->isVisibleTo(&window));

        SetFixedNow(At(9, 59, 50));
        window.notificationsTimer();
        QCOMPARE(FNotifier->SoundCount(), 1);
        const QList<TtasksRecordingNotifier::TEvent> balloons = FNotifier->Balloons();
        QCOMPARE(balloons.size(), 1);
        QCOMPARE(balloons[0].Title, QStringLiteral("due soon"));
        QVERIFY(balloons[0].Text.startsWith(
            QStringLiteral("NOTE:\r\nthe note\r\n\r\nDUE DATETIME:\r\n")));
        QCOMPARE(balloons[0].MSecs, 60000);
        QCOMPARE(window.ListPanel()->UnreadIds(), QStringList{kTaskA});
        QVERIFY(W<QToolButton>(window, "btnMarkAsRead")->isVisibleTo(&window));
        const TRowTextStyle style =
            TaskTextStyle(*RecordById(window, kTaskA), window.ListPanel()->IsUnread(kTaskA), Now(),
                          window.font(), QColor(Qt::black));
        QVERIFY(style.Font.bold());

        // Announced once per load.
        SetFixedNow(At(10, 0, 30));
        window.notificationsTimer();
        QCOMPARE(FNotifier->Balloons().size(), 1);

        // A save of another task updates only that task's row: the announced
        // one keeps its mark and is not announced again.
        W<QToolButton>(window, "btnNewTask")->click();
        W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("new one"));
        W<QToolButton>(window, "btnSaveTask")->click();
        window.notificationsTimer();
        QCOMPARE(FNotifier->Balloons().size(), 1);
        QVERIFY(RecordById(window, kTaskA)->notified);

        // A reload of the whole list (as after the settings) makes new
        // records: a task still within the minute comes again.
        window.LoadTagTabs();
        window.notificationsTimer();
        QCOMPARE(FNotifier->Balloons().size(), 2);

        W<QToolButton>(window, "btnMarkAsRead")->click();
        QVERIFY(!W<QToolButton>(window, "btnMarkAsRead")->isVisibleTo(&window));
    }

    // A row that the tag tab hides stays loaded, and its task is announced.
    void reminderOfARowHiddenByTheTab()
    {
        AddTag(kTagRed, QStringLiteral("red"));
        AddTask(kTaskA, QStringLiteral("no tag"), QStringLiteral("2026-05-08 10:00:00"));
        TfrmTaskList window;
        window.show();
        Tabs(window)->setCurrentIndex(1);
        QVERIFY(RowHidden(window, RowOf(window, kTaskA)));

        SetFixedNow(At(9, 59, 50));
        window.notificationsTimer();
        QCOMPARE(FNotifier->Balloons().size(), 1);
        QCOMPARE(FNotifier->Balloons()[0].Title, QStringLiteral("no tag"));
        QCOMPARE(window.ListPanel()->UnreadIds(), QStringList{kTaskA});
        QVERIFY(W<QToolButton>(window, "btnMarkAsRead")->isVisibleTo(&window));
    }

    void balloonClickShowsTheHiddenWindow()
    {
        TfrmTaskList window;
        QVERIFY(!window.isVisible());
        Q_EMIT W<QSystemTrayIcon>(window, "tray")->messageClicked();
        QVERIFY(window.isVisible());
        window.hide();
        window.Tray()->trayBalloonClick();
        QVERIFY(window.isVisible());
    }

    void realNotifierIsOnTheTrayIcon()
    {
        SetTestNotifier({});
        TfrmTaskList window;
        // The desktop's notification service where a session bus exists
        // (it falls back to the icon's balloon); without one the balloon.
        ItasksNotifier* notifier = window.Tray()->Notifier();
        QVERIFY(notifier);
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QVERIFY(dynamic_cast<TtasksTrayNotifier*>(notifier));
    }

    // The actions of a reminder's notification act on the database and the list.
    void reminderActionsThroughTheWindow_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("finished");
        // Now is 14:03:27; snoozing gives the due date-time ten minutes on.
        QTest::newRow("Done") << "done"
                              << "2026-05-09 16:20:30|finished" << true;
        QTest::newRow("Snooze") << "snooze"
                                << "2026-05-08 14:13:27|open" << false;
        QTest::newRow("Open") << "open"
                              << "2026-05-09 16:20:30|open" << false;
        QTest::newRow("Open the counted ones") << "missed"
                                               << "2026-05-09 16:20:30|open" << false;
    }
    void reminderActionsThroughTheWindow()
    {
        QFETCH(QString, action);
        QFETCH(QString, stored);
        QFETCH(bool, finished);
        StandardData();
        TfrmTaskList window;
        window.show();
        window.hide();
        // The "blue" tab hides task A: opening the task shows "ALL".
        for (int tab = 0; tab < Tabs(window)->count(); ++tab) {
            if (Tabs(window)->tabText(tab) == QLatin1String("blue"))
                Tabs(window)->setCurrentIndex(tab);
        }
        QVERIFY(RowHidden(window, RowOf(window, kTaskA)));

        if (action == QLatin1String("done"))
            FNotifier->Act(TtasksNotifierAction::Done, kTaskA);
        else if (action == QLatin1String("snooze"))
            FNotifier->Act(TtasksNotifierAction::Snooze, kTaskA);
        else if (action == QLatin1String("open"))
            FNotifier->Act(TtasksNotifierAction::Open, kTaskA);
        else
            FNotifier->Act(TtasksNotifierAction::Open, QString());

        QCOMPARE(One(QStringLiteral("select duedt, case when finisheddt is null then 'open' else "
                                    "'finished' end from tasks where taskid=%1")
                         .arg(Quoted(kTaskA))),
                 stored);
        QCOMPARE(RecordById(window, kTaskA)->finished, finished);
        QCOMPARE(ErrorBoxes(), 0);
        if (action.startsWith(QLatin1String("open")) || action == QLatin1String("missed"))
            QVERIFY(window.isVisible());
        if (action == QLatin1String("open")) {
            QCOMPARE(Tabs(window)->currentIndex(), 0);
            QCOMPARE(window.ListPanel()->SelectedTask(), RecordById(window, kTaskA));
        }
    }

    // A task changed in the window takes its notification back.
    void changesWithdrawTheNotification_data()
    {
        QTest::addColumn<QString>("action");
        QTest::newRow("tick") << "tick";
        QTest::newRow("date move") << "move";
        QTest::newRow("save") << "save";
    }
    void changesWithdrawTheNotification()
    {
        QFETCH(QString, action);
        StandardData();
        TfrmTaskList window;
        window.show();
        SelectTask(window, kTaskA);
        if (action == QLatin1String("tick")) {
            window.ListPanel()->ToggleFinished(window.ListPanel()->SelectedTask());
        } else if (action == QLatin1String("move")) {
            W<QAction>(window, "itDatemoveTomorrow")->trigger();
        } else {
            W<QToolButton>(window, "btnEdit")->click();
            W<QToolButton>(window, "btnSaveTask")->click();
        }
        QVERIFY(FNotifier->Withdrawn().contains(kTaskA));
        QVERIFY(!FNotifier->Withdrawn().contains(kTaskB));
    }

    // ---------------------------------------------------------------- splitter

    void editorHeightIsKeptInTheSettings()
    {
        {
            TfrmTaskList window;
            window.show();
            W<QToolButton>(window, "btnNewTask")->click();
            W<TtasksSplitter>(window, "splitterEditTask")->SetTargetHeight(220);
            QCOMPARE(W<QWidget>(window, "pnlEditTask")->height(), 220);
        }
        ReleaseTasksSettings();
        QCOMPARE(GetTasksSettings()->ReadInteger(QStringLiteral("edittask_height"), -1), 220);
        TfrmTaskList again;
        again.show();
        QCOMPARE(W<QWidget>(again, "pnlEditTask")->height(), 220);
    }
};

QTEST_MAIN(TestEditor)
#include "test_editor.moc"
