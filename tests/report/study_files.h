// A drive study made by hand: passes of the reference's own bytes with chosen lags and honesty,
// and the study file that lists them, as the reading side writes it.
#pragma once

#include <nlohmann/json.hpp>

#include "tests/report/synthetic_pass.h"

namespace report_test {

using Json = nlohmann::json;

inline constexpr std::int64_t kSectors = 2000;
inline constexpr std::uint64_t kWrong = 200;

struct PassCase {
    const char* form;
    const char* speed;
    std::int64_t lagBytes;
    std::uint64_t missed, falseFlags;
    const char* alignment;
};

// Ranked by missed bytes, then false flags: the order the table must show.
inline const PassCase kPasses[] = {
    {"readcd14", "8x", 294, 0, 0, "1 sector late"},
    {"density", "8x", 40, 0, 30, "40 bytes late"},
    {"readcd14", "max", 294, 4, 0, "1 sector late"},
    {"d8", "8x", 295, 10, 0, "1 sector + 1 byte late"},
    {"density", "max", 40, 10, 50, "40 bytes late"},
    {"d8", "max", 295, 60, 5, "1 sector + 1 byte late"},
};

// 200 wrong bytes, two in each of 100 sectors; the first `missed` not flagged; `falseFlags`
// right bytes flagged in sectors with errors, far from the wrong ones.
inline SyntheticPass Honesty(const PassCase& c) {
    SyntheticPass pass;
    pass.lagBytes = c.lagBytes;
    for (std::int64_t i = 0; i < 100; ++i) {
        pass.wrong.emplace_back(500 + 3 * i, 100);
        pass.wrong.emplace_back(500 + 3 * i, 1001);
    }
    pass.flagged.assign(pass.wrong.begin() + static_cast<std::ptrdiff_t>(c.missed),
                        pass.wrong.end());
    for (std::uint64_t i = 0; i < c.falseFlags; ++i) {
        pass.flagged.emplace_back(500 + 3 * static_cast<std::int64_t>(i), 2000);
    }
    return pass;
}

inline Json PassEntry(const std::string& form, const std::string& speed, bool completed) {
    const std::string name = "SIMDRIVESTUDY." + form + "." + speed;
    return Json{{"form", form},
                {"speedRequested", speed},
                {"speedSet", true},
                {"speedReportedKBps", speed == "max" ? Json(7056) : Json(1412)},
                {"wav", name + ".wav"},
                {"c2", name + ".c2"},
                {"sectors", kSectors},
                {"failedSectors", 0},
                {"seconds", 1.5},
                {"completed", completed},
                {"error", completed ? Json(nullptr) : Json("The drive stopped answering.")}};
}

inline Json StudyJson(const Json& passes) {
    return Json{{"format", "Quellor study"},
                {"formatVersion", 1},
                {"drive", {{"vendor", "SIMDRIVE"}, {"product", "STUDY"}, {"revision", "1.00"}}},
                {"formsFound", {"readcd14", "d8", "density"}},
                {"passes", passes}};
}

}  // namespace report_test
