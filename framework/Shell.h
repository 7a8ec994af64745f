// The application shell: start and stop, single instance, the main window and
// its window procedure, and the activation flag.
#pragma once

struct PlatformWindow;

// The messages the window procedure acts on; backends translate theirs.
enum class WindowMessage {
  Destroy,
  Paint,
  ActivateApp,    // first parameter 1 when this application becomes active
  SystemCommand,  // first parameter the command
  Other,
};

constexpr long long ScreenSaveCommand = 0xF140;

// Frames run only while this equals 1.
extern int ActivationFlag;

// 1 when a copy of this program runs already: it was brought forward, or it
// did not answer (the start then ends with ExitNoAnswer); else 0.
int ActivateExistingInstance();
PlatformWindow* CreateMainWindow(int showState);
int GetOuterWidth();
int GetOuterHeight();
void OnActivateApp(long long first, long long second);

// Acts on a message; returns false when the platform's default handling
// should answer it instead, else stores the answer in *result.
bool MainWndProc(PlatformWindow* window, WindowMessage message, long long first, long long second,
                 long long* result);

// Exit codes for starts that could not open a window.
constexpr int ExitNoWindowClass = 3;
constexpr int ExitNoWindow = 4;
constexpr int ExitNoSurface = 5;
constexpr int ExitNoFont = 6;
constexpr int ExitNoPicture = 7;  // the window was made but cannot show its picture
// Exit codes of the desktop backend, for what happens around the window.
constexpr int ExitDisplayLost = 8;  // the display or the window went away while running
constexpr int ExitNoAnswer = 9;     // the running copy did not answer a later start
