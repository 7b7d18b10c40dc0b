// The update run: the free-space check and its page (exact bytes, buttons, cursor untouched, nothing read
// or written), a fresh check on the next run, the busy page while boxes are open, the missing-entries and
// nothing-to-update endings, and the completion page.
#include "update_scene.h"

#include "report/wizard_pages.h"
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "tests/fakes/window_script.h"
#include "app/update_pages.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>

namespace {

const uint64_t EntryTime = FileTimeOf(2010, 6, 1);

void ExpectCompletionPage(const Scene& scene) {
    CHECK_FALSE(Standin::DialogEnded(scene.dialog));
    CHECK(std::string(Standin::ControlText(scene.dialog, IDC_INFO)) == "アップデートは完了しました");
    CHECK(std::string(Standin::ControlText(scene.dialog, IDOK)) == "完了");
    CHECK(Standin::IsControlEnabled(scene.dialog, IDOK));
    CHECK_FALSE(Standin::IsControlEnabled(scene.dialog, IDC_BACK));
    CHECK_FALSE(Standin::IsControlEnabled(scene.dialog, IDCANCEL));
    CHECK(Standin::FocusWindow() == GetDlgItem(scene.dialog, IDOK));
    CHECK(Standin::CurrentCursorId() == 32512);
}

void ExpectShortPage(const Scene& scene, const char* expectedText) {
    CHECK_FALSE(Standin::DialogEnded(scene.dialog));
    CHECK(std::string(Standin::ControlText(scene.dialog, IDC_INFO)) == expectedText);
    CHECK(Standin::IsControlEnabled(scene.dialog, IDC_BACK));
    CHECK_FALSE(Standin::IsControlEnabled(scene.dialog, IDOK));
    CHECK(Standin::IsControlEnabled(scene.dialog, IDCANCEL));
    CHECK(Standin::SetCursorCount() == 0);
    CHECK(Standin::BoxCount() == 0);
}

// The wizard's confirmation page, as it stands when "次へ" calls RunUpdate.
void ConfirmationPage(const Scene& scene) {
    SetDlgItemTextA(scene.dialog, IDC_INFO, "");
    EnableWindow(GetDlgItem(scene.dialog, IDC_BACK), FALSE);
    EnableWindow(GetDlgItem(scene.dialog, IDOK), TRUE);
    EnableWindow(GetDlgItem(scene.dialog, IDCANCEL), TRUE);
}

struct PageSeen {
    HWND dialog;
    std::string text;
    int back, next, cancel, cursor;
};

int RecordPage(const Standin::RecordedBox&, int, void* data) {
    PageSeen* seen = static_cast<PageSeen*>(data);
    seen->text = Standin::ControlText(seen->dialog, IDC_INFO);
    seen->back = Standin::IsControlEnabled(seen->dialog, IDC_BACK);
    seen->next = Standin::IsControlEnabled(seen->dialog, IDOK);
    seen->cancel = Standin::IsControlEnabled(seen->dialog, IDCANCEL);
    seen->cursor = Standin::CurrentCursorId();
    return IDOK;
}

} // namespace

TEST_CASE("short of space: the page names the drive and the shortfall, and nothing else happens") {
    Scene scene;
    scene.UseArchive({{"a.dat", "A", EntryTime}});
    Standin::SetFreeSpace('C', 400);
    scene.WriteUpdateIni({"RequiredDiskSpace=1000", "UpdateFile00=a.dat"});
    Updater.UpdateCount = 7; // a plan read would reset this
    ConfirmationPage(scene);

    RunUpdate(scene.dialog);

    ExpectShortPage(scene, "ディスク容量が足りません。\rC: ドライブに 600 バイトの空き容量が必要です");
    const char* text = Standin::ControlText(scene.dialog, IDC_INFO);
    // One carriage return, no line feed, the two-character drive.
    CHECK(strchr(text, '\r') != nullptr);
    CHECK(strchr(text, '\n') == nullptr);
    CHECK(Updater.UpdateCount == 7);
    CHECK_FALSE(HostExists(scene.Host("c/Game/a.dat")));

    SUBCASE("after \"戻る\", space freed and \"次へ\" again, the update runs") {
        ConfirmationPage(scene);
        Standin::SetFreeSpace('C', 1000); // exactly enough
        RunUpdate(scene.dialog);
        ExpectCompletionPage(scene);
        CHECK(ReadHostFile(scene.Host("c/Game/a.dat")) == "A");
    }
    SUBCASE("a second run without freed space shows the page again") {
        ConfirmationPage(scene);
        Standin::SetFreeSpace('C', 999);
        RunUpdate(scene.dialog);
        ExpectShortPage(scene, "ディスク容量が足りません。\rC: ドライブに 1 バイトの空き容量が必要です");
    }
}

