#include "transport/ivUDP.h"

#include "protocol/Cp1252.h"
#include "transport/PortHolders.h"
#include "transport/ivBuffer.h"
#include "transport/ivDNS.h"
#include "transport/ivSocketUDPOptions.h"
#include "transport/ivWinsockInfo.h"
#include "transport/ivhWnd.h"
#include "transport/vAPI.h"
#include "transport/vSubclass.h"
#include "transport/vWinsock.h"

#include <QAbstractEventDispatcher>
#include <QPointer>
#include <QSocketNotifier>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace cfb {
namespace {

// Datagrams waiting for a look-up beyond this many push out the oldest.
constexpr qsizetype MaxPending = 256;

} // namespace

ivUDP::ivUDP(QObject* parent)
    : QObject(parent)
{
    OpenConection();
}

ivUDP::~ivUDP()
{
    destroying_ = true;
    CloseConection();
    // A close interrupted by this destruction (a handler deleting the object) leaves these.
    dns_.reset();
    info_.reset();
    buffer_.reset();
    options_.reset();
    if (started_) {
        started_ = false;
        vWinsock::Cleanup();
    }
}

void ivUDP::OpenConection()
{
    if (open_)
        return;
    if (!started_)
        started_ = vWinsock::Startup();
    hwnd_ = vWinsock::HiddenWindow();
    countBytes_ = false;
    info_ = std::make_unique<ivWinsockInfo>();
    options_ = std::make_unique<ivSocketUDPOptions>();
    dns_ = std::make_unique<ivDNS>();
    buffer_ = std::make_unique<ivBuffer>();
    useBuffer_ = true;
    socket_ = -1;
    state_ = sckUDPClosed;
    vSubclass::AttachMessage(this, hwnd_, vWinsock::MSG_SOCKET);
    open_ = true;
}

void ivUDP::CloseConection()
{
    if (!open_)
        return;
    open_ = false;
    QPointer<ivUDP> self(this);
    vSubclass::DetachMessage(this, hwnd_, vWinsock::MSG_SOCKET);
    ReleaseSocket();
    if (!self)
        return;
    info_.reset();
    dns_.reset(); // cancels a running look-up
    pending_.clear();
    lookupJob_ = -1;
    if (buffer_)
        buffer_->Flush();
    buffer_.reset();
    if (options_)
        options_->RegisterForUse(-1);
    options_.reset();
    if (started_) {
        started_ = false;
        vWinsock::Cleanup();
    }
}

void ivUDP::setState(ivUDPState state)
{
    if (state == state_)
        return;
    ivUDPState oldState = state_;
    state_ = state;
    if (destroying_)
        return;
    ivUDPState newState = state;
    emit StateChange(newState, oldState);
}

int32_t ivUDP::reportError(int32_t code)
{
    if (code == 0 || code == vWinsock::WSAEWOULDBLOCK)
        return 0;
    lastErrorCode_ = code;
    lastErrorString_ = vWinsock::ErrorText(code);
    if (!destroying_) {
        int32_t number = code;
        QString text = lastErrorString_;
        emit Error(number, text);
    }
    return code;
}

int32_t ivUDP::reportErrno(int err)
{
    return reportError(vWinsock::FromErrno(err));
}

int32_t ivUDP::LastErrorCode()
{
    const int32_t code = lastErrorCode_;
    lastErrorCode_ = 0;
    return code;
}

QString ivUDP::LastErrorString()
{
    QString text;
    text.swap(lastErrorString_);
    return text;
}

void ivUDP::ClearLastError()
{
    lastErrorCode_ = 0;
    lastErrorString_.clear();
}

bool ivUDP::takesIPv6() const
{
    return socket_ != -1 && family_ == AF_INET6;
}

