#include "pool/c2pool.h"

#include <algorithm>
#include <filesystem>
#include <optional>

#include "pool/site.h"
#include "pool/store.h"
#include "report/input/input_file.h"
#include "report/output/text.h"

namespace pool {
namespace {

namespace fs = std::filesystem;

const char* const kUsage =
    "Usage : c2pool add <pool.sqlite> <submission.json or folder>...\n"
    "        c2pool remove <pool.sqlite> <id> --reason TEXT\n"
    "        c2pool site <pool.sqlite> <folder>\n"
    "        c2pool check <submission.json or folder>...";

// A batch is stored in one transaction: large enough that a pool of 10^5 submissions is written
// in a minute, small enough that another c2pool adding at the same time waits only briefly.
constexpr std::size_t kBatchFiles = 256;
constexpr std::size_t kBatchBytes = 32u << 20;
constexpr std::size_t kMostReasonBytes = 1000;
// Adds of fewer files end too soon to need a progress line.
constexpr std::size_t kProgressFrom = 1000;

// Every `*.json` in `folder`, by name; nothing below it.
std::vector<std::string> FolderFiles(const std::string& folder,
                                     std::vector<std::string>& failures) {
    std::vector<std::string> files;
    std::error_code failure;
    for (fs::directory_iterator entry(folder, failure), end; !failure && entry != end;
         entry.increment(failure)) {
        if (entry->path().extension() == ".json") {
            files.push_back(entry->path().string());
        }
    }
    if (failure) {
        failures.push_back("Cannot read the folder " + report::Quoted(folder) + " (" +
                           report::ConsoleText(failure.message()) + ").");
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The files named, a folder standing for its `*.json`.
std::vector<std::string> InputFiles(const std::vector<std::string>& names,
                                    std::vector<std::string>& failures) {
    std::vector<std::string> files;
    for (const std::string& name : names) {
        std::error_code failure;
        if (fs::symlink_status(name, failure).type() == fs::file_type::directory) {
            const std::vector<std::string> inFolder = FolderFiles(name, failures);
            files.insert(files.end(), inFolder.begin(), inFolder.end());
        } else {
            files.push_back(name);
        }
    }
    return files;
}

std::optional<Candidate> ReadCandidate(const std::string& path, std::string& error) {
    std::error_code failure;
    const fs::file_type type = fs::symlink_status(path, failure).type();
    if (type == fs::file_type::symlink) {
        error = report::Quoted(path) + " is a symbolic link: c2pool reads no links.";
        return std::nullopt;
    }
    if (type != fs::file_type::regular && type != fs::file_type::not_found) {
        error = report::Quoted(path) + " is not a regular file: c2pool reads only regular files.";
        return std::nullopt;
    }
    auto text = report::ReadSmallInput(path, report::kMaxSubmissionBytes, error);
    return text ? CheckCandidate(path, std::move(*text), error) : std::nullopt;
}

// "1,234 of 10,000 files (12 %)": rewritten in place on a terminal; elsewhere a line each
// time another tenth is done, so that a log holds a dozen lines.
class Progress {
public:
    Progress(std::ostream& out, std::size_t total, bool terminal)
        : out_(out), total_(total), terminal_(terminal), shown_(total >= kProgressFrom) {}

    void Show(std::size_t done) {
        if (!shown_) {
            return;
        }
        const std::size_t tenth = done * 10 / total_;
        if (!terminal_ && tenth == lastTenth_) {
            return;
        }
        lastTenth_ = tenth;
        const std::string text = "Adding: " + report::Grouped(done) + " of " +
                                 report::Grouped(total_) + " files (" +
                                 std::to_string(done * 100 / total_) + " %)";
        out_ << (terminal_ ? "\r" : "") << text << (terminal_ ? "" : "\n") << std::flush;
        onScreen_ = terminal_ ? text.size() : 0;
    }

    // Before a message on the same terminal: the line it would run into is wiped.
    void Clear() {
        if (onScreen_ > 0) {
            out_ << '\r' << std::string(onScreen_, ' ') << '\r' << std::flush;
            onScreen_ = 0;
        }
    }

    void End() {
        if (onScreen_ > 0) {
            out_ << '\n';
        }
    }

private:
    std::ostream& out_;
    std::size_t total_;
    bool terminal_;
    bool shown_;
    std::size_t lastTenth_ = 0;
    std::size_t onScreen_ = 0;  // characters of the line shown on the terminal
};

struct Tally {
    std::size_t accepted = 0, already = 0, refused = 0;
};

class Adding {
public:
    Adding(Store& store, Progress& progress, std::ostream& err)
        : store_(store), progress_(progress), err_(err) {}

    // False when the pool failed; the batch is then stored up to the submission that failed.
    [[nodiscard]] bool StoreBatch(std::vector<Candidate>& batch, std::vector<std::string>& paths) {
        try {
            Count(store_.Add(batch), paths);
            return true;
        } catch (const PoolFailure&) {
            // Stored one by one, the batch keeps every submission before the one that failed.
        }
        for (std::size_t i = 0; i < batch.size(); ++i) {
            try {
                Count(store_.Add(std::span(&batch[i], 1)), std::span(&paths[i], 1));
            } catch (const PoolFailure& failure) {
                progress_.Clear();
                err_ << failure.what() << '\n';
                return false;
            }
        }
        return true;
    }

    void Refuse(const std::string& sentence) {
        progress_.Clear();
        err_ << sentence << '\n';
        ++tally_.refused;
    }

    [[nodiscard]] const Tally& Counted() const { return tally_; }

private:
    void Count(const std::vector<AddOutcome>& outcomes, std::span<const std::string> paths) {
        for (std::size_t i = 0; i < outcomes.size(); ++i) {
            switch (outcomes[i].added) {
                case Added::accepted:
                    ++tally_.accepted;
                    break;
                case Added::alreadyInPool:
                    ++tally_.already;
                    break;
                case Added::removedBefore:
                    Refuse(report::Quoted(paths[i]) +
                           " was removed from the pool, and cannot come back: " +
                           report::ConsoleText(outcomes[i].reason));
                    break;
            }
        }
    }

    Store& store_;
    Progress& progress_;
    std::ostream& err_;
    Tally tally_;
};

int Add(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool terminal) {
    std::unique_ptr<Store> store;
    try {
        store = Store::Open(args[0], Store::Access::add);
    } catch (const PoolFailure& failure) {
        err << failure.what() << '\n';
        return kExitFailed;
    }
    std::vector<std::string> failures;
    const std::vector<std::string> files = InputFiles({args.begin() + 1, args.end()}, failures);
    Progress progress(out, files.size(), terminal);
    Adding adding(*store, progress, err);
    for (const std::string& failure : failures) {
        adding.Refuse(failure);
    }
    std::vector<Candidate> batch;
    std::vector<std::string> paths;
    std::size_t bytes = 0;
    bool stored = true;
    for (std::size_t i = 0; i < files.size() && stored; ++i) {
        std::string error;
        if (auto candidate = ReadCandidate(files[i], error)) {
            bytes += candidate->text.size();
            batch.push_back(std::move(*candidate));
            paths.push_back(files[i]);
        } else {
            adding.Refuse(error);
        }
        if (batch.size() >= kBatchFiles || bytes >= kBatchBytes || i + 1 == files.size()) {
            stored = batch.empty() || adding.StoreBatch(batch, paths);
            batch.clear();
            paths.clear();
            bytes = 0;
            progress.Show(i + 1);
        }
    }
    progress.End();
    const Tally& tally = adding.Counted();
    out << tally.accepted << " accepted, " << tally.already << " already in the pool, "
        << tally.refused << " refused.\n";
    return stored && tally.refused == 0 ? kExitOk : kExitFailed;
}

int Check(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> failures;
    const std::vector<std::string> files = InputFiles(args, failures);
    for (const std::string& failure : failures) {
        err << failure << '\n';
    }
    std::size_t valid = 0;
    for (const std::string& file : files) {
        std::string error;
        if (ReadCandidate(file, error)) {
            ++valid;
        } else {
            err << error << '\n';
        }
    }
    const std::size_t refused = files.size() - valid + failures.size();
    out << valid << " valid, " << refused << " refused.\n";
    return refused == 0 ? kExitOk : kExitFailed;
}

bool UsableReason(const std::string& reason) {
    return !reason.empty() && reason.size() <= kMostReasonBytes &&
           std::none_of(reason.begin(), reason.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

int Remove(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const std::string &path = args[0], &id = args[1], &reason = args[3];
    if (!IsSubmissionId(id)) {
        err << report::Quoted(id)
            << " is not a submission id (12 hex digits, as \"0123456789ab\").\n";
        return kExitFailed;
    }
    if (!UsableReason(reason)) {
        err << "The reason must be one line of text, of 1 to 1,000 characters.\n";
        return kExitFailed;
    }
    try {
        const auto store = Store::Open(path, Store::Access::change);
        const RemoveOutcome outcome = store->Remove(id, reason);
        switch (outcome.removed) {
            case Removed::removed:
                out << "Removed " << id << " from " << report::Quoted(path) << ".\n";
                return kExitOk;
            case Removed::alreadyRemoved:
                err << id << " was removed from " << report::Quoted(path)
                    << " already: " << report::ConsoleText(outcome.reason) << '\n';
                return kExitFailed;
            case Removed::unknown:
                break;
        }
        err << "There is no submission " << id << " in " << report::Quoted(path) << ".\n";
    } catch (const PoolFailure& failure) {
        err << failure.what() << '\n';
    }
    return kExitFailed;
}

int Site(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        const auto store = Store::Open(args[0], Store::Access::read);
        return WriteSite(*store, args[1], out, err) ? kExitOk : kExitFailed;
    } catch (const PoolFailure& failure) {
        err << failure.what() << '\n';
    }
    return kExitFailed;
}

}  // namespace

int RunC2Pool(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
              bool terminal) {
    const std::string command = arguments.empty() ? "" : arguments[0];
    const std::vector<std::string> args(arguments.begin() + (arguments.empty() ? 0 : 1),
                                        arguments.end());
    if (command == "add" && args.size() >= 2) {
        return Add(args, out, err, terminal);
    }
    if (command == "check" && !args.empty()) {
        return Check(args, out, err);
    }
    if (command == "remove" && args.size() == 4 && args[2] == "--reason") {
        return Remove(args, out, err);
    }
    if (command == "site" && args.size() == 2) {
        return Site(args, out, err);
    }
    err << kUsage << '\n';
    return kExitFailed;
}

}  // namespace pool
