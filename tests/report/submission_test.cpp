// The submission file: what is written reads back the same, the evidence is dropped whole,
// pass by pass, where it would pass 16 MB, and a file from a stranger is refused at the first
// rule it breaks, naming the field.
#include <gtest/gtest.h>

#include <functional>
#include <nlohmann/json.hpp>

#include "report/submission/submission.h"

namespace {

using Json = nlohmann::ordered_json;
using report::Submission;
using report::SubmissionPass;

constexpr const char* kHash = "058e838a14c24686f556042d9eb6f5ac50476c75fdce8265c94b80d5ceb30310";

SubmissionPass OmittedPass(const char* form, const char* speed) {
    SubmissionPass pass;
    pass.form = form;
    pass.speedRequested = speed;
    pass.speedReportedKBps = 1411;
    pass.completed = true;
    pass.wavSha256 = kHash;
    pass.c2Sha256 = kHash;
    auto& f = pass.figures;
    f.sectorsCompared = 1000;
    f.zeroFilledSectors = 2;
    f.bytesCompared = 998 * 2352;
    f.offsetSamples = 6;
    f.best = {2352, 500, 450, 420, 80, 30};
    f.asDelivered = {0, 500, 450, 10, 490, 440};
    f.granularity = {20, 6, 4, 1};
    pass.measuredKBps = 1410.5;
    return pass;
}

Submission Sample() {
    Submission s;
    s.toolVersion = "1.1.0";
    s.platform = "linux";
    s.drive = {"SIMDRIVE", "STUDY", "1.00", "serial text", std::string(kHash), "usb"};
    s.reference = {kHash, 783'216'044, true};
    s.passes = {OmittedPass("readcd14", "8x"), OmittedPass("d8", "max")};
    for (SubmissionPass& pass : s.passes) {
        pass.evidenceOmitted = true;
    }
    s.month = "2026-12";
    return s;
}

std::string Refusal(const std::function<void(Json&)>& change) {
    Submission sample = Sample();
    Json json = Json::parse(report::SubmissionText(sample));
    change(json);
    std::string error;
    EXPECT_FALSE(report::ParseSubmission("in.json", json.dump(), error)) << json.dump(1);
    return error;
}

TEST(Submission, ReadsBackWhatItWrites) {
    Submission written = Sample();
    const std::string text = report::SubmissionText(written);
    std::string error;
    const auto read = report::ParseSubmission("in.json", text, error);
    ASSERT_TRUE(read) << error;
    EXPECT_EQ(read->drive.vendorSpecific, "serial text");
    EXPECT_EQ(read->drive.transport, "usb");
    ASSERT_EQ(read->passes.size(), 2u);
    EXPECT_EQ(read->passes[1].speedRequested, "max");
    EXPECT_TRUE(read->passes[0].figures == written.passes[0].figures);
    EXPECT_EQ(read->passes[0].measuredKBps, 1410.5);
    EXPECT_EQ(read->month, "2026-12");
    // No path or name of the user's: the keys are the format's, the texts the drive's.
    EXPECT_EQ(text.find('/'), std::string::npos);
}

TEST(Submission, EvidenceThatWouldPassTheLimitIsOmittedWholeInPassOrder) {
    Submission s = Sample();
    s.passes[0].evidence = std::string(10u << 20, 'A');
    s.passes[1].evidence = std::string(10u << 20, 'B');
    const std::string text = report::SubmissionText(s);
    EXPECT_LT(text.size(), report::kMaxSubmissionBytes);
    EXPECT_FALSE(s.passes[0].evidenceOmitted);
    EXPECT_TRUE(s.passes[1].evidenceOmitted);
    EXPECT_FALSE(s.passes[1].evidence);
    const Json json = Json::parse(text);
    EXPECT_TRUE(json["passes"][1]["evidence"].is_null());
    EXPECT_EQ(json["passes"][1]["evidenceOmitted"], true);
}

TEST(Submission, RefusesWhatCannotBeTrueNamingTheField) {
    const std::pair<std::function<void(Json&)>, const char*> cases[] = {
        {[](Json& j) { j["formatVersion"] = 4294967297ULL; }, "another format version"},
        {[](Json& j) { j["format"] = "Quellor study"; }, "is not a Marrowby submission"},
        {[](Json& j) { j["drive"]["vendor"] = "NINE CHAR"; }, "drive.vendor"},
        {[](Json& j) { j["drive"]["product"] = "A\x1b[31m"; }, "printable ASCII"},
        {[](Json& j) { j["drive"]["transport"] = "firewire"; }, "drive.transport"},
        {[](Json& j) { j["drive"]["unit"] = "ABC"; }, "drive.unit"},
        {[](Json& j) { j["reference"]["sha256"] = std::string(64, 'G'); }, "reference.sha256"},
        {[](Json& j) { j["passes"] = Json::array(); }, "passes holds no pass"},
        {[](Json& j) { j["passes"][0]["form"] = "readcd99"; }, "passes[0].form"},
        {[](Json& j) { j["passes"][1]["speedRequested"] = "101x"; }, "passes[1].speedRequested"},
        {[](Json& j) { j["passes"][0]["sectorsCompared"] = -5; }, "passes[0].sectorsCompared"},
        {[](Json& j) { j["passes"][0]["best"]["wrong"] = 3.0; }, "passes[0].best.wrong"},
        {[](Json& j) { j["passes"][0]["best"]["wrong"] = 9007199254740993LL; }, "best.wrong"},
        {[](Json& j) { j["passes"][0]["best"]["missed"] = 81; }, "is not wrong - detected"},
        {[](Json& j) { j["passes"][0]["best"]["detected"] = 451; }, "more than the bytes flagged"},
        {[](Json& j) { j["passes"][0]["best"]["falseFlags"] = 29; }, "not flagged - detected"},
        {[](Json& j) { j["passes"][0]["bytesCompared"] = 2352; }, "passes[0].bytesCompared"},
        {[](Json& j) { j["passes"][0]["asDelivered"]["shiftPointerBits"] = 8; }, "is not 0"},
        {[](Json& j) { j["passes"][0]["granularity"]["inSectorWithoutErrors"] = 5; },
         "does not share out"},
        {[](Json& j) { j["passes"][0]["evidenceOmitted"] = false; }, "does not say it was omitted"},
        {[](Json& j) { j["passes"][0]["wavSha256"] = std::string(63, 'a'); }, "wavSha256"},
        {[](Json& j) { j["month"] = "2026-12-10T02:00"; }, "month"},
        {[](Json& j) {
             j["passes"] = Json::array({j["passes"][0]});
             for (int i = 0; i < 64; ++i)
                 j["passes"].push_back(j["passes"][0]);
         },
         "at most 64"},
    };
    for (const auto& [change, expected] : cases) {
        EXPECT_NE(Refusal(change).find(expected), std::string::npos)
            << "expected \"" << expected << "\" in: " << Refusal(change);
    }
}

TEST(Submission, RefusesNestingAndSizeBeforeReadingFields) {
    std::string error;
    EXPECT_FALSE(
        report::ParseSubmission("deep.json", std::string(20, '[') + std::string(20, ']'), error));
    EXPECT_NE(error.find("nested deeper than 16"), std::string::npos) << error;
    EXPECT_FALSE(report::ParseSubmission("big.json",
                                         std::string(report::kMaxSubmissionBytes + 1, ' '), error));
    EXPECT_NE(error.find("16 MB"), std::string::npos) << error;
}

}  // namespace