bool ivUDP::newSocket(int family)
{
    QPointer<ivUDP> self(this);
    if (!started_) {
        reportError(vWinsock::WSANOTINITIALISED);
        return false;
    }
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        reportErrno(errno);
        return false;
    }
    if (socket_ != -1) {
        int32_t oldHandle = socket_;
        int32_t newHandle = fd;
        if (!destroying_)
            emit NewSocketHandle(oldHandle, newHandle);
        if (self)
            ReleaseSocket();
        // A handler may have gone further and opened a socket of its own.
        if (!self || socket_ != -1) {
            ::close(fd);
            return false;
        }
    }
    lastErrorCode_ = 0;
    lastErrorString_.clear();
    socket_ = fd;
    family_ = family;
    if (options_)
        options_->RegisterForUse(fd);
    return true;
}

void ivUDP::ReleaseSocket()
{
    if (socket_ == -1)
        return;
    QPointer<ivUDP> self(this);
    disarm();
    ::shutdown(socket_, SHUT_RDWR);
    ::close(socket_);
    socket_ = -1;
    family_ = 0;
    bytesReceived_ = 0;
    bytesSent_ = 0;
    localPort_ = QStringLiteral("0");
    if (options_)
        options_->RegisterForUse(-1);
    setState(sckUDPClosed);
    if (!self || !buffer_)
        return;
    if (buffer_->StoredBytes() > 0) {
        QByteArray bytes;
        int32_t count = buffer_->StoredBytes();
        buffer_->BufferReadOut(bytes, count);
        if (!destroying_)
            emit DataUnRead(bytes, count);
        if (!self || !buffer_)
            return;
    }
    buffer_->Flush();
}

void ivUDP::setRemoteHost(const QString& host)
{
    if (host == remoteHost_)
        return;
    remoteHost_ = host;
    std::array<uint8_t, 16> literal6{};
    if (vWinsock::IsDottedIPv4(host) || vWinsock::ParseIPv6(host, literal6)) {
        remoteHostIP_ = host;
        hostResolved_ = true;
    } else {
        remoteHostIP_.clear();
        hostResolved_ = false;
    }
    // Whatever waited for the old host's look-up was meant for the old host.
    pending_.clear();
    lookupJob_ = -1;
    ReleaseSocket();
}

void ivUDP::wsBind(const QString& lPort)
{
    if (!open_)
        return;
    QPointer<ivUDP> self(this);
    int32_t port = vWinsock::PortFromText(lPort.isEmpty() ? localPort_ : lPort);
    if (port < 0)
        port = 0;
    // No LocalHost: one socket for both families, IPv4 alone where the machine has no IPv6.
    uint32_t local4 = htonl(INADDR_ANY);
    std::array<uint8_t, 16> local6{};
    int family = AF_INET;
    if (!localHost_.isEmpty() && !vWinsock::ParseIPv4(localHost_, local4)) {
        if (!vWinsock::ParseIPv6(localHost_, local6)) {
            reportErrno(EADDRNOTAVAIL);
            return;
        }
        family = AF_INET6;
    } else if (localHost_.isEmpty()) {
        const int probe = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        if (probe >= 0) {
            ::close(probe);
            family = AF_INET6;
        }
    }
    if (!newSocket(family))
        return;

    const auto failBind = [this, &self](int err) {
        const int32_t code = reportErrno(err);
        if (self && code > 0)
            ReleaseSocket();
    };
    sockaddr_storage local{};
    socklen_t localLength = 0;
    if (family == AF_INET6) {
        // Dual-stack unless bound at one IPv6 address; set before bind, whatever the system default.
        const int v6only = localHost_.isEmpty() ? 0 : 1;
        ::setsockopt(socket_, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&local);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(uint16_t(port));
        std::memcpy(&in6->sin6_addr, local6.data(), 16);
        localLength = sizeof(sockaddr_in6);
    } else {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&local);
        in4->sin_family = AF_INET;
        in4->sin_addr.s_addr = local4;
        in4->sin_port = htons(uint16_t(port));
        localLength = sizeof(sockaddr_in);
    }
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&local), localLength) != 0) {
        failBind(errno);
        return;
    }
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    if (::getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &len) == 0)
        localPort_ = QString::number(ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                               : reinterpret_cast<sockaddr_in*>(&bound)->sin_port));
    // Another socket at the same address and port would split the datagrams. A dual-stack
    // socket at :: also takes what 0.0.0.0 would, and the other way round.
    int reuse = 0;
    socklen_t reuseLen = sizeof reuse;
    if (port != 0 && ::getsockopt(socket_, SOL_SOCKET, SO_REUSEADDR, &reuse, &reuseLen) == 0 && reuse) {
        const bool everywhere = localHost_.isEmpty();
        int holders = family == AF_INET6 ? udp6SocketsBoundAt(local6, uint16_t(port))
                                         : udpSocketsBoundAt(local4, uint16_t(port));
        if (everywhere)
            holders += family == AF_INET6 ? std::max(0, udpSocketsBoundAt(htonl(INADDR_ANY), uint16_t(port)))
                                          : std::max(0, udp6SocketsBoundAt({}, uint16_t(port)));
        if (holders > 1) {
            failBind(EADDRINUSE);
            return;
        }
    }

    if (!arm()) {
        reportError(vWinsock::ASYNC_SELECT_FAILED);
        if (!self)
            return;
        setState(sckUDPError);
        if (self)
            ReleaseSocket();
        return;
    }
    setState(sckUDPListening);
}

