// What updpack plan found, item by item, and its two forms of output: text for people and one JSON
// document for pipelines (written by hand, strings escaped by JsonString).
#pragma once

#include "tools/updpack/updpack.h"

#include <cstdint>
#include <string>
#include <vector>

struct PlanItem {
    std::string key, value; // the "[UPDATE]" key and its value as written
    std::string list;       // "update" or "copy"
    std::string mode;       // plain, newer, data, existing; for a copy: file, folder
    std::string path;       // the item's path
    std::string target;     // the host file or folder it concerns
    std::string verdict;    // a word for pipelines
    std::string text;       // the same for people
    std::string createsFolder;
    std::vector<std::string> messages; // the updater's boxes, in order
    std::vector<std::string> discFolders;
    int disk;
    uint64_t bytes; // what the item writes: prepared beside the installed file, or copied from a disc
};

struct Plan {
    std::string stage; // where the updater stops before any item, or empty
    std::vector<std::string> stageMessages;
    int overwriteOnly;
    int32_t required;   // RequiredDiskSpace as the updater converts it
    int spaceChecked;   // 1 when the updater queries the drive before the run
    uint64_t freeBytes; // what that query reported
    std::string spaceMessage;
    std::vector<PlanItem> items;
    std::string outcome; // completes, stops, nothing-to-update, waits-for-disc, short-of-space
    uint64_t preparedBytes;
};

void PrintPlanJson(const Plan& plan, const char* archivePath, const char* gameDir,
                   const PlanOptions& options);
void PrintPlanText(const Plan& plan, const char* archivePath, const char* gameDir,
                   const PlanOptions& options);
