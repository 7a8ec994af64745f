// The native Windows backend: a Win32 window and message loop, GDI device-
// independent bitmaps as the surfaces and GDI text in a Japanese Gothic face.
// Texts stay Shift-JIS end to end: the caption, the instance lookup, the
// message box and the rendered strings all go through the ANSI ("A") calls,
// which read them in the system's code page 932.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <ctime>

#include "Display.h"
#include "FrameLoop.h"
#include "Platform.h"
#include "Shell.h"
#include "Surface.h"

// Switches the input method off for one window. It lives in user32 but not
// every SDK's headers declare it.
extern "C" BOOL WINAPI WINNLSEnableIME(HWND window, BOOL enable);

struct PlatformWindow {
  HWND handle;
  PAINTSTRUCT paint;
  HDC paintContext;  // what the last BeginPaint returned
};

struct PlatformSurface {
  BITMAPINFO description;
  HBITMAP bitmap;
  HBITMAP previousBitmap;
  HDC context;
  bool used;
};

constexpr char WindowClassName[] = "Tovalinex";
constexpr DWORD MainWindowStyle = 0x00CA0000;  // caption, system menu, minimise box
constexpr UINT RedrawOnResize = CS_HREDRAW | CS_VREDRAW;
constexpr char FontFace[] = "ＭＳ ゴシック";
constexpr int FontHeight = 16;
constexpr int FontWidth = 8;

static HINSTANCE Instance = nullptr;
static PlatformWindow MainWindow = {};
// The back buffer and the text strip: the only two surfaces ever made.
static PlatformSurface SurfaceRecords[2] = {};
// One font for every text: each text would get an identical one anyway.
static HFONT TextFont = nullptr;

static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM first, LPARAM second);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showState) {
  Instance = instance;
  return ApplicationMain(showState);
}

// --- Clock ---
bool PlatformCounterFrequency(int64_t* ticksPerSecond) {
  LARGE_INTEGER frequency = {};
  if (!QueryPerformanceFrequency(&frequency)) return false;
  *ticksPerSecond = frequency.QuadPart;
  return true;
}

int64_t PlatformCounter() {
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

int64_t PlatformMilliseconds() { return static_cast<int64_t>(GetTickCount64()); }
void PlatformYield() { Sleep(0); }
long long PlatformCalendarSeconds() { return static_cast<long long>(std::time(nullptr)); }

// --- Window ---
void PlatformGetMetrics(WindowMetrics* metrics) {
  metrics->screenWidth = GetSystemMetrics(SM_CXSCREEN);
  metrics->screenHeight = GetSystemMetrics(SM_CYSCREEN);
  metrics->captionHeight = GetSystemMetrics(SM_CYCAPTION);
  metrics->frameWidth = GetSystemMetrics(SM_CXDLGFRAME);
  metrics->frameHeight = GetSystemMetrics(SM_CYDLGFRAME);
}

// Two copies started at the same moment could both miss the other's window,
// so a named mutex, taken before any window exists, settles which one runs;
// the later copy then waits briefly for the first one's window to appear.
RunningCopy PlatformActivateExistingInstance(const char* title) {
  unsigned hash = 2166136261u;
  for (const unsigned char* byte = reinterpret_cast<const unsigned char*>(title); *byte; ++byte)
    hash = (hash ^ *byte) * 16777619u;
  char name[64];
  wsprintfA(name, "Local\\Tovalinex-%08x", hash);
  const HANDLE guard = CreateMutexA(nullptr, FALSE, name);  // held until the process ends
  const bool first = guard != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
  HWND running = FindWindowA(WindowClassName, title);
  for (int attempt = 0; !first && !running && attempt < 150; ++attempt) {
    Sleep(20);
    running = FindWindowA(WindowClassName, title);
  }
  if (!running && first) return RunningCopy::None;
  if (!running) {
    // The copy holding the mutex never showed its window: hung, or stopped.
    PlatformReportFailure("a copy of this program is running but does not answer");
    return RunningCopy::NotAnswering;
  }
  if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
  SetForegroundWindow(running);
  return RunningCopy::BroughtForward;
}

bool PlatformRegisterWindowClass() {
  WNDCLASSA windowClass = {};
  windowClass.style = RedrawOnResize;
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = Instance;
  windowClass.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  windowClass.lpszClassName = WindowClassName;
  return RegisterClassA(&windowClass) != 0;
}

// Writes a Shift-JIS text to stderr as UTF-8, which is what a terminal reads.
static void WriteShiftJisLine(const char* text) {
  wchar_t wide[512] = {};
  char utf8[1024] = {};
  if (MultiByteToWideChar(932, 0, text, -1, wide, 512) > 0 &&
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr) > 0)
    std::fprintf(stderr, "%s\n", utf8);
  else
    std::fprintf(stderr, "%s\n", text);
}

