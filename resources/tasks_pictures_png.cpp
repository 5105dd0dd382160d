// The pictures where no SVG renderer is at hand (Windows): PNGs that the build
// host rendered from the same SVG sources, at the sizes the windows draw them
// (cmake/windows_pictures.cmake). Each icon holds every size there is of it,
// so a widget picks the sharpest for its size and screen scale.

#include "resources/tasks_resources.h"

#include <QDir>
#include <QFile>

namespace {

// Every rendering of one picture, named by its size ("24.png", "48.png").
QIcon IconOfFolder(const QString& aFolder)
{
    QIcon icon;
    const QDir folder(aFolder);
    for (const QString& file : folder.entryList({QStringLiteral("*.png")}, QDir::Files))
        icon.addFile(folder.filePath(file));
    return icon;
}

} // namespace

// The PNG resources register themselves when the program starts.
void InitTasksResources() {}

QIcon TasksIcon(const QString& aName)
{
    if (!TasksIconNames().contains(aName))
        return QIcon();
    return IconOfFolder(QStringLiteral(":/icons/%1").arg(aName));
}

QIcon TasksAppIcon()
{
    return IconOfFolder(QStringLiteral(":/icons/ulmora"));
}

QPixmap TasksListBackground()
{
    return QPixmap(QStringLiteral(":/pictures/list_background/200.png"));
}
