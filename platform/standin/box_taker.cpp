// Where the host layer's message boxes go: to standard error, counted, unless a program that runs the
// updater's logic to learn what it would show (updpack plan) takes them. Kept apart from MessageBoxA so
// that tests, which link their own scripted MessageBoxA, can link this too.
#include "platform/standin/host_boxes.h"

namespace {
Standin::MessageBoxTaker boxTaker = nullptr;
void* boxTakerData = nullptr;
int boxesOnStandardError = 0;
} // namespace

namespace Standin {

void TakeMessageBoxes(MessageBoxTaker taker, void* data) {
    boxTaker = taker;
    boxTakerData = data;
}

int MessageBoxesOnStandardError() {
    return boxesOnStandardError;
}

int HandOverMessageBox(const char* text, const char* caption, UINT type, int* answer) {
    if (!boxTaker) {
        ++boxesOnStandardError;
        return 0;
    }
    *answer = boxTaker(text, caption, type, boxTakerData);
    return 1;
}

} // namespace Standin
