#include "EventLoopWait.h"

#include "transport/ivSubclass.h"
#include "transport/ivhWnd.h"
#include "transport/vSubclass.h"
#include "transport/vWinsock.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace cfb;

namespace {

constexpr int32_t Msg = 0x5001;

struct Client : ivSubclass {
    Client(std::vector<std::string>& log, std::string name, int32_t result, EMsgResponse response = emrConsume)
        : log(log)
        , name(std::move(name))
        , result(result)
        , response(response)
    {
    }
    EMsgResponse MsgResponse() const override { return response; }
    void setMsgResponse(EMsgResponse r) override { response = r; }
    int32_t WindowProc(int32_t, int32_t, int32_t wParam, int32_t) override
    {
        log.push_back(name + ":" + std::to_string(wParam));
        if (onMessage)
            onMessage();
        return result;
    }
    std::vector<std::string>& log;
    std::string name;
    int32_t result;
    EMsgResponse response;
    std::function<void()> onMessage;
};

class Dispatcher : public ::testing::Test {
protected:
    void SetUp() override
    {
        window.Create();
        hwnd = window.handle();
        QObject::connect(&window, &ivhWnd::UnhandledMessage,
            [this](int32_t, int32_t w, int32_t) { log.push_back("default:" + std::to_string(w)); });
    }
    ivhWnd window;
    int32_t hwnd = 0;
    std::vector<std::string> log;
};

} // namespace

TEST_F(Dispatcher, ClientsRunInAttachOrderAndTheLastResultCounts)
{
    Client first(log, "first", 11), second(log, "second", 22);
    vSubclass::AttachMessage(&first, hwnd, Msg);
    vSubclass::AttachMessage(&second, hwnd, Msg);

    EXPECT_EQ(ivhWnd::SendMessage(hwnd, Msg, 1, 0), 22);
    EXPECT_EQ(log, (std::vector<std::string>{"first:1", "second:1"}));

    // Another message has no clients and reaches the window's own procedure.
    log.clear();
    EXPECT_EQ(ivhWnd::SendMessage(hwnd, Msg + 1, 2, 0), 0);
    EXPECT_EQ(log, (std::vector<std::string>{"default:2"}));

    vSubclass::DetachMessage(&first, hwnd, Msg);
    vSubclass::DetachMessage(&second, hwnd, Msg);
}

TEST_F(Dispatcher, ResponseModesPlaceTheWindowsOwnProcedure)
{
    Client a(log, "a", 5), b(log, "b", 6);
    vSubclass::AttachMessage(&a, hwnd, Msg);
    vSubclass::AttachMessage(&b, hwnd, Msg);

    EXPECT_EQ(ivhWnd::SendMessage(hwnd, Msg, 1, 0), 6);
    EXPECT_EQ(log, (std::vector<std::string>{"a:1", "b:1"})) << "consume keeps the message from the window";

    log.clear();
    a.response = emrPreprocess;
    EXPECT_EQ(ivhWnd::SendMessage(hwnd, Msg, 2, 0), 6);
    EXPECT_EQ(log, (std::vector<std::string>{"default:2", "a:2", "b:2"}));

    log.clear();
    a.response = emrConsume;
    b.response = emrPostProcess;
    EXPECT_EQ(ivhWnd::SendMessage(hwnd, Msg, 3, 0), 0) << "the window's own result replaces the client's";
    EXPECT_EQ(log, (std::vector<std::string>{"a:3", "b:3", "default:3"}));

    // Pre-processing by the first client and post-processing by the last: the window runs once.
    log.clear();
    a.response = emrPreprocess;
    EXPECT_EQ(ivhWnd::SendMessage(hwnd, Msg, 4, 0), 6);
    EXPECT_EQ(log, (std::vector<std::string>{"default:4", "a:4", "b:4"}));

    vSubclass::DetachMessage(&a, hwnd, Msg);
    vSubclass::DetachMessage(&b, hwnd, Msg);
}

TEST_F(Dispatcher, AttachAndDetachKeepTheirCounts)
{
    Client a(log, "a", 1), b(log, "b", 2);
    vSubclass::AttachMessage(&a, hwnd, Msg);
    vSubclass::AttachMessage(&a, hwnd, Msg); // counted, listed once
    vSubclass::AttachMessage(&b, hwnd, Msg);
    EXPECT_EQ(vSubclass::WindowCount(hwnd), 3);
    EXPECT_EQ(vSubclass::ClientCount(hwnd, Msg), 2);

    vSubclass::DetachMessage(&a, hwnd, Msg);
    EXPECT_EQ(vSubclass::ClientCount(hwnd, Msg), 1);
    ivhWnd::SendMessage(hwnd, Msg, 1, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"b:1"}));

    // Detaching a client that is not listed still lowers the window's count.
    vSubclass::DetachMessage(&a, hwnd, Msg);
    EXPECT_EQ(vSubclass::WindowCount(hwnd), 1);
    EXPECT_EQ(vSubclass::ClientCount(hwnd, Msg), 1);

    // The window's last count hands its messages back to its own procedure.
    vSubclass::DetachMessage(&b, hwnd, Msg);
    EXPECT_EQ(vSubclass::WindowCount(hwnd), 0);
    log.clear();
    ivhWnd::SendMessage(hwnd, Msg, 2, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"default:2"}));

    // Never below zero: one more attach routes messages through the dispatcher again.
    vSubclass::DetachMessage(&b, hwnd, Msg);
    vSubclass::AttachMessage(&b, hwnd, Msg);
    log.clear();
    ivhWnd::SendMessage(hwnd, Msg, 3, 0);
    EXPECT_EQ(log, (std::vector<std::string>{"b:3"}));
    vSubclass::DetachMessage(&b, hwnd, Msg);
}

