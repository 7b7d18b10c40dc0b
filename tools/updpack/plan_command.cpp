// updpack plan: what an updater would do to an installed game, told item by item before it ships. The
// updater's own code decides: its plan reader, the rules of each archive item (update/archive_item_rules),
// the archive's write check (CheckEntryWrite) and the installation's "SETUP.INI" reader, run over the
// platform stand-in with the game folder as drive C: (InstPath "C:"), the data folder as D: and each disc
// folder as a CD-ROM drive from E: on. Only reads: no file is written, moved or stamped, and the private
// copy of "UPDATE.INI" the profile reader needs lives outside every folder given and is removed again.
// Boxes the updater's routines show are taken from the stand-in's recorder and reported as the verdict's
// messages; the few texts the run itself shows around them are written here in UTF-8, as the tool prints.
#include "tools/updpack/plan_report.h"
#include "tools/updpack/updpack.h"

#include "archive/archive.h"
#include "archive/disk_space.h"
#include "archive/whole_file.h"
#include "app/installed_setup.h"
#include "context/updater_context.h"
#include "platform/standin/host_boxes.h"
#include "platform/standin/host_files.h"
#include "platform/text_format.h"
#include "setupcfg/path_join.h"
#include "setupcfg/profile_access.h"
#include "update/archive_item_rules.h"
#include "update/run_checks.h"
#include "update/update_plan.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <set>
#include <sys/stat.h>

