// PNG decoder: the image system's decoder plug-in for PNG files, built on libpng.
//
// One image is open at a time: PngState holds libpng's structures from an accepting PngCheck
// until PngDecode ends (by success or error), which destroys them; an image that is given up
// undecoded keeps them until the next PngCheck or PngDecoderEnd. Every libpng error jumps back to the setjmp point of the
// function that called into libpng, which destroys both structures before returning 0.
#include "image_internal.h"

#include <setjmp.h>
#include <string.h>

#include <png.h>

namespace {

// The open image and the memory form's input.
struct PngDecoderState {
  png_structp read;         // read structure of the open image, or null
  png_infop info;           // info structure of the open image, or null
  uint32_t width;           // from the last accepted header
  uint32_t height;          // from the last accepted header
  int32_t bitDepth;         // 1, 2, 4, 8 or 16
  int32_t colourType;       // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGB + alpha
  const uint8_t* cursor;    // memory form: next byte to hand to libpng
  const uint8_t* end;       // memory form: one past the block's last byte
  int32_t registered;       // PngDecoder is in the decoder list
};

PngDecoderState PngState;

constexpr size_t PngSignatureSize = 8;

}  // namespace

ImageDecoder PngDecoder;

// ---------------------------------------------------------------------------------------------
// libpng callbacks
// ---------------------------------------------------------------------------------------------

// NOTE: with no handlers of its own, this libpng build prints every error and warning to
// stderr; the runtime shows no messages, so errors only jump back and warnings are dropped.
[[noreturn]] static void PngSilentError(png_structp read, png_const_charp message) {
  png_longjmp(read, 1);
}

static void PngSilentWarning(png_structp read, png_const_charp message) {}

// Reads the memory form's next length bytes; a read past the block's end is a libpng error.
static void PngReadFromMemory(png_structp read, png_bytep destination, size_t length) {
  if (length > static_cast<size_t>(PngState.end - PngState.cursor))
    png_error(read, "read past the end of the memory block");
  memcpy(destination, PngState.cursor, length);
  PngState.cursor += length;
}

// ---------------------------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------------------------

// Destroys the open image's structures, if any (png_destroy_read_struct nulls both).
static void PngClose(void) {
  if (PngState.read != nullptr) png_destroy_read_struct(&PngState.read, &PngState.info, nullptr);
  PngState.read = nullptr;
  PngState.info = nullptr;
}

// Does the input begin with the PNG signature? A stream shorter than the signature does not.
static bool PngSignatureMatches(FILE* stream, const void* memory, int32_t memorySize) {
  uint8_t bytes[PngSignatureSize] = {};
  if (memory != nullptr) {
    if (memorySize < static_cast<int32_t>(PngSignatureSize)) return false;
    memcpy(bytes, memory, PngSignatureSize);
  } else if (stream == nullptr ||
             fread(bytes, 1, PngSignatureSize, stream) != PngSignatureSize) {
    return false;
  }
  return png_sig_cmp(bytes, 0, PngSignatureSize) == 0;
}

// Points libpng at the input: the stream past its signature, or the whole memory block.
static void PngSetInput(FILE* stream, const void* memory, int32_t memorySize) {
  if (memory == nullptr) {
    png_init_io(PngState.read, stream);
    png_set_sig_bytes(PngState.read, PngSignatureSize);
    return;
  }
  PngState.cursor = static_cast<const uint8_t*>(memory);
  PngState.end = PngState.cursor + memorySize;
  png_set_read_fn(PngState.read, nullptr, PngReadFromMemory);
}

// Keeps the header fields of the image that png_read_info has just read.
static void PngKeepHeader(void) {
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colourType = 0, interlace = 0, compression = 0, filter = 0;
  png_get_IHDR(PngState.read, PngState.info, &width, &height, &bitDepth, &colourType,
               &interlace, &compression, &filter);
  PngState.width = width;
  PngState.height = height;
  PngState.bitDepth = bitDepth;
  PngState.colourType = colourType;
}

// Asks libpng for 8-bit blue, green, red (, alpha) samples whatever the file holds.
static void PngChooseTransformations(void) {
  png_structp read = PngState.read;
  switch (PngState.colourType) {
    case PNG_COLOR_TYPE_PALETTE:
      png_set_palette_to_rgb(read);
      png_set_strip_alpha(read);  // a transparency chunk is dropped
      break;
    case PNG_COLOR_TYPE_GRAY:
      if (PngState.bitDepth < 8) png_set_expand_gray_1_2_4_to_8(read);
      png_set_gray_to_rgb(read);
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      png_set_gray_to_rgb(read);
      break;
    default:  // RGB and RGB with alpha arrive as they are
      break;
  }
  if (PngState.bitDepth == 16) png_set_strip_16(read);
  png_set_bgr(read);
}

// ---------------------------------------------------------------------------------------------
// Decoder operations
// ---------------------------------------------------------------------------------------------

int32_t PngCheck(FILE* stream, const void* memory, int32_t memorySize, const char* name) {
  PngClose();  // an image accepted earlier but never decoded is given up
  if (!PngSignatureMatches(stream, memory, memorySize)) return DecoderRejects;
  PngState.read = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngSilentError,
                                         PngSilentWarning);
  if (PngState.read == nullptr) return DecoderRejects;
  if (setjmp(png_jmpbuf(PngState.read)) != 0) {
    PngClose();
    return DecoderRejects;
  }
  PngSetInput(stream, memory, memorySize);
  PngState.info = png_create_info_struct(PngState.read);
  if (PngState.info == nullptr) {
    PngClose();
    return DecoderRejects;
  }
  png_read_info(PngState.read, PngState.info);
  PngKeepHeader();
  bool alpha = (PngState.colourType & PNG_COLOR_MASK_ALPHA) != 0;
  return alpha ? DecoderAcceptsRgba : DecoderAcceptsRgb;
}

int32_t PngDecode(void* buffer, int32_t pitch, int32_t flags) {
  if (PngState.read == nullptr) return 0;  // nothing accepted, or already decoded
  if (buffer == nullptr) {                 // the caller gives the accepted image up
    PngClose();
    return 0;
  }
  if (setjmp(png_jmpbuf(PngState.read)) != 0) {
    PngClose();
    return 0;
  }
  PngChooseTransformations();
  int passes = png_set_interlace_handling(PngState.read);
  // An interlaced image visits every row in every pass; libpng merges each pass's pixels in.
  for (int pass = 0; pass < passes; ++pass) {
    png_bytep row = static_cast<png_bytep>(buffer);
    for (uint32_t y = 0; y < PngState.height; ++y) {
      png_read_rows(PngState.read, &row, nullptr, 1);
      row += pitch;
    }
  }
  PngClose();
  return 1;
}

int32_t PngGetWidth(void) { return static_cast<int32_t>(PngState.width); }

int32_t PngGetHeight(void) { return static_cast<int32_t>(PngState.height); }

void PngDecoderRegister(void) {
  if (PngState.registered) return;
  PngDecoder = ImageDecoder{PngCheck, PngDecode, PngGetWidth, PngGetHeight};
  PngState.registered = DecoderRegister(&PngDecoder);
}

void PngDecoderEnd(void) { PngClose(); }
