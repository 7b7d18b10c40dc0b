// Damaged and hostile archives: list, test and extract refuse them with a message naming the damage (and
// the entry, where one is to blame), never crash and never read outside the image (the native build runs
// under AddressSanitizer), and extract never writes outside its folder.
#include "tests/updpack/updpack_test_support.h"
#include "tools/updpack/updpack.h"

#include <cstring>
#include <functional>

#include <doctest/doctest.h>

namespace {
Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes RepeatedText() {
    std::string text;
    for (int i = 0; i < 50; ++i)
        text += "GameTitle=Sample " + std::to_string(i % 5) + "\r\n";
    return Text(text);
}

// A small sound archive: a compressed entry, a stored one and a compressed one, in that order.
std::vector<ImageEntry> SoundEntries() {
    return {CompressedEntry("UPDATE.INI", RepeatedText()), StoredEntry("game.exe", Text("MZ stand-in")),
            CompressedEntry("data.bin", RepeatedText())};
}

struct Damage {
    const char* what;
    std::function<Bytes()> image;
    int listStatus, testStatus, extractStatus;
    const char* message; // in the output of every command that fails
};

const Damage damages[] = {
    {"an image shorter than its header", [] { return Bytes(10, 0); }, 1, 1, 1,
     "shorter than its 16-byte header"},
    {"a header without the mark",
     [] {
         Bytes image = BuildImage(SoundEntries());
         image[0] = 'X';
         return image;
     },
     1, 1, 1, "no \"KT2\" mark"},
    {"a directory offset past the end",
     [] {
         Bytes image = BuildImage(SoundEntries());
         PutU32(image, 8, static_cast<uint32_t>(image.size() + 1));
         return image;
     },
     1, 1, 1, "its directory lies outside the image"},
    {"a directory offset inside the header",
     [] {
         Bytes image = BuildImage(SoundEntries());
         PutU32(image, 8, 4);
         return image;
     },
     1, 1, 1, "its directory lies outside the image"},
    {"an absurd entry count",
     [] {
         Bytes image = BuildImage(SoundEntries());
         PutU32(image, 12, 0xFFFFFFFFu);
         return image;
     },
     1, 1, 1, "its entry count does not fit"},
    {"one entry more than the directory holds",
     [] {
         Bytes image = BuildImage(SoundEntries());
         PutU32(image, 12, 4);
         return image;
     },
     1, 1, 1, "its directory is damaged"},
    {"a truncated directory",
     [] {
         Bytes image = BuildImage(SoundEntries());
         image.resize(image.size() - 3);
         return image;
     },
     1, 1, 1, "its directory is damaged"},
    {"a garbage directory",
     [] {
         Bytes image = BuildImage(SoundEntries());
         for (size_t i = GetU32(image, 8); i < image.size(); ++i)
             image[i] = static_cast<unsigned char>(0xA5 ^ i);
         return image;
     },
     1, 1, 1, "its directory is damaged"},
    {"a plain directory of the wrong length",
     [] {
         Bytes image = BuildImage({});
         PutU32(image, 4, 0);
         PutU32(image, 12, 1);
         return image;
     },
     1, 1, 1, "its entry count does not fit"},
    {"a name without its end",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         entries[1].name = std::string(ArchiveNameCapacity, 'N');
         return BuildImage(entries);
     },
     1, 1, 1, "not a sound archive"},
    {"a compressed entry's stream running past the data area",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         entries[2].storedSize = 0xFFFFFF00u; // the data stay; only the record lies
         return BuildImage(entries);
     },
     1, 1, 1, "entry \"data.bin\": its 4294967040 bytes at offset"},
    {"a stored entry's size running past the data area",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         entries[1].size = 100000;
         return BuildImage(entries);
     },
     1, 1, 1, "entry \"game.exe\": its 100000 bytes at offset"},
    {"a stored size that wraps the offsets of the entries after it",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         entries[1].storedSize = 0xFFFFFFF0u;
         return BuildImage(entries);
     },
     1, 1, 1, "entry \"data.bin\""},
    {"a compressed entry claiming one byte more",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         entries[0].size += 1;
         return BuildImage(entries);
     },
     0, 1, 1, "entry \"UPDATE.INI\": its stream is damaged (it does not decode to exactly 1001 bytes)"},
    {"a compressed entry claiming more than its stream can hold",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         entries[0].size = 0xFFFFFFFFu;
         return BuildImage(entries);
     },
     0, 1, 1, "entry \"UPDATE.INI\": "},
    {"a garbage stream",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         for (size_t i = 0; i < entries[2].stored.size(); ++i)
             entries[2].stored[i] = static_cast<unsigned char>(i * 37);
         return BuildImage(entries);
     },
     0, 1, 1, "entry \"data.bin\": its stream is damaged"},
    {"a stream that ends before its stored size",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         entries[0].stored.push_back(0);
         entries[0].storedSize += 1;
         return BuildImage(entries);
     },
     0, 1, 0, "entry \"UPDATE.INI\": its stream ends after"},
    {"a stored entry whose stored size differs from its size",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         entries[1].storedSize -= 1;
         return BuildImage(entries);
     },
     0, 1, 0, "entry \"game.exe\": stored as is, but its stored size 10 differs from its size 11"},
    {"a name that climbs out of the folder",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         entries[1].name = "../escaped.txt";
         return BuildImage(entries);
     },
     0, 0, 1, "entry \"../escaped.txt\": the name is not a bare file name"},
    {"a name that is only dots",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         entries[1].name = "..";
         return BuildImage(entries);
     },
     0, 0, 1, "entry \"..\": the name is not a bare file name"},
    {"a name with a Windows path separator",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         entries[1].name = "sub\\file.txt";
         return BuildImage(entries);
     },
     0, 0, 1, "the name is not a bare file name"},
    {"a name cut inside a double-byte character",
     [] {
         std::vector<ImageEntry> entries = SoundEntries();
         entries[1].name = "bad\x83";
         return BuildImage(entries);
     },
     0, 0, 1, "entry \"bad\\x83\": the name is not valid code page 932"},
};
} // namespace

