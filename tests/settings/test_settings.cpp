#include "../common/test_env.h"

#include "settings/kvd_ini.h"
#include "settings/kvd_settings.h"
#include "settings/tasks_settings.h"
#include "util/tasks_log.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QtTest>
#include <csignal>
#include <optional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int ModeOf(const QString& aPath)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(aPath).constData(), &info) != 0)
        return -1;
    return static_cast<int>(info.st_mode & 07777);
}

bool SetMode(const QString& aPath, int aMode)
{
    return ::chmod(QFile::encodeName(aPath).constData(), static_cast<mode_t>(aMode)) == 0;
}

// The process's umask for one test, so that the modes do not depend on the
// account that runs it.
class TUmask
{
public:
    explicit TUmask(int aMask) : FOld(::umask(static_cast<mode_t>(aMask))) {}
    ~TUmask() { ::umask(FOld); }

private:
    mode_t FOld;
};

// While this lives no file may grow beyond aBytes: the next write of a file
// fails for real (EFBIG), without root and without a small disk.
class TFileSizeLimit
{
public:
    explicit TFileSizeLimit(rlim_t aBytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &FOld);
        // The signal would end the process; the write is to fail instead.
        FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = FOld;
        limit.rlim_cur = aBytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &FOld);
        std::signal(SIGXFSZ, FOldHandler);
    }

private:
    rlimit FOld = {};
    void (*FOldHandler)(int) = nullptr;
};

// A 600 KiB tmpfs mounted on a folder for one test. Mounting needs root (or
// CAP_SYS_ADMIN); where it is not allowed, Mounted() is false.
class TSmallDisk
{
public:
    explicit TSmallDisk(const QString& aPath) : FPath(aPath)
    {
        QDir().mkpath(aPath);
        FMounted = ::mount("tmpfs", QFile::encodeName(aPath).constData(), "tmpfs", 0,
                           "size=600k,mode=0700") == 0;
    }
    ~TSmallDisk()
    {
        if (FMounted)
            ::umount2(QFile::encodeName(FPath).constData(), MNT_DETACH);
    }
    bool Mounted() const { return FMounted; }

