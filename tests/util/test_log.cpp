#include "util/kvd_datetime.h"
#include "util/kvd_errors.h"
#include "util/tasks_log.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

class TestLog : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir FDir;

    TtasksLog* NewLog(int aLevel)
    {
        auto log = std::make_unique<TtasksLog>();
        log->FileName = FDir.filePath(QStringLiteral("log-%1.log").arg(GenerateName()));
        log->Level = static_cast<uint8_t>(aLevel);
        TtasksLog* raw = log.get();
        SetTasksLog(std::move(log));
        return raw;
    }
    static QString GenerateName()
    {
        static int n = 0;
        return QString::number(++n);
    }
    static QByteArray Read(const QString& aFile)
    {
        QFile file(aFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private Q_SLOTS:
    void init() { SetFixedNow(QDateTime(QDate(2012, 5, 8), QTime(15, 10, 0))); }
    void cleanup()
    {
        SetTasksLog(nullptr);
        ResetNow();
    }

    void emptySlotLogsNothing() { QCOMPARE(GetTasksLog(), nullptr); }

    void errorLinesObeyTheLevel_data()
    {
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("written");
        QTest::newRow("level 4 writes") << 4 << true;
        QTest::newRow("level 0 writes") << 0 << true;
        QTest::newRow("level 5 is silent") << 5 << false;
    }

    void errorLinesObeyTheLevel()
    {
        QFETCH(int, level);
        QFETCH(bool, written);
        TtasksLog* log = NewLog(level);
        log->LogException(EDatabaseError(QStringLiteral("no such table: x")));
        QCOMPARE(QFile::exists(log->FileName), written);
        if (written) {
            const QByteArray text = Read(log->FileName);
            QVERIFY2(text.endsWith("] (X) EDatabaseError: no such table: x\r\n"), text.constData());
            QVERIFY(text.startsWith('['));
            QCOMPARE(text.count('\n'), 1);
        }
    }

    void entriesAreAppendedWithTheCallback()
    {
        TtasksLog* log = NewLog(4);
        QStringList seen;
        log->OnLog = [&seen](TtasksLog&, const QString& aLine) { seen << aLine; };
        log->Log(QStringLiteral("first"));
        log->Log(QStringLiteral("second"));
        const QList<QByteArray> lines = Read(log->FileName).split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].endsWith("] first\r"));
        QVERIFY(lines[1].endsWith("] second\r"));
        QCOMPARE(seen.size(), 2);
        QVERIFY(seen[1].endsWith(QStringLiteral("] second")));
        QVERIFY(!seen[1].contains(QLatin1Char('\n')));
    }

    void aLineBreakInTheTextSpansTwoLines()
    {
        TtasksLog* log = NewLog(4);
        log->Log(QStringLiteral("one\r\ntwo"));
        const QList<QByteArray> lines = Read(log->FileName).split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith('['));
        QCOMPARE(lines[1], QByteArray("two\r"));
    }

    void foreignExceptionsHaveAClassName()
    {
        TtasksLog* log = NewLog(4);
        log->LogException(std::runtime_error("boom"));
        QVERIFY(Read(log->FileName).endsWith("(X) Exception: boom\r\n"));
    }

    // Failed statements may quote the user's tasks: a log file the program
    // creates is the user's alone, while one that exists keeps its mode.
    void theLogFileIsPrivate_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("before"); // -1: no file yet
        QTest::addColumn<int>("after");
        QTest::newRow("new file") << 022 << -1 << 0600;
        QTest::newRow("new file, no umask") << 0 << -1 << 0600;
        QTest::newRow("existing 0644 stays") << 022 << 0644 << 0644;
        QTest::newRow("existing 0640 stays") << 022 << 0640 << 0640;
    }

    void theLogFileIsPrivate()
    {
        QFETCH(int, mask);
        QFETCH(int, before);
        QFETCH(int, after);
        TtasksLog* log = NewLog(4);
        const QByteArray path = QFile::encodeName(log->FileName);
        if (before >= 0) {
            QFile file(log->FileName);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            QCOMPARE(::chmod(path.constData(), static_cast<mode_t>(before)), 0);
        }
        const mode_t old = ::umask(static_cast<mode_t>(mask));
        log->Log(QStringLiteral("entry"));
        ::umask(old);
        struct stat info = {};
        QCOMPARE(::stat(path.constData(), &info), 0);
        QCOMPARE(static_cast<int>(info.st_mode & 07777), after);
        QVERIFY(Read(log->FileName).endsWith("] entry\r\n"));
    }

    void anUnwritableFileLosesTheEntryQuietly()
    {
        TtasksLog* log = NewLog(4);
        log->FileName = FDir.filePath(QStringLiteral("missing-folder/x.log"));
        log->Log(QStringLiteral("lost"));
        QVERIFY(!QFile::exists(log->FileName));
    }
};

QTEST_GUILESS_MAIN(TestLog)
#include "test_log.moc"
