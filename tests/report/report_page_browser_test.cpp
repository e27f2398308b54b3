// The report page in a real browser: Debian's chromium, headless, renders the page; every
// number it shows equals the JSON verdict's, and it loads without a single console message
// (nothing fetched, nothing blocked).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "simdrive/audio_source.h"
#include "tests/report/simulated_extraction.h"
#include "tests/report/study_files.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

using testing_support::RunProgram;
using testing_support::TempDir;

const std::filesystem::path kChromium = "/usr/bin/chromium";

// What the page must show for a JSON value.
std::string Shown(const nlohmann::json& value, const std::string& field) {
    if (value.is_null()) {
        return "n/a";
    }
    char text[64];
    const bool rate = field.ends_with("Rate") || field.ends_with("Share");
    if (rate) {
        std::snprintf(text, sizeof text, "%.2f %%", 100.0 * value.get<double>());
        return text;
    }
    if (value.is_number_float()) {
        std::snprintf(text, sizeof text, "%.3f", value.get<double>());
        return text;
    }
    return std::to_string(value.get<std::int64_t>());
}

// "1,234" -> "1234", "+6" -> "6"; rates and decimals stay as they are.
std::string Plain(std::string text) {
    std::erase(text, ',');
    if (!text.empty() && text[0] == '+') {
        text.erase(0, 1);
    }
    return text;
}

class ReportPageInChromium : public testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        GTEST_SKIP() << "the page is tested with Linux's chromium";
#else
        if (!std::filesystem::exists(kChromium)) {
            GTEST_SKIP() << "chromium is not installed (.ci/run installs it)";
        }
#endif
    }
    testing_support::RunResult Chromium(const std::vector<std::string>& arguments) {
        std::vector<std::string> all{"120",
                                     kChromium.string(),
                                     "--headless",
                                     "--no-sandbox",
                                     "--disable-gpu",
                                     "--disable-background-networking",
                                     "--no-first-run",
                                     "--user-data-dir=" + (dir_ / "profile").string(),
                                     "--enable-logging=stderr",
                                     "--v=0"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return RunProgram("/usr/bin/timeout", all);
    }
    TempDir dir_;
};

