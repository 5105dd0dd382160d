#include "util/kvd_dialogs.h"

#include <QApplication>
#include <QQueue>

namespace {

bool gTestMode = false;
QQueue<QMessageBox::StandardButton> gAnswers;
QList<TkvdMessageBox::TShown> gShown;

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
}