namespace {

const char GameDrive = 'C', DataDrive = 'D', FirstDiscDrive = 'E';

// The entry of folder that Windows would open for name (code page 932): the name as it stands in UTF-8,
// else the one entry whose code page 932 form the updater's case-insensitive compare takes for it; the
// UTF-8 form when none is there (a file yet to be written).
std::string HostEntryFor(const std::string& folder, const std::string& name) {
    std::string utf8;
    if (!Utf8FromCodePage932(name.c_str(), utf8)) return name;
    struct stat status;
    if (lstat((folder + "/" + utf8).c_str(), &status) == 0) return utf8;
    DIR* listing = opendir(folder.empty() ? "/" : folder.c_str());
    if (!listing) return utf8;
    std::string found = utf8;
    while (const dirent* entry = readdir(listing)) {
        std::string entryName;
        if (CodePage932FromUtf8(entry->d_name, entryName) &&
            SameArchiveName(entryName.c_str(), name.c_str())) {
            found = entry->d_name;
            break;
        }
    }
    closedir(listing);
    return found;
}

// The stand-in's resolver: each name below a drive's folder as the host spells it.
int ResolveHostPath(char* hostPath, size_t capacity, size_t folderLength) {
    std::string resolved(hostPath, folderLength);
    const char* rest = hostPath + folderLength;
    while (*rest) {
        const char* end = strchr(rest, '/');
        size_t length = end ? static_cast<size_t>(end - rest) : strlen(rest);
        std::string name(rest, length);
        if (name.empty() || name == "." || name == "..")
            resolved += name;
        else
            resolved += HostEntryFor(resolved, name);
        if (end) resolved += '/';
        rest += length + (end ? 1 : 0);
    }
    if (resolved.size() + 1 > capacity) return 0;
    memcpy(hostPath, resolved.c_str(), resolved.size() + 1);
    return 1;
}

// Every box the updater's code would have shown during the plan, in code page 932, answered as a user who
// reads it would (OK).
std::vector<std::string> shownBoxes;

int TakeBox(const char* text, const char*, UINT, void*) {
    shownBoxes.push_back(text ? text : "");
    return IDOK;
}

int BoxCount() {
    return static_cast<int>(shownBoxes.size());
}

// The messages the updater would have shown since count boxes were shown, as UTF-8.
std::vector<std::string> BoxesSince(int count) {
    std::vector<std::string> texts;
    for (int i = count; i < BoxCount(); ++i)
        texts.push_back(TextFromArchive(shownBoxes[i].c_str()));
    return texts;
}

// The host path behind a path as the updater forms it (UTF-8, through ResolveHostPath).
std::string DisplayPath(const char* path) {
    char host[2048];
    if (!Standin::HostPath(path, host, sizeof host)) return TextFromArchive(path);
    return host;
}

int IsFolder(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder part of target: everything before its last single-byte "\" (double-byte characters whole).
std::string FolderOf(const char* target) {
    size_t last = 0;
    for (const char* p = target; *p; p = CharNextA(p)) {
        if (*p == '\\') last = static_cast<size_t>(p - target);
    }
    return std::string(target, last);
}

std::string WithoutSeparator(const char* folder) {
    std::string text = folder;
    if (!text.empty() && text.back() == '\\' && FolderOf(folder).size() == text.size() - 1) text.pop_back();
    return text;
}

// Whether the folder (without a final separator) is there once the items before have run. A name with a
// final "?" in createdFolders marks a folder that does not exist but can be made (a missing data folder).
int FolderThere(const std::string& folder, const std::set<std::string>& createdFolders) {
    return IsFolder(folder.c_str()) || createdFolders.count(folder);
}

const char* ModeName(int32_t mode) {
    switch (mode) {
    case ModeNewer:
        return "newer";
    case ModeData:
        return "data";
    case ModeExisting:
        return "existing";
    default:
        return "plain";
    }
}

// The item stops the run: its boxes (the lower routine's first) and why, when the boxes do not say.
void RefuseWith(PlanItem& item, const std::vector<std::string>& messages, const std::string& reason) {
    item.verdict = "refused";
    item.messages = messages;
    item.text = "refused: " + (reason.empty() ? "" : reason + "; ") + "the updater shows";
    for (const std::string& message : item.messages)
        item.text += " \"" + message + "\"";
    item.text += ", stops and changes nothing";
}

void Refuse(PlanItem& item, std::vector<std::string> messages, const std::string& reason) {
    messages.push_back(TextFromArchive(WriteFailedText));
    RefuseWith(item, messages, reason);
}

// One archive item, decided as PrepareArchiveFiles decides it. createdFolders holds the folders that
// earlier items of the run create. 0 when the updater stops at this item.
int DecideArchiveItem(const UpdateItem& update, int overwriteOnly, std::set<std::string>& createdFolders,
                      PlanItem& item) {
    item.mode = ModeName(update.mode);
    item.path = TextFromArchive(update.path);
    char folder[ArchiveTargetCapacity], target[ArchiveTargetCapacity];
    if (!BuildArchiveTarget(update, folder, target)) {
        Refuse(item, {}, "the path is too long");
        return 0;
    }
    item.target = DisplayPath(target);
    if (update.mode == ModeData && Updater.Install.DataPath[0] == '\0') {
        item.verdict = "no-data-folder";
        item.text = "not decided: a data file, and no --data folder was given (the updater writes it below "
                    "the registry's DataPath)";
        return 1;
    }
    // The updater creates this one folder level whatever becomes of the item; it takes when its parent is
    // there.
    std::string made = WithoutSeparator(folder);
    if (!FolderThere(made, createdFolders) &&
        (FolderThere(FolderOf(made.c_str()), createdFolders) || createdFolders.count(made + "?"))) {
        createdFolders.insert(made);
        item.createsFolder = DisplayPath(folder);
    }

    if (SkippedAsMissing(update, overwriteOnly, target)) {
        item.verdict = "skipped-missing";
        item.text = "skipped: no such file, and only existing files are written";
        return 1;
    }
    if (update.mode == ModeData) {
        unsigned char* content;
        uint32_t size;
        DataRuleChoice choice = ChooseDataRule(target, &content, &size);
        if (content) GlobalFree(content);
        if (choice == DataRewritten) {
            item.verdict = "data-kept";
            item.text = "kept: the player's file keeps its content and takes the time of the update";
            item.bytes = size;
            return 1;
        }
        if (choice == DataReadOnly || choice == DataUnreadable) {
            item.verdict = choice == DataReadOnly ? "data-read-only" : "data-unreadable";
            item.text = choice == DataReadOnly ? "kept as it is: the player's file is read-only"
                                               : "kept as it is: the player's file cannot be read";
            return 1;
        }
    }

    int boxes = BoxCount();
    int keep = 0;
    uint32_t size = 0;
    const char* name = update.path + update.nameOffset;
    if (!CheckEntryWrite(target, name, update.mode == ModeNewer, &keep, &size)) {
        Refuse(item, BoxesSince(boxes), "");
        return 0;
    }
    // The prepared file goes beside the target: its folder must be there, or be made by the run.
    std::string parent = FolderOf(target);
    if (!FolderThere(parent, createdFolders)) {
        Refuse(item, {}, "the folder " + DisplayPath(parent.c_str()) + " does not exist");
        return 0;
    }
    DWORD attributes = GetFileAttributesA(target);
    int readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
    if (keep) {
        item.verdict = "kept-later";
        item.text = "kept: the installed file is later than the update's";
        if (readOnly) item.text += " (made writable)";
        return 1;
    }
    item.bytes = size;
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        item.verdict = "new";
        item.text = "written new";
    } else {
        item.verdict = "replaced";
        item.text = update.mode == ModeNewer
                        ? "replaces the installed file, which is not later than the update's"
                        : "replaces the installed file";
        if (readOnly) item.text += " (read-only, ends writable)";
    }
    return 1;
}

// Files and bytes below a host folder, sub-folders included; links are not followed.
void CountFolder(const std::string& folder, uint64_t* files, uint64_t* bytes) {
    DIR* listing = opendir(folder.c_str());
    if (!listing) return;
    while (const dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat status;
        if (lstat((folder + "/" + name).c_str(), &status) != 0) continue;
        if (S_ISDIR(status.st_mode)) {
            CountFolder(folder + "/" + name, files, bytes);
        } else if (S_ISREG(status.st_mode)) {
            ++*files;
            *bytes += static_cast<uint64_t>(status.st_size);
        }
    }
    closedir(listing);
}

// The CD-ROM drives holding disk's check file, in the updater's search order (the first is used).
std::vector<char> DrivesHoldingDisk(int disk) {
    std::vector<char> found;
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        if (DriveHoldsDisk(letter, disk)) found.push_back(letter);
    return found;
}

void RefuseCopy(PlanItem& item, const CopyItem& copy, const std::string& reason) {
    char message[1024];
    FormatCopyFailure(message, sizeof message, copy.path);
    RefuseWith(item, {TextFromArchive(message)}, reason);
}

// One copy item, decided as CopyFromDisks decides it. 0 when the updater stops (or waits) here.
int DecideCopyItem(const CopyItem& copy, char* sourceRoot, Plan& plan, PlanItem& item) {
    item.path = TextFromArchive(copy.path);
    item.disk = copy.disk;
    if (copy.disk < 0 || copy.disk > 9) {
        RefuseCopy(item, copy, "the disk is not a digit");
        return 0;
    }
    if (copy.disk != 0) {
        std::vector<char> drives = DrivesHoldingDisk(copy.disk);
        for (char letter : drives) {
            char drive[3] = {letter, ':', '\0'};
            item.discFolders.push_back(DisplayPath(drive));
        }
        if (drives.empty()) {
            item.verdict = "disc-missing";
            char prompt[1024];
            FormatDiskPrompt(prompt, sizeof prompt, copy.disk);
            item.messages.push_back(TextFromArchive(prompt));
            item.text = "waits: no --cdrom folder holds the check file \"" +
                        TextFromArchive(Updater.Setup.DiskCheckFile[copy.disk]) + "\"; the updater asks \"" +
                        item.messages[0] + "\" until the disc is there or the user cancels";
            plan.outcome = "waits-for-disc";
            return 0;
        }
        sourceRoot[0] = drives[0];
        sourceRoot[1] = ':';
        sourceRoot[2] = '\0';
    } else if (sourceRoot[0] == '\0') {
        RefuseCopy(item, copy, "no disc was searched before this disk-0 item");
        return 0;
    }
    char source[MAX_PATH], destination[MAX_PATH];
    if (!CopyText(source, sizeof source, sourceRoot) || !JoinPath(source, sizeof source, copy.path) ||
        !CopyText(destination, sizeof destination, Updater.Install.InstPath) ||
        !JoinPath(destination, sizeof destination, copy.path) || strlen(source) > MAX_PATH - 1 ||
        strlen(destination) > MAX_PATH - 1) {
        RefuseCopy(item, copy, "the path is too long");
        return 0;
    }
    DWORD attributes = GetFileAttributesA(source);
    std::string from = "disc " + std::to_string(copy.disk) + " (" + DisplayPath(sourceRoot) + ")";
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        RefuseCopy(item, copy, DisplayPath(source) + " is not on the disc");
        return 0;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        item.mode = "folder";
        item.target = DisplayPath(Updater.Install.InstPath);
        item.verdict = "copied-folder";
        uint64_t files = 0;
        CountFolder(DisplayPath(source), &files, &item.bytes);
        item.text = "copied from " + from + ": the folder is merged into the installation folder (" +
                    std::to_string(files) + " files, " + std::to_string(item.bytes) + " bytes)";
        return 1;
    }
    item.mode = "file";
    item.target = DisplayPath(destination);
    uint32_t size = 0;
    unsigned char* content = ReadWholeFile(source, &size);
    if (content) GlobalFree(content);
    item.bytes = size;
    item.verdict = "copied-file";
    item.text =
        "copied from " + from +
        (GetFileAttributesA(destination) == INVALID_FILE_ATTRIBUTES ? ": written new"
                                                                    : ": replaces the installed file");
    return 1;
}

