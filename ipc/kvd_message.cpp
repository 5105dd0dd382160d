#include "ipc/kvd_message.h"

#include <QHash>
#include <QSysInfo>
#include <QtEndian>
#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr bool HostIsLittleEndian = QSysInfo::ByteOrder == QSysInfo::LittleEndian;

int32_t ReadInt32At(const char* aBytes)
{
    return qFromLittleEndian<int32_t>(aBytes);
}

size_t NameHash(const QString& aName)
{
    return qHash(aName, 0);
}

} // namespace

QByteArray Int64ToBytes(int64_t aValue)
{
    QByteArray bytes(8, Qt::Uninitialized);
    qToLittleEndian<int64_t>(aValue, bytes.data());
    return bytes;
}

int64_t BytesToInt64(const char* aBytes)
{
    return qFromLittleEndian<int64_t>(aBytes);
}

QByteArray TextToUtf16Le(const QString& aText)
{
    QByteArray bytes(reinterpret_cast<const char*>(aText.utf16()), aText.size() * 2);
    if constexpr (!HostIsLittleEndian) {
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
            std::swap(bytes[i], bytes[i + 1]);
    }
    return bytes;
}

QString Utf16LeToText(const char* aBytes, int64_t aSize)
{
    const qsizetype units = static_cast<qsizetype>(aSize / 2);
    QString text(units, Qt::Uninitialized);
    if constexpr (HostIsLittleEndian) {
        std::memcpy(text.data(), aBytes, static_cast<size_t>(units) * 2);
    } else {
        for (qsizetype i = 0; i < units; ++i)
            text[i] = QChar(qFromLittleEndian<quint16>(aBytes + 2 * i));
    }
    return text;
}

QByteArray EncodeFrame(const IMessageData& aMessage)
{
    const QByteArray id = TextToUtf16Le(aMessage.GetID());
    const QByteArray& body = aMessage.GetData().Stream().Bytes();
    QByteArray frame;
    frame.reserve(16 + id.size() + body.size());
    frame += Int64ToBytes(id.size());
    frame += id;
    frame += Int64ToBytes(body.size());
    frame += body;
    return frame;
}

// ---------------------------------------------------------------------------

void TMemoryStream::Seek(int64_t aPosition)
{
    FPosition = std::clamp<int64_t>(aPosition, 0, Size());
}

int64_t TMemoryStream::Read(void* aTarget, int64_t aCount)
{
    const int64_t count = std::clamp<int64_t>(aCount, 0, Size() - FPosition);
    if (count > 0)
        std::memcpy(aTarget, FBytes.constData() + FPosition, static_cast<size_t>(count));
    FPosition += count;
    return count;
}

void TMemoryStream::Write(const void* aSource, int64_t aCount)
{
    if (aCount <= 0)
        return;
    const int64_t end = FPosition + aCount;
    if (end > Size()) {
        // Grow geometrically so that appending piece by piece stays linear.
        if (end > FBytes.capacity())
            FBytes.reserve(std::max<qsizetype>(end, FBytes.capacity() * 2));
        FBytes.resize(end);
    }
    std::memcpy(FBytes.data() + FPosition, aSource, static_cast<size_t>(aCount));
    FPosition = end;
}

void TMemoryStream::Clear()
{
    FBytes.clear();
    FPosition = 0;
}

// ---------------------------------------------------------------------------

TStreamStorage::TStreamStorage() = default;

void TStreamStorage::ResetIndex() const
{
    for (auto& bucket : FIndex)
        bucket.clear();
    FScanPosition = 0;
}

void TStreamStorage::Assign(const QByteArray& aBytes)
{
    FStream.Clear();
    FStream.Write(aBytes);
    FStream.Seek(0);
    ResetIndex();
}

const TStreamStorage::TIndexEntry* TStreamStorage::FindInIndex(const QString& aName,
                                                               size_t aHash) const
{
    for (const TIndexEntry& entry : FIndex[aHash % IndexBuckets])
        if (entry.Hash == aHash && entry.Name == aName)
            return &entry;
    return nullptr;
}

void TStreamStorage::AddToIndex(const QString& aName, size_t aHash, int64_t aOffset) const
{
    // Offsets are kept in 32 bits; the transport never accepts a body near 2 GiB.
    if (aOffset > std::numeric_limits<int32_t>::max())
        return;
    FIndex[aHash % IndexBuckets].push_back({aHash, aName, static_cast<int32_t>(aOffset)});
}

