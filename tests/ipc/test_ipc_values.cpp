// Values of many kinds and the value list.

#include "ipc/kvd_values.h"

#include <QLocale>
#include <QTest>
#include <functional>

Q_DECLARE_METATYPE(std::function<void(TAnyValue&)>)

using TSetter = std::function<void(TAnyValue&)>;

class TestIpcValues : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void newValueIsEmpty()
    {
        TAnyValueObject value;
        QCOMPARE(value.GetName(), QString());
        QCOMPARE(value.GetKind(), TAnyValueKind::avkEmpty);
        QCOMPARE(value.AsString(), QString());
        QCOMPARE(value.AsInt64(), int64_t(0));
    }

    void kindCodes_data()
    {
        QTest::addColumn<TSetter>("setter");
        QTest::addColumn<int>("kind");
        QTest::newRow("Boolean") << TSetter([](TAnyValue& v) { v.SetAsBoolean(true); }) << 1;
        QTest::newRow("Integer") << TSetter([](TAnyValue& v) { v.SetAsInteger(5); }) << 2;
        QTest::newRow("Int64") << TSetter([](TAnyValue& v) { v.SetAsInt64(5); }) << 3;
        QTest::newRow("Cardinal") << TSetter([](TAnyValue& v) { v.SetAsCardinal(5); }) << 4;
        QTest::newRow("Float") << TSetter([](TAnyValue& v) { v.SetAsFloat(1.5L); }) << 5;
        QTest::newRow("String") << TSetter([](TAnyValue& v) { v.SetAsString("x"); }) << 6;
        QTest::newRow("Pointer") << TSetter([](TAnyValue& v) { v.SetAsPointer(&v); }) << 7;
        QTest::newRow("Object") << TSetter([](TAnyValue& v) { v.SetAsObject(&v); }) << 8;
        QTest::newRow("Interface")
            << TSetter([](TAnyValue& v) { v.SetAsInterface(std::make_shared<int>(1)); }) << 9;
        QTest::newRow("AnsiString") << TSetter([](TAnyValue& v) { v.SetAsAnsiString("x"); }) << 10;
        QTest::newRow("WideString") << TSetter([](TAnyValue& v) { v.SetAsWideString("x"); }) << 11;
        QTest::newRow("DateTime") << TSetter([](TAnyValue& v) { v.SetAsDateTime(45000.5); }) << 12;
    }
    void kindCodes()
    {
        QFETCH(TSetter, setter);
        QFETCH(int, kind);
        TAnyValue value;
        setter(value);
        QCOMPARE(int(value.Kind()), kind);
    }

    // The numeric getters read the payload whatever the kind.
    void numericGettersReadPayload()
    {
        TAnyValue value;
        value.SetAsInteger(-1);
        QCOMPARE(value.AsInt64(), int64_t(-1));
        QCOMPARE(value.AsInteger(), -1);
        value.SetAsCardinal(4294967295u);
        QCOMPARE(value.AsInt64(), int64_t(4294967295LL));
        QCOMPARE(value.AsCardinal(), 4294967295u);
        QCOMPARE(value.AsInteger(), -1);
        value.SetAsInt64(0x123456789LL);
        QCOMPARE(value.AsInt64(), int64_t(0x123456789LL));
        QCOMPARE(value.AsCardinal(), 0x23456789u);
        value.SetAsBoolean(true);
        QVERIFY(value.AsBoolean());
        QCOMPARE(value.AsInteger(), 1);
        value.SetAsBoolean(false);
        QVERIFY(!value.AsBoolean());
        value.SetAsFloat(1.0L / 3.0L);
        QCOMPARE(value.AsFloat(), 1.0L / 3.0L);
        value.SetAsDateTime(45000.25);
        QCOMPARE(value.AsDateTime(), 45000.25);
        QCOMPARE(value.AsFloat(), 45000.25L);
        int target = 0;
        value.SetAsPointer(&target);
        QCOMPARE(value.AsPointer(), static_cast<void*>(&target));
        QCOMPARE(value.AsObject(), static_cast<void*>(&target));
        value.SetAsObject(&value);
        QCOMPARE(value.AsObject(), static_cast<void*>(&value));
    }

    void interfaceHoldsReference()
    {
        auto object = std::make_shared<int>(7);
        std::weak_ptr<int> watch = object;
        TAnyValue value;
        value.SetAsInterface(object);
        object.reset();
        QVERIFY(!watch.expired());
        std::shared_ptr<void> again = value.AsInterface();
        QCOMPARE(*static_cast<int*>(again.get()), 7);
        again.reset();
        value.SetAsInteger(1);
        QVERIFY(watch.expired());
        QVERIFY(!value.AsInterface());
    }

    // The conversion table of the three text getters; "!" marks an error.
    void textConversions_data()
    {
        QTest::addColumn<TSetter>("setter");
        QTest::addColumn<QString>("asString");
        QTest::addColumn<QString>("asAnsi");
        QTest::addColumn<QString>("asWide");
        const QString err = QStringLiteral("!");
        QTest::newRow("empty") << TSetter([](TAnyValue&) {}) << ""
                               << ""
                               << "";
        QTest::newRow("Boolean true")
            << TSetter([](TAnyValue& v) { v.SetAsBoolean(true); }) << "True"
            << "True"
            << "True";
        QTest::newRow("Boolean false")
            << TSetter([](TAnyValue& v) { v.SetAsBoolean(false); }) << "False"
            << "False"
            << "False";
        QTest::newRow("Integer") << TSetter([](TAnyValue& v) { v.SetAsInteger(-42); }) << "-42"
                                 << "-42"
                                 << "-42";
        QTest::newRow("Int64") << TSetter([](TAnyValue& v) { v.SetAsInt64(1LL << 40); })
                               << "1099511627776" << err << err;
        QTest::newRow("Cardinal") << TSetter([](TAnyValue& v) { v.SetAsCardinal(4294967295u); })
                                  << "4294967295" << err << err;
        QTest::newRow("Float") << TSetter([](TAnyValue& v) { v.SetAsFloat(2.5L); }) << "2.5"
                               << "2.5"
                               << "2.5";
        QTest::newRow("Float 15 digits")
            << TSetter([](TAnyValue& v) { v.SetAsFloat(1.0L / 3.0L); }) << "0.333333333333333"
            << "0.333333333333333"
            << "0.333333333333333";
        QTest::newRow("String") << TSetter([](TAnyValue& v) { v.SetAsString("Grüße"); }) << "Grüße"
                                << "Grüße"
                                << "Grüße";
        QTest::newRow("Pointer") << TSetter([](TAnyValue& v) { v.SetAsPointer(nullptr); }) << err
                                 << err << err;
        QTest::newRow("Object") << TSetter([](TAnyValue& v) { v.SetAsObject(nullptr); }) << err
                                << err << err;
        QTest::newRow("Interface")
            << TSetter([](TAnyValue& v) { v.SetAsInterface(std::make_shared<int>(1)); }) << err
            << err << err;
        QTest::newRow("AnsiString")
            << TSetter([](TAnyValue& v) { v.SetAsAnsiString(QString("Grüße").toLocal8Bit()); })
            << "Grüße"
            << "Grüße"
            << "Grüße";
        QTest::newRow("WideString")
            << TSetter([](TAnyValue& v) { v.SetAsWideString("wide"); }) << "wide"
            << "wide"
            << "wide";
        QTest::newRow("DateTime") << TSetter([](TAnyValue& v) { v.SetAsDateTime(45000.5); })
                                  << FormatDateTimeLocale(45000.5) << err << err;
    }
    void textConversions()
    {
        QFETCH(TSetter, setter);
        QFETCH(QString, asString);
        QFETCH(QString, asAnsi);
        QFETCH(QString, asWide);
        TAnyValue value;
        setter(value);
        auto check = [](const std::function<QString()>& aGet, const QString& aExpected,
                        const QString& aTarget) {
            if (aExpected == QLatin1String("!")) {
                try {
                    aGet();
                    QFAIL("no conversion error");
                } catch (const EConvertError& error) {
                    QCOMPARE(error.Message(),
                             QStringLiteral("Value cannot be converted to %1").arg(aTarget));
                }
            } else {
                QCOMPARE(aGet(), aExpected);
            }
        };
        check([&] { return value.AsString(); }, asString, "string");
        check([&] { return QString::fromLocal8Bit(value.AsAnsiString()); }, asAnsi, "AnsiString");
        check([&] { return value.AsWideString(); }, asWide, "WideString");
    }

    // Float texts take the user's decimal separator and no digit grouping.
    void floatTextFollowsLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        TAnyValue value;
        value.SetAsFloat(1234567.5L);
        const QString asString = value.AsString();
        const QString asAnsi = QString::fromLocal8Bit(value.AsAnsiString());
        const QString asWide = value.AsWideString();
        QLocale::setDefault(QLocale::c());
        QCOMPARE(asString, QString("1234567,5"));
        QCOMPARE(asAnsi, QString("1234567,5"));
        QCOMPARE(asWide, QString("1234567,5"));
    }

    void ansiStringKeepsBytes()
    {
        TAnyValue value;
        const QByteArray bytes("\x01\xff\x80 raw", 8);
        value.SetAsAnsiString(bytes);
        QCOMPARE(value.AsAnsiString(), bytes);
    }

    void dateTimeStringButNoAnsi()
    {
        TAnyValueObject value;
        value.SetAsDateTime(45000.5);
        QVERIFY(!value.AsString().isEmpty());
        QVERIFY_THROWS_EXCEPTION(EConvertError, value.AsAnsiString());
    }

    void sameName_data()
    {
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        QTest::addColumn<bool>("same");
        QTest::newRow("both empty") << ""
                                    << "" << true;
        QTest::newRow("empty and not") << ""
                                       << "a" << false;
        QTest::newRow("exact") << "PipeHandle"
                               << "PipeHandle" << true;
        QTest::newRow("other case") << "PipeHandle"
                                    << "pipehandle" << true;
        QTest::newRow("upper") << "PIPEHANDLE"
                               << "pipeHandle" << true;
        QTest::newRow("different") << "PipeHandle"
                                   << "PipeHandles" << false;
        QTest::newRow("beyond A-Z") << "Ärger"
                                    << "ärger" << false;
        QTest::newRow("punctuation") << "a["
                                     << "A{" << false;
    }
    void sameName()
    {
        QFETCH(QString, left);
        QFETCH(QString, right);
        QFETCH(bool, same);
        QCOMPARE(TValueList::SameName(left, right), same);
    }

    void valueList()
    {
        TValueList list;
        QCOMPARE(list.Count(), 0);
        QVERIFY(!list.FindValue("PipeHandle"));
        QVERIFY(!list.HasValue("PipeHandle"));

        PAnyValue handle = list.EnsureValue("PipeHandle");
        handle->SetAsInteger(17);
        QCOMPARE(list.Count(), 1);
        QCOMPARE(list.FindValue("pipehandle"), handle);
        QVERIFY(list.HasValue("PIPEHANDLE"));
        QCOMPARE(list.EnsureValue("pipeHANDLE"), handle);
        QCOMPARE(list.Count(), 1);
        QCOMPARE(list.FindValue("pipehandle")->AsInteger(), 17);

        PAnyValue second = list.EnsureValue("Other");
        QCOMPARE(list.Count(), 2);
        QCOMPARE(list.Items(0), handle);
        QCOMPARE(list.Items(1), second);
        QCOMPARE(second->GetName(), QString("Other"));
        QCOMPARE(second->GetKind(), TAnyValueKind::avkEmpty);

        // The value outlives the list while referenced.
        list.Clear();
        QCOMPARE(list.Count(), 0);
        QCOMPARE(handle->AsInteger(), 17);
    }

    void itemsOutOfRange_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("negative") << -1;
        QTest::newRow("count") << 1;
        QTest::newRow("far") << 1000;
    }
    void itemsOutOfRange()
    {
        QFETCH(int, index);
        TValueList list;
        list.EnsureValue("a");
        QVERIFY_THROWS_EXCEPTION(EListError, list.Items(index));
    }

    void firstMatchWins()
    {
        TValueList list;
        PAnyValue first = list.EnsureValue("");
        first->SetName("Name");
        PAnyValue second = list.EnsureValue("other");
        second->SetName("NAME");
        QCOMPARE(list.FindValue("name"), first);
    }
};

QTEST_GUILESS_MAIN(TestIpcValues)
#include "test_ipc_values.moc"
