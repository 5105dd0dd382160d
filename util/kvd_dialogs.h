#pragma once

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QDialog;
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
    // Also forgets the wait boxes shown (TkvdWaitBox::Shown).
    static void ClearShown();
};

// Every file name the program asks the user for goes through here. In test
// mode no dialog is shown: each call is recorded (its caption) and answered
// with the next queued name, or with an empty name (the user's Cancel) when
// none is queued.
class TkvdFileDialog
{
public:
    // aFilter as QFileDialog takes it ("iCalendar files (*.ics)"). An empty
    // name when the user cancelled.
    static QString GetOpenFileName(QWidget* aParent, const QString& aCaption,
                                   const QString& aFilter);
    // Asks before replacing an existing file, as the toolkit's dialog does.
    static QString GetSaveFileName(QWidget* aParent, const QString& aCaption,
                                   const QString& aFilter, const QString& aSuggested = QString());

    static void SetTestMode(bool aOn);
    static void SetNextAnswer(const QString& aFileName);
    // The captions of the dialogs asked for since ClearAsked.
    static const QStringList& Asked();
    static void ClearAsked();
};

// Every password the program asks the user for goes through here. In test
// mode no dialog is shown: each call is recorded (its text) and answered with
// the next queued answer, or with the user's Cancel when none is queued.
class TkvdPasswordDialog
{
public:
    // The password in aPassword and true after "OK"; false after Cancel.
    static bool Ask(QWidget* aParent, const QString& aTitle, const QString& aText,
                    QString& aPassword);

    static void SetTestMode(bool aOn);
    // std::nullopt answers with Cancel.
    static void SetNextAnswer(std::optional<QString> aPassword);
    // The texts of the prompts shown since ClearAsked.
    static const QStringList& Asked();
    static void ClearAsked();
};

// A modal box that says what the program is waiting for, with a Cancel
// button. It does not wait itself: it is shown when constructed, the owner
// waits in an event loop of its own and destroys the box when the wait ends,
// so no test can hang on it. While it is up it refuses the user's input to
// every other window of the program, where the user sees why, instead of
// holding clicks back unseen. Cancel (the button, Escape or closing the box)
// calls aOnCancel, once; the box stays until its owner destroys it.
class TkvdWaitBox
{
public:
    TkvdWaitBox(const QString& aText, std::function<void()> aOnCancel);
    ~TkvdWaitBox();
    TkvdWaitBox(const TkvdWaitBox&) = delete;
    TkvdWaitBox& operator=(const TkvdWaitBox&) = delete;

    // The box on screen, or nullptr. Its text is the label "lblWaitText", its
    // Cancel button "btnWaitCancel"; the box itself is "frmWaitBox".
    static QDialog* Current();
    // In test mode, the text of every box shown since TkvdMessageBox::ClearShown.
    static const QStringList& Shown();

private:
    QPointer<QDialog> FBox;
};
