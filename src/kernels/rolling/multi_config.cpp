#include "kernels/rolling/multi_config.hpp"

#include <string>

#include "kernels/rolling/trailing_windows.hpp"

namespace quarnel::rolling {
namespace {

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& ch : out)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return out;
}

// Decodes the UTF-8 code point starting at text[i]; sets `len` to its byte length.
// Malformed bytes decode as themselves (never white space).
char32_t decode_at(std::string_view text, std::size_t i, std::size_t& len) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    const std::size_t extra = b0 < 0x80             ? 0
                              : (b0 & 0xE0) == 0xC0 ? 1
                              : (b0 & 0xF0) == 0xE0 ? 2
                              : (b0 & 0xF8) == 0xF0 ? 3
                                                    : 0;
    if (extra == 0 || i + extra >= text.size()) {
        len = 1;
        return b0;
    }
    char32_t cp = b0 & (0x3F >> extra);
    for (std::size_t k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    len = extra + 1;
    return cp;
}

// Unicode White_Space property.
bool is_unicode_space(char32_t cp) {
    return (cp >= 0x09 && cp <= 0x0D) || cp == 0x20 || cp == 0x85 || cp == 0xA0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F ||
           cp == 0x3000;
}

std::string_view trim_unicode_space(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t len = 1;
        if (!is_unicode_space(decode_at(text, begin, len))) break;
        begin += len;
    }
    // Scan forward, remembering where the trailing run of white space starts.
    std::size_t end = begin, i = begin;
    while (i < text.size()) {
        std::size_t len = 1;
        const bool space = is_unicode_space(decode_at(text, i, len));
        i += len;
        if (!space) end = i;
    }
    return text.substr(begin, end - begin);
}

}  // namespace

Expected<Alignment> parse_alignment(std::string_view text) {
    const std::string lower = ascii_lower(text);
    if (lower == "trailing") return Alignment::Trailing;
    if (lower == "centered") return Alignment::Centered;
    return kernel_error("Invalid alignment: '" + std::string(text) + "'. Must be 'trailing' or 'centered'");
}

Expected<NanPolicy> parse_nan_policy(std::string_view text) {
    const std::string lower = ascii_lower(text);
    if (lower == "propagate") return NanPolicy::Propagate;
    if (lower == "ignore") return NanPolicy::Ignore;
    if (lower == "require_min_periods") return NanPolicy::RequireMinPeriods;
    return kernel_error("Invalid nan_policy: '" + std::string(text) +
                        "'. Must be 'propagate', 'ignore', or 'require_min_periods'");
}

Expected<RollingConfig> RollingConfig::create(std::uint64_t window, std::optional<std::uint64_t> min_periods,
                                              Alignment alignment, NanPolicy nan_policy) {
    if (window == 0) return kernel_error(std::string(kWindowMessage));
    if (min_periods && *min_periods == 0) return kernel_error("min_periods must be >= 1 (or None)");
    if (min_periods && *min_periods > window)
        return kernel_error("min_periods (" + std::to_string(*min_periods) + ") cannot exceed window (" +
                            std::to_string(window) + ")");
    RollingConfig cfg;
    if (min_periods) cfg.min_periods = static_cast<std::size_t>(*min_periods);
    cfg.window = static_cast<std::size_t>(window);
    cfg.alignment = alignment;
    cfg.nan_policy = nan_policy;
    return cfg;
}

std::uint32_t stat_bit(std::string_view name) {
    const std::string lower = ascii_lower(name);
    if (lower == "mean") return StatsMask::kMean;
    if (lower == "std") return StatsMask::kStd;
    if (lower == "var") return StatsMask::kVar;
    if (lower == "count") return StatsMask::kCount;
    if (lower == "min") return StatsMask::kMin;
    if (lower == "max") return StatsMask::kMax;
    return 0;
}

Expected<StatsMask> StatsMask::from_str_list(std::string_view text) {
    StatsMask mask;
    std::size_t pos = 0;
    while (true) {
        const std::size_t comma = text.find(',', pos);
        const std::string_view raw = text.substr(pos, comma == std::string_view::npos ? text.size() - pos : comma - pos);
        const std::string piece = ascii_lower(trim_unicode_space(raw));
        if (!piece.empty()) {
            const std::uint32_t bit = stat_bit(piece);
            if (bit == 0) return kernel_error("Unknown stat: " + piece);
            mask.bits |= bit;
        }
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    if (mask.bits == 0) return kernel_error("No valid statistics specified");
    return mask;
}

}  // namespace quarnel::rolling
