// Stand-in of the shell's file copy: SHFileOperationA with FO_COPY copies files and folders between mapped
// paths as the shell does for one destination (into an existing folder under the source's own name,
// otherwise to the destination name, creating missing folders; folders merged, files replaced, attributes
// and last-write times carried over). Owns the record of every call and the scripted plans. Each call is
// one host call for the fault seam (platform/standin/host_hooks.h): its own file work is not announced,
// and a call the hooks fail returns their code with nothing copied and no plan taken.
#include "tests/fakes/script.h"
#include "tests/fakes/shell_script.h"
#include "platform/standin/standin_state.h"
#include "tests/fakes/fakes_state.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

enum {
    OperationCapacity = 64,
    PlanCapacity = 64,
    ResultFileNotFound = 2,
    ResultAccessDenied = 5,
    ResultBadArguments = 87,
    // A list longer than this is taken as not ended by two NULs; the real shell would read on.
    ListScanLimit = 32768,
};

Standin::RecordedFileOperation operations[OperationCapacity];
int operationCount = 0;
Standin::FileOperationPlan plans[PlanCapacity];
int planHead = 0, planTail = 0;
Standin::FileOperationHandler handler = nullptr;
void* handlerData = nullptr;
Standin::RecordedFileOperation overflow;

// Copies a double-NUL list into a record; returns the byte count with both NULs, 0 when it does not fit.
size_t RecordList(char* destination, size_t capacity, const char* list) {
    if (!list) return 0;
    for (size_t i = 0; i + 1 < capacity; ++i) {
        if (list[i] == '\0' && list[i + 1] == '\0') {
            memcpy(destination, list, i + 2);
            return i + 2;
        }
    }
    return 0;
}

int EnsureFolders(char* hostPath) {
    // Creates every missing folder above the last component of hostPath.
    for (char* p = hostPath + 1; *p; ++p) {
        if (*p != '/') continue;
        *p = '\0';
        struct stat info;
        int ok = stat(hostPath, &info) == 0 ? S_ISDIR(info.st_mode) : mkdir(hostPath, 0755) == 0;
        *p = '/';
        if (!ok) return 0;
    }
    return 1;
}

int CopyOneFile(const char* from, const struct stat& source, const char* to) {
    struct stat target;
    if (stat(to, &target) == 0) {
        if (S_ISDIR(target.st_mode)) return ResultAccessDenied;
        if (target.st_dev == source.st_dev && target.st_ino == source.st_ino) return ResultAccessDenied;
        chmod(to, (target.st_mode & 07777) | S_IWUSR); // replaced without asking, read-only or not
    }
    int input = open(from, O_RDONLY);
    if (input < 0) return ResultAccessDenied;
    int output = open(to, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (output < 0) {
        close(input);
        return ResultAccessDenied;
    }
    int result = 0;
    char buffer[65536];
    for (;;) {
        ssize_t got = read(input, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) result = ResultAccessDenied;
        if (got <= 0) break;
        for (ssize_t done = 0; done < got;) {
            ssize_t put = write(output, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                result = ResultAccessDenied;
                break;
            }
            done += put;
        }
        if (result) break;
    }
    struct timespec times[2] = {source.st_atim, source.st_mtim};
    if (!result && futimens(output, times) != 0) result = ResultAccessDenied;
    if (close(output) != 0 && !result) result = ResultAccessDenied;
    close(input);
    if (!result && chmod(to, source.st_mode & 0777) != 0) result = ResultAccessDenied;
    return result;
}

int CopyTree(const char* from, const char* to) {
    struct stat source;
    if (stat(from, &source) != 0) return ResultFileNotFound;
    if (!S_ISDIR(source.st_mode)) return CopyOneFile(from, source, to);
    struct stat target;
    if (stat(to, &target) == 0) {
        if (!S_ISDIR(target.st_mode)) return ResultAccessDenied;
    } else if (mkdir(to, 0755) != 0) {
        return ResultAccessDenied;
    }
    DIR* folder = opendir(from);
    if (!folder) return ResultAccessDenied;
    int result = 0;
    while (struct dirent* entry = readdir(folder)) {
        if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
        char childFrom[2048], childTo[2048];
        int a = snprintf(childFrom, sizeof childFrom, "%s/%s", from, entry->d_name);
        int b = snprintf(childTo, sizeof childTo, "%s/%s", to, entry->d_name);
        if (a < 0 || b < 0 || static_cast<size_t>(a) >= sizeof childFrom ||
            static_cast<size_t>(b) >= sizeof childTo) {
            result = ResultBadArguments;
            break;
        }
        result = CopyTree(childFrom, childTo);
        if (result) break;
    }
    closedir(folder);
    return result;
}

void DropTrailingSeparators(char* hostPath) {
    size_t length = strlen(hostPath);
    while (length > 1 && hostPath[length - 1] == '/')
        hostPath[--length] = '\0';
}

int CopyItems(const SHFILEOPSTRUCTA& operation) {
    if (!operation.pFrom || !operation.pTo || !operation.pTo[0]) return ResultBadArguments;
    char destination[2048];
    if (!Standin::HostPath(operation.pTo, destination, sizeof destination)) return ResultBadArguments;
    DropTrailingSeparators(destination);
    int sources = 0;
    for (const char* item = operation.pFrom; *item && item - operation.pFrom < ListScanLimit;
         item += strlen(item) + 1)
        ++sources;
    if (sources == 0) return ResultBadArguments;
    for (const char* item = operation.pFrom; *item && item - operation.pFrom < ListScanLimit;
         item += strlen(item) + 1) {
        char source[2048], target[2048];
        struct stat info;
        if (!Standin::HostPath(item, source, sizeof source) || stat(source, &info) != 0)
            return ResultFileNotFound;
        DropTrailingSeparators(source);
        // Into an existing folder (or a folder made for several sources) under the source's own name;
        // otherwise the destination is the new name.
        struct stat existing;
        bool into = (stat(destination, &existing) == 0 && S_ISDIR(existing.st_mode)) || sources > 1;
        if (into) {
            const char* slash = strrchr(source, '/');
            const char* name = slash ? slash + 1 : source;
            int length = snprintf(target, sizeof target, "%s/%s", destination, name);
            if (length < 0 || static_cast<size_t>(length) >= sizeof target) return ResultBadArguments;
        } else {
            Standin::CopyHostText(target, sizeof target, destination);
        }
        if (!EnsureFolders(target)) return ResultAccessDenied;
        int result = CopyTree(source, target);
        if (result) return result;
    }
    return 0;
}

} // namespace

