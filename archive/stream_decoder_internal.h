// The decoder's careful route on its own, for tests that hold the fast route against it. Product code
// calls DecompressBlock only.
#pragma once

#include <cstdint>

// Same contract as DecompressBlock, decoded one control bit and one byte at a time with every bound
// checked where it is crossed. DecompressBlock must give the same result, output and consumed count.
int DecompressBlockCareful(unsigned char* destination, uint32_t destinationSize, const unsigned char* source,
                           uint32_t sourceLength, uint32_t* consumed);
