// Arbitrary bytes sent by a client to a served connection through a socket
// pair. The server must answer or close, never crash, read outside a buffer or
// allocate what a length field claims before the bytes arrive.

#include "ipc/kvd_ipc.h"

#include <cstddef>
#include <cstdint>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

void Handler(IMessageData& aRequest, IMessageData& aReply)
{
    const QString command = aRequest.ReadText(QStringLiteral("Command"));
    if (command == QStringLiteral("throw"))
        throw EIPCError(QStringLiteral("handler failed"));
    QByteArray data = aRequest.ReadBytes(QStringLiteral("Params"));
    data += command.toUtf8();
    aReply.SetID(aRequest.GetID());
    aReply.WriteText(QStringLiteral("Result"), QStringLiteral("ok"));
    aReply.WriteBytes(QStringLiteral("Data"), data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t aSize)
{
    int client = -1;
    int server = -1;
    if (!CreatePipeHandlePair(client, server))
        return 0;

    std::thread writer([client, aData, aSize] {
        size_t sent = 0;
        while (sent < aSize) {
            const ssize_t n = ::send(client, aData + sent, aSize - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
        ::shutdown(client, SHUT_WR);
    });
    std::thread reader([client] {
        char buffer[4096];
        while (::recv(client, buffer, sizeof(buffer), 0) > 0) {
        }
    });

    PPipeConnection connection = AdoptPipeConnection(server, nullptr);
    ServeClient(*connection, Handler);

    writer.join();
    reader.join();
    ::close(client);
    return 0;
}
