// What the main window says at start-up about files it cannot use fully: one
// warning when the database file or its folder is read-only for the user (the
// tasks are still listed) or when the settings file cannot be written, and the
// reason when the database cannot be opened.

#include "app/tasks_form_main.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_errors.h"

#include "../common/unprivileged.h"
#include "window_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>
#include <memory>
#include <sqlite3.h>

namespace {

QList<TkvdMessageBox::TShown> BoxesOf(TMsgKind aKind)
{
    QList<TkvdMessageBox::TShown> boxes;
    for (const TkvdMessageBox::TShown& shown : TkvdMessageBox::Shown()) {
        if (shown.Kind == aKind)
            boxes << shown;
    }
    return boxes;
}

// No warning and no error when aProblem is empty; otherwise exactly one
// warning, titled with the program's name, whose text is aText.
void VerifyOneWarning(const QString& aProblem, const QString& aText)
{
    const QList<TkvdMessageBox::TShown> warnings = BoxesOf(TMsgKind::Warning);
    QCOMPARE(BoxesOf(TMsgKind::Error).size(), 0);
    if (aProblem.isEmpty()) {
        QCOMPARE(warnings.size(), 0);
        return;
    }
    QCOMPARE(warnings.size(), 1);
    QCOMPARE(warnings[0].Title, QStringLiteral("Ulmora"));
    QCOMPARE(warnings[0].Text, aText);
}

QByteArray ReadAll(const QString& aFile)
{
    QFile file(aFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestStartupNotice : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TTestEnv> FEnv;

private Q_SLOTS:
    void init() { FEnv = StartWindowTest(); }
    void cleanup() { EndWindowTest(FEnv); }

    void readOnlyDatabaseIsSaidOnceAtStart_data()
    {
        QTest::addColumn<QFileDevice::Permissions>("fileMode");
        QTest::addColumn<QFileDevice::Permissions>("folderMode");
        QTest::addColumn<QString>("problem");
        const QFileDevice::Permissions readWrite = QFileDevice::ReadOwner |
                                                   QFileDevice::WriteOwner | QFileDevice::ReadUser |
                                                   QFileDevice::WriteUser;
        const QFileDevice::Permissions readOnly = QFileDevice::ReadOwner | QFileDevice::ReadUser;
        const QFileDevice::Permissions folder =
            readWrite | QFileDevice::ExeOwner | QFileDevice::ExeUser;
        const QFileDevice::Permissions folderReadOnly =
            readOnly | QFileDevice::ExeOwner | QFileDevice::ExeUser;
        QTest::newRow("writable") << readWrite << folder << "";
        QTest::newRow("read-only file") << readOnly << folder << "the database file is read-only";
        QTest::newRow("read-only folder")
            << readWrite << folderReadOnly << "the database folder is read-only";
    }

    void readOnlyDatabaseIsSaidOnceAtStart()
    {
        RUN_AS_ORDINARY_USER();
        QFETCH(QFileDevice::Permissions, fileMode);
        QFETCH(QFileDevice::Permissions, folderMode);
        QFETCH(QString, problem);
        AddTask(QStringLiteral("AAAAAAAAAAAAAAAA"), QStringLiteral("stored before"));
        const QString file = NativePath(GetTasksDB()->Connection().Database);
        const QString folder = FEnv->File(QStringLiteral("BEXO"));
        ReleaseTasksDB();
        QVERIFY(QFile::setPermissions(file, fileMode));
        QVERIFY(QFile::setPermissions(folder, folderMode));

        {
            TfrmTaskList window;
            VerifyOneWarning(
                problem,
                QStringLiteral("The tasks can be read from the database file \"%1\", but no change "
                               "can be saved to it.\n\nThe reason: %2.")
                    .arg(file, problem));
            const QList<TkvdMessageBox::TShown> warnings = BoxesOf(TMsgKind::Warning);
            // The program goes on and the tasks are listed.
            QVERIFY(RecordById(window, QStringLiteral("AAAAAAAAAAAAAAAA")));
            // A later load of the tags says nothing again.
            window.LoadTagTabs();
            QCOMPARE(BoxesOf(TMsgKind::Warning).size(), warnings.size());
        }
        ReleaseTasksDB();
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ExeOwner));
        QVERIFY(QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }

    // A settings file that cannot be written is said once, with its reason,
    // and keeps its bytes; the window opens with the values it could read.
    void unwritableSettingsAreSaidOnceAtStart_data()
    {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("problem");
        QTest::newRow("writable") << false << qint64(0) << "";
        QTest::newRow("read-only file") << true << qint64(0) << "the settings file is read-only";
        QTest::newRow("too large to be written")
            << false << qint64(65 * 1024 * 1024) << "the settings file is too large to be written";
    }

    void unwritableSettingsAreSaidOnceAtStart()
    {
        QFETCH(bool, readOnly);
        QFETCH(qint64, size);
        QFETCH(QString, problem);
        const QString folder = FEnv->File(QStringLiteral("BEXO"));
        QVERIFY(QDir().mkpath(folder));
        const QString config = QDir(folder).filePath(QStringLiteral("config.ini"));
        {
            QFile file(config);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("[main]\nnight_hours_from=23\n");
            if (size > 0)
                QVERIFY(file.resize(size)); // sparse: no disk is used
        }
        if (readOnly)
            QVERIFY(QFile::setPermissions(config, QFileDevice::ReadOwner));
        const QByteArray before = size > 0 ? QByteArray() : ReadAll(config);

        {
            TfrmTaskList window;
            VerifyOneWarning(problem,
                             QStringLiteral("The settings cannot be saved to the file \"%1\"; "
                                            "changes last only until the program ends.\n\nThe "
                                            "reason: %2.")
                                 .arg(QDir::toNativeSeparators(config), problem));
        }
        if (problem.isEmpty())
            return;
        QCOMPARE(BoxesOf(TMsgKind::Warning).size(), 1);
        if (size > 0)
            QCOMPARE(QFileInfo(config).size(), size);
        else
            QCOMPARE(ReadAll(config), before);
        QVERIFY(QFile::setPermissions(config, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    }

    void databaseLockedAtStartIsReportedWithTheReason()
    {
        AddTask(QStringLiteral("AAAAAAAAAAAAAAAA"), QStringLiteral("stored before"));
        const QString database = GetTasksDB()->Connection().Database;
        ReleaseTasksDB();
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(NativePath(database).toUtf8().constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "begin exclusive", nullptr, nullptr, nullptr), SQLITE_OK);
        GetTasksDB()->Connection().BusyTimeoutMs = 20;
        {
            TfrmTaskList window;
            const QList<TkvdMessageBox::TShown> errors = BoxesOf(TMsgKind::Error);
            QCOMPARE(errors.size(), 1);
            QCOMPARE(errors[0].Text,
                     QStringLiteral("Cannot open database file \"%1\".\n\nThe reason: the "
                                    "database is locked.")
                         .arg(database));
            QCOMPARE(BoxesOf(TMsgKind::Warning).size(), 0);
        }
        sqlite3_exec(other, "rollback", nullptr, nullptr, nullptr);
        sqlite3_close(other);
    }
};

QTEST_MAIN(TestStartupNotice)
#include "test_startup_notice.moc"
