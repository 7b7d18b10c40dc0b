// Encoder for the archive's compressed stream (the publisher's tool only; the updater never compresses).
#pragma once

#include <cstddef>

// Largest stream CompressBlock can write for size input bytes.
size_t CompressBound(size_t size);

// Compresses size bytes into destination (capacity bytes, at least CompressBound(size)). Returns the
// stream's length, ending with the end marker, or 0 when the capacity is too small.
size_t CompressBlock(const unsigned char* source, size_t size, unsigned char* destination, size_t capacity);
