#include "WaylandWindow.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <cstring>

#include "idle-inhibit-unstable-v1-client-protocol.h"
#include "xdg-activation-v1-client-protocol.h"

// Three buffers: one on screen, one the compositor may not have let go of
// yet, one to draw into.
constexpr int BufferCount = 3;
constexpr int ReleasePatienceMs = 17;  // about one frame

struct Buffer {
  wl_buffer* buffer;
  uint32_t* pixels;
  bool busy;  // attached, and not released by the compositor yet
};

static wl_display* Connection = nullptr;
static wl_surface* WindowSurface = nullptr;
static wl_event_queue* Queue = nullptr;
static wl_display* QueuedConnection = nullptr;  // the connection, answered on Queue
static wl_registry* Registry = nullptr;
static wl_shm* Shm = nullptr;
static xdg_activation_v1* Activation = nullptr;
static zwp_idle_inhibit_manager_v1* IdleInhibitManager = nullptr;
static zwp_idle_inhibitor_v1* IdleInhibitor = nullptr;
static void* Memory = MAP_FAILED;
static size_t MemorySize = 0;
static Buffer Buffers[BufferCount] = {};
static int Width = 0;
static int Height = 0;
static int Taken = -1;
static bool Started = false;

static void OnGlobal(void*, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
  if (std::strcmp(interface, wl_shm_interface.name) == 0 && !Shm)
    Shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  else if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0 && !Activation)
    Activation = static_cast<xdg_activation_v1*>(
        wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
  else if (std::strcmp(interface, zwp_idle_inhibit_manager_v1_interface.name) == 0 &&
           !IdleInhibitManager)
    IdleInhibitManager = static_cast<zwp_idle_inhibit_manager_v1*>(
        wl_registry_bind(registry, name, &zwp_idle_inhibit_manager_v1_interface, 1));
}
static void OnGlobalRemoved(void*, wl_registry*, uint32_t) {}
static const wl_registry_listener RegistryListener = {OnGlobal, OnGlobalRemoved};

static void OnRelease(void* data, wl_buffer*) { static_cast<Buffer*>(data)->busy = false; }
static const wl_buffer_listener BufferListener = {OnRelease};

static bool MakeBuffers() {
  const int stride = Width * 4;
  const size_t one = static_cast<size_t>(stride) * Height;
  MemorySize = one * BufferCount;
  const int file = memfd_create("tovalinex-window", MFD_CLOEXEC);
  if (file < 0) return false;
  bool made = false;
  if (ftruncate(file, static_cast<off_t>(MemorySize)) == 0) {
    Memory = mmap(nullptr, MemorySize, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0);
    if (Memory != MAP_FAILED) {
      wl_shm_pool* pool = wl_shm_create_pool(Shm, file, static_cast<int32_t>(MemorySize));
      for (int index = 0; index < BufferCount; ++index) {
        Buffer& buffer = Buffers[index];
        buffer.pixels = reinterpret_cast<uint32_t*>(static_cast<char*>(Memory) + one * index);
        buffer.buffer = wl_shm_pool_create_buffer(pool, static_cast<int32_t>(one * index), Width,
                                                  Height, stride, WL_SHM_FORMAT_XRGB8888);
        buffer.busy = false;
        wl_buffer_add_listener(buffer.buffer, &BufferListener, &buffer);
      }
      // The buffers keep the memory; the pool is needed no more.
      wl_shm_pool_destroy(pool);
      made = true;
    }
  }
  close(file);
  return made;
}

bool WaylandStart(SDL_Window* window, int width, int height, const char** why) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_WAYLAND) {
    *why = "SDL gives no Wayland surface for the window";
    return false;
  }
  Connection = info.info.wl.display;
  WindowSurface = info.info.wl.surface;
  Width = width;
  Height = height;
  // Our objects' events go to a queue of our own, which SDL's event loop
  // fills but never dispatches.
  Queue = wl_display_create_queue(Connection);
  QueuedConnection = static_cast<wl_display*>(wl_proxy_create_wrapper(Connection));
  wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(QueuedConnection), Queue);
  Registry = wl_display_get_registry(QueuedConnection);
  wl_registry_add_listener(Registry, &RegistryListener, nullptr);
  if (wl_display_roundtrip_queue(Connection, Queue) < 0) {
    *why = "the connection to the compositor failed";
  } else if (!Shm) {
    *why = "the compositor offers no shared memory (wl_shm)";
  } else if (!MakeBuffers()) {
    *why = "no shared memory for the window's buffers";
  } else {
    Started = true;
    return true;
  }
  WaylandStop();
  return false;
}

