#include "report/input/pass_fields.h"

#include <algorithm>

namespace report {

std::string PassForm(const JsonField& field) {
    std::string form = field.String(16);
    if (std::find(kPassForms.begin(), kPassForms.end(), form) == kPassForms.end()) {
        field.Refuse("is not a form Quellor reads (readcd14, d8, density, readcd12)");
    }
    return form;
}

std::string PassSpeed(const JsonField& field, std::int64_t mostTimes) {
    std::string speed = field.String(8);
    const bool times =
        speed.size() >= 2 && speed.size() <= 4 && speed.back() == 'x' && speed.front() != '0' &&
        std::all_of(speed.begin(), speed.end() - 1, [](char c) { return c >= '0' && c <= '9'; });
    if (speed != "max" && !(times && std::stoi(speed.substr(0, speed.size() - 1)) <= mostTimes)) {
        field.Refuse("is not a speed Quellor asks for (\"max\", or \"1x\" to \"" +
                     std::to_string(mostTimes) + "x\")");
    }
    return speed;
}

}  // namespace report
