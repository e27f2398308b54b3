// A drive study end to end: the built Quellor studies a simulated drive with three C2 forms at
// two speeds through the stand-in manager library, and the built c2report judges the study. Each
// verdict must equal what the drive model says it flagged, worked out here from the pointers the
// model delivers moved back by the form's lag; the table must rank the passes as their truth
// does.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <tuple>
#include <vector>

#include "simdrive/audio_source.h"
#include "simdrive/description.h"
#include "tests/support/program_run.h"
#include "tests/support/standin_drives.h"
#include "tests/support/temp_dir.h"

namespace {

using Json = nlohmann::json;
using simdrive::C2Form;
using testing_support::RunResult;

constexpr std::int64_t kSectors = 1'500;
constexpr std::uint64_t kPatternSeed = 11;
constexpr std::int64_t kAudio = 2352;
constexpr std::int64_t kC2 = 294;

// The disc and the speeds both drives share: a long scratch, a light one that leaves a byte or
// two wrong in a sector, a badly damaged sector; from 24x on every form flags intact bytes too.
const std::string kDisc =
    "disc = pattern 1500 11\ndamage_seed = 9\n"
    "scratch = 200 200 0.02 8\nscratch = 700 300 0.0004 1\nbad_sector = 1200 0.3\n"
    "read_speeds = 4x 8x 16x 24x 48x\nc2_speed = 24x flag_good 0.002\n";

// Three forms that differ in lag (294, 295, 40 bytes), detection and granularity.
const std::string kLaggingForms =
    "[drive]\nvendor = \"SIMDRIVE\"\nproduct = \"STUDY\"\nrevision = \"2.01\"\n"
    "read_cd = 0x10 0x14\nvendor_d8 = 0x00 0x04\ndensity_c2 = yes\n" +
    kDisc +
    "c2_form = readcd14 lag 294\n"
    "c2_form = d8 lag 295 flag_wrong 0.8\n"
    "c2_form = density granularity sample lag 40 flag_wrong 0.9\n";

// Three forms on time that flag exact bytes, whole samples and whole sectors.
const std::string kGranularForms =
    "[drive]\nvendor = \"SIMDRIVE\"\nproduct = \"GRAINS\"\n"
    "read_cd = 0x10 0x14\nvendor_d8 = 0x00 0x04\ndensity_c2 = yes\n" +
    kDisc +
    "c2_form = readcd14 flag_wrong 0.7\n"
    "c2_form = d8 granularity sample flag_wrong 0.7\n"
    "c2_form = density granularity sector flag_wrong 0.7\n";

struct FormCase {
    const char* name;
    C2Form form;
    std::int64_t lagBytes;
    const char* alignment;
};

constexpr std::array<FormCase, 3> kLagging{{{"readcd14", C2Form::readCd14, 294, "1 sector late"},
                                            {"d8", C2Form::vendorD8, 295, "1 sector + 1 byte late"},
                                            {"density", C2Form::density, 40, "40 bytes late"}}};
constexpr std::array<FormCase, 3> kGranular{{{"readcd14", C2Form::readCd14, 0, "as delivered"},
                                             {"d8", C2Form::vendorD8, 0, "as delivered"},
                                             {"density", C2Form::density, 0, "as delivered"}}};

struct SpeedCase {
    const char* name;
    std::uint32_t requestKBps;  // what SET CD SPEED asks: 8 x 176.4 rounded up, 0xFFFF the top
};

constexpr std::array<SpeedCase, 2> kSpeeds{{{"8x", 1412}, {"max", 0xFFFF}}};

// What a verdict at the best alignment must say, counted bit by bit.
struct PassTruth {
    std::string row;  // "<form> <speed>", as the study's table names the pass
    std::uint64_t wrong = 0, flagged = 0, detected = 0;
    std::uint64_t onWrongSample = 0, inSectorsWithErrors = 0, inSectorsWithoutErrors = 0;
    std::uint64_t sectorsFlaggedWhole = 0;
    [[nodiscard]] std::uint64_t Missed() const { return wrong - detected; }
    [[nodiscard]] std::uint64_t FalseFlags() const { return flagged - detected; }
};

bool Bit(const std::vector<std::uint8_t>& bits, std::int64_t i) {
    const auto at = static_cast<std::size_t>(i >> 3);
    return at < bits.size() && (bits[at] >> (7 - (i & 7)) & 1) != 0;
}

// The pass's .c2 as the model delivers it, then each audio byte's pointer found `lag` bytes on.
PassTruth Count(simdrive::Drive& drive, const FormCase& form, std::uint32_t speed) {
    std::vector<std::uint8_t> delivered, wrong;
    for (std::int64_t s = 0; s < kSectors; ++s) {
        const simdrive::FormTruth truth = drive.Truth(s, form.form, speed);
        EXPECT_FALSE(truth.unreadable);
        delivered.insert(delivered.end(), truth.delivered.begin(), truth.delivered.end());
        wrong.insert(wrong.end(), truth.corrupted.begin(), truth.corrupted.end());
    }
    PassTruth t;
    const std::int64_t lagBits = form.lagBytes * 8;
    for (std::int64_t s = 0; s < kSectors; ++s) {
        std::uint64_t wrongHere = 0, flaggedHere = 0, detectedHere = 0, onWrongSample = 0;
        for (std::int64_t i = s * kAudio; i < (s + 1) * kAudio; ++i) {
            const bool bad = Bit(wrong, i), flag = Bit(delivered, i + lagBits);
            wrongHere += bad;
            flaggedHere += flag;
            detectedHere += bad && flag;
            // The other byte of a 16-bit sample is byte i ^ 1.
            onWrongSample += flag && !bad && Bit(wrong, i ^ 1);
        }
        t.wrong += wrongHere;
        t.flagged += flaggedHere;
        t.detected += detectedHere;
        t.onWrongSample += onWrongSample;
        t.sectorsFlaggedWhole += flaggedHere == kAudio;
        const std::uint64_t falseHere = flaggedHere - detectedHere - onWrongSample;
        (wrongHere > 0 ? t.inSectorsWithErrors : t.inSectorsWithoutErrors) += falseHere;
    }
    return t;
}

// The verdict's counts at its best alignment, and where its flags sit, against the truth.
void ExpectVerdictIsTruth(const Json& v, const FormCase& form, const PassTruth& t) {
    const Json& best = v["c2"]["best"];
    EXPECT_EQ(best["shift"]["pointerBits"], form.lagBytes * 8);
    EXPECT_EQ(best["shift"]["text"], form.alignment);
    EXPECT_EQ(best["bytes"]["wrong"], t.wrong);
    EXPECT_EQ(best["bytes"]["detected"], t.detected);
    EXPECT_EQ(best["bytes"]["missed"], t.Missed());
    EXPECT_EQ(best["bytes"]["falseFlags"], t.FalseFlags());
    const Json& g = v["flagGranularity"];
    EXPECT_EQ(g["falseFlags"], t.FalseFlags());
    EXPECT_EQ(g["onWrongSample"], t.onWrongSample);
    EXPECT_EQ(g["inSectorsWithErrors"], t.inSectorsWithErrors);
    EXPECT_EQ(g["inSectorsWithoutErrors"], t.inSectorsWithoutErrors);
    EXPECT_EQ(g["sectorsFlaggedWhole"], t.sectorsFlaggedWhole);
}

class QuellorStudyToReport : public testing::Test {
protected:
    void SetUp() override {
        simdrive::PatternSource source(kSectors, kPatternSeed);
        std::string error;
        ASSERT_TRUE(simdrive::WriteWavFile((dir_ / "Reference.wav").string(), source, error))
            << error;
    }
    // Quellor studies the described drive with `arguments`, then c2report judges the study.
    void StudyAndJudge(const std::string& description, std::vector<std::string> arguments) {
        std::ofstream(dir_ / "drive.drive") << description;
        std::string error;
        model_ = simdrive::DriveSet::Parse(description, dir_.Path().string(), {}, "model", error);
        ASSERT_TRUE(model_) << error;
        arguments.insert(arguments.begin(), {"--study", "0"});
        const RunResult study = Run("Quellor", arguments);
        ASSERT_EQ(study.exitCode, 0) << study.out << study.err;
        judged_ = Run("c2report", {"--study", "Reference.wav", StudyFile()});
        ASSERT_EQ(judged_.exitCode, 0) << judged_.out << judged_.err;
        EXPECT_EQ(judged_.err, "");
    }
    RunResult Run(const std::string& program, const std::vector<std::string>& arguments) {
        return testing_support::RunProgram(
            testing_support::BuiltProgram(program), arguments,
            testing_support::StandInDriveOptions(dir_.Path(), dir_ / "drive.drive"));
    }
    std::string StudyFile() {
        return "SIMDRIVE" + model_->At(0).Settings().product + ".study.json";
    }
    Json Read(const std::string& name) const {
        std::ifstream file(dir_ / name);
        return Json::parse(file);
    }
    simdrive::Drive& Model() { return model_->At(0); }

