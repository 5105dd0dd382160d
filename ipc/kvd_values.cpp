#include "ipc/kvd_values.h"

#include <QLocale>
#include <cstring>

namespace {

QString FloatText(long double aValue)
{
    // General format with up to 15 significant digits and the user's decimal
    // separator; no digit grouping, as a plain number text has none.
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(static_cast<double>(aValue), 'g', 15);
}

[[noreturn]] void RaiseConversion(const char* aTarget)
{
    throw EConvertError(
        QStringLiteral("Value cannot be converted to %1").arg(QLatin1String(aTarget)));
}

} // namespace

TAnyValue::TAnyValue()
{
    std::memset(FPayload, 0, sizeof(FPayload));
}

void TAnyValue::Clear()
{
    FKind = TAnyValueKind::avkEmpty;
    std::memset(FPayload, 0, sizeof(FPayload));
    FBuffer.clear();
    FInterface.reset();
}

void TAnyValue::SetPayload(const void* aData, size_t aSize, TAnyValueKind aKind)
{
    // A new value replaces the old one completely, so no reference or text of a
    // previous kind is kept alive by accident.
    Clear();
    std::memcpy(FPayload, aData, aSize);
    FKind = aKind;
}

template <typename T> T TAnyValue::Payload() const
{
    static_assert(sizeof(T) <= sizeof(FPayload));
    T result;
    std::memcpy(&result, FPayload, sizeof(T));
    return result;
}

void TAnyValue::SetAsBoolean(bool aValue)
{
    const unsigned char byte = aValue ? 1 : 0;
    SetPayload(&byte, 1, TAnyValueKind::avkBoolean);
}

void TAnyValue::SetAsInteger(int32_t aValue)
{
    // Sign-extended into the 64-bit view, so AsInt64 reads the same number.
    const int64_t wide = aValue;
    SetPayload(&wide, sizeof(wide), TAnyValueKind::avkInteger);
}

void TAnyValue::SetAsInt64(int64_t aValue)
{
    SetPayload(&aValue, sizeof(aValue), TAnyValueKind::avkInt64);
}

void TAnyValue::SetAsCardinal(uint32_t aValue)
{
    // The upper half of the 64-bit view is 0, so AsInt64 reads it unsigned.
    const uint64_t wide = aValue;
    SetPayload(&wide, sizeof(wide), TAnyValueKind::avkCardinal);
}

void TAnyValue::SetAsFloat(long double aValue)
{
    SetPayload(&aValue, sizeof(aValue), TAnyValueKind::avkFloat);
}

void TAnyValue::SetAsDateTime(TDateTime aValue)
{
    const long double extended = aValue;
    SetPayload(&extended, sizeof(extended), TAnyValueKind::avkDateTime);
}

void TAnyValue::SetAsPointer(void* aValue)
{
    SetPayload(&aValue, sizeof(aValue), TAnyValueKind::avkPointer);
}

void TAnyValue::SetAsObject(void* aValue)
{
    SetPayload(&aValue, sizeof(aValue), TAnyValueKind::avkObject);
}

void TAnyValue::SetAsInterface(std::shared_ptr<void> aValue)
{
    void* raw = aValue.get();
    SetPayload(&raw, sizeof(raw), TAnyValueKind::avkInterface);
    FInterface = std::move(aValue);
}

void TAnyValue::SetAsString(const QString& aValue)
{
    Clear();
    FBuffer = QByteArray(reinterpret_cast<const char*>(aValue.utf16()), aValue.size() * 2);
    FKind = TAnyValueKind::avkString;
}

void TAnyValue::SetAsWideString(const QString& aValue)
{
    SetAsString(aValue);
    FKind = TAnyValueKind::avkWideString;
}

void TAnyValue::SetAsAnsiString(const QByteArray& aValue)
{
    Clear();
    FBuffer = aValue;
    FKind = TAnyValueKind::avkAnsiString;
}

bool TAnyValue::AsBoolean() const
{
    return FPayload[0] != 0;
}

int32_t TAnyValue::AsInteger() const
{
    return Payload<int32_t>();
}

int64_t TAnyValue::AsInt64() const
{
    return Payload<int64_t>();
}

uint32_t TAnyValue::AsCardinal() const
{
    return Payload<uint32_t>();
}

