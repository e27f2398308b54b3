#include "extract/speed_list.h"

#include <algorithm>

namespace extract {
namespace {

constexpr std::uint32_t mostTimes = 371;  // 371 x 176.4 = 65,444.4 kB/s, below 0xFFFF

std::optional<StudySpeed> ParseSpeed(std::string_view item) {
    if (item == "max") {
        return StudySpeed{std::string(item), fastestReadSpeed};
    }
    if (item.size() < 2 || item.size() > 4 || item.back() != 'x' || item.front() == '0') {
        return std::nullopt;
    }
    std::uint32_t times = 0;
    for (const char digit : item.substr(0, item.size() - 1)) {
        if (digit < '0' || digit > '9') {
            return std::nullopt;
        }
        times = times * 10 + static_cast<std::uint32_t>(digit - '0');
    }
    if (times > mostTimes) {
        return std::nullopt;
    }
    // 1x is 176.4 kB/s; the field takes whole kB/s, so the request is rounded up.
    return StudySpeed{std::string(item), static_cast<std::uint16_t>((times * 1764 + 9) / 10)};
}

}  // namespace

std::optional<std::vector<StudySpeed>> ParseSpeedList(std::string_view list) {
    std::vector<StudySpeed> speeds;
    for (;;) {
        const std::size_t comma = list.find(',');
        const std::optional<StudySpeed> speed = ParseSpeed(list.substr(0, comma));
        const bool repeated = speed && std::ranges::any_of(speeds, [&](const StudySpeed& s) {
                                  return s.kBps == speed->kBps;
                              });
        if (!speed || repeated) {
            return std::nullopt;
        }
        speeds.push_back(*speed);
        if (comma == std::string_view::npos) {
            return speeds;
        }
        list.remove_prefix(comma + 1);
    }
}

}  // namespace extract
