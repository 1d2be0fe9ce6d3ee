#pragma once

#include <cstdint>

// setsockopt/getsockopt in the units the option holders speak. Writes on no socket fail quietly;
// reads on no socket (or a failing one) give 0.
namespace cfb::SocketOptionIO {

void setInt(int32_t fd, int level, int name, int32_t value);
int32_t getInt(int32_t fd, int level, int name);
void setFlag(int32_t fd, int level, int name, bool on);
bool getFlag(int32_t fd, int level, int name);
// SO_RCVTIMEO / SO_SNDTIMEO in milliseconds.
void setMillis(int32_t fd, int name, int32_t ms);
int32_t getMillis(int32_t fd, int name);
// SO_RCVBUF / SO_SNDBUF. Linux keeps twice the size asked for (half of it for its own
// bookkeeping) and reports the doubled figure; reads give back the size that was asked for.
void setBufferSize(int32_t fd, int name, int32_t bytes);
int32_t getBufferSize(int32_t fd, int name);

} // namespace cfb::SocketOptionIO
