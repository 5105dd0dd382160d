#pragma once

// The task list of the main window: a model over the loaded task records, the
// delegate that paints a row (tag bands, check box, text by the task's state)
// and the tree view that keeps the background picture in its corner.

#include "app/tasks_records.h"
#include "store/tasks_store.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QRect>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTreeView>
#include <functional>
#include <memory>
#include <vector>

class TtasksTag;

// Columns of the list.
enum TTaskColumn
{
    kColCheck = 0,
    kColSummary = 1,
    kColDue = 2,
    kTaskColumnCount = 3
};

// The model's own roles beyond Qt's.
enum TTaskRole
{
    // True while the task is announced and not yet marked as read (shown bold).
    TasksUnreadRole = Qt::UserRole + 1
};

// Owns the records, one row each, in the order the list statement gives them.
// Each row keeps the key that placed it, so that the rows of a few changed
// tasks can be put where a reload would put them without reading the others.
class TtasksListModel : public QAbstractTableModel, public ItaskRecordRows
{
    Q_OBJECT
public:
    explicit TtasksListModel(QObject* aParent = nullptr);
    ~TtasksListModel() override;

    int rowCount(const QModelIndex& aParent = QModelIndex()) const override;
    int columnCount(const QModelIndex& aParent = QModelIndex()) const override;
    QVariant data(const QModelIndex& aIndex, int aRole = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& aIndex) const override;
    // Only a user's tick or untick arrives here; it raises UserChecked and
    // leaves the record as it is: the window decides what the row shows.
    bool setData(const QModelIndex& aIndex, const QVariant& aValue, int aRole) override;

    // Appends a record with that id and its row; aKey is where the list
    // statement put it.
    TTaskRecord* AddRecord(const QString& aTaskId, TTaskListKey aKey = {});
    // Removes every row and record.
    void Clear();
    // Takes out the rows of the tasks of aIds and puts in the rows of aTasks,
    // the list statement's rows for those tasks in its order, each where its
    // key places it among the others: the rows stay in the statement's order.
    // A task in both keeps its record, which takes the row's fields; of the
    // tasks of aFresh the record starts as a load makes it (not notified).
    // The other rows keep their records and marks. Few rows are moved one by
    // one; many at once, with one reset of the views.
    void UpdateRows(const QStringList& aIds, std::vector<TStoredTask>& aTasks,
                    const QSet<QString>& aFresh);
    // A record whose stored keys changed without its row moving (a tick): its
    // key is out of date and its row may be out of place until UpdateRows
    // takes it in again.
    void MarkUnplaced(const TTaskRecord& aRecord);
    const QStringList& UnplacedIds() const { return FUnplaced; }
    // The key that placed a row.
    const TTaskListKey& Key(int aRow) const { return FKeys[static_cast<size_t>(aRow)]; }
    // Between these two, rows are added without telling the views row by row;
    // the views are reset once at the end.
    void BeginBulk();
    void EndBulk();

    TTaskRecord* Record(int aRow) const;
    TTaskRecord* Record(const QModelIndex& aIndex) const { return Record(aIndex.row()); }
    int Count() const { return static_cast<int>(FRecords.size()); }
    // Every loaded record in row order, those a tab filters out included.
    std::vector<std::unique_ptr<TTaskRecord>>& Records() { return FRecords; }

    // The text column 2 shows; the window supplies it.
    std::function<QString(const TTaskRecord&)> DueText;
    // Whether a task id is unread, for TasksUnreadRole; the window supplies it.
    std::function<bool(const QString&)> IsUnread;
    // The unread mark of every row may have changed: the views repaint.
    void UnreadChanged();

    void RecordFinishedChanged(const TTaskRecord& aRecord) override;

Q_SIGNALS:
    void UserChecked(int aRow);

private:
    // Gives the rows from aFrom on their row numbers again.
    void Renumber(int aFrom);

    std::vector<std::unique_ptr<TTaskRecord>> FRecords;
    // The key of each row, beside its record.
    std::vector<TTaskListKey> FKeys;
    // The record of each task id.
    QHash<QString, TTaskRecord*> FById;
    QStringList FUnplaced;
    int FBulk = 0;
};

// Copies a stored row's fields into a record: summary, note, tag ids, due
// date-time and the finished mark.
void SetRecordFields(TTaskRecord& aRecord, TStoredTask& aTask);

// Whether a task's summary or note holds aText, letter case ignored (by
// Unicode case folding, characters beyond the BMP included). An empty text
// is found in every task.
bool TaskMatchesFind(const TTaskRecord& aRecord, const QString& aText);

