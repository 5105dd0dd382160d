#include "settings/tasks_settings.h"
#include "store/tasks_db.h"

#include <QApplication>
#include <QMainWindow>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Ulmora"));
    QApplication::setApplicationDisplayName(QStringLiteral("Ulmora"));
    GetTasksSettings();
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Ulmora"));
    window.resize(525, 551);
    window.show();
    const int rc = app.exec();
    ReleaseTasksDB();
    ReleaseTasksSettings();
    return rc;
}
