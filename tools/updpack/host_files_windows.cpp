// updpack's host layer on Windows: arguments and file names are UTF-16 (the wide API throughout, so any
// name the file system holds can be read and reported), turned into the tool's UTF-8 at this border; code
// page 932 conversions go through the system's own tables; times are FILETIME values as they stand; and
// the primitives of host_system.h are the wide API's calls (each file flushed, each move written through).
#include "tools/updpack/host_files.h"
#include "tools/updpack/host_system.h"
#include "tools/updpack/updpack.h"

#include "platform/text_format.h"
#include "platform/win32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <io.h>

namespace {
const UINT CodePage932 = 932;

std::wstring Wide(const std::string& text, UINT codePage, int* converted) {
    *converted = 1;
    if (text.empty()) return std::wstring();
    int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(),
                                     static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        *converted = 0;
        return std::wstring();
    }
    std::wstring result(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                        &result[0], length);
    return result;
}

// UTF-16 to a code page; with checkDefault, a character the code page lacks (or would only approximate)
// makes the conversion fail instead of turning into "?".
int Narrow(const wchar_t* text, size_t count, UINT codePage, std::string& result) {
    result.clear();
    if (count == 0) return 1;
    BOOL usedDefault = FALSE;
    DWORD flags = codePage == CP_UTF8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL* defaultFlag = codePage == CP_UTF8 ? nullptr : &usedDefault;
    int length =
        WideCharToMultiByte(codePage, flags, text, static_cast<int>(count), nullptr, 0, nullptr, defaultFlag);
    if (length <= 0 || usedDefault) return 0;
    result.assign(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, flags, text, static_cast<int>(count), &result[0], length, nullptr,
                        defaultFlag);
    return !usedDefault && result.find('\0') == std::string::npos;
}

std::string Utf8(const wchar_t* text) {
    std::string result;
    if (!Narrow(text, wcslen(text), CP_UTF8, result)) result = "?";
    return result;
}

// A host path in UTF-16 as it is written; a path that is not UTF-8 cannot name a file.
std::wstring PlainWidePath(const char* path) {
    int converted;
    std::wstring result = Wide(path, CP_UTF8, &converted);
    return converted ? result : std::wstring(L"?");
}

// A host path as the wide file API takes it. A whole path of MAX_PATH characters or more (a name of up to
// 255 characters in any folder can make one) is opened only as a full path with the "\\?\" prefix, which
// also turns off the API's tidying of the path: the path is made full, and so tidied, first.
std::wstring WidePath(const char* path) {
    std::wstring plain = PlainWidePath(path);
    if (plain.compare(0, 4, L"\\\\?\\") == 0 || plain.compare(0, 4, L"\\\\.\\") == 0) return plain;
    DWORD length = GetFullPathNameW(plain.c_str(), 0, nullptr, nullptr);
    if (length == 0) return plain;
    std::wstring full(length, L'\0');
    length = GetFullPathNameW(plain.c_str(), length, &full[0], nullptr);
    if (length == 0 || length >= full.size()) return plain;
    full.resize(length);
    // Folders are created below MAX_PATH less room for an 8.3 name; the same margin holds for everything.
    if (full.size() < MAX_PATH - 12) return plain;
    if (full.compare(0, 2, L"\\\\") == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string SystemMessage(DWORD error) {
    wchar_t* text = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message;
    if (length && text) {
        while (length && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' '))
            text[--length] = L'\0';
        message = Utf8(text);
    }
    if (text) LocalFree(text);
    char code[32];
    FormatText(code, sizeof code, "error %lu", static_cast<unsigned long>(error));
    return message.empty() ? std::string(code) : message;
}

uint64_t FileTimeValue(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

HostFileId IdentityOfHandle(HANDLE file) {
    HostFileId id = {0, 0, 0};
    BY_HANDLE_FILE_INFORMATION information;
    if (GetFileInformationByHandle(file, &information)) {
        id.volume = information.dwVolumeSerialNumber;
        id.file = (static_cast<uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
        id.known = 1;
    }
    return id;
}

int WriteHandle(HANDLE file, const void* data, size_t size) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return 0;
        bytes += written;
        size -= written;
    }
    return 1;
}

int IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}
} // namespace