bool ivUDP::arm()
{
    if (!started_ || !ivhWnd::FromHandle(hwnd_) || !QAbstractEventDispatcher::instance())
        return false;
    const int flags = ::fcntl(socket_, F_GETFL);
    if (flags < 0 || ::fcntl(socket_, F_SETFL, flags | O_NONBLOCK) != 0)
        return false;
    readNotifier_ = new QSocketNotifier(socket_, QSocketNotifier::Read, this);
    writeNotifier_ = new QSocketNotifier(socket_, QSocketNotifier::Write, this);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this] { readiness(true); });
    connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { readiness(false); });
    return true;
}

void ivUDP::disarm()
{
    inRead_ = false;
    rearmRead_ = false;
    // Qt allows deleting a notifier from inside its own activated() signal.
    delete readNotifier_;
    readNotifier_ = nullptr;
    delete writeNotifier_;
    writeNotifier_ = nullptr;
}

void ivUDP::readiness(bool readable)
{
    QSocketNotifier* notifier = readable ? readNotifier_ : writeNotifier_;
    if (!notifier)
        return;
    if (!readable) {
        // Writable stays true on an idle socket: report it once, and again only after a send
        // that would block re-enabled the notifier.
        notifier->setEnabled(false);
    } else if (inRead_) {
        // A handler of the previous datagram runs a nested event loop. The next datagram waits
        // until that handler is done, instead of the notifier firing over and over meanwhile.
        notifier->setEnabled(false);
        rearmRead_ = true;
        return;
    }
    // A read notifier is level-triggered, but each message takes one datagram from the queue, so
    // it fires once per datagram waiting, the way the readiness messages are meant to come.
    // The error word stays 0: Linux keeps no pending error (SO_ERROR) on an unconnected UDP
    // socket, so a failure shows up as the recvfrom or sendto result and is reported there.
    const int32_t fd = socket_;
    const int32_t lParam = vAPI::MakeLong(readable ? vWinsock::FD_READ : vWinsock::FD_WRITE, 0);

    QPointer<ivUDP> self(this);
    delivered_ = false;
    inRead_ = readable;
    ivhWnd::SendMessage(hwnd_, vWinsock::MSG_SOCKET, fd, lParam);
    if (!self)
        return;
    // Should the message not have reached this object (its dispatcher entry gone), handle the
    // readiness anyway rather than leave a readable socket spinning the event loop.
    if (!delivered_ && socket_ == fd) {
        handleSocketMessage(lParam);
        if (!self)
            return;
    }
    if (readable) {
        inRead_ = false;
        if (rearmRead_ && socket_ == fd && readNotifier_)
            readNotifier_->setEnabled(true);
        rearmRead_ = false;
    }
}

