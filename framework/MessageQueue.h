// A window-message queue for platforms that have none of their own (the SDL
// desktop, the headless backend, the browser). It keeps the rules a Windows
// queue has and the loop relies on: the posted quit message is taken before
// anything else, queued messages in the order they came, and a requested
// repaint only once nothing else is waiting; a paint satisfies any repaint
// requested before it. Destroying the window posts the quit message through
// the window procedure, so "destroy, then quit" follows by itself.
//
// Linking this file gives a backend PlatformPeekMessage,
// PlatformDispatchMessage, PlatformPostQuitMessage and PlatformInvalidate; the
// backend supplies PumpPlatformEvents.
#pragma once

#include "Shell.h"

struct PlatformWindow;

// Supplied by the backend: turns what its platform delivered since the last
// call into PostWindowMessage calls, without waiting. Called only while the
// queue is empty, before a pending repaint is delivered.
void PumpPlatformEvents();

// Appends a message for the window procedure; false when the queue is full
// (the backend keeps the event and posts it on a later pump).
bool PostWindowMessage(PlatformWindow* window, WindowMessage kind, long long first);
bool WindowMessageQueueFull();
// Closes the window as a user would, once nothing waits: no message queued
// and no repaint pending, so the last frame is presented before the destroy
// message comes. True when the destroy message was posted (a scripted run
// that is over calls this on each pump until it is).
bool PostDestroyWhenIdle(PlatformWindow* window);
// Whether a repaint was requested and no paint has been delivered since.
bool IsRepaintPending();
// Empties the queue and forgets a posted quit and a pending repaint.
void ResetWindowMessages();
