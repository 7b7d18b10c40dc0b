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

// The profile fields of the updater's record while other files than this run's are read with the same
// readers, quietly (the publisher's tool checks a folder's "UPDATE.INI" so): saved by
// BeginProfileReading, given back as they were by EndProfileReading.
struct SavedProfileFields {
    char updateIniPath[260];
    char setupIniPath[260];
    int32_t quietMissingKeys;
    int32_t currentDisk;
};
// Points the readers at updateIniPath and setupIniPath (either may be null: left as it is) with
// QuietMissingKeys set. 0 when a path does not fit, with nothing changed.
int BeginProfileReading(const char* updateIniPath, const char* setupIniPath, SavedProfileFields* saved);
void EndProfileReading(const SavedProfileFields* saved);
