#include "EventLoopWait.h"

#include "transport/ivDNS.h"
#include "transport/ivNotifyDNS.h"
#include "transport/ivhWnd.h"
#include "transport/vWinsock.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

using namespace cfb;

namespace {

struct Outcome {
    int32_t job;
    QString asked;
    QString name;
    QString ip;
    bool cancelled;
    bool error;
    int32_t code;
    QString text;
};

struct Target : ivNotifyDNS {
    void DNSSingleJobDone(int32_t& jhWnd, QString& phName, QString& hName, QString&, QString& hIP, bool& rCancelled,
        bool& rError, int32_t& rErrorCode, QString& rErrorDescription) override
    {
        done.push_back({jhWnd, phName, hName, hIP, rCancelled, rError, rErrorCode, rErrorDescription});
        if (then)
            then();
    }
    void DNSJobDone(int32_t&, QString&, QString&, QString&, QString&, bool&, bool&, int32_t&, QString&) override
    {
        ++multi;
    }
    std::vector<Outcome> done;
    int multi = 0;
    std::function<void()> then;
};

} // namespace

TEST(ivDNS, ResolvesANameToItsFirstIPv4Address)
{
    Target t;
    ivDNS dns;
    const int32_t job = dns.DNS("  LOCALHOST ", &t);
    ASSERT_GT(job, 0);
    EXPECT_TRUE(t.done.empty()) << "the answer comes later, from the event loop";
    ASSERT_TRUE(waitUntil([&] { return !t.done.empty(); }));
    ASSERT_EQ(t.done.size(), 1u);
    EXPECT_EQ(t.done[0].job, job);
    EXPECT_EQ(t.done[0].asked, "localhost");
    EXPECT_EQ(t.done[0].ip, "127.0.0.1");
    EXPECT_FALSE(t.done[0].error);
    EXPECT_FALSE(t.done[0].cancelled);
    EXPECT_EQ(t.multi, 0);
    EXPECT_FALSE(dns.Busy());
}

TEST(ivDNS, ADottedAddressIsLookedUpInReverse)
{
    Target t;
    ivDNS dns;
    ASSERT_GT(dns.DNS("127.0.0.1", &t), 0);
    ASSERT_TRUE(waitUntil([&] { return !t.done.empty(); }));
    EXPECT_FALSE(t.done[0].error);
    EXPECT_EQ(t.done[0].ip, "127.0.0.1");
    EXPECT_FALSE(t.done[0].name.isEmpty());
}

TEST(ivDNS, ANameThatDoesNotExistIsHostNotFound)
{
    Target t;
    ivDNS dns;
    ASSERT_GT(dns.DNS("nothing-here.invalid", &t), 0);
    ASSERT_TRUE(waitUntil([&] { return !t.done.empty(); }, 15000));
    EXPECT_TRUE(t.done[0].error);
    EXPECT_EQ(t.done[0].code, vWinsock::WSAHOST_NOT_FOUND);
    EXPECT_EQ(t.done[0].text, "Host not found");
    EXPECT_EQ(t.done[0].ip, "");

    // A name that cannot be a host name fails the same way, without asking any server.
    t.done.clear();
    ASSERT_GT(dns.DNS("no such host", &t), 0);
    ASSERT_TRUE(waitUntil([&] { return !t.done.empty(); }));
    EXPECT_TRUE(t.done[0].error);
    EXPECT_EQ(t.done[0].code, vWinsock::WSAHOST_NOT_FOUND);
}

TEST(ivDNS, TheSameNameWhileItRunsStartsNothingNew)
{
    Target t;
    ivDNS dns;
    const int32_t job = dns.DNS("localhost", &t);
    EXPECT_EQ(dns.DNS("LocalHost", &t), job);
    EXPECT_EQ(dns.DNS("", &t), -1) << "an empty name is no request";
    ASSERT_TRUE(waitUntil([&] { return !t.done.empty(); }));
    runFor(200);
    ASSERT_EQ(t.done.size(), 1u);
    EXPECT_EQ(t.done[0].job, job);
}