namespace Standin {

void ResetShell() {
    operationCount = 0;
    planHead = planTail = 0;
    handler = nullptr;
    handlerData = nullptr;
}

void SetFileOperationHandler(FileOperationHandler newHandler, void* data) {
    handler = newHandler;
    handlerData = data;
}

void QueueFileOperation(FileOperationPlan plan) {
    if (planTail < PlanCapacity) plans[planTail++] = plan;
}

int FileOperationCount() {
    return operationCount;
}

const RecordedFileOperation& FileOperation(int index) {
    if (index < 0 || index >= operationCount || index >= OperationCapacity) {
        memset(&overflow, 0, sizeof overflow);
        return overflow;
    }
    return operations[index];
}

} // namespace Standin

int FakeShellCopy(LPSHFILEOPSTRUCTA operation) {
    if (!operation) return ResultBadArguments;
    Standin::RecordedFileOperation record;
    memset(&record, 0, sizeof record);
    record.hwnd = operation->hwnd;
    record.wFunc = operation->wFunc;
    record.fromBytes = RecordList(record.from, sizeof record.from, operation->pFrom);
    record.toBytes = RecordList(record.to, sizeof record.to, operation->pTo);
    record.fFlags = operation->fFlags;
    int index = operationCount;
    if (operationCount < OperationCapacity) operations[operationCount] = record;
    ++operationCount;

    Standin::HostCall call = {Standin::HostShellCopy, operation->pFrom, operation->pTo, operation->wFunc,
                              false};
    if (DWORD error = Standin::BeforeHostCall(call)) {
        operation->fAnyOperationsAborted = FALSE;
        if (index < OperationCapacity) operations[index].result = static_cast<int>(error);
        return static_cast<int>(error);
    }
    Standin::FileOperationPlan plan = Standin::FileOperationCopies();
    if (handler) {
        plan = handler(record, index, handlerData);
    } else if (planHead < planTail) {
        plan = plans[planHead++];
    }
    int result = plan.result;
    if (plan.copy) {
        int copied = operation->wFunc == FO_COPY ? CopyItems(*operation) : ResultBadArguments;
        if (copied) result = copied;
    }
    operation->fAnyOperationsAborted = plan.aborted;
    if (index < OperationCapacity) {
        operations[index].result = result;
        operations[index].fAnyOperationsAborted = plan.aborted;
    }
    Standin::AfterHostCall(call, result == 0);
    return result;
}
