// Names the updater takes for the same entry, found by sorting rather than by comparing every pair: the
// sort key agrees with the updater's compare on every pair, and a folder of 20,000 files goes through
// extract, the folder check of create, list and test (comparing every pair, that was 200 million compares).
#include "tests/updpack/updpack_test_support.h"
#include "tools/updpack/updpack.h"

#include "platform/win32.h"

#include <cstdio>
#include <sys/stat.h>

#include <doctest/doctest.h>

namespace {
// Units of code page 932 names in groups the updater's compare takes for one character; a name made of
// units from the same groups, one by one, is the same name to it.
const std::vector<std::vector<std::string>> UnitGroups = {
    {"a", "A"},
    {"z", "Z"},
    {"0"},
    {"."},
    {" "},
    {"\\"},
    {"\xB1"},                             // half-width katakana a, a single byte
    {"\x82\x60", "\x82\x81"},             // full-width A and a
    {"\x83\x9F", "\x83\xBF"},             // Greek alpha, upper and lower case
    {"\x84\x40", "\x84\x70"},             // Cyrillic a, upper and lower case
    {"\x87\x54", "\xFA\x4A"},             // roman numeral one, NEC and IBM rows
    {"\xEE\xEF", "\xFA\x40"},             // small roman numeral one, NEC-selected and IBM rows
    {"\x81\xCA", "\xEE\xF9", "\xFA\x54"}, // the not sign, held three times
    {"\x83\x41"},                         // katakana a: its trail byte is "A"
    {"\x83\x61"},                         // katakana di: its trail byte is "a"
    {"\x83\x5C"},                         // katakana so: its trail byte is the path separator
    {"\x85\x40"},                         // a code without a character
    {"\x81\x20"},                         // a lead byte before a byte no trail byte can be
};

struct RandomNames {
    uint32_t state = 2463534242u;
    uint32_t Next(uint32_t bound) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state % bound;
    }
    // A name as group indices; spelled with a random member of each group.
    std::vector<size_t> Groups() {
        std::vector<size_t> groups(1 + Next(5));
        for (size_t& group : groups)
            group = Next(static_cast<uint32_t>(UnitGroups.size()));
        return groups;
    }
    std::string Spell(const std::vector<size_t>& groups, int loneLead) {
        std::string name;
        for (size_t group : groups)
            name += UnitGroups[group][Next(static_cast<uint32_t>(UnitGroups[group].size()))];
        // A lead byte at the very end has no trail byte: it stands alone.
        if (loneLead) name += "\x83";
        return name;
    }
};
} // namespace

TEST_CASE("the sort key of a name is equal exactly where the updater's compare finds the names the same") {
    RandomNames random;
    int same = 0, different = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<size_t> groups = random.Groups();
        std::string a = random.Spell(groups, random.Next(8) == 0);
        // Half the time the same groups spelled again (mostly the same name), else another name altogether.
        std::string b = random.Next(2) ? random.Spell(groups, random.Next(8) == 0)
                                       : random.Spell(random.Groups(), random.Next(8) == 0);
        int compareSame = SameArchiveName(a.c_str(), b.c_str());
        INFO(PrintableName(a.c_str()) << " and " << PrintableName(b.c_str()));
        CHECK((ArchiveNameSortKey(a.c_str()) == ArchiveNameSortKey(b.c_str())) == compareSame);
        (compareSame ? same : different) += 1;
    }
    // Both outcomes were tried many times.
    CHECK(same > 5000);
    CHECK(different > 5000);
}

TEST_CASE("each name is matched to the first earlier name the updater takes for the same") {
    struct FirstCase {
        std::vector<const char*> names;
        std::vector<size_t> first;
    };
    const FirstCase cases[] = {
        {{}, {}},
        {{"only"}, {0}},
        {{"b", "A", "B", "a", "c"}, {0, 1, 0, 1, 4}},
        {{"Data.bin", "data.BIN", "DATA.BIN"}, {0, 0, 0}},
        {{"\x83\x41.txt", "\x83\x61.txt", "\x83\x41.TXT"}, {0, 1, 0}},
        {{"\x82\x81", "\x82\x60", "a", "A"}, {0, 0, 2, 2}},
        {{"\xFA\x4A", "x", "\x87\x54"}, {0, 1, 0}},
    };
    for (const FirstCase& c : cases) {
        std::vector<size_t> first;
        FirstOfSameNames(c.names, first);
        CHECK(first == c.first);
    }

    // A hostile directory of 20,000 spellings of one name: every one goes back to the first.
    std::vector<std::string> spellings;
    for (int i = 0; i < 20000; ++i)
        spellings.push_back(i % 2 ? "same.dat" : "SAME.dat");
    std::vector<const char*> names;
    for (const std::string& spelling : spellings)
        names.push_back(spelling.c_str());
    std::vector<size_t> first;
    FirstOfSameNames(names, first);
    CHECK(first == std::vector<size_t>(names.size(), 0));
}

TEST_CASE("a folder of 20,000 files goes through list, test, extract and create's folder check") {
    const int Count = 20000;
    ScratchFolder scratch(ScratchInMemory);
    std::vector<ImageEntry> entries;
    for (int i = 0; i < Count; ++i) {
        char name[32];
        snprintf(name, sizeof name, "file%05d.dat", i);
        entries.push_back(StoredEntry(name, Bytes(name, name + 9)));
    }
    // The updater finds the first of two names it takes for the same, however far apart.
    entries.push_back(StoredEntry("FILE00000.DAT", Bytes(1, 'x')));
    std::string archivePath = scratch / "large.kt2";
    WriteHostFile(archivePath, BuildImage(entries), UtcTime(2020, 1, 1, 0, 0, 0, 0));
    std::string output;

    REQUIRE(RunTool({"list", archivePath}, output) == 0);
    CHECK(output.find("20001 entries") != std::string::npos);
    REQUIRE(RunTool({"test", archivePath}, output) == 0);
    CHECK(output.find("20001 entries, all sound") != std::string::npos);
    std::string folder = scratch / "out";
    REQUIRE(RunTool({"extract", archivePath, folder}, output) == 0);
    CHECK(output.find("skipping entry 20000 \"FILE00000.DAT\": the updater only ever uses the first entry") !=
          std::string::npos);
    CHECK(output.find("20000 files written") != std::string::npos);
    std::vector<std::string> names = FolderNames(folder);
    REQUIRE(names.size() == static_cast<size_t>(Count));
    CHECK(names.front() == "file00000.dat");
    CHECK(names.back() == "file19999.dat");
    Bytes content;
    REQUIRE(ReadHostFile(folder + "/file12345.dat", content));
    CHECK(std::string(content.begin(), content.end()) == "file12345");

    // The extracted folder as create collects it: every file, then one name too many.
    std::vector<PackedFile> files;
    std::string text;
    CHECK(CaptureOutput(text, [&] { return CollectFolder(folder.c_str(), archivePath.c_str(), files); }) ==
          1);
    CHECK(files.size() == static_cast<size_t>(Count));
    WriteHostFile(folder + "/FILE19999.DAT", "again");
    CHECK(CaptureOutput(text, [&] { return CollectFolder(folder.c_str(), archivePath.c_str(), files); }) ==
          0);
    CHECK(text ==
          "updpack: \"FILE19999.DAT\" and \"file19999.dat\": the updater does not tell these names apart\n");
}
