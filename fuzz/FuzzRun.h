// Runs one decoded case through the whole program (start sequence, the
// command line or edits in the window, apply pass, close path) on in-memory
// images and lists every broken promise, judged by the checker's own
// knowledge (fuzz/Oracle.h), never by the program's.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/Session.h"
#include "fuzz/FuzzCase.h"
#include "platform/image/MemoryImage.h"

namespace quorvane::fuzz {

// A Shell without a window. `onRowsShown` runs where the start sequence
// selects the first row: after both scans, before the command line.
class QuietShell : public Shell {
 public:
    void ShowHelp(const std::string&) override {}
    void RequestClose() override { ++closeRequests; }
    void ShowMainWindow() override { windowShown = true; }
    void SelectRow(int) override {
        if (onRowsShown) onRowsShown();
    }
    void SetWaitCursor(bool) override {}
    int closeRequests = 0;
    bool windowShown = false;
    std::function<void()> onRowsShown;
};

SharedMemoryImage MaterializeImage(const FuzzImage& image);

struct FuzzOutcome {
    std::vector<std::string> violations;
    int rows = 0;
    int requested = 0;  // changes of an ID or a label that the command asked for
    int landed = 0;     // of them, those that reached the disk
    int exitCode = 0;
    int restoredDisks = 0;  // by /U with the run's undo file afterwards
};

FuzzOutcome RunFuzzCase(const FuzzCase& fuzzCase);

}  // namespace quorvane::fuzz
