#include "tags/tasks_tags.h"

#include "store/tasks_store.h"
#include "util/kvd_colors.h"
#include "util/kvd_widgets.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPalette>
#include <QStyledItemDelegate>
#include <algorithm>

// One row of a tag list. Rows carry no data of their own: the controller maps
// them to tags. The model keeps the row's check mark.
class TtasksTagNode
{
public:
    TtasksTagNode(TtasksTagsModel* aModel, bool aCheckBox) : Model(aModel), CheckBox(aCheckBox) {}

    TtasksTagsModel* const Model;
    const bool CheckBox;
    Qt::CheckState Check = Qt::Unchecked;
};

// The list widget's data: a flat list of rows whose text, colour and check
// changes are answered by the controller.
class TtasksTagsModel : public QAbstractTableModel
{
public:
    explicit TtasksTagsModel(TtasksTagsVirtualTreeControler* aControler) : FControler(aControler) {}

    void SetColumns(int aColumns)
    {
        beginResetModel();
        FColumns = aColumns;
        endResetModel();
    }

    TtasksTagNode* AppendNode(bool aCheckBox)
    {
        const int row = static_cast<int>(FRows.size());
        beginInsertRows(QModelIndex(), row, row);
        FRows.push_back(std::make_unique<TtasksTagNode>(this, aCheckBox));
        endInsertRows();
        return FRows.back().get();
    }

    void RemoveNode(TtasksTagNode* aNode)
    {
        const int row = RowOf(aNode);
        if (row < 0)
            return;
        beginRemoveRows(QModelIndex(), row, row);
        FRows.erase(FRows.begin() + row);
        endRemoveRows();
    }

    void ClearNodes()
    {
        beginResetModel();
        FRows.clear();
        endResetModel();
    }

    // Sets a row's mark from code: the views repaint, no check notification.
    void SetCheck(TtasksTagNode* aNode, Qt::CheckState aState)
    {
        aNode->Check = aState;
        const int row = RowOf(aNode);
        if (row >= 0)
            Q_EMIT dataChanged(index(row, 0), index(row, FColumns - 1), {Qt::CheckStateRole});
    }

    int RowOf(const TtasksTagNode* aNode) const
    {
        for (size_t i = 0; i < FRows.size(); ++i) {
            if (FRows[i].get() == aNode)
                return static_cast<int>(i);
        }
        return -1;
    }

    TtasksTagNode* NodeAt(int aRow) const
    {
        return aRow >= 0 && aRow < static_cast<int>(FRows.size()) ? FRows[aRow].get() : nullptr;
    }

    int rowCount(const QModelIndex& aParent = QModelIndex()) const override
    {
        return aParent.isValid() ? 0 : static_cast<int>(FRows.size());
    }

    int columnCount(const QModelIndex& aParent = QModelIndex()) const override
    {
        return aParent.isValid() ? 0 : FColumns;
    }

    QVariant data(const QModelIndex& aIndex, int aRole) const override
    {
        TtasksTagNode* node = NodeAt(aIndex.row());
        if (!node)
            return QVariant();
        switch (aRole) {
        case Qt::DisplayRole: {
            QString text;
            FControler->TreeGetText(node, aIndex.column(), text);
            return text;
        }
        case Qt::ForegroundRole: {
            QColor color;
            FControler->TreePaintText(node, color);
            return color.isValid() ? QVariant(color) : QVariant();
        }
        case Qt::CheckStateRole:
            if (node->CheckBox && aIndex.column() == 0)
                return static_cast<int>(node->Check);
            return QVariant();
        default:
            return QVariant();
        }
    }

    Qt::ItemFlags flags(const QModelIndex& aIndex) const override
    {
        Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        const TtasksTagNode* node = NodeAt(aIndex.row());
        if (node && node->CheckBox && aIndex.column() == 0)
            result |= Qt::ItemIsUserCheckable;
        return result;
    }