long double TAnyValue::AsFloat() const
{
    return Payload<long double>();
}

TDateTime TAnyValue::AsDateTime() const
{
    return static_cast<TDateTime>(Payload<long double>());
}

void* TAnyValue::AsPointer() const
{
    return Payload<void*>();
}

void* TAnyValue::AsObject() const
{
    return Payload<void*>();
}

std::shared_ptr<void> TAnyValue::AsInterface() const
{
    return FKind == TAnyValueKind::avkInterface ? FInterface : nullptr;
}

// The texts of the kinds that are not stored as text. Only the "string" target
// converts the 64-bit, unsigned and date-time kinds.
QString TAnyValue::TextOfScalar(const char* aTarget) const
{
    const bool anyText = std::strcmp(aTarget, "string") == 0;
    switch (FKind) {
    case TAnyValueKind::avkEmpty:
        return QString();
    case TAnyValueKind::avkBoolean:
        return AsBoolean() ? QStringLiteral("True") : QStringLiteral("False");
    case TAnyValueKind::avkInteger:
        return QString::number(AsInteger());
    case TAnyValueKind::avkInt64:
        if (anyText)
            return QString::number(AsInt64());
        break;
    case TAnyValueKind::avkCardinal:
        if (anyText)
            return QString::number(AsCardinal());
        break;
    case TAnyValueKind::avkFloat:
        return FloatText(AsFloat());
    case TAnyValueKind::avkDateTime:
        if (anyText)
            return FormatDateTimeLocale(AsDateTime());
        break;
    default:
        break;
    }
    RaiseConversion(aTarget);
}

// The value as UTF-16 text; aTarget names the conversion in its error message.
QString TAnyValue::TextAs(const char* aTarget) const
{
    switch (FKind) {
    case TAnyValueKind::avkString:
    case TAnyValueKind::avkWideString:
        return QString(reinterpret_cast<const QChar*>(FBuffer.constData()), FBuffer.size() / 2);
    case TAnyValueKind::avkAnsiString:
        return QString::fromLocal8Bit(FBuffer);
    default:
        return TextOfScalar(aTarget);
    }
}

QString TAnyValue::AsString() const
{
    return TextAs("string");
}

QString TAnyValue::AsWideString() const
{
    return TextAs("WideString");
}

QByteArray TAnyValue::AsAnsiString() const
{
    switch (FKind) {
    case TAnyValueKind::avkString:
    case TAnyValueKind::avkWideString:
        return AsString().toLocal8Bit();
    case TAnyValueKind::avkAnsiString:
        return FBuffer;
    default:
        return TextOfScalar("AnsiString").toLocal8Bit();
    }
}

// ---------------------------------------------------------------------------

bool TValueList::SameName(const QString& aLeft, const QString& aRight)
{
    if (aLeft.size() != aRight.size())
        return false;
    // Only A to Z fold; every other character must be equal as it is.
    for (qsizetype i = 0; i < aLeft.size(); ++i) {
        char16_t a = aLeft[i].unicode();
        char16_t b = aRight[i].unicode();
        if (a >= u'A' && a <= u'Z')
            a = a - u'A' + u'a';
        if (b >= u'A' && b <= u'Z')
            b = b - u'A' + u'a';
        if (a != b)
            return false;
    }
    return true;
}

int TValueList::Count() const
{
    return static_cast<int>(FItems.size());
}

PAnyValue TValueList::Items(int aIndex) const
{
    if (aIndex < 0 || aIndex >= Count())
        throw EListError(QStringLiteral("List index out of bounds (%1)").arg(aIndex));
    return FItems[static_cast<size_t>(aIndex)];
}

PAnyValue TValueList::FindValue(const QString& aName) const
{
    for (const PAnyValue& value : FItems)
        if (SameName(value->GetName(), aName))
            return value;
    return nullptr;
}

bool TValueList::HasValue(const QString& aName) const
{
    return FindValue(aName) != nullptr;
}

PAnyValue TValueList::EnsureValue(const QString& aName)
{
    if (PAnyValue found = FindValue(aName))
        return found;
    auto value = std::make_shared<TAnyValueObject>();
    value->SetName(aName);
    FItems.push_back(value);
    return value;
}

void TValueList::Clear()
{
    FItems.clear();
}
