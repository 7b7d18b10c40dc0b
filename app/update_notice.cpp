// The update notice: the one escape the notice text knows ("\n" becomes a carriage return, nothing else
// is touched) and its box.
#include "app/update_notice.h"

#include "context/updater_context.h"
#include "report/messages.h"
#include "platform/win32.h"

void ConvertUpdateNotice(const char* text, char* output, size_t capacity) {
    if (capacity == 0) return;
    size_t used = 0;
    const char* p = text;
    while (*p && used + 1 < capacity) {
        const char* next = CharNextA(p);
        if (next <= p) next = p + 1;
        if (next - p == 1 && p[0] == '\\' && p[1] == 'n') {
            output[used++] = '\r';
            p += 2;
            continue;
        }
        // A character is copied whole or not at all, so the output never ends inside one.
        size_t length = static_cast<size_t>(next - p);
        if (used + length + 1 > capacity) break;
        for (size_t i = 0; i < length; ++i)
            output[used++] = p[i];
        p = next;
    }
    output[used] = '\0';
}

void ShowUpdateNotice() {
    if (!Updater.UpdateMessage[0]) return;
    char notice[1024];
    ConvertUpdateNotice(Updater.UpdateMessage, notice, sizeof notice);
    ShowError(notice);
}
