#include "app/Session.h"

#include "app/CommandLine.h"
#include "app/HelpText.h"
#include "apply/ApplyPendingChanges.h"
#include "scan/ScanDisks.h"
#include "apply/UndoRestore.h"

namespace quorvane {

namespace {

class WaitCursor {
 public:
    explicit WaitCursor(Shell& shell) : shell_(shell) { shell_.SetWaitCursor(true); }
    ~WaitCursor() { shell_.SetWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

 private:
    Shell& shell_;
};

}  // namespace

void Session::Start(const std::vector<std::string>& parameters) {
    helpText_ = BuildHelpText();
    if (IsHelpSwitch(parameters)) {
        shell_.ShowHelp(helpText_);
        shell_.RequestClose();
    }
    if (IsWindows9x(platform_.Version())) shell_.RequestClose();
    if (parameters.empty()) shell_.ShowMainWindow();
    ScanWithTemporaryLetters();
    shell_.SelectRow(0);

    CommandOutcome outcome = ProcessCommandLine(parameters, rows_);
    if (outcome.verdict == CommandVerdict::WindowMode) return;
    information_ = std::move(outcome.information);
    failures_ = std::move(outcome.refusals);
    if (!failures_.empty()) exitCode_ = ExitNotApplied;
    if (outcome.verdict == CommandVerdict::Invalid) exitCode_ = ExitInvalidCommand;
    if (outcome.dryRun) plan_.emplace();
    if (!outcome.restoreFile.empty())
        RestoreAndClose(outcome.restoreFile);
    else if (outcome.runApplyPass)
        ApplyAndClose();
    else
        shell_.RequestClose();
    // Partitions on a disk that could not be read were not looked at.
    matchesUnconfirmed_ = outcome.changesEveryMatch && !lastScan_.Complete();
    if (matchesUnconfirmed_) exitCode_ = ExitNotApplied;
}

void Session::ScanWithTemporaryLetters() {
    WaitCursor wait(shell_);
    TableCache tables;  // the second scan reads no table sector again
    ScanDisks(platform_, rows_, &tables);
    temporaryNames_ = AssignTemporaryDriveLetters(platform_, rows_);
    lastScan_ = ScanDisks(platform_, rows_, &tables);
}

void Session::Rescan() {
    if (closed_) return;
    {
        WaitCursor wait(shell_);
        // The names of this run go first, so the scan finds the letters
        // Windows itself gives and hands out the free ones anew.
        RemoveTemporaryDriveLetters(platform_, temporaryNames_);
    }
    ScanWithTemporaryLetters();
    shell_.SelectRow(0);
}

void Session::ApplyAndClose() {
    {
        WaitCursor wait(shell_);
        ApplyOutcome outcome = ApplyPendingChanges(platform_, rows_, plan_ ? &*plan_ : nullptr);
        failures_.insert(failures_.end(), outcome.failures.begin(), outcome.failures.end());
        information_.insert(information_.end(), outcome.information.begin(), outcome.information.end());
        notices_.insert(notices_.end(), outcome.information.begin(), outcome.information.end());
        if (outcome.undoFile) undoFile_ = *outcome.undoFile;
    }
    if (!failures_.empty()) exitCode_ = ExitNotApplied;
    shell_.RequestClose();
}

void Session::RestoreAndClose(const std::string& undoFile) {
    {
        WaitCursor wait(shell_);
        RestoreOutcome outcome = RestoreUndoFile(platform_, undoFile, lastScan_.drives, rows_, plan_ ? &*plan_ : nullptr);
        restoreProblems_ = std::move(outcome.problems);
        if (outcome.undoFile) undoFile_ = *outcome.undoFile;
    }
    if (!restoreProblems_.empty()) exitCode_ = ExitNotApplied;
    shell_.RequestClose();
}

void Session::OnClose() {
    if (closed_) return;
    closed_ = true;
    WaitCursor wait(shell_);
    RemoveTemporaryDriveLetters(platform_, temporaryNames_);
}

}  // namespace quorvane
