// updpack plan: what an updater would do to an installed game, told item by item before it ships. The
// updater's own engine decides, run dry (update/plan_execution): its start as far as the installation's
// "SETUP.INI", then the very walk of decisions the update makes, over the platform stand-in with the game
// folder as drive C: (InstPath "C:"), the data folder as D: (or, when it is yet to be made, D: as the
// folder that holds it) and each disc folder as a CD-ROM drive from E: on. This file only formats the
// decisions. Only reads: no file is written, moved or stamped, and the private copy of "UPDATE.INI" the
// profile reader needs lives outside every folder given and is removed again. Boxes the updater's
// routines show are taken from the stand-in's recorder and reported as the verdict's messages.
#include "tools/updpack/plan_report.h"
#include "tools/updpack/updpack.h"

#include "archive/archive.h"
#include "app/installed_setup.h"
#include "context/updater_context.h"
#include "platform/standin/host_boxes.h"
#include "platform/standin/host_files.h"
#include "platform/text_format.h"
#include "setupcfg/path_join.h"
#include "setupcfg/profile_access.h"
#include "update/plan_execution.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
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

uint64_t HostFileBytes(const char* path) {
    struct stat status;
    return stat(DisplayPath(path).c_str(), &status) == 0 && S_ISREG(status.st_mode)
               ? static_cast<uint64_t>(status.st_size)
               : 0;
}

// Every entry of "[UPDATE]" as the plan reader met it, in key order.
struct SeenEntry {
    int list, index, filtered, variant;
    std::string value;
};

void NoteEntry(int list, int index, const char* value, int filtered, int variant, void* data) {
    static_cast<std::vector<SeenEntry>*>(data)->push_back({list, index, filtered, variant, value});
}

void Refused(PlanItem& item, int32_t refusal, std::vector<std::string> messages) {
    item.verdict = "refused";
    item.messages = messages;
    item.text = refusal == RefusedSilently ? "refused: the user cancelled"
                : refusal == RefusedNotPatchBase
                    ? "refused: the installed file is not the base of this patch; "
                      "the updater shows"
                    : "refused: the updater shows";
    for (const std::string& message : item.messages)
        item.text += " \"" + message + "\"";
    item.text += ", stops and changes nothing";
}

void DescribeArchiveItem(const UpdateItem& update, const ArchiveDecision& decision,
                         const std::vector<std::string>& boxes, PlanItem& item) {
    item.mode = ModeName(update.mode);
    item.path = TextFromArchive(update.path);
    if (decision.target[0] != '\0') item.target = DisplayPath(decision.target);
    if (decision.createsFolder) item.createsFolder = DisplayPath(decision.folder);
    item.bytes = decision.bytes;
    std::string readOnly = decision.readOnly ? " (read-only, ends writable)" : "";
    switch (decision.verdict) {
    case VerdictWrittenNew:
        item.verdict = "new";
        item.text = "written new";
        break;
    case VerdictReplaced:
        item.verdict = "replaced";
        item.text =
            (update.mode == ModeNewer ? "replaces the installed file, which is not later than the update's"
                                      : "replaces the installed file") +
            readOnly;
        break;
    case VerdictPatched:
        item.verdict = "patched";
        item.text = "patched: the installed file is the base" + readOnly;
        break;
    case VerdictKeptLater:
        item.verdict = "kept-later";
        item.text = std::string("kept: the installed file is later than the update's") +
                    (decision.readOnly ? " (made writable)" : "");
        item.bytes = 0;
        break;
    case VerdictSkippedMissing:
        item.verdict = "skipped-missing";
        item.text = "skipped: no such file, and only existing files are written";
        break;
    case VerdictDataRewritten:
        item.verdict = "data-kept";
        item.text = "kept: the player's file keeps its content and takes the time of the update";
        break;
    case VerdictDataReadOnly:
        item.verdict = "data-read-only";
        item.text = "kept as it is: the player's file is read-only";
        break;
    case VerdictDataUnreadable:
        item.verdict = "data-unreadable";
        item.text = "kept as it is: the player's file cannot be read";
        break;
    case VerdictNoDataFolder:
        item.verdict = "no-data-folder";
        item.text = "not decided: a data file, and no --data folder was given (the updater writes it below "
                    "the registry's DataPath)";
        break;
    case VerdictRefused:
        item.bytes = 0;
        Refused(item, decision.refusal, boxes);
        break;
    default:
        item.verdict = "not-reached";
        item.text = "not reached: the update stops before it";
        item.bytes = 0;
        break;
    }
}

