// The bulk task entry through the real dialog and its object names, over a
// real database file.

#include "pool/tasks_form_pool.h"

#include "tags/tasks_tags.h"
#include "util/kvd_dialogs.h"

#include "../common/dialog_fixture.h"
#include "../common/find_widget.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <functional>
#include <sqlite3.h>

namespace {

struct TStoredTask
{
    QString Id;
    QString Summary;
    bool NoteNull;
    bool DueNull;
    bool CreatedSet;
};

QList<TStoredTask> StoredTasks()
{
    QList<TStoredTask> tasks;
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    if (!db->Query("select taskid, summary, note, duedt, createddt from tasks order by rowid",
                   query.get()))
        return tasks;
    for (; !query->Eof(); query->Next()) {
        tasks.append({query->FieldByName("taskid").AsString(),
                      query->FieldByName("summary").AsString(), query->FieldByName("note").IsNull(),
                      query->FieldByName("duedt").IsNull(),
                      !query->FieldByName("createddt").IsNull()});
    }
    return tasks;
}

QStringList StoredSummaries()
{
    QStringList result;
    for (const TStoredTask& task : StoredTasks())
        result << task.Summary;
    return result;
}

int CountRows(const QString& aSQL)
{
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    if (!db->Query(aSQL, query.get()) || query->Eof())
        return -1;
    return static_cast<int>(query->FieldByName("n").AsInteger());
}

void InsertTag(const QString& aId, const QString& aTitle)
{
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    query->SetSQL("insert into tags (tagid, title, color, createddt) values (:tagid, :title, 0, "
                  "datetime('now'))");
    query->ParamByName("tagid").SetAsString(aId);
    query->ParamByName("title").SetAsString(aTitle);
    QVERIFY(db->Query(query->SQL(), query.get()));
}

// Runs aAction on the pool dialog once it is shown modally.
void WhenShown(std::function<void(TfrmTasksPool*)> aAction)
{
    QTimer::singleShot(0, [aAction] {
        auto* dialog = qobject_cast<TfrmTasksPool*>(QApplication::activeModalWidget());
        if (!dialog) {
            WhenShown(aAction);
            return;
        }
        aAction(dialog);
    });
}

// Holds a read lock on the database file from a second connection, so that a
// commit of the program's connection cannot complete.
class TReadLock
{
public:
    explicit TReadLock(const QString& aFile)
    {
        sqlite3_open(aFile.toUtf8().constData(), &FHandle);
        sqlite3_exec(FHandle, "begin; select count(*) from tasks;", nullptr, nullptr, nullptr);
    }
    ~TReadLock() { Release(); }
    void Release()
    {
        if (!FHandle)
            return;
        sqlite3_exec(FHandle, "rollback", nullptr, nullptr, nullptr);
        sqlite3_close(FHandle);
        FHandle = nullptr;
    }

private:
    sqlite3* FHandle = nullptr;
};

} // namespace

