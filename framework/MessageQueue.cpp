#include "MessageQueue.h"

#include "Platform.h"

namespace {

struct QueuedMessage {
  PlatformWindow* window;
  WindowMessage kind;
  long long first;
};
static_assert(sizeof(QueuedMessage) <= sizeof(PlatformMessage::native),
              "a queued message must fit the message record");

constexpr int QueueCapacity = 128;
QueuedMessage Queue[QueueCapacity] = {};
int QueueHead = 0;
int QueueLength = 0;
bool QuitPosted = false;
int QuitCode = 0;
PlatformWindow* RepaintWindow = nullptr;  // set while a repaint is pending

bool TakeQueued(PlatformMessage* message) {
  if (QueueLength == 0) return false;
  *reinterpret_cast<QueuedMessage*>(message->native) = Queue[QueueHead];
  QueueHead = (QueueHead + 1) % QueueCapacity;
  --QueueLength;
  return true;
}

}  // namespace

bool PostWindowMessage(PlatformWindow* window, WindowMessage kind, long long first) {
  if (QueueLength == QueueCapacity) return false;
  Queue[(QueueHead + QueueLength) % QueueCapacity] = QueuedMessage{window, kind, first};
  ++QueueLength;
  return true;
}

bool WindowMessageQueueFull() { return QueueLength == QueueCapacity; }

bool PostDestroyWhenIdle(PlatformWindow* window) {
  if (QueueLength > 0 || RepaintWindow) return false;
  return PostWindowMessage(window, WindowMessage::Destroy, 0);
}
bool IsRepaintPending() { return RepaintWindow != nullptr; }

void ResetWindowMessages() {
  QueueHead = QueueLength = 0;
  QuitPosted = false;
  QuitCode = 0;
  RepaintWindow = nullptr;
}

bool PlatformPeekMessage(PlatformMessage* message) {
  message->quit = false;
  message->exitCode = 0;
  if (QuitPosted) {
    QuitPosted = false;
    message->quit = true;
    message->exitCode = QuitCode;
    return true;
  }
  if (TakeQueued(message)) return true;
  PumpPlatformEvents();
  if (TakeQueued(message)) return true;
  if (!RepaintWindow) return false;
  *reinterpret_cast<QueuedMessage*>(message->native) =
      QueuedMessage{RepaintWindow, WindowMessage::Paint, 0};
  return true;
}

void PlatformDispatchMessage(PlatformMessage* message) {
  const QueuedMessage* queued = reinterpret_cast<const QueuedMessage*>(message->native);
  if (queued->kind == WindowMessage::Paint) RepaintWindow = nullptr;
  long long result = 0;
  MainWndProc(queued->window, queued->kind, queued->first, 0, &result);
}

void PlatformPostQuitMessage(int exitCode) {
  QuitPosted = true;
  QuitCode = exitCode;
}

void PlatformInvalidate(PlatformWindow* window) { RepaintWindow = window; }
