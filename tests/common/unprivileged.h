#pragma once

// File modes mean nothing to root: it writes a read-only file and creates files
// in a read-only folder. A test of what a user meets there runs its own test
// function (and data row) again as an ordinary user, in a child process of the
// same test program, when it finds itself running as root.
//
//     void readOnlyFile()
//     {
//         RUN_AS_ORDINARY_USER();
//         ... the checks, made as an ordinary user ...
//     }

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

struct TOrdinaryUserRun
{
    // The checks are to be made in this process: it is not root.
    bool RunHere = false;
    // Why the checks cannot be made at all (empty when they can).
    QString SkipReason;
    // The child's exit code and what it wrote, when it ran.
    int ExitCode = 0;
    QString Output;
};

// The unprivileged account the child runs as.
inline const char* OrdinaryUserName()
{
    return "nobody";
}

inline TOrdinaryUserRun RunCurrentTestAsOrdinaryUser()
{
    TOrdinaryUserRun run;
#ifdef Q_OS_UNIX
    if (geteuid() != 0) {
        run.RunHere = true;
        return run;
    }
    const QString runuser = QStandardPaths::findExecutable(
        QStringLiteral("runuser"),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin")});
    if (runuser.isEmpty()) {
        run.SkipReason = QStringLiteral("runuser is needed to test as an ordinary user");
        return run;
    }
    // A folder the child may write in, removed by this process afterwards.
    QTemporaryDir scratch;
    if (!scratch.isValid() ||
        !QFile::setPermissions(scratch.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                   QFileDevice::WriteOther |
                                                   QFileDevice::ExeOther)) {
        run.SkipReason = QStringLiteral("no scratch folder for the ordinary user");
        return run;
    }
    QString function = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        function += QLatin1Char(':') + QString::fromUtf8(QTest::currentDataTag());
    const QString program = QCoreApplication::applicationFilePath();

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TMPDIR"), scratch.path());
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    child.setProcessEnvironment(environment);
    child.setWorkingDirectory(scratch.path());
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(runuser, {QStringLiteral("-u"), QString::fromLatin1(OrdinaryUserName()),
                          QStringLiteral("--"), program, function});
    if (!child.waitForFinished(120000)) {
        child.kill();
        child.waitForFinished();
        run.ExitCode = -1;
        run.Output = QStringLiteral("the child test did not end");
        return run;
    }
    run.ExitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    run.Output = QString::fromLocal8Bit(child.readAll());
    // runuser exits with 126 or 127 when it cannot start the program, for
    // example when the ordinary user may not enter the build folder.
    if (run.ExitCode == 126 || run.ExitCode == 127 ||
        run.Output.contains(QStringLiteral("runuser:"))) {
        run.SkipReason = QStringLiteral("the ordinary user cannot run %1: %2")
                             .arg(program, run.Output.trimmed());
    }
    return run;
#else
    // Read-only attributes of files and folders are not the modes these
    // tests are about.
    run.SkipReason = QStringLiteral("file and folder modes are tested on Unix");
    return run;
#endif
}

// Goes on in this process when it is not root; otherwise runs the current test
// as an ordinary user, passes on its result and returns.
#define RUN_AS_ORDINARY_USER()                                                                     \
    do {                                                                                           \
        const TOrdinaryUserRun ordinaryRun = RunCurrentTestAsOrdinaryUser();                       \
        if (!ordinaryRun.SkipReason.isEmpty())                                                     \
            QSKIP(qPrintable(ordinaryRun.SkipReason));                                             \
        if (!ordinaryRun.RunHere) {                                                                \
            QVERIFY2(ordinaryRun.ExitCode == 0, qPrintable(ordinaryRun.Output));                   \
            return;                                                                                \
        }                                                                                          \
    } while (false)
