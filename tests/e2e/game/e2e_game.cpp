// e2e_game CLASS TITLE: the stand-in for the running game in the end-to-end scenarios. Registers the window
// class CLASS and shows one top-level window titled TITLE (both in code page 932) until it is closed;
// WM_CLOSE from the test driver ends it with status 0.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

static LRESULT CALLBACK GameWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: e2e_game CLASS TITLE\n");
        return 2;
    }
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = GameWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = argv[1];
    if (!RegisterClassA(&windowClass)) return 3;
    HWND window = CreateWindowA(argv[1], argv[2], WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 320, 200, nullptr,
                                nullptr, instance, nullptr);
    if (!window) return 4;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