void DescribeCopyItem(const CopyItem& copy, const CopyDecision& decision,
                      const std::vector<std::string>& boxes, PlanItem& item) {
    item.path = TextFromArchive(copy.path);
    item.disk = copy.disk;
    if (copy.disk >= 1 && copy.disk <= 9) {
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            char drive[3] = {letter, ':', '\0'};
            if (DriveHoldsDisk(letter, copy.disk)) item.discFolders.push_back(DisplayPath(drive));
        }
    }
    std::string from = "disc " + std::to_string(copy.disk) + " (" + DisplayPath(decision.sourceRoot) + ")";
    switch (decision.verdict) {
    case VerdictDiscFile:
        item.mode = "file";
        item.target = DisplayPath(decision.destination);
        item.bytes = HostFileBytes(decision.source);
        item.verdict = "copied-file";
        item.text =
            "copied from " + from + (decision.replaces ? ": replaces the installed file" : ": written new");
        break;
    case VerdictDiscFolder: {
        item.mode = "folder";
        item.target = DisplayPath(Updater.Install.InstPath);
        item.verdict = "copied-folder";
        uint64_t files = 0;
        CountFolder(DisplayPath(decision.source), &files, &item.bytes);
        item.text = "copied from " + from + ": the folder is merged into the installation folder (" +
                    std::to_string(files) + " files, " + std::to_string(item.bytes) + " bytes)";
        break;
    }
    case VerdictDiscMissing: {
        item.verdict = "disc-missing";
        char prompt[1024];
        FormatDiskPrompt(prompt, sizeof prompt, copy.disk);
        item.messages.push_back(TextFromArchive(prompt));
        item.text = "waits: no --cdrom folder holds the check file \"" +
                    TextFromArchive(Updater.Setup.DiskCheckFile[copy.disk]) + "\"; the updater asks \"" +
                    item.messages[0] + "\" until the disc is there or the user cancels";
        break;
    }
    case VerdictRefused:
        Refused(item, decision.refusal, boxes);
        break;
    default:
        item.verdict = "not-reached";
        item.text = "not reached: the update stops before it";
        break;
    }
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

const char* OutcomeName(UpdateOutcome outcome) {
    switch (outcome) {
    case UpdateCompleted:
        return "completes";
    case UpdateNothingToDo:
        return "nothing-to-update";
    case UpdateWaitsForDisc:
        return "waits-for-disc";
    case UpdateShortOfSpace:
        return "short-of-space";
    default:
        return "stops";
    }
}

