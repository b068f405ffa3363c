// Configuration of the fused multi-statistic rolling engine: alignment, NaN policy,
// window and minimum periods, and the set of requested statistics.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "kernels/common/expected.hpp"

namespace quarnel::rolling {

enum class Alignment { Trailing, Centered };
// Ignore and RequireMinPeriods behave alike everywhere; both are kept distinct on purpose.
enum class NanPolicy { Propagate, Ignore, RequireMinPeriods };

// Case-insensitive, untrimmed; the message quotes the caller's text unchanged.
Expected<Alignment> parse_alignment(std::string_view text);
Expected<NanPolicy> parse_nan_policy(std::string_view text);

struct RollingConfig {
    std::optional<std::size_t> min_periods;  // 1 ..= window when present
    std::size_t window = 1;                  // >= 1
    Alignment alignment = Alignment::Trailing;
    NanPolicy nan_policy = NanPolicy::Propagate;

    // Checks, in order: window >= 1, min_periods >= 1, min_periods <= window.
    static Expected<RollingConfig> create(std::uint64_t window, std::optional<std::uint64_t> min_periods,
                                          Alignment alignment, NanPolicy nan_policy);

    // Trailing: one output per full window; Centered: one per input position.
    std::size_t output_length(std::size_t n) const {
        if (alignment == Alignment::Centered) return n;
        return n >= window && n > 0 ? n - window + 1 : 0;
    }
    // Half-width h of a centered window x[i - h .. i + h].
    std::size_t half_width() const { return window / 2; }
};

// The requested statistics. The bit values fix the order in which buffers are handled.
struct StatsMask {
    static constexpr std::uint32_t kMean = 1, kStd = 2, kVar = 4, kCount = 8, kMin = 16, kMax = 32;
    static constexpr std::uint32_t kAll[] = {kMean, kStd, kVar, kCount, kMin, kMax};

    std::uint32_t bits = 0;

    bool has(std::uint32_t bit) const { return (bits & bit) != 0; }

    // `text`: names joined by ","; each piece is trimmed of Unicode white space, lower-cased
    // (ASCII letters; callers fold other letters first) and skipped when empty.
    // Errors: "Unknown stat: {piece}", "No valid statistics specified".
    static Expected<StatsMask> from_str_list(std::string_view text);
};

// The bit of an exact statistic name ("mean", ..., "max") after ASCII lower-casing; 0 when
// the name is none of them.
std::uint32_t stat_bit(std::string_view name);

}  // namespace quarnel::rolling
