#pragma once

// The message that crosses the pipe: a text ID and a body of named values laid
// end to end in one byte buffer.
//
// Body entry (all integers little-endian, entries back to back, no header):
//   name length  4 bytes signed   2 x UTF-16 code units of the name
//   name         UTF-16LE, no terminator
//   value size   8 bytes signed   number of value bytes
//   value        text: UTF-16LE code units; bytes: unchanged
//
// Frame on the pipe:
//   ID length    8 bytes signed   2 x UTF-16 code units (-1 here is the closing mark)
//   ID           UTF-16LE
//   body length  8 bytes signed
//   body         the entries above

#include "util/kvd_errors.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// Raised by the IPC layer with fixed messages, e.g. "Value with name "%s"
// already exists" or "OnExecuteRequest not assigned".
KVD_DECLARE_ERROR(EIPCError, EkvdError)

// The 8 bytes of value -1 that end an exchange instead of a frame.
constexpr int64_t ClosingMark = -1;
// Limits of a received frame; a longer field closes the connection before
// anything is allocated for it.
constexpr int64_t MaxFrameIdBytes = 64 * 1024;
constexpr int64_t MaxFrameBodyBytes = 64 * 1024 * 1024;

// A growable byte buffer with a current position, like a memory stream.
class TMemoryStream
{
public:
    const QByteArray& Bytes() const { return FBytes; }
    int64_t Size() const { return FBytes.size(); }
    int64_t Position() const { return FPosition; }
    // Clamped to 0..Size.
    void Seek(int64_t aPosition);
    // Copies up to aCount bytes from the position on and advances; returns the count copied.
    int64_t Read(void* aTarget, int64_t aCount);
    // Writes at the position (overwriting, then growing) and advances.
    void Write(const void* aSource, int64_t aCount);
    void Write(const QByteArray& aSource) { Write(aSource.constData(), aSource.size()); }
    // Empties the buffer and sets the position to 0.
    void Clear();

private:
    QByteArray FBytes;
    int64_t FPosition = 0;
};

// The body of a message. Values are appended by name and found by name through
// an index that is filled lazily: a body received as raw bytes is never parsed
// as a whole, each lookup walks only the part not yet indexed. Names are
// case-sensitive. Reads do not change the body's content, so they are const;
// they only move the stream position and extend the index.
class TStreamStorage
{
public:
    TStreamStorage();

    // Appends a text entry; does nothing when the name or the text is empty.
    // Raises EIPCError "Value with name "%s" already exists" for a known name.
    void WriteText(const QString& aName, const QString& aValue);
    // Appends an entry holding all bytes of aSource; nothing when either is empty.
    void WriteBytes(const QString& aName, const QByteArray& aSource);
    // Same, reading the source stream from its start whatever its position.
    void WriteBytes(const QString& aName, const TMemoryStream& aSource);

    // The text of the entry, or an empty text when there is none.
    QString ReadText(const QString& aName) const;
    // Appends the entry's bytes to aTarget; false (nothing added) when there is none.
    bool ReadBytes(const QString& aName, QByteArray& aTarget) const;
    // Writes the entry's bytes into aTarget at its current position.
    bool ReadBytes(const QString& aName, TMemoryStream& aTarget) const;
    // The entry's bytes, or empty bytes when there is none.
    QByteArray ReadBytes(const QString& aName) const;

    // The body bytes. Whoever fills it with raw bytes calls ResetIndex afterwards
    // (the transport does) unless the storage was empty and untouched before.
    TMemoryStream& Stream() { return FStream; }
    const TMemoryStream& Stream() const { return FStream; }
    // Forgets the index and sets the scan position to 0, for a body replaced as raw bytes.
    void ResetIndex() const;
    // Replaces the whole body with raw received bytes.
    void Assign(const QByteArray& aBytes);

private:
    // The index from names to entries, in 50 hash buckets. An entry keeps only
    // where it starts in the body (its name length field) and its name's hash:
    // 8 bytes, whatever the name, less than the entry's own bytes on the wire
    // (at least 12). Names are compared in the body itself. Each bucket keeps
    // its entries in the order they were entered, so a name repeated in a
    // received body is found at its first occurrence.
    class TNameIndex
    {
    public:
        // Forgets every entry and gives back the memory.
        void Clear();
        // Enters the entry starting at aStart; nothing for an offset beyond 32 bits.
        void Add(int64_t aStart, uint32_t aHash);
        // The start of the first entry of aBody whose name is aName (UTF-16LE
        // bytes), or -1.
        int64_t Find(const QByteArray& aBody, QByteArrayView aName, uint32_t aHash) const;

    private:
        static constexpr int Buckets = 50;
        struct TEntry
        {
            int32_t Start;
            uint32_t Hash;
        };
        std::array<std::vector<TEntry>, Buckets> FBuckets;
    };

    bool Locate(const QString* aName, int64_t& aSize) const;
    void Append(const QString& aName, const char* aData, int64_t aSize);

    mutable TMemoryStream FStream;
    mutable TNameIndex FIndex;
    mutable int64_t FScanPosition = 0;
};

// A message: an ID and a body. Shared by reference (counts change atomically);
// used by one thread at a time.
class IMessageData
{
public:
    virtual ~IMessageData() = default;
    virtual QString GetID() const = 0;
    // The body itself, not a copy; the message keeps owning it.
    virtual TStreamStorage& GetData() = 0;
    virtual const TStreamStorage& GetData() const = 0;
    virtual void SetID(const QString& aValue) = 0;

    // Short forms of GetData().WriteText / ReadText / WriteBytes / ReadBytes.
    void WriteText(const QString& aName, const QString& aValue)
    {
        GetData().WriteText(aName, aValue);
    }
    void WriteBytes(const QString& aName, const QByteArray& aSource)
    {
        GetData().WriteBytes(aName, aSource);
    }
    QString ReadText(const QString& aName) const { return GetData().ReadText(aName); }
    QByteArray ReadBytes(const QString& aName) const { return GetData().ReadBytes(aName); }
};
using PMessageData = std::shared_ptr<IMessageData>;

class TMessageData : public IMessageData
{
public:
    QString GetID() const override { return FID; }
    TStreamStorage& GetData() override { return FData; }
    const TStreamStorage& GetData() const override { return FData; }
    void SetID(const QString& aValue) override { FID = aValue; }

    static PMessageData Create() { return std::make_shared<TMessageData>(); }

private:
    QString FID;
    TStreamStorage FData;
};

// Byte helpers of the wire format, shared by the server, the client and tests.
QByteArray Int64ToBytes(int64_t aValue);
int64_t BytesToInt64(const char* aBytes);
QByteArray TextToUtf16Le(const QString& aText);
// aSize div 2 code units; a trailing odd byte is ignored.
QString Utf16LeToText(const char* aBytes, int64_t aSize);
// The whole frame of a message: ID length, ID, body length, body.
QByteArray EncodeFrame(const IMessageData& aMessage);
