#include "VideoDriver.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static const char* const AcceptedDrivers[] = {"x11", "wayland"};

// Calls `take(name, length)` for each name of a comma-separated list, as SDL
// reads it (empty names are skipped) until it returns false.
template <typename Take>
static void EachName(const char* list, Take take) {
  while (*list) {
    const char* end = std::strchr(list, ',');
    const size_t length = end ? static_cast<size_t>(end - list) : std::strlen(list);
    if (length > 0 && !take(list, length)) return;
    list += length + (end ? 1 : 0);
  }
}

static const char* Accepted(const char* name, size_t length) {
  for (const char* driver : AcceptedDrivers)
    if (std::strlen(driver) == length && strncasecmp(driver, name, length) == 0) return driver;
  return nullptr;
}

bool ChooseVideoDrivers(char* drivers, size_t size, char* refused, size_t refusedSize) {
  const char* requested = std::getenv("SDL_VIDEODRIVER");
  if (!requested || !*requested) requested = "x11,wayland";
  drivers[0] = '\0';
  refused[0] = '\0';
  EachName(requested, [&](const char* name, size_t length) {
    const char* driver = Accepted(name, length);
    if (!driver) {
      std::snprintf(refused, refusedSize, "%.*s", static_cast<int>(length), name);
      return false;
    }
    if (!std::strstr(drivers, driver)) {
      const size_t used = std::strlen(drivers);
      std::snprintf(drivers + used, size - used, "%s%s", used ? "," : "", driver);
    }
    return true;
  });
  return !refused[0] && drivers[0];
}

void ChosenDisplay(const char* drivers, char* display, size_t size) {
  std::snprintf(display, size, "none");
  EachName(drivers, [&](const char* name, size_t length) {
    if (std::strlen("x11") == length && std::strncmp(name, "x11", length) == 0) {
      const char* x11 = std::getenv("DISPLAY");
      if (!x11 || !*x11) return true;
      // ":0" and ":0.0" are one server; the screen is left off.
      const char* colon = std::strrchr(x11, ':');
      const char* dot = colon ? std::strchr(colon, '.') : nullptr;
      const int kept = dot ? static_cast<int>(dot - x11) : static_cast<int>(std::strlen(x11));
      std::snprintf(display, size, "x11 %.*s", kept, x11);
      return false;
    }
    // libwayland's rules: WAYLAND_DISPLAY or wayland-0, relative to XDG_RUNTIME_DIR.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (!wayland || !*wayland) wayland = "wayland-0";
    if (wayland[0] == '/') {
      std::snprintf(display, size, "wayland %s", wayland);
      return false;
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return true;
    std::snprintf(display, size, "wayland %s/%s", runtime, wayland);
    return false;
  });
}
