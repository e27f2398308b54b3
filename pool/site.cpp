#include "pool/site.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "pool/pages.h"
#include "pool/statistics.h"
#include "report/input/json_file.h"
#include "report/output/output_file.h"
#include "report/output/text.h"

namespace pool {
namespace {

namespace fs = std::filesystem;
using report::Quoted;

// Kept in the site folder: what each model page was written from and what the file was then,
// so that a page whose model did not change is neither rebuilt nor read. Bumping kLayout (when
// the pages change shape) rewrites every page once.
const char* const kStateName = ".c2pool-site.json";
constexpr std::int64_t kLayout = 2;
constexpr std::size_t kMaxStatePages = 1'000'000;
const report::JsonFormat kStateFormat{"c2pool site state", 1, " is not a c2pool site state.",
                                      " is a c2pool site state of another format version (",
                                      " is not a usable c2pool site state: "};

// A file as last written: its size and modification time. Anyone who alters the file changes
// at least the time.
struct FileStamp {
    std::uint64_t bytes = 0;
    std::int64_t modified = 0;
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

struct PageState {
    std::int64_t changes = 0;  // the model's counter the page was written from
    FileStamp stamp;
};

struct SiteState {
    std::int64_t layout = 0;
    std::optional<std::int64_t> poolChanges;  // what pool.sqlite was copied from
    FileStamp sqlite;
    std::map<std::string, PageState> pages;
};

// The stamp of the regular file at `path`, never through a link; none otherwise.
std::optional<FileStamp> StampOf(const fs::path& path) {
    std::error_code failure;
    if (!fs::is_regular_file(fs::symlink_status(path, failure))) {
        return std::nullopt;
    }
    const auto bytes = fs::file_size(path, failure);
    if (failure) {
        return std::nullopt;
    }
    const auto time = fs::last_write_time(path, failure);
    if (failure) {
        return std::nullopt;
    }
    return FileStamp{bytes, static_cast<std::int64_t>(time.time_since_epoch().count())};
}

FileStamp DecodeStamp(const report::JsonField& field) {
    return {
        static_cast<std::uint64_t>(field.Member("bytes").Integer(0, INT64_MAX, "a size in bytes")),
        field.Member("modified").Integer(INT64_MIN, INT64_MAX, "a time")};
}

SiteState DecodeState(const report::JsonField& root) {
    SiteState state;
    state.layout = root.Member("layout").Integer(0, INT64_MAX, "a layout");
    if (const auto changes = root.Optional("poolChanges")) {
        state.poolChanges = changes->Integer(INT64_MIN, INT64_MAX, "a count of changes");
        state.sqlite = DecodeStamp(root.Member("sqlite"));
    }
    for (const report::JsonField& page : root.Member("pages").Elements(kMaxStatePages)) {
        const report::JsonField file = page.Member("file");
        std::string name = file.String(255);
        if (!IsModelPageName(name)) {
            file.Refuse("is not the name of a model page");
        }
        state.pages[std::move(name)] = {
            page.Member("changes").Integer(INT64_MIN, INT64_MAX, "a count of changes"),
            DecodeStamp(page)};
    }
    return state;
}

// The state left by the last run; empty (everything compared afresh) when there is none or it
// cannot be trusted.
SiteState ReadState(const fs::path& folder) {
    const std::string path = (folder / kStateName).string();
    if (!StampOf(path)) {
        return {};
    }
    std::string error;
    const auto json = report::ReadFormatJson(path, kStateFormat, error);
    if (!json) {
        return {};
    }
    auto state = report::DecodeJson(*json, path, kStateFormat, DecodeState, error);
    return state && state->layout == kLayout ? *state : SiteState{};
}

nlohmann::ordered_json StampJson(const FileStamp& stamp) {
    return {{"bytes", stamp.bytes}, {"modified", stamp.modified}};
}

void WriteState(const SiteState& state, std::ostream& out) {
    nlohmann::ordered_json json{
        {"format", kStateFormat.format},
        {"formatVersion", kStateFormat.version},
        {"layout", state.layout},
    };
    if (state.poolChanges) {
        json["poolChanges"] = *state.poolChanges;
        json["sqlite"] = StampJson(state.sqlite);
    }
    auto& pages = json["pages"] = nlohmann::ordered_json::array();
    for (const auto& [name, page] : state.pages) {
        nlohmann::ordered_json entry = StampJson(page.stamp);
        entry["file"] = name;
        entry["changes"] = page.changes;
        pages.push_back(std::move(entry));
    }
    out << json.dump(1) << '\n';
}

// The whole of a regular file (not a link), or nothing.
std::optional<std::string> ExistingText(const fs::path& path, std::uint64_t expectedBytes) {
    const auto stamp = StampOf(path);
    if (!stamp || stamp->bytes != expectedBytes) {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return in ? std::optional(text.str()) : std::nullopt;
}

// Writes the files of one run, each whole and only when its content changed, and says which.
class SiteWriter {
public:
    SiteWriter(fs::path folder, std::ostream& out, std::ostream& err)
        : folder_(std::move(folder)), out_(out), err_(err) {}

    // Writes `name` with `content` unless it already holds exactly that; false, with the
    // message given, when it could not.
    [[nodiscard]] bool Put(const std::string& name, const std::string& content) {
        const fs::path path = folder_ / name;
        if (ExistingText(path, content.size()) == content) {
            ++unchanged_;
            return true;
        }
        return Stream(name, [&](std::ostream& o) { o << content; });
    }

    // Writes `name` through `write` without comparing: for content known to have changed,
    // which may be too large to hold twice.
    [[nodiscard]] bool Stream(const std::string& name,
                              const std::function<void(std::ostream&)>& write) {
        const fs::path path = folder_ / name;
        if (!report::WriteWholeFile(path.string(), write)) {
            return Failed(path, "");
        }
        Wrote(name);
        return true;
    }

    // pool.sqlite, copied from the pool under a temporary name and renamed into place.
    [[nodiscard]] bool CopyPool(PoolReader& pool, const std::string& name) {
        const fs::path path = folder_ / name;
        std::string error;
        if (!report::PlaceWholeFile(path.string(), [&](const std::string& temporary) {
                return pool.CopyTo(temporary, error);
            })) {
            return Failed(path, error);
        }
        Wrote(name);
        return true;
    }

    void Remove(const std::string& name) {
        std::error_code failure;
        if (fs::remove(folder_ / name, failure)) {
            out_ << "  removed " << name << '\n';
            ++removed_;
        }
    }

    // `why`: the sentence of whoever failed, if any.
    bool Failed(const fs::path& path, std::string why) {
        if (why.ends_with('.')) {
            why.pop_back();
        }
        err_ << "Cannot write " << Quoted(path.string()) << " ("
             << (why.empty() ? "the disk is full or the folder refused it" : why)
             << "); the file is as it was before.\n";
        return false;
    }

    void Unchanged() { ++unchanged_; }
    [[nodiscard]] const fs::path& Folder() const { return folder_; }

    void Summary() {
        out_ << written_ << (written_ == 1 ? " file" : " files") << " written, " << unchanged_
             << " unchanged";
        if (removed_ > 0) {
            out_ << ", " << removed_ << " removed";
        }
        out_ << ".\n";
    }

private:
    void Wrote(const std::string& name) {
        out_ << "  wrote " << name << '\n';
        ++written_;
    }

    fs::path folder_;
    std::ostream& out_;
    std::ostream& err_;
    int written_ = 0, unchanged_ = 0, removed_ = 0;
};

template <typename Write>
std::string Built(Write write) {
    std::ostringstream text;
    write(text);
    return text.str();
}

// Each model's rows, in ranking order.
std::map<DriveModel, std::vector<const RowFigures*>> RowsByModel(const PoolFigures& figures) {
    std::map<DriveModel, std::vector<const RowFigures*>> rows;
    for (const RowFigures& row : figures.rows) {
        rows[{row.key.vendor, row.key.product}].push_back(&row);
    }
    return rows;
}

class SiteRun {
public:
    SiteRun(PoolReader& pool, const fs::path& folder, std::ostream& out, std::ostream& err)
        : pool_(pool), writer_(folder, out, err), old_(ReadState(folder)) {
        state_.layout = kLayout;
    }

    bool Run() {
        if (old_.poolChanges > pool_.Changes()) {
            old_ = {};  // another pool, whose counters of changes mean nothing here
        }
        const PoolFigures figures = ComputeFigures(pool_);
        // Pages first, the index that links them after, stale pages last: a reader following
        // a link always finds its page.
        const bool written =
            ModelPages(figures) &&
            writer_.Put("pool.csv", Built([&](std::ostream& o) { WritePoolCsv(figures, o); })) &&
            writer_.Put("pool.json", Built([&](std::ostream& o) { WritePoolJson(figures, o); })) &&
            PoolCopy() &&
            writer_.Put("index.html", Built([&](std::ostream& o) { WriteIndexPage(figures, o); }));
        if (written) {
            RemoveStalePages();
        }
        if (!written) {
            // The pages not reached are as the last run left them, and so are their records.
            state_.pages.insert(old_.pages.begin(), old_.pages.end());
            if (!state_.poolChanges) {
                state_.poolChanges = old_.poolChanges;
                state_.sqlite = old_.sqlite;
            }
        }
        const bool saved = SaveState();
        if (written && saved) {
            writer_.Summary();
        }
        return written && saved;
    }

private:
    bool ModelPages(const PoolFigures& figures) {
        const auto rows = RowsByModel(figures);
        static const std::vector<const RowFigures*> kNoRows;
        for (const ModelState& model : pool_.Models()) {
            const std::string name = ModelPageName(model.model);
            current_.insert(name);
            const fs::path path = writer_.Folder() / name;
            const auto old = old_.pages.find(name);
            const auto stamp = StampOf(path);
            if (old != old_.pages.end() && old->second.changes == model.changes && stamp &&
                *stamp == old->second.stamp) {
                writer_.Unchanged();
                state_.pages[name] = old->second;
                continue;
            }
            const auto found = rows.find(model.model);
            const auto write = [&](std::ostream& o) {
                WriteModelPage(model.model, found == rows.end() ? kNoRows : found->second, pool_,
                               o);
            };
            // A page written from another count of the model's changes lists other submissions:
            // it is written afresh. Without a record of it, it is compared first.
            const bool changed = old != old_.pages.end() && old->second.changes != model.changes;
            if (!(changed ? writer_.Stream(name, write) : writer_.Put(name, Built(write)))) {
                return false;
            }
            if (const auto now = StampOf(path)) {
                state_.pages[name] = {model.changes, *now};
            }
        }
        return true;
    }

    // Pages of models no longer in the pool, whether or not a state remembers them.
    void RemoveStalePages() {
        std::vector<std::string> stale;
        std::error_code failure;
        for (const auto& entry : fs::directory_iterator(writer_.Folder(), failure)) {
            const std::string name = entry.path().filename().string();
            if (IsModelPageName(name) && !current_.contains(name)) {
                stale.push_back(name);
            }
        }
        std::sort(stale.begin(), stale.end());
        for (const std::string& name : stale) {
            writer_.Remove(name);
        }
    }

    // Written only when it changed, so that an unchanged pool leaves the folder untouched.
    bool SaveState() {
        const std::string text = Built([&](std::ostream& o) { WriteState(state_, o); });
        const fs::path path = writer_.Folder() / kStateName;
        if (ExistingText(path, text.size()) == text) {
            return true;
        }
        if (report::WriteWholeFile(path.string(), [&](std::ostream& o) { o << text; })) {
            return true;
        }
        writer_.Failed(path, "");
        return false;
    }

    bool PoolCopy() {
        const std::int64_t changes = pool_.Changes();
        const fs::path path = writer_.Folder() / "pool.sqlite";
        const auto stamp = StampOf(path);
        if (old_.poolChanges == changes && stamp && *stamp == old_.sqlite) {
            writer_.Unchanged();
        } else if (!writer_.CopyPool(pool_, "pool.sqlite")) {
            return false;
        }
        if (const auto now = StampOf(path)) {
            state_.poolChanges = changes;
            state_.sqlite = *now;
        }
        return true;
    }

    PoolReader& pool_;
    SiteWriter writer_;
    SiteState old_;
    SiteState state_;
    std::set<std::string> current_;  // the pages of the models in the pool
};

}  // namespace

bool WriteSite(PoolReader& pool, const std::string& folder, std::ostream& out, std::ostream& err) {
    std::error_code failure;
    fs::create_directories(folder, failure);
    if (failure || !fs::is_directory(folder)) {
        err << "Cannot make the site folder " << Quoted(folder)
            << (failure ? ": " + failure.message() : std::string(": it is not a folder")) << ".\n";
        return false;
    }
    out << "Site " << Quoted(folder) << ":\n";
    return SiteRun(pool, folder, out, err).Run();
}

}  // namespace pool
