// The core utilities: identifiers, rounding, colours, versions, placeholders,
// paths, the clock and the elevated start. Qt Core alone, as they are.

#include "util/kvd_colors.h"
#include "util/kvd_datetime.h"
#include "util/kvd_utils.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <limits>
#include <optional>

// A day count made while the program's static objects are initialised, in a
// file whose initialisers may run before those of the date arithmetic.
const double kCountedAtStart = EncodeDateTime(2000, 1, 1);

class TestUtil : public QObject
{
    Q_OBJECT

private:
    static TDateTime At(int aHour, int aMinute, int aSecond, int aMSec = 0)
    {
        return EncodeDateTime(2012, 5, 8, aHour, aMinute, aSecond, aMSec);
    }

private Q_SLOTS:
    void generateIdUsesFiftyLetters()
    {
        QSet<QChar> seen;
        for (int i = 0; i < 2000; ++i) {
            const QString id = GenerateId();
            QCOMPARE(id.size(), 16);
            for (QChar c : id) {
                QVERIFY2((c >= 'A' && c <= 'Y') || (c >= 'a' && c <= 'y'), qPrintable(id));
                seen.insert(c);
            }
        }
        // 32,000 draws from 50 symbols leave none of them out.
        QCOMPARE(seen.size(), 50);
        QVERIFY(GenerateId() != GenerateId());
        QVERIFY(IsGeneratedId(GenerateId()));
    }