int32_t ivUDP::WindowProc(int32_t, int32_t iMsg, int32_t wParam, int32_t lParam)
{
    if (iMsg != vWinsock::MSG_SOCKET || socket_ == -1 || wParam != socket_)
        return 0;
    delivered_ = true;
    handleSocketMessage(lParam);
    return 0;
}

void ivUDP::handleSocketMessage(int32_t lParam)
{
    QPointer<ivUDP> self(this);
    const int32_t fd = socket_;
    const int32_t error = vAPI::HiWord(lParam);
    if (error != 0) {
        reportError(error);
        if (!self)
            return;
        ReleaseSocket();
        if (!self)
            return;
    }
    if (fd == -1 || socket_ != fd)
        return;
    const int32_t event = vAPI::LoWord(lParam);
    if (event == vWinsock::FD_READ)
        onRead();
    else if (event == vWinsock::FD_WRITE)
        writable_ = true;
}

void ivUDP::onRead()
{
    const int32_t fd = socket_;
    readable_ = true;
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0)
        waiting = 0;
    if (waiting < 1) {
        // FIONREAD gives 0 both for an empty queue and for a zero-length datagram at its head.
        // Such a datagram must still be taken, or the socket stays readable for ever.
        char probe = 0;
        const ssize_t next = ::recv(fd, &probe, 1, MSG_PEEK | MSG_TRUNC | MSG_DONTWAIT);
        if (next == 0) {
            (void)::recv(fd, &probe, 1, MSG_DONTWAIT);
            return;
        }
        if (next < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            readable_ = false;
            return;
        }
        if (next < 0) {
            receiveOne(0); // reports the error
            return;
        }
        waiting = int(std::min<ssize_t>(next, vWinsock::MAX_UDP_DATA));
    }
    if (!useBuffer_) {
        receiveOne(waiting);
        return;
    }
    if (!receiveOne(waiting))
        return;
    int32_t total = waiting;
    if (!destroying_)
        emit DataArrival(total);
}

bool ivUDP::receiveOne(int32_t n)
{
    QPointer<ivUDP> self(this);
    QByteArray data(qsizetype(n) + 1, Qt::Uninitialized);
    sockaddr_storage from{};
    socklen_t len = sizeof from;
    const ssize_t got = ::recvfrom(
        socket_, data.data(), size_t(data.size()), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    if (got < 0) {
        const int32_t code = reportErrno(errno);
        if (!self)
            return false;
        if (code > 0) {
            ReleaseSocket();
            return false;
        }
        readable_ = false;
        return true;
    }
    data.truncate(got);
    if (countBytes_)
        bytesReceived_ = vWinsock::AddByteCount(bytesReceived_, got);
    senderIsIPv6_ = false;
    senderAddress6_ = {};
    senderAddress_ = 0;
    if (from.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(from);
        senderPort_ = ntohs(in6.sin6_port);
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
            std::memcpy(&senderAddress_, in6.sin6_addr.s6_addr + 12, 4);
        } else {
            senderIsIPv6_ = true;
            std::memcpy(senderAddress6_.data(), &in6.sin6_addr, 16);
        }
    } else {
        const auto& in4 = reinterpret_cast<const sockaddr_in&>(from);
        senderAddress_ = in4.sin_addr.s_addr;
        senderPort_ = ntohs(in4.sin_port);
    }
    const QString sender
        = senderIsIPv6_ ? vWinsock::IPv6Text(senderAddress6_) : vWinsock::DottedAddress(senderAddress_);
    remoteHost_ = sender;
    remoteHostIP_ = sender;
    if (useBuffer_) {
        if (buffer_)
            buffer_->BufferReadIn(data, int32_t(got));
        return true;
    }
    if (got == 0)
        return true;
    int32_t amount = n;
    QString address = sender;
    int32_t port = senderPort_;
    if (!destroying_)
        emit RawDataStream(data, amount, address, port);
    return !self.isNull();
}

