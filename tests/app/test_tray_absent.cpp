// The main window on a desktop without a tray, and with a tray that comes or
// goes while the program runs: where a close puts the window, the "Exit"
// button that stands in for the tray menu, and a hidden window brought back
// when the tray goes. The tray's presence is set through TtasksTray's seam.

#include "app/tasks_application.h"
#include "app/tasks_form_main.h"
#include "app/tasks_tray.h"

#include "window_fixture.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <memory>

class TestTrayAbsent : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TTestEnv> FEnv;

    void WriteConfig(const QString& aLines)
    {
        QDir().mkpath(FEnv->File(QStringLiteral("BEXO")));
        QFile file(FEnv->File(QStringLiteral("BEXO/config.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(("[main]\n" + aLines).toUtf8());
    }

    // Whether the window's "Exit" button would show with the window.
    static bool ExitShown(TfrmTaskList& aWindow)
    {
        return W<QToolButton>(aWindow, "btnExit")->isVisibleTo(&aWindow);
    }

    // Makes the desktop have a tray or not, and lets the window look.
    static void SetTray(TfrmTaskList& aWindow, bool aPresent)
    {
        TtasksTray::SetAvailableForTests(aPresent);
        aWindow.Tray()->CheckAvailable();
    }

private Q_SLOTS:
    void init() { FEnv = StartWindowTest(); }
    void cleanup()
    {
        TtasksTray::SetAvailableForTests(std::nullopt);
        EndWindowTest(FEnv);
    }

    // Closing with close_minimizes on puts the window in the tray where there
    // is one, in the task bar where there is none; an open edit is discarded
    // either way and the program keeps running.
    void closeGoesWhereTheWindowCanBeFound_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::newRow("tray: hidden") << true;
        QTest::newRow("no tray: minimised") << false;
    }
    void closeGoesWhereTheWindowCanBeFound()
    {
        QFETCH(bool, tray);
        TtasksTray::SetAvailableForTests(tray);
        TfrmTaskList window;
        window.show();
        W<QToolButton>(window, "btnNewTask")->click();
        W<QLineEdit>(window, "edTaskSummary")->setText(QStringLiteral("typed"));

        QVERIFY(!window.close());
        QCOMPARE(window.isVisible(), !tray);
        QCOMPARE(window.isMinimized(), !tray);
        QVERIFY(!window.EditorPanel()->Editing());
        QVERIFY(W<QLineEdit>(window, "edTaskSummary")->text().isEmpty());
        // The window can be had back as from the tray.
        window.ShowList();
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
    }

    // The close looks for the tray itself rather than trusting the last
    // poll: a tray gone a moment ago must not swallow the window.
    void closeLooksForTheTrayAtThatMoment()
    {
        TfrmTaskList window;
        window.show();
        TtasksTray::SetAvailableForTests(false);
        QVERIFY(window.Tray()->Present());
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QVERIFY(window.isMinimized());
        QVERIFY(!window.Tray()->Present());
        QVERIFY(ExitShown(window));
    }

    // With close_minimizes off the close still ends the program, tray or not.
    void closeEndsWithoutTrayWhenAsked()
    {
        WriteConfig(QStringLiteral("close_minimizes=0\n"));
        TtasksTray::SetAvailableForTests(false);
        TfrmTaskList window;
        window.show();
        QTimer::singleShot(0, &window, [&] { window.close(); });
        // Stands in for the end when the close does not end the loop.
        QTimer::singleShot(10000, &window, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    // "Exit" is on the button bar exactly while there is no tray, follows the
    // tray as it comes and goes, and keeps its place, look and caption.
    void exitButtonFollowsTheTray_data()
    {
        QTest::addColumn<bool>("trayAtStart");
        QTest::newRow("tray at start") << true;
        QTest::newRow("no tray at start") << false;
    }
    void exitButtonFollowsTheTray()
    {
        QFETCH(bool, trayAtStart);
        TtasksTray::SetAvailableForTests(trayAtStart);
        TfrmTaskList window;
        window.show();
        auto* exit = W<QToolButton>(window, "btnExit");
        QCOMPARE(exit->text(), QStringLiteral("Exit"));
        QCOMPARE(exit->size(), QSize(70, 58));
        QCOMPARE(exit->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(!exit->icon().isNull());
        QCOMPARE(exit->parentWidget(), W<QWidget>(window, "pnlButtons"));
        QCOMPARE(ExitShown(window), !trayAtStart);

        QSignalSpy changes(window.Tray(), &TtasksTray::AvailabilityChanged);
        for (const bool present : {!trayAtStart, trayAtStart, !trayAtStart}) {
            SetTray(window, present);
            QCOMPARE(window.Tray()->Present(), present);
            QCOMPARE(ExitShown(window), !present);
            // The shown window stays as it is.
            QVERIFY(window.isVisible());
            QVERIFY(!window.isMinimized());
        }
        QCOMPARE(changes.count(), 3);
        // A look that finds nothing changed says nothing.
        window.Tray()->CheckAvailable();
        QCOMPARE(changes.count(), 3);
        // The tray's menu stays as it is, whatever the bar shows.
        QCOMPARE(W<QSystemTrayIcon>(window, "tray")->contextMenu(), W<QMenu>(window, "tray_popup"));
    }

    void exitButtonEndsTheProgram()
    {
        TtasksTray::SetAvailableForTests(false);
        TfrmTaskList window;
        window.show();
        QTimer::singleShot(0, &window, [&] { W<QToolButton>(window, "btnExit")->click(); });
        QTimer::singleShot(10000, &window, [] { QCoreApplication::exit(7); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }

    // A window hidden to a tray that goes comes back minimised, so it can be
    // reached from the task bar; a minimised or shown window is left alone.
    void trayGoingBringsHiddenWindowBack_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<bool>("minimised");
        QTest::newRow("hidden by a close") << "hidden" << true;
        QTest::newRow("shown") << "shown" << false;
        QTest::newRow("minimised") << "minimised" << true;
    }
    void trayGoingBringsHiddenWindowBack()
    {
        QFETCH(QString, before);
        QFETCH(bool, minimised);
        TfrmTaskList window;
        window.show();
        if (before == QLatin1String("hidden"))
            QVERIFY(!window.close());
        else if (before == QLatin1String("minimised"))
            window.showMinimized();
        QCOMPARE(window.isVisible(), before != QLatin1String("hidden"));

        SetTray(window, false);
        QVERIFY(window.isVisible());
        QCOMPARE(window.isMinimized(), minimised);
        QVERIFY(ExitShown(window));
    }

    // A tray that comes after the start takes the window again: the next
    // close hides it, and a click on the icon brings it back.
    void trayComingLaterTakesTheWindow()
    {
        TtasksTray::SetAvailableForTests(false);
        TfrmTaskList window;
        window.show();
        QVERIFY(!window.close());
        QVERIFY(window.isMinimized());

        SetTray(window, true);
        QVERIFY(W<QSystemTrayIcon>(window, "tray")->isVisible());
        window.ShowList();
        QVERIFY(!window.close());
        QVERIFY(!window.isVisible());
        Q_EMIT W<QSystemTrayIcon>(window, "tray")->activated(QSystemTrayIcon::Trigger);
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
    }

    // The tray is looked for again and again while the program runs, without
    // a close or anything else happening.
    void trayIsWatchedWhileRunning()
    {
        TfrmTaskList window;
        window.show();
        QVERIFY(!window.close());
        QSignalSpy changes(window.Tray(), &TtasksTray::AvailabilityChanged);
        TtasksTray::SetAvailableForTests(false);
        // A guard against a watch that never looks, not a measure of speed.
        QVERIFY(changes.wait(30000));
        QCOMPARE(changes.first().first().toBool(), false);
        QVERIFY(window.isVisible());
        QVERIFY(window.isMinimized());
    }
};

int main(int argc, char* argv[])
{
    TtasksApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    TestTrayAbsent test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_tray_absent.moc"
