#include "png_image.h"

#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <fstream>
#include <iterator>

namespace vq::e2e {
namespace {

std::uint32_t bigEndian32(const unsigned char* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

int paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

}  // namespace

std::size_t PngImage::countNear(Rgb colour, int tolerance) const {
    std::size_t count = 0;
    for (const auto& p : pixels)
        count += std::abs(p.r - colour.r) <= tolerance && std::abs(p.g - colour.g) <= tolerance &&
                 std::abs(p.b - colour.b) <= tolerance;
    return count;
}

std::optional<PngImage> readPng(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (file.size() < 8 || !std::equal(kSignature, kSignature + 8, file.begin())) return std::nullopt;

    PngImage image;
    int channels = 0;
    std::vector<unsigned char> compressed;
    for (std::size_t at = 8; at + 12 <= file.size();) {
        std::uint32_t length = bigEndian32(&file[at]);
        if (at + 12 + length > file.size()) return std::nullopt;
        std::string type(reinterpret_cast<const char*>(&file[at + 4]), 4);
        const unsigned char* data = &file[at + 8];
        if (type == "IHDR") {
            image.width = bigEndian32(data);
            image.height = bigEndian32(data + 4);
            const int depth = data[8], colourType = data[9], interlace = data[12];
            if (depth != 8 || interlace != 0 || (colourType != 2 && colourType != 6)) return std::nullopt;
            channels = colourType == 2 ? 3 : 4;
        } else if (type == "IDAT") {
            compressed.insert(compressed.end(), data, data + length);
        } else if (type == "IEND") {
            break;
        }
        at += 12 + length;
    }
    if (!channels || !image.width || !image.height) return std::nullopt;

    const std::size_t stride = std::size_t(image.width) * channels;
    std::vector<unsigned char> raw((stride + 1) * image.height);
    uLongf rawSize = raw.size();
    if (uncompress(raw.data(), &rawSize, compressed.data(), compressed.size()) != Z_OK || rawSize != raw.size())
        return std::nullopt;

    std::vector<unsigned char> previous(stride, 0), current(stride);
    image.pixels.reserve(std::size_t(image.width) * image.height);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        const unsigned char* line = &raw[y * (stride + 1)];
        const int filter = line[0];
        for (std::size_t x = 0; x < stride; ++x) {
            int a = x >= std::size_t(channels) ? current[x - channels] : 0;
            int b = previous[x];
            int c = x >= std::size_t(channels) ? previous[x - channels] : 0;
            int predictor = 0;
            switch (filter) {
                case 0: predictor = 0; break;
                case 1: predictor = a; break;
                case 2: predictor = b; break;
                case 3: predictor = (a + b) / 2; break;
                case 4: predictor = paeth(a, b, c); break;
                default: return std::nullopt;
            }
            current[x] = static_cast<unsigned char>(line[1 + x] + predictor);
        }
        for (std::size_t x = 0; x < stride; x += channels)
            image.pixels.push_back({current[x], current[x + 1], current[x + 2]});
        std::swap(previous, current);
    }
    return image;
}

}  // namespace vq::e2e
