#pragma once

#include "transport/ivNotifyDNS.h"
#include "transport/ivSubclass.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>
#include <array>
#include <cstdint>
#include <memory>

class QSocketNotifier;
struct sockaddr_storage;

namespace cfb {

class ivBuffer;
class ivDNS;
class ivSocketUDPOptions;
class ivWinsockInfo;

enum ivUDPState : int32_t {
    sckUDPClosed = 1,
    sckUDPListening = 2,
    sckUDPResolvingHost = 3, // never entered
    sckUDPResolvedHost = 4,
    sckUDPError = 5,
    sckUDPResolveError = 6,
};

enum ivUDPSendOptions : int32_t {
    Msg_UDP_NORMAL = 0,
    Msg_UDP_DONTROUTE = 4,
};

// A datagram socket driven by the event loop of the thread that created it. Bound with no
// LocalHost it takes both families on one socket (IPv6 with IPv4-mapped addresses, or IPv4 alone
// where the machine has no IPv6); bound at an IPv4 address it is IPv4 only, at an IPv6 literal
// IPv6 only. Addresses stay text in RemoteHost: dotted IPv4, or an IPv6 literal ("2001:db8::7").
//
// No member fails its caller: every failure is an Error(code, text) event with the socket error
// code and its fixed text, and stays readable once through LastErrorCode / LastErrorString.
// Events are emitted synchronously on the owner's thread; a handler may close or delete the
// object that raised the event (the object stops touching itself once that happened).
//
// Receiving (the messenger's data-port socket):
//     auto* sock = new ivUDP(this);
//     connect(sock, &ivUDP::DataArrival, this, [sock](int32_t&) {
//         QString text;
//         sock->wsGetData(text);  // the whole datagram, one character per byte (Windows-1252)
//     });
//     connect(sock, &ivUDP::Error, this, &Owner::onSocketError);
//     sock->setLocalPort("5001");
//     sock->wsBind();             // LocalPort now shows the bound port ("0" binds any free one)
//
// Sending one datagram:
//     ivUDP out;
//     out.setRemotePort("5001");
//     out.setRemoteHost("192.0.2.7");  // a dotted address needs no look-up
//     out.wsSendData(text);             // a QString goes out as Windows-1252, a QByteArray as is
// A dotted RemoteHost sends at once, so the object may go right after wsSendData. A host name is
// looked up first and the datagram leaves when the look-up ends: keep the object until the state
// becomes sckUDPResolvedHost, or an Error event arrives (destroying it earlier drops the datagram).
// A changed RemoteHost releases the socket: to send from a bound port, set RemoteHost first and
// bind after; set after wsBind, the send goes from a fresh socket on a free port. Binding a port that another socket of
// this machine holds (the receiving data port, for one) is Error 10048 "Address already in use".
//
// Recovering from an error: the Error handler may clear the error, delete this object and bind a
// new one; a bind that fails inside that handler raises its Error on the new object at once, so
// the handler must not start the same recovery again from there.
//
// Readiness reaches the object as message 13379 on the thread's hidden window, once per
// readiness, error first, then readable, then writable; an idle socket costs no CPU.
class ivUDP : public QObject, public ivSubclass, public ivNotifyDNS {
    Q_OBJECT
public:
    explicit ivUDP(QObject* parent = nullptr);
    // Closes the connection without raising events.
    ~ivUDP() override;
    ivUDP(const ivUDP&) = delete;
    ivUDP& operator=(const ivUDP&) = delete;

