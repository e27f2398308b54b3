// What the site reads from a pool: the counted passes (each distinct pass once, in the
// submission that brought it first), the models with a counter of their changes, and each
// model's submissions. The store implements it over SQLite; tests of the statistics and the
// pages may implement it over plain vectors.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "report/submission/submission.h"

namespace pool {

// A drive model is (vendor, product); a drive is the model at one firmware revision.
struct DriveModel {
    std::string vendor;
    std::string product;
    friend auto operator<=>(const DriveModel&, const DriveModel&) = default;
};

// One distinct pass (its wavSha256 and c2Sha256 both equal), counted once: in the submission
// that brought it first among those still in the pool.
struct CountedPass {
    std::int64_t submission = 0;  // the arrival number of that submission (1, 2, ...)
    DriveModel model;
    std::string revision;
    std::optional<std::string> unit;  // drive.unit of that submission
    std::string form;                 // readcd14, d8, density, readcd12
    std::string speed;                // speedRequested: "8x", "max"; "default" when null
    report::SubmissionFigures figures;
    std::optional<double> measuredKBps;
};

// A pass as its submission listed it, counted there or with an earlier submission.
struct ListedPass {
    std::string form;
    std::string speed;
    report::SubmissionFigures figures;
    std::optional<double> measuredKBps;
    std::optional<std::string> countedWith;  // the id of the earlier submission that counts it
};

struct ListedSubmission {
    std::string id;  // the first 12 hex digits of the SHA-256 of the submission's bytes
    std::int64_t arrival = 0;
    std::string revision;
    std::optional<std::string> unit;
    std::string transport;
    std::string platform;
    std::string toolVersion;
    std::string month;
    std::vector<ListedPass> passes;  // in the submission's order
};

// A model and a counter that changes whenever a submission of it is added or removed.
struct ModelState {
    DriveModel model;
    std::int64_t changes = 0;
};

class PoolReader {
public:
    virtual ~PoolReader() = default;
    virtual void ForEachCountedPass(const std::function<void(const CountedPass&)>& visit) = 0;
    // Every model with at least one submission, by vendor and product.
    [[nodiscard]] virtual std::vector<ModelState> Models() = 0;
    // The model's submissions by id.
    virtual void ForEachSubmissionOf(const DriveModel& model,
                                     const std::function<void(const ListedSubmission&)>& visit) = 0;
    // Changes whenever anything in the pool changes.
    [[nodiscard]] virtual std::int64_t Changes() = 0;
    // A consistent copy of the whole pool at `path` (a new file); false with `error` when not.
    [[nodiscard]] virtual bool CopyTo(const std::string& path, std::string& error) = 0;
};

}  // namespace pool
