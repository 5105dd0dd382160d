// The window's import and export: the file name through the file-name seam,
// the counts and refusals told in a message box, the reload signal, and a
// cancelled dialog that does nothing.

#include "../common/test_env.h"

#include "app/tasks_ics_actions.h"
#include "store/tasks_store.h"
#include "util/kvd_dialogs.h"

#include <QFile>
#include <QSignalSpy>
#include <QWidget>
#include <QtTest>

class TestIcsActions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        TkvdMessageBox::SetTestMode(true);
        TkvdFileDialog::SetTestMode(true);
    }
    void init()
    {
        FEnv = std::make_unique<TTestEnv>();
        FEnv->UseDatabase();
        GetTasksDB()->CreateSchema();
        TkvdMessageBox::ClearShown();
        TkvdFileDialog::SetTestMode(true);
    }
    void cleanup() { FEnv.reset(); }

    void importTellsCounts()
    {
        const QString path = FEnv->File(QStringLiteral("in.ics"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//T//T//EN\r\nBEGIN:VTODO\r\n"
                   "UID:a@example.org\r\nDTSTAMP:20260301T070000Z\r\nSUMMARY:Imported\r\n"
                   "END:VTODO\r\nBEGIN:VTODO\r\nUID:b@example.org\r\n"
                   "DTSTAMP:20260301T070000Z\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
        file.close();
        TtasksIcsActions actions;
        QSignalSpy imported(&actions, &TtasksIcsActions::TasksImported);
        TkvdFileDialog::SetNextAnswer(path);
        QWidget parent;
        QVERIFY(actions.ImportAsked(&parent));
        QCOMPARE(TkvdFileDialog::Asked(), QStringList{QStringLiteral("Import Tasks")});
        QCOMPARE(imported.count(), 1);
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        const TkvdMessageBox::TShown shown = TkvdMessageBox::Shown().first();
        QCOMPARE(shown.Kind, TMsgKind::Warning);
        QVERIFY2(
            shown.Text.contains(QStringLiteral("1 added, 0 skipped (already present), 1 refused")),
            qPrintable(shown.Text));
        QVERIFY(
            shown.Text.contains(QStringLiteral("Refused \"b@example.org\": it has no summary")));

        // Again: nothing added, so no reload.
        TkvdMessageBox::ClearShown();
        TkvdFileDialog::SetNextAnswer(path);
        QVERIFY(actions.ImportAsked(&parent));
        QCOMPARE(imported.count(), 1);
        QVERIFY(
            TkvdMessageBox::Shown().first().Text.contains(QStringLiteral("0 added, 1 skipped")));
    }

    void importOfABadFileIsAnError()
    {
        const QString path = FEnv->File(QStringLiteral("plain.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Buy milk\n");
        file.close();
        TtasksIcsActions actions;
        QSignalSpy imported(&actions, &TtasksIcsActions::TasksImported);
        TkvdFileDialog::SetNextAnswer(path);
        QVERIFY(!actions.ImportAsked(nullptr));
        QCOMPARE(imported.count(), 0);
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        QCOMPARE(TkvdMessageBox::Shown().first().Kind, TMsgKind::Error);
        QVERIFY(
            TkvdMessageBox::Shown().first().Text.contains(QStringLiteral("not an iCalendar file")));
    }

    void cancelledDialogsDoNothing()
    {
        TtasksIcsActions actions;
        QVERIFY(!actions.ImportAsked(nullptr));
        QVERIFY(!actions.ExportAsked(nullptr, {}));
        QCOMPARE(TkvdMessageBox::Shown().size(), 0);
        QCOMPARE(TkvdFileDialog::Asked(),
                 (QStringList{QStringLiteral("Import Tasks"), QStringLiteral("Export Tasks")}));
    }

    void exportSelected()
    {
        for (const char* id : {"TaskAaaaaaaaaaaa", "TaskBbbbbbbbbbbb"}) {
            TStoredTask task;
            task.taskid = QString::fromLatin1(id);
            task.summary = task.taskid;
            QVERIFY(TtasksStore::SaveTask(task, {}, true));
        }
        const QString path = FEnv->File(QStringLiteral("out.ics"));
        TtasksIcsActions actions;
        TkvdFileDialog::SetNextAnswer(path);
        QVERIFY(actions.ExportAsked(nullptr, {QStringLiteral("TaskBbbbbbbbbbbb")}));
        QCOMPARE(TkvdFileDialog::Asked(), QStringList{QStringLiteral("Export Selected Tasks")});
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        QVERIFY(
            TkvdMessageBox::Shown().first().Text.startsWith(QStringLiteral("Exported 1 task to")));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("UID:TaskBbbbbbbbbbbb"));
        QVERIFY(!text.contains("TaskAaaaaaaaaaaa"));

        // A folder that does not exist: an error box, no file.
        TkvdMessageBox::ClearShown();
        TkvdFileDialog::SetNextAnswer(FEnv->File(QStringLiteral("no/such/out.ics")));
        QVERIFY(!actions.ExportAsked(nullptr, {}));
        QCOMPARE(TkvdMessageBox::Shown().first().Kind, TMsgKind::Error);
    }

private:
    std::unique_ptr<TTestEnv> FEnv;
};

QTEST_MAIN(TestIcsActions)
#include "test_ics_actions.moc"
