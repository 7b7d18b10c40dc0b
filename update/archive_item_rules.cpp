// The rules that decide what becomes of one archive item of the plan, kept apart from the writing so that
// updpack's plan shows what the update run will do by the very same decisions. Owns nothing: the caller
// holds the buffers and releases a data file's content.
#include "update/archive_item_rules.h"

#include "archive/archive.h"
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

int SkippedAsMissing(const UpdateItem& item, int overwriteOnly, const char* target) {
    if (!overwriteOnly && item.mode != ModeExisting) return 0;
    return !IsFile(GetFileAttributesA(target));
}

DataRuleChoice ChooseDataRule(const char* target, unsigned char** content, uint32_t* size) {
    *content = nullptr;
    *size = 0;
    DWORD attributes = GetFileAttributesA(target);
    if (!IsFile(attributes)) return DataFromArchive;
    if (attributes & FILE_ATTRIBUTE_READONLY) return DataReadOnly;
    *content = ReadWholeFile(target, size);
    return *content ? DataRewritten : DataUnreadable;
}
