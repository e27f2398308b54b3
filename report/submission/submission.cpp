#include "report/submission/submission.h"

#include <algorithm>
#include <array>
#include <cctype>

#include <nlohmann/json.hpp>

#include "report/comparison/alignment.h"
#include "report/comparison/cd_format.h"
#include "report/input/input_file.h"
#include "report/input/json_file.h"
#include "report/input/shared_fields.h"
#include "report/output/text.h"
#include "report/submission/evidence.h"

namespace report {
namespace {

using Json = nlohmann::ordered_json;

// Counts are exact in every JSON reader only up to 2^53.
constexpr std::int64_t kMaxCount = std::int64_t{1} << 53;
constexpr std::int32_t kMaxShiftBits = 3 * kSectorBytes;  // the comparison tries 3 sectors
constexpr std::int64_t kMostSubmittedTimes = 100;         // no CD drive reads faster
constexpr int kIndent = 1;

// --- Writing ------------------------------------------------------------------------------

Json Optional(const std::optional<std::string>& text) {
    return text ? Json(*text) : Json(nullptr);
}

Json CountsJson(const SubmissionCounts& c) {
    return Json{{"shiftPointerBits", c.shiftPointerBits},
                {"wrong", c.wrong},
                {"flagged", c.flagged},
                {"detected", c.detected},
                {"missed", c.missed},
                {"falseFlags", c.falseFlags}};
}

Json PassJson(const SubmissionPass& p) {
    const SubmissionFigures& f = p.figures;
    const SubmissionGranularity& g = f.granularity;
    return Json{
        {"form", p.form},
        {"speedRequested", Optional(p.speedRequested)},
        {"speedReportedKBps", p.speedReportedKBps ? Json(*p.speedReportedKBps) : Json(nullptr)},
        {"completed", p.completed},
        {"wavSha256", p.wavSha256},
        {"c2Sha256", p.c2Sha256},
        {"sectorsCompared", f.sectorsCompared},
        {"bytesCompared", f.bytesCompared},
        {"zeroFilledSectors", f.zeroFilledSectors},
        {"offsetSamples", f.offsetSamples},
        {"best", CountsJson(f.best)},
        {"asDelivered", CountsJson(f.asDelivered)},
        {"granularity", Json{{"otherByteOfWrongSample", g.otherByteOfWrongSample},
                             {"elsewhereInSectorWithErrors", g.elsewhereInSectorWithErrors},
                             {"inSectorWithoutErrors", g.inSectorWithoutErrors},
                             {"wholeSectorsFlagged", g.wholeSectorsFlagged}}},
        {"measuredKBps", p.measuredKBps ? Json(*p.measuredKBps) : Json(nullptr)},
        {"evidence", Optional(p.evidence)},
        {"evidenceOmitted", p.evidenceOmitted}};
}

Json SubmissionJson(const Submission& s) {
    Json passes = Json::array();
    for (const SubmissionPass& pass : s.passes) {
        passes.push_back(PassJson(pass));
    }
    return Json{{"format", kSubmissionFormat},
                {"formatVersion", kSubmissionFormatVersion},
                {"tool", Json{{"c2report", s.toolVersion}, {"platform", s.platform}}},
                {"drive", Json{{"vendor", s.drive.vendor},
                               {"product", s.drive.product},
                               {"revision", s.drive.revision},
                               {"vendorSpecific", Optional(s.drive.vendorSpecific)},
                               {"unit", Optional(s.drive.unit)},
                               {"transport", s.drive.transport}}},
                {"reference", Json{{"sha256", s.reference.sha256},
                                   {"bytes", s.reference.bytes},
                                   {"genuine", s.reference.genuine}}},
                {"passes", passes},
                {"month", s.month}};
}

// --- Reading ------------------------------------------------------------------------------

std::optional<std::string> OptionalPrintable(const JsonField& parent, const char* key,
                                             std::size_t length) {
    const auto field = parent.Optional(key);
    return field ? std::optional(Printable(*field, length)) : std::nullopt;
}

std::uint64_t Count(const JsonField& parent, const char* key) {
    return static_cast<std::uint64_t>(parent.Member(key).Integer(0, kMaxCount, "a count"));
}

// "2026-12": a month, and nothing finer.
std::string Month(const JsonField& field) {
    std::string text = field.String(7);
    const auto digits = [&](std::size_t from, std::size_t count) {
        return std::all_of(text.begin() + static_cast<std::ptrdiff_t>(from),
                           text.begin() + static_cast<std::ptrdiff_t>(from + count),
                           [](char c) { return c >= '0' && c <= '9'; });
    };
    const bool month = text.size() == 7 && digits(0, 4) && text[4] == '-' && digits(5, 2) &&
                       text.substr(5) >= "01" && text.substr(5) <= "12";
    if (!month) {
        field.Refuse("is not a month (\"2026-12\")");
    }
    return text;
}

// The counts of one alignment, and the arithmetic that ties them.
SubmissionCounts CountsFromJson(const JsonField& field, std::uint64_t bytesCompared) {
    SubmissionCounts c;
    c.shiftPointerBits = static_cast<std::int32_t>(
        field.Member("shiftPointerBits")
            .Integer(-kMaxShiftBits, kMaxShiftBits, "a shift the comparison tries"));
    c.wrong = Count(field, "wrong");
    c.flagged = Count(field, "flagged");
    c.detected = Count(field, "detected");
    c.missed = Count(field, "missed");
    c.falseFlags = Count(field, "falseFlags");
    if (c.wrong > bytesCompared) {
        field.Member("wrong").Refuse("is more than the bytes compared");
    }
    if (c.flagged > bytesCompared) {
        field.Member("flagged").Refuse("is more than the bytes compared");
    }
    if (c.detected > c.flagged) {
        field.Member("detected").Refuse("is more than the bytes flagged");
    }
    if (c.detected + c.missed != c.wrong) {
        field.Member("missed").Refuse("is not wrong - detected");
    }
    if (c.falseFlags != c.flagged - c.detected) {
        field.Member("falseFlags").Refuse("is not flagged - detected");
    }
    return c;
}

SubmissionGranularity GranularityFromJson(const JsonField& field, const SubmissionFigures& f) {
    SubmissionGranularity g;
    g.otherByteOfWrongSample = Count(field, "otherByteOfWrongSample");
    g.elsewhereInSectorWithErrors = Count(field, "elsewhereInSectorWithErrors");
    g.inSectorWithoutErrors = Count(field, "inSectorWithoutErrors");
    g.wholeSectorsFlagged = Count(field, "wholeSectorsFlagged");
    if (g.otherByteOfWrongSample + g.elsewhereInSectorWithErrors + g.inSectorWithoutErrors !=
        f.best.falseFlags) {
        field.Refuse("does not share out best.falseFlags");
    }
    if (g.wholeSectorsFlagged > static_cast<std::uint64_t>(f.sectorsCompared)) {
        field.Member("wholeSectorsFlagged").Refuse("is more than the sectors compared");
    }
    return g;
}

SubmissionFigures FiguresFromJson(const JsonField& p) {
    SubmissionFigures f;
    f.sectorsCompared = p.Member("sectorsCompared").Integer(0, kMaxDiscSectors, "a sector count");
    f.zeroFilledSectors = p.Member("zeroFilledSectors")
                              .Integer(0, f.sectorsCompared, "a count of the compared sectors");
    // Zero-filled sectors were not delivered, so they are not compared byte by byte.
    f.bytesCompared = Count(p, "bytesCompared");
    if (f.bytesCompared !=
        static_cast<std::uint64_t>(f.sectorsCompared - f.zeroFilledSectors) * kSectorBytes) {
        p.Member("bytesCompared").Refuse("is not 2,352 bytes per compared sector not zero-filled");
    }
    f.offsetSamples = static_cast<std::int32_t>(
        p.Member("offsetSamples")
            .Integer(-kDefaultSearchFrames, kDefaultSearchFrames, "a read offset c2report finds"));
    f.best = CountsFromJson(p.Member("best"), f.bytesCompared);
    f.asDelivered = CountsFromJson(p.Member("asDelivered"), f.bytesCompared);
    if (f.asDelivered.shiftPointerBits != 0) {
        p.Member("asDelivered").Member("shiftPointerBits").Refuse("is not 0");
    }
    f.granularity = GranularityFromJson(p.Member("granularity"), f);
    return f;
}

void EvidenceFromJson(const JsonField& p, SubmissionPass& pass) {
    pass.evidenceOmitted = p.Member("evidenceOmitted").Boolean();
    const auto evidence = p.Optional("evidence");
    if (!evidence && !pass.evidenceOmitted) {
        p.Member("evidence").Refuse("is null, and the pass does not say it was omitted");
    }
    if (evidence && pass.evidenceOmitted) {
        p.Member("evidenceOmitted").Refuse("is true, yet the pass holds evidence");
    }
    if (evidence) {
        pass.evidence = evidence->String(kMaxSubmissionBytes);
        const DecodedEvidence decoded = DecodeEvidence(*pass.evidence);
        if (!decoded.evidence) {
            evidence->Refuse(decoded.error);
        }
        if (decoded.evidence->offsetFrames != pass.figures.offsetSamples) {
            evidence->Refuse("was taken at another read offset than offsetSamples");
        }
        if (decoded.evidence->sectors < pass.figures.sectorsCompared) {
            evidence->Refuse("holds fewer sectors than sectorsCompared");
        }
    }
}

SubmissionPass PassFromJson(const JsonField& p) {
    SubmissionPass pass;
    pass.form = PassForm(p.Member("form"));
    if (const auto speed = p.Optional("speedRequested")) {
        pass.speedRequested = PassSpeed(*speed, kMostSubmittedTimes);
    }
    if (const auto reported = p.Optional("speedReportedKBps")) {
        pass.speedReportedKBps = reported->Integer(0, 65'535, "a speed in kB/s");
    }
    pass.completed = p.Member("completed").Boolean();
    pass.wavSha256 = Sha256Hex(p.Member("wavSha256"));
    pass.c2Sha256 = Sha256Hex(p.Member("c2Sha256"));
    pass.figures = FiguresFromJson(p);
    if (const auto measured = p.Optional("measuredKBps")) {
        pass.measuredKBps = measured->Number(0, 1e9, "a speed in kB/s");
    }
    EvidenceFromJson(p, pass);
    return pass;
}

Submission SubmissionFromJson(const JsonField& json) {
    Submission s;
    const JsonField tool = json.Member("tool");
    s.toolVersion = Printable(tool.Member("c2report"), 32);
    s.platform = OneOf(tool.Member("platform"), {"linux", "windows"});
    const JsonField drive = json.Member("drive");
    s.drive.vendor = Printable(drive.Member("vendor"), 8);
    s.drive.product = Printable(drive.Member("product"), 16);
    s.drive.revision = Printable(drive.Member("revision"), 4);
    s.drive.vendorSpecific = OptionalPrintable(drive, "vendorSpecific", 20);
    if (const auto unit = drive.Optional("unit")) {
        s.drive.unit = Sha256Hex(*unit);
    }
    s.drive.transport = Transport(drive.Member("transport"));
    const JsonField reference = json.Member("reference");
    s.reference.sha256 = Sha256Hex(reference.Member("sha256"));
    s.reference.bytes = Count(reference, "bytes");
    s.reference.genuine = reference.Member("genuine").Boolean();
    const JsonField passes = json.Member("passes");
    const std::vector<JsonField> fields = passes.Elements(kMaxSubmissionPasses);
    if (fields.empty()) {
        passes.Refuse("holds no pass");
    }
    for (const JsonField& pass : fields) {
        s.passes.push_back(PassFromJson(pass));
    }
    s.month = Month(json.Member("month"));
    return s;
}

constexpr JsonFormat kSubmission{kSubmissionFormat, kSubmissionFormatVersion,
                                 " is not a Marrowby submission.",
                                 " is a Marrowby submission of another format version (",
                                 " is not a usable Marrowby submission: "};

void AddDifference(std::string& text, const std::string& name, std::int64_t submitted,
                   std::int64_t rejudged) {
    if (submitted != rejudged) {
        text += (text.empty() ? "" : "; ") + name + " " + std::to_string(submitted) +
                ", re-judged " + std::to_string(rejudged);
    }
}

void AddCountDifferences(std::string& text, const std::string& name, const SubmissionCounts& a,
                         const SubmissionCounts& b) {
    AddDifference(text, name + ".shiftPointerBits", a.shiftPointerBits, b.shiftPointerBits);
    const auto i = [](std::uint64_t v) { return static_cast<std::int64_t>(v); };
    AddDifference(text, name + ".wrong", i(a.wrong), i(b.wrong));
    AddDifference(text, name + ".flagged", i(a.flagged), i(b.flagged));
    AddDifference(text, name + ".detected", i(a.detected), i(b.detected));
    AddDifference(text, name + ".missed", i(a.missed), i(b.missed));
    AddDifference(text, name + ".falseFlags", i(a.falseFlags), i(b.falseFlags));
}

}  // namespace

const char* SubmissionPlatform() {
#ifdef _WIN32
    return "windows";
#else
    return "linux";
#endif
}

std::string SubmissionText(Submission& submission) {
    // The size without any evidence, then each pass's evidence in order while it fits.
    std::vector<std::optional<std::string>> evidence;
    for (SubmissionPass& pass : submission.passes) {
        evidence.push_back(std::move(pass.evidence));
        pass.evidence.reset();
        pass.evidenceOmitted = true;
    }
    std::uint64_t size = SubmissionJson(submission).dump(kIndent).size();
    for (std::size_t i = 0; i < submission.passes.size(); ++i) {
        SubmissionPass& pass = submission.passes[i];
        // `"evidence": null, "evidenceOmitted": true` becomes `"...", false`: the quotes, one
        // letter more, and the evidence less "null".
        const std::uint64_t grows = evidence[i] ? evidence[i]->size() + 3 : 0;
        if (evidence[i] && size + grows < kMaxSubmissionBytes) {
            pass.evidence = std::move(evidence[i]);
            pass.evidenceOmitted = false;
            size += grows;
        }
    }
    return SubmissionJson(submission).dump(kIndent) + '\n';
}

std::optional<Submission> ParseSubmission(const std::string& path, std::string_view text,
                                          std::string& error) {
    const JsonLimits limits{kMaxSubmissionBytes, 16};
    if (text.size() > limits.maxBytes) {
        error = Quoted(path) + " is larger than 16 MB: not a submission.";
        return std::nullopt;
    }
    const auto json = ParseFormatJson(path, text, limits, kSubmission, error);
    if (!json) {
        return std::nullopt;
    }
    return DecodeJson(*json, path, kSubmission, SubmissionFromJson, error);
}

std::optional<Submission> ReadSubmission(const std::string& path, std::string& error) {
    const auto text = ReadSmallInput(path, kMaxSubmissionBytes, error);
    return text ? ParseSubmission(path, *text, error) : std::nullopt;
}

std::string Differences(const SubmissionFigures& a, const SubmissionFigures& b) {
    std::string text;
    AddDifference(text, "sectorsCompared", a.sectorsCompared, b.sectorsCompared);
    AddDifference(text, "bytesCompared", static_cast<std::int64_t>(a.bytesCompared),
                  static_cast<std::int64_t>(b.bytesCompared));
    AddDifference(text, "zeroFilledSectors", a.zeroFilledSectors, b.zeroFilledSectors);
    AddDifference(text, "offsetSamples", a.offsetSamples, b.offsetSamples);
    AddCountDifferences(text, "best", a.best, b.best);
    AddCountDifferences(text, "asDelivered", a.asDelivered, b.asDelivered);
    const SubmissionGranularity &g = a.granularity, &h = b.granularity;
    const auto i = [](std::uint64_t v) { return static_cast<std::int64_t>(v); };
    AddDifference(text, "granularity.otherByteOfWrongSample", i(g.otherByteOfWrongSample),
                  i(h.otherByteOfWrongSample));
    AddDifference(text, "granularity.elsewhereInSectorWithErrors", i(g.elsewhereInSectorWithErrors),
                  i(h.elsewhereInSectorWithErrors));
    AddDifference(text, "granularity.inSectorWithoutErrors", i(g.inSectorWithoutErrors),
                  i(h.inSectorWithoutErrors));
    AddDifference(text, "granularity.wholeSectorsFlagged", i(g.wholeSectorsFlagged),
                  i(h.wholeSectorsFlagged));
    return text;
}

}  // namespace report
