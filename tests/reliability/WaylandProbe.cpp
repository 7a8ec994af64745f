// The probe's Wayland part. Every request a Wayland client makes passes
// through wl_proxy_marshal_flags of libwayland-client; this one reads the
// arguments by the request's signature, notes shared-memory pools and
// buffers and the buffer attached to each surface, logs a commit that shows
// a new buffer as a present, and hands the request on unchanged.
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client-core.h>
#include <wayland-client-protocol.h>

#include <cstdlib>
#include <cstring>

#include "ProbeLog.h"

constexpr int MaximumArguments = 20;  // libwayland's own limit
constexpr int Tracked = 32;

struct Pool {
  wl_proxy* proxy = nullptr;  // null once the client destroyed it
  int file = -1;              // a copy of the client's descriptor, to map the pool again on resize
  void* memory = MAP_FAILED;
  size_t size = 0;
};
struct ShmBuffer {
  wl_proxy* proxy;
  const Pool* pool;
  int offset, width, height, stride;
};
struct Attachment {
  wl_proxy* surface;
  wl_proxy* buffer;
};

static Pool Pools[Tracked] = {};
static ShmBuffer Buffers[Tracked] = {};
static Attachment Attached[Tracked] = {};
static int NextPool = 0, NextBuffer = 0, NextAttachment = 0;

// A proxy begins with its wl_object, whose first member is the interface:
// the layout libwayland has kept since 1.0, and the only way to a request's
// signature from here.
static const wl_interface* InterfaceOf(wl_proxy* proxy) {
  return *reinterpret_cast<const wl_interface* const*>(proxy);
}

static bool Is(wl_proxy* proxy, const wl_interface& interface) {
  return std::strcmp(InterfaceOf(proxy)->name, interface.name) == 0;
}

static void MapPool(Pool& pool, size_t size) {
  if (pool.memory != MAP_FAILED) munmap(pool.memory, pool.size);
  pool.memory = mmap(nullptr, size, PROT_READ, MAP_SHARED, pool.file, 0);
  pool.size = size;
}

// Buffers made from a pool keep its memory, so a destroyed pool's mapping
// stays until its slot is taken again.
static void ForgetPool(Pool& pool) {
  if (pool.memory != MAP_FAILED) munmap(pool.memory, pool.size);
  if (pool.file >= 0) close(pool.file);
  pool = Pool{};
  for (ShmBuffer& buffer : Buffers)
    if (buffer.pool == &pool) buffer = ShmBuffer{};
}

template <typename Record>
static Record* Find(Record* records, wl_proxy* proxy) {
  for (int index = 0; index < Tracked; ++index)
    if (records[index].proxy == proxy) return &records[index];
  return nullptr;
}

static Attachment& AttachmentOf(wl_proxy* surface) {
  for (Attachment& attachment : Attached)
    if (attachment.surface == surface) return attachment;
  Attachment& fresh = Attached[NextAttachment++ % Tracked];
  fresh = Attachment{surface, nullptr};
  return fresh;
}

// The picture's one colour, -1 for several, -3 for a buffer not in shared memory we know.
static long BufferColour(wl_proxy* buffer) {
  const ShmBuffer* shm = Find(Buffers, buffer);
  if (!shm || shm->pool->memory == MAP_FAILED ||
      static_cast<size_t>(shm->offset) + static_cast<size_t>(shm->stride) * shm->height >
          shm->pool->size)
    return -3;
  return UniformColour(static_cast<const char*>(shm->pool->memory) + shm->offset, shm->width,
                       shm->height, shm->stride);
}

