// String variables: each a NUL-terminated copy in a StringHeap buffer of its own.
//
// A string of n characters takes n + 5 bytes: the characters, the terminating zero and four
// spare bytes. Buffers are not zeroed; only the first n + 1 bytes are defined.
#include "core.h"

#include <string.h>

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
