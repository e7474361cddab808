// The runtime's start-up and end steps, in their fixed order, written once: the program and the
// benchmarks start the whole runtime, a test process the parts its executable needs.
#pragma once

#include <stdint.h>

// Parts of the runtime, bits of the mask StartRuntime takes; the tests name the same parts.
constexpr uint32_t RuntimeCore = 0x1;     // heaps, strings, linked blocks, memory blocks
constexpr uint32_t RuntimeImage = 0x2;    // drawing output, decoders, images, the PNG decoder
constexpr uint32_t RuntimeWindow = 0x4;   // the window system
constexpr uint32_t RuntimeGadgets = 0x8;  // the gadget library: gadget table, gadget state, controls
constexpr uint32_t RuntimeAll = RuntimeCore | RuntimeImage | RuntimeWindow | RuntimeGadgets;

// Runs the start-up steps of the parts in the mask, in the runtime's order, once per process: a
// later call does nothing.
void StartRuntime(uint32_t parts = RuntimeAll);
// Runs the end steps of the parts started, in the reverse order; the core's, last, destroys
// MainHeap and ends the process with exit code 0.
[[noreturn]] void EndRuntime(void);
// The end steps EndRuntime runs before the core's: every image, window and gadget of the parts
// started goes, and the process goes on (a test's books are counted so).
void EndRuntimeLibraries(void);
