// A library preloaded into a real windowed program (LD_PRELOAD) so tests and
// measurements can watch and disturb it without any change to the program:
//   TOVALINEX_PROBE_LOG=FILE      appends one line per present of the window
//                                 surface: CLOCK_MONOTONIC nanoseconds at the
//                                 call, and for the first presents whether the
//                                 picture was entirely black
//   TOVALINEX_PROBE_REFUSE=BYTES  makes every calloc of exactly BYTES fail, as
//                                 when memory for a surface cannot be had
#include <SDL.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" void* __libc_calloc(size_t count, size_t size);

constexpr int BlackChecks = 5;  // scanning every present would slow the loop it measures

static int LogFile = -2;  // -2: not opened yet, -1: no log asked for
static int Presents = 0;

static bool AllBlack(SDL_Window* window) {
  SDL_Surface* surface = SDL_GetWindowSurface(window);
  if (!surface || !surface->pixels) return false;
  for (int row = 0; row < surface->h; ++row) {
    const unsigned char* line = static_cast<const unsigned char*>(surface->pixels) +
                                static_cast<long long>(row) * surface->pitch;
    for (int column = 0; column < surface->w; ++column) {
      uint32_t pixel = 0;
      std::memcpy(&pixel, line + column * 4, 4);
      if (pixel & 0xFFFFFF) return false;
    }
  }
  return true;
}

extern "C" int SDL_UpdateWindowSurface(SDL_Window* window) {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  typedef int (*Update)(SDL_Window*);
  static Update real = reinterpret_cast<Update>(dlsym(RTLD_NEXT, "SDL_UpdateWindowSurface"));
  if (LogFile == -2) {
    const char* path = std::getenv("TOVALINEX_PROBE_LOG");
    LogFile = path && *path ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600) : -1;
  }
  if (LogFile >= 0) {
    char line[64];
    const int black = Presents < BlackChecks ? (AllBlack(window) ? 1 : 0) : -1;
    const int length = std::snprintf(line, sizeof line, "%lld %d\n",
                                     now.tv_sec * 1000000000LL + now.tv_nsec, black);
    // One write per line, so a reader never sees half of one.
    if (write(LogFile, line, static_cast<size_t>(length)) < 0) LogFile = -1;
  }
  ++Presents;
  return real(window);
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