    // Only the user's click or key reaches here (through the view's delegate):
    // it is the check notification. The value is not read from the box; the
    // controller flips the tag.
    bool setData(const QModelIndex& aIndex, const QVariant&, int aRole) override
    {
        TtasksTagNode* node = NodeAt(aIndex.row());
        if (aRole != Qt::CheckStateRole || !node || !node->CheckBox || aIndex.column() != 0)
            return false;
        FControler->TreeChecked(node);
        return true;
    }

private:
    TtasksTagsVirtualTreeControler* FControler;
    std::vector<std::unique_ptr<TtasksTagNode>> FRows;
    int FColumns = 1;
};

namespace {

// Draws titles in their tag's colour also on a selected row: the selection is
// a blend of the highlight and the base colour, and no focus rectangle is drawn.
// A title whose colour would vanish into the list's background (navy on a dark
// theme, white on a light one) gets a neutral light or dark background instead.
class TtasksTagsDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* aOption, const QModelIndex& aIndex) const override
    {
        QStyledItemDelegate::initStyleOption(aOption, aIndex);
        aOption->state &= ~QStyle::State_HasFocus;
        const QVariant foreground = aIndex.data(Qt::ForegroundRole);
        const QColor text = foreground.isValid() ? foreground.value<QColor>()
                                                 : aOption->palette.color(QPalette::Text);
        const QColor base = aOption->palette.color(QPalette::Base);
        const QColor highlight = aOption->palette.color(QPalette::Highlight);
        const QColor blend((highlight.red() * 2 + base.red() * 3) / 5,
                           (highlight.green() * 2 + base.green() * 3) / 5,
                           (highlight.blue() * 2 + base.blue() * 3) / 5);
        if (foreground.isValid() && !aOption->text.isEmpty() && ContrastRatio(text, base) < 2.5)
            aOption->backgroundBrush =
                Luminance(text) < 0.2 ? QColor(0xF0, 0xF0, 0xF0) : QColor(0x30, 0x30, 0x30);
        // On a dark list the style outlines an empty box in a shade of the
        // window colour that vanishes into the base; a light window colour gives
        // the box a visible edge.
        if ((aOption->features & QStyleOptionViewItem::HasCheckIndicator) && IsDark(base))
            aOption->palette.setColor(QPalette::Window, QColor(0xB0, 0xB0, 0xB0));
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            aOption->palette.setColor(group, QPalette::Highlight, blend);
            aOption->palette.setColor(group, QPalette::HighlightedText, text);
        }
    }
};

// Space on a row with a check box is the user's tick, like a click on the box,
// whichever column holds the focus.
class TtasksTagsKeyFilter : public QObject
{
public:
    TtasksTagsKeyFilter(QTreeView* aTree, TtasksTagsModel* aModel) : FTree(aTree), FModel(aModel) {}

protected:
    bool eventFilter(QObject* aWatched, QEvent* aEvent) override
    {
        if (aWatched == FTree && aEvent->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(aEvent)->key() == Qt::Key_Space) {
            const QModelIndex current = FTree->currentIndex();
            TtasksTagNode* node = current.isValid() ? FModel->NodeAt(current.row()) : nullptr;
            if (node && node->CheckBox) {
                FModel->setData(FModel->index(current.row(), 0), QVariant(), Qt::CheckStateRole);
                return true;
            }
        }
        return false;
    }

private:
    QTreeView* FTree;
    TtasksTagsModel* FModel;
};

// The Windows desktop's system colour indexes, as files written there store
// them, and the palette entry that stands for each on this desktop.
struct TSystemColorRole
{
    int Index;
    const char* Name;
    QPalette::ColorGroup Group;
    QPalette::ColorRole Role;
};

