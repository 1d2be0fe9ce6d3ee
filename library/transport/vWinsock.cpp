#include "transport/vWinsock.h"

#include "transport/ivTimer.h"
#include "transport/ivhWnd.h"
#include "transport/vSubclass.h"

#include <QAbstractEventDispatcher>
#include <QHash>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <unistd.h>

namespace cfb::vWinsock {
namespace {

struct ThreadLayer {
    Layer layer;
    std::unique_ptr<ivhWnd> window;
    std::unique_ptr<ivTimer> timer = std::make_unique<ivTimer>();

    ~ThreadLayer()
    {
        // A reference still held at thread exit belongs to an object that outlived the thread's
        // event loop; deleting a QObject that late is unsafe, so leave the window (and its timer)
        // be.
        if (window) {
            (void)window.release();
            (void)timer.release();
        }
    }
};

ThreadLayer& tls()
{
    thread_local ThreadLayer state;
    return state;
}

const QHash<int32_t, QString>& errorTexts()
{
    static const QHash<int32_t, QString> texts = {
        {0, "No Error"},
        {10004, "Interrupted system call"},
        {10009, "Bad file number"},
        {10013, "Permission Denied"},
        {10014, "Bad Address"},
        {10022, "Invalid Argument"},
        {10024, "Too many open files"},
        {10035, "Operation would block"},
        {10036, "Operation now in progress"},
        {10037, "Operation already in progress"},
        {10038, "Socket operation on nonsocket"},
        {10039, "Destination address required"},
        {10040, "Message too long"},
        {10041, "Protocol wrong type for socket"},
        {10042, "Protocol not available"},
        {10043, "Protocol not supported"},
        {10044, "Socket type not supported"},
        {10045, "Operation not supported on socket"},
        {10046, "Protocol family not supported"},
        {10047, "Address family not supported by protocol family"},
        {10048, "Address already in use"},
        {10049, "Can not assign requested address"},
        {10050, "Network is down"},
        {10051, "Network is unreachable"},
        {10052, "Network dropped connection"},
        {10053, "Software caused connection abort"},
        {10054, "Connection reset by peer"},
        {10055, "No buffer space available"},
        {10056, "Socket is already connected"},
        {10057, "Socket is not connected"},
        {10058, "Can't send after socket shutdown"},
        {10059, "Too many references: can't splice"},
        {10060, "Connection timed out"},
        {10061, "Connection refused"},
        {10062, "Too many levels of symbolic links"},
        {10063, "File name too long"},
        {10064, "Host is down"},
        {10065, "No route to host"},
        {10066, "Directory not empty"},
        {10067, "Too many processes"},
        {10068, "Too many users"},
        {10069, "Disk quota exceeded"},
        {10070, "Stale NFS file handle"},
        {10071, "Too many levels of remote in path"},
        {10091, "Network subsystem is unusable"},
        {10092, "Winsock cannot support this application"},
        {10093, "Winsock not started"},
        {10101, "Disconnect"},
        {11001, "Host not found"},
        {11002, "[Nonauthoritative] Host not found"},
        {11003, "Nonrecoverable error"},
        {11004, "Valid name, no data record of requested type"},
        {ASYNC_SELECT_FAILED, ASYNC_SELECT_FAILED_TEXT},
    };
    return texts;
}

} // namespace

bool Startup()
{
    ThreadLayer& s = tls();
    if (s.layer.refCount >= 1) {
        ++s.layer.refCount;
        return s.layer.usable;
    }
    if (!QAbstractEventDispatcher::instance()) {
        s.layer.usable = false;
        return false;
    }
    s.window = std::make_unique<ivhWnd>();
    s.window->Create();
    s.timer->CreateTimer(s.window->handle());

    rlimit files{};
    const bool haveLimit = getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY;
    s.layer.description = QStringLiteral("POSIX sockets on the Qt event loop").left(257);
    s.layer.versionMajor = 1;
    s.layer.versionMinor = 1;
    s.layer.maxSockets = haveLimit ? int32_t(std::min<rlim_t>(files.rlim_cur, INT32_MAX)) : INT32_MAX;
    s.layer.maxUdpData = MAX_UDP_DATA;
    s.layer.usable = true;
    s.layer.refCount = 1;
    return true;
}

void Cleanup()
{
    ThreadLayer& s = tls();
    if (s.layer.refCount > 0)
        --s.layer.refCount;
    if (s.layer.refCount > 0)
        return;
    s.layer = Layer{};
    s.timer->DestroyTimer();
    if (!s.window)
        return;
    s.window->Destroy();
    // The last reference may go from inside a handler that the window's dispatch is running;
    // the window object then goes once control is back in the event loop.
    if (vSubclass::DispatchDepth() > 0)
        s.window.release()->deleteLater();
    else
        s.window.reset();
}

const Layer& State()
{
    return tls().layer;
}

int32_t HiddenWindow()
{
    const ThreadLayer& s = tls();
    return s.window ? s.window->handle() : 0;
}

QString ErrorText(int32_t code)
{
    return errorTexts().value(code, QStringLiteral("Unknown Error"));
}

int32_t FromErrno(int err)
{
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EAGAIN:
        return WSAEWOULDBLOCK;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
    case EPIPE:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        return 20000 + err;
    }
}

