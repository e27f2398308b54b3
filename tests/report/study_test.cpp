// `c2report --study` end to end: a study file and six passes (three forms at two speeds) made by
// hand from the reference's bytes, each form with its own lag (294, 295, 40 bytes) and each pass
// with its own honesty; the verdicts must equal what the test chose, and the table must rank
// them as their honesty does. Then the study's bad input.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "simdrive/audio_source.h"
#include "tests/report/study_files.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using Json = nlohmann::json;
using report_test::kPasses;
using report_test::kSectors;
using report_test::kWrong;
using report_test::PassCase;
using report_test::PassEntry;
using report_test::StudyJson;

class Study : public testing::Test {
protected:
    void SetUp() override {
        simdrive::PatternSource source(kSectors, 7);
        std::string error;
        ASSERT_TRUE(simdrive::WriteWavFile((dir_ / "Reference.wav").string(), source, error));
    }
    void WritePass(const PassCase& c) {
        const std::string name = std::string("SIMDRIVESTUDY.") + c.form + "." + c.speed;
        report_test::WriteSyntheticPass(dir_ / "Reference.wav", dir_ / (name + ".wav"),
                                        dir_ / (name + ".c2"), report_test::Honesty(c));
    }
    void WriteStudy(const Json& passes) {
        std::ofstream(dir_ / "SIMDRIVESTUDY.study.json") << StudyJson(passes).dump(2);
    }
    testing_support::RunResult Run(const std::string& study = "SIMDRIVESTUDY.study.json") {
        testing_support::RunOptions options;
        options.workingDirectory = dir_.Path();
        return testing_support::RunProgram(testing_support::BuiltProgram("c2report"),
                                           {"--study", "Reference.wav", study}, options);
    }
    Json Verdict(const std::string& name) {
        return Json::parse(
            testing_support::ReadFileText(dir_ / ("SIMDRIVESTUDY." + name + ".report.json")));
    }
    testing_support::TempDir dir_;
};

