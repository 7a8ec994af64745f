// The shared window-message queue, with the window procedure and the
// platform's events faked: the order in which the loop sees messages.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MessageQueue.h"
#include "Platform.h"

namespace {

std::vector<std::string> Seen;        // what reached the window procedure
std::vector<WindowMessage> Arriving;  // what the platform delivers at the next pump
int Pumps = 0;
PlatformWindow* const Window = reinterpret_cast<PlatformWindow*>(0x1000);

const char* Name(WindowMessage kind) {
  switch (kind) {
    case WindowMessage::Destroy: return "destroy";
    case WindowMessage::Paint: return "paint";
    case WindowMessage::ActivateApp: return "activate";
    case WindowMessage::SystemCommand: return "command";
    case WindowMessage::Other: return "other";
  }
  return "?";
}

// Takes and dispatches messages until the queue is empty or quit comes, as one
// pass of the loop does.
std::vector<std::string> DrainPass() {
  Seen.clear();
  PlatformMessage message = {};
  while (PlatformPeekMessage(&message)) {
    if (message.quit) {
      Seen.push_back("quit " + std::to_string(message.exitCode));
      break;
    }
    PlatformDispatchMessage(&message);
  }
  return Seen;
}

class MessageQueue : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetWindowMessages();
    Arriving.clear();
    Pumps = 0;
  }
};

}  // namespace

bool MainWndProc(PlatformWindow* window, WindowMessage message, long long first, long long,
                 long long* result) {
  EXPECT_EQ(window, Window);
  Seen.push_back(std::string(Name(message)) + " " + std::to_string(first));
  *result = 0;
  return true;
}

void PumpPlatformEvents() {
  ++Pumps;
  for (WindowMessage kind : Arriving) PostWindowMessage(Window, kind, 7);
  Arriving.clear();
}

TEST_F(MessageQueue, PostedFirstThenThePlatformsEventsThenTheRepaint) {
  PlatformInvalidate(Window);
  PostWindowMessage(Window, WindowMessage::ActivateApp, 0);
  PostWindowMessage(Window, WindowMessage::ActivateApp, 1);
  Arriving = {WindowMessage::SystemCommand};
  const std::vector<std::string> expected = {"activate 0", "activate 1", "command 7", "paint 0"};
  EXPECT_EQ(DrainPass(), expected);
  // The platform is asked only once the queue is empty: after the two posted
  // messages, after its own, and after the paint.
  EXPECT_EQ(Pumps, 3);
  EXPECT_EQ(DrainPass(), std::vector<std::string>{});
}

TEST_F(MessageQueue, TheQuitMessageOvertakesEverything) {
  PlatformInvalidate(Window);
  PostWindowMessage(Window, WindowMessage::ActivateApp, 1);
  PlatformPostQuitMessage(9);
  EXPECT_EQ(DrainPass(), std::vector<std::string>{"quit 9"});
  // It is taken once; what waited is still there.
  const std::vector<std::string> rest = {"activate 1", "paint 0"};
  EXPECT_EQ(DrainPass(), rest);
}

TEST_F(MessageQueue, APaintSatisfiesTheRepaintRequestedBeforeIt) {
  PlatformInvalidate(Window);
  Arriving = {WindowMessage::Paint};  // the window was exposed meanwhile
  EXPECT_EQ(DrainPass(), std::vector<std::string>{"paint 7"});
  EXPECT_FALSE(IsRepaintPending());
  // A repaint requested during the pass (as each frame does) waits for the next.
  PlatformInvalidate(Window);
  EXPECT_TRUE(IsRepaintPending());
  EXPECT_EQ(DrainPass(), std::vector<std::string>{"paint 0"});
}

TEST_F(MessageQueue, AFullQueueRefusesMoreAndKeepsWhatItHas) {
  int accepted = 0;
  while (PostWindowMessage(Window, WindowMessage::Other, accepted)) ++accepted;
  EXPECT_TRUE(WindowMessageQueueFull());
  EXPECT_GE(accepted, 64);
  const std::vector<std::string> seen = DrainPass();
  ASSERT_EQ(static_cast<int>(seen.size()), accepted);
  EXPECT_EQ(seen.front(), "other 0");
  EXPECT_EQ(seen.back(), "other " + std::to_string(accepted - 1));
  EXPECT_FALSE(WindowMessageQueueFull());
}
