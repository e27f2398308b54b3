// The site written from a pool held in memory: its figures, and which files a run writes,
// keeps or removes.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "pool/pages.h"
#include "pool/site.h"
#include "tests/pool/memory_pool.h"
#include "tests/support/small_file_system.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using pool::DriveModel;
using pool_test::Pass;
using testing_support::ReadFileText;

const DriveModel kAcme{"ACME", "CD-1"}, kBeta{"BETA", "CD-2"};

struct SiteRun {
    bool written;
    std::string out, err;
};

class Site : public testing::Test {
protected:
    void SetUp() override {
        pool_.Add(Pass(1, kAcme, "1.0", "readcd14", "8x", 20'000, 19'000, 40));
        pool_.Add(Pass(1, kAcme, "1.0", "readcd14", "max", 30'000, 15'000, 10));
        pool_.Add(Pass(2, kBeta, "2.0", "d8", "default", 50'000, 49'000, 1'000));
    }
    SiteRun Write(const fs::path& folder) {
        std::ostringstream out, err;
        const bool written = pool::WriteSite(pool_, folder.string(), out, err);
        return {written, out.str(), err.str()};
    }
    SiteRun Write() { return Write(folder_); }
    std::string Page(const DriveModel& model) { return pool::ModelPageName(model); }

    pool_test::MemoryPool pool_;
    testing_support::TempDir dir_;
    fs::path folder_ = dir_ / "site";
};

TEST_F(Site, PoolJsonHoldsEveryFigureExactlyInRankingOrder) {
    const auto run = Write();
    ASSERT_TRUE(run.written) << run.err;
    const auto json = nlohmann::json::parse(ReadFileText(folder_ / "pool.json"));
    const auto& rows = json["rows"];
    ASSERT_EQ(rows.size(), 3u);
    // Detection's lower bounds: BETA 0.98 > ACME 8x 0.95 > ACME max 0.5.
    EXPECT_EQ(rows[0]["vendor"], "BETA");
    EXPECT_EQ(rows[1]["speed"], "8x");
    EXPECT_EQ(rows[2]["speed"], "max");
    const auto& r = rows[1];
    EXPECT_EQ(r["rank"], 2);
    EXPECT_EQ(r["detection"]["rate"].get<double>(), 19'000.0 / 20'000.0);
    const auto wilson = pool::WilsonProportion(40, 19'040);
    EXPECT_EQ(r["falseFlag"]["rate"].get<double>(), 40.0 / 19'040.0);
    EXPECT_EQ(r["falseFlag"]["low"].get<double>(), wilson.interval->low);
    EXPECT_EQ(r["falseFlag"]["high"].get<double>(), wilson.interval->high);
    EXPECT_EQ(r["falseFlagsPerMillion"].get<double>(), 1e6 * 40.0 / (10'000'000.0 - 20'000.0));
    EXPECT_EQ(r["sums"]["flagged"], 19'040);
    EXPECT_EQ(r["sums"]["bytesCompared"], 10'000'000);
    EXPECT_EQ(r["asDelivered"]["detected"], 19'000);
    EXPECT_EQ(r["lag"]["passes"], 1);
    EXPECT_EQ(r["passes"], 1);
    EXPECT_EQ(r["submissions"], 1);
    EXPECT_TRUE(r["medianKBps"].is_null());
    EXPECT_EQ(json["models"][0]["page"], Page(kBeta));
    EXPECT_EQ(json["models"][1]["place"], 2);
    // The CSV holds the same numbers, as the shortest text that reads back exactly.
    const std::string csv = ReadFileText(folder_ / "pool.csv");
    EXPECT_NE(csv.find("\n2,ACME,CD-1,1.0,readcd14,8x,1,0.95,"), std::string::npos) << csv;
    EXPECT_EQ(ReadFileText(folder_ / "pool.sqlite"), "pool at change 3\n");
}

TEST_F(Site, AnUnchangedPoolRewritesNothingAndOneChangedModelOnlyItsPageTheIndexAndTheExports) {
    const auto first = Write();
    ASSERT_TRUE(first.written) << first.err;
    EXPECT_NE(first.out.find("  wrote " + Page(kAcme) + "\n"), std::string::npos);
    EXPECT_NE(first.out.find("\n6 files written, 0 unchanged.\n"), std::string::npos) << first.out;
    const auto acmeTime = fs::last_write_time(folder_ / Page(kAcme));

    const auto again = Write();
    EXPECT_EQ(again.out, "Site \"" + folder_.string() + "\":\n0 files written, 6 unchanged.\n");
    EXPECT_EQ(pool_.copies, 1);

    // A row that ranks first moves every other row down, ACME's too.
    pool_.Add(Pass(3, kBeta, "2.0", "d8", "max", 20'000, 20'000, 0));
    const auto changed = Write();
    EXPECT_EQ(changed.out, "Site \"" + folder_.string() + "\":\n  wrote " + Page(kBeta) +
                               "\n  wrote pool.csv\n  wrote pool.json\n  wrote pool.sqlite\n"
                               "  wrote index.html\n5 files written, 1 unchanged.\n");
    EXPECT_EQ(fs::last_write_time(folder_ / Page(kAcme)), acmeTime);
    // The page left alone is the page a fresh site holds: nothing on it depends on other models.
    ASSERT_TRUE(Write(dir_ / "fresh").written);
    EXPECT_EQ(ReadFileText(folder_ / Page(kAcme)), ReadFileText(dir_ / "fresh" / Page(kAcme)));
    EXPECT_NE(ReadFileText(folder_ / Page(kBeta)).find("<th>d8<br>max</th>"), std::string::npos);
    for (const auto& entry : fs::directory_iterator(folder_)) {
        EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();
    }
}

TEST_F(Site, AMissingOrAlteredPageIsWrittenAgainAndARemovedModelLosesItsPage) {
    ASSERT_TRUE(Write().written);
    fs::remove(folder_ / Page(kAcme));
    std::ofstream(folder_ / Page(kBeta), std::ios::app) << "<p>altered</p>";
    const auto rewritten = Write();
    EXPECT_NE(rewritten.out.find("  wrote " + Page(kAcme)), std::string::npos);
    EXPECT_NE(rewritten.out.find("  wrote " + Page(kBeta)), std::string::npos);
    EXPECT_EQ(ReadFileText(folder_ / Page(kBeta)).find("altered"), std::string::npos);

    // Even without the state that remembers the page.
    fs::remove(folder_ / ".c2pool-site.json");
    pool_.RemoveModel(kAcme);
    const auto removed = Write();
    EXPECT_NE(removed.out.find("  removed " + Page(kAcme) + "\n"), std::string::npos)
        << removed.out;
    EXPECT_FALSE(fs::exists(folder_ / Page(kAcme)));
    EXPECT_EQ(ReadFileText(folder_ / "index.html").find("ACME"), std::string::npos);
    EXPECT_EQ(ReadFileText(folder_ / "pool.json").find("ACME"), std::string::npos);
    EXPECT_EQ(ReadFileText(folder_ / "pool.csv").find("ACME"), std::string::npos);
}

TEST_F(Site, AStateFileFromAnyoneNeverRemovesOrSkipsAnything) {
    ASSERT_TRUE(Write().written);
    std::ofstream(dir_ / "victim.html") << "keep";
    const std::string victim = fs::relative(dir_ / "victim.html", folder_).string();
    const char* const claims[] = {
        // A file outside the site, and a page claimed at a counter it was never written from.
        R"({"format":"c2pool site state","formatVersion":1,"layout":2,"pages":[{"file":")",
        R"({"format":"c2pool site state","formatVersion":1,"layout":2,"pages":[{"file":"x",)"};
    std::ofstream(folder_ / ".c2pool-site.json")
        << claims[0] << victim << R"(","changes":1,"bytes":4,"modified":0}]})";
    auto run = Write();
    EXPECT_TRUE(run.written);
    EXPECT_TRUE(fs::exists(dir_ / "victim.html"));
    // Refused whole: every page built again and found equal, the copy of the pool made again.
    EXPECT_NE(run.out.find(":\n  wrote pool.sqlite\n1 file written, 5 unchanged.\n"),
              std::string::npos)
        << run.out;

    std::ofstream(folder_ / ".c2pool-site.json") << claims[1] << "\"bytes\":[]}]}";
    std::ofstream(folder_ / Page(kAcme)) << "not the page";
    run = Write();
    EXPECT_NE(run.out.find("  wrote " + Page(kAcme)), std::string::npos);
}

TEST_F(Site, APoolThatFailsWhileAPageIsWrittenLeavesThePageAsItWas) {
    ASSERT_TRUE(Write().written);
    const std::string before = ReadFileText(folder_ / Page(kAcme));
    pool_.Add(Pass(5, kAcme, "1.0", "d8", "8x", 20'000, 1'000, 0));
    pool_.failing = true;
    std::ostringstream out, err;
    EXPECT_THROW((void)pool::WriteSite(pool_, folder_.string(), out, err), std::runtime_error);
    EXPECT_EQ(ReadFileText(folder_ / Page(kAcme)), before);
    for (const auto& entry : fs::directory_iterator(folder_)) {
        EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();
    }
}

TEST_F(Site, ACopyOfThePoolThatFailsIsNamedAndMadeAgainNextTime) {
    pool_.refuseCopy = true;
    const auto failed = Write();
    EXPECT_FALSE(failed.written);
    EXPECT_EQ(failed.err, "Cannot write \"" + (folder_ / "pool.sqlite").string() +
                              "\" (The copy failed); the file is as it was before.\n");
    EXPECT_FALSE(fs::exists(folder_ / "pool.sqlite"));
    EXPECT_FALSE(fs::exists(folder_ / "index.html"));  // written last, linking what is there
    pool_.refuseCopy = false;
    const auto again = Write();
    EXPECT_NE(again.out.find("  wrote pool.sqlite\n  wrote index.html\n2 files written, 4 "
                             "unchanged.\n"),
              std::string::npos)
        << again.out;
}

TEST(ModelPageName, IsAPlainDistinctFileNameWhateverTheModelHolds) {
    const DriveModel models[] = {{"../..", "etc/passwd"},
                                 {".", "hidden"},
                                 {"", ""},
                                 {"A B", "C"},
                                 {"A", "B C"},
                                 {"a b", "c"},
                                 {"\xc3\xa9<>", "\"'"},
                                 {std::string(300, 'X'), "Y"}};
    std::set<std::string> names;
    for (const auto& model : models) {
        const std::string name = pool::ModelPageName(model);
        EXPECT_TRUE(pool::IsModelPageName(name)) << name;
        EXPECT_LE(name.size(), 80u);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), std::size(models));
    EXPECT_EQ(pool::ModelPageName({"ACME", "CD-1"}).substr(0, 16), "drive-acme-cd-1-");
    for (const char* name : {"drive-.html", "../drive-a.html", "drive-a.htm", "drive-A.html",
                             "drive-a/b.html", "x-drive-a.html"}) {
        EXPECT_FALSE(pool::IsModelPageName(name)) << name;
    }
}

TEST_F(Site, TextsFromSubmissionsAreEscapedAndNeverRunAsFormulas) {
    pool_.Add(Pass(4, {"=HYPERLINK(\"x\")", "a,\"b\"\nc"}, "@1", "d8", "-2+3", 20'000, 5, 0));
    ASSERT_TRUE(Write().written);
    const std::string csv = ReadFileText(folder_ / "pool.csv");
    EXPECT_NE(csv.find(",\"'=HYPERLINK(\"\"x\"\")\",\"a,\"\"b\"\"\nc\",\"'@1\",d8,\"'-2+3\",1,"),
              std::string::npos)
        << csv;
    const std::string index = ReadFileText(folder_ / "index.html");
    EXPECT_NE(index.find("=HYPERLINK(&quot;x&quot;)"), std::string::npos);
}

// A file system that fills up while the site is written: the page that did not fit is not
// there at all, the message names it, and the state file claims only what was written.
TEST_F(Site, AFullDiskStopsWithTheFileNamedAndNoHalfPage) {
    const fs::path mount = dir_ / "small";
    testing_support::SmallFileSystem small(mount, "128k");
    if (!small.Mounted()) {
        GTEST_SKIP() << testing_support::SmallFileSystem::kWhyNot;
    }
    ASSERT_TRUE(Write(mount).written);
    // Many submissions of ACME: its page no longer fits.
    for (int s = 10; s < 1000; ++s) {
        pool_.Add(Pass(s, kAcme, "1.0", "d8", "8x", 20'000, 19'000, 40));
    }
    const std::string before = ReadFileText(mount / Page(kAcme));
    const auto run = Write(mount);
    EXPECT_FALSE(run.written);
    EXPECT_EQ(
        run.err,
        "Cannot write \"" + (mount / Page(kAcme)).string() +
            "\" (the disk is full or the folder refused it); the file is as it was before.\n");
    EXPECT_EQ(ReadFileText(mount / Page(kAcme)), before);
    for (const auto& entry : fs::directory_iterator(mount)) {
        EXPECT_EQ(entry.path().string().find(".partial"), std::string::npos) << entry.path();
    }
    // The state still says the page was written from the model's counter before the adds.
    const auto state = nlohmann::json::parse(ReadFileText(mount / ".c2pool-site.json"));
    for (const auto& page : state["pages"]) {
        EXPECT_EQ(page["changes"], page["file"] == Page(kAcme) ? 2 : 1) << page;
    }
    // With room again, the page is written.
    ASSERT_TRUE(small.Resize("4m"));
    const auto later = Write(mount);
    EXPECT_TRUE(later.written) << later.err;
    EXPECT_NE(later.out.find("  wrote " + Page(kAcme)), std::string::npos) << later.out;
}

}  // namespace