QString DottedAddress(uint32_t networkOrder)
{
    in_addr a{};
    a.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &a, text, sizeof text))
        return QStringLiteral("255.255.255.255");
    return QString::fromLatin1(text).left(32);
}

namespace {

// Copies an ASCII address text to the stack, nul-terminated (every datagram sent asks, so
// nothing is allocated); false when it does not fit or is not ASCII.
template <size_t N>
bool asciiOnStack(const QString& text, char (&latin)[N])
{
    if (text.isEmpty() || text.size() >= qsizetype(N))
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == 0 || c > 0x7F)
            return false;
        latin[i] = char(c);
    }
    latin[text.size()] = '\0';
    return true;
}

} // namespace

bool ParseIPv4(const QString& text, uint32_t& networkOrder)
{
    char latin[16]; // a dotted address has at most 15 characters
    in_addr a{};
    if (!asciiOnStack(text, latin) || inet_pton(AF_INET, latin, &a) != 1)
        return false;
    networkOrder = a.s_addr;
    return true;
}

bool ParseIPv6(const QString& text, std::array<uint8_t, 16>& bytes)
{
    char latin[INET6_ADDRSTRLEN];
    in6_addr a{};
    if (!asciiOnStack(text, latin) || inet_pton(AF_INET6, latin, &a) != 1 || IN6_IS_ADDR_V4MAPPED(&a))
        return false;
    std::memcpy(bytes.data(), &a, 16);
    return true;
}

QString IPv6Text(const std::array<uint8_t, 16>& bytes)
{
    in6_addr a{};
    std::memcpy(&a, bytes.data(), 16);
    char text[INET6_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET6, &a, text, sizeof text))
        return QStringLiteral("::");
    return QString::fromLatin1(text);
}

bool IsDottedIPv4(const QString& text)
{
    uint32_t ignored = 0;
    return ParseIPv4(text, ignored);
}

int32_t PortFromText(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return -1;
    bool ok = false;
    const int n = t.toInt(&ok, 10);
    if (ok)
        return (n >= 0 && n <= 65535) ? n : -1;
    const QByteArray name = t.toLatin1();
    if (name.contains('\0'))
        return -1;
    servent entry{};
    servent* found = nullptr;
    char scratch[1024];
    if (getservbyname_r(name.constData(), "udp", &entry, scratch, sizeof scratch, &found) != 0 || !found)
        return -1;
    return ntohs(uint16_t(found->s_port));
}

QString LocalHostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return QStringLiteral("Unknown");
    return QString::fromLocal8Bit(name);
}

QString LocalAddress()
{
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return QStringLiteral("Unknown");
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0 || !list)
        return QStringLiteral("Unknown");
    const auto* a = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    const QString dotted = DottedAddress(a->sin_addr.s_addr);
    freeaddrinfo(list);
    return dotted;
}

int32_t AddByteCount(int32_t counter, int64_t amount)
{
    const int64_t sum = int64_t(counter) + amount;
    if (sum > INT32_MAX || sum < 0)
        return 0;
    return int32_t(sum);
}

} // namespace cfb::vWinsock
