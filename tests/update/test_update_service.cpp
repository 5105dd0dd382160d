// The update service: result codes, the interactive check with its wait box,
// its dialogs (the GUI's update UI over the message-box seam) and the
// updater's launch, the daily run report through the clock, and the updater's
// commands through the real pipe.

#include "peer_process.h"
#include "update/kvd_services.h"
#include "update/kvd_update_dialogs.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_utils.h"
#include "wait_box_watch.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

namespace {

const QString kAppName = QStringLiteral("kvd_bexo");

QDateTime At(int aDay, int aHour, int aMinute, int aSecond = 0)
{
    return QDateTime(QDate(2026, 3, aDay), QTime(aHour, aMinute, aSecond));
}

// A window that refuses to close, as the main window does when it minimises
// to the tray; it also counts its paints.
class TStubbornWidget : public QWidget
{
public:
    int Closes = 0;
    int Paints = 0;

protected:
    void closeEvent(QCloseEvent* aEvent) override
    {
        ++Closes;
        aEvent->ignore();
    }
    void paintEvent(QPaintEvent*) override { ++Paints; }
};

// An update UI that records, in order, what the check asked of it.
class TRecordingUI : public IkvdUpdateUI
{
public:
    QStringList Calls;
    QList<QObject*> Owners;
    bool Answer = false;
    void ShowWaiting(const QString& aText, std::function<void()>) override
    {
        Calls << "wait: " + aText;
    }
    void HideWaiting() override { Calls << QStringLiteral("hide"); }
    bool Confirm(const QString& aTitle, const QString& aText) override
    {
        Calls << "confirm: " + aTitle + ": " + aText;
        return Answer;
    }
    void Inform(const QString& aTitle, const QString& aText) override
    {
        Calls << "inform: " + aTitle + ": " + aText;
    }
    void ShowError(const QString& aTitle, const QString& aText) override
    {
        Calls << "error: " + aTitle + ": " + aText;
    }
    quintptr OwnerWindow(QObject* aOwner) override
    {
        Owners << aOwner;
        return 0;
    }
};

bool IsIdentifier(const QString& aId)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Ya-y]{16}$"));
    return pattern.match(aId).hasMatch();
}

} // namespace

class TestUpdateService : public QObject, protected TPeerProcess
{
    Q_OBJECT

private:
    QTemporaryDir FDir;

    QString RecordFile() const { return FDir.filePath(QStringLiteral("updater-record.txt")); }
    void UseEndpoint(const QString& aUrl) { qputenv("ULMORA_UPDATE_URL", aUrl.toUtf8()); }

