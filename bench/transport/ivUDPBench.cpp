// Datagrams per second received through two ivUDP objects on loopback (with and without the
// receive buffer), against a plain sendto/recvfrom loop measured in the same run.
//
// Every variant sends a batch of 32 KiB worth of datagrams and then waits until the batch arrived,
// so the receiving socket's queue (64 KiB asked for, as ivUDP asks) never overflows; a datagram
// lost anyway ends its batch after a short wait and is not counted.
#include "transport/ivUDP.h"

#include "EventLoopWait.h"
#include "PeerSocket.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <poll.h>
#include <string>

namespace {

int batchFor(int size)
{
    return std::max(1, 32768 / size);
}

std::map<std::string, double> g_rate; // datagrams per second, by variant and size

void record(const std::string& key, int64_t received, double seconds)
{
    if (seconds > 0)
        g_rate[key] = double(received) / seconds;
}

// The same buffer sizes the ivUDP objects use.
constexpr int SocketBufferBytes = 65535;

void PlainSockets(benchmark::State& state)
{
    const int size = int(state.range(0));
    const int Batch = batchFor(size);
    const PeerSocket rx(SocketBufferBytes);
    const PeerSocket tx(SocketBufferBytes);
    const QByteArray payload(size, 'p');
    QByteArray in(65536, Qt::Uninitialized);
    int64_t received = 0;
    QElapsedTimer clock;
    clock.start();
    for (auto _ : state) {
        for (int i = 0; i < Batch; ++i)
            tx.sendTo(rx.port(), payload);
        for (int i = 0; i < Batch; ++i) {
            pollfd p{rx.fd(), POLLIN, 0};
            if (::poll(&p, 1, 50) != 1)
                break;
            sockaddr_in from{};
            socklen_t len = sizeof from;
            if (::recvfrom(rx.fd(), in.data(), size_t(in.size()), 0, reinterpret_cast<sockaddr*>(&from), &len) == size)
                ++received;
        }
    }
    record("plain/" + std::to_string(size), received, double(clock.nsecsElapsed()) / 1e9);
    state.SetItemsProcessed(received);
}

void Transport(benchmark::State& state, bool buffered)
{
    const int size = int(state.range(0));
    const int Batch = batchFor(size);
    cfb::ivUDP receiver;
    receiver.setUseBuffer(buffered);
    receiver.wsBind("0");
    int64_t received = 0;
    QObject::connect(&receiver, &cfb::ivUDP::DataArrival, [&](int32_t&) {
        QByteArray bytes;
        receiver.wsGetData(bytes);
        if (bytes.size() == size)
            ++received;
    });
    QObject::connect(&receiver, &cfb::ivUDP::RawDataStream, [&](QByteArray& bytes, int32_t&, QString&, int32_t&) {
        if (bytes.size() == size)
            ++received;
    });
    cfb::ivUDP sender;
    sender.setRemoteHost("127.0.0.1");
    sender.setRemotePort(receiver.LocalPort());
    const QByteArray payload(size, 'p');

    QElapsedTimer clock;
    clock.start();
    for (auto _ : state) {
        const int64_t target = received + Batch;
        for (int i = 0; i < Batch; ++i)
            sender.wsSendData(payload);
        waitUntil([&] { return received >= target; }, 50);
    }
    record(std::string(buffered ? "buffered/" : "unbuffered/") + std::to_string(size), received,
        double(clock.nsecsElapsed()) / 1e9);
    state.SetItemsProcessed(received);
}

void Buffered(benchmark::State& state)
{
    Transport(state, true);
}

void Unbuffered(benchmark::State& state)
{
    Transport(state, false);
}

BENCHMARK(PlainSockets)->Arg(1024)->Arg(8192)->MinTime(1.0)->UseRealTime();
BENCHMARK(Buffered)->Arg(1024)->Arg(8192)->MinTime(1.0)->UseRealTime();
BENCHMARK(Unbuffered)->Arg(1024)->Arg(8192)->MinTime(1.0)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    std::printf("\nDatagrams received per second, ivUDP against plain sendto/recvfrom (same run):\n");
    for (const char* size : {"1024", "8192"}) {
        const double plain = g_rate["plain/" + std::string(size)];
        if (plain <= 0)
            continue;
        for (const char* variant : {"buffered", "unbuffered"}) {
            const auto it = g_rate.find(std::string(variant) + "/" + size);
            if (it == g_rate.end())
                continue;
            std::printf("  %5s bytes  %-10s %10.0f /s   plain %10.0f /s   ratio %.2f\n", size, variant, it->second,
                plain, it->second / plain);
        }
    }
    return 0;
}