    void isGeneratedId_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("generated");
        QTest::newRow("letters A to Y and a to y") << "AbcdefghijKLMNOy" << true;
        QTest::newRow("a Z, which GenerateId never draws") << "AbcdefghijKLMNOZ" << false;
        QTest::newRow("15 letters") << "AbcdefghijKLMNO" << false;
        QTest::newRow("17 letters") << "AbcdefghijKLMNOPQ" << false;
        QTest::newRow("a digit") << "Abcdefghij1LMNOP" << false;
        QTest::newRow("a UID of another program") << "phone-1@example.org" << false;
        QTest::newRow("a letter beyond ASCII") << QStringLiteral("Abcdefghij\u00C4LMNOP") << false;
    }
    void isGeneratedId()
    {
        QFETCH(QString, text);
        QFETCH(bool, generated);
        QCOMPARE(IsGeneratedId(text), generated);
    }

    void roundDateTime_data()
    {
        QTest::addColumn<int>("unit");
        QTest::addColumn<int>("step");
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("expected");
        QTest::newRow("10:04:30 to 10:00") << 1 << 10 << At(10, 4, 30) << At(10, 0, 0);
        QTest::newRow("10:04:59 seconds cut first") << 1 << 10 << At(10, 4, 59) << At(10, 0, 0);
        QTest::newRow("10:05:30 to 10:10") << 1 << 10 << At(10, 5, 30) << At(10, 10, 0);
        QTest::newRow("15:03 down") << 1 << 10 << At(15, 3, 27) << At(15, 0, 0);
        QTest::newRow("15:06 up") << 1 << 10 << At(15, 6, 0) << At(15, 10, 0);
        QTest::newRow("21:59 up to 22:00") << 1 << 10 << At(21, 59, 0) << At(22, 0, 0);
        QTest::newRow("21:50 stays") << 1 << 10 << At(21, 50, 0) << At(21, 50, 0);
        QTest::newRow("step 15, 7 min down") << 1 << 15 << At(10, 7, 30) << At(10, 0, 0);
        QTest::newRow("step 15, 8 min up") << 1 << 15 << At(10, 8, 30) << At(10, 15, 0);
        QTest::newRow("step 1 truncates") << 1 << 1 << At(10, 4, 30) << At(10, 4, 0);
        QTest::newRow("step 60, 14:29:59") << 1 << 60 << At(14, 29, 59) << At(14, 0, 0);
        QTest::newRow("step 60, 14:30:00") << 1 << 60 << At(14, 30, 0) << At(15, 0, 0);
        QTest::newRow("step 60, 15:29:59") << 1 << 60 << At(15, 29, 59) << At(15, 0, 0);
        QTest::newRow("step 60, 15:30:00") << 1 << 60 << At(15, 30, 0) << At(16, 0, 0);
        QTest::newRow("23:55 rolls to next day")
            << 1 << 10 << At(23, 55, 0) << EncodeDateTime(2012, 5, 9);
        QTest::newRow("seconds, step 30") << 0 << 30 << At(10, 0, 44, 900) << At(10, 0, 30);
        QTest::newRow("seconds, step 30 up") << 0 << 30 << At(10, 0, 45) << At(10, 1, 0);
        QTest::newRow("hours, step 1") << 2 << 1 << At(10, 59, 59) << At(10, 0, 0);
        QTest::newRow("hours, step 12") << 2 << 12 << At(18, 0, 0) << EncodeDateTime(2012, 5, 9);
        QTest::newRow("days, step 1") << 3 << 1 << At(23, 0, 0) << EncodeDateTime(2012, 5, 8);
        QTest::newRow("unknown unit leaves value") << 7 << 10 << At(10, 4, 30) << At(10, 4, 30);
        QTest::newRow("step 0 does not divide by zero") << 1 << 0 << At(10, 4, 30) << At(10, 4, 0);
    }

    void roundDateTime()
    {
        QFETCH(int, unit);
        QFETCH(int, step);
        QFETCH(double, value);
        QFETCH(double, expected);
        const double result = RoundDateTime(unit, step, value);
        QCOMPARE(DateTimeToSqlText(result), DateTimeToSqlText(expected));
        QVERIFY(qAbs(result - expected) < 1e-9);
    }

    void roundDateTimeHoldsExactMinutes()
    {
        // An exact minute a hair below itself in floating point stays that minute;
        // a millisecond below it is the minute before.
        const double below = std::nextafter(At(10, 5, 0), 0.0);
        QCOMPARE(DateTimeToSqlText(RoundDateTime(1, 1, below)),
                 QStringLiteral("2012-05-08 10:05:00"));
        QCOMPARE(DateTimeToSqlText(RoundDateTime(1, 1, At(10, 4, 59, 999))),
                 QStringLiteral("2012-05-08 10:04:00"));
        // Every minute of a day, reached by adding hours to a day count.
        const double day = EncodeDateTime(2012, 5, 8);
        for (int minute = 0; minute < 1440; ++minute) {
            const double value = day + minute / 1440.0;
            const int due = minute + 60;
            const double expected = day + ((due + 30) / 60) * 60 / 1440.0;
            QCOMPARE(DateTimeToSqlText(RoundDateTime(1, 60, value + 1.0 / 24)),
                     DateTimeToSqlText(expected));
        }
    }

    void lightenColor_data()
    {
        QTest::addColumn<uint>("color");
        QTest::addColumn<int>("delta");
        QTest::addColumn<uint>("expected");
        QTest::newRow("red 32 + 240 clamps") << 0x000020u << 240 << 0xF0F0FFu;
        QTest::newRow("-300 clears every byte") << 0x7F80FFu << -300 << 0x000000u;
        QTest::newRow("bytes keep their places") << 0x102030u << 16 << 0x203040u;
        QTest::newRow("top byte dropped") << 0xFF00000Fu << 0 << 0x00000Fu;
        QTest::newRow("exactly 255") << 0x0000F0u << 15 << 0x0F0FFFu;
        QTest::newRow("exactly 0") << 0x000010u << -16 << 0x000000u;
        QTest::newRow("band line") << 0x00C0FFu << 100 << 0x64FFFFu;
    }

    void lightenColor()
    {
        QFETCH(uint, color);
        QFETCH(int, delta);
        QFETCH(uint, expected);
        QCOMPARE(LightenColor(color, delta), expected);
    }

    void importTagColor()
    {
        // The editor's colours in order, white and cream passed over, and round.
        QCOMPARE(ImportTagColor(0), 0x000000);
        QCOMPARE(ImportTagColor(1), 0x000080);
        QCOMPARE(ImportTagColor(14), 0xFFFF00);
        QCOMPARE(ImportTagColor(15), 0xC0DCC0);
        QCOMPARE(ImportTagColor(17), 0xA4A0A0);
        QCOMPARE(ImportTagColor(18), 0x000000);
    }

    void parseVersion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("expected");
        QTest::newRow("four parts") << "1.2.0.15" << QList<int>{1, 2, 0, 15};
        QTest::newRow("two parts") << "1.2" << QList<int>{1, 2, 0, 0};
        QTest::newRow("non-numeric part") << "1.x.3.4" << QList<int>{1, 0, 3, 4};
        QTest::newRow("empty") << "" << QList<int>{0, 0, 0, 0};
        QTest::newRow("fifth part ignored") << "1.2.3.4.5" << QList<int>{1, 2, 3, 4};
        QTest::newRow("empty part") << "1..3.4" << QList<int>{1, 0, 3, 4};
        QTest::newRow("blank splits too") << "1 2.3" << QList<int>{1, 2, 3, 0};
        QTest::newRow("garbage") << "abc" << QList<int>{0, 0, 0, 0};
    }

    void parseVersion()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, expected);
        int parts[4] = {-1, -1, -1, -1};
        ParseVersion(text, parts[0], parts[1], parts[2], parts[3]);
        QCOMPARE((QList<int>{parts[0], parts[1], parts[2], parts[3]}), expected);
    }

    void isNewerVersion_data()
    {
        QTest::addColumn<QString>("current");
        QTest::addColumn<QString>("offered");
        QTest::addColumn<bool>("newer");
        QTest::newRow("numbers, not text") << "1.0.0.9"
                                           << "1.0.0.10" << true;
        QTest::newRow("equal") << "1.2.3.4"
                               << "1.2.3.4" << false;
        QTest::newRow("older") << "1.2.3.4"
                               << "1.2.3.3" << false;
        QTest::newRow("major wins over build") << "1.9.9.9"
                                               << "2.0.0.0" << true;
        QTest::newRow("minor before release") << "1.2.9.0"
                                              << "1.3.0.0" << true;
        QTest::newRow("lower major, higher rest") << "2.0.0.0"
                                                  << "1.9.9.9" << false;
        QTest::newRow("empty offered") << "1.0.0.0"
                                       << "" << false;
        QTest::newRow("empty current") << ""
                                       << "9.9.9.9" << false;
        QTest::newRow("short forms") << "1.2"
                                     << "1.2.0.1" << true;
    }

    void isNewerVersion()
    {
        QFETCH(QString, current);
        QFETCH(QString, offered);
        QFETCH(bool, newer);
        QCOMPARE(IsNewerVersion(current, offered), newer);
    }

    void appVersionHasFourParts()
    {
        QVERIFY(
            QRegularExpression("^\\d+\\.\\d+\\.\\d+\\.\\d+$").match(GetAppVersion()).hasMatch());
        QCOMPARE(GetFileVersion(QCoreApplication::applicationFilePath()), GetAppVersion());
        QCOMPARE(GetFileVersion(QStringLiteral("/bin/sh")), QString());
    }

    void expandEnvVars_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("twice") << "%APPDATA%\\BEXO\\%APPDATA%"
                               << "/data\\BEXO\\/data";
        QTest::newRow("case-sensitive") << "%AppData%\\x"
                                        << "%AppData%\\x";
        QTest::newRow("unknown placeholder") << "%NOSUCH%\\x"
                                             << "%NOSUCH%\\x";
        QTest::newRow("unset variable stays") << "%WINDIR%\\x"
                                              << "%WINDIR%\\x";
        QTest::newRow("value with a later placeholder") << "%HOMEDRIVE%"
                                                        << "/tmp-test\\z";
        QTest::newRow("plain text") << "no placeholders"
                                    << "no placeholders";
    }

    void expandEnvVars()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        qputenv("APPDATA", "/data");
        qputenv("HOMEDRIVE", "%TEMP%\\z");
        qputenv("TEMP", "/tmp-test");
        qunsetenv("WINDIR");
        ResetEnvTableForTesting();
        QCOMPARE(ExpandEnvVars(text), expected);
        qunsetenv("HOMEDRIVE");
        ResetEnvTableForTesting();
    }

    void expandEnvVarsReadsTheEnvironmentOnce()
    {
        qputenv("APPDATA", "/first");
        ResetEnvTableForTesting();
        QCOMPARE(ExpandEnvVars("%APPDATA%"), QStringLiteral("/first"));
        qputenv("APPDATA", "/second");
        QCOMPARE(ExpandEnvVars("%APPDATA%"), QStringLiteral("/first"));
    }

    void posixStandInsForUnsetVariables()
    {
        qunsetenv("APPDATA");
        qputenv("XDG_CONFIG_HOME", "/xdg");
        qunsetenv("TEMP");
        qunsetenv("TMPDIR");
        qputenv("HOME", "/home/u");
        qunsetenv("USERPROFILE");
        QCOMPARE(GetEnvVar("APPDATA"), QStringLiteral("/xdg"));
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(GetEnvVar("APPDATA"), QStringLiteral("/home/u/.config"));
        QCOMPARE(GetEnvVar("TEMP"), QStringLiteral("/tmp"));
        QCOMPARE(GetEnvVar("USERPROFILE"), QStringLiteral("/home/u"));
        QCOMPARE(GetEnvVar("HOMEDRIVE"), QString());
        QCOMPARE(GetEnvVar("COMSPEC"), QString());
    }

    void paths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("beside");
        QTest::newRow("windows program") << "C:\\x\\prog.exe"
                                         << "updater.exe"
                                         << "C:\\x\\updater.exe";
        QTest::newRow("linux program") << "/opt/ulmora/ulmora"
                                       << "updater"
                                       << "/opt/ulmora/updater";
        QTest::newRow("no folder") << "prog.exe"
                                   << "updater.exe"
                                   << "updater.exe";
        QTest::newRow("root folder") << "C:\\prog.exe"
                                     << "u.exe"
                                     << "C:\\u.exe";
    }

    void paths()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QFETCH(QString, beside);
        QCOMPARE(FileBeside(path, name), beside);
    }

    void withTrailingBackslash()
    {
        QCOMPARE(WithTrailingBackslash(QString()), QString());
        QCOMPARE(WithTrailingBackslash("C:\\x"), QStringLiteral("C:\\x\\"));
        QCOMPARE(WithTrailingBackslash("C:\\x\\"), QStringLiteral("C:\\x\\"));
    }

    void indexOfStringIsExact()
    {
        const QStringList items{"kvd_command_terminate", "kvd_command_update",
                                "kvd_command_getversion"};
        QCOMPARE(IndexOfString("kvd_command_update", items), 1);
        QCOMPARE(IndexOfString("KVD_COMMAND_UPDATE", items), -1);
        QCOMPARE(IndexOfString("kvd_command", items), -1);
        QCOMPARE(IndexOfString(QString(), {}), -1);
    }

    void sqlText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "2012-05-08 15:10:00"
                               << "2012-05-08 15:10:00";
        QTest::newRow("date alone") << "2012-05-08"
                                    << "2012-05-08 00:00:00";
        QTest::newRow("T separator") << "2012-05-08T15:10:07"
                                     << "2012-05-08 15:10:07";
        QTest::newRow("fraction cut") << "2012-05-08 15:10:07.999"
                                      << "2012-05-08 15:10:07";
        QTest::newRow("no seconds") << "2012-05-08 15:10"
                                    << "2012-05-08 15:10:00";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("garbage") << "yesterday"
                                 << "";
        QTest::newRow("month 13") << "2012-13-08 15:10:00"
                                  << "";
        QTest::newRow("hour 25") << "2012-05-08 25:10:00"
                                 << "";
        QTest::newRow("trailing junk") << "2012-05-08 15:10:00x"
                                       << "";
    }

    void sqlText()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        const TDateTime value = SqlTextToDateTime(text);
        QCOMPARE(value == 0 ? QString() : DateTimeToSqlText(value), expected);
        const QByteArray utf8 = text.toUtf8();
        QCOMPARE(SqlTextToDateTime(utf8.constData(), utf8.size()), value);
    }

    void dayCountsMatchTheEpoch()
    {
        QCOMPARE(EncodeDateTime(1899, 12, 30), 0.0);
        QCOMPARE(EncodeDateTime(1900, 1, 1, 12), 2.5);
        QCOMPARE(kCountedAtStart, 36526.0);
        QCOMPARE(QDateTimeFromDateTime(EncodeDateTime(2012, 5, 8, 15, 10, 0, 500)),
                 QDateTime(QDate(2012, 5, 8), QTime(15, 10, 0, 500)));
        // The fraction of a second is cut off, not rounded.
        QCOMPARE(DateTimeToSqlText(EncodeDateTime(2012, 5, 8, 10, 1, 0, 999)),
                 QStringLiteral("2012-05-08 10:01:00"));
    }

    // Wall-clock milliseconds and day counts, both ways, on either side of the
    // epoch, where the day count's fraction still counts forward from the day's start.
    void wallMSecs_data()
    {
        QTest::addColumn<QDateTime>("local");
        QTest::addColumn<qint64>("wall");
        QTest::addColumn<double>("days");
        const qint64 day = 86400000;
        QTest::newRow("the epoch")
            << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << qint64(0) << 0.0;
        QTest::newRow("the epoch's 06:00")
            << QDateTime(QDate(1899, 12, 30), QTime(6, 0)) << day / 4 << 0.25;
        QTest::newRow("the day before at 18:00")
            << QDateTime(QDate(1899, 12, 29), QTime(18, 0)) << -day / 4 << -1.75;
        QTest::newRow("the day before at 00:00")
            << QDateTime(QDate(1899, 12, 29), QTime(0, 0)) << -day << -1.0;
        QTest::newRow("1900-01-01 12:00")
            << QDateTime(QDate(1900, 1, 1), QTime(12, 0)) << 2 * day + day / 2 << 2.5;
        QTest::newRow("a millisecond before midnight")
            << QDateTime(QDate(2012, 5, 8), QTime(23, 59, 59, 999)) << 41037 * day + day - 1
            << 41037 + (day - 1) / 86400000.0;
    }
    void wallMSecs()
    {
        QFETCH(QDateTime, local);
        QFETCH(qint64, wall);
        QFETCH(double, days);
        QCOMPARE(WallMSecs(local), wall);
        QCOMPARE(WallMSecs(local.date(), local.time().msecsSinceStartOfDay()), wall);
        QCOMPARE(DateTimeFromWallMSecs(wall), days);
        QCOMPARE(DateTimeFromQDateTime(local), days);
        QCOMPARE(WallMSecsFromDateTime(days), std::optional<qint64>(wall));
        QCOMPARE(QDateTimeFromDateTime(days), local);
    }

    // Day counts that hold no whole millisecond round to the nearest one; a
    // time of day that rounds to 24:00 is the next day's midnight, counted
    // away from the epoch as the whole part is.
    void wallMSecsRounding_data()
    {
        QTest::addColumn<double>("days");
        QTest::addColumn<qint64>("wall");
        const qint64 day = 86400000;
        QTest::newRow("a hair below an exact minute")
            << 41037 + 930.0 / 1440 - 1e-12 << 41037 * day + 930 * 60000;
        QTest::newRow("a hair below the next day") << 1 - 1e-12 << day;
        QTest::newRow("before the epoch, a hair below a whole day") << -1 + 1e-12 << -day;
        QTest::newRow("0.6 ms rounds up") << 0.6 / day << qint64(1);
        QTest::newRow("0.4 ms rounds down") << 0.4 / day << qint64(0);
    }
    void wallMSecsRounding()
    {
        QFETCH(double, days);
        QFETCH(qint64, wall);
        QCOMPARE(WallMSecsFromDateTime(days), std::optional<qint64>(wall));
        QCOMPARE(QDateTimeFromDateTime(days), QDateTimeFromDateTime(DateTimeFromWallMSecs(wall)));
    }

    void valuesThatAreNoDate_data()
    {
        QTest::addColumn<double>("days");
        QTest::newRow("not a number") << std::nan("");
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity();
        QTest::newRow("minus infinite") << -std::numeric_limits<double>::infinity();
        QTest::newRow("beyond any millisecond count") << 1e11;
        QTest::newRow("far before") << -1e300;
    }
    void valuesThatAreNoDate()
    {
        QFETCH(double, days);
        QVERIFY(!WallMSecsFromDateTime(days));
        QVERIFY(!QDateTimeFromDateTime(days).isValid());
        QCOMPARE(DateTimeToSqlText(days), QString());
    }

    // Blank is every character of code 32 and below; nothing else is.
    void blankText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("blank");
        QTest::addColumn<QString>("trimmed");
        QTest::newRow("empty") << QString() << true << QString();
        QTest::newRow("spaces") << QStringLiteral("   ") << true << QString();
        QTest::newRow("control characters")
            << QStringLiteral("\t\r\n\x01\x1f") << true << QString();
        QTest::newRow("NUL") << QString(QChar(0)) << true << QString();
        QTest::newRow("DEL is no blank")
            << QStringLiteral("\x7f") << false << QStringLiteral("\x7f");
        QTest::newRow("no-break space is no blank")
            << QStringLiteral("\u00a0") << false << QStringLiteral("\u00a0");
        QTest::newRow("text between blanks")
            << QStringLiteral(" \t a b \r\n") << false << QStringLiteral("a b");
        QTest::newRow("nothing to take off") << QStringLiteral("a") << false << QStringLiteral("a");
    }
    void blankText()
    {
        QFETCH(QString, text);
        QFETCH(bool, blank);
        QFETCH(QString, trimmed);
        QCOMPARE(IsBlankText(text), blank);
        QCOMPARE(TrimBlanks(text), trimmed);
        QCOMPARE(TrimBlanks(QStringView(text)).toString(), trimmed);
    }

    void clockSeam()
    {
        const QDateTime fixed(QDate(2030, 1, 2), QTime(3, 4, 5));
        SetFixedNow(fixed);
        QCOMPARE(NowDateTime(), fixed);
        QCOMPARE(Now(), DateTimeFromQDateTime(fixed));
        ResetNow();
        QVERIFY(qAbs(NowDateTime().secsTo(QDateTime::currentDateTime())) < 5);
    }

    void localeTextLeavesOutMidnight()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(FormatDateTimeLocale(EncodeDateTime(2012, 5, 8, 15, 10)),
                 QStringLiteral("08.05.2012 15:10:00"));
        QCOMPARE(FormatDateTimeLocale(EncodeDateTime(2012, 5, 8)), QStringLiteral("08.05.2012"));
        QLocale::setDefault(QLocale::c());
    }

    void runElevatedStartsTheCommand()
    {
        QTemporaryDir dir;
        const QString script = dir.filePath("elevate.sh");
        const QString out = dir.filePath("args.txt");
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("#!/bin/sh\necho \"$@\" > '%1'\n").arg(out).toUtf8());
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("ULMORA_ELEVATE", script.toUtf8());
        QVERIFY(RunElevated(0, "/opt/x\\updater", "appid=kvd_bexo"));
        auto read = [&out] {
            QFile result(out);
            return result.open(QIODevice::ReadOnly) ? result.readAll().trimmed() : QByteArray();
        };
        QTRY_COMPARE(read(), QByteArray("/opt/x/updater appid=kvd_bexo"));

        qputenv("ULMORA_ELEVATE", dir.filePath("missing-command").toUtf8());
        QVERIFY(!RunElevated(0, "/opt/x/updater", QString()));
        qunsetenv("ULMORA_ELEVATE");
    }
};

QTEST_GUILESS_MAIN(TestUtil)
#include "test_util.moc"
