// Image loading: picture files into images, by the system's loaders or the decoder list.
//
// The order is fixed and the file name's extension plays no part: the first two bytes "BM"
// alone make a Windows bitmap file; every other file is offered to the system as an icon, and
// only what it refuses reaches the decoders.
#include "image_internal.h"

// Bits of the load flags kept as the image's formatFlags.
constexpr int32_t FormatFlagsMask = 0xFF;

// Opens the file and reads its first two bytes: false when it cannot be opened, else whether
// they are "BM" in *isBitmapFile (a file shorter than two bytes is not a bitmap file). The file
// is only read: another program may hold it open however it likes, as the loaders after this
// allow too.
static bool ReadFileSignature(const char* path, bool* isBitmapFile) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char bytes[2] = {};
  DWORD read = 0;
  BOOL ok = ReadFile(file, bytes, sizeof bytes, &read, nullptr);
  CloseHandle(file);
  *isBitmapFile = ok && read == sizeof bytes && bytes[0] == 'B' && bytes[1] == 'M';
  return true;
}

// LoadImageA of a bitmap file, measured into *measured; null on failure.
static HBITMAP LoadBitmapFileAs(const char* path, UINT options, BITMAP* measured) {
  auto bitmap = static_cast<HBITMAP>(
      LoadImageA(ModuleInstance, path, IMAGE_BITMAP, 0, 0, options));
  if (bitmap != nullptr) GetObjectA(bitmap, sizeof *measured, measured);
  return bitmap;
}

// A bitmap file: a DIB section as stored, or a device-dependent bitmap with DisplayFormat or
// when the file has 8 bits per pixel or fewer.
static HBITMAP LoadBitmapFile(const char* path, int32_t flags, BITMAP* measured) {
  UINT options = (flags & DisplayFormat) != 0 ? LR_LOADFROMFILE
                                              : LR_LOADFROMFILE | LR_CREATEDIBSECTION;
  HBITMAP bitmap = LoadBitmapFileAs(path, options, measured);
  if (bitmap == nullptr || measured->bmBitsPixel > 8) return bitmap;
  DeleteObject(bitmap);
  return LoadBitmapFileAs(path, LR_LOADFROMFILE, measured);
}

// An icon file at its own size; null when the system does not take the file as an icon.
static HICON LoadIconFile(const char* path, BITMAP* measured) {
  auto icon = static_cast<HICON>(
      LoadImageA(ModuleInstance, path, IMAGE_ICON, 0, 0, LR_LOADFROMFILE));
  if (icon != nullptr) ImageMeasure(icon, measured);
  return icon;
}

// Any other file, through the first decoder that accepts it; null when none does.
static HBITMAP LoadThroughDecoders(const char* path, int32_t flags, BITMAP* measured) {
  int32_t result = DecoderFind(path, nullptr, 0);
  if (result == DecoderNotFound) return nullptr;
  HBITMAP bitmap = DecodeToBitmap(result, flags);
  if (bitmap != nullptr) GetObjectA(bitmap, sizeof *measured, measured);
  return bitmap;
}

// The native picture of a file, measured; null when nothing can load it.
static HANDLE LoadPicture(const char* path, int32_t flags, BITMAP* measured) {
  bool isBitmapFile = false;
  if (path == nullptr || !ReadFileSignature(path, &isBitmapFile)) return nullptr;
  if (isBitmapFile) return LoadBitmapFile(path, flags, measured);
  HICON icon = LoadIconFile(path, measured);
  if (icon != nullptr) return icon;
  return LoadThroughDecoders(path, flags, measured);
}

int32_t ImageLoad(int32_t number, const char* path, int32_t flags) {
  ImageRecord* record = TakeImageRecord(number);  // an image held under number is freed now
  if (record == nullptr) return 0;
  BITMAP measured = {};
  HANDLE picture = LoadPicture(path, flags, &measured);
  return StoreImage(number, record, picture, measured,
                    static_cast<uint8_t>(flags & FormatFlagsMask));
}