    // Sends one request over the pipe and gives the reply.
    PMessageData Ask(const QString* aCommand, const QByteArray* aParams)
    {
        TMessageData request;
        if (aCommand)
            request.WriteText(QStringLiteral("Command"), *aCommand);
        if (aParams)
            request.WriteBytes(QStringLiteral("Params"), *aParams);
        TIPCClient client;
        client.Connect(kAppName);
        PMessageData reply = client.Execute(request);
        client.Disconnect();
        return reply;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        // The pipe lives in a folder of this test alone.
        QVERIFY(QDir(FDir.path()).mkdir(QStringLiteral("run")));
        QFile::setPermissions(FDir.filePath(QStringLiteral("run")), QFileDevice::ReadOwner |
                                                                        QFileDevice::WriteOwner |
                                                                        QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", FDir.filePath(QStringLiteral("run")).toUtf8());
        qputenv("APPDATA", FDir.path().toUtf8());
        ResetEnvTableForTesting();
        qputenv("ULMORA_ELEVATE", QByteArray(ULMORA_TEST_ELEVATE));
        qputenv("ULMORA_TEST_UPDATER_RECORD", RecordFile().toUtf8());
        TkvdMessageBox::SetTestMode(true);
        // As the program does at start-up.
        SetUpdateUI(std::make_shared<TkvdUpdateDialogs>());
        // Misbehaving servers give up sooner than the real fifteen seconds.
        SetDefaultSoapTimeout(2000);
        StartPeer();
    }
    void init()
    {
        TkvdMessageBox::ClearShown();
        QFile::remove(RecordFile());
        ResetNow();
        if (FPeerUp) {
            UseEndpoint(FPeer.Endpoint());
            FPeer.SetReply(QStringLiteral("run"), QStringLiteral("OK"));
            FPeer.TakeReceived();
        } else {
            qunsetenv("ULMORA_UPDATE_URL");
        }
    }
    void cleanupTestCase()
    {
        ResetNow();
        ReleaseServices();
        SetUpdateUI(nullptr);
        FPeer.Stop();
    }

    void resultCodes_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("newVersion");
        QTest::addColumn<QString>("extra");
        QTest::newRow("newer offer") << "OK;1.2.0.0;x"
                                     << "1.1.9.9" << 1 << "1.2.0.0"
                                     << "x";
        QTest::newRow("same version") << "OK;1.2.0.0;x"
                                      << "1.2.0.0" << 2 << "1.2.0.0"
                                      << "x";
        QTest::newRow("older offer") << "OK;1.2.0.0;x"
                                     << "1.3.0.0" << 2 << "1.2.0.0"
                                     << "x";
        QTest::newRow("status not OK") << "FAIL;1.2.0.0;x"
                                       << "1.1.9.9" << 3 << ""
                                       << "";
        QTest::newRow("status in lower case") << "ok;1.2.0.0;x"
                                              << "1.1.9.9" << 3 << ""
                                              << "";
        QTest::newRow("status only, not OK") << "Maintenance"
                                             << "1.1.9.9" << 3 << ""
                                             << "";
        QTest::newRow("empty reply") << ""
                                     << "1.1.9.9" << 0 << ""
                                     << "";
        QTest::newRow("blank reply") << "  \r\n"
                                     << "1.1.9.9" << 0 << ""
                                     << "";
        QTest::newRow("two fields") << "OK;1.2.0.0"
                                    << "1.1.9.9" << 0 << ""
                                    << "";
        QTest::newRow("status only") << "OK"
                                     << "1.1.9.9" << 0 << ""
                                     << "";
        QTest::newRow("blanks around the version") << "OK; 1.2.0.15 ;x"
                                                   << "1.2.0.14" << 1 << "1.2.0.15"
                                                   << "x";
        QTest::newRow("trailing delimiter gives an empty extra") << "OK;1.2.0.0;"
                                                                 << "1.1.9.9" << 1 << "1.2.0.0"
                                                                 << "";
        QTest::newRow("more than three fields") << "OK;2.0.0.0;x;y"
                                                << "1.1.9.9" << 1 << "2.0.0.0"
                                                << "x";
        QTest::newRow("quoted extra") << "OK;2.0.0.0;\"a; b\""
                                      << "1.1.9.9" << 1 << "2.0.0.0"
                                      << "a; b";
        QTest::newRow("offered version not a number") << "OK;beta;x"
                                                      << "1.1.9.9" << 2 << "beta"
                                                      << "x";
    }
    void resultCodes()
    {
        QFETCH(QString, reply);
        QFETCH(QString, version);
        QFETCH(int, code);
        QFETCH(QString, newVersion);
        QFETCH(QString, extra);
        QString gotVersion = QStringLiteral("stale");
        QString gotExtra = QStringLiteral("stale");
        QCOMPARE(UpdateResultCode(reply, version, gotVersion, gotExtra), code);
        QCOMPARE(gotVersion, newVersion);
        QCOMPARE(gotExtra, extra);
    }

    void singleServiceObject()
    {
        QVERIFY(!GetServices());
        StartServices(kAppName, QStringLiteral("1.0.0.1"));
        TkvdServices* first = GetServices();
        QVERIFY(first);
        QCOMPARE(first->AppName(), kAppName);
        QCOMPARE(first->Version(), QStringLiteral("1.0.0.1"));
        QCOMPARE(first->LastRunReport(), 0.0);
        QCOMPARE(first->Timer().interval(), 60000);
        QVERIFY(first->Timer().isActive());
        QVERIFY(first->IPCServer().Listening());
        QCOMPARE(first->IPCServer().PipeName(), kAppName);
        StartServices(QStringLiteral("other"), QStringLiteral("9.9.9.9"));
        QCOMPARE(GetServices(), first);
        QCOMPARE(GetServices()->AppName(), kAppName);
        ReleaseServices();
        QVERIFY(!GetServices());
        ReleaseServices();
    }