// The free-space check that opens the run, measured as the run measures it. 1 when the run goes on.
int CheckFreeSpace(Plan& plan) {
    RequiredSpace space;
    int goesOn = MeasureRequiredSpace(&space);
    plan.required = space.required;
    plan.spaceChecked = space.checked;
    plan.freeBytes = space.checked ? space.freeBytes.QuadPart : 0;
    if (goesOn) return 1;
    char text[1024];
    FormatText(text, sizeof text, ShortOfSpaceText, space.drive, static_cast<int>(space.shortfall));
    plan.spaceMessage = TextFromArchive(text);
    return 0;
}

// The updater's start as far as the plan needs it: the four required "[SETUP]" keys of "UPDATE.INI" and
// "DataFolder", then the installation's "SETUP.INI". 1 when the run would reach the wizard.
int StartAsTheUpdater(Plan& plan) {
    int boxes = BoxCount();
    SetupConfig& setup = Updater.Setup;
    Updater.QuietMissingKeys = 0;
    if (!ReadProfileValue("SETUP", "CompanyName", setup.CompanyName, sizeof setup.CompanyName) ||
        !ReadProfileValue("SETUP", "GameTitle", setup.GameTitle, sizeof setup.GameTitle) ||
        !ReadProfileValue("SETUP", "GameClass", setup.GameClass, sizeof setup.GameClass) ||
        !ReadProfileValue("SETUP", "GameDir", setup.GameDir, sizeof setup.GameDir)) {
        plan.stage = "UPDATE.INI";
        plan.stageMessages = BoxesSince(boxes);
        return 0;
    }
    Updater.QuietMissingKeys = 1;
    ReadProfileValue("SETUP", "DataFolder", Updater.DataFolder, sizeof Updater.DataFolder);
    if (!ReadInstalledSetup()) {
        plan.stage = "SETUP.INI";
        plan.stageMessages = BoxesSince(boxes);
        return 0;
    }
    return 1;
}

