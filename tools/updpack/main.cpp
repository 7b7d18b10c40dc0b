// updpack's command line: picks the command, checks its arguments, prints help, and turns the command's
// result into the exit status (0 done, 1 refused or failed, 2 wrong usage).
#include "tools/updpack/updpack.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
// The tool's own version, which --version prints; it changes when the archive or patch formats do.
const char UpdpackVersion[] = "1.1 (archive KT2, patches KTP1)";

struct Command {
    const char* name;
    int arguments; // after the command's name
    const char* usage;
    const char* summary; // one line in the tool's help
    const char* help;
};

const Command commands[] = {
    {"create", 2, "updpack create ARCHIVE FOLDER", "pack the files of FOLDER into ARCHIVE",
     "Packs every regular file directly in FOLDER (sub-folders are skipped) into ARCHIVE, replacing it.\n"
     "Entries are named by the file names in code page 932, carry the files' last-write times, and are\n"
     "compressed when that makes them smaller, else stored as is. The directory is compressed. Refuses,\n"
     "leaving any existing ARCHIVE untouched: a name without an exact code page 932 form, a name Windows\n"
     "cannot hold as written (a character such as : or ?, a control character, a dot or space at the\n"
     "end, a device name such as CON, NUL, COM1 or LPT1 with or without an extension), a name over 259\n"
     "bytes, two names the updater does not tell apart (letters compared without regard to case), a\n"
     "symbolic link (copy the file it points to into FOLDER instead, e.g. with cp -L), a named pipe,\n"
     "device or socket, a file of 4 GiB or more, and an archive that would reach 4 GiB. An ARCHIVE that is\n"
     "there as anything but a regular file (a device, a named pipe, a link to nothing) is not replaced.\n"},
    {"build", 2, "updpack build OUT.exe FOLDER [--stub STUB.exe] [--force] [--base OLD [--keep-whole]]",
     "make the updater OUT.exe from FOLDER",
     "Packs FOLDER as create does and writes OUT.exe: the updater stub with the archive as its resource\n"
     "\"UPDATE\", id 102, language 1041 (an archive the stub already carries is replaced; its dialogs and\n"
     "manifest are kept). First checks what the updater will read, with the updater's own readers:\n"
     "UPDATE.INI is in FOLDER; its [SETUP] has CompanyName, GameTitle, GameClass and GameDir, not empty;\n"
     "the files named by AgreementText and AgreementTitle are in FOLDER; and so is the file of every\n"
     "UpdateFile00 to UpdateFile15 (up to the first missing key, whatever its install-variant filter),\n"
     "names matched without regard to case as the updater matches them. Refuses, naming every problem and\n"
     "writing nothing, when one fails. Warns, without refusing, when UPDATE.INI or an agreement text is\n"
     "not code page 932 text (saved as UTF-8, say) or has line feeds without carriage returns, since the\n"
     "updater shows them as they stand. OUT.exe is written beside its place and renamed there when whole.\n"
     "--force writes OUT.exe despite the problems the checks find (they are still reported): for testing "
     "how\n"
     "the updater meets a faulty folder, never for a release. An OUT.exe that is there as anything but a\n"
     "regular file (a device, a named pipe, a link to nothing) is not replaced, even with --force.\n"
     "--base OLD: OLD is the previous release, as installed. Each file that an UpdateFileNN lists (not as a\n"
     "data file \"d\", and only once) and whose previous release is in OLD at the same path goes in as a "
     "patch\n"
     "against that file, when the patch is at most 90 % of the whole entry; the updater then builds the new\n"
     "file from the installed one and refuses an installed file that is not the base. --keep-whole carries\n"
     "the whole file as well, which the updater writes instead of refusing. Linux hosts only.\n"},
    {"diff", 3, "updpack diff OLD NEW OUT [--setup FILE]", "make the update folder OUT from two releases",
     "Compares the release folders OLD and NEW (with their sub-folders) by content and makes OUT an update\n"
     "folder that build takes: the new and changed files of NEW under their bare names, and UPDATE.INI in\n"
     "code page 932 with CR LF: [SETUP] from --setup FILE, or kept from the UPDATE.INI already in OUT; one\n"
     "UpdateFileNN per file by its path, in the order of the paths, plain unless OUT's UPDATE.INI gave that\n"
     "path a mode, which is kept (and so are its CopyFileNN); RequiredDiskSpace, the bytes the update\n"
     "prepares beside the installed files, at most 2147483647 (a warning says when that is too little).\n"
     "Files NEW no longer has are named in a warning: an update cannot delete. Refuses, writing nothing: "
     "OUT\n"
     "holding anything but an UPDATE.INI, more than 16 new or changed files, and two of them with the same\n"
     "name in different folders (the updater finds entries by bare name). Then: updpack build --base OLD.\n"},
    {"list", 1, "updpack list ARCHIVE [--json]", "show the entries",
     "Shows each entry in directory order: its size, stored size, form (compressed or stored),\n"
     "last-write time in UTC and name. ARCHIVE may be an updater program: its \"UPDATE\" resource is "
     "read.\n--json prints one JSON document instead (README, \"Output for pipelines\").\n"},
    {"test", 1, "updpack test ARCHIVE [--json] [--base OLD]", "check that every entry comes out whole",
     "Checks that the archive's directory is sound and that every entry lies inside the image and decodes\n"
     "to exactly its size. Names each damaged entry and exits with status 1 on any damage. ARCHIVE may be\n"
     "an updater program: its file is first checked as the updater checks itself before it runs (its\n"
     "checksum, and its length, which ends where its last section or its certificate table ends; a\n"
     "program whose checksum field is 0 is not checked), then its \"UPDATE\" resource is read. --json\n"
     "prints one JSON document of the program's check, the entries and whether each is sound (the reasons\n"
     "still go to stderr). --base OLD: a patch entry is applied to its base, found in OLD, the previous\n"
     "release (any file of the entry's name whose size and digest the patch names); without --base only\n"
     "its header is checked, and a note says so.\n"},
    {"plan", 2,
     "updpack plan UPDATER GAME_DIR [--data DIR] [--variant N] [--add N] [--cdrom DIR]... [--json]",
     "show what UPDATER would do to GAME_DIR",
     "Tells, item by item of UPDATE.INI's [UPDATE], what the updater (or archive) would do to the game\n"
     "installed in GAME_DIR, decided by the updater's own code: left out by the install-variant filter,\n"
     "written new, replaces the installed file, kept because the installed file is later, skipped because\n"
     "only existing files are written, the data rule's choice, the folder the run creates, copied from disc\n"
     "N (and which --cdrom folders hold its check file), or refused with the updater's messages. Then the\n"
     "free space the run checks and the bytes it prepares, and the outcome. GAME_DIR stands for the\n"
     "registry's InstPath and holds SETUP.INI; --data DIR for DataPath; --variant and --add for InstMode\n"
     "and InstAdd (default 0); each --cdrom DIR is a disc in a CD-ROM drive, searched in the order given.\n"
     "Writes nothing. Linux hosts only. --json prints one JSON document. Exit status 0 whatever the\n"
     "outcome, 1 when the updater cannot be read.\n"},
    {"extract", 2, "updpack extract ARCHIVE FOLDER [--base OLD]", "write the entries into FOLDER",
     "Writes every entry into FOLDER (created if needed) as a file named back in UTF-8, byte for byte, with\n"
     "the entry's time as its last-write time. Of entries the updater takes for the same name, only the\n"
     "first is written, as the updater only ever finds that one. Refuses, before writing anything, names\n"
     "that are not bare file names or that Windows cannot hold as written (as create does). Stops at the\n"
     "first damaged entry. ARCHIVE may be an updater program: its \"UPDATE\" resource is read. --base OLD:\n"
     "a patch entry is written as the file it makes from its base in OLD (as for test); without --base a\n"
     "patch is refused unless the whole file is carried beside it.\n"},
};

