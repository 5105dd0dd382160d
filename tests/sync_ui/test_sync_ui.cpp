// The window's side of the sync, on the real main window and settings dialog
// against a Radicale server on 127.0.0.1 (and small servers of the test's own
// that refuse or never answer): the "Sync" section's settings and password,
// "Sync now" with its result in the dialog and the tray's tooltip, the
// schedule through timers the test fires, the password prompt where no
// keyring answers, the end of the program while a server hangs, and that
// nothing is sent or asked without sync configured.

#include "settings/tasks_sync_settings.h"
#include "settings_ui/tasks_form_settings.h"
#include "sync_ui/tasks_sync_controler.h"
#include "sync_ui/tasks_sync_passwords.h"

#include "../app/window_fixture.h"
#include "../sync/radicale_server.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QToolButton>
#include <QtTest>
#include <map>
#include <optional>

namespace {

const QString kTaskA = QStringLiteral("TaskAAAAAAAAAAAA");
// A network wait of a sync that works; a failure ends the wait sooner.
constexpr int kSyncWait = 60000;

// A timer of the schedule that only the test fires.
class TFakeTimer : public TtasksSyncTimer
{
public:
    using TtasksSyncTimer::TtasksSyncTimer;
    void Start(int aMs) override
    {
        FActive = true;
        interval = aMs;
    }
    void Stop() override { FActive = false; }
    bool Active() const override { return FActive; }
    // Fires as the real one does: once, and it is no longer active.
    void Fire()
    {
        FActive = false;
        Q_EMIT Timeout();
    }
    int interval = -1;

private:
    bool FActive = false;
};

// The keyring in memory: it answers later, as the real one does, or says
// that no keyring is there.
class TMemoryPasswords : public ItasksPasswordStore
{
public:
    bool keyring = true;
    std::map<QString, QString> stored;
    int reads = 0;

    void Read(const QString& aKey, QObject* aContext, TReadDone aDone) override
    {
        ++reads;
        TSyncPasswordRead read;
        if (!keyring) {
            read.status = TSyncPasswordRead::TStatus::NoKeyring;
            read.error = QStringLiteral("no keyring in this test");
        } else if (stored.count(aKey)) {
            read.status = TSyncPasswordRead::TStatus::Found;
            read.password = stored[aKey];
        } else {
            read.status = TSyncPasswordRead::TStatus::NotFound;
        }
        QTimer::singleShot(0, aContext, [read, done = std::move(aDone)] { done(read); });
    }
    void Write(const QString& aKey, const QString& aPassword, QObject* aContext,
               TWriteDone aDone) override
    {
        if (keyring)
            stored[aKey] = aPassword;
        const bool ok = keyring;
        QTimer::singleShot(0, aContext, [ok, done = std::move(aDone)] {
            done(ok, ok ? QString() : QStringLiteral("no keyring"));
        });
    }
};

// A server that accepts connections and never answers them.
class TSilentServer : public QTcpServer
{
public:
    TSilentServer() { listen(QHostAddress::LocalHost, 0); }
    QString Url() const { return QStringLiteral("http://127.0.0.1:%1/cal/").arg(serverPort()); }
    // Every connection so far, accepted and kept open.
    int Connections()
    {
        while (hasPendingConnections())
            FSockets.push_back(nextPendingConnection());
        return static_cast<int>(FSockets.size());
    }

private:
    std::vector<QTcpSocket*> FSockets;
};

// A port where nothing listens.
QString UnreachableUrl()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/cal/").arg(port);
}

QString ConfigText()
{
    QFile file(NativePath(ExpandEnvVars(GetTasksSettings()->FileName())));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("The settings file cannot be read");
    return QString::fromUtf8(file.readAll());
}

QStringList Summaries(TfrmTaskList& aWindow)
{
    QStringList summaries;
    TtasksListPanel* list = aWindow.ListPanel();
    for (int row = 0; row < list->TaskRecords()->Count(); ++row)
        summaries << list->RecordOfRow(row)->summary;
    return summaries;
}