    // Writes a file until the disk refuses to take a byte more.
    bool Fill()
    {
        QFile filler(FPath + "/filler");
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            return false;
        const QByteArray block(4096, 'f');
        while (filler.write(block) > 0) {
        }
        while (filler.write("f", 1) > 0) {
        }
        return true;
    }
    bool Free() { return QFile::remove(FPath + "/filler"); }
    bool MakeReadOnly()
    {
        return ::mount(nullptr, QFile::encodeName(FPath).constData(), nullptr,
                       MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QString FPath;
    bool FMounted = false;
};

// Runs the rest of a scope as the user "nobody" when the test runs as root,
// whom no file mode stops; aFolder and everything in it are given to that user
// first. Without root the test is unprivileged already.
class TUnprivileged
{
public:
    explicit TUnprivileged(const QString& aFolder)
    {
        if (::geteuid() != 0)
            return;
        Give(aFolder);
        QDirIterator it(aFolder, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            Give(it.next());
        // The saved user id stays root, so the destructor can switch back.
        FSwitched = ::setresgid(kNobody, kNobody, 0) == 0 && ::setresuid(kNobody, kNobody, 0) == 0;
        Q_ASSERT(FSwitched);
    }
    ~TUnprivileged()
    {
        if (FSwitched) {
            [[maybe_unused]] const int user = ::setresuid(0, 0, 0);
            [[maybe_unused]] const int group = ::setresgid(0, 0, 0);
        }
    }

private:
    static constexpr uid_t kNobody = 65534;
    static void Give(const QString& aPath)
    {
        [[maybe_unused]] const int result =
            ::lchown(QFile::encodeName(aPath).constData(), kNobody, kNobody);
    }
    bool FSwitched = false;
};

// A settings file with the seven keys at their defaults, each line given by
// its key; aChanged replaces the lines of the keys it names ("" drops a key).
QByteArray SevenKeys(const QByteArray& aBreak, const QMap<QByteArray, QByteArray>& aChanged = {})
{
    const QList<QPair<QByteArray, QByteArray>> defaults = {
        {"db_file", "db_file=%APPDATA%\\BEXO\\tasks.db"},
        {"night_hours_from", "night_hours_from=22"},
        {"night_hours_to", "night_hours_to=7"},
        {"theme", "theme=Turquoise Gray"},
        {"default_duedatetime", "default_duedatetime=0"},
        {"time_granularity", "time_granularity=10"},
        {"close_minimizes", "close_minimizes=1"},
    };
    QByteArray text;
    for (const auto& [key, line] : defaults) {
        const QByteArray chosen = aChanged.value(key, line);
        if (!chosen.isEmpty())
            text += chosen + aBreak;
    }
    return text;
}

// Ways a settings file or its folder can refuse a write.
enum class TBroken
{
    None,
    ReadOnlyFile,
    UnreadableFile,
    TooLarge,
    FolderInPlace,
    NoFolder,
    ReadOnlyFolder,
};

} // namespace

Q_DECLARE_METATYPE(TBroken)

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

    // Puts a log in the slot that collects its lines in aLines.
    static void CollectLog(const QString& aFile, QStringList& aLines)
    {
        auto log = std::make_unique<TtasksLog>();
        log->FileName = aFile;
        log->OnLog = [&aLines](TtasksLog&, const QString& aLine) { aLines << aLine; };
        SetTasksLog(std::move(log));
    }

private Q_SLOTS:
    void cleanup() { SetTasksLog(nullptr); }

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
        const TUmask mask(022);
        qputenv("APPDATA", env.File("fresh/.config").toUtf8());
        ResetEnvTableForTesting();
        GetTasksSettings();
        QCOMPARE(Read(env.File("fresh/.config/BEXO/config.ini")), kFirstRun);
        // Every folder the program makes is the user's alone.
        for (const char* folder : {"fresh", "fresh/.config", "fresh/.config/BEXO"})
            QCOMPARE(ModeOf(env.File(folder)), 0700);
        QCOMPARE(ModeOf(env.File("fresh/.config/BEXO/config.ini")), 0600);
    }

    // Files and folders the program creates are the user's alone; those that
    // exist keep their modes, also when a write replaces the file.
    void privateFilesAndFolders_data()
    {
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("folderBefore"); // -1: missing
        QTest::addColumn<int>("fileBefore");   // -1: missing
        QTest::addColumn<int>("folderAfter");
        QTest::addColumn<int>("fileAfter");
        QTest::newRow("new folder and file") << 022 << -1 << -1 << 0700 << 0600;
        QTest::newRow("new, no umask") << 0 << -1 << -1 << 0700 << 0600;
        QTest::newRow("folder 0755 stays") << 022 << 0755 << -1 << 0755 << 0600;
        QTest::newRow("file 0644 stays") << 022 << 0755 << 0644 << 0755 << 0644;
        QTest::newRow("file 0640 stays") << 022 << 0700 << 0640 << 0700 << 0640;
        QTest::newRow("file 0666 stays") << 0 << 0777 << 0666 << 0777 << 0666;
    }

