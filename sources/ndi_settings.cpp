#include "sources/ndi_settings.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace lumbrix {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> labelsOf(std::string_view name) {
    std::vector<std::string_view> labels;
    size_t start = 0;
    for (;;) {
        const size_t dot = name.find('.', start);
        labels.push_back(name.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start));
        if (dot == std::string_view::npos) return labels;
        start = dot + 1;
    }
}

bool isDigits(std::string_view label) {
    return !label.empty() && std::all_of(label.begin(), label.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Letters, digits and inner hyphens, 1 to 63 characters (RFC 1123).
bool isHostLabel(std::string_view label) {
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') return false;
    return std::all_of(label.begin(), label.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-'; });
}

// Four decimal parts of 0 to 255, or a host name. A name of digits and dots alone would
// reach the resolver as a number, so it must be a whole address.
bool isAddressOrHost(std::string_view entry) {
    if (entry.size() > 253) return false;
    const std::vector<std::string_view> labels = labelsOf(entry);
    if (std::all_of(labels.begin(), labels.end(), isDigits)) {
        return labels.size() == 4 && std::all_of(labels.begin(), labels.end(), [](std::string_view part) {
                   return part.size() <= 3 && std::stoi(std::string(part)) <= 255;
               });
    }
    return std::all_of(labels.begin(), labels.end(), isHostLabel);
}

}  // namespace

Expected<std::string, std::string> normalizeExtraIPs(std::string_view typed) {
    std::string joined;
    size_t start = 0;
    while (start <= typed.size()) {
        const size_t comma = std::min(typed.find(',', start), typed.size());
        const std::string_view entry = trimmed(typed.substr(start, comma - start));
        start = comma + 1;
        if (entry.empty()) continue;
        if (entry.find(':') != std::string_view::npos) {
            return unexpected("“" + std::string(entry) +
                              "”: enter the address without a port (IPv6 addresses are not supported).");
        }
        if (!isAddressOrHost(entry)) {
            return unexpected("“" + std::string(entry) + "” is not an IPv4 address or a host name.");
        }
        if (!joined.empty()) joined += ',';
        joined += entry;
    }
    return joined;
}

}  // namespace lumbrix
