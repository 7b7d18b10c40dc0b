// The fault script over the host layer's hooks (platform/standin/host_hooks.h): counting, tracing and
// failing host calls by number, the refused move and the durability counts. The hooks are set when the
// test program starts and again by every Standin::ResetAll.
#include "tests/fakes/fault_script.h"
#include "platform/standin/host_files.h"
#include "platform/standin/standin_state.h"
#include "tests/fakes/fakes_state.h"

#include <algorithm>
#include <cstring>

namespace {

Standin::DurabilityCounts durability;
int movesBeforeRefusal = -1; // moves still made before the one refused; -1: none refused

bool counting = false;
Standin::FaultScript script;
int counted = 0;
int countedOfKind[Standin::HostCallKindCount];
int scriptedCount = 0; // counted calls of the script's kinds
std::vector<Standin::CountedCall> traced;
std::vector<Standin::CountedCall> failed;

// Whether a path lies in a folder, both as host paths.
bool IsBelow(const char* path, const std::string& folder) {
    char hostPath[2048], hostFolder[2048];
    if (!Standin::HostPath(path, hostPath, sizeof hostPath)) return false;
    if (!Standin::HostPath(folder.c_str(), hostFolder, sizeof hostFolder)) return false;
    size_t length = strlen(hostFolder);
    while (length > 1 && hostFolder[length - 1] == '/')
        --length;
    if (strncmp(hostPath, hostFolder, length) != 0) return false;
    return hostPath[length] == '\0' || hostPath[length] == '/' || hostFolder[length - 1] == '/';
}

bool IsCounted(const Standin::HostCall& call) {
    if (!counting) return false;
    if (script.below.empty() || (!call.path && !call.secondPath)) return true;
    for (const std::string& folder : script.below) {
        if (call.path && IsBelow(call.path, folder)) return true;
        if (call.secondPath && IsBelow(call.secondPath, folder)) return true;
    }
    return false;
}

bool IsScriptedKind(Standin::HostCallKind kind) {
    return script.kinds.empty() ||
           std::find(script.kinds.begin(), script.kinds.end(), kind) != script.kinds.end();
}

// The code a counted call fails with, 0 when it runs; counts it and keeps what the script asks for.
DWORD CountCall(const Standin::HostCall& call) {
    ++counted;
    ++countedOfKind[call.kind];
    DWORD error = 0;
    if (IsScriptedKind(call.kind)) {
        ++scriptedCount;
        if (std::find(script.failAt.begin(), script.failAt.end(), scriptedCount) != script.failAt.end())
            error = script.error;
    }
    if (!script.trace && !error) return 0;
    Standin::CountedCall record;
    record.ordinal = counted;
    record.kind = call.kind;
    record.path = call.path ? call.path : "";
    record.secondPath = call.secondPath ? call.secondPath : "";
    record.flags = call.flags;
    record.error = error;
    if (script.trace) traced.push_back(record);
    if (error) failed.push_back(record);
    return error;
}

DWORD BeforeCall(const Standin::HostCall& call) {
    DWORD error = 0;
    if (call.kind == Standin::HostMoveFile && movesBeforeRefusal >= 0 && movesBeforeRefusal-- == 0)
        error = 32; // ERROR_SHARING_VIOLATION
    if (call.kind == Standin::HostCloseHandle && call.unflushedWrites) ++durability.unflushedCloses;
    if (IsCounted(call)) {
        DWORD scripted = CountCall(call);
        if (!error) error = scripted;
    }
    return error;
}

void AfterCall(const Standin::HostCall& call, bool succeeded) {
    if (!succeeded) return;
    if (call.kind == Standin::HostFlushFile) ++durability.flushes;
    if (call.kind == Standin::HostMoveFile && (call.flags & MOVEFILE_WRITE_THROUGH))
        ++durability.writeThroughMoves;
}

const Standin::HostHooks faultHooks = {BeforeCall, AfterCall, FakeShellCopy};

// Sets the hooks when the test program starts, so that the counts hold without a ResetAll too.
struct HookSetter {
    HookSetter() { Standin::SetHostHooks(&faultHooks); }
} hookSetter;

void ClearCounting() {
    counted = 0;
    memset(countedOfKind, 0, sizeof countedOfKind);
    scriptedCount = 0;
    traced.clear();
    failed.clear();
}

} // namespace

namespace Standin {

void ResetFaults() {
    SetHostHooks(&faultHooks);
    memset(&durability, 0, sizeof durability);
    movesBeforeRefusal = -1;
    counting = false;
    script = FaultScript();
    ClearCounting();
}

const DurabilityCounts& Durability() {
    return durability;
}

void RefuseMoveAfter(int moves) {
    movesBeforeRefusal = moves;
}

void StartCounting(const FaultScript& newScript) {
    script = newScript;
    ClearCounting();
    counting = true;
}

void StopCounting() {
    counting = false;
}

int CountedCalls() {
    return counted;
}

int CountedCalls(HostCallKind kind) {
    return kind >= 0 && kind < HostCallKindCount ? countedOfKind[kind] : 0;
}

const std::vector<CountedCall>& TracedCalls() {
    return traced;
}

const std::vector<CountedCall>& FailedCalls() {
    return failed;
}

const char* HostCallName(HostCallKind kind) {
    static const char* const names[HostCallKindCount] = {
        "CreateFileA",      "ReadFile",           "WriteFile",          "FlushFileBuffers",
        "CloseHandle",      "SetFilePointer",     "GetFileSize",        "GetFileTime",
        "SetFileTime",      "GetFileAttributesA", "SetFileAttributesA", "CreateDirectoryA",
        "RemoveDirectoryA", "DeleteFileA",        "MoveFileExA",        "FindFirstFileA",
        "FindNextFileA",    "FindClose",          "GetDiskFreeSpaceA",  "GetDiskFreeSpaceExA",
        "GlobalAlloc",      "GetTempPathA",       "GetTempFileNameA",   "SHFileOperationA",
    };
    return kind >= 0 && kind < HostCallKindCount ? names[kind] : "?";
}

std::string DescribeCall(const CountedCall& call) {
    std::string text = "call " + std::to_string(call.ordinal) + " (" + HostCallName(call.kind);
    if (!call.path.empty()) text += " " + call.path;
    if (!call.secondPath.empty()) text += " " + call.secondPath;
    return text + ")";
}

} // namespace Standin