// The engine run dry, and its decisions told item by item in key order, filtered entries among them.
void RunDry(Plan& plan, int dataFolderKnown) {
    static UpdateWalk walk;
    BeginWalk(&walk, dataFolderKnown);
    std::vector<SeenEntry> entries;
    UpdateRunOptions options = {};
    options.dryRun = 1;
    options.finder = LookForDisc;
    options.entrySeen = NoteEntry;
    options.entryData = &entries;
    RequiredSpace space;
    int boxes = BoxCount();
    UpdateOutcome outcome = RunUpdateEngine(nullptr, options, &walk, &space, &plan.overwriteOnly);

    plan.required = space.required;
    plan.spaceChecked = space.checked;
    plan.freeBytes = space.checked ? space.freeBytes.QuadPart : 0;
    if (space.shortfall != 0) {
        char text[1024];
        FormatText(text, sizeof text, ShortOfSpaceText, space.drive, static_cast<int>(space.shortfall));
        plan.spaceMessage = TextFromArchive(text);
    }
    int stoppedAtItem = 0;
    for (int32_t i = 0; i < walk.archiveCount; ++i)
        stoppedAtItem |= walk.archive[i].verdict == VerdictRefused;
    for (int32_t i = 0; i < walk.copyCount; ++i)
        stoppedAtItem |=
            walk.copies[i].verdict == VerdictRefused || walk.copies[i].verdict == VerdictDiscMissing;
    // Every box of a dry run stops it: those of a refused item are its own, the others the plan's.
    std::vector<std::string> messages = BoxesSince(boxes);
    if (!stoppedAtItem) {
        if (outcome == UpdateFailed) plan.stage = "[UPDATE]";
        plan.stageMessages = messages;
    }

    int32_t archiveIndex = 0, copyIndex = 0;
    for (const SeenEntry& entry : entries) {
        PlanItem item;
        char key[32];
        FormatText(key, sizeof key, entry.list == 0 ? "UpdateFile%02i" : "CopyFile%02i", entry.index);
        item.key = key;
        item.value = TextFromArchive(entry.value.c_str());
        item.list = entry.list == 0 ? "update" : "copy";
        item.disk = 0;
        item.bytes = 0;
        if (entry.filtered) {
            if (entry.list == 0) {
                UpdateItem parsed;
                int variant;
                ParseUpdateValue(entry.value.c_str(), &parsed, &variant);
                item.mode = ModeName(parsed.mode);
                item.path = TextFromArchive(parsed.path);
            } else {
                CopyItem parsed;
                int32_t variant;
                ParseCopyValue(entry.value.c_str(), &parsed, &variant);
                item.path = TextFromArchive(parsed.path);
                item.disk = parsed.disk;
            }
            item.verdict = "filtered";
            item.text = "left out by the filter: for installation variant " + std::to_string(entry.variant) +
                        ", this one is " + std::to_string(Updater.Install.InstMode);
        } else if (entry.list == 0) {
            int32_t index = archiveIndex++;
            ArchiveDecision none = {};
            DescribeArchiveItem(Updater.UpdateItems[index],
                                index < walk.archiveCount ? walk.archive[index] : none, messages, item);
        } else {
            int32_t index = copyIndex++;
            CopyDecision none = {};
            DescribeCopyItem(Updater.CopyItems[index], index < walk.copyCount ? walk.copies[index] : none,
                             messages, item);
        }
        plan.preparedBytes += item.bytes;
        plan.items.push_back(item);
    }
    // The run stops at the short-of-space page before anything else the dry run went on to find.
    plan.outcome = space.shortfall != 0 ? "short-of-space" : OutcomeName(outcome);
    EndWalk(&walk);
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
    // that holds it is there: D: is then that folder, and the data folder a name in it.
    std::string dataPath = options.dataDir ? "D:" : "";
    if (options.dataDir && !IsHostFolder(options.dataDir)) {
        std::string parent = options.dataDir;
        while (parent.size() > 1 && parent.back() == '/')
            parent.pop_back();
        size_t slash = parent.rfind('/');
        std::string name = slash == std::string::npos ? parent : parent.substr(slash + 1);
        parent = slash == std::string::npos ? "." : slash == 0 ? "/" : parent.substr(0, slash);
        std::string nameInCodePage;
        if (!IsHostFolder(parent.c_str()) || name.empty() ||
            !CodePage932FromUtf8(name.c_str(), nameInCodePage)) {
            Report("%s: no such folder, nor one that holds it", options.dataDir);
            return 0;
        }
        Standin::SetDrive(DataDrive, parent.c_str(), DRIVE_FIXED);
        dataPath = "D:\\" + nameInCodePage;
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
        CopyText(Updater.Install.DataPath, sizeof Updater.Install.DataPath, dataPath.c_str());
        Updater.Install.InstMode = options.variant;
        Updater.Install.InstAdd = options.add;
        Plan plan = Plan();
        if (!StartAsTheUpdater(plan))
            plan.outcome = "stops";
        else
            RunDry(plan, options.dataDir != nullptr);
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
