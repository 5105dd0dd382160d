// Renders the settings dialog and the task pool dialog to PNG files, with a few
// tags and lines filled in, so their layout can be looked at without a display.
// Run: QT_QPA_PLATFORM=offscreen shoot_dialogs OUTPUT_FOLDER [THEME...]
// Without themes it shoots the default look; with ULMORA_SHOOT_THEMES built in,
// each named theme is applied first and its name is added to the file names.

#include "pool/tasks_form_pool.h"
#include "settings/tasks_settings.h"
#include "settings_ui/tasks_form_settings.h"
#include "store/tasks_db.h"
#include "store/tasks_store.h"
#include "tags/tasks_tags.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_utils.h"

#ifdef ULMORA_SHOOT_THEMES
#include "resources/tasks_themes.h"
#endif

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTreeView>
#include <cstdio>

namespace {

void AddTag(const QString& aTitle, int32_t aColor)
{
    TStoredTag tag;
    tag.tagid = GenerateId();
    tag.title = aTitle;
    tag.color = aColor;
    TtasksStore::SaveTag(tag, true);
}

bool Save(QWidget& aWidget, const QString& aFile)
{
    aWidget.show();
    QApplication::processEvents();
    const bool saved = aWidget.grab().save(aFile);
    std::printf("%s %s\n", saved ? "wrote" : "FAILED", qPrintable(aFile));
    aWidget.hide();
    return saved;
}

bool Shoot(const QString& aFolder, const QString& aSuffix)
{
    bool ok = true;
    {
        TfrmSettings settings;
        settings.SettingsToControls();
        settings.show();
        QApplication::processEvents();
        TtasksTagsView* view = dynamic_cast<TtasksTagsView*>(settings.TagsControler());
        TtasksTag* tag = view ? view->TagOfRow(1) : nullptr;
        if (tag)
            settings.EditTag(tag->tagid);
        ok = Save(settings, QDir(aFolder).filePath("settings" + aSuffix + ".png")) && ok;
    }
    {
        TfrmTasksPool pool;
        auto* text = pool.findChild<QPlainTextEdit*>(QStringLiteral("memPool"));
        text->setPlainText(
            QStringLiteral("Call the plumber about the kitchen tap\nRenew the car insurance\n"
                           "Book train tickets for the conference in Lyon\n  Water the plants  "));
        ItasksTagsControler* tags = pool.TagsControler();
        for (int i = 0; i < tags->Count(); ++i) {
            TtasksTag* tag = tags->GetTagByIndex(i);
            tag->SetChecked(tag->title == QLatin1String("Home") ||
                            tag->title == QLatin1String("Urgent"));
        }
        ok = Save(pool, QDir(aFolder).filePath("pool" + aSuffix + ".png")) && ok;
    }
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Ulmora"));
    TkvdMessageBox::SetTestMode(true);
    if (argc < 2) {
        std::fprintf(stderr, "usage: shoot_dialogs OUTPUT_FOLDER [THEME...]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    QTemporaryDir appData;
    qputenv("APPDATA", appData.path().toUtf8());
    ResetEnvTableForTesting();
    GetTasksSettings();
    SetTasksDBFile(db_file);
    AddTag(QStringLiteral("Home"), 0x008000);
    AddTag(QStringLiteral("Work"), 0x800000);
    AddTag(QStringLiteral("Urgent"), 0x0000FF);
    AddTag(QStringLiteral("Shopping"), 0x808000);
    AddTag(QStringLiteral("Someday"), 0x808080);

    bool ok = true;
    if (argc == 2)
        ok = Shoot(folder, QString());
    for (int i = 2; i < argc; ++i) {
        const QString name = QString::fromLocal8Bit(argv[i]);
#ifdef ULMORA_SHOOT_THEMES
        if (!ApplyTheme(name)) {
            ok = false;
            continue;
        }
#endif
        QString suffix = "-" + name.toLower();
        suffix.replace(QLatin1Char(' '), QLatin1Char('-'));
        ok = Shoot(folder, suffix) && ok;
    }
    ReleaseTasksDB();
    ReleaseTasksSettings();
    return ok ? 0 : 1;
}
