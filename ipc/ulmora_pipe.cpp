// ulmora-pipe NAME COMMAND [PARAMS]: sends one request with "Command" (and
// "Params" when given) to the pipe server of NAME and prints the reply's ID,
// "Result" and "Data". A tool for writing and testing the updater.

#include "ipc/kvd_ipc.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

void PrintUsage()
{
    std::fputs("usage: ulmora-pipe NAME COMMAND [PARAMS]\n"
               "  Sends one request to the pipe server NAME (e.g. kvd_bexo, or the socket's\n"
               "  path when it holds a \"/\") and prints the reply's ID, \"Result\" and\n"
               "  \"Data\". Commands of Ulmora's update service: kvd_command_getversion,\n"
               "  kvd_command_update, kvd_command_terminate.\n",
               stderr);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3 || args.size() > 4) {
        PrintUsage();
        return 2;
    }
    try {
        TMessageData request;
        request.WriteText(QStringLiteral("Command"), args[2]);
        if (args.size() == 4)
            request.WriteBytes(QStringLiteral("Params"), args[3].toLocal8Bit());

        TIPCClient client;
        // A running server answers at once; do not linger when there is none.
        client.Connect(args[1], 200);
        TMessageData reply;
        client.Execute(request, reply);
        client.Disconnect();

        const QByteArray data = reply.ReadBytes(QStringLiteral("Data"));
        std::printf("ID: %s\n", reply.GetID().toLocal8Bit().constData());
        std::printf("Result: %s\n",
                    reply.ReadText(QStringLiteral("Result")).toLocal8Bit().constData());
        std::printf("Data:\n");
        std::fwrite(data.constData(), 1, static_cast<size_t>(data.size()), stdout);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "ulmora-pipe: %s\n", ErrorMessage(error).toLocal8Bit().constData());
        return 1;
    }
}
