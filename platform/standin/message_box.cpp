// The host layer's message box. On Linux nobody can answer a box: one reached in a host program (updpack)
// is a fault of that program, so its caption and text go to standard error, turned from the code page
// into UTF-8, and it answers IDCANCEL, the answer that stops whatever asked. Tests link the scripted
// recorder of tests/fakes instead, which defines this same function and so keeps this file out.
#include "platform/standin/host_boxes.h"
#include "platform/win32.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iconv.h>

// Writes text to standard error as UTF-8; bytes the code page cannot convert are written as they are.
static void WriteConverted(const char* text) {
    iconv_t converter = iconv_open("UTF-8", "CP932");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        fputs(text, stderr);
        return;
    }
    char* input = const_cast<char*>(text);
    size_t inputLeft = strlen(text);
    while (inputLeft > 0) {
        char out[256];
        char* output = out;
        size_t outputLeft = sizeof out;
        size_t status = iconv(converter, &input, &inputLeft, &output, &outputLeft);
        fwrite(out, 1, sizeof out - outputLeft, stderr);
        // E2BIG only means the piece is full; anything else stops at a byte that does not convert.
        if (status == static_cast<size_t>(-1) && errno != E2BIG) {
            fputc(*input, stderr);
            ++input;
            --inputLeft;
            iconv(converter, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(converter);
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
    int answer;
    if (Standin::HandOverMessageBox(text, caption, type, &answer)) return answer;
    fputs("error: message box: ", stderr);
    WriteConverted(caption ? caption : "");
    fputs(": ", stderr);
    WriteConverted(text ? text : "");
    fputc('\n', stderr);
    fflush(stderr);
    return IDCANCEL;
}
