// e2e_driver SCRIPT UPDATER [GAME]: plays one end-to-end scenario against the real updater under Wine, as a
// user would: starts UPDATER (and the stand-in game GAME), waits for their windows, reads what is on the
// screen (captions, texts, button states, message boxes and their owners), presses buttons and checks exit
// statuses. SCRIPT holds one step per line in UTF-8 (see tests/e2e/README.md); every text is turned into
// code page 932 before it is compared with what the ANSI window functions read. The first mismatch prints
// the step, what was expected and what was found, and a dump of the windows on screen; exit status 0 when
// every step held, 1 on a mismatch, 2 for a bad script or command line.
#include "tests/e2e/driver/driver.h"

#include <cstdio>

using namespace e2e;

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::printf("usage: e2e_driver SCRIPT UPDATER [GAME]\n");
        return 2;
    }
    ScriptPath = argv[1];
    UpdaterPath = argv[2];
    GamePath = argc > 3 ? argv[3] : "";
    FILE* file = std::fopen(ScriptPath.c_str(), "rb");
    if (!file) {
        std::printf("cannot read %s\n", ScriptPath.c_str());
        return 2;
    }
    std::vector<std::string> lines;
    std::string line;
    for (int c; (c = std::fgetc(file)) != EOF;) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += static_cast<char>(c);
        }
    }
    lines.push_back(line);
    std::fclose(file);

    TempBefore = TempFiles();
    QueryPerformanceCounter(&ScriptStart);
    for (size_t i = 0; i < lines.size(); ++i) {
        LineNumber = static_cast<int>(i + 1);
        LineText = lines[i];
        Step step = Parse(lines[i]);
        if (step.verb.empty()) continue;
        std::printf("step %d: %s\n", LineNumber, LineText.c_str());
        std::fflush(stdout);
        Run(step);
    }
    LineText = "(end of script)";
    for (auto& entry : Processes) {
        DWORD code = 0;
        if (entry.second.isUpdater && !Exited(entry.second, &code))
            Failure("the updater %s is still running at the end of the script", entry.first.c_str());
    }
    for (auto& entry : Processes) {
        TerminateProcess(entry.second.process, 0); // games that the script left open
        WaitForSingleObject(entry.second.process, 5000);
    }
    for (auto& entry : LockedFiles)
        CloseHandle(entry.second);
    LockedFiles.clear();
    std::string left;
    for (const std::string& name : TempFiles())
        if (!TempBefore.count(name)) left += " " + name;
    if (!left.empty()) Failure("the run left files in the temporary folder:%s", left.c_str());
    std::printf("PASS %s\n", ScriptPath.c_str());
    return 0;
}
