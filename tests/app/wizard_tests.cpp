// The wizard's pages and step machine, and the pre-flight window checks, against the stand-in windows.
// RunUpdate is this file's own: it stands for the engine, records its calls and, where a case asks, sends
// the commands that nested message loops would deliver while the update runs.
#include "app/preflight_checks.h"
#include "app/wizard.h"
#include "report/wizard_pages.h"
#include "context/updater_context.h"
#include "tests/fakes/script.h"
#include "tests/fakes/window_script.h"
#include "app/update_pages.h"

#include <doctest/doctest.h>

#include <cstring>
#include <string>

namespace {
const int Template100[] = {IDOK, IDCANCEL, IDC_BACK, IDC_INFO};
const int Template101[] = {IDOK, IDCANCEL, IDC_BACK, IDC_INFO, IDC_AGREEMENT_TEXT, IDC_AGREE, IDC_DISAGREE};

int runCount = 0;
HWND runWindow = nullptr;
bool pokeWhileRunning = false;
int endedWhileRunning = -1;
INT_PTR cursorAnswerWhileRunning = -1;
int cursorWhileRunning = 0;

void Start() {
    Standin::ResetAll();
    ResetUpdaterContext();
    strcpy(Updater.Setup.GameTitle, "テスト");
    strcpy(Updater.Caption, "テスト アップデータ 1.0");
    runCount = 0;
    runWindow = nullptr;
    pokeWhileRunning = false;
    endedWhileRunning = -1;
    cursorAnswerWhileRunning = -1;
    cursorWhileRunning = 0;
}

HWND OpenDialog(bool agreement) {
    HWND dialog = agreement ? Standin::CreateFakeDialog(Template101, 7, WizardDialogProc)
                            : Standin::CreateFakeDialog(Template100, 4, WizardDialogProc);
    REQUIRE(dialog);
    CHECK(Standin::SendDialogMessage(dialog, WM_INITDIALOG, 0, 0) == FALSE);
    return dialog;
}

std::string Info(HWND dialog) {
    return Standin::ControlText(dialog, IDC_INFO);
}
} // namespace

void RunUpdate(HWND window) {
    ++runCount;
    runWindow = window;
    if (pokeWhileRunning) {
        int before = runCount;
        Standin::ClickButton(window, IDCANCEL);
        Standin::ClickButton(window, IDOK);
        Standin::ClickButton(window, IDC_BACK);
        endedWhileRunning = Standin::DialogEnded(window);
        CHECK(runCount == before);
        cursorAnswerWhileRunning = Standin::SendDialogMessage(window, WM_SETCURSOR, 0, 0);
        cursorWhileRunning = Standin::CurrentCursorId();
    }
    SetStatusText(window, "%s", "アップデートは完了しました");
    SetDlgItemTextA(window, IDOK, "完了");
    EnableControl(window, IDOK, 1);
    EnableControl(window, IDC_BACK, 1);
}

TEST_CASE("start page without agreement") {
    Start();
    HWND dialog = OpenDialog(false);
    CHECK(Updater.OwnerWindow == dialog);
    CHECK(Updater.WizardStep == 0);
    CHECK(std::string(Standin::WindowText(dialog)) == "テスト アップデータ 1.0");
    CHECK(Info(dialog) == "「テスト」のアップデートを開始します");
    CHECK(Standin::IsControlEnabled(dialog, IDOK) == 1);
    CHECK(Standin::IsControlEnabled(dialog, IDC_BACK) == 0);
    CHECK(Standin::IsControlEnabled(dialog, IDCANCEL) == 1);
}

TEST_CASE("start page with agreement: accept, refuse, accept") {
    Start();
    char text[] = "第1条 ...";
    char title[] = "100% の同意が必要です";
    Updater.AgreementTextData = text;
    Updater.AgreementTitleData = title;
    HWND dialog = OpenDialog(true);
    CHECK(Info(dialog) == "100% の同意が必要です");
    CHECK(std::string(Standin::ControlText(dialog, IDC_AGREEMENT_TEXT)) == "第1条 ...");
    CHECK(Standin::IsControlEnabled(dialog, IDOK) == 0);
    CHECK(Standin::ControlChecked(dialog, IDC_DISAGREE) == BST_CHECKED);
    CHECK(Standin::ControlChecked(dialog, IDC_AGREE) == BST_UNCHECKED);
    for (int id : {IDC_AGREEMENT_TEXT, IDC_AGREE, IDC_DISAGREE}) {
        CHECK(Standin::IsControlVisible(dialog, id) == 1);
        CHECK(Standin::IsControlEnabled(dialog, id) == 1);
    }
    Standin::ClickButton(dialog, IDC_AGREE);
    CHECK(Standin::IsControlEnabled(dialog, IDOK) == 1);
    CHECK(Standin::ControlChecked(dialog, IDC_AGREE) == BST_CHECKED);
    Standin::ClickButton(dialog, IDC_DISAGREE);
    CHECK(Standin::IsControlEnabled(dialog, IDOK) == 0);
    CHECK(Standin::ControlChecked(dialog, IDC_DISAGREE) == BST_CHECKED);
    Standin::ClickButton(dialog, IDC_AGREE);
    Standin::ClickButton(dialog, IDOK);
    CHECK(Info(dialog) == "アップデートを実行します");
    for (int id : {IDC_AGREEMENT_TEXT, IDC_AGREE, IDC_DISAGREE})
        CHECK(Standin::IsControlVisible(dialog, id) == 0);
}