void PrintStubPlaces(FILE* out) {
    fputs("Without --stub, the stub is looked for, in this order:\n", out);
    for (const std::string& candidate : StubCandidates())
        fprintf(out, "  %s\n", candidate.c_str());
    fprintf(out,
            "(an installed updpack has %s beside it; a build tree has the Windows build's update.exe).\n",
            InstalledStubName);
}

void PrintToolHelp(FILE* out) {
    fputs("updpack: packs a folder into the updater's archive, and lists, tests and extracts such archives.\n"
          "\n"
          "usage:\n",
          out);
    for (const Command& command : commands)
        if (strlen(command.usage) > 31)
            fprintf(out, "  %s\n  %-31s %s\n", command.usage, "", command.summary);
        else
            fprintf(out, "  %-31s %s\n", command.usage, command.summary);
    fputs("  updpack help [COMMAND]          this help, or a command's (also: updpack COMMAND --help)\n"
          "  updpack --version               the tool's version\n"
          "\n"
          "ARCHIVE may also be an updater program (list, test, extract, plan).\n",
          out);
    PrintStubPlaces(out);
    fputs("\ncreate, build and diff work on every core (UPDPACK_WORKERS=N: on N), the result the same\n"
          "whatever their number; on a terminal, a run that lasts shows its progress on stderr.\n"
          "\nExit status: 0 done, 1 refused or failed, 2 wrong usage.\n",
          out);
}