const TSystemColorRole kSystemColorRoles[] = {
    {0, "clScrollBar", QPalette::Active, QPalette::Mid},
    {1, "clBackground", QPalette::Active, QPalette::Dark},
    {2, "clActiveCaption", QPalette::Active, QPalette::Highlight},
    {3, "clInactiveCaption", QPalette::Inactive, QPalette::Highlight},
    {4, "clMenu", QPalette::Active, QPalette::Window},
    {5, "clWindow", QPalette::Active, QPalette::Base},
    {6, "clWindowFrame", QPalette::Active, QPalette::Shadow},
    {7, "clMenuText", QPalette::Active, QPalette::WindowText},
    {8, "clWindowText", QPalette::Active, QPalette::Text},
    {9, "clCaptionText", QPalette::Active, QPalette::HighlightedText},
    {10, "clActiveBorder", QPalette::Active, QPalette::Window},
    {11, "clInactiveBorder", QPalette::Inactive, QPalette::Window},
    {12, "clAppWorkSpace", QPalette::Active, QPalette::Mid},
    {13, "clHighlight", QPalette::Active, QPalette::Highlight},
    {14, "clHighlightText", QPalette::Active, QPalette::HighlightedText},
    {15, "clBtnFace", QPalette::Active, QPalette::Button},
    {16, "clBtnShadow", QPalette::Active, QPalette::Dark},
    {17, "clGrayText", QPalette::Disabled, QPalette::Text},
    {18, "clBtnText", QPalette::Active, QPalette::ButtonText},
    {19, "clInactiveCaptionText", QPalette::Inactive, QPalette::HighlightedText},
    {20, "clBtnHighlight", QPalette::Active, QPalette::Light},
    {21, "cl3DDkShadow", QPalette::Active, QPalette::Shadow},
    {22, "cl3DLight", QPalette::Active, QPalette::Midlight},
    {23, "clInfoText", QPalette::Active, QPalette::ToolTipText},
    {24, "clInfoBk", QPalette::Active, QPalette::ToolTipBase},
    {26, "clHotLight", QPalette::Active, QPalette::Link},
    {27, "clGradientActiveCaption", QPalette::Active, QPalette::Highlight},
    {28, "clGradientInactiveCaption", QPalette::Inactive, QPalette::Highlight},
    {29, "clMenuHighlight", QPalette::Active, QPalette::Highlight},
    {30, "clMenuBar", QPalette::Active, QPalette::Window},
};

} // namespace

// ---------------------------------------------------------------- tag

void TtasksTag::SetChecked(bool aValue)
{
    FChecked = aValue;
    if (FNode)
        FNode->Model->SetCheck(FNode, aValue ? Qt::Checked : Qt::Unchecked);
}

// ---------------------------------------------------------------- listener lists

namespace {

template <class TList, class THandler> void RemoveFirst(TList& aList, const THandler& aHandler)
{
    auto found = std::find(aList.begin(), aList.end(), aHandler);
    if (found != aList.end())
        aList.erase(found);
}

} // namespace

void TtasksTagsAbstractControler::AddNewHandler(const TtasksTagNewEvent& aHandler)
{
    FNewHandlers.push_back(aHandler);
}

void TtasksTagsAbstractControler::RemoveNewHandler(const TtasksTagNewEvent& aHandler)
{
    RemoveFirst(FNewHandlers, aHandler);
}

void TtasksTagsAbstractControler::AddDeleteHandler(const TtasksTagDeleteEvent& aHandler)
{
    FDeleteHandlers.push_back(aHandler);
}

void TtasksTagsAbstractControler::RemoveDeleteHandler(const TtasksTagDeleteEvent& aHandler)
{
    RemoveFirst(FDeleteHandlers, aHandler);
}

void TtasksTagsAbstractControler::AddUpdateHandler(const TtasksTagUpdateEvent& aHandler)
{
    FUpdateHandlers.push_back(aHandler);
}

void TtasksTagsAbstractControler::RemoveUpdateHandler(const TtasksTagUpdateEvent& aHandler)
{
    RemoveFirst(FUpdateHandlers, aHandler);
}

// ---------------------------------------------------------------- tree controller

TtasksTagsVirtualTreeControler::TtasksTagsVirtualTreeControler(QTreeView* aTree)
    : FTree(aTree), FModel(std::make_unique<TtasksTagsModel>(this))
{
}

TtasksTagsVirtualTreeControler::~TtasksTagsVirtualTreeControler()
{
    // The widget may outlive its controller; it must not keep reading a model
    // that is about to go.
    if (FTree) {
        FTree->removeEventFilter(FKeyFilter.get());
        if (FTree->model() == FModel.get())
            FTree->setModel(nullptr);
    }
}