int HostArguments(int, char**, std::vector<std::string>& arguments) {
    arguments.clear();
    // Messages and listed names are UTF-8, as on every other host.
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) {
        Report("cannot read the command line: %s", SystemMessage(GetLastError()).c_str());
        return 0;
    }
    int read = 1;
    for (int i = 0; i < count; ++i) {
        std::string argument;
        if (!Narrow(wide[i], wcslen(wide[i]), CP_UTF8, argument)) {
            Report("argument %d is not valid UTF-16", i);
            read = 0;
        }
        arguments.push_back(argument);
    }
    LocalFree(wide);
    return read;
}

std::string HostProgramFolder() {
    wchar_t path[4096];
    DWORD length = GetModuleFileNameW(nullptr, path, sizeof path / sizeof path[0]);
    if (length == 0 || length >= sizeof path / sizeof path[0]) return "";
    while (length > 0 && !IsSeparator(path[length - 1]))
        --length;
    if (length == 0) return "";
    path[length - 1] = L'\0';
    return Utf8(path);
}

std::string HostJoin(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '\\' || folder.back() == '/' || folder.back() == ':')
        return folder + name;
    return folder + "\\" + name;
}

HostFileId HostFileIdentity(const char* path) {
    HostFileId id = {0, 0, 0};
    HANDLE file =
        CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return id;
    id = IdentityOfHandle(file);
    CloseHandle(file);
    return id;
}

int SameHostFile(const HostFileId& a, const HostFileId& b) {
    return a.known && b.known && a.volume == b.volume && a.file == b.file;
}

int ListHostFolder(const char* folder, std::vector<HostFolderItem>& items) {
    items.clear();
    std::wstring pattern = WidePath(HostJoin(folder, "*").c_str());
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND && IsHostFolder(folder)) return 1;
        Report("%s: cannot read the folder: %s", folder, SystemMessage(error).c_str());
        return 0;
    }
    int listed = 1;
    do {
        if (!wcscmp(found.cFileName, L".") || !wcscmp(found.cFileName, L"..")) continue;
        HostFolderItem item;
        if (!Narrow(found.cFileName, wcslen(found.cFileName), CP_UTF8, item.name)) {
            Report("%s: a name in the folder is not valid UTF-16", folder);
            listed = 0;
            continue;
        }
        // A reparse point (a symbolic link, a junction, a mount point) is listed as a link, whatever it
        // points to and whether or not that exists.
        if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            item.kind = HostLink;
        else if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            item.kind = HostSubfolder;
        else if (found.dwFileAttributes & FILE_ATTRIBUTE_DEVICE)
            item.kind = HostSpecialFile;
        else
            item.kind = HostRegularFile;
        item.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        item.fileTime = FileTimeValue(found.ftLastWriteTime);
        item.timeKnown = 1;
        item.id = HostFileIdentity(HostJoin(folder, item.name).c_str());
        items.push_back(item);
    } while (FindNextFileW(search, &found));
    DWORD error = GetLastError();
    FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        Report("%s: cannot read the folder: %s", folder, SystemMessage(error).c_str());
        listed = 0;
    }
    return listed;
}

