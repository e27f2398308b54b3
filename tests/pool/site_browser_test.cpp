// The site in a real browser: markup in a drive's vendor, product and revision stays text in
// the DOM headless chromium builds of the index and the model page; no element is injected.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "pool/pages.h"
#include "pool/site.h"
#include "tests/pool/memory_pool.h"
#include "tests/support/program_run.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::RunProgram;

const fs::path kChromium = "/usr/bin/chromium";

// How many elements of each kind the DOM holds.
std::map<std::string, int> Elements(const std::string& dom) {
    std::map<std::string, int> count;
    const std::regex tag("<([a-zA-Z][a-zA-Z0-9]*)");
    for (auto it = std::sregex_iterator(dom.begin(), dom.end(), tag); it != std::sregex_iterator();
         ++it) {
        ++count[(*it)[1]];
    }
    return count;
}

class SiteInChromium : public testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kChromium)) {
            GTEST_SKIP() << "chromium is not installed (.ci/run installs it)";
        }
    }
    // The DOMs of the index and of the model's page, in a site of that one model.
    std::pair<std::string, std::string> Doms(const pool::DriveModel& model,
                                             const std::string& revision) {
        pool_test::MemoryPool pool;
        pool.Add(pool_test::Pass(1, model, revision, "readcd14", "8x", 20'000, 19'000, 40));
        pool.Add(pool_test::Pass(2, model, revision, "d8", "max", 500, 400, 4));
        const fs::path folder = dir_ / pool::ModelPageName(model).substr(0, 20);
        std::ostringstream out, err;
        EXPECT_TRUE(pool::WriteSite(pool, folder.string(), out, err)) << err.str();
        return {Dom(folder / "index.html"), Dom(folder / pool::ModelPageName(model))};
    }
    std::string Dom(const fs::path& page) {
        const auto run =
            RunProgram("/usr/bin/timeout",
                       {"120", kChromium.string(), "--headless", "--no-sandbox", "--disable-gpu",
                        "--disable-background-networking", "--no-first-run",
                        "--user-data-dir=" + (dir_ / "profile").string(), "--enable-logging=stderr",
                        "--v=0", "--dump-dom", "file://" + page.string()});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        // Chromium logs every console message, failed load and blocked request as CONSOLE.
        EXPECT_EQ(run.err.find(":CONSOLE"), std::string::npos) << run.err;
        return run.out;
    }
    testing_support::TempDir dir_;
};

TEST_F(SiteInChromium, MarkupFromASubmissionStaysTextAndInjectsNoElement) {
    const auto [plainIndex, plainPage] = Doms({"VENDOR", "PRODUCT"}, "1.00");
    const auto [index, page] =
        Doms({"<script>alert(1)</script>", "\"><img src=x onerror=alert(2)>"}, "</td><td>x");
    for (const std::string* dom : {&index, &page}) {
        EXPECT_NE(dom->find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos) << *dom;
        EXPECT_NE(dom->find("\"&gt;&lt;img src=x onerror=alert(2)&gt;"), std::string::npos);
        EXPECT_NE(dom->find("&lt;/td&gt;&lt;td&gt;x"), std::string::npos);
        EXPECT_EQ(Elements(*dom).count("img"), 0u);
        EXPECT_EQ(Elements(*dom).count("script"), 0u);
    }
    // The same elements, one for one, as the site of a drive with plain names.
    EXPECT_EQ(Elements(index), Elements(plainIndex));
    EXPECT_EQ(Elements(page), Elements(plainPage));
    EXPECT_GT(Elements(page)["circle"], 0);
    EXPECT_GT(Elements(page)["td"], 10);
}

}  // namespace
