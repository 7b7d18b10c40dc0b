// Work on every core, taken in order: the runner's order, its messages, its stop and its bound on what runs
// ahead; archives and diff folders the same byte for byte whatever the number of workers; the progress
// line a terminal gets.
#include "tests/updpack/updpack_test_support.h"
#include "tools/packer/patch_encoder.h"
#include "tools/updpack/updpack.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include <doctest/doctest.h>

namespace {
const unsigned WorkerCounts[] = {1, 2, 3, 8};

// Sets UPDPACK_WORKERS for the routines called in this process and for the tool it runs; put back after.
struct ForcedWorkers {
    explicit ForcedWorkers(unsigned count) { setenv("UPDPACK_WORKERS", std::to_string(count).c_str(), 1); }
    ~ForcedWorkers() { unsetenv("UPDPACK_WORKERS"); }
};

// Uneven work: early items take longest, so that later ones finish first on another worker.
void Linger(size_t item, size_t count) {
    if (item % 3 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200 * (count - item)));
}

// Bytes that compress (words) or do not (noise), from a seed.
Bytes Content(size_t size, uint32_t seed, int noise) {
    Bytes bytes;
    static const char* const Words[] = {"texture ", "sound ", "model ", "level ", "script "};
    while (bytes.size() < size) {
        seed = seed * 1664525u + 1013904223u;
        if (noise) {
            bytes.push_back(static_cast<unsigned char>(seed >> 24));
            continue;
        }
        const char* word = Words[(seed >> 8) % 5];
        bytes.insert(bytes.end(), word, word + strlen(word));
        bytes.push_back(static_cast<unsigned char>(seed >> 16));
    }
    bytes.resize(size);
    return bytes;
}

// A release folder and an update folder of it: files of many sizes, the listed ones with their previous
// release in old (some patched, one whose patch saves too little, one data file).
struct Folders {
    ScratchFolder old, update;
    std::map<std::string, Bytes> files;    // by name (the archive's order): the update's files
    std::map<std::string, Bytes> previous; // the listed files' previous releases, data files left out
    Folders() {
        std::string listed;
        int keys = 0;
        for (int i = 0; i < 14; ++i) {
            std::string name = "file" + std::to_string(i) + (i % 4 == 3 ? ".bin" : ".dat");
            size_t size = i == 5 ? 0 : static_cast<size_t>(1000 + (i * 7919) % 30000) * (i == 9 ? 3 : 1);
            Bytes fresh = Content(size, static_cast<uint32_t>(i), i % 4 == 3);
            WriteHostFile(update / name, fresh, UtcTime(2021, 1, 1, 0, 0, i, 0));
            files[name] = fresh;
            if (i % 2 == 1 && i != 3) continue;
            Bytes before = fresh;
            for (size_t at = 17; at < before.size(); at += 997)
                before[at] ^= 0x21;
            if (i == 3) before = Content(size, 99, 1);
            WriteHostFile(old / name, before, UtcTime(2020, 1, 1, 0, 0, 0, 0));
            if (i != 6) previous[name] = before;
            char key[32];
            snprintf(key, sizeof key, "UpdateFile%02d=%s", keys++, i == 6 ? "d," : "");
            listed += key + name + "\r\n";
        }
        std::string profile = "[SETUP]\r\nCompanyName=Test\r\nGameTitle=Test\r\nGameClass=TestGame\r\n"
                              "GameDir=TestGame\r\n[UPDATE]\r\n" +
                              listed;
        files["UPDATE.INI"] = Bytes(profile.begin(), profile.end());
        WriteHostFile(update / "UPDATE.INI", files["UPDATE.INI"], UtcTime(2021, 2, 2, 0, 0, 0, 0));
    }
};