class TestPool : public QObject, protected TDialogFixture
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { SetUpDialogs(); }

    void init()
    {
        FDatabase = SetUpTestEnv();
        InsertTag("TagAAAAAAAAAAAAA", "Home");
        InsertTag("TagBBBBBBBBBBBBB", "Work");
        InsertTag("TagCCCCCCCCCCCCC", "Later");
    }
    void cleanup() { TearDownTestEnv(); }

    void splitLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << QString() << QStringList{""};
        QTest::newRow("unix") << "a\nb" << QStringList{"a", "b"};
        QTest::newRow("windows") << "a\r\nb\r\n" << QStringList{"a", "b", ""};
        QTest::newRow("old mac") << "a\rb" << QStringList{"a", "b"};
        QTest::newRow("mixed") << "a\r\nb\nc\rd\r\r\ne" << QStringList{"a", "b", "c", "d", "", "e"};
        QTest::newRow("unicode separators")
            << QString("a") + QChar(0x2028) + "b" + QChar(0x2029) + "c" + QChar(0x85) + "d"
            << QStringList{"a", "b", "c", "d"};
        QTest::newRow("vertical tab and form feed") << "a\vb\fc" << QStringList{"a", "b", "c"};
        QTest::newRow("tabs do not split") << "a\tb c" << QStringList{"a\tb c"};
    }
    void splitLines()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, lines);
        QCOMPARE(SplitPoolLines(text), lines);
    }

    void trimLine_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("trimmed");
        QTest::newRow("spaces") << "  words here  "
                                << "words here";
        QTest::newRow("tabs and controls") << "\t\x01 x y\x1f\t"
                                           << "x y";
        QTest::newRow("nul characters")
            << QString(QChar(0)) + "a" + QChar(0) + "b" + QChar(0) << QString("a") + QChar(0) + "b";
        QTest::newRow("blank only") << " \t \x0b "
                                    << "";
        QTest::newRow("no-break space is kept")
            << QString(QChar(0xA0)) + "x" << QString(QChar(0xA0)) + "x";
        QTest::newRow("any script") << "  日本語 Ωμέγα  "
                                    << "日本語 Ωμέγα";
    }
    void trimLine()
    {
        QFETCH(QString, text);
        QFETCH(QString, trimmed);
        QCOMPARE(TrimPoolLine(text), trimmed);
    }

    void dialogShape()
    {
        TfrmTasksPool dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("New Tasks..."));
        QCOMPARE(dialog.size(), QSize(670, 425));
        auto* label = dialog.findChild<QLabel*>("lblTasksPool");
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("Here you can quickly setup large number of tasks "
                                               "(each line represents separate task):"));
        QVERIFY(label->font().bold());
        auto* mem = dialog.findChild<QPlainTextEdit*>("memPool");
        QVERIFY(mem);
        QVERIFY(mem->toPlainText().isEmpty());
        QVERIFY(dialog.findChild<QSplitter*>("splitterTags"));
        auto* ok = dialog.findChild<QPushButton*>("btnOK");
        auto* cancel = dialog.findChild<QPushButton*>("btnCancel");
        QVERIFY(ok && cancel);
        QCOMPARE(ok->text(), QStringLiteral("Create the tasks!"));
        QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
        QVERIFY(ok->isDefault());
        auto* tags = dialog.findChild<QTreeView*>("vtTags");
        QVERIFY(tags);
        QCOMPARE(tags->model()->rowCount(), 3);
        QCOMPARE(tags->model()->index(0, 1).data().toString(), QStringLiteral("Home"));
        for (int row = 0; row < 3; ++row)
            QCOMPARE(tags->model()->index(row, 0).data(Qt::CheckStateRole).toInt(),
                     static_cast<int>(Qt::Unchecked));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(tags->width(), 242);
        QVERIFY(ok->geometry().right() < cancel->geometry().left());
    }

    void createTasks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("ticked");
        QTest::addColumn<QStringList>("summaries");
        const QStringList two{"TagAAAAAAAAAAAAA", "TagCCCCCCCCCCCCC"};
        QTest::newRow("empty") << QString() << two << QStringList();
        QTest::newRow("blank lines only") << " \n\t\t\n  \r\n\n" << two << QStringList();
        QTest::newRow("trimmed") << "   buy milk   \n\t call Bob\t" << QStringList()
                                 << QStringList{"buy milk", "call Bob"};
        QTest::newRow("three lines two tags")
            << "one\ntwo\nthree" << two << QStringList{"one", "two", "three"};
        QTest::newRow("three lines no tag")
            << "one\ntwo\nthree" << QStringList() << QStringList{"one", "two", "three"};
        QTest::newRow("same summary twice") << "same\nsame" << two << QStringList{"same", "same"};
        QTest::newRow("mixed line endings")
            << "a\r\nb\nc\rd" << QStringList{"TagBBBBBBBBBBBBB"} << QStringList{"a", "b", "c", "d"};
        QTest::newRow("nul characters")
            << QString(QChar(0)) + "x" + QChar(0) + "y\n" + QChar(0) << QStringList()
            << QStringList{QString("x") + QChar(0) + "y"};
        QTest::newRow("any script")
            << "Ωμέγα\n日本語\n😀 emoji" << two << QStringList{"Ωμέγα", "日本語", "😀 emoji"};
        QTest::newRow("quotes and sql") << "it's \"quoted\"; drop table tasks; --" << two
                                        << QStringList{"it's \"quoted\"; drop table tasks; --"};
    }
    void createTasks()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, ticked);
        QFETCH(QStringList, summaries);
        TfrmTasksPool dialog;
        W<QPlainTextEdit>(dialog, "memPool")->setPlainText(text);
        for (const QString& id : ticked)
            dialog.TagsControler()->GetTag(id)->SetChecked(true);
        QVERIFY(dialog.CreateTasks());
        QCOMPARE(TkvdMessageBox::Shown().size(), 0);

        const QList<TStoredTask> tasks = StoredTasks();
        QCOMPARE(StoredSummaries(), summaries);
        QSet<QString> ids;
        for (const TStoredTask& task : tasks) {
            QCOMPARE(task.Id.size(), 16);
            QVERIFY(task.NoteNull);
            QVERIFY(task.DueNull);
            QVERIFY(task.CreatedSet);
            ids.insert(task.Id);
        }
        QCOMPARE(ids.size(), tasks.size());
        // Every new task is open.
        QCOMPARE(CountRows("select count(*) as n from tasks where finisheddt notnull"), 0);
        QCOMPARE(CountRows("select count(*) as n from tags_tasks"),
                 static_cast<int>(summaries.size() * ticked.size()));
        for (const QString& tagId : ticked)
            QCOMPARE(CountRows(QString("select count(*) as n from tags_tasks where tagid='%1' and "
                                       "createddt isnull and taskid in (select taskid from tasks)")
                                   .arg(tagId)),
                     static_cast<int>(summaries.size()));
    }

    void largeInput()
    {
        TfrmTasksPool dialog;
        QStringList lines;
        for (int i = 0; i < 10000; ++i)
            lines << QString("task %1").arg(i);
        const QString megabyte(1024 * 1024, QChar('m'));
        W<QPlainTextEdit>(dialog, "memPool")->setPlainText(lines.join("\n") + "\r\n" + megabyte);
        dialog.TagsControler()->GetTag("TagBBBBBBBBBBBBB")->SetChecked(true);
        QVERIFY(dialog.CreateTasks());
        const QStringList stored = StoredSummaries();
        QCOMPARE(stored.size(), 10001);
        QCOMPARE(stored.first(), QStringLiteral("task 0"));
        QCOMPARE(stored[9999], QStringLiteral("task 9999"));
        QCOMPARE(stored.last(), megabyte);
        QCOMPARE(CountRows("select count(*) as n from tags_tasks"), 10001);
    }

    void failingLineIsSkipped()
    {
        QVERIFY(
            GetTasksDB()->Exec("create trigger refuse before insert on tasks when "
                               "new.summary = 'bad' begin select raise(abort, 'refused'); end"));
        TfrmTasksPool dialog;
        W<QPlainTextEdit>(dialog, "memPool")->setPlainText("good 1\nbad\ngood 2");
        dialog.TagsControler()->GetTag("TagAAAAAAAAAAAAA")->SetChecked(true);
        QVERIFY(dialog.CreateTasks());
        QCOMPARE(StoredSummaries(), (QStringList{"good 1", "good 2"}));
        // No link row for the task that was not stored.
        QCOMPARE(CountRows("select count(*) as n from tags_tasks"), 2);
        QCOMPARE(CountRows("select count(*) as n from tags_tasks where taskid not in (select "
                           "taskid from tasks)"),
                 0);
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        QCOMPARE(TkvdMessageBox::Shown().first().Kind, TMsgKind::Warning);
        // What failed, why, and the line for entering it again, since the dialog closes.
        QCOMPARE(TkvdMessageBox::Shown().first().Text,
                 QStringLiteral("1 line(s) could not be stored as tasks and 0 tag link(s) could "
                                "not be stored. The other tasks were saved.\n\nThe reason: "
                                "refused.\n\nNot stored:\nbad"));
    }

    void manyFailingLinesAreNamedInShort()
    {
        QVERIFY(GetTasksDB()->Exec("create trigger refuse before insert on tasks when "
                                   "new.summary like 'bad%' begin select raise(abort, "
                                   "'refused'); end"));
        TfrmTasksPool dialog;
        QStringList lines{"good"};
        for (int i = 1; i <= 25; ++i)
            lines << QString("bad %1").arg(i);
        W<QPlainTextEdit>(dialog, "memPool")->setPlainText(lines.join('\n'));
        QVERIFY(dialog.CreateTasks());
        QCOMPARE(StoredSummaries(), QStringList{"good"});
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        const QString text = TkvdMessageBox::Shown().first().Text;
        QVERIFY(text.startsWith("25 line(s)"));
        QVERIFY(text.contains("\nbad 1\n"));
        QVERIFY(text.contains("\nbad 20\n"));
        QVERIFY(!text.contains("bad 21"));
        QVERIFY(text.endsWith("... and 5 more"));
    }

    void failingCommitStoresNothing()
    {
        TfrmTasksPool dialog;
        W<QPlainTextEdit>(dialog, "memPool")->setPlainText("one\ntwo");
        dialog.TagsControler()->GetTag("TagAAAAAAAAAAAAA")->SetChecked(true);
        sqlite3_busy_timeout(GetTasksDB()->Connection().Handle(), 50);
        {
            TReadLock reader(FDatabase);
            QVERIFY(!dialog.CreateTasks());
        }
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        QCOMPARE(TkvdMessageBox::Shown().first().Kind, TMsgKind::Error);
        QCOMPARE(TkvdMessageBox::Shown().first().Text,
                 QStringLiteral("The new tasks could not be stored; nothing of them was "
                                "saved.\n\nThe reason: the database is locked."));
        QVERIFY(!GetTasksDB()->Connection().InTransaction());
        QCOMPARE(StoredSummaries(), QStringList());
        QCOMPARE(CountRows("select count(*) as n from tags_tasks"), 0);
        // The text is still there for another try.
        QCOMPARE(W<QPlainTextEdit>(dialog, "memPool")->toPlainText(), QStringLiteral("one\ntwo"));
    }

    void showDialogRetriesAfterFailedCommit()
    {
        sqlite3_busy_timeout(GetTasksDB()->Connection().Handle(), 50);
        TReadLock reader(FDatabase);
        int rounds = 0;
        WhenShown([&](TfrmTasksPool* aDialog) {
            ++rounds;
            W<QPlainTextEdit>(*aDialog, "memPool")->setPlainText("kept line");
            aDialog->setProperty("round", 1);
            // Accepting hides the dialog at once, so a visible dialog marked
            // with the round is its second showing.
            WhenShownAgain([&](TfrmTasksPool* aAgain) {
                ++rounds;
                QCOMPARE(W<QPlainTextEdit>(*aAgain, "memPool")->toPlainText(),
                         QStringLiteral("kept line"));
                reader.Release();
                W<QPushButton>(*aAgain, "btnOK")->click();
            });
            W<QPushButton>(*aDialog, "btnOK")->click();
        });
        QVERIFY(ShowTasksPoolDialog());
        QCOMPARE(rounds, 2);
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        QCOMPARE(StoredSummaries(), QStringList{"kept line"});
    }

    // The bulk entry runs one statement text many times on one query; the store
    // keeps it compiled between runs. Each run must still bind its own values.
    void queryRunsAgainWithNewValues()
    {
        TtasksDB* db = GetTasksDB();
        std::unique_ptr<TZQuery> query = db->NewQuery();
        const QString insert = "insert into tasks (taskid, summary) values (:taskid, :summary)";
        auto run = [&](const QString& aId, const QVariant& aSummary) {
            query->SetSQL(insert);
            query->ParamByName("taskid").SetAsString(aId);
            if (aSummary.isNull())
                query->ParamByName("summary").Clear();
            else
                query->ParamByName("summary").SetAsString(aSummary.toString());
            return db->Query(insert, query.get());
        };
        QVERIFY(run("id1", "first"));
        QVERIFY(run("id2", QVariant()));
        QVERIFY(!run("id1", "duplicate key"));
        QVERIFY(run("id3", "after a failure"));
        // Another text on the same query, then the first text again.
        QVERIFY(db->Query("delete from tasks where taskid='id3'", query.get()));
        QVERIFY(run("id4", "again"));
        // A new connection compiles anew.
        db->Disconnect();
        db->Connect();
        QVERIFY(run("id5", "reconnected"));
        QCOMPARE(StoredSummaries(), (QStringList{"first", "", "again", "reconnected"}));
        QCOMPARE(CountRows("select count(*) as n from tasks where summary isnull"), 1);
    }

    void cancelWritesNothing_data()
    {
        QTest::addColumn<bool>("byFrame");
        QTest::newRow("Cancel button") << false;
        QTest::newRow("window frame") << true;
    }
    void cancelWritesNothing()
    {
        QFETCH(bool, byFrame);
        WhenShown([byFrame](TfrmTasksPool* aDialog) {
            W<QPlainTextEdit>(*aDialog, "memPool")->setPlainText("one\ntwo");
            aDialog->TagsControler()->GetTag("TagAAAAAAAAAAAAA")->SetChecked(true);
            if (byFrame)
                aDialog->close();
            else
                QTest::mouseClick(W<QPushButton>(*aDialog, "btnCancel"), Qt::LeftButton);
        });
        QVERIFY(!ShowTasksPoolDialog());
        QCOMPARE(StoredSummaries(), QStringList());
        QCOMPARE(CountRows("select count(*) as n from tags_tasks"), 0);
    }

    void okThroughTheDialog()
    {
        WhenShown([](TfrmTasksPool* aDialog) {
            auto* text = W<QPlainTextEdit>(*aDialog, "memPool");
            QTest::keyClicks(text, "first");
            QTest::keyClick(text, Qt::Key_Return);
            QTest::keyClicks(text, "  second  ");
            // A user's click on the box of the second row ("Later").
            QTreeView* tree = W<QTreeView>(*aDialog, "vtTags");
            const QRect box = tree->visualRect(tree->model()->index(1, 0));
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, box.center());
            QTest::mouseClick(W<QPushButton>(*aDialog, "btnOK"), Qt::LeftButton);
        });
        QVERIFY(ShowTasksPoolDialog());
        QCOMPARE(StoredSummaries(), (QStringList{"first", "second"}));
        QCOMPARE(CountRows("select count(*) as n from tags_tasks where tagid='TagCCCCCCCCCCCCC'"),
                 2);
        QCOMPARE(CountRows("select count(*) as n from tags_tasks"), 2);
    }

    void emptyTextStillReturnsTrue()
    {
        WhenShown([](TfrmTasksPool* aDialog) { W<QPushButton>(*aDialog, "btnOK")->click(); });
        QVERIFY(ShowTasksPoolDialog());
        QCOMPARE(StoredSummaries(), QStringList());
    }

    void failingTagLoadIsShown()
    {
        QVERIFY(GetTasksDB()->Exec("drop table tags"));
        TfrmTasksPool dialog;
        QCOMPARE(dialog.TagsControler()->Count(), 0);
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        QCOMPARE(TkvdMessageBox::Shown().first().Text,
                 QStringLiteral("The tags could not be read from the database.\n\nThe reason: "
                                "no such table: tags."));
        W<QPlainTextEdit>(dialog, "memPool")->setPlainText("still works");
        QVERIFY(dialog.CreateTasks());
        QCOMPARE(StoredSummaries(), QStringList{"still works"});
    }

private:
    // Runs aAction once the dialog marked with a round is visible again.
    static void WhenShownAgain(std::function<void(TfrmTasksPool*)> aAction)
    {
        QTimer::singleShot(10, [aAction] {
            auto* dialog = qobject_cast<TfrmTasksPool*>(QApplication::activeModalWidget());
            if (dialog && dialog->isVisible() && dialog->property("round").toInt() == 1) {
                aAction(dialog);
                return;
            }
            WhenShownAgain(aAction);
        });
    }

    QString FDatabase;
};

QTEST_MAIN(TestPool)
#include "test_pool.moc"
