#include "app/tasks_ics_actions.h"

#include "ical/tasks_ics.h"
#include "util/kvd_dialogs.h"

#include <QApplication>
#include <QDir>

namespace {

QString Title()
{
    return QApplication::applicationDisplayName();
}

} // namespace

bool TtasksIcsActions::ImportAsked(QWidget* aParent)
{
    const QString path = TkvdFileDialog::GetOpenFileName(aParent, ImportCaption(), FileFilter());
    if (path.isEmpty())
        return false;
    const TIcsImportResult result = ImportIcs(path);
    if (!result.ok) {
        TkvdMessageBox::Error(aParent, result.error);
        return false;
    }
    // Refused to-dos are told as a warning, each with its reason.
    TkvdMessageBox::Show(
        aParent, result.refused.isEmpty() ? TMsgKind::Information : TMsgKind::Warning, Title(),
        QStringLiteral("Imported %1:\n%2").arg(QDir::toNativeSeparators(path), result.Summary()));
    if (result.added > 0)
        Q_EMIT TasksImported();
    return true;
}

bool TtasksIcsActions::ExportAsked(QWidget* aParent, const QStringList& aIds)
{
    const QString caption = aIds.isEmpty() ? ExportCaption() : ExportSelectedCaption();
    const QString path = TkvdFileDialog::GetSaveFileName(
        aParent, caption, FileFilter(), QDir::home().filePath(QStringLiteral("tasks.ics")));
    if (path.isEmpty())
        return false;
    const TIcsExportResult result = ExportIcs(path, aIds);
    if (!result.ok) {
        TkvdMessageBox::Error(aParent, result.error);
        return false;
    }
    TkvdMessageBox::Show(
        aParent, TMsgKind::Information, Title(),
        QStringLiteral("Exported %1 %2 to %3.")
            .arg(result.written)
            .arg(result.written == 1 ? QStringLiteral("task") : QStringLiteral("tasks"),
                 QDir::toNativeSeparators(path)));
    return true;
}
