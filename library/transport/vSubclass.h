#pragma once

#include <cstdint>

namespace cfb {

class ivSubclass;

// The message dispatcher of the hidden windows. Per window and message it keeps the clients in
// the order they attached; a message with clients goes to each of them in that order, and the
// window's own procedure runs as the first and last clients' MsgResponse asks. Everything here
// belongs to the calling thread.
namespace vSubclass {

// Registers the client for a message of a window of this thread (nothing for any other window).
// The first attach on a window routes its messages through the dispatcher; attaching a client
// twice for one message counts the window again but lists the client once.
void AttachMessage(ivSubclass* client, int32_t hwnd, int32_t iMsg);
// Undoes one attach: the window's count goes down (its last one hands the window back to its own
// procedure) and the client leaves the message's list when it is there.
void DetachMessage(ivSubclass* client, int32_t hwnd, int32_t iMsg);

// The dispatching window procedure. A client detached by an earlier client during the same
// message is skipped, so a handler may release its own object or another one safely.
int32_t WindowProc(int32_t hwnd, int32_t iMsg, int32_t wParam, int32_t lParam);

// Attach calls minus detach calls on the window, and clients listed for a message.
int32_t WindowCount(int32_t hwnd);
int32_t ClientCount(int32_t hwnd, int32_t iMsg);
// How many dispatches are running on this thread right now (nested ones included).
int32_t DispatchDepth();
// Drops everything registered for a window that is being destroyed.
void ForgetWindow(int32_t hwnd);

} // namespace vSubclass
} // namespace cfb
