#pragma once
// The program's thin layer over the operating system: memory blocks, system
// names, times, pauses, shell commands, command-line arguments, login name and
// home directories, byte order, single-key input and the edited terminal line.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/types.hpp"

namespace kesta {

// Allocates NUMBER_BYTES bytes (contents undefined). 0 bytes or fewer gives
// 10017 and no block; a failed allocation 11002. ADDRESS is nullptr unless it
// succeeded.
void IO_MALLOC(Index number_bytes, void*& address, Status& status);

// Bytes of COUNT elements of ELEMENT_SIZE bytes; false when COUNT is negative
// or the product overflows.
bool io_array_bytes(Index count, std::size_t element_size, std::size_t& bytes);

// IO_MALLOC of COUNT elements of ELEMENT_SIZE bytes: COUNT below 1 gives
// 10017, a product that overflows 11002.
void io_malloc_array(Index count, std::size_t element_size, void*& address, Status& status);

// io_malloc_array of a block whose every byte is 0. A large block comes as
// fresh zero pages from the system, so nothing is written or made resident
// until the program uses it.
void io_calloc_array(Index count, std::size_t element_size, void*& address, Status& status);

// Asks the kernel to back the whole 2 MiB pages inside [ADDRESS, ADDRESS +
// BYTES) with large pages: a block written from end to end soon after it is
// allocated then costs a few page faults instead of one per 4 KiB (a hint
// only; nothing changes where it is not taken).
void io_prefer_huge_pages(void* address, std::size_t bytes);

// A block for COUNT elements of T, contents undefined, for large arrays
// filled at once: from 2 MiB on aligned to 2 MiB and given
// io_prefer_huge_pages, below that an ordinary block. Throws std::bad_alloc
// when COUNT is negative, overflows or cannot be had.
struct LargeBlockFree {
  void operator()(void* block) const;
};
template <class T>
using LargeArray = std::unique_ptr<T[], LargeBlockFree>;
void* io_large_block(Index count, std::size_t element_size);
template <class T>
LargeArray<T> large_array(Index count) {
  return LargeArray<T>(static_cast<T*>(io_large_block(count, sizeof(T))));
}

// The bytes of memory this process can hold at once: the smallest of the
// machine's physical memory (swap left out: arrays held there would stall
// the machine), the process's address-space and data limits, and the memory
// limit of its control group and the groups above it. Memory promised by
// the system is only taken when first written, so an allocation beyond this
// can succeed and the process be killed later, taking other work with it.
std::uint64_t io_machine_memory_limit();
// The routine that gives that limit: io_machine_memory_limit unless replaced
// (tests give a limit of their own).
using IoMemoryLimit = std::uint64_t (*)();
IoMemoryLimit& io_memory_limit();

// Releases a block from IO_MALLOC; ADDRESS becomes nullptr.
void IO_FREE(void*& address, Status& status);

// System and processor names ("LINUX", "PC" for this build).
void IO_SYSTEM_NAME(std::string& system, std::string& processor, Status& status);

// Bytes that one unit of direct-access record length stands for.
void IO_RECL(int& bytes_per_unit, Status& status);

// Elapsed seconds since an arbitrary origin (use differences) and the CPU
// seconds of the process and its children. Failure gives 19999.
void IO_TIMES(double& elapsed, double& cpu, Status& status);

// Sleeps SECONDS truncated to whole seconds; below 1 (or negative) 1 second.
void IO_SLEEP(float seconds, Status& status);

// Runs COMMAND through the shell; RETURN_CODE is the shell's return code.
void IO_SYSTEM(std::string_view command, int& return_code, Status& status);

// Stores the command line for IO_GETARGS; called once by main.
void io_set_args(int argc, const char* const* argv);

// ARGS(1) is the program name, ARGS(i) argument i-1, for i up to
// min(NUM_ARGS, MAX_ARGS); NUM_ARGS is the argument count plus one. ARGS holds
// that many elements on return. MAX_ARGS < 1 gives 10001.
void IO_GETARGS(int max_args, int& num_args, std::vector<std::string>& args, Status& status);

// Login name and user id; "*** UNKNOWN ***" and -1 without a password entry.
void IO_LOGINNAME(std::string& name, int& user_id, Status& status);

// Home directory of USER: RETSTAT 0 found, 1 no such user.
void IO_HOMEDIR(std::string_view user, int& retstat, std::string& directory, Status& status);

// PATH "~" (home: $HOME when set, else the login's password entry) or "~user":
// RETSTAT 3 when PATH holds a "/", 4 when shorter than 2 and not "~",
// otherwise as IO_HOMEDIR.
void IO_USERPATH(std::string_view path, int& retstat, std::string& directory, Status& status);

// True when the most significant byte of an integer is stored first.
bool IO_BIG_ENDIAN();
// The same for the X11 driver: 1 big-endian, 0 little-endian.
int io_big_endianc();

// The next key press, or the whole byte sequence of a cursor or function key,
// without waiting for Return. Empty when standard input is not a terminal or
// nothing was read. (The bytes are returned as read, so a space key is " ".)
// Keys that came in the same burst beyond one read are kept, in order, for
// the next reads.
std::string IO_INPUT_KEY(Status& status);
// Puts BYTES, taken by IO_INPUT_KEY and not used, back in front of the input
// typed ahead: the next key or line read takes them first.
void io_keep_typed_ahead(std::string_view bytes);

// One input line of at most a response line (kResponseLength characters;
// the rest of a longer line is read past, never kept, and the cut noted for
// io_response_cut). At a terminal the line editor can drive it is edited with
// history (readline) and Tab completes file names; otherwise (off a terminal,
// or at one without a terminal type or of type "dumb") the line is taken as
// it stands (no editing, no history), echoed only off a terminal, and a line
// holding a NUL byte is refused with a message and the next one read. A line
// running on past 1 MiB ends the input with a warning. LENGTH is the number
// of characters in LINE, or -1 at end of input.
void IO_READC(std::string_view prompt, int& length, std::string& line);

// The stream terminal lines are read from (the line editor's input).
std::FILE* io_terminal_input();

// Watching an input beside another wait with poll(): io_input_watch gives the
// descriptor and events to add to the poll (FD -1 when the input's end cannot
// be told without reading, as for a device). io_input_watch_ended, given
// what poll() reported for it, says whether the input has ended: no line
// waits, neither in the stream's buffer nor behind its descriptor, and none
// can come. It reads nothing. When a line waits (for a later prompt), the
// watch stops (FD -1) for the rest of the wait.
struct InputWatch {
  int fd = -1;
  short events = 0;
  std::FILE* stream = nullptr;
};
InputWatch io_input_watch(std::FILE* in);
bool io_input_watch_ended(InputWatch& watch, short revents);

}  // namespace kesta
