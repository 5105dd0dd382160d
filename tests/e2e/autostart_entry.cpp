// Ticks or clears "Start Ulmora when I log in" in the real settings dialog,
// on the offscreen platform, and presses "OK", as a user does: the entry of
// the dialog's own making then starts PROGRAM (not this helper) at login.
// APPDATA and XDG_CONFIG_HOME say where the settings and the entry go.
//   autostart_entry PROGRAM on|off
// Status 0 when the dialog closed with "OK" and showed no error.

#include "settings/tasks_autostart.h"
#include "settings/tasks_settings.h"
#include "settings_ui/tasks_form_settings.h"
#include "store/tasks_db.h"
#include "util/kvd_dialogs.h"

#include "../common/find_widget.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <functional>

namespace {

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

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 3 || (arguments[2] != "on" && arguments[2] != "off")) {
        std::fputs("usage: autostart_entry PROGRAM on|off\n", stderr);
        return 2;
    }
    const bool on = arguments[2] == "on";
    TkvdMessageBox::SetTestMode(true);
    // The dialog's tag list reads the database the settings name, as in the program.
    GetTasksSettings();
    SetTasksDBFile(db_file);
    SetStartAtLoginProgram(arguments[1]);
    WhenShown([on](TfrmSettings* aDialog) {
        auto* startAtLogin = W<QCheckBox>(*aDialog, "cbxStartAtLogin");
        if (startAtLogin->isChecked() != on)
            startAtLogin->click();
        W<QPushButton>(*aDialog, "btnOK")->click();
        // An error keeps the dialog open.
        if (aDialog->isVisible())
            W<QPushButton>(*aDialog, "btnCancel")->click();
    });
    const bool accepted = ShowSettingsDialog();
    for (const TkvdMessageBox::TShown& shown : TkvdMessageBox::Shown())
        std::fprintf(stderr, "%s\n", qPrintable(shown.Text));
    return accepted && TkvdMessageBox::Shown().isEmpty() ? 0 : 1;
}
