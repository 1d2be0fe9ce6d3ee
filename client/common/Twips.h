#pragma once

namespace cfb::client {

// Window positions and sizes are given in twips; the client places them at 15 twips per pixel
// (96 dots per inch) on every screen.
inline constexpr int TwipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return (twips + TwipsPerPixel / 2) / TwipsPerPixel;
}

} // namespace cfb::client
