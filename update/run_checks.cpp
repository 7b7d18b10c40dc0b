// The update run's checks and texts that need no window (run_checks.h).
#include "update/run_checks.h"

#include "archive/disk_space.h"
#include "context/updater_context.h"
#include "platform/text_format.h"
#include "report/messages.h"
#include "setupcfg/path_join.h"
#include "setupcfg/profile_access.h"

#include <cstring>

const char ShortOfSpaceText[] = "ディスク容量が足りません。\r%s ドライブに %i バイトの空き容量が必要です";
const char NothingToUpdateText[] = "アップデートする必要のあるファイルはありません";
const char WriteFailedText[] = "ファイルの書き込みに失敗しました";
const char NotPatchBaseText[] = "このアップデートを適用できないファイルがあります：\r%s\r"
                                "ファイルが見つからないか、このアップデートの対象とは異なる内容です";

void ShowNotPatchBase(const char* path) {
    char message[1024];
    FormatText(message, sizeof message, NotPatchBaseText, path);
    ShowError(message);
}

// A drive whose free space cannot be queried (an installation path without a drive letter) is not held
// up: the archive writes check each file's space again and fail with their own message.
int MeasureRequiredSpace(RequiredSpace* space) {
    memset(space, 0, sizeof *space);
    char value[260];
    if (!ReadProfileValue("UPDATE", "RequiredDiskSpace", value, sizeof value)) return 1;
    space->required = ConvertDecimal(value);
    if (space->required == 0) return 1;

    CopyText(space->drive, sizeof space->drive, Updater.Install.InstPath);
    ULARGE_INTEGER freeToCaller, totalBytes;
    freeToCaller.QuadPart = 0;
    totalBytes.QuadPart = 0;
    if (!QueryDiskSpace(space->drive, &freeToCaller, &totalBytes, nullptr)) return 1;
    space->checked = 1;
    space->freeBytes = freeToCaller;

    uint32_t needed = static_cast<uint32_t>(space->required);
    if (freeToCaller.u.HighPart != 0 || needed <= freeToCaller.u.LowPart) return 1;
    space->shortfall = static_cast<int32_t>(needed - freeToCaller.u.LowPart);
    return 0;
}

int DriveHoldsDisk(char letter, int disk) {
    char drive[3] = {letter, ':', '\0'};
    if (GetDriveTypeA(drive) != DRIVE_CDROM) return 0;
    char check[264]; // the drive, "\", a check name of up to 259 bytes and the join's two NULs
    CopyText(check, sizeof check, drive);
    if (!JoinPath(check, sizeof check, Updater.Setup.DiskCheckFile[disk])) return 0;
    return GetFileAttributesA(check) != INVALID_FILE_ATTRIBUTES;
}

void FormatCopyFailure(char* message, size_t capacity, const char* path) {
    FormatText(message, capacity, "SETUP.INI : \"%s\" のコピーに失敗しました", path);
}

void FormatDiskPrompt(char* message, size_t capacity, int disk) {
    FormatText(message, capacity, "ＣＤ－ＲＯＭドライブに「%s」ディスク %i を入れて下さい",
               Updater.Setup.GameTitle, disk);
}
