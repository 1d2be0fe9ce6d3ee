#pragma once

#include <QString>
#include <array>
#include <cstdint>

namespace cfb::vWinsock {

// Window messages of the transport.
constexpr int32_t WM_TIMER = 275;
constexpr int32_t MSG_SOCKET = 13379; // socket readiness: wParam socket, lParam event | error << 16
constexpr int32_t MSG_DNS = 17427; // look-up done: wParam job handle, lParam error << 16

// Readiness events carried in the low word of a socket message.
constexpr int32_t FD_READ = 1;
constexpr int32_t FD_WRITE = 2;

// Error codes the transport and its tests use by name.
constexpr int32_t WSAEINVAL = 10022;
constexpr int32_t WSAEWOULDBLOCK = 10035;
constexpr int32_t WSAEDESTADDRREQ = 10039;
constexpr int32_t WSAEMSGSIZE = 10040;
constexpr int32_t WSAEADDRINUSE = 10048;
constexpr int32_t WSAENETDOWN = 10050;
constexpr int32_t WSAECONNRESET = 10054;
constexpr int32_t WSANOTINITIALISED = 10093;
constexpr int32_t WSAHOST_NOT_FOUND = 11001;
constexpr int32_t WSATRY_AGAIN = 11002;
constexpr int32_t WSANO_DATA = 11004;
constexpr int32_t ASYNC_SELECT_FAILED = 11005;
constexpr const char* ASYNC_SELECT_FAILED_TEXT = "Can not create async sockets for this class.";

// Largest payload of one IPv4 UDP datagram.
constexpr int32_t MAX_UDP_DATA = 65507;

// The socket layer of one thread, shared by every transport object on it.
struct Layer {
    int32_t refCount = 0;
    bool usable = false;
    QString description;
    int32_t versionMajor = 0;
    int32_t versionMinor = 0;
    int32_t maxSockets = 0;
    int32_t maxUdpData = 0;
};

// Takes one reference on this thread's socket layer. The first one creates the hidden window and
// its one-second timer; it fails (and counts nothing) on a thread without a Qt event dispatcher,
// where readiness could never be delivered. Later ones add to the count and give the usable flag.
bool Startup();
// Gives one reference back; the last one destroys the hidden window.
void Cleanup();
const Layer& State();
// Handle of this thread's hidden window, 0 when there is none.
int32_t HiddenWindow();

// The fixed text of an error code ("Unknown Error" for codes the table lacks).
QString ErrorText(int32_t code);
// Maps an errno value to its socket error code. An errno with no counterpart becomes
// 20000 + errno: still a failure, with the text "Unknown Error".
int32_t FromErrno(int err);

// Dotted text of an IPv4 address in network byte order.
QString DottedAddress(uint32_t networkOrder);
// True for a dotted-quad IPv4 address ("10.0.0.5"); names and other forms are not.
bool IsDottedIPv4(const QString& text);
bool ParseIPv4(const QString& text, uint32_t& networkOrder);
// An IPv6 literal ("2001:db8::7", no brackets, no zone) as its 16 bytes; an IPv4-mapped one
// ("::ffff:10.0.0.5") is refused, as that address is the IPv4 one.
bool ParseIPv6(const QString& text, std::array<uint8_t, 16>& bytes);
// The compressed text of an IPv6 address ("2001:db8::7").
QString IPv6Text(const std::array<uint8_t, 16>& bytes);
// A port as text: a decimal number from 0 to 65535, or a service name for UDP; -1 for anything
// else, an empty text included.
int32_t PortFromText(const QString& text);

// The machine's host name and its first IPv4 address; "Unknown" when they cannot be read.
QString LocalHostName();
QString LocalAddress();

// Adds to a byte counter; a counter that would pass 2,147,483,647 starts again at 0.
int32_t AddByteCount(int32_t counter, int64_t amount);

} // namespace cfb::vWinsock
