// The decoder's routes on their own, for tests and benchmarks that hold the fast route against the careful
// one. Product code calls DecompressBlock only.
#pragma once

#include <cstdint>

enum StreamRoute {
    FastAndCarefulRoute, // what DecompressBlock runs: the fast loop, then the careful route near the ends
    CarefulRoute         // every control bit and byte taken one at a time, every bound checked where crossed
};

// Same contract as DecompressBlock through the given route; produced (may be null) receives the bytes of
// output written up to where it stopped. Both routes give the same result, consumed and produced counts,
// and the same first produced bytes of output. Past those, on failure, the fast route may have left
// scratch bytes inside the capacity.
int DecodeStreamRoute(StreamRoute route, unsigned char* destination, uint32_t destinationSize,
                      const unsigned char* source, uint32_t sourceLength, uint32_t* consumed,
                      uint32_t* produced);

// The careful route alone, with DecompressBlock's arguments.
int DecompressBlockCareful(unsigned char* destination, uint32_t destinationSize, const unsigned char* source,
                           uint32_t sourceLength, uint32_t* consumed);