const Command* FindCommand(const char* name) {
    for (const Command& command : commands) {
        if (!strcmp(command.name, name)) return &command;
    }
    return nullptr;
}

int IsHelpOption(const char* argument) {
    return !strcmp(argument, "--help") || !strcmp(argument, "-h");
}

int ShowHelp(const char* name) {
    if (!name) {
        PrintToolHelp(stdout);
        return ToolSucceeded;
    }
    const Command* command = FindCommand(name);
    if (!command) {
        Report("no command \"%s\"; see updpack --help", name);
        return ToolUsage;
    }
    printf("usage: %s\n\n%s", command->usage, command->help);
    if (!strcmp(command->name, "build")) PrintStubPlaces(stdout);
    return ToolSucceeded;
}

struct Options {
    const char* stubPath;
    int force;
    PatchChoice patches;   // build --base, --keep-whole; test and extract --base
    const char* setupFile; // diff --setup
    PlanOptions plan;
};

// Whatever is already at a path the command takes must be what it takes it for: a file (the archive, the
// updater, the stub, or the one to write), or a folder (to pack, to extract into, the game, the data and
// the discs). A link to one is fine. The command itself says what it does with a path where nothing is.
int PathsFit(const Command& command, const std::vector<std::string>& arguments, const Options& options) {
    // diff takes three folders; every other command a file first and then a folder.
    int firstIsFolder = !strcmp(command.name, "diff");
    int fit = CheckHostPath(arguments[0].c_str(), firstIsFolder ? HostFolderInUse : HostFileInUse, 1);
    for (size_t i = 1; i < arguments.size(); ++i)
        fit &= CheckHostPath(arguments[i].c_str(), HostFolderInUse, 1);
    if (options.stubPath) fit &= CheckHostPath(options.stubPath, HostFileInUse, 1);
    if (options.setupFile) fit &= CheckHostPath(options.setupFile, HostFileInUse, 1);
    if (options.patches.baseFolder) fit &= CheckHostPath(options.patches.baseFolder, HostFolderInUse, 1);
    if (options.plan.dataDir) fit &= CheckHostPath(options.plan.dataDir, HostFolderInUse, 1);
    for (const std::string& disc : options.plan.discDirs)
        fit &= CheckHostPath(disc.c_str(), HostFolderInUse, 1);
    return fit;
}

int Run(const Command& command, const std::vector<std::string>& arguments, const Options& options) {
    const char* first = arguments[0].c_str();
    const char* second = arguments.size() > 1 ? arguments[1].c_str() : nullptr;
    int done = 0;
    if (!PathsFit(command, arguments, options))
        done = 0;
    else if (!strcmp(command.name, "create"))
        done = CreateArchive(first, second, ArchiveImageLimit);
    else if (!strcmp(command.name, "build"))
        done = BuildUpdater(first, second, options.stubPath, options.force, options.patches);
    else if (!strcmp(command.name, "list"))
        done = ListArchive(first, options.plan.json);
    else if (!strcmp(command.name, "test"))
        done = TestArchive(first, options.plan.json, options.patches.baseFolder);
    else if (!strcmp(command.name, "extract"))
        done = ExtractArchive(first, second, options.patches.baseFolder);
    else if (!strcmp(command.name, "diff"))
        done = DiffReleases(first, second, arguments[2].c_str(), options.setupFile);
    else if (!strcmp(command.name, "plan"))
        done = PlanUpdate(first, second, options.plan);
    return ToolStatus(done);
}

