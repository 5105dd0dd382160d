#pragma once

// What the update tests share about the SOAP peer: starting it once for the
// whole test program, skipping a test that needs it when it is not up, and a
// port of 127.0.0.1 where nothing listens.

#include "soap_peer.h"

#include <QHostAddress>
#include <QString>
#include <QTcpServer>

// Skips the calling test when the SOAP peer is not running (QSKIP returns from
// the function it is written in, so this has to be a macro). For test classes
// that derive from TPeerProcess.
#define REQUIRE_PEER()                                                                             \
    do {                                                                                           \
        if (!FPeerUp)                                                                              \
            QSKIP(qPrintable(FWhyNoPeer));                                                         \
    } while (false)

// The peer of one test program, as a second base of the test class beside
// QObject.
class TPeerProcess
{
protected:
    // Starts the peer when it can run here; FPeerUp tells whether it came up,
    // FWhyNoPeer why it did not.
    void StartPeer()
    {
        // Calls to 127.0.0.1 must not go through a proxy of the machine.
        qputenv("no_proxy", "127.0.0.1,localhost");
        qputenv("NO_PROXY", "127.0.0.1,localhost");
        FWhyNoPeer = TSoapPeer::Unavailable();
        if (FWhyNoPeer.isEmpty())
            FPeerUp = FPeer.Start(FWhyNoPeer);
    }

    TSoapPeer FPeer;
    bool FPeerUp = false;
    QString FWhyNoPeer;
};

// A port of 127.0.0.1 that was free a moment ago, for calls that must find no
// server.
inline int FreePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}
