// Arbitrary bytes as a received message body, then reads of names present and
// absent, an append, and reads again. Nothing may read outside the buffer, and
// a name found once must read back the same.

#include "ipc/kvd_message.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize)
{
    const QByteArray bytes(reinterpret_cast<const char*>(aData), static_cast<qsizetype>(aSize));
    TStreamStorage storage;
    storage.Assign(bytes);

    // A name taken from the input itself is often present in it.
    const QString fromInput = aSize >= 8 ? Utf16LeToText(bytes.constData() + 4, 4) : QString();
    const QString names[] = {QStringLiteral("Command"),
                             QStringLiteral("Params"),
                             QStringLiteral("Result"),
                             QStringLiteral("Data"),
                             QStringLiteral("Absent"),
                             QString(),
                             fromInput};
    QString first[std::size(names)];
    for (size_t i = 0; i < std::size(names); ++i)
        first[i] = storage.ReadText(names[i]);
    for (size_t i = std::size(names); i-- > 0;) {
        if (storage.ReadText(names[i]) != first[i])
            __builtin_trap();
        QByteArray target;
        storage.ReadBytes(names[i], target);
    }

    try {
        storage.WriteText(QStringLiteral("Command"), QStringLiteral("appended"));
    } catch (const EIPCError&) {
        // The body already holds that name: refusing it is the expected answer.
    }
    storage.WriteBytes(QStringLiteral("Fuzz\u00e9New"), bytes.left(16));
    if (!bytes.isEmpty() && storage.ReadBytes(QStringLiteral("Fuzz\u00e9New")) != bytes.left(16))
        __builtin_trap();
    for (const QString& name : names)
        storage.ReadText(name);
    return 0;
}