// A decimal number of 0 to 4294967295, as the registry's DWORD values hold.
int ParseNumber(const std::string& text, uint32_t* number) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    unsigned long long value = strtoull(text.c_str(), nullptr, 10);
    if (value > 0xFFFFFFFFull) return 0;
    *number = static_cast<uint32_t>(value);
    return 1;
}

int Main(const std::vector<std::string>& argv) {
    size_t argc = argv.size();
    if (argc < 2) {
        PrintToolHelp(stderr);
        return ToolUsage;
    }
    if (argv[1] == "--version" && argc == 2) {
        printf("updpack %s\n", UpdpackVersion);
        return ToolSucceeded;
    }
    if (IsHelpOption(argv[1].c_str()) || argv[1] == "help") {
        if (argc > 3) {
            Report("help takes at most one command");
            return ToolUsage;
        }
        return ShowHelp(argc == 3 ? argv[2].c_str() : nullptr);
    }
    const Command* command = FindCommand(argv[1].c_str());
    if (!command) {
        Report("no command \"%s\"; see updpack --help", argv[1].c_str());
        return ToolUsage;
    }
    for (size_t i = 2; i < argc; ++i) {
        if (IsHelpOption(argv[i].c_str())) return ShowHelp(command->name);
    }
    std::vector<std::string> arguments;
    Options options;
    options.stubPath = nullptr;
    options.force = 0;
    options.patches.baseFolder = nullptr;
    options.patches.keepWhole = 0;
    options.setupFile = nullptr;
    options.plan.dataDir = nullptr;
    options.plan.variant = 0;
    options.plan.add = 0;
    options.plan.json = 0;
    int stubGiven = 0, variantGiven = 0, addGiven = 0, usable = 1;
    int building = !strcmp(command->name, "build"), planning = !strcmp(command->name, "plan");
    int based = building || !strcmp(command->name, "test") || !strcmp(command->name, "extract");
    int json = planning || !strcmp(command->name, "list") || !strcmp(command->name, "test");
    for (size_t i = 2; i < argc; ++i) {
        int valued = i + 1 < argc;
        if (building && argv[i] == "--stub" && valued && !stubGiven) {
            options.stubPath = argv[++i].c_str();
            stubGiven = 1;
        } else if (building && argv[i] == "--force" && !options.force) {
            options.force = 1;
        } else if (based && argv[i] == "--base" && valued && !options.patches.baseFolder) {
            options.patches.baseFolder = argv[++i].c_str();
            usable &= *options.patches.baseFolder != '\0';
        } else if (!strcmp(command->name, "diff") && argv[i] == "--setup" && valued && !options.setupFile) {
            options.setupFile = argv[++i].c_str();
            usable &= *options.setupFile != '\0';
        } else if (building && argv[i] == "--keep-whole" && !options.patches.keepWhole) {
            options.patches.keepWhole = 1;
        } else if (json && argv[i] == "--json" && !options.plan.json) {
            options.plan.json = 1;
        } else if (planning && argv[i] == "--data" && valued && !options.plan.dataDir) {
            options.plan.dataDir = argv[++i].c_str();
            usable &= *options.plan.dataDir != '\0';
        } else if (planning && argv[i] == "--variant" && valued && !variantGiven) {
            usable &= ParseNumber(argv[++i], &options.plan.variant);
            variantGiven = 1;
        } else if (planning && argv[i] == "--add" && valued && !addGiven) {
            usable &= ParseNumber(argv[++i], &options.plan.add);
            addGiven = 1;
        } else if (planning && argv[i] == "--cdrom" && valued) {
            options.plan.discDirs.push_back(argv[++i]);
            usable &= !options.plan.discDirs.back().empty();
        } else {
            arguments.push_back(argv[i]);
        }
    }
    if (!usable || arguments.size() != static_cast<size_t>(command->arguments) ||
        (options.patches.keepWhole && !options.patches.baseFolder) ||
        (options.stubPath && !*options.stubPath)) {
        Report("usage: %s", command->usage);
        return ToolUsage;
    }
    return Run(*command, arguments, options);
}
} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    if (!HostArguments(argc, argv, arguments)) return ToolUsage;
    return Main(arguments);
}
