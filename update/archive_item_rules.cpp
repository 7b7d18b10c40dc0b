// The rules that decide what becomes of one archive item of the plan, kept apart from the writing so that
// updpack's plan shows what the update run will do by the very same decisions. Owns nothing.
#include "update/archive_item_rules.h"

#include "archive/whole_file.h"
#include "context/updater_context.h"
#include "platform/text_format.h"
#include "platform/win32.h"
#include "setupcfg/path_join.h"

#include <cstring>

namespace {

enum { PlatformPathLimit = MAX_PATH - 1 };

int IsFile(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

int BuildArchiveTarget(const UpdateItem& item, char* folder, char* target) {
    if (item.pathCut) return 0;
    const char* base = item.mode == ModeData ? Updater.Install.DataPath : Updater.Install.InstPath;
    if (!CopyText(folder, ArchiveTargetCapacity, base)) return 0;
    if (!JoinPath(folder, ArchiveTargetCapacity, Updater.DataFolder)) return 0;
    if (!CopyText(target, ArchiveTargetCapacity, folder)) return 0;
    if (!JoinPath(target, ArchiveTargetCapacity, item.path)) return 0;
    return strlen(target) <= PlatformPathLimit;
}

int SkippedAsMissing(const UpdateItem& item, int overwriteOnly, const char* target,
                     const FileOverlay* overlay) {
    if (!overwriteOnly && item.mode != ModeExisting) return 0;
    return !IsFile(OverlayAttributes(overlay, target));
}

// A file an earlier item writes is read as what it will hold: its content is at hand by construction, but
// for a patch's result, which exists only once prepared: that file is kept as the patch makes it.
// A file only the disk holds is read whole now, so that one that cannot be read is known before anything
// is prepared; the run reads it again when it prepares the re-write.
DataRuleChoice ChooseDataRule(const char* target, const FileOverlay* overlay, int32_t* content, char* source,
                              uint32_t* size) {
    *content = ContentOfFile;
    source[0] = '\0';
    *size = 0;
    DWORD attributes = OverlayAttributes(overlay, target);
    // A player's file whose attributes cannot be read is still the player's.
    if (attributes == INVALID_FILE_ATTRIBUTES && !NothingThere(attributes)) return DataUnreadable;
    if (!IsFile(attributes)) return DataFromArchive;
    if (attributes & FILE_ATTRIBUTE_READONLY) return DataReadOnly;
    // An earlier item that only changed the file's attributes or time leaves its content the disk's.
    if (OverlayWrittenFile(overlay, target, content, source, size) &&
        !(*content == ContentOfFile && lstrcmpiA(source, target) == 0))
        return *content == ContentOfPatch ? DataUnreadable : DataRewritten;
    unsigned char* data = ReadWholeFile(target, size);
    if (!data) return DataUnreadable;
    GlobalFree(data);
    *content = ContentOfFile;
    return CopyText(source, MAX_PATH, target) ? DataRewritten : DataUnreadable;
}
