// Decoders: the list of picture-format plug-ins, finding the one that accepts an input, and
// decoding its rows into a new bitmap.
//
// Invariants: an image is held from a decoder's accepting check until its decode call or until
// it is given up, and PendingFile is open exactly while such a file image is held.
// CurrentDecoder and AcceptedResult name that image and its check's result while it is held,
// and are null and 0 otherwise: a decode is made only for the image the find accepted, with
// the row layout its check asked for, and always into a buffer (a decoder written to that
// contract writes its rows unchecked). Every path out of DecodeToBitmap that decodes or gives
// up ends all of them, and so does the next DecoderFind, so no stream outlives a load; what a
// decoder itself holds of an image given up it frees at its next check. The list and these
// globals are process-wide and unlocked: one thread loads at a time.
#include "image_internal.h"

DecoderListState DecoderList;
const ImageDecoder* CurrentDecoder;
int32_t AcceptedResult;
FILE* PendingFile;

// Largest pixel buffer a decoder is handed: its size must fit a signed 32-bit count.
constexpr int64_t DecodeBufferLimit = INT32_MAX;

// ---------------------------------------------------------------------------------------------
// The list
// ---------------------------------------------------------------------------------------------

void DecoderListReset(void) {
  DecoderList.count = 0;
  CurrentDecoder = nullptr;
  AcceptedResult = 0;
  PendingFile = nullptr;
}

int32_t DecoderRegister(const ImageDecoder* decoder) {
  if (decoder == nullptr || DecoderList.count >= DecoderListCapacity) return 0;
  DecoderList.decoders[DecoderList.count++] = decoder;
  return 1;
}

// ---------------------------------------------------------------------------------------------
// Finding a decoder
// ---------------------------------------------------------------------------------------------

// Closes the stream DecoderFind left open, if any.
static void ClosePendingFile(void) {
  if (PendingFile != nullptr) fclose(PendingFile);
  PendingFile = nullptr;
}

// Ends the accepted image without decoding it: its file closes and no image is held any more.
// The decoder is not asked: decode is only ever handed a top row, so a decoder keeps what it
// holds of an image until its next check (the PNG decoder also until PngDecoderEnd).
static void AbandonDecoding(void) {
  ClosePendingFile();
  CurrentDecoder = nullptr;
  AcceptedResult = 0;
}

void DecoderListEnd(void) { AbandonDecoding(); }

// Has the accepted image's decoder write its rows into buffer, then ends the image.
static void DecodeAcceptedImage(void* buffer, int32_t pitch) {
  CurrentDecoder->decode(buffer, pitch, 0);
  AbandonDecoding();
}

// Records decoder as holding the image its check has just accepted with result; the result.
static int32_t Accept(const ImageDecoder* decoder, int32_t result) {
  CurrentDecoder = decoder;
  AcceptedResult = result;
  return result;
}

// The first decoder whose check accepts a memory block; its result, or DecoderNotFound.
static int32_t FindForMemory(const char* path, const void* memory, int32_t memorySize) {
  if (memorySize <= 0) return DecoderNotFound;
  for (int32_t i = 0; i < DecoderList.count; ++i) {
    int32_t result = DecoderList.decoders[i]->check(nullptr, memory, memorySize, path);
    if (result != DecoderRejects) return Accept(DecoderList.decoders[i], result);
  }
  return DecoderNotFound;
}

// The first decoder whose check accepts the file, each reading it from its start; the stream
// stays open as PendingFile for the accepting decoder. Its result, or DecoderNotFound.
static int32_t FindForFile(const char* path) {
  if (path == nullptr) return DecoderNotFound;
  PendingFile = fopen(path, "rb");
  if (PendingFile == nullptr) return DecoderNotFound;
  for (int32_t i = 0; i < DecoderList.count; ++i) {
    fseek(PendingFile, 0, SEEK_SET);
    int32_t result = DecoderList.decoders[i]->check(PendingFile, nullptr, 0, path);
    if (result != DecoderRejects) return Accept(DecoderList.decoders[i], result);
  }
  ClosePendingFile();
  return DecoderNotFound;
}

