#include "util/kvd_dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QQueue>
#include <QVBoxLayout>
#include <utility>

namespace {

bool gTestMode = false;
QQueue<QMessageBox::StandardButton> gAnswers;
QList<TkvdMessageBox::TShown> gShown;
QStringList gWaitShown;
QPointer<QDialog> gCurrentWait;
bool gFileTestMode = false;
QQueue<QString> gFileAnswers;
QStringList gFileAsked;

bool gPasswordTestMode = false;
QQueue<std::optional<QString>> gPasswordAnswers;
QStringList gPasswordAsked;

// The wait box: its text, a busy bar and Cancel. Every way of dismissing it
// (the button, Escape, closing its frame) is the user's Cancel; only its owner
// closes it, once the wait has ended.
class TWaitDialog : public QDialog
{
public:
    TWaitDialog(QWidget* aParent, const QString& aText, std::function<void()> aOnCancel)
        : QDialog(aParent), FOnCancel(std::move(aOnCancel))
    {
        setObjectName(QStringLiteral("frmWaitBox"));
        setWindowTitle(QApplication::applicationDisplayName());
        setWindowModality(Qt::ApplicationModal);
        auto* label = new QLabel(aText, this);
        label->setObjectName(QStringLiteral("lblWaitText"));
        auto* bar = new QProgressBar(this);
        bar->setRange(0, 0);
        bar->setTextVisible(false);
        auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
        cancel->setObjectName(QStringLiteral("btnWaitCancel"));
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        auto* buttons = new QHBoxLayout;
        buttons->addStretch();
        buttons->addWidget(cancel);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(label);
        layout->addWidget(bar);
        layout->addLayout(buttons);
        layout->setSizeConstraint(QLayout::SetFixedSize);
    }

    void reject() override
    {
        // The box stays: a close event it ignores, a hide it never does, so
        // that it blocks input until the owner's wait is really over.
        if (std::function<void()> onCancel = std::exchange(FOnCancel, nullptr))
            onCancel();
    }

private:
    std::function<void()> FOnCancel;
};

QMessageBox::Icon IconOf(TMsgKind aKind)
{
    switch (aKind) {
    case TMsgKind::Information:
        return QMessageBox::Information;
    case TMsgKind::Warning:
        return QMessageBox::Warning;
    case TMsgKind::Error:
        return QMessageBox::Critical;
    case TMsgKind::Confirmation:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton FirstButton(QMessageBox::StandardButtons aButtons)
{
    for (unsigned bit = QMessageBox::FirstButton; bit <= QMessageBox::LastButton; bit <<= 1) {
        if (aButtons.testFlag(static_cast<QMessageBox::StandardButton>(bit)))
            return static_cast<QMessageBox::StandardButton>(bit);
    }
    return QMessageBox::Ok;
}

} // namespace

QMessageBox::StandardButton TkvdMessageBox::Show(QWidget* aParent, TMsgKind aKind,
                                                 const QString& aTitle, const QString& aText,
                                                 QMessageBox::StandardButtons aButtons,
                                                 QMessageBox::StandardButton aDefault)
{
    if (aDefault == QMessageBox::NoButton)
        aDefault = FirstButton(aButtons);
    if (gTestMode) {
        gShown.append({aKind, aTitle, aText});
        return gAnswers.isEmpty() ? aDefault : gAnswers.dequeue();
    }
    QMessageBox box(IconOf(aKind), aTitle, aText, aButtons, aParent);
    box.setDefaultButton(aDefault);
    const int result = box.exec();
    return static_cast<QMessageBox::StandardButton>(result);
}

void TkvdMessageBox::Error(QWidget* aParent, const QString& aText)
{
    Show(aParent, TMsgKind::Error, QApplication::applicationDisplayName(), aText);
}

void TkvdMessageBox::SetTestMode(bool aOn)
{
    gTestMode = aOn;
}
bool TkvdMessageBox::TestMode()
{
    return gTestMode;
}
void TkvdMessageBox::SetNextAnswer(QMessageBox::StandardButton aAnswer)
{
    gAnswers.enqueue(aAnswer);
}
const QList<TkvdMessageBox::TShown>& TkvdMessageBox::Shown()
{
    return gShown;
}
void TkvdMessageBox::ClearShown()
{
    gShown.clear();
    gAnswers.clear();
    gWaitShown.clear();
}

TkvdWaitBox::TkvdWaitBox(const QString& aText, std::function<void()> aOnCancel)
{
    // Over the window it blocks, which it then stays in front of.
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = QApplication::activeWindow();
    FBox = new TWaitDialog(owner, aText, std::move(aOnCancel));
    if (gTestMode)
        gWaitShown.append(aText);
    gCurrentWait = FBox;
    FBox->show();
}

TkvdWaitBox::~TkvdWaitBox()
{
    // Gone already when its owner window was destroyed first.
    delete FBox.data();
}

QDialog* TkvdWaitBox::Current()
{
    return gCurrentWait.data();
}

const QStringList& TkvdWaitBox::Shown()
{
    return gWaitShown;
}

// ---------------------------------------------------------------- file names

QString TkvdFileDialog::GetOpenFileName(QWidget* aParent, const QString& aCaption,
                                        const QString& aFilter)
{
    if (gFileTestMode) {
        gFileAsked << aCaption;
        return gFileAnswers.isEmpty() ? QString() : gFileAnswers.dequeue();
    }
    return QFileDialog::getOpenFileName(aParent, aCaption, QString(), aFilter);
}

QString TkvdFileDialog::GetSaveFileName(QWidget* aParent, const QString& aCaption,
                                        const QString& aFilter, const QString& aSuggested)
{
    if (gFileTestMode) {
        gFileAsked << aCaption;
        return gFileAnswers.isEmpty() ? QString() : gFileAnswers.dequeue();
    }
    return QFileDialog::getSaveFileName(aParent, aCaption, aSuggested, aFilter);
}

void TkvdFileDialog::SetTestMode(bool aOn)
{
    gFileTestMode = aOn;
    gFileAnswers.clear();
    gFileAsked.clear();
}

void TkvdFileDialog::SetNextAnswer(const QString& aFileName)
{
    gFileAnswers.enqueue(aFileName);
}

const QStringList& TkvdFileDialog::Asked()
{
    return gFileAsked;
}

void TkvdFileDialog::ClearAsked()
{
    gFileAsked.clear();
}

bool TkvdPasswordDialog::Ask(QWidget* aParent, const QString& aTitle, const QString& aText,
                             QString& aPassword)
{
    if (gPasswordTestMode) {
        gPasswordAsked << aText;
        const std::optional<QString> answer =
            gPasswordAnswers.isEmpty() ? std::nullopt : gPasswordAnswers.dequeue();
        if (answer)
            aPassword = *answer;
        return answer.has_value();
    }
    bool ok = false;
    const QString password =
        QInputDialog::getText(aParent, aTitle, aText, QLineEdit::Password, QString(), &ok);
    if (ok)
        aPassword = password;
    return ok;
}

void TkvdPasswordDialog::SetTestMode(bool aOn)
{
    gPasswordTestMode = aOn;
    gPasswordAnswers.clear();
    gPasswordAsked.clear();
}

void TkvdPasswordDialog::SetNextAnswer(std::optional<QString> aPassword)
{
    gPasswordAnswers.enqueue(std::move(aPassword));
}

const QStringList& TkvdPasswordDialog::Asked()
{
    return gPasswordAsked;
}

void TkvdPasswordDialog::ClearAsked()
{
    gPasswordAsked.clear();
}
