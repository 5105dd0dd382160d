#include "ipc/kvd_message.h"

#include <QByteArrayView>
#include <QHashFunctions>
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

// The bytes of an entry's name that count: its name length rounded down to
// whole UTF-16 code units, as a reader takes them.
int64_t NameBytesAt(const char* aEntry)
{
    return ReadInt32At(aEntry) & ~int32_t(1);
}

uint32_t NameHash(QByteArrayView aName)
{
    const size_t hash = qHash(aName, 0);
    return static_cast<uint32_t>(uint64_t(hash) ^ (uint64_t(hash) >> 32));
}

// A name as the UTF-16LE bytes it has in a body (none without a name). On a
// little-endian host those are the text's own code units, so a lookup copies
// nothing.
class TNameBytes
{
public:
    explicit TNameBytes(const QString* aName)
    {
        if (!aName)
            return;
        if constexpr (HostIsLittleEndian) {
            FView = QByteArrayView(reinterpret_cast<const char*>(aName->constData()),
                                   aName->size() * 2);
        } else {
            FCopy = TextToUtf16Le(*aName);
            FView = FCopy;
        }
    }
    QByteArrayView View() const { return FView; }

private:
    QByteArray FCopy;
    QByteArrayView FView;
};

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
    // constData, unlike utf16, never copies a literal's text into the caller's
    // string, which other threads may be reading.
    QByteArray bytes(reinterpret_cast<const char*>(aText.constData()), aText.size() * 2);
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

void TStreamStorage::TNameIndex::Clear()
{
    for (std::vector<TEntry>& bucket : FBuckets)
        std::vector<TEntry>().swap(bucket);
}

void TStreamStorage::TNameIndex::Add(int64_t aStart, uint32_t aHash)
{
    // Starts are kept in 32 bits; the transport never accepts a body near 2 GiB.
    if (aStart > std::numeric_limits<int32_t>::max())
        return;
    FBuckets[aHash % Buckets].push_back({static_cast<int32_t>(aStart), aHash});
}

int64_t TStreamStorage::TNameIndex::Find(const QByteArray& aBody, QByteArrayView aName,
                                         uint32_t aHash) const
{
    const int64_t end = aBody.size();
    for (const TEntry& entry : FBuckets[aHash % Buckets]) {
        const int64_t start = entry.Start;
        // The bounds are checked again because the body may have been replaced
        // since the entry was made.
        if (entry.Hash != aHash || start + 4 > end)
            continue;
        const int64_t nameBytes = NameBytesAt(aBody.constData() + start);
        if (nameBytes == aName.size() && start + 4 + nameBytes <= end &&
            std::memcmp(aBody.constData() + start + 4, aName.data(),
                        static_cast<size_t>(nameBytes)) == 0)
            return start;
    }
    return -1;
}

// ---------------------------------------------------------------------------

TStreamStorage::TStreamStorage() = default;

void TStreamStorage::ResetIndex() const
{
    FIndex.Clear();
    FScanPosition = 0;
}

void TStreamStorage::Assign(const QByteArray& aBytes)
{
    FStream.Clear();
    FStream.Write(aBytes);
    FStream.Seek(0);
    ResetIndex();
}

// Positions the stream at the first value byte of aName's entry and gives the
// value size. Walks on from the scan position only when the index does not know
// the name, entering every name it passes. A malformed tail (lengths that run
// past the end) ends the walk as if the body ended there. Without a name, the
// walk enters the rest of the body and finds nothing. Names are compared as
// their bytes in the body: no text is made for a name walked over.
bool TStreamStorage::Locate(const QString* aName, int64_t& aSize) const
{
    const TNameBytes wantedBytes(aName);
    const QByteArrayView wanted = wantedBytes.View();
    const uint32_t hash = NameHash(wanted);
    const QByteArray& body = FStream.Bytes();
    const char* bytes = body.constData();
    const int64_t end = FStream.Size();

    if (const int64_t start = aName ? FIndex.Find(body, wanted, hash) : -1; start >= 0) {
        const int64_t offset = start + 4 + ReadInt32At(bytes + start);
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
        const char* name = bytes + position + 4;
        const int64_t nameBytes = NameBytesAt(bytes + position);
        const uint32_t nameHash = NameHash(QByteArrayView(name, nameBytes));
        FIndex.Add(position, nameHash);
        position = offset + 8;
        if (aName && nameHash == hash && nameBytes == wanted.size() &&
            std::memcmp(name, wanted.data(), static_cast<size_t>(nameBytes)) == 0) {
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
    const QByteArray name = TextToUtf16Le(aName);
    const uint32_t hash = NameHash(name);
    if (FIndex.Find(FStream.Bytes(), name, hash) >= 0)
        throw EIPCError(QStringLiteral("Value with name \"%1\" already exists").arg(aName));

    const int64_t start = FStream.Size();
    FStream.Seek(start);
    char length[8];
    qToLittleEndian<int32_t>(static_cast<int32_t>(name.size()), length);
    FStream.Write(length, 4);
    FStream.Write(name);
    FIndex.Add(start, hash);
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
