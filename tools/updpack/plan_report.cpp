// The two forms of updpack plan's findings. Owns nothing; prints to stdout.
#include "tools/updpack/plan_report.h"

#include <cstdio>

namespace {

std::string JsonStrings(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (size_t i = 0; i < texts.size(); ++i)
        out += (i ? ", " : "") + JsonString(texts[i]);
    return out + "]";
}

std::string OrNull(const std::string& text) {
    return text.empty() ? "null" : JsonString(text);
}

} // namespace

void PrintPlanJson(const Plan& plan, const char* archivePath, const char* gameDir,
                   const PlanOptions& options) {
    printf("{\n  \"updater\": %s,\n  \"game\": %s,\n  \"data\": %s,\n  \"variant\": %u,\n  \"add\": %u,\n",
           JsonString(archivePath).c_str(), JsonString(gameDir).c_str(),
           options.dataDir ? JsonString(options.dataDir).c_str() : "null", options.variant, options.add);
    printf("  \"discs\": %s,\n", JsonStrings(options.discDirs).c_str());
    printf("  \"outcome\": %s,\n  \"stoppedAt\": %s,\n  \"messages\": %s,\n",
           JsonString(plan.outcome).c_str(), OrNull(plan.stage).c_str(),
           JsonStrings(plan.stageMessages).c_str());
    printf("  \"overwriteOnly\": %s,\n", plan.overwriteOnly ? "true" : "false");
    printf("  \"freeSpace\": {\"required\": %u, \"checked\": %s, \"free\": %llu, \"enough\": %s, "
           "\"message\": %s, \"written\": %llu},\n",
           static_cast<uint32_t>(plan.required), plan.spaceChecked ? "true" : "false",
           static_cast<unsigned long long>(plan.freeBytes), plan.spaceMessage.empty() ? "true" : "false",
           OrNull(plan.spaceMessage).c_str(), static_cast<unsigned long long>(plan.preparedBytes));
    printf("  \"items\": [");
    for (size_t i = 0; i < plan.items.size(); ++i) {
        const PlanItem& item = plan.items[i];
        printf(
            "%s\n    {\"key\": %s, \"list\": %s, \"value\": %s, \"mode\": %s, \"path\": %s, \"disk\": %d,\n"
            "     \"target\": %s, \"verdict\": %s, \"text\": %s,\n"
            "     \"createsFolder\": %s, \"discFolders\": %s, \"messages\": %s, \"bytes\": %llu}",
            i ? "," : "", JsonString(item.key).c_str(), JsonString(item.list).c_str(),
            JsonString(item.value).c_str(), OrNull(item.mode).c_str(), OrNull(item.path).c_str(), item.disk,
            OrNull(item.target).c_str(), JsonString(item.verdict).c_str(), JsonString(item.text).c_str(),
            OrNull(item.createsFolder).c_str(), JsonStrings(item.discFolders).c_str(),
            JsonStrings(item.messages).c_str(), static_cast<unsigned long long>(item.bytes));
    }
    printf("%s]\n}\n", plan.items.empty() ? "" : "\n  ");
}

void PrintPlanText(const Plan& plan, const char* archivePath, const char* gameDir,
                   const PlanOptions& options) {
    printf("plan of %s for %s (installation variant %u)\n", archivePath, gameDir, options.variant);
    if (!plan.stage.empty() && plan.items.empty()) {
        printf("the updater stops at %s", plan.stage.c_str());
        if (plan.stageMessages.empty()) printf(" without a message");
        for (const std::string& message : plan.stageMessages)
            printf(" with \"%s\"", message.c_str());
        printf("; nothing changes\n");
        return;
    }
    if (!plan.spaceMessage.empty())
        printf("free space: short: the updater shows \"%s\" and changes nothing until space is freed\n",
               plan.spaceMessage.c_str());
    for (const PlanItem& item : plan.items) {
        printf("%s  %s\n", item.key.c_str(), item.value.c_str());
        if (!item.createsFolder.empty()) printf("    creates the folder %s\n", item.createsFolder.c_str());
        printf("    %s\n", item.text.c_str());
        if (!item.target.empty()) printf("    %s\n", item.target.c_str());
        if (item.discFolders.size() > 1) {
            printf("    the check file is in:");
            for (const std::string& folder : item.discFolders)
                printf(" %s", folder.c_str());
            printf(" (the first is used)\n");
        }
    }
    if (plan.outcome == "nothing-to-update")
        printf("every entry is left out: the updater shows \"%s\" and changes nothing\n",
               plan.stageMessages[0].c_str());
    if (plan.required == 0)
        printf("free space: no RequiredDiskSpace, no check before the run");
    else
        printf("free space: RequiredDiskSpace %u bytes, checked against %llu free",
               static_cast<uint32_t>(plan.required), static_cast<unsigned long long>(plan.freeBytes));
    printf("; the run writes %llu bytes (files prepared beside the installed ones, and disc copies)\n",
           static_cast<unsigned long long>(plan.preparedBytes));
    printf("outcome: %s\n", plan.outcome.c_str());
}
