#include "transport/ivhWnd.h"

#include "transport/vSubclass.h"
#include "transport/vWinsock.h"

#include <QCoreApplication>
#include <QEvent>
#include <QHash>
#include <QTimerEvent>

#include <atomic>

namespace cfb {
namespace {

const QEvent::Type WindowMessageEvent = QEvent::Type(QEvent::registerEventType());

struct PostedMessage : QEvent {
    PostedMessage(int32_t m, int32_t w, int32_t l)
        : QEvent(WindowMessageEvent)
        , iMsg(m)
        , wParam(w)
        , lParam(l)
    {
    }
    int32_t iMsg;
    int32_t wParam;
    int32_t lParam;
};

// Windows of the calling thread by handle; a handle from another thread is not found.
QHash<int32_t, ivhWnd*>& windows()
{
    thread_local QHash<int32_t, ivhWnd*> map;
    return map;
}

int32_t nextHandle()
{
    static std::atomic<int32_t> counter{0};
    int32_t h = 0;
    do {
        h = counter.fetch_add(1, std::memory_order_relaxed) + 1;
    } while (h <= 0);
    return h;
}

} // namespace

ivhWnd::ivhWnd(QObject* parent)
    : QObject(parent)
{
}

ivhWnd::~ivhWnd()
{
    Destroy();
}

void ivhWnd::Create()
{
    Destroy();
    handle_ = nextHandle();
    windows().insert(handle_, this);
}

void ivhWnd::Destroy()
{
    if (handle_ == 0)
        return;
    vSubclass::ForgetWindow(handle_);
    windows().remove(handle_);
    handle_ = 0;
}

int32_t ivhWnd::DefWindowProc(int32_t iMsg, int32_t wParam, int32_t lParam)
{
    emit UnhandledMessage(iMsg, wParam, lParam);
    return 0;
}

ivhWnd* ivhWnd::FromHandle(int32_t hwnd)
{
    if (hwnd == 0)
        return nullptr;
    return windows().value(hwnd, nullptr);
}

int32_t ivhWnd::SendMessage(int32_t hwnd, int32_t iMsg, int32_t wParam, int32_t lParam)
{
    if (!FromHandle(hwnd))
        return 0;
    return vSubclass::WindowProc(hwnd, iMsg, wParam, lParam);
}

bool ivhWnd::PostMessage(int32_t hwnd, int32_t iMsg, int32_t wParam, int32_t lParam)
{
    ivhWnd* window = FromHandle(hwnd);
    if (!window)
        return false;
    QCoreApplication::postEvent(window, new PostedMessage(iMsg, wParam, lParam));
    return true;
}

bool ivhWnd::event(QEvent* e)
{
    if (e->type() != WindowMessageEvent)
        return QObject::event(e);
    const auto* m = static_cast<PostedMessage*>(e);
    // The handle is looked up again: a message posted before Destroy is dropped.
    if (handle_ != 0)
        SendMessage(handle_, m->iMsg, m->wParam, m->lParam);
    return true;
}

void ivhWnd::timerEvent(QTimerEvent* e)
{
    if (handle_ != 0)
        SendMessage(handle_, vWinsock::WM_TIMER, e->timerId(), 0);
}

} // namespace cfb