    void checkForUpdates_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("launched");
        const int confirm = int(TMsgKind::Confirmation);
        const int info = int(TMsgKind::Information);
        const int error = int(TMsgKind::Error);
        QTest::newRow("newer, user agrees")
            << "OK;1.2.0.0;x"
            << "1.1.9.9" << int(QMessageBox::Yes) << true << confirm << "Confirm"
            << "New version available, update from 1.1.9.9 => 1.2.0.0" << true;
        QTest::newRow("newer, user declines")
            << "OK;1.2.0.0;x"
            << "1.1.9.9" << int(QMessageBox::No) << false << confirm << "Confirm"
            << "New version available, update from 1.1.9.9 => 1.2.0.0" << false;
        QTest::newRow("same version")
            << "OK;1.2.0.0;x"
            << "1.2.0.0" << int(QMessageBox::Ok) << false << info << "Information"
            << "Application is up to date!" << false;
        QTest::newRow("older offer")
            << "OK;1.2.0.0;x"
            << "1.3.0.0" << int(QMessageBox::Ok) << false << info << "Information"
            << "Application is up to date!" << false;
        QTest::newRow("status not OK")
            << "Error;1.2.0.0;x"
            << "1.1.9.9" << int(QMessageBox::Ok) << false << error << "Error"
            << "Error connecting update servers! Please try again later!" << false;
        QTest::newRow("empty reply")
            << ""
            << "1.1.9.9" << int(QMessageBox::Ok) << false << error << "Error"
            << "Unexpected error!" << false;
        QTest::newRow("two fields")
            << "OK;1.2.0.0"
            << "1.1.9.9" << int(QMessageBox::Ok) << false << error << "Error"
            << "Unexpected error!" << false;
    }
    void checkForUpdates()
    {
        REQUIRE_PEER();
        QFETCH(QString, reply);
        QFETCH(QString, version);
        QFETCH(int, answer);
        QFETCH(bool, result);
        QFETCH(int, kind);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(bool, launched);
        QVERIFY(FPeer.SetReply(QStringLiteral("getupdate"), reply));
        TkvdServices service(kAppName, version);
        TkvdMessageBox::SetNextAnswer(static_cast<QMessageBox::StandardButton>(answer));
        QCOMPARE(service.CheckForUpdates(), result);

        const QJsonObject sent = FPeer.NextReceived();
        QCOMPARE(sent.value("operation").toString(), QStringLiteral("kvd_application_getupdate"));
        QCOMPARE(sent.value("args").toObject().value("aAppName").toString(), kAppName);
        QCOMPARE(sent.value("args").toObject().value("aVersion").toString(), version);

        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        const TkvdMessageBox::TShown shown = TkvdMessageBox::Shown().first();
        QCOMPARE(int(shown.Kind), kind);
        QCOMPARE(shown.Title, title);
        QCOMPARE(shown.Text, text);
        if (launched) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(RecordFile()), 15000);
            QFile file(RecordFile());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QStringList lines = QString::fromLocal8Bit(file.readAll()).split('\n');
            QCOMPARE(lines.value(0), QCoreApplication::applicationDirPath() + "/updater");
            QCOMPARE(lines.value(1), QStringLiteral("appid=kvd_bexo"));
            QCOMPARE(lines.value(2), QStringLiteral("elevated=yes"));
        } else {
            // Nothing may start; give a started process time to show itself.
            QTest::qWait(500);
            QVERIFY(!QFile::exists(RecordFile()));
        }
    }

    // A failed question reaches the caller with its own text; none of the four
    // dialogs appears and nothing is launched.
    void checkForUpdatesFailures_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("errorClass");
        QTest::addColumn<QString>("messagePart");
        QTest::newRow("SOAP fault") << "fault"
                                    << "ESOAPFault"
                                    << "No such application";
        QTest::newRow("HTTP 500 with HTML") << "/bad/html500"
                                            << "ESOAPHTTPError"
                                            << "HTTP status 500";
        QTest::newRow("not XML") << "/bad/notxml"
                                 << "ESOAPReplyError"
                                 << "not well-formed";
        QTest::newRow("truncated") << "/bad/truncated"
                                   << "ESOAPReplyError"
                                   << "not well-formed";
        QTest::newRow("entity bomb") << "/bad/bomb"
                                     << "ESOAPReplyError"
                                     << "document type declaration";
        QTest::newRow("megabytes") << "/bad/huge"
                                   << "ESOAPReplyError"
                                   << "larger than";
        QTest::newRow("never ends") << "/bad/hang"
                                    << "ESOAPTimeout"
                                    << "did not answer";
        QTest::newRow("unreachable") << "closed"
                                     << "ESOAPConnectError"
                                     << "cannot be reached";
    }
    void checkForUpdatesFailures()
    {
        REQUIRE_PEER();
        QFETCH(QString, url);
        QFETCH(QString, errorClass);
        QFETCH(QString, messagePart);
        if (url == QLatin1String("fault"))
            QVERIFY(FPeer.SetFault("getupdate", "SOAP-ENV:Server", "No such application"));
        else if (url == QLatin1String("closed"))
            UseEndpoint(
                QStringLiteral("http://127.0.0.1:%1/scripts/kvd_services.php").arg(FreePort()));
        else
            UseEndpoint(FPeer.Url(url));
        TkvdServices service(kAppName, QStringLiteral("1.1.9.9"));
        QString cls;
        QString message;
        try {
            service.CheckForUpdates();
        } catch (const EkvdError& e) {
            cls = e.ClassName();
            message = e.Message();
        }
        QCOMPARE(cls, errorClass);
        QVERIFY2(message.contains(messagePart), qPrintable(message));
        QVERIFY(TkvdMessageBox::Shown().isEmpty());
        // The failure ended the wait, and with it the box.
        QCOMPARE(TkvdWaitBox::Shown(), QStringList{"Checking for updates..."});
        QVERIFY(!TkvdWaitBox::Current());
        if (url == QLatin1String("fault"))
            QVERIFY(FPeer.SetReply("getupdate", "OK;1.0.0.0;none"));
    }

    // While the question waits, windows keep painting.
    void windowsRepaintWhileWaiting()
    {
        REQUIRE_PEER();
        UseEndpoint(FPeer.Url(QStringLiteral("/bad/silent")));
        TkvdServices service(kAppName, QStringLiteral("1.1.9.9"));
        TStubbornWidget window;
        window.resize(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const int paintsBefore = window.Paints;
        QTimer probe;
        probe.setSingleShot(true);
        connect(&probe, &QTimer::timeout, this, [&] { window.update(); });
        probe.start(300);
        QVERIFY_THROWS_EXCEPTION(ESOAPTimeout, service.CheckForUpdates());
        QVERIFY(window.Paints > paintsBefore);
        QVERIFY(!TkvdWaitBox::Current());
    }

    // "Check Now!" waits behind a modal box with a Cancel button. How the wait
    // ends: the reply closes the box and the dialog of its result follows;
    // Cancel (the button, Escape, closing the box) drops the request and shows
    // nothing, not even when the server's time-out has passed; the program
    // quitting (the updater's terminate command) does the same. After a
    // cancelled wait a new check works.
    void checkNowWait_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::newRow("reply: newer, user declines")
            << "reply"
            << "OK;1.2.0.0;x" << false << "Confirm"
            << "New version available, update from 1.1.9.9 => 1.2.0.0";
        QTest::newRow("reply: up to date") << "reply"
                                           << "OK;1.1.9.9;x" << false << "Information"
                                           << "Application is up to date!";
        QTest::newRow("reply: status not OK")
            << "reply"
            << "Error;1.2.0.0;x" << false << "Error"
            << "Error connecting update servers! Please try again later!";
        QTest::newRow("reply: empty") << "reply"
                                      << "" << false << "Error"
                                      << "Unexpected error!";
        QTest::newRow("user cancels") << "cancel"
                                      << "" << false << ""
                                      << "";
        QTest::newRow("user presses Escape") << "escape"
                                             << "" << false << ""
                                             << "";
        QTest::newRow("user closes the box") << "close"
                                             << "" << false << ""
                                             << "";
        QTest::newRow("program quits") << "quit"
                                       << "" << false << ""
                                       << "";
    }
    void checkNowWait()
    {
        REQUIRE_PEER();
        QFETCH(QString, ending);
        QFETCH(QString, reply);
        QFETCH(bool, result);
        QFETCH(QString, title);
        QFETCH(QString, text);
        const bool replies = ending == QLatin1String("reply");
        if (replies)
            QVERIFY(FPeer.SetReply(QStringLiteral("getupdate"), reply));
        else
            UseEndpoint(FPeer.Url(QStringLiteral("/bad/silent")));
        TkvdServices service(kAppName, QStringLiteral("1.1.9.9"));

        QString boxText;
        bool appModal = false;
        bool cancelButton = false;
        QJsonObject sent;
        TWaitBoxWatch watch([&](QDialog* aBox) {
            boxText = WaitBoxText(aBox);
            appModal = aBox->windowModality() == Qt::ApplicationModal;
            QPushButton* cancel = WaitBoxCancel(aBox);
            cancelButton = cancel && cancel->text() == QLatin1String("Cancel") &&
                           cancel->isVisibleTo(aBox) && cancel->isEnabled();
            if (replies || watch.Shows > 1)
                return;
            // Once the silent server holds the request, the user gives up or
            // the program is told to end.
            QTimer::singleShot(0, this, [&, box = QPointer<QDialog>(aBox)] {
                sent = FPeer.NextReceived();
                if (ending == QLatin1String("cancel")) {
                    QTest::mouseClick(WaitBoxCancel(box), Qt::LeftButton);
                } else if (ending == QLatin1String("escape")) {
                    QTest::keyClick(box, Qt::Key_Escape);
                } else if (ending == QLatin1String("close")) {
                    box->close();
                } else {
                    const QString command = QLatin1String(kCommandTerminate);
                    Ask(&command, nullptr);
                }
            });
        });
        TkvdMessageBox::SetNextAnswer(QMessageBox::No);
        bool got = !result;
        if (ending == QLatin1String("quit")) {
            // The quit has to end the program's own event loop too.
            QTimer::singleShot(0, this, [&] { got = service.CheckForUpdates(); });
            QTimer guard;
            guard.setSingleShot(true);
            connect(&guard, &QTimer::timeout, this, [] { QCoreApplication::exit(1); });
            guard.start(20000);
            QCOMPARE(QCoreApplication::exec(), 0);
        } else {
            got = service.CheckForUpdates();
        }
        QCOMPARE(got, result);
        QCOMPARE(watch.Shows, 1);
        QCOMPARE(boxText, QStringLiteral("Checking for updates..."));
        QVERIFY(appModal);
        QVERIFY(cancelButton);
        QVERIFY(!TkvdWaitBox::Current());
        QCOMPARE(TkvdWaitBox::Shown(), QStringList{"Checking for updates..."});
        if (replies)
            sent = FPeer.NextReceived();
        QVERIFY2(sent.value("xml").toString().contains("kvd_application_getupdate"),
                 qPrintable(QJsonDocument(sent).toJson()));
        if (!replies) {
            // Past the server's time-out: a dropped request reports nothing.
            QTest::qWait(2500);
        }
        if (text.isEmpty()) {
            QVERIFY(TkvdMessageBox::Shown().isEmpty());
        } else {
            QCOMPARE(TkvdMessageBox::Shown().size(), 1);
            QCOMPARE(TkvdMessageBox::Shown().first().Title, title);
            QCOMPARE(TkvdMessageBox::Shown().first().Text, text);
        }
        if (replies)
            return;

        TkvdMessageBox::ClearShown();
        UseEndpoint(FPeer.Endpoint());
        QVERIFY(FPeer.SetReply(QStringLiteral("getupdate"), QStringLiteral("OK;1.1.9.9;x")));
        QVERIFY(!service.CheckForUpdates());
        QCOMPARE(watch.Shows, 2);
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        QCOMPARE(TkvdMessageBox::Shown().first().Text,
                 QStringLiteral("Application is up to date!"));
        QVERIFY(!TkvdWaitBox::Current());
    }

    // The service speaks only through the update UI installed: another one
    // hears the whole check in order (the wait, its end, then the question or
    // the message, and the owner given for the updater's prompt), and the GUI's
    // boxes show nothing. With none installed a check shows nothing and
    // declines a newer version.
    void updateUIInstalled_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("said");
        QTest::newRow("newer, user agrees")
            << "OK;1.2.0.0;x" << true << true
            << "confirm: Confirm: New version available, update from 1.1.9.9 => 1.2.0.0";
        QTest::newRow("newer, user declines")
            << "OK;1.2.0.0;x" << false << false
            << "confirm: Confirm: New version available, update from 1.1.9.9 => 1.2.0.0";
        QTest::newRow("up to date") << "OK;1.1.9.9;x" << false << false
                                    << "inform: Information: Application is up to date!";
        QTest::newRow("status not OK")
            << "Error;1.2.0.0;x" << false << false
            << "error: Error: Error connecting update servers! Please try again later!";
        QTest::newRow("empty reply") << "" << false << false << "error: Error: Unexpected error!";
    }
    void updateUIInstalled()
    {
        REQUIRE_PEER();
        QFETCH(QString, reply);
        QFETCH(bool, answer);
        QFETCH(bool, result);
        QFETCH(QString, said);
        QVERIFY(FPeer.SetReply(QStringLiteral("getupdate"), reply));
        TkvdServices service(kAppName, QStringLiteral("1.1.9.9"));
        QObject owner;
        auto ui = std::make_shared<TRecordingUI>();
        ui->Answer = answer;
        SetUpdateUI(ui);
        const bool got = service.CheckForUpdates(&owner);
        QCOMPARE(GetUpdateUI(), ui);
        SetUpdateUI(std::make_shared<TkvdUpdateDialogs>());
        QCOMPARE(got, result);
        QCOMPARE(ui->Calls, (QStringList{"wait: Checking for updates...", "hide", said}));
        QCOMPARE(ui->Owners, result ? QList<QObject*>{&owner} : QList<QObject*>{});
        QVERIFY(TkvdWaitBox::Shown().isEmpty());
        QVERIFY(TkvdMessageBox::Shown().isEmpty());
        if (result)
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(RecordFile()), 15000);

        QFile::remove(RecordFile());
        SetUpdateUI(nullptr);
        QVERIFY(!GetUpdateUI());
        const bool silent = service.CheckForUpdates(&owner);
        SetUpdateUI(std::make_shared<TkvdUpdateDialogs>());
        QVERIFY(!silent);
        QVERIFY(TkvdWaitBox::Shown().isEmpty());
        QVERIFY(TkvdMessageBox::Shown().isEmpty());
        // Both checks asked the service.
        for (int i = 0; i < 2; ++i)
            QCOMPARE(FPeer.NextReceived().value("operation").toString(),
                     QStringLiteral("kvd_application_getupdate"));
        QTest::qWait(500);
        QVERIFY(!QFile::exists(RecordFile()));
    }

    void launchUpdater()
    {
        TkvdServices service(kAppName, QStringLiteral("1.0.0.1"));
        service.LaunchUpdater();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(RecordFile()), 15000);
        QFile file(RecordFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromLocal8Bit(file.readAll()).split('\n');
        QCOMPARE(lines.value(0), FileBeside(QCoreApplication::applicationFilePath(), "updater"));
        QCOMPARE(lines.value(1), QStringLiteral("appid=kvd_bexo"));
        QCOMPARE(lines.value(2), QStringLiteral("elevated=yes"));
    }

    void launchUpdaterThatCannotStart()
    {
        qputenv("ULMORA_ELEVATE", FDir.filePath(QStringLiteral("no-such-elevation")).toUtf8());
        TkvdServices service(kAppName, QStringLiteral("1.0.0.1"));
        service.LaunchUpdater();
        qputenv("ULMORA_ELEVATE", QByteArray(ULMORA_TEST_ELEVATE));
        QVERIFY(TkvdMessageBox::Shown().isEmpty());
    }

    // A build without an update server, and no ULMORA_UPDATE_URL: nothing is
    // ever sent, and "Check Now!" says why instead of showing a connection
    // error for a host that does not exist.
    void noUpdateServerConfigured()
    {
        if (!QStringLiteral(ULMORA_TEST_UPDATE_HOST).isEmpty())
            QSKIP("this build names an update host");
        qunsetenv("ULMORA_UPDATE_URL");
        SetFixedNow(At(2, 9, 0));
        TkvdServices service(kAppName, QStringLiteral("1.0.0.1"));
        for (const QDateTime& tick : {At(2, 9, 1), At(3, 9, 1), At(9, 9, 1)}) {
            SetFixedNow(tick);
            service.TimerTick();
            QVERIFY(!service.ReportRunning());
        }
        QVERIFY(!service.ReportRun());
        QCOMPARE(service.LastRunReport(), 0.0);

        QVERIFY(!service.CheckForUpdates());
        QVERIFY(TkvdWaitBox::Shown().isEmpty());
        const QList<TkvdMessageBox::TShown> shown = TkvdMessageBox::Shown();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0].Title, QStringLiteral("Information"));
        QCOMPARE(shown[0].Text,
                 QStringLiteral("No update server is configured for this build of Ulmora."));
        if (FPeerUp)
            QVERIFY(FPeer.TakeReceived().isEmpty());
    }

    // First report on the first tick, then nothing until 24 hours have passed.
    void runReportEvery24Hours()
    {
        REQUIRE_PEER();
        SetFixedNow(At(2, 9, 0));
        TkvdServices service(kAppName, QStringLiteral("1.0.0.1"));
        QSignalSpy finished(&service, &TkvdServices::RunReportFinished);
        QCOMPARE(service.LastRunReport(), 0.0);

        SetFixedNow(At(2, 9, 1));
        service.TimerTick();
        QVERIFY(service.ReportRunning());
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.takeFirst().at(0).toBool(), true);
        QCOMPARE(service.LastRunReport(), DateTimeFromQDateTime(At(2, 9, 1)));
        const QJsonObject sent = FPeer.NextReceived();
        QCOMPARE(sent.value("operation").toString(), QStringLiteral("kvd_application_run"));
        QCOMPARE(sent.value("args").toObject().value("aAppName").toString(), kAppName);

        for (const QDateTime& quiet : {At(2, 9, 2), At(2, 23, 59), At(3, 9, 0, 59)}) {
            SetFixedNow(quiet);
            service.TimerTick();
            QVERIFY2(!service.ReportRunning(), qPrintable(quiet.toString()));
        }
        SetFixedNow(At(3, 9, 1));
        service.TimerTick();
        QVERIFY(service.ReportRunning());
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.takeFirst().at(0).toBool(), true);
        QCOMPARE(service.LastRunReport(), DateTimeFromQDateTime(At(3, 9, 1)));

        // The difference counts either way: a clock set back a day reports too.
        SetFixedNow(At(2, 9, 1));
        service.TimerTick();
        QVERIFY(service.ReportRunning());
        QVERIFY(finished.wait(20000));
        QVERIFY(TkvdMessageBox::Shown().isEmpty());
    }

    // A failed report leaves LastRunReport alone and shows nothing; every tick
    // tries again until one succeeds.
    void runReportRetries_data()
    {
        QTest::addColumn<QString>("failure");
        QTest::newRow("reply not OK") << "reply:FAIL";
        QTest::newRow("OK with a blank") << "reply:OK ";
        QTest::newRow("ok in lower case") << "reply:ok";
        QTest::newRow("empty reply") << "reply:";
        QTest::newRow("SOAP fault") << "fault";
        QTest::newRow("HTTP 500") << "url:/bad/html500";
        QTest::newRow("not XML") << "url:/bad/notxml";
        QTest::newRow("never ends") << "url:/bad/hang";
        QTest::newRow("unreachable") << "closed";
    }
    void runReportRetries()
    {
        REQUIRE_PEER();
        QFETCH(QString, failure);
        if (failure.startsWith("reply:"))
            QVERIFY(FPeer.SetReply("run", failure.mid(6)));
        else if (failure == QLatin1String("fault"))
            QVERIFY(FPeer.SetFault("run", "SOAP-ENV:Server", "down"));
        else if (failure == QLatin1String("closed"))
            UseEndpoint(QStringLiteral("http://127.0.0.1:%1/x").arg(FreePort()));
        else
            UseEndpoint(FPeer.Url(failure.mid(4)));

        SetFixedNow(At(2, 9, 0));
        TkvdServices service(kAppName, QStringLiteral("1.0.0.1"));
        QSignalSpy finished(&service, &TkvdServices::RunReportFinished);
        for (int minute = 1; minute <= 2; ++minute) {
            SetFixedNow(At(2, 9, minute));
            service.TimerTick();
            QVERIFY(service.ReportRunning());
            QVERIFY(finished.wait(20000));
            QCOMPARE(finished.takeFirst().at(0).toBool(), false);
            QCOMPARE(service.LastRunReport(), 0.0);
        }
        QVERIFY(TkvdMessageBox::Shown().isEmpty());

        QVERIFY(FPeer.SetReply("run", "OK"));
        UseEndpoint(FPeer.Endpoint());
        SetFixedNow(At(2, 9, 3));
        service.TimerTick();
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.takeFirst().at(0).toBool(), true);
        QCOMPARE(service.LastRunReport(), DateTimeFromQDateTime(At(2, 9, 3)));
    }

    // One report at a time: ticks while one is in flight start no other.
    void runReportOneAtATime()
    {
        REQUIRE_PEER();
        UseEndpoint(FPeer.Url(QStringLiteral("/bad/silent")));
        SetFixedNow(At(2, 9, 1));
        TkvdServices service(kAppName, QStringLiteral("1.0.0.1"));
        QSignalSpy finished(&service, &TkvdServices::RunReportFinished);
        QVERIFY(service.ReportRun());
        QVERIFY(!service.ReportRun());
        SetFixedNow(At(2, 9, 2));
        service.TimerTick();
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(FPeer.TakeReceived().size(), 1);
    }

    // Releasing the service while a report waits drops the report quietly.
    void releaseWithReportInFlight()
    {
        REQUIRE_PEER();
        UseEndpoint(FPeer.Url(QStringLiteral("/bad/silent")));
        int reports = 0;
        {
            TkvdServices service(kAppName, QStringLiteral("1.0.0.1"));
            connect(&service, &TkvdServices::RunReportFinished, this, [&] { ++reports; });
            QVERIFY(service.ReportRun());
            QVERIFY(!FPeer.NextReceived().isEmpty());
        }
        QTest::qWait(2500);
        QCOMPARE(reports, 0);
    }

    void pipeCommands_data()
    {
        QTest::addColumn<bool>("hasCommand");
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("hasParams");
        QTest::addColumn<QByteArray>("params");
        QTest::addColumn<QByteArray>("data");
        const QByteArray version = "version=" + GetAppVersion().toLocal8Bit() + "\r\n";
        QTest::newRow("getversion")
            << true << "kvd_command_getversion" << false << QByteArray() << version;
        QTest::newRow("getversion with params")
            << true << "kvd_command_getversion" << true << QByteArray("a=1\r\nb=2\r\n")
            << "a=1\r\nb=2\r\n" + version;
        QTest::newRow("getversion with raw params")
            << true << "kvd_command_getversion" << true << QByteArray("\xff\x00\x01z", 4)
            << QByteArray("\xff\x00\x01z", 4) + version;
        QTest::newRow("update") << true << "kvd_command_update" << false << QByteArray()
                                << QByteArray();
        QTest::newRow("update with params")
            << true << "kvd_command_update" << true << QByteArray("p\r\n") << QByteArray("p\r\n");
        QTest::newRow("wrong case")
            << true << "KVD_COMMAND_GETVERSION" << false << QByteArray() << QByteArray();
        QTest::newRow("trailing blank")
            << true << "kvd_command_getversion " << false << QByteArray() << QByteArray();
        QTest::newRow("unknown") << true << "kvd_command_launch" << false << QByteArray()
                                 << QByteArray();
        QTest::newRow("no command") << false << "" << false << QByteArray() << QByteArray();
        QTest::newRow("no command, params echoed")
            << false << "" << true << QByteArray("x") << QByteArray("x");
    }
    void pipeCommands()
    {
        QFETCH(bool, hasCommand);
        QFETCH(QString, command);
        QFETCH(bool, hasParams);
        QFETCH(QByteArray, params);
        QFETCH(QByteArray, data);
        TkvdServices service(kAppName, QStringLiteral("1.0.0.1"));
        const PMessageData reply =
            Ask(hasCommand ? &command : nullptr, hasParams ? &params : nullptr);
        QVERIFY(IsIdentifier(reply->GetID()));
        QCOMPARE(reply->ReadText(QStringLiteral("Result")), QStringLiteral("ok"));
        QByteArray got;
        const bool present = reply->GetData().ReadBytes(QStringLiteral("Data"), got);
        QCOMPARE(got, data);
        // An empty "Data" is not stored at all.
        QCOMPARE(present, !data.isEmpty());
    }

    void freshIdPerReply()
    {
        TkvdServices service(kAppName, QStringLiteral("1.0.0.1"));
        TIPCClient client;
        client.Connect(kAppName);
        TMessageData request;
        request.WriteText(QStringLiteral("Command"), QStringLiteral("kvd_command_getversion"));
        const PMessageData first = client.Execute(request);
        const PMessageData second = client.Execute(request);
        client.Disconnect();
        QVERIFY(IsIdentifier(first->GetID()));
        QVERIFY(IsIdentifier(second->GetID()));
        QVERIFY(first->GetID() != second->GetID());
    }

    // The reply comes first; then the event loop ends, even though a window
    // refuses to close (as the main window does when it keeps to the tray).
    void terminateEndsTheEventLoop()
    {
        TkvdServices service(kAppName, QStringLiteral("1.0.0.1"));
        TStubbornWidget window;
        window.show();
        const QString command = QStringLiteral("kvd_command_terminate");
        // No event may be processed between the reply and exec: the quit
        // request waits in the queue.
        const PMessageData reply = Ask(&command, nullptr);
        QCOMPARE(reply->ReadText(QStringLiteral("Result")), QStringLiteral("ok"));
        QVERIFY(reply->ReadBytes(QStringLiteral("Data")).isEmpty());
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, this, [] { QCoreApplication::exit(1); });
        guard.start(20000);
        QCOMPARE(QCoreApplication::exec(), 0);
        guard.stop();
        QCOMPARE(window.Closes, 0);
    }
};

QTEST_MAIN(TestUpdateService)
#include "test_update_service.moc"