TEST_CASE("damaged archives are refused by list, test and extract without harm") {
    for (const Damage& damage : damages) {
        INFO(std::string(damage.what));
        ScratchFolder scratch;
        std::string archivePath = scratch / "damaged.kt2";
        Bytes image = damage.image();
        WriteHostFile(archivePath, image, UtcTime(2020, 1, 1, 0, 0, 0, 0));
        std::string output;
        CHECK(RunTool({"list", archivePath}, output) == damage.listStatus);
        if (damage.listStatus) CHECK(output.find(damage.message) != std::string::npos);
        CHECK(RunTool({"test", archivePath}, output) == damage.testStatus);
        if (damage.testStatus) CHECK(output.find(damage.message) != std::string::npos);
        CHECK(RunTool({"extract", archivePath, scratch / "out/deeper"}, output) == damage.extractStatus);
        if (damage.extractStatus) CHECK(output.find(damage.message) != std::string::npos);
        // Nothing lands beside the extraction folder, whatever the names say.
        std::vector<std::string> beside = FolderNames(scratch.path);
        CHECK((beside == std::vector<std::string>{"damaged.kt2"} ||
               beside == std::vector<std::string>{"damaged.kt2", "out"}));
        if (HostFileExists(scratch / "out"))
            CHECK(FolderNames(scratch / "out") == std::vector<std::string>{"deeper"});
    }
}

TEST_CASE("the hand-built archive of the damage table is sound before it is damaged") {
    ScratchFolder scratch;
    std::string archivePath = scratch / "sound.kt2";
    WriteHostFile(archivePath, BuildImage(SoundEntries()), UtcTime(2020, 1, 1, 0, 0, 0, 0));
    std::string output;
    CHECK(RunTool({"test", archivePath}, output) == 0);
    REQUIRE(RunTool({"extract", archivePath, scratch / "out"}, output) == 0);
    Bytes content;
    REQUIRE(ReadHostFile(scratch / "out/UPDATE.INI", content));
    CHECK(content == RepeatedText());
}

TEST_CASE("extract writes only the first of entries the updater takes for one name") {
    ScratchFolder scratch;
    std::string archivePath = scratch / "twice.kt2";
    WriteHostFile(archivePath,
                  BuildImage({StoredEntry("Game.exe", Text("first")), StoredEntry("GAME.EXE", Text("second")),
                              StoredEntry("\x83\x41.dat", Text("katakana a")),
                              StoredEntry("\x83\x61.dat", Text("katakana di"))}),
                  UtcTime(2020, 1, 1, 0, 0, 0, 0));
    std::string output;
    REQUIRE(RunTool({"extract", archivePath, scratch / "out"}, output) == 0);
    CHECK(output.find(
              "skipping entry 1 \"GAME.EXE\": the updater only ever uses the first entry of that name") !=
          std::string::npos);
    CHECK(FolderNames(scratch / "out") == std::vector<std::string>{"Game.exe", u8"ア.dat", u8"ヂ.dat"});
    Bytes content;
    REQUIRE(ReadHostFile(scratch / "out/Game.exe", content));
    CHECK(content == Text("first"));
}

TEST_CASE("every truncation and many byte flips of an archive are handled without harm") {
    ScratchFolder scratch;
    std::string archivePath = scratch / "fuzzed.kt2";
    const Bytes sound = BuildImage(SoundEntries());
    std::string text;
    uint32_t state = 12345u;
    int refused = 0;
    for (size_t round = 0; round < sound.size() + 400; ++round) {
        Bytes image = sound;
        if (round < sound.size()) {
            image.resize(round); // every shorter length
        } else {
            for (int flips = 0; flips < 1 + static_cast<int>(round % 4); ++flips) {
                state = state * 1664525u + 1013904223u;
                image[(state >> 8) % image.size()] ^= static_cast<unsigned char>(1u << (state >> 29));
            }
        }
        WriteHostFile(archivePath, image, UtcTime(2020, 1, 1, 0, 0, 0, 0));
        int listed = CaptureOutput(text, [&] { return ListArchive(archivePath.c_str(), 0); });
        int tested = CaptureOutput(text, [&] { return TestArchive(archivePath.c_str(), 0); });
        // A sound test must mean every entry comes out; a failed one must have said why.
        if (!tested) CHECK(text.find("updpack: ") == 0);
        if (tested) CHECK(listed == 1);
        refused += !tested;
    }
    // Every truncation loses the directory's end.
    CHECK(refused >= static_cast<int>(sound.size()));
}
