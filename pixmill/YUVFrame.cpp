#include "YUVFrame.h"

#include "YuvKernels.h"

namespace pixmill {

bool cpuHasSse41()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse4.1");
}

bool cpuHasAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

} // namespace pixmill

extern "C" void YUVFrame(
    const uint8_t* Y, const uint8_t* U, const uint8_t* V, uint8_t* Out, int32_t Width, int32_t Height)
{
    // Asking the processor each call is a couple of loads; it keeps the library free of state.
    if (pixmill::cpuHasAvx2())
        pixmill::convertAvx2(Y, U, V, Out, Width, Height);
    else if (pixmill::cpuHasSse41())
        pixmill::convertSse41(Y, U, V, Out, Width, Height);
    else
        pixmill::convertScalar(Y, U, V, Out, Width, Height);
}
