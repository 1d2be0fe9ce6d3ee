#pragma once

#include <cstdint>

namespace cfb {

// How a message client stands to the hidden window's own procedure.
enum EMsgResponse : int32_t {
    emrConsume = 0, // the window's own procedure never sees the message
    emrPostProcess = 1, // it runs after the last client, unless it already ran
    emrPreprocess = 2, // it runs before the first client
};

// A client of the message dispatcher (vSubclass). A client must detach itself before it is
// destroyed; the dispatcher keeps plain pointers.
class ivSubclass {
public:
    virtual ~ivSubclass() = default;
    virtual EMsgResponse MsgResponse() const = 0;
    virtual void setMsgResponse(EMsgResponse response) = 0;
    virtual int32_t WindowProc(int32_t hwnd, int32_t iMsg, int32_t wParam, int32_t lParam) = 0;
};

} // namespace cfb
