#include "platform/location/CLPlacemark.hpp"

namespace platform {

std::vector<std::string> CLPlacemark::formattedAddressLines() const {
    auto join = [](const std::optional<std::string>& a, const std::optional<std::string>& b) {
        std::string line = a.value_or("");
        if (b && !b->empty()) line += (line.empty() ? "" : " ") + *b;
        return line;
    };
    std::vector<std::string> lines;
    for (std::string line : {join(thoroughfare, subThoroughfare), join(postalCode, locality), country.value_or("")}) {
        if (!line.empty()) lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace platform
