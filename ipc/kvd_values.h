#pragma once

// Named values of many kinds, and ordered lists of them. The worker pool hands a
// task its parameters in a value list; the pipe server passes the connected
// client's handle that way under the name "PipeHandle".

#include "util/kvd_datetime.h"
#include "util/kvd_errors.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

// Raised by the value list for a position outside 0..Count-1.
KVD_DECLARE_ERROR(EListError, EkvdError)

// The kind codes of a value; the numbers are part of the value's meaning.
enum class TAnyValueKind : uint8_t
{
    avkEmpty = 0,
    avkBoolean = 1,
    avkInteger = 2,
    avkInt64 = 3,
    avkCardinal = 4,
    avkFloat = 5,
    avkString = 6,
    avkPointer = 7,
    avkObject = 8,
    avkInterface = 9,
    avkAnsiString = 10,
    avkWideString = 11,
    avkDateTime = 12,
};

// One value of any of the 13 kinds. The scalar kinds share a 16-byte payload;
// their getters read those bytes as their own type whatever kind was set, so a
// value set as Integer reads back sign-extended through AsInt64. The three text
// getters convert by kind and raise EConvertError ("Value cannot be converted to
// string", "... to AnsiString", "... to WideString") where no conversion exists.
// AnsiString means the local 8-bit encoding (UTF-8 on Linux).
class TAnyValue
{
public:
    TAnyValue();

    TAnyValueKind Kind() const { return FKind; }
    void Clear();

    void SetAsBoolean(bool aValue);
    void SetAsInteger(int32_t aValue);
    void SetAsInt64(int64_t aValue);
    void SetAsCardinal(uint32_t aValue);
    void SetAsFloat(long double aValue);
    void SetAsString(const QString& aValue);
    void SetAsPointer(void* aValue);
    void SetAsObject(void* aValue);
    void SetAsInterface(std::shared_ptr<void> aValue);
    void SetAsAnsiString(const QByteArray& aValue);
    void SetAsWideString(const QString& aValue);
    void SetAsDateTime(TDateTime aValue);

    bool AsBoolean() const;
    int32_t AsInteger() const;
    int64_t AsInt64() const;
    uint32_t AsCardinal() const;
    long double AsFloat() const;
    QString AsString() const;
    void* AsPointer() const;
    void* AsObject() const;
    // A new reference to the object of an Interface value; none for other kinds.
    std::shared_ptr<void> AsInterface() const;
    QByteArray AsAnsiString() const;
    QString AsWideString() const;
    TDateTime AsDateTime() const;

private:
    void SetPayload(const void* aData, size_t aSize, TAnyValueKind aKind);
    template <typename T> T Payload() const;
    QString TextOfScalar(const char* aTarget) const;
    QString TextAs(const char* aTarget) const;

    TAnyValueKind FKind = TAnyValueKind::avkEmpty;
    alignas(16) unsigned char FPayload[16];
    QByteArray FBuffer;               // the bytes of the three text kinds
    std::shared_ptr<void> FInterface; // the reference an Interface value holds
};

// A named value, shared by reference (counts change atomically).
class IAnyValue
{
public:
    virtual ~IAnyValue() = default;

    virtual QString GetName() const = 0;
    virtual void SetName(const QString& aName) = 0;
    virtual TAnyValueKind GetKind() const = 0;

    virtual void SetAsBoolean(bool aValue) = 0;
    virtual void SetAsInteger(int32_t aValue) = 0;
    virtual void SetAsInt64(int64_t aValue) = 0;
    virtual void SetAsCardinal(uint32_t aValue) = 0;
    virtual void SetAsFloat(long double aValue) = 0;
    virtual void SetAsString(const QString& aValue) = 0;
    virtual void SetAsPointer(void* aValue) = 0;
    virtual void SetAsObject(void* aValue) = 0;
    virtual void SetAsInterface(std::shared_ptr<void> aValue) = 0;
    virtual void SetAsAnsiString(const QByteArray& aValue) = 0;
    virtual void SetAsWideString(const QString& aValue) = 0;
    virtual void SetAsDateTime(TDateTime aValue) = 0;