// What a build of the folder must make, worked out file by file with the encoders themselves: the image,
// and the lines that say what each file with a base became.
Bytes ExpectedImage(const Folders& f, int withBase, int keepWhole, std::string& lines) {
    std::vector<ImageEntry> entries;
    lines.clear();
    for (const auto& file : f.files) {
        const Bytes& content = file.second;
        ImageEntry whole = CompressedEntry(file.first, content);
        if (whole.storedSize >= content.size()) whole = StoredEntry(file.first, content);
        uint64_t time = 0;
        REQUIRE(FileTimeFromHost(HostLastWrite(f.update / file.first), &time));
        whole.fileTime = time;
        auto before = f.previous.find(file.first);
        if (!withBase || before == f.previous.end()) {
            entries.push_back(whole);
            continue;
        }
        Bytes patch;
        REQUIRE(EncodePatch(before->second.data(), before->second.size(), content.data(),
                            static_cast<uint32_t>(content.size()), patch));
        int taken = patch.size() * 100 <= uint64_t(whole.storedSize) * 90;
        lines += "\"" + file.first + "\": " +
                 (taken ? (keepWhole ? "patch and whole" : "patch") : "whole: the patch saves too little") +
                 ": patch " + std::to_string(patch.size()) + " bytes, whole " +
                 std::to_string(whole.storedSize) + " bytes\n";
        if (!taken || keepWhole) entries.push_back(whole);
        if (taken)
            entries.push_back({file.first, ArchiveEntryPatch, time, static_cast<uint32_t>(content.size()),
                               static_cast<uint32_t>(patch.size()), patch});
    }
    return BuildImage(entries);
}

// The folder packed in memory as build packs it, with what it printed.
Bytes Pack(const Folders& f, int withBase, int keepWhole, std::string& output) {
    std::vector<PackedFile> files;
    REQUIRE(CollectFolder(f.update.path.c_str(), "", files));
    std::string said; // the files left whole, and why: not what is tested here
    if (withBase)
        REQUIRE(CaptureOutput(
            said, [&] { return FindPatchBases(f.update.path.c_str(), f.old.path.c_str(), files); }));
    Bytes image;
    ArchiveWriter writer;
    REQUIRE(BeginArchiveInMemory(writer, "the archive", ArchiveImageLimit, &image));
    int packed = CaptureOutput(output, [&] {
        return PackFiles(writer, f.update.path.c_str(), files,
                         PatchChoice{withBase ? f.old.path.c_str() : nullptr, keepWhole});
    });
    CHECK(packed == 1);
    return image;
}
} // namespace

TEST_CASE("the workers: one a core, or as many as UPDPACK_WORKERS says") {
    unsigned cores = std::thread::hardware_concurrency();
    cores = cores ? cores : 1;
    struct Case {
        const char* value; // null: not set
        unsigned workers;  // 0: one a core
    };
    const Case cases[] = {{nullptr, 0}, {"", 0},  {"0", 0},   {"two", 0},   {"3x", 0},
                          {"-1", 0},    {"1", 1}, {"64", 64}, {"1000", 64}, {"99999999999999999999", 64}};
    for (const Case& c : cases) {
        CAPTURE(c.value ? c.value : "(not set)");
        if (c.value)
            setenv("UPDPACK_WORKERS", c.value, 1);
        else
            unsetenv("UPDPACK_WORKERS");
        CHECK(WorkerCount() == (c.workers ? c.workers : cores));
    }
    unsetenv("UPDPACK_WORKERS");
}

TEST_CASE("work is delivered once per item, in order, with its messages, whatever the workers") {
    const size_t ItemCounts[] = {0, 1, 2, 7, 60};
    for (unsigned workers : WorkerCounts) {
        for (size_t count : ItemCounts) {
            CAPTURE(workers);
            CAPTURE(count);
            std::vector<std::atomic<int>> worked(count);
            std::vector<uint64_t> sizes(count, 100);
            std::string expected, output;
            for (size_t i = 0; i < count; ++i) {
                expected += "updpack: item " + std::to_string(i) + "\n";
                // A message longer than a line of the terminal is held whole.
                if (i == 4) expected += "updpack: " + std::string(700, 'x') + "\n";
                expected += "delivered " + std::to_string(i) + "\n";
            }
            size_t next = 0;
            int result = CaptureOutput(output, [&] {
                return RunInOrder(
                    sizes, workers,
                    [&](size_t i) {
                        Linger(i, count);
                        ++worked[i];
                        Report("item %zu", i);
                        if (i == 4) Report("%s", std::string(700, 'x').c_str());
                        return static_cast<int>(i % 5);
                    },
                    [&](size_t i, int given, std::string& said) {
                        CHECK(i == next++);
                        CHECK(given == static_cast<int>(i % 5));
                        said += "delivered " + std::to_string(i) + "\n";
                        return 1;
                    });
            });
            CHECK(result == 1);
            CHECK(next == count);
            for (size_t i = 0; i < count; ++i)
                CHECK(worked[i] == 1);
            // Nothing but the messages: standard error is no terminal here, so no progress line.
            CHECK(output == expected);
        }
    }
}

