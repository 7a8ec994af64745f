// The desktop's choice of SDL video driver and of the display it would open,
// from the environment a start sees.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "VideoDriver.h"

namespace {

struct Environment {
  const char* driver;
  const char* display;
  const char* wayland;
  const char* runtime;
};

void Use(const Environment& environment) {
  const char* const names[] = {"SDL_VIDEODRIVER", "DISPLAY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR"};
  const char* const values[] = {environment.driver, environment.display, environment.wayland,
                                environment.runtime};
  for (int index = 0; index < 4; ++index)
    if (values[index])
      setenv(names[index], values[index], 1);
    else
      unsetenv(names[index]);
}

// The drivers chosen, or "refused NAME".
std::string Drivers(const char* requested) {
  Use({requested, nullptr, nullptr, nullptr});
  char drivers[32];
  char refused[64];
  if (!ChooseVideoDrivers(drivers, sizeof drivers, refused, sizeof refused))
    return std::string("refused ") + refused;
  return drivers;
}

std::string Display(const Environment& environment) {
  Use(environment);
  char drivers[32];
  char refused[64];
  if (!ChooseVideoDrivers(drivers, sizeof drivers, refused, sizeof refused)) return "refused";
  char display[256];
  ChosenDisplay(drivers, display, sizeof display);
  return display;
}

TEST(VideoDriver, OnlyDriversThatShowAWindow) {
  EXPECT_EQ(Drivers(nullptr), "x11,wayland");
  EXPECT_EQ(Drivers(""), "x11,wayland");
  EXPECT_EQ(Drivers("Wayland"), "wayland");
  EXPECT_EQ(Drivers("wayland,,X11,x11"), "wayland,x11");
  // SDL would fall back to the later names when the first cannot open.
  EXPECT_EQ(Drivers("offscreen"), "refused offscreen");
  EXPECT_EQ(Drivers("x11,dummy"), "refused dummy");
  EXPECT_EQ(Drivers("kmsdrm"), "refused kmsdrm");
  EXPECT_EQ(Drivers(" x11"), "refused  x11");
}

TEST(VideoDriver, TheDisplayTheDriverWouldOpen) {
  EXPECT_EQ(Display({nullptr, ":1", nullptr, "/run/user/7"}), "x11 :1");
  EXPECT_EQ(Display({nullptr, ":1.0", nullptr, nullptr}), "x11 :1");
  EXPECT_EQ(Display({nullptr, "host.example:10.1", nullptr, nullptr}), "x11 host.example:10");
  // X11 first where both are, as the driver list says.
  EXPECT_EQ(Display({nullptr, ":1", "wayland-1", "/run/user/7"}), "x11 :1");
  EXPECT_EQ(Display({"wayland", ":1", "wayland-1", "/run/user/7"}),
            "wayland /run/user/7/wayland-1");
  // A relative Wayland name lies in the session's runtime directory, so two
  // sessions' "wayland-1" are two displays.
  EXPECT_EQ(Display({nullptr, nullptr, "wayland-1", "/run/user/8"}),
            "wayland /run/user/8/wayland-1");
  EXPECT_EQ(Display({nullptr, "", nullptr, "/run/user/7"}), "wayland /run/user/7/wayland-0");
  EXPECT_EQ(Display({nullptr, nullptr, "/tmp/sway/wl", nullptr}), "wayland /tmp/sway/wl");
  EXPECT_EQ(Display({nullptr, nullptr, "wayland-1", nullptr}), "none");
}

}  // namespace
