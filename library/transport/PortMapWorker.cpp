#include "transport/PortMapWorker.h"

#include "transport/LocalAddress.h"
#include "transport/vWinsock.h"

#include <QDeadlineTimer>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>
#include <miniupnpc/upnperrors.h>
#include <natpmp.h>

#include <arpa/inet.h>
#include <sys/select.h>

#include <cstring>

namespace cfb {
namespace {

constexpr const char* Description = "Confabo data port";
// Asked for; routers may grant less (NAT-PMP says how much, UPnP refuses or takes it).
constexpr int LeaseSeconds = 3600;
// UPnP error: the router keeps only mappings without an end.
constexpr int OnlyPermanentLeases = 725;

} // namespace

struct PortMapWorker::Upnp {
    UPNPUrls urls{};
    IGDdatas data{};
    QByteArray localAddress;
    ~Upnp() { FreeUPNPUrls(&urls); }
};

PortMapWorker::PortMapWorker(const PortMapper::Options& options)
    : options_(options)
    , renewal_(this) // a child, so it moves to the worker's thread along with it
{
    renewal_.setSingleShot(true);
    connect(&renewal_, &QTimer::timeout, this, &PortMapWorker::renew);
}

PortMapWorker::~PortMapWorker() = default;

void PortMapWorker::map(uint16_t port, bool enabled)
{
    if (port != port_ || !enabled)
        unmap();
    port_ = port;
    enabled_ = enabled;
    renew();
}

void PortMapWorker::renew()
{
    renewal_.stop();
    if (stopping_)
        return;
    const QString local = options_.localAddress.isEmpty() ? LocalAddress::ofDefaultRoute() : options_.localAddress;
    uint32_t address = 0;
    // No way out (loopback or one network only): whoever can reach this machine at all reaches
    // it directly. A public address needs no router's help either.
    if (local.isEmpty() || (vWinsock::ParseIPv4(local, address) && LocalAddress::isPublic(address))) {
        publish({Reachability::Direct, 0});
        return;
    }
    if (!enabled_ || port_ == 0) {
        publish({Reachability::BehindRouter, 0});
        return;
    }
    std::optional<int> lease = mapByUpnp(local);
    if (!lease && !upnp_ && !stopping_)
        lease = mapByNatPmp();
    holds_ = upnp_ || natPmpMapped_;
    if (stopping_) {
        unmap(); // the owner has gone meanwhile
        return;
    }
    if (!lease) {
        publish({Reachability::BehindRouter, 0});
        return;
    }
    publish({Reachability::Mapped, port_});
    // Renew at half the lease; a mapping without an end is checked now and then all the same,
    // as routers restart and forget.
    const int seconds = *lease > 0 ? qMax(30, *lease / 2) : 1800;
    renewal_.start(seconds * 1000);
}

std::optional<int> PortMapWorker::mapByUpnp(const QString& localAddress)
{
    const QByteArray port = QByteArray::number(port_);
    if (!upnp_) {
        int error = 0;
        const QByteArray multicastIf = localAddress.toLatin1();
        // One search, so the wait is discoveryMs and not that for each type upnpDiscover tries in
        // turn; routers of a later IGD version answer a search for version 1 as well.
        static const char* const gateways[] = {"urn:schemas-upnp-org:device:InternetGatewayDevice:1", nullptr};
        UPNPDev* devices = upnpDiscoverDevices(
            gateways, options_.discoveryMs, multicastIf.constData(), nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error, 0);
        if (!devices)
            return std::nullopt;
        auto found = std::make_unique<Upnp>();
        char lanAddress[64] = {};
        const int igd = UPNP_GetValidIGD(devices, &found->urls, &found->data, lanAddress, sizeof lanAddress);
        freeUPNPDevlist(devices);
        if (igd != 1) // none, or one not connected to the internet
            return std::nullopt;
        found->localAddress = lanAddress;
        upnp_ = std::move(found);
    }
    const char* control = upnp_->urls.controlURL;
    const char* service = upnp_->data.first.servicetype;

    // The port may already be forwarded: to this machine (an earlier run, a renewal) is fine;
    // to another machine it is that machine's, and stays so.
    char client[40] = {}, clientPort[6] = {}, description[80] = {}, enabled[4] = {}, duration[16] = {};
    if (UPNP_GetSpecificPortMappingEntry(
            control, service, port.constData(), "UDP", nullptr, client, clientPort, description, enabled, duration)
            == UPNPCOMMAND_SUCCESS
        && (upnp_->localAddress != client || port != clientPort)) {
        upnp_.reset();
        return std::nullopt;
    }
    int lease = LeaseSeconds;
    int result = UPNP_AddPortMapping(control, service, port.constData(), port.constData(),
        upnp_->localAddress.constData(), Description, "UDP", nullptr, QByteArray::number(lease).constData());
    if (result == OnlyPermanentLeases) {
        lease = 0;
        result = UPNP_AddPortMapping(control, service, port.constData(), port.constData(),
            upnp_->localAddress.constData(), Description, "UDP", nullptr, "0");
    }
    if (result != UPNPCOMMAND_SUCCESS) {
        upnp_.reset();
        return std::nullopt;
    }
    return lease;
}

std::optional<int> PortMapWorker::mapByNatPmp()
{
    const auto answer = natPmpRequest(port_, LeaseSeconds);
    if (!answer)
        return std::nullopt;
    if (answer->first != port_) {
        // The router keeps our port for someone else and offered another one, which buddies
        // would not send to: give it back.
        natPmpRequest(port_, 0);
        natPmpMapped_ = false;
        return std::nullopt;
    }
    natPmpMapped_ = true;
    return int(qMin<uint32_t>(answer->second, uint32_t(INT32_MAX)));
}

std::optional<std::pair<uint16_t, uint32_t>> PortMapWorker::natPmpRequest(uint16_t port, uint32_t lifetime)
{
    natpmp_t natpmp;
    uint32_t gateway = 0;
    const bool forced = !options_.gateway.isEmpty() && vWinsock::ParseIPv4(options_.gateway, gateway);
    if (initnatpmp(&natpmp, forced ? 1 : 0, in_addr_t(gateway)) < 0)
        return std::nullopt;
    std::optional<std::pair<uint16_t, uint32_t>> result;
    if (sendnewportmappingrequest(&natpmp, NATPMP_PROTOCOL_UDP, port, port, lifetime) >= 0) {
        // The library would retry for a minute; the caller waits discoveryMs at most.
        const QDeadlineTimer deadline(options_.discoveryMs);
        natpmpresp_t response{};
        int status = NATPMP_TRYAGAIN;
        while (status == NATPMP_TRYAGAIN && !deadline.hasExpired()) {
            timeval timeout{};
            getnatpmprequesttimeout(&natpmp, &timeout);
            const int64_t leftMs = deadline.remainingTime();
            if (timeout.tv_sec * 1000 + timeout.tv_usec / 1000 > leftMs) {
                timeout.tv_sec = leftMs / 1000;
                timeout.tv_usec = (leftMs % 1000) * 1000;
            }
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(natpmp.s, &readable);
            select(natpmp.s + 1, &readable, nullptr, nullptr, &timeout);
            status = readnatpmpresponseorretry(&natpmp, &response);
        }
        if (status >= 0 && response.type == NATPMP_RESPTYPE_UDPPORTMAPPING)
            result = std::pair(response.pnu.newportmapping.mappedpublicport, response.pnu.newportmapping.lifetime);
    }
    closenatpmp(&natpmp);
    return result;
}

void PortMapWorker::unmap()
{
    renewal_.stop();
    if (upnp_) {
        const QByteArray port = QByteArray::number(port_);
        UPNP_DeletePortMapping(upnp_->urls.controlURL, upnp_->data.first.servicetype, port.constData(), "UDP", nullptr);
        upnp_.reset();
    }
    if (natPmpMapped_) {
        natPmpRequest(port_, 0);
        natPmpMapped_ = false;
    }
    holds_ = false;
}

void PortMapWorker::publish(Reachability now)
{
    emit reachabilityChanged(now);
}

} // namespace cfb