TEST_CASE("a delivery that fails ends the run: nothing after it is delivered or printed") {
    for (unsigned workers : WorkerCounts) {
        for (size_t failing : {size_t(0), size_t(3), size_t(19)}) {
            CAPTURE(workers);
            CAPTURE(failing);
            const size_t count = 20;
            std::atomic<size_t> begun(0);
            // Each item too large to run ahead beyond one a worker.
            std::vector<uint64_t> sizes(count, uint64_t(1) << 30);
            size_t delivered = 0;
            std::string output;
            int result = CaptureOutput(output, [&] {
                return RunInOrder(
                    sizes, workers,
                    [&](size_t i) {
                        ++begun;
                        Linger(i, count);
                        Report("item %zu", i);
                        return 1;
                    },
                    [&](size_t i, int, std::string&) {
                        ++delivered;
                        return i != failing;
                    });
            });
            CHECK(result == 0);
            CHECK(delivered == failing + 1);
            CHECK(begun <= failing + workers);
            CHECK(output.find("updpack: item " + std::to_string(failing) + "\n") != std::string::npos);
            CHECK(output.find("updpack: item " + std::to_string(failing + 1) + "\n") == std::string::npos);
        }
    }
}

TEST_CASE(
    "workers run ahead of delivery by one item each, and further only while the waiting items are small") {
    struct Case {
        uint64_t size;
        int runsAhead; // small items: the workers go on well past one item each while the writer is slow
    };
    const Case cases[] = {
        {uint64_t(1) << 30, 0}, {uint64_t(20) << 20, 0}, {AheadBytesLimit, 0}, {0, 1}, {1000, 1}};
    for (unsigned workers : {2u, 3u}) {
        for (const Case& c : cases) {
            CAPTURE(workers);
            CAPTURE(c.size);
            const size_t count = 40;
            std::vector<uint64_t> sizes(count, c.size);
            std::atomic<size_t> delivered(0);
            std::mutex lock;
            size_t ahead = 0; // the most items begun and not yet delivered
            std::string output;
            CaptureOutput(output, [&] {
                return RunInOrder(
                    sizes, workers,
                    [&](size_t i) {
                        std::lock_guard<std::mutex> guard(lock);
                        size_t beyond = i + 1 - delivered;
                        ahead = beyond > ahead ? beyond : ahead;
                        return 1;
                    },
                    [&](size_t, int, std::string&) {
                        // A slow writer: the workers would run far ahead if nothing held them.
                        std::this_thread::sleep_for(std::chrono::milliseconds(2));
                        ++delivered;
                        return 1;
                    });
            });
            CHECK(delivered == count);
            // One item a worker, and the finished ones that wait: as many as the limit's bytes hold.
            if (c.size) CHECK(ahead <= workers + AheadBytesLimit / c.size);
            if (c.runsAhead) CHECK(ahead > workers + 2);
        }
    }
}

TEST_CASE("an archive is what its files make, byte for byte, and says so the same, with one worker or many") {
    Folders f;
    struct Build {
        int withBase, keepWhole;
    };
    for (Build b : {Build{0, 0}, Build{1, 0}, Build{1, 1}}) {
        CAPTURE(b.withBase);
        CAPTURE(b.keepWhole);
        std::string lines;
        Bytes expected = ExpectedImage(f, b.withBase, b.keepWhole, lines);
        if (b.withBase) {
            // Every kind of choice is made, so that the order of the lines is tested too.
            CHECK(lines.find("\"file0.dat\": patch") != std::string::npos);
            CHECK(lines.find("\"file3.bin\": whole: the patch saves too little") != std::string::npos);
        }
        for (unsigned workers : WorkerCounts) {
            CAPTURE(workers);
            ForcedWorkers forced(workers);
            CHECK(WorkerCount() == workers);
            std::string output;
            CHECK(Pack(f, b.withBase, b.keepWhole, output) == expected);
            CHECK(output == lines);
        }
    }
}

