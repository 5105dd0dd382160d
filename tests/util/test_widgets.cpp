// The shared rules of the windows: colour contrast, the placement of a dialog,
// and the guard that every connected handler goes through.

#include "util/kvd_dialogs.h"
#include "util/kvd_guard.h"
#include "util/kvd_widgets.h"
#include "util/tasks_log.h"

#include <QDialog>
#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <stdexcept>

// A sender with signals of no, one and two arguments.
class TSender : public QObject
{
    Q_OBJECT
Q_SIGNALS:
    void Fired();
    void Number(int aValue);
    void Pair(int aValue, const QString& aText);
};

namespace {

class TReceiver : public QObject
{
public:
    void Take(int aValue) { Values << aValue; }
    void Fail() { throw std::runtime_error("member failed"); }
    QList<int> Values;
};

QStringList ErrorTexts()
{
    QStringList texts;
    for (const TkvdMessageBox::TShown& shown : TkvdMessageBox::Shown()) {
        if (shown.Kind == TMsgKind::Error)
            texts << shown.Text;
    }
    return texts;
}

} // namespace

class TestWidgets : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir FDir;

    QByteArray LogText() const
    {
        QFile file(FDir.filePath(QStringLiteral("ulmora.log")));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private Q_SLOTS:
    void init()
    {
        TkvdMessageBox::SetTestMode(true);
        TkvdMessageBox::ClearShown();
        auto log = std::make_unique<TtasksLog>();
        log->FileName = FDir.filePath(QStringLiteral("ulmora.log"));
        QFile::remove(log->FileName);
        SetTasksLog(std::move(log));
    }
    void cleanup()
    {
        SetTasksLog(nullptr);
        TkvdMessageBox::ClearShown();
    }

    void contrast_data()
    {
        QTest::addColumn<QColor>("first");
        QTest::addColumn<QColor>("second");
        QTest::addColumn<double>("ratio");
        QTest::newRow("black on white") << QColor(Qt::black) << QColor(Qt::white) << 21.0;
        QTest::newRow("either order") << QColor(Qt::white) << QColor(Qt::black) << 21.0;
        QTest::newRow("the same colour") << QColor(0x2b9a9a) << QColor(0x2b9a9a) << 1.0;
        // The usual worked value: #777777 on white is just under 4.5.
        QTest::newRow("gray 0x77 on white") << QColor(0x777777) << QColor(Qt::white) << 4.478;
    }
    void contrast()
    {
        QFETCH(QColor, first);
        QFETCH(QColor, second);
        QFETCH(double, ratio);
        QVERIFY2(qAbs(ContrastRatio(first, second) - ratio) < 0.001,
                 qPrintable(QString::number(ContrastRatio(first, second))));
    }

    void darkAndLight_data()
    {
        QTest::addColumn<QColor>("color");
        QTest::addColumn<bool>("dark");
        QTest::addColumn<bool>("light");
        QTest::addColumn<QColor>("readable");
        QTest::newRow("black") << QColor(Qt::black) << true << false << QColor(Qt::white);
        QTest::newRow("white") << QColor(Qt::white) << false << true << QColor(Qt::black);
        QTest::newRow("lightness 127")
            << QColor(127, 127, 127) << true << false << QColor(Qt::black);
        QTest::newRow("lightness 128 is neither")
            << QColor(128, 128, 128) << false << false << QColor(Qt::black);
        QTest::newRow("lightness 129")
            << QColor(129, 129, 129) << false << true << QColor(Qt::black);
        QTest::newRow("navy") << QColor(0, 0, 128) << true << false << QColor(Qt::white);
    }
    void darkAndLight()
    {
        QFETCH(QColor, color);
        QTEST(IsDark(color), "dark");
        QTEST(IsLight(color), "light");
        QTEST(ReadableOn(color), "readable");
    }

    void dialogOpensCentred()
    {
        QDialog dialog;
        dialog.resize(300, 200);
        CenterOnScreen(&dialog);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(qAbs(dialog.frameGeometry().center().x() - area.center().x()) <= 1);
        QVERIFY(qAbs(dialog.frameGeometry().center().y() - area.center().y()) <= 1);
    }

    // A handler that throws, connected through the guard: its error is logged
    // and shown in one error box, the signal's later receivers still run and
    // the emitting code goes on.
    void guardedHandlerThatThrows_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("shown");
        QTest::newRow("lambda, std::exception") << "lambda"
                                                << "lambda failed";
        QTest::newRow("program's own error") << "own"
                                             << "own error";
        QTest::newRow("member function") << "member"
                                         << "member failed";
        QTest::newRow("no std::exception") << "other"
                                           << "Unknown error";
    }
    void guardedHandlerThatThrows()
    {
        QFETCH(QString, kind);
        QFETCH(QString, shown);
        TSender sender;
        TReceiver receiver;
        if (kind == QLatin1String("lambda"))
            ConnectGuarded(&sender, &TSender::Fired, &receiver,
                           [] { throw std::runtime_error("lambda failed"); });
        else if (kind == QLatin1String("own"))
            ConnectGuarded(&sender, &TSender::Fired, &receiver,
                           [] { throw EDatabaseError(QStringLiteral("own error")); });
        else if (kind == QLatin1String("member"))
            ConnectGuarded(&sender, &TSender::Fired, &receiver, &TReceiver::Fail);
        else
            ConnectGuarded(&sender, &TSender::Fired, &receiver, [] { throw 42; });
        bool later = false;
        ConnectGuarded(&sender, &TSender::Fired, &receiver, [&later] { later = true; });

        Q_EMIT sender.Fired();
        QVERIFY(later);
        QCOMPARE(ErrorTexts(), QStringList{shown});
        QVERIFY2(LogText().contains(shown.toUtf8()), LogText().constData());

        // The next emission is handled the same way.
        later = false;
        Q_EMIT sender.Fired();
        QVERIFY(later);
        QCOMPARE(ErrorTexts().size(), 2);
    }

    // A handler takes as many of the signal's leading arguments as it has
    // parameters, as a slot connected without the guard does.
    void guardedHandlerTakesLeadingArguments()
    {
        TSender sender;
        TReceiver receiver;
        QStringList texts;
        int none = 0;
        ConnectGuarded(&sender, &TSender::Pair, &receiver, &TReceiver::Take);
        ConnectGuarded(&sender, &TSender::Pair, &receiver,
                       [&texts](int aValue, const QString& aText) {
                           texts << QString::number(aValue) + aText;
                       });
        ConnectGuarded(&sender, &TSender::Pair, &receiver, [&none] { ++none; });
        ConnectGuarded(&sender, &TSender::Number, &receiver, &TReceiver::Take);
        Q_EMIT sender.Pair(7, QStringLiteral("x"));
        Q_EMIT sender.Number(9);
        QCOMPARE(receiver.Values, (QList<int>{7, 9}));
        QCOMPARE(texts, QStringList{QStringLiteral("7x")});
        QCOMPARE(none, 1);
        QVERIFY(ErrorTexts().isEmpty());
    }

    // Qt's private signals carry a tag argument that no handler takes.
    void guardedHandlerOfAPrivateSignal()
    {
        QTimer timer;
        timer.setSingleShot(true);
        int calls = 0;
        ConnectGuarded(&timer, &QTimer::timeout, &timer, [&calls] { ++calls; });
        timer.start(0);
        QTRY_COMPARE(calls, 1);
    }

    // The connection ends with its context object.
    void guardedConnectionEndsWithTheReceiver()
    {
        TSender sender;
        int calls = 0;
        {
            QObject context;
            ConnectGuarded(&sender, &TSender::Fired, &context, [&calls] { ++calls; });
            Q_EMIT sender.Fired();
        }
        Q_EMIT sender.Fired();
        QCOMPARE(calls, 1);
    }
};

QTEST_MAIN(TestWidgets)
#include "test_widgets.moc"
