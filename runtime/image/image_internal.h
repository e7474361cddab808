// Shared between the image library's own files only; not part of the runtime's interface (tests
// of the internals include it on purpose).
#pragma once

#include "image.h"

// ---------------------------------------------------------------------------------------------
// Image objects
// ---------------------------------------------------------------------------------------------

// One image in the image table. The table treats a record whose handle is 0 as absent.
struct ImageRecord {
  HANDLE handle;        // HBITMAP, or HICON for an image loaded from an icon file; 0: no image
  int16_t width;        // pixels, bmWidth of the bitmap
  int16_t height;       // pixels, bmHeight of the bitmap
  uint8_t depth;        // bits per pixel as GDI reports them (bmBitsPixel), not as requested
  uint8_t formatFlags;  // DisplayFormat for compatible bitmaps; low byte of the load flags
};
static_assert(sizeof(ImageRecord) == 12, "image records are 12 bytes in the image table");
static_assert(offsetof(ImageRecord, width) == 4, "image record layout is fixed");
static_assert(offsetof(ImageRecord, depth) == 8, "image record layout is fixed");
static_assert(offsetof(ImageRecord, formatFlags) == 9, "image record layout is fixed");

// The image table (made by ImageLibraryInit).
extern ObjectTable* ImageTable;

// Takes the record for a new image under number (−1: a new dynamic record), freeing whatever
// image held the number; null for numbers below −1, which no record may take.
ImageRecord* TakeImageRecord(int32_t number);
// Stores a made native object and its measurements in a taken record and returns the
// creator's result (the dynamic number for −1, else the handle); without an object the record
// is given back and the result is 0, and so is it when the record is the table's scratch record
// (the object is then deleted).
int32_t StoreImage(int32_t number, ImageRecord* record, HANDLE handle, const BITMAP& measured,
                   uint8_t formatFlags);

// ---------------------------------------------------------------------------------------------
// Per-thread drawing and image output
// ---------------------------------------------------------------------------------------------

// The image library's per-thread slice.
struct ImageThreadState {
  HDC imageDC;                  // memory context of this thread's last image output, or 0
  OutputDescriptor descriptor;  // the descriptor ImageDrawingOutput hands out, reused
};

// The drawing library's per-thread slice: the drawing in progress on this thread.
struct DrawingState {
  HDC dc;                 // the context being drawn on; 0 when no drawing is in progress
  HBRUSH defaultBrush;    // solid black, for the thread's life
  HPEN defaultPen;        // solid black, width 0, for the thread's life
  HGDIOBJ savedBrush;     // the context's brush before DrawingBegin
  HGDIOBJ savedPen;       // the context's pen before DrawingBegin
  int32_t kind;           // copied from the descriptor
  HWND window;            // copied from the descriptor
  OutputRelease release;  // copied from the descriptor
  int32_t extra[8];       // copied from a kind 7 descriptor
  HBRUSH drawingBrush;    // solid black, made at every DrawingBegin, deleted at DrawingEnd
  HGDIOBJ secondObject;   // deleted at DrawingEnd when set
  int32_t settings[5];    // for drawing operations outside the runtime; begin sets 0,0,1,white,0
};

// Offsets of the two per-thread slices (set at start-up).
extern int32_t DrawingStateOffset;
extern int32_t ImageStateOffset;

// Before bitmap is deleted: if this thread's image output holds it, a drawing on it is ended
// and the output context deleted, which lets the bitmap go.
void ImageOutputLetGo(HANDLE bitmap);
// Free operation of the image slice, run when its thread has ended: ends a drawing left in
// progress on that thread and deletes its image output context.
void ImageThreadFree(void* slice);

// ---------------------------------------------------------------------------------------------
// The decoder list
// ---------------------------------------------------------------------------------------------

// The registered decoders, in registration order.
struct DecoderListState {
  const ImageDecoder* decoders[DecoderListCapacity];  // entries 0 … count − 1 are registered
  int32_t count;                                      // decoders registered
};

extern DecoderListState DecoderList;
extern const ImageDecoder* CurrentDecoder;  // holds the image DecoderFind accepted, or null
extern int32_t AcceptedResult;  // that image's check result (1 or 2), or 0 when none is held
extern FILE* PendingFile;  // stream DecoderFind left open for CurrentDecoder, or null

// Gives up an image found earlier and never decoded, then offers a file (memory null) or a
// memory block of memorySize bytes to each decoder in registration order; the first accepting
// check's result (1 or 2), or DecoderNotFound (then no image is held).
int32_t DecoderFind(const char* path, const void* memory, int32_t memorySize);
constexpr int32_t DecoderNotFound = 0;  // no decoder accepts the input
// Decodes the image that DecoderFind accepted into a new top-down DIB section of 24 bits (check
// result 1) or 32 bits (2), or, with DisplayFormat in flags, a compatible bitmap. result must
// be the find's: with another, or with no image held, the result is 0 and nothing is touched.
// Otherwise the bitmap, or 0; the decoder's state and the file that DecoderFind left open are
// ended either way.
HBITMAP DecodeToBitmap(int32_t result, int32_t flags);

// ---------------------------------------------------------------------------------------------
// PNG decoder
// ---------------------------------------------------------------------------------------------

// The PNG decoder's record: PngCheck, PngDecode, PngGetWidth, PngGetHeight.
extern ImageDecoder PngDecoder;

// DecoderRejects: not a PNG, or its header is unreadable; DecoderAcceptsRgb: a PNG without an
// alpha channel; DecoderAcceptsRgba: with one.
int32_t PngCheck(FILE* stream, const void* memory, int32_t memorySize, const char* name);
// 1 when all rows were read, 0 on a libpng error (the rows written so far stay) or no image.
int32_t PngDecode(void* buffer, int32_t pitch, int32_t flags);
// Width and height from the last accepted header.
int32_t PngGetWidth(void);
int32_t PngGetHeight(void);