QStringList TabTexts(TfrmTaskList& aWindow)
{
    QStringList texts;
    for (int index = 0; index < Tabs(aWindow)->count(); ++index)
        texts << Tabs(aWindow)->tabText(index);
    return texts;
}

} // namespace

class TestSyncUi : public QObject
{
    Q_OBJECT

private:
    TRadicaleServer FServer;
    bool FServerUp = false;
    QString FServerProblem;

    std::unique_ptr<TTestEnv> FEnv;
    std::shared_ptr<TMemoryPasswords> FPasswords;
    std::map<QString, TFakeTimer*> FTimers;

    // A window over a fresh database with the given sync settings; the
    // password, when given, already in the keyring.
    std::unique_ptr<TfrmTaskList> MakeWindow(const TSyncSettings& aSettings,
                                             const QString& aPassword = QString(),
                                             int aTimeoutMs = 0)
    {
        FEnv->UseDatabase();
        GetTasksSettings();
        WriteSyncSettings(aSettings);
        if (!aPassword.isNull())
            FPasswords->stored[aSettings.PasswordKey()] = aPassword;
        TtasksSyncControler::TSeams seams;
        seams.passwords = FPasswords;
        seams.timeoutMs = aTimeoutMs;
        seams.timers = [this](QObject* aParent, const QString& aName) -> TtasksSyncTimer* {
            auto* timer = new TFakeTimer(aParent);
            FTimers[aName] = timer;
            return timer;
        };
        TtasksSyncControler::SetDefaultSeams(seams);
        AddTask(kTaskA, QStringLiteral("Water the plants"));
        auto window = std::make_unique<TfrmTaskList>();
        // The start's sync waits for its timer; the tests fire it when they mean to.
        return window;
    }
    TFakeTimer* Timer(const char* aName) { return FTimers.at(QLatin1String(aName)); }
    // A new collection on the Radicale server; the test skips without one.
    QString Collection()
    {
        if (!FServerUp)
            return QString();
        return FServer.MakeCalendar();
    }
    static TSyncSettings Settings(const QString& aUrl, bool aEnabled = true)
    {
        TSyncSettings settings;
        settings.url = aUrl;
        settings.user = TRadicaleServer::kUser;
        settings.enabled = aEnabled;
        return settings;
    }
    // Waits for the running sync (and one it left pending) to end.
    static void WaitIdle(TfrmTaskList& aWindow)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!aWindow.SyncControler()->Running(), kSyncWait);
    }