    void privateFilesAndFolders()
    {
        QFETCH(int, mask);
        QFETCH(int, folderBefore);
        QFETCH(int, fileBefore);
        QFETCH(int, folderAfter);
        QFETCH(int, fileAfter);
        TTestEnv env;
        const TUmask umask(mask);
        const QString folder = env.File("BEXO");
        const QString file = env.File("BEXO/config.ini");
        if (folderBefore >= 0)
            QVERIFY(QDir().mkdir(folder) && SetMode(folder, folderBefore));
        if (fileBefore >= 0) {
            // Keys are missing, so the load replaces the file.
            Write(file, "[main]\ntheme=Dark\n");
            QVERIFY(SetMode(file, fileBefore));
        }
        GetTasksSettings();
        QVERIFY(Read(file).endsWith("close_minimizes=1\n"));
        QCOMPARE(ModeOf(folder), folderAfter);
        QCOMPARE(ModeOf(file), fileAfter);
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
        // A line that reads as the value written back is kept as it is.
        QTest::newRow("blanks around are kept")
            << QByteArray("  theme =  Blue Sky  ") << QByteArray("  theme =  Blue Sky  ");
        QTest::newRow("key case is kept") << QByteArray("THEME=Dark") << QByteArray("THEME=Dark");
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
        QCOMPARE((QList<int>{TimeGranularity(), NightHoursFrom(), NightHoursTo(),
                             static_cast<int>(DefaultDueDateTime())}),
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

    // Lines the program does not change go back byte for byte, whatever their
    // encoding; a key's line that reads as the value written stays as well.
    void untouchedLinesStayByteForByte_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QByteArray>("expected");
        const auto row = [](const char* aName, const QByteArray& aContent,
                            const QByteArray& aExpected = QByteArray()) {
            QTest::newRow(aName) << aContent << (aExpected.isNull() ? aContent : aExpected);
        };
        row("invalid UTF-8 in a value",
            "[main]\n" + SevenKeys("\n", {{"db_file", "db_file=C:\\Users\\J\xf6rg\\tasks.db"}}));
        row("latin-1 text", "; Einstellungen f\xfcr J\xf6rg\r\n[main]\r\n" +
                                SevenKeys("\r\n", {{"theme", "theme=Gr\xfcn"}}));
        row("invalid UTF-8 in a key", "[main]\n" + SevenKeys("\n") + "wind\xffw_left=3\n");
        row("invalid UTF-8 in a comment", "; \xff\xfe\xfd\n[main]\n" + SevenKeys("\n"));
        row("invalid UTF-8 in a section header", "[\xc3\x28]\nx=\xff\n[main]\n" + SevenKeys("\n"));
        row("NUL bytes", QByteArray("\0;\0\n", 4) + "[main]\n" +
                             SevenKeys("\n", {{"theme", QByteArray("theme=Dark\0Night", 16)}}));
        row("CR-only line ends", "[main]\r" + SevenKeys("\r"));
        row("CR-only line ends, a key added",
            "[main]\r" + SevenKeys("\r", {{"close_minimizes", ""}}), "[main]\r" + SevenKeys("\r"));
        row("a value written back",
            "; caf\xe9\r\n[main]\r\n" +
                SevenKeys("\r\n", {{"time_granularity", "time_granularity=abc"}}) + "x=\xff\r\n",
            "; caf\xe9\r\n[main]\r\n" + SevenKeys("\r\n") + "x=\xff\r\n");
        row("byte order mark", "\xEF\xBB\xBF[main]\n" + SevenKeys("\n"));
        row("no break after the last line", "[main]\n" + SevenKeys("\n").chopped(1));
    }

    void untouchedLinesStayByteForByte()
    {
        QFETCH(QByteArray, content);
        QFETCH(QByteArray, expected);
        TTestEnv env;
        const QString file = env.File("BEXO/config.ini");
        Write(file, content);
        GetTasksSettings()->Save();
        QCOMPARE(Read(file), expected);
    }

    // A write that fails, here because the file may not grow (EFBIG), leaves
    // the file byte for byte and no temporary file, and keeps the values in
    // memory; the next write that succeeds stores them.
    void aFailedWriteKeepsTheFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("keys added by the load")
            << QByteArray("; mine\n[main]\ndb_file=/data/my tasks.db\ntheme=Dark\n");
        QTest::newRow("a key written later")
            << "; mine\n[main]\n" + SevenKeys("\n", {{"db_file", "db_file=/data/my tasks.db"}});
    }

    void aFailedWriteKeepsTheFile()
    {
        QFETCH(QByteArray, content);
        TTestEnv env;
        const QString file = env.File("BEXO/config.ini");
        Write(file, content);
        {
            const TFileSizeLimit limit(8);
            GetTasksSettings()->WriteInteger("window_left", 40);
        }
        TtasksSettings* settings = GetTasksSettings();
        QCOMPARE(Read(file), content);
        QCOMPARE(QDir(env.File("BEXO")).entryList(QDir::Files), QStringList{"config.ini"});
        QVERIFY2(settings->WriteProblem().startsWith("the settings file cannot be written"),
                 qPrintable(settings->WriteProblem()));
        QCOMPARE(db_file, QStringLiteral("/data/my tasks.db"));
        QCOMPARE(settings->ReadInteger("window_left", 0), 40);
        QCOMPARE(settings->ReadInteger("night_hours_from", 0), 22);

        settings->Flush();
        QCOMPARE(settings->WriteProblem(), QString());
        const QByteArray after = Read(file);
        QVERIFY2(after.startsWith(content), after.constData());
        QVERIFY(after.contains("\nwindow_left=40\n"));
        QVERIFY(after.contains("\nclose_minimizes=1\n"));
    }

