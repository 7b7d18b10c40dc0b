// What tests control and read of the stand-in shell copy (SHFileOperationA with FO_COPY): every call is
// recorded with the structure it got, and each call can be scripted to copy, to report the user's abort
// or to fail. Without a script the copy really happens between mapped paths.
#pragma once

#include "platform/win32.h"

namespace Standin {

enum { RecordedListCapacity = 1024 };

struct RecordedFileOperation {
    HWND hwnd;
    UINT wFunc;
    char from[RecordedListCapacity]; // pFrom's bytes up to and including its two ending NULs
    size_t fromBytes;                // that byte count; 0 when pFrom was null or not ended in the capacity
    char to[RecordedListCapacity];
    size_t toBytes;
    FILEOP_FLAGS fFlags;
    int result;                 // what the call returned
    BOOL fAnyOperationsAborted; // what the call reported back
};

// What one call does. copy: the real copy runs first; the call then returns the copy's own failure, or
// result when the copy succeeded (or did not run). aborted is reported in fAnyOperationsAborted.
struct FileOperationPlan {
    int copy;
    int result;
    BOOL aborted;
};
inline FileOperationPlan FileOperationCopies() {
    return FileOperationPlan{1, 0, FALSE};
}
inline FileOperationPlan FileOperationAborted() {
    return FileOperationPlan{0, 1223, TRUE};
} // ERROR_CANCELLED
inline FileOperationPlan FileOperationFails(int result) {
    return FileOperationPlan{0, result, FALSE};
}

// Plans come from the handler (which may also act "while the copy's window is open"), else the queue,
// else FileOperationCopies. The handler sees the call already recorded (result not yet set).
typedef FileOperationPlan (*FileOperationHandler)(const RecordedFileOperation& operation, int index,
                                                  void* data);
void SetFileOperationHandler(FileOperationHandler handler, void* data);
void QueueFileOperation(FileOperationPlan plan);

int FileOperationCount();
const RecordedFileOperation& FileOperation(int index);

} // namespace Standin