    testing_support::TempDir dir_;
    std::optional<simdrive::DriveSet> model_;
    RunResult judged_;
};

TEST_F(QuellorStudyToReport, SixVerdictsEqualTheModelsTruthAndRankAsItDoes) {
    ASSERT_NO_FATAL_FAILURE(StudyAndJudge(kLaggingForms, {"--speeds", "8x,max"}));
    std::vector<PassTruth> truths;
    for (const FormCase& form : kLagging) {
        for (const SpeedCase& speed : kSpeeds) {
            SCOPED_TRACE(std::string(form.name) + " " + speed.name);
            const std::uint32_t kBps = Model().SelectSpeed(speed.requestKBps);
            ASSERT_EQ(Model().HonestyOf(form.form, kBps).Lag(), form.lagBytes);
            PassTruth t = Count(Model(), form, kBps);
            t.row = std::string(form.name) + " " + speed.name;
            const Json v =
                Read("SIMDRIVESTUDY." + std::string(form.name) + "." + speed.name + ".report.json");
            ExpectVerdictIsTruth(v, form, t);
            EXPECT_EQ(v["study"]["speedRequested"], speed.name);
            EXPECT_EQ(v["study"]["speedReportedKBps"], kBps);
            truths.push_back(t);
        }
    }
    // Fewest missed first, then the smallest share of flags that are false; no two alike, so the
    // order is the model's and not a tie broken by name.
    auto key = [](const PassTruth& t) {
        return std::tuple(t.Missed(),
                          static_cast<double>(t.FalseFlags()) /
                              static_cast<double>(std::max<std::uint64_t>(t.flagged, 1)));
    };
    std::sort(truths.begin(), truths.end(),
              [&](const PassTruth& a, const PassTruth& b) { return key(a) < key(b); });
    const std::string& out = judged_.out;
    std::size_t at = out.find("Passes ranked");
    ASSERT_NE(at, std::string::npos) << out;
    for (std::size_t rank = 0; rank < truths.size(); ++rank) {
        if (rank > 0) {
            EXPECT_NE(key(truths[rank - 1]), key(truths[rank]));
        }
        const std::string row = "\n  " + std::to_string(rank + 1) + "  " + truths[rank].row + " ";
        const std::size_t found = out.find(row, at);
        ASSERT_NE(found, std::string::npos) << row << "\n" << out;
        at = found + row.size();
    }
    EXPECT_NE(out.find("Study page:          SIMDRIVESTUDY.study.html\n"), std::string::npos);
}

// Read without --speeds: the study file leaves the speed null and c2report names it the drive's
// own; each form's granularity is the model's.
TEST_F(QuellorStudyToReport, ExactBytesWholeSamplesAndWholeSectorsAtTheDrivesOwnSpeed) {
    ASSERT_NO_FATAL_FAILURE(StudyAndJudge(kGranularForms, {}));
    ASSERT_TRUE(Read(StudyFile())["passes"][0]["speedRequested"].is_null());
    std::vector<PassTruth> truths;
    for (const FormCase& form : kGranular) {
        SCOPED_TRACE(form.name);
        const std::string name = "SIMDRIVEGRAINS." + std::string(form.name);
        EXPECT_NE(judged_.out.find("  " + std::string(form.name) +
                                   " at drive's own speed: " + name + ".report.html\n"),
                  std::string::npos)
            << judged_.out;
        EXPECT_NE(judged_.out.find("  " + std::string(form.name) + " drive's own speed "),
                  std::string::npos);
        const Json v = Read(name + ".report.json");
        truths.push_back(Count(Model(), form, Model().ReadSpeed()));
        ExpectVerdictIsTruth(v, form, truths.back());
        EXPECT_TRUE(v["study"]["speedRequested"].is_null());
        EXPECT_EQ(v["study"]["speedReportedKBps"], Model().ReadSpeed());
    }
    // The three drives are told apart: whole samples put false flags beside wrong bytes (exact
    // bytes only by the odd intact byte flagged), whole sectors flag sectors whole.
    EXPECT_EQ(truths[0].sectorsFlaggedWhole, 0U);
    EXPECT_GT(truths[1].onWrongSample, 10 * truths[0].onWrongSample);
    EXPECT_GT(truths[2].sectorsFlaggedWhole, 0U);
    const std::string html = testing_support::ReadFileText(dir_ / "SIMDRIVEGRAINS.study.html");
    EXPECT_NE(html.find("<th>drive's own speed</th>"), std::string::npos);
}

// The study made shareable: every count the submission states is its verdict's, --verify finds
// each from the evidence alone, and a submission changed anywhere is caught. The study is judged
// from a folder whose path names its user: no byte of that path, nor a file name, is shared.
TEST_F(QuellorStudyToReport, TheSubmissionStatesEveryVerdictAndEachIsFoundAgainFromItsEvidence) {
    ASSERT_NO_FATAL_FAILURE(StudyAndJudge(kLaggingForms, {"--speeds", "8x,max"}));
    const std::filesystem::path home = dir_ / "home" / "alice.smith" / "CD study";
    std::filesystem::create_directories(home);
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
        if (entry.is_regular_file()) {
            std::filesystem::rename(entry.path(), home / entry.path().filename());
        }
    }
    const RunResult judged = Run(
        "c2report", {"--study", (home / "Reference.wav").string(), (home / StudyFile()).string()});
    ASSERT_EQ(judged.exitCode, 0) << judged.out << judged.err;
    const std::string submissionName = "SIMDRIVESTUDY.submission.json";
    EXPECT_NE(judged.out.find("Submission to share: " + (home / submissionName).string() + ", "),
              std::string::npos)
        << judged.out;
    const std::string text = testing_support::ReadFileText(home / submissionName);
    for (const std::string& secret :
         std::vector<std::string>{"alice", "home", dir_.Path().string(), std::string(".wav"),
                                  std::string(".c2"), std::string("SIMDRIVESTUDY")}) {
        EXPECT_EQ(text.find(secret), std::string::npos) << secret;
    }
    Json submission = Json::parse(text);
    ASSERT_EQ(submission["passes"].size(), 6U);
    for (const Json& pass : submission["passes"]) {
        const std::string name = "SIMDRIVESTUDY." + pass["form"].get<std::string>() + "." +
                                 pass["speedRequested"].get<std::string>();
        SCOPED_TRACE(name);
        std::ifstream file(home / (name + ".report.json"));
        const Json v = Json::parse(file);
        for (const char* count : {"wrong", "flagged", "detected", "missed", "falseFlags"}) {
            EXPECT_EQ(pass["best"][count], v["c2"]["best"]["bytes"][count]) << count;
            EXPECT_EQ(pass["asDelivered"][count], v["c2"]["literal"]["bytes"][count]) << count;
        }
        EXPECT_EQ(pass["best"]["shiftPointerBits"], v["c2"]["best"]["shift"]["pointerBits"]);
        EXPECT_EQ(pass["bytesCompared"], v["bytesCompared"]);
        EXPECT_EQ(pass["offsetSamples"], v["alignment"]["offsetSamples"]);
        EXPECT_EQ(pass["granularity"]["wholeSectorsFlagged"],
                  v["flagGranularity"]["sectorsFlaggedWhole"]);
        EXPECT_EQ(pass["wavSha256"].get<std::string>().size(), 64U);
        EXPECT_FALSE(pass["evidence"].is_null());
    }