    // A spell of failed writes is logged once, however many keys fail; after a
    // write that succeeded, the next failure is logged again.
    void writeFailuresAreLoggedOnce()
    {
        TTestEnv env;
        QStringList lines;
        CollectLog(env.File("ulmora.log"), lines);
        {
            const TFileSizeLimit limit(8);
            // The first start: the load fails on every key.
            GetTasksSettings()->WriteInteger("window_left", 1);
            GetTasksSettings()->Flush();
        }
        QCOMPARE(lines.size(), 1);
        const QString expected =
            QStringLiteral("(X) EIniFileError: Settings not saved in \"%1\": the settings file "
                           "cannot be written")
                .arg(env.File("BEXO/config.ini"));
        QVERIFY2(lines[0].contains(expected), qPrintable(lines[0]));
        GetTasksSettings()->WriteInteger("window_left", 2);
        QCOMPARE(GetTasksSettings()->WriteProblem(), QString());
        QCOMPARE(lines.size(), 1);
        {
            const TFileSizeLimit limit(8);
            GetTasksSettings()->WriteInteger("window_left", 3);
            GetTasksSettings()->WriteInteger("window_left", 4);
        }
        QCOMPARE(lines.size(), 2);
    }

    // A real full disk: the settings folder is a 600 KiB tmpfs, filled up.
    void aFullDiskKeepsTheFile()
    {
        TTestEnv env;
        TSmallDisk disk(env.File("BEXO"));
        if (!disk.Mounted())
            QSKIP("mounting a tmpfs is not allowed here (needs root)");
        const QString file = env.File("BEXO/config.ini");
        const QByteArray before = "[main]\ndb_file=/data/my tasks.db\ntheme=Dark\n";
        Write(file, before);
        QStringList lines;
        CollectLog(env.File("ulmora.log"), lines);
        QVERIFY(disk.Fill());

        // The start-up's load fails to add the missing keys.
        TtasksSettings* settings = GetTasksSettings();
        QCOMPARE(Read(file), before);
        QCOMPARE(settings->WriteProblem(), QStringLiteral("the disk is full"));
        settings->WriteInteger("window_left", 7);
        QCOMPARE(Read(file), before);
        QCOMPARE(QDir(env.File("BEXO")).entryList(QDir::Files),
                 (QStringList{"config.ini", "filler"}));
        QCOMPARE(db_file, QStringLiteral("/data/my tasks.db"));
        QCOMPARE(theme, QStringLiteral("Dark"));
        QCOMPARE(lines.size(), 1);

        // With room again, the next write stores all that was kept in memory.
        QVERIFY(disk.Free());
        settings->WriteInteger("window_left", 8);
        QCOMPARE(settings->WriteProblem(), QString());
        const QByteArray stored = Read(file);
        QVERIFY(stored.startsWith(before));
        QVERIFY(stored.contains("\nwindow_left=8\n"));
        QVERIFY(stored.contains("\nclose_minimizes=1\n"));

        // Full again: logged again, and the end of the program flushes in vain.
        QVERIFY(disk.Fill());
        settings->WriteInteger("window_left", 9);
        QCOMPARE(lines.size(), 2);
        ReleaseTasksSettings();
        QCOMPARE(Read(file), stored);

        // A start on the full disk writes nothing (the file is complete) and
        // still tells that it could not.
        QCOMPARE(GetTasksSettings()->WriteProblem(), QStringLiteral("the disk is full"));
        ReleaseTasksSettings();
        QVERIFY(disk.Free());
        QVERIFY(disk.MakeReadOnly());
        QCOMPARE(GetTasksSettings()->WriteProblem(), QStringLiteral("the disk is read-only"));
        GetTasksSettings()->WriteInteger("window_left", 10);
        QCOMPARE(GetTasksSettings()->WriteProblem(), QStringLiteral("the disk is read-only"));
        ReleaseTasksSettings();
        QCOMPARE(Read(file), stored);
    }

