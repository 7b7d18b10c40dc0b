// Whole files on disk, as the update engine writes them: the whole-file read, the durable whole-file
// replace, the prepared file beside its target, the free names beside a file for prepared files and
// backups, and the times stamped on a file. Owns nothing.
#include "archive/whole_file.h"

#include <cstring>

namespace {

int ReadExactly(HANDLE file, void* buffer, uint32_t size) {
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, nullptr) && read == size;
}

// Bytes of path up to and including its last separator (0 when there is none), stepping over double-byte
// characters whose trail byte may equal "\".
size_t FolderLength(const char* path) {
    size_t length = 0;
    for (const char* p = path; *p; p = CharNextA(p)) {
        if (*p == '\\' || *p == '/') length = static_cast<size_t>(p - path) + 1;
    }
    return length;
}

// A free name beside path, in path's own folder and within MAX_PATH: the target's name followed by
// marker (".~up" for the temporary file that replaces it, ".~bk" for the copy of the old file that a commit
// keeps until the update is complete) and a hex digit, or where that is too long shortMarker ("~" or "~b")
// and a hex digit alone. A name that exists (left by a run that was killed, or anybody's file) is never
// taken. 0 when no name fits or every one is taken.
int FreeName(const char* path, const char* marker, const char* shortMarker, char* temporary) {
    static const char Digits[] = "0123456789ABCDEF";
    size_t length = strlen(path);
    size_t folder = FolderLength(path);
    for (int form = 0; form < 2; ++form) {
        size_t stem = form == 0 ? length : folder;
        const char* mark = form == 0 ? marker : shortMarker;
        size_t markLength = strlen(mark);
        if (stem + markLength + 1 > MAX_PATH - 1) continue;
        memcpy(temporary, path, stem);
        memcpy(temporary + stem, mark, markLength);
        for (int digit = 0; digit < 16; ++digit) {
            temporary[stem + markLength] = Digits[digit];
            temporary[stem + markLength + 1] = '\0';
            if (GetFileAttributesA(temporary) == INVALID_FILE_ATTRIBUTES) return 1;
        }
    }
    temporary[0] = '\0';
    return 0;
}

int FreeTemporaryName(const char* path, char* temporary) {
    return FreeName(path, ".~up", "~", temporary);
}

// One write of the whole content, flushed to the disk before the handle is closed. 1 or 0.
int WriteFlushedAndClose(HANDLE file, const void* data, uint32_t size) {
    DWORD written = 0;
    BOOL wrote = WriteFile(file, data, size, &written, nullptr) && written == size;
    BOOL flushed = wrote && FlushFileBuffers(file);
    BOOL closed = CloseHandle(file);
    return wrote && flushed && closed;
}

int StampTimes(const char* path, const FILETIME* time) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BOOL stamped = SetFileTime(file, time, time, time);
    BOOL closed = CloseHandle(file);
    return stamped && closed;
}

} // namespace

// The whole-file write. The content goes into a new file beside the target, which replaces the target
// only once it is complete and on the disk: a failed write (disk full, I/O error) or a killed process
// leaves the old file whole, and after a power loss the new name never shows empty or partial content.
// A read-only target is refused, as creating over it would be, unless clearReadOnly: then it is made
// writable only just before it is replaced (Windows refuses to replace it otherwise), so that a write
// that fails or is killed before leaves it as it was. The times are set after the replacement so that
// the file system cannot carry the replaced file's creation time over.
int ReplaceWholeFile(const char* path, const void* data, uint32_t size, const FILETIME* fileTime,
                     int clearReadOnly) {
    DWORD attributes = GetFileAttributesA(path);
    int readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (readOnly && !clearReadOnly) return 0;
    // Longer paths do not fit the updater's buffers, nor the ANSI calls.
    if (strlen(path) > MAX_PATH - 1) return 0;
    char temporary[MAX_PATH];
    if (!FreeTemporaryName(path, temporary)) {
        // A folder of 258 bytes leaves no room for any temporary name (or every one is taken): the
        // target is written in place, as a plain write does, rather than not at all.
        if (readOnly) SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        HANDLE file =
            CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE || !WriteFlushedAndClose(file, data, size)) return 0;
        return fileTime ? StampTimes(path, fileTime) : 1;
    }
    HANDLE file =
        CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    int replaced = WriteFlushedAndClose(file, data, size);
    if (replaced && readOnly) SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    replaced = replaced && MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!replaced) {
        if (readOnly) SetFileAttributesA(path, attributes);
        DeleteFileA(temporary);
        return 0;
    }
    return fileTime ? StampTimes(path, fileTime) : 1;
}

int PrepareWholeFile(const char* path, const void* data, uint32_t size, const FILETIME* fileTime,
                     char* prepared) {
    prepared[0] = '\0';
    if (strlen(path) > MAX_PATH - 1 || !FreeTemporaryName(path, prepared)) return 0;
    HANDLE file =
        CreateFileA(prepared, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        prepared[0] = '\0';
        return 0;
    }
    if (!WriteFlushedAndClose(file, data, size) || (fileTime && !StampTimes(prepared, fileTime))) {
        DeleteFileA(prepared);
        prepared[0] = '\0';
        return 0;
    }
    return 1;
}

int FreeBackupName(const char* path, char* backup) {
    return strlen(path) <= MAX_PATH - 1 && FreeName(path, ".~bk", "~b", backup);
}

int FreePreparedName(const char* path, char* prepared) {
    return strlen(path) <= MAX_PATH - 1 && FreeTemporaryName(path, prepared);
}

int StampFileTimes(const char* path, const FILETIME* fileTime) {
    return StampTimes(path, fileTime);
}

unsigned char* ReadWholeFile(const char* path, uint32_t* sizeOut) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    // A file of 4 GiB or more would come back cut to its low 32 bits: refused, as is a short read (the
    // file changed while it was read), so that nothing truncated is ever written back.
    DWORD sizeHigh = 0;
    DWORD size = GetFileSize(file, &sizeHigh);
    unsigned char* buffer = nullptr;
    if (size != INVALID_FILE_SIZE && sizeHigh == 0) {
        buffer = static_cast<unsigned char*>(GlobalAlloc(GMEM_FIXED, size ? size : 1));
        if (buffer && !ReadExactly(file, buffer, size)) {
            GlobalFree(buffer);
            buffer = nullptr;
        }
    }
    CloseHandle(file);
    if (buffer && sizeOut) *sizeOut = size;
    return buffer;
}

int WriteWholeFile(const char* path, const void* data, uint32_t size, const FILETIME* fileTime) {
    return ReplaceWholeFile(path, data, size, fileTime, 0);
}

int ReadLastWriteTime(const char* path, FILETIME* lastWrite) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BOOL read = GetFileTime(file, nullptr, nullptr, lastWrite);
    CloseHandle(file);
    return read != 0;
}

int IsLaterTime(const FILETIME& a, const FILETIME& b) {
    uint64_t left = uint64_t(a.dwHighDateTime) << 32 | a.dwLowDateTime;
    uint64_t right = uint64_t(b.dwHighDateTime) << 32 | b.dwLowDateTime;
    return left > right;
}

int NothingThere(DWORD attributes) {
    if (attributes != INVALID_FILE_ATTRIBUTES) return 0;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}
