// Lunetrix: the application's own state and procedures around the lens, grouped by the file
// that defines them.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "lens.h"
#include "screen_capture.h"
#include "startup.h"

// The window's geometry and the loop's wait, as lifecycle.cpp opens and runs them.
constexpr int32_t WindowLeft = 100, WindowTop = 100;      // outer top-left corner at opening
constexpr int32_t ClientWidth = 520, ClientHeight = 220;  // client area of the window
constexpr uint32_t WindowFlags = WS_CAPTION | WS_SYSMENU;  // a caption with the close box
constexpr int32_t GadgetX = 10, GadgetY = 10;             // image gadget in the client area
constexpr int32_t DefaultGadgetOffsetX = 13;              // outer corner to gadget, on Windows
constexpr int32_t DefaultGadgetOffsetY = 39;
constexpr int32_t FrameWaitMs = 10;                       // each wait for an event

// The application's process-wide variables, cleared as the entry point's first step; lifecycle.cpp
// holds them.
struct AppState {
  int32_t mainWindow;    // number of the window; 0 when it could not be opened
  int32_t displayImage;  // number of the 500 × 200 image that takes captures and frames
  int32_t imageGadget;   // number of the image gadget that shows displayImage
  volatile int32_t renderBusy;  // 1 while a frame is being rendered: drops re-entrant requests
  int32_t lastEvent;     // what the last wait returned
  int32_t quitFlag;      // 1 once the close event has arrived
};
extern AppState app;

// lifecycle.cpp: start-up in its fixed order, the window, the main loop and the end.

// The whole program: the lens folder from its command line (ChooseLensFolder), PrepareLunetrix,
// the main loop, the end; the process exits with code 0.
[[noreturn]] void LunetrixMain(void);
// Makes the lens folder that commandLine names after the program current, so that the pictures
// load from there: true when the pictures are to be read from the current directory (no
// argument, or one folder that could be made current), false for any other argument (a missing
// folder, a file, an empty argument, more than one), which leaves the current directory as it was.
bool ChooseLensFolder(const wchar_t* commandLine);
// Everything the program does before its main loop: StartLunetrix, the screen copy (before the
// window is shown: what is to lie beneath it must be on the screen by then), the window, the
// lens table from "Bumpmap.png" and "Color.png" in the current directory (withPictures false:
// as without either picture), and MoveCallback.
void PrepareLunetrix(bool withPictures = true);
// The first part of PrepareLunetrix, all the lens needs without a window: the application's
// variables cleared, the runtime started, the pixel buffers and the lens table allocated.
void StartLunetrix(void);
// The program's own end, before the runtime's: the screen copy, the renderer's capture surface,
// the transfers' context and the lens table go.
void EndLunetrix(void);
// Where the view is taken from: the screen place of the gadget's top-left corner when the
// window's outer top-left corner is at (outerLeft, outerTop), with the window's frame as it is
// now (a frame changes size with the monitor's scale, the theme or the window's style).
POINT ViewPlace(int32_t outerLeft, int32_t outerTop);
// The window callback: renders a frame at the place a WM_MOVING rectangle announces, and keeps
// the client area 520 × 220 screen pixels whatever frame is drawn around it (a new scale, theme,
// setting or style). It answers WM_GETDPISCALEDSIZE itself (TRUE with the outer size wanted at
// the new DPI, FALSE for a SIZE it cannot write) and lets every other message go on
// (ProcessDefaultEvents).
LRESULT CALLBACK MoveCallback(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// pictures.cpp: picture loading and scaling.

// Loads the two pictures, scaled to 500 × 200 when they have another size, and fills the lens
// table from them; returns 0. A null name counts as a picture that is missing. Does nothing when
// start-up could not have the pixel buffers.
int32_t BuildLensTable(const char* bumpName, const char* colourName);

// pixel_transfer.cpp: whole-picture transfers between an image and a pixel buffer.

// Start-up: the memory context the transfers share; and the end, which deletes it.
void PixelTransferInit(void);
void PixelTransferEnd(void);
// Each returns 1 when GDI reports success, 0 otherwise (also for a number that names no image
// or a null buffer).
int32_t ReadImagePixels(int32_t image, uint8_t* buffer);
int32_t WriteImagePixels(const uint8_t* buffer, int32_t image);

// render.cpp: one frame of the view, in named steps.

// Captures the 500 × 200 screen area at (x, y), refracts it and shows it; returns 0. A frame
// that would look like the last drawn one is skipped and leaves the view as it is. Without the
// pixel buffers it does nothing, and the view stays black.
int32_t RenderFrame(int32_t x, int32_t y);
// The renderer's end: the capture surface it made at the first frame goes.
void RenderEnd(void);
// Copies the screen rectangle (x, y, width, height) beneath the program's window into the display
// image at (0, 0); returns 0. The next frame is then drawn in full.
int32_t CaptureScreen(int32_t x, int32_t y, int32_t width, int32_t height);
// What a message of the window means for the frames: the next frame is drawn in full after any
// that may have painted over the view (the window was erased or repainted, the colours changed)
// or moved it inside the window (the frame changed size).
void RenderWindowMessage(UINT message, LPARAM lParam);
// Is the message a WM_WINDOWPOSCHANGED whose frame changed? Its record is read only from this
// process's readable memory.
bool FrameChanged(UINT message, LPARAM lParam);
// The frames RenderFrame has made: render.cpp counts them, cost_bench reads them from outside.
struct FrameCounts {
  uint32_t drawn;    // frames refracted and shown
  uint32_t skipped;  // frames that would have looked like the last drawn one
};
extern FrameCounts frameCounts;
// The steps of a frame, in the order RenderFrame runs them: screen refresh, capture, compare,
// copy-in, refraction (into the display image), gadget repaint. A frame that would look like the
// last drawn one ends after the screen refresh or the compare.
constexpr int32_t FrameStepCount = 6;
const char* FrameStepName(int32_t step);
// RenderFrame, calling stepEnded with each step's number as that step ends.
int32_t RenderFrameObserved(int32_t x, int32_t y, void (*stepEnded)(int32_t step));
