// updpack's command line: picks the command, checks its arguments, prints help, and turns the command's
// result into the exit status (0 done, 1 refused or failed, 2 wrong usage).
#include "tools/updpack/updpack.h"

#include <cstdio>
#include <cstring>

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
     "leaving any existing ARCHIVE untouched: a name without an exact code page 932 form or with a\n"
     "character Windows file names cannot hold, a name over 259 bytes, two names the updater does not\n"
     "tell apart (letters compared without regard to case), a file of 4 GiB or more, and an archive that\n"
     "would reach 4 GiB.\n"},
    {"list", 1, "updpack list ARCHIVE", "show the entries",
     "Shows each entry in directory order: its size, stored size, form (compressed or stored),\n"
     "last-write time in UTC and name.\n"},
    {"test", 1, "updpack test ARCHIVE", "check that every entry comes out whole",
     "Checks that the archive's directory is sound and that every entry lies inside the image and decodes\n"
     "to exactly its size. Names each damaged entry and exits with status 1 on any damage.\n"},
    {"extract", 2, "updpack extract ARCHIVE FOLDER", "write the entries into FOLDER",
     "Writes every entry into FOLDER (created if needed) as a file named back in UTF-8, byte for byte, with\n"
     "the entry's time as its last-write time. Of entries the updater takes for the same name, only the\n"
     "first is written, as the updater only ever finds that one. Stops at the first damaged entry.\n"},
};

void PrintToolHelp(FILE* out) {
    fputs("updpack: packs a folder into the updater's archive, and lists, tests and extracts such archives.\n"
          "\n"
          "usage:\n",
          out);
    for (const Command& command : commands)
        fprintf(out, "  %-31s %s\n", command.usage, command.summary);
    fputs("  updpack help [COMMAND]          this help, or a command's (also: updpack COMMAND --help)\n"
          "\n"
          "Exit status: 0 done, 1 refused or failed, 2 wrong usage.\n",
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
    return ToolSucceeded;
}

int Run(const Command& command, char** arguments) {
    int done = 0;
    if (!strcmp(command.name, "create"))
        done = CreateArchive(arguments[0], arguments[1], ArchiveImageLimit);
    else if (!strcmp(command.name, "list"))
        done = ListArchive(arguments[0]);
    else if (!strcmp(command.name, "test"))
        done = TestArchive(arguments[0]);
    else if (!strcmp(command.name, "extract"))
        done = ExtractArchive(arguments[0], arguments[1]);
    return done ? ToolSucceeded : ToolFailed;
}
} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintToolHelp(stderr);
        return ToolUsage;
    }
    if (IsHelpOption(argv[1]) || !strcmp(argv[1], "help")) {
        if (argc > 3) {
            Report("help takes at most one command");
            return ToolUsage;
        }
        return ShowHelp(argc == 3 ? argv[2] : nullptr);
    }
    const Command* command = FindCommand(argv[1]);
    if (!command) {
        Report("no command \"%s\"; see updpack --help", argv[1]);
        return ToolUsage;
    }
    for (int i = 2; i < argc; ++i) {
        if (IsHelpOption(argv[i])) return ShowHelp(command->name);
    }
    if (argc - 2 != command->arguments) {
        Report("usage: %s", command->usage);
        return ToolUsage;
    }
    return Run(*command, argv + 2);
}
