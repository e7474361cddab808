// Drawing output: image outputs, DrawingBegin and DrawingEnd on real device contexts, per thread.
#include <algorithm>
#include <iterator>
#include <vector>

#include <gtest/gtest.h>

#include "image.h"
#include "image_internal.h"
#include "image_fixture.h"
#include "platform.h"
#include "test_support.h"

namespace {

DrawingState* MyDrawing() { return static_cast<DrawingState*>(ThreadDataGet(DrawingStateOffset)); }

// A target of a kind given back through its release operation, with a pen and brush of its
// own selected; the release records what the context holds at that moment and deletes it. The
// latest made is the one released.
struct ProbeTarget {
  HDC dc = CreateCompatibleDC(nullptr);
  HPEN pen = CreatePen(PS_SOLID, 3, RGB(255, 0, 0));
  HBRUSH brush = CreateSolidBrush(RGB(0, 255, 0));
  OutputDescriptor descriptor = {};
  ProbeTarget() {
    SelectObject(dc, pen);
    SelectObject(dc, brush);
    descriptor.kind = 5;
    descriptor.dc = dc;
    descriptor.release = Release;
    lastReleased() = dc;
  }
  ~ProbeTarget() {
    DeleteObject(pen);
    DeleteObject(brush);
  }
  static void Release() {
    ++releases;
    releasedPen = GetCurrentObject(lastReleased(), OBJ_PEN);
    releasedBrush = GetCurrentObject(lastReleased(), OBJ_BRUSH);
    DeleteDC(lastReleased());
  }
  static HDC& lastReleased() {
    static HDC dc;
    return dc;
  }
  static int releases;
  static HGDIOBJ releasedPen, releasedBrush;
};
int ProbeTarget::releases;
HGDIOBJ ProbeTarget::releasedPen, ProbeTarget::releasedBrush;

// Fills a 4-byte-a-pixel picture with a pattern that differs from pixel to pixel.
std::vector<uint8_t> Pattern(int width, int height) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
  TestRandom random(width * 31 + height);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = (i % 4 == 3) ? 0 : random.Byte();
  return pixels;
}

// A 32-bit DIB section holding a picture, selected in a memory context of its own.
struct Source {
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP section = nullptr;
  HGDIOBJ previous = nullptr;
  Source(const std::vector<uint8_t>& pixels, int width, int height) {
    BITMAPINFO info = TopDown32(width, height);
    void* bits = nullptr;
    section = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    memcpy(bits, pixels.data(), pixels.size());
    previous = SelectObject(dc, section);
  }
  ~Source() {
    SelectObject(dc, previous);
    DeleteDC(dc);
    DeleteObject(section);
  }
};

// ---------------------------------------------------------------------------------------------

TEST(ImageDrawingOutput, DescribesTheImageInAFreshMemoryContext) {
  int32_t image = ImageCreate(-1, 500, 200);
  OutputDescriptor* output = ImageDrawingOutput(image);
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(output->kind, OutputImage);
  EXPECT_EQ(output->release, &ImageDrawingRelease);
  EXPECT_EQ(GetObjectType(output->dc), static_cast<DWORD>(OBJ_MEMDC));
  EXPECT_EQ(GetCurrentObject(output->dc, OBJ_BITMAP), BitmapOf(image));
  HDC first = output->dc;
  // Asking again deletes the first context and hands out the same descriptor with a new one.
  EXPECT_EQ(ImageDrawingOutput(image), output);
  EXPECT_EQ(GetObjectType(first), 0u);
  ImageDrawingRelease();
  EXPECT_EQ(output->dc, nullptr);
}

TEST(ImageDrawingOutput, NoImageGivesNoOutputAndNoDrawing) {
  EXPECT_EQ(ImageDrawingOutput(12), nullptr);
  EXPECT_EQ(ImageDrawingOutput(-1), nullptr);
  EXPECT_EQ(DrawingBegin(ImageDrawingOutput(12)), nullptr);
  EXPECT_EQ(MyDrawing()->dc, nullptr);
  // A bitmap that another context holds gives none either, and the context made for it goes.
  int32_t held = ImageCreate(-1, 8, 8);
  HDC holder = CreateCompatibleDC(nullptr);
  HGDIOBJ previous = SelectObject(holder, BitmapOf(held));
  ContextWatch contexts("gdi32.dll", "CreateCompatibleDC");
  EXPECT_EQ(ImageDrawingOutput(held), nullptr);
  EXPECT_EQ(GetObjectType(ContextWatch::results.at(0)), 0u);
  SelectObject(holder, previous);
  DeleteDC(holder);
}