TEST_CASE("a file that fails stops the build at it, with its message alone, whatever the workers") {
    Folders f;
    std::vector<PackedFile> files;
    REQUIRE(CollectFolder(f.update.path.c_str(), "", files));
    std::string said;
    REQUIRE(CaptureOutput(said,
                          [&] { return FindPatchBases(f.update.path.c_str(), f.old.path.c_str(), files); }));
    // Two files gone after the listing: the build stops at the first, and never tells of the second.
    size_t gone = 0, later = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        gone = files[i].hostName == "file12.dat" ? i : gone;
        later = files[i].hostName == "file6.dat" ? i : later;
    }
    REQUIRE(gone > 0);
    REQUIRE(later > gone + 2);
    remove((f.update / "file12.dat").c_str());
    remove((f.update / "file6.dat").c_str());
    std::string first;
    for (unsigned workers : WorkerCounts) {
        CAPTURE(workers);
        ForcedWorkers forced(workers);
        Bytes image;
        ArchiveWriter writer;
        REQUIRE(BeginArchiveInMemory(writer, "the archive", ArchiveImageLimit, &image));
        std::string output;
        CHECK(CaptureOutput(output, [&] {
                  return PackFiles(writer, f.update.path.c_str(), files, PatchChoice{f.old.path.c_str(), 0});
              }) == 0);
        CAPTURE(output);
        CHECK(image.empty());
        CHECK(output.find("\"file12.dat\": cannot read") != std::string::npos);
        CHECK(output.find("file6.dat") == std::string::npos);
        if (first.empty()) first = output;
        CHECK(output == first);
    }
}

TEST_CASE("diff makes the same update folder with one worker and with many") {
    ScratchFolder old, fresh, setup;
    mkdir((old / "data").c_str(), 0755);
    mkdir((fresh / "data").c_str(), 0755);
    // Forty files of one size in both releases, of which a few differ (by one byte, at either end).
    for (int i = 0; i < 40; ++i) {
        std::string name = (i % 2 ? "data/" : "") + std::string("part") + std::to_string(i) + ".dat";
        Bytes bytes =
            Content(static_cast<size_t>(2000 + (i * 4001) % 300000), static_cast<uint32_t>(i), i % 3);
        WriteHostFile(old / name, bytes, UtcTime(2020, 1, 1, 0, 0, 0, 0));
        if (i % 7 == 2) bytes[i % 2 ? 0 : bytes.size() - 1] ^= 1;
        WriteHostFile(fresh / name, bytes, UtcTime(2021, 1, 1, 0, 0, 0, 0));
    }
    WriteHostFile(fresh / "added.dat", "added");
    WriteHostFile(setup / "setup.ini", "[SETUP]\r\nCompanyName=Test\r\nGameTitle=Test\r\n");
    std::string oneProfile, oneOutput;
    for (unsigned workers : WorkerCounts) {
        CAPTURE(workers);
        ForcedWorkers forced(workers);
        ScratchFolder out;
        std::string output;
        REQUIRE(RunTool({"diff", old.path, fresh.path, out / "update", "--setup", setup / "setup.ini"},
                        output) == 0);
        Bytes profile;
        REQUIRE(ReadHostFile(out / "update/UPDATE.INI", profile));
        std::string text(profile.begin(), profile.end());
        CAPTURE(text);
        CHECK(FolderNames(out / "update") ==
              std::vector<std::string>({"UPDATE.INI", "added.dat", "part16.dat", "part2.dat", "part23.dat",
                                        "part30.dat", "part37.dat", "part9.dat"}));
        if (oneProfile.empty()) {
            oneProfile = text;
            oneOutput = output;
        }
        CHECK(text == oneProfile);
        CHECK(output.substr(output.find(": 7 new or changed")) ==
              oneOutput.substr(oneOutput.find(": 7 new")));
    }
    CHECK(
        oneProfile.find("UpdateFile00=added.dat\r\nUpdateFile01=data\\part23.dat\r\n"
                        "UpdateFile02=data\\part37.dat\r\nUpdateFile03=data\\part9.dat\r\n"
                        "UpdateFile04=part16.dat\r\nUpdateFile05=part2.dat\r\nUpdateFile06=part30.dat\r\n") !=
        std::string::npos);
}

