#include "report/output/json_verdict.h"

#include <algorithm>

#include "report/comparison/cd_format.h"

#ifndef MARROWBY_VERSION
#define MARROWBY_VERSION "unknown"
#endif

namespace report {
namespace {

using Json = nlohmann::ordered_json;

// A rate of nothing is not zero: it is undefined, and stays null.
Json Rate(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? Json(nullptr)
                      : Json(static_cast<double>(part) / static_cast<double>(whole));
}

Json TallyJson(const Tally& t) {
    return Json{{"wrong", t.wrong},
                {"flagged", t.flagged},
                {"detected", t.detected},
                {"missed", t.Missed()},
                {"falseFlags", t.FalseFlags()},
                {"detectionRate", Rate(t.detected, t.wrong)},
                {"falseFlagRate", Rate(t.FalseFlags(), t.flagged)}};
}

Json ShiftJson(const C2Shift& shift) {
    return Json{{"pointerBits", shift.bits},
                {"sectors", shift.Sectors()},
                {"bytes", shift.Bytes()},
                {"bits", shift.BitsLeft()},
                {"text", shift.Describe()}};
}

Json PassJson(const C2Shift& shift, const PassResult& pass, std::uint64_t bytesCompared) {
    return Json{{"shift", ShiftJson(shift)},
                {"bytes", TallyJson(pass.bytes)},
                {"samples", TallyJson(pass.samples)},
                {"missedPerMillion", PerMillion(pass.bytes.Missed(), bytesCompared)}};
}

Json GranularityJson(const FlagGranularity& g, const C2Shift& shift) {
    return Json{{"alignment", shift.Describe()},
                {"falseFlags", g.falseFlags},
                {"onWrongSample", g.onWrongSample},
                {"inSectorsWithErrors", g.inSectorWithErrors},
                {"inSectorsWithoutErrors", g.inSectorWithoutErrors},
                {"sectorsFlaggedWhole", g.sectorsFlaggedWhole}};
}

Json StudyJson(const StudyPassIdentity& s) {
    return Json{
        {"vendor", s.vendor},
        {"product", s.product},
        {"revision", s.revision},
        {"form", s.form},
        {"speedRequested", s.speedRequested ? Json(*s.speedRequested) : Json(nullptr)},
        {"speedReportedKBps", s.speedReportedKBps ? Json(*s.speedReportedKBps) : Json(nullptr)},
        {"completed", s.completed}};
}

}  // namespace

double PerMillion(std::uint64_t count, std::uint64_t compared) {
    return compared == 0 ? 0.0 : 1e6 * static_cast<double>(count) / static_cast<double>(compared);
}

namespace {

Json ZeroFilledJson(const PassResult& pass) {
    Json runs = Json::array();
    const auto& sectors = pass.sectors;
    for (std::size_t s = 0; s < sectors.size(); ++s) {
        if (sectors[s].zeroFilled && (s == 0 || !sectors[s - 1].zeroFilled)) {
            std::size_t end = s;
            while (end < sectors.size() && sectors[end].zeroFilled) {
                ++end;
            }
            runs.push_back(Json{{"firstSector", s}, {"endSector", end}});
        }
    }
    return Json{
        {"sectors", pass.zeroFilledSectors}, {"wrongBytes", pass.undeliveredBytes}, {"runs", runs}};
}

Json RegionsJson(const PassResult& pass) {
    Json regions = Json::array();
    const std::vector<Region> all = WorstRegions(pass.sectors);
    for (std::size_t i = 0; i < std::min(all.size(), kWorstRegions); ++i) {
        const Region& r = all[i];
        regions.push_back(Json{{"firstSector", r.first},
                               {"endSector", r.end},
                               {"wrongBytes", r.bytes.wrong},
                               {"detectedBytes", r.bytes.detected},
                               {"missedBytes", r.bytes.Missed()},
                               {"falseFlagBytes", r.bytes.FalseFlags()},
                               {"zeroFilledSectors", r.zeroFilled}});
    }
    return regions;
}

Json FileJson(const InputFile& file) {
    return Json{{"path", file.path}, {"bytes", file.bytes}};
}

}  // namespace

std::uint64_t BytesCompared(const Verdict& v) {
    return static_cast<std::uint64_t>(v.coverage.Compared() - v.literal.zeroFilledSectors) *
           kSectorBytes;
}

double MissedPerMillion(const Verdict& verdict) {
    return PerMillion(verdict.literal.bytes.Missed(), BytesCompared(verdict));
}

Json VerdictJson(const Verdict& v, const std::string& drive) {
    const Coverage& c = v.coverage;
    Json reference = FileJson(v.reference);
    reference["sha256"] = v.referenceSha256;
    reference["genuine"] = v.genuineReference;
    Json json{{"format", kVerdictFormat},
              {"formatVersion", kVerdictFormatVersion},
              {"tool", Json{{"name", "c2report"}, {"version", MARROWBY_VERSION}}},
              {"drive", drive},
              {"inputs", Json{{"reference", reference},
                              {"extraction", FileJson(v.extraction)},
                              {"c2", FileJson(v.c2)}}},
              {"alignment", Json{{"offsetSamples", v.alignment.offsetFrames},
                                 {"channelsSwapped", v.alignment.channelsSwapped},
                                 {"probeWindows", v.alignment.probes},
                                 {"agreeingWindows", v.alignment.agreeing},
                                 {"matchShare", v.alignment.matchShare},
                                 {"runnerUpShare", v.alignment.runnerUpShare}}},
              {"sectors", Json{{"reference", c.referenceSectors},
                               {"extraction", c.extractionSectors},
                               {"compared", c.Compared()},
                               {"firstCompared", c.firstCompared},
                               {"endCompared", c.endCompared},
                               {"withErrors", v.literal.sectorsWithErrors},
                               {"extraBefore", c.ExtraBefore()},
                               {"extraBeforeAllZero", c.extraBeforeAllZero},
                               {"extraAfter", c.ExtraAfter()},
                               {"extraAfterAllZero", c.extraAfterAllZero},
                               {"missingAtStart", c.missingAtStart},
                               {"missingAtEnd", c.missingAtEnd},
                               {"samplesOutsideReference", c.samplesOutsideReference}}},
              {"zeroFilled", ZeroFilledJson(v.literal)},
              {"bytesCompared", BytesCompared(v)},
              {"missedPerMillion", MissedPerMillion(v)},
              {"c2", Json{{"literal", PassJson(C2Shift{}, v.literal, BytesCompared(v))},
                          {"best", PassJson(v.best.shift, v.Best(), BytesCompared(v))}}},
              {"flagGranularity", GranularityJson(v.Best().granularity, v.best.shift)},
              {"worstRegions", RegionsJson(v.literal)}};
    if (v.study) {
        json["study"] = StudyJson(*v.study);
    }
    return json;
}

}  // namespace report
