#include "update/kvd_update_dialogs.h"

#include "util/kvd_dialogs.h"

#include <QApplication>
#include <QWidget>
#include <utility>

TkvdUpdateDialogs::TkvdUpdateDialogs() = default;
TkvdUpdateDialogs::~TkvdUpdateDialogs() = default;

void TkvdUpdateDialogs::ShowWaiting(const QString& aText, std::function<void()> aCancel)
{
    FBox = std::make_unique<TkvdWaitBox>(aText, std::move(aCancel));
}

void TkvdUpdateDialogs::HideWaiting()
{
    FBox.reset();
}

// The result's boxes are centred on the screen, so they have no parent window.

bool TkvdUpdateDialogs::Confirm(const QString& aTitle, const QString& aText)
{
    return TkvdMessageBox::Show(nullptr, TMsgKind::Confirmation, aTitle, aText,
                                QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::Yes) == QMessageBox::Yes;
}

void TkvdUpdateDialogs::Inform(const QString& aTitle, const QString& aText)
{
    TkvdMessageBox::Show(nullptr, TMsgKind::Information, aTitle, aText);
}

void TkvdUpdateDialogs::ShowError(const QString& aTitle, const QString& aText)
{
    TkvdMessageBox::Show(nullptr, TMsgKind::Error, aTitle, aText);
}

quintptr TkvdUpdateDialogs::OwnerWindow(QObject* aOwner)
{
    QWidget* owner = qobject_cast<QWidget*>(aOwner);
    if (!owner)
        owner = QApplication::activeWindow();
    // The handle of a window that exists: asking a widget for its winId would
    // create a native window that it did not have.
    return owner ? static_cast<quintptr>(owner->window()->internalWinId()) : 0;
}
