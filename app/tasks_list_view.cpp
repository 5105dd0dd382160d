#include "app/tasks_list_view.h"

#include "tags/tasks_tags.h"
#include "util/kvd_guard.h"
#include "util/kvd_utils.h"
#include "util/kvd_widgets.h"

#include <QAbstractProxyModel>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <unordered_map>

namespace {

const QColor kSilver(192, 192, 192);
const QColor kGray(128, 128, 128);
const QColor kRed(255, 0, 0);

// The index of the list model behind any number of proxies.
QModelIndex SourceIndex(QModelIndex aIndex)
{
    while (const auto* proxy = qobject_cast<const QAbstractProxyModel*>(aIndex.model()))
        aIndex = proxy->mapToSource(aIndex);
    return aIndex;
}

} // namespace

// ---------------------------------------------------------------- model

TtasksListModel::TtasksListModel(QObject* aParent) : QAbstractTableModel(aParent) {}

TtasksListModel::~TtasksListModel() = default;

int TtasksListModel::rowCount(const QModelIndex& aParent) const
{
    return aParent.isValid() ? 0 : Count();
}

int TtasksListModel::columnCount(const QModelIndex& aParent) const
{
    return aParent.isValid() ? 0 : kTaskColumnCount;
}

TTaskRecord* TtasksListModel::Record(int aRow) const
{
    if (aRow < 0 || aRow >= Count())
        return nullptr;
    return FRecords[static_cast<size_t>(aRow)].get();
}

QVariant TtasksListModel::data(const QModelIndex& aIndex, int aRole) const
{
    const TTaskRecord* record = Record(aIndex);
    if (!record)
        return QVariant();
    switch (aRole) {
    case Qt::DisplayRole:
        if (aIndex.column() == kColSummary)
            return record->summary;
        if (aIndex.column() == kColDue)
            return DueText ? DueText(*record) : QString();
        return QVariant();
    case Qt::CheckStateRole:
        if (aIndex.column() == kColCheck)
            return record->finished ? Qt::Checked : Qt::Unchecked;
        return QVariant();
    case TasksUnreadRole:
        return IsUnread && IsUnread(record->taskid);
    case Qt::TextAlignmentRole:
        if (aIndex.column() == kColDue)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return QVariant();
    }
}

