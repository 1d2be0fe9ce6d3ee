#pragma once

class QThread;

namespace cfb {

// A worker thread whose owner went while it was still busy (waiting for a router, a request to
// the service): it is told to quit and handed here, ends by itself once its work returns, and a
// process that ends normally waits for it before the statics go, then deletes it. A thread
// already finished is deleted at once. Without this, a short-lived process (the CLI refused at
// sign-in) could end while such a thread was still tearing down its event loop.
void leaveToEnd(QThread* thread);

} // namespace cfb
