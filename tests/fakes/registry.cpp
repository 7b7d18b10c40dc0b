// Stand-in registry of the current user: keys and values that tests set (registry_script.h), read through
// RegOpenKeyExA, RegQueryValueExA and RegCloseKey with Windows' rules for sizes: a value that does not fit
// the caller's buffer gives ERROR_MORE_DATA and the size it needs, a null buffer asks for the size only.
// Owns fixed tables of keys, values and open handles.
#include "tests/fakes/registry_script.h"
#include "platform/standin/standin_state.h"
#include "tests/fakes/fakes_state.h"

#include <cstring>

struct StandinKey {
    int used;
    int key; // index into the key table
};

namespace {
enum { KeyCapacity = 32, ValueCapacity = 16, ValueDataCapacity = 2048, HandleCapacity = 32 };

struct Value {
    int used;
    char name[260];
    DWORD type;
    DWORD size;
    unsigned char data[ValueDataCapacity];
};

struct Key {
    int used;
    char path[1024];
    Value values[ValueCapacity];
};

Key keys[KeyCapacity];
StandinKey handles[HandleCapacity];

int FindKey(const char* path) {
    for (int i = 0; i < KeyCapacity; ++i)
        if (keys[i].used && lstrcmpiA(keys[i].path, path) == 0) return i;
    return -1;
}

int FindOrAddKey(const char* path) {
    int found = FindKey(path);
    if (found >= 0) return found;
    for (int i = 0; i < KeyCapacity; ++i) {
        if (keys[i].used) continue;
        memset(&keys[i], 0, sizeof keys[i]);
        keys[i].used = 1;
        Standin::CopyHostText(keys[i].path, sizeof keys[i].path, path);
        return i;
    }
    return -1;
}

Value* FindValue(Key& key, const char* name) {
    for (Value& value : key.values)
        if (value.used && lstrcmpiA(value.name, name) == 0) return &value;
    return nullptr;
}

StandinKey* OpenHandle(HKEY key) {
    if (!key) return nullptr;
    for (StandinKey& handle : handles)
        if (&handle == key && handle.used) return &handle;
    return nullptr;
}
} // namespace

namespace Standin {

void ResetRegistry() {
    memset(keys, 0, sizeof keys);
    memset(handles, 0, sizeof handles);
}

void AddRegistryKey(const char* keyPath) {
    FindOrAddKey(keyPath);
}

void SetRegistryValue(const char* keyPath, const char* name, DWORD type, const void* data, DWORD size) {
    int index = FindOrAddKey(keyPath);
    if (index < 0 || size > ValueDataCapacity) return;
    Key& key = keys[index];
    Value* value = FindValue(key, name);
    for (int i = 0; !value && i < ValueCapacity; ++i)
        if (!key.values[i].used) value = &key.values[i];
    if (!value) return;
    memset(value, 0, sizeof *value);
    value->used = 1;
    CopyHostText(value->name, sizeof value->name, name);
    value->type = type;
    value->size = size;
    if (size) memcpy(value->data, data, size);
}

void SetRegistryString(const char* keyPath, const char* name, const char* text) {
    SetRegistryValue(keyPath, name, REG_SZ, text, static_cast<DWORD>(strlen(text) + 1));
}

void SetRegistryNumber(const char* keyPath, const char* name, DWORD number) {
    SetRegistryValue(keyPath, name, REG_DWORD, &number, sizeof number);
}

int OpenRegistryKeyCount() {
    int count = 0;
    for (const StandinKey& handle : handles)
        count += handle.used;
    return count;
}

} // namespace Standin

LSTATUS RegOpenKeyExA(HKEY parent, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    if (!result) return 87; // ERROR_INVALID_PARAMETER
    *result = nullptr;
    if (parent != HKEY_CURRENT_USER || !subKey) return ERROR_FILE_NOT_FOUND;
    int index = FindKey(subKey);
    if (index < 0) return ERROR_FILE_NOT_FOUND;
    for (StandinKey& handle : handles) {
        if (handle.used) continue;
        handle.used = 1;
        handle.key = index;
        *result = &handle;
        return ERROR_SUCCESS;
    }
    return 1450; // ERROR_NO_SYSTEM_RESOURCES
}

LSTATUS RegQueryValueExA(HKEY key, LPCSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) {
    StandinKey* handle = OpenHandle(key);
    if (!handle) return 6;         // ERROR_INVALID_HANDLE
    if (data && !size) return 998; // ERROR_NOACCESS
    Value* value = FindValue(keys[handle->key], name ? name : "");
    if (!value) return ERROR_FILE_NOT_FOUND;
    if (type) *type = value->type;
    if (!data) {
        if (size) *size = value->size;
        return ERROR_SUCCESS;
    }
    if (*size < value->size) {
        *size = value->size;
        return ERROR_MORE_DATA;
    }
    memcpy(data, value->data, value->size);
    *size = value->size;
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
    StandinKey* handle = OpenHandle(key);
    if (!handle) return 6;
    handle->used = 0;
    return ERROR_SUCCESS;
}
