#pragma once

// What the tests of "Check Now!" share about the box shown while the update
// question waits: a watch that acts when the box comes on screen, and the
// box's parts by object name.

#include "util/kvd_dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <functional>
#include <utility>

// Runs aAction with the wait box as soon as it is shown: inside its showing,
// before the question has been sent, so no reply can come first. The action
// should only look; anything that needs the event loop it posts.
class TWaitBoxWatch : public QObject
{
public:
    explicit TWaitBoxWatch(std::function<void(QDialog*)> aAction) : FAction(std::move(aAction))
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~TWaitBoxWatch() override { QCoreApplication::instance()->removeEventFilter(this); }

    int Shows = 0;

protected:
    bool eventFilter(QObject* aWatched, QEvent* aEvent) override
    {
        if (aEvent->type() == QEvent::Show && aWatched->objectName() == "frmWaitBox") {
            if (auto* box = qobject_cast<QDialog*>(aWatched)) {
                ++Shows;
                FAction(box);
            }
        }
        return false;
    }

private:
    std::function<void(QDialog*)> FAction;
};

inline QString WaitBoxText(QDialog* aBox)
{
    const auto* label = aBox->findChild<QLabel*>(QStringLiteral("lblWaitText"));
    return label ? label->text() : QString();
}

inline QPushButton* WaitBoxCancel(QDialog* aBox)
{
    return aBox->findChild<QPushButton*>(QStringLiteral("btnWaitCancel"));
}