TEST_CASE("without agreement the agreement controls of a template that has them are hidden") {
    Start();
    HWND dialog = OpenDialog(true);
    for (int id : {IDC_AGREEMENT_TEXT, IDC_AGREE, IDC_DISAGREE})
        CHECK(Standin::IsControlVisible(dialog, id) == 0);
    CHECK(Standin::IsControlEnabled(dialog, IDOK) == 1);
}

TEST_CASE("an agreement title longer than 1024 bytes is cut") {
    Start();
    static char title[3000];
    memset(title, 'T', sizeof title - 1);
    Updater.AgreementTitleData = title;
    HWND dialog = OpenDialog(false);
    CHECK(Info(dialog).size() == 1023);
}

TEST_CASE("step machine: confirm, run, back, run again, finish") {
    Start();
    HWND dialog = OpenDialog(false);
    Standin::ClickButton(dialog, IDOK);
    CHECK(Updater.WizardStep == 1);
    CHECK(Info(dialog) == "アップデートを実行します");
    CHECK(Standin::IsControlEnabled(dialog, IDC_BACK) == 0);
    CHECK(runCount == 0);

    Standin::ClickButton(dialog, IDOK);
    CHECK(runCount == 1);
    CHECK(runWindow == dialog);
    CHECK(Updater.WizardStep == 2);
    CHECK(Updater.WizardBusy == 0);

    Standin::ClickButton(dialog, IDC_BACK);
    CHECK(Updater.WizardStep == 1);
    CHECK(Info(dialog) == "アップデートを実行します");
    Standin::ClickButton(dialog, IDOK);
    CHECK(runCount == 2);

    CHECK(Standin::DialogEnded(dialog) == 0);
    Standin::ClickButton(dialog, IDOK);
    CHECK(Standin::DialogEnded(dialog) == 1);
    CHECK(Standin::DialogResult(dialog) == 0);
    CHECK(Updater.WizardStep == 3);
}

TEST_CASE("中止, Escape and the close box end the dialog with -1 from any page") {
    for (int page = 0; page < 3; ++page) {
        CAPTURE(page);
        Start();
        HWND dialog = OpenDialog(false);
        for (int i = 0; i < page; ++i)
            Standin::ClickButton(dialog, IDOK);
        Standin::ClickButton(dialog, IDCANCEL);
        CHECK(Standin::DialogEnded(dialog) == 1);
        CHECK(Standin::DialogResult(dialog) == -1);
    }
}

TEST_CASE("only button clicks count: other notification codes are ignored") {
    Start();
    HWND dialog = OpenDialog(false);
    Standin::SendDialogMessage(dialog, WM_COMMAND, (1u << 16) | IDCANCEL, 0);
    Standin::SendDialogMessage(dialog, WM_COMMAND, (0x300u << 16) | IDOK, 0);
    CHECK(Standin::DialogEnded(dialog) == 0);
    CHECK(Updater.WizardStep == 0);
}

TEST_CASE("while the update runs, 中止, 次へ and 戻る do nothing and the cursor waits") {
    Start();
    HWND dialog = OpenDialog(false);
    CHECK(Standin::SendDialogMessage(dialog, WM_SETCURSOR, 0, 0) == FALSE);
    Standin::ClickButton(dialog, IDOK);
    pokeWhileRunning = true;
    Standin::ClickButton(dialog, IDOK);
    CHECK(runCount == 1);
    CHECK(endedWhileRunning == 0);
    CHECK(cursorAnswerWhileRunning == TRUE);
    CHECK(cursorWhileRunning == 32514);
    CHECK(Updater.WizardStep == 2);
    int sets = Standin::SetCursorCount();
    CHECK(Standin::SendDialogMessage(dialog, WM_SETCURSOR, 0, 0) == FALSE);
    CHECK(Standin::SetCursorCount() == sets);
}