TEST_F(Dispatcher, AClientThatGoesDuringTheMessageIsNotCalled)
{
    Client first(log, "first", 1);
    auto second = std::make_unique<Client>(log, "second", 2);
    Client third(log, "third", 3);
    vSubclass::AttachMessage(&first, hwnd, Msg);
    vSubclass::AttachMessage(second.get(), hwnd, Msg);
    vSubclass::AttachMessage(&third, hwnd, Msg);
    first.onMessage = [&] {
        vSubclass::DetachMessage(second.get(), hwnd, Msg);
        second.reset(); // a use after this would be caught by the sanitizer build
    };
    EXPECT_EQ(ivhWnd::SendMessage(hwnd, Msg, 1, 0), 3);
    EXPECT_EQ(log, (std::vector<std::string>{"first:1", "third:1"}));
    vSubclass::DetachMessage(&first, hwnd, Msg);
    vSubclass::DetachMessage(&third, hwnd, Msg);
}

TEST_F(Dispatcher, OnlyExistingWindowsOfThisThreadTakeClients)
{
    Client a(log, "a", 1);
    vSubclass::AttachMessage(&a, 0, Msg);
    vSubclass::AttachMessage(&a, hwnd + 100000, Msg);
    EXPECT_EQ(vSubclass::ClientCount(0, Msg), 0);
    EXPECT_EQ(vSubclass::ClientCount(hwnd + 100000, Msg), 0);
    EXPECT_EQ(ivhWnd::SendMessage(hwnd + 100000, Msg, 1, 0), 0);

    int32_t foreignResult = -1;
    std::thread other([&] { foreignResult = ivhWnd::FromHandle(hwnd) ? 1 : 0; });
    other.join();
    EXPECT_EQ(foreignResult, 0) << "a window belongs to the thread that created it";
}

TEST_F(Dispatcher, PostedMessagesArriveThroughTheEventLoopUnlessTheWindowWentFirst)
{
    Client a(log, "a", 1);
    vSubclass::AttachMessage(&a, hwnd, Msg);
    ASSERT_TRUE(ivhWnd::PostMessage(hwnd, Msg, 7, 0));
    EXPECT_TRUE(log.empty()) << "posting does not deliver at once";
    ASSERT_TRUE(waitUntil([&] { return !log.empty(); }));
    EXPECT_EQ(log, (std::vector<std::string>{"a:7"}));

    log.clear();
    ASSERT_TRUE(ivhWnd::PostMessage(hwnd, Msg, 8, 0));
    window.Destroy();
    EXPECT_FALSE(ivhWnd::PostMessage(hwnd, Msg, 9, 0));
    runFor(50);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(vSubclass::ClientCount(hwnd, Msg), 0) << "the registry goes with the window";
}

TEST(SocketLayer, IsSharedPerThreadAndCounted)
{
    const int32_t before = vWinsock::State().refCount;
    ASSERT_EQ(before, 0) << "an earlier test left a reference behind";
    ASSERT_TRUE(vWinsock::Startup());
    const int32_t hwnd = vWinsock::HiddenWindow();
    ASSERT_NE(hwnd, 0);
    EXPECT_TRUE(vWinsock::State().usable);
    EXPECT_EQ(vWinsock::State().versionMajor, 1);
    EXPECT_EQ(vWinsock::State().versionMinor, 1);
    EXPECT_EQ(vWinsock::State().maxUdpData, 65507);

    ASSERT_TRUE(vWinsock::Startup());
    EXPECT_EQ(vWinsock::HiddenWindow(), hwnd) << "a second start-up shares the window";
    EXPECT_EQ(vWinsock::State().refCount, 2);
    vWinsock::Cleanup();
    EXPECT_EQ(vWinsock::HiddenWindow(), hwnd);
    vWinsock::Cleanup();
    EXPECT_EQ(vWinsock::HiddenWindow(), 0);
    EXPECT_EQ(ivhWnd::FromHandle(hwnd), nullptr);
    EXPECT_FALSE(vWinsock::State().usable);
    vWinsock::Cleanup(); // one too many stays at zero
    EXPECT_EQ(vWinsock::State().refCount, 0);
}

TEST(SocketLayer, TheHiddenWindowTicksOncePerSecond)
{
    ASSERT_TRUE(vWinsock::Startup());
    std::vector<std::string> log;
    Client ticks(log, "tick", 0);
    vSubclass::AttachMessage(&ticks, vWinsock::HiddenWindow(), vWinsock::WM_TIMER);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(waitUntil([&] { return log.size() >= 2; }, 4000));
    EXPECT_GE(clock.elapsed(), 1500);
    vSubclass::DetachMessage(&ticks, vWinsock::HiddenWindow(), vWinsock::WM_TIMER);
    vWinsock::Cleanup();
}

TEST(SocketLayer, AThreadWithoutAnEventLoopCannotStart)
{
    bool started = true;
    bool usable = true;
    int32_t window = -1;
    std::thread plain([&] {
        started = vWinsock::Startup();
        usable = vWinsock::State().usable;
        window = vWinsock::HiddenWindow();
        vWinsock::Cleanup();
    });
    plain.join();
    EXPECT_FALSE(started);
    EXPECT_FALSE(usable);
    EXPECT_EQ(window, 0);
}
