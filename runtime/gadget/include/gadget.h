// Gadget library: its start-up step, the operations on gadgets by number, and the image gadget.
//
// The gadget table, the gadget and gadget type records, each thread's gadget state and the
// plumbing that every kind of gadget shares belong to the window system (gadget_kind.h);
// gadgets' events reach the program through it as GadgetAction.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "window.h"

// ---------------------------------------------------------------------------------------------
// Start-up and gadgets by number
// ---------------------------------------------------------------------------------------------

// Start-up step of the gadget library, after WindowSystemInit: the default GUI font, the gadget
// table and each thread's gadget state (kept by the window system, GadgetTableInit), then the
// common controls. Without it there is no gadget table and no thread has gadget state.
void GadgetLibraryInit(void);
// Sets a gadget's state through its type (an image gadget shows the picture value and repaints
// before returning); the type's result, or 0 when there is no such gadget.
int32_t GadgetSetState(int32_t number, int32_t value);
// A gadget's state through its type (an image gadget: the picture it shows); 0 when there is no
// such gadget or its type has no state.
int32_t GadgetGetState(int32_t number);
// A gadget's control, or null when there is no such gadget.
HWND GadgetGetHandle(int32_t number);

// ---------------------------------------------------------------------------------------------
// The image gadget
// ---------------------------------------------------------------------------------------------

constexpr int32_t ImageGadgetKind = 9;

// Gadget event types of the image gadget (they reach the program as GadgetAction).
constexpr int32_t ImageGadgetLeftClick = 0;         // the control's own STN_CLICKED
constexpr int32_t ImageGadgetRightClick = 1;        // right button released, not ending a double-click
constexpr int32_t ImageGadgetLeftDoubleClick = 2;   // WM_LBUTTONDBLCLK
constexpr int32_t ImageGadgetRightDoubleClick = 3;  // WM_RBUTTONDBLCLK
constexpr int32_t ImageGadgetDragStart = 14002;     // moved past the drag thresholds, left button down

// A "STATIC" control in the thread's selected window (GadgetListSelect) that shows image (an
// HBITMAP or HICON) at the image's own size. For number −1 the gadget's dynamic number, otherwise
// the control's HWND; 0 when no control could be made (for instance with no window selected).
int32_t ImageGadgetCreate(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                          HANDLE image, DWORD extendedStyle = 0);
