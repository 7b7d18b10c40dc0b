// The resources of the built update.exe, read back from the program file: the two wizard templates field
// by field as the wizard expects them, the manifest, and nothing else; and a program without an archive
// ends at once with status 0.
#include "platform/win32.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>

namespace {
struct Control {
    int id;
    WORD classAtom; // 0x80 button, 0x81 edit, 0x82 static
    const wchar_t* text;
    DWORD style;
    short x, y, cx, cy;
};

const DWORD Frame = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT;
const DWORD Push = WS_CHILD | WS_VISIBLE | WS_TABSTOP;

const Control Controls100[] = {
    {1, 0x80, L"次へ", Push | BS_DEFPUSHBUTTON, 143, 72, 44, 14},
    {2, 0x80, L"中止", Push | BS_PUSHBUTTON, 196, 72, 44, 14},
    {4, 0x80, L"戻る", Push | BS_PUSHBUTTON, 99, 72, 44, 14},
    {1001, 0x82, L"Info", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 16, 16, 214, 26},
};
const Control Controls101[] = {
    {1, 0x80, L"次へ", Push | BS_DEFPUSHBUTTON, 258, 202, 44, 14},
    {2, 0x80, L"中止", Push | BS_PUSHBUTTON, 311, 202, 44, 14},
    {4, 0x80, L"戻る", Push | BS_PUSHBUTTON, 214, 202, 44, 14},
    {1001, 0x82, L"Info", WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT, 16, 9, 331, 65},
    {1000, 0x81, L"", WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE, 6, 81, 351, 92},
    {1002, 0x80, L"同意する", WS_CHILD | WS_VISIBLE | BS_RADIOBUTTON, 10, 177, 225, 10},
    {1003, 0x80, L"同意しない", WS_CHILD | WS_VISIBLE | BS_RADIOBUTTON, 10, 189, 225, 10},
};

std::string ProgramPath() {
    std::string path = "Z:" UPDATE_EXE_PATH;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// Reader over a template: WORD-sized fields, strings and ordinals, DWORD alignment between controls.
struct Reader {
    const BYTE* at;
    WORD Word() {
        WORD v;
        memcpy(&v, at, 2);
        at += 2;
        return v;
    }
    DWORD Dword() {
        DWORD v;
        memcpy(&v, at, 4);
        at += 4;
        return v;
    }
    std::wstring String() {
        std::wstring s;
        for (WORD c; (c = Word()) != 0;)
            s += wchar_t(c);
        return s;
    }
    void Align(const BYTE* base) {
        while ((at - base) % 4)
            ++at;
    }
};

void CheckTemplate(HMODULE module, int templateId, short cx, short cy, const Control* controls, int count) {
    CAPTURE(templateId);
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(templateId),
                                  MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    REQUIRE(found);
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    Reader r = {base};
    CHECK(r.Word() == 1);      // dlgVer
    CHECK(r.Word() == 0xFFFF); // extended template
    CHECK(r.Dword() == 0);     // help id
    CHECK(r.Dword() == 0);     // extended style
    CHECK(r.Dword() == Frame);
    CHECK(r.Word() == count);
    CHECK(short(r.Word()) == 0);
    CHECK(short(r.Word()) == 0);
    CHECK(short(r.Word()) == cx);
    CHECK(short(r.Word()) == cy);
    CHECK(r.Word() == 0); // no menu
    CHECK(r.Word() == 0); // default dialog class
    CHECK(r.String() == L"UPDATE");
    CHECK(r.Word() == 10); // points
    CHECK(r.Word() == 0);  // weight
    CHECK(r.at[0] == 0);   // italic
    CHECK(r.at[1] == 0);   // character set
    r.at += 2;
    CHECK(r.String() == L"ＭＳ Ｐゴシック");
    for (int i = 0; i < count; ++i) {
        const Control& c = controls[i];
        CAPTURE(c.id);
        r.Align(base);
        CHECK(r.Dword() == 0); // help id
        CHECK(r.Dword() == 0); // extended style
        CHECK(r.Dword() == c.style);
        CHECK(short(r.Word()) == c.x);
        CHECK(short(r.Word()) == c.y);
        CHECK(short(r.Word()) == c.cx);
        CHECK(short(r.Word()) == c.cy);
        CHECK(r.Dword() == DWORD(c.id));
        CHECK(r.Word() == 0xFFFF);
        CHECK(r.Word() == c.classAtom);
        CHECK(r.String() == c.text);
        CHECK(r.Word() == 0); // no creation data
    }
}

BOOL CALLBACK CountType(HMODULE, LPSTR type, LONG_PTR data) {
    std::string* types = reinterpret_cast<std::string*>(data);
    if (IS_INTRESOURCE(type))
        *types += "#" + std::to_string(reinterpret_cast<uintptr_t>(type)) + " ";
    else
        *types += std::string(type) + " ";
    return TRUE;
}
} // namespace

TEST_CASE("update.exe carries the templates, the manifest and nothing else") {
    HMODULE module = LoadLibraryExA(ProgramPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    REQUIRE(module);
    CheckTemplate(module, 100, 247, 93, Controls100, 4);
    CheckTemplate(module, 101, 364, 222, Controls101, 7);

    HRSRC manifest = FindResourceExA(module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1),
                                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    REQUIRE(manifest);
    std::string text(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                     SizeofResource(module, manifest));
    CHECK(text.find("name=\"TARVIC.Updater.UPDATE\"") != std::string::npos);
    CHECK(text.find("version=\"1.0.0.0\"") != std::string::npos);
    CHECK(text.find("processorArchitecture=\"X86\"") != std::string::npos);
    CHECK(text.find("level=\"requireAdministrator\"") != std::string::npos);
    CHECK(text.find("uiAccess=\"false\"") != std::string::npos);
    CHECK(text.find("Common-Controls") == std::string::npos);

    std::string types;
    EnumResourceTypesA(module, CountType, reinterpret_cast<LONG_PTR>(&types));
    bool hasArchive = FindResourceExA(module, "UPDATE", MAKEINTRESOURCEA(102),
                                      MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)) != nullptr;
    CHECK(types == (hasArchive ? "#5 #24 UPDATE " : "#5 #24 "));
    FreeLibrary(module);

    if (!hasArchive) {
        // Without an archive the program ends at once, with status 0.
        STARTUPINFOA startup;
        memset(&startup, 0, sizeof startup);
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process;
        std::string command = "\"" + ProgramPath() + "\"";
        REQUIRE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
        CHECK(WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0);
        DWORD status = 99;
        GetExitCodeProcess(process.hProcess, &status);
        CHECK(status == 0);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}
