// A first sync of COUNT tasks against Radicale, each way, timed beside the
// same requests made by a plain Python script (plain_caldav.py):
//   up:   COUNT local tasks into an empty collection (COUNT PUTs);
//   down: a collection of COUNT to-dos into an empty store (the listing and
//         the multigets). The collection is filled by writing its files into
//         Radicale's storage folder, so that a large one needs no hour of PUTs;
//         one untimed pass of the script first warms the server's caches.
// Prints the seconds of each and their ratio.
//
//     bench_sync [--down-only] [--indexed-server] [COUNT...]   (default: 1000 10000)
//
// Radicale's time per PUT grows with the collection (it reads every member to
// check the new one's UID), so an upload of 10,000 takes hours on a small
// machine whoever sends it; --down-only leaves it out, and --indexed-server
// runs Radicale with that check answered from an index (radicale_indexed.py),
// so that the times are those of the requests.

#include "store/tasks_store.h"
#include "sync/tasks_sync.h"
#include "tests/sync/radicale_server.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

namespace {

double Seconds(const QElapsedTimer& aTimer)
{
    return aTimer.nsecsElapsed() / 1e9;
}

TSyncConfig Config(const QString& aUrl)
{
    TSyncConfig config;
    config.url = aUrl;
    config.client.user = TRadicaleServer::kUser;
    config.client.password = TRadicaleServer::kPassword;
    return config;
}

// The plain script's seconds, or a negative number when it failed.
double Plain(const QString& aMode, const QString& aUrl, int aCount)
{
    QProcess plain;
    plain.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    plain.start(QStringLiteral("/usr/bin/python3"),
                {QStringLiteral(ULMORA_PLAIN_SCRIPT), aMode, aUrl, TRadicaleServer::kUser,
                 TRadicaleServer::kPassword, QString::number(aCount)});
    if (!plain.waitForFinished(-1) || plain.exitCode() != 0)
        return -1;
    return QString::fromUtf8(plain.readAllStandardOutput()).trimmed().toDouble();
}

void Print(const char* aWay, int aCount, double aSync, double aPlain)
{
    std::printf("%6d tasks %-4s  sync %8.2f s  plain %8.2f s  ratio %.2f\n", aCount, aWay, aSync,
                aPlain, aSync / aPlain);
    std::fflush(stdout);
}

bool Up(TRadicaleServer& aServer, const QTemporaryDir& aDir, int aCount)
{
    ReleaseTasksDB();
    SetTasksDBFile(aDir.filePath(QStringLiteral("up-%1.db").arg(aCount)));
    QStringList summaries;
    for (int i = 0; i < aCount; ++i)
        summaries << QStringLiteral("Task %1").arg(i);
    TBulkEntryReport report;
    if (!TtasksStore::InsertTasks(summaries, {}, report))
        return false;
    QElapsedTimer timer;
    timer.start();
    const TSyncResult result = SyncOnce(*GetTasksDB(), Config(aServer.MakeCalendar()));
    const double seconds = Seconds(timer);
    ReleaseTasksDB();
    if (!result.ok || result.uploaded != aCount) {
        std::fprintf(stderr, "upload failed: %s\n", qPrintable(result.error));
        return false;
    }
    const double plain = Plain(QStringLiteral("up"), aServer.MakeCalendar(), aCount);
    Print("up", aCount, seconds, plain);
    return plain > 0;
}

bool Down(TRadicaleServer& aServer, const QTemporaryDir& aDir, int aCount)
{
    const QString name = QStringLiteral("down-%1").arg(aCount);
    const QString url = aServer.MakeCalendar(name);
    for (int i = 0; i < aCount; ++i) {
        const QString uid = QStringLiteral("seed%1").arg(i, 11, 10, QLatin1Char('0'));
        QFile file(aServer.CollectionFolder(name) + QLatin1Char('/') + uid +
                   QStringLiteral(".ics"));
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write(QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\n"
                                  "BEGIN:VTODO\r\nUID:%1\r\nCREATED:20261210T120000Z\r\n"
                                  "DTSTAMP:20261210T120000Z\r\nSUMMARY:Task %2\r\n"
                                  "STATUS:NEEDS-ACTION\r\nEND:VTODO\r\nEND:VCALENDAR\r\n")
                       .arg(uid)
                       .arg(i)
                       .toUtf8());
    }
    // Radicale parses every file, and makes the state behind a sync token,
    // on the first request that needs them: once for a collection whose
    // members came through PUTs, which the files written here did not.
    // (The warming request may outlast the helper's time limit on a large
    // collection; the server finishes its work all the same.)
    if (Plain(QStringLiteral("down"), url, aCount) < 0)
        return false;
    aServer.Request("PROPFIND", url,
                    "<d:propfind xmlns:d=\"DAV:\"><d:prop><d:sync-token/></d:prop></d:propfind>");
    ReleaseTasksDB();
    SetTasksDBFile(aDir.filePath(QStringLiteral("down-%1.db").arg(aCount)));
    QElapsedTimer timer;
    timer.start();
    const TSyncResult result = SyncOnce(*GetTasksDB(), Config(url));
    const double seconds = Seconds(timer);
    ReleaseTasksDB();
    if (!result.ok || result.downloaded != aCount) {
        std::fprintf(stderr, "download failed: %s\n", qPrintable(result.error));
        return false;
    }
    const double plain = Plain(QStringLiteral("down"), url, aCount);
    Print("down", aCount, seconds, plain);
    return plain > 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    const bool downOnly = arguments.removeAll(QStringLiteral("--down-only")) > 0;
    const bool indexed = arguments.removeAll(QStringLiteral("--indexed-server")) > 0;
    QList<int> counts;
    for (const QString& argument : arguments)
        counts << argument.toInt();
    if (counts.isEmpty())
        counts = {1000, 10000};
    TRadicaleServer server(indexed ? QStringLiteral(ULMORA_INDEXED_RADICALE) : QString());
    QString error;
    if (!server.Start(error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QTemporaryDir dir;
    for (const int count : counts) {
        if ((!downOnly && !Up(server, dir, count)) || !Down(server, dir, count))
            return 1;
    }
    return 0;
}
