#include "PngFile.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// libpng's own file writer removes the file name when a write fails, so the
// picture is made in memory and written here.
static bool Encode(const Surface* surface, std::vector<unsigned char>* png) {
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
  png_alloc_size_t size = 0;
  bool encoded = png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr);
  if (encoded) {
    png->resize(size);
    encoded = png_image_write_to_memory(&image, png->data(), &size, 0, rgb.data(), 0, nullptr);
    png->resize(size);
  }
  png_image_free(&image);
  if (!encoded) errno = ENOMEM;
  return encoded;
}

// Writes all the bytes and closes the file; false with errno on the first failure.
static bool WriteAndClose(int file, const std::vector<unsigned char>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = write(file, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      const int reason = written < 0 ? errno : ENOSPC;
      close(file);
      errno = reason;
      return false;
    }
    done += static_cast<size_t>(written);
  }
  return close(file) == 0;
}

// A new file beside `path`, renamed over it once whole.
static bool Replace(const char* path, const std::vector<unsigned char>& png, mode_t mode) {
  std::string temporary = path;
  const size_t slash = temporary.rfind('/');
  temporary.insert(slash == std::string::npos ? 0 : slash + 1, ".");
  temporary += ".XXXXXX";
  const int file = mkostemp(&temporary[0], O_CLOEXEC);
  if (file < 0) return false;
  if (fchmod(file, mode) == 0 && WriteAndClose(file, png) && rename(temporary.c_str(), path) == 0)
    return true;
  const int reason = errno;
  unlink(temporary.c_str());  // our own, never what was at the path
  errno = reason;
  return false;
}

bool WritePng(const char* path, const Surface* surface, PngTarget target) {
  if (!surface->pixels || surface->width <= 0 || surface->height <= 0) {
    errno = EINVAL;
    return false;
  }
  std::vector<unsigned char> png;
  if (!Encode(surface, &png)) return false;
  struct stat there = {};
  const bool exists = lstat(path, &there) == 0;
  if (!exists && errno != ENOENT) return false;
  if (target == PngTarget::Named && exists && !S_ISREG(there.st_mode)) {
    const int file = open(path, O_WRONLY | O_TRUNC | O_NOCTTY | O_CLOEXEC);
    return file >= 0 && WriteAndClose(file, png);
  }
  // A file replaced keeps its permissions; a new one gets those open() would give it.
  mode_t mode = there.st_mode & 07777;
  if (!exists || !S_ISREG(there.st_mode)) {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  return Replace(path, png, mode);
}
