// How wide a UTF-8 text shows in a terminal, for qa2's aligned columns: a
// full-width (East Asian Wide or Fullwidth) character takes two columns,
// every other character one, half-width katakana included. Characters of
// ambiguous width count as one, as terminals in a UTF-8 locale show them.
#pragma once

#include <cstddef>
#include <string>

namespace qa2 {

size_t DisplayWidth(const std::string& utf8);

// `utf8` followed by the blanks that make it `width` columns wide (nothing
// is added to a text already as wide or wider).
std::string PadToWidth(const std::string& utf8, size_t width);

}  // namespace qa2
