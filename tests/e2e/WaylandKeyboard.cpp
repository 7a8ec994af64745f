// The keyboard of the Wayland window tests: one virtual keyboard with a real
// US keymap that stays on the seat for the whole session, so focus and keys
// behave as with a physical keyboard (a seat without a keyboard gives no
// client the keyboard focus at all). It also hands out activation tokens, as
// a launcher does. Commands, one a line on standard input:
//   down KEY | up KEY   KEY one of Left Up Right Down space
//   token               prints "token TEXT", a fresh xdg-activation token
// Each command is answered with one line ("ok", the token, or "error ...")
// once the compositor has handled it; end of input ends the program.
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "xdg-activation-v1-client-protocol.h"

static wl_display* Display = nullptr;
static wl_seat* Seat = nullptr;
static zwp_virtual_keyboard_manager_v1* KeyboardManager = nullptr;
static xdg_activation_v1* Activation = nullptr;
static zwp_virtual_keyboard_v1* Keyboard = nullptr;
static char Token[256] = {};

// Evdev codes; the keymap gives them their usual meaning.
static const struct {
  const char* name;
  uint32_t code;
} Keys[] = {{"Left", 105}, {"Up", 103}, {"Right", 106}, {"Down", 108}, {"space", 57}};

static void OnGlobal(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  if (std::strcmp(interface, wl_seat_interface.name) == 0 && !Seat)
    Seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
  else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
    KeyboardManager = static_cast<zwp_virtual_keyboard_manager_v1*>(
        wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
  else if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0)
    Activation = static_cast<xdg_activation_v1*>(
        wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
}
static void OnGlobalRemoved(void*, wl_registry*, uint32_t) {}
static const wl_registry_listener RegistryListener = {OnGlobal, OnGlobalRemoved};

static void OnTokenDone(void*, xdg_activation_token_v1*, const char* token) {
  std::snprintf(Token, sizeof Token, "%s", token);
}
static const xdg_activation_token_v1_listener TokenListener = {OnTokenDone};

static uint32_t NowMs() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// The compositor reads the keymap from a file; the US layout of the evdev rules.
static bool SendKeymap() {
  xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  const xkb_rule_names names = {"evdev", "pc105", "us", "", ""};
  xkb_keymap* keymap =
      context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
  char* text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
  bool sent = false;
  if (text) {
    const size_t size = std::strlen(text) + 1;
    const int file = memfd_create("keymap", MFD_CLOEXEC);
    if (file >= 0 && write(file, text, size) == static_cast<ssize_t>(size)) {
      zwp_virtual_keyboard_v1_keymap(Keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, file,
                                     static_cast<uint32_t>(size));
      sent = true;
    }
    if (file >= 0) close(file);
  }
  std::free(text);
  xkb_keymap_unref(keymap);
  xkb_context_unref(context);
  return sent;
}

static bool Key(const char* name, bool down) {
  for (const auto& key : Keys) {
    if (std::strcmp(key.name, name) != 0) continue;
    zwp_virtual_keyboard_v1_key(
        Keyboard, NowMs(), key.code,
        down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
    return true;
  }
  return false;
}

static bool MintToken() {
  if (!Activation) return false;
  Token[0] = '\0';
  xdg_activation_token_v1* token = xdg_activation_v1_get_activation_token(Activation);
  xdg_activation_token_v1_add_listener(token, &TokenListener, nullptr);
  xdg_activation_token_v1_commit(token);
  wl_display_roundtrip(Display);
  xdg_activation_token_v1_destroy(token);
  return Token[0] != '\0';
}

int main() {
  Display = wl_display_connect(nullptr);
  if (!Display) {
    std::fprintf(stderr, "wayland keyboard: no compositor to connect to\n");
    return 1;
  }
  wl_registry* registry = wl_display_get_registry(Display);
  wl_registry_add_listener(registry, &RegistryListener, nullptr);
  wl_display_roundtrip(Display);
  if (!Seat || !KeyboardManager) {
    std::fprintf(stderr, "wayland keyboard: the compositor offers no seat or virtual keyboard\n");
    return 1;
  }
  Keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(KeyboardManager, Seat);
  if (!SendKeymap() || wl_display_roundtrip(Display) < 0) {
    std::fprintf(stderr, "wayland keyboard: the keymap could not be made or sent\n");
    return 1;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::printf("ready\n");
  char line[128];
  while (std::fgets(line, sizeof line, stdin)) {
    line[std::strcspn(line, "\r\n")] = '\0';
    bool done = false;
    if (std::strncmp(line, "down ", 5) == 0)
      done = Key(line + 5, true);
    else if (std::strncmp(line, "up ", 3) == 0)
      done = Key(line + 3, false);
    else if (std::strcmp(line, "token") == 0 && MintToken()) {
      std::printf("token %s\n", Token);
      continue;
    }
    // The answer comes once the compositor has seen the request.
    if (wl_display_roundtrip(Display) < 0) {
      std::printf("error the compositor went away\n");
      return 1;
    }
    std::printf(done ? "ok\n" : "error %s\n", line);
  }
  zwp_virtual_keyboard_v1_destroy(Keyboard);
  wl_display_roundtrip(Display);
  wl_display_disconnect(Display);
  return 0;
}
