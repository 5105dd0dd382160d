#pragma once

#include <QList>
#include <QMessageBox>
#include <QString>
#include <optional>

class QWidget;

enum class TMsgKind
{
    Information,
    Warning,
    Error,
    Confirmation
};

// Every message box of the program goes through here. In test mode nothing is
// shown: each call is recorded and answered with the next queued answer, or
// with its default button when none is queued.
class TkvdMessageBox
{
public:
    struct TShown
    {
        TMsgKind Kind;
        QString Title;
        QString Text;
    };

    static QMessageBox::StandardButton
    Show(QWidget* aParent, TMsgKind aKind, const QString& aTitle, const QString& aText,
         QMessageBox::StandardButtons aButtons = QMessageBox::Ok,
         QMessageBox::StandardButton aDefault = QMessageBox::NoButton);

    // An error box titled with the application title.
    static void Error(QWidget* aParent, const QString& aText);

    static void SetTestMode(bool aOn);
    static bool TestMode();
    static void SetNextAnswer(QMessageBox::StandardButton aAnswer);
    static const QList<TShown>& Shown();
    static void ClearShown();
};
