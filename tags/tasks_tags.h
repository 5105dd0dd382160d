#pragma once

// Tags and the controllers that show a set of tags in a list widget.
//
// A controller owns the tag records it holds and drives one QTreeView through a
// model of its own. Windows keep a controller in a field of type
// std::shared_ptr<ItasksTagsControler> and fill it with LoadTags:
//
//     FTagsControler = std::make_shared<TtasksTagsChecklist>(vtTags);
//     LoadTags(FTagsControler.get());
//     for (int i = 0; i < FTagsControler->Count(); ++i)
//         FTagsControler->GetTagByIndex(i)->SetChecked(ids.contains(...));
//
// A tag pointer stays valid until that tag is deleted, the controller is
// cleared (LoadTags clears it) or the controller is destroyed. Everything runs on
// the GUI thread.

#include "util/kvd_datetime.h"
#include "util/kvd_errors.h"

#include <QByteArray>
#include <QColor>
#include <QModelIndex>
#include <QPointer>
#include <QString>
#include <QTreeView>
#include <cstdint>
#include <functional>
#include <memory>
#include <typeinfo>
#include <unordered_map>
#include <utility>
#include <vector>

class ItasksTagsControler;
class TtasksTagNode;
class TtasksTagsModel;
struct TStoreResult;
struct TStoredTag;

// Raised by AddTag for an id that the controller already holds.
KVD_DECLARE_ERROR(ETagListError, EkvdError)

// One tag held by a controller.
class TtasksTag
{
public:
    explicit TtasksTag(const QString& aId) : tagid(aId) {}
    TtasksTag(const TtasksTag&) = delete;
    TtasksTag& operator=(const TtasksTag&) = delete;

    // The key of the tags table; never changes.
    const QString tagid;
    QString title;
    // Red in the lowest byte, then green, then blue. A top byte of 0xFF names a
    // system colour of the desktop by its index in the low byte (see TagColor).
    int32_t color = 0;
    // Read from the table and kept; no view shows it.
    int image = 0;
    TDateTime createddt = 0;

    bool checked() const { return FChecked; }
    // Stores the flag and sets the row's check mark to match. It never raises
    // the controller's check notification, so it cannot lead back into
    // TreeChecked.
    void SetChecked(bool aValue);

    // The row that shows this tag; set by AddTag.
    TtasksTagNode* node() const { return FNode; }

private:
    friend class TtasksTagsVirtualTreeControler;
    bool FChecked = false;
    TtasksTagNode* FNode = nullptr;
};

// A listener: a member function bound to an object. Two listeners are equal when
// they call the same member function on the same object, which is what the
// Remove...Handler operations compare.
template <class... TArgs> class TtasksTagEvent
{
public:
    template <class TObject>
    static TtasksTagEvent Bind(TObject* aObject, bool (TObject::*aMethod)(TArgs...))
    {
        TtasksTagEvent event;
        event.FObject = aObject;
        event.FMethod = QByteArray(typeid(TObject).name()) +
                        QByteArray(reinterpret_cast<const char*>(&aMethod), sizeof(aMethod));
        event.FCall = [aObject, aMethod](TArgs... aArgs) {
            return (aObject->*aMethod)(std::forward<TArgs>(aArgs)...);
        };
        return event;
    }

    bool operator()(TArgs... aArgs) const { return FCall(std::forward<TArgs>(aArgs)...); }
    bool operator==(const TtasksTagEvent& aOther) const
    {
        return FObject == aOther.FObject && FMethod == aOther.FMethod;
    }

private:
    const void* FObject = nullptr;
    QByteArray FMethod;
    std::function<bool(TArgs...)> FCall;
};

// aSender, aTag, aId (out)
using TtasksTagNewEvent = TtasksTagEvent<ItasksTagsControler*, TtasksTag*, QString&>;
// aSender, aTag
using TtasksTagUpdateEvent = TtasksTagEvent<ItasksTagsControler*, TtasksTag*>;
using TtasksTagDeleteEvent = TtasksTagEvent<ItasksTagsControler*, TtasksTag*>;

