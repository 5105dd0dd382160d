// Reminders as the desktop's notifications, against a recording notification
// server on a private session bus that the test starts: the fields and
// actions of a notification, each action's effect on the database, the
// counting notification of missed tasks, withdrawal, and the balloon where no
// service answers.

#include "due_test_env.h"
#include "reminder_test_store.h"

#include "app/tasks_missed.h"
#include "app/tasks_notifier.h"
#include "app/tasks_notifier_dbus.h"
#include "app/tasks_reminders.h"
#include "due/tasks_duedates.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QMutex>
#include <QPixmap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <memory>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kAppId = QStringLiteral("io.github.ulmora.Ulmora");
const QStringList kTaskActions = {"default", "Open", "done", "Done", "snooze", "Snooze"};

// One Notify call as the server received it.
struct TNotifyCall
{
    QString AppName;
    uint ReplacesId = 0;
    QString AppIcon;
    QString Summary;
    QString Body;
    QStringList Actions;
    QVariantMap Hints;
    int ExpireTimeout = -2;
    // What the server answered; 0 when it refused.
    uint Id = 0;
};

} // namespace

// A notification server that records its calls. It lives in a thread of its
// own: the notifier's calls block the GUI thread until they are answered.
class TRecordingServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    void Reset(const QStringList& aCapabilities, bool aRefuseNotify)
    {
        QMutexLocker lock(&FLock);
        FCapabilities = aCapabilities;
        FRefuseNotify = aRefuseNotify;
        FCalls.clear();
        FClosed.clear();
    }
    QList<TNotifyCall> Calls() const
    {
        QMutexLocker lock(&FLock);
        return FCalls;
    }
    QList<uint> Closed() const
    {
        QMutexLocker lock(&FLock);
        return FClosed;
    }
    // Sends a signal as the service does, from the server's thread.
    void EmitActionInvoked(uint aId, const QString& aKey)
    {
        QMetaObject::invokeMethod(
            this, [=, this] { Q_EMIT ActionInvoked(aId, aKey); }, Qt::BlockingQueuedConnection);
    }
    void EmitNotificationClosed(uint aId, uint aReason)
    {
        QMetaObject::invokeMethod(
            this, [=, this] { Q_EMIT NotificationClosed(aId, aReason); },
            Qt::BlockingQueuedConnection);
    }

public Q_SLOTS:
    QStringList GetCapabilities()
    {
        QMutexLocker lock(&FLock);
        return FCapabilities;
    }
    uint Notify(const QString& app_name, uint replaces_id, const QString& app_icon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int expire_timeout)
    {
        QMutexLocker lock(&FLock);
        TNotifyCall call{app_name, replaces_id, app_icon, summary,
                         body,     actions,     hints,    expire_timeout};
        if (FRefuseNotify) {
            FCalls.append(call);
            sendErrorReply(QDBusError::Failed, QStringLiteral("refused"));
            return 0;
        }
        call.Id = replaces_id != 0 ? replaces_id : ++FLastId;
        FCalls.append(call);
        return call.Id;
    }
    void CloseNotification(uint id)
    {
        {
            QMutexLocker lock(&FLock);
            FClosed.append(id);
        }
        // Closed by a call.
        Q_EMIT NotificationClosed(id, 3);
    }
    QString GetServerInformation(QString& vendor, QString& version, QString& spec_version)
    {
        vendor = QStringLiteral("ulmora tests");
        version = QStringLiteral("1");
        spec_version = QStringLiteral("1.2");
        return QStringLiteral("recording");
    }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString& action_key);
    void NotificationClosed(uint id, uint reason);

private:
    mutable QMutex FLock;
    QStringList FCapabilities;
    bool FRefuseNotify = false;
    QList<TNotifyCall> FCalls;
    QList<uint> FClosed;
    uint FLastId = 100;
};

