// The running program's side of a later start, on the real main window: a
// quick entry reaches the window's list at once, a refused one changes
// nothing, "show" brings a hidden window back, and an unknown request is
// refused. The later start runs on a thread of its own over the real
// channel; the window answers from this test's event loop, as from the
// program's.

#include "app/tasks_form_main.h"
#include "app/tasks_instance_window.h"
#include "app/tasks_tray.h"
#include "cli/tasks_instance.h"
#include "ical/tasks_ics.h"
#include "resources/tasks_themes.h"
#include "store/tasks_db.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_utils.h"

#include "../common/store_rows.h"
#include "../common/test_env.h"

#include <QAbstractItemModel>
#include <QFile>
#include <QTemporaryDir>
#include <QTreeView>
#include <QtTest>
#include <future>
#include <memory>

namespace {

void Sql(const QString& aSQL)
{
    QVERIFY2(GetTasksDB()->Exec(aSQL), qPrintable(aSQL));
}

// Every text the list shows, row by row, all columns.
QStringList ListedTexts(QWidget& aWindow)
{
    auto* tree = aWindow.findChild<QTreeView*>(QStringLiteral("treeTaskList"));
    if (!tree)
        qFatal("The window has no treeTaskList");
    QStringList texts;
    const QAbstractItemModel* model = tree->model();
    for (int row = 0; row < model->rowCount(); ++row) {
        for (int column = 0; column < model->columnCount(); ++column)
            texts << model->index(row, column).data().toString();
    }
    return texts;
}

} // namespace

class TestInstanceWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        TkvdMessageBox::SetTestMode(true);
        // As on a desktop with a tray, where closing hides the window.
        TtasksTray::SetAvailableForTests(true);
        QVERIFY(FRuntime.isValid());
        qputenv("XDG_RUNTIME_DIR", FRuntime.path().toUtf8());
    }

    void init()
    {
        FEnv = std::make_unique<TTestEnv>();
        FEnv->UseDatabase();
        TkvdMessageBox::ClearShown();
        ApplyTheme(TasksDefaults::theme);
        GetTasksSettings();
        Sql("insert into tags (tagid, title, color, createddt) values ('TagWorkAAAAAAAAA', "
            "'Work', 255, '2020-01-01 00:00:00')");
        Sql("insert into tasks (taskid, summary, createddt) values ('TaskOldAAAAAAAAA', "
            "'Already there', datetime('now'))");
        FWindow = std::make_unique<TfrmTaskList>();
        FChannel = QStringLiteral("ulmora-test-") + GenerateId();
        TInstanceReach reach = ReachInstance(FChannel, {kInstanceShow, {}});
        QCOMPARE(reach.outcome, TInstanceReach::TOutcome::Instance);
        FServer = std::make_unique<TInstanceServer>(FChannel, std::move(reach.lock));
        TfrmTaskList* window = FWindow.get();
        QVERIFY(FServer->Start([window](const TInstanceRequest& aRequest) {
            return AnswerInstanceRequest(*window, aRequest);
        }));
    }

    void cleanup()
    {
        FServer.reset();
        FWindow.reset();
        FEnv.reset();
    }

    void addReachesTheRunningList()
    {
        FWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
        QVERIFY(!ListedTexts(*FWindow).contains("From the shell"));
        TInstanceRequest request{kInstanceAdd, {}};
        request.task.summary = QStringLiteral("From the shell");
        request.task.tags = QStringList{"work"};
        request.task.due = QStringLiteral("2030-01-02 10:30");
        const TInstanceReach reach = Send(request);
        QCOMPARE(reach.outcome, TInstanceReach::TOutcome::HandedOver);
        QCOMPARE(reach.reply.status, kExitOk);
        // The list shows it now, without anything else happening on the window.
        const QStringList listed = ListedTexts(*FWindow);
        QVERIFY2(listed.contains("From the shell"), qPrintable(listed.join(" | ")));
        QVERIFY(listed.contains("Already there"));
        QCOMPARE(Count("select count(*) as n from tasks t join tags_tasks l on l.taskid=t.taskid "
                       "where t.summary='From the shell' and l.tagid='TagWorkAAAAAAAAA' and "
                       "t.duedt='2030-01-02 10:30:00'"),
                 1);
        QCOMPARE(TkvdMessageBox::Shown().size(), 0);
    }

    // --import with the program running: the running program imports the
    // file and lists the new tasks at once; the counts go back to the start.
    void importReachesTheRunningList()
    {
        if (!IcsSupported())
            QSKIP("this build has no iCalendar files");
        const QString path = FEnv->File("in.ics");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//T//T//EN\r\nBEGIN:VTODO\r\n"
                   "UID:a@example.org\r\nDTSTAMP:20260301T070000Z\r\nSUMMARY:From a file\r\n"
                   "CATEGORIES:Work\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
        file.close();
        FWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
        TInstanceRequest request{kInstanceImport, {}, path};
        const TInstanceReach reach = Send(request);
        QCOMPARE(reach.outcome, TInstanceReach::TOutcome::HandedOver);
        QCOMPARE(reach.reply.status, kExitOk);
        QVERIFY2(reach.reply.message.contains("1 added, 0 skipped"),
                 qPrintable(reach.reply.message));
        const QStringList listed = ListedTexts(*FWindow);
        QVERIFY2(listed.contains("From a file"), qPrintable(listed.join(" | ")));
        QCOMPARE(TkvdMessageBox::Shown().size(), 0);

        request.file = FEnv->File("missing.ics");
        const TInstanceReach missing = Send(request);
        QCOMPARE(missing.reply.status, kExitFailure);
        QVERIFY(missing.reply.message.contains("missing.ics"));
    }

    // A refused entry is told to the start that sent it; the window shows no
    // box and its list stays.
    void refusedAddChangesNothing()
    {
        const QStringList before = ListedTexts(*FWindow);
        TInstanceRequest request{kInstanceAdd, {}};
        request.task.summary = QStringLiteral("Never stored");
        request.task.tags = QStringList{"Garden"};
        const TInstanceReach reach = Send(request);
        QCOMPARE(reach.reply.status, kExitUsage);
        QVERIFY2(reach.reply.message.contains("no tag is titled \"Garden\""),
                 qPrintable(reach.reply.message));
        QCOMPARE(ListedTexts(*FWindow), before);
        QCOMPARE(Count("select count(*) as n from tasks"), 1);
        QCOMPARE(TkvdMessageBox::Shown().size(), 0);
    }

    // A second start of the program brings the window of the first back from the tray.
    void showBringsTheHiddenWindowBack()
    {
        FWindow->show();
        QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
        // Closing only hides the window (close_minimizes is on by default).
        FWindow->close();
        QVERIFY(!FWindow->isVisible());
        const TInstanceReach reach = Send({kInstanceShow, {}});
        QCOMPARE(reach.reply.status, kExitOk);
        QVERIFY(FWindow->isVisible());
        QVERIFY(!FWindow->isMinimized());
    }

    void showRestoresAMinimisedWindow()
    {
        FWindow->showMinimized();
        QTRY_VERIFY(FWindow->isMinimized());
        QCOMPARE(Send({kInstanceShow, {}}).reply.status, kExitOk);
        QVERIFY(FWindow->isVisible());
        QVERIFY(!FWindow->isMinimized());
    }

    // A start with --hidden only learns that the program runs.
    void pingLeavesTheWindowAlone()
    {
        QVERIFY(!FWindow->isVisible());
        QCOMPARE(Send({kInstancePing, {}}).reply.status, kExitOk);
        QVERIFY(!FWindow->isVisible());
    }

    // A newer start's request that this program does not know.
    void unknownRequest()
    {
        const TInstanceReach reach = Send({QStringLiteral("frobnicate"), {}});
        QCOMPARE(reach.reply.status, kExitUsage);
        QVERIFY2(reach.reply.message.contains("does not know the request \"frobnicate\""),
                 qPrintable(reach.reply.message));
        QVERIFY(!FWindow->isVisible());
    }

private:
    // Sends aRequest as a later start does and runs the event loop until it
    // is answered (at most a minute, so that a fault ends the test).
    TInstanceReach Send(const TInstanceRequest& aRequest)
    {
        const QString channel = FChannel;
        auto later = std::async(std::launch::async,
                                [channel, aRequest] { return ReachInstance(channel, aRequest); });
        QDeadlineTimer limit(60000);
        while (later.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready &&
               !limit.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (later.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready)
            qFatal("the later start was not answered");
        return later.get();
    }

    QTemporaryDir FRuntime;
    std::unique_ptr<TTestEnv> FEnv;
    std::unique_ptr<TfrmTaskList> FWindow;
    QString FChannel;
    std::unique_ptr<TInstanceServer> FServer;
};

QTEST_MAIN(TestInstanceWindow)
#include "test_instance_window.moc"