TEST_F(ReportPageInChromium, ShowsTheJsonNumbersAndLoadsWithoutErrors) {
    simdrive::DriveSettings settings;
    settings.readOffsetSamples = 6;
    settings.honesty = {0.9, 0.002, simdrive::FlagGranularity::byte, true};
    simdrive::DiscSpec spec;
    spec.damage.scratches = {{100, 30, 0.03, 16}, {600, 4, 0.2, 4}};
    spec.damage.unreadable = {800};
    report_test::SimulatedExtraction extraction(settings, spec, 1000);
    extraction.Write(dir_.Path(), "Drive");
    testing_support::RunOptions options;
    options.workingDirectory = dir_.Path();
    const auto report = RunProgram(testing_support::BuiltProgram("c2report"),
                                   {"Reference.wav", "Drive.wav", "Drive.c2"}, options);
    ASSERT_EQ(report.exitCode, 0) << report.err;
    const auto verdict =
        nlohmann::json::parse(testing_support::ReadFileText(dir_ / "Drive.report.json"));
    const std::string page = "file://" + (dir_ / "Drive.report.html").string();

    const auto dom = Chromium({"--dump-dom", page});
    ASSERT_EQ(dom.exitCode, 0) << dom.err;
    // Chromium logs every console message, failed load and blocked request as CONSOLE.
    EXPECT_EQ(dom.err.find(":CONSOLE"), std::string::npos) << dom.err;
    EXPECT_NE(dom.out.find("<h1>C2 report: Drive</h1>"), std::string::npos);
    EXPECT_NE(dom.out.find("</svg>"), std::string::npos);
    EXPECT_EQ(dom.out.find("<script"), std::string::npos);

    const std::regex cell("data-json=\"([A-Za-z0-9.]+)\">([^<]*)<");
    int checked = 0;
    for (auto it = std::sregex_iterator(dom.out.begin(), dom.out.end(), cell);
         it != std::sregex_iterator(); ++it, ++checked) {
        const std::string field = (*it)[1];
        std::string pointer = "/" + field;
        std::replace(pointer.begin(), pointer.end(), '.', '/');
        const auto value = verdict.at(nlohmann::json::json_pointer(pointer));
        EXPECT_EQ(Plain((*it)[2]), Shown(value, field)) << field;
    }
    EXPECT_GE(checked, 40);  // summary, both alignments, rates, regions
    EXPECT_NE(verdict["c2"]["best"]["shift"]["text"], "as delivered");

    const auto shot = Chromium({"--screenshot=" + (dir_ / "page.png").string(),
                                "--window-size=1280,2400", "--hide-scrollbars", page});
    ASSERT_EQ(shot.exitCode, 0) << shot.err;
    const std::string png = testing_support::ReadFileText(dir_ / "page.png");
    ASSERT_GT(png.size(), 10000u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
}

// Pages of several verdicts (the study page, the ranking page): each number sits inside an
// element naming its verdict (data-verdict) and equals that verdict's field; every link leads to
// a file that exists. Returns how many numbers were checked.
int CheckNumbersAndLinks(const std::string& dom, const std::filesystem::path& folder) {
    int checked = 0;
    const std::regex verdictMark("data-verdict=\"([^\"]+)\"");
    const std::regex cell("data-json=\"([A-Za-z0-9.]+)\">([^<]*)<");
    std::vector<std::pair<std::size_t, std::string>> marks;
    for (auto it = std::sregex_iterator(dom.begin(), dom.end(), verdictMark);
         it != std::sregex_iterator(); ++it) {
        marks.emplace_back(static_cast<std::size_t>(it->position()), (*it)[1]);
    }
    EXPECT_FALSE(marks.empty());
    for (std::size_t m = 0; m < marks.size(); ++m) {
        const std::size_t end = m + 1 < marks.size() ? marks[m + 1].first : dom.size();
        const std::string part = dom.substr(marks[m].first, end - marks[m].first);
        const auto verdict =
            nlohmann::json::parse(testing_support::ReadFileText(folder / marks[m].second));
        for (auto it = std::sregex_iterator(part.begin(), part.end(), cell);
             it != std::sregex_iterator(); ++it, ++checked) {
            const std::string field = (*it)[1];
            std::string pointer = "/" + field;
            std::replace(pointer.begin(), pointer.end(), '.', '/');
            EXPECT_EQ(Plain((*it)[2]),
                      Shown(verdict.at(nlohmann::json::json_pointer(pointer)), field))
                << marks[m].second << " " << field;
        }
    }
    const std::regex link("href=\"([^\"]+)\"");
    for (auto it = std::sregex_iterator(dom.begin(), dom.end(), link); it != std::sregex_iterator();
         ++it) {
        EXPECT_TRUE(std::filesystem::exists(folder / std::string((*it)[1]))) << (*it)[1];
    }
    return checked;
}

TEST_F(ReportPageInChromium, TheStudyPageAndTheRankingPageShowTheirVerdictsNumbers) {
    simdrive::PatternSource source(report_test::kSectors, 7);
    std::string error;
    ASSERT_TRUE(simdrive::WriteWavFile((dir_ / "Reference.wav").string(), source, error));
    nlohmann::json passes = nlohmann::json::array();
    std::vector<std::string> verdicts{"--compare"};
    for (const report_test::PassCase& c : report_test::kPasses) {
        const std::string name = std::string("SIMDRIVESTUDY.") + c.form + "." + c.speed;
        report_test::WriteSyntheticPass(dir_ / "Reference.wav", dir_ / (name + ".wav"),
                                        dir_ / (name + ".c2"), report_test::Honesty(c));
        passes.push_back(report_test::PassEntry(c.form, c.speed, true));
        verdicts.push_back(name + ".report.json");
    }
    std::ofstream(dir_ / "SIMDRIVESTUDY.study.json") << report_test::StudyJson(passes).dump(2);
    testing_support::RunOptions options;
    options.workingDirectory = dir_.Path();
    const auto study =
        RunProgram(testing_support::BuiltProgram("c2report"),
                   {"--study", "Reference.wav", "SIMDRIVESTUDY.study.json"}, options);
    ASSERT_EQ(study.exitCode, 0) << study.err;
    const auto compare = RunProgram(testing_support::BuiltProgram("c2report"), verdicts, options);
    ASSERT_EQ(compare.exitCode, 0) << compare.err;

    for (const std::string name : {"SIMDRIVESTUDY.study.html", "comparison.html"}) {
        SCOPED_TRACE(name);
        const std::string page = "file://" + (dir_ / name).string();
        const auto dom = Chromium({"--dump-dom", page});
        ASSERT_EQ(dom.exitCode, 0) << dom.err;
        EXPECT_EQ(dom.err.find(":CONSOLE"), std::string::npos) << dom.err;
        EXPECT_EQ(dom.out.find("<script"), std::string::npos);
        // The matrix's 6 cells of 4 numbers and the ranking's 6 rows of 7; the ranking alone.
        EXPECT_EQ(CheckNumbersAndLinks(dom.out, dir_.Path()), name == "comparison.html" ? 42 : 66);
        const std::string png = (dir_ / (name + ".png")).string();
        const auto shot =
            Chromium({"--screenshot=" + png, "--window-size=1280,1100", "--hide-scrollbars", page});
        ASSERT_EQ(shot.exitCode, 0) << shot.err;
        EXPECT_GT(std::filesystem::file_size(png), 10000u);
        if (const char* keep = std::getenv("MARROWBY_KEEP_PAGES")) {
            std::filesystem::copy_file(png, std::filesystem::path(keep) / (name + ".png"),
                                       std::filesystem::copy_options::overwrite_existing);
        }
    }
    EXPECT_NE(
        testing_support::ReadFileText(dir_ / "comparison.html").find("SIMDRIVE STUDY 1.00 d8 max"),
        std::string::npos);
}

}  // namespace
