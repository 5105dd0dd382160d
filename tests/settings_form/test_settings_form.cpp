// The settings dialog through its object names: settings in and out, the saved
// config file, the number ranges, Enter, and the tag editor with its states,
// over a real database file and a real settings file.

#include "settings_ui/tasks_form_settings.h"

#include "resources/tasks_themes.h"
#include "settings/tasks_autostart.h"
#include "tags/tasks_tags.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_utils.h"

#include "../common/dialog_fixture.h"
#include "../common/find_widget.h"
#include "../common/store_rows.h"
#include "../common/unprivileged.h"
#include "../update/peer_process.h"
#include "../update/wait_box_watch.h"
#include "update/kvd_services.h"
#include "update/kvd_update_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <functional>

namespace {

const char* const kHome = "TagHomeAAAAAAAAA";
const char* const kWork = "TagWorkAAAAAAAAA";

void Run(const QString& aSQL)
{
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    QVERIFY2(db->Query(aSQL, query.get()), qPrintable(aSQL));
}

QString Value(const QString& aSQL)
{
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    if (!db->Query(aSQL, query.get()) || query->Eof())
        return QStringLiteral("<none>");
    return query->FieldByName("v").IsNull() ? QStringLiteral("<null>")
                                            : query->FieldByName("v").AsString();
}

QStringList ListTitles(TfrmSettings& aDialog)
{
    QStringList titles;
    QAbstractItemModel* model = W<QTreeView>(aDialog, "vtTagsList")->model();
    for (int row = 0; row < model->rowCount(); ++row)
        titles << model->index(row, 0).data().toString();
    return titles;
}

// Runs aAction on the settings dialog once it is shown modally.
void WhenShown(std::function<void(TfrmSettings*)> aAction)
{
    QTimer::singleShot(0, [aAction] {
        auto* dialog = qobject_cast<TfrmSettings*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible()) {
            WhenShown(aAction);
            return;
        }
        aAction(dialog);
    });
}