// The rows the list shows: all records, or those of one tag (the tab's), in
// the model's order, narrowed to those that hold the find text. A tab switch
// or a keystroke in the find field changes only this filter; nothing is read
// from the database and the records stay as they are.
class TtasksListFilter : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    explicit TtasksListFilter(TtasksListModel* aModel, QObject* aParent = nullptr);

    // An empty id shows every row.
    void SetTagId(const QString& aTagId);
    const QString& TagId() const { return FTagId; }
    // An empty text shows every row of the tab.
    void SetFindText(const QString& aText);
    const QString& FindText() const { return FFindText; }
    // The find compares folded copies of the summaries and notes, made for a
    // row when it is first compared and kept until the row changes. Prepare
    // makes them all at once (as the find field opens), Drop lets them go
    // (as it closes).
    void PrepareFind();
    void DropFind();
    // The record of a row of the view, nullptr for none.
    TTaskRecord* Record(const QModelIndex& aViewIndex) const;
    // The model row of a row of the view, -1 for none.
    int SourceRow(int aViewRow) const;

protected:
    bool filterAcceptsRow(int aSourceRow, const QModelIndex& aSourceParent) const override;

private:
    // The summary and note of a row in folded case, for the find.
    struct TFolded
    {
        QString Summary;
        QString Note;
        bool Ready = false;
    };
    const TFolded& Folded(int aSourceRow) const;

    TtasksListModel* FModel;
    QString FTagId;
    QString FFindText;
    QString FFoldedFindText;
    // By model row; empty while no find uses them.
    mutable std::vector<TFolded> FFolded;
};

// Whether a comma-joined id list holds aId, letter case ignored.
bool TagsIdsContain(QStringView aTagsIds, QStringView aId);

// One pastel band of a row's tag colours.
struct TTagBand
{
    QRect Rect;
    QColor Fill;
    // Drawn only in column 0: a one-pixel line at the band's left edge.
    bool HasLine = false;
    QColor Line;
};

// The bands of one cell: N ids give N bands of (height / N) pixels each,
// rounded down, in the order of the ids; an id without a tag leaves its band
// out. aGetTag answers the tag of an id or nullptr.
std::vector<TTagBand> TagBands(const QRect& aCell, int aColumn, const QString& aTagsIds,
                               const std::function<const TtasksTag*(const QString&)>& aGetTag);

// The font and colour of a row's text, by the rules in this order: unread is
// bold; finished is struck through in silver (bold not kept); unplanned is
// gray; overdue is red; else aNormal.
struct TRowTextStyle
{
    QFont Font;
    QColor Color;
};
TRowTextStyle TaskTextStyle(const TTaskRecord& aRecord, bool aUnread, TDateTime aNow,
                            const QFont& aFont, const QColor& aNormal);

// Paints the rows of the task list.
class TtasksListDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    TtasksListDelegate(TtasksListModel* aModel, QObject* aParent = nullptr);

    std::function<const TtasksTag*(const QString&)> GetTag;

    void paint(QPainter* aPainter, const QStyleOptionViewItem& aOption,
               const QModelIndex& aIndex) const override;
    QSize sizeHint(const QStyleOptionViewItem& aOption, const QModelIndex& aIndex) const override;

    static constexpr int kRowHeight = 26;

private:
    TtasksListModel* FModel;
};

// The list widget: rows over a fixed picture whose bottom right corner stays in
// the list's bottom right corner and does not scroll with the rows.
class TtasksTaskTree : public QTreeView
{
    Q_OBJECT
public:
    explicit TtasksTaskTree(QWidget* aParent = nullptr);

    void SetBackground(const QPixmap& aPicture);
    QPoint BackgroundPos() const { return FBackgroundPos; }

Q_SIGNALS:
    // Any left click in the list, on a row or not.
    void Clicked();
    void DoubleClicked();
    void Resized();

protected:
    void paintEvent(QPaintEvent* aEvent) override;
    void resizeEvent(QResizeEvent* aEvent) override;
    void scrollContentsBy(int aDx, int aDy) override;
    void mouseReleaseEvent(QMouseEvent* aEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* aEvent) override;
    // Space ticks or unticks the focused row's box, whichever cell has the focus.
    void keyPressEvent(QKeyEvent* aEvent) override;

private:
    void PlaceBackground();

    QPixmap FBackground;
    QPoint FBackgroundPos;
};

// The tag tabs. A tab is at most kMaxTabWidth pixels wide and elides a longer
// title, so one long title does not squeeze the others.
class TtasksTabBar : public QTabBar
{
    Q_OBJECT
public:
    using QTabBar::QTabBar;
    static constexpr int kMaxTabWidth = 180;

protected:
    QSize tabSizeHint(int aIndex) const override;
};
