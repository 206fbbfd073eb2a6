#pragma once
// TextLines: a read-only view of text lines (help texts, error texts, menu
// choices, pager text). It binds to a std::vector<std::string>, an array of
// std::string, a std::span, or a braced list written at the call:
//   IO_INPI(..., {"Enter the number of cycles"}, {"Enter a valid integer"}, n, status);
// A braced list lives until the end of the call, which is all a prompt needs.

#include <initializer_list>
#include <span>
#include <string>

namespace kesta {

struct TextLines : std::span<const std::string> {
  using std::span<const std::string>::span;
  TextLines() = default;
  TextLines(std::span<const std::string> lines) : std::span<const std::string>(lines) {}
  TextLines(std::initializer_list<std::string> lines)
      : std::span<const std::string>(lines.begin(), lines.size()) {}
};

}  // namespace kesta
