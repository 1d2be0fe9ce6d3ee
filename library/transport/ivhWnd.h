#pragma once

#include <QObject>
#include <cstdint>

namespace cfb {

// A hidden message window: a handle that messages (number, wParam, lParam) are sent or posted to
// on the thread that created it. Messages go through the dispatcher (vSubclass) while clients are
// attached, and to the window's own procedure otherwise. Each thread that uses the transport has
// one, owned by its shared socket layer (vWinsock).
class ivhWnd : public QObject {
    Q_OBJECT
public:
    explicit ivhWnd(QObject* parent = nullptr);
    ~ivhWnd() override;
    ivhWnd(const ivhWnd&) = delete;
    ivhWnd& operator=(const ivhWnd&) = delete;

    int32_t handle() const { return handle_; }
    void Create();
    void Destroy();

    // The window's own procedure: it reports the message through UnhandledMessage and gives 0.
    int32_t DefWindowProc(int32_t iMsg, int32_t wParam, int32_t lParam);

    // The window of that handle when it exists on the calling thread, else null.
    static ivhWnd* FromHandle(int32_t hwnd);
    // Delivers a message now and gives its result; 0 when the window does not exist.
    static int32_t SendMessage(int32_t hwnd, int32_t iMsg, int32_t wParam, int32_t lParam);
    // Queues a message for the window's event loop; false when the window does not exist.
    static bool PostMessage(int32_t hwnd, int32_t iMsg, int32_t wParam, int32_t lParam);

signals:
    void UnhandledMessage(int32_t iMsg, int32_t wParam, int32_t lParam);

protected:
    bool event(QEvent* e) override;
    void timerEvent(QTimerEvent* e) override;

private:
    int32_t handle_ = 0;
};

} // namespace cfb
