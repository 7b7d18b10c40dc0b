// Stand-in message boxes: every box is recorded for tests to read, and answered by a test's handler,
// a queue of answers, or OK.
#include "tests/fakes/script.h"
#include "platform/standin/standin_state.h"
#include "tests/fakes/fakes_state.h"

#include <cstring>

namespace {
enum { RecordCapacity = 256, AnswerCapacity = 64 };
Standin::RecordedBox records[RecordCapacity];
int recordCount = 0;
int answers[AnswerCapacity];
int answerHead = 0, answerTail = 0;
Standin::BoxHandler handler = nullptr;
void* handlerData = nullptr;
Standin::RecordedBox overflow;
} // namespace

namespace Standin {

void ResetBoxes() {
    recordCount = 0;
    answerHead = answerTail = 0;
    handler = nullptr;
    handlerData = nullptr;
}

void ResetAll() {
    ResetFileSystem();
    ResetBoxes();
    ResetRegistry();
    ResetWindows();
    ResetShell();
    ResetDllSearch();
    ResetFreeSpace();
    ResetFaults();
}

int BoxCount() {
    return recordCount;
}

const RecordedBox& Box(int index) {
    if (index < 0 || index >= recordCount || index >= RecordCapacity) {
        memset(&overflow, 0, sizeof overflow);
        return overflow;
    }
    return records[index];
}

void QueueBoxAnswer(int answer) {
    if (answerTail < AnswerCapacity) answers[answerTail++] = answer;
}

void SetBoxHandler(BoxHandler newHandler, void* data) {
    handler = newHandler;
    handlerData = data;
}

} // namespace Standin

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    Standin::RecordedBox box;
    memset(&box, 0, sizeof box);
    box.owner = owner;
    Standin::CopyHostText(box.text, sizeof box.text, text ? text : "");
    Standin::CopyHostText(box.caption, sizeof box.caption, caption ? caption : "");
    box.type = type;
    int index = recordCount;
    if (handler) {
        box.answer = handler(box, index, handlerData);
    } else if (answerHead < answerTail) {
        box.answer = answers[answerHead++];
    } else {
        box.answer = IDOK;
    }
    if (recordCount < RecordCapacity) records[recordCount] = box;
    ++recordCount;
    return box.answer;
}