Qt::ItemFlags TtasksListModel::flags(const QModelIndex& aIndex) const
{
    if (!Record(aIndex))
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (aIndex.column() == kColCheck)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

bool TtasksListModel::setData(const QModelIndex& aIndex, const QVariant&, int aRole)
{
    if (aRole != Qt::CheckStateRole || aIndex.column() != kColCheck || !Record(aIndex))
        return false;
    Q_EMIT UserChecked(aIndex.row());
    return true;
}

TTaskRecord* TtasksListModel::AddRecord(const QString& aTaskId, TTaskListKey aKey)
{
    const int row = Count();
    if (FBulk == 0)
        beginInsertRows(QModelIndex(), row, row);
    auto record = std::make_unique<TTaskRecord>(aTaskId);
    record->row = row;
    record->rows = this;
    FById.insert(aTaskId, record.get());
    FRecords.push_back(std::move(record));
    FKeys.push_back(std::move(aKey));
    if (FBulk == 0)
        endInsertRows();
    return FRecords.back().get();
}

void TtasksListModel::Clear()
{
    if (FBulk == 0)
        beginResetModel();
    FRecords.clear();
    FKeys.clear();
    FById.clear();
    FUnplaced.clear();
    if (FBulk == 0)
        endResetModel();
}

void TtasksListModel::MarkUnplaced(const TTaskRecord& aRecord)
{
    if (!FUnplaced.contains(aRecord.taskid))
        FUnplaced.append(aRecord.taskid);
}

void TtasksListModel::Renumber(int aFrom)
{
    for (int row = std::max(aFrom, 0); row < Count(); ++row)
        FRecords[static_cast<size_t>(row)]->row = row;
}

void TtasksListModel::UpdateRows(const QStringList& aIds, std::vector<TStoredTask>& aTasks,
                                 const QSet<QString>& aFresh)
{
    for (const QString& id : aIds)
        FUnplaced.removeAll(id);
    std::vector<int> taken;
    for (const QString& id : aIds) {
        const TTaskRecord* record = FById.value(id);
        if (record && Record(record->row) == record)
            taken.push_back(record->row);
    }
    std::sort(taken.begin(), taken.end());
    taken.erase(std::unique(taken.begin(), taken.end()), taken.end());
    if (taken.empty() && aTasks.empty())
        return;
    // Moving a row one by one costs the views a pass over all rows each, a
    // reset one pass in all.
    constexpr size_t kOneByOne = 64;
    const bool oneByOne = FBulk == 0 && taken.size() + aTasks.size() <= kOneByOne;
    const bool reset = FBulk == 0 && !oneByOne;
    if (reset)
        beginResetModel();

    // The records taken out, by id, for the rows that come back.
    std::unordered_map<QString, std::unique_ptr<TTaskRecord>> kept;
    int first = Count();
    if (oneByOne) {
        for (auto row = taken.rbegin(); row != taken.rend(); ++row) {
            beginRemoveRows(QModelIndex(), *row, *row);
            const auto at = static_cast<size_t>(*row);
            FById.remove(FRecords[at]->taskid);
            kept.emplace(FRecords[at]->taskid, std::move(FRecords[at]));
            FRecords.erase(FRecords.begin() + *row);
            FKeys.erase(FKeys.begin() + *row);
            endRemoveRows();
        }
    } else {
        // One pass that keeps every row not taken.
        size_t to = 0;
        size_t next = 0;
        for (size_t from = 0; from < FRecords.size(); ++from) {
            if (next < taken.size() && static_cast<size_t>(taken[next]) == from) {
                ++next;
                FById.remove(FRecords[from]->taskid);
                kept.emplace(FRecords[from]->taskid, std::move(FRecords[from]));
                continue;
            }
            FRecords[to] = std::move(FRecords[from]);
            FKeys[to] = std::move(FKeys[from]);
            ++to;
        }
        FRecords.resize(to);
        FKeys.resize(to);
    }
    if (!taken.empty())
        first = taken.front();

    // The records of the rows that come in, each with its fields and key.
    std::vector<std::unique_ptr<TTaskRecord>> records;
    records.reserve(aTasks.size());
    for (TStoredTask& task : aTasks) {
        std::unique_ptr<TTaskRecord> record;
        if (auto found = kept.find(task.taskid); found != kept.end())
            record = std::move(found->second);
        if (!record)
            record = std::make_unique<TTaskRecord>(task.taskid);
        else if (aFresh.contains(task.taskid))
            record->notified = false;
        record->rows = this;
        SetRecordFields(*record, task);
        FById.insert(record->taskid, record.get());
        records.push_back(std::move(record));
    }

    if (oneByOne) {
        // aTasks come in the statement's order, so each goes after the one before.
        auto from = FKeys.begin();
        for (size_t i = 0; i < records.size(); ++i) {
            from = std::lower_bound(from, FKeys.end(), aTasks[i].order, ListedBefore);
            const auto row = static_cast<int>(from - FKeys.begin());
            beginInsertRows(QModelIndex(), row, row);
            FRecords.insert(FRecords.begin() + row, std::move(records[i]));
            from = FKeys.insert(from, std::move(aTasks[i].order)) + 1;
            endInsertRows();
            first = std::min(first, row);
        }
    } else {
        // Both runs are in the statement's order: merge them.
        std::vector<std::unique_ptr<TTaskRecord>> mergedRecords;
        std::vector<TTaskListKey> mergedKeys;
        mergedRecords.reserve(FRecords.size() + records.size());
        mergedKeys.reserve(FRecords.size() + records.size());
        size_t old = 0;
        for (size_t i = 0; i < records.size(); ++i) {
            while (old < FKeys.size() && ListedBefore(FKeys[old], aTasks[i].order)) {
                mergedRecords.push_back(std::move(FRecords[old]));
                mergedKeys.push_back(std::move(FKeys[old]));
                ++old;
            }
            mergedRecords.push_back(std::move(records[i]));
            mergedKeys.push_back(std::move(aTasks[i].order));
        }
        for (; old < FKeys.size(); ++old) {
            mergedRecords.push_back(std::move(FRecords[old]));
            mergedKeys.push_back(std::move(FKeys[old]));
        }
        FRecords = std::move(mergedRecords);
        FKeys = std::move(mergedKeys);
        first = 0;
    }
    Renumber(first);
    if (reset)
        endResetModel();
}

void SetRecordFields(TTaskRecord& aRecord, TStoredTask& aTask)
{
    aRecord.summary = std::move(aTask.summary);
    aRecord.note = std::move(aTask.note);
    aRecord.tagsids = std::move(aTask.tagsids);
    aRecord.duedt = aTask.duedt;
    aRecord.SetFinished(aTask.finished);
}

void TtasksListModel::BeginBulk()
{
    if (FBulk++ == 0)
        beginResetModel();
}

void TtasksListModel::EndBulk()
{
    if (FBulk == 0 || --FBulk > 0)
        return;
    endResetModel();
}

void TtasksListModel::UnreadChanged()
{
    if (FBulk > 0 || FRecords.empty())
        return;
    Q_EMIT dataChanged(index(0, 0), index(Count() - 1, kTaskColumnCount - 1), {TasksUnreadRole});
}

void TtasksListModel::RecordFinishedChanged(const TTaskRecord& aRecord)
{
    if (FBulk > 0 || Record(aRecord.row) != &aRecord)
        return;
    Q_EMIT dataChanged(index(aRecord.row, 0), index(aRecord.row, kTaskColumnCount - 1));
}

// ---------------------------------------------------------------- tag filter

bool TagsIdsContain(QStringView aTagsIds, QStringView aId)
{
    if (aId.isEmpty())
        return false;
    for (const QStringView id : aTagsIds.tokenize(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (id.compare(aId, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

TtasksListFilter::TtasksListFilter(TtasksListModel* aModel, QObject* aParent)
    : QSortFilterProxyModel(aParent), FModel(aModel)
{
    setSourceModel(aModel);
    // The rows keep the model's order: nothing is sorted here.
    setDynamicSortFilter(false);
    // The folded copies follow the rows. The model announces each change
    // before the filter takes in its rows, so the copies are in place by then.
    ConnectGuarded(aModel, &QAbstractItemModel::rowsAboutToBeInserted, this,
                   [this](const QModelIndex&, int aFirst, int aLast) {
                       if (!FFolded.empty() && static_cast<size_t>(aFirst) <= FFolded.size())
                           FFolded.insert(FFolded.begin() + aFirst,
                                          static_cast<size_t>(aLast - aFirst + 1), TFolded());
                   });
    ConnectGuarded(aModel, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                   [this](const QModelIndex&, int aFirst, int aLast) {
                       if (static_cast<size_t>(aLast) < FFolded.size())
                           FFolded.erase(FFolded.begin() + aFirst, FFolded.begin() + aLast + 1);
                       else
                           FFolded.clear();
                   });
    ConnectGuarded(aModel, &QAbstractItemModel::dataChanged, this,
                   [this](const QModelIndex& aTopLeft, const QModelIndex& aBottomRight,
                          const QList<int>& aRoles) {
                       // An unread mark changes no text.
                       if (!aRoles.isEmpty() && !aRoles.contains(Qt::DisplayRole))
                           return;
                       for (int row = aTopLeft.row();
                            row <= aBottomRight.row() && static_cast<size_t>(row) < FFolded.size();
                            ++row)
                           FFolded[static_cast<size_t>(row)].Ready = false;
                   });
    const auto dropAll = [this] { FFolded.clear(); };
    ConnectGuarded(aModel, &QAbstractItemModel::modelAboutToBeReset, this, dropAll);
    ConnectGuarded(aModel, &QAbstractItemModel::layoutAboutToBeChanged, this, dropAll);
    ConnectGuarded(aModel, &QAbstractItemModel::rowsAboutToBeMoved, this, dropAll);
}

void TtasksListFilter::SetTagId(const QString& aTagId)
{
    if (FTagId == aTagId)
        return;
    FTagId = aTagId;
    // Rebuilding the mapping at once is cheaper than removing and inserting the
    // rows range by range when most of them change.
    invalidate();
}

TTaskRecord* TtasksListFilter::Record(const QModelIndex& aViewIndex) const
{
    if (!aViewIndex.isValid())
        return nullptr;
    return FModel->Record(mapToSource(aViewIndex));
}

int TtasksListFilter::SourceRow(int aViewRow) const
{
    if (aViewRow < 0 || aViewRow >= rowCount())
        return -1;
    return mapToSource(index(aViewRow, 0)).row();
}

void TtasksListFilter::SetFindText(const QString& aText)
{
    if (FFindText == aText)
        return;
    FFindText = aText;
    FFoldedFindText = aText.toCaseFolded();
    // As with a tab: most rows come or go with a keystroke.
    invalidate();
}

void TtasksListFilter::PrepareFind()
{
    for (int row = 0; row < FModel->Count(); ++row)
        Folded(row);
}

void TtasksListFilter::DropFind()
{
    std::vector<TFolded>().swap(FFolded);
}

const TtasksListFilter::TFolded& TtasksListFilter::Folded(int aSourceRow) const
{
    // A model changed in a way the copies missed is folded again.
    if (FFolded.size() != static_cast<size_t>(FModel->Count())) {
        FFolded.clear();
        FFolded.resize(static_cast<size_t>(FModel->Count()));
    }
    TFolded& folded = FFolded[static_cast<size_t>(aSourceRow)];
    if (!folded.Ready) {
        const TTaskRecord* record = FModel->Record(aSourceRow);
        folded.Summary = record ? record->summary.toCaseFolded() : QString();
        folded.Note = record ? record->note.toCaseFolded() : QString();
        folded.Ready = true;
    }
    return folded;
}

bool TtasksListFilter::filterAcceptsRow(int aSourceRow, const QModelIndex&) const
{
    if (FTagId.isEmpty() && FFindText.isEmpty())
        return true;
    const TTaskRecord* record = FModel->Record(aSourceRow);
    if (!record)
        return false;
    if (!FTagId.isEmpty() && !TagsIdsContain(record->tagsids, FTagId))
        return false;
    if (FFindText.isEmpty())
        return true;
    // The same comparison as TaskMatchesFind, on copies folded once.
    const TFolded& folded = Folded(aSourceRow);
    return folded.Summary.contains(FFoldedFindText) || folded.Note.contains(FFoldedFindText);
}

bool TaskMatchesFind(const TTaskRecord& aRecord, const QString& aText)
{
    // Qt compares case-insensitively by folding each character, a surrogate
    // pair as one: "σ", "ς" and "Σ" find each other, so do "𐐨" and "𐐀".
    return aText.isEmpty() || aRecord.summary.contains(aText, Qt::CaseInsensitive) ||
           aRecord.note.contains(aText, Qt::CaseInsensitive);
}

// ---------------------------------------------------------------- painting rules

std::vector<TTagBand> TagBands(const QRect& aCell, int aColumn, const QString& aTagsIds,
                               const std::function<const TtasksTag*(const QString&)>& aGetTag)
{
    std::vector<TTagBand> bands;
    const QStringList ids = aTagsIds.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (ids.isEmpty())
        return bands;
    const int height = aCell.height() / static_cast<int>(ids.size());
    if (height <= 0)
        return bands;
    for (qsizetype i = 0; i < ids.size(); ++i) {
        const TtasksTag* tag = aGetTag ? aGetTag(ids[i]) : nullptr;
        if (!tag)
            continue;
        TTagBand band;
        band.Rect =
            QRect(aCell.left(), aCell.top() + static_cast<int>(i) * height, aCell.width(), height);
        const auto color = static_cast<uint32_t>(tag->color);
        band.Fill = TagColor(static_cast<int32_t>(LightenColor(color, 240)));
        band.HasLine = aColumn == 0;
        band.Line = TagColor(static_cast<int32_t>(LightenColor(color, 100)));
        bands.push_back(band);
    }
    return bands;
}

TRowTextStyle TaskTextStyle(const TTaskRecord& aRecord, bool aUnread, TDateTime aNow,
                            const QFont& aFont, const QColor& aNormal)
{
    TRowTextStyle style{aFont, aNormal};
    if (aUnread)
        style.Font.setBold(true);
    if (aRecord.finished) {
        style.Font = aFont;
        style.Font.setBold(false);
        style.Font.setStrikeOut(true);
        style.Color = kSilver;
    } else if (aRecord.duedt == 0) {
        style.Color = kGray;
    } else if (aNow > aRecord.duedt) {
        style.Color = kRed;
    }
    return style;
}

// ---------------------------------------------------------------- delegate

TtasksListDelegate::TtasksListDelegate(TtasksListModel* aModel, QObject* aParent)
    : QStyledItemDelegate(aParent), FModel(aModel)
{
}

QSize TtasksListDelegate::sizeHint(const QStyleOptionViewItem& aOption,
                                   const QModelIndex& aIndex) const
{
    QSize size = QStyledItemDelegate::sizeHint(aOption, aIndex);
    size.setHeight(kRowHeight);
    return size;
}

void TtasksListDelegate::paint(QPainter* aPainter, const QStyleOptionViewItem& aOption,
                               const QModelIndex& aIndex) const
{
    const TTaskRecord* record = FModel->Record(SourceIndex(aIndex));
    if (!record) {
        QStyledItemDelegate::paint(aPainter, aOption, aIndex);
        return;
    }
    QStyleOptionViewItem option = aOption;
    initStyleOption(&option, aIndex);

    // Tag bands first, as the cell's background.
    const std::vector<TTagBand> bands =
        TagBands(option.rect, aIndex.column(), record->tagsids, GetTag);
    for (const TTagBand& band : bands) {
        aPainter->fillRect(band.Rect, band.Fill);
        if (band.HasLine)
            aPainter->fillRect(QRect(band.Rect.left(), band.Rect.top(), 1, band.Rect.height()),
                               band.Line);
    }

    // The selection is blended over the bands so the text keeps its colour.
    if (option.state & QStyle::State_Selected) {
        QColor highlight = option.palette.color(QPalette::Active, QPalette::Highlight);
        highlight.setAlpha(90);
        aPainter->fillRect(option.rect, highlight);
    }
    option.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    option.backgroundBrush = Qt::NoBrush;

    // The check box sits on a pastel band: in a dark theme its dark box would
    // show as a black square there, so it takes light colours on bands.
    // Off the bands its outline, drawn darker than the window colour, would
    // vanish on the dark rows, so it is drawn from a light gray.
    if (IsDark(option.palette.color(QPalette::Base))) {
        if (!bands.empty()) {
            option.palette.setColor(QPalette::Base, Qt::white);
            option.palette.setColor(QPalette::Window, Qt::white);
            option.palette.setColor(QPalette::Text, Qt::black);
        } else {
            option.palette.setColor(QPalette::Window, QColor(190, 190, 190));
        }
    }
    if (!option.text.isEmpty()) {
        QColor normal = option.palette.color(QPalette::Text);
        // Bands are pastel in every theme: on them a light text colour of a
        // dark theme would vanish, so it gives way to black.
        if (!bands.empty() && IsLight(normal))
            normal = Qt::black;
        const bool unread = aIndex.data(TasksUnreadRole).toBool();
        const TRowTextStyle style = TaskTextStyle(*record, unread, Now(), option.font, normal);
        option.font = style.Font;
        option.fontMetrics = QFontMetrics(style.Font);
        option.palette.setColor(QPalette::Text, style.Color);
        option.palette.setColor(QPalette::HighlightedText, style.Color);
    }
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &option, aPainter, widget);
}

// ---------------------------------------------------------------- view

TtasksTaskTree::TtasksTaskTree(QWidget* aParent) : QTreeView(aParent) {}

void TtasksTaskTree::SetBackground(const QPixmap& aPicture)
{
    FBackground = aPicture;
    PlaceBackground();
    viewport()->update();
}

void TtasksTaskTree::PlaceBackground()
{
    FBackgroundPos = QPoint(viewport()->width() - 200, viewport()->height() - 200);
}

void TtasksTaskTree::paintEvent(QPaintEvent* aEvent)
{
    if (!FBackground.isNull()) {
        QPainter painter(viewport());
        painter.drawPixmap(FBackgroundPos, FBackground);
    }
    QTreeView::paintEvent(aEvent);
}

void TtasksTaskTree::resizeEvent(QResizeEvent* aEvent)
{
    QTreeView::resizeEvent(aEvent);
    PlaceBackground();
    viewport()->update();
    Q_EMIT Resized();
}

void TtasksTaskTree::scrollContentsBy(int aDx, int aDy)
{
    QTreeView::scrollContentsBy(aDx, aDy);
    // Scrolling moves the drawn pixels; the picture must stay where it is.
    viewport()->update();
}

void TtasksTaskTree::mouseReleaseEvent(QMouseEvent* aEvent)
{
    QTreeView::mouseReleaseEvent(aEvent);
    if (aEvent->button() == Qt::LeftButton)
        Q_EMIT Clicked();
}

void TtasksTaskTree::mouseDoubleClickEvent(QMouseEvent* aEvent)
{
    QTreeView::mouseDoubleClickEvent(aEvent);
    if (aEvent->button() == Qt::LeftButton)
        Q_EMIT DoubleClicked();
}

void TtasksTaskTree::keyPressEvent(QKeyEvent* aEvent)
{
    const QModelIndex current = currentIndex();
    if (aEvent->key() == Qt::Key_Space && aEvent->modifiers() == Qt::NoModifier &&
        current.isValid() && !isRowHidden(current.row(), QModelIndex())) {
        const QModelIndex box = current.siblingAtColumn(0);
        const bool ticked = box.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        model()->setData(box, ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        aEvent->accept();
        return;
    }
    QTreeView::keyPressEvent(aEvent);
}

QSize TtasksTabBar::tabSizeHint(int aIndex) const
{
    QSize size = QTabBar::tabSizeHint(aIndex);
    size.setWidth(std::min(size.width(), kMaxTabWidth));
    return size;
}
