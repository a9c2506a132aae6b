#pragma once
// Reads the 8-bit RGB or RGBA PNG files that Chromium's --screenshot writes,
// so tests can look at what the widget drew.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vq::e2e {

struct Rgb {
    std::uint8_t r, g, b;
};

struct PngImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<Rgb> pixels;  // row by row

    // How many pixels are within `tolerance` (per channel) of the colour.
    std::size_t countNear(Rgb colour, int tolerance = 8) const;
};

// nullopt when the file is missing or is not a non-interlaced 8-bit RGB(A) PNG.
std::optional<PngImage> readPng(const std::string& path);

}  // namespace vq::e2e
