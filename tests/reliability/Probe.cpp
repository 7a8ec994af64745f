// A library preloaded into a real windowed program (LD_PRELOAD) so tests and
// measurements can watch and disturb it without any change to the program:
//   TOVALINEX_PROBE_LOG=FILE      appends one line per present: CLOCK_MONOTONIC
//                                 nanoseconds at the call, then for the first
//                                 presents the colour (decimal 0xRRGGBB) if the
//                                 whole picture is that one colour, else -1; -2
//                                 once unchecked. On X11 a present is an update
//                                 of the window surface, on Wayland a commit of
//                                 a surface with a new buffer (WaylandProbe.cpp),
//                                 whose colour is -3 when the buffer is not in
//                                 shared memory the probe saw being made
//   TOVALINEX_PROBE_REFUSE=BYTES  makes every calloc of exactly BYTES fail, as
//                                 when memory for a surface cannot be had
//   TOVALINEX_PROBE_NO_SURFACE=1  makes SDL_GetWindowSurface fail, as when SDL
//                                 has no way to present to the window
//   TOVALINEX_PROBE_NO_MEMFD=1    makes memfd_create fail (WaylandProbe.cpp)
//   TOVALINEX_PROBE_SLOW_CLOSE=MS destroying the window takes that much longer,
//                                 as a copy that is slow to close
#include <SDL.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ProbeLog.h"

extern "C" void* __libc_calloc(size_t count, size_t size);

constexpr int UniformChecks = 5;  // scanning every present would slow the loop it measures

static int LogFile = -2;  // -2: not opened yet, -1: no log asked for
static int Presents = 0;

long long ProbeNow() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000000LL + now.tv_nsec;
}

bool ProbeChecksColour() { return Presents < UniformChecks; }

void ProbeLogPresent(long long nanoseconds, long colour) {
  if (LogFile == -2) {
    const char* path = std::getenv("TOVALINEX_PROBE_LOG");
    LogFile = path && *path ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600) : -1;
  }
  ++Presents;
  if (LogFile < 0) return;
  char line[64];
  const int length = std::snprintf(line, sizeof line, "%lld %ld\n", nanoseconds, colour);
  // One write per line, so a reader never sees half of one.
  if (write(LogFile, line, static_cast<size_t>(length)) < 0) LogFile = -1;
}

long UniformColour(const void* pixels, int width, int height, int pitch) {
  if (!pixels || width <= 0 || height <= 0) return -1;
  uint32_t first = 0;
  std::memcpy(&first, pixels, 4);
  first &= 0xFFFFFF;
  for (int row = 0; row < height; ++row) {
    const unsigned char* line =
        static_cast<const unsigned char*>(pixels) + static_cast<long long>(row) * pitch;
    for (int column = 0; column < width; ++column) {
      uint32_t pixel = 0;
      std::memcpy(&pixel, line + column * 4, 4);
      if ((pixel & 0xFFFFFF) != first) return -1;
    }
  }
  return static_cast<long>(first);
}

extern "C" SDL_Surface* SDL_GetWindowSurface(SDL_Window* window) {
  typedef SDL_Surface* (*Get)(SDL_Window*);
  static Get real = reinterpret_cast<Get>(dlsym(RTLD_NEXT, "SDL_GetWindowSurface"));
  static const char* refuse = std::getenv("TOVALINEX_PROBE_NO_SURFACE");
  if (refuse && *refuse == '1') {
    SDL_SetError("the probe took the window surface away");
    return nullptr;
  }
  return real(window);
}

extern "C" int SDL_UpdateWindowSurface(SDL_Window* window) {
  const long long now = ProbeNow();
  typedef int (*Update)(SDL_Window*);
  static Update real = reinterpret_cast<Update>(dlsym(RTLD_NEXT, "SDL_UpdateWindowSurface"));
  // On Wayland SDL's texture path commits the picture, which WaylandProbe.cpp logs.
  const char* driver = SDL_GetCurrentVideoDriver();
  if (!driver || std::strcmp(driver, "wayland") != 0) {
    long colour = -2;
    if (ProbeChecksColour()) {
      const SDL_Surface* surface = SDL_GetWindowSurface(window);
      colour =
          surface ? UniformColour(surface->pixels, surface->w, surface->h, surface->pitch) : -1;
    }
    ProbeLogPresent(now, colour);
  }
  return real(window);
}

extern "C" void SDL_DestroyWindow(SDL_Window* window) {
  typedef void (*Destroy)(SDL_Window*);
  static Destroy real = reinterpret_cast<Destroy>(dlsym(RTLD_NEXT, "SDL_DestroyWindow"));
  const char* slow = std::getenv("TOVALINEX_PROBE_SLOW_CLOSE");
  if (slow && *slow) usleep(static_cast<useconds_t>(std::atoi(slow)) * 1000);
  real(window);
}

extern "C" void* calloc(size_t count, size_t size) {
  static long long refused = -2;  // -2: not read yet, -1: refuse nothing
  if (refused == -2) {
    const char* bytes = std::getenv("TOVALINEX_PROBE_REFUSE");
    refused = bytes && *bytes ? std::atoll(bytes) : -1;
  }
  if (refused > 0 && static_cast<long long>(count * size) == refused) {
    errno = ENOMEM;
    return nullptr;
  }
  return __libc_calloc(count, size);
}
