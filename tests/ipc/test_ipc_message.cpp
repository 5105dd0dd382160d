// The message body (named values in one buffer, found through a lazy index)
// and the frame format.

#include "ipc/kvd_ipc.h"
#include "ipc/kvd_message.h"

#include <QFile>
#include <QTest>
#include <random>

namespace {

QByteArray Hex(const char* aHex)
{
    return QByteArray::fromHex(aHex);
}

// An entry built by hand, to make bodies as another program would send them.
QByteArray Entry(const QString& aName, const QByteArray& aValue)
{
    QByteArray bytes;
    const QByteArray name = TextToUtf16Le(aName);
    const int32_t length = static_cast<int32_t>(name.size());
    bytes.append(reinterpret_cast<const char*>(&length), 4);
    bytes += name;
    bytes += Int64ToBytes(aValue.size());
    bytes += aValue;
    return bytes;
}

// A field of /proc/self/status in KiB, or -1.
qint64 StatusKiB(const QByteArray& aField)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(aField + ':'))
            return line.mid(aField.size() + 1).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Starts a new peak of the process's resident memory; false where that cannot be done.
bool ResetMemoryPeak()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1 && refs.flush();
}

} // namespace

class TestIpcMessage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void resultOkIs28Bytes()
    {
        TStreamStorage storage;
        storage.WriteText("Result", "ok");
        const QByteArray expected = Hex("0c000000") + Hex("52006500730075006c007400") +
                                    Hex("0400000000000000") + Hex("6f006b00");
        QCOMPARE(storage.Stream().Size(), int64_t(28));
        QCOMPARE(storage.Stream().Bytes(), expected);
        QCOMPARE(storage.ReadText("Result"), QString("ok"));
    }

    void emptyValuesAreNotStored_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty text") << "Command"
                                    << "" << QByteArray();
        QTest::newRow("empty name") << ""
                                    << "x" << QByteArray("x");
    }
    void emptyValuesAreNotStored()
    {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        TStreamStorage storage;
        storage.WriteText(name, text);
        storage.WriteBytes(name, bytes.isEmpty() ? QByteArray() : bytes);
        QCOMPARE(storage.Stream().Size(), int64_t(0));
        QCOMPARE(storage.ReadText(name), QString());
        QCOMPARE(storage.ReadBytes(name), QByteArray());
        // An empty value can be written later under the same name.
        storage.WriteText("Command", "x");
        QCOMPARE(storage.ReadText("Command"), QString("x"));
    }

    void duplicateNameRaises()
    {
        TStreamStorage storage;
        storage.WriteText("Command", "first");
        const QByteArray before = storage.Stream().Bytes();
        try {
            storage.WriteText("Command", "second");
            QFAIL("no error");
        } catch (const EIPCError& error) {
            QCOMPARE(error.Message(), QString("Value with name \"Command\" already exists"));
        }
        QVERIFY_THROWS_EXCEPTION(EIPCError, storage.WriteBytes("Command", QByteArray("b")));
        QCOMPARE(storage.Stream().Bytes(), before);
        QCOMPARE(storage.ReadText("Command"), QString("first"));
        // Names differing in case are different names.
        storage.WriteText("command", "other");
        QCOMPARE(storage.ReadText("command"), QString("other"));
    }

    void textAndBytesRoundTrip()
    {
        TStreamStorage storage;
        const QByteArray binary("\x00\x01\xff\r\n", 5);
        storage.WriteText("Command", "kvd_command_getversion");
        storage.WriteBytes("Params", binary);
        TMemoryStream source;
        source.Write(QByteArray("stream bytes"));
        // Written from the source's start whatever its position.
        storage.WriteBytes("FromStream", source);
        storage.WriteText("Unicode", QString::fromUtf8("Grüße \xF0\x9F\x98\x80"));

        QCOMPARE(storage.ReadBytes("Params"), binary);
        QCOMPARE(storage.ReadText("Command"), QString("kvd_command_getversion"));
        QCOMPARE(storage.ReadBytes("FromStream"), QByteArray("stream bytes"));
        QCOMPARE(storage.ReadText("Unicode"), QString::fromUtf8("Grüße \xF0\x9F\x98\x80"));
        QCOMPARE(storage.ReadText("Missing"), QString());

        QByteArray target("prefix:");
        QVERIFY(storage.ReadBytes("Params", target));
        QCOMPARE(target, QByteArray("prefix:") + binary);
        QVERIFY(!storage.ReadBytes("Missing", target));
        QCOMPARE(target, QByteArray("prefix:") + binary);

        TMemoryStream into;
        into.Write(QByteArray("0123456789"));
        into.Seek(2);
        QVERIFY(storage.ReadBytes("FromStream", into));
        QCOMPARE(into.Bytes(), QByteArray("01stream bytes"));
    }

    // A body received as raw bytes is read in any order; names before ones
    // already walked over come from the index.
    void receivedBodyAnyOrder_data()
    {
        QTest::addColumn<QStringList>("order");
        QTest::newRow("forward") << QStringList{"A", "B", "C", "D"};
        QTest::newRow("backward") << QStringList{"D", "C", "B", "A"};
        QTest::newRow("middle first") << QStringList{"C", "A", "D", "B"};
        QTest::newRow("repeated") << QStringList{"B", "B", "A", "D", "A"};
        QTest::newRow("missing first") << QStringList{"X", "C", "A"};
    }
    void receivedBodyAnyOrder()
    {
        QFETCH(QStringList, order);
        QByteArray raw;
        for (const QString& name : QStringList{"A", "B", "C", "D"})
            raw += Entry(name, TextToUtf16Le("value " + name));
        TMessageData message;
        message.GetData().Assign(raw);
        for (const QString& name : order) {
            const QString expected = name == "X" ? QString() : "value " + name;
            QCOMPARE(message.ReadText(name), expected);
        }
    }

    void namesAreCaseSensitive()
    {
        TMessageData message;
        message.GetData().Assign(Entry("Command", TextToUtf16Le("x")));
        QCOMPARE(message.ReadText("command"), QString());
        QCOMPARE(message.ReadText("Command"), QString("x"));
    }

    // Appending to a received body that was only partly read keeps every entry
    // reachable and still refuses a name that is present but not yet walked.
    void appendToReceivedBody()
    {
        TStreamStorage storage;
        storage.Assign(Entry("A", TextToUtf16Le("1")) + Entry("B", TextToUtf16Le("2")));
        QCOMPARE(storage.ReadText("A"), QString("1"));
        QVERIFY_THROWS_EXCEPTION(EIPCError, storage.WriteText("B", "again"));
        storage.WriteText("C", "3");
        QCOMPARE(storage.ReadText("B"), QString("2"));
        QCOMPARE(storage.ReadText("C"), QString("3"));
    }

    // Bodies no writer produces: every read stays inside the buffer and the
    // well-formed entries before the damage are still found.
    void malformedBodies_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::newRow("short name length") << Hex("0400");
        QTest::newRow("negative name length") << Hex("ffffffff");
        QTest::newRow("name past end") << Hex("40000000410042");
        QTest::newRow("short value size") << Hex("0200000041000100");
        QTest::newRow("negative value size") << Hex("020000004100ffffffffffffffff");
        QTest::newRow("value past end") << Hex("0200000041001000000000000000") + "abc";
        QTest::newRow("huge value size") << Hex("0200000041000000000000000080") + "abc";
        QTest::newRow("odd text") << Entry("Z", QByteArray("abc"));
    }
    void malformedBodies()
    {
        QFETCH(QByteArray, tail);
        TStreamStorage storage;
        storage.Assign(Entry("Good", TextToUtf16Le("yes")) + tail);
        QCOMPARE(storage.ReadText("Missing"), QString());
        QCOMPARE(storage.ReadText("A"), QString());
        QCOMPARE(storage.ReadText("Good"), QString("yes"));
        QCOMPARE(storage.ReadBytes("Missing"), QByteArray());
    }

    void oddTextTakesWholeUnits()
    {
        TStreamStorage storage;
        storage.Assign(Entry("Z", QByteArray("ab\0c", 5)) + Entry("Next", TextToUtf16Le("n")));
        QCOMPARE(storage.ReadText("Z"), QString(QChar(0x6261)) + QChar(0x6300));
        QCOMPARE(storage.ReadText("Next"), QString("n"));
    }

    void frameLayout_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("withBody");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("empty") << "" << false
                               << Hex("0000000000000000"
                                      "0000000000000000");
        QTest::newRow("id only") << "AB" << false
                                 << Hex("0400000000000000"
                                        "41004200"
                                        "0000000000000000");
        QTest::newRow("body only") << "" << true
                                   << Hex("0000000000000000"
                                          "1c00000000000000") +
                                          Entry("Result", TextToUtf16Le("ok"));
    }
    void frameLayout()
    {
        QFETCH(QString, id);
        QFETCH(bool, withBody);
        QFETCH(QByteArray, expected);
        TMessageData message;
        message.SetID(id);
        if (withBody)
            message.WriteText("Result", "ok");
        QCOMPARE(EncodeFrame(message), expected);
    }

    void frameRoundTripOverPipe()
    {
        auto [left, right] = CreatePipePair();
        QVERIFY(left && right);
        TMessageData message;
        message.SetID("ABCDEFGHIJKLMNOP");
        message.WriteText("Command", "kvd_command_getversion");
        message.WriteBytes("Params", QByteArray(100000, 'p'));
        QByteArray written;
        std::thread writer([&] { QVERIFY(WriteFrame(*left, message)); });
        TMessageData received;
        QCOMPARE(ReadFrame(*right, received), 1);
        writer.join();
        QCOMPARE(received.GetID(), QString("ABCDEFGHIJKLMNOP"));
        QCOMPARE(received.ReadBytes("Params"), QByteArray(100000, 'p'));
        QCOMPARE(received.ReadText("Command"), QString("kvd_command_getversion"));

        const QByteArray mark = Int64ToBytes(ClosingMark);
        QCOMPARE(mark, Hex("ffffffffffffffff"));
        QVERIFY(left->WriteAll(mark.constData(), mark.size()));
        QCOMPARE(ReadFrame(*right, received), 0);
    }

    void badFramesAreRefused_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("negative id length") << Hex("feffffffffffffff");
        QTest::newRow("odd id length") << Hex("0300000000000000") + "abc";
        QTest::newRow("id over 64 KiB") << Hex("0200010000000000");
        QTest::newRow("negative body") << Hex("0000000000000000"
                                              "feffffffffffffff");
        QTest::newRow("body over 64 MiB") << Hex("0000000000000000"
                                                 "0100000400000000");
        QTest::newRow("short id") << Hex("0800000000000000") + "ab";
        QTest::newRow("short body") << Hex("0000000000000000"
                                           "1000000000000000") +
                                           "abc";
        QTest::newRow("short length") << Hex("000000");
    }
    void badFramesAreRefused()
    {
        QFETCH(QByteArray, frame);
        auto [left, right] = CreatePipePair();
        QVERIFY(left->WriteAll(frame.constData(), frame.size()));
        left->Close();
        TMessageData received;
        QCOMPARE(ReadFrame(*right, received), -1);
    }

    // Reading every value of a large received body in random order answers
    // each one, whichever were walked before.
    void manyValuesRandomOrder()
    {
        TStreamStorage written;
        for (int i = 0; i < 2000; ++i)
            written.WriteText(QString("Name%1").arg(i), QString("Value%1").arg(i));
        TStreamStorage storage;
        storage.Assign(written.Stream().Bytes());
        std::vector<int> order(2000);
        for (int i = 0; i < 2000; ++i)
            order[i] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(7));
        for (int i : order)
            QCOMPARE(storage.ReadText(QString("Name%1").arg(i)), QString("Value%1").arg(i));
    }

    // The largest body the transport takes, packed with the smallest entries
    // (one-letter names, empty values: 14 bytes each, 4.8 million of them),
    // walked through whole by a read of a missing name. The index it builds
    // costs less memory than the body itself, and the reads still behave:
    // repeated names are found at their first entry, the last entry is found,
    // and appending refuses a name the body holds.
    void largestBodyIndexStaysSmall()
    {
        const int64_t entries = MaxFrameBodyBytes / 14 - 5;
        QByteArray raw;
        raw.reserve(MaxFrameBodyBytes);
        for (int64_t i = 0; i < entries; ++i)
            raw += Entry(QString(QChar('a' + int(i % 26))), i < 26 ? QByteArray(1, 'F') : "");
        raw += Entry("Params", "last");
        QVERIFY(raw.size() <= MaxFrameBodyBytes);
        TStreamStorage storage;
        storage.Assign(raw);
        const int64_t bodyBytes = raw.size();
        raw = QByteArray();
        if (!ResetMemoryPeak() || StatusKiB("VmRSS") < 0)
            QSKIP("the process's memory peak cannot be read here");
        const qint64 before = StatusKiB("VmRSS");

        QCOMPARE(storage.ReadText("Command"), QString());
        QCOMPARE(storage.ReadBytes("Params"), QByteArray("last"));
        QCOMPARE(storage.ReadBytes("q"), QByteArray("F"));
        QCOMPARE(storage.ReadBytes("z"), QByteArray("F"));
        QVERIFY_THROWS_EXCEPTION(EIPCError, storage.WriteText("b", "again"));
        storage.WriteText("Result", "ok");
        QCOMPARE(storage.ReadText("Result"), QString("ok"));

        const qint64 grown = (StatusKiB("VmHWM") - before) * 1024;
        qInfo("index of %lld entries: %lld bytes for a body of %lld bytes",
              static_cast<long long>(entries), static_cast<long long>(grown),
              static_cast<long long>(bodyBytes));
        QVERIFY2(grown < bodyBytes, qPrintable(QString::number(grown)));
    }
};

QTEST_GUILESS_MAIN(TestIpcMessage)
#include "test_ipc_message.moc"