TEST_F(Study, SixPassesEachJudgedAtItsOwnLagAndRankedByHonesty) {
    Json passes = Json::array();
    for (const char* speed : {"8x", "max"}) {
        for (const char* form : {"readcd14", "d8", "density"}) {
            passes.push_back(PassEntry(form, speed, true));
        }
    }
    for (const PassCase& c : kPasses) {
        WritePass(c);
    }
    WriteStudy(passes);
    const auto run = Run();
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    for (const PassCase& c : kPasses) {
        SCOPED_TRACE(std::string(c.form) + " " + c.speed);
        const Json v = Verdict(std::string(c.form) + "." + c.speed);
        const Json& best = v["c2"]["best"];
        EXPECT_EQ(best["shift"]["pointerBits"], c.lagBytes * 8);
        EXPECT_EQ(best["shift"]["text"], c.alignment);
        EXPECT_EQ(best["bytes"]["wrong"], kWrong);
        EXPECT_EQ(best["bytes"]["detected"], kWrong - c.missed);
        EXPECT_EQ(best["bytes"]["missed"], c.missed);
        EXPECT_EQ(best["bytes"]["falseFlags"], c.falseFlags);
        EXPECT_EQ(v["study"],
                  (Json{{"vendor", "SIMDRIVE"},
                        {"product", "STUDY"},
                        {"revision", "1.00"},
                        {"form", c.form},
                        {"speedRequested", c.speed},
                        {"speedReportedKBps", c.speed == std::string("max") ? 7056 : 1412},
                        {"completed", true}}));
    }
    // The table's rows in the order of the passes' honesty, each with its alignment.
    std::size_t at = run.out.find("Passes ranked");
    ASSERT_NE(at, std::string::npos) << run.out;
    for (std::size_t rank = 0; rank < std::size(kPasses); ++rank) {
        const PassCase& c = kPasses[rank];
        const std::string row = "\n  " + std::to_string(rank + 1) + "  " + c.form + " " + c.speed;
        const std::size_t found = run.out.find(row, at);
        ASSERT_NE(found, std::string::npos) << row << "\n" << run.out;
        const std::size_t end = run.out.find('\n', found + 1);
        EXPECT_EQ(run.out.substr(end - std::string(c.alignment).size() - 2,
                                 std::string(c.alignment).size() + 2),
                  std::string("* ") + c.alignment);
        at = end;
    }
    EXPECT_NE(run.out.find("Study page:          SIMDRIVESTUDY.study.html\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "SIMDRIVESTUDY.d8.max.report.html"));
}

TEST_F(Study, PassesThatCannotBeJudgedAreNamedAndTheOthersStillJudged) {
    WritePass(kPasses[0]);
    WritePass(kPasses[3]);
    // The d8 pass was cut short after 1,200 sectors: judged over those, marked partial.
    const auto wav = dir_ / "SIMDRIVESTUDY.d8.8x.wav";
    std::filesystem::resize_file(wav, 44 + 1200 * 2352);
    std::filesystem::resize_file(dir_ / "SIMDRIVESTUDY.d8.8x.c2", 1200 * 294);
    std::fstream header(wav, std::ios::in | std::ios::out | std::ios::binary);
    const std::uint32_t riff = 36 + 1200 * 2352, data = 1200 * 2352;
    header.seekp(4).write(reinterpret_cast<const char*>(&riff), 4);
    header.seekp(40).write(reinterpret_cast<const char*>(&data), 4);
    header.close();
    WriteStudy({PassEntry("readcd14", "8x", true), PassEntry("d8", "8x", false),
                PassEntry("density", "8x", true)});
    const auto run = Run();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "Cannot open \"SIMDRIVESTUDY.density.8x.wav\".\n");
    EXPECT_NE(run.out.find("Not judged: density at 8x: Cannot open "
                           "\"SIMDRIVESTUDY.density.8x.wav\".\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("  2  d8 8x (partial) "), std::string::npos) << run.out;
    const Json partial = Verdict("d8.8x");
    EXPECT_EQ(partial["study"]["completed"], false);
    EXPECT_EQ(partial["sectors"]["compared"], 1200);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "SIMDRIVESTUDY.readcd14.8x.report.html"));
    EXPECT_NE(testing_support::ReadFileText(dir_ / "SIMDRIVESTUDY.study.html")
                  .find("<strong>not judged</strong>"),
              std::string::npos);
}

TEST_F(Study, AStudyFileThatIsNotOursIsRefusedByName) {
    const std::string good = StudyJson(Json::array({PassEntry("d8", "8x", true)})).dump();
    Json future = Json::parse(good);
    future["formatVersion"] = 2;
    Json incomplete = Json::parse(good);
    incomplete["passes"][0].erase("wav");
    const std::pair<std::string, std::string> cases[] = {
        {"Cut.json", good.substr(0, good.size() / 2)},
        {"Other.json", R"({"format": "c2report verdict", "formatVersion": 1})"},
        {"Future.json", future.dump()},
        {"Incomplete.json", incomplete.dump()},
    };
    const std::string messages[] = {
        "\"Cut.json\" is not JSON: line 1, column ", "\"Other.json\" is not a Quellor study.\n",
        "\"Future.json\" is a Quellor study of another format version (2; this c2report reads "
        "1).\n",
        "\"Incomplete.json\" is not a usable Quellor study: passes[0].wav is missing.\n"};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::ofstream(dir_ / cases[i].first) << cases[i].second;
        const auto run = Run(cases[i].first);
        EXPECT_EQ(run.err.substr(0, messages[i].size()), messages[i]);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.out, "");
    }
    const auto missing = Run("Missing.study.json");
    EXPECT_EQ(missing.err, "Cannot open \"Missing.study.json\".\n");
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "Cut.study.html"));
}

}  // namespace
