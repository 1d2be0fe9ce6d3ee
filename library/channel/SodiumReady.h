#pragma once

namespace cfb {

// Initialises libsodium once for the process (thread-safe; later calls return at once). Every
// entry point of the channel code that draws random bytes or picks an implementation calls it
// first. Returns false only when libsodium cannot run at all.
bool sodiumReady();

} // namespace cfb
