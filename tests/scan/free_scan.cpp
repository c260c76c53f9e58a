// free_scan.cpp - an LD_PRELOAD library that searches every block the process frees for the
// secrets of a login. MORLAKEN_SCAN_MARKERS holds "name=text" pairs split by commas; each copy
// of a text found in a freed block (malloc_usable_size bytes) appends the line "name" to the
// file MORLAKEN_SCAN_REPORT, which starts with "scan" once the library is active; with
// MORLAKEN_SCAN_TRACE set, the call stack of each find follows. realloc is malloc, copy and
// free, so a moving realloc's old block is seen too. The variables and LD_PRELOAD leave the
// environment, so started programs are not scanned. Nothing here allocates.
#include <execinfo.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern "C" void __libc_free(void*);
extern "C" void* __libc_malloc(size_t);

namespace {

struct Marker {
    const char* line; // "name\n", what a find appends to the report in one write
    size_t lineLength;
    const char* text;
};

constexpr int kMaxMarkers = 8;
Marker gMarkers[kMaxMarkers];
int gMarkerCount = 0;
int gReport = -1;
bool gTrace = false;
__attribute__((tls_model("initial-exec"))) thread_local bool tInside = false;

__attribute__((constructor)) void startScan() {
    char* markers = std::getenv("MORLAKEN_SCAN_MARKERS");
    const char* report = std::getenv("MORLAKEN_SCAN_REPORT");
    if (!markers || !report) return;
    // Split in place: each "name=text" becomes "name\n" and "text".
    char* rest = nullptr;
    for (char* pair = strtok_r(markers, ",", &rest); pair && gMarkerCount < kMaxMarkers;
         pair = strtok_r(nullptr, ",", &rest))
        if (char* eq = std::strchr(pair, '='); eq && eq > pair && eq[1]) {
            *eq = '\n';
            gMarkers[gMarkerCount++] = {pair, static_cast<size_t>(eq - pair + 1), eq + 1};
        }
    gTrace = std::getenv("MORLAKEN_SCAN_TRACE") != nullptr;
    gReport = open(report, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (gReport >= 0 && write(gReport, "scan\n", 5) != 5) gReport = -1;
    // The strings stay where they are; only the pointers leave the environment.
    unsetenv("LD_PRELOAD");
    unsetenv("MORLAKEN_SCAN_MARKERS");
    unsetenv("MORLAKEN_SCAN_REPORT");
    unsetenv("MORLAKEN_SCAN_TRACE");
}

void scan(void* block) {
    if (gReport < 0 || tInside) return;
    tInside = true;
    const char *bytes = static_cast<const char*>(block), *end = bytes + malloc_usable_size(block);
    for (int m = 0; m < gMarkerCount; ++m) {
        const Marker& marker = gMarkers[m];
        const size_t length = std::strlen(marker.text);
        // One write per find: the threads of the process append at once.
        for (const char* at = bytes; const void* found = memmem(at, end - at, marker.text, length);
             at = static_cast<const char*>(found) + length) {
            if (write(gReport, marker.line, marker.lineLength) < 0) break;
            if (gTrace) {
                void* frames[32];
                backtrace_symbols_fd(frames, backtrace(frames, 32), gReport);
            }
        }
    }
    tInside = false;
}

} // namespace

extern "C" void free(void* block) {
    if (block) scan(block);
    __libc_free(block);
}

extern "C" void* realloc(void* block, size_t size) {
    void* moved = size ? __libc_malloc(size) : nullptr;
    if (block && (moved || !size)) { // a failed realloc keeps the old block
        const size_t old = malloc_usable_size(block);
        if (moved) std::memcpy(moved, block, old < size ? old : size);
        free(block);
    }
    return moved;
}