void ReadPlanItems(Plan& plan) {
    int boxes = BoxCount();
    if (!ReadUpdatePlan(&plan.overwriteOnly)) {
        plan.outcome = "stops";
        plan.stage = "[UPDATE]";
        plan.stageMessages = BoxesSince(boxes);
        return;
    }
    if (Updater.UpdateCount == 0 && Updater.CopyCount == 0) {
        plan.outcome = "nothing-to-update";
        plan.stageMessages.push_back(TextFromArchive(NothingToUpdateText));
    }
    // The keys again, for the entries the filter left out: ReadUpdatePlan keeps only the others, in order.
    int stopped = 0;
    std::set<std::string> createdFolders;
    if (plan.dataFolderMissing) createdFolders.insert(std::string(1, DataDrive) + ":?");
    char sourceRoot[3] = "";
    for (int list = 0; list < 2; ++list) {
        int32_t next = 0;
        for (int index = 0; index < UpdateListCapacity; ++index) {
            char key[32], value[1024];
            FormatText(key, sizeof key, list == 0 ? "UpdateFile%02i" : "CopyFile%02i", index);
            if (!ReadProfileValue("UPDATE", key, value, list == 0 ? 1024 : 260)) break;
            PlanItem item;
            item.key = key;
            item.value = TextFromArchive(value);
            item.list = list == 0 ? "update" : "copy";
            item.disk = 0;
            item.bytes = 0;
            int excluded;
            int32_t variant = -1;
            if (list == 0) {
                UpdateItem parsed;
                int filter;
                ParseUpdateValue(value, &parsed, &filter);
                variant = filter;
                item.mode = ModeName(parsed.mode);
                item.path = TextFromArchive(parsed.path);
                excluded = filter >= 0 && static_cast<DWORD>(filter) != Updater.Install.InstMode;
            } else {
                CopyItem parsed;
                excluded = ParseCopyValue(value, &parsed, &variant) &&
                           static_cast<DWORD>(variant) != Updater.Install.InstMode;
                item.path = TextFromArchive(parsed.path);
                item.disk = parsed.disk;
            }
            if (excluded) {
                item.verdict = "filtered";
                item.text = "left out by the filter: for installation variant " + std::to_string(variant) +
                            ", this one is " + std::to_string(Updater.Install.InstMode);
            } else if (stopped) {
                item.verdict = "not-reached";
                item.text = "not reached: the update stops before it";
                ++next;
            } else if (list == 0) {
                stopped =
                    !DecideArchiveItem(Updater.UpdateItems[next++], plan.overwriteOnly, createdFolders, item);
            } else {
                stopped = !DecideCopyItem(Updater.CopyItems[next++], sourceRoot, plan, item);
            }
            if (stopped && plan.outcome.empty()) plan.outcome = "stops";
            plan.preparedBytes += item.bytes;
            plan.items.push_back(item);
        }
    }
    if (plan.outcome.empty()) plan.outcome = "completes";
}