namespace {

// A session bus of the test's own: a dbus-daemon with a configuration that
// activates no service, so that a notification daemon installed on the
// machine never answers in place of the test's server.
class TPrivateBus
{
public:
    bool Start()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !FDir.isValid())
            return false;
        QFile config(FDir.filePath(QStringLiteral("session.conf")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write(QStringLiteral(
                         "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                         "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                         "busconfig.dtd\">\n"
                         "<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                         "<auth>EXTERNAL</auth><policy context=\"default\">"
                         "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                         "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                         .arg(FDir.path())
                         .toUtf8());
        config.close();
        FDaemon.start(daemon, {QStringLiteral("--config-file=") + config.fileName(),
                               QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!FDaemon.waitForStarted())
            return false;
        while (!FDaemon.canReadLine()) {
            if (!FDaemon.waitForReadyRead(30000))
                return false;
        }
        FAddress = QString::fromUtf8(FDaemon.readLine()).trimmed();
        return !FAddress.isEmpty();
    }
    ~TPrivateBus()
    {
        FDaemon.kill();
        FDaemon.waitForFinished();
    }
    QString Address() const { return FAddress; }

private:
    QTemporaryDir FDir;
    QProcess FDaemon;
    QString FAddress;
};

// What the window's handlers did, as the window will: "Done" and "Snooze"
// through the reminder's actions on the store.
struct TWindowStandIn
{
    QStringList Heard;
    QList<TStoreResult> Results;

    TtasksNotifierHandlers Handlers(ItasksNotifier& aNotifier)
    {
        TtasksNotifierHandlers handlers;
        handlers.TaskDone = [this, &aNotifier](const QString& aId) {
            Heard << "done " + aId;
            Results << FinishRemindedTask(aId, aNotifier);
        };
        handlers.TaskSnoozed = [this, &aNotifier](const QString& aId) {
            Heard << "snooze " + aId;
            Results << SnoozeRemindedTask(aId, aNotifier);
        };
        handlers.TaskOpened = [this](const QString& aId) { Heard << "open " + aId; };
        handlers.MissedOpened = [this] { Heard << QStringLiteral("missed"); };
        return handlers;
    }
};

TTaskRecord Record(const QString& aId, const QString& aSummary, const QString& aNote)
{
    TTaskRecord record(aId);
    record.summary = aSummary;
    record.note = aNote;
    record.duedt = DateTimeFromQDateTime(At(0, 10, 0));
    return record;
}

} // namespace

class TestNotifications : public QObject
{
    Q_OBJECT

private:
    TPrivateBus FBus;
    QThread FServerThread;
    TRecordingServer* FServer = nullptr;
    std::unique_ptr<QDBusConnection> FServerBus;
    std::unique_ptr<TDueTestEnv> FEnv;
    std::shared_ptr<TtasksRecordingNotifier> FFallback;

    bool Register() { return FServerBus->registerService(kService); }
    bool Unregister() { return FServerBus->unregisterService(kService); }

    std::unique_ptr<TtasksDBusNotifier> MakeNotifier()
    {
        return std::make_unique<TtasksDBusNotifier>(FFallback, QDBusConnection::sessionBus());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(FBus.Start(), "dbus-daemon could not be started (tools/deps installs it)");
        // The program's own session bus is the private one from here on.
        qputenv("DBUS_SESSION_BUS_ADDRESS", FBus.Address().toUtf8());
        FServerThread.start();
        FServer = new TRecordingServer;
        FServer->moveToThread(&FServerThread);
        FServerBus = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(FBus.Address(), QStringLiteral("recording-server")));
        QVERIFY(FServerBus->isConnected());
        // Registered from the server's thread, where the bus makes the
        // object's relay of its signals.
        bool registered = false;
        QMetaObject::invokeMethod(
            FServer,
            [&] {
                registered = FServerBus->registerObject(kPath, FServer,
                                                        QDBusConnection::ExportAllSlots |
                                                            QDBusConnection::ExportAllSignals);
            },
            Qt::BlockingQueuedConnection);
        QVERIFY(registered);
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        // The program's icon, which a notification carries.
        QPixmap icon(64, 64);
        icon.fill(QColor(10, 20, 30));
        QGuiApplication::setWindowIcon(QIcon(icon));
    }
    void cleanupTestCase()
    {
        QMetaObject::invokeMethod(
            FServer, [&] { FServerBus->unregisterObject(kPath); }, Qt::BlockingQueuedConnection);
        FServerBus.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("recording-server"));
        // The server goes in its own thread, as that thread ends.
        connect(&FServerThread, &QThread::finished, FServer, &QObject::deleteLater);
        FServerThread.quit();
        FServerThread.wait();
        FServer = nullptr;
    }
    void init()
    {
        FEnv = std::make_unique<TDueTestEnv>();
        FFallback = std::make_shared<TtasksRecordingNotifier>();
        FServer->Reset({QStringLiteral("body"), QStringLiteral("actions")}, false);
        if (!QDBusConnection::sessionBus().interface()->isServiceRegistered(kService))
            QVERIFY(Register());
    }
    void cleanup()
    {
        SetTestNotifier(nullptr);
        FEnv.reset();
    }

