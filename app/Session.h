// One run of the program: the rows, the temporary drive names, the start
// sequence and the single close path. The window program and the image tool
// both drive it; only the Shell differs.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apply/ChangeFailure.h"
#include "apply/RunPlan.h"
#include "apply/TemporaryDriveLetters.h"
#include "platform/Platform.h"
#include "scan/PartitionRows.h"
#include "scan/ScanDisks.h"

namespace quorvane {

// What the start sequence asks of the window (or of a program without one).
class Shell {
 public:
    virtual ~Shell() = default;
    // Shows the help box and returns once the user has dismissed it.
    virtual void ShowHelp(const std::string& helpText) = 0;
    // Posts WM_CLOSE to the main window; it is handled once the loop runs.
    virtual void RequestClose() = 0;
    virtual void ShowMainWindow() = 0;
    virtual void SelectRow(int row) = 0;
    // The wait cursor while disks are read and written.
    virtual void SetWaitCursor(bool wait) = 0;
};

// Process exit codes.
inline constexpr int ExitDone = 0;            // everything asked was done
inline constexpr int ExitNotApplied = 1;      // a change did not fully reach the disk
inline constexpr int ExitInvalidCommand = 2;  // the command line asked for nothing valid

class Session {
 public:
    Session(Platform& platform, Shell& shell) : platform_(platform), shell_(shell) {}

    PartitionRows& Rows() { return rows_; }
    const PartitionRows& Rows() const { return rows_; }
    const std::string& HelpText() const { return helpText_; }

    // From process start to the message loop: help switch, version test,
    // window shown only without parameters, scan, temporary letters, scan
    // again, row 0 selected, command line. `parameters` excludes the program.
    void Start(const std::vector<std::string>& parameters);

    // The "确定" button and the command line: applies every pending change
    // (under /N only plans them) and requests the close.
    void ApplyAndClose();
    // /U: restores an undo file and requests the close.
    void RestoreAndClose(const std::string& undoFile);

    // F5 in the window: the rows anew, as a fresh start would make them. The
    // temporary drive names are removed, both scans and the new temporary
    // names follow as at start, and row 0 is selected. Pending changes are
    // dropped; the window asks first.
    void Rescan();

    // The close handler of the main window: removes the temporary drive names
    // in the order of definition, the first time only.
    void OnClose();

    int ExitCode() const { return exitCode_; }
    const ChangeFailures& Failures() const { return failures_; }
    // What /U could not restore, one line each (code page 936).
    const std::vector<std::string>& RestoreProblems() const { return restoreProblems_; }
    // The undo file of the last run that wrote; empty when none did.
    const std::string& UndoFile() const { return undoFile_; }
    const TemporaryDriveNames& TemporaryNames() const { return temporaryNames_; }
    // What the scan the rows come from could not read.
    const ScanReport& LastScan() const { return lastScan_; }
    // An /F or /S ran on rows from a scan that could not read everything:
    // partitions with the ID may lie where it could not look.
    bool MatchesUnconfirmed() const { return matchesUnconfirmed_; }
    // What the run has to say that is not a failure, one line each (code
    // page 936): a label cut to its file system's limit. Programs without a
    // window print it on standard output; the window shows no box for it.
    const std::vector<std::string>& Information() const { return information_; }
    // The lines of Information() the window shows in an information box
    // (a partition hidden on removable media, where Windows shows it anyway).
    const std::vector<std::string>& Notices() const { return notices_; }
    // /N: what the command would do; nothing was written.
    const std::optional<RunPlan>& Plan() const { return plan_; }

 private:
    // The scan, the temporary drive letters and the second scan of the start.
    void ScanWithTemporaryLetters();

    Platform& platform_;
    Shell& shell_;
    PartitionRows rows_;
    std::string helpText_;
    TemporaryDriveNames temporaryNames_;
    ChangeFailures failures_;
    std::vector<std::string> restoreProblems_;
    std::string undoFile_;
    ScanReport lastScan_;
    bool matchesUnconfirmed_ = false;
    std::vector<std::string> information_;
    std::vector<std::string> notices_;
    std::optional<RunPlan> plan_;
    bool closed_ = false;
    int exitCode_ = ExitDone;
};

}  // namespace quorvane