    const auto verify = [&](const Json& changed) {
        std::ofstream(home / "changed.json") << changed.dump(1);
        return Run("c2report", {"--verify", (home / "Reference.wav").string(),
                                (home / "changed.json").string()});
    };
    const RunResult verified = verify(submission);
    EXPECT_EQ(verified.exitCode, 0) << verified.out << verified.err;
    EXPECT_NE(verified.out.find("pass d8 max: every number matches\n"), std::string::npos)
        << verified.out;
    EXPECT_NE(verified.out.find("6 of 6 passes match.\n"), std::string::npos) << verified.out;

    struct Change {
        std::function<void(Json&)> change;
        std::string named;
    };
    const Change changes[] = {
        {[](Json& s) { s["passes"][2]["granularity"]["wholeSectorsFlagged"] = 3; },
         "pass d8 8x: granularity.wholeSectorsFlagged 3, re-judged 0"},
        {[](Json& s) { s["passes"][1]["best"]["detected"] = 1; },
         "passes[0].best.missed: 0 is not wrong - detected"},
        {[](Json& s) {
             std::string hash = s["passes"][4]["c2Sha256"];
             hash[10] = hash[10] == '0' ? '1' : '0';
             s["passes"][4]["c2Sha256"] = hash;
         },
         "pass density 8x: its evidence does not rebuild the files it names (c2Sha256 differs)"},
        {[](Json& s) {
             std::string evidence = s["passes"][0]["evidence"];
             evidence[evidence.size() / 2] = evidence[evidence.size() / 2] == 'A' ? 'B' : 'A';
             s["passes"][0]["evidence"] = evidence;
         },
         "passes[0].evidence"},
    };
    for (const Change& c : changes) {
        Json changed = submission;
        c.change(changed);
        // Only the changed pass is judged again: the others were found above.
        for (std::size_t i = changed["passes"].size(); i-- > 0;) {
            if (changed["passes"][i] == submission["passes"][i]) {
                changed["passes"].erase(i);
            }
        }
        const RunResult run = verify(changed);
        EXPECT_EQ(run.exitCode, 1) << c.named;
        EXPECT_NE((run.out + run.err).find(c.named), std::string::npos) << c.named << "\n"
                                                                        << run.out << run.err;
    }
}

}  // namespace
