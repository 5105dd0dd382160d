// The update web-service binding: reply splitting, the request it sends and the
// replies it accepts, checked alone and against a real SOAP server (the npm
// package "soap") and against servers that misbehave.

#include "peer_process.h"
#include "update/kvd_soap.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>
#include <QXmlStreamReader>

namespace {

const QString kEnvelopeNs = QStringLiteral("http://schemas.xmlsoap.org/soap/envelope/");

// What a request body holds, read with a namespace-aware parser.
struct TRequestShape
{
    QString EnvelopeNs;
    QString OperationNs;
    QString Operation;
    QStringList ParamNames;
    QStringList ParamValues;
    QStringList ParamTypes;
    bool Ok = false;
};

TRequestShape ReadRequest(const QByteArray& aXml)
{
    TRequestShape shape;
    QXmlStreamReader xml(aXml);
    int depth = 0;
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            if (depth == 1)
                shape.EnvelopeNs = xml.namespaceUri().toString();
            if (depth == 3) {
                shape.OperationNs = xml.namespaceUri().toString();
                shape.Operation = xml.name().toString();
            }
            if (depth == 4) {
                shape.ParamNames << xml.qualifiedName().toString();
                shape.ParamTypes << xml.attributes()
                                        .value(QStringLiteral(
                                                   "http://www.w3.org/2001/XMLSchema-instance"),
                                               QStringLiteral("type"))
                                        .toString();
                shape.ParamValues << xml.readElementText();
                --depth;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    shape.Ok = !xml.hasError();
    return shape;
}

// Runs aCall and gives the class name and message of what it raised, or the
// result with an empty class name.
template <typename F> QPair<QString, QString> Outcome(F aCall)
{
    try {
        return {QString(), aCall()};
    } catch (const EkvdError& e) {
        return {e.ClassName(), e.Message()};
    }
}

} // namespace

class TestUpdateSoap : public QObject, protected TPeerProcess
{
    Q_OBJECT

private:
    THTTPRIO Binding(const QString& aPath, int aTimeoutMSecs = kSoapTimeoutMSecs)
    {
        THTTPRIO binding;
        binding.URL = QUrl(FPeer.Url(aPath));
        binding.TimeoutMSecs = aTimeoutMSecs;
        return binding;
    }

private Q_SLOTS:
    void initTestCase()
    {
        StartPeer();
        if (FPeerUp)
            FPeer.TakeReceived();
    }
    void init()
    {
        qunsetenv("ULMORA_UPDATE_URL");
        if (FPeerUp) {
            FPeer.SetReply(QStringLiteral("run"), QStringLiteral("OK"));
            FPeer.SetReply(QStringLiteral("getupdate"), QStringLiteral("OK;1.0.0.0;none"));
            FPeer.TakeReceived();
        }
    }

    void splitReplyFields_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("three fields") << "OK;1.2.0.15;x" << QStringList{"OK", "1.2.0.15", "x"};
        QTest::newRow("blanks around a field")
            << "OK; 1.2.0.15 ;x" << QStringList{"OK", "1.2.0.15", "x"};
        QTest::newRow("lower-case status kept")
            << "ok;1.2.0.15;x" << QStringList{"ok", "1.2.0.15", "x"};
        QTest::newRow("two fields") << "OK;1.2.0.15" << QStringList{"OK", "1.2.0.15"};
        QTest::newRow("status only") << "OK" << QStringList{"OK"};
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("blanks only") << " \t\r\n " << QStringList{};
        QTest::newRow("trailing delimiter adds empty field")
            << "OK;1.2.0.0;" << QStringList{"OK", "1.2.0.0", ""};
        QTest::newRow("delimiter alone") << ";" << QStringList{"", ""};
        QTest::newRow("empty middle field") << "OK;;x" << QStringList{"OK", "", "x"};
        QTest::newRow("blank inside ends the field")
            << "OK;1.2 beta;x" << QStringList{"OK", "1.2", "beta", "x"};
        QTest::newRow("line break ends the field") << "OK\r\n;1.2.0.0;x\r\n"
                                                   << QStringList{"OK", "1.2.0.0", "x"};
        QTest::newRow("control character ends the field")
            << QStringLiteral("OK\x01;1;x") << QStringList{"OK", "1", "x"};
        QTest::newRow("quoted field keeps delimiter and blanks")
            << "OK;\"1.2; b c\";x" << QStringList{"OK", "1.2; b c", "x"};
        QTest::newRow("doubled quote is one quote")
            << "OK;\"say \"\"hi\"\"\";x" << QStringList{"OK", "say \"hi\"", "x"};
        QTest::newRow("unclosed quote takes the rest")
            << "OK;\"1.2;x" << QStringList{"OK", "1.2;x"};
        QTest::newRow("text after closing quote is a field of its own")
            << "\"ab\"cd;x" << QStringList{"ab", "cd", "x"};
        QTest::newRow("leading blanks skipped") << "   OK;1;x" << QStringList{"OK", "1", "x"};
        QTest::newRow("blank after trailing delimiter") << "OK; " << QStringList{"OK"};
        QTest::newRow("NUL ends the text")
            << QString::fromUtf16(u"OK;1;x\0;y", 9) << QStringList{"OK", "1", "x"};
        QTest::newRow("non-ASCII letters are field text")
            << QStringLiteral("OK;1.0;\u00e9t\u00e9") << QStringList{"OK", "1.0", "\u00e9t\u00e9"};
    }
    void splitReplyFields()
    {
        QFETCH(QString, reply);
        QFETCH(QStringList, fields);
        QCOMPARE(SplitReplyFields(reply), fields);
    }

