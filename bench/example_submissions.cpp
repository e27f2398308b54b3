#include "bench/example_submissions.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <thread>
#include <vector>

#include "report/output/summary.h"
#include "runtime/sha256.h"

namespace bench {
namespace {

constexpr std::uint64_t kSectorBytes = 2352;

std::string HashOf(std::string_view text) {
    return runtime::Sha256Hex(
        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// splitmix64: a fast, well-mixed sequence from any seed.
class Mixer {
public:
    explicit Mixer(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t Below(std::uint64_t bound) { return Next() % bound; }
    // A fraction in [0, 1).
    double Fraction() { return static_cast<double>(Next() >> 11) / 9007199254740992.0; }

private:
    std::uint64_t state_;
};

// Each product has its own manners, so that a generated pool ranks its models apart.
struct ProductManners {
    const char* product;
    double detection;      // the share of wrong bytes its pointers flag
    double falseFlagging;  // false flags per wrong byte
    std::int32_t lagBits;  // how late its pointers come
};

constexpr std::array<ProductManners, 6> kProducts{{
    {"HONEST 40", 0.995, 0.001, 0},
    {"SPEEDY 52X", 0.93, 0.02, 0},
    {"LAGGARD 24", 0.97, 0.01, 16},
    {"QUIET 48", 0.40, 0.002, 0},
    {"NOISY 32", 0.90, 0.6, 8},
    {"PLAIN 16", 0.75, 0.05, 0},
}};
constexpr std::array<const char*, 3> kRevisions{"1.00", "1.02", "2.01"};
constexpr std::array<const char*, 4> kForms{"readcd14", "d8", "density", "readcd12"};
constexpr std::array<const char*, 5> kSpeeds{"4x", "8x", "16x", "max", ""};  // "": the default
constexpr std::array<const char*, 3> kTransports{"usb", "ata", "scsi"};

ExamplePassCounts GeneratedCounts(Mixer& mix, const ProductManners& manners, int pass) {
    ExamplePassCounts c;
    c.form = kForms[static_cast<std::size_t>(pass) % kForms.size()];
    const char* speed = kSpeeds[mix.Below(kSpeeds.size())];
    c.speed = *speed != '\0' ? std::optional<std::string>(speed) : std::nullopt;
    c.sectors = 20'000 + static_cast<std::int64_t>(mix.Below(40'000));
    c.zeroFilled = mix.Below(4) == 0 ? static_cast<std::int64_t>(mix.Below(30)) : 0;
    c.wrong = mix.Below(5) == 0 ? mix.Below(2'000) : 5'000 + mix.Below(200'000);
    const double detection =
        std::clamp(manners.detection + (mix.Fraction() - 0.5) * 0.04, 0.0, 1.0);
    c.detected = static_cast<std::uint64_t>(static_cast<double>(c.wrong) * detection);
    c.falseFlags = static_cast<std::uint64_t>(static_cast<double>(c.wrong) * manners.falseFlagging *
                                              (0.5 + mix.Fraction()));
    c.lagBits = manners.lagBits;
    c.literalDetected = manners.lagBits == 0 ? c.detected : c.detected / 3;
    c.otherByteOfWrongSample = c.falseFlags / 4;
    c.elsewhereInSectorWithErrors = c.falseFlags / 4;
    c.wholeSectorsFlagged = std::min<std::uint64_t>(c.falseFlags / kSectorBytes, 10);
    const double times = c.speed && *c.speed != "max" ? std::stod(*c.speed) : 24.0;
    c.measuredKBps = static_cast<double>(static_cast<std::int64_t>(
                         times * 176.4 * (0.9 + 0.1 * mix.Fraction()) * 10.0)) /
                     10.0;
    return c;
}

void WriteExample(const std::string& folder, std::uint64_t index, const ExampleOptions& options,
                  std::string& error) {
    char name[32];
    std::snprintf(name, sizeof name, "example-%06llu.json", static_cast<unsigned long long>(index));
    const std::filesystem::path path = std::filesystem::path(folder) / name;
    report::Submission s = GeneratedSubmission(index, options);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << report::SubmissionText(s);
    file.close();
    if (!file) {
        error = "Cannot write \"" + path.string() + "\".";
    }
}

}  // namespace

report::SubmissionPass ExamplePass(std::string_view seed, const ExamplePassCounts& c) {
    report::SubmissionPass pass;
    pass.form = c.form;
    pass.speedRequested = c.speed;
    pass.speedReportedKBps = 1411;
    pass.completed = true;
    pass.wavSha256 = HashOf(std::string(seed) + "/wav");
    pass.c2Sha256 = HashOf(std::string(seed) + "/c2");
    report::SubmissionFigures& f = pass.figures;
    f.sectorsCompared = c.sectors;
    f.zeroFilledSectors = c.zeroFilled;
    f.bytesCompared = static_cast<std::uint64_t>(c.sectors - c.zeroFilled) * kSectorBytes;
    f.offsetSamples = 6;
    const std::uint64_t flagged = c.detected + c.falseFlags;
    f.best = {c.lagBits, c.wrong, flagged, c.detected, c.wrong - c.detected, c.falseFlags};
    f.asDelivered = {0,
                     c.wrong,
                     flagged,
                     c.literalDetected,
                     c.wrong - c.literalDetected,
                     flagged - c.literalDetected};
    f.granularity = {c.otherByteOfWrongSample, c.elsewhereInSectorWithErrors,
                     c.falseFlags - c.otherByteOfWrongSample - c.elsewhereInSectorWithErrors,
                     c.wholeSectorsFlagged};
    pass.measuredKBps = c.measuredKBps;
    pass.evidenceOmitted = true;
    return pass;
}

report::Submission ExampleSubmission(const ExampleDrive& drive) {
    report::Submission s;
    s.toolVersion = "1.1.0";
    s.platform = "linux";
    s.drive.vendor = drive.vendor;
    s.drive.product = drive.product;
    s.drive.revision = drive.revision;
    if (drive.unit) {
        s.drive.unit = HashOf(*drive.unit);
    }
    s.drive.transport = "usb";
    s.reference = {report::kGenuineReferenceSha256, 783'216'044, true};
    s.month = "2026-12";
    return s;
}

report::Submission GeneratedSubmission(std::uint64_t index, const ExampleOptions& options) {
    Mixer mix(options.seed * 0x100000001B3ull + index);
    const ProductManners& manners = kProducts[mix.Below(kProducts.size())];
    ExampleDrive drive;
    drive.vendor = options.vendor;
    drive.product = manners.product;
    drive.revision = kRevisions[mix.Below(kRevisions.size())];
    if (mix.Below(4) != 0) {
        drive.unit = "unit " + std::to_string(mix.Below(50'000));
    }
    report::Submission s = ExampleSubmission(drive);
    s.drive.transport = kTransports[mix.Below(kTransports.size())];
    s.month = "2026-" + std::string(mix.Below(9) == 0 ? "01" : "12");
    const std::string seed = std::to_string(options.seed) + "/" + std::to_string(index) + "/";
    for (int p = 0; p < options.passes; ++p) {
        s.passes.push_back(ExamplePass(seed + std::to_string(p), GeneratedCounts(mix, manners, p)));
    }
    return s;
}

bool WriteExamples(const std::string& folder, std::uint64_t count, const ExampleOptions& options,
                   std::string& error) {
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    if (failure) {
        error = "Cannot create the folder \"" + folder + "\": " + failure.message() + ".";
        return false;
    }
    // Each worker writes every `workers`th file; the files do not depend on the order.
    const unsigned workers = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
    std::vector<std::string> errors(workers);
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            for (std::uint64_t i = 1 + w; i <= count && errors[w].empty(); i += workers) {
                WriteExample(folder, i, options, errors[w]);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const std::string& text : errors) {
        if (!text.empty()) {
            error = text;
            return false;
        }
    }
    return true;
}

}  // namespace bench