void PlatformShowMessageBox(const char* text, const char* caption) {
  std::fprintf(stderr, "tovalinex: ");
  WriteShiftJisLine(text);
  OutputDebugStringA(text);
  MessageBoxA(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

void PlatformReportFailure(const char* message) {
  std::fprintf(stderr, "tovalinex: %s\n", message);
  OutputDebugStringA("tovalinex: ");
  OutputDebugStringA(message);
  OutputDebugStringA("\n");
}

PlatformWindow* PlatformCreateWindow(const char* title, int x, int y, int outerWidth,
                                     int outerHeight, int showState) {
  HWND window = CreateWindowExA(0, WindowClassName, title, MainWindowStyle, x, y, outerWidth,
                                outerHeight, nullptr, nullptr, Instance, nullptr);
  if (!window) {
    char message[96];
    std::snprintf(message, sizeof message, "the window could not be created (error %lu)",
                  static_cast<unsigned long>(GetLastError()));
    PlatformReportFailure(message);
    return nullptr;
  }
  MainWindow.handle = window;
  WINNLSEnableIME(window, FALSE);
  SetFocus(window);
  ShowWindow(window, showState);
  UpdateWindow(window);  // the first paint, before the surfaces exist
  return &MainWindow;
}

// Hands the four messages the shell acts on to it; all else, and whatever it
// declines, goes to the default window procedure.
static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM first, LPARAM second) {
  // Messages sent while CreateWindowExA runs arrive before it returns the handle.
  if (!MainWindow.handle) MainWindow.handle = window;
  WindowMessage kind = WindowMessage::Other;
  switch (message) {
    case WM_DESTROY: kind = WindowMessage::Destroy; break;
    case WM_PAINT: kind = WindowMessage::Paint; break;
    case WM_ACTIVATEAPP: kind = WindowMessage::ActivateApp; break;
    case WM_SYSCOMMAND: kind = WindowMessage::SystemCommand; break;
    default: return DefWindowProcA(window, message, first, second);
  }
  long long result = 0;
  if (MainWndProc(&MainWindow, kind, static_cast<long long>(first), static_cast<long long>(second),
                  &result))
    return static_cast<LRESULT>(result);
  return DefWindowProcA(window, message, first, second);
}

// --- Messages ---
static_assert(sizeof(MSG) <= sizeof(PlatformMessage::native), "MSG does not fit the record");

bool PlatformPeekMessage(PlatformMessage* message) {
  MSG* native = reinterpret_cast<MSG*>(message->native);
  if (!PeekMessageA(native, nullptr, 0, 0, PM_REMOVE)) return false;
  message->quit = native->message == WM_QUIT;
  message->exitCode = message->quit ? static_cast<int>(native->wParam) : 0;
  return true;
}

void PlatformDispatchMessage(PlatformMessage* message) {
  MSG* native = reinterpret_cast<MSG*>(message->native);
  TranslateMessage(native);
  DispatchMessageA(native);
}

void PlatformWaitMessage() { WaitMessage(); }
void PlatformPostQuitMessage(int exitCode) { PostQuitMessage(exitCode); }
void PlatformInvalidate(PlatformWindow* window) { InvalidateRect(window->handle, nullptr, FALSE); }

// --- Surfaces and presenting ---
bool PlatformCreateSurface(PlatformWindow* window, Surface* surface) {
  PlatformSurface* record = nullptr;
  for (PlatformSurface& candidate : SurfaceRecords)
    if (!candidate.used) {
      record = &candidate;
      break;
    }
  if (!record) return false;
  *record = PlatformSurface{};
  record->used = true;
  surface->native = record;

  BITMAPINFOHEADER& header = record->description.bmiHeader;
  header.biSize = sizeof(BITMAPINFOHEADER);  // 40
  header.biWidth = surface->width;
  header.biHeight = surface->height;  // positive: the bottom row comes first in memory
  header.biPlanes = 1;
  header.biBitCount = 32;
  header.biCompression = BI_RGB;

  HDC windowContext = GetDC(window->handle);
  void* pixels = nullptr;
  record->bitmap =
      CreateDIBSection(windowContext, &record->description, DIB_RGB_COLORS, &pixels, nullptr, 0);
  record->context = CreateCompatibleDC(windowContext);
  if (record->context && record->bitmap) {
    record->previousBitmap = static_cast<HBITMAP>(SelectObject(record->context, record->bitmap));
    SetBkMode(record->context, TRANSPARENT);  // text fills nothing behind its glyphs
  }
  ReleaseDC(window->handle, windowContext);
  surface->pixels = static_cast<uint32_t*>(pixels);
  return record->bitmap && record->context && pixels;
}

void PlatformReleaseSurface(Surface* surface) {
  PlatformSurface* record = surface->native;
  if (!record) return;
  if (record->context) {
    if (record->previousBitmap) SelectObject(record->context, record->previousBitmap);
    DeleteDC(record->context);
  }
  if (record->bitmap) DeleteObject(record->bitmap);
  *record = PlatformSurface{};
}

void PlatformBeginPaint(PlatformWindow* window) {
  window->paintContext = BeginPaint(window->handle, &window->paint);
}

void PlatformPresent(PlatformWindow* window, const Surface* surface, int width, int height) {
  if (!window->paintContext || !surface->native) return;
  BitBlt(window->paintContext, 0, 0, width, height, surface->native->context, 0, 0, SRCCOPY);
}

void PlatformEndPaint(PlatformWindow* window) {
  EndPaint(window->handle, &window->paint);
  // The copy must have read the back buffer before the next frame clears it.
  GdiFlush();
}

// --- Text ---
bool PlatformInitText() { return true; }  // GDI always finds some face for the name

int PlatformRenderText(Surface* strip, const char* text, int length) {
  if (!strip->native || !strip->native->context) return -1;
  if (!TextFont)
    TextFont = CreateFontA(FontHeight, FontWidth, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                           SHIFTJIS_CHARSET, 0, 0, 0, 0, FontFace);
  if (!TextFont) return -1;
  HDC context = strip->native->context;
  HGDIOBJ previousFont = SelectObject(context, TextFont);
  SetTextColor(context, RGB(0, 0, 0));
  TextOutA(context, 0, 0, text, length);
  // Glyphs may reach a little past the advance; one wide cell of margin covers that.
  SIZE extent = {};
  int touched = strip->width;
  if (GetTextExtentPoint32A(context, text, length, &extent)) touched = extent.cx + 2 * FontWidth;
  SelectObject(context, previousFont);
  GdiFlush();  // the core reads the strip's pixels next
  return touched < strip->width ? touched : strip->width;
}

// --- Keyboard ---
// GetKeyState already answers with the state as of the key messages taken so
// far, and none are taken during GameFrame: there is nothing to copy.
void PlatformTakeKeySnapshot() {}
bool PlatformKeyHeld(VirtualKey key) { return (GetKeyState(key) & 0x80) != 0; }
