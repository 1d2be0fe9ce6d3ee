#include "transport/vSubclass.h"

#include "transport/ivSubclass.h"
#include "transport/ivhWnd.h"

#include <QHash>
#include <QList>

#include <algorithm>

namespace cfb::vSubclass {
namespace {

struct WindowEntry {
    int32_t count = 0; // attach calls minus detach calls; above 0 the dispatcher is in the path
    QHash<int32_t, QList<ivSubclass*>> clients;
};

struct Registry {
    QHash<int32_t, WindowEntry> windows;
    int32_t depth = 0;
};

Registry& registry()
{
    thread_local Registry r;
    return r;
}

bool isAttached(int32_t hwnd, int32_t iMsg, ivSubclass* client)
{
    const Registry& r = registry();
    const auto w = r.windows.constFind(hwnd);
    if (w == r.windows.cend())
        return false;
    const auto list = w->clients.constFind(iMsg);
    return list != w->clients.cend() && list->contains(client);
}

int32_t defaultProc(int32_t hwnd, int32_t iMsg, int32_t wParam, int32_t lParam)
{
    ivhWnd* window = ivhWnd::FromHandle(hwnd);
    return window ? window->DefWindowProc(iMsg, wParam, lParam) : 0;
}

struct DepthGuard {
    DepthGuard() { ++registry().depth; }
    ~DepthGuard() { --registry().depth; }
};

} // namespace

void AttachMessage(ivSubclass* client, int32_t hwnd, int32_t iMsg)
{
    if (!client || !ivhWnd::FromHandle(hwnd))
        return;
    WindowEntry& w = registry().windows[hwnd];
    ++w.count;
    QList<ivSubclass*>& list = w.clients[iMsg];
    if (!list.contains(client))
        list.append(client);
}

void DetachMessage(ivSubclass* client, int32_t hwnd, int32_t iMsg)
{
    Registry& r = registry();
    const auto w = r.windows.find(hwnd);
    if (w == r.windows.end())
        return;
    if (w->count > 0)
        --w->count;
    const auto list = w->clients.find(iMsg);
    if (list != w->clients.end()) {
        list->removeOne(client);
        if (list->isEmpty())
            w->clients.erase(list);
    }
    if (w->count == 0 && w->clients.isEmpty())
        r.windows.erase(w);
}

int32_t WindowProc(int32_t hwnd, int32_t iMsg, int32_t wParam, int32_t lParam)
{
    QList<ivSubclass*> clients;
    {
        const Registry& r = registry();
        const auto w = r.windows.constFind(hwnd);
        if (w != r.windows.cend() && w->count > 0)
            clients = w->clients.value(iMsg);
    }
    if (clients.isEmpty())
        return defaultProc(hwnd, iMsg, wParam, lParam);

    DepthGuard depth;
    int32_t result = 0;
    bool previousCalled = false;
    const qsizetype last = clients.size() - 1;
    for (qsizetype i = 0; i <= last; ++i) {
        ivSubclass* client = clients[i];
        // Looked up again before every call: an earlier client may have detached (or destroyed)
        // this one.
        if (!isAttached(hwnd, iMsg, client))
            continue;
        const EMsgResponse response = client->MsgResponse();
        if (i == 0 && response == emrPreprocess) {
            defaultProc(hwnd, iMsg, wParam, lParam);
            previousCalled = true;
        }
        result = client->WindowProc(hwnd, iMsg, wParam, lParam);
        if (i == last && response == emrPostProcess && !previousCalled)
            result = defaultProc(hwnd, iMsg, wParam, lParam);
    }
    return result;
}

int32_t WindowCount(int32_t hwnd)
{
    return registry().windows.value(hwnd).count;
}

int32_t ClientCount(int32_t hwnd, int32_t iMsg)
{
    return int32_t(registry().windows.value(hwnd).clients.value(iMsg).size());
}

int32_t DispatchDepth()
{
    return registry().depth;
}

void ForgetWindow(int32_t hwnd)
{
    registry().windows.remove(hwnd);
}

} // namespace cfb::vSubclass
