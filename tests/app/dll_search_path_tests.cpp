// The start-up's DLL search restriction against the stand-in: the system folder alone where the system
// has SetDefaultDllDirectories, the current folder taken out of the search where it has not. Under Wine
// the restriction is shown on the built program with a planted DLL (dll-guard.sh).
#include "app/dll_search_path.h"
#include "tests/fakes/script.h"

#include <doctest/doctest.h>

#include <string>

TEST_CASE("RestrictDllSearchPath narrows the search to the system folder, or drops the current folder") {
    struct Case {
        bool defaultDirectoriesFound;
        int defaultCalls;
        DWORD defaultDirectories;
        int dllDirectoryCalls;
    };
    const Case cases[] = {
        {true, 1, LOAD_LIBRARY_SEARCH_SYSTEM32, 0},
        {false, 0, 0, 1},
    };
    for (const Case& c : cases) {
        CAPTURE(c.defaultDirectoriesFound);
        Standin::ResetAll();
        Standin::SetDefaultDllDirectoriesAvailable(c.defaultDirectoriesFound);
        CHECK(RestrictDllSearchPath() == 1);
        const Standin::DllSearchRecord& record = Standin::DllSearch();
        CHECK(record.defaultCalls == c.defaultCalls);
        CHECK(record.defaultDirectories == c.defaultDirectories);
        CHECK(record.dllDirectoryCalls == c.dllDirectoryCalls);
        if (c.dllDirectoryCalls) {
            // An empty folder, not a null one: null would put the current folder back.
            CHECK(record.dllDirectorySet);
            CHECK(std::string(record.dllDirectory).empty());
        }
    }
}
