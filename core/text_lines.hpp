#pragma once
// TextLines: a read-only view of text lines (help texts, error texts, menu
// choices, pager text), given to a routine as an argument. It binds to a
// std::vector<std::string>, an array of std::string, a std::span, or a braced
// list written in the call itself:
//   IO_INPI(..., {"Enter the number of cycles"}, {"Enter a valid integer"}, n, status);
// A braced list lives only until the end of its statement, so the lines of
// one are copied into the TextLines itself: a TextLines declared with a name
// (`const TextLines help{"a", "b"};`) still holds its lines afterwards. The
// language offers no way to refuse such a declaration while accepting the
// same braced list as an argument (both are the same copy-list-initialisation).
// A TextLines can be neither copied nor moved: it is built in the argument,
// and one that was given a name cannot be handed to any routine (the compiler
// refuses it). Named texts are arrays or vectors:
//   static const std::string kHelp[] = {"...", "..."};
// A routine that passes its lines on to another passes `lines.view()`.

#include <concepts>
#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

namespace kesta {

class TextLines {
 public:
  TextLines() = default;
  TextLines(std::initializer_list<std::string> lines) : owned_(lines), lines_(owned_) {}
  // Vectors, arrays and spans of std::string.
  template <typename Lines>
    requires(!std::same_as<std::remove_cvref_t<Lines>, TextLines> &&
             std::convertible_to<const Lines&, std::span<const std::string>>)
  TextLines(const Lines& lines) : lines_(lines) {}

  TextLines(const TextLines&) = delete;
  TextLines& operator=(const TextLines&) = delete;

  std::span<const std::string> view() const { return lines_; }
  std::size_t size() const { return lines_.size(); }
  bool empty() const { return lines_.empty(); }
  const std::string& operator[](std::size_t i) const { return lines_[i]; }
  auto begin() const { return lines_.begin(); }
  auto end() const { return lines_.end(); }

 private:
  std::vector<std::string> owned_;  // the lines of a braced list; empty otherwise
  std::span<const std::string> lines_;
};

}  // namespace kesta
