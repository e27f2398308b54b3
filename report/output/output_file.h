// Every file c2report writes goes through here. A run first declares all it will read and
// write; the outputs are checked against the inputs (by name and by identity) and against each
// other before anything is written. Each file is then written whole or not at all: into a
// temporary file of its own (created exclusively, never through a link, removed on an
// interrupt), renamed over the final name when complete.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace report {

class OutputPlan {
public:
    void AddInput(const std::string& path) { inputs_.push_back(path); }
    void AddOutput(const std::string& path) { outputs_.push_back(path); }

    // The sentence refusing the run when an output would replace an input or another output;
    // empty when nothing clashes.
    [[nodiscard]] std::string Clash() const;

private:
    std::vector<std::string> inputs_, outputs_;
};

// Writes `path` whole through `write`; false (nothing left behind) when it could not. An
// exception from `write` leaves nothing behind either, and goes on to the caller.
[[nodiscard]] bool WriteWholeFile(const std::string& path,
                                  const std::function<void(std::ostream&)>& write);

// The same for a file another library makes (a database copy): `make` creates the new file at
// the free name it is given, and it is renamed over `path` only when `make` says it is whole.
[[nodiscard]] bool PlaceWholeFile(const std::string& path,
                                  const std::function<bool(const std::string& temporary)>& make);

// The console text is what people read: losing it (a full disk, a closed pipe) is a failure,
// even when the files were written. Flushes `out`; false, with `message` on `err`, when it could
// not be written.
[[nodiscard]] bool FlushConsole(std::ostream& out, std::ostream& err, const char* message);

}  // namespace report
