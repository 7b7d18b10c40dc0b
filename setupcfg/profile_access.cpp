// Reading the two profile files through the platform's private-profile reader, shared with the installer:
// "SETUP.INI" of the installation (section "SETUP") and this run's "UPDATE.INI". A key that is missing or
// present with an empty value is one failure, reported in an "INSTCMMN" box unless QuietMissingKeys is set.
#include "setupcfg/profile_access.h"

#include "context/updater_context.h"
#include "report/messages.h"
#include "platform/text_format.h"
#include "platform/win32.h"

#include <cstring>

// Zero-fills the whole buffer first, so that a failed read leaves an empty text and a cut value is ended.
static int ReadValue(const char* path, const char* section, const char* key, char* buffer, uint32_t size) {
    if (size == 0) return 0;
    memset(buffer, 0, size);
    return GetPrivateProfileStringA(section, key, "", buffer, size, path) != 0;
}

int ReadSetupValue(char* buffer, const char* key, uint32_t size) {
    if (ReadValue(Updater.SetupIniPath, "SETUP", key, buffer, size)) return 1;
    if (!Updater.QuietMissingKeys) {
        char message[1024];
        FormatText(message, sizeof message, "SETUP.INI : %s キーが存在しません", key);
        ShowCommonError(message);
    }
    return 0;
}

int ReadProfileValue(const char* section, const char* key, char* buffer, uint32_t size) {
    if (ReadValue(Updater.UpdateIniPath, section, key, buffer, size)) return 1;
    if (!Updater.QuietMissingKeys) {
        char message[1024];
        FormatText(message, sizeof message, "%s : %s キーが存在しません", section, key);
        ShowCommonError(message);
    }
    return 0;
}

int ReadSetupInt(const char* key, int32_t* out) {
    char value[20];
    if (!ReadSetupValue(value, key, sizeof value)) return 0;
    *out = ConvertDecimal(value);
    return 1;
}

// White space as the C library's conversions skip it.
static int IsSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

int32_t ConvertDecimal(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (IsSpace(*p))
        ++p;
    int negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    // Accumulated as a magnitude that stops growing past the 32-bit range, so no input can overflow it.
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (magnitude <= INT64_C(0x80000000)) magnitude = magnitude * 10 + (*p - '0');
    }
    if (negative) return magnitude >= INT64_C(0x80000000) ? INT32_MIN : static_cast<int32_t>(-magnitude);
    return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

uint64_t ConvertUnsignedDecimal64(const char* text) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (IsSpace(*p))
        ++p;
    int negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    uint64_t value = 0;
    int overflow = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (value > (UINT64_MAX - digit) / 10) overflow = 1;
        value = value * 10 + digit;
    }
    if (overflow) return UINT64_MAX;
    // The standard unsigned conversion negates a value that carries a minus sign.
    return negative ? 0 - value : value;
}

int BeginProfileReading(const char* updateIniPath, const char* setupIniPath, SavedProfileFields* saved) {
    if ((updateIniPath && strlen(updateIniPath) >= sizeof Updater.UpdateIniPath) ||
        (setupIniPath && strlen(setupIniPath) >= sizeof Updater.SetupIniPath))
        return 0;
    memcpy(saved->updateIniPath, Updater.UpdateIniPath, sizeof saved->updateIniPath);
    memcpy(saved->setupIniPath, Updater.SetupIniPath, sizeof saved->setupIniPath);
    saved->quietMissingKeys = Updater.QuietMissingKeys;
    saved->currentDisk = Updater.CurrentDisk;
    if (updateIniPath) CopyText(Updater.UpdateIniPath, sizeof Updater.UpdateIniPath, updateIniPath);
    if (setupIniPath) CopyText(Updater.SetupIniPath, sizeof Updater.SetupIniPath, setupIniPath);
    Updater.QuietMissingKeys = 1;
    return 1;
}

void EndProfileReading(const SavedProfileFields* saved) {
    memcpy(Updater.UpdateIniPath, saved->updateIniPath, sizeof Updater.UpdateIniPath);
    memcpy(Updater.SetupIniPath, saved->setupIniPath, sizeof Updater.SetupIniPath);
    Updater.QuietMissingKeys = saved->quietMissingKeys;
    Updater.CurrentDisk = saved->currentDisk;
}
