// The console companion's run on images: what goes to standard output and
// error, the exit codes, that it asks nothing of the system when it is not
// elevated, and that its single close path still runs without a window.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/ConsoleRun.h"
#include "app/HelpText.h"
#include "app/Session.h"
#include "tests/apply/ApplyFixtures.h"
#include "text/Texts.h"
#include "tools/Utf8.h"

namespace quorvane::test {
namespace {

struct Printed : ConsoleSink {
    void Out(std::string_view gbk) override { out += gbk; }
    void Err(std::string_view gbk) override { err += gbk; }
    void OutUtf8(std::string_view utf8) override { utf8Out += utf8; }
    std::string out, err, utf8Out;
};

struct ConsoleRun {
    explicit ConsoleRun(const std::string& image, const TempDir& dir) : platform({image}) {
        platform.SetUndoFolder(dir.File("undo"));
    }
    int Run(const std::vector<std::string>& parameters, bool elevated = true) {
        return RunConsole(platform, parameters, elevated, printed, GbkToUtf8);
    }
    ImagePlatform platform;
    Printed printed;
};

TEST(ConsoleRun, NotElevatedAsksNothingOfTheSystemButTheHelpStillShows) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    ConsoleRun denied(disk.image, dir);
    EXPECT_EQ(denied.Run({"/M", "1", "1", "07"}, false), ExitNotElevated);
    EXPECT_EQ(denied.printed.err, std::string(texts::ConsoleNotElevated) + "\n");
    EXPECT_EQ(denied.printed.out, "");
    EXPECT_TRUE(denied.platform.Calls().empty());

    ConsoleRun help(disk.image, dir);
    EXPECT_EQ(help.Run({"/h"}, false), ExitDone);
    std::string lines = BuildHelpText();
    std::replace(lines.begin(), lines.end(), '\r', '\n');
    EXPECT_EQ(help.printed.out, lines + "\n");
    EXPECT_TRUE(help.platform.Calls().empty());
}

TEST(ConsoleRun, ListingsEndWithTheTemporaryLettersRemoved) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    ConsoleRun table(disk.image, dir);
    EXPECT_EQ(table.Run({}), ExitDone);
    // The header and the five rows; the letters the run defined are shown...
    EXPECT_EQ(std::count(table.printed.out.begin(), table.printed.out.end(), '\n'), 6);
    EXPECT_EQ(table.printed.out.rfind(std::string(texts::HeaderLetter) + "\t" + texts::HeaderLabel, 0), 0u);
    EXPECT_NE(table.printed.out.find("\nF\tLOGIC\t1\t3\t0C\t"), std::string::npos) << table.printed.out;
    // ...and removed again before the program ends.
    EXPECT_EQ(table.platform.CountCalls(PlatformCall::RemoveDosDevice),
              table.platform.CountCalls(PlatformCall::DefineDosDevice));
    EXPECT_GT(table.platform.CountCalls(PlatformCall::DefineDosDevice), 0u);

    ConsoleRun json(disk.image, dir);
    EXPECT_EQ(json.Run({"/j"}), ExitDone);
    EXPECT_EQ(json.printed.out, "");
    const nlohmann::json rows = nlohmann::json::parse(json.printed.utf8Out);
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[3]["kind"], "逻辑");
    EXPECT_EQ(rows[3]["letter"], "F");
    EXPECT_EQ(json.platform.CountCalls(PlatformCall::RemoveDosDevice),
              json.platform.CountCalls(PlatformCall::DefineDosDevice));

    // /J is the companion's alone: with anything else it is the window
    // program's unknown switch.
    ConsoleRun extra(disk.image, dir);
    EXPECT_EQ(extra.Run({"/J", "1"}), ExitInvalidCommand);
    EXPECT_EQ(extra.printed.utf8Out, "");
    EXPECT_EQ(extra.printed.err, std::string(texts::ConsoleInvalid) + "\n");
}

TEST(ConsoleRun, ChangesPrintTheUndoFileAndFailuresGoToStandardError) {
    TempDir dir;
    const StandardDisk disk(dir, "disk.img");
    ConsoleRun change(disk.image, dir);
    EXPECT_EQ(change.Run({"/M", "1", "2", "83"}), ExitDone);
    EXPECT_EQ(change.printed.err, "");
    const std::string prefix = texts::ConsoleUndoFile;
    ASSERT_EQ(change.printed.out.rfind(prefix, 0), 0u) << change.printed.out;
    const std::string path =
        change.printed.out.substr(prefix.size(), change.printed.out.size() - prefix.size() - 1);
    EXPECT_TRUE(std::filesystem::is_regular_file(path)) << path;

    // Two rows fail: one line each, the row and the cause as the box words them.
    ConsoleRun failed(disk.image, dir);
    const auto before = ImageBytes(disk.image);
    EXPECT_EQ(failed.Run({"/F", "0C", "GG"}), ExitNotApplied);
    const std::string line = std::string(texts::FailureColon) + texts::FailBadId + "\n";
    EXPECT_EQ(failed.printed.err, std::string(texts::FailureDisk) + "1" + texts::FailurePartition + "1" +
                                      line + texts::FailureDisk + "1" + texts::FailurePartition + "3" + line);
    ExpectImage(before, disk.image, {});
}

}  // namespace
}  // namespace quorvane::test
