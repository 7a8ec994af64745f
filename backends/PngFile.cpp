#include "PngFile.h"

#include <png.h>

#include <vector>

bool WritePng(const char* path, const Surface* surface) {
  if (!surface->pixels || surface->width <= 0 || surface->height <= 0) return false;
  std::vector<unsigned char> rgb(static_cast<size_t>(surface->width) * surface->height * 3);
  size_t out = 0;
  for (int y = 0; y < surface->height; ++y)
    for (int x = 0; x < surface->width; ++x) {
      const uint32_t pixel = PictureAt(surface, x, y);
      rgb[out++] = static_cast<unsigned char>(pixel >> 16);
      rgb[out++] = static_cast<unsigned char>(pixel >> 8);
      rgb[out++] = static_cast<unsigned char>(pixel);
    }
  png_image image = {};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(surface->width);
  image.height = static_cast<png_uint_32>(surface->height);
  image.format = PNG_FORMAT_RGB;
  const int written = png_image_write_to_file(&image, path, 0, rgb.data(), 0, nullptr);
  png_image_free(&image);
  return written != 0;
}
