// The tag record, the check list and the plain view over a real QTreeView, and
// LoadTags over a real database file.

#include "tags/tasks_tags.h"

#include "../common/test_env.h"

#include <QHeaderView>
#include <QTreeView>
#include <QtTest>
#include <memory>

namespace {

void InsertTag(const QString& aId, const QVariant& aTitle, const QVariant& aColor,
               const QString& aCreated)
{
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    query->SetSQL(QStringLiteral("insert into tags (tagid, title, color, image, createddt) "
                                 "values (:tagid, :title, :color, 3, :createddt)"));
    query->ParamByName(QStringLiteral("tagid")).SetAsString(aId);
    if (aTitle.isNull())
        query->ParamByName(QStringLiteral("title")).Clear();
    else
        query->ParamByName(QStringLiteral("title")).SetAsString(aTitle.toString());
    if (aColor.isNull())
        query->ParamByName(QStringLiteral("color")).Clear();
    else
        query->ParamByName(QStringLiteral("color")).SetAsInteger(aColor.toLongLong());
    query->ParamByName(QStringLiteral("createddt")).SetAsString(aCreated);
    QVERIFY(db->Query(query->SQL(), query.get()));
}

QStringList RowTitles(QTreeView& aTree, int aColumn)
{
    QStringList titles;
    for (int row = 0; row < aTree.model()->rowCount(); ++row)
        titles << aTree.model()->index(row, aColumn).data().toString();
    return titles;
}

Qt::CheckState RowMark(QTreeView& aTree, int aRow)
{
    return static_cast<Qt::CheckState>(
        aTree.model()->index(aRow, 0).data(Qt::CheckStateRole).toInt());
}

class TListener
{
public:
    int Calls = 0;
    bool OnNew(ItasksTagsControler*, TtasksTag*, QString&) { return ++Calls > 0; }
    bool OnChange(ItasksTagsControler*, TtasksTag*) { return ++Calls > 0; }
    bool OnOther(ItasksTagsControler*, TtasksTag*) { return false; }
};

} // namespace

