// Shared between the image library's own files only; not part of the runtime's interface.
#pragma once

#include "image.h"

// Takes the record for a new image under number (−1: a new dynamic record), freeing whatever
// image held the number; null for numbers below −1, which no record may take.
ImageRecord* TakeImageRecord(int32_t number);
// Stores a made native object and its measurements in a taken record and returns the
// creator's result (the dynamic number for −1, else the handle); without an object the record
// is given back and the result is 0.
int32_t StoreImage(int32_t number, ImageRecord* record, HANDLE handle, const BITMAP& measured,
                   uint8_t formatFlags);