bool WaylandStarted() { return Started; }

// Handles what the compositor has sent us, waiting up to `patienceMs` for
// something to arrive when nothing has.
static void ReadEvents(int patienceMs) {
  if (wl_display_dispatch_queue_pending(Connection, Queue) > 0 || patienceMs == 0) return;
  while (wl_display_prepare_read_queue(Connection, Queue) != 0)
    wl_display_dispatch_queue_pending(Connection, Queue);
  wl_display_flush(Connection);
  pollfd descriptor = {wl_display_get_fd(Connection), POLLIN, 0};
  if (poll(&descriptor, 1, patienceMs) > 0)
    wl_display_read_events(Connection);
  else
    wl_display_cancel_read(Connection);
  wl_display_dispatch_queue_pending(Connection, Queue);
}

static int FreeBuffer() {
  for (int index = 0; index < BufferCount; ++index)
    if (!Buffers[index].busy) return index;
  return -1;
}

uint32_t* WaylandTakeBuffer(int* pitch) {
  Taken = -1;
  if (!Started) return nullptr;
  ReadEvents(0);
  if (FreeBuffer() < 0) ReadEvents(ReleasePatienceMs);
  Taken = FreeBuffer();
  if (Taken < 0) return nullptr;
  *pitch = Width * 4;
  return Buffers[Taken].pixels;
}

void WaylandShowBuffer() {
  if (!Started || Taken < 0) return;
  Buffers[Taken].busy = true;
  wl_surface_attach(WindowSurface, Buffers[Taken].buffer, 0, 0);
  wl_surface_damage(WindowSurface, 0, 0, Width, Height);
  wl_surface_commit(WindowSurface);
  wl_display_flush(Connection);
  Taken = -1;
}

void WaylandActivate(const char* token) {
  if (!Started || !Activation || !token || !*token) return;
  xdg_activation_v1_activate(Activation, token, WindowSurface);
  wl_display_flush(Connection);
}

bool WaylandHoldOffIdle(bool hold) {
  if (!Started || !IdleInhibitManager) return false;
  if (hold && !IdleInhibitor)
    IdleInhibitor = zwp_idle_inhibit_manager_v1_create_inhibitor(IdleInhibitManager, WindowSurface);
  if (!hold && IdleInhibitor) {
    zwp_idle_inhibitor_v1_destroy(IdleInhibitor);
    IdleInhibitor = nullptr;
  }
  wl_display_flush(Connection);
  return true;
}

void WaylandStop() {
  for (Buffer& buffer : Buffers) {
    if (buffer.buffer) wl_buffer_destroy(buffer.buffer);
    buffer = Buffer{};
  }
  if (Memory != MAP_FAILED) munmap(Memory, MemorySize);
  Memory = MAP_FAILED;
  if (IdleInhibitor) zwp_idle_inhibitor_v1_destroy(IdleInhibitor);
  if (IdleInhibitManager) zwp_idle_inhibit_manager_v1_destroy(IdleInhibitManager);
  if (Activation) xdg_activation_v1_destroy(Activation);
  if (Shm) wl_shm_destroy(Shm);
  if (Registry) wl_registry_destroy(Registry);
  if (QueuedConnection) wl_proxy_wrapper_destroy(QueuedConnection);
  if (Queue) wl_event_queue_destroy(Queue);
  IdleInhibitor = nullptr;
  IdleInhibitManager = nullptr;
  Activation = nullptr;
  Shm = nullptr;
  Registry = nullptr;
  QueuedConnection = nullptr;
  Queue = nullptr;
  Started = false;
}
