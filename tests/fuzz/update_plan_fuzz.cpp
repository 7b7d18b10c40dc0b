// libFuzzer target: the update plan grammar. The input is written as this run's "UPDATE.INI" and its
// "[UPDATE]" section read through the profile reader, as the updater reads it. The plan must stay within
// its lists and fields whatever the file holds, and a refusal comes with its one message.
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "platform/text_format.h"
#include "tests/fuzz/fuzz_scratch.h"
#include "update/update_plan.h"

#include <cstring>

namespace {

bool Terminated(const char* field, size_t capacity) {
    return memchr(field, 0, capacity) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResetScratchWorld();
    WriteScratchFile("UPDATE.INI", data, size);
    FormatText(Updater.UpdateIniPath, sizeof Updater.UpdateIniPath, "%c:\\UPDATE.INI", ScratchDrive);
    // The variant filter sees both a match and a miss across inputs.
    Updater.Install.InstMode = static_cast<DWORD>(size % 3);
    Updater.QuietMissingKeys = 1;

    int overwriteOnly = -1;
    int result = ReadUpdatePlan(&overwriteOnly);
    FuzzCheck(result == 0 || result == 1, "the plan reader gives a result other than 0 or 1");
    FuzzCheck(overwriteOnly == 0 || overwriteOnly == 1, "OverwriteOnly is neither 0 nor 1");
    FuzzCheck(result == 1 || Standin::BoxCount() == 1, "a refused plan shows no single message");
    FuzzCheck(Updater.UpdateCount >= 0 && Updater.UpdateCount <= UpdateListCapacity &&
                  Updater.CopyCount >= 0 && Updater.CopyCount <= UpdateListCapacity,
              "a plan list count is outside its capacity");
    for (int i = 0; i < Updater.UpdateCount; ++i) {
        const UpdateItem& item = Updater.UpdateItems[i];
        FuzzCheck(item.mode >= ModePlain && item.mode <= ModeExisting, "an update item has no known mode");
        FuzzCheck(Terminated(item.path, sizeof item.path), "an update item's path runs past its field");
        FuzzCheck(item.nameOffset >= 0 && static_cast<size_t>(item.nameOffset) <= strlen(item.path),
                  "an update item's name lies outside its path");
        FuzzCheck(item.pathCut == 0 || item.pathCut == 1, "an update item's cut mark is neither 0 nor 1");
    }
    for (int i = 0; i < Updater.CopyCount; ++i)
        FuzzCheck(Terminated(Updater.CopyItems[i].path, sizeof Updater.CopyItems[i].path),
                  "a copy item's path runs past its field");
    return 0;
}