// What a window uses of a tag controller. Held through std::shared_ptr; the
// window that creates the controller holds the only reference and drops it
// before its widgets are destroyed.
class ItasksTagsControler
{
public:
    virtual ~ItasksTagsControler() = default;

    virtual void AddNewHandler(const TtasksTagNewEvent& aHandler) = 0;
    virtual void RemoveNewHandler(const TtasksTagNewEvent& aHandler) = 0;
    virtual void AddDeleteHandler(const TtasksTagDeleteEvent& aHandler) = 0;
    virtual void RemoveDeleteHandler(const TtasksTagDeleteEvent& aHandler) = 0;
    virtual void AddUpdateHandler(const TtasksTagUpdateEvent& aHandler) = 0;
    virtual void RemoveUpdateHandler(const TtasksTagUpdateEvent& aHandler) = 0;

    // Creates the record and its row at the end of the list; the caller fills
    // the other fields. Raises ETagListError "Duplicates not allowed" when the
    // id is already held, and then changes nothing.
    virtual TtasksTag* AddTag(const QString& aId) = 0;
    // Removes the tag, its row and its record; an unknown id does nothing.
    virtual void DeleteTag(const QString& aId) = 0;
    virtual void Clear() = 0;
    // Exact, case-sensitive match; nullptr when there is none.
    virtual TtasksTag* GetTag(const QString& aId) const = 0;
    // aIndex from 0 to Count() - 1, not checked. The order is the id map's own
    // (neither load order nor by title); use it to visit every tag once.
    virtual TtasksTag* GetTagByIndex(int aIndex) const = 0;
    virtual int Count() const = 0;
    // The tag of the first selected row, nullptr when none is selected.
    virtual TtasksTag* GetSelected() const = 0;
};

// Keeps the three listener lists; the tag operations are left to subclasses.
// The controllers raise none of these events: the lists are kept for listeners
// that may want them.
class TtasksTagsAbstractControler : public ItasksTagsControler
{
public:
    void AddNewHandler(const TtasksTagNewEvent& aHandler) override;
    void RemoveNewHandler(const TtasksTagNewEvent& aHandler) override;
    void AddDeleteHandler(const TtasksTagDeleteEvent& aHandler) override;
    void RemoveDeleteHandler(const TtasksTagDeleteEvent& aHandler) override;
    void AddUpdateHandler(const TtasksTagUpdateEvent& aHandler) override;
    void RemoveUpdateHandler(const TtasksTagUpdateEvent& aHandler) override;

    int NewHandlerCount() const { return static_cast<int>(FNewHandlers.size()); }
    int DeleteHandlerCount() const { return static_cast<int>(FDeleteHandlers.size()); }
    int UpdateHandlerCount() const { return static_cast<int>(FUpdateHandlers.size()); }

protected:
    std::vector<TtasksTagNewEvent> FNewHandlers;
    std::vector<TtasksTagDeleteEvent> FDeleteHandlers;
    std::vector<TtasksTagUpdateEvent> FUpdateHandlers;
};

// Drives a QTreeView (not owned) through its own model. Holds the tags in a
// map from id to tag and a map from row to tag; both always hold the same tags.
class TtasksTagsVirtualTreeControler : public TtasksTagsAbstractControler
{
public:
    // Does not configure the widget: the concrete classes call SetupTree.
    explicit TtasksTagsVirtualTreeControler(QTreeView* aTree);
    ~TtasksTagsVirtualTreeControler() override;

    TtasksTag* AddTag(const QString& aId) override;
    void DeleteTag(const QString& aId) override;
    void Clear() override;
    TtasksTag* GetTag(const QString& aId) const override;
    TtasksTag* GetTagByIndex(int aIndex) const override;
    int Count() const override;
    TtasksTag* GetSelected() const override;

