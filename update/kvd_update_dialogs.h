#pragma once

// The update check's user interface in the GUI: a modal wait box with Cancel
// while the question waits, then the message box of its result, both through
// the message-box seam of util/kvd_dialogs.h, so that tests answer them
// without showing anything.

#include "update/kvd_services.h"

#include <memory>

class TkvdWaitBox;

class TkvdUpdateDialogs : public IkvdUpdateUI
{
public:
    TkvdUpdateDialogs();
    ~TkvdUpdateDialogs() override;

    void ShowWaiting(const QString& aText, std::function<void()> aCancel) override;
    void HideWaiting() override;
    bool Confirm(const QString& aTitle, const QString& aText) override;
    void Inform(const QString& aTitle, const QString& aText) override;
    void ShowError(const QString& aTitle, const QString& aText) override;
    quintptr OwnerWindow(QObject* aOwner) override;

private:
    std::unique_ptr<TkvdWaitBox> FBox;
};