int32_t DecoderFind(const char* path, const void* memory, int32_t memorySize) {
  AbandonDecoding();  // an image found earlier but never decoded is given up
  if (memory != nullptr) return FindForMemory(path, memory, memorySize);
  return FindForFile(path);
}

// ---------------------------------------------------------------------------------------------
// Decoding into a bitmap
// ---------------------------------------------------------------------------------------------

// Bytes from one row to the next: 24-bit rows rounded up to 4 bytes, 32-bit rows as they are.
static int64_t RowPitch(int32_t result, int32_t width) {
  if (result == DecoderAcceptsRgba) return 4 * static_cast<int64_t>(width);
  return 3 * static_cast<int64_t>(width) + width % 4;
}

// Turns the decoded rows into a compatible bitmap of the display; the bitmap, or 0.
static HBITMAP RowsToDisplayFormat(HDC display, const BITMAPINFO* info, const void* rows) {
  int32_t width = info->bmiHeader.biWidth, height = -info->bmiHeader.biHeight;
  HBITMAP bitmap = CreateCompatibleBitmap(display, width, height);
  if (bitmap == nullptr) return nullptr;
  HDC memory = CreateCompatibleDC(nullptr);
  if (memory != nullptr) {
    SetDIBits(memory, bitmap, 0, height, rows, info, DIB_RGB_COLORS);
    DeleteDC(memory);
  }
  return bitmap;
}

// Decodes through a zeroed heap buffer (rows a failing decoder did not write stay black) into a
// compatible bitmap; the bitmap, or 0.
static HBITMAP DecodeToDisplayFormat(HDC display, const BITMAPINFO* info, int32_t pitch) {
  int32_t height = -info->bmiHeader.biHeight;
  // One spare row beyond the image, as the decoders have always been given.
  void* rows = HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, static_cast<SIZE_T>(pitch) * (height + 1));
  if (rows == nullptr) {
    AbandonDecoding();
    return nullptr;
  }
  DecodeAcceptedImage(rows, pitch);
  HBITMAP bitmap = RowsToDisplayFormat(display, info, rows);
  HeapFree(MainHeap, 0, rows);
  return bitmap;
}

// Decodes straight into the pixel memory of a new DIB section; the section, or 0.
static HBITMAP DecodeToDibSection(HDC display, const BITMAPINFO* info, int32_t pitch) {
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(display, info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (section == nullptr || bits == nullptr) {
    if (section != nullptr) DeleteObject(section);
    AbandonDecoding();
    return nullptr;
  }
  DecodeAcceptedImage(bits, pitch);  // a failed decode leaves zeroed, black rows
  return section;
}

HBITMAP DecodeToBitmap(int32_t result, int32_t flags) {
  // Rows laid out for another result than the check's would not fit what the decoder writes.
  if (CurrentDecoder == nullptr || result != AcceptedResult) return nullptr;
  int32_t width = CurrentDecoder->width();
  int32_t height = CurrentDecoder->height();
  int64_t pitch = RowPitch(result, width);
  // Is there a picture, and does its buffer (with the spare row) have a size at all?
  if (width <= 0 || height <= 0 || pitch * (static_cast<int64_t>(height) + 1) > DecodeBufferLimit) {
    AbandonDecoding();
    return nullptr;
  }
  BITMAPINFO info = ImageTopDownInfo(width, height, result == DecoderAcceptsRgba ? 32 : 24);
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  if (display == nullptr) {
    AbandonDecoding();
    return nullptr;
  }
  HBITMAP bitmap = (flags & DisplayFormat) != 0
                       ? DecodeToDisplayFormat(display, &info, static_cast<int32_t>(pitch))
                       : DecodeToDibSection(display, &info, static_cast<int32_t>(pitch));
  DeleteDC(display);
  return bitmap;
}