    // WriteProblem names the cause before any write (from what the file system
    // shows) and after one; nothing of the file changes, its mode included.
    void writeProblemNamesTheCause_data()
    {
        QTest::addColumn<TBroken>("broken");
        QTest::addColumn<bool>("unprivileged");
        QTest::addColumn<QString>("problem");
        QTest::newRow("fine") << TBroken::None << false << QString();
        QTest::newRow("fine, unprivileged") << TBroken::None << true << QString();
        QTest::newRow("read-only file")
            << TBroken::ReadOnlyFile << false << "the settings file is read-only";
        QTest::newRow("read-only file, unprivileged")
            << TBroken::ReadOnlyFile << true << "the settings file is read-only";
        QTest::newRow("unreadable file")
            << TBroken::UnreadableFile << true << "the settings file cannot be read";
        QTest::newRow("too large")
            << TBroken::TooLarge << false << "the settings file is too large to be written";
        QTest::newRow("a folder in its place")
            << TBroken::FolderInPlace << false << "the settings file cannot be read";
        QTest::newRow("no folder")
            << TBroken::NoFolder << false << "the settings folder does not exist";
        QTest::newRow("read-only folder") << TBroken::ReadOnlyFolder << true << "permission denied";
    }

    void writeProblemNamesTheCause()
    {
        QFETCH(TBroken, broken);
        QFETCH(bool, unprivileged);
        QFETCH(QString, problem);
        TTestEnv env;
        const QString folder = env.File("BEXO");
        const QString file = env.File("BEXO/config.ini");
        const QByteArray content = "[main]\n" + SevenKeys("\n");
        Write(file, content);
        QFile large(file);
        switch (broken) {
        case TBroken::None:
            break;
        case TBroken::ReadOnlyFile:
            QVERIFY(SetMode(file, 0444));
            break;
        case TBroken::UnreadableFile:
            QVERIFY(SetMode(file, 0200));
            break;
        case TBroken::TooLarge:
            QVERIFY(large.open(QIODevice::ReadWrite) && large.resize(65 << 20));
            large.close();
            break;
        case TBroken::FolderInPlace:
            QVERIFY(QFile::remove(file) && QDir().mkdir(file));
            break;
        case TBroken::NoFolder:
            QVERIFY(QDir(folder).removeRecursively());
            Write(folder, "a file in place of the folder");
            break;
        case TBroken::ReadOnlyFolder:
            QVERIFY(SetMode(folder, 0555));
            break;
        }
        const int mode = ModeOf(file);
        const qint64 size = QFileInfo(file).size();
        QString before;
        QString after;
        int kept = 0;
        {
            std::optional<TUnprivileged> user;
            if (unprivileged)
                user.emplace(env.Path());
            TtasksSettings settings(file);
            before = settings.WriteProblem();
            settings.WriteInteger("window_left", 5);
            after = settings.WriteProblem();
            kept = settings.ReadInteger("window_left", 0);
        }
        const int modeAfter = ModeOf(file);
        // The test reads the file back and removes it, also where the program
        // could not.
        if (broken == TBroken::UnreadableFile)
            SetMode(file, 0600);
        if (broken == TBroken::ReadOnlyFolder)
            SetMode(folder, 0700);
        QCOMPARE(before, problem);
        QCOMPARE(after, problem);
        QCOMPARE(kept, 5);
        QCOMPARE(modeAfter, mode);
        if (problem.isEmpty())
            QCOMPARE(Read(file), content + "window_left=5\n");
        else if (broken == TBroken::TooLarge)
            QCOMPARE(QFileInfo(file).size(), size);
        else if (QFileInfo(file).isFile())
            QCOMPARE(Read(file), content);
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

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