class TestTags : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        FEnv = std::make_unique<TTestEnv>();
        FEnv->UseDatabase();
        FTree = std::make_unique<QTreeView>();
        FTree->resize(300, 200);
    }
    void cleanup()
    {
        FTree.reset();
        FEnv.reset();
    }

    void emptyTableGivesEmptyList()
    {
        TtasksTagsChecklist list(FTree.get());
        LoadTags(&list);
        QCOMPARE(list.Count(), 0);
        QCOMPARE(FTree->model()->rowCount(), 0);
        QVERIFY(list.GetSelected() == nullptr);
    }

    void loadOrder_data()
    {
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QStringList>("created");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("binary title order")
            << QStringList{"b", "B", "a"}
            << QStringList{"2020-01-01 00:00:00", "2020-01-01 00:00:00", "2020-01-01 00:00:00"}
            << QStringList{"B", "a", "b"};
        QTest::newRow("equal titles oldest first")
            << QStringList{"same", "same", "Other"}
            << QStringList{"2021-05-02 10:00:00", "2019-01-01 08:00:00", "2022-01-01 00:00:00"}
            << QStringList{"Other", "same@2019", "same@2021"};
        QTest::newRow("any script and empty title")
            << QStringList{"Ωμέγα", "", "日本"}
            << QStringList{"2020-01-01 00:00:00", "2020-01-01 00:00:00", "2020-01-01 00:00:00"}
            << QStringList{"", "Ωμέγα", "日本"};
    }
    void loadOrder()
    {
        QFETCH(QStringList, titles);
        QFETCH(QStringList, created);
        QFETCH(QStringList, expected);
        for (int i = 0; i < titles.size(); ++i)
            InsertTag(GenerateId(), titles[i], 255, created[i]);
        TtasksTagsChecklist list(FTree.get());
        LoadTags(&list);
        QCOMPARE(list.Count(), titles.size());
        QStringList shown;
        for (int row = 0; row < list.Count(); ++row) {
            TtasksTag* tag = list.TagOfRow(row);
            QVERIFY(tag);
            QCOMPARE(list.RowOf(tag), row);
            QString text = tag->title;
            if (titles.count(tag->title) > 1)
                text += "@" + QString::number(QDateTimeFromDateTime(tag->createddt).date().year());
            shown << text;
        }
        QCOMPARE(shown, expected);
        // The check list shows the title in column 1 and nothing in column 0.
        QStringList plain = expected;
        for (QString& title : plain)
            title = title.section('@', 0, 0);
        QCOMPARE(RowTitles(*FTree, 1), plain);
        QCOMPARE(RowTitles(*FTree, 0), QStringList(plain.size(), QString()));
    }

    void fieldsAndNullColumns()
    {
        InsertTag("AAAAAAAAAAAAAAAA", QVariant(), QVariant(), "2020-02-03 04:05:06");
        InsertTag("BBBBBBBBBBBBBBBB", "blue", 0xFF0000, "2020-02-03 04:05:06");
        InsertTag("CCCCCCCCCCCCCCCC", "system", static_cast<qint64>(0xFF000008), "");
        TtasksTagsChecklist list(FTree.get());
        LoadTags(&list);
        TtasksTag* none = list.GetTag("AAAAAAAAAAAAAAAA");
        QVERIFY(none);
        QCOMPARE(none->title, QString());
        QCOMPARE(none->color, 0);
        QCOMPARE(none->image, 3);
        QCOMPARE(none->createddt, EncodeDateTime(2020, 2, 3, 4, 5, 6));
        QVERIFY(!none->checked());
        const int row = list.RowOf(none);
        QCOMPARE(FTree->model()->index(row, 1).data(Qt::ForegroundRole).value<QColor>(),
                 QColor(Qt::black));
        TtasksTag* blue = list.GetTag("BBBBBBBBBBBBBBBB");
        QCOMPARE(
            FTree->model()->index(list.RowOf(blue), 1).data(Qt::ForegroundRole).value<QColor>(),
            QColor(0, 0, 255));
        TtasksTag* system = list.GetTag("CCCCCCCCCCCCCCCC");
        QVERIFY(system->color < 0);
        QCOMPARE(system->createddt, 0.0);
        QCOMPARE(TagColor(system->color), QApplication::palette().color(QPalette::Text));
    }

    void tagColor_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<QColor>("expected");
        QTest::newRow("black") << 0 << QColor(0, 0, 0);
        QTest::newRow("red is the low byte") << 0x0000FF << QColor(255, 0, 0);
        QTest::newRow("green") << 0x00FF00 << QColor(0, 255, 0);
        QTest::newRow("blue is the third byte") << 0xFF0000 << QColor(0, 0, 255);
        QTest::newRow("sky blue") << 0xF0CAA6 << QColor(0xA6, 0xCA, 0xF0);
        QTest::newRow("window background")
            << static_cast<int>(0xFF000005) << QApplication::palette().color(QPalette::Base);
        QTest::newRow("button face")
            << static_cast<int>(0xFF00000F) << QApplication::palette().color(QPalette::Button);
    }
    void tagColor()
    {
        QFETCH(int, value);
        QFETCH(QColor, expected);
        QCOMPARE(TagColor(value), expected);
    }

    void getTagIsExactAndCaseSensitive()
    {
        TtasksTagsChecklist list(FTree.get());
        TtasksTag* tag = list.AddTag("AbcdefghijklmnoP");
        QCOMPARE(list.GetTag("AbcdefghijklmnoP"), tag);
        QVERIFY(list.GetTag("abcdefghijklmnop") == nullptr);
        QVERIFY(list.GetTag("ABCDEFGHIJKLMNOP") == nullptr);
        QVERIFY(list.GetTag("") == nullptr);
    }

    void duplicatesNotAllowed()
    {
        TtasksTagsChecklist list(FTree.get());
        TtasksTag* first = list.AddTag("x");
        first->title = "first";
        try {
            list.AddTag("x");
            QFAIL("a duplicate id was accepted");
        } catch (const ETagListError& error) {
            QCOMPARE(error.Message(), QStringLiteral("Duplicates not allowed"));
        }
        QCOMPARE(list.Count(), 1);
        QCOMPARE(FTree->model()->rowCount(), 1);
        QCOMPARE(list.GetTag("x"), first);
        QCOMPARE(list.TagOfRow(0), first);
        // An id differing only in case is another tag.
        QVERIFY(list.AddTag("X"));
        QCOMPARE(list.Count(), 2);
    }

    void deleteTag()
    {
        TtasksTagsChecklist list(FTree.get());
        for (const char* id : {"c", "a", "b"})
            list.AddTag(id)->title = QString::fromLatin1(id).toUpper();
        list.DeleteTag("unknown");
        list.DeleteTag("A");
        QCOMPARE(list.Count(), 3);
        QCOMPARE(RowTitles(*FTree, 1), (QStringList{"C", "A", "B"}));

        list.DeleteTag("a");
        QCOMPARE(list.Count(), 2);
        QVERIFY(list.GetTag("a") == nullptr);
        QCOMPARE(RowTitles(*FTree, 1), (QStringList{"C", "B"}));
        QCOMPARE(list.TagOfRow(1), list.GetTag("b"));
        QCOMPARE(list.RowOf(list.GetTag("b")), 1);
    }

    void getTagByIndexVisitsEveryTagOnce()
    {
        TtasksTagsChecklist list(FTree.get());
        QStringList ids;
        for (int i = 0; i < 20; ++i) {
            ids << GenerateId();
            list.AddTag(ids.last());
        }
        QStringList seen;
        for (int i = 0; i < list.Count(); ++i)
            seen << list.GetTagByIndex(i)->tagid;
        QCOMPARE(seen.size(), ids.size());
        std::sort(seen.begin(), seen.end());
        std::sort(ids.begin(), ids.end());
        QCOMPARE(seen, ids);
    }

    void checkedFromCodeDoesNotNotify()
    {
        TtasksTagsChecklist list(FTree.get());
        TtasksTag* tag = list.AddTag("t1");
        list.AddTag("t2");
        QCOMPARE(RowMark(*FTree, 0), Qt::Unchecked);
        tag->SetChecked(true);
        QVERIFY(tag->checked());
        QCOMPARE(RowMark(*FTree, 0), Qt::Checked);
        tag->SetChecked(true);
        QVERIFY(tag->checked());
        tag->SetChecked(false);
        QCOMPARE(RowMark(*FTree, 0), Qt::Unchecked);
        tag->SetChecked(true);

        // The user's next click on the box unticks it.
        FTree->show();
        QVERIFY(QTest::qWaitForWindowExposed(FTree.get()));
        ClickBox(0);
        QVERIFY(!tag->checked());
        QCOMPARE(RowMark(*FTree, 0), Qt::Unchecked);
        ClickBox(0);
        QVERIFY(tag->checked());
        QCOMPARE(RowMark(*FTree, 0), Qt::Checked);
    }

    void userTicksReadBack()
    {
        TtasksTagsChecklist list(FTree.get());
        for (const char* id : {"one", "two", "three", "four"})
            list.AddTag(id)->title = id;
        FTree->show();
        QVERIFY(QTest::qWaitForWindowExposed(FTree.get()));
        ClickBox(list.RowOf(list.GetTag("two")));
        // Space on a row ticks it too, whichever column holds the focus.
        FTree->setFocus();
        FTree->setCurrentIndex(FTree->model()->index(list.RowOf(list.GetTag("four")), 1));
        QTest::keyClick(FTree.get(), Qt::Key_Space);
        QStringList ticked;
        for (int i = 0; i < list.Count(); ++i) {
            if (list.GetTagByIndex(i)->checked())
                ticked << list.GetTagByIndex(i)->tagid;
        }
        std::sort(ticked.begin(), ticked.end());
        QCOMPARE(ticked, (QStringList{"four", "two"}));
    }

    void reloadResetsTicks()
    {
        InsertTag("AAAAAAAAAAAAAAAA", "a", 0, "2020-01-01 00:00:00");
        TtasksTagsChecklist list(FTree.get());
        LoadTags(&list);
        list.GetTag("AAAAAAAAAAAAAAAA")->SetChecked(true);
        LoadTags(&list);
        QVERIFY(!list.GetTag("AAAAAAAAAAAAAAAA")->checked());
        QCOMPARE(RowMark(*FTree, 0), Qt::Unchecked);
    }

    void selection()
    {
        TtasksTagsView view(FTree.get());
        view.AddTag("a")->title = "A";
        view.AddTag("b")->title = "B";
        QVERIFY(view.GetSelected() == nullptr);
        FTree->selectionModel()->select(FTree->model()->index(1, 0),
                                        QItemSelectionModel::ClearAndSelect |
                                            QItemSelectionModel::Rows);
        QCOMPARE(view.GetSelected(), view.GetTag("b"));
        view.Clear();
        QCOMPARE(view.Count(), 0);
        QVERIFY(view.GetSelected() == nullptr);
    }

    void viewHasOneColumnWithoutBoxes()
    {
        TtasksTagsView view(FTree.get());
        TtasksTag* tag = view.AddTag("a");
        tag->title = "Title";
        tag->color = 0x0000FF;
        QCOMPARE(FTree->model()->columnCount(), 1);
        const QModelIndex index = FTree->model()->index(0, 0);
        QCOMPARE(index.data().toString(), QStringLiteral("Title"));
        QVERIFY(!index.data(Qt::CheckStateRole).isValid());
        QVERIFY(!(index.flags() & Qt::ItemIsUserCheckable));
        QCOMPARE(index.data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
        QVERIFY(!FTree->model()->setData(index, Qt::Checked, Qt::CheckStateRole));
        QVERIFY(FTree->isHeaderHidden());
    }

    void checklistLayout()
    {
        TtasksTagsChecklist list(FTree.get());
        list.AddTag("a");
        QCOMPARE(FTree->model()->columnCount(), 2);
        QCOMPARE(FTree->header()->sectionSize(0), 25);
        QVERIFY(FTree->isHeaderHidden());
        QVERIFY(!FTree->rootIsDecorated());
        QVERIFY(FTree->model()->index(0, 0).flags() & Qt::ItemIsUserCheckable);
        QVERIFY(!(FTree->model()->index(0, 1).flags() & Qt::ItemIsUserCheckable));
    }

    void listeners()
    {
        TtasksTagsChecklist list(FTree.get());
        TListener a, b;
        list.AddNewHandler(TtasksTagNewEvent::Bind(&a, &TListener::OnNew));
        list.AddDeleteHandler(TtasksTagDeleteEvent::Bind(&a, &TListener::OnChange));
        list.AddDeleteHandler(TtasksTagDeleteEvent::Bind(&a, &TListener::OnChange));
        list.AddUpdateHandler(TtasksTagUpdateEvent::Bind(&b, &TListener::OnChange));
        QCOMPARE(list.NewHandlerCount(), 1);
        QCOMPARE(list.DeleteHandlerCount(), 2);
        // Another object or another method is not the same listener.
        list.RemoveDeleteHandler(TtasksTagDeleteEvent::Bind(&b, &TListener::OnChange));
        list.RemoveDeleteHandler(TtasksTagDeleteEvent::Bind(&a, &TListener::OnOther));
        QCOMPARE(list.DeleteHandlerCount(), 2);
        // Only the first equal entry goes.
        list.RemoveDeleteHandler(TtasksTagDeleteEvent::Bind(&a, &TListener::OnChange));
        QCOMPARE(list.DeleteHandlerCount(), 1);
        list.RemoveNewHandler(TtasksTagNewEvent::Bind(&a, &TListener::OnNew));
        QCOMPARE(list.NewHandlerCount(), 0);
        list.RemoveUpdateHandler(TtasksTagUpdateEvent::Bind(&b, &TListener::OnChange));
        QCOMPARE(list.UpdateHandlerCount(), 0);
        // The controllers raise none of the events.
        list.AddTag("x");
        list.DeleteTag("x");
        QCOMPARE(a.Calls + b.Calls, 0);
    }

    void failingLoadLeavesListEmpty()
    {
        InsertTag("AAAAAAAAAAAAAAAA", "a", 0, "2020-01-01 00:00:00");
        TtasksTagsChecklist list(FTree.get());
        LoadTags(&list);
        QCOMPARE(list.Count(), 1);
        QVERIFY(GetTasksDB()->Exec("drop table tags"));
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, LoadTags(&list));
        QCOMPARE(list.Count(), 0);
        QCOMPARE(FTree->model()->rowCount(), 0);
    }

    void lifetimes()
    {
        {
            auto list = std::make_shared<TtasksTagsChecklist>(FTree.get());
            std::shared_ptr<ItasksTagsControler> held = list;
            list.reset();
            held->AddTag("a");
            held.reset();
            // The widget no longer reads a destroyed model.
            QVERIFY(FTree->model() == nullptr || FTree->model()->rowCount() == 0);
        }
        {
            auto tree = std::make_unique<QTreeView>();
            auto list = std::make_shared<TtasksTagsView>(tree.get());
            list->AddTag("a");
            tree.reset();
            // The controller outlives its widget without harm.
            list->AddTag("b");
            list->DeleteTag("a");
            QVERIFY(list->GetSelected() == nullptr);
            list->Clear();
        }
    }

private:
    void ClickBox(int aRow)
    {
        const QRect cell = FTree->visualRect(FTree->model()->index(aRow, 0));
        QTest::mouseClick(FTree->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    }

    std::unique_ptr<TTestEnv> FEnv;
    std::unique_ptr<QTreeView> FTree;
};

QTEST_MAIN(TestTags)
#include "test_tags.moc"
