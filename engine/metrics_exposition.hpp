#pragma once

#include <string>
#include <string_view>

namespace quotalume {

struct EngineReading;

// The reading in Prometheus' text exposition format (version 0.0.4): each source's windows,
// blocked buckets, last good reading, staleness, credits and counts, labelled with the source's
// label (`firstLabel` for the first, which a reading of one source leaves unnamed), each bucket's
// id and each window's short id ("5h", "7d", "30d"). A source that reads another's account is
// left out: its figures are that source's. No fingerprint, path or secret is ever a label.
std::string metricsExposition(const EngineReading& reading, std::string_view firstLabel);

// A label value as the format writes it between double quotes: a backslash, a double quote and
// a line feed escaped; everything else, UTF-8 included, as it is.
std::string escapedLabelValue(std::string_view value);

// The Content-Type of what `metrics.listen` serves (null-terminated, for C interfaces).
inline constexpr std::string_view metricsContentType = "text/plain; version=0.0.4; charset=utf-8";

}  // namespace quotalume
