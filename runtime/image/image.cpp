// Image objects: the image table of native bitmaps and icons, blank images, freeing, queries.
//
// Invariants: a record's handle is non-zero exactly while the record owns a native bitmap or
// icon, and is written last, after the fields it vouches for. The table owns every handle in
// it and frees each once, through ImageFree (directly, when its number is reused, or at
// ImageFreeAll). A creation that fails leaves no record behind: a numbered slot stays empty and
// a dynamic record is released. A record the table cannot find (the scratch record it hands out
// for a number it cannot hold) never keeps a handle: the picture made for it is deleted.
#include "image_internal.h"

ObjectTable* ImageTable;
int32_t ImageStateOffset = ThreadDataRefused;  // none until ImageLibraryInit

// Entries in the colour table of a DIB section of depth bits (8 or fewer).
static int32_t PaletteSize(int32_t depth) { return depth <= 8 ? 1 << depth : 0; }

// A BITMAPINFO with room for the 256 colours of the deepest palette.
struct BlankInfo {
  BITMAPINFOHEADER header;  // biHeight positive: rows bottom-up
  RGBQUAD colours[256];     // a grey ramp from black for depths of 8 or fewer
};

void ImageLibraryInit(void) {
  ImageTable = ObjectTableCreate(sizeof(ImageRecord), 16, ImageFree);
  ImageStateOffset = ThreadDataRegister(sizeof(ImageThreadState), nullptr, ImageThreadFree);
}

// ---------------------------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------------------------

// Numbers below −1 name neither a slot nor a dynamic object; nothing is made for them.
static bool IsCreatableNumber(int32_t number) { return number >= -1; }

// The number under which a record taken by ObjectAllocate(number) is known.
static int32_t RecordNumber(int32_t number, ImageRecord* record) {
  return number == -1 ? static_cast<int32_t>(reinterpret_cast<intptr_t>(record)) : number;
}

// Gives back a record whose creation failed: the slot stays empty, a dynamic record goes.
static void ReleaseEmptyRecord(int32_t number, ImageRecord* record) {
  ObjectRelease(ImageTable, RecordNumber(number, record));
}

// Deletes a bitmap, or destroys an icon.
static void DeletePicture(HANDLE picture) {
  if (GetObjectType(picture) == OBJ_BITMAP)
    DeleteObject(picture);
  else
    DestroyIcon(static_cast<HICON>(picture));
}

// Fills a taken record from the native object's measurements; the creator's result.
static int32_t FillImageRecord(int32_t number, ImageRecord* record, HANDLE handle,
                               const BITMAP& measured, uint8_t formatFlags) {
  record->width = static_cast<int16_t>(measured.bmWidth);
  record->height = static_cast<int16_t>(measured.bmHeight);
  record->depth = static_cast<uint8_t>(measured.bmBitsPixel);
  record->formatFlags = formatFlags;
  // Last, and published as such: a lookup that sees the handle sees the fields with it.
  __atomic_store_n(&record->handle, handle, __ATOMIC_RELEASE);
  if (number == -1) return RecordNumber(number, record);
  return static_cast<int32_t>(reinterpret_cast<intptr_t>(handle));
}

ImageRecord* TakeImageRecord(int32_t number) {
  if (!IsCreatableNumber(number)) return nullptr;
  return static_cast<ImageRecord*>(ObjectAllocate(ImageTable, number));
}