    void requestBody()
    {
        const QByteArray body =
            BuildSoapRequest(QStringLiteral("kvd_application_getupdate"),
                             {{QStringLiteral("aAppName"), QStringLiteral("kvd_bexo")},
                              {QStringLiteral("aVersion"), QStringLiteral("1.2.3.4 <&>\"")}});
        const TRequestShape shape = ReadRequest(body);
        QVERIFY(shape.Ok);
        QCOMPARE(shape.EnvelopeNs, kEnvelopeNs);
        QCOMPARE(shape.OperationNs, QStringLiteral("urn:KVDIntf-KVD"));
        QCOMPARE(shape.Operation, QStringLiteral("kvd_application_getupdate"));
        QCOMPARE(shape.ParamNames, (QStringList{"aAppName", "aVersion"}));
        QCOMPARE(shape.ParamValues, (QStringList{"kvd_bexo", "1.2.3.4 <&>\""}));
        // Encoded style: every parameter says it is a string.
        QCOMPARE(shape.ParamTypes, (QStringList{"xsd:string", "xsd:string"}));
        QVERIFY(body.contains("encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\""));
    }

    void parseResponse_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("errorClass");
        QTest::addColumn<QString>("resultOrMessage");
        const QByteArray env = "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\">";
        QTest::newRow("result") << env + "<e:Body><m:R xmlns:m=\"urn:KVDIntf-KVD\"><return>OK"
                                         "</return></m:R></e:Body></e:Envelope>"
                                << ""
                                << "OK";
        QTest::newRow("result keeps blanks")
            << env + "<e:Body><m:R xmlns:m=\"u\"><return>OK </return></m:R></e:Body></e:Envelope>"
            << ""
            << "OK ";
        QTest::newRow("empty result")
            << env + "<e:Body><m:R xmlns:m=\"u\"><return/></m:R></e:Body></e:Envelope>"
            << ""
            << "";
        QTest::newRow("header is skipped")
            << env + "<e:Header><h>1</h></e:Header><e:Body><m:R xmlns:m=\"u\"><r>x</r></m:R>"
                     "</e:Body></e:Envelope>"
            << ""
            << "x";
        QTest::newRow("fault")
            << env + "<e:Body><e:Fault><faultcode>e:Client</faultcode><faultstring>bad app"
                     "</faultstring></e:Fault></e:Body></e:Envelope>"
            << "ESOAPFault"
            << "The update server reported a fault: bad app (e:Client).";
        QTest::newRow("no result element")
            << env + "<e:Body><m:R xmlns:m=\"u\"/></e:Body></e:Envelope>"
            << "ESOAPReplyError"
            << "holds no result";
        QTest::newRow("result with elements inside")
            << env + "<e:Body><m:R xmlns:m=\"u\"><r><b>x</b></r></m:R></e:Body></e:Envelope>"
            << "ESOAPReplyError"
            << "not well-formed";
        QTest::newRow("result by reference")
            << env + "<e:Body><m:R xmlns:m=\"u\"><r href=\"#id1\"/></m:R></e:Body></e:Envelope>"
            << "ESOAPReplyError"
            << "reference";
        QTest::newRow("SOAP 1.2 envelope")
            << QByteArray("<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\">"
                          "<e:Body/></e:Envelope>")
            << "ESOAPReplyError"
            << "no SOAP 1.1 envelope";
        QTest::newRow("no body") << env + "</e:Envelope>"
                                 << "ESOAPReplyError"
                                 << "no SOAP body";
        QTest::newRow("empty") << QByteArray() << "ESOAPReplyError"
                               << "it is empty";
        QTest::newRow("not XML") << QByteArray("OK;1.2.0.0;x") << "ESOAPReplyError"
                                 << "not well-formed";
        QTest::newRow("truncated")
            << env + "<e:Body><m:R xmlns:m=\"u\"><return>OK</return></m:R></e:Bo"
            << "ESOAPReplyError"
            << "not well-formed";
        QTest::newRow("undeclared entity")
            << env + "<e:Body><m:R xmlns:m=\"u\"><r>&x;</r></m:R></e:Body></e:Envelope>"
            << "ESOAPReplyError"
            << "not well-formed";
        QTest::newRow("document type declaration")
            << QByteArray("<!DOCTYPE e:Envelope [<!ENTITY a \"aaaa\">]>") + env +
                   "<e:Body><m:R xmlns:m=\"u\"><r>&a;</r></m:R></e:Body></e:Envelope>"
            << "ESOAPReplyError"
            << "document type declaration";
        QTest::newRow("external entity")
            << QByteArray("<!DOCTYPE e [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>") + env +
                   "<e:Body><m:R xmlns:m=\"u\"><r>&x;</r></m:R></e:Body></e:Envelope>"
            << "ESOAPReplyError"
            << "document type declaration";
    }
    void parseResponse()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, errorClass);
        QFETCH(QString, resultOrMessage);
        const auto [cls, text] = Outcome([&] { return ParseSoapResponse(body); });
        QCOMPARE(cls, errorClass);
        if (errorClass.isEmpty())
            QCOMPARE(text, resultOrMessage);
        else
            QVERIFY2(text.contains(resultOrMessage), qPrintable(text));
    }

    void endpoints()
    {
        // A build names its update host, or none (the default): then there is
        // no endpoint at all, and nothing is sent.
        const QString host = QStringLiteral(ULMORA_TEST_UPDATE_HOST);
        QCOMPARE(UpdateServerConfigured(), !host.isEmpty());
        QCOMPARE(DefaultUpdateEndpoint(),
                 host.isEmpty() ? QString() : host + QStringLiteral("/scripts/kvd_services.php"));
        QCOMPARE(DefaultUpdateWSDL(),
                 host.isEmpty() ? QString() : host + QStringLiteral("/scripts/kvd.wsdl"));
        qputenv("ULMORA_UPDATE_URL", " http://staging.example:8080/x/kvd_services.php?a=1 ");
        QVERIFY(UpdateServerConfigured());
        QCOMPARE(DefaultUpdateEndpoint(),
                 QStringLiteral("http://staging.example:8080/x/kvd_services.php?a=1"));
        QCOMPARE(DefaultUpdateWSDL(),
                 QStringLiteral("http://staging.example:8080/scripts/kvd.wsdl"));
        qunsetenv("ULMORA_UPDATE_URL");
    }

    // The real SOAP server parses what we send and answers; both sides are checked.
    void callsAgainstSoapServer_data()
    {
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("reply");
        QTest::newRow("run") << "run"
                             << "OK";
        QTest::newRow("run with blank kept") << "run"
                                             << "OK ";
        QTest::newRow("getupdate") << "getupdate"
                                   << "OK;1.2.0.15;x";
        QTest::newRow("getupdate non-ASCII and markup")
            << "getupdate" << QStringLiteral("OK;2.0.0.0;\u00fcber <b>&amp;</b>");
    }
    void callsAgainstSoapServer()
    {
        REQUIRE_PEER();
        QFETCH(QString, op);
        QFETCH(QString, reply);
        QVERIFY(FPeer.SetReply(op, reply));
        qputenv("ULMORA_UPDATE_URL", FPeer.Endpoint().toUtf8());
        const std::shared_ptr<KVD> service = GetUpdateService(false, QString(), nullptr);
        QString result;
        if (op == QLatin1String("run"))
            result = service->kvd_application_run(QStringLiteral("kvd_bexo"));
        else
            result = service->kvd_application_getupdate(QStringLiteral("kvd_bexo"),
                                                        QStringLiteral("1.1.9.9"));
        QCOMPARE(result, reply);

        const QJsonObject got = FPeer.NextReceived();
        const QString operation = QStringLiteral("kvd_application_") + op;
        QCOMPARE(got.value("path").toString(), QStringLiteral("/scripts/kvd_services.php"));
        QCOMPARE(got.value("soapaction").toString(),
                 QStringLiteral("\"urn:KVDIntf-KVD#") + operation + "\"");
        QCOMPARE(got.value("contenttype").toString(),
                 QStringLiteral("text/xml; charset=\"utf-8\""));
        QCOMPARE(got.value("operation").toString(), operation);
        const QJsonObject args = got.value("args").toObject();
        QCOMPARE(args.value("aAppName").toString(), QStringLiteral("kvd_bexo"));
        QCOMPARE(got.value("types").toObject().value("aAppName").toString(),
                 QStringLiteral("xsd:string"));
        const TRequestShape shape = ReadRequest(got.value("xml").toString().toUtf8());
        QVERIFY(shape.Ok);
        QCOMPARE(shape.EnvelopeNs, kEnvelopeNs);
        QCOMPARE(shape.OperationNs, QStringLiteral("urn:KVDIntf-KVD"));
        QCOMPARE(shape.Operation, operation);
        if (op == QLatin1String("run")) {
            QCOMPARE(args.size(), 1);
            QCOMPARE(shape.ParamNames, QStringList{"aAppName"});
        } else {
            QCOMPARE(args.size(), 2);
            QCOMPARE(args.value("aVersion").toString(), QStringLiteral("1.1.9.9"));
            QCOMPARE(shape.ParamNames, (QStringList{"aAppName", "aVersion"}));
        }
    }

    void asynchronousCall()
    {
        REQUIRE_PEER();
        QVERIFY(FPeer.SetReply("getupdate", "OK;3.0.0.0;async"));
        const std::shared_ptr<KVD> service = GetUpdateService(false, FPeer.Endpoint(), nullptr);
        bool done = false;
        bool returnedFirst = false;
        QString result;
        std::exception_ptr error;
        auto call = service->kvd_application_getupdate_async(
            "kvd_bexo", "1.0.0.0", [&](const QString& aResult, std::exception_ptr aError) {
                done = true;
                result = aResult;
                error = aError;
            });
        returnedFirst = !done;
        QVERIFY(returnedFirst);
        QVERIFY(call);
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
        QVERIFY(!error);
        QCOMPARE(result, QStringLiteral("OK;3.0.0.0;async"));
        // The call object goes away by itself once it has reported.
        QTRY_VERIFY(call.isNull());
    }

    void cancelledCallNeverReports()
    {
        REQUIRE_PEER();
        THTTPRIO binding = Binding(QStringLiteral("/bad/silent"));
        bool reported = false;
        auto call =
            binding.InvokeAsync("kvd_application_run", {{"aAppName", "kvd_bexo"}},
                                [&](const QString&, std::exception_ptr) { reported = true; });
        QVERIFY(!FPeer.NextReceived().isEmpty());
        QVERIFY(call);
        call->Cancel();
        QTRY_VERIFY(call.isNull());
        QTest::qWait(200);
        QVERIFY(!reported);
    }

    void serviceDescriptionBinding()
    {
        REQUIRE_PEER();
        QVERIFY(FPeer.SetReply("run", "OK from WSDL"));
        qputenv("ULMORA_UPDATE_URL", FPeer.Endpoint().toUtf8());
        // Default description location: the endpoint's host, /scripts/kvd.wsdl.
        const std::shared_ptr<KVD> service = GetUpdateService(true, QString(), nullptr);
        QCOMPARE(service->kvd_application_run("kvd_bexo"), QStringLiteral("OK from WSDL"));
        QCOMPARE(FPeer.NextReceived().value("operation").toString(),
                 QStringLiteral("kvd_application_run"));
    }

    void givenBindingIsUsed()
    {
        REQUIRE_PEER();
        THTTPRIO binding;
        binding.TimeoutMSecs = 1234;
        const std::shared_ptr<KVD> service = GetUpdateService(false, FPeer.Endpoint(), &binding);
        QCOMPARE(binding.URL, QUrl(FPeer.Endpoint()));
        QCOMPARE(binding.TimeoutMSecs, 1234);
        QCOMPARE(service->kvd_application_run("kvd_bexo"), QStringLiteral("OK"));
    }

    void soapFaultFromServer()
    {
        REQUIRE_PEER();
        QVERIFY(FPeer.SetFault("getupdate", "SOAP-ENV:Client", "Unknown application"));
        const auto [cls, message] = Outcome([&] {
            return GetUpdateService(false, FPeer.Endpoint())
                ->kvd_application_getupdate("kvd_bexo", "1.0.0.0");
        });
        QCOMPARE(cls, QStringLiteral("ESOAPFault"));
        QCOMPARE(message, QStringLiteral("The update server reported a fault: Unknown application "
                                         "(SOAP-ENV:Client)."));
    }

    void badReplies_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("errorClass");
        QTest::addColumn<QString>("messagePart");
        QTest::newRow("not XML") << "notxml"
                                 << "ESOAPReplyError"
                                 << "not well-formed XML";
        QTest::newRow("truncated XML") << "truncated"
                                       << "ESOAPReplyError"
                                       << "not well-formed XML";
        QTest::newRow("fault with HTTP 500") << "fault500"
                                             << "ESOAPFault"
                                             << "Application kvd_bexo is unknown";
        QTest::newRow("HTTP 500 with HTML")
            << "html500"
            << "ESOAPHTTPError"
            << "answered with HTTP status 500 Internal Server Error";
        QTest::newRow("HTML page with HTTP 200") << "html200"
                                                 << "ESOAPReplyError"
                                                 << "no SOAP 1.1 envelope";
        QTest::newRow("HTTP 404") << "notfound"
                                  << "ESOAPHTTPError"
                                  << "HTTP status 404";
        QTest::newRow("several megabytes") << "huge"
                                           << "ESOAPReplyError"
                                           << "larger than 1024 KiB";
        QTest::newRow("several megabytes announced") << "hugelength"
                                                     << "ESOAPReplyError"
                                                     << "larger than 1024 KiB";
        QTest::newRow("entity bomb") << "bomb"
                                     << "ESOAPReplyError"
                                     << "document type declaration";
        QTest::newRow("reply never ends") << "hang"
                                          << "ESOAPTimeout"
                                          << "within 2 seconds";
        QTest::newRow("server says nothing") << "silent"
                                             << "ESOAPTimeout"
                                             << "within 2 seconds";
        QTest::newRow("empty reply") << "empty"
                                     << "ESOAPReplyError"
                                     << "it is empty";
        QTest::newRow("no result") << "noresult"
                                   << "ESOAPReplyError"
                                   << "holds no result";
        QTest::newRow("not an envelope") << "notenvelope"
                                         << "ESOAPReplyError"
                                         << "no SOAP 1.1 envelope";
        QTest::newRow("another server's style") << "otherstyle"
                                                << ""
                                                << "OK;1.2.0.15;\"a & b\";c";
    }
    void badReplies()
    {
        REQUIRE_PEER();
        QFETCH(QString, mode);
        QFETCH(QString, errorClass);
        QFETCH(QString, messagePart);
        THTTPRIO binding = Binding(QStringLiteral("/bad/") + mode, 2000);
        const auto [cls, message] = Outcome([&] {
            return binding.Invoke("kvd_application_getupdate",
                                  {{"aAppName", "kvd_bexo"}, {"aVersion", "1.0.0.0"}});
        });
        QCOMPARE(cls, errorClass);
        if (cls.isEmpty())
            QCOMPARE(message, messagePart);
        else
            QVERIFY2(message.contains(messagePart), qPrintable(message));
        if (mode == QLatin1String("otherstyle"))
            QCOMPARE(SplitReplyFields(message), (QStringList{"OK", "1.2.0.15", "a & b", "c"}));
    }

    void unreachable_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("errorClass");
        QTest::addColumn<QString>("messagePart");
        QTest::newRow("nobody listens")
            << QStringLiteral("http://127.0.0.1:%1/scripts/kvd_services.php").arg(FreePort())
            << "ESOAPConnectError"
            << "cannot be reached";
        // Without a name server the look-up may run into the time-out instead.
        QTest::newRow("unknown host") << "http://no-such-host.invalid/scripts/kvd_services.php"
                                      << "ESOAPConnectError|ESOAPTimeout"
                                      << "cannot be reached|did not answer";
        QTest::newRow("not http") << "ftp://127.0.0.1/x"
                                  << "ESOAPConnectError"
                                  << "is not a valid http URL";
        QTest::newRow("no URL at all") << "kvd_services.php"
                                       << "ESOAPConnectError"
                                       << "is not a valid http URL";
    }
    void unreachable()
    {
        QFETCH(QString, url);
        QFETCH(QString, errorClass);
        QFETCH(QString, messagePart);
        qputenv("ULMORA_UPDATE_URL", url.toUtf8());
        const auto [cls, message] =
            Outcome([&] { return GetUpdateService()->kvd_application_run("kvd_bexo"); });
        // Alternatives are separated by "|", in the same order in both columns.
        const QStringList classes = errorClass.split('|');
        const qsizetype which = classes.indexOf(cls);
        QVERIFY2(which >= 0, qPrintable(cls + ": " + message));
        QVERIFY2(message.contains(messagePart.split('|').at(which)), qPrintable(message));
    }

    void cleanupTestCase()
    {
        qunsetenv("ULMORA_UPDATE_URL");
        FPeer.Stop();
    }
};

QTEST_GUILESS_MAIN(TestUpdateSoap)
#include "test_update_soap.moc"
