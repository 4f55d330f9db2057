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

}  // namespace

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

    if (!session.UndoFile().empty())
        sink.Out(std::string(texts::ConsoleUndoFile) + session.UndoFile() + '\n');
    for (const ChangeFailure& failure : session.Failures())
        sink.Err(DescribeFailure(session.Rows(), failure) + '\n');
    for (const std::string& problem : session.RestoreProblems()) sink.Err(problem + '\n');
    if (session.ExitCode() == ExitInvalidCommand) sink.Err(std::string(texts::ConsoleInvalid) + '\n');
    return session.ExitCode();
}

}  // namespace quorvane
