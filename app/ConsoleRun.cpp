#include "app/ConsoleRun.h"

#include "app/CommandLine.h"
#include "app/HelpText.h"
#include "app/Session.h"
#include "text/Gbk.h"
#include "text/Texts.h"

namespace quorvane {

namespace {

// The window's Shell without a window. A close request needs no answer: the
// single close path runs once the start sequence is over, whatever it asked.
class ConsoleShell : public Shell {
 public:
    explicit ConsoleShell(ConsoleSink& sink) : sink_(sink) {}
    void ShowHelp(const std::string& helpText) override { sink_.Out(HelpLines(helpText)); }
    void RequestClose() override {}
    void ShowMainWindow() override {}
    void SelectRow(int) override {}
    void SetWaitCursor(bool) override {}

    // The help box's lines are separated by single CRs.
    static std::string HelpLines(std::string text) {
        for (char& c : text)
            if (c == '\r') c = '\n';
        return text + '\n';
    }

 private:
    ConsoleSink& sink_;
};

bool IsJsonSwitch(const std::vector<std::string>& parameters) {
    return parameters.size() == 1 && UpperCaseAscii(parameters[0]) == "/J";
}

std::string DiskText(uint32_t drive) {
    return texts::FailureDisk + std::to_string(drive + 1) + texts::FailureColon;
}

// What the scan could not read, disks counted from 1 as in the rows.
void AddScanLines(const ScanReport& scan, std::vector<std::string>& lines) {
    if (!scan.diskCountRead) lines.push_back(texts::ScanNoDiskCount);
    for (const uint32_t drive : scan.unreadDrives) lines.push_back(DiskText(drive) + texts::ScanUnreadDrive);
    for (const uint32_t drive : scan.oddSectorDrives)
        lines.push_back(DiskText(drive) + texts::ScanOddSectorDrive);
    if (scan.drivesMissing)
        lines.push_back(texts::ScanDrivesCounted + std::to_string(scan.drivesCounted) +
                        texts::ScanDrivesOpened + std::to_string(scan.drivesOpened) + texts::ScanDrivesUnit);
    if (scan.rowsFull) lines.push_back(texts::ScanRowsFull);
    for (const uint32_t drive : scan.layoutDiffers) lines.push_back(DiskText(drive) + texts::LayoutDiffersNotice);
}

}  // namespace

RunReport ReportRun(const Session& session) {
    RunReport report;
    report.out = session.Information();
    for (const ChangeFailure& failure : session.Failures())
        report.err.push_back(DescribeFailure(session.Rows(), failure));
    report.err.insert(report.err.end(), session.RestoreProblems().begin(), session.RestoreProblems().end());
    if (session.MatchesUnconfirmed()) report.err.push_back(texts::ScanMatchesUnconfirmed);
    AddScanLines(session.LastScan(), report.err);
    if (session.ExitCode() == ExitInvalidCommand) report.err.push_back(texts::ConsoleInvalid);
    return report;
}

int RunConsole(Platform& platform, const std::vector<std::string>& parameters, bool elevated,
               ConsoleSink& sink, const Utf8FromGbk& toUtf8) {
    if (IsHelpSwitch(parameters)) {
        sink.Out(ConsoleShell::HelpLines(BuildHelpText()));
        return ExitDone;
    }
    if (!elevated) {
        sink.Err(std::string(texts::ConsoleNotElevated) + '\n');
        return ExitNotElevated;
    }

    const bool json = IsJsonSwitch(parameters);
    ConsoleShell shell(sink);
    Session session(platform, shell);
    session.Start(json ? std::vector<std::string>{} : parameters);
    if (json)
        sink.OutUtf8(RowsJson(session.Rows(), toUtf8));
    else if (parameters.empty())
        sink.Out(RowsTable(session.Rows()));
    // Without a window nobody closes one: the run ends here either way.
    session.OnClose();

    const RunReport report = ReportRun(session);
    // The JSON listing is all that standard output holds under /J.
    if (!json)
        for (const std::string& line : report.out) sink.Out(line + '\n');
    if (!session.UndoFile().empty())
        sink.Out(std::string(texts::ConsoleUndoFile) + session.UndoFile() + '\n');
    for (const std::string& line : report.err) sink.Err(line + '\n');
    return session.ExitCode();
}

}  // namespace quorvane