TEST_CASE("RunWizard: template by the agreement text, no owner, owner window forgotten afterwards") {
    Start();
    Standin::DefineDialogTemplate(IDD_UPDATE, Template100, 4);
    Standin::DefineDialogTemplate(IDD_UPDATE_AGREEMENT, Template101, 7);
    char title[] = "title only";
    Updater.AgreementTitleData = title;
    Standin::SetDialogScript([](HWND dialog, void*) { Standin::ClickButton(dialog, IDCANCEL); }, nullptr);
    CHECK(RunWizard(nullptr) == -1);
    CHECK(Standin::LastDialogTemplate() == IDD_UPDATE);
    CHECK(Standin::LastDialogOwner() == nullptr);
    CHECK(Standin::LastDialogParameter() == 0);
    CHECK(Updater.OwnerWindow == nullptr);

    char text[] = "";
    Updater.AgreementTextData = text;
    CHECK(RunWizard(nullptr) == -1);
    CHECK(Standin::LastDialogTemplate() == IDD_UPDATE_AGREEMENT);
}

TEST_CASE("single instance: a dialog or box with the same caption is brought forward") {
    Start();
    CHECK(BringOtherUpdaterForward() == 0);
    Standin::CreateTopLevelWindow("#32770", "別の アップデータ");
    Standin::CreateTopLevelWindow("GameClass", "テスト アップデータ 1.0");
    CHECK(BringOtherUpdaterForward() == 0);
    HWND other = Standin::CreateTopLevelWindow("#32770", "テスト アップデータ 1.0");
    CHECK(BringOtherUpdaterForward() == 1);
    CHECK(Standin::ForegroundWindow() == other);
    CHECK(Standin::LastShowCommand(other) == SW_SHOW);
    CHECK(Standin::BoxCount() == 0);
}

namespace {
struct GameScript {
    HWND closeOnBox; // destroyed when the box with this index is answered
    int closeAt;
    int answer;
};

int AnswerGameBox(const Standin::RecordedBox&, int index, void* data) {
    GameScript* script = static_cast<GameScript*>(data);
    if (index == script->closeAt) Standin::DestroyFakeWindow(script->closeOnBox);
    return script->answer;
}
} // namespace

TEST_CASE("running game: asked again while it runs, goes on once it is closed") {
    Start();
    strcpy(Updater.Setup.GameClass, "GameWnd");
    HWND game = Standin::CreateTopLevelWindow("GameWnd", "テスト");
    GameScript script = {game, 2, IDOK};
    Standin::SetBoxHandler(AnswerGameBox, &script);
    CHECK(WaitForGameClosed() == 1);
    REQUIRE(Standin::BoxCount() == 3);
    CHECK(std::string(Standin::Box(0).text) ==
          "「テスト」が実行中です。アップデートを続行する場合はゲームを終了してから [OK] "
          "を、アップデートを中止する場合は [キャンセル] を押して下さい");
    CHECK(std::string(Standin::Box(0).caption) == "テスト アップデータ 1.0");
    CHECK(Standin::Box(0).type == MB_OKCANCEL);
    CHECK(Standin::Box(0).owner == nullptr);
}

TEST_CASE("running game: cancel brings the game forward; the second title is searched after the first") {
    Start();
    strcpy(Updater.Setup.GameClass, "GameWnd");
    strcpy(Updater.GameTitleA, "テストA");
    HWND first = Standin::CreateTopLevelWindow("GameWnd", "テスト");
    HWND second = Standin::CreateTopLevelWindow("GameWnd", "テストA");
    GameScript script = {first, 0, IDOK};
    // First box: OK and the first window closes; second box (for "テストA"): cancel.
    Standin::SetBoxHandler(
        [](const Standin::RecordedBox& box, int index, void* data) {
            GameScript* s = static_cast<GameScript*>(data);
            if (index == 0) {
                Standin::DestroyFakeWindow(s->closeOnBox);
                return IDOK;
            }
            CHECK(std::string(box.text).find("「テストA」") == 0);
            return IDCANCEL;
        },
        &script);
    CHECK(WaitForGameClosed() == 0);
    CHECK(Standin::BoxCount() == 2);
    CHECK(Standin::ForegroundWindow() == second);
    CHECK(Standin::LastShowCommand(second) == SW_SHOW);
}

TEST_CASE("running game under another class or title does not count") {
    Start();
    strcpy(Updater.Setup.GameClass, "GameWnd");
    Standin::CreateTopLevelWindow("OtherWnd", "テスト");
    Standin::CreateTopLevelWindow("GameWnd", "テストA");
    CHECK(WaitForGameClosed() == 1);
    CHECK(Standin::BoxCount() == 0);
}
