// A pool held in plain containers, for tests of the statistics and the site without SQLite:
// each added pass is counted in its submission, which lists it too.
#pragma once

#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>

#include "pool/pooled.h"

namespace pool_test {

// A counted pass of `submission` with the best alignment's counts; as delivered, the same
// counts with `literalDetected` detected.
inline pool::CountedPass Pass(std::int64_t submission, pool::DriveModel model, std::string revision,
                              std::string form, std::string speed, std::uint64_t wrong,
                              std::uint64_t detected, std::uint64_t falseFlags,
                              std::uint64_t bytesCompared = 10'000'000) {
    pool::CountedPass pass;
    pass.submission = submission;
    pass.model = std::move(model);
    pass.revision = std::move(revision);
    pass.form = std::move(form);
    pass.speed = std::move(speed);
    auto& f = pass.figures;
    f.bytesCompared = bytesCompared;
    f.best = {0, wrong, detected + falseFlags, detected, wrong - detected, falseFlags};
    f.asDelivered = f.best;
    return pass;
}

class MemoryPool : public pool::PoolReader {
public:
    void Add(const pool::CountedPass& pass) {
        passes_.push_back(pass);
        ++models_[pass.model];
        ++changes_;
        auto& listed = submissions_[pass.model][pass.submission];
        char id[16];
        std::snprintf(id, sizeof id, "%012llx", static_cast<unsigned long long>(pass.submission));
        listed.id = id;
        listed.arrival = pass.submission;
        listed.revision = pass.revision;
        listed.unit = pass.unit;
        listed.passes.push_back({pass.form, pass.speed, pass.figures, pass.measuredKBps, {}});
    }
    void RemoveModel(const pool::DriveModel& model) {
        std::erase_if(passes_, [&](const pool::CountedPass& p) { return p.model == model; });
        models_.erase(model);
        submissions_.erase(model);
        ++changes_;
    }
    int copies = 0;
    bool failing = false;
    bool refuseCopy = false;  // reading a model's submissions throws, as a damaged pool would

    void ForEachCountedPass(const std::function<void(const pool::CountedPass&)>& visit) override {
        for (const auto& pass : passes_) {
            visit(pass);
        }
    }
    std::vector<pool::ModelState> Models() override {
        std::vector<pool::ModelState> models;
        for (const auto& [model, changes] : models_) {
            models.push_back({model, changes});
        }
        return models;
    }
    void ForEachSubmissionOf(
        const pool::DriveModel& model,
        const std::function<void(const pool::ListedSubmission&)>& visit) override {
        for (const auto& [arrival, submission] : submissions_[model]) {
            if (failing) {
                throw std::runtime_error("the pool could not be read");
            }
            visit(submission);
        }
    }
    std::int64_t Changes() override { return changes_; }
    bool CopyTo(const std::string& path, std::string& error) override {
        ++copies;
        if (refuseCopy) {
            error = "The copy failed.";
            return false;
        }
        std::ofstream file(path);
        file << "pool at change " << changes_ << '\n';
        file.close();
        error = "no room for the copy";
        return !file.fail();
    }

private:
    std::vector<pool::CountedPass> passes_;
    std::map<pool::DriveModel, std::int64_t> models_;
    std::map<pool::DriveModel, std::map<std::int64_t, pool::ListedSubmission>> submissions_;
    std::int64_t changes_ = 0;
};

}  // namespace pool_test
