// The message-box seam of the widgets part of util: in test mode a box is
// recorded and answered without being shown.

#include "util/kvd_dialogs.h"

#include <QtTest>

class TestDialogs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void messageBoxSeamAnswersWithoutShowing()
    {
        TkvdMessageBox::SetTestMode(true);
        TkvdMessageBox::ClearShown();
        TkvdMessageBox::SetNextAnswer(QMessageBox::No);
        QCOMPARE(TkvdMessageBox::Show(nullptr, TMsgKind::Confirmation, "Confirm", "Go?",
                                      QMessageBox::Yes | QMessageBox::No),
                 QMessageBox::No);
        // Without a queued answer the default button answers.
        QCOMPARE(TkvdMessageBox::Show(nullptr, TMsgKind::Confirmation, "Confirm", "Again?",
                                      QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes),
                 QMessageBox::Yes);
        QCOMPARE(TkvdMessageBox::Shown().size(), 2);
        QCOMPARE(TkvdMessageBox::Shown()[1].Text, QStringLiteral("Again?"));
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