    int32_t BytesSent() const { return bytesSent_; }
    int32_t BytesReceived() const { return bytesReceived_; }
    int32_t SocketHandle() const { return socket_; }
    bool UseByteCounting() const { return countBytes_; }
    void setUseByteCounting(bool on) { countBytes_ = on; }
    QString Tag() const { return tag_; }
    void setTag(const QString& tag) { tag_ = tag; }
    // Null after CloseConection.
    ivSocketUDPOptions* SocketOptions() const { return options_.get(); }
    bool HostResolved() const { return hostResolved_; }
    bool UseBuffer() const { return useBuffer_; }
    void setUseBuffer(bool on) { useBuffer_ = on; }
    bool IsReadAble() const { return readable_; }
    bool IsWriteAble() const { return writable_; }
    QString RemoteHostIP() const { return remoteHostIP_; }
    // Where the last datagram read came from: IPv4 address (network byte order; 0 for an IPv6
    // sender) and port. An IPv4 sender on a dual-stack socket shows as IPv4.
    uint32_t senderAddress() const { return senderAddress_; }
    uint16_t senderPort() const { return senderPort_; }
    // The IPv6 sender's address; all zero for an IPv4 one.
    bool senderIsIPv6() const { return senderIsIPv6_; }
    const std::array<uint8_t, 16>& senderAddress6() const { return senderAddress6_; }
    // Whether the bound socket reaches IPv6 peers (sendTo6 can work).
    bool takesIPv6() const;
    // Also overwritten with each sender's address. Writing a different value releases the socket
    // and drops datagrams still waiting for a look-up of the old host.
    QString RemoteHost() const { return remoteHost_; }
    void setRemoteHost(const QString& host);
    // Ports as text: a decimal number or a UDP service name.
    QString RemotePort() const { return remotePort_; }
    void setRemotePort(const QString& port) { remotePort_ = port; }
    QString LocalPort() const { return localPort_; }
    void setLocalPort(const QString& port) { localPort_ = port; }
    // The address wsBind binds to (dotted IPv4 or an IPv6 literal); empty binds every address
    // of the machine, of both families.
    QString LocalHost() const { return localHost_; }
    void setLocalHost(const QString& address) { localHost_ = address; }
    // Reading gives the last error and clears it.
    int32_t LastErrorCode();
    QString LastErrorString();
    // Null after CloseConection.
    ivWinsockInfo* WinsockInfo() const { return info_.get(); }
    ivUDPState State() const { return state_; }

    // Releases everything the object holds; nothing happens on a closed object. While closed,
    // wsBind, wsSendData and wsGetData do nothing.
    void CloseConection();
    // Sets the object up again after CloseConection; nothing happens on an open object.
    void OpenConection();
    // Closes the socket, if any: state closed, counters 0, LocalPort "0"; bytes still in the
    // buffer come out through DataUnRead.
    void ReleaseSocket();
    // Binds a new socket to lPort, or to LocalPort when lPort is empty ("-1", empty and unknown
    // names bind any free port), at LocalHost, and arms readiness. With the socket option
    // ReuseAddress on, the port may also be bound at another address of the machine (one socket
    // at every address, another at 127.0.0.2), but never twice at the same address: that would
    // split the datagrams between the two without a word, so it fails as "address in use".
    void wsBind(const QString& lPort = QString());
    // Takes up to MaxLen bytes (-1: all) from the buffer into Data, which must hold a QString (one
    // character per byte) or a QByteArray; MaxLen becomes the count taken. With nothing stored,
    // or MaxLen 0 or below -1, Data becomes empty.
    void wsGetData(QVariant& Data, int32_t& MaxLen);
    void wsGetData(QVariant& Data);
    void wsGetData(QString& Data, int32_t& MaxLen);
    void wsGetData(QString& Data);
    void wsGetData(QByteArray& Data, int32_t& MaxLen);
    void wsGetData(QByteArray& Data);
    // Sends Data as one datagram to RemoteHost:RemotePort: a QByteArray as it is, anything else
    // as its text in Windows-1252. An empty datagram is not sent. Datagrams sent while a host
    // name is being looked up wait, in order, and leave when it is found.
    void wsSendData(const QVariant& Data, ivUDPSendOptions sndFlags = Msg_UDP_NORMAL);
    // Sends one datagram from this bound socket to an IPv4 address and port, leaving RemoteHost
    // and RemotePort alone, so a socket that receives can also send from its own port. False,
    // with no event, when the socket is not bound or the datagram did not leave.
    bool sendTo(uint32_t addressNetworkOrder, uint16_t port, QByteArrayView bytes);
    // Sends count datagrams to one address and port in as few system calls as the kernel takes
    // (sendmmsg); the number that left, from the first on.
    int sendBatchTo(uint32_t addressNetworkOrder, uint16_t port, const QByteArrayView* datagrams, int count);
    // The same two to an IPv6 address, from a socket that takesIPv6.
    bool sendTo6(const std::array<uint8_t, 16>& address, uint16_t port, QByteArrayView bytes);
    int sendBatchTo6(const std::array<uint8_t, 16>& address, uint16_t port, const QByteArrayView* datagrams, int count);
    void ClearLastError();

