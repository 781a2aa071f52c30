// GeneralizedTime as seals carry it: the stored text is read as a GeneralizedTime and written
// back in the local time of the machine that encodes, always ending in "Z".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sealform {

// Reads YYYYMMDDHH[MM[SS[(.|,)fraction]]][Z|(+|-)HHMM] (no zone = local time) and returns
// "%04d%02d%02d%02d%02d%02d" of that instant in local time, then "." and the fraction's digits
// (at most 6, trailing zeros dropped) when the fraction is not zero, then "Z". Nothing when the
// text is not a GeneralizedTime.
std::optional<std::string> local_generalized_time(std::string_view text);

}  // namespace sealform
