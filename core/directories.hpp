#pragma once
// Directory listings for the file-selection widget (a packed name store with
// pointers, selection by type and wildcard mask, sorting) and the analysis of
// numbered file series.
//
// Name store: names packed end to end; name i (1-based) occupies
// store[pointers[i-1]-1 .. pointers[i]-2], so pointers[0] is 1 and
// pointers[num] is the total number of characters plus 1.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.hpp"

namespace kesta {

// Lists plain files (FILES true) or sub-directories of DIRECTORY, without "."
// and "..", into STORE (at most MAX_CHARS characters) and POINTERS (num+1
// elements). RETSTAT 0 done, 1 cannot open, 2 more than MAX_NAMES names, 3
// store full (the names gathered before the limit are kept). The working
// directory is not changed.
void IO_DIRECTORY(bool files, std::string_view directory, int max_names, Index max_chars,
                  int& retstat, int& num_names, std::vector<Index>& pointers, std::string& store,
                  Status& status);

// Name I (1-based) of a packed store.
std::string io_store_name(const std::vector<Index>& pointers, const std::string& store, int i);

// Lists the files of DIRECTORY, selects those whose extension is one of the
// first NUM_TYPES TYPES (all with NUM_TYPES 0), narrows to MASK unless blank,
// and sorts the selected into ORDER (1-based indices).
void IO_LISTFILES(std::string_view directory, int max_names, Index max_chars, int num_types,
                  std::span<const std::string> types, std::string_view mask, int& retstat,
                  int& num_names, std::vector<bool>& selected, int& num_selected,
                  std::vector<int>& order, std::vector<Index>& pointers, std::string& store,
                  Status& status);

// MATCH when the text after the last "." (not first or last character) of
// FILE equals TYPE exactly. Empty FILE or TYPE gives 10033.
void IO_FILETYPE(std::string_view file, std::string_view type, bool& match, Status& status);

// Selects every name not yet selected whose type is TYPE; NUM_SELECTED counts
// all selected. MAX_NAMES <= 1 gives 10033.
void IO_FILESTYPE(int max_names, int num_names, const std::vector<Index>& pointers,
                  const std::string& store, std::string_view type, std::vector<bool>& selected,
                  int& num_selected, Status& status);

// Keeps selected only the names that match MASK; NUM_MATCH counts them.
void IO_FILESMATCH(int max_names, int num_names, const std::vector<Index>& pointers,
                   const std::string& store, std::string_view mask, std::vector<bool>& selected,
                   int& num_match, Status& status);

// ORDER receives the 1-based indices of the selected names sorted by name.
void IO_FILESORDER(int max_names, int num_names, const std::vector<Index>& pointers,
                   const std::string& store, int num_selected, const std::vector<bool>& selected,
                   std::vector<int>& order, Status& status);

// The current working directory; RETSTAT 0, or 1 on failure.
void IO_GETCWD(int& retstat, std::string& directory, Status& status);

// DIRECTORY becomes its parent; RETSTAT 1 when it has none.
void IO_UP_DIRECTORY(std::string& directory, int& retstat, Status& status);

// Interprets ENTRY (typed or clicked) relative to DIRECTORY: a directory
// becomes the new DIRECTORY (ENTRY blank, IS_FILE false); a file splits into
// DIRECTORY and ENTRY (IS_FILE true). RETSTAT 0, 1 does not exist, 2 a ".."
// not followed by the separator or the end.
void IO_CHANGEDIR(std::string& directory, std::string& entry, int& retstat, bool& is_file,
                  Status& status);

// Prefix, number range, step, width, postfix and extension of the series
// from FIRST to LAST. RETSTAT 0, or -1 when a name is empty or a number
// cannot be read.
void IO_FILESEQUENCE(std::string_view first, std::string_view last, int& retstat, int& start,
                     int& end, int& step, std::string& prefix, bool& variable, int& digits,
                     std::string& postfix, std::string& extension, Status& status);

}  // namespace kesta