void ivUDP::wsSendData(const QVariant& Data, ivUDPSendOptions sndFlags)
{
    if (!open_)
        return;
    QByteArray bytes = Data.typeId() == QMetaType::QByteArray ? Data.toByteArray() : toCp1252(Data.toString());
    const int flags = (sndFlags & Msg_UDP_DONTROUTE) ? MSG_DONTROUTE : 0;
    if (hostResolved_ && pending_.isEmpty()) {
        // Nothing waits before it: the datagram leaves at once, without being queued.
        sockaddr_storage to{};
        uint32_t toLength = 0;
        if (prepareSend(to, toLength))
            sendOne(to, toLength, bytes, flags);
        return;
    }
    if (pending_.size() >= MaxPending)
        pending_.removeFirst();
    pending_.append({std::move(bytes), flags});
    if (hostResolved_) {
        sendPending();
        return;
    }
    if (remoteHost_.trimmed().isEmpty()) {
        pending_.clear();
        reportError(vWinsock::WSAEDESTADDRREQ);
        return;
    }
    QPointer<ivUDP> self(this);
    const int32_t job = dns_->DNS(remoteHost_, this);
    if (self && job != -1)
        lookupJob_ = job;
}

uint32_t ivUDP::destinationV4(uint32_t address, uint16_t port, sockaddr_storage& to) const
{
    to = sockaddr_storage{};
    if (family_ == AF_INET6) {
        auto& in6 = reinterpret_cast<sockaddr_in6&>(to);
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        in6.sin6_addr.s6_addr[10] = 0xff;
        in6.sin6_addr.s6_addr[11] = 0xff;
        std::memcpy(in6.sin6_addr.s6_addr + 12, &address, 4);
        return sizeof(sockaddr_in6);
    }
    auto& in4 = reinterpret_cast<sockaddr_in&>(to);
    in4.sin_family = AF_INET;
    in4.sin_addr.s_addr = address;
    in4.sin_port = htons(port);
    return sizeof(sockaddr_in);
}

namespace {

uint32_t destinationV6(const std::array<uint8_t, 16>& address, uint16_t port, sockaddr_storage& to)
{
    to = sockaddr_storage{};
    auto& in6 = reinterpret_cast<sockaddr_in6&>(to);
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    std::memcpy(&in6.sin6_addr, address.data(), 16);
    return sizeof(sockaddr_in6);
}

} // namespace

bool ivUDP::sendTo(uint32_t addressNetworkOrder, uint16_t port, QByteArrayView bytes)
{
    sockaddr_storage to;
    const uint32_t length = destinationV4(addressNetworkOrder, port, to);
    return port != 0 && sendToAddress(to, length, bytes);
}

bool ivUDP::sendTo6(const std::array<uint8_t, 16>& address, uint16_t port, QByteArrayView bytes)
{
    sockaddr_storage to;
    const uint32_t length = destinationV6(address, port, to);
    return port != 0 && family_ == AF_INET6 && sendToAddress(to, length, bytes);
}

int ivUDP::sendBatchTo(uint32_t addressNetworkOrder, uint16_t port, const QByteArrayView* datagrams, int count)
{
    sockaddr_storage to;
    const uint32_t length = destinationV4(addressNetworkOrder, port, to);
    return port != 0 ? sendBatchToAddress(to, length, datagrams, count) : 0;
}

int ivUDP::sendBatchTo6(
    const std::array<uint8_t, 16>& address, uint16_t port, const QByteArrayView* datagrams, int count)
{
    sockaddr_storage to;
    const uint32_t length = destinationV6(address, port, to);
    return port != 0 && family_ == AF_INET6 ? sendBatchToAddress(to, length, datagrams, count) : 0;
}