TEST(DrawingBegin, GivesAContextWhereBitBltChangesTheImage) {
  int32_t image = ImageCreate(-1, 500, 200);
  std::vector<uint8_t> pattern = Pattern(500, 200);
  Source source(pattern, 500, 200);
  HDC dc = DrawingBegin(ImageDrawingOutput(image));
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(MyDrawing()->dc, dc);
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), BitmapOf(image));
  ASSERT_TRUE(BitBlt(dc, 0, 0, 500, 200, source.dc, 0, 0, SRCCOPY));
  DrawingEnd();
  EXPECT_EQ(GetObjectType(dc), 0u) << "the memory context is deleted at the end";
  EXPECT_EQ(MyDrawing()->dc, nullptr);
  std::vector<uint8_t> pixels = ReadBitmap32(BitmapOf(image), 500, 200);
  EXPECT_EQ(ComparePixels(pattern, pixels, 500, 200, 3), "");
}

TEST(DrawingBegin, PreparesBlackPenBrushAndTextAndEndPutsThePreviousOnesBack) {
  ProbeTarget target;
  DrawingState* state = MyDrawing();
  std::fill(std::begin(state->settings), std::end(state->settings), 7);  // as a drawing left them
  HDC dc = DrawingBegin(&target.descriptor);
  ASSERT_EQ(dc, target.dc);
  EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), state->defaultPen);
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), state->defaultBrush);
  LOGPEN pen = {};
  GetObjectA(state->defaultPen, sizeof pen, &pen);
  EXPECT_EQ(pen.lopnColor, RGB(0, 0, 0));
  EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
  EXPECT_EQ(GetTextAlign(dc) & TA_UPDATECP, static_cast<UINT>(TA_UPDATECP));
  EXPECT_EQ(GetObjectType(state->drawingBrush), static_cast<DWORD>(OBJ_BRUSH));
  EXPECT_EQ(std::vector<int32_t>(std::begin(state->settings), std::end(state->settings)),
            (std::vector<int32_t>{0, 0, 1, 0xFFFFFF, 0}));
  HBRUSH drawingBrush = state->drawingBrush;
  DrawingEnd();
  EXPECT_EQ(std::make_tuple(ProbeTarget::releases, ProbeTarget::releasedPen, ProbeTarget::releasedBrush),
            std::make_tuple(1, target.pen, target.brush));
  EXPECT_EQ(GetObjectType(drawingBrush), 0u) << "the drawing brush lives for one drawing";
  EXPECT_EQ(GetObjectType(state->defaultPen), static_cast<DWORD>(OBJ_PEN)) << "defaults stay";
  DrawingEnd();
  EXPECT_EQ(ProbeTarget::releases, 1) << "a second DrawingEnd does nothing";
}

TEST(DrawingBegin, EndsADrawingInProgressFirst) {
  ProbeTarget first;
  ASSERT_EQ(DrawingBegin(&first.descriptor), first.dc);
  int32_t image = ImageCreate(-1, 8, 8);
  HDC second = DrawingBegin(ImageDrawingOutput(image));
  EXPECT_EQ(std::make_tuple(ProbeTarget::releases, ProbeTarget::releasedPen, ProbeTarget::releasedBrush),
            std::make_tuple(1, first.pen, first.brush));
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(MyDrawing()->dc, second);
  DrawingEnd();
}

TEST(DrawingBegin, OtherKindsGiveTheirContextBackByKind) {
  // Kind 1: a window's context from GetDC, given back with ReleaseDC; any unknown kind: DeleteDC.
  HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 20, 20, nullptr, nullptr,
                                nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  OutputDescriptor windowTarget = {};
  windowTarget.kind = OutputWindow;
  windowTarget.window = window;
  HDC dc = DrawingBegin(&windowTarget);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(WindowFromDC(dc), window);
  DrawingEnd();
  DestroyWindow(window);
  OutputDescriptor other = {};
  other.kind = 9;
  other.dc = CreateCompatibleDC(nullptr);
  ASSERT_EQ(DrawingBegin(&other), other.dc);
  DrawingEnd();
  EXPECT_EQ(GetObjectType(other.dc), 0u);
  // Kind 7 carries its extra values into the drawing state.
  ProbeTarget extras;
  extras.descriptor.kind = 7;
  for (int i = 0; i < 8; ++i) extras.descriptor.extra[i] = 100 + i;
  ASSERT_EQ(DrawingBegin(&extras.descriptor), extras.dc);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(MyDrawing()->extra[i], 100 + i);
  DrawingEnd();
  EXPECT_EQ(ProbeTarget::releases, 1);
}

TEST(DrawingBegin, NullOrAContextlessTargetLeavesTheThreadNotDrawing) {
  EXPECT_EQ(DrawingBegin(nullptr), nullptr);
  OutputDescriptor empty = {};
  empty.kind = OutputImage;
  EXPECT_EQ(DrawingBegin(&empty), nullptr);
  EXPECT_EQ(MyDrawing()->dc, nullptr);
  DrawingEnd();  // nothing to end
}