private Q_SLOTS:
    void initTestCase()
    {
        // No session bus, so no keyring answers, whatever the desktop that
        // runs the tests has.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/ulmora-test-bus");
        qRegisterMetaType<QStringList>();
        FServerUp = FServer.Start(FServerProblem);
    }
    void init()
    {
        FEnv = StartWindowTest();
        FPasswords = std::make_shared<TMemoryPasswords>();
        FTimers.clear();
        TkvdPasswordDialog::SetTestMode(true);
    }
    void cleanup()
    {
        TtasksSyncControler::SetDefaultSeams({});
        TkvdPasswordDialog::SetTestMode(false);
        EndWindowTest(FEnv);
    }

    // The program's keyring store where no keyring answers: the answer comes
    // later, never inside the call, and says so; a write is refused the same
    // way. The controller then asks for the password.
    void keyringWithoutServiceSaysSo()
    {
        const std::shared_ptr<ItasksPasswordStore> store = CreateKeyringPasswordStore();
        QObject context;
        std::optional<TSyncPasswordRead> read;
        store->Read(QStringLiteral("anna@https://dav.example/cal/"), &context,
                    [&read](const TSyncPasswordRead& aRead) { read = aRead; });
        QVERIFY(!read);
        QTRY_VERIFY_WITH_TIMEOUT(read.has_value(), kSyncWait);
        QCOMPARE(int(read->status), int(TSyncPasswordRead::TStatus::NoKeyring));
        QVERIFY(read->password.isEmpty());

        std::optional<bool> stored;
        store->Write(QStringLiteral("anna@https://dav.example/cal/"), QStringLiteral("pw"),
                     &context, [&stored](bool aStored, const QString&) { stored = aStored; });
        QTRY_VERIFY_WITH_TIMEOUT(stored.has_value(), kSyncWait);
        QVERIFY(!*stored);
    }

    // The section's fields go to the settings file's own section, the
    // password to the keyring and never to the file; the next showing of the
    // dialog reads them back.
    void sectionStoresSettingsAndPassword()
    {
        auto window = MakeWindow(TSyncSettings());
        const QString mainBefore = GetTasksSettings()->ReadString(QStringLiteral("theme"), {});
        {
            TfrmSettings dialog(window.get());
            dialog.SettingsToControls();
            QVERIFY(dialog.findChild<QWidget*>(QStringLiteral("pnlSync")));
            QVERIFY(!W<QPushButton>(dialog, "btnSyncNow")->isEnabled());
            W<QLineEdit>(dialog, "edSyncUrl")
                ->setText(QStringLiteral(" https://dav.example/cal/ "));
            W<QLineEdit>(dialog, "edSyncUser")->setText(QStringLiteral("anna"));
            W<QLineEdit>(dialog, "edSyncPassword")->setText(QStringLiteral("pa=ss;word"));
            W<QCheckBox>(dialog, "cbxSyncEnabled")->setChecked(true);
            QVERIFY(W<QPushButton>(dialog, "btnSyncNow")->isEnabled());
            QCOMPARE(W<QLineEdit>(dialog, "edSyncPassword")->echoMode(), QLineEdit::Password);
            dialog.ControlsToSettings();
        }
        const QString text = ConfigText();
        QVERIFY2(text.contains(QStringLiteral("[Sync]")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("url=https://dav.example/cal/\n")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("user=anna\n")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("enabled=1\n")), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("pa=ss")), qPrintable(text));
        QCOMPARE(GetTasksSettings()->ReadString(QStringLiteral("theme"), {}), mainBefore);
        QCOMPARE(FPasswords->stored[QStringLiteral("anna@https://dav.example/cal/")],
                 QStringLiteral("pa=ss;word"));
        // The new settings take effect at once: a sync follows soon.
        QVERIFY(window->SyncControler()->Configured());
        QVERIFY(Timer("syncDebounce")->Active());
        QVERIFY(Timer("syncPeriodic")->Active());

        TfrmSettings again(window.get());
        again.SettingsToControls();
        QCOMPARE(W<QLineEdit>(again, "edSyncUrl")->text(),
                 QStringLiteral("https://dav.example/cal/"));
        QCOMPARE(W<QLineEdit>(again, "edSyncUser")->text(), QStringLiteral("anna"));
        QVERIFY(W<QCheckBox>(again, "cbxSyncEnabled")->isChecked());
        QCOMPARE(W<QLineEdit>(again, "edSyncPassword")->text(), QStringLiteral("pa=ss;word"));

        // Switched off: the schedule ends.
        W<QCheckBox>(again, "cbxSyncEnabled")->setChecked(false);
        again.ControlsToSettings();
        QVERIFY(ConfigText().contains(QStringLiteral("enabled=0\n")));
        QVERIFY(!Timer("syncPeriodic")->Active());
        QVERIFY(!Timer("syncDebounce")->Active());
        window->FormDestroy();
    }

    void syncNowShowsResult_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("expected");
        for (const char* from : {"tray", "dialog"}) {
            QTest::addRow("%s, ok", from) << from << "ok"
                                          << "Last sync: ";
            QTest::addRow("%s, wrong password", from) << from << "wrong password"
                                                      << "Sync failed: ";
            QTest::addRow("%s, unreachable", from) << from << "unreachable"
                                                   << "Sync failed: ";
        }
    }
    void syncNowShowsResult()
    {
        QFETCH(QString, from);
        QFETCH(QString, server);
        QFETCH(QString, expected);
        QString url = UnreachableUrl();
        QString password = TRadicaleServer::kPassword;
        if (server != QLatin1String("unreachable")) {
            url = Collection();
            if (url.isEmpty())
                QSKIP(qPrintable(FServerProblem));
            if (server == QLatin1String("wrong password"))
                password = QStringLiteral("not the password");
        }
        auto window = MakeWindow(Settings(url), password);
        TtasksSyncControler* sync = window->SyncControler();
        QSignalSpy results(sync, &TtasksSyncControler::ResultChanged);
        auto* action = W<QAction>(*window, "actSyncNow");
        QVERIFY(action->isVisible());
        QVERIFY(action->isEnabled());

        TfrmSettings dialog(window.get());
        dialog.SettingsToControls();
        auto* label = W<QLabel>(dialog, "lblSyncResult");
        if (from == QLatin1String("tray"))
            action->trigger();
        else
            W<QPushButton>(dialog, "btnSyncNow")->click();
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, kSyncWait);
        const QString text = sync->ResultText();
        QVERIFY2(text.startsWith(expected), qPrintable(text));
        QCOMPARE(label->text(), text);
        QCOMPARE(window->Tray()->Icon()->toolTip(), QStringLiteral("Ulmora\n") + text);
        if (server == QLatin1String("wrong password"))
            QVERIFY2(text.contains(QStringLiteral("password"), Qt::CaseInsensitive) ||
                         text.contains(QStringLiteral("401")),
                     qPrintable(text));
        // A dialog opened later shows the last result too.
        TfrmSettings later(window.get());
        QCOMPARE(W<QLabel>(later, "lblSyncResult")->text(), text);
        window->FormDestroy();
    }

    // At start, after local changes (one sync for several), every 5 minutes,
    // and one at a time with a request during a sync run once after it.
    void scheduleRunsSyncs()
    {
        const QString url = Collection();
        if (url.isEmpty())
            QSKIP(qPrintable(FServerProblem));
        auto window = MakeWindow(Settings(url), TRadicaleServer::kPassword);
        TtasksSyncControler* sync = window->SyncControler();
        QSignalSpy results(sync, &TtasksSyncControler::ResultChanged);
        QVERIFY(Timer("syncStart")->Active());
        QVERIFY(Timer("syncPeriodic")->Active());
        QCOMPARE(Timer("syncPeriodic")->interval, 5 * 60 * 1000);
        // Loading the list at start is no local change.
        QVERIFY(!Timer("syncDebounce")->Active());

        Timer("syncStart")->Fire();
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, kSyncWait);
        QVERIFY2(sync->ResultText().startsWith(QStringLiteral("Last sync: ")),
                 qPrintable(sync->ResultText()));

        for (int tick = 0; tick < 3; ++tick)
            Tick(*window, kTaskA);
        QVERIFY(Timer("syncDebounce")->Active());
        QVERIFY(Timer("syncDebounce")->interval >= 1000);
        QCOMPARE(results.count(), 1);
        Timer("syncDebounce")->Fire();
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 2, kSyncWait);
        WaitIdle(*window);
        QCOMPARE(results.count(), 2);

        Timer("syncPeriodic")->Fire();
        QVERIFY(Timer("syncPeriodic")->Active());
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 3, kSyncWait);

        // Three requests at once: one runs, the others wait and run once.
        sync->SyncNow();
        QVERIFY(sync->Running());
        sync->SyncNow();
        sync->LocalChanged();
        Timer("syncDebounce")->Fire();
        WaitIdle(*window);
        QCOMPARE(results.count(), 5);
        QCoreApplication::processEvents();
        QVERIFY(!sync->Running());
        QCOMPARE(results.count(), 5);
        window->FormDestroy();
    }

    // Where no keyring holds the password it is asked for once per run; where
    // a keyring works the answer goes into it.
    void passwordAskedOncePerRun_data()
    {
        QTest::addColumn<bool>("keyring");
        QTest::newRow("no keyring") << false;
        QTest::newRow("keyring without the password") << true;
    }
    void passwordAskedOncePerRun()
    {
        QFETCH(bool, keyring);
        const QString url = Collection();
        if (url.isEmpty())
            QSKIP(qPrintable(FServerProblem));
        FPasswords->keyring = keyring;
        auto window = MakeWindow(Settings(url));
        TtasksSyncControler* sync = window->SyncControler();
        QSignalSpy results(sync, &TtasksSyncControler::ResultChanged);
        TkvdPasswordDialog::SetNextAnswer(TRadicaleServer::kPassword);
        Timer("syncStart")->Fire();
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 1, kSyncWait);
        QVERIFY2(sync->ResultText().startsWith(QStringLiteral("Last sync: ")),
                 qPrintable(sync->ResultText()));
        QCOMPARE(TkvdPasswordDialog::Asked().size(), 1);
        QVERIFY2(TkvdPasswordDialog::Asked().first().contains(url),
                 qPrintable(TkvdPasswordDialog::Asked().first()));

        sync->SyncNow();
        QTRY_COMPARE_WITH_TIMEOUT(results.count(), 2, kSyncWait);
        QVERIFY(sync->ResultText().startsWith(QStringLiteral("Last sync: ")));
        QCOMPARE(TkvdPasswordDialog::Asked().size(), 1);
        QCOMPARE(FPasswords->stored.count(Settings(url).PasswordKey()), keyring ? 1u : 0u);
        // Never in the settings file.
        QVERIFY(!ConfigText().contains(TRadicaleServer::kPassword));
        window->FormDestroy();
    }

    // A cancelled prompt: a clear result, no request, and the schedule does
    // not ask again; "Sync now" does.
    void cancelledPromptSendsNothing()
    {
        TSilentServer server;
        FPasswords->keyring = false;
        auto window = MakeWindow(Settings(server.Url()));
        TtasksSyncControler* sync = window->SyncControler();
        Timer("syncStart")->Fire();
        QTRY_COMPARE(TkvdPasswordDialog::Asked().size(), 1);
        QCOMPARE(sync->ResultText(), QStringLiteral("Sync failed: no password was given"));
        QVERIFY(!sync->Running());
        QCOMPARE(window->Tray()->Icon()->toolTip(),
                 QStringLiteral("Ulmora\nSync failed: no password was given"));

        Timer("syncPeriodic")->Fire();
        Tick(*window, kTaskA);
        Timer("syncDebounce")->Fire();
        QCoreApplication::processEvents();
        QCOMPARE(TkvdPasswordDialog::Asked().size(), 1);
        QVERIFY(!sync->Running());

        sync->SyncNow();
        QTRY_COMPARE(TkvdPasswordDialog::Asked().size(), 2);
        QVERIFY(!sync->Running());
        QCoreApplication::processEvents();
        QCOMPARE(server.Connections(), 0);
        window->FormDestroy();
    }

    // A server that never answers: the GUI thread goes on with its events
    // while the sync waits, and the program's end stops and joins the sync
    // without waiting for the request's time-out (ten minutes here, beyond
    // the test's own limit).
    void hangingServerKeepsWindowResponsive()
    {
        TSilentServer server;
        auto window = MakeWindow(Settings(server.Url()), QStringLiteral("pw"), 10 * 60 * 1000);
        TtasksSyncControler* sync = window->SyncControler();
        sync->SyncNow();
        QTRY_VERIFY_WITH_TIMEOUT(server.Connections() >= 1, kSyncWait);
        QVERIFY(sync->Running());

        bool handled = false;
        QTimer::singleShot(0, window.get(), [&handled] { handled = true; });
        QTRY_VERIFY(handled);
        window->EditorPanel()->btnNewTaskClick();
        QVERIFY(window->EditorPanel()->Editing());
        window->EditorPanel()->btnCancelEditClick();
        QVERIFY(sync->Running());

        window->FormDestroy();
        QVERIFY(!sync->Running());
        window.reset();
    }

    // Without an address or switched off: no connection, no prompt, no
    // keyring access, no timer, and "Sync now" is not offered.
    void unconfiguredSendsNothing_data()
    {
        QTest::addColumn<bool>("withUrl");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("no address") << false << true;
        QTest::newRow("switched off") << true << false;
        QTest::newRow("neither") << false << false;
    }
    void unconfiguredSendsNothing()
    {
        QFETCH(bool, withUrl);
        QFETCH(bool, enabled);
        TSilentServer server;
        FPasswords->keyring = false;
        // Neither: a settings file of a user who never set sync up.
        auto window =
            MakeWindow(withUrl || enabled ? Settings(withUrl ? server.Url() : QString(), enabled)
                                          : TSyncSettings());
        TtasksSyncControler* sync = window->SyncControler();
        QVERIFY(!sync->Configured());
        if (!withUrl && !enabled) {
            // As before sync existed: no section in the file.
            QVERIFY(!ConfigText().contains(QStringLiteral("[Sync]")));
        }
        QVERIFY(!W<QAction>(*window, "actSyncNow")->isEnabled());
        for (const char* name : {"syncStart", "syncPeriodic", "syncDebounce"})
            QVERIFY2(!Timer(name)->Active(), name);
        {
            // "OK" without touching the section leaves the file as it was.
            const QString before = ConfigText();
            TfrmSettings dialog(window.get());
            dialog.SettingsToControls();
            QVERIFY(!W<QPushButton>(dialog, "btnSyncNow")->isEnabled());
            dialog.ControlsToSettings();
            QCOMPARE(ConfigText(), before);
        }

        Tick(*window, kTaskA);
        QVERIFY(!Timer("syncDebounce")->Active());
        sync->SyncNow();
        for (const char* name : {"syncStart", "syncPeriodic", "syncDebounce"})
            Timer(name)->Fire();
        QCoreApplication::processEvents();
        QVERIFY(!sync->Running());
        QCOMPARE(server.Connections(), 0);
        QVERIFY(TkvdPasswordDialog::Asked().isEmpty());
        QCOMPARE(FPasswords->reads, 0);
        QVERIFY(sync->ResultText().isEmpty());
        QCOMPARE(window->Tray()->Icon()->toolTip(), QStringLiteral("Ulmora"));
        window->FormDestroy();
    }

    // A task that came from the server shows in the list; its new tag comes
    // to the tabs once the open editor closes, and the editor keeps what was
    // typed. Showing the sync's changes is no local change.
    void syncedTasksShowInList()
    {
        const QString url = Collection();
        if (url.isEmpty())
            QSKIP(qPrintable(FServerProblem));
        const QByteArray todo = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//test//EN\r\n"
                                "BEGIN:VTODO\r\nUID:from-server-1\r\nDTSTAMP:20261201T100000Z\r\n"
                                "SUMMARY:Call the plumber\r\nCATEGORIES:Errands\r\n"
                                "END:VTODO\r\nEND:VCALENDAR\r\n";
        QVERIFY(FServer.Request("PUT", url + QStringLiteral("from-server-1.ics"), todo) / 100 == 2);

        auto window = MakeWindow(Settings(url), TRadicaleServer::kPassword);
        TtasksSyncControler* sync = window->SyncControler();
        QSignalSpy synced(sync, &TtasksSyncControler::TasksSynced);
        window->EditorPanel()->btnNewTaskClick();
        auto* summary = W<QLineEdit>(*window, "edTaskSummary");
        summary->setText(QStringLiteral("typed, not saved"));

        Timer("syncStart")->Fire();
        QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 1, kSyncWait);
        QVERIFY2(sync->ResultText().startsWith(QStringLiteral("Last sync: ")),
                 qPrintable(sync->ResultText()));
        QVERIFY2(Summaries(*window).contains(QStringLiteral("Call the plumber")),
                 qPrintable(Summaries(*window).join(QLatin1Char('|'))));
        QVERIFY(window->EditorPanel()->Editing());
        QCOMPARE(summary->text(), QStringLiteral("typed, not saved"));
        QVERIFY(!Timer("syncDebounce")->Active());
        QVERIFY(!TabTexts(*window).contains(QStringLiteral("Errands")));

        window->EditorPanel()->btnCancelEditClick();
        QVERIFY2(TabTexts(*window).contains(QStringLiteral("Errands")),
                 qPrintable(TabTexts(*window).join(QLatin1Char('|'))));
        QVERIFY(Summaries(*window).contains(QStringLiteral("Call the plumber")));
        QVERIFY(!Timer("syncDebounce")->Active());
        window->FormDestroy();
    }

    // The editor shows a task while a sync brings another program's new note
    // for it; the user changes only the summary and saves: both edits stay,
    // here and on the server, and nothing asks or conflicts.
    void staleEditorKeepsServerEdit()
    {
        const QString url = Collection();
        if (url.isEmpty())
            QSKIP(qPrintable(FServerProblem));
        auto window = MakeWindow(Settings(url), TRadicaleServer::kPassword);
        TtasksSyncControler* sync = window->SyncControler();
        QSignalSpy results(sync, &TtasksSyncControler::ResultChanged);
        Timer("syncStart")->Fire();
        QTRY_VERIFY_WITH_TIMEOUT(!results.isEmpty(), kSyncWait);
        WaitIdle(*window);
        QVERIFY2(sync->ResultText().startsWith(QStringLiteral("Last sync: ")),
                 qPrintable(sync->ResultText()));

        window->EditorPanel()->EditTask(RecordById(*window, kTaskA));
        QVERIFY(window->EditorPanel()->Editing());

        // Another device writes a note into the member.
        const QString member = url + kTaskA + QStringLiteral(".ics");
        QByteArray text;
        QCOMPARE(FServer.Request("GET", member, QByteArray(), &text), 200);
        text.replace("END:VTODO", "DESCRIPTION:from the phone\r\nEND:VTODO");
        QVERIFY(FServer.Request("PUT", member, text) / 100 == 2);
        QSignalSpy synced(sync, &TtasksSyncControler::TasksSynced);
        sync->SyncNow();
        QTRY_COMPARE_WITH_TIMEOUT(synced.count(), 1, kSyncWait);
        WaitIdle(*window);

        W<QLineEdit>(*window, "edTaskSummary")->setText(QStringLiteral("Water the garden"));
        W<QToolButton>(*window, "btnSaveTask")->click();
        QVERIFY(!window->EditorPanel()->Editing());
        QCOMPARE(TkvdMessageBox::Shown().size(), 0);
        TStoredTask stored;
        QVERIFY(TtasksStore::ReadTask(kTaskA, stored));
        QCOMPARE(stored.summary, QStringLiteral("Water the garden"));
        QCOMPARE(stored.note, QStringLiteral("from the phone"));

        results.clear();
        sync->SyncNow();
        QTRY_VERIFY_WITH_TIMEOUT(!results.isEmpty(), kSyncWait);
        WaitIdle(*window);
        QVERIFY2(sync->ResultText().startsWith(QStringLiteral("Last sync: ")),
                 qPrintable(sync->ResultText()));
        QVERIFY2(!sync->ResultText().contains(QStringLiteral("conflict")),
                 qPrintable(sync->ResultText()));
        QCOMPARE(FServer.Request("GET", member, QByteArray(), &text), 200);
        QVERIFY2(text.contains("SUMMARY:Water the garden\r\n") &&
                     text.contains("DESCRIPTION:from the phone\r\n"),
                 text.constData());
        window->FormDestroy();
    }
};

QTEST_MAIN(TestSyncUi)
#include "test_sync_ui.moc"
