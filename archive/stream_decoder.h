// Decoder of the archive's compressed stream: an LZ77 variant with 32-bit flag words interleaved with
// the data bytes, short matches of 2 bytes, long matches of 3 to 282 bytes from up to 8192 bytes back,
// and an end marker.
#pragma once

#include <cstdint>

// The most one stream byte can decode to. No token yields more than 282 bytes for its 25 bits (a long match
// of the greatest length at the nearest distance code), so n stream bytes cannot decode to more than
// n × 8 × 282 / 25 < n × 91 bytes (a stream of zeros reaches 90.2). A size claimed beyond that is damage,
// found before any memory is set aside for it.
const uint32_t MostDecodedPerStreamByte = 91;

// Decodes the stream of sourceLength bytes into destination. Returns 1 when the stream reaches its end
// marker having written exactly destinationSize bytes; 0 for a damaged stream (truncated, a match
// reaching before the start of the output, more output than destinationSize, or less). Never reads or
// writes outside the two buffers. consumed (may be null) receives the bytes read up to where it stopped.
// After a 0 the destination's content is unspecified: the caller discards it.
int DecompressBlock(unsigned char* destination, uint32_t destinationSize, const unsigned char* source,
                    uint32_t sourceLength, uint32_t* consumed);
