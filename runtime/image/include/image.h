// Image system: image objects held as native bitmaps, drawing output, loading pictures through
// decoder plug-ins, and the PNG decoder.
//
// Pixels are reached only through GDI (GetDIBits/SetDIBits on the handle, or a device context
// from the drawing output); no record keeps a pointer to pixel memory. Failures are a result of
// 0 or null, never a message.
#pragma once

#include <windows.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "core.h"

// ---------------------------------------------------------------------------------------------
// Image objects
// ---------------------------------------------------------------------------------------------

// Depth for ImageCreate, and bit of the load flags: a display-compatible, device-dependent bitmap.
constexpr int32_t DisplayFormat = 0x80;

// Start-up step: creates the image table and registers the image output's per-thread state.
// Runs once, after DecoderListReset and before any image is made.
void ImageLibraryInit(void);
// A blank (black) image of width × height: depth DisplayFormat gives a compatible bitmap of the
// display; depths 1, 4, 8, 16, 24 and 32 a bottom-up DIB section (8 bits or fewer with a grey
// palette from black to white); any other depth fails. For number −1 the new image's dynamic
// number, otherwise its native handle; 0 on failure and for numbers below −1.
int32_t ImageCreate(int32_t number, int32_t width, int32_t height,
                    int32_t depth = DisplayFormat);
// Deletes the image's bitmap (or destroys its icon) and frees its number; no image: nothing.
void ImageFree(int32_t number);
// End step: frees every image still alive.
void ImageFreeAll(void);
// Width, height (sign-extended from 16 bits) and native handle; 0 when there is no such image.
int32_t ImageGetWidth(int32_t number);
int32_t ImageGetHeight(int32_t number);
int32_t ImageGetHandle(int32_t number);
// Measures a native picture: a bitmap as GDI describes it, an icon by its colour bitmap or, for
// a monochrome icon, by the upper half of its mask. 1 when *measured was filled; 0 when the
// system cannot say (a null or deleted handle, for instance).
int32_t ImageMeasure(HANDLE picture, BITMAP* measured);
// The header of width × height pixels of bitCount bits, rows from the top, BI_RGB, as GetDIBits,
// SetDIBits and DIB sections take it (its one colour entry zero).
BITMAPINFO ImageTopDownInfo(int32_t width, int32_t height, int32_t bitCount);

// ---------------------------------------------------------------------------------------------
// Drawing output
// ---------------------------------------------------------------------------------------------

// Kinds of OutputDescriptor.
constexpr int32_t OutputWindow = 1;      // a window: GetDC at begin, ReleaseDC at end
constexpr int32_t OutputImage = 2;       // an image selected into a memory device context
constexpr int32_t OutputReleased = 5;    // a context given back by the release operation
constexpr int32_t OutputWithExtras = 7;  // the same, with eight values for the drawing state

// Gives back a device context at the end of a drawing (OutputImage, OutputReleased,
// OutputWithExtras).
typedef void (*OutputRelease)(void);

// A drawing target: what DrawingBegin turns into a ready device context.
struct OutputDescriptor {
  int32_t kind;           // one of the kinds above; any other: DeleteDC at end
  HWND window;            // the window of kind 1
  HDC dc;                 // the context of every kind except 1; 0 once it has been given back
  OutputRelease release;  // called at end for OutputImage, OutputReleased, OutputWithExtras
  int32_t extra[8];       // carried into the drawing state by OutputWithExtras
};
static_assert(sizeof(OutputDescriptor) == 48, "an output descriptor is twelve 32-bit fields");
static_assert(offsetof(OutputDescriptor, release) == 12, "output descriptor layout is fixed");

// Start-up step: registers the per-thread drawing state, the first per-thread registration of
// all.
void DrawingLibraryInit(void);
// This thread's descriptor for drawing on image number, in a fresh memory context; or null. A
// drawing still in progress on the thread's previous image output is ended first.
OutputDescriptor* ImageDrawingOutput(int32_t number);
// Deletes the memory context of this thread's image output, if any (OutputImage's release).
void ImageDrawingRelease(void);
// Ends any drawing in progress on this thread, then prepares the target's context: black brush
// and pen, black text, TA_UPDATECP. The context, or 0 for null or a target without one.
HDC DrawingBegin(OutputDescriptor* descriptor);
// Puts the saved brush and pen back and gives the context back; no drawing: nothing.
void DrawingEnd(void);

// ---------------------------------------------------------------------------------------------
// Image loading and decoders
// ---------------------------------------------------------------------------------------------

// Results of a decoder's check.
constexpr int32_t DecoderRejects = 0;       // not this format
constexpr int32_t DecoderAcceptsRgb = 1;    // accepted, no alpha channel: 3 bytes a pixel
constexpr int32_t DecoderAcceptsRgba = 2;   // accepted, with an alpha channel: 4 bytes a pixel

// Decoder operations. check: stream (at the file's start) or memory of memorySize bytes, and
// the path; one of the results above.
// decode: writes height rows of width pixels (blue, green, red (, alpha)) top-down at pitch,
// nonzero on success, and ends the accepted image's state; it is only ever handed the address
// of a top row. An accepted image that is given up undecoded is not decoded at all: the decoder
// frees its state at its next check. width and height: of the accepted image.
typedef int32_t (*DecoderCheck)(FILE* stream, const void* memory, int32_t memorySize,
                                const char* name);
typedef int32_t (*DecoderDecode)(void* buffer, int32_t pitch, int32_t flags);
typedef int32_t (*DecoderDimension)(void);

// One picture format: four operations in this order.
struct ImageDecoder {
  DecoderCheck check;       // is this input of the format? 0, 1 or 2
  DecoderDecode decode;     // writes the accepted image's rows
  DecoderDimension width;   // width in pixels of the accepted image
  DecoderDimension height;  // height in pixels of the accepted image
};
static_assert(sizeof(ImageDecoder) == 16, "a decoder is four operation pointers");

constexpr int32_t DecoderListCapacity = 100;  // decoders the list holds at the most

// Start-up step: empties the decoder list (before ImageLibraryInit and any registration).
void DecoderListReset(void);
// End step: gives up an image a decoder accepted and was never asked to decode, and closes its
// file.
void DecoderListEnd(void);
// Appends a decoder that stays valid for the program's life; 1, or 0 when the list is full.
int32_t DecoderRegister(const ImageDecoder* decoder);
// Loads a picture file as an image: a bitmap file by its first two bytes "BM", else an icon,
// else through the decoders. Results as ImageCreate.
int32_t ImageLoad(int32_t number, const char* path, int32_t flags = 0);

// ---------------------------------------------------------------------------------------------
// PNG decoder
// ---------------------------------------------------------------------------------------------

// Start-up step: registers the PNG decoder once (after ImageLibraryInit); later calls do nothing.
void PngDecoderRegister(void);
// End step: frees what the PNG decoder still holds of an image accepted and never decoded.
void PngDecoderEnd(void);
