// End to end: the real program on a virtual display answers the updater's
// commands on its pipe. It tells its version, and on "kvd_command_terminate" it
// replies, ends with status 0 and leaves the window geometry in config.ini.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Splits the output of ulmora-pipe: "ID: ...", "Result: ...", "Data:" and the
// data bytes after that line.
struct TPipeReply
{
    int ExitCode = -1;
    QString ID;
    QString Result;
    QByteArray Data;
    QString Error;
};

} // namespace

class TestE2EUpdate : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir FDir;
    QProcess FXvfb;
    QProcess FProgram;
    QString FDisplay;
    // The folder of the current run: APPDATA and, below it, the pipe's folder.
    QString FRunDir;
    // Set once the program has not answered, so later rows skip at once.
    QString FNoAnswer;

    QProcessEnvironment Environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("APPDATA"), FRunDir);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), FRunDir + QStringLiteral("/run"));
        env.insert(QStringLiteral("DISPLAY"), FDisplay);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // The daily report must not reach out of the machine.
        env.insert(QStringLiteral("ULMORA_UPDATE_URL"),
                   QStringLiteral("http://127.0.0.1:9/scripts/kvd_services.php"));
        return env;
    }

    TPipeReply Pipe(const QStringList& aArguments)
    {
        QProcess pipe;
        pipe.setProcessEnvironment(Environment());
        pipe.start(QStringLiteral(ULMORA_PIPE_BINARY), QStringList{"kvd_bexo"} + aArguments);
        TPipeReply reply;
        if (!pipe.waitForFinished(15000)) {
            pipe.kill();
            pipe.waitForFinished();
            reply.Error = QStringLiteral("ulmora-pipe did not finish");
            return reply;
        }
        reply.ExitCode = pipe.exitCode();
        reply.Error = QString::fromLocal8Bit(pipe.readAllStandardError());
        const QByteArray out = pipe.readAllStandardOutput();
        const qsizetype dataAt = out.indexOf("Data:\n");
        const QList<QByteArray> head = out.left(dataAt < 0 ? out.size() : dataAt).split('\n');
        for (const QByteArray& line : head) {
            if (line.startsWith("ID: "))
                reply.ID = QString::fromLocal8Bit(line.mid(4));
            else if (line.startsWith("Result: "))
                reply.Result = QString::fromLocal8Bit(line.mid(8));
        }
        if (dataAt >= 0)
            reply.Data = out.mid(dataAt + 6);
        return reply;
    }

    QMap<QString, QString> MainSection() const
    {
        QMap<QString, QString> keys;
        QFile file(FRunDir + QStringLiteral("/BEXO/config.ini"));
        if (!file.open(QIODevice::ReadOnly))
            return keys;
        bool inMain = false;
        for (const QByteArray& raw : file.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw).trimmed();
            if (line.startsWith(QLatin1Char('[')))
                inMain = line.compare(QLatin1String("[main]"), Qt::CaseInsensitive) == 0;
            else if (inMain && line.contains(QLatin1Char('=')))
                keys.insert(line.section(QLatin1Char('='), 0, 0).trimmed(),
                            line.section(QLatin1Char('='), 1).trimmed());
        }
        return keys;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(FDir.isValid());
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            QSKIP("Xvfb is not installed");
        // Xvfb picks a free display itself and writes its number to stdout,
        // so tests running side by side never meet.
        FXvfb.start(xvfb, {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        QVERIFY(FXvfb.waitForStarted(10000));
        QDeadlineTimer deadline(20000);
        while (!FXvfb.canReadLine() && !deadline.hasExpired())
            FXvfb.waitForReadyRead(100);
        const QByteArray number = FXvfb.readLine().trimmed();
        QVERIFY2(!number.isEmpty(), "Xvfb did not report its display");
        FDisplay = QStringLiteral(":") + QString::fromLatin1(number);
    }

    // With close_minimizes on, a close would only hide the window; the
    // terminate command ends the program all the same.
    void versionThenTerminate_data()
    {
        QTest::addColumn<QString>("closeMinimizes");
        QTest::newRow("close_minimizes off") << "0";
        QTest::newRow("close_minimizes on") << "1";
    }
    void versionThenTerminate()
    {
        QFETCH(QString, closeMinimizes);
        if (!FNoAnswer.isEmpty())
            QSKIP(qPrintable(FNoAnswer));
        FRunDir = FDir.filePath(QStringLiteral("close_minimizes_") + closeMinimizes);
        QVERIFY(QDir().mkpath(FRunDir + QStringLiteral("/BEXO")));
        QVERIFY(QDir().mkpath(FRunDir + QStringLiteral("/run")));
        QFile::setPermissions(FRunDir + QStringLiteral("/run"), QFileDevice::ReadOwner |
                                                                    QFileDevice::WriteOwner |
                                                                    QFileDevice::ExeOwner);
        {
            QFile config(FRunDir + QStringLiteral("/BEXO/config.ini"));
            QVERIFY(config.open(QIODevice::WriteOnly));
            config.write("[main]\nclose_minimizes=" + closeMinimizes.toLatin1() + "\n");
        }
        FProgram.setProcessEnvironment(Environment());
        FProgram.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FProgram.start(QStringLiteral(ULMORA_BINARY));
        QVERIFY(FProgram.waitForStarted(10000));

        // The program answers once its window is created; ulmora-pipe itself
        // waits up to 3 seconds for the pipe to appear.
        TPipeReply version;
        QElapsedTimer waited;
        waited.start();
        do {
            version = Pipe({"kvd_command_getversion"});
        } while (version.ExitCode != 0 && waited.elapsed() < 20000 &&
                 FProgram.state() == QProcess::Running);
        if (version.ExitCode != 0) {
            FProgram.kill();
            FProgram.waitForFinished();
            FNoAnswer = QStringLiteral("the program does not answer on its pipe (is the update "
                                       "service started by the main window?): ") +
                        version.Error.trimmed();
            QSKIP(qPrintable(FNoAnswer));
        }
        QCOMPARE(version.Result, QStringLiteral("ok"));
        QVERIFY(QRegularExpression(QStringLiteral("^[A-Ya-y]{16}$")).match(version.ID).hasMatch());
        QCOMPARE(version.Data, QByteArray("version=" ULMORA_VERSION_TEXT "\r\n"));

        // "Params" come back first, byte for byte.
        const TPipeReply withParams = Pipe({"kvd_command_getversion", "from=e2e"});
        QCOMPARE(withParams.ExitCode, 0);
        QCOMPARE(withParams.Data, QByteArray("from=e2e"
                                             "version=" ULMORA_VERSION_TEXT "\r\n"));

        const TPipeReply update = Pipe({"kvd_command_update"});
        QCOMPARE(update.ExitCode, 0);
        QCOMPARE(update.Result, QStringLiteral("ok"));
        QVERIFY(update.Data.isEmpty());
        QCOMPARE(FProgram.state(), QProcess::Running);

        const TPipeReply terminate = Pipe({"kvd_command_terminate"});
        QCOMPARE(terminate.ExitCode, 0);
        QCOMPARE(terminate.Result, QStringLiteral("ok"));
        QElapsedTimer ending;
        ending.start();
        // A guard against a hang, not a measure of speed.
        QVERIFY(FProgram.waitForFinished(30000));
        qInfo("the program ended %lld ms after the terminate reply", ending.elapsed());
        QCOMPARE(FProgram.exitStatus(), QProcess::NormalExit);
        QCOMPARE(FProgram.exitCode(), 0);

        const QMap<QString, QString> keys = MainSection();
        for (const char* name :
             {"window_left", "window_top", "window_width", "window_height", "edittask_height"}) {
            bool isNumber = false;
            keys.value(QLatin1String(name)).toInt(&isNumber);
            QVERIFY2(isNumber, name);
        }
        QVERIFY(keys.value(QStringLiteral("window_width")).toInt() > 0);
        QVERIFY(keys.value(QStringLiteral("window_height")).toInt() > 0);
        QCOMPARE(keys.value(QStringLiteral("close_minimizes")), closeMinimizes);
    }

    void cleanup()
    {
        if (FProgram.state() != QProcess::NotRunning) {
            FProgram.kill();
            FProgram.waitForFinished();
        }
    }

    void cleanupTestCase()
    {
        if (FXvfb.state() != QProcess::NotRunning) {
            FXvfb.terminate();
            if (!FXvfb.waitForFinished(5000)) {
                FXvfb.kill();
                FXvfb.waitForFinished();
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestE2EUpdate)
#include "test_e2e_update.moc"
