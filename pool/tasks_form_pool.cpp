#include "pool/tasks_form_pool.h"

#include "store/tasks_db.h"
#include "tags/tasks_tags.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_utils.h"
#include "util/tasks_log.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const QString kTaskSQL = QStringLiteral(
    "insert into tasks (taskid, summary, note, createddt, duedt) values (:taskid, :summary, "
    ":note, datetime(\"now\"), :duedt)");
const QString kLinkSQL =
    QStringLiteral("insert into tags_tasks (taskid, tagid) values (:taskid, :tagid)");
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

void LogLine(const QString& aText)
{
    if (TtasksLog* log = GetTasksLog())
        log->Log(aText);
}

void CenterOnScreen(QWidget* aWidget)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = aWidget->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    aWidget->move(frame.topLeft());
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
    qsizetype begin = 0, end = aText.size();
    while (begin < end && aText[begin].unicode() <= 32)
        ++begin;
    while (end > begin && aText[end - 1].unicode() <= 32)
        --end;
    return aText.mid(begin, end - begin);
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
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

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
    QStringList failedLines;
    int failedLinks = 0;
    if (!StoreTasks(failedLines, failedLinks)) {
        TkvdMessageBox::Error(this, GetTasksDB()->FailureMessage(QStringLiteral(
                                        "The new tasks could not be stored; nothing of them was "
                                        "saved.")));
        return false;
    }
    if (!failedLines.isEmpty() || failedLinks > 0) {
        // The reason is that of the last line or link refused.
        QString text = GetTasksDB()->FailureMessage(
            QStringLiteral("%1 line(s) could not be stored as tasks and %2 tag link(s) could not "
                           "be stored. The other tasks were saved.")
                .arg(failedLines.size())
                .arg(failedLinks));
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

bool TfrmTasksPool::StoreTasks(QStringList& aFailedLines, int& aFailedLinks)
{
    TtasksDB* db = GetTasksDB();
    TDBLock guard;
    std::unique_ptr<TZQuery> taskQuery = db->NewQuery();
    std::unique_ptr<TZQuery> linkQuery = db->NewQuery();

    taskQuery->SetSQL(kTaskSQL);
    taskQuery->Params().Clear();
    for (const char* name : {"taskid", "summary", "note", "duedt"})
        taskQuery->Params().CreateParam(TZFieldType::ftString, QString::fromLatin1(name),
                                        TZParamType::ptInput);
    linkQuery->SetSQL(kLinkSQL);
    linkQuery->Params().Clear();
    for (const char* name : {"taskid", "tagid"})
        linkQuery->Params().CreateParam(TZFieldType::ftString, QString::fromLatin1(name),
                                        TZParamType::ptInput);

    // Every task gets the same tags, so they are read once.
    QStringList tagIds;
    for (int i = 0; i < FTagsControler->Count(); ++i) {
        TtasksTag* tag = FTagsControler->GetTagByIndex(i);
        if (tag->checked())
            tagIds << tag->tagid;
    }

    // One transaction for the whole batch: a failure leaves no half of it, and
    // it is far faster than a commit per line.
    if (!db->StartTransaction())
        return false;
    // The engine may give up the whole transaction on some errors (a full disk,
    // an I/O error); the statements after it would then each commit on their
    // own, so the batch stops there.
    auto transactionLost = [db] { return !db->Connection().InTransaction(); };

    const QStringList lines = SplitPoolLines(memPool->toPlainText());
    for (int number = 0; number < lines.size(); ++number) {
        const QString summary = TrimPoolLine(lines[number]);
        if (summary.isEmpty())
            continue;
        const QString id = GenerateId();
        taskQuery->ParamByName(QStringLiteral("taskid")).SetAsString(id);
        taskQuery->ParamByName(QStringLiteral("summary")).SetAsString(summary);
        taskQuery->ParamByName(QStringLiteral("note")).Clear();
        taskQuery->ParamByName(QStringLiteral("duedt")).Clear();
        if (!db->Query(kTaskSQL, taskQuery.get())) {
            if (transactionLost())
                break;
            aFailedLines << summary;
            LogLine(QStringLiteral("New Tasks: line %1 was not stored").arg(number + 1));
            continue;
        }
        for (const QString& tagId : tagIds) {
            linkQuery->ParamByName(QStringLiteral("taskid")).SetAsString(id);
            linkQuery->ParamByName(QStringLiteral("tagid")).SetAsString(tagId);
            if (!db->Query(kLinkSQL, linkQuery.get())) {
                if (transactionLost())
                    break;
                ++aFailedLinks;
                LogLine(
                    QStringLiteral("New Tasks: a tag of line %1 was not stored").arg(number + 1));
            }
        }
        if (transactionLost())
            break;
    }
    if (transactionLost() || !db->Commit()) {
        db->Rollback();
        return false;
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
