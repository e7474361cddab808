// Shared between the core's own files only; not part of the runtime's interface.
#pragma once

#include "core.h"

// Creates one growable, serialised private heap; ends the process when it cannot.
HANDLE CreatePrivateHeap(SIZE_T initialSize);
