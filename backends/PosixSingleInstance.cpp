// The name is the lock. Binding it is atomic, so two starts at the same
// moment leave one first copy; it goes with the socket however the process
// ends (SIGKILL included); and it is no file, so nothing done to a directory
// (removed by a temporary-file cleaner, squatted, made read-only) can take
// it away. Abstract names are open to every user of the network namespace,
// so each end checks the other's user: a name another user holds means the
// guard cannot be had (said once, and the program runs), and a request from
// another user is not served.
#include "PosixSingleInstance.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// A later copy sends "activate\n", or "activate TOKEN\n" with the activation
// token its launcher gave it (printable ASCII, no spaces); the running copy
// answers "ok\n" when it comes forward.
constexpr char ActivateRequest[] = "activate";
constexpr int RequestLength = sizeof ActivateRequest - 1;
constexpr int MaximumTokenLength = 255;
constexpr int MaximumRequestLength = RequestLength + 1 + MaximumTokenLength + 1;
constexpr char AcceptedAnswer[] = "ok\n";
constexpr int MaximumPeers = 8;
constexpr long long PeerPatienceMs = 1000;  // a silent peer is dropped after this
// How long a later start waits for the running copy: one that is still
// starting answers within moments, one that is inactive within a tenth of a
// second. Past this it is stopped or hung.
constexpr long long AnswerPatienceMs = 3000;
constexpr long long RetryMs = 10;

struct Peer {
  int socket;
  long long deadline;
  char received[MaximumRequestLength];
  int length;
};

static int ListenSocket = -1;
static Peer Peers[MaximumPeers] = {};
static int PeerCount = 0;
static char Token[MaximumTokenLength + 1] = {};

static long long NowMs() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// Names are short, so the identity is named by its 64-bit FNV-1a hash, after
// the user: every user of the machine shares the namespace.
void InstanceName(const char* identity, char* name, size_t size) {
  uint64_t hash = 1469598103934665603ULL;
  for (const unsigned char* byte = reinterpret_cast<const unsigned char*>(identity); *byte; ++byte)
    hash = (hash ^ *byte) * 1099511628211ULL;
  std::snprintf(name, size, "tovalinex-%u-%016llx", static_cast<unsigned>(getuid()),
                static_cast<unsigned long long>(hash));
}

static socklen_t InstanceAddress(const char* identity, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  char name[64];
  InstanceName(identity, name, sizeof name);
  // An abstract name: a NUL byte, then the name, without a terminating NUL.
  std::memcpy(address->sun_path + 1, name, std::strlen(name));
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + std::strlen(name));
}

static InstanceClaim RunUnguarded(const char* why) {
  std::fprintf(stderr, "tovalinex: running without the single-instance guard: %s\n", why);
  return InstanceClaim::Unguarded;
}

static InstanceClaim HeldByAnotherUser(unsigned user) {
  char why[96];
  std::snprintf(why, sizeof why, "its name is held by another user (uid %u)", user);
  return RunUnguarded(why);
}

static InstanceClaim NotAnswering(int process) {
  char which[48] = "";
  if (process > 0) std::snprintf(which, sizeof which, " (process %d)", process);
  std::fprintf(stderr,
               "tovalinex: the running copy%s does not answer: it may be stopped (Ctrl+Z) or "
               "hung; no second window is opened\n",
               which);
  return InstanceClaim::NoAnswer;
}

// The user whose socket holds the abstract name, from the kernel's socket
// diagnostics: for a holder that cannot be reached (not listening, or its
// backlog full), where SO_PEERCRED has nothing to tell. False when unknown.
static bool NameOwner(const sockaddr_un& address, socklen_t length, unsigned* owner) {
  const int diagnostics = socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
  if (diagnostics < 0) return false;
  struct {
    nlmsghdr header;
    unix_diag_req request;
  } query = {};
  query.header.nlmsg_len = sizeof query;
  query.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  query.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  query.request.sdiag_family = AF_UNIX;
  query.request.udiag_states = ~0U;
  query.request.udiag_show = UDIAG_SHOW_NAME | UDIAG_SHOW_UID;
  const size_t nameLength = length - offsetof(sockaddr_un, sun_path);
  bool found = false;
  bool done = send(diagnostics, &query, sizeof query, 0) != static_cast<ssize_t>(sizeof query);
  alignas(nlmsghdr) static char reply[32768];
  while (!done && !found) {
    ssize_t left = recv(diagnostics, reply, sizeof reply, 0);
    if (left <= 0) break;
    for (nlmsghdr* message = reinterpret_cast<nlmsghdr*>(reply); NLMSG_OK(message, left);
         message = NLMSG_NEXT(message, left)) {
      if (message->nlmsg_type != SOCK_DIAG_BY_FAMILY) {
        done = true;  // the end of the dump, or an error
        break;
      }
      const unix_diag_msg* described = static_cast<const unix_diag_msg*>(NLMSG_DATA(message));
      int attributesLength = static_cast<int>(message->nlmsg_len - NLMSG_LENGTH(sizeof *described));
      bool named = false;
      bool owned = false;
      uint32_t user = 0;
      for (rtattr* attribute = reinterpret_cast<rtattr*>(const_cast<unix_diag_msg*>(described + 1));
           RTA_OK(attribute, attributesLength); attribute = RTA_NEXT(attribute, attributesLength)) {
        if (attribute->rta_type == UNIX_DIAG_NAME)
          named = RTA_PAYLOAD(attribute) == nameLength &&
                  std::memcmp(RTA_DATA(attribute), address.sun_path, nameLength) == 0;
        if (attribute->rta_type == UNIX_DIAG_UID && RTA_PAYLOAD(attribute) >= sizeof user) {
          std::memcpy(&user, RTA_DATA(attribute), sizeof user);
          owned = true;
        }
      }
      if (named && owned) {
        *owner = user;
        found = true;
        break;
      }
    }
  }
  close(diagnostics);
  return found;
}

