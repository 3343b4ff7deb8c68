// Small valid images: thumbnails and the demo account's photos.
#pragma once

#include <cstdint>
#include <string>

namespace greyfox::devservice {

// A PNG of `width` x `height` pixels: a gradient tinted by `seed`.
std::string pngImage(int width, int height, uint32_t seed);
// A 16 x 16 baseline JPEG.
std::string jpegImage();

}  // namespace greyfox::devservice