TEST(DrawingBegin, TextStartsBlackAtTheCurrentPosition) {
  int32_t image = ImageCreate(-1, 120, 40);
  HDC dc = DrawingBegin(ImageDrawingOutput(image));
  ASSERT_NE(dc, nullptr);
  PatBlt(dc, 0, 0, 120, 40, WHITENESS);
  MoveToEx(dc, 60, 10, nullptr);
  ASSERT_TRUE(TextOutA(dc, 0, 0, "WWW", 3));  // the coordinates are ignored: TA_UPDATECP
  POINT after = {};
  GetCurrentPositionEx(dc, &after);
  EXPECT_GT(after.x, 60) << "drawing text moved the current position";
  DrawingEnd();
  std::vector<uint8_t> pixels = ReadBitmap32(BitmapOf(image), 120, 40);
  int blackLeft = 0, blackRight = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 120; ++x) {
      const uint8_t* p = &pixels[(y * 120 + x) * 4];
      bool black = p[0] == 0 && p[1] == 0 && p[2] == 0;
      bool white = p[0] == 255 && p[1] == 255 && p[2] == 255;
      ASSERT_TRUE(black || white || x >= 60) << "text is black: (" << x << "," << y << ")";
      (x < 60 ? blackLeft : blackRight) += !white;
    }
  }
  EXPECT_EQ(blackLeft, 0) << "nothing was drawn at the coordinates TextOut was given";
  EXPECT_GT(blackRight, 0);
}

// ---------------------------------------------------------------------------------------------
// Misuse of image outputs
// ---------------------------------------------------------------------------------------------

TEST(ImageDrawingMisuse, ANewOutputWhileDrawingEndsTheEarlierDrawingFirst) {
  int32_t first = ImageCreate(-1, 30, 20);
  int32_t second = ImageCreate(-1, 30, 20);
  HDC firstDC = DrawingBegin(ImageDrawingOutput(first));
  ASSERT_NE(firstDC, nullptr);
  OutputDescriptor* output = ImageDrawingOutput(second);  // no DrawingEnd before it
  ASSERT_NE(output, nullptr);
  EXPECT_EQ(MyDrawing()->dc, nullptr) << "the drawing on the first image was ended";
  EXPECT_EQ(GetObjectType(firstDC), 0u);
  HDC secondDC = DrawingBegin(output);
  ASSERT_NE(secondDC, nullptr);
  EXPECT_EQ(GetObjectType(secondDC), static_cast<DWORD>(OBJ_MEMDC)) << "a live context";
  EXPECT_TRUE(PatBlt(secondDC, 0, 0, 30, 20, WHITENESS));
  DrawingEnd();
  std::vector<uint8_t> pixels = ReadBitmap32(BitmapOf(second), 30, 20);
  ASSERT_FALSE(pixels.empty());
  EXPECT_EQ(pixels[0], 255);
  EXPECT_EQ(pixels[pixels.size() - 2], 255);
}

TEST(ImageDrawingMisuse, BeginningTheSameOutputTwiceNeverHandsOutADeletedContext) {
  int32_t image = ImageCreate(-1, 30, 20);
  OutputDescriptor* output = ImageDrawingOutput(image);
  HDC dc = DrawingBegin(output);
  ASSERT_NE(dc, nullptr);
  EXPECT_EQ(DrawingBegin(output), nullptr);
  EXPECT_EQ(GetObjectType(dc), 0u);
  EXPECT_EQ(MyDrawing()->dc, nullptr);
  // A context made now may reuse the deleted handle; the old descriptor must not reach it.
  HDC stranger = CreateCompatibleDC(nullptr);
  EXPECT_EQ(DrawingBegin(output), nullptr);
  DrawingEnd();
  EXPECT_EQ(GetObjectType(stranger), static_cast<DWORD>(OBJ_MEMDC));
  DeleteDC(stranger);
  // The image itself is fine: a new output draws on it.
  EXPECT_NE(DrawingBegin(ImageDrawingOutput(image)), nullptr);
  DrawingEnd();
}