void TtasksTagsVirtualTreeControler::SetupColumns(int aColumns)
{
    FModel->SetColumns(aColumns);
    if (!FTree)
        return;
    QTreeView* tree = FTree;
    tree->setModel(FModel.get());
    tree->setItemDelegate(new TtasksTagsDelegate(tree));
    tree->setHeaderHidden(true);
    tree->setRootIsDecorated(false);
    tree->setItemsExpandable(false);
    tree->setUniformRowHeights(true);
    tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setAllColumnsShowFocus(true);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QHeaderView* header = tree->header();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(16);
    if (aColumns > 1) {
        header->setSectionResizeMode(0, QHeaderView::Fixed);
        header->resizeSection(0, 25);
    }
    header->setSectionResizeMode(TitleColumn(), QHeaderView::Stretch);
    if (!FKeyFilter) {
        FKeyFilter = std::make_unique<TtasksTagsKeyFilter>(tree, FModel.get());
        tree->installEventFilter(FKeyFilter.get());
    }
}

void TtasksTagsVirtualTreeControler::SetupTree()
{
    SetupColumns(2);
}

void TtasksTagsVirtualTreeControler::AppendRow(TtasksTag* aTag, bool aCheckBox)
{
    aTag->FNode = FModel->AppendNode(aCheckBox);
}

void TtasksTagsVirtualTreeControler::AddNode(TtasksTag* aTag)
{
    AppendRow(aTag, true);
}

void TtasksTagsVirtualTreeControler::TreeGetText(TtasksTagNode*, int, QString&) const {}

void TtasksTagsVirtualTreeControler::TreePaintText(TtasksTagNode*, QColor&) const {}

void TtasksTagsVirtualTreeControler::TreeChecked(TtasksTagNode*) {}

TtasksTag* TtasksTagsVirtualTreeControler::AddTag(const QString& aId)
{
    auto tag = std::make_unique<TtasksTag>(aId);
    auto place = std::lower_bound(
        FIds.begin(), FIds.end(), aId,
        [](const auto& aEntry, const QString& aKey) { return aEntry.first < aKey; });
    if (place != FIds.end() && place->first == aId)
        throw ETagListError(QStringLiteral("Duplicates not allowed"));
    TtasksTag* result = tag.get();
    place = FIds.emplace(place, aId, std::move(tag));
    try {
        AddNode(result);
    } catch (...) {
        FIds.erase(place);
        throw;
    }
    FNodes[result->node()] = result;
    return result;
}

void TtasksTagsVirtualTreeControler::DeleteTag(const QString& aId)
{
    auto place = std::lower_bound(
        FIds.begin(), FIds.end(), aId,
        [](const auto& aEntry, const QString& aKey) { return aEntry.first < aKey; });
    if (place == FIds.end() || place->first != aId)
        return;
    TtasksTagNode* node = place->second->node();
    FNodes.erase(node);
    FModel->RemoveNode(node);
    FIds.erase(place);
}

void TtasksTagsVirtualTreeControler::Clear()
{
    FModel->ClearNodes();
    FNodes.clear();
    FIds.clear();
}

TtasksTag* TtasksTagsVirtualTreeControler::GetTag(const QString& aId) const
{
    auto place = std::lower_bound(
        FIds.begin(), FIds.end(), aId,
        [](const auto& aEntry, const QString& aKey) { return aEntry.first < aKey; });
    return place != FIds.end() && place->first == aId ? place->second.get() : nullptr;
}

TtasksTag* TtasksTagsVirtualTreeControler::GetTagByIndex(int aIndex) const
{
    return FIds[aIndex].second.get();
}

int TtasksTagsVirtualTreeControler::Count() const
{
    return static_cast<int>(FIds.size());
}

TtasksTag* TtasksTagsVirtualTreeControler::GetSelected() const
{
    if (!FTree || !FTree->selectionModel() || FTree->model() != FModel.get())
        return nullptr;
    int first = -1;
    for (const QModelIndex& index : FTree->selectionModel()->selectedIndexes()) {
        if (first < 0 || index.row() < first)
            first = index.row();
    }
    return TagOfRow(first);
}

int TtasksTagsVirtualTreeControler::RowOf(const TtasksTag* aTag) const
{
    if (!aTag || TagOfNode(aTag->node()) != aTag)
        return -1;
    return FModel->RowOf(aTag->node());
}

