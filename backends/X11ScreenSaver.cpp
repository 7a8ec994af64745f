#include "X11ScreenSaver.h"

#include <SDL.h>
#include <SDL_syswm.h>

#if TOVALINEX_HAVE_XSS
#include <X11/extensions/scrnsaver.h>
#endif

void LiftScreenSaverSuspension(SDL_Window* window) {
#if TOVALINEX_HAVE_XSS
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11)
    XScreenSaverSuspend(info.info.x11.display, False);
#else
  (void)window;
#endif
}
