#pragma once
// The key-value defaults database: settings kept between runs (array sizes,
// experiment geometry, display settings, form choices) and run-only facts
// under keys beginning "#". At most 200 entries; key, one separator and value
// of all entries together take fewer than 8000 characters. Keys compare on 32
// characters: the caller's key (without trailing blanks) must equal the stored
// key cut to 32 characters, so a longer key can be stored but is never found.
// Keys are kept to 80 and values to 256 characters, the lengths of their lines
// in the defaults file. Replacing a key moves it to the end.
//
// Result codes (RETSTAT): 0 done; 1 no room in the file (200 entries or 8000
// characters): the value is still in effect for the session (it is found by
// every inquiry), the file keeps the key's old entry if it had one, and the
// first such refusal of a session is said in one line. The settings of a geometry (pixel
// sizes, beam centre, distance, wavelength, tilt, detector rotation) go to the file together
// or not at all: once one of them finds no room, the file keeps the geometry it had and the
// session's geometry is held for the session whole, until a later geometry setting finds
// room for all of it; 2 key not found (or enumeration past
// the last entry); 3 the value does not convert to the asked type. A
// successful set leaves RETSTAT as the caller set it, so a run of sets can
// collect a 1 from any of them. The routines never set STATUS.
//
// The defaults file: line 1 "DATABASE DEFAULT VALUES FILE", line 2
// "!!! DO NOT ALTER YOURSELF !!!", then a key line and a value line per entry
// (the value exactly its length, possibly empty); "#" keys are not written.

#include <string>
#include <string_view>
#include <vector>

#include "core/types.hpp"

namespace kesta {

inline constexpr int kDatabaseMaxEntries = 200;
inline constexpr int kDatabaseCharacters = 8000;
inline constexpr int kDatabaseKeyCompare = 32;
inline constexpr int kDatabaseKeyLength = 80;
inline constexpr int kDatabaseValueLength = 256;
// The limits as messages name them.
inline constexpr std::string_view kDatabaseLimitsText = "(200 entries, 8,000 characters)";

// The one store routine. MODE 0: store KEY with VALUE(1:LENGTH) (blank-padded
// when VALUE is shorter), replacing an entry of the same key. MODE 1: VALUE and
// LENGTH receive KEY's value. MODE -N: KEY, VALUE and LENGTH receive entry N.
// Other positive modes do nothing.
void IO_ACCESS_DATABASE(int mode, std::string& key, int& length, std::string& value,
                        int& retstat, Status& status);

void IO_SET_KEYVALUE(std::string_view key, int length, std::string_view value, int& retstat,
                     Status& status);
void IO_INQ_KEYVALUE(std::string_view key, int& length, std::string& value, int& retstat,
                     Status& status);

// Typed values are stored as their text: IO_ITOC, IO_RTOC, "TRUE"/"FALSE".
void IO_SET_IKEYVALUE(std::string_view key, int ivalue, int& retstat, Status& status);
void IO_SET_RKEYVALUE(std::string_view key, float rvalue, int& retstat, Status& status);
void IO_SET_LKEYVALUE(std::string_view key, bool lvalue, int& retstat, Status& status);
// The first 20 characters of the value converted (IO_TOKTI, IO_TOKTR, or equal
// to "TRUE"/"FALSE"); RETSTAT 3 leaves the output as it was.
void IO_INQ_IKEYVALUE(std::string_view key, int& ivalue, int& retstat, Status& status);
void IO_INQ_RKEYVALUE(std::string_view key, float& rvalue, int& retstat, Status& status);
void IO_INQ_LKEYVALUE(std::string_view key, bool& lvalue, int& retstat, Status& status);

// Reads the defaults file FILE_NAME ("~" expanded) into the store. RETSTAT 0,
// -1 the file did not open (silently when there is none; a named pipe, a
// device, a directory or an unreadable file is named with the reason after
// "WARNING: Problem inputting internal database"), 1 some entry did not fit,
// 4 the file is damaged (no header lines, altered header lines, a key without
// its value line, a key or value line longer than 80 or 256 characters, a read
// error): the entries read whole are kept (after altered header lines too) and
// "WARNING: Problem inputting internal database" is written with a line
// naming the file and the first problem.
void IO_LOAD_DATABASE(std::string_view file_name, int& retstat, Status& status);

// Writes the store to FILE_NAME ("~" expanded) through a temporary file that
// replaces the old one only when everything was written. RETSTAT 0; -1 when
// the file could not be opened (after the opener's code, and the file and
// the reason when it has a name); -2 when writing it failed, said in the
// writers' one line naming the file and the reason. The old file is then
// unchanged. A name that is not a regular file once links are followed is
// not written.
void IO_SAVE_DATABASE(std::string_view file_name, int& retstat, Status& status);

// Empties the store (the state at the start of a run).
void io_clear_database();

// The keys whose settings the file had no room for, each once, in order (the
// ones held for the session and not stored since) (run-only "#" keys take no room and are
// never refused).
std::vector<std::string> io_database_refused_keys();

}  // namespace kesta
