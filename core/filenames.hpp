#pragma once
// File names taken apart and put together, "~" expansion, file tests,
// numbered names, and text files opened with re-prompting.
//
// Separator "/" ("\" on WINDOWS-NT). Directory path: everything up to and
// including the last separator. Extension: everything after the last "." of
// the whole name, where that "." is not the last character. Base name: the
// name without directory path and extension.

#include <string>
#include <string_view>

#include "core/types.hpp"

namespace kesta {

// The directory separator of the running system.
char io_separator(Status& status);

// PATH_IN without leading blanks, a leading "~" or "~user" replaced by that
// home directory. RETSTAT 0, or the lookup's result (with a warning) when the
// home directory is unknown; PATH_OUT then keeps the unexpanded text.
void IO_TRANS_PATH(std::string_view path_in, int& retstat, std::string& path_out,
                   Status& status);

// Directory path including its final separator; blank without a separator.
void IO_DIRPATH(std::string_view file, std::string& dirpath, Status& status);
// FILE after its last separator.
void IO_NODIRPATH(std::string_view file, std::string& name, Status& status);
// The extension without its "."; blank if none.
void IO_EXTENSION(std::string_view file, std::string& extension, Status& status);
// FILE up to before its last "."; blank without a "." or when it is first.
void IO_NOEXTENSION(std::string_view file, std::string& name, Status& status);
// IO_NOEXTENSION of IO_NODIRPATH.
void IO_BASENAME(std::string_view file, std::string& base, Status& status);

// FILE with its extension replaced by EXTENSION (a leading "." of EXTENSION
// is dropped); RETSTAT 0.
void IO_FILEEXTENSION(std::string_view file, std::string_view extension, int& retstat,
                      std::string& newfile, Status& status);

// A default output name: MODE 1 keeps the input's directory and drops its
// extension, other modes keep the base name; then EXTENSION (with its own ".")
// is appended. An empty result gives DEFAULT_FILE.
void IO_OUTFILE(int mode, std::string_view input_file, std::string_view extension,
                std::string_view default_file, std::string& output_file, Status& status);

// The name of a numbered series whose number is INCREMENT more. RETSTAT 0; 2
// base name shorter than 2; 3 no number; 4 number unreadable (NEWFILE then
// unchanged); 7 existence test failed (MODE 1, 2: must exist; MODE 4: must not
// exist), NEWFILE still holding the name tested.
void IO_NEWFILENAME(std::string_view file, int increment, int mode, int& retstat,
                    std::string& newfile, Status& status);

// PREFIX + NUMBER (zero-padded to DIGITS when FIXED; none for DIGITS 0) +
// EXTENSION. RETSTAT -1 when the number needs more than DIGITS characters.
// FIXED with DIGITS < 0 gives 10017.
void IO_FILENAME(std::string_view prefix, int number, bool fixed, int digits,
                 std::string_view extension, int& retstat, std::string& filename,
                 Status& status);

// EXISTS when the name can be examined; KIND 1 plain file, 2 directory, 0
// other. An empty name gives 10033.
void IO_FILEEXIST(std::string_view file, bool& exists, int& kind, int& retstat, Status& status);

// Size in bytes, -1 when the file cannot be examined. An empty name gives 10033.
void IO_FILESIZE(std::string_view file, Index& size, Status& status);

// The line that says why PATH did not open, PROBLEM as io_open_file gives
// it: "WARNING: Cannot open PATH: " and the system's reason, or
// "WARNING: "PATH" " and the problem ("is a directory", ...).
void io_write_open_problem(std::string_view path, std::string_view problem, Status& status);

// Opens a text file on stream UNIT (1 to 99, else 10017). MODE "READ" and
// "UPDATE" need an existing file; "WRITE" and others create or truncate it.
// With PROMPT the name is asked for (FILE is the default, and keeps the name
// as typed) until the file opens or the user escapes. RETSTAT 0 opened, 1 not.
void IO_OPEN_ASCIIFILE(bool prompt, std::string_view mode, int unit, std::string& file,
                       int& retstat, Status& status);

}  // namespace kesta
