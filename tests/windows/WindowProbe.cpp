// Looks at a running program's window from inside Wine, as another Windows
// program sees it, and prints what it finds as key=value lines:
//   window_probe.exe TITLE-IN-HEX
// The title is the program's Shift-JIS caption, hex-encoded so that it passes
// the command line unchanged.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static bool DecodeHex(const char* hex, char* text, size_t size) {
  const size_t length = std::strlen(hex);
  if (length % 2 != 0 || length / 2 >= size) return false;
  for (size_t index = 0; index < length / 2; ++index) {
    char pair[3] = {hex[2 * index], hex[2 * index + 1], 0};
    char* end = nullptr;
    text[index] = static_cast<char>(std::strtoul(pair, &end, 16));
    if (*end != 0) return false;
  }
  text[length / 2] = 0;
  return true;
}

int main(int argc, char** argv) {
  char title[256];
  if (argc != 2 || !DecodeHex(argv[1], title, sizeof title)) {
    std::fprintf(stderr, "usage: window_probe TITLE-IN-HEX\n");
    return 2;
  }
  HWND window = FindWindowA("Tovalinex", title);
  std::printf("found=%d\n", window != nullptr);
  if (!window) return 1;

  std::printf("foreground=%d\n", GetForegroundWindow() == window);
  std::printf("class_style=%lu\n", static_cast<unsigned long>(GetClassLongA(window, GCL_STYLE)));
  std::printf("style=%lu\n", static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)));
  std::printf("extended_style=%lu\n",
              static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)));

  RECT outer = {};
  RECT client = {};
  GetWindowRect(window, &outer);
  GetClientRect(window, &client);
  std::printf("window=%ld,%ld,%ld,%ld\n", outer.left, outer.top, outer.right - outer.left,
              outer.bottom - outer.top);
  std::printf("client=%ld,%ld\n", client.right - client.left, client.bottom - client.top);
  std::printf("metrics=%d,%d,%d,%d,%d\n", GetSystemMetrics(SM_CXSCREEN),
              GetSystemMetrics(SM_CYSCREEN), GetSystemMetrics(SM_CYCAPTION),
              GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYDLGFRAME));

  // The screen-saver command is answered 1 by the program itself; default
  // handling would answer 0. A system command the program leaves to the
  // default procedure (restore, on a window that is not minimised) answers 0.
  std::printf("screen_save=%lld\n",
              static_cast<long long>(SendMessageA(window, WM_SYSCOMMAND, SC_SCREENSAVE, 0)));
  std::printf("restore=%lld\n",
              static_cast<long long>(SendMessageA(window, WM_SYSCOMMAND, SC_RESTORE, 0)));
  return 0;
}