    // The reminder's fields as the service receives them; the sound is the
    // program's own, and no balloon shows.
    void fields_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("body");
        const QString due = DueDateText(Record({}, {}, {}).duedt);
        const QStringList plain = {"body", "actions"};
        const QStringList markup = {"body", "body-markup", "actions"};
        QTest::newRow("plain") << plain << "Call Anna"
                               << "about <b>the</b> offer & more"
                               << "NOTE:\nabout <b>the</b> offer & more\n\nDUE DATETIME:\n" + due;
        QTest::newRow("a service that reads markup")
            << markup << "Call <Anna>"
            << "about <b>the</b> offer & more"
            << "NOTE:\nabout &lt;b&gt;the&lt;/b&gt; offer &amp; more\n\nDUE DATETIME:\n" + due;
        QTest::newRow("empty summary and note") << plain << ""
                                                << ""
                                                << "NOTE:\nundefined\n\nDUE DATETIME:\n" + due;
        QTest::newRow("right to left and outside the basic plane")
            << plain
            << QString::fromUtf8("\xD7\xA2\xD7\x91\xD7\xA8\xD7\x99\xD7\xAA \xF0\x9F\x98\x80")
            << QString::fromUtf8("\xF0\x9D\x84\x9E")
            << QString::fromUtf8("NOTE:\n\xF0\x9D\x84\x9E\n\nDUE DATETIME:\n") + due;
    }
    void fields()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, summary);
        QFETCH(QString, note);
        QFETCH(QString, body);
        FServer->Reset(capabilities, false);
        auto notifier = MakeNotifier();
        QVERIFY(notifier->ServiceAnswers());
        const TTaskRecord record = Record(QStringLiteral("A"), summary, note);
        ShowReminder(&record, *notifier);

        const QList<TNotifyCall> calls = FServer->Calls();
        QCOMPARE(calls.size(), 1);
        const TNotifyCall& call = calls[0];
        QCOMPARE(call.AppName, QStringLiteral("Ulmora"));
        QCOMPARE(call.ReplacesId, 0u);
        QCOMPARE(call.AppIcon, kAppId);
        QCOMPARE(call.Summary, ReminderTitle(record));
        QCOMPARE(call.Body, body);
        QCOMPARE(call.Actions, kTaskActions);
        QCOMPARE(call.ExpireTimeout, 0);
        QCOMPARE(call.Hints.value(QStringLiteral("desktop-entry")).toString(), kAppId);
        const QVariant urgency = call.Hints.value(QStringLiteral("urgency"));
        QCOMPARE(urgency.metaType(), QMetaType::fromType<uchar>());
        QCOMPARE(urgency.value<uchar>(), uchar(1));
        QCOMPARE(call.Hints.value(QStringLiteral("suppress-sound")).toBool(), true);
        if (QIcon::hasThemeIcon(kAppId)) {
            QVERIFY(!call.Hints.contains(QStringLiteral("image-data")));
        } else {
            const QDBusArgument image =
                call.Hints.value(QStringLiteral("image-data")).value<QDBusArgument>();
            QCOMPARE(image.currentSignature(), QStringLiteral("(iiibiiay)"));
            int width = 0, height = 0, stride = 0, bits = 0, channels = 0;
            bool alpha = false;
            QByteArray data;
            image.beginStructure();
            image >> width >> height >> stride >> alpha >> bits >> channels >> data;
            image.endStructure();
            QCOMPARE(width, 48);
            QCOMPARE(height, 48);
            QCOMPARE(stride, 48 * 4);
            QVERIFY(alpha);
            QCOMPARE(bits, 8);
            QCOMPARE(channels, 4);
            QCOMPARE(data.size(), 48 * 48 * 4);
            QCOMPARE(data.left(4), QByteArray("\x0a\x14\x1e\xff", 4));
        }
        QCOMPARE(notifier->NotificationOf(QStringLiteral("A")), call.Id);
        QCOMPARE(FFallback->SoundCount(), 1);
        QVERIFY(FFallback->Balloons().isEmpty());
    }

    // Each action of a task's notification: the handler the window set, the
    // database after the window acted, and the notification taken back.
    void actions_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("heard");
        QTest::addColumn<bool>("finished");
        QTest::addColumn<QString>("due");
        QTest::addColumn<bool>("closed");
        QTest::newRow("Done") << "done"
                              << "done A" << true << "2012-05-08 10:00:00" << true;
        QTest::newRow("Snooze") << "snooze"
                                << "snooze A" << false << "2012-05-08 10:10:30" << true;
        QTest::newRow("a click") << "default"
                                 << "open A" << false << "2012-05-08 10:00:00" << false;
        QTest::newRow("an action it does not offer")
            << "other"
            << "" << false << "2012-05-08 10:00:00" << false;
    }
    void actions()
    {
        QFETCH(QString, key);
        QFETCH(QString, heard);
        QFETCH(bool, finished);
        QFETCH(QString, due);
        QFETCH(bool, closed);
        QVERIFY(StoreTask(QStringLiteral("A"), At(0, 10, 0)));
        QVERIFY(StoreTask(QStringLiteral("B"), At(0, 10, 0)));
        auto notifier = MakeNotifier();
        TWindowStandIn window;
        notifier->SetHandlers(window.Handlers(*notifier));
        SetFixedNow(At(0, 10, 0, 30));
        TLoadedRecords records = LoadRecords();
        TtasksMissedReminders reminders;
        QCOMPARE(reminders.CheckReminders(records, *notifier, nullptr), 2);
        const uint id = notifier->NotificationOf(QStringLiteral("A"));
        QVERIFY(id != 0);

        FServer->EmitActionInvoked(id, key);
        // A click on B after it: the bus does not promise that the two reach
        // the program in that order, so both are awaited; an action that is
        // not offered must be heard as nothing by the time B's click is.
        FServer->EmitActionInvoked(notifier->NotificationOf(QStringLiteral("B")),
                                   QStringLiteral("default"));
        QTRY_VERIFY(window.Heard.contains(QStringLiteral("open B")));
        if (!heard.isEmpty())
            QTRY_VERIFY(window.Heard.contains(heard));
        QCOMPARE(window.Heard.size(), heard.isEmpty() ? 1 : 2);
        for (const TStoreResult& result : window.Results)
            QVERIFY2(result.ok, qPrintable(result.reason));
        const TStoredTask task = StoredTask(QStringLiteral("A"));
        QCOMPARE(task.finished, finished);
        QCOMPARE(DateTimeToSqlText(task.duedt), due);
        QCOMPARE(FServer->Closed(), closed ? QList<uint>{id} : QList<uint>());
        QCOMPARE(notifier->NotificationOf(QStringLiteral("A")), closed ? 0u : id);
        // B is untouched.
        QCOMPARE(StoredTask(QStringLiteral("B")).finished, false);
    }

    // The notification that counts missed tasks, and its click.
    void countingNotification()
    {
        for (int i = 1; i <= 4; ++i)
            QVERIFY(StoreTask(QString::number(i), At(0, 10, i)));
        auto notifier = MakeNotifier();
        TWindowStandIn window;
        notifier->SetHandlers(window.Handlers(*notifier));
        TLoadedRecords records = LoadRecords();
        TtasksMissedReminders reminders;
        SetFixedNow(At(0, 9, 50));
        reminders.CheckReminders(records, *notifier, nullptr);
        SetFixedNow(At(0, 12, 0));
        QCOMPARE(reminders.CheckReminders(records, *notifier, nullptr), 4);
        const QList<TNotifyCall> calls = FServer->Calls();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls[0].Summary, QStringLiteral("4 tasks fell due while you were away"));
        QCOMPARE(calls[0].Body, QStringLiteral("Task 1\nTask 2\nTask 3\nTask 4"));
        QCOMPARE(calls[0].Actions, (QStringList{"default", "Show List"}));
        QCOMPARE(FFallback->SoundCount(), 1);
        QCOMPARE(notifier->NotificationOf(QString()), calls[0].Id);

        // "Done" is not offered on it; a click shows the window.
        FServer->EmitActionInvoked(calls[0].Id, QStringLiteral("done"));
        FServer->EmitActionInvoked(calls[0].Id, QStringLiteral("default"));
        QTRY_COMPARE(window.Heard, QStringList{QStringLiteral("missed")});
        QCOMPARE(StoredTask(QStringLiteral("1")).finished, false);
    }

    // A task has one notification: a new reminder replaces the one shown.
    void replacesTheTasksNotification()
    {
        auto notifier = MakeNotifier();
        const TTaskRecord record = Record(QStringLiteral("A"), QStringLiteral("S"), {});
        ShowReminder(&record, *notifier);
        ShowReminder(&record, *notifier);
        const QList<TNotifyCall> calls = FServer->Calls();
        QCOMPARE(calls.size(), 2);
        QCOMPARE(calls[1].ReplacesId, calls[0].Id);
        QCOMPARE(notifier->NotificationOf(QStringLiteral("A")), calls[0].Id);
    }

    // Withdraw closes the task's notification once; a notification the user
    // closed, or none, is not asked for.
    void withdrawal()
    {
        auto notifier = MakeNotifier();
        const TTaskRecord a = Record(QStringLiteral("A"), QStringLiteral("S"), {});
        const TTaskRecord b = Record(QStringLiteral("B"), QStringLiteral("S"), {});
        ShowReminder(&a, *notifier);
        ShowReminder(&b, *notifier);
        const uint idA = notifier->NotificationOf(QStringLiteral("A"));
        const uint idB = notifier->NotificationOf(QStringLiteral("B"));
        QVERIFY(idA != 0 && idB != 0 && idA != idB);

        notifier->Withdraw(QStringLiteral("A"));
        QCOMPARE(FServer->Closed(), QList<uint>{idA});
        QCOMPARE(notifier->NotificationOf(QStringLiteral("A")), 0u);
        notifier->Withdraw(QStringLiteral("A"));
        notifier->Withdraw(QStringLiteral("unknown"));
        QCOMPARE(FServer->Closed(), QList<uint>{idA});

        // The user dismissed B.
        FServer->EmitNotificationClosed(idB, 2);
        QTRY_COMPARE(notifier->NotificationOf(QStringLiteral("B")), 0u);
        notifier->Withdraw(QStringLiteral("B"));
        QCOMPARE(FServer->Closed(), QList<uint>{idA});
    }

    // The service's signals about other programs' notifications are not ours.
    void othersIgnored()
    {
        auto notifier = MakeNotifier();
        TWindowStandIn window;
        notifier->SetHandlers(window.Handlers(*notifier));
        const TTaskRecord a = Record(QStringLiteral("A"), QStringLiteral("S"), {});
        ShowReminder(&a, *notifier);
        const uint id = notifier->NotificationOf(QStringLiteral("A"));
        FServer->EmitActionInvoked(id + 1000, QStringLiteral("done"));
        FServer->EmitNotificationClosed(id + 1000, 2);
        FServer->EmitActionInvoked(id, QStringLiteral("default"));
        QTRY_COMPARE(window.Heard, QStringList{QStringLiteral("open A")});
        QCOMPARE(notifier->NotificationOf(QStringLiteral("A")), id);
    }

    // Without a service the reminder is the balloon, exactly as the tray
    // shows it; a service that starts later takes over.
    void noService()
    {
        QVERIFY(Unregister());
        auto notifier = MakeNotifier();
        QVERIFY(!notifier->ServiceAnswers());
        const TTaskRecord a = Record(QStringLiteral("A"), QStringLiteral("S"), QStringLiteral("N"));
        ShowReminder(&a, *notifier);
        QVERIFY(FServer->Calls().isEmpty());
        QCOMPARE(FFallback->SoundCount(), 1);
        QCOMPARE(FFallback->Balloons().size(), 1);
        QCOMPARE(FFallback->Balloons()[0].Title, QStringLiteral("S"));
        QCOMPARE(FFallback->Balloons()[0].Text, ReminderBody(a));
        QCOMPARE(FFallback->Balloons()[0].MSecs, 60000);
        notifier->Withdraw(QStringLiteral("A"));
        QVERIFY(FServer->Closed().isEmpty());

        QVERIFY(Register());
        QTRY_VERIFY(notifier->ServiceAnswers());
        ShowReminder(&a, *notifier);
        QCOMPARE(FServer->Calls().size(), 1);
        QCOMPARE(FFallback->Balloons().size(), 1);
    }

    // A service that went away since the start: the failed call asks again,
    // finds none, and the balloon shows; when it is back it takes over.
    void serviceGoneAndBack()
    {
        auto notifier = MakeNotifier();
        QVERIFY(notifier->ServiceAnswers());
        const TTaskRecord a = Record(QStringLiteral("A"), QStringLiteral("S"), {});
        ShowReminder(&a, *notifier);
        QVERIFY(Unregister());
        ShowReminder(&a, *notifier);
        QVERIFY(!notifier->ServiceAnswers());
        QCOMPARE(FServer->Calls().size(), 1);
        QCOMPARE(FFallback->Balloons().size(), 1);
        // Its notifications went with it.
        QCOMPARE(notifier->NotificationOf(QStringLiteral("A")), 0u);

        QVERIFY(Register());
        QTRY_VERIFY(notifier->ServiceAnswers());
        ShowReminder(&a, *notifier);
        QCOMPARE(FServer->Calls().size(), 2);
        QCOMPARE(FServer->Calls()[1].ReplacesId, 0u);
        QCOMPARE(FFallback->Balloons().size(), 1);
    }

    // A service that answers but refuses the notification: asked once more,
    // then the balloon shows; the service is still used for the next one.
    void notificationRefused()
    {
        FServer->Reset({QStringLiteral("actions")}, true);
        auto notifier = MakeNotifier();
        const TTaskRecord a = Record(QStringLiteral("A"), QStringLiteral("S"), {});
        ShowReminder(&a, *notifier);
        QCOMPARE(FServer->Calls().size(), 2);
        QCOMPARE(FFallback->Balloons().size(), 1);
        QVERIFY(notifier->ServiceAnswers());
        QCOMPARE(notifier->NotificationOf(QStringLiteral("A")), 0u);
    }

    // No bus at all: the balloon.
    void noBus()
    {
        const QDBusConnection none = QDBusConnection::connectToBus(
            QStringLiteral("unix:path=/nonexistent/ulmora-bus"), QStringLiteral("no-bus"));
        QVERIFY(!none.isConnected());
        TtasksDBusNotifier notifier(FFallback, none);
        QVERIFY(!notifier.ServiceAnswers());
        const TTaskRecord a = Record(QStringLiteral("A"), QStringLiteral("S"), {});
        ShowReminder(&a, notifier);
        QCOMPARE(FFallback->Balloons().size(), 1);
        notifier.Withdraw(QStringLiteral("A"));
        QDBusConnection::disconnectFromBus(QStringLiteral("no-bus"));
    }

    // The window's factory: the desktop's notifier on the session bus, or the
    // one a test installed; the tray notifier's factory stays as it was.
    void factory()
    {
        const std::shared_ptr<ItasksNotifier> desktop = CreateDesktopNotifier(nullptr);
        auto* dbus = dynamic_cast<TtasksDBusNotifier*>(desktop.get());
        QVERIFY(dbus);
        QVERIFY(dbus->ServiceAnswers());
        QVERIFY(dynamic_cast<TtasksTrayNotifier*>(CreateTasksNotifier(nullptr).get()));
        auto recording = std::make_shared<TtasksRecordingNotifier>();
        SetTestNotifier(recording);
        QCOMPARE(CreateDesktopNotifier(nullptr).get(), recording.get());
    }
};

QTEST_MAIN(TestNotifications)
#include "test_notifications.moc"
