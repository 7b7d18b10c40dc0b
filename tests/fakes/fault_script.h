// What tests control and read of the host layer's fault seam (platform/standin/host_hooks.h): the fault
// script counts the host calls of a run and fails the ones it is told to, by their number. A fault sweep
// runs an update once to count its calls, then once per call N with call N failing (and with N and N + 1,
// the first call of the rollback), and reads which calls failed to name them in its messages. Also here:
// the durability counts and the refused move, built on the same hooks. Standin::ResetAll clears it all.
#pragma once

#include "platform/standin/host_hooks.h"
#include "platform/win32.h"

#include <string>
#include <vector>

namespace Standin {

// What the host layer did to put written files on the disk, counted since the last reset: FlushFileBuffers
// calls that succeeded, handles closed with writes never flushed, and MOVEFILE_WRITE_THROUGH moves that
// succeeded.
struct DurabilityCounts {
    int flushes;
    int unflushedCloses;
    int writeThroughMoves;
};
const DurabilityCounts& Durability();
// After this many more MoveFileExA calls the next one is refused with a sharing violation
// (ERROR_SHARING_VIOLATION, 32), as for a file another program holds open at that moment; the moves after
// it are made again. -1 refuses none. Every MoveFileExA call counts, whether counting is on or not.
void RefuseMoveAfter(int moves);

// One counted host call.
struct CountedCall {
    int ordinal; // 1-based, among every call counted since StartCounting
    HostCallKind kind;
    std::string path;       // HostCall::path; empty when the call has none
    std::string secondPath; // HostCall::secondPath; empty when the call has none
    DWORD flags;            // HostCall::flags
    DWORD error;            // the code the script failed it with; 0 when it was let run
};

struct FaultScript {
    // Numbers of the calls to fail, 1-based: among every counted call, or, when kinds is not empty, among
    // the counted calls of those kinds.
    std::vector<int> failAt;
    std::vector<HostCallKind> kinds;
    DWORD error = ERROR_ACCESS_DENIED; // the code the failed calls fail with
    // When not empty, only the calls with a path (or second path) below one of these folders are counted:
    // drive paths ("C:\\Game", "C:") or host folders, compared as host paths. Calls without a path
    // (GlobalAlloc, GetTempPathA) are counted all the same.
    std::vector<std::string> below;
    bool trace = false; // keep every counted call for TracedCalls
};

// Counting from call 1 with this script, forgetting the counts, trace and failures of the last counting;
// StopCounting ends it (what was counted stays readable). Calls made while not counting run untouched.
void StartCounting(const FaultScript& script = FaultScript());
void StopCounting();
// Calls counted since StartCounting: all of them, or those of one kind.
int CountedCalls();
int CountedCalls(HostCallKind kind);
// Every counted call, when the script asked for a trace; the calls the script failed, always.
const std::vector<CountedCall>& TracedCalls();
const std::vector<CountedCall>& FailedCalls();

// The Win32 name of a kind ("MoveFileExA"), and a call as a test names it in a message:
// "call 37 (MoveFileExA C:\Game\a.dat C:\Game\a.dat.~up0)".
const char* HostCallName(HostCallKind kind);
std::string DescribeCall(const CountedCall& call);

} // namespace Standin
