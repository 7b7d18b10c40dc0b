// updpack's command line: picks the command, checks its arguments, prints help, and turns the command's
// result into the exit status (0 done, 1 refused or failed, 2 wrong usage).
#include "tools/updpack/updpack.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
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
     "device or socket, a file of 4 GiB or more, and an archive that would reach 4 GiB.\n"},
    {"build", 2, "updpack build OUT.exe FOLDER [--stub STUB.exe] [--force]",
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
     "the updater meets a faulty folder, never for a release.\n"},
    {"list", 1, "updpack list ARCHIVE", "show the entries",
     "Shows each entry in directory order: its size, stored size, form (compressed or stored),\n"
     "last-write time in UTC and name. ARCHIVE may be an updater program: its \"UPDATE\" resource is "
     "read.\n"},
    {"test", 1, "updpack test ARCHIVE", "check that every entry comes out whole",
     "Checks that the archive's directory is sound and that every entry lies inside the image and decodes\n"
     "to exactly its size. Names each damaged entry and exits with status 1 on any damage. ARCHIVE may be\n"
     "an updater program: its \"UPDATE\" resource is read.\n"},
    {"extract", 2, "updpack extract ARCHIVE FOLDER", "write the entries into FOLDER",
     "Writes every entry into FOLDER (created if needed) as a file named back in UTF-8, byte for byte, with\n"
     "the entry's time as its last-write time. Of entries the updater takes for the same name, only the\n"
     "first is written, as the updater only ever finds that one. Refuses, before writing anything, names\n"
     "that are not bare file names or that Windows cannot hold as written (as create does). Stops at the\n"
     "first damaged entry. ARCHIVE may be an updater program: its \"UPDATE\" resource is read.\n"},
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
        fprintf(out, "  %-31s %s\n", command.usage, command.summary);
    fputs("  updpack help [COMMAND]          this help, or a command's (also: updpack COMMAND --help)\n"
          "\n"
          "ARCHIVE may also be an updater program (list, test, extract).\n",
          out);
    PrintStubPlaces(out);
    fputs("\nExit status: 0 done, 1 refused or failed, 2 wrong usage.\n", out);
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

int Run(const Command& command, const std::vector<std::string>& arguments, const char* stubPath, int force) {
    const char* first = arguments[0].c_str();
    const char* second = arguments.size() > 1 ? arguments[1].c_str() : nullptr;
    int done = 0;
    if (!strcmp(command.name, "create"))
        done = CreateArchive(first, second, ArchiveImageLimit);
    else if (!strcmp(command.name, "build"))
        done = BuildUpdater(first, second, stubPath, force);
    else if (!strcmp(command.name, "list"))
        done = ListArchive(first);
    else if (!strcmp(command.name, "test"))
        done = TestArchive(first);
    else if (!strcmp(command.name, "extract"))
        done = ExtractArchive(first, second);
    return done ? ToolSucceeded : ToolFailed;
}

int Main(const std::vector<std::string>& argv) {
    size_t argc = argv.size();
    if (argc < 2) {
        PrintToolHelp(stderr);
        return ToolUsage;
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
    const char* stubPath = nullptr;
    int stubGiven = 0, force = 0;
    for (size_t i = 2; i < argc; ++i) {
        int building = !strcmp(command->name, "build");
        if (building && argv[i] == "--stub" && i + 1 < argc && !stubGiven) {
            stubPath = argv[++i].c_str();
            stubGiven = 1;
        } else if (building && argv[i] == "--force" && !force) {
            force = 1;
        } else {
            arguments.push_back(argv[i]);
        }
    }
    if (arguments.size() != static_cast<size_t>(command->arguments) || (stubPath && !*stubPath)) {
        Report("usage: %s", command->usage);
        return ToolUsage;
    }
    return Run(*command, arguments, stubPath, force);
}
} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    if (!HostArguments(argc, argv, arguments)) return ToolUsage;
    return Main(arguments);
}
