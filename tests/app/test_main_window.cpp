// The main window driven through its object names, over a real database file
// in a temporary APPDATA: start-up and geometry, closing and exit, the
// shortcut, UpdateControls, the task list with its order, colours, tabs,
// ticks, unread marks and tag bands, and bad input.

#include "app/tasks_application.h"
#include "app/tasks_form_main.h"
#include "app/tasks_list_view.h"
#include "app/tasks_splitter.h"
#include "ical/tasks_ics.h"
#include "resources/tasks_themes.h"
#include "tags/tasks_tags.h"
#include "util/kvd_desktop.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_guard.h"
#include "util/kvd_widgets.h"
#include "util/tasks_log.h"

#include "window_fixture.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <limits>
#include <memory>

namespace {

QStringList ListedSummaries(TfrmTaskList& aWindow, bool aVisibleOnly = false)
{
    QStringList result;
    for (int row = 0; row < aWindow.ListPanel()->TaskRecords()->Count(); ++row) {
        if (aVisibleOnly && RowHidden(aWindow, row))
            continue;
        result << aWindow.ListPanel()->RecordOfRow(row)->summary;
    }
    return result;
}

QVariant StoredValue(const QString& aSQL)
{
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    if (!GetTasksDB()->Query(aSQL, query.get()) || query->Eof())
        return QVariant();
    const TZField field = query->FieldByName(query->FieldNames().value(0));
    if (field.IsNull())
        return QVariant();
    return field.AsString();
}

void SelectRow(TfrmTaskList& aWindow, int aRow,
               QItemSelectionModel::SelectionFlags aFlags = QItemSelectionModel::Select)
{
    const QModelIndex index = ViewIndex(aWindow, aRow);
    Tree(aWindow)->selectionModel()->select(index, aFlags | QItemSelectionModel::Rows);
}

// The text style the delegate paints a row with, under the window's rules.
TRowTextStyle StyleOf(TfrmTaskList& aWindow, const TTaskRecord& aRecord)
{
    return TaskTextStyle(aRecord, aWindow.ListPanel()->IsUnread(aRecord.taskid), Now(),
                         aWindow.font(), QColor(Qt::black));
}

// Acts on the next modal dialog as soon as it shows.
void OnNextDialog(const std::function<void(QDialog*)>& aAction)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, aAction] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        aAction(dialog);
    });
    timer->start();
}

// A window that refuses every close.
class TStubbornWindow : public QWidget
{
protected:
    void closeEvent(QCloseEvent* aEvent) override { aEvent->ignore(); }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TTestEnv> FEnv;

    QString ConfigFile() const { return FEnv->File(QStringLiteral("BEXO/config.ini")); }
    QString DatabaseFile() const { return FEnv->File(QStringLiteral("BEXO/tasks.db")); }

    void WriteConfig(const QString& aLines)
    {
        QDir().mkpath(FEnv->File(QStringLiteral("BEXO")));
        QFile file(ConfigFile());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(("[main]\n" + aLines).toUtf8());
    }

    // The value of a key as the settings file holds it after the settings are released.
    int StoredInteger(const QString& aKey)
    {
        ReleaseTasksSettings();
        const int value = GetTasksSettings()->ReadInteger(aKey, -999999);
        return value;
    }

private Q_SLOTS:
    void init() { FEnv = StartWindowTest(); }
    void cleanup() { EndWindowTest(FEnv); }

    // ---------------------------------------------------------------- shell

