// The command line as CLI11 parses it: the documented options, their order and their errors.
#include <gtest/gtest.h>

#include "cli/cli_options.h"

namespace tolvane::cli {
namespace {

CliOptions parse(std::vector<std::string> args) {
    return parseArguments(args);
}

std::string usageError(std::vector<std::string> args) {
    try {
        parseArguments(args);
    } catch (const UsageError& error) {
        return error.message;
    }
    return "no error";
}

TEST(CliOptions, TheLastOfTwoOptionsWinsAsTheyAreGiven) {
    EXPECT_FALSE(parse({"read", "x.EVO", "--fast-check", "10", "--full"}).fastCheck);
    const CliOptions checked = parse({"read", "x.EVO", "--full", "--fast-check", "10"});
    EXPECT_TRUE(checked.fastCheck);
    EXPECT_EQ(checked.fastCheckMb, "10");
    EXPECT_EQ(parse({"demux", "x.EVO", "-o", "a", "--output=b"}).outputFolder, "b");
    EXPECT_EQ(parse({"read", "x.EVO", "--color", "never", "--colour", "always"}).color,
              ColorMode::Always);
}

TEST(CliOptions, ValuesListsAndFilesComeOutAsGiven) {
    const CliOptions options =
        parse({"demux", "--select", "cbVideo0,,DD.stream.03", "--no-continue", "--no-details",
               "--json", "--", "-odd name.EVO"});
    EXPECT_EQ(options.command, Command::Demux);
    EXPECT_EQ(options.source, "-odd name.EVO");
    EXPECT_EQ(options.select, (std::vector<std::string>{"cbVideo0", "DD.stream.03"}));
    EXPECT_FALSE(options.continueOn);
    EXPECT_FALSE(options.details);
    EXPECT_TRUE(options.countFrames);
    EXPECT_TRUE(options.json);
    EXPECT_EQ(parse({"read", "x.EVO", "--help"}).command, Command::Help);
    EXPECT_EQ(parse({"--version"}).command, Command::Version);
    const CliOptions titles = parse({"titles", "dvd.iso", "--json"});
    EXPECT_EQ(titles.command, Command::Titles);
    EXPECT_EQ(titles.source, "dvd.iso");
}

TEST(CliOptions, ErrorsSayWhatIsWrong) {
    EXPECT_EQ(usageError({"read", "x.EVO", "--frobnicate"}), "unknown option '--frobnicate'");
    EXPECT_EQ(usageError({"read", "x.EVO", "--output"}), "option '--output' needs a value");
    EXPECT_EQ(usageError({"read", "x.EVO", "--fast-check", "0"}),
              "--fast-check needs a whole number of mebibytes from 1 to 999999, not '0'");
    EXPECT_EQ(usageError({"read"}), "no source file given");
    EXPECT_EQ(usageError({"read", "a.EVO", "b.EVO"}), "one source file only, not also 'b.EVO'");
    EXPECT_EQ(usageError({"play", "a.EVO"}), "unknown command 'play'");
    EXPECT_EQ(usageError({"read", "a.EVO", "--select", "x"}),
              "--select belongs to demux and rebuild");
    EXPECT_EQ(usageError({"titles"}), "no disc given");
    EXPECT_EQ(usageError({"titles", "DISC", "--select", "x"}),
              "--select belongs to demux and rebuild");
    EXPECT_EQ(usageError({"titles", "DISC", "--adv-packs"}), "--adv-packs belongs to rebuild");
}

}  // namespace
}  // namespace tolvane::cli