QByteArray ReadConfig()
{
    QFile file(NativePath(DefaultConfigFile()));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void TypeInto(QWidget* aField, const QString& aText)
{
    aField->setFocus();
    QTest::keyClick(aField, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(aField, aText);
}

} // namespace

class TestSettingsForm : public QObject, protected TDialogFixture, protected TPeerProcess
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { SetUpDialogs(); }

    void init()
    {
        SetUpTestEnv();
        // The start at login entry goes to a folder of the test's own.
        qputenv("XDG_CONFIG_HOME", FEnv->File("xdgconfig").toUtf8());
        SetStartAtLoginProgram(QString());
        GetTasksSettings();
        Run(QString("insert into tags (tagid, title, color, createddt) values ('%1', 'Home', "
                    "32768, '2020-01-01 00:00:00')")
                .arg(kHome));
        Run(QString("insert into tags (tagid, title, color, createddt) values ('%1', 'Work', "
                    "8388608, '2020-01-01 00:00:00')")
                .arg(kWork));
        Run("insert into tasks (taskid, summary) values ('TaskOneAAAAAAAAA', 'one')");
        Run(QString("insert into tags_tasks (tagid, taskid) values ('%1', 'TaskOneAAAAAAAAA')")
                .arg(kHome));
        Run(QString("insert into tags_tasks (tagid, taskid) values ('%1', 'TaskOneAAAAAAAAA')")
                .arg(kWork));
    }
    void cleanup() { TearDownTestEnv(); }

    void dialogShape()
    {
        theme = "My Own Theme";
        TfrmSettings dialog;
        dialog.SettingsToControls();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
        QCOMPARE(dialog.size(), QSize(747, 513));
        QStringList labels;
        for (QLabel* label : dialog.findChildren<QLabel*>())
            labels << label->text();
        for (const char* text : {"Application Updates", "UI Behaviour", "Due Date Settings",
                                 "Night Hours From:", "Night Hours To:", "Time Granularity:",
                                 "Default Due DateTime:", "Theme", "Application Theme:", "Files",
                                 "Config File:", "DB File:", "Tags", "Title:", "Color:"})
            QVERIFY2(labels.contains(QString::fromLatin1(text)), text);
        const std::pair<const char*, const char*> buttons[] = {
            {"btnApplicationUpdates", "Check Now!"},
            {"btnNewTag", "New"},
            {"btnSaveTag", "Save"},
            {"btnDeleteTag", "Delete"},
            {"btnCancelTag", "Cancel"},
            {"btnOK", "OK"},
            {"btnCancel", "Cancel"}};
        for (const auto& [name, text] : buttons) {
            auto* button = dialog.findChild<QPushButton*>(name);
            QVERIFY2(button, name);
            QCOMPARE(button->text(), QString::fromLatin1(text));
            QCOMPARE(button->isDefault(), QByteArray(name) == "btnOK");
        }
        QCOMPARE(dialog.findChild<QCheckBox*>("cbxCloseMinimizes")->text(),
                 QStringLiteral("Close Minimizes The Application"));
        for (const char* name : {"edNightHoursFrom", "edNightHoursTo", "edTimeGranularity"})
            QVERIFY(dialog.findChild<QSpinBox*>(name));
        for (const char* name : {"lblConfigFile", "lblDBFile", "edTagTitle"})
            QVERIFY(dialog.findChild<QLineEdit*>(name));
        for (const char* name : {"cbDefaultDueDateTime", "cbApplicationTheme", "edTagColor"})
            QVERIFY(dialog.findChild<QComboBox*>(name));
        QVERIFY(dialog.findChild<QWidget*>("pnlTagsEdit"));
        QVERIFY(dialog.findChild<QLabel*>("lblEditTag"));
        QVERIFY(dialog.findChild<QTreeView*>("vtTagsList"));

        QStringList due;
        auto* dueChoices = W<QComboBox>(dialog, "cbDefaultDueDateTime");
        for (int i = 0; i < dueChoices->count(); ++i)
            due << dueChoices->itemText(i);
        QCOMPARE(due, (QStringList{"Unplanned", "1 Hour", "4 Hours", "Tomorrow", "Exact"}));

        // The theme list: "Windows" and the 22 names; the text stays the setting.
        auto* themes = W<QComboBox>(dialog, "cbApplicationTheme");
        QCOMPARE(themes->count(), 23);
        QCOMPARE(themes->itemText(0), QStringLiteral("Windows"));
        QCOMPARE(themes->itemText(1), QStringLiteral("Amakrits"));
        QCOMPARE(themes->itemText(22), QStringLiteral("Turquoise Gray"));
        QCOMPARE(TfrmSettings::ThemeNames().size(), 23);
        QCOMPARE(themes->currentText(), QStringLiteral("My Own Theme"));
        QVERIFY(themes->isEditable());

        // The editor starts idle with the tags listed in table order.
        QCOMPARE(ListTitles(dialog), (QStringList{"Home", "Work"}));
        QVERIFY(W<QPushButton>(dialog, "btnOK")->hasFocus());
        ExpectIdle(dialog);
    }

    // The dialog offers the desktop's look and exactly the themes the program carries.
    void themeNamesMatchTheThemes()
    {
        QCOMPARE(TfrmSettings::ThemeNames(), QStringList{kDesktopThemeName} + TasksThemeNames());
    }

    void numberRanges()
    {
        TfrmSettings dialog;
        QCOMPARE(W<QSpinBox>(dialog, "edNightHoursFrom")->minimum(), 0);
        QCOMPARE(W<QSpinBox>(dialog, "edNightHoursFrom")->maximum(), 23);
        QCOMPARE(W<QSpinBox>(dialog, "edNightHoursTo")->minimum(), 0);
        QCOMPARE(W<QSpinBox>(dialog, "edNightHoursTo")->maximum(), 23);
        QCOMPARE(W<QSpinBox>(dialog, "edTimeGranularity")->minimum(), 1);
        QCOMPARE(W<QSpinBox>(dialog, "edTimeGranularity")->maximum(), 1440);
        QCOMPARE(W<QSpinBox>(dialog, "edNightHoursFrom")->singleStep(), 1);
    }

    void settingsToControls_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("granularity");
        QTest::addColumn<int>("due");
        QTest::addColumn<bool>("closeMinimizes");
        QTest::addColumn<int>("shownFrom");
        QTest::addColumn<int>("shownTo");
        QTest::addColumn<int>("shownGranularity");
        QTest::addColumn<int>("shownDue");
        QTest::newRow("in range") << 21 << 6 << 15 << 3 << false << 21 << 6 << 15 << 3;
        QTest::newRow("bounds") << 0 << 23 << 1440 << 4 << true << 0 << 23 << 1440 << 4;
        QTest::newRow("out of range shows the defaults")
            << 30 << -1 << 0 << 9 << true << 22 << 7 << 10 << -1;
    }
    void settingsToControls()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, granularity);
        QFETCH(int, due);
        QFETCH(bool, closeMinimizes);
        night_hours_from = from;
        night_hours_to = to;
        time_granularity = granularity;
        default_duedatetime = due;
        close_minimizes = closeMinimizes;
        theme = "Carbon";
        db_file = "%APPDATA%\\BEXO\\other.db";
        TfrmSettings dialog;
        dialog.SettingsToControls();
        QTEST(W<QSpinBox>(dialog, "edNightHoursFrom")->value(), "shownFrom");
        QTEST(W<QSpinBox>(dialog, "edNightHoursTo")->value(), "shownTo");
        QTEST(W<QSpinBox>(dialog, "edTimeGranularity")->value(), "shownGranularity");
        QTEST(W<QComboBox>(dialog, "cbDefaultDueDateTime")->currentIndex(), "shownDue");
        QCOMPARE(W<QCheckBox>(dialog, "cbxCloseMinimizes")->isChecked(), closeMinimizes);
        QCOMPARE(W<QComboBox>(dialog, "cbApplicationTheme")->currentText(),
                 QStringLiteral("Carbon"));
        // Expanded and with the platform's separators, while the setting
        // keeps the backslashes it was stored with.
        auto* configFile = W<QLineEdit>(dialog, "lblConfigFile");
        auto* dbFile = W<QLineEdit>(dialog, "lblDBFile");
        QCOMPARE(configFile->text(), NativePath(FEnv->Path() + "/BEXO/config.ini"));
        QCOMPARE(dbFile->text(), NativePath(FEnv->Path() + "/BEXO/other.db"));
        QVERIFY(!dbFile->text().contains(QDir::separator() == '/' ? '\\' : '/'));
        QCOMPARE(db_file, QStringLiteral("%APPDATA%\\BEXO\\other.db"));
        QVERIFY(configFile->isReadOnly());
        QVERIFY(dbFile->isReadOnly());
    }

    void okSavesCancelKeeps_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::newRow("OK") << true;
        QTest::newRow("Cancel") << false;
    }
    void okSavesCancelKeeps()
    {
        QFETCH(bool, ok);
        const QByteArray before = ReadConfig();
        QVERIFY(before.contains("night_hours_from=22"));
        WhenShown([ok](TfrmSettings* aDialog) {
            TypeInto(W<QSpinBox>(*aDialog, "edNightHoursFrom"), "5");
            TypeInto(W<QSpinBox>(*aDialog, "edNightHoursTo"), "8");
            TypeInto(W<QSpinBox>(*aDialog, "edTimeGranularity"), "30");
            W<QComboBox>(*aDialog, "cbDefaultDueDateTime")->setCurrentIndex(2);
            auto* themes = W<QComboBox>(*aDialog, "cbApplicationTheme");
            themes->setCurrentIndex(themes->findText("Metro Blue"));
            QTest::mouseClick(W<QCheckBox>(*aDialog, "cbxCloseMinimizes"), Qt::LeftButton);
            QTest::mouseClick(W<QPushButton>(*aDialog, ok ? "btnOK" : "btnCancel"), Qt::LeftButton);
        });
        QCOMPARE(ShowSettingsDialog(), ok);
        if (ok) {
            QCOMPARE(night_hours_from, 5);
            QCOMPARE(night_hours_to, 8);
            QCOMPARE(time_granularity, 30);
            QCOMPARE(default_duedatetime, 2);
            QCOMPARE(theme, QStringLiteral("Metro Blue"));
            QCOMPARE(close_minimizes, false);
            const QByteArray saved = ReadConfig();
            for (const char* line :
                 {"night_hours_from=5", "night_hours_to=8", "time_granularity=30",
                  "default_duedatetime=2", "theme=Metro Blue", "close_minimizes=0"})
                QVERIFY2(saved.contains(line), line);
            // A new settings object reads the same values from the file.
            ReleaseTasksSettings();
            ResetTasksSettingsVariables();
            GetTasksSettings();
            QCOMPARE(night_hours_from, 5);
            QCOMPARE(theme, QStringLiteral("Metro Blue"));
        } else {
            QCOMPARE(night_hours_from, 22);
            QCOMPARE(night_hours_to, 7);
            QCOMPARE(time_granularity, 10);
            QCOMPARE(default_duedatetime, 0);
            QCOMPARE(theme, QStringLiteral("Turquoise Gray"));
            QCOMPARE(close_minimizes, true);
            QCOMPARE(ReadConfig(), before);
        }
    }

    void typedNumbers_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("stored");
        QTest::newRow("hour") << "edNightHoursFrom"
                              << "5" << 5;
        QTest::newRow("hour too large") << "edNightHoursFrom"
                                        << "99" << 9;
        QTest::newRow("minus sign refused") << "edNightHoursTo"
                                            << "-3" << 3;
        QTest::newRow("lone minus sign") << "edNightHoursTo"
                                         << "-" << 7;
        QTest::newRow("decimal separator refused") << "edNightHoursTo"
                                                   << "1.5" << 15;
        QTest::newRow("letters refused") << "edNightHoursFrom"
                                         << "ab" << 22;
        QTest::newRow("granularity") << "edTimeGranularity"
                                     << "1440" << 1440;
        QTest::newRow("granularity too large") << "edTimeGranularity"
                                               << "2000" << 200;
        QTest::newRow("granularity zero") << "edTimeGranularity"
                                          << "0" << 10;
        QTest::newRow("granularity decimal") << "edTimeGranularity"
                                             << "2,5" << 25;
    }
    void typedNumbers()
    {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(int, stored);
        TfrmSettings dialog;
        dialog.SettingsToControls();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* spin = dialog.findChild<QSpinBox*>(field);
        QVERIFY(spin);
        TypeInto(spin, typed);
        dialog.ControlsToSettings();
        const int value = field == "edNightHoursFrom" ? night_hours_from
                          : field == "edNightHoursTo" ? night_hours_to
                                                      : time_granularity;
        QCOMPARE(value, stored);
        QCOMPARE(NightHoursFrom(), night_hours_from);
        QCOMPARE(NightHoursTo(), night_hours_to);
        QCOMPARE(TimeGranularity(), time_granularity);
    }

    void arrowKeysStepWithinRange()
    {
        night_hours_from = 22;
        time_granularity = 2;
        TfrmSettings dialog;
        dialog.SettingsToControls();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        W<QSpinBox>(dialog, "edNightHoursFrom")->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(W<QSpinBox>(dialog, "edNightHoursFrom"), Qt::Key_Up);
        QCOMPARE(W<QSpinBox>(dialog, "edNightHoursFrom")->value(), 23);
        W<QSpinBox>(dialog, "edTimeGranularity")->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(W<QSpinBox>(dialog, "edTimeGranularity"), Qt::Key_Down);
        QCOMPARE(W<QSpinBox>(dialog, "edTimeGranularity")->value(), 1);
    }

    void typedThemeAndNoDueSelection()
    {
        default_duedatetime = 7;
        WhenShown([](TfrmSettings* aDialog) {
            TypeInto(W<QComboBox>(*aDialog, "cbApplicationTheme")->lineEdit(), "Not A Theme");
            W<QPushButton>(*aDialog, "btnOK")->click();
        });
        QVERIFY(ShowSettingsDialog());
        QCOMPARE(theme, QStringLiteral("Not A Theme"));
        QCOMPARE(default_duedatetime, -1);
        QVERIFY(ReadConfig().contains("default_duedatetime=-1"));
    }

    void enterPressesOK_data()
    {
        QTest::addColumn<QString>("field");
        QTest::newRow("number field") << "edNightHoursFrom";
        QTest::newRow("granularity") << "edTimeGranularity";
        QTest::newRow("theme") << "cbApplicationTheme";
        QTest::newRow("tag title") << "edTagTitle";
    }
    void enterPressesOK()
    {
        QFETCH(QString, field);
        WhenShown([field](TfrmSettings* aDialog) {
            aDialog->NewTag();
            QTest::keyClicks(W<QLineEdit>(*aDialog, "edTagTitle"), "unsaved");
            QWidget* target = aDialog->findChild<QWidget*>(field);
            if (auto* combo = qobject_cast<QComboBox*>(target))
                target = combo->lineEdit();
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Return);
            // Still open when Enter did not close it: close it as Cancel.
            if (aDialog->isVisible())
                aDialog->reject();
        });
        QVERIFY(ShowSettingsDialog());
        // The tag in the editor was not saved.
        QCOMPARE(Count("select count(*) as n from tags"), 2);
    }

    // Enter on a focused button presses that button, not "OK"; the focus back
    // in a field makes Enter press "OK" again.
    void enterOnAFocusedButton()
    {
        WhenShown([](TfrmSettings* aDialog) {
            aDialog->NewTag();
            QTest::keyClicks(W<QLineEdit>(*aDialog, "edTagTitle"), "by keyboard");
            W<QPushButton>(*aDialog, "btnSaveTag")->setFocus();
            QTest::keyClick(W<QPushButton>(*aDialog, "btnSaveTag"), Qt::Key_Return);
            QVERIFY(aDialog->isVisible());
            QVERIFY(!aDialog->TagEditing());
            // The mouse leaves the focus on "New"; the editor takes it away again.
            QTest::mouseClick(W<QPushButton>(*aDialog, "btnNewTag"), Qt::LeftButton);
            QTest::keyClicks(W<QLineEdit>(*aDialog, "edTagTitle"), "unsaved");
            QTest::keyClick(W<QLineEdit>(*aDialog, "edTagTitle"), Qt::Key_Return);
            if (aDialog->isVisible())
                aDialog->reject();
        });
        QVERIFY(ShowSettingsDialog());
        QCOMPARE(Count("select count(*) as n from tags where title='by keyboard'"), 1);
        QCOMPARE(Count("select count(*) as n from tags"), 3);

        WhenShown([](TfrmSettings* aDialog) {
            TypeInto(W<QSpinBox>(*aDialog, "edNightHoursFrom"), "3");
            W<QPushButton>(*aDialog, "btnCancel")->setFocus();
            QTest::keyClick(W<QPushButton>(*aDialog, "btnCancel"), Qt::Key_Return);
            if (aDialog->isVisible())
                aDialog->accept();
        });
        QVERIFY(!ShowSettingsDialog());
        QCOMPARE(night_hours_from, 22);
    }

    void checkNowKeepsDialogOpen()
    {
        TfrmSettings dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(W<QPushButton>(dialog, "btnApplicationUpdates"), Qt::LeftButton);
        QVERIFY(dialog.isVisible());
        QCOMPARE(TkvdMessageBox::Shown().size(), 0);
    }

    void colourList()
    {
        TfrmSettings dialog;
        const std::pair<const char*, int> named[] = {
            {"clBlack", 0x000000}, {"clMaroon", 0x000080},     {"clGreen", 0x008000},
            {"clOlive", 0x008080}, {"clNavy", 0x800000},       {"clPurple", 0x800080},
            {"clTeal", 0x808000},  {"clGray", 0x808080},       {"clSilver", 0xC0C0C0},
            {"clRed", 0x0000FF},   {"clLime", 0x00FF00},       {"clYellow", 0x00FFFF},
            {"clBlue", 0xFF0000},  {"clFuchsia", 0xFF00FF},    {"clAqua", 0xFFFF00},
            {"clWhite", 0xFFFFFF}, {"clMoneyGreen", 0xC0DCC0}, {"clSkyBlue", 0xF0CAA6},
            {"clCream", 0xF0FBFF}, {"clMedGray", 0xA4A0A0}};
        QComboBox* colors = W<QComboBox>(dialog, "edTagColor");
        for (int i = 0; i < 20; ++i) {
            QCOMPARE(colors->itemText(i), QString::fromLatin1(named[i].first));
            QCOMPARE(colors->itemData(i).toInt(), named[i].second);
            QVERIFY(!colors->itemIcon(i).isNull());
        }
        QVERIFY(colors->count() > 20);
        for (int i = 20; i < colors->count(); ++i)
            QCOMPARE(static_cast<uint32_t>(colors->itemData(i).toInt()) >> 24, 0xFFu);
        QCOMPARE(colors->itemText(20 + 8), QStringLiteral("clWindowText"));
        QCOMPARE(colors->itemData(20 + 8).toInt(), static_cast<int>(0xFF000008));
    }

    // ---- tag editor

    void newTagThenCancel()
    {
        TfrmSettings dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        ExpectIdle(dialog);
        dialog.SelectTagColor(0x0000FF);
        QTest::mouseClick(W<QPushButton>(dialog, "btnNewTag"), Qt::LeftButton);
        QVERIFY(dialog.TagEditing());
        QVERIFY(dialog.TagCreating());
        QCOMPARE(dialog.TagId().size(), 16);
        QVERIFY(W<QWidget>(dialog, "pnlTagsEdit")->isVisible());
        QCOMPARE(W<QLabel>(dialog, "lblEditTag")->text(), QStringLiteral("Creating Tag"));
        QVERIFY(W<QLineEdit>(dialog, "edTagTitle")->text().isEmpty());
        QVERIFY(W<QLineEdit>(dialog, "edTagTitle")->hasFocus());
        QCOMPARE(dialog.SelectedTagColor(), 0);
        ExpectButtons(dialog, true);
        QTest::keyClicks(W<QLineEdit>(dialog, "edTagTitle"), "dropped");
        QTest::mouseClick(W<QPushButton>(dialog, "btnCancelTag"), Qt::LeftButton);
        ExpectIdle(dialog);
        QCOMPARE(Count("select count(*) as n from tags"), 2);
    }

    void saveNewTag_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("row");
        QTest::newRow("plain") << "Errand" << 0;
        QTest::newRow("empty title at the top") << "" << 0;
        QTest::newRow("any script") << "Ωμέγα 日本 😀" << 2;
        QTest::newRow("quotes") << "it's \"x\"; --" << 2;
        QTest::newRow("very long") << QString(10000, QChar('z')) << 2;
    }
    void saveNewTag()
    {
        QFETCH(QString, title);
        QFETCH(int, row);
        TfrmSettings dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(W<QPushButton>(dialog, "btnNewTag"), Qt::LeftButton);
        const QString id = dialog.TagId();
        W<QLineEdit>(dialog, "edTagTitle")->setText(title);
        auto* colors = W<QComboBox>(dialog, "edTagColor");
        colors->setCurrentIndex(colors->findText("clRed"));
        QTest::mouseClick(W<QPushButton>(dialog, "btnSaveTag"), Qt::LeftButton);
        ExpectIdle(dialog);
        QCOMPARE(Count("select count(*) as n from tags"), 3);
        QCOMPARE(Value(QString("select title as v from tags where tagid='%1'").arg(id)), title);
        QCOMPARE(Value(QString("select color as v from tags where tagid='%1'").arg(id)),
                 QStringLiteral("255"));
        QCOMPARE(Value(QString("select image as v from tags where tagid='%1'").arg(id)),
                 QStringLiteral("<null>"));
        QVERIFY(Value(QString("select createddt as v from tags where tagid='%1'").arg(id))
                    .startsWith("20"));
        QCOMPARE(ListTitles(dialog).size(), 3);
        QCOMPARE(ListTitles(dialog).at(row), title);
        QAbstractItemModel* model = W<QTreeView>(dialog, "vtTagsList")->model();
        QCOMPARE(model->index(row, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(255, 0, 0));
    }

    void editTagByDoubleClick()
    {
        TfrmSettings dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        DoubleClickRow(dialog, 1);
        QVERIFY(dialog.TagEditing());
        QVERIFY(!dialog.TagCreating());
        QCOMPARE(dialog.TagId(), QString::fromLatin1(kWork));
        QCOMPARE(W<QLabel>(dialog, "lblEditTag")->text(), QStringLiteral("Editing Tag"));
        QCOMPARE(W<QLineEdit>(dialog, "edTagTitle")->text(), QStringLiteral("Work"));
        QCOMPARE(W<QComboBox>(dialog, "edTagColor")->currentText(), QStringLiteral("clNavy"));
        ExpectButtons(dialog, true);
        W<QLineEdit>(dialog, "edTagTitle")->setText("Job");
        auto* colors = W<QComboBox>(dialog, "edTagColor");
        colors->setCurrentIndex(colors->findText("clPurple"));
        QTest::mouseClick(W<QPushButton>(dialog, "btnSaveTag"), Qt::LeftButton);
        ExpectIdle(dialog);
        QCOMPARE(Value(QString("select title as v from tags where tagid='%1'").arg(kWork)),
                 QStringLiteral("Job"));
        QCOMPARE(Value(QString("select color as v from tags where tagid='%1'").arg(kWork)),
                 QString::number(0x800080));
        // The tasks keep the tag.
        QCOMPARE(Count(QString("select count(*) as n from tags_tasks where tagid='%1'").arg(kWork)),
                 1);
        QCOMPARE(ListTitles(dialog), (QStringList{"Home", "Job"}));
    }

    // The editor panel appears above the list and pushes it down, so the release
    // that ends a double click on the top row lands above the rows; it must not
    // close the editor that the double click opened.
    void releaseAfterDoubleClickKeepsTheEditor()
    {
        TfrmSettings dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* list = W<QTreeView>(dialog, "vtTagsList");
        QWidget* viewport = list->viewport();
        const QPoint global = viewport->mapToGlobal(RowCenter(dialog, 0));
        DoubleClickRow(dialog, 0);
        QVERIFY(dialog.TagEditing());
        QApplication::processEvents();
        const QPoint release = viewport->mapFromGlobal(global);
        QVERIFY(!list->indexAt(release).isValid());
        QTest::mouseRelease(viewport, Qt::LeftButton, Qt::NoModifier, release);
        QVERIFY(dialog.TagEditing());
        QCOMPARE(dialog.TagId(), QString::fromLatin1(kHome));
        // The next click below the rows is a click in the list again.
        const QPoint below(viewport->width() / 2, viewport->height() - 5);
        QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, below);
        ExpectIdle(dialog);
    }

    void colourNotInTheListIsKept()
    {
        Run(QString("update tags set color=%1 where tagid='%2'").arg(0x123456).arg(kHome));
        TfrmSettings dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.EditTag(kHome);
        QCOMPARE(dialog.SelectedTagColor(), 0x123456);
        dialog.SaveTag();
        QCOMPARE(Value(QString("select color as v from tags where tagid='%1'").arg(kHome)),
                 QString::number(0x123456));
    }

    void singleClickDropsTheEdit_data()
    {
        QTest::addColumn<bool>("creating");
        QTest::addColumn<bool>("onRow");
        QTest::newRow("new tag, row") << true << true;
        QTest::newRow("edited tag, row") << false << true;
        QTest::newRow("new tag, below the rows") << true << false;
        QTest::newRow("edited tag, below the rows") << false << false;
    }
    void singleClickDropsTheEdit()
    {
        QFETCH(bool, creating);
        QFETCH(bool, onRow);
        TfrmSettings dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        if (creating)
            QTest::mouseClick(W<QPushButton>(dialog, "btnNewTag"), Qt::LeftButton);
        else
            dialog.EditTag(kHome);
        QTest::keyClicks(W<QLineEdit>(dialog, "edTagTitle"), "typed");
        QVERIFY(dialog.TagEditing());
        if (onRow) {
            ClickRow(dialog, 1);
        } else {
            auto* list = W<QTreeView>(dialog, "vtTagsList");
            QWidget* viewport = list->viewport();
            const QPoint below(viewport->width() / 2, viewport->height() - 5);
            QVERIFY(!list->indexAt(below).isValid());
            QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, below);
        }
        ExpectIdle(dialog);
        QCOMPARE(Count("select count(*) as n from tags"), 2);
        QCOMPARE(Count("select count(*) as n from tags where title='typed'"), 0);
    }

    void deleteSelectedTag()
    {
        TfrmSettings dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // Without a selection nothing happens.
        QTest::mouseClick(W<QPushButton>(dialog, "btnDeleteTag"), Qt::LeftButton);
        QCOMPARE(Count("select count(*) as n from tags"), 2);
        ClickRow(dialog, 0);
        QTest::mouseClick(W<QPushButton>(dialog, "btnDeleteTag"), Qt::LeftButton);
        ExpectIdle(dialog);
        QCOMPARE(Count("select count(*) as n from tags"), 1);
        QCOMPARE(Count(QString("select count(*) as n from tags_tasks where tagid='%1'").arg(kHome)),
                 0);
        QCOMPARE(Count(QString("select count(*) as n from tags_tasks where tagid='%1'").arg(kWork)),
                 1);
        QCOMPARE(Count("select count(*) as n from tasks"), 1);
        QCOMPARE(ListTitles(dialog), QStringList{"Work"});
        QVERIFY(dialog.TagsControler()->GetSelected() == nullptr);
    }

    void deleteBindsTheId()
    {
        TfrmSettings dialog;
        // Spliced into the statement this id would match every row.
        QVERIFY(dialog.DeleteTagById("x\" or \"1\"=\"1"));
        QCOMPARE(Count("select count(*) as n from tags"), 2);
        QCOMPARE(Count("select count(*) as n from tags_tasks"), 2);
        Run("insert into tags (tagid, title) values ('a\"b''c', 'odd')");
        QVERIFY(dialog.DeleteTagById("a\"b'c"));
        QCOMPARE(Count("select count(*) as n from tags"), 2);
    }

    void failedSaveKeepsTheEditor()
    {
        Run("create trigger refuse_tags before insert on tags begin select raise(abort, "
            "'refused'); end");
        TfrmSettings dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseClick(W<QPushButton>(dialog, "btnNewTag"), Qt::LeftButton);
        const QString id = dialog.TagId();
        W<QLineEdit>(dialog, "edTagTitle")->setText("Kept");
        QTest::mouseClick(W<QPushButton>(dialog, "btnSaveTag"), Qt::LeftButton);
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        QCOMPARE(TkvdMessageBox::Shown().first().Kind, TMsgKind::Error);
        QVERIFY(dialog.TagEditing());
        QVERIFY(dialog.TagCreating());
        QCOMPARE(dialog.TagId(), id);
        QCOMPARE(W<QLineEdit>(dialog, "edTagTitle")->text(), QStringLiteral("Kept"));
        QVERIFY(W<QWidget>(dialog, "pnlTagsEdit")->isVisible());
        QCOMPARE(Count("select count(*) as n from tags"), 2);
        // Once the store accepts it, the same input is saved.
        Run("drop trigger refuse_tags");
        QTest::mouseClick(W<QPushButton>(dialog, "btnSaveTag"), Qt::LeftButton);
        ExpectIdle(dialog);
        QCOMPARE(Value(QString("select title as v from tags where tagid='%1'").arg(id)),
                 QStringLiteral("Kept"));
    }

    void failedDeleteDeletesNothing()
    {
        Run("create trigger refuse_links before delete on tags_tasks begin select raise(abort, "
            "'refused'); end");
        TfrmSettings dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        ClickRow(dialog, 0);
        QTest::mouseClick(W<QPushButton>(dialog, "btnDeleteTag"), Qt::LeftButton);
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        QCOMPARE(Count("select count(*) as n from tags"), 2);
        QCOMPARE(Count("select count(*) as n from tags_tasks"), 2);
        QVERIFY(!GetTasksDB()->Connection().InTransaction());
        QCOMPARE(ListTitles(dialog), (QStringList{"Home", "Work"}));
    }

    void tagChangesStayAfterCancel()
    {
        WhenShown([](TfrmSettings* aDialog) {
            aDialog->EditTag(kHome);
            W<QLineEdit>(*aDialog, "edTagTitle")->setText("House");
            W<QPushButton>(*aDialog, "btnSaveTag")->click();
            TypeInto(W<QSpinBox>(*aDialog, "edNightHoursFrom"), "3");
            W<QPushButton>(*aDialog, "btnCancel")->click();
        });
        QVERIFY(!ShowSettingsDialog());
        QCOMPARE(Value(QString("select title as v from tags where tagid='%1'").arg(kHome)),
                 QStringLiteral("House"));
        QCOMPARE(night_hours_from, 22);
    }

    void closingByFrameIsCancel()
    {
        WhenShown([](TfrmSettings* aDialog) {
            TypeInto(W<QSpinBox>(*aDialog, "edNightHoursFrom"), "3");
            aDialog->close();
        });
        QVERIFY(!ShowSettingsDialog());
        QCOMPARE(night_hours_from, 22);
    }

    // While "Check Now!" waits, a modal box with Cancel stands in front: a
    // click on the dialog is refused where the user sees why, and is not held
    // back to be applied (or dropped) later. Cancel ends the wait with no
    // message; then the dialog answers clicks at once and a new check runs to
    // its answer.
    void checkNowWaitsBehindACancellableBox()
    {
        if (!FPeerUp && FWhyNoPeer.isEmpty())
            StartPeer();
        REQUIRE_PEER();
        // The service's pipe goes into a folder of this test alone.
        QTemporaryDir run;
        QVERIFY(run.isValid());
        struct TServicesGuard
        {
            QByteArray RuntimeDir = qgetenv("XDG_RUNTIME_DIR");
            bool HadRuntimeDir = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
            ~TServicesGuard()
            {
                ReleaseServices();
                SetUpdateUI(nullptr);
                qunsetenv("ULMORA_UPDATE_URL");
                if (HadRuntimeDir)
                    qputenv("XDG_RUNTIME_DIR", RuntimeDir);
                else
                    qunsetenv("XDG_RUNTIME_DIR");
            }
        } servicesGuard;
        qputenv("XDG_RUNTIME_DIR", run.path().toUtf8());
        qputenv("ULMORA_UPDATE_URL", FPeer.Url("/bad/silent").toUtf8());
        StartServices(QStringLiteral("kvd_bexo"), QStringLiteral("1.1.9.9"));
        SetUpdateUI(std::make_shared<TkvdUpdateDialogs>());
        FPeer.TakeReceived();

        TfrmSettings dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QString boxText;
        bool blockedInFront = false;
        bool clickAppliedWhileWaiting = true;
        QJsonObject sent;
        TWaitBoxWatch watch([&](QDialog* aBox) {
            if (watch.Shows > 1)
                return;
            boxText = WaitBoxText(aBox);
            QTimer::singleShot(0, this, [&, box = QPointer<QDialog>(aBox)] {
                sent = FPeer.NextReceived();
                blockedInFront =
                    box && box->isVisible() && QApplication::activeModalWidget() == box.data();
                UserClick(dialog, W<QPushButton>(dialog, "btnNewTag"));
                clickAppliedWhileWaiting = dialog.TagEditing();
                QTest::mouseClick(WaitBoxCancel(box), Qt::LeftButton);
            });
        });
        UserClick(dialog, W<QPushButton>(dialog, "btnApplicationUpdates"));
        QCOMPARE(boxText, QStringLiteral("Checking for updates..."));
        QVERIFY(sent.value("xml").toString().contains("kvd_application_getupdate"));
        QVERIFY(blockedInFront);
        QVERIFY(!clickAppliedWhileWaiting);
        QVERIFY(!TkvdWaitBox::Current());
        QTest::qWait(100);
        QVERIFY(!dialog.TagEditing());
        QVERIFY(TkvdMessageBox::Shown().isEmpty());
        QVERIFY(dialog.isVisible());

        UserClick(dialog, W<QPushButton>(dialog, "btnNewTag"));
        QVERIFY(dialog.TagEditing());
        dialog.CancelTagEdit();

        qputenv("ULMORA_UPDATE_URL", FPeer.Endpoint().toUtf8());
        QVERIFY(FPeer.SetReply("getupdate", "OK;1.1.9.9;x"));
        UserClick(dialog, W<QPushButton>(dialog, "btnApplicationUpdates"));
        QCOMPARE(watch.Shows, 2);
        QVERIFY(!TkvdWaitBox::Current());
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        QCOMPARE(TkvdMessageBox::Shown().first().Text,
                 QStringLiteral("Application is up to date!"));
    }

    // A tag save or delete that the store refuses says what failed, then why.
    void tagFailuresNameTheirReason_data()
    {
        QTest::addColumn<bool>("deleting");
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("text");
        QTest::newRow("save") << false << "before insert on tags"
                              << "The tag could not be saved.\n\nThe reason: tags are frozen.";
        QTest::newRow("delete, the tag")
            << true << "before delete on tags"
            << "The tag could not be deleted.\n\nThe reason: tags are frozen.";
        QTest::newRow("delete, its links")
            << true << "before delete on tags_tasks"
            << "The tag could not be deleted.\n\nThe reason: tags are frozen.";
    }

    void tagFailuresNameTheirReason()
    {
        QFETCH(bool, deleting);
        QFETCH(QString, trigger);
        QFETCH(QString, text);
        Run(QString("create trigger refuse %1 begin select raise(abort, 'tags are frozen'); end")
                .arg(trigger));
        TfrmSettings dialog;
        if (deleting) {
            QVERIFY(!dialog.DeleteTagById(kHome));
        } else {
            W<QPushButton>(dialog, "btnNewTag")->click();
            W<QLineEdit>(dialog, "edTagTitle")->setText("New");
            QVERIFY(!dialog.SaveTag());
        }
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        QCOMPARE(TkvdMessageBox::Shown().first().Kind, TMsgKind::Error);
        QCOMPARE(TkvdMessageBox::Shown().first().Text, QString(text));
    }

    // ---- start at login
    // The entry tests below read and write the XDG autostart file; other
    // platforms' entries have tests of their own (Windows: test_platform_win).