    // Message client of the hidden window (socket readiness).
    EMsgResponse MsgResponse() const override { return emrConsume; }
    void setMsgResponse(EMsgResponse) override { }
    int32_t WindowProc(int32_t hwnd, int32_t iMsg, int32_t wParam, int32_t lParam) override;
    // Notification target of the resolver.
    void DNSSingleJobDone(int32_t& jhWnd, QString& phName, QString& hName, QString& hAlias, QString& hIP,
        bool& rCancelled, bool& rError, int32_t& rErrorCode, QString& rErrorDescription) override;
    void DNSJobDone(int32_t&, QString&, QString&, QString&, QString&, bool&, bool&, int32_t&, QString&) override { }

signals:
    void StateChange(cfb::ivUDPState& NewState, cfb::ivUDPState& OldState);
    void NewSocketHandle(int32_t& OldHandle, int32_t& NewHandle);
    void Error(int32_t& ErrNumber, QString& ErrStr);
    void RawDataStream(QByteArray& bReadA, int32_t& bAmount, QString& hIP, int32_t& hPort);
    void DataArrival(int32_t& BytesTotal);
    void DataUnRead(QByteArray& bReadA, int32_t& bAmount);

private:
    struct Pending {
        QByteArray bytes;
        int flags;
    };

    void setState(ivUDPState state);
    bool newSocket(int family);
    int32_t reportError(int32_t code);
    int32_t reportErrno(int err);
    bool arm();
    void disarm();
    bool sendPending();
    // Port written back, socket made if needed, destination filled in; false when nothing can go.
    bool prepareSend(sockaddr_storage& to, uint32_t& toLength);
    // Sends one datagram; false when the socket went (or the object) on an error.
    bool sendOne(const sockaddr_storage& to, uint32_t toLength, const QByteArray& bytes, int flags);
    // The destination for an IPv4 address: itself, or IPv4-mapped on an IPv6 socket.
    uint32_t destinationV4(uint32_t address, uint16_t port, sockaddr_storage& to) const;
    bool sendToAddress(const sockaddr_storage& to, uint32_t toLength, QByteArrayView bytes);
    int sendBatchToAddress(const sockaddr_storage& to, uint32_t toLength, const QByteArrayView* datagrams, int count);
    void readiness(bool readable);
    void handleSocketMessage(int32_t lParam);
    void onRead();
    bool receiveOne(int32_t n);
    enum class Taken { Nothing, Cleared, Bytes };
    Taken takeFromBuffer(QByteArray& out, int32_t& MaxLen);

    bool open_ = false;
    bool started_ = false;
    bool destroying_ = false;
    bool delivered_ = false;
    bool inRead_ = false; // a read message is being handled
    bool rearmRead_ = false; // the read notifier was paused during it
    int32_t hwnd_ = 0;

    std::unique_ptr<ivWinsockInfo> info_;
    std::unique_ptr<ivSocketUDPOptions> options_;
    std::unique_ptr<ivDNS> dns_;
    std::unique_ptr<ivBuffer> buffer_;
    QSocketNotifier* readNotifier_ = nullptr;
    QSocketNotifier* writeNotifier_ = nullptr;

    ivUDPState state_ = sckUDPClosed;
    int32_t socket_ = -1;
    int32_t lookupJob_ = -1;
    QList<Pending> pending_;
    QString lastErrorString_;
    int32_t lastErrorCode_ = 0;
    QString localPort_;
    QString localHost_;
    QString remotePort_;
    QString remoteHost_;
    QString remoteHostIP_;
    uint32_t senderAddress_ = 0;
    uint16_t senderPort_ = 0;
    bool senderIsIPv6_ = false;
    std::array<uint8_t, 16> senderAddress6_{};
    int family_ = 0; // of the socket: AF_INET, AF_INET6, 0 before one
    bool writable_ = false;
    bool readable_ = false;
    bool useBuffer_ = true;
    bool hostResolved_ = false;
    QString tag_;
    bool countBytes_ = false;
    int32_t bytesReceived_ = 0;
    int32_t bytesSent_ = 0;
};

} // namespace cfb
