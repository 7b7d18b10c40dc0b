// Installation lookup: the installer's registry record under the current user and the caption built from
// what its "SETUP.INI" names (installed_setup.cpp reads that file). Owns Updater.Install and
// Updater.Caption.
#include "app/install_lookup.h"

#include "context/updater_context.h"
#include "report/messages.h"
#include "platform/text_format.h"

#include <cstring>

namespace {
// A number value: taken when it fits its 4 bytes (a shorter value fills the low bytes).
int QueryRegistryNumber(HKEY key, const char* name, DWORD* value) {
    DWORD number = 0;
    DWORD size = sizeof number;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(&number), &size) !=
        ERROR_SUCCESS)
        return 0;
    *value = number;
    return 1;
}
} // namespace

int QueryRegistryString(HKEY key, const char* name, char* buffer, DWORD capacity) {
    memset(buffer, 0, capacity);
    DWORD size = capacity;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size) !=
            ERROR_SUCCESS ||
        size > capacity) {
        memset(buffer, 0, capacity);
        return 0;
    }
    // The stored bytes need not end with a NUL; one must fit after them, or the value is not whole.
    if (!memchr(buffer, 0, size)) {
        if (size >= capacity) {
            buffer[0] = '\0';
            return 0;
        }
        buffer[size] = '\0';
    }
    return 1;
}

int ReadInstallRecord() {
    InstallRecord& install = Updater.Install;
    char keyPath[1024];
    FormatText(keyPath, sizeof keyPath, "Software\\%s\\%s", Updater.Setup.CompanyName, Updater.Setup.GameDir);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    int found = 0;
    if (QueryRegistryString(key, "InstPath", install.InstPath, sizeof install.InstPath)) {
        QueryRegistryString(key, "DataPath", install.DataPath, sizeof install.DataPath);
        if (QueryRegistryNumber(key, "InstMode", &install.InstMode)) {
            found = 1;
            QueryRegistryNumber(key, "InstAdd", &install.InstAdd);
        }
    }
    RegCloseKey(key);
    return found;
}

int FindInstallation() {
    if (ReadInstallRecord()) return 1;
    char message[1024];
    FormatText(message, sizeof message, "「%s」がインストールされていません", Updater.Setup.GameTitle);
    ShowError(message);
    return 0;
}

void BuildCaption() {
    if (Updater.UpdaterTitle[0])
        FormatText(Updater.Caption, sizeof Updater.Caption, "%s", Updater.UpdaterTitle);
    else
        FormatText(Updater.Caption, sizeof Updater.Caption, "%s アップデータ %s", Updater.Setup.GameTitle,
                   Updater.UpdaterVersion);
}