#define REQUIRE_START_AT_LOGIN_ENTRY()                                                             \
    if (!StartAtLoginEntry().endsWith(QLatin1String(".desktop")))                                  \
    QSKIP("the start-at-login entry of this platform is no XDG desktop entry")

    void startAtLoginCheckBox()
    {
        TfrmSettings dialog;
        auto* box = dialog.findChild<QCheckBox*>("cbxStartAtLogin");
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("Start Ulmora when I log in"));
        if (!StartAtLoginSupported()) {
            QVERIFY(box->isHidden());
            return;
        }
        QVERIFY(!box->isHidden());
        // Under "UI Behaviour", right below "Close Minimizes The Application".
        auto* closeMinimizes = W<QCheckBox>(dialog, "cbxCloseMinimizes");
        QLayout* layout = closeMinimizes->parentWidget()->layout();
        QCOMPARE(layout->indexOf(box), layout->indexOf(closeMinimizes) + 1);
        REQUIRE_START_AT_LOGIN_ENTRY();
        QCOMPARE(StartAtLoginEntry(),
                 FEnv->File("xdgconfig") + "/autostart/io.github.ulmora.Ulmora.desktop");
    }

    // The box shows whether the entry is there and in effect; the desktop
    // switches an entry off without removing it.
    void startAtLoginReadsTheEntry_data()
    {
        QTest::addColumn<QByteArray>("entry"); // null: no file
        QTest::addColumn<bool>("checked");
        const QByteArray head =
            "[Desktop Entry]\nType=Application\nName=Ulmora\nExec=ulmora --hidden\n";
        QTest::newRow("no entry") << QByteArray() << false;
        QTest::newRow("entry") << head << true;
        QTest::newRow("switched off") << head + "Hidden=true\n" << false;
        QTest::newRow("switched off, blanks") << head + "Hidden = true\n" << false;
        QTest::newRow("switched off by GNOME") << head + "X-GNOME-Autostart-enabled=false\n"
                                               << false;
        QTest::newRow("switched on by GNOME") << head + "X-GNOME-Autostart-enabled=true\n" << true;
        QTest::newRow("Hidden=false") << head + "Hidden=false\n" << true;
        QTest::newRow("Hidden in another group")
            << head + "[Desktop Action New]\nName=New\nHidden=true\n"
            << true;
        QTest::newRow("no entry group") << QByteArray("Exec=ulmora --hidden\n") << false;
        QTest::newRow("empty file") << QByteArray("") << false;
    }
    void startAtLoginReadsTheEntry()
    {
        REQUIRE_START_AT_LOGIN_ENTRY();
        QFETCH(QByteArray, entry);
        QFETCH(bool, checked);
        if (!entry.isNull())
            WriteEntry(entry);
        QCOMPARE(StartsAtLogin(), checked);
        TfrmSettings dialog;
        dialog.SettingsToControls();
        QCOMPARE(W<QCheckBox>(dialog, "cbxStartAtLogin")->isChecked(), checked);
    }

    // "OK" with the box ticked writes the entry, which starts the program
    // hidden in the tray; the settings file keeps nothing of it.
    void okWritesTheEntry_data()
    {
        QTest::addColumn<QString>("program"); // empty: the running program
        QTest::addColumn<QString>("exec");
        QTest::newRow("the running program")
            << "" << QCoreApplication::applicationFilePath() + " --hidden";
        QTest::newRow("plain path") << "/usr/bin/ulmora"
                                    << "/usr/bin/ulmora --hidden";
        QTest::newRow("blank in the path") << "/home/anna/My Programs/ulmora"
                                           << "\"/home/anna/My Programs/ulmora\" --hidden";
        QTest::newRow("dollar") << "/opt/u$x/ulmora"
                                << "\"/opt/u\\\\$x/ulmora\" --hidden";
        QTest::newRow("quote") << "/opt/a\"b/ulmora"
                               << "\"/opt/a\\\\\"b/ulmora\" --hidden";
        QTest::newRow("backslash") << "/opt/a\\b/ulmora"
                                   << "\"/opt/a\\\\\\\\b/ulmora\" --hidden";
        QTest::newRow("percent") << "/opt/100%/ulmora"
                                 << "/opt/100%%/ulmora --hidden";
    }
    void okWritesTheEntry()
    {
        REQUIRE_START_AT_LOGIN_ENTRY();
        QFETCH(QString, program);
        QFETCH(QString, exec);
        SetStartAtLoginProgram(program);
        const QByteArray before = ReadConfig();
        WhenShown([](TfrmSettings* aDialog) {
            QVERIFY(!W<QCheckBox>(*aDialog, "cbxStartAtLogin")->isChecked());
            ClickBox(W<QCheckBox>(*aDialog, "cbxStartAtLogin"));
            QTest::mouseClick(W<QPushButton>(*aDialog, "btnOK"), Qt::LeftButton);
        });
        QVERIFY(ShowSettingsDialog());
        QCOMPARE(ReadEntry(), "[Desktop Entry]\nType=Application\nName=Ulmora\n"
                              "Comment=To-do list in the tray\nExec=" +
                                  exec.toUtf8() +
                                  "\nIcon=io.github.ulmora.Ulmora\nTerminal=false\n");
        QVERIFY(StartsAtLogin());
        QCOMPARE(ReadConfig(), before);
        QVERIFY(TkvdMessageBox::Shown().isEmpty());
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (!validator.isEmpty()) {
            QProcess check;
            check.setProcessChannelMode(QProcess::MergedChannels);
            check.start(validator, {StartAtLoginEntry()});
            QVERIFY(check.waitForFinished(60000));
            const QString said = QString::fromLocal8Bit(check.readAll());
            QVERIFY2(check.exitCode() == 0 && said.trimmed().isEmpty(), qPrintable(said));
        }
    }

    void okRemovesTheEntry()
    {
        REQUIRE_START_AT_LOGIN_ENTRY();
        WriteEntry("[Desktop Entry]\nType=Application\nName=Ulmora\nExec=ulmora --hidden\n");
        const QByteArray before = ReadConfig();
        WhenShown([](TfrmSettings* aDialog) {
            QVERIFY(W<QCheckBox>(*aDialog, "cbxStartAtLogin")->isChecked());
            ClickBox(W<QCheckBox>(*aDialog, "cbxStartAtLogin"));
            QTest::mouseClick(W<QPushButton>(*aDialog, "btnOK"), Qt::LeftButton);
        });
        QVERIFY(ShowSettingsDialog());
        QVERIFY(!QFile::exists(StartAtLoginEntry()));
        QVERIFY(!StartsAtLogin());
        QCOMPARE(ReadConfig(), before);
    }

    // "Cancel" leaves the entry as it was, whatever the box says; "OK" with
    // the box untouched does not rewrite the entry the user may have edited.
    void entryStaysUnlessChanged_data()
    {
        QTest::addColumn<bool>("entry");
        QTest::addColumn<bool>("click");
        QTest::addColumn<bool>("ok");
        QTest::newRow("tick, Cancel") << false << true << false;
        QTest::newRow("untick, Cancel") << true << true << false;
        QTest::newRow("untouched, OK") << true << false << true;
        QTest::newRow("untouched without entry, OK") << false << false << true;
    }
    void entryStaysUnlessChanged()
    {
        REQUIRE_START_AT_LOGIN_ENTRY();
        QFETCH(bool, entry);
        QFETCH(bool, click);
        QFETCH(bool, ok);
        const QByteArray own = "[Desktop Entry]\nType=Application\nName=Mine\nExec=/my/ulmora "
                               "--hidden -style Fusion\n";
        if (entry)
            WriteEntry(own);
        WhenShown([click, ok](TfrmSettings* aDialog) {
            if (click)
                ClickBox(W<QCheckBox>(*aDialog, "cbxStartAtLogin"));
            QTest::mouseClick(W<QPushButton>(*aDialog, ok ? "btnOK" : "btnCancel"), Qt::LeftButton);
        });
        QCOMPARE(ShowSettingsDialog(), ok);
        if (entry)
            QCOMPARE(ReadEntry(), own);
        else
            QVERIFY(!QFile::exists(StartAtLoginEntry()));
    }

    // The entry's folder: $XDG_CONFIG_HOME when it is an absolute path,
    // otherwise ~/.config.
    void entryFolder_data()
    {
        QTest::addColumn<QByteArray>("configHome"); // null: unset
        QTest::addColumn<QString>("folder");        // under the test's folder
        QTest::newRow("set") << QByteArray("/xdg") << "/xdg/autostart";
        QTest::newRow("unset") << QByteArray() << "/home/.config/autostart";
        QTest::newRow("empty") << QByteArray("") << "/home/.config/autostart";
        QTest::newRow("relative") << QByteArray("rel/config") << "/home/.config/autostart";
    }
    void entryFolder()
    {
        REQUIRE_START_AT_LOGIN_ENTRY();
        QFETCH(QByteArray, configHome);
        QFETCH(QString, folder);
        const QByteArray home = qgetenv("HOME");
        const bool hadHome = qEnvironmentVariableIsSet("HOME");
        qputenv("HOME", FEnv->File("home").toUtf8());
        if (configHome.isNull())
            qunsetenv("XDG_CONFIG_HOME");
        else if (configHome.startsWith('/'))
            qputenv("XDG_CONFIG_HOME", FEnv->Path().toUtf8() + configHome);
        else
            qputenv("XDG_CONFIG_HOME", configHome);
        const QString entry = StartAtLoginEntry();
        QString error;
        const bool written = SetStartAtLogin(true, "/usr/bin/ulmora", error);
        if (hadHome)
            qputenv("HOME", home);
        else
            qunsetenv("HOME");
        QCOMPARE(entry, FEnv->Path() + folder + "/io.github.ulmora.Ulmora.desktop");
        QVERIFY2(written, qPrintable(error));
        QVERIFY(QFile::exists(entry));
    }

    // An entry that cannot be written or removed (a read-only folder): the
    // error names the file and the cause, the dialog stays open, and neither
    // the entry nor any setting changes.
    void entryInAReadOnlyFolder_data()
    {
        QTest::addColumn<bool>("entry");
        QTest::addColumn<QString>("text");
        QTest::newRow("write") << false
                               << "Ulmora could not set itself to start when you log in. No "
                                  "setting was saved.\n\nThe reason: could not write \"";
        QTest::newRow("remove") << true
                                << "Ulmora could not stop starting when you log in. No setting "
                                   "was saved.\n\nThe reason: could not remove \"";
    }
    void entryInAReadOnlyFolder()
    {
        REQUIRE_START_AT_LOGIN_ENTRY();
        RUN_AS_ORDINARY_USER();
        QFETCH(bool, entry);
        QFETCH(QString, text);
        const QByteArray own = "[Desktop Entry]\nType=Application\nName=Mine\nExec=ulmora\n";
        const QString folder = QFileInfo(StartAtLoginEntry()).absolutePath();
        QVERIFY(QDir().mkpath(folder));
        if (entry)
            WriteEntry(own);
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        const QByteArray before = ReadConfig();
        bool stayedOpen = false;
        WhenShown([&stayedOpen](TfrmSettings* aDialog) {
            TypeInto(W<QSpinBox>(*aDialog, "edNightHoursFrom"), "5");
            ClickBox(W<QCheckBox>(*aDialog, "cbxStartAtLogin"));
            QTest::mouseClick(W<QPushButton>(*aDialog, "btnOK"), Qt::LeftButton);
            stayedOpen = aDialog->isVisible();
            QTest::mouseClick(W<QPushButton>(*aDialog, "btnCancel"), Qt::LeftButton);
        });
        const bool accepted = ShowSettingsDialog();
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        QVERIFY(!accepted);
        QVERIFY(stayedOpen);
        QCOMPARE(TkvdMessageBox::Shown().size(), 1);
        const TkvdMessageBox::TShown shown = TkvdMessageBox::Shown().first();
        QCOMPARE(shown.Kind, TMsgKind::Error);
        QVERIFY2(shown.Text.startsWith(text) && shown.Text.contains(StartAtLoginEntry()) &&
                     shown.Text.contains("Permission denied"),
                 qPrintable(shown.Text));
        QCOMPARE(night_hours_from, 22);
        QCOMPARE(ReadConfig(), before);
        if (entry)
            QCOMPARE(ReadEntry(), own);
        else
            QVERIFY(!QFile::exists(StartAtLoginEntry()));
    }

