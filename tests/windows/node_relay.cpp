// "node.exe" for the tests that run under wine: a Windows program cannot start
// the Linux node that serves the SOAP peer, so this stand-in hands its command
// line to the peer bridge (peer_bridge.js, started on the Linux side before the
// tests, port in ULMORA_PEER_BRIDGE_PORT), which starts node with it, and then
// relays its standard input to that node and node's output back, until node
// ends. The test sees a node process as it does on Linux.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include <shellapi.h>

namespace {

std::string Utf8(const wchar_t* aText)
{
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, aText, -1, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, aText, -1, result.data(), size, nullptr, nullptr);
    return result;
}

std::string JsonString(const std::string& aText)
{
    std::string out = "\"";
    for (const unsigned char c : aText) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

bool SendAll(SOCKET aSocket, const char* aData, int aSize)
{
    while (aSize > 0) {
        const int sent = ::send(aSocket, aData, aSize, 0);
        if (sent <= 0)
            return false;
        aData += sent;
        aSize -= sent;
    }
    return true;
}

} // namespace

int main()
{
    const char* port = std::getenv("ULMORA_PEER_BRIDGE_PORT");
    if (!port || !*port) {
        std::fprintf(stderr, "node stand-in: ULMORA_PEER_BRIDGE_PORT is not set\n");
        return 2;
    }
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 2;
    const SOCKET bridge = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bridge == INVALID_SOCKET ||
        ::connect(bridge, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::fprintf(stderr, "node stand-in: the peer bridge on port %s does not answer\n", port);
        return 2;
    }

    // The first line: the arguments and the working folder.
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::string line = "{\"args\":[";
    for (int i = 1; i < count; ++i)
        line += (i > 1 ? "," : "") + JsonString(Utf8(arguments[i]));
    wchar_t folder[MAX_PATH * 4];
    ::GetCurrentDirectoryW(MAX_PATH * 4, folder);
    line += "],\"cwd\":" + JsonString(Utf8(folder)) + "}\n";
    ::LocalFree(arguments);
    if (!SendAll(bridge, line.data(), static_cast<int>(line.size())))
        return 2;

    // Standard input to node; its end ends node's input.
    std::thread input([bridge] {
        const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
        char buffer[4096];
        DWORD got = 0;
        while (::ReadFile(in, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            if (!SendAll(bridge, buffer, static_cast<int>(got)))
                break;
        }
        ::shutdown(bridge, SD_SEND);
    });
    input.detach();

    // Node's output to standard output, until node ends.
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    char buffer[4096];
    for (;;) {
        const int got = ::recv(bridge, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        DWORD written = 0;
        if (!::WriteFile(out, buffer, static_cast<DWORD>(got), &written, nullptr))
            break;
    }
    ::closesocket(bridge);
    // The input thread may still block on a read; the process ends with it.
    ::ExitProcess(0);
}