// A bitmap is let go by the image output before it is deleted. NOTE: Wine defers the deletion
// of a bitmap that a context still holds (Windows refuses it, and the bitmap leaks), so a
// handle that is gone at once shows that nothing held it any more.
TEST(ImageDrawingMisuse, AnImageFreedOrReplacedWhileItIsTheOutputIsLetGoFirst) {
  // Freed in the middle of a drawing on it.
  int32_t image = ImageCreate(-1, 30, 20);
  HBITMAP bitmap = BitmapOf(image);
  OutputDescriptor* output = ImageDrawingOutput(image);
  HDC dc = DrawingBegin(output);
  ASSERT_NE(dc, nullptr);
  ImageFree(image);
  EXPECT_EQ(MyDrawing()->dc, nullptr) << "the drawing was ended";
  EXPECT_EQ(output->dc, nullptr);
  EXPECT_EQ(GetObjectType(dc), 0u);
  EXPECT_EQ(GetObjectType(bitmap), 0u) << "the bitmap was deleted while a context held it";
  // Its number reused while it is the output, no drawing in progress.
  ASSERT_NE(ImageCreate(4, 30, 20), 0);
  bitmap = BitmapOf(4);
  dc = ImageDrawingOutput(4)->dc;
  ASSERT_NE(ImageCreate(4, 10, 10), 0);
  EXPECT_EQ(GetObjectType(dc), 0u);
  EXPECT_EQ(GetObjectType(bitmap), 0u);
  // Freeing another image leaves the output and the drawing on it alone.
  int32_t kept = ImageCreate(-1, 8, 8);
  dc = DrawingBegin(ImageDrawingOutput(kept));
  ASSERT_NE(dc, nullptr);
  ImageFree(ImageCreate(-1, 8, 8));
  ImageFree(4);
  EXPECT_EQ(MyDrawing()->dc, dc);
  EXPECT_TRUE(PatBlt(dc, 0, 0, 8, 8, WHITENESS));
  DrawingEnd();
  EXPECT_EQ(ReadBitmap32(BitmapOf(kept), 8, 8)[0], 255);
}

// ---------------------------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------------------------

TEST(DrawingThreads, EachThreadHasItsOwnPenBrushAndDrawing) {
  int32_t mine = ImageCreate(-1, 10, 10);
  int32_t theirs = ImageCreate(-1, 10, 10);
  HDC myDC = DrawingBegin(ImageDrawingOutput(mine));
  ASSERT_NE(myDC, nullptr);
  HPEN theirPen = nullptr;
  HDC theirDC = nullptr;
  bool sameImageRefused = false, othersDrawingSeen = true;
  ASSERT_TRUE(RunOnThread([&] {
    othersDrawingSeen = MyDrawing()->dc != nullptr;
    sameImageRefused = ImageDrawingOutput(mine) == nullptr;  // selected in the main thread's DC
    theirDC = DrawingBegin(ImageDrawingOutput(theirs));
    theirPen = MyDrawing()->defaultPen;
    PatBlt(theirDC, 0, 0, 10, 10, WHITENESS);
    DrawingEnd();
  }));
  EXPECT_FALSE(othersDrawingSeen);
  EXPECT_TRUE(sameImageRefused);
  EXPECT_NE(theirDC, nullptr);
  EXPECT_NE(theirDC, myDC);
  EXPECT_NE(theirPen, MyDrawing()->defaultPen);
  EXPECT_EQ(MyDrawing()->dc, myDC) << "the main thread's drawing goes on";
  DrawingEnd();
  EXPECT_EQ(ReadBitmap32(BitmapOf(theirs), 10, 10)[0], 255);
  EXPECT_EQ(ReadBitmap32(BitmapOf(mine), 10, 10)[0], 0);
  // When the thread has ended, the watcher deletes its pen and brush.
  EXPECT_TRUE(WaitUntil([&] { return GetObjectType(theirPen) == 0; }, 5000));
}

// A thread that ends in the middle of a drawing: once the watcher has freed its state, the
// drawing is ended, its context and brushes are gone and the image is free for other threads.
TEST(DrawingThreads, AThreadThatEndsWhileDrawingLeavesNothingBehind) {
  int32_t image = ImageCreate(-1, 10, 10);
  HDC theirDC = nullptr;
  HGDIOBJ theirPen = nullptr;
  ASSERT_TRUE(RunOnThread([&] {
    theirDC = DrawingBegin(ImageDrawingOutput(image));
    theirPen = MyDrawing()->defaultPen;
    PatBlt(theirDC, 0, 0, 10, 10, WHITENESS);
  }));
  ASSERT_NE(theirDC, nullptr);
  // The default pen goes last of all; the context and the brushes before it (the books show any
  // left).
  EXPECT_TRUE(WaitUntil([&] { return GetObjectType(theirPen) == 0; }, 5000));
  HDC mine = DrawingBegin(ImageDrawingOutput(image));
  EXPECT_NE(mine, nullptr) << "the bitmap is still held by the ended thread's context";
  DrawingEnd();
  EXPECT_EQ(ReadBitmap32(BitmapOf(image), 10, 10)[0], 255) << "what the thread drew stays";
}

}  // namespace