private:
    // A click on the box's indicator: the box takes clicks on its indicator
    // and its caption only, not on the rest of its row.
    static void ClickBox(QCheckBox* aBox)
    {
        const int middle = aBox->height() / 2;
        QTest::mouseClick(aBox, Qt::LeftButton, Qt::NoModifier, QPoint(middle, middle));
    }

    static void WriteEntry(const QByteArray& aText)
    {
        QVERIFY(QDir().mkpath(QFileInfo(StartAtLoginEntry()).absolutePath()));
        QFile file(StartAtLoginEntry());
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(aText), aText.size());
    }

    static QByteArray ReadEntry()
    {
        QFile file(StartAtLoginEntry());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
    }

    // A click as the window system delivers it: through the dialog's window,
    // where a modal box in front refuses it.
    static void UserClick(TfrmSettings& aDialog, QWidget* aWidget)
    {
        QTest::mouseClick(aDialog.windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          aWidget->mapTo(&aDialog, aWidget->rect().center()));
    }

    static void ExpectButtons(TfrmSettings& aDialog, bool aEditing)
    {
        QCOMPARE(W<QPushButton>(aDialog, "btnNewTag")->isEnabled(), !aEditing);
        QCOMPARE(W<QPushButton>(aDialog, "btnDeleteTag")->isEnabled(), !aEditing);
        QCOMPARE(W<QPushButton>(aDialog, "btnSaveTag")->isEnabled(), aEditing);
        QCOMPARE(W<QPushButton>(aDialog, "btnCancelTag")->isEnabled(), aEditing);
    }

    static void ExpectIdle(TfrmSettings& aDialog)
    {
        QVERIFY(!aDialog.TagEditing());
        QVERIFY(!aDialog.TagCreating());
        QVERIFY(aDialog.TagId().isEmpty());
        QVERIFY(W<QWidget>(aDialog, "pnlTagsEdit")->isHidden());
        ExpectButtons(aDialog, false);
    }

    static QPoint RowCenter(TfrmSettings& aDialog, int aRow)
    {
        auto* list = W<QTreeView>(aDialog, "vtTagsList");
        return list->visualRect(list->model()->index(aRow, 0)).center();
    }

    static void ClickRow(TfrmSettings& aDialog, int aRow)
    {
        QTest::mouseClick(W<QTreeView>(aDialog, "vtTagsList")->viewport(), Qt::LeftButton,
                          Qt::NoModifier, RowCenter(aDialog, aRow));
    }

    static void DoubleClickRow(TfrmSettings& aDialog, int aRow)
    {
        ClickRow(aDialog, aRow);
        QTest::mouseDClick(W<QTreeView>(aDialog, "vtTagsList")->viewport(), Qt::LeftButton,
                           Qt::NoModifier, RowCenter(aDialog, aRow));
    }
};

QTEST_MAIN(TestSettingsForm)
#include "test_settings_form.moc"
