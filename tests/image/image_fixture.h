// Helpers of the image tests: an independent reference decoding of PNG files, the table's records
// and bitmaps, the corpus file lists, files of other formats and leak counters.
#pragma once

#include <windows.h>
#include <stdint.h>

#include <string>
#include <tuple>
#include <vector>

#include "pixels.h"

// A PNG file decoded by the tests' own conversion of libpng's untransformed samples.
struct ReferencePicture {
  bool ok = false;              // libpng read the whole file
  uint32_t width = 0;           // from the header
  uint32_t height = 0;          // from the header
  int colourType = 0;           // from the header
  int bitDepth = 0;             // from the header
  int interlace = 0;            // from the header: 0 none, 1 Adam7
  std::vector<uint8_t> pixels;  // blue, green, red, alpha (255 without alpha channel), top-down
};

// Reads the file with libpng's low-level API and no transformation at all, then turns each raw
// sample into 8 bits itself: palette entries looked up, grey of 1, 2 or 4 bits scaled by bit
// replication, 16-bit samples cut to their high byte, transparency chunks ignored. libpng
// applies no gamma without being asked, so a gAMA chunk changes nothing.
ReferencePicture ReferenceDecode(const std::string& path);

struct ImageRecord;

// The native bitmap of image number (null for none).
HBITMAP BitmapOf(int32_t number);
// The image table's record of image number, or null.
const ImageRecord* RecordOf(int32_t number);
// Bits per pixel of the display.
int DisplayDepth();
// The images the table yields, counted by a full enumeration.
int CountImages();

// An image as the queries, its record and GDI describe it: width, height, depth, format flags
// and GetObjectA's answer for a DIBSECTION buffer, compared whole (all −1 without a record).
using ImageShape = std::tuple<int32_t, int32_t, int, int, int>;
ImageShape ShapeOf(int32_t number);
// GetObjectA's answers: a DIB section fills the DIBSECTION, a device-dependent bitmap a BITMAP.
constexpr int DibSection = sizeof(DIBSECTION), DeviceBitmap = sizeof(BITMAP);

// Rows 0 … k − 1 equal the reference and the rest are black, for some k (the colour bytes, and
// the fourth byte too when `bytes` is 4). The number of complete rows k, or −1 when the
// picture is not of that form.
int CompleteRowsThenBlack(const std::vector<uint8_t>& reference,
                          const std::vector<uint8_t>& actual, int width, int height, int bytes);

// Every *.png directly in a folder of libpng's contrib tree, as names relative to contrib.
std::vector<std::string> ContribPngFiles(const std::string& folder);
// The valid files of libpng's corpus: pngsuite, pngsuite/interlaced and testpngs.
std::vector<std::string> ValidCorpusFiles();
// A name usable as a GoogleTest parameter name ("pngsuite/basn0g01.png" → "pngsuite_basn0g01").
std::string ParameterName(const std::string& relative);

// Whole-file read and write; ReadWholeFile gives an empty vector when the file cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
// A copy of a shared file (the corpus, the lens pictures) in this process's own folder, for
// ImageLoad: it opens its file without sharing, and other test processes read the same files at
// the same time (while one holds it, the others' opens fail).
std::string OwnCopy(const std::string& path);

// An icon file of one square image: 32 bits a pixel (blue, green, red, alpha from the pixel's
// position) or, with colour false, 1 bit a pixel; an all-zero AND mask either way.
std::vector<uint8_t> IconFile(int size, bool colour);
// A Windows bitmap file of 24 bits, or of 8 bits with a grey ramp palette, whose pixel (x, y)
// has the colour bytes BitmapFileByte(x, y, 0 … 2) (the grey value for 8 bits).
std::vector<uint8_t> BitmapFile(int width, int height, int bitCount);
uint8_t BitmapFileByte(int x, int y, int channel);

// Busy blocks of the C library's heap, where libpng and stdio streams allocate.
int CrtHeapBusyBlocks();

// A PNG chunk's position in a file: its length field's offset, type and data length.
struct PngChunk {
  size_t offset;     // of the length field
  std::string type;  // four letters
  uint32_t length;   // bytes of data
};
// The chunks of a PNG file in order (stops at the first chunk that does not fit).
std::vector<PngChunk> PngChunks(const std::vector<uint8_t>& file);
// The same PNG file with its image data carried in IDAT chunks of at most chunkSize bytes.
std::vector<uint8_t> SplitImageData(const std::vector<uint8_t>& file, size_t chunkSize);
