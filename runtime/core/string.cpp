// Strings: string variables, and the per-thread StringBuffer behind the string TLS slot.
//
// A string of n characters takes n + 5 bytes: the characters, the terminating zero and four
// spare bytes. Buffers are not zeroed; only the first n + 1 bytes are defined.
//
// Only the main thread has a StringBuffer (StringInit makes it). On a thread without one, or
// after StringBufferFree, the buffer operations do nothing and give null or 0.
#include "core_internal.h"

#include <string.h>

// The per-thread string scratch buffer behind the string slot.
struct StringBuffer {
  char* buffer;      // a StringHeap block of capacity bytes
  int32_t capacity;  // 16 at creation
  int32_t position;  // current offset into buffer
};

static DWORD stringSlot = TLS_OUT_OF_INDEXES;  // TLS index of each thread's StringBuffer
static const int32_t StringBufferInitialCapacity = 16;

// The calling thread's StringBuffer, or null.
static StringBuffer* CurrentBuffer(void) {
  if (stringSlot == TLS_OUT_OF_INDEXES) return nullptr;
  return static_cast<StringBuffer*>(TlsGetValue(stringSlot));
}

HANDLE StringInit(void) {
  StringHeap = CreatePrivateHeap(4096);
  stringSlot = TlsAlloc();
  if (stringSlot == TLS_OUT_OF_INDEXES) CoreOutOfResources();
  StringBufferCreate();
  return StringHeap;
}

char* StringCreate(char** variable, const char* text) {
  if (text == nullptr) return *variable;
  size_t length = strlen(text);
  auto* copy = static_cast<char*>(HeapAlloc(StringHeap, 0, length + 5));
  *variable = copy;
  if (copy == nullptr) return nullptr;  // no room: the variable holds no string
  memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

void StringRelease(char* string) {
  if (string != nullptr) HeapFree(StringHeap, 0, string);
}

// ---------------------------------------------------------------------------------------------
// StringBuffer
// ---------------------------------------------------------------------------------------------

void StringBufferCreate(void) {
  auto* record = static_cast<StringBuffer*>(HeapAlloc(StringHeap, 0, sizeof(StringBuffer)));
  char* buffer = static_cast<char*>(HeapAlloc(StringHeap, 0, StringBufferInitialCapacity));
  if (record == nullptr || buffer == nullptr) CoreOutOfResources();
  record->buffer = buffer;
  record->capacity = StringBufferInitialCapacity;
  record->position = 0;
  TlsSetValue(stringSlot, record);
}

void StringBufferFree(void) {
  StringBuffer* record = CurrentBuffer();
  if (record == nullptr) return;
  HeapFree(StringHeap, 0, record->buffer);
  HeapFree(StringHeap, 0, record);
  TlsSetValue(stringSlot, nullptr);  // no dangling record for the operations to read
}

char* StringBufferCursor(void) {
  StringBuffer* record = CurrentBuffer();
  return record ? record->buffer + record->position : nullptr;
}

int32_t StringBufferPosition(void) {
  StringBuffer* record = CurrentBuffer();
  return record ? record->position : 0;
}

void StringBufferSetPosition(int32_t position) {
  if (StringBuffer* record = CurrentBuffer()) record->position = position;
}

char* StringBufferSeek(int32_t position) {
  StringBuffer* record = CurrentBuffer();
  if (record == nullptr) return nullptr;
  record->position = position;
  return record->buffer + position;
}

void StringBufferAdvance(void) {
  if (StringBuffer* record = CurrentBuffer()) record->position += 1;
}
