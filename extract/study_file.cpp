#include "extract/study_file.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

namespace extract {
namespace {

using Json = nlohmann::ordered_json;

template <typename T>
Json OrNull(const std::optional<T>& value) {
    return value ? Json(*value) : Json(nullptr);
}

double Rounded(double value, double scale) {
    return std::round(value * scale) / scale;
}

Json SlowReadsJson(const StudyPass& pass) {
    const bool any = pass.slowReads > 0;
    return Json{{"count", pass.slowReads},
                {"slowestSeconds", any ? Json(Rounded(pass.slowestSeconds, 1000.0)) : Json(nullptr)},
                {"slowestSector", any ? Json(pass.slowestSector) : Json(nullptr)}};
}

Json PassJson(const StudyPass& pass) {
    return Json{{"form", pass.form},
                {"speedRequested", OrNull(pass.speedRequested)},
                {"speedSet", pass.speedSet},
                {"speedReportedKBps", OrNull(pass.speedReportedKBps)},
                {"wav", pass.wav},
                {"c2", pass.c2},
                {"sectors", pass.sectors},
                {"failedSectors", pass.failedSectors},
                {"seconds", Rounded(pass.seconds, 1000.0)},
                {"measuredKBps",
                 pass.measuredKBps ? Json(Rounded(*pass.measuredKBps, 10.0)) : Json(nullptr)},
                {"slowReads", SlowReadsJson(pass)},
                {"completed", pass.completed},
                {"error", OrNull(pass.error)}};
}

}  // namespace

std::string StudyJson(const StudyRecord& record) {
    Json passes = Json::array();
    for (const StudyPass& pass : record.passes) {
        passes.push_back(PassJson(pass));
    }
    const Json study{{"format", "Quellor study"},
                     {"formatVersion", 1},
                     {"drive",
                      {{"vendor", record.vendor},
                       {"product", record.product},
                       {"revision", record.revision},
                       {"vendorSpecific", OrNull(record.vendorSpecific)},
                       {"unit", OrNull(record.unit)},
                       {"transport", record.transport}}},
                     {"formsFound", record.formsFound},
                     {"passes", passes}};
    // A drive's identification may hold bytes that are not UTF-8: they become U+FFFD.
    return study.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

bool WriteStudyFile(const StudyRecord& record, const std::string& path) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << StudyJson(record);
        file.close();
        if (!file) {
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    if (error) {
        // Nothing half-done stays behind: the temporary goes too.
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    }
    return !error;
}

}  // namespace extract