// Positions the stream at the first value byte of aName's entry and gives the
// value size. Walks on from the scan position only when the index does not know
// the name, entering every name it passes. A malformed tail (lengths that run
// past the end) ends the walk as if the body ended there. Without a name, the
// walk enters the rest of the body and finds nothing.
bool TStreamStorage::Locate(const QString* aName, int64_t& aSize) const
{
    const size_t hash = aName ? NameHash(*aName) : 0;
    const char* bytes = FStream.Bytes().constData();
    const int64_t end = FStream.Size();

    if (const TIndexEntry* entry = aName ? FindInIndex(*aName, hash) : nullptr) {
        const int64_t offset = entry->Offset;
        if (offset + 8 > end)
            return false;
        const int64_t size = BytesToInt64(bytes + offset);
        if (size < 0 || size > end - offset - 8)
            return false;
        FStream.Seek(offset + 8);
        aSize = size;
        return true;
    }

    int64_t position = FScanPosition;
    while (position < end) {
        if (end - position < 4)
            break;
        const int32_t nameLength = ReadInt32At(bytes + position);
        if (nameLength < 0 || nameLength > end - position - 4)
            break;
        const int64_t offset = position + 4 + nameLength;
        if (end - offset < 8)
            break;
        const int64_t size = BytesToInt64(bytes + offset);
        if (size < 0 || size > end - offset - 8)
            break;
        const QString name = Utf16LeToText(bytes + position + 4, nameLength);
        const size_t nameHash = NameHash(name);
        AddToIndex(name, nameHash, offset);
        position = offset + 8;
        if (aName && nameHash == hash && name == *aName) {
            FStream.Seek(position);
            aSize = size;
            return true;
        }
        position += size;
    }
    // Everything up to the end (or up to a malformed tail, which no later walk
    // can read either) has been walked.
    FStream.Seek(end);
    FScanPosition = end;
    return false;
}

QString TStreamStorage::ReadText(const QString& aName) const
{
    QString text;
    int64_t size = 0;
    if (Locate(&aName, size)) {
        text = Utf16LeToText(FStream.Bytes().constData() + FStream.Position(), size);
        FStream.Seek(FStream.Position() + size);
    }
    FScanPosition = std::max(FScanPosition, FStream.Position());
    return text;
}

bool TStreamStorage::ReadBytes(const QString& aName, QByteArray& aTarget) const
{
    int64_t size = 0;
    const bool found = Locate(&aName, size);
    if (found) {
        aTarget.append(FStream.Bytes().constData() + FStream.Position(), size);
        FStream.Seek(FStream.Position() + size);
    }
    FScanPosition = std::max(FScanPosition, FStream.Position());
    return found;
}

bool TStreamStorage::ReadBytes(const QString& aName, TMemoryStream& aTarget) const
{
    int64_t size = 0;
    const bool found = Locate(&aName, size);
    if (found) {
        aTarget.Write(FStream.Bytes().constData() + FStream.Position(), size);
        FStream.Seek(FStream.Position() + size);
    }
    FScanPosition = std::max(FScanPosition, FStream.Position());
    return found;
}

QByteArray TStreamStorage::ReadBytes(const QString& aName) const
{
    QByteArray bytes;
    ReadBytes(aName, bytes);
    return bytes;
}

void TStreamStorage::Append(const QString& aName, const char* aData, int64_t aSize)
{
    // Enter every name not yet walked, so a received body that is added to
    // still finds its own entries and refuses their names.
    if (FScanPosition < FStream.Size()) {
        int64_t ignored = 0;
        Locate(nullptr, ignored);
    }
    const size_t hash = NameHash(aName);
    if (FindInIndex(aName, hash))
        throw EIPCError(QStringLiteral("Value with name \"%1\" already exists").arg(aName));

    const QByteArray name = TextToUtf16Le(aName);
    FStream.Seek(FStream.Size());
    char length[8];
    qToLittleEndian<int32_t>(static_cast<int32_t>(name.size()), length);
    FStream.Write(length, 4);
    FStream.Write(name);
    AddToIndex(aName, hash, FStream.Position());
    qToLittleEndian<int64_t>(aSize, length);
    FStream.Write(length, 8);
    FStream.Write(aData, aSize);
    FScanPosition = FStream.Position();
}

void TStreamStorage::WriteText(const QString& aName, const QString& aValue)
{
    if (aName.isEmpty() || aValue.isEmpty())
        return;
    const QByteArray value = TextToUtf16Le(aValue);
    Append(aName, value.constData(), value.size());
}

void TStreamStorage::WriteBytes(const QString& aName, const QByteArray& aSource)
{
    if (aName.isEmpty() || aSource.isEmpty())
        return;
    Append(aName, aSource.constData(), aSource.size());
}

void TStreamStorage::WriteBytes(const QString& aName, const TMemoryStream& aSource)
{
    WriteBytes(aName, aSource.Bytes());
}
