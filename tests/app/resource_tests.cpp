// The resources of the built update.exe as Windows loads them: the two wizard templates field by field as
// the wizard expects them, the manifest, and nothing else; and a program without an archive ends at once
// with status 0. resource_file_tests.cpp reads the same out of the shipped file natively.
#include "platform/win32.h"
#include "tests/app/update_resource_checks.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>

namespace {
std::string ProgramPath() {
    std::string path = "Z:" UPDATE_EXE_PATH;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

void CheckTemplate(HMODULE module, int templateId) {
    CAPTURE(templateId);
    HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(templateId),
                                  MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    REQUIRE(found);
    CheckWizardTemplate(templateId,
                        static_cast<const unsigned char*>(LockResource(LoadResource(module, found))),
                        SizeofResource(module, found));
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
    CheckTemplate(module, 100);
    CheckTemplate(module, 101);

    HRSRC manifest = FindResourceExA(module, MAKEINTRESOURCEA(24), MAKEINTRESOURCEA(1),
                                     MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    REQUIRE(manifest);
    CheckManifest(static_cast<const char*>(LockResource(LoadResource(module, manifest))),
                  SizeofResource(module, manifest));

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