bool ivUDP::sendToAddress(const sockaddr_storage& to, uint32_t toLength, QByteArrayView bytes)
{
    if (!open_ || socket_ == -1 || state_ != sckUDPListening || bytes.isEmpty())
        return false;
    const ssize_t sent = ::sendto(
        socket_, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), toLength);
    if (sent < 0)
        return false;
    if (countBytes_)
        bytesSent_ = vWinsock::AddByteCount(bytesSent_, sent);
    return true;
}

int ivUDP::sendBatchToAddress(const sockaddr_storage& to, uint32_t toLength, const QByteArrayView* datagrams, int count)
{
    if (!open_ || socket_ == -1 || state_ != sckUDPListening || count <= 0)
        return 0;
    constexpr int Batch = 64;
    iovec parts[Batch];
    mmsghdr messages[Batch];
    int sent = 0;
    while (sent < count) {
        const int n = std::min(Batch, count - sent);
        for (int i = 0; i < n; ++i) {
            parts[i] = {const_cast<char*>(datagrams[sent + i].data()), size_t(datagrams[sent + i].size())};
            messages[i] = {};
            messages[i].msg_hdr.msg_name = const_cast<sockaddr_storage*>(&to);
            messages[i].msg_hdr.msg_namelen = toLength;
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int done = ::sendmmsg(socket_, messages, unsigned(n), MSG_NOSIGNAL);
        if (done <= 0)
            break;
        if (countBytes_)
            for (int i = 0; i < done; ++i)
                bytesSent_ = vWinsock::AddByteCount(bytesSent_, int64_t(messages[i].msg_len));
        sent += done;
        if (done < n)
            break;
    }
    return sent;
}

bool ivUDP::prepareSend(sockaddr_storage& to, uint32_t& toLength)
{
    QPointer<ivUDP> self(this);
    const int32_t port = vWinsock::PortFromText(remotePort_);
    // The port goes back as a decimal number; unchanged text is left alone (nothing allocated).
    char digits[12];
    const auto written = std::to_chars(digits, digits + sizeof digits, port);
    const QLatin1StringView portText(digits, written.ptr - digits);
    if (remotePort_ != portText)
        remotePort_ = portText;
    uint32_t address = 0;
    std::array<uint8_t, 16> address6{};
    const bool v4 = vWinsock::ParseIPv4(remoteHostIP_, address);
    if (!v4 && !vWinsock::ParseIPv6(remoteHostIP_, address6)) {
        pending_.clear();
        reportError(vWinsock::WSAEDESTADDRREQ);
        return false;
    }
    if (socket_ == -1 && !newSocket(v4 ? AF_INET : AF_INET6)) {
        if (self)
            pending_.clear();
        return false;
    }
    if (!v4 && family_ != AF_INET6) {
        pending_.clear();
        reportErrno(EAFNOSUPPORT);
        return false;
    }
    const uint16_t to16 = uint16_t(port < 0 ? 0 : port); // port 0 is refused by sendto itself
    toLength = v4 ? destinationV4(address, to16, to) : destinationV6(address6, to16, to);
    return true;
}

bool ivUDP::sendOne(const sockaddr_storage& to, uint32_t toLength, const QByteArray& bytes, int flags)
{
    if (bytes.isEmpty())
        return true;
    const ssize_t sent = ::sendto(socket_, bytes.constData(), size_t(bytes.size()), flags | MSG_NOSIGNAL,
        reinterpret_cast<const sockaddr*>(&to), toLength);
    if (sent < 0) {
        QPointer<ivUDP> self(this);
        const int32_t code = reportErrno(errno);
        if (!self)
            return false;
        if (code > 0) {
            pending_.clear();
            ReleaseSocket();
            return false;
        }
        // A full send queue: this datagram is lost; the write notifier tells when there is room
        // again.
        writable_ = false;
        if (writeNotifier_)
            writeNotifier_->setEnabled(true);
        return true;
    }
    if (countBytes_)
        bytesSent_ = vWinsock::AddByteCount(bytesSent_, sent);
    return true;
}

bool ivUDP::sendPending()
{
    QPointer<ivUDP> self(this);
    sockaddr_storage to{};
    uint32_t toLength = 0;
    if (!prepareSend(to, toLength))
        return false;
    while (!pending_.isEmpty() && socket_ != -1) {
        const Pending datagram = pending_.takeFirst();
        if (!sendOne(to, toLength, datagram.bytes, datagram.flags))
            return false;
    }
    return true;
}

void ivUDP::DNSSingleJobDone(int32_t& jhWnd, QString&, QString&, QString&, QString& hIP, bool& rCancelled, bool& rError,
    int32_t& rErrorCode, QString&)
{
    // Only the look-up the waiting datagrams belong to counts (-1: one that could not start).
    if (jhWnd != lookupJob_ && !(jhWnd == -1 && rError))
        return;
    lookupJob_ = -1;
    QPointer<ivUDP> self(this);
    if (rError) {
        hostResolved_ = false;
        remoteHostIP_.clear();
        pending_.clear();
        reportError(rErrorCode);
        if (self)
            setState(sckUDPResolveError);
        return;
    }
    if (rCancelled) {
        pending_.clear();
        return;
    }
    hostResolved_ = true;
    remoteHostIP_ = hIP;
    if (sendPending() && self)
        setState(sckUDPResolvedHost);
}

ivUDP::Taken ivUDP::takeFromBuffer(QByteArray& out, int32_t& MaxLen)
{
    if (!buffer_)
        return Taken::Nothing;
    const int32_t stored = buffer_->StoredBytes();
    if (stored == 0 || MaxLen == 0 || MaxLen < -1)
        return Taken::Cleared;
    if (MaxLen == -1 || MaxLen > stored)
        MaxLen = stored;
    int32_t count = MaxLen;
    buffer_->BufferReadOut(out, count);
    return Taken::Bytes;
}

void ivUDP::wsGetData(QVariant& Data, int32_t& MaxLen)
{
    const bool text = Data.typeId() == QMetaType::QString;
    const bool bytes = Data.typeId() == QMetaType::QByteArray;
    if (!buffer_)
        return;
    if (!text && !bytes) {
        // Nothing is taken for any other kind of value; MaxLen still shows what could be.
        const int32_t stored = buffer_->StoredBytes();
        if (stored > 0 && (MaxLen == -1 || MaxLen > stored))
            MaxLen = stored;
        return;
    }
    if (text) {
        QString s;
        wsGetData(s, MaxLen);
        Data = s;
    } else {
        QByteArray b;
        wsGetData(b, MaxLen);
        Data = b;
    }
}

void ivUDP::wsGetData(QVariant& Data)
{
    int32_t all = -1;
    wsGetData(Data, all);
}

void ivUDP::wsGetData(QString& Data, int32_t& MaxLen)
{
    QByteArray out;
    switch (takeFromBuffer(out, MaxLen)) {
    case Taken::Nothing:
        return;
    case Taken::Cleared:
        Data.clear();
        return;
    case Taken::Bytes:
        Data = fromCp1252(out);
        return;
    }
}

void ivUDP::wsGetData(QString& Data)
{
    int32_t all = -1;
    wsGetData(Data, all);
}

void ivUDP::wsGetData(QByteArray& Data, int32_t& MaxLen)
{
    QByteArray out;
    switch (takeFromBuffer(out, MaxLen)) {
    case Taken::Nothing:
        return;
    case Taken::Cleared:
        Data.clear();
        return;
    case Taken::Bytes:
        Data = std::move(out);
        return;
    }
}

void ivUDP::wsGetData(QByteArray& Data)
{
    int32_t all = -1;
    wsGetData(Data, all);
}

} // namespace cfb