int IsHostFolder(const char* path) {
    DWORD attributes = GetFileAttributesW(WidePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int MakeHostFolders(const char* folder) {
    std::wstring path = PlainWidePath(folder);
    // Past a drive ("C:\") or a share ("\\server\share\"), each separator ends a folder to create.
    size_t start = 1;
    if (path.size() >= 2 && path[1] == L':') start = 3;
    for (size_t i = start; i <= path.size(); ++i) {
        if (i < path.size() && !IsSeparator(path[i])) continue;
        std::wstring part = path.substr(0, i);
        if (!part.empty() && !CreateDirectoryW(part.c_str(), nullptr)) {
            DWORD error = GetLastError();
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) {
                Report("%s: cannot create the folder: %s", Utf8(part.c_str()).c_str(),
                       SystemMessage(error).c_str());
                return 0;
            }
        }
    }
    if (!IsHostFolder(folder)) {
        Report("%s: not a folder", folder);
        return 0;
    }
    return 1;
}

// The primitives of host_system.h.

int InspectHostPath(const char* path, HostItemKind* kind, const char** what) {
    std::wstring wide = WidePath(path);
    // A device's own namespace ("\\.\PIPE\..."): opening a pipe there would take one of its instances.
    if (strncmp(path, "\\\\.\\", 4) == 0 || strncmp(path, "//./", 4) == 0) {
        *kind = HostSpecialFile;
        *what = "a pipe or a device";
        return 1;
    }
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    // Opened for no access at all, links followed: what the path leads to, whatever it is.
    HANDLE file = CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *kind = HostLink;
        *what = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? "a symbolic link that leads to nothing"
                                                            : "a file that cannot be opened";
        return 1;
    }
    DWORD type = GetFileType(file);
    BY_HANDLE_FILE_INFORMATION information;
    memset(&information, 0, sizeof information);
    if (type == FILE_TYPE_DISK) GetFileInformationByHandle(file, &information);
    CloseHandle(file);
    *kind = type != FILE_TYPE_DISK                                      ? HostSpecialFile
            : (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? HostSubfolder
                                                                        : HostRegularFile;
    *what = *kind == HostSpecialFile ? "a pipe or a device"
            : *kind == HostSubfolder ? "a folder"
                                     : "a regular file";
    return 1;
}

HostFile OpenHostFileForReading(const char* path, HostLinkRule links, HostOpenedFacts* facts,
                                std::string* error) {
    memset(facts, 0, sizeof *facts);
    // With RefuseLinks the reparse point itself is opened, so that it can be seen and refused.
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (links == RefuseLinks ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = SystemMessage(GetLastError());
        return NoHostFile;
    }
    // A pipe, a console or another device may never end: the handle's type says so before anything is read.
    BY_HANDLE_FILE_INFORMATION information;
    memset(&information, 0, sizeof information);
    DWORD type = GetFileType(file);
    if (type == FILE_TYPE_DISK && !GetFileInformationByHandle(file, &information)) {
        *error = SystemMessage(GetLastError());
        CloseHandle(file);
        return NoHostFile;
    }
    facts->size = (static_cast<uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    facts->fileTime = FileTimeValue(information.ftLastWriteTime);
    facts->timeKnown = 1;
    facts->kind = HostRegularFile;
    facts->notRegular = "not a regular file";
    if (type != FILE_TYPE_DISK) {
        facts->kind = HostSpecialFile;
        facts->notRegular = "a pipe or a device, not a regular file";
    } else if (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        facts->kind = HostLink;
        facts->notRegular = "a symbolic link or another reparse point, not a regular file";
    } else if (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        facts->kind = HostSubfolder;
        facts->notRegular = "a folder, not a regular file";
    }
    return reinterpret_cast<HostFile>(file);
}

int ReadHostFileChunk(HostFile file, void* buffer, size_t wanted, size_t* got, std::string* error) {
    DWORD chunk = wanted > (1u << 30) ? (1u << 30) : static_cast<DWORD>(wanted);
    DWORD read = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer, chunk, &read, nullptr)) {
        *error = SystemMessage(GetLastError());
        return 0;
    }
    *got = read;
    return 1;
}

void CloseHostFile(HostFile file) {
    CloseHandle(reinterpret_cast<HANDLE>(file));
}

HostFile CreateNewHostFile(const char* path, int* exists, std::string* error) {
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return reinterpret_cast<HostFile>(file);
    DWORD code = GetLastError();
    *exists = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
    *error = SystemMessage(code);
    return NoHostFile;
}

int WriteHostFileWhole(HostFile file, const void* data, size_t size, std::string* error) {
    if (WriteHandle(reinterpret_cast<HANDLE>(file), data, size)) return 1;
    *error = SystemMessage(GetLastError());
    return 0;
}

int WriteHostFileAt(HostFile file, uint64_t offset, const void* data, size_t size, std::string* error) {
    HANDLE handle = reinterpret_cast<HANDLE>(file);
    LARGE_INTEGER position, end, zero;
    position.QuadPart = static_cast<LONGLONG>(offset);
    zero.QuadPart = 0;
    if (SetFilePointerEx(handle, zero, &end, FILE_CURRENT) &&
        SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) && WriteHandle(handle, data, size) &&
        SetFilePointerEx(handle, end, nullptr, FILE_BEGIN))
        return 1;
    *error = SystemMessage(GetLastError());
    return 0;
}