TtasksTag* TtasksTagsVirtualTreeControler::TagOfRow(int aRow) const
{
    return TagOfNode(FModel->NodeAt(aRow));
}

TtasksTag* TtasksTagsVirtualTreeControler::TagOfNode(TtasksTagNode* aNode) const
{
    auto found = FNodes.find(aNode);
    return found != FNodes.end() ? found->second : nullptr;
}

// ---------------------------------------------------------------- check list

TtasksTagsChecklist::TtasksTagsChecklist(QTreeView* aTree) : TtasksTagsVirtualTreeControler(aTree)
{
    SetupTree();
}

void TtasksTagsChecklist::TreeGetText(TtasksTagNode* aNode, int aColumn, QString& aText) const
{
    TtasksTag* tag = TagOfNode(aNode);
    if (!tag)
        return;
    aText = aColumn == 1 ? tag->title : QString();
}

void TtasksTagsChecklist::TreePaintText(TtasksTagNode* aNode, QColor& aColor) const
{
    if (TtasksTag* tag = TagOfNode(aNode))
        aColor = TagColor(tag->color);
}

void TtasksTagsChecklist::TreeChecked(TtasksTagNode* aNode)
{
    if (TtasksTag* tag = TagOfNode(aNode))
        tag->SetChecked(!tag->checked());
}

// ---------------------------------------------------------------- view

TtasksTagsView::TtasksTagsView(QTreeView* aTree) : TtasksTagsVirtualTreeControler(aTree)
{
    SetupTree();
}

void TtasksTagsView::SetupTree()
{
    SetupColumns(1);
}

void TtasksTagsView::AddNode(TtasksTag* aTag)
{
    AppendRow(aTag, false);
}

void TtasksTagsView::TreeGetText(TtasksTagNode* aNode, int aColumn, QString& aText) const
{
    TtasksTag* tag = TagOfNode(aNode);
    if (!tag)
        return;
    aText = aColumn == 0 ? tag->title : QString();
}

void TtasksTagsView::TreePaintText(TtasksTagNode* aNode, QColor& aColor) const
{
    if (TtasksTag* tag = TagOfNode(aNode))
        aColor = TagColor(tag->color);
}

// ---------------------------------------------------------------- loading

std::vector<TtasksTag*> LoadTags(ItasksTagsControler* aControler)
{
    std::vector<TStoredTag> stored;
    const TStoreResult loaded = TtasksStore::ListTags(stored);
    return FillTags(aControler, loaded, stored);
}

std::vector<TtasksTag*> FillTags(ItasksTagsControler* aControler, const TStoreResult& aLoaded,
                                 std::vector<TStoredTag>& aStored)
{
    aControler->Clear();
    if (!aLoaded)
        throw EDatabaseError(
            aLoaded.Message(QStringLiteral("The tags could not be read from the database.")));
    std::vector<TtasksTag*> tags;
    tags.reserve(aStored.size());
    for (TStoredTag& row : aStored) {
        TtasksTag* tag = aControler->AddTag(row.tagid);
        tag->title = std::move(row.title);
        tag->color = row.color;
        tag->image = row.image;
        tag->createddt = row.createddt;
        tags.push_back(tag);
    }
    return tags;
}

// ---------------------------------------------------------------- colours

QColor TagColor(int32_t aColor)
{
    const uint32_t value = static_cast<uint32_t>(aColor);
    if ((value >> 24) == 0xFF) {
        const int index = static_cast<int>(value & 0xFF);
        const QPalette palette = QApplication::palette();
        for (const TSystemColorRole& entry : kSystemColorRoles) {
            if (entry.Index == index)
                return palette.color(entry.Group, entry.Role);
        }
        return palette.color(QPalette::Active, QPalette::Text);
    }
    const TColorParts parts = ColorPartsOf(value);
    return QColor(parts.red, parts.green, parts.blue);
}

const std::vector<TtasksSystemColor>& SystemColors()
{
    static const std::vector<TtasksSystemColor> colors = [] {
        std::vector<TtasksSystemColor> result;
        for (const TSystemColorRole& entry : kSystemColorRoles)
            result.push_back({entry.Index, entry.Name});
        return result;
    }();
    return colors;
}
