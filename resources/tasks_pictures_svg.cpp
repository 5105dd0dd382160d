// The pictures on Linux: drawn from the SVG sources compiled into the program,
// at whatever size is asked for.

#include "resources/tasks_resources.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

// Outside any namespace, as the resource macro requires. A static library's
// resources are not registered by themselves: nothing refers to their object
// file, so the linker would drop it.
static void InitResourcesOnce()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(ulmora_resources);
        return true;
    }();
    (void)done;
}

namespace {

QPixmap RenderSvg(const QString& aPath, QSize aSize)
{
    QSvgRenderer renderer(aPath);
    QPixmap pixmap(aSize);
    pixmap.fill(Qt::transparent);
    if (!renderer.isValid())
        return QPixmap();
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

} // namespace

void InitTasksResources()
{
    InitResourcesOnce();
}

QIcon TasksIcon(const QString& aName)
{
    InitResourcesOnce();
    const QString path = QStringLiteral(":/icons/%1.svg").arg(aName);
    if (!TasksIconNames().contains(aName) || !QFile::exists(path))
        return QIcon();
    // An SVG icon is drawn at whatever size a widget asks for, sharp on any
    // screen scale.
    return QIcon(path);
}

QIcon TasksAppIcon()
{
    InitResourcesOnce();
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64})
        icon.addPixmap(RenderSvg(QStringLiteral(":/icons/ulmora.svg"), QSize(size, size)));
    return icon;
}

QPixmap TasksListBackground()
{
    InitResourcesOnce();
    return RenderSvg(QStringLiteral(":/pictures/list_background.svg"), QSize(200, 200));
}
