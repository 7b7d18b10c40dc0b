// updpack build: a finished updater from a folder. The folder is collected and checked as the updater
// will read it, the stub is read and checked, and every problem is reported before anything is written;
// then the folder is packed in memory as updpack create packs it, put into the stub as its "UPDATE"
// resource, and the program written beside its final path and renamed into place.
#include "tools/updpack/updpack.h"

#include "tools/pe/pe_resources.h"

#include <cstdio>
#include <cstdlib>

const char* const InstalledStubName = "update-stub.exe";

namespace {
// A 32-bit process maps its program below 2 GiB; the archive must leave room for the stub around it.
const uint64_t ProgramImageLimit = uint64_t(1) << 31;
const uint64_t StubSizeLimit = uint64_t(64) << 20;

int IsHostFile(const std::string& path) {
    return HostFileIdentity(path.c_str()).known && !IsHostFolder(path.c_str());
}

// The stub's bytes, checked by a trial embedding of an empty archive; null after a message.
unsigned char* ReadStub(const char* stubPath, uint32_t* size) {
    std::string path;
    if (stubPath) {
        path = stubPath;
    } else {
        for (const std::string& candidate : StubCandidates()) {
            if (IsHostFile(candidate)) {
                path = candidate;
                break;
            }
        }
        if (path.empty()) {
            std::string places;
            for (const std::string& candidate : StubCandidates())
                places += "\n  " + candidate;
            Report("no updater stub found (give one with --stub STUB.exe); looked for:%s", places.c_str());
            return nullptr;
        }
    }
    unsigned char* stub = ReadHostFile(path.c_str(), path.c_str(), StubSizeLimit, FollowLinks, size, nullptr);
    if (!stub) return nullptr;
    std::vector<unsigned char> trial;
    if (!EmbedArchive(stub, *size, path.c_str(), std::vector<unsigned char>(), trial)) {
        free(stub);
        return nullptr;
    }
    return stub;
}
} // namespace

std::vector<std::string> StubCandidates() {
    std::vector<std::string> candidates;
    std::string programFolder = HostProgramFolder();
    if (!programFolder.empty()) candidates.push_back(HostJoin(programFolder, InstalledStubName));
#ifdef UPDPACK_BUILD_TREE_STUB
    candidates.push_back(UPDPACK_BUILD_TREE_STUB);
#else
    // The Windows build makes the tool and the stub in the same folder.
    if (!programFolder.empty()) candidates.push_back(HostJoin(programFolder, "update.exe"));
#endif
    return candidates;
}

int BuildUpdater(const char* outputPath, const char* folder, const char* stubPath, int force,
                 const PatchChoice& choice) {
    std::vector<PackedFile> files;
    // Every check runs, so that one run names every problem.
    int collected = CollectFolder(folder, outputPath, files);
    int checked = collected ? CheckUpdateFolder(folder, files) : 0;
    if (choice.baseFolder && !PatchesAvailable()) {
        Report(
            "this updpack makes no patches (--base): its build has no suffix sorter; use the Linux updpack");
        collected = 0;
    } else if (choice.baseFolder && !IsHostFolder(choice.baseFolder)) {
        Report("%s: not a folder (--base names the previous release)", choice.baseFolder);
        collected = 0;
    } else if (choice.baseFolder && collected && checked) {
        collected = FindPatchBases(folder, choice.baseFolder, files);
    }
    if (collected && !checked && force) {
        Report("warning: %s: written all the same (--force): the updater will stumble on what is named above",
               outputPath);
        checked = 1;
    }
    uint32_t stubSize = 0;
    unsigned char* stub = ReadStub(stubPath, &stubSize);
    if (!collected || !checked || !stub) {
        Report("%s: not written", outputPath);
        free(stub);
        return 0;
    }

    std::vector<unsigned char> archive, program;
    uint32_t stubResources = PeResourceSectionSize(stub, stubSize);
    ArchiveWriter writer;
    int built =
        BeginArchiveInMemory(writer, "the archive", ProgramImageLimit - stubSize - StubSizeLimit, &archive) &&
        PackFiles(writer, folder, files, choice) &&
        EmbedArchive(stub, stubSize, "the stub", archive, program);
    free(stub);
    HostOutput output;
    built = built && BeginHostOutput(output, outputPath);
    if (built &&
        !(WriteHostOutput(output, program.data(), program.size()) && FinishHostOutput(output, nullptr))) {
        AbandonHostOutput(output);
        built = 0;
    }
    if (!built) {
        Report("%s: not written", outputPath);
        return 0;
    }
    // The stub's resource section is rebuilt around the archive, so the program is the stub with its old
    // section exchanged for the new one (which may have less padding than the old had).
    printf("%s: %zu bytes: stub %u, archive %zu (%zu entries); the stub's resource section of %u bytes "
           "rebuilt with the archive as %llu\n",
           outputPath, program.size(), stubSize, archive.size(), writer.entries.size(), stubResources,
           static_cast<unsigned long long>(program.size() - (stubSize - stubResources)));
    return 1;
}
