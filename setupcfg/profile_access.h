// Reading the two profile files: "SETUP.INI" of the installation (section "SETUP") and this run's
// "UPDATE.INI" (any section). A missing or empty key is a failure, reported while QuietMissingKeys is 0.
#pragma once

#include <cstdint>

int ReadSetupValue(char* buffer, const char* key, uint32_t size);
int ReadProfileValue(const char* section, const char* key, char* buffer, uint32_t size);
// The value of a "SETUP.INI" key as a decimal 32-bit integer; out is left alone on failure.
int ReadSetupInt(const char* key, int32_t* out);
// The standard decimal conversion: leading white space, optional sign, digits; clamped to 32 bits.
int32_t ConvertDecimal(const char* text);
// The standard unsigned 64-bit decimal conversion (a minus sign negates modulo 2^64; overflow gives the
// largest value).
uint64_t ConvertUnsignedDecimal64(const char* text);