    virtual bool AsBoolean() const = 0;
    virtual int32_t AsInteger() const = 0;
    virtual int64_t AsInt64() const = 0;
    virtual uint32_t AsCardinal() const = 0;
    virtual long double AsFloat() const = 0;
    virtual QString AsString() const = 0;
    virtual void* AsPointer() const = 0;
    virtual void* AsObject() const = 0;
    virtual std::shared_ptr<void> AsInterface() const = 0;
    virtual QByteArray AsAnsiString() const = 0;
    virtual QString AsWideString() const = 0;
    virtual TDateTime AsDateTime() const = 0;
};
using PAnyValue = std::shared_ptr<IAnyValue>;

// A name and one TAnyValue; a new one has an empty name and kind 0.
class TAnyValueObject : public IAnyValue
{
public:
    QString GetName() const override { return FName; }
    void SetName(const QString& aName) override { FName = aName; }
    TAnyValueKind GetKind() const override { return FValue.Kind(); }

    void SetAsBoolean(bool aValue) override { FValue.SetAsBoolean(aValue); }
    void SetAsInteger(int32_t aValue) override { FValue.SetAsInteger(aValue); }
    void SetAsInt64(int64_t aValue) override { FValue.SetAsInt64(aValue); }
    void SetAsCardinal(uint32_t aValue) override { FValue.SetAsCardinal(aValue); }
    void SetAsFloat(long double aValue) override { FValue.SetAsFloat(aValue); }
    void SetAsString(const QString& aValue) override { FValue.SetAsString(aValue); }
    void SetAsPointer(void* aValue) override { FValue.SetAsPointer(aValue); }
    void SetAsObject(void* aValue) override { FValue.SetAsObject(aValue); }
    void SetAsInterface(std::shared_ptr<void> aValue) override
    {
        FValue.SetAsInterface(std::move(aValue));
    }
    void SetAsAnsiString(const QByteArray& aValue) override { FValue.SetAsAnsiString(aValue); }
    void SetAsWideString(const QString& aValue) override { FValue.SetAsWideString(aValue); }
    void SetAsDateTime(TDateTime aValue) override { FValue.SetAsDateTime(aValue); }

    bool AsBoolean() const override { return FValue.AsBoolean(); }
    int32_t AsInteger() const override { return FValue.AsInteger(); }
    int64_t AsInt64() const override { return FValue.AsInt64(); }
    uint32_t AsCardinal() const override { return FValue.AsCardinal(); }
    long double AsFloat() const override { return FValue.AsFloat(); }
    QString AsString() const override { return FValue.AsString(); }
    void* AsPointer() const override { return FValue.AsPointer(); }
    void* AsObject() const override { return FValue.AsObject(); }
    std::shared_ptr<void> AsInterface() const override { return FValue.AsInterface(); }
    QByteArray AsAnsiString() const override { return FValue.AsAnsiString(); }
    QString AsWideString() const override { return FValue.AsWideString(); }
    TDateTime AsDateTime() const override { return FValue.AsDateTime(); }

private:
    QString FName;
    TAnyValue FValue;
};

// An ordered list of shared values. Names match when both are empty or when
// they are equal ignoring the case of A to Z (other letters compare exactly).
class IValueList
{
public:
    virtual ~IValueList() = default;

    virtual int Count() const = 0;
    // Raises EListError for a position outside 0..Count-1.
    virtual PAnyValue Items(int aIndex) const = 0;
    // The first value whose name matches, or nullptr.
    virtual PAnyValue FindValue(const QString& aName) const = 0;
    virtual bool HasValue(const QString& aName) const = 0;
    // The matching value, or a new empty one with that name appended at the end.
    virtual PAnyValue EnsureValue(const QString& aName) = 0;
    virtual void Clear() = 0;
};
using PValueList = std::shared_ptr<IValueList>;

class TValueList : public IValueList
{
public:
    int Count() const override;
    PAnyValue Items(int aIndex) const override;
    PAnyValue FindValue(const QString& aName) const override;
    bool HasValue(const QString& aName) const override;
    PAnyValue EnsureValue(const QString& aName) override;
    void Clear() override;

    // Whether two value names match by the list's rule.
    static bool SameName(const QString& aLeft, const QString& aRight);

private:
    std::vector<PAnyValue> FItems;
};
