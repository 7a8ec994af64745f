// The start-up yardstick: the least an SDL2 program does to show a 640x480
// window, presented once through the window surface, then waiting until it is
// closed. On X11 the surface is X shared memory, as the framework's; SDL 2.26's
// Wayland driver has only a GL texture behind it.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <cstdio>
#include <cstring>

int main() {
  SDL_SetMainReady();
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "bare_sdl: %s\n", SDL_GetError());
    return 4;
  }
  if (std::strcmp(SDL_GetCurrentVideoDriver(), "wayland") != 0)
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_Window* window =
      SDL_CreateWindow("bare", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 640, 480, 0);
  SDL_Surface* surface = window ? SDL_GetWindowSurface(window) : nullptr;
  if (!surface) {
    std::fprintf(stderr, "bare_sdl: %s\n", SDL_GetError());
    return 4;
  }
  SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 255, 255, 255));
  SDL_UpdateWindowSurface(window);
  SDL_Event event;
  while (SDL_WaitEvent(&event))
    if (event.type == SDL_QUIT) break;
  SDL_DestroyWindow(window);
  SDL_Quit();
  return 0;
}