int32_t StoreImage(int32_t number, ImageRecord* record, HANDLE handle, const BITMAP& measured,
                   uint8_t formatFlags) {
  if (handle == nullptr) {
    ReleaseEmptyRecord(number, record);
    return 0;
  }
  int32_t result = FillImageRecord(number, record, handle, measured, formatFlags);
  // The table hands out a scratch record, never found, for a number it cannot hold: the picture
  // would have no owner and the number no image, so neither is kept.
  if (ObjectFind(ImageTable, RecordNumber(number, record)) != record) {
    record->handle = nullptr;
    DeletePicture(handle);
    return 0;
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Blank bitmaps
// ---------------------------------------------------------------------------------------------

// Depths a DIB section of BI_RGB pixels can have.
static bool IsSectionDepth(int32_t depth) {
  return depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
}

// A bottom-up DIB section; a palette of depth 8 or fewer is a grey ramp, black first.
static HBITMAP MakeSection(HDC display, int32_t width, int32_t height, int32_t depth) {
  if (!IsSectionDepth(depth)) return nullptr;
  BlankInfo info = {};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = width;
  info.header.biHeight = height;
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(depth);
  info.header.biCompression = BI_RGB;
  int32_t colours = PaletteSize(depth);
  for (int32_t i = 0; i < colours; ++i) {
    BYTE grey = static_cast<BYTE>(i * 255 / (colours - 1));
    info.colours[i] = RGBQUAD{grey, grey, grey, 0};
  }
  void* bits = nullptr;  // pixels are reached through GDI only
  return CreateDIBSection(display, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits,
                          nullptr, 0);
}

// A compatible bitmap of the display (depth DisplayFormat) or a DIB section; 0 on failure.
static HBITMAP MakeBlankBitmap(int32_t width, int32_t height, int32_t depth) {
  HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  if (display == nullptr) return nullptr;
  HBITMAP bitmap = depth == DisplayFormat ? CreateCompatibleBitmap(display, width, height)
                                          : MakeSection(display, width, height, depth);
  DeleteDC(display);
  return bitmap;
}

// Paints the whole bitmap black; without a memory context the bitmap keeps what GDI gave it.
static void ClearToBlack(HBITMAP bitmap, int32_t width, int32_t height) {
  HDC memory = CreateCompatibleDC(nullptr);
  if (memory == nullptr) return;
  HGDIOBJ previous = SelectObject(memory, bitmap);
  RECT all = {0, 0, width, height};
  FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  SelectObject(memory, previous);
  DeleteDC(memory);
}

// ---------------------------------------------------------------------------------------------
// Operations
// ---------------------------------------------------------------------------------------------

int32_t ImageCreate(int32_t number, int32_t width, int32_t height, int32_t depth) {
  ImageRecord* record = TakeImageRecord(number);
  if (record == nullptr) return 0;
  HBITMAP bitmap = MakeBlankBitmap(width, height, depth);
  BITMAP measured = {};
  if (bitmap != nullptr) {
    ClearToBlack(bitmap, width, height);
    GetObjectA(bitmap, sizeof measured, &measured);
  }
  return StoreImage(number, record, bitmap, measured, depth == DisplayFormat ? DisplayFormat : 0);
}

void ImageFree(int32_t number) {
  if (number == -1) return;
  auto* record = static_cast<ImageRecord*>(ObjectFind(ImageTable, number));
  if (record == nullptr) return;
  ImageOutputLetGo(record->handle);  // a bitmap still selected would not be deleted
  DeletePicture(record->handle);
  ObjectRelease(ImageTable, number);
}

void ImageFreeAll(void) {
  int32_t number = 0;
  ObjectEnumStart(ImageTable);
  while (ObjectEnumNext(ImageTable, &number) != nullptr) ImageFree(number);
}

int32_t ImageGetWidth(int32_t number) {
  auto* record = static_cast<ImageRecord*>(ObjectFind(ImageTable, number));
  return record != nullptr ? record->width : 0;
}

int32_t ImageGetHeight(int32_t number) {
  auto* record = static_cast<ImageRecord*>(ObjectFind(ImageTable, number));
  return record != nullptr ? record->height : 0;
}

int32_t ImageGetHandle(int32_t number) {
  auto* record = static_cast<ImageRecord*>(ObjectFind(ImageTable, number));
  return record != nullptr ? static_cast<int32_t>(reinterpret_cast<intptr_t>(record->handle)) : 0;
}

// ---------------------------------------------------------------------------------------------
// Measuring pictures and describing pixels
// ---------------------------------------------------------------------------------------------

// Measures an icon by its colour bitmap, or, for a monochrome icon, by its mask (whose upper
// half is the AND mask and lower half the XOR image); 1 when measured, else 0.
static int32_t MeasureIcon(HICON icon, BITMAP* measured) {
  ICONINFO parts = {};
  if (!GetIconInfo(icon, &parts)) return 0;
  int32_t got = 0;
  if (parts.hbmColor != nullptr) {
    got = GetObjectA(parts.hbmColor, sizeof *measured, measured);
  } else if (parts.hbmMask != nullptr) {
    got = GetObjectA(parts.hbmMask, sizeof *measured, measured);
    if (got != 0) measured->bmHeight /= 2;
  }
  if (parts.hbmMask != nullptr) DeleteObject(parts.hbmMask);
  if (parts.hbmColor != nullptr) DeleteObject(parts.hbmColor);
  return got != 0;
}

int32_t ImageMeasure(HANDLE picture, BITMAP* measured) {
  if (GetObjectType(picture) == OBJ_BITMAP)
    return GetObjectA(picture, sizeof *measured, measured) != 0;
  return MeasureIcon(static_cast<HICON>(picture), measured);
}

BITMAPINFO ImageTopDownInfo(int32_t width, int32_t height, int32_t bitCount) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = static_cast<WORD>(bitCount);
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}
