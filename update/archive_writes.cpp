// Writing the plan's archive files: for each UpdateItem the target folder (base joined with DataFolder,
// created one level deep), the existing-file rule, the data rule that keeps a player's file, and the
// extraction under the mode's time rule. Owns only the target path buffers of the item in hand.
#include "update/archive_writes.h"

#include "archive/archive.h"
#include "context/updater_context.h"
#include "platform/messages.h"
#include "platform/text_format.h"
#include "setupcfg/path_join.h"

#include <cstring>

namespace {

enum { TargetCapacity = 1024, PlatformPathLimit = MAX_PATH - 1 };

int Fail(HWND window) {
    ShowError("ファイルの書き込みに失敗しました");
    EndDialog(window, -1);
    return 0;
}

// Builds the target folder and the full target of item. 0 when either does not fit or the target is
// longer than the platform's file calls take: such an item would otherwise be written under another,
// cut name.
int BuildTarget(const UpdateItem& item, char* folder, char* target) {
    const char* base = item.mode == ModeData ? Updater.Install.DataPath : Updater.Install.InstPath;
    if (!CopyText(folder, TargetCapacity, base)) return 0;
    if (!JoinPath(folder, TargetCapacity, Updater.DataFolder)) return 0;
    if (!CopyText(target, TargetCapacity, folder)) return 0;
    if (!JoinPath(target, TargetCapacity, item.path)) return 0;
    return strlen(target) <= PlatformPathLimit;
}

int IsFile(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The data rule. 1 when the item is done here: an existing file keeps its content (re-written so that
// its time becomes the update's; that write's outcome does not matter, the content is the player's
// either way). An existing file that cannot be read is left as it is rather than replaced by the
// archive's copy, which would lose the player's data. 0 when the target does not exist (or is a folder)
// and the archive's copy is to be written.
int KeepExistingData(const char* target) {
    if (!IsFile(GetFileAttributesA(target))) return 0;
    uint32_t size = 0;
    unsigned char* content = ReadWholeFile(target, &size);
    if (!content) return 1;
    WriteWholeFile(target, content, size, nullptr);
    GlobalFree(content);
    return 1;
}

} // namespace

int WriteArchiveFiles(HWND window, int overwriteOnly) {
    for (int32_t index = 0; index < Updater.UpdateCount; ++index) {
        const UpdateItem& item = Updater.UpdateItems[index];
        char folder[TargetCapacity];
        char target[TargetCapacity];
        if (item.pathCut || !BuildTarget(item, folder, target)) return Fail(window);

        // Outcome ignored: an existing folder is the common case, and a missing base shows up as the
        // write's failure.
        CreateDirectoryA(folder, nullptr);

        if (overwriteOnly || item.mode == ModeExisting) {
            if (!IsFile(GetFileAttributesA(target))) continue;
        }
        if (item.mode == ModeData && KeepExistingData(target)) continue;

        const char* name = item.path + item.nameOffset;
        if (!ExtractEntry(target, name, item.mode == ModeNewer ? 1 : 0)) return Fail(window);
    }
    return 1;
}
