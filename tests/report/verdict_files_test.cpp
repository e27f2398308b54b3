// The verdict people keep and compare: <drive>.report.json, the report page, and the ranking of
// drives made from several verdicts, through the built c2report.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "tests/report/simulated_extraction.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::BuiltProgram;
using testing_support::RunProgram;
using testing_support::TempDir;

simdrive::DiscSpec Damaged() {
    simdrive::DiscSpec spec;
    spec.damage.seed = 99;
    spec.damage.scratches = {{100, 30, 0.03, 16}, {600, 4, 0.2, 4}};
    spec.damage.unreadable = {800};
    return spec;
}

simdrive::DriveSettings Drive(std::int32_t offset, double flagWrong, double flagGood, bool late) {
    simdrive::DriveSettings settings;
    settings.readOffsetSamples = offset;
    settings.honesty = {flagWrong, flagGood, simdrive::FlagGranularity::byte, late};
    return settings;
}

class VerdictFiles : public testing::Test {
protected:
    testing_support::RunResult Run(const std::vector<std::string>& arguments) {
        testing_support::RunOptions options;
        options.workingDirectory = dir_.Path();
        return RunProgram(BuiltProgram("c2report"), arguments, options);
    }
    // Reads the damaged disc with `settings` into <name>.wav/.c2 and makes its verdict.
    report_test::Expected Verdict(const std::string& name, const simdrive::DriveSettings& settings,
                                  std::int64_t sectors = 1000) {
        report_test::SimulatedExtraction extraction(settings, Damaged(), sectors);
        extraction.Write(dir_.Path(), name);
        const auto run = Run({"Reference.wav", name + ".wav", name + ".c2"});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return extraction.Truth();
    }
    nlohmann::json Json(const std::string& name) {
        return nlohmann::json::parse(testing_support::ReadFileText(dir_ / name));
    }
    TempDir dir_;
};

TEST_F(VerdictFiles, TheJsonVerdictHoldsTheCountsAndTheirContext) {
    const auto truth = Verdict("Partly", Drive(6, 0.9, 0.002, false));
    const auto v = Json("Partly.report.json");
    EXPECT_EQ(v["format"], "c2report verdict");
    EXPECT_EQ(v["formatVersion"], 1);
    EXPECT_EQ(v["tool"]["name"], "c2report");
    EXPECT_EQ(v["drive"], "Partly");
    EXPECT_EQ(v["inputs"]["reference"]["path"], "Reference.wav");
    EXPECT_EQ(v["inputs"]["reference"]["bytes"], 44 + 1000 * 2352);
    EXPECT_EQ(v["inputs"]["reference"]["genuine"], false);
    EXPECT_EQ(v["inputs"]["reference"]["sha256"].get<std::string>().size(), 64u);
    EXPECT_EQ(v["inputs"]["c2"]["bytes"], 1000 * 294);
    EXPECT_EQ(v["alignment"]["offsetSamples"], 6);
    EXPECT_EQ(v["alignment"]["channelsSwapped"], false);
    EXPECT_EQ(v["sectors"]["compared"], 1000);
    EXPECT_EQ(v["sectors"]["extraAfter"], 0);
    EXPECT_EQ(v["sectors"]["withErrors"], truth.sectorsWithErrors);
    EXPECT_EQ(v["zeroFilled"]["sectors"], truth.zeroFilledSectors);
    ASSERT_EQ(v["zeroFilled"]["runs"].size(), 1u);
    const auto& bytes = v["c2"]["literal"]["bytes"];
    EXPECT_EQ(bytes["wrong"], truth.bytes.wrong);
    EXPECT_EQ(bytes["flagged"], truth.bytes.flagged);
    EXPECT_EQ(bytes["detected"], truth.bytes.detected);
    EXPECT_EQ(bytes["missed"], truth.bytes.Missed());
    EXPECT_EQ(bytes["falseFlags"], truth.bytes.FalseFlags());
    EXPECT_DOUBLE_EQ(bytes["detectionRate"].get<double>(),
                     double(truth.bytes.detected) / double(truth.bytes.wrong));
    EXPECT_EQ(v["c2"]["literal"]["samples"]["wrong"], truth.samples.wrong);
    EXPECT_EQ(v["c2"]["best"]["shift"]["text"], "as delivered");
    const std::uint64_t compared = (1000 - truth.zeroFilledSectors) * 2352;
    EXPECT_EQ(v["bytesCompared"], compared);
    EXPECT_DOUBLE_EQ(v["missedPerMillion"].get<double>(),
                     1e6 * double(truth.bytes.Missed()) / double(compared));
    EXPECT_FALSE(v["worstRegions"].empty());
    EXPECT_LE(v["worstRegions"].size(), 5u);
}