    void firstRunCreatesFilesAndOpensBottomRight()
    {
        QVERIFY(!QFile::exists(ConfigFile()));
        QSize outer;
        {
            TfrmTaskList window;
            QCOMPARE(window.windowTitle(), QStringLiteral("Ulmora"));
            QVERIFY(QFile::exists(ConfigFile()));
            QVERIFY(QFile::exists(DatabaseFile()));
            QCOMPARE(ErrorBoxes(), 0);
            QCOMPARE(Tabs(window)->count(), 1);
            QCOMPARE(Tabs(window)->tabText(0), QStringLiteral("ALL"));
            QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 0);
            QVERIFY(!W<QWidget>(window, "pnlEditTask")->isVisibleTo(&window));
            QVERIFY(!W<TtasksSplitter>(window, "splitterEditTask")->isVisibleTo(&window));
            QCOMPARE(window.size(), QSize(525, 551));

            window.show();
            const QRect screen = QGuiApplication::primaryScreen()->geometry();
            const QRect frame = window.frameGeometry();
            outer = frame.size();
            QCOMPARE(frame.right() + 1, screen.x() + screen.width());
            QCOMPARE(frame.bottom() + 1, screen.y() + screen.height() - TaskbarHeight());
            QCOMPARE(W<QWidget>(window, "pnlEditTask")->height(), 300);
        }
        // The five geometry keys are written when the window goes.
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        // The outer frame: the client area of 525 by 551 and the window's frame.
        QCOMPARE(StoredInteger(QStringLiteral("window_width")), outer.width());
        QCOMPARE(StoredInteger(QStringLiteral("window_height")), outer.height());
        QCOMPARE(StoredInteger(QStringLiteral("window_left")), screen.width() - outer.width());
        QCOMPARE(StoredInteger(QStringLiteral("window_top")),
                 screen.height() - outer.height() - TaskbarHeight());
        QCOMPARE(StoredInteger(QStringLiteral("edittask_height")), 300);
    }

    // Any integer may stand in the file. Sizes stay between the window's
    // minimum and the screen's free area; a position with too little of the
    // window on a screen falls back to the bottom right corner; the editor
    // stays within the window. What is shown is what the end writes back.
    void storedGeometryIsRestoredWithinTheScreen_data()
    {
        // The five keys as the file holds them; an empty text leaves the key out.
        QTest::addColumn<QStringList>("stored");
        // "position width height editor": the position "x,y" or "corner";
        // a size in pixels, "max" (the screen's free area), "min" (the
        // window's minimum) or "design" (525 by 551); the editor in pixels
        // (within its bounds), "max" (what the window leaves it) or "min".
        QTest::addColumn<QString>("expected");
        const QString intMax = QString::number(std::numeric_limits<int>::max());
        const QString intMin = QString::number(std::numeric_limits<int>::min());
        QTest::newRow("valid geometry kept exactly")
            << QStringList{"100", "120", "600", "500", "200"} << "100,120 600 500 200";
        QTest::newRow("top left corner")
            << QStringList{"0", "0", "600", "500", "200"} << "0,0 600 500 200";
        QTest::newRow("far left, off every screen")
            << QStringList{"-5000", "100", "600", "500", "200"} << "corner 600 500 200";
        QTest::newRow("far below, off every screen")
            << QStringList{"100", "90000", "600", "500", "200"} << "corner 600 500 200";
        QTest::newRow("largest integers as position")
            << QStringList{intMax, intMax, "600", "500", "200"} << "corner 600 500 200";
        QTest::newRow("huge width and height")
            << QStringList{"0", "0", intMax, intMax, "200"} << "0,0 max max 200";
        QTest::newRow("huge width only")
            << QStringList{"0", "0", intMax, "500", "200"} << "0,0 max 500 200";
        QTest::newRow("negative width and height")
            << QStringList{"100", "100", "-600", "-500", "200"} << "100,100 min min 200";
        QTest::newRow("zero width and height")
            << QStringList{"100", "100", "0", "0", "200"} << "100,100 min min 200";
        QTest::newRow("smallest integers everywhere")
            << QStringList{intMin, intMin, intMin, intMin, intMin} << "corner min min min";
        QTest::newRow("text that is no number")
            << QStringList{"left", "12px", "wide", "tall", "high"} << "corner design design 300";
        QTest::newRow("huge editor height")
            << QStringList{"0", "0", "600", "500", intMax} << "0,0 600 500 max";
        QTest::newRow("negative editor height")
            << QStringList{"0", "0", "600", "500", "-300"} << "0,0 600 500 min";
    }
    void storedGeometryIsRestoredWithinTheScreen()
    {
        QFETCH(QStringList, stored);
        QFETCH(QString, expected);
        const QStringList parts = expected.split(QLatin1Char(' '));
        const QString position = parts[0], width = parts[1], height = parts[2], editor = parts[3];
        const QStringList keys{"window_left", "window_top", "window_width", "window_height",
                               "edittask_height"};
        QString lines;
        for (int i = 0; i < keys.size(); ++i) {
            if (!stored[i].isEmpty())
                lines += keys[i] + '=' + stored[i] + '\n';
        }
        WriteConfig(lines);
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QSize free = screen->availableGeometry().size();
        QRect shown;
        int editorShown = 0;
        {
            TfrmTaskList window;
            window.show();
            const QSize frame = window.frameGeometry().size() - window.size();
            const QSize minimum = window.minimumSizeHint().expandedTo(window.minimumSize()) + frame;
            auto value = [&](const QString& aSpec, int aMax, int aMin, int aDesign) {
                if (aSpec == QLatin1String("max"))
                    return aMax;
                if (aSpec == QLatin1String("min"))
                    return aMin;
                if (aSpec == QLatin1String("design"))
                    return aDesign;
                return aSpec.toInt();
            };
            shown = window.frameGeometry();
            QCOMPARE(shown.width(),
                     value(width, free.width(), minimum.width(), 525 + frame.width()));
            QCOMPARE(shown.height(),
                     value(height, free.height(), minimum.height(), 551 + frame.height()));
            if (position == QLatin1String("corner")) {
                // The first-run placement at the bottom right.
                const QRect area = screen->geometry();
                QCOMPARE(shown.right() + 1, area.x() + area.width());
                QCOMPARE(shown.bottom() + 1, area.y() + area.height() - TaskbarHeight());
            } else {
                QCOMPARE(shown.topLeft(), QPoint(position.section(',', 0, 0).toInt(),
                                                 position.section(',', 1, 1).toInt()));
            }
            // The editor leaves the list its room above the button bar, and
            // keeps its own least height in a window too low for both.
            const int least = W<TtasksSplitter>(window, "splitterEditTask")->MinTargetHeight;
            const int list =
                std::max(100, W<QWidget>(window, "pnlTaskList")->minimumSizeHint().height());
            const int most =
                std::max(least, window.height() - W<QWidget>(window, "pnlButtons")->height() -
                                    W<TtasksSplitter>(window, "splitterEditTask")->height() - list);
            editorShown = W<QWidget>(window, "pnlEditTask")->height();
            QCOMPARE(editorShown, std::clamp(value(editor, most, least, 0), least, most));
            // Opening the editor at that height leaves the window as it is,
            // unless the window is too low for the editor's least height.
            W<QToolButton>(window, "btnNewTask")->click();
            window.layout()->activate();
            if (most > least)
                QCOMPARE(window.frameGeometry(), shown);
            W<QToolButton>(window, "btnCancelEdit")->click();
            shown = window.frameGeometry();
            editorShown = W<QWidget>(window, "pnlEditTask")->height();
        }
        // The values in force, corrected or not, are the ones written at the end.
        QCOMPARE(StoredInteger(QStringLiteral("window_left")), shown.left());
        QCOMPARE(StoredInteger(QStringLiteral("window_top")), shown.top());
        QCOMPARE(StoredInteger(QStringLiteral("window_width")), shown.width());
        QCOMPARE(StoredInteger(QStringLiteral("window_height")), shown.height());
        QCOMPARE(StoredInteger(QStringLiteral("edittask_height")), editorShown);
    }

    void showingAgainReturnsToStoredPlace()
    {
        WriteConfig(QStringLiteral("window_left=50\nwindow_top=60\n"));
        TfrmTaskList window;
        window.show();
        QCOMPARE(window.pos(), QPoint(50, 60));
        window.move(300, 200);
        QVERIFY(!window.close()); // close_minimizes: hides
        QVERIFY(!window.isVisible());
        W<QAction>(window, "itTrayShowList")->trigger();
        QVERIFY(window.isVisible());
        QCOMPARE(window.pos(), QPoint(50, 60));
    }

    void geometryWrittenAtExit()
    {
        QSize outer;
        {
            TfrmTaskList window;
            window.show();
            window.move(70, 80);
            window.resize(610, 520);
            W<TtasksSplitter>(window, "splitterEditTask")->SetTargetHeight(180);
            outer = window.frameGeometry().size();
            QVERIFY(outer.width() >= 610);
        }
        QCOMPARE(StoredInteger(QStringLiteral("window_left")), 70);
        QCOMPARE(StoredInteger(QStringLiteral("window_top")), 80);
        QCOMPARE(StoredInteger(QStringLiteral("window_width")), outer.width());
        QCOMPARE(StoredInteger(QStringLiteral("window_height")), outer.height());
        QCOMPARE(StoredInteger(QStringLiteral("edittask_height")), 180);
    }

    void closeHidesOrEnds_data()
    {
        QTest::addColumn<bool>("closeMinimizes");
        QTest::newRow("close_minimizes true: hides, keeps running") << true;
        QTest::newRow("close_minimizes false: ends the program") << false;
    }
    void closeHidesOrEnds()
    {
        QFETCH(bool, closeMinimizes);
        WriteConfig(QStringLiteral("close_minimizes=%1\n").arg(closeMinimizes ? 1 : 0));
        TfrmTaskList window;
        window.show();
        W<QToolButton>(window, "btnNewTask")->click();
        QVERIFY(window.EditorPanel()->Editing());
        W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("typed"));

        bool ended = false;
        QTimer::singleShot(0, &window, [&] { window.close(); });
        // Stands in for the end when the close does not end the loop.
        QTimer::singleShot(closeMinimizes ? 300 : 10000, &window,
                           [] { QCoreApplication::exit(7); });
        ended = QCoreApplication::exec() == 0;

        QCOMPARE(ended, !closeMinimizes);
        QVERIFY(!window.isVisible());
        if (closeMinimizes) {
            // The open edit was discarded.
            QVERIFY(!window.EditorPanel()->Editing());
            QVERIFY(W<QLineEdit>(window, "edTaskSummary")->text().isEmpty());
            QVERIFY(!W<QWidget>(window, "pnlEditTask")->isVisibleTo(&window));
        }
    }

    // Every way out ends the event loop with status 0, whatever the other
    // windows do, and the window writes its five geometry keys as it goes.
    void everyWayOutEndsTheProgram_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<bool>("closeMinimizes");
        QTest::addColumn<bool>("hiddenFirst");
        QTest::newRow("Exit, close_minimizes 1") << "exit" << true << false;
        QTest::newRow("Exit, close_minimizes 0") << "exit" << false << false;
        QTest::newRow("Exit while hidden to the tray") << "exit" << true << true;
        QTest::newRow("quit request, close_minimizes 1") << "quit" << true << false;
        QTest::newRow("quit request, close_minimizes 0") << "quit" << false << false;
        QTest::newRow("close, close_minimizes 0") << "close" << false << false;
    }
    void everyWayOutEndsTheProgram()
    {
        QFETCH(QString, way);
        QFETCH(bool, closeMinimizes);
        QFETCH(bool, hiddenFirst);
        WriteConfig(QStringLiteral("close_minimizes=%1\n").arg(closeMinimizes ? 1 : 0));
        // Another window of the program that stays open when asked to close.
        // On a quit the toolkit asks the windows to close in no fixed order
        // and stops at the first refusal, so a way out that asks them would
        // end the program only now and then.
        TStubbornWindow other;
        other.show();
        QRect frame;
        int editor = 0;
        {
            TfrmTaskList window;
            window.show();
            window.move(33, 44);
            window.resize(610, 520);
            W<TtasksSplitter>(window, "splitterEditTask")->SetTargetHeight(150);
            if (hiddenFirst) {
                QVERIFY(!window.close());
                QVERIFY(!window.isVisible());
            }
            QTimer::singleShot(0, &window, [&] {
                if (way == QLatin1String("exit"))
                    W<QAction>(window, "itExit")->trigger();
                else if (way == QLatin1String("quit"))
                    QCoreApplication::quit();
                else
                    window.close();
            });
            // Stands in for the end when the way out does not end the loop.
            QTimer::singleShot(10000, &window, [] { QCoreApplication::exit(7); });
            QCOMPARE(QCoreApplication::exec(), 0);
            frame = window.frameGeometry();
            editor = W<QWidget>(window, "pnlEditTask")->height();
            QCOMPARE(frame.topLeft(), QPoint(33, 44));
            QCOMPARE(editor, 150);
        }
        QCOMPARE(StoredInteger(QStringLiteral("window_left")), frame.left());
        QCOMPARE(StoredInteger(QStringLiteral("window_top")), frame.top());
        QCOMPARE(StoredInteger(QStringLiteral("window_width")), frame.width());
        QCOMPARE(StoredInteger(QStringLiteral("window_height")), frame.height());
        QCOMPARE(StoredInteger(QStringLiteral("edittask_height")), editor);
    }

    // A click on the tray icon shows the hidden window: the double click of
    // the classic tray, and the single click (Trigger) that is all some trays
    // send. The right click opens the menu only.
    void trayClickShowsHiddenWindow_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("shown");
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
        QTest::newRow("single click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("right click") << int(QSystemTrayIcon::Context) << false;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
    }
    void trayClickShowsHiddenWindow()
    {
        QFETCH(int, reason);
        QFETCH(bool, shown);
        TfrmTaskList window;
        QVERIFY(!window.isVisible());
        Q_EMIT W<QSystemTrayIcon>(window, "tray")
            ->activated(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(window.isVisible(), shown);
    }

    void trayNewTaskShowsHiddenWindowAndOpensEditor()
    {
        TfrmTaskList window;
        QVERIFY(!window.isVisible());
        W<QAction>(window, "itTrayNewTask")->trigger();
        QVERIFY(window.isVisible());
        QVERIFY(window.EditorPanel()->Editing());
        QVERIFY(window.EditorPanel()->Creating());
        QCOMPARE(W<QLabel>(window, "lblEditStatus")->text(), QStringLiteral("Creating Task"));
        QVERIFY(W<QWidget>(window, "pnlEditTask")->isVisibleTo(&window));
        QVERIFY(W<TtasksSplitter>(window, "splitterEditTask")->isVisibleTo(&window));
    }

    // The tray's export writes every task, the list's export the selected
    // ones; the tray's import brings them back and the list shows them.
    void icsFilesFromTheMenus()
    {
        if (!IcsSupported())
            QSKIP("this build has no iCalendar support (no libical)");
        AddTask("IcsAaaaaaaaaaaaa", "First");
        AddTask("IcsBbbbbbbbbbbbb", "Second");
        TfrmTaskList window;
        window.show();
        TkvdFileDialog::SetTestMode(true);
        const auto cleanup = qScopeGuard([] { TkvdFileDialog::SetTestMode(false); });
        const auto vtodos = [](const QString& aFile) {
            QFile file(aFile);
            return file.open(QIODevice::ReadOnly) ? int(file.readAll().count("BEGIN:VTODO")) : -1;
        };

        const QString all = FEnv->File(QStringLiteral("all.ics"));
        TkvdFileDialog::SetNextAnswer(all);
        W<QAction>(window, "actExportTasks")->trigger();
        QCOMPARE(vtodos(all), 2);

        QTreeView* tree = Tree(window);
        tree->setCurrentIndex(tree->model()->index(0, 0));
        tree->selectionModel()->select(tree->model()->index(0, 0),
                                       QItemSelectionModel::ClearAndSelect |
                                           QItemSelectionModel::Rows);
        window.UpdateControls();
        const QString one = FEnv->File(QStringLiteral("one.ics"));
        TkvdFileDialog::SetNextAnswer(one);
        W<QAction>(window, "actExportSelectedTasks")->trigger();
        QCOMPARE(vtodos(one), 1);

        Sql("delete from tasks");
        window.LoadTagTabs();
        QCOMPARE(tree->model()->rowCount(), 0);
        TkvdFileDialog::SetNextAnswer(all);
        W<QAction>(window, "actImportTasks")->trigger();
        QCOMPARE(tree->model()->rowCount(), 2);
        // The list menu's import, for a desktop without a tray menu.
        Sql("delete from tasks");
        window.LoadTagTabs();
        TkvdFileDialog::SetNextAnswer(one);
        W<QAction>(window, "actListImportTasks")->trigger();
        QCOMPARE(tree->model()->rowCount(), 1);
        QCOMPARE(TkvdFileDialog::Asked().size(), 4);
    }

    void menusHoldTheirItemsInOrder()
    {
        TfrmTaskList window;
        auto describe = [](QMenu* aMenu) {
            QStringList items;
            for (QAction* action : aMenu->actions())
                items << (action->isSeparator() ? QStringLiteral("-")
                                                : action->objectName() + '=' + action->text());
            return items.join(QLatin1Char('|'));
        };
        QCOMPARE(describe(W<QMenu>(window, "tray_popup")),
                 QStringLiteral("itTrayNewTask=New Task|itTrayTasksPool=New Tasks...|"
                                "itTrayShowList=Show List|itTraySettings=Settings|-|"
                                "actImportTasks=Import Tasks...|actExportTasks=Export Tasks...|"
                                "actSyncNow=Sync Now|-|"
                                "itExit=Exit"));
        QCOMPARE(describe(W<QMenu>(window, "tasklist_popup")),
                 QStringLiteral("itTreeNewTask=New Task|itTreeEditTask=Edit Task|"
                                "itTreeDeleteTask=Delete Task|-|itDatemoveImmediately=Immediately|"
                                "itDatemoveToday=Today|itDatemoveTomorrow=Tomorrow|-|"
                                "itDatemoveUnplanned=Unplanned|-|"
                                "actExportSelectedTasks=Export Selected Tasks...|"
                                "actListImportTasks=Import Tasks..."));
        QCOMPARE(W<QSystemTrayIcon>(window, "tray")->contextMenu(), W<QMenu>(window, "tray_popup"));
        for (QAction* action : W<QMenu>(window, "tray_popup")->actions())
            QVERIFY(action->isSeparator() || !action->icon().isNull());
        QStringList buttons;
        for (QToolButton* button : W<QWidget>(window, "pnlButtons")->findChildren<QToolButton*>()) {
            // "Exit" shows only on a desktop without a tray.
            if (button->isHidden())
                continue;
            QCOMPARE(button->size(), QSize(70, 58));
            QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
            QVERIFY(!button->icon().isNull());
            buttons << button->objectName() + '=' + button->text();
        }
        QCOMPARE(buttons.join(QLatin1Char('|')),
                 QStringLiteral("btnNewTask=New|btnEdit=Edit|btnSaveTask=Save|btnCancelEdit=Cancel|"
                                "btnDeleteTask=Delete|btnSettings=Settings|btnTasksPool=Multi"));
        QCOMPARE(W<QWidget>(window, "pnlButtons")->height(), 60);
        QCOMPARE(W<QLabel>(window, "lblTaskListTitle")->text(), QStringLiteral("Task List"));
        QVERIFY(W<QLabel>(window, "lblTaskListTitle")->font().bold());
        QCOMPARE(W<QToolButton>(window, "btnMarkAsRead")->width(), 140);
        // Close and minimise buttons, no maximise button; no tooltips shown.
        QVERIFY(window.windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(W<QToolButton>(window, "btnTasksPool")->toolTip().isEmpty());
        QCOMPARE(window.font().pixelSize(), 13);
    }

    void shortcutMatchesOnlyCtrlShiftQ_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("opensEditor");
        QTest::newRow("Ctrl+Shift+Q") << int(Qt::ControlModifier | Qt::ShiftModifier) << true;
        QTest::newRow("Ctrl+Q") << int(Qt::ControlModifier) << false;
        QTest::newRow("Shift+Q") << int(Qt::ShiftModifier) << false;
        QTest::newRow("Ctrl+Alt+Shift+Q")
            << int(Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier) << false;
        QTest::newRow("Q") << int(Qt::NoModifier) << false;
    }
    void shortcutMatchesOnlyCtrlShiftQ()
    {
        QFETCH(int, modifiers);
        QFETCH(bool, opensEditor);
        TfrmTaskList window;
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QTest::keyClick(Tree(window), Qt::Key_Q, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(window.EditorPanel()->Editing(), opensEditor);
    }

    void updateControlsFollowsState_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<bool>("select");
        QTest::addColumn<bool>("unread");
        // new, edit, save, cancel, delete, date items, "Mark as Read", status
        QTest::addColumn<QString>("expected");
        // Upper case: enabled; '-': the date items disabled; M: "Mark as Read" shown.
        QTest::newRow("closed, none selected") << "closed" << false << false << "Nescd-|";
        QTest::newRow("closed, one selected") << "closed" << true << false << "NEscDT|";
        QTest::newRow("creating, none selected")
            << "creating" << false << false << "neSCd-|Creating Task";
        QTest::newRow("creating, one selected")
            << "creating" << true << false << "neSCdT|Creating Task";
        QTest::newRow("editing, one selected")
            << "editing" << true << false << "neSCdT|Editing Task";
        QTest::newRow("closed, unread") << "closed" << false << true << "Nescd-M|";
        // The list could not be read: the state the failure itself left.
        QTest::newRow("list load failed at start-up")
            << "failed at start" << false << false << "Nescd-|";
        QTest::newRow("list reload failed, one was selected")
            << "failed reload" << true << false << "Nescd-|";
    }
    void updateControlsFollowsState()
    {
        QFETCH(QString, state);
        QFETCH(bool, select);
        QFETCH(bool, unread);
        QFETCH(QString, expected);
        AddTask(QStringLiteral("AAAAAAAAAAAAAAAA"), QStringLiteral("one"));
        // Without the link table the list statement fails; the tags still load.
        if (state == QLatin1String("failed at start"))
            Sql("drop table tags_tasks");
        TfrmTaskList window;
        window.show();
        if (select)
            SelectRow(window, 0);
        if (state == QLatin1String("creating"))
            W<QToolButton>(window, "btnNewTask")->click();
        else if (state == QLatin1String("editing"))
            window.EditorPanel()->SetEditing(true);
        if (unread)
            window.ListPanel()->MarkUnread(QStringLiteral("AAAAAAAAAAAAAAAA"));
        if (state == QLatin1String("failed reload")) {
            Sql("drop table tags_tasks");
            QVERIFY_THROWS_EXCEPTION(
                EDatabaseError, window.ListPanel()->LoadTasks(window.ListPanel()->CurrentTag()));
        }
        if (state == QLatin1String("failed at start"))
            QCOMPARE(ErrorBoxes(), 1);
        if (!state.startsWith(QLatin1String("failed")))
            window.UpdateControls();

        QString flags;
        auto flag = [&](bool aOn, QChar aLetter) { flags += aOn ? aLetter.toUpper() : aLetter; };
        flag(W<QToolButton>(window, "btnNewTask")->isEnabled(), 'n');
        QCOMPARE(W<QAction>(window, "itTreeNewTask")->isEnabled(),
                 W<QToolButton>(window, "btnNewTask")->isEnabled());
        QCOMPARE(W<QAction>(window, "itTrayNewTask")->isEnabled(),
                 W<QToolButton>(window, "btnNewTask")->isEnabled());
        flag(W<QToolButton>(window, "btnEdit")->isEnabled(), 'e');
        QCOMPARE(W<QAction>(window, "itTreeEditTask")->isEnabled(),
                 W<QToolButton>(window, "btnEdit")->isEnabled());
        flag(W<QToolButton>(window, "btnSaveTask")->isEnabled(), 's');
        flag(W<QToolButton>(window, "btnCancelEdit")->isEnabled(), 'c');
        flag(W<QToolButton>(window, "btnDeleteTask")->isEnabled(), 'd');
        QCOMPARE(W<QAction>(window, "itTreeDeleteTask")->isEnabled(),
                 W<QToolButton>(window, "btnDeleteTask")->isEnabled());
        // The date items: enabled with a selection, editing or not.
        const bool dates = W<QAction>(window, "itDatemoveImmediately")->isEnabled();
        for (QAction* item :
             {W<QAction>(window, "itDatemoveToday"), W<QAction>(window, "itDatemoveTomorrow"),
              W<QAction>(window, "itDatemoveUnplanned")})
            QCOMPARE(item->isEnabled(), dates);
        flags += dates ? 'T' : '-';
        if (W<QToolButton>(window, "btnMarkAsRead")->isVisibleTo(&window))
            flags += 'M';
        flags += '|' + W<QLabel>(window, "lblEditStatus")->text();
        QCOMPARE(flags, expected);
    }

    void statusLineKeepsTextWhenClosed()
    {
        TfrmTaskList window;
        W<QToolButton>(window, "btnNewTask")->click();
        QCOMPARE(W<QLabel>(window, "lblEditStatus")->text(), QStringLiteral("Creating Task"));
        W<QToolButton>(window, "btnCancelEdit")->click();
        QVERIFY(!window.EditorPanel()->Editing());
        QCOMPARE(W<QLabel>(window, "lblEditStatus")->text(), QStringLiteral("Creating Task"));
    }

    void settingsDialogReloadsTagsAndAppliesThemeOnlyAfterOk_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }
    void settingsDialogReloadsTagsAndAppliesThemeOnlyAfterOk()
    {
        QFETCH(bool, confirm);
        AddTag("TAGXaaaaaaaaaaaa", "X", 0);
        TfrmTaskList window;
        window.show();
        QCOMPARE(Tabs(window)->count(), 2);
        // A tag that appears while the dialog is open.
        AddTag("TAGYaaaaaaaaaaaa", "Y", 0);
        OnNextDialog([confirm](QDialog* aDialog) {
            aDialog->findChild<QComboBox*>(QStringLiteral("cbApplicationTheme"))
                ->setCurrentText(QStringLiteral("Carbon"));
            aDialog
                ->findChild<QPushButton*>(confirm ? QStringLiteral("btnOK")
                                                  : QStringLiteral("btnCancel"))
                ->click();
        });
        W<QToolButton>(window, "btnSettings")->click();
        QCOMPARE(Tabs(window)->count(), 3);
        QCOMPARE(CurrentThemeName(), confirm ? QStringLiteral("Carbon") : TasksDefaults::theme);
    }

    void poolDialogReloadsTheListWhenTasksWereCreated_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::newRow("Create the tasks!") << true;
        QTest::newRow("Cancel") << false;
    }
    void poolDialogReloadsTheListWhenTasksWereCreated()
    {
        QFETCH(bool, confirm);
        TfrmTaskList window;
        window.show();
        OnNextDialog([confirm](QDialog* aDialog) {
            aDialog->findChild<QPlainTextEdit*>(QStringLiteral("memPool"))
                ->setPlainText(QStringLiteral("first\nsecond\n"));
            aDialog
                ->findChild<QPushButton*>(confirm ? QStringLiteral("btnOK")
                                                  : QStringLiteral("btnCancel"))
                ->click();
        });
        W<QToolButton>(window, "btnTasksPool")->click();
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), confirm ? 2 : 0);
    }

    void unknownThemeIsReportedAndLookStays()
    {
        TfrmTaskList window;
        const QColor before = QApplication::palette().color(QPalette::Window);
        TkvdMessageBox::ClearShown();
        window.ApplyTheme(QStringLiteral("No Such Theme"));
        QCOMPARE(ErrorBoxes(), 1);
        QVERIFY(TkvdMessageBox::Shown().first().Text.contains(QStringLiteral("No Such Theme")));
        QCOMPARE(CurrentThemeName(), TasksDefaults::theme);
        QCOMPARE(QApplication::palette().color(QPalette::Window), before);
    }

    void unknownThemeInSettingsStillOpensTheWindow()
    {
        WriteConfig(QStringLiteral("theme=Nope\n"));
        AddTask(QStringLiteral("AAAAAAAAAAAAAAAA"), QStringLiteral("one"));
        TfrmTaskList window;
        QCOMPARE(ErrorBoxes(), 1);
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 1);
    }

    // What escapes a handler is logged and shown in one error box, and the
    // program goes on: a timer event through the application's catch point,
    // a handler connected to a signal through the guard, which also lets the
    // signal's later receivers run.
    void errorEscapingAHandlerIsShownAndTheProgramGoesOn_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("timer event") << "timer";
        QTest::newRow("button's clicked signal") << "button";
        QTest::newRow("menu item's triggered signal") << "action";
        QTest::newRow("tab strip's currentChanged signal") << "tab";
    }
    void errorEscapingAHandlerIsShownAndTheProgramGoesOn()
    {
        QFETCH(QString, how);
        auto log = std::make_unique<TtasksLog>();
        log->FileName = FEnv->File(QStringLiteral("ulmora.log"));
        SetTasksLog(std::move(log));
        const std::unique_ptr<void, void (*)(void*)> logReset(this,
                                                              [](void*) { SetTasksLog(nullptr); });
        AddTag(QStringLiteral("TTTTTTTTTTTTTTTT"), QStringLiteral("Home"));
        TfrmTaskList window;
        window.show();
        TkvdMessageBox::ClearShown();

        auto boom = [] { throw EDatabaseError(QStringLiteral("boom in a handler")); };
        bool later = false;
        auto after = [&later] { later = true; };
        auto* button = window.findChild<QToolButton*>(QStringLiteral("btnNewTask"));
        auto* action = window.findChild<QAction*>(QStringLiteral("itTrayShowList"));
        auto* tabs = window.findChild<QTabBar*>(QStringLiteral("tabsGroups"));
        QVERIFY(button && action && tabs);
        QCOMPARE(tabs->count(), 2);
        if (how == QLatin1String("timer")) {
            QTimer::singleShot(0, boom);
            QTimer::singleShot(20, after);
            QTRY_VERIFY(later);
        } else if (how == QLatin1String("button")) {
            ConnectGuarded(button, &QToolButton::clicked, &window, boom);
            ConnectGuarded(button, &QToolButton::clicked, &window, after);
            button->click();
            // The window's own handler ran before: the editor is open.
            QVERIFY(window.EditorPanel()->Editing());
        } else if (how == QLatin1String("action")) {
            ConnectGuarded(action, &QAction::triggered, &window, boom);
            ConnectGuarded(action, &QAction::triggered, &window, after);
            action->trigger();
        } else {
            ConnectGuarded(tabs, &QTabBar::currentChanged, &window, boom);
            ConnectGuarded(tabs, &QTabBar::currentChanged, &window, after);
            tabs->setCurrentIndex(1);
        }
        QVERIFY(later);
        QCOMPARE(ErrorBoxes(), 1);
        QCOMPARE(TkvdMessageBox::Shown().first().Text, QStringLiteral("boom in a handler"));
        QFile file(FEnv->File(QStringLiteral("ulmora.log")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("(X) EDatabaseError: boom in a handler"));
    }

    void databaseThatCannotBeOpened()
    {
        QDir().mkpath(FEnv->File(QStringLiteral("BEXO")));
        QFile file(DatabaseFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray garbage(4096, 'x');
        file.write(garbage);
        file.close();
        {
            TfrmTaskList window;
            window.show();
            QCOMPARE(ErrorBoxes(), 1);
            QVERIFY(TkvdMessageBox::Shown().first().Text.contains(QStringLiteral("tasks.db")));
            QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 0);
            QVERIFY(Tabs(window)->count() <= 1);
            QVERIFY(window.isVisible());
            // No editor is open and nothing is selected.
            for (QToolButton* button :
                 {W<QToolButton>(window, "btnEdit"), W<QToolButton>(window, "btnSaveTask"),
                  W<QToolButton>(window, "btnCancelEdit"), W<QToolButton>(window, "btnDeleteTask")})
                QVERIFY2(!button->isEnabled(), qPrintable(button->objectName()));
            QVERIFY(W<QToolButton>(window, "btnNewTask")->isEnabled());
            window.UpdateControls();
            QVERIFY(!W<QToolButton>(window, "btnEdit")->isEnabled());
        }
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), garbage);
    }

    // ---------------------------------------------------------------- task list

    void listOrderAndColours()
    {
        SetFixedNow(QDateTime(QDate(2024, 3, 10), QTime(12, 0)));
        // Open without due date, newest first; open by due date; equal due
        // dates newest first; finished today in order of finishing; finished
        // yesterday not listed.
        AddTask("UNPLANOLDaaaaaaa", "unplanned old", {}, {}, "2024-03-01 10:00:00");
        AddTask("UNPLANNEWaaaaaaa", "unplanned new", {}, {}, "2024-03-02 10:00:00");
        AddTask("DUELATERaaaaaaaa", "due in a minute", "2024-03-10 12:01:00", {},
                "2024-03-01 10:00:00");
        AddTask("OVERDUEaaaaaaaaa", "due a minute ago", "2024-03-10 11:59:00", {},
                "2024-03-01 10:00:00");
        AddTask("SAMEDUEOLDaaaaaa", "same due old", "2024-03-11 09:00:00", {},
                "2024-03-01 10:00:00");
        AddTask("SAMEDUENEWaaaaaa", "same due new", "2024-03-11 09:00:00", {},
                "2024-03-03 10:00:00");
        AddTask("FINLATEaaaaaaaaa", "finished late", "2024-03-09 09:00:00", "2024-03-10 11:00:00");
        AddTask("FINEARLYaaaaaaaa", "finished early", {}, "2024-03-10 08:00:00");
        AddTask("FINYESTERDAYaaaa", "finished yesterday", {}, "2024-03-09 18:00:00");

        TfrmTaskList window;
        QCOMPARE(
            ListedSummaries(window),
            QStringList({"unplanned new", "unplanned old", "due a minute ago", "due in a minute",
                         "same due new", "same due old", "finished early", "finished late"}));

        struct TExpected
        {
            const char* Id;
            QColor Color;
            bool Strike;
        };
        const TExpected expected[] = {
            {"UNPLANNEWaaaaaaa", QColor(128, 128, 128), false},
            {"OVERDUEaaaaaaaaa", QColor(255, 0, 0), false},
            {"DUELATERaaaaaaaa", QColor(Qt::black), false},
            {"FINLATEaaaaaaaaa", QColor(192, 192, 192), true},
        };
        for (const TExpected& item : expected) {
            const TTaskRecord* record = RecordById(window, item.Id);
            QVERIFY(record);
            const TRowTextStyle style = StyleOf(window, *record);
            QCOMPARE(style.Color, item.Color);
            QCOMPARE(style.Font.strikeOut(), item.Strike);
            QVERIFY(!style.Font.bold());
            QCOMPARE(record->finished, item.Strike);
            QCOMPARE(
                window.ListPanel()->TaskRecords()->data(
                    window.ListPanel()->TaskRecords()->index(record->row, 0), Qt::CheckStateRole),
                QVariant(item.Strike ? Qt::Checked : Qt::Unchecked));
        }
        // Column texts: none, the summary, the due text.
        const QModelIndex first = window.ListPanel()->TaskRecords()->index(0, 0);
        QVERIFY(
            window.ListPanel()->TaskRecords()->data(first, Qt::DisplayRole).toString().isEmpty());
        QCOMPARE(window.ListPanel()->TaskRecords()->data(first.siblingAtColumn(1)).toString(),
                 QStringLiteral("unplanned new"));
        QCOMPARE(window.ListPanel()->TaskRecords()->data(first.siblingAtColumn(2)).toString(),
                 QStringLiteral("unplanned"));
    }

    void finishedTodayGoesByTheLocalDate_data()
    {
        QTest::addColumn<QString>("finished");
        QTest::addColumn<bool>("listed");
        QTest::newRow("00:10 today") << "2024-03-10 00:10:00" << true;
        QTest::newRow("23:50 yesterday") << "2024-03-09 23:50:00" << false;
        QTest::newRow("earlier today") << "2024-03-10 00:00:00" << true;
    }
    void finishedTodayGoesByTheLocalDate()
    {
        QFETCH(QString, finished);
        QFETCH(bool, listed);
        // Just after local midnight, when UTC may still be on the day before.
        SetFixedNow(QDateTime(QDate(2024, 3, 10), QTime(0, 30)));
        AddTask("FINISHEDaaaaaaaa", "finished", {}, finished);
        TfrmTaskList window;
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), listed ? 1 : 0);
    }

    void tabsFilterByTag()
    {
        AddTag("TAGXaaaaaaaaaaaa", "X", 0x0000FF);
        AddTag("TAGYaaaaaaaaaaaa", "Y", 0x00FF00);
        AddTask("T1aaaaaaaaaaaaaa", "x only", {}, {}, "2024-01-01 00:00:03");
        AddTask("T2aaaaaaaaaaaaaa", "x and y", {}, {}, "2024-01-01 00:00:02");
        AddTask("T3aaaaaaaaaaaaaa", "no tag", {}, {}, "2024-01-01 00:00:01");
        Link("T1aaaaaaaaaaaaaa", "TAGXaaaaaaaaaaaa");
        Link("T2aaaaaaaaaaaaaa", "TAGXaaaaaaaaaaaa");
        Link("T2aaaaaaaaaaaaaa", "TAGYaaaaaaaaaaaa");

        TfrmTaskList window;
        window.show();
        QCOMPARE(Tabs(window)->count(), 3);
        QCOMPARE(Tabs(window)->tabText(1), QStringLiteral("X"));
        QVERIFY(!window.ListPanel()->CurrentTag());
        QCOMPARE(ListedSummaries(window, true), QStringList({"x only", "x and y", "no tag"}));

        Tabs(window)->setCurrentIndex(1);
        QCOMPARE(window.ListPanel()->CurrentTag()->tagid, QStringLiteral("TAGXaaaaaaaaaaaa"));
        QCOMPARE(ListedSummaries(window, true), QStringList({"x only", "x and y"}));
        // Hidden rows stay loaded.
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 3);

        Tabs(window)->setCurrentIndex(2);
        QCOMPARE(ListedSummaries(window, true), QStringList({"x and y"}));
        // Selecting all takes only the rows that are shown.
        Tree(window)->selectAll();
        QCOMPARE(window.ListPanel()->SelectedIds(), QStringList({"T2aaaaaaaaaaaaaa"}));

        // Reloading the tags keeps the selected tab index.
        window.LoadTagTabs();
        QCOMPARE(Tabs(window)->currentIndex(), 2);
        QCOMPARE(ListedSummaries(window, true), QStringList({"x and y"}));

        // The selected last tag is deleted: the first tab and the whole list.
        Sql("delete from tags where tagid='TAGYaaaaaaaaaaaa'");
        window.LoadTagTabs();
        QCOMPARE(Tabs(window)->count(), 2);
        QCOMPARE(Tabs(window)->currentIndex(), 0);
        QVERIFY(!window.ListPanel()->CurrentTag());
        QCOMPARE(ListedSummaries(window, true), QStringList({"x only", "x and y", "no tag"}));

        Tabs(window)->setCurrentIndex(0);
        QCOMPARE(ListedSummaries(window, true).size(), 3);
    }

    // A tab click changes only the filter: no statement runs (the tables may be
    // gone), the records and their marks stay, the rows keep their order, and
    // the selection goes as it did when the list was read again.
    void tabSwitchReadsNothingAndKeepsTheRecords()
    {
        AddTag("TAGXaaaaaaaaaaaa", "X", 0x0000FF);
        AddTask("T1aaaaaaaaaaaaaa", "x first", {}, {}, "2024-01-01 00:00:03");
        AddTask("T2aaaaaaaaaaaaaa", "no tag", {}, {}, "2024-01-01 00:00:02");
        AddTask("T3aaaaaaaaaaaaaa", "x last", {}, {}, "2024-01-01 00:00:01");
        Link("T1aaaaaaaaaaaaaa", "TAGXaaaaaaaaaaaa");
        Link("T3aaaaaaaaaaaaaa", "TAGXaaaaaaaaaaaa");
        TfrmTaskList window;
        window.show();
        const QStringList all = ListedSummaries(window, true);
        QCOMPARE(all, QStringList({"x first", "no tag", "x last"}));
        TTaskRecord* first = RecordById(window, "T1aaaaaaaaaaaaaa");
        first->notified = true;
        window.ListPanel()->MarkUnread("T3aaaaaaaaaaaaaa");
        SelectRow(window, RecordById(window, "T2aaaaaaaaaaaaaa")->row);
        QCOMPARE(window.ListPanel()->SelectedIds(), QStringList({"T2aaaaaaaaaaaaaa"}));
        Sql("drop table tags_tasks");
        Sql("drop table tasks");
        TkvdMessageBox::ClearShown();

        Tabs(window)->setCurrentIndex(1);
        QCOMPARE(ErrorBoxes(), 0);
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 3);
        QCOMPARE(RecordById(window, "T1aaaaaaaaaaaaaa"), first);
        QVERIFY(first->notified);
        QCOMPARE(ListedSummaries(window, true), QStringList({"x first", "x last"}));
        QVERIFY(window.ListPanel()->SelectedIds().isEmpty());
        QVERIFY(!window.ListPanel()->SelectedTask());
        QVERIFY(!Tree(window)->currentIndex().isValid());
        // The unread mark is a role of the row, read through the filter too.
        const QModelIndex last = ViewIndex(window, RecordById(window, "T3aaaaaaaaaaaaaa")->row);
        QVERIFY(last.data(TasksUnreadRole).toBool());
        QVERIFY(!ViewIndex(window, first->row).data(TasksUnreadRole).toBool());
        // The first row of the view is the first of the tag's records.
        SelectRow(window, first->row);
        QCOMPARE(window.ListPanel()->SelectedTask(), first);

        Tabs(window)->setCurrentIndex(0);
        QCOMPARE(ErrorBoxes(), 0);
        QCOMPARE(ListedSummaries(window, true), all);
        W<QToolButton>(window, "btnMarkAsRead")->click();
        QVERIFY(!ViewIndex(window, RecordById(window, "T3aaaaaaaaaaaaaa")->row)
                     .data(TasksUnreadRole)
                     .toBool());
    }

    void failedListStatementLeavesAnEmptyList()
    {
        AddTask("T1aaaaaaaaaaaaaa", "one");
        TfrmTaskList window;
        window.show();
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 1);
        Sql("drop table tags_tasks");
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, window.ListPanel()->LoadTasks(nullptr));
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 0);
        // Repainting is back on after the failure.
        QVERIFY(Tree(window)->updatesEnabled());
    }

    void failedTagStatementLeavesOnlyAll()
    {
        AddTag("TAGXaaaaaaaaaaaa", "X", 0);
        TfrmTaskList window;
        QCOMPARE(Tabs(window)->count(), 2);
        Sql("drop table tags");
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, window.LoadTagTabs());
        QCOMPARE(Tabs(window)->count(), 1);
        QCOMPARE(Tabs(window)->tabText(0), QStringLiteral("ALL"));
        QCOMPARE(window.EditorPanel()->TagsControler()->Count(), 0);
        QVERIFY(!window.ListPanel()->CurrentTag());
    }

    void tabsFollowTableOrder()
    {
        AddTag("TAGbaaaaaaaaaaaa", "b", 0, "2020-01-01 00:00:00");
        AddTag("TAGBaaaaaaaaaaaa", "B", 0, "2020-01-01 00:00:00");
        AddTag("TAGaaaaaaaaaaaaa", "a", 0, "2020-01-01 00:00:00");
        AddTag("TAGa2aaaaaaaaaaa", "a", 0, "2019-01-01 00:00:00");
        AddTag("TAGampaaaaaaaaaa", "R&D", 0);
        TfrmTaskList window;
        QStringList titles;
        for (int i = 0; i < Tabs(window)->count(); ++i)
            titles << Tabs(window)->tabText(i);
        QCOMPARE(titles, QStringList({"ALL", "B", "R&&D", "a", "a", "b"}));
        Tabs(window)->setCurrentIndex(3);
        QCOMPARE(window.ListPanel()->CurrentTag()->tagid, QStringLiteral("TAGa2aaaaaaaaaaa"));
        QCOMPARE(window.EditorPanel()->TagsControler()->Count(), 5);
    }

    void tickAndUntick()
    {
        SetFixedNow(QDateTime(QDate(2024, 3, 10), QTime(12, 0, 5)));
        AddTask("OPENaaaaaaaaaaaa", "open", "2024-03-10 11:00:00");
        AddTask("DONEaaaaaaaaaaaa", "done today", "2024-03-10 13:00:00", "2024-03-10 09:00:00");
        TfrmTaskList window;
        window.show();
        TTaskRecord* open = RecordById(window, "OPENaaaaaaaaaaaa");
        TTaskRecord* done = RecordById(window, "DONEaaaaaaaaaaaa");
        QCOMPARE(open->row, 0);

        // A click on the row's box.
        const QModelIndex box = window.ListPanel()->TaskRecords()->index(open->row, 0);
        QStyleOptionViewItem option;
        option.initFrom(Tree(window));
        option.rect = Tree(window)->visualRect(ViewIndex(window, box.row()));
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        option.state |= QStyle::State_Enabled;
        const QRect check = Tree(window)->style()->subElementRect(
            QStyle::SE_ItemViewItemCheckIndicator, &option, Tree(window));
        QTest::mouseClick(Tree(window)->viewport(), Qt::LeftButton, Qt::NoModifier, check.center());
        QVERIFY(open->finished);
        QCOMPARE(StoredValue("select finisheddt from tasks where taskid='OPENaaaaaaaaaaaa'"),
                 QVariant(QStringLiteral("2024-03-10 12:00:05")));
        // Struck through in silver, in place.
        QCOMPARE(StyleOf(window, *open).Color, QColor(192, 192, 192));
        QCOMPARE(open->row, 0);
        QCOMPARE(ListedSummaries(window).first(), QStringLiteral("open"));

        // Unticking a task finished today re-opens it with its due-date colour.
        window.ListPanel()->TaskRecords()->setData(
            window.ListPanel()->TaskRecords()->index(done->row, 0), Qt::Unchecked,
            Qt::CheckStateRole);
        QVERIFY(!done->finished);
        QVERIFY(
            StoredValue("select finisheddt from tasks where taskid='DONEaaaaaaaaaaaa'").isNull());
        QCOMPARE(StyleOf(window, *done).Color, QColor(Qt::black));
        // Space on the focused row, whichever cell has the focus.
        Tree(window)->setCurrentIndex(ViewIndex(window, done->row, 1));
        QTest::keyClick(Tree(window), Qt::Key_Space);
        QVERIFY(done->finished);
        QTest::keyClick(Tree(window), Qt::Key_Space);
        QVERIFY(!done->finished);
        QVERIFY(
            StoredValue("select finisheddt from tasks where taskid='DONEaaaaaaaaaaaa'").isNull());
        // Setting the mark from code raises no check notification.
        done->SetFinished(true);
        QVERIFY(
            StoredValue("select finisheddt from tasks where taskid='DONEaaaaaaaaaaaa'").isNull());
        QCOMPARE(ErrorBoxes(), 0);
    }

    void failedTickKeepsStoredMark()
    {
        AddTask("OPENaaaaaaaaaaaa", "open");
        Sql("create trigger refuse before update on tasks begin select raise(abort, 'refused'); "
            "end;");
        TfrmTaskList window;
        TTaskRecord* open = RecordById(window, "OPENaaaaaaaaaaaa");
        window.ListPanel()->TaskRecords()->setData(
            window.ListPanel()->TaskRecords()->index(open->row, 0), Qt::Checked,
            Qt::CheckStateRole);
        QCOMPARE(ErrorBoxes(), 1);
        QVERIFY(!open->finished);
        QCOMPARE(window.ListPanel()->TaskRecords()->data(
                     window.ListPanel()->TaskRecords()->index(open->row, 0), Qt::CheckStateRole),
                 QVariant(Qt::Unchecked));
        QVERIFY(StoredValue("select finisheddt from tasks").isNull());
    }

    void selectionListAndTopmostTask()
    {
        for (int i = 0; i < 4; ++i)
            AddTask(QStringLiteral("TASK%1aaaaaaaaaaa").arg(i), QStringLiteral("task %1").arg(i),
                    QStringLiteral("2030-01-0%1 10:00:00").arg(i + 1));
        TfrmTaskList window;
        window.show();
        QVERIFY(!window.ListPanel()->SelectedTask());
        SelectRow(window, 2);
        SelectRow(window, 0);
        SelectRow(window, 3);
        QCOMPARE(window.ListPanel()->SelectedIds(),
                 QStringList({"TASK2aaaaaaaaaaa", "TASK0aaaaaaaaaaa", "TASK3aaaaaaaaaaa"}));
        QCOMPARE(window.ListPanel()->SelectedTask()->taskid, QStringLiteral("TASK0aaaaaaaaaaa"));
        SelectRow(window, 0, QItemSelectionModel::Deselect);
        QCOMPARE(window.ListPanel()->SelectedIds(),
                 QStringList({"TASK2aaaaaaaaaaa", "TASK3aaaaaaaaaaa"}));
        QCOMPARE(window.ListPanel()->SelectedTask()->taskid, QStringLiteral("TASK2aaaaaaaaaaa"));
        // A reload loses the selection and empties the list of ids.
        window.ListPanel()->LoadTasks(window.ListPanel()->CurrentTag());
        QVERIFY(window.ListPanel()->SelectedIds().isEmpty());
        QVERIFY(!window.ListPanel()->SelectedTask());
    }

    void unreadMarks()
    {
        AddTask("OPENaaaaaaaaaaaa", "open", "2030-01-01 10:00:00");
        AddTask("DONEaaaaaaaaaaaa", "done", {}, DateTimeToSqlText(Now()));
        TfrmTaskList window;
        window.show();
        QVERIFY(!W<QToolButton>(window, "btnMarkAsRead")->isVisibleTo(&window));
        window.ListPanel()->MarkUnread("OPENaaaaaaaaaaaa");
        window.ListPanel()->MarkUnread("openaaaaaaaaaaaa");
        window.ListPanel()->MarkUnread("DONEaaaaaaaaaaaa");
        QCOMPARE(window.ListPanel()->UnreadIds().size(), 2);
        QVERIFY(window.ListPanel()->IsUnread("OpenAAAAAAAAAAAA"));
        window.UpdateControls();
        QVERIFY(W<QToolButton>(window, "btnMarkAsRead")->isVisibleTo(&window));
        QVERIFY(StyleOf(window, *RecordById(window, "OPENaaaaaaaaaaaa")).Font.bold());
        // A reminded task that is finished is struck through, not bold.
        const TRowTextStyle done = StyleOf(window, *RecordById(window, "DONEaaaaaaaaaaaa"));
        QVERIFY(!done.Font.bold());
        QVERIFY(done.Font.strikeOut());
        // The marks survive a reload.
        window.ListPanel()->LoadTasks(nullptr);
        QCOMPARE(window.ListPanel()->UnreadIds().size(), 2);
        W<QToolButton>(window, "btnMarkAsRead")->click();
        QVERIFY(window.ListPanel()->UnreadIds().isEmpty());
        QVERIFY(!W<QToolButton>(window, "btnMarkAsRead")->isVisibleTo(&window));
        QVERIFY(!StyleOf(window, *RecordById(window, "OPENaaaaaaaaaaaa")).Font.bold());
    }

    void tagBandGeometry_data()
    {
        QTest::addColumn<QString>("ids");
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("expected"); // top+height per band, '-' for a line
        QTest::newRow("no tag") << "" << 0 << "";
        QTest::newRow("one tag, column 0") << "A" << 0 << "0+26-";
        QTest::newRow("two tags, column 1") << "A,B" << 1 << "0+13 13+13";
        QTest::newRow("three tags, rounded down") << "A,B,C" << 0 << "0+8- 8+8- 16+8-";
        QTest::newRow("unknown id leaves its band plain") << "A,nope,C" << 2 << "0+8 16+8";
        QTest::newRow("ids differing in case are other tags") << "a,B" << 1 << "13+13";
    }
    void tagBandGeometry()
    {
        QFETCH(QString, ids);
        QFETCH(int, column);
        QFETCH(QString, expected);
        TtasksTag a(QStringLiteral("A")), b(QStringLiteral("B")), c(QStringLiteral("C"));
        a.color = 0x0000FF;
        b.color = 0x00FF00;
        c.color = static_cast<int32_t>(0xFF000005); // a system colour
        auto lookup = [&](const QString& aId) -> const TtasksTag* {
            for (const TtasksTag* tag : {&a, &b, &c}) {
                if (tag->tagid == aId)
                    return tag;
            }
            return nullptr;
        };
        const std::vector<TTagBand> bands = TagBands(QRect(5, 100, 300, 26), column, ids, lookup);
        QStringList described;
        for (const TTagBand& band : bands) {
            QCOMPARE(band.Rect.left(), 5);
            QCOMPARE(band.Rect.width(), 300);
            described << QStringLiteral("%1+%2%3")
                             .arg(band.Rect.top() - 100)
                             .arg(band.Rect.height())
                             .arg(band.HasLine ? "-" : "");
        }
        QCOMPARE(described.join(' '), expected);
        if (ids == QLatin1String("A")) {
            QCOMPARE(bands[0].Fill, QColor(255, 240, 240));
            QCOMPARE(bands[0].Line, QColor(255, 100, 100));
        }
    }

    void bandsArePaintedOnTheList()
    {
        AddTag("TAGRaaaaaaaaaaaa", "Red", 0x0000FF);
        AddTag("TAGGaaaaaaaaaaaa", "Green", 0x00FF00);
        AddTask("T1aaaaaaaaaaaaaa", "two tags", "2030-01-01 10:00:00");
        Link("T1aaaaaaaaaaaaaa", "TAGRaaaaaaaaaaaa");
        Link("T1aaaaaaaaaaaaaa", "TAGGaaaaaaaaaaaa");
        TfrmTaskList window;
        window.show();
        const QImage image = Tree(window)->viewport()->grab().toImage();
        const QRect row = Tree(window)->visualRect(ViewIndex(window, 0, 1));
        QCOMPARE(row.height(), 26);
        const QString ids = window.ListPanel()->RecordOfRow(0)->tagsids;
        const QColor first =
            ids.startsWith(QLatin1String("TAGR")) ? QColor(255, 240, 240) : QColor(240, 255, 240);
        const QColor second =
            first == QColor(255, 240, 240) ? QColor(240, 255, 240) : QColor(255, 240, 240);
        // Right end of the summary column, where no text is drawn.
        const int x = row.right() - 3;
        QCOMPARE(image.pixelColor(x, row.top() + 3), first);
        QCOMPARE(image.pixelColor(x, row.top() + 16), second);
        // The stripe at the left edge of column 0.
        const QRect box = Tree(window)->visualRect(ViewIndex(window, 0, 0));
        const QColor stripe = image.pixelColor(box.left(), row.top() + 3);
        QCOMPARE(stripe,
                 first == QColor(255, 240, 240) ? QColor(255, 100, 100) : QColor(100, 255, 100));
    }

    void backgroundPictureStaysInTheCorner()
    {
        TfrmTaskList window;
        window.show();
        window.resize(700, 600);
        QCoreApplication::processEvents();
        const QSize viewport = Tree(window)->viewport()->size();
        QCOMPARE(Tree(window)->BackgroundPos(),
                 QPoint(viewport.width() - 200, viewport.height() - 200));
    }

    void listLayout()
    {
        AddTask("ROWaaaaaaaaaaaaa", "a row", "2030-01-01 10:00:00");
        TfrmTaskList window;
        window.show();
        // Rows of 26 pixels; a click selects the whole row; the due date-time
        // is right-aligned.
        const QModelIndex row = window.ListPanel()->TaskRecords()->index(0, 1);
        QCOMPARE(Tree(window)->visualRect(ViewIndex(window, 0, 1)).height(), 26);
        QCOMPARE(Tree(window)->selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(Qt::Alignment(row.siblingAtColumn(2).data(Qt::TextAlignmentRole).toInt()) &
                Qt::AlignRight);
        // The summary column takes the width the other two leave.
        QCOMPARE(Tree(window)->header()->sectionResizeMode(1), QHeaderView::Stretch);
        QVERIFY(Tree(window)->isHeaderHidden());
        QVERIFY(!Tree(window)->rootIsDecorated());
        QCOMPARE(Tree(window)->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(Tree(window)->header()->sectionSize(0), 30);
        QVERIFY(Tree(window)->header()->sectionSize(2) >= 130);
        QCOMPARE(window.ListPanel()->TaskRecords()->columnCount(), 3);
    }

    void hintText_data()
    {
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("expected");
        QTest::newRow("both") << "Buy"
                              << "milk\nand bread"
                              << "Buy\r\n---\r\nNOTE:\r\nmilk\nand bread\r\n\r\nDUE DATETIME:\r\n"
                                 "unplanned";
        QTest::newRow("blanks and controls are undefined")
            << " \t\r\n"
            << ""
            << "undefined\r\n---\r\nNOTE:\r\nundefined\r\n\r\nDUE DATETIME:\r\nunplanned";
        QTest::newRow("kept untrimmed") << "  x  "
                                        << " y"
                                        << "  x  \r\n---\r\nNOTE:\r\n y\r\n\r\nDUE DATETIME:\r\n"
                                           "unplanned";
    }
    void hintText()
    {
        QFETCH(QString, summary);
        QFETCH(QString, note);
        QFETCH(QString, expected);
        TfrmTaskList window;
        TTaskRecord record(QStringLiteral("X"));
        record.summary = summary;
        record.note = note;
        QCOMPARE(window.ListPanel()->TaskHintText(record), expected);
    }

    void badInputShowsWithoutACrash()
    {
        AddTag("TAGLONGaaaaaaaaa", QString(10000, QChar(u'W')), 0x123456);
        AddTag("TAGEMPTYaaaaaaaa", QString(), 0);
        AddTag("TAGRTLaaaaaaaaaa", QStringLiteral("עברית العربية"), 0x00FFFF);
        AddTag("TAGCJKaaaaaaaaaa", QStringLiteral("日本語 😀"), static_cast<qint64>(-16777211));
        AddTag("TAGSYSaaaaaaaaaa", QStringLiteral("system"), static_cast<qint64>(0xFF00000F));
        AddTask("T1aaaaaaaaaaaaaa", QStringLiteral("مهمة بالعربية"), "garbage date", {}, {},
                QStringLiteral("line 1\r\nline 2\rline 3\nline 4"));
        AddTask("T2aaaaaaaaaaaaaa", QString(10000, QChar(u'S')), "2030-01-01 00:00:00");
        for (const char* tag : {"TAGLONGaaaaaaaaa", "TAGEMPTYaaaaaaaa", "TAGRTLaaaaaaaaaa",
                                "TAGCJKaaaaaaaaaa", "TAGSYSaaaaaaaaaa", "NOSUCHTAGaaaaaaa"}) {
            Link("T1aaaaaaaaaaaaaa", tag);
            Link("T2aaaaaaaaaaaaaa", tag);
        }
        TfrmTaskList window;
        window.show();
        QCOMPARE(ErrorBoxes(), 0);
        QCOMPARE(Tabs(window)->count(), 6);
        QCOMPARE(window.ListPanel()->TaskRecords()->Count(), 2);
        // Malformed due text reads as unplanned.
        QCOMPARE(RecordById(window, "T1aaaaaaaaaaaaaa")->duedt, 0.0);
        for (int tab = 0; tab < Tabs(window)->count(); ++tab) {
            Tabs(window)->setCurrentIndex(tab);
            QVERIFY(!window.grab().isNull());
        }
        QVERIFY(Tabs(window)->width() <= window.width());
        for (int tab = 0; tab < Tabs(window)->count(); ++tab)
            QVERIFY(Tabs(window)->tabRect(tab).width() <= TtasksTabBar::kMaxTabWidth);
    }

    // ---------------------------------------------------------------- themes and pictures

    void everyThemeApplies_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("Windows") << QStringLiteral("Windows");
        for (const QString& name : TasksThemeNames())
            QTest::newRow(qPrintable(name)) << name;
    }
    void everyThemeApplies()
    {
        QFETCH(QString, name);
        QVERIFY(ApplyTheme(name));
        QCOMPARE(ErrorBoxes(), 0);
        QCOMPARE(CurrentThemeName(), name);
        const QPalette palette = QApplication::palette();
        // Text is legible on its background and on the buttons.
        QVERIFY2(ContrastRatio(palette.color(QPalette::Text), palette.color(QPalette::Base)) >= 4.5,
                 qPrintable(name));
        QVERIFY2(ContrastRatio(palette.color(QPalette::WindowText),
                               palette.color(QPalette::Window)) >= 4.5,
                 qPrintable(name));
        QVERIFY2(ContrastRatio(palette.color(QPalette::ButtonText),
                               palette.color(QPalette::Button)) >= 4.5,
                 qPrintable(name));
        QVERIFY2(ContrastRatio(palette.color(QPalette::HighlightedText),
                               palette.color(QPalette::Highlight)) >= 3.0,
                 qPrintable(name));
        TfrmTaskList window;
        QVERIFY(!window.grab().isNull());
    }

    void themesAreDistinct()
    {
        const QStringList names = TasksThemeNames();
        QCOMPARE(names.size(), 22);
        QVERIFY(names.contains(QStringLiteral("Turquoise Gray")));
        QStringList looks;
        for (const QString& name : names) {
            const QPalette palette = ThemePalette(name);
            looks << palette.color(QPalette::Window).name() +
                         palette.color(QPalette::Highlight).name();
        }
        looks.removeDuplicates();
        QCOMPARE(looks.size(), names.size());
    }
};

int main(int argc, char* argv[])
{
    TtasksApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationDisplayName(QStringLiteral("Ulmora"));
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_main_window.moc"