int FinishHostFile(HostFile file, const uint64_t* fileTime, int flush, std::string* error) {
    HANDLE handle = reinterpret_cast<HANDLE>(file);
    int done = 1;
    if (fileTime) {
        FILETIME time;
        time.dwLowDateTime = static_cast<DWORD>(*fileTime);
        time.dwHighDateTime = static_cast<DWORD>(*fileTime >> 32);
        done = SetFileTime(handle, &time, &time, &time) != 0;
    }
    done = done && (!flush || FlushFileBuffers(handle));
    DWORD code = done ? 0 : GetLastError();
    if (!CloseHandle(handle) && done) {
        code = GetLastError();
        done = 0;
    }
    if (!done) *error = SystemMessage(code);
    return done;
}

int MoveHostFile(const char* from, const char* to, std::string* error) {
    if (MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return 1;
    *error = SystemMessage(GetLastError());
    return 0;
}

void DeleteHostFile(const char* path) {
    DeleteFileW(WidePath(path).c_str());
}

// Windows has no flush of a whole volume short of administrator rights: every file is flushed on its own,
// and every move is written through.
const int HostSyncsVolumes = 0;

int SyncHostVolume(const std::string&, std::string*) {
    return 1;
}

int SyncHostFolderNames(const std::string&, std::string*) {
    return 1;
}

std::string HostFolderOf(const std::string& path) {
    size_t separator = path.find_last_of("\\/:");
    if (separator == std::string::npos) return ".";
    // A drive's own folder keeps what makes it one: "C:" (its current folder), "C:\" or "\" alone.
    if (path[separator] == ':' || separator == 0 || (separator == 2 && path[1] == ':'))
        return path.substr(0, separator + 1);
    return path.substr(0, separator);
}

uint32_t HostNameSeed() {
    return GetTickCount() ^ (GetCurrentProcessId() << 16);
}

int MakeProfileCopy(const unsigned char* content, size_t size, char* path, size_t capacity) {
    char folder[MAX_PATH];
    char name[MAX_PATH];
    DWORD length = GetTempPathA(sizeof folder, folder);
    if (length == 0 || length >= sizeof folder || !GetTempFileNameA(folder, "upk", 0, name)) {
        Report("cannot create a temporary file: %s", SystemMessage(GetLastError()).c_str());
        return 0;
    }
    HANDLE file =
        CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    int written = file != INVALID_HANDLE_VALUE && WriteHandle(file, content, size);
    DWORD error = written ? 0 : GetLastError();
    if (file != INVALID_HANDLE_VALUE && !CloseHandle(file) && written) {
        error = GetLastError();
        written = 0;
    }
    if (!written || strlen(name) >= capacity) {
        Report("cannot write a temporary file: %s", SystemMessage(error).c_str());
        DeleteFileA(name);
        return 0;
    }
    CopyText(path, capacity, name);
    return 1;
}

void RemoveProfileCopy(const char* path) {
    DeleteFileA(path);
}

// lstrcmpiA is CompareStringA in the thread's locale, ignoring case; the documented sort key of the same
// locale and flags orders names as that compare does, equal keys for equal names.
std::string ArchiveNameSortKey(const char* archiveName) {
    LCID locale = GetThreadLocale();
    DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
    int length = LCMapStringA(locale, flags, archiveName, -1, nullptr, 0);
    std::string key;
    if (length > 0) {
        key.assign(static_cast<size_t>(length), '\0');
        length = LCMapStringA(locale, flags, archiveName, -1, &key[0], length);
    }
    // Not expected for a name of at most 259 bytes; names without a key then form one group of their own.
    if (length <= 0) return std::string();
    key.resize(static_cast<size_t>(length));
    return key;
}

int CodePage932FromUtf8(const char* text, std::string& result) {
    int converted;
    std::wstring wide = Wide(text, CP_UTF8, &converted);
    return converted && Narrow(wide.data(), wide.size(), CodePage932, result);
}

int Utf8FromCodePage932(const char* text, std::string& result) {
    int converted;
    std::wstring wide = Wide(text, CodePage932, &converted);
    return converted && Narrow(wide.data(), wide.size(), CP_UTF8, result);
}

int HostMessageBoxesShown() {
    return 0;
}

int HostErrorIsTerminal() {
    return _isatty(_fileno(stderr));
}
