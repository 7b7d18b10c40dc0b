// Reader of the installer's "SETUP.INI" into Updater.Setup, shared with the installer: it rejects exactly
// the files the installer rejects, so most fields are read and checked but only kept. Owns the order of the
// reading, the list and limit checks, the defaults, and the QuietMissingKeys switching around the add-on
// list.
#include "setupcfg/setup_config.h"

#include "context/updater_context.h"
#include "report/messages.h"
#include "platform/text_format.h"
#include "setupcfg/profile_access.h"
#include "setupcfg/token_scanner.h"

#include <cstring>

namespace {

// The reader's own buffers: the value being scanned, the formatted key name and the message.
char ListValue[1024];
char KeyName[1024];
char Message[1024];

int FailWith(const char* format, const char* key) {
    FormatText(Message, sizeof Message, format, key);
    ShowCommonError(Message);
    return 0;
}

int ListError(const char* key) {
    return FailWith("SETUP.INI : %s エラー", key);
}

// Reads a list into entries[0..capacity-1]; it ends at the value's end or its first empty item, with an
// empty entry after the last. Tokens too long for an entry are kept cut: these lists are only kept.
// disks (may be null) receives each entry's disk prefix; usesDisks becomes 1 when any is nonzero.
// Returns the number of entries, 0 when the list has no item; the entries are then left as they were,
// like every field that a failed reading has not reached.
int ReadList(const char* value, char (*entries)[260], int capacity, int32_t* disks, int32_t* usesDisks) {
    const char* cursor = value;
    if (disks) {
        Updater.CurrentDisk = 0;
        *usesDisks = 0;
    }
    for (int k = 0; k < capacity; ++k) {
        if (!NextToken(entries[k], sizeof entries[k], &cursor, nullptr)) {
            if (k > 0) entries[k][0] = '\0';
            return k;
        }
        if (disks) {
            disks[k] = Updater.CurrentDisk;
            if (disks[k] != 0) *usesDisks = 1;
        }
    }
    return capacity;
}

int ReadFileList(InstallSelect* select, const char* value) {
    return ReadList(value, select->InstallFiles, InstallFilesCapacity, select->InstallDisks,
                    &select->UsesDisks);
}

const char* FormatKey(const char* format, int index) {
    FormatText(KeyName, sizeof KeyName, format, index);
    return KeyName;
}

void ReadInstallSize(InstallSelect* select, const char* key) {
    char number[20];
    ReadSetupValue(number, key, sizeof number); // missing leaves "", which converts to 0
    uint64_t size = ConvertUnsignedDecimal64(number);
    select->InstallSize[0] = static_cast<uint32_t>(size);
    select->InstallSize[1] = static_cast<uint32_t>(size >> 32);
}

// An on/off key: 1 when present with a nonzero number.
int32_t ReadSwitch(const char* key) {
    int32_t value = 0;
    return ReadSetupInt(key, &value) && value != 0 ? 1 : 0;
}

void ReadText(char* field, uint32_t size, const char* key, const char* fallback) {
    if (!ReadSetupValue(field, key, size)) CopyText(field, size, fallback);
}

int ReadShortcut(int s) {
    const char* key = FormatKey("Shortcut%i", s);
    if (!ReadSetupValue(ListValue, key, 260)) return 0;
    char(*fields)[260] = Updater.Setup.Shortcut[s];
    for (int f = 0; f < ShortcutFieldCount; ++f)
        fields[f][0] = '\0';
    const char* cursor = ListValue;
    for (int f = 0; f < ShortcutFieldCount; ++f) {
        if (NextToken(fields[f], sizeof fields[f], &cursor, nullptr)) continue;
        if (f < 2) return ListError(key);
        if (*cursor != ',') break; // end of the value: the remaining fields stay empty
        // An empty third or fourth field: the whole run of separators and blanks counts as one gap.
        while (*cursor == ',' || IsBlank(static_cast<unsigned char>(*cursor)))
            ++cursor;
    }
    return 1;
}

} // namespace