enum class Answer {
  Accepted,  // it comes forward
  Closed,    // it hung up without accepting: it is closing
  Busy,      // it cannot be reached now
  Foreign,   // another user holds the name
  Silent,    // connected, but no answer in time
};

static Answer AwaitAnswer(int peer, long long giveUp) {
  char received[sizeof AcceptedAnswer - 1];
  size_t length = 0;
  for (;;) {
    const long long left = giveUp - NowMs();
    if (left <= 0) return Answer::Silent;
    pollfd readable = {peer, POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(left)) <= 0) continue;
    const ssize_t got = recv(peer, received + length, sizeof received - length, 0);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (got <= 0) return Answer::Closed;
    length += static_cast<size_t>(got);
    if (std::memcmp(received, AcceptedAnswer, length) != 0) return Answer::Closed;
    if (length == sizeof received) return Answer::Accepted;
  }
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

// Asks the holder of the name to come forward; never blocks past `giveUp`.
static Answer AskHolder(const sockaddr_un& address, socklen_t length, const char* token,
                        long long giveUp, ucred* holder) {
  const int peer = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (peer < 0) return Answer::Busy;
  socklen_t credentialsLength = sizeof *holder;
  char request[MaximumRequestLength + 1];
  const int requestLength = MakeRequest(token, request);
  Answer answer = Answer::Busy;
  // A Unix socket connects at once or not at all: EAGAIN is a full backlog.
  if (connect(peer, reinterpret_cast<const sockaddr*>(&address), length) != 0)
    answer = Answer::Busy;
  else if (getsockopt(peer, SOL_SOCKET, SO_PEERCRED, holder, &credentialsLength) != 0 ||
           holder->uid != getuid())
    answer = Answer::Foreign;
  else if (send(peer, request, requestLength, MSG_NOSIGNAL) != static_cast<ssize_t>(requestLength))
    answer = Answer::Closed;
  else
    answer = AwaitAnswer(peer, giveUp);
  close(peer);
  return answer;
}

InstanceClaim ClaimInstance(const char* identity, const char* activationToken) {
  sockaddr_un address;
  const socklen_t length = InstanceAddress(identity, &address);
  const long long giveUp = NowMs() + AnswerPatienceMs;
  bool ownerAsked = false;
  for (;;) {
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener < 0) return RunUnguarded(std::strerror(errno));
    if (bind(listener, reinterpret_cast<const sockaddr*>(&address), length) == 0 &&
        listen(listener, MaximumPeers) == 0) {
      ListenSocket = listener;
      return InstanceClaim::First;
    }
    const int error = errno;
    close(listener);
    if (error != EADDRINUSE) return RunUnguarded(std::strerror(error));
    ucred holder = {};
    const Answer answer = AskHolder(address, length, activationToken, giveUp, &holder);
    if (answer == Answer::Accepted) return InstanceClaim::Other;
    if (answer == Answer::Foreign) return HeldByAnotherUser(holder.uid);
    if (answer == Answer::Silent) return NotAnswering(holder.pid);
    unsigned owner = 0;
    if (answer == Answer::Busy && !ownerAsked) {
      ownerAsked = true;
      if (NameOwner(address, length, &owner) && owner != getuid()) return HeldByAnotherUser(owner);
    }
    // Closed: it let go of the name, or soon will; Busy: it may accept in a moment.
    if (NowMs() >= giveUp) return NotAnswering(0);
    usleep(RetryMs * 1000);
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

static bool SameUser(int peer) {
  ucred credentials = {};
  socklen_t length = sizeof credentials;
  return getsockopt(peer, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
         credentials.uid == getuid();
}

bool ServeInstancePeers() {
  if (ListenSocket < 0) return false;
  for (;;) {
    const int peer = accept4(ListenSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (peer < 0) break;
    if (!SameUser(peer)) {
      close(peer);
      continue;
    }
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
        // A few bytes into an empty socket never block; a peer gone needs no answer.
        send(peer.socket, AcceptedAnswer, sizeof AcceptedAnswer - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
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

void StopServingInstance() {
  if (ListenSocket >= 0) close(ListenSocket);
  ListenSocket = -1;
  // Peers still waiting are hung up on, unanswered: they take over themselves.
  while (PeerCount > 0) DropPeer(PeerCount - 1);
}
