#include "pool/tasks_form_pool.h"

#include "store/tasks_store.h"
#include "tags/tasks_tags.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_guard.h"
#include "util/kvd_utils.h"
#include "util/kvd_widgets.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// How many lines that could not be stored the warning names.
const int kFailedLinesShown = 20;

bool IsLineBreak(QChar aChar)
{
    switch (aChar.unicode()) {
    case 0x000A: // line feed
    case 0x000B: // vertical tab
    case 0x000C: // form feed
    case 0x000D: // carriage return
    case 0x0085: // next line
    case 0x2028: // line separator
    case 0x2029: // paragraph separator
        return true;
    default:
        return false;
    }
}

} // namespace

QStringList SplitPoolLines(const QString& aText)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = aText.size();
    for (qsizetype i = 0; i < size; ++i) {
        if (!IsLineBreak(aText[i]))
            continue;
        lines << aText.mid(start, i - start);
        // CR LF is one break.
        if (aText[i] == QLatin1Char('\r') && i + 1 < size && aText[i + 1] == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    lines << aText.mid(start);
    return lines;
}

QString TrimPoolLine(const QString& aText)
{
    return TrimBlanks(aText);
}

TfrmTasksPool::TfrmTasksPool(QWidget* aParent) : QDialog(aParent)
{
    setObjectName(QStringLiteral("frmTasksPool"));
    setWindowTitle(QStringLiteral("New Tasks..."));

    lblTasksPool = new QLabel(QStringLiteral("Here you can quickly setup large number of tasks "
                                             "(each line represents separate task):"),
                              this);
    lblTasksPool->setObjectName(QStringLiteral("lblTasksPool"));
    lblTasksPool->setWordWrap(true);
    QFont bold = lblTasksPool->font();
    bold.setBold(true);
    lblTasksPool->setFont(bold);

    splitterTags = new QSplitter(Qt::Horizontal, this);
    splitterTags->setObjectName(QStringLiteral("splitterTags"));
    splitterTags->setChildrenCollapsible(false);
    memPool = new QPlainTextEdit(splitterTags);
    memPool->setObjectName(QStringLiteral("memPool"));
    memPool->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    memPool->setTabChangesFocus(true);
    vtTags = new QTreeView(splitterTags);
    vtTags->setObjectName(QStringLiteral("vtTags"));
    splitterTags->addWidget(memPool);
    splitterTags->addWidget(vtTags);
    splitterTags->setStretchFactor(0, 1);
    splitterTags->setStretchFactor(1, 0);

    btnOK = new QPushButton(style()->standardIcon(QStyle::SP_DialogApplyButton),
                            QStringLiteral("Create the tasks!"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    btnCancel = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                                QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    for (QPushButton* button : {btnOK, btnCancel})
        button->setIconSize(QSize(24, 24));
    ConnectGuarded(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    ConnectGuarded(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTasksPool);
    layout->addWidget(splitterTags, 1);
    layout->addLayout(buttons);

    resize(670, 425);
    // The tag list starts 242 pixels wide; the splitter gives the rest to the text.
    const int handle = splitterTags->handleWidth();
    const int inner = 670 - layout->contentsMargins().left() - layout->contentsMargins().right();
    splitterTags->setSizes({inner - 242 - handle, 242});
    CenterOnScreen(this);

    FormCreate();
}

TfrmTasksPool::~TfrmTasksPool()
{
    FormDestroy();
}

void TfrmTasksPool::FormCreate()
{
    memPool->clear();
    FTagsControler = std::make_shared<TtasksTagsChecklist>(vtTags);
    try {
        LoadTags(FTagsControler.get());
    } catch (const std::exception& error) {
        // The dialog stays usable without tags: the tasks can still be entered.
        TkvdMessageBox::Error(this, ErrorMessage(error));
    }
}

void TfrmTasksPool::FormDestroy()
{
    // The controller goes before the widgets it drives.
    FTagsControler.reset();
}

bool TfrmTasksPool::CreateTasks()
{
    // Every task gets the same tags, so they are read once.
    QStringList tagIds;
    for (int i = 0; i < FTagsControler->Count(); ++i) {
        const TtasksTag* tag = FTagsControler->GetTagByIndex(i);
        if (tag->checked())
            tagIds << tag->tagid;
    }
    // A blank line stays in the list as an empty summary, so that the lines
    // keep their numbers.
    QStringList summaries;
    for (const QString& line : SplitPoolLines(memPool->toPlainText()))
        summaries << TrimPoolLine(line);

    TBulkEntryReport report;
    const TStoreResult stored = TtasksStore::InsertTasks(summaries, tagIds, report);
    if (!stored) {
        TkvdMessageBox::Error(this, stored.Message(QStringLiteral(
                                        "The new tasks could not be stored; nothing of them was "
                                        "saved.")));
        return false;
    }
    const QStringList& failedLines = report.failedLines;
    if (!failedLines.isEmpty() || report.failedLinks > 0) {
        // The reason is that of the last line or link refused.
        QString text = FailureText(
            QStringLiteral("%1 line(s) could not be stored as tasks and %2 tag link(s) could not "
                           "be stored. The other tasks were saved.")
                .arg(failedLines.size())
                .arg(report.failedLinks),
            report.reason);
        // The dialog is gone after this, so the lines not stored are shown for
        // the user to enter again.
        if (!failedLines.isEmpty()) {
            const int shown = std::min<int>(failedLines.size(), kFailedLinesShown);
            text += QStringLiteral("\n\nNot stored:\n") + failedLines.mid(0, shown).join('\n');
            if (shown < failedLines.size())
                text += QStringLiteral("\n... and %1 more").arg(failedLines.size() - shown);
        }
        TkvdMessageBox::Show(this, TMsgKind::Warning, QApplication::applicationDisplayName(), text);
    }
    return true;
}

bool ShowTasksPoolDialog(QWidget* aParent)
{
    TfrmTasksPool dialog(aParent);
    while (dialog.exec() == QDialog::Accepted) {
        if (dialog.CreateTasks())
            return true;
        // Nothing was stored: the user gets the text and ticks back.
    }
    return false;
}
