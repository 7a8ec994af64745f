#include "PosixSingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A later copy sends "activate\n", or "activate TOKEN\n" with the activation
// token its launcher gave it (printable ASCII, no spaces).
constexpr char ActivateRequest[] = "activate";
constexpr int RequestLength = sizeof ActivateRequest - 1;
constexpr int MaximumTokenLength = 255;
constexpr int MaximumRequestLength = RequestLength + 1 + MaximumTokenLength + 1;
constexpr int MaximumPeers = 8;
constexpr long long PeerPatienceMs = 1000;  // a silent peer is dropped after this
constexpr long long ConnectPatienceMs = 3000;

struct Peer {
  int socket;
  long long deadline;
  char received[MaximumRequestLength];
  int length;
};

static char Directory[256] = {};
static int LockFile = -1;
static int ListenSocket = -1;
static Peer Peers[MaximumPeers] = {};
static int PeerCount = 0;
static char Token[MaximumTokenLength + 1] = {};

static long long NowMs() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// A directory only this user can reach: the session's runtime directory, or
// one of our own under /tmp. Anything else could be shared or hijacked.
static bool PrivateDirectory(const char* path) {
  struct stat info = {};
  return lstat(path, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == getuid() &&
         (info.st_mode & 077) == 0;
}

static bool FindDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  // Socket paths hold at most 107 bytes; ours add 32 to the directory.
  if (runtime && *runtime && std::strlen(runtime) < 70 && PrivateDirectory(runtime)) {
    std::snprintf(Directory, sizeof Directory, "%s", runtime);
    return true;
  }
  std::snprintf(Directory, sizeof Directory, "/tmp/tovalinex-%u", static_cast<unsigned>(getuid()));
  mkdir(Directory, 0700);
  return PrivateDirectory(Directory);
}

// Socket paths are short, so the identity is named by its 64-bit FNV-1a hash.
static void IdentityPath(const char* identity, const char* suffix, char* path, size_t size) {
  uint64_t hash = 1469598103934665603ULL;
  for (const unsigned char* byte = reinterpret_cast<const unsigned char*>(identity); *byte; ++byte)
    hash = (hash ^ *byte) * 1099511628211ULL;
  std::snprintf(path, size, "%s/tovalinex-%016llx.%s", Directory,
                static_cast<unsigned long long>(hash), suffix);
}

static bool SocketAddress(const char* identity, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  char path[sizeof Directory + 64];
  IdentityPath(identity, "sock", path, sizeof path);
  if (std::strlen(path) >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path, std::strlen(path) + 1);
  return true;
}

static bool Listen(const char* identity) {
  sockaddr_un address;
  if (!SocketAddress(identity, &address)) return false;
  // We hold the lock, so a socket file left here belongs to a copy that died.
  unlink(address.sun_path);
  ListenSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (ListenSocket < 0) return false;
  if (bind(ListenSocket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(ListenSocket, MaximumPeers) != 0) {
    close(ListenSocket);
    ListenSocket = -1;
    return false;
  }
  return true;
}

static bool TokenCharacter(char character) { return character > ' ' && character <= '~'; }

// The request, with the token if it is one we may pass on.
static int MakeRequest(const char* token, char* request) {
  size_t tokenLength = token ? std::strlen(token) : 0;
  for (size_t index = 0; index < tokenLength; ++index)
    if (!TokenCharacter(token[index])) tokenLength = 0;
  if (tokenLength == 0 || tokenLength > MaximumTokenLength)
    return std::snprintf(request, MaximumRequestLength + 1, "%s\n", ActivateRequest);
  return std::snprintf(request, MaximumRequestLength + 1, "%s %s\n", ActivateRequest, token);
}

static bool AskFirstToComeForward(const char* identity, const char* token) {
  sockaddr_un address;
  if (!SocketAddress(identity, &address)) return false;
  const int peer = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (peer < 0) return false;
  char request[MaximumRequestLength + 1];
  const int length = MakeRequest(token, request);
  bool sent = false;
  if (connect(peer, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
    sent = send(peer, request, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
  close(peer);
  return sent;
}

InstanceClaim ClaimInstance(const char* identity, const char* activationToken) {
  if (!FindDirectory()) return InstanceClaim::Unguarded;
  char path[sizeof Directory + 64];
  IdentityPath(identity, "lock", path, sizeof path);
  LockFile = open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (LockFile < 0) return InstanceClaim::Unguarded;
  // The lock goes with the process, however it ends, so a copy killed with
  // SIGKILL never blocks the next start.
  const long long giveUp = NowMs() + ConnectPatienceMs;
  for (;;) {
    if (flock(LockFile, LOCK_EX | LOCK_NB) == 0) {
      if (!Listen(identity))
        std::fprintf(stderr, "tovalinex: cannot listen for later copies in %s\n", Directory);
      return InstanceClaim::First;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) return InstanceClaim::Unguarded;
    // The holder may not be listening yet; it will be within moments.
    if (AskFirstToComeForward(identity, activationToken) || NowMs() > giveUp)
      return InstanceClaim::Other;
    usleep(20000);
  }
}

enum class RequestState { Partial, Complete, Garbage };

// Checks the bytes from `start` to `length` that just arrived.
static RequestState ReadRequest(const char* received, int start, int length) {
  for (int at = start; at < length; ++at) {
    const char byte = received[at];
    if (at < RequestLength) {
      if (byte != ActivateRequest[at]) return RequestState::Garbage;
    } else if (byte == '\n') {
      // "activate\n", or a space and at least one token character before it.
      return at == RequestLength || at > RequestLength + 1 ? RequestState::Complete
                                                           : RequestState::Garbage;
    } else if (at == RequestLength ? byte != ' ' : !TokenCharacter(byte)) {
      return RequestState::Garbage;
    }
  }
  return length < MaximumRequestLength ? RequestState::Partial : RequestState::Garbage;
}

// Keeps the token of a complete request, whatever may follow its newline.
static void TakeToken(const char* request, int length) {
  const char* end = static_cast<const char*>(std::memchr(request, '\n', length));
  const int tokenStart = RequestLength + 1;
  const int tokenLength =
      end && end - request > tokenStart ? static_cast<int>(end - request) - tokenStart : 0;
  std::memcpy(Token, request + tokenStart, tokenLength);
  Token[tokenLength] = '\0';
}

static void DropPeer(int index) {
  close(Peers[index].socket);
  Peers[index] = Peers[--PeerCount];
}

bool ServeInstancePeers() {
  if (ListenSocket < 0) return false;
  for (;;) {
    const int peer = accept4(ListenSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (peer < 0) break;
    if (PeerCount == MaximumPeers) DropPeer(0);  // the oldest makes room
    Peers[PeerCount++] = Peer{peer, NowMs() + PeerPatienceMs, {}, 0};
  }
  bool asked = false;
  const long long now = NowMs();
  for (int index = PeerCount - 1; index >= 0; --index) {
    Peer& peer = Peers[index];
    const int room = MaximumRequestLength - peer.length;
    const ssize_t got = recv(peer.socket, peer.received + peer.length, room, MSG_DONTWAIT);
    if (got > 0) {
      const int start = peer.length;
      peer.length += static_cast<int>(got);
      const RequestState state = ReadRequest(peer.received, start, peer.length);
      if (state == RequestState::Complete) {
        asked = true;
        TakeToken(peer.received, peer.length);
      }
      if (state != RequestState::Partial) DropPeer(index);  // done, or not one of ours
    } else if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
               now > peer.deadline) {
      DropPeer(index);
    }
  }
  return asked;
}

const char* InstanceActivationToken() { return Token; }