TEST_CASE("the requirement is read as unsigned 32 bits and compared with the low word of free space") {
    struct Row {
        const char* line;
        uint64_t freeBytes;
        const char* shortText; // null: enough
    } rows[] = {
        {"RequiredDiskSpace=1000", 1000, nullptr},
        {"RequiredDiskSpace=1000", 999,
         "ディスク容量が足りません。\rC: ドライブに 1 バイトの空き容量が必要です"},
        {"RequiredDiskSpace=-1", 4294967294ull,
         "ディスク容量が足りません。\rC: ドライブに 1 バイトの空き容量が必要です"},
        {"RequiredDiskSpace=-1", 4294967295ull, nullptr},
        {"RequiredDiskSpace=-1", 1ull << 32, nullptr}, // 4 GiB or more is always enough
        {"RequiredDiskSpace=99999999999", 2147483646,
         "ディスク容量が足りません。\rC: ドライブに 1 バイトの空き容量が必要です"}, // clamped to 2147483647
        {"RequiredDiskSpace=-1294967296", 0,
         "ディスク容量が足りません。\rC: ドライブに -1294967296 バイトの空き容量が必要です"},
        {"RequiredDiskSpace=0", 0, nullptr},
        {"RequiredDiskSpace=", 0, nullptr},
        {"RequiredDiskSpace=abc", 0, nullptr},
        {"Unrelated=5", 0, nullptr},
    };
    for (const auto& row : rows) {
        CAPTURE(row.line);
        CAPTURE(row.freeBytes);
        Scene scene;
        Standin::SetFreeSpace('C', row.freeBytes);
        // Every entry filtered away: a run that passes the check ends on the completion page at once.
        scene.WriteUpdateIni({row.line, "UpdateFile00=2,a.dat"});
        RunUpdate(scene.dialog);
        if (row.shortText) {
            ExpectShortPage(scene, row.shortText);
        } else {
            ExpectCompletionPage(scene);
        }
    }
}

TEST_CASE("a drive whose free space cannot be queried does not hold the update up") {
    Scene scene;
    strcpy(Updater.Install.InstPath, "Q:\\Game"); // no such drive
    scene.WriteUpdateIni({"RequiredDiskSpace=1000", "UpdateFile00=2,a.dat"});
    RunUpdate(scene.dialog);
    ExpectCompletionPage(scene);
}

TEST_CASE("no first key of either list: the box, then the dialog ends with -1 from the busy page") {
    Scene scene;
    scene.WriteUpdateIni({"UpdateFile01=a.dat"});
    PageSeen seen = {scene.dialog, "", -1, -1, -1, -1};
    Standin::SetBoxHandler(RecordPage, &seen);
    ConfirmationPage(scene);
    RunUpdate(scene.dialog);
    REQUIRE(Standin::BoxCount() == 1);
    CHECK(std::string(Standin::Box(0).text) == "No 'UpdateFileXX' and 'CopyFileXX'");
    CHECK(Standin::Box(0).owner == scene.dialog);
    CHECK(std::string(Standin::Box(0).caption) == "テスト アップデート");
    CHECK(Standin::DialogEnded(scene.dialog));
    CHECK(Standin::DialogResult(scene.dialog) == -1);
    // While the box was open the wizard showed the busy page.
    CHECK(seen.text == "アップデートを実行しています");
    CHECK(seen.back == 0);
    CHECK(seen.next == 0);
    CHECK(seen.cancel == 0);
    CHECK(seen.cursor == 32514);
}

TEST_CASE("nothing to update: the box, then the completion page, nothing written or copied") {
    Scene scene;
    scene.UseArchive({{"a.dat", "A", EntryTime}});
    scene.MapDrive('E', "disc1", DRIVE_CDROM);
    Updater.Install.InstMode = 1;
    scene.WriteUpdateIni({"UpdateFile00=2,a.dat", "CopyFile00=3,1:movie"});
    ConfirmationPage(scene);
    RunUpdate(scene.dialog);
    REQUIRE(Standin::BoxCount() == 1);
    const Standin::RecordedBox& box = Standin::Box(0);
    CHECK(std::string(box.text) == "アップデートする必要のあるファイルはありません");
    CHECK(box.owner == scene.dialog);
    CHECK(std::string(box.caption) == "テスト アップデート");
    CHECK(box.type == (MB_OK | MB_ICONERROR));
    ExpectCompletionPage(scene);
    CHECK_FALSE(HostExists(scene.Host("c/Game/a.dat")));
}

TEST_CASE("a completed run: archive files, then copies, then the completion page") {
    Scene scene;
    scene.UseArchive({{"a.dat", "A", EntryTime}});
    scene.MapDrive('E', "disc1", DRIVE_CDROM);
    WriteHostFile(scene.Host("disc1/DISK1.CHK"), "");
    WriteHostFile(scene.Host("disc1/b.dat"), "B");
    strcpy(Updater.Setup.DiskCheckFile[1], "DISK1.CHK");
    scene.WriteUpdateIni({"CopyFile00=1:b.dat", "UpdateFile00=a.dat"});
    ConfirmationPage(scene);
    RunUpdate(scene.dialog);
    ExpectCompletionPage(scene);
    CHECK(Standin::BoxCount() == 0);
    CHECK(ReadHostFile(scene.Host("c/Game/a.dat")) == "A");
    CHECK(ReadHostFile(scene.Host("c/Game/b.dat")) == "B");
}