    QTreeView* Tree() const { return FTree; }
    // The list position of a tag's row, -1 for a tag this controller does not hold.
    int RowOf(const TtasksTag* aTag) const;
    // The tag shown at a list position, nullptr outside the list.
    TtasksTag* TagOfRow(int aRow) const;
    // The column that holds the title.
    virtual int TitleColumn() const { return 1; }

    // The widget's callbacks, answered by the model for this widget alone.
    virtual void SetupTree();
    virtual void AddNode(TtasksTag* aTag);
    virtual void TreeGetText(TtasksTagNode* aNode, int aColumn, QString& aText) const;
    virtual void TreePaintText(TtasksTagNode* aNode, QColor& aColor) const;
    virtual int TreeGetNodeDataSize() const { return 4; }
    // The user ticked or unticked a row's box.
    virtual void TreeChecked(TtasksTagNode* aNode);

protected:
    TtasksTag* TagOfNode(TtasksTagNode* aNode) const;
    // Appends a row for aTag, with or without a check box, and sets its node.
    void AppendRow(TtasksTag* aTag, bool aCheckBox);
    // Configures the widget with aColumns columns; the title column stretches.
    void SetupColumns(int aColumns);

private:
    QPointer<QTreeView> FTree;
    std::unique_ptr<TtasksTagsModel> FModel;
    std::unique_ptr<QObject> FKeyFilter;
    // The id map, kept sorted by id (binary, case-sensitive): GetTagByIndex
    // walks it in this order.
    std::vector<std::pair<QString, std::unique_ptr<TtasksTag>>> FIds;
    std::unordered_map<TtasksTagNode*, TtasksTag*> FNodes;
};

// Every tag with a check box in column 0 (25 pixels) and its title in column 1,
// written in the tag's colour. A click on the box or Space on a row flips the
// tag's checked flag.
class TtasksTagsChecklist : public TtasksTagsVirtualTreeControler
{
public:
    explicit TtasksTagsChecklist(QTreeView* aTree);

    void TreeGetText(TtasksTagNode* aNode, int aColumn, QString& aText) const override;
    void TreePaintText(TtasksTagNode* aNode, QColor& aColor) const override;
    void TreeChecked(TtasksTagNode* aNode) override;
};

// Every tag's title in one column, in the tag's colour, without check boxes.
class TtasksTagsView : public TtasksTagsVirtualTreeControler
{
public:
    explicit TtasksTagsView(QTreeView* aTree);

    int TitleColumn() const override { return 0; }
    void SetupTree() override;
    void AddNode(TtasksTag* aTag) override;
    void TreeGetText(TtasksTagNode* aNode, int aColumn, QString& aText) const override;
    void TreePaintText(TtasksTagNode* aNode, QColor& aColor) const override;
};

// Clears the controller and fills it from the tags table, ordered by title
// (binary comparison) and then by creation time; returns the tags in that
// order. A NULL column reads as empty text, 0 or the date-time 0. When the
// statement fails the store logs it, the controller is left empty and
// EDatabaseError is raised.
std::vector<TtasksTag*> LoadTags(ItasksTagsControler* aControler);
// The second half of LoadTags, for a caller that read the tags itself with
// TtasksStore::ListTags: clears the controller, raises when aLoaded failed,
// otherwise fills it from aStored (whose texts it takes).
std::vector<TtasksTag*> FillTags(ItasksTagsControler* aControler, const TStoreResult& aLoaded,
                                 std::vector<TStoredTag>& aStored);

// The colour a tag's colour value stands for on screen: a plain value as its
// red, green and blue bytes; a system colour (top byte 0xFF) from the
// application's palette (see SystemColors).
QColor TagColor(int32_t aColor);

// The desktop's system colours offered for tags: a value 0xFF000000 + index
// with its name ("clWindowText", ...). The indexes are those of the Windows
// desktop, so files written there read the same here.
struct TtasksSystemColor
{
    int Index;
    const char* Name;
};
const std::vector<TtasksSystemColor>& SystemColors();
