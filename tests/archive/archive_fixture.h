// Test support for the archive container: a fresh folder named as the updater names paths ("X:\...": a
// mapped stand-in drive natively, the real temporary folder under Wine), file helpers over the ANSI API,
// and a builder of archive images from a table of entries.
#pragma once

#include "archive/archive.h"
#include "archive/archive_internal.h"
#include "archive/disk_space.h"
#include "archive/whole_file.h"
#include "context/updater_context.h"
#include "platform/text_format.h"
#include "platform/win32.h"
#include "tools/packer/stream_encoder.h"

#include <doctest/doctest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include "tests/fakes/script.h"
#include <cstdlib>
#include <ftw.h>
#include <unistd.h>
#endif

// Double-byte names are tested where the ANSI code page is 932 and the file system takes them: always in
// the stand-in; under Wine only when the host has a Japanese UTF-8 locale (without one, Wine cannot name
// host files outside ASCII).
inline bool DoubleByteNamesWork() {
#ifdef _WIN32
    static int known = -1;
    if (known < 0) {
        char probe[MAX_PATH];
        GetTempPathA(sizeof probe, probe);
        size_t length = strlen(probe);
        FormatText(probe + length, sizeof probe - length, "\x95\x5C%lu", GetCurrentProcessId());
        known = GetACP() == 932 && CreateDirectoryA(probe, nullptr);
        if (known) RemoveDirectoryA(probe);
        if (!known) MESSAGE("this Wine cannot name files in code page 932: double-byte name cases skipped");
    }
    return known == 1;
#else
    return true;
#endif
}

// Drive letter of the test folder natively; under Wine whatever drive the temporary folder is on.
const char TestDriveLetter = 'T';

struct TestFolder {
    char path[MAX_PATH]; // ends with "\"
#ifndef _WIN32
    char host[512];
#endif
};

#ifndef _WIN32
inline int RemoveHostEntry(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
}
#endif

#ifdef _WIN32
inline void StartAnsweringBoxes();
#endif

// Resets the stand-in and the state record, and makes an empty folder.
inline void OpenTestFolder(TestFolder& folder) {
#ifndef _WIN32
    Standin::ResetAll();
    ResetUpdaterContext();
    CopyText(folder.host, sizeof folder.host, "/tmp/archive-tests.XXXXXX");
    REQUIRE(mkdtemp(folder.host) != nullptr);
    Standin::SetDrive(TestDriveLetter, folder.host, DRIVE_FIXED);
    FormatText(folder.path, sizeof folder.path, "%c:\\", TestDriveLetter);
#else
    ResetUpdaterContext();
    StartAnsweringBoxes();
    char temp[MAX_PATH];
    REQUIRE(GetTempPathA(sizeof temp, temp) > 0);
    static unsigned counter = 0;
    for (;;) {
        FormatText(folder.path, sizeof folder.path, "%sarchive-tests-%lu-%u", temp, GetCurrentProcessId(),
                   ++counter);
        if (CreateDirectoryA(folder.path, nullptr)) break;
        REQUIRE(GetLastError() == ERROR_ALREADY_EXISTS);
    }
    size_t length = strlen(folder.path);
    folder.path[length] = '\\';
    folder.path[length + 1] = '\0';
#endif
    ForgetExtendedFreeSpaceQuery();
}

#ifdef _WIN32
// Under Wine nothing answers a message box: a thread timer, dispatched by the box's own modal loop, records
// each box's caption and text and presses OK, so tests can read the boxes as they do natively.
struct WineBox {
    std::string text;
    std::string caption;
};

inline std::vector<WineBox>& WineBoxes() {
    static std::vector<WineBox> boxes;
    return boxes;
}

inline BOOL CALLBACK LongestStaticText(HWND child, LPARAM found) {
    char name[32], text[1024];
    GetClassNameA(child, name, sizeof name);
    if (lstrcmpiA(name, "Static") == 0 && GetWindowTextA(child, text, sizeof text) > 0) {
        std::string& longest = *reinterpret_cast<std::string*>(found);
        if (strlen(text) > longest.size()) longest = text;
    }
    return TRUE;
}

inline BOOL CALLBACK AnswerBox(HWND window, LPARAM) {
    char name[32];
    GetClassNameA(window, name, sizeof name);
    if (strcmp(name, "#32770") != 0) return TRUE;
    WineBox box;
    char caption[1024];
    GetWindowTextA(window, caption, sizeof caption);
    box.caption = caption;
    EnumChildWindows(window, LongestStaticText, reinterpret_cast<LPARAM>(&box.text));
    WineBoxes().push_back(box);
    // The box's loop ends before it dispatches another message, so the next tick cannot see it again.
    EndDialog(window, IDOK);
    return TRUE;
}

inline VOID CALLBACK AnswerBoxes(HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(GetCurrentThreadId(), AnswerBox, 0);
}

inline void StartAnsweringBoxes() {
    static UINT_PTR timer = 0;
    if (!timer) timer = SetTimer(nullptr, 0, 10, AnswerBoxes);
    WineBoxes().clear();
}

inline void RemoveTree(const char* folder) {
    char pattern[MAX_PATH];
    FormatText(pattern, sizeof pattern, "%s*", folder);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!strcmp(found.cFileName, ".") || !strcmp(found.cFileName, "..")) continue;
            char path[MAX_PATH];
            FormatText(path, sizeof path, "%s%s", folder, found.cFileName);
            SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                char inner[MAX_PATH];
                FormatText(inner, sizeof inner, "%s\\", path);
                RemoveTree(inner);
                RemoveDirectoryA(path);
            } else {
                DeleteFileA(path);
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
}
#endif

