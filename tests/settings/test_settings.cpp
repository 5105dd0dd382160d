#include "../common/test_env.h"

#include "settings/kvd_ini.h"
#include "settings/kvd_settings.h"
#include "settings/tasks_settings.h"
#include "util/tasks_log.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class TestSettings : public QObject
{
    Q_OBJECT

private:
    static QByteArray Read(const QString& aFile)
    {
        QFile file(aFile);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    static void Write(const QString& aFile, const QByteArray& aData)
    {
        QDir().mkpath(QFileInfo(aFile).absolutePath());
        QFile file(aFile);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(aData);
    }

    static const QByteArray kFirstRun;

private Q_SLOTS:
    void firstRunWritesTheSevenKeysInOrder()
    {
        TTestEnv env;
        TtasksSettings* settings = GetTasksSettings();
        const QString file = env.File("BEXO/config.ini");
        QCOMPARE(settings->FileName(), env.Path() + "\\BEXO\\config.ini");
        QCOMPARE(Read(file), kFirstRun);
        QCOMPARE(db_file, QStringLiteral("%APPDATA%\\BEXO\\tasks.db"));
        QCOMPARE(close_minimizes, true);
    }

    void missingParentFoldersAreCreated()
    {
        TTestEnv env;
        qputenv("APPDATA", env.File("fresh/.config").toUtf8());
        ResetEnvTableForTesting();
        GetTasksSettings();
        QCOMPARE(Read(env.File("fresh/.config/BEXO/config.ini")), kFirstRun);
    }

    void secondCallKeepsTheFirstObject()
    {
        TTestEnv env;
        TtasksSettings* first = GetTasksSettings();
        QCOMPARE(GetTasksSettings(env.File("other.ini")), first);
        QVERIFY(!QFile::exists(env.File("other.ini")));
    }

    void valuesAreReadAndWrittenBack_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("writtenBack");
        QTest::newRow("non-zero is true")
            << QByteArray("close_minimizes=5") << QByteArray("close_minimizes=1");
        QTest::newRow("zero is false")
            << QByteArray("close_minimizes=0") << QByteArray("close_minimizes=0");
        QTest::newRow("hex") << QByteArray("time_granularity=0x1E")
                             << QByteArray("time_granularity=30");
        QTest::newRow("hex upper X")
            << QByteArray("time_granularity=0X1e") << QByteArray("time_granularity=30");
        QTest::newRow("not a number")
            << QByteArray("time_granularity=abc") << QByteArray("time_granularity=10");
        QTest::newRow("bare 0x") << QByteArray("time_granularity=0x")
                                 << QByteArray("time_granularity=10");
        QTest::newRow("too large")
            << QByteArray("night_hours_to=2147483648") << QByteArray("night_hours_to=7");
        QTest::newRow("negative") << QByteArray("night_hours_to=-3")
                                  << QByteArray("night_hours_to=-3");
        QTest::newRow("blanks around")
            << QByteArray("  theme =  Blue Sky  ") << QByteArray("theme=Blue Sky");
        QTest::newRow("key case") << QByteArray("THEME=Dark") << QByteArray("theme=Dark");
    }

    void valuesAreReadAndWrittenBack()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, writtenBack);
        TTestEnv env;
        const QString file = env.File("BEXO/config.ini");
        Write(file, "[main]\n" + line + "\n");
        GetTasksSettings();
        const QByteArray text = Read(file);
        QVERIFY2(text.contains(writtenBack + "\n"), text.constData());
        QCOMPARE(text.count('='), 7);
    }

    void readValues()
    {
        TTestEnv env;
        Write(env.File("BEXO/config.ini"),
              "[main]\ntheme=Dark Night\nclose_minimizes=5\ntime_granularity=0x1E\n");
        GetTasksSettings();
        QCOMPARE(theme, QStringLiteral("Dark Night"));
        QCOMPARE(close_minimizes, true);
        QCOMPARE(time_granularity, 30);
        QCOMPARE(night_hours_from, 22);
    }

    void otherKeysAndLinesAreKept()
    {
        TTestEnv env;
        const QString file = env.File("BEXO/config.ini");
        Write(file, "; written by hand\r\n[other]\r\nx=1\r\n[main]\r\nwindow_left=12\r\n"
                    "theme=Dark\r\nthis line is no key\r\n\r\n[later]\r\ny=2\r\n");
        TtasksSettings* settings = GetTasksSettings();
        const QByteArray text = Read(file);
        QVERIFY2(
            text.startsWith("; written by hand\r\n[other]\r\nx=1\r\n[main]\r\nwindow_left=12\r\n"
                            "theme=Dark\r\nthis line is no key\r\ndb_file="),
            text.constData());
        QVERIFY(text.endsWith("close_minimizes=1\r\n\r\n[later]\r\ny=2\r\n"));
        QCOMPARE(settings->ReadInteger("window_left", 0), 12);
        QCOMPARE(settings->ReadInteger("y", -1), -1);
    }

    void typedKeys()
    {
        TTestEnv env;
        TtasksSettings* settings = GetTasksSettings();
        settings->WriteInteger("window_top", -40);
        settings->WriteBool("flag", false);
        settings->WriteString("name", "Ünïcødé ✓");
        ReleaseTasksSettings();
        TtasksSettings* again = GetTasksSettings();
        QCOMPARE(again->ReadInteger("window_top", 0), -40);
        QCOMPARE(again->ReadBool("flag", true), false);
        QCOMPARE(again->ReadString("name", QString()), QStringLiteral("Ünïcødé ✓"));
        QCOMPARE(again->ReadString("missing", "dflt"), QStringLiteral("dflt"));
        // The window keys are not part of the seven.
        QVERIFY(Read(env.File("BEXO/config.ini")).contains("window_top=-40\n"));
    }

    void aLineBreakInAValueStaysOnItsLine()
    {
        TTestEnv env;
        TtasksSettings* settings = GetTasksSettings();
        settings->WriteString("theme", "a\nb=c");
        QCOMPARE(settings->ReadString("theme", QString()), QStringLiteral("a b=c"));
        QVERIFY(!Read(env.File("BEXO/config.ini")).contains("\nb=c"));
    }

    void badFilesGiveDefaults_data()
    {
        QTest::addColumn<QByteArray>("content");
        QByteArray binary;
        for (int i = 0; i < 512; ++i)
            binary.append(static_cast<char>(i * 37));
        QTest::newRow("binary") << binary;
        QTest::newRow("megabyte line")
            << QByteArray("[main]\ntheme=") + QByteArray(1 << 20, 'x') + "\n";
        QTest::newRow("no section") << QByteArray("theme=Dark\nnonsense\n");
        QTest::newRow("invalid utf-8 value") << QByteArray("[main]\ntime_granularity=\xff\xfe\n");
    }

    void badFilesGiveDefaults()
    {
        QFETCH(QByteArray, content);
        TTestEnv env;
        const QString file = env.File("BEXO/config.ini");
        Write(file, content);
        GetTasksSettings();
        QCOMPARE(time_granularity, 10);
        QCOMPARE(night_hours_from, 22);
        // Whatever was there is still there: the keys were added or replaced.
        const QByteArray text = Read(file);
        QVERIFY(text.contains("night_hours_from=22"));
        if (!content.contains("time_granularity") && !content.contains("theme="))
            QVERIFY(text.startsWith(content));
    }

    void anUnwritableFolderKeepsValuesInMemory()
    {
        TTestEnv env;
        Write(env.File("blocker"), "a file where a folder should be");
        TtasksSettings settings(env.File("blocker/BEXO/config.ini"));
        settings.WriteInteger("window_left", 5);
        QCOMPARE(settings.ReadInteger("window_left", 0), 5);
        QCOMPARE(night_hours_to, 7);
    }

    void writesLeaveNoTemporaryFiles()
    {
        TTestEnv env;
        TtasksSettings* settings = GetTasksSettings();
        for (int i = 0; i < 20; ++i)
            settings->WriteInteger("window_left", i);
        QCOMPARE(QDir(env.File("BEXO")).entryList(QDir::Files), QStringList{"config.ini"});
    }

    void saveAndLoadStoresChangedVariables()
    {
        TTestEnv env;
        TtasksSettings* settings = GetTasksSettings();
        theme = QStringLiteral("Blue Sky");
        time_granularity = 15;
        settings->SaveAndLoad();
        QVERIFY(Read(env.File("BEXO/config.ini")).contains("theme=Blue Sky\n"));
        QCOMPARE(time_granularity, 15);
    }

    void outOfRangeValuesGiveDefaultsWhereUsed_data()
    {
        QTest::addColumn<int>("granularity");
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QList<int>>("used");
        QTest::newRow("in range") << 15 << 0 << 23 << 4 << QList<int>{15, 0, 23, 4};
        QTest::newRow("zero granularity") << 0 << 22 << 7 << 0 << QList<int>{10, 22, 7, 0};
        QTest::newRow("negative") << -5 << -1 << -1 << -1 << QList<int>{10, 22, 7, 0};
        QTest::newRow("too large") << 1441 << 24 << 99 << 5 << QList<int>{10, 22, 7, 0};
        QTest::newRow("limits") << 1440 << 23 << 0 << 0 << QList<int>{1440, 23, 0, 0};
    }

    void outOfRangeValuesGiveDefaultsWhereUsed()
    {
        QFETCH(int, granularity);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, choice);
        QFETCH(QList<int>, used);
        TTestEnv env;
        time_granularity = granularity;
        night_hours_from = from;
        night_hours_to = to;
        default_duedatetime = choice;
        QCOMPARE(
            (QList<int>{TimeGranularity(), NightHoursFrom(), NightHoursTo(), DefaultDueDateTime()}),
            used);
    }

    void theProgramLogsBesideTheConfigFile()
    {
        TTestEnv env;
        StartTasksLog();
        QVERIFY(GetTasksLog());
        QCOMPARE(GetTasksLog()->Level, 4);
        QDir().mkpath(env.File("BEXO"));
        GetTasksLog()->LogException(EDatabaseError(QStringLiteral("disk full")));
        QVERIFY(QFile::exists(env.File("BEXO/ulmora.log")));
        SetTasksLog(nullptr);
    }

    void iniIntegers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("decimal") << "42" << true << 42;
        QTest::newRow("negative") << "-42" << true << -42;
        QTest::newRow("hex") << "0x1E" << true << 30;
        QTest::newRow("hex all bits") << "0xFFFFFFFF" << true << -1;
        QTest::newRow("hex too long") << "0x100000000" << false << 0;
        QTest::newRow("hex with sign") << "0x-1" << false << 0;
        QTest::newRow("two characters") << "0x" << false << 0;
        QTest::newRow("trailing text") << "12abc" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
    }

    void iniIntegers()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        int32_t parsed = 0;
        QCOMPARE(ParseIniInteger(text, parsed), ok);
        if (ok)
            QCOMPARE(parsed, value);
    }
};

const QByteArray TestSettings::kFirstRun = "[main]\n"
                                           "db_file=%APPDATA%\\BEXO\\tasks.db\n"
                                           "night_hours_from=22\n"
                                           "night_hours_to=7\n"
                                           "theme=Turquoise Gray\n"
                                           "default_duedatetime=0\n"
                                           "time_granularity=10\n"
                                           "close_minimizes=1\n";

QTEST_MAIN(TestSettings)
#include "test_settings.moc"
