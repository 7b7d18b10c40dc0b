// The progress line of a long run on a terminal: files and bytes done of all, and the time left as the
// bytes done so far foretell it, drawn over itself with a carriage return. A run that ends within
// ProgressDelay shows nothing, so short runs print what they always printed; a run that is not on a
// terminal (a pipeline, a log) never gets the line.
#include "tools/updpack/updpack.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {
const double MegaByte = 1e6;
// Below this share of the work done, the time left would be a wild guess (a small first file of a large
// folder foretells hours).
const double EstimateShare = 0.01;

// "about 1 min 05 s left" and the like; the estimate is rough, so it is said as rough.
void FormatTimeLeft(char* text, size_t capacity, double seconds) {
    unsigned long whole = static_cast<unsigned long>(seconds + 0.5);
    if (whole < 60)
        snprintf(text, capacity, "about %lu s left", whole);
    else if (whole < 3600)
        snprintf(text, capacity, "about %lu min %02lu s left", whole / 60, whole % 60);
    else
        snprintf(text, capacity, "about %lu h %02lu min left", whole / 3600, whole / 60 % 60);
}

void Draw(ProgressMeter& meter, const char* line) {
    size_t length = strlen(line);
    // Spaces over what is left of a longer line before.
    int pad = meter.shownLength > length ? static_cast<int>(meter.shownLength - length) : 0;
    fprintf(meter.out, "\r%s%*s", line, pad, "");
    if (pad) fprintf(meter.out, "\r%s", line);
    fflush(meter.out);
    meter.shownLength = length;
}

void DrawCounts(ProgressMeter& meter, double now) {
    char line[160];
    FormatProgress(line, sizeof line, meter.filesDone, meter.files, meter.bytesDone, meter.bytes,
                   now - meter.start);
    Draw(meter, line);
    meter.drawnAt = now;
    meter.drawn = 1;
}
} // namespace

double ProgressClock() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void FormatProgress(char* text, size_t capacity, size_t filesDone, size_t files, uint64_t bytesDone,
                    uint64_t bytes, double elapsed) {
    char left[48];
    // Bytes tell the work better than files do, unless there are none.
    double share = bytes   ? static_cast<double>(bytesDone) / static_cast<double>(bytes)
                   : files ? static_cast<double>(filesDone) / static_cast<double>(files)
                           : 1;
    if (share >= 1)
        snprintf(left, sizeof left, "done in %.0f s", elapsed);
    else if (share < EstimateShare || elapsed <= 0)
        snprintf(left, sizeof left, "time left not yet known");
    else
        FormatTimeLeft(left, sizeof left, elapsed * (1 - share) / share);
    snprintf(text, capacity, "%zu/%zu files, %.1f/%.1f MB, %s", filesDone, files, bytesDone / MegaByte,
             bytes / MegaByte, left);
}

void BeginProgress(ProgressMeter& meter, FILE* out, size_t files, uint64_t bytes, double now) {
    meter.out = out;
    meter.start = now;
    meter.drawnAt = now;
    meter.drawn = 0;
    meter.files = files;
    meter.bytes = bytes;
    meter.filesDone = 0;
    meter.bytesDone = 0;
    meter.shownLength = 0;
}

void ShowProgress(ProgressMeter& meter, size_t filesDone, uint64_t bytesDone, double now) {
    meter.filesDone = filesDone;
    meter.bytesDone = bytesDone;
    if (!meter.out || now - meter.start < ProgressDelay) return;
    if (meter.drawn && now - meter.drawnAt < ProgressInterval) return;
    DrawCounts(meter, now);
}

void ClearProgress(ProgressMeter& meter) {
    if (!meter.out || !meter.shownLength) return;
    fprintf(meter.out, "\r%*s\r", static_cast<int>(meter.shownLength), "");
    fflush(meter.out);
    meter.shownLength = 0;
}

void EndProgress(ProgressMeter& meter, double now) {
    if (!meter.out || !meter.drawn) return;
    DrawCounts(meter, now);
    fputc('\n', meter.out);
    fflush(meter.out);
    meter.shownLength = 0;
}
