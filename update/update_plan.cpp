// The update plan: reads the "[UPDATE]" section of this run's "UPDATE.INI" into Updater.UpdateItems and
// Updater.CopyItems with their counts, through the two entry grammars and the install-variant filters.
// Owns nothing beyond those plan fields, which it rebuilds from empty on every call.
#include "update/update_plan.h"

#include "context/updater_context.h"
#include "report/messages.h"
#include "platform/text_format.h"
#include "platform/win32.h"
#include "setupcfg/profile_access.h"
#include "setupcfg/token_scanner.h"

#include <cstring>

namespace {

enum { TokenSlots = 3, TokenCapacity = 260, UpdateValueCapacity = 1024, CopyValueCapacity = 260 };

// One past the last single-byte "\" of path. Double-byte characters are stepped over whole, since their
// trail byte may be 0x5C; "/" does not separate.
int32_t NameOffsetOf(const char* path) {
    int32_t lastSeparator = -1;
    int32_t length = static_cast<int32_t>(strlen(path));
    for (int32_t position = 0; position < length;) {
        BYTE c = static_cast<BYTE>(path[position]);
        if (IsDBCSLeadByte(c)) {
            position += 2;
        } else {
            if (c == '\\') lastSeparator = position;
            position += 1;
        }
    }
    return lastSeparator + 1;
}

int IsModeLetter(const char* token, char lower) {
    return token[0] != '\0' && token[1] == '\0' && (token[0] == lower || token[0] == lower - 'a' + 'A');
}

// Applies the update grammar with the install-variant filter. Returns 1 and fills item when the entry
// applies to this installation, 0 when its filter excludes it (item is then left alone).
int ParseUpdateEntry(const char* value, UpdateItem* item, int* variant) {
    UpdateItem parsed;
    ParseUpdateValue(value, &parsed, variant);
    if (*variant >= 0 && static_cast<DWORD>(*variant) != Updater.Install.InstMode) return 0;
    *item = parsed;
    return 1;
}

// Applies the copy grammar with the install-variant filter. A disk byte that is not a digit gives a disk
// outside 0..9, refused when the copy is reached.
int ParseCopyEntry(const char* value, CopyItem* item, int* variant) {
    CopyItem parsed;
    int32_t filter;
    int filtered = ParseCopyValue(value, &parsed, &filter);
    *variant = filtered ? filter : -1;
    if (filtered && static_cast<DWORD>(filter) != Updater.Install.InstMode) return 0;
    *item = parsed;
    return 1;
}

} // namespace

void ParseUpdateValue(const char* value, UpdateItem* item, int* variant) {
    char tokens[TokenSlots][TokenCapacity];
    int cut[TokenSlots];
    const char* cursor = value;
    int taken = 0;
    for (; taken < TokenSlots; ++taken) {
        cut[taken] = 0;
        tokens[taken][0] = '\0';
        if (!NextToken(tokens[taken], sizeof tokens[taken], &cursor, &cut[taken])) break;
    }
    for (int i = taken; i < TokenSlots; ++i) {
        tokens[i][0] = '\0';
        cut[i] = 0;
    }

    int examined = 0;
    *variant = -1;
    const char* first = tokens[0];
    if (first[0] >= '0' && first[0] <= '9' && first[1] == '\0') {
        *variant = first[0] - '0';
        examined = 1;
    }
    int32_t mode = ModePlain;
    const char* token = tokens[examined];
    if (IsModeLetter(token, 'd')) {
        mode = ModeData;
    } else if (IsModeLetter(token, 'u')) {
        mode = ModeNewer;
    } else if (IsModeLetter(token, 'o')) {
        mode = ModeExisting;
    }
    int pathSlot = mode == ModePlain ? examined : examined + 1;
    memset(item, 0, sizeof *item);
    item->mode = mode;
    if (pathSlot < TokenSlots) {
        CopyText(item->path, sizeof item->path, tokens[pathSlot]);
        item->pathCut = cut[pathSlot];
    }
    item->nameOffset = NameOffsetOf(item->path);
}

// [variant ","] [disk ":"] path, byte by byte, no blanks between the parts.
int ParseCopyValue(const char* value, CopyItem* item, int32_t* variant) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(value);
    int filtered = 0;
    *variant = -1;
    if (p[0] != '\0' && p[1] == ',') {
        filtered = 1;
        *variant = static_cast<int32_t>(p[0]) - '0';
        p += 2;
    }
    int32_t disk = 0;
    if (p[0] != '\0' && p[1] == ':') {
        disk = static_cast<int32_t>(p[0]) - '0';
        p += 2;
    }
    memset(item, 0, sizeof *item);
    item->disk = disk;
    CopyText(item->path, sizeof item->path, reinterpret_cast<const char*>(p));
    return filtered;
}

int ReadUpdatePlan(int* overwriteOnly) {
    return ReadUpdatePlanEntries(overwriteOnly, nullptr, nullptr);
}

int ReadUpdatePlanEntries(int* overwriteOnly, PlanEntrySeen seen, void* data) {
    char number[260];
    *overwriteOnly =
        ReadProfileValue("UPDATE", "OverwriteOnly", number, sizeof number) && ConvertDecimal(number) != 0;

    char key[32];
    int anyFirstKey = 0;
    int variant;
    Updater.UpdateCount = 0;
    for (int index = 0; index < UpdateListCapacity; ++index) {
        char value[UpdateValueCapacity];
        FormatText(key, sizeof key, "UpdateFile%02i", index);
        if (!ReadProfileValue("UPDATE", key, value, sizeof value)) break;
        if (index == 0) anyFirstKey = 1;
        int kept = ParseUpdateEntry(value, &Updater.UpdateItems[Updater.UpdateCount], &variant);
        if (kept) ++Updater.UpdateCount;
        if (seen) seen(0, index, value, !kept, variant, data);
    }

    Updater.CopyCount = 0;
    for (int index = 0; index < UpdateListCapacity; ++index) {
        char value[CopyValueCapacity];
        FormatText(key, sizeof key, "CopyFile%02i", index);
        if (!ReadProfileValue("UPDATE", key, value, sizeof value)) break;
        if (index == 0) anyFirstKey = 1;
        int kept = ParseCopyEntry(value, &Updater.CopyItems[Updater.CopyCount], &variant);
        if (kept) ++Updater.CopyCount;
        if (seen) seen(1, index, value, !kept, variant, data);
    }

    if (!anyFirstKey) {
        ShowError("No 'UpdateFileXX' and 'CopyFileXX'");
        return 0;
    }
    return 1;
}
