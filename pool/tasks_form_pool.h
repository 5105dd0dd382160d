#pragma once

// The bulk task entry: one task per line of text, every task carrying the
// ticked tags. The main window calls ShowTasksPoolDialog and reloads its task
// list when it returns true.

#include <QDialog>
#include <QStringList>
#include <memory>

class ItasksTagsControler;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QSplitter;
class QTreeView;

class TfrmTasksPool : public QDialog
{
    Q_OBJECT

public:
    // Runs FormCreate: an empty text field and every tag unticked.
    explicit TfrmTasksPool(QWidget* aParent = nullptr);
    // Runs FormDestroy.
    ~TfrmTasksPool() override;

    // Stores one task per non-blank line of memPool, in line order, each with a
    // new id, the line trimmed of characters of code 32 and below, no note, no
    // due date, and one link per ticked tag. Lines end only at line breaks
    // (CR LF, LF, CR, vertical tab, form feed, next line and the Unicode line
    // and paragraph separators), never where the field wraps. All of it is one
    // transaction: a line whose insert fails is logged, skipped and reported
    // with its text; when the transaction itself fails the user is told and
    // nothing is stored. True when the batch was committed.
    bool CreateTasks();

    ItasksTagsControler* TagsControler() const { return FTagsControler.get(); }

private:
    void FormCreate();
    void FormDestroy();

    std::shared_ptr<ItasksTagsControler> FTagsControler;

    // The controls; each has its field's name as its object name, which is how
    // the tests find them.
    QLabel* lblTasksPool = nullptr;
    QPlainTextEdit* memPool = nullptr;
    QSplitter* splitterTags = nullptr;
    QTreeView* vtTags = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
};

// Shows the dialog modally. After "Create the tasks!" it stores the tasks and
// returns true; when storing fails it says so and shows the dialog again with
// the text and ticks kept. False after "Cancel" or a close by the frame, when
// nothing has been written.
bool ShowTasksPoolDialog(QWidget* aParent = nullptr);

// The lines of a pasted or typed text as CreateTasks splits them.
QStringList SplitPoolLines(const QString& aText);
// aText without leading and trailing characters of code 32 and below.
QString TrimPoolLine(const QString& aText);