// Ranked by the best alignment: honest pointers delivered a sector late are as good as honest
// ones to a ripper that applies the lag, and rank with them.
TEST_F(VerdictFiles, TheRankingOrdersDrivesByMissedBytesThenFalseFlags) {
    Verdict("Late", Drive(6, 1.0, 0.0, true));
    Verdict("Honest", Drive(6, 1.0, 0.0, false));
    Verdict("FalseFlags", Drive(6, 1.0, 0.01, false));
    Verdict("Partly", Drive(6, 0.8, 0.01, false));
    const auto run = Run({"--compare", "Late.report.json", "Partly.report.json",
                          "FalseFlags.report.json", "Honest.report.json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto honest = run.out.find("\n  1  Honest ");
    const auto late = run.out.find("\n  2  Late ");
    const auto falseFlags = run.out.find("\n  3  FalseFlags ");
    const auto partly = run.out.find("\n  4  Partly ");
    EXPECT_TRUE(honest != std::string::npos && falseFlags != std::string::npos &&
                partly != std::string::npos && late != std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("  * 1 sector late\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Ranking table:       comparison.csv\nRanking page:        "
                           "comparison.html\n"),
              std::string::npos);
    // Round trip: the CSV carries each verdict's own figures.
    const std::string csv = testing_support::ReadFileText(dir_ / "comparison.csv");
    const auto partlyJson = Json("Partly.report.json");
    std::ostringstream row;
    row << "4,Partly," << std::fixed;
    row.precision(3);
    row << partlyJson["c2"]["best"]["missedPerMillion"].get<double>() << ',';
    EXPECT_NE(csv.find(row.str()), std::string::npos) << csv;
    std::ostringstream counts;
    counts << ',' << partlyJson["c2"]["best"]["bytes"]["missed"].get<std::uint64_t>() << ','
           << partlyJson["bytesCompared"].get<std::uint64_t>() << ',';
    EXPECT_NE(csv.find(counts.str()), std::string::npos) << csv;
    const std::string page = testing_support::ReadFileText(dir_ / "comparison.html");
    EXPECT_NE(
        page.find("<td class=\"name\"><a href=\"FalseFlags.report.html\">FalseFlags</a></td>"),
        std::string::npos);

    const auto one = Run({"--compare", "Honest.report.json"});
    EXPECT_EQ(one.exitCode, 0) << one.err;
    EXPECT_NE(one.out.find("Ranking of 1 drive "), std::string::npos) << one.out;
}

TEST_F(VerdictFiles, VerdictsThatAreNotOursAreRefusedByName) {
    Verdict("Honest", Drive(6, 1.0, 0.0, false));
    const std::string good = testing_support::ReadFileText(dir_ / "Honest.report.json");
    auto write = [&](const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    };
    write("Cut.json", good.substr(0, good.size() / 2));
    write("Other.json", "{\"name\": \"something else\"}");
    auto future = nlohmann::json::parse(good);
    future["formatVersion"] = 2;
    write("Future.json", future.dump());
    auto partial = nlohmann::json::parse(good);
    partial.erase("missedPerMillion");
    write("Partial.json", partial.dump());
    auto elsewhere = nlohmann::json::parse(good);
    elsewhere["inputs"]["reference"]["sha256"] = std::string(64, 'a');
    write("Elsewhere.json", elsewhere.dump());
    const std::pair<const char*, const char*> cases[] = {
        {"Cut.json", "\"Cut.json\" is not JSON: line "},
        {"Other.json", "\"Other.json\" is not a c2report verdict.\n"},
        {"Future.json",
         "\"Future.json\" is a c2report verdict of another format version (2; "
         "this c2report reads 1).\n"},
        {"Missing.json", "Cannot open \"Missing.json\".\n"},
        {"Elsewhere.json",
         "\"Elsewhere.json\" and \"Honest.report.json\" were made against different references "
         "(SHA-256 aaaaaaaaaaaaaaaa... and "},
    };
    for (const auto& [name, message] : cases) {
        const auto run = Run({"--compare", "Honest.report.json", name});
        EXPECT_EQ(run.err.substr(0, std::string(message).size()), message) << name;
        EXPECT_EQ(run.exitCode, 1) << name;
        EXPECT_EQ(run.out, "") << name;
    }
    const auto run = Run({"--compare", "Partial.json"});
    EXPECT_EQ(run.err,
              "\"Partial.json\" is not a usable c2report verdict: missedPerMillion is "
              "missing.\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "comparison.csv"));
}

// An output that cannot be written ends with exit code 2 and leaves nothing half-written.
TEST_F(VerdictFiles, AnOutputThatCannotBeWrittenLeavesNoPartOfIt) {
    report_test::SimulatedExtraction extraction(Drive(6, 1.0, 0.0, false), Damaged(), 400);
    extraction.Write(dir_.Path());
    std::filesystem::create_directory(dir_ / "Drive.report.json");
    const auto run = Run({"Reference.wav", "Drive.wav", "Drive.c2"});
    EXPECT_EQ(run.err, "Cannot write \"Drive.report.json\".\n");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(std::filesystem::is_directory(dir_ / "Drive.report.json"));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "Drive.report.json.partial"));

    std::filesystem::remove(dir_ / "Drive.report.json");
    ASSERT_EQ(Run({"Reference.wav", "Drive.wav", "Drive.c2"}).exitCode, 0);
    std::filesystem::create_directory(dir_ / "comparison.html");
    const auto compare = Run({"--compare", "Drive.report.json"});
    EXPECT_EQ(compare.err, "Cannot write \"comparison.html\".\n");
    EXPECT_EQ(compare.exitCode, 2);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "comparison.html.partial"));
}

}  // namespace