TEST_CASE("the progress line: files, bytes and the time left, in words") {
    struct Case {
        size_t filesDone, files;
        uint64_t bytesDone, bytes;
        double elapsed;
        const char* line;
    };
    const Case cases[] = {
        {0, 4, 0, 2000000, 3, "0/4 files, 0.0/2.0 MB, time left not yet known"},
        {1, 6, 200, 110000000, 3, "1/6 files, 0.0/110.0 MB, time left not yet known"},
        {2, 6, 1100000, 110000000, 3, "2/6 files, 1.1/110.0 MB, about 4 min 57 s left"},
        {1, 4, 500000, 2000000, 2, "1/4 files, 0.5/2.0 MB, about 6 s left"},
        {2, 4, 1000000, 2000000, 90, "2/4 files, 1.0/2.0 MB, about 1 min 30 s left"},
        {1, 4, 1000000, 4000000, 65.2, "1/4 files, 1.0/4.0 MB, about 3 min 16 s left"},
        {1, 9, 250000000, 1000000000, 3600, "1/9 files, 250.0/1000.0 MB, about 3 h 00 min left"},
        {4, 4, 2000000, 2000000, 12.4, "4/4 files, 2.0/2.0 MB, done in 12 s"},
        // Only empty files: the files tell.
        {1, 2, 0, 0, 5, "1/2 files, 0.0/0.0 MB, about 5 s left"},
        {0, 0, 0, 0, 1, "0/0 files, 0.0/0.0 MB, done in 1 s"},
    };
    for (const Case& c : cases) {
        char line[160];
        FormatProgress(line, sizeof line, c.filesDone, c.files, c.bytesDone, c.bytes, c.elapsed);
        CHECK(std::string(line) == c.line);
    }
    char shortLine[10];
    FormatProgress(shortLine, sizeof shortLine, 1, 4, 500000, 2000000, 2);
    CHECK(std::string(shortLine) == "1/4 files");
}

TEST_CASE("the progress line comes after the delay, at most every interval, over itself, and ends its line") {
    // Each step at a time (seconds from the start) and what the terminal received from it.
    enum Action { Show, Clear, End };
    struct Step {
        double at;
        Action action;
        size_t filesDone;
        uint64_t bytesDone;
        std::string written;
    };
    const std::string l1 = "1/3 files, 1.0/4.0 MB, about 6 s left",
                      l2 = "2/3 files, 2.0/4.0 MB, about 2 s left",
                      l3 = "2/3 files, 2.0/4.0 MB, about 3 s left",
                      l4 = "2/3 files, 3.0/4.0 MB, about 1 s left",
                      last = "3/3 files, 4.0/4.0 MB, done in 3 s";
    const double d = ProgressDelay, i = ProgressInterval;
    const Step steps[] = {
        {0.5, Show, 1, 100000, ""},
        {d - 0.01, Show, 1, 100000, ""},
        {d, Show, 1, 1000000, "\r" + l1},
        {d + i / 2, Show, 2, 2000000, ""},
        {d + i, Show, 2, 2000000, "\r" + l2},
        // Off the screen for a message, then back at the next interval.
        {d + i, Clear, 2, 2000000, "\r" + std::string(l2.size(), ' ') + "\r"},
        {d + 2 * i, Show, 2, 2000000, "\r" + l3},
        {d + 3 * i, Show, 2, 3000000, "\r" + l4},
        // The last counts, drawn at the end whatever the interval; the shorter line covers the longer one.
        {d + 3 * i + 0.05, End, 3, 4000000, "\r" + last + "   \r" + last + "\n"},
    };
    FILE* terminal = tmpfile();
    REQUIRE(terminal != nullptr);
    ProgressMeter meter;
    BeginProgress(meter, terminal, 3, 4000000, 100);
    long at = 0;
    for (const Step& step : steps) {
        CAPTURE(step.at);
        if (step.action == Show) ShowProgress(meter, step.filesDone, step.bytesDone, 100 + step.at);
        if (step.action == Clear) ClearProgress(meter);
        if (step.action == End) {
            ShowProgress(meter, step.filesDone, step.bytesDone, 100 + step.at);
            EndProgress(meter, 100 + step.at);
        }
        long end = ftell(terminal);
        std::string written(static_cast<size_t>(end - at), '\0');
        fseek(terminal, at, SEEK_SET);
        if (!written.empty()) REQUIRE(fread(&written[0], 1, written.size(), terminal) == written.size());
        fseek(terminal, end, SEEK_SET);
        at = end;
        CHECK(written == step.written);
    }
    fclose(terminal);

    // A run over within the delay, and a run with no terminal, print nothing at all.
    for (FILE* out : {tmpfile(), static_cast<FILE*>(nullptr)}) {
        BeginProgress(meter, out, 3, 4000000, 0);
        ShowProgress(meter, 1, 1000000, ProgressDelay / 2);
        ClearProgress(meter);
        ShowProgress(meter, 3, 4000000, out ? ProgressDelay * 0.9 : ProgressDelay * 10);
        EndProgress(meter, out ? ProgressDelay * 0.95 : ProgressDelay * 20);
        if (out) {
            CHECK(ftell(out) == 0);
            fclose(out);
        }
    }
}