int ReadSetupConfig() {
    SetupConfig& setup = Updater.Setup;

    if (!ReadSetupValue(setup.CompanyName, "CompanyName", 260)) return 0;
    if (!ReadSetupValue(setup.GameTitle, "GameTitle", 260)) return 0;
    if (!ReadSetupValue(setup.GameDir, "GameDir", 260)) return 0;
    if (!ReadSetupValue(setup.GameExe, "GameExe", 260)) return 0;
    if (!ReadSetupValue(setup.UninstExe, "UninstExe", 260)) return 0;

    if (!ReadSetupValue(ListValue, "SetupBmp", sizeof ListValue)) return 0;
    int bitmaps = ReadList(ListValue, setup.SetupBmp, SetupBmpCapacity, nullptr, nullptr);
    if (bitmaps == 0) return FailWith("%s", "SETUP.INI : SetupBmps エラー");
    setup.SetupBmpLast = bitmaps - 1;

    if (!ReadSetupInt("InstallSelects", &setup.InstallSelects)) return 0;
    if (setup.InstallSelects > InstallSelectCapacity)
        return FailWith("%s", "SETUP.INI : InstallSelect オーバー");
    for (int s = 0; s < setup.InstallSelects; ++s) {
        InstallSelect* select = &setup.Select[s];
        if (!ReadSetupValue(select->InstallTitle, FormatKey("InstallTitle%i", s),
                            sizeof select->InstallTitle))
            return 0;
        const char* key = FormatKey("InstallFiles%i", s);
        if (!ReadSetupValue(ListValue, key, sizeof ListValue)) return 0;
        if (ReadFileList(select, ListValue) == 0) return ListError(key);
    }

    if (!ReadSetupInt("Shortcuts", &setup.Shortcuts)) return 0;
    if (setup.Shortcuts > ShortcutCapacity) return FailWith("%s", "SETUP.INI : Shortcuts オーバー");
    for (int s = 0; s < setup.Shortcuts; ++s) {
        if (!ReadShortcut(s)) return 0;
    }

    // Everything from here to the add-on list is optional and silent.
    Updater.QuietMissingKeys = 1;

    // Replaced even without the key: from here on "SETUP.INI" names the game, not "UPDATE.INI".
    ReadText(setup.GameClass, sizeof setup.GameClass, "GameClass", setup.GameTitle);
    setup.IsEngineWindowClass = strcmp(setup.GameClass, "TTVPWindowForm") == 0 ? 1 : 0;

    setup.DefaultSelect = 0;
    ReadSetupInt("DefaultSelect", &setup.DefaultSelect);

    for (int s = 0; s < setup.InstallSelects; ++s)
        ReadInstallSize(&setup.Select[s], FormatKey("InstallSize%i", s));

    for (int i = 0; i < DiskCheckFileCount; ++i)
        ReadSetupValue(setup.DiskCheckFile[i], FormatKey("DiskCheckFile%i", i),
                       sizeof setup.DiskCheckFile[i]);

    if (!ReadSetupValue(ListValue, "ExecApp", 260)) {
        setup.ExecApp[0][0] = '\0';
    } else {
        const char* cursor = ListValue;
        for (int i = 0; i < ExecAppCount; ++i) {
            if (!NextToken(setup.ExecApp[i], sizeof setup.ExecApp[i], &cursor, nullptr))
                return ListError("ExecApp");
        }
    }

    // The flag word of the DirectX redistributable's setup: core, plus display (bit 0) and sound (bit 1).
    int32_t directX = 0;
    if (ReadSetupInt("InstallDirectX", &directX)) {
        setup.InstallDirectX = 0x10000u | ((directX & 1) ? 0x8u : 0u) | ((directX & 2) ? 0x10u : 0u);
    } else {
        setup.InstallDirectX = 0;
    }

    ReadText(setup.InstallDXMessage, sizeof setup.InstallDXMessage, "InstallDXMessage",
             "ＤｉｒｅｃｔＸをインストールする");
    ReadText(setup.SelectSetupMessage, sizeof setup.SelectSetupMessage, "SelectSetupMessage",
             "インストール方法を選択して下さい");
    setup.UseCompanyNameForShortcutGroup = ReadSwitch("UseCompanyNameForShortcutGroup");
    setup.ChooseSaveDataFolder = ReadSwitch("ChooseSaveDataFolder");
    ReadText(setup.SaveDataFolderNameInInstall, sizeof setup.SaveDataFolderNameInInstall,
             "SaveDataFolderNameInInstall", "savedata");
    ReadText(setup.SaveDataFolderName, sizeof setup.SaveDataFolderName, "SaveDataFolderName", setup.GameDir);
    setup.CancelSaveData = ReadSwitch("CancelSaveData");
    setup.InstallAfterAdd = ReadSwitch("InstallAfterAdd");
    if (!setup.InstallAfterAdd) return 1;

    // The add-on list is required once announced, and its absence is reported even to the updater.
    Updater.QuietMissingKeys = 0;
    if (!ReadSetupValue(ListValue, "InstallAddFiles", sizeof ListValue)) return 0;
    if (ReadFileList(&setup.Select[3], ListValue) == 0)
        return FailWith("%s", "SETUP.INI : InstallAddFiles エラー");
    Updater.QuietMissingKeys = 1;
    ReadInstallSize(&setup.Select[3], "InstallAddSize");
    return 1;
}