TEST(ivDNS, ASecondNameCancelsTheFirstBeforeItStarts)
{
    Target t;
    ivDNS dns;
    const int32_t first = dns.DNS("nothing-here.invalid", &t);
    int32_t pendingWhenCancelled = 0;
    t.then = [&] { pendingWhenCancelled = dns.JobHandle(); };
    const int32_t second = dns.DNS("localhost", &t);
    ASSERT_NE(second, first);
    ASSERT_EQ(t.done.size(), 1u);
    EXPECT_EQ(t.done[0].job, first);
    EXPECT_TRUE(t.done[0].cancelled);
    EXPECT_FALSE(t.done[0].error);
    EXPECT_EQ(t.done[0].asked, "nothing-here.invalid");
    EXPECT_EQ(pendingWhenCancelled, -1) << "told before the second look-up started";
    t.then = nullptr;

    ASSERT_TRUE(waitUntil([&] { return t.done.size() >= 2; }));
    runFor(300);
    ASSERT_EQ(t.done.size(), 2u) << "the cancelled job never reports";
    EXPECT_EQ(t.done[1].job, second);
    EXPECT_EQ(t.done[1].ip, "127.0.0.1");
}

TEST(ivDNS, CancelDNSReportsOnceAndTheLateAnswerIsIgnored)
{
    Target t;
    ivDNS dns;
    const int32_t job = dns.DNS("localhost", &t);
    dns.CancelDNS();
    dns.CancelDNS(); // nothing pending any more
    ASSERT_EQ(t.done.size(), 1u);
    EXPECT_EQ(t.done[0].job, job);
    EXPECT_TRUE(t.done[0].cancelled);
    runFor(500);
    EXPECT_EQ(t.done.size(), 1u);
}

TEST(ivDNS, ACompletionForAnotherJobIsIgnored)
{
    Target t;
    ivDNS dns;
    const int32_t job = dns.DNS("localhost", &t);
    const int32_t hwnd = vWinsock::HiddenWindow();
    ivhWnd::SendMessage(hwnd, vWinsock::MSG_DNS, job + 1000, 0);
    ivhWnd::SendMessage(hwnd, vWinsock::MSG_DNS, -1, 0);
    ivhWnd::SendMessage(hwnd, vWinsock::WM_TIMER, job, 0);
    EXPECT_TRUE(t.done.empty());
    EXPECT_TRUE(dns.Busy());
    ASSERT_TRUE(waitUntil([&] { return !t.done.empty(); }));
    EXPECT_EQ(t.done[0].job, job);
    // The same job once more, after it ended, is stale too.
    ivhWnd::SendMessage(hwnd, vWinsock::MSG_DNS, job, 0);
    EXPECT_EQ(t.done.size(), 1u);
}

TEST(ivDNS, ATargetMayStartTheNextLookUpFromItsCallback)
{
    Target t;
    ivDNS dns;
    int32_t next = 0;
    t.then = [&] {
        if (t.done.size() == 1)
            next = dns.DNS("127.0.0.1", &t);
    };
    dns.DNS("localhost", &t);
    ASSERT_TRUE(waitUntil([&] { return t.done.size() >= 2; }));
    EXPECT_EQ(t.done[1].job, next);
    EXPECT_FALSE(t.done[1].error);
}

TEST(ivDNS, ATargetMayDestroyTheResolverFromItsCallback)
{
    Target t;
    auto* dns = new ivDNS;
    t.then = [&] { delete dns; };
    dns->DNS("localhost", &t);
    ASSERT_TRUE(waitUntil([&] { return !t.done.empty(); }));
    EXPECT_EQ(vWinsock::State().refCount, 0);
}

TEST(ivDNS, WithoutAStartedSocketLayerTheRequestFailsAtOnce)
{
    std::vector<Outcome> done;
    int32_t result = 0;
    std::thread plain([&] {
        Target t;
        ivDNS dns;
        result = dns.DNS("localhost", &t);
        done = t.done;
    });
    plain.join();
    EXPECT_EQ(result, -1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].job, -1);
    EXPECT_TRUE(done[0].error);
    EXPECT_EQ(done[0].code, vWinsock::WSANOTINITIALISED);
    EXPECT_EQ(done[0].text, "Winsock not started");
}