// What the request means for presents, before it is sent (the pool's
// descriptor is still open) and after (the new object exists).
static void Before(wl_proxy* proxy, uint32_t opcode, const wl_argument* arguments) {
  if (Is(proxy, wl_surface_interface) && opcode == WL_SURFACE_ATTACH) {
    AttachmentOf(proxy).buffer = reinterpret_cast<wl_proxy*>(arguments[0].o);
  } else if (Is(proxy, wl_surface_interface) && opcode == WL_SURFACE_COMMIT) {
    Attachment& attachment = AttachmentOf(proxy);
    if (!attachment.buffer) return;
    const long long now = ProbeNow();
    ProbeLogPresent(now, ProbeChecksColour() ? BufferColour(attachment.buffer) : -2);
    attachment.buffer = nullptr;
  } else if (Is(proxy, wl_shm_pool_interface) && opcode == WL_SHM_POOL_RESIZE) {
    if (Pool* pool = Find(Pools, proxy)) MapPool(*pool, static_cast<size_t>(arguments[0].i));
  } else if (Is(proxy, wl_shm_pool_interface) && opcode == WL_SHM_POOL_DESTROY) {
    if (Pool* pool = Find(Pools, proxy)) pool->proxy = nullptr;
  } else if (Is(proxy, wl_buffer_interface) && opcode == WL_BUFFER_DESTROY) {
    if (ShmBuffer* buffer = Find(Buffers, proxy)) *buffer = ShmBuffer{};
  }
}

static void After(wl_proxy* proxy, uint32_t opcode, const wl_argument* arguments, wl_proxy* made) {
  if (!made) return;
  if (Is(proxy, wl_shm_interface) && opcode == WL_SHM_CREATE_POOL) {
    Pool& pool = Pools[NextPool++ % Tracked];
    ForgetPool(pool);
    pool.file = dup(arguments[1].h);
    if (pool.file < 0) return;
    pool.proxy = made;
    MapPool(pool, static_cast<size_t>(arguments[2].i));
  } else if (Is(proxy, wl_shm_pool_interface) && opcode == WL_SHM_POOL_CREATE_BUFFER) {
    const Pool* pool = Find(Pools, proxy);
    if (!pool) return;
    Buffers[NextBuffer++ % Tracked] =
        ShmBuffer{made, pool, arguments[1].i, arguments[2].i, arguments[3].i, arguments[4].i};
  }
}

extern "C" wl_proxy* wl_proxy_marshal_flags(wl_proxy* proxy, uint32_t opcode,
                                            const wl_interface* interface, uint32_t version,
                                            uint32_t flags, ...) {
  typedef wl_proxy* (*Marshal)(wl_proxy*, uint32_t, const wl_interface*, uint32_t, uint32_t,
                               wl_argument*);
  static Marshal real = reinterpret_cast<Marshal>(dlsym(RTLD_NEXT, "wl_proxy_marshal_array_flags"));
  wl_argument arguments[MaximumArguments] = {};
  int count = 0;
  va_list list;
  va_start(list, flags);
  for (const char* type = InterfaceOf(proxy)->methods[opcode].signature;
       *type && count < MaximumArguments; ++type) {
    switch (*type) {
      case 'i': arguments[count++].i = va_arg(list, int32_t); break;
      case 'u': arguments[count++].u = va_arg(list, uint32_t); break;
      case 'f': arguments[count++].f = va_arg(list, wl_fixed_t); break;
      case 's': arguments[count++].s = va_arg(list, const char*); break;
      case 'o':
      case 'n': arguments[count++].o = va_arg(list, wl_object*); break;
      case 'a': arguments[count++].a = va_arg(list, wl_array*); break;
      case 'h': arguments[count++].h = va_arg(list, int32_t); break;
      default: break;  // the version digits and '?' of a nullable argument
    }
  }
  va_end(list);
  Before(proxy, opcode, arguments);
  wl_proxy* made = real(proxy, opcode, interface, version, flags, arguments);
  After(proxy, opcode, arguments, made);
  return made;
}

extern "C" int memfd_create(const char* name, unsigned int flags) {
  typedef int (*Create)(const char*, unsigned int);
  static Create real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "memfd_create"));
  static const char* refuse = std::getenv("TOVALINEX_PROBE_NO_MEMFD");
  if (refuse && *refuse == '1') {
    errno = ENOMEM;
    return -1;
  }
  return real(name, flags);
}
