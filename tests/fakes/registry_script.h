// What tests control of the stand-in registry: keys and values under the current user, set as the
// installer would have left them. Key paths are relative to HKEY_CURRENT_USER ("Software\Co\Game") and
// found without regard to case, as Windows finds them.
#pragma once

#include "platform/win32.h"

namespace Standin {

// Creates the key (and nothing else); RegOpenKeyExA then finds it even without values.
void AddRegistryKey(const char* keyPath);
// Stores size bytes of data with the given registry type (REG_SZ, REG_DWORD, 3 for binary...) exactly as
// given: a string stored without its NUL stays without it. Creates the key when needed.
void SetRegistryValue(const char* keyPath, const char* name, DWORD type, const void* data, DWORD size);
// A string value stored with its terminating NUL, as the installer writes it.
void SetRegistryString(const char* keyPath, const char* name, const char* value);
void SetRegistryNumber(const char* keyPath, const char* name, DWORD value);
// Keys opened with RegOpenKeyExA and not yet closed.
int OpenRegistryKeyCount();

} // namespace Standin