int MapFolder(char letter, const char* folder, UINT type) {
    if (!IsHostFolder(folder)) {
        Report("%s: no such folder", folder);
        return 0;
    }
    Standin::SetDrive(letter, folder, type);
    return 1;
}

} // namespace

int PlanUpdate(const char* archivePath, const char* gameDir, const PlanOptions& options) {
    if (options.discDirs.size() > static_cast<size_t>('Z' - FirstDiscDrive + 1)) {
        Report("at most %d --cdrom folders", 'Z' - FirstDiscDrive + 1);
        return 0;
    }
    Standin::ResetFileSystem();
    Standin::SetHostPathResolver(ResolveHostPath);
    ResetUpdaterContext();
    if (!MapFolder(GameDrive, gameDir, DRIVE_FIXED)) return 0;
    // A data folder that is not there yet is made by the run's first data item, as long as the folder
    // that holds it is there.
    int dataFolderMissing = options.dataDir && !IsHostFolder(options.dataDir);
    if (dataFolderMissing) {
        std::string parent = options.dataDir;
        while (parent.size() > 1 && parent.back() == '/')
            parent.pop_back();
        size_t slash = parent.rfind('/');
        parent = slash == std::string::npos ? "." : slash == 0 ? "/" : parent.substr(0, slash);
        if (!IsHostFolder(parent.c_str())) {
            Report("%s: no such folder, nor one that holds it", options.dataDir);
            return 0;
        }
        Standin::SetDrive(DataDrive, options.dataDir, DRIVE_FIXED);
    } else if (options.dataDir && !MapFolder(DataDrive, options.dataDir, DRIVE_FIXED)) {
        return 0;
    }
    for (size_t i = 0; i < options.discDirs.size(); ++i) {
        if (!MapFolder(static_cast<char>(FirstDiscDrive + i), options.discDirs[i].c_str(), DRIVE_CDROM))
            return 0;
    }
    OpenedArchive archive;
    if (!OpenArchive(archivePath, archive)) return 0;
    shownBoxes.clear();
    Standin::TakeMessageBoxes(TakeBox, nullptr);
    Updater.ArchiveImage = archive.image;
    Updater.ArchiveImageSize = archive.imageSize;
    Updater.ArchiveDirectory = archive.block;

    int made = 0;
    uint32_t size = 0;
    unsigned char* profile = FindEntryData("UPDATE.INI", &size);
    char copy[260];
    if (!profile) {
        Report("%s: no \"UPDATE.INI\" (the updater shows \"%s\" and stops)", archivePath,
               TextFromArchive(BoxCount() ? shownBoxes[0].c_str() : "").c_str());
    } else {
        made = MakeProfileCopy(profile, size, copy, sizeof copy);
        if (ArchiveDataIsOwned(profile)) GlobalFree(profile);
    }
    if (made) {
        CopyText(Updater.UpdateIniPath, sizeof Updater.UpdateIniPath, copy);
        CopyText(Updater.Install.InstPath, sizeof Updater.Install.InstPath, "C:");
        CopyText(Updater.Install.DataPath, sizeof Updater.Install.DataPath, options.dataDir ? "D:" : "");
        Updater.Install.InstMode = options.variant;
        Updater.Install.InstAdd = options.add;
        Plan plan = Plan();
        plan.dataFolderMissing = dataFolderMissing;
        if (!StartAsTheUpdater(plan)) {
            plan.outcome = "stops";
        } else if (!CheckFreeSpace(plan)) {
            plan.outcome = "short-of-space";
            ReadPlanItems(plan);
            plan.outcome = "short-of-space";
        } else {
            ReadPlanItems(plan);
        }
        if (options.json)
            PrintPlanJson(plan, archivePath, gameDir, options);
        else
            PrintPlanText(plan, archivePath, gameDir, options);
        RemoveProfileCopy(copy);
    }
    Updater.ArchiveImage = nullptr;
    Updater.ArchiveDirectory = nullptr;
    CloseArchive(archive);
    Standin::TakeMessageBoxes(nullptr, nullptr);
    Standin::ResetFileSystem();
    return made;
}