inline void CloseTestFolder(TestFolder& folder) {
    if (Updater.ArchiveDirectory) GlobalFree(Updater.ArchiveDirectory);
    Updater.ArchiveDirectory = nullptr;
#ifndef _WIN32
    nftw(folder.host, RemoveHostEntry, 16, FTW_DEPTH | FTW_PHYS);
#else
    RemoveTree(folder.path);
    char bare[MAX_PATH];
    CopyText(bare, sizeof bare, folder.path);
    bare[strlen(bare) - 1] = '\0';
    RemoveDirectoryA(bare);
#endif
}

inline std::string PathIn(const TestFolder& folder, const char* name) {
    return std::string(folder.path) + name;
}

inline void WriteTestFile(const std::string& path, const std::string& content) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    DWORD written = 0;
    REQUIRE(WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
    CloseHandle(file);
}

// The file's content, or "<missing>".
inline std::string ReadTestFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "<missing>";
    std::string content(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    if (!content.empty()) ReadFile(file, &content[0], static_cast<DWORD>(content.size()), &read, nullptr);
    CloseHandle(file);
    content.resize(read);
    return content;
}

inline FILETIME MakeTime(uint64_t units) {
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(units);
    t.dwHighDateTime = static_cast<DWORD>(units >> 32);
    return t;
}

inline uint64_t Units(const FILETIME& t) {
    return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime;
}

inline void SetTestFileTime(const std::string& path, uint64_t units) {
    HANDLE file =
        CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    FILETIME t = MakeTime(units);
    REQUIRE(SetFileTime(file, &t, &t, &t));
    CloseHandle(file);
}

struct TestFileTimes {
    uint64_t creation, access, write;
};

inline TestFileTimes GetTestFileTimes(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    FILETIME c, a, w;
    REQUIRE(GetFileTime(file, &c, &a, &w));
    CloseHandle(file);
    return {Units(c), Units(a), Units(w)};
}

// Entries of a test archive. A compressed entry's stream is made by the encoder; the overrides damage it.
struct TestEntry {
    std::string name;
    std::string content;
    bool compress = false;
    uint64_t time = 0;
    int64_t storedSizeOverride = -1; // written as storedSize instead of the true one
    int64_t sizeOverride = -1;       // written as size instead of the content's length
};

struct TestImage {
    std::vector<unsigned char> bytes;
    std::vector<uint32_t> dataOffsets;
};

inline void Put32(std::vector<unsigned char>& out, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

inline std::vector<unsigned char> Encode(const std::string& content) {
    std::vector<unsigned char> stream(CompressBound(content.size()));
    size_t length = CompressBlock(reinterpret_cast<const unsigned char*>(content.data()), content.size(),
                                  stream.data(), stream.size());
    REQUIRE(length > 0);
    stream.resize(length);
    return stream;
}

inline TestImage BuildImage(const std::vector<TestEntry>& entries, bool compressDirectory) {
    TestImage image;
    std::vector<unsigned char>& out = image.bytes;
    out.assign(16, 0);
    memcpy(out.data(), "KT2", 4);
    std::vector<unsigned char> directory(entries.size() * 280, 0);
    for (size_t i = 0; i < entries.size(); ++i) {
        const TestEntry& e = entries[i];
        std::vector<unsigned char> stored(e.content.begin(), e.content.end());
        if (e.compress) stored = Encode(e.content);
        image.dataOffsets.push_back(static_cast<uint32_t>(out.size()));
        out.insert(out.end(), stored.begin(), stored.end());
        out.resize((out.size() + 15) & ~size_t(15), 0);
        unsigned char* record = &directory[i * 280];
        memcpy(record, e.name.c_str(), e.name.size() < 260 ? e.name.size() : 260);
        std::vector<unsigned char> fields(20, 0);
        Put32(fields, 0, e.compress ? 2 : 1);
        Put32(fields, 4, static_cast<uint32_t>(e.time));
        Put32(fields, 8, static_cast<uint32_t>(e.time >> 32));
        Put32(fields, 12,
              e.sizeOverride >= 0 ? static_cast<uint32_t>(e.sizeOverride)
                                  : static_cast<uint32_t>(e.content.size()));
        Put32(fields, 16,
              e.storedSizeOverride >= 0 ? static_cast<uint32_t>(e.storedSizeOverride)
                                        : static_cast<uint32_t>(stored.size()));
        memcpy(record + 260, fields.data(), 20);
    }
    Put32(out, 4, compressDirectory ? 1 : 0);
    Put32(out, 8, static_cast<uint32_t>(out.size()));
    Put32(out, 12, static_cast<uint32_t>(entries.size()));
    if (compressDirectory) {
        std::vector<unsigned char> stream = Encode(std::string(directory.begin(), directory.end()));
        out.insert(out.end(), stream.begin(), stream.end());
    } else {
        out.insert(out.end(), directory.begin(), directory.end());
    }
    return image;
}

// Loads the image as the updater does: it becomes Updater.ArchiveImage and its block the directory.
inline void UseImage(const TestImage& image) {
    Updater.ArchiveImage = image.bytes.data();
    Updater.ArchiveImageSize = static_cast<DWORD>(image.bytes.size());
    ArchiveSource source = {image.bytes.data(), static_cast<uint32_t>(image.bytes.size()), nullptr};
    Updater.ArchiveDirectory = LoadArchive(source);
    REQUIRE(Updater.ArchiveDirectory != nullptr);
}
