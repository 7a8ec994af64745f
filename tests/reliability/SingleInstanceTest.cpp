// The single instance's claim and hand-over, with each copy a forked child:
// a running copy that never answers, one that closes while a start waits,
// and a name held by another user.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "PosixSingleInstance.h"

namespace {

std::string Identity() {
  static int made = 0;
  return "single instance test\n" + std::to_string(getpid()) + "\n" + std::to_string(++made);
}

double Seconds() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

// A forked copy that claims the identity and exits with the claim's number.
pid_t StartClaim(const std::string& identity) {
  const pid_t child = fork();
  if (child == 0) _exit(static_cast<int>(ClaimInstance(identity.c_str(), nullptr)));
  return child;
}

InstanceClaim ClaimOf(pid_t child) {
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? static_cast<InstanceClaim>(WEXITSTATUS(status))
                           : static_cast<InstanceClaim>(-1);
}

// A forked first copy: claims, says so through the pipe, then runs `then`.
template <typename Then>
pid_t StartFirst(const std::string& identity, Then then) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    const char claimed =
        ClaimInstance(identity.c_str(), nullptr) == InstanceClaim::First ? 'F' : 'x';
    if (write(ready[1], &claimed, 1) != 1) _exit(1);
    _exit(then());
  }
  char claimed = 0;
  const bool first = read(ready[0], &claimed, 1) == 1 && claimed == 'F';
  close(ready[0]);
  close(ready[1]);
  EXPECT_TRUE(first);
  return child;
}

int ExitCode(pid_t child) {
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SingleInstance, ALaterStartHandsOverAndIsAnswered) {
  const std::string identity = Identity();
  const pid_t first = StartFirst(identity, [] {
    for (int pass = 0; pass < 400; ++pass) {
      if (ServeInstancePeers()) return 0;
      usleep(5000);
    }
    return 1;
  });
  EXPECT_EQ(ClaimOf(StartClaim(identity)), InstanceClaim::Other);
  EXPECT_EQ(ExitCode(first), 0) << "the first copy was not asked";
}

TEST(SingleInstance, ACopyThatNeverAnswersEndsEveryStartInBoundedTime) {
  // Hung before its loop (or stopped): it holds the name and serves nobody.
  // More starts than its backlog holds, and none may wait for ever.
  const std::string identity = Identity();
  const pid_t first = StartFirst(identity, [] {
    pause();
    return 0;
  });
  const double started = Seconds();
  std::vector<pid_t> later;
  for (int start = 0; start < 12; ++start) later.push_back(StartClaim(identity));
  for (pid_t start : later) EXPECT_EQ(ClaimOf(start), InstanceClaim::NoAnswer);
  const double took = Seconds() - started;
  EXPECT_GT(took, 2.5);  // the running copy had its patience
  EXPECT_LT(took, 5.0);
  kill(first, SIGKILL);
  waitpid(first, nullptr, 0);
  // Gone, with SIGKILL: the next start is the first copy at once.
  EXPECT_EQ(ClaimOf(StartClaim(identity)), InstanceClaim::First);
}

TEST(SingleInstance, AStartWhileTheCopyClosesTakesOver) {
  // The copy accepted the connection, but closes before it reads the request:
  // the start is told nothing and becomes the first copy, while the closing
  // one is still there.
  const std::string identity = Identity();
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  const pid_t first = StartFirst(identity, [&go] {
    char signal = 0;
    if (read(go[0], &signal, 1) != 1) return 1;
    StopServingInstance();
    sleep(3);  // releasing what it holds
    return 0;
  });
  const pid_t later = StartClaim(identity);
  usleep(200000);  // it has connected and waits for an answer
  ASSERT_EQ(write(go[1], "x", 1), 1);
  const double told = Seconds();
  EXPECT_EQ(ClaimOf(later), InstanceClaim::First);
  EXPECT_LT(Seconds() - told, 1.0);
  EXPECT_EQ(waitpid(first, nullptr, WNOHANG), 0) << "the closing copy was already gone";
  kill(first, SIGKILL);
  waitpid(first, nullptr, 0);
  close(go[0]);
  close(go[1]);
}

TEST(SingleInstance, ANameAnotherUserHoldsIsNoGuardAndNoWait) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const std::string identity = Identity();
  char name[64];
  InstanceName(identity.c_str(), name, sizeof name);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name, std::strlen(name));
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + std::strlen(name));
  // Listening with a full backlog, or bound only: neither can be connected
  // to, so SO_PEERCRED cannot tell whose it is.
  for (const bool listening : {true, false}) {
    SCOPED_TRACE(listening ? "listening, backlog full" : "bound only");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t squatter = fork();
    if (squatter == 0) {
      if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
      const int holder = socket(AF_UNIX, SOCK_STREAM, 0);
      if (bind(holder, reinterpret_cast<sockaddr*>(&address), length) != 0) _exit(2);
      if (listening && listen(holder, 0) != 0) _exit(3);
      if (write(ready[1], "x", 1) != 1) _exit(4);
      pause();
      _exit(0);
    }
    char signal = 0;
    ASSERT_EQ(read(ready[0], &signal, 1), 1);
    std::vector<int> filling;
    for (int index = 0; listening && index < 4; ++index) {
      filling.push_back(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0));
      connect(filling.back(), reinterpret_cast<sockaddr*>(&address), length);
    }
    const double started = Seconds();
    EXPECT_EQ(ClaimOf(StartClaim(identity)), InstanceClaim::Unguarded);
    EXPECT_LT(Seconds() - started, 1.0);
    for (int peer : filling) close(peer);
    kill(squatter, SIGKILL);
    waitpid(squatter, nullptr, 0);
    close(ready[0]);
    close(ready[1]);
  }
}

}  // namespace
