#include "core/system.hpp"

#include <pwd.h>
// rl_message takes its arguments as printf does only when told so.
#define USE_VARARGS
#define PREFER_STDARG
#include <readline/history.h>
#include <readline/readline.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/times.h>
#include <sys/wait.h>
#include <termcap.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/io_output.hpp"
#include "core/raw_io.hpp"
#include "core/reader.hpp"
#include "core/status.hpp"
#include "core/terminal_line.hpp"
#include "core/text.hpp"

// The line editor's own record that the last command killed text (not in
// its headers; weak, so that a line editor without it still links and only
// the leak below comes back).
extern "C" __attribute__((weak)) int _rl_last_command_was_kill;
// The line it keeps while a history line is shown (weak as well).
extern "C" __attribute__((weak)) HIST_ENTRY* _rl_saved_line_for_history;
// vi mode's record of the motion a change, delete or yank applies (weak as well).
extern "C" __attribute__((weak)) void* _rl_vimvcxt;
// Set while vi mode's "." repeats a command (weak as well).
extern "C" __attribute__((weak)) int _rl_vi_redoing;

namespace kesta {
namespace {

constexpr const char* kSystemNames[] = {"IBM-AIX", "DEC-UNIX", "HP-UX-9", "HP-UX-10",
                                        "SG-IRIX", "SG-IRIX64", "LINUX", "SUN-OS",
                                        "SUN-SOLARIS", "DEC-VMS", "WINDOWS-NT"};
constexpr const char* kProcessorNames[] = {"IBM-RS6000", "DEC-ALPHA", "HP-700", "HP-800",
                                           "SG-MIPS", "PC", "SUN-4", "DEC-VAX"};
constexpr std::size_t kUserLength = 32;
constexpr std::size_t kKeyBuffer = 256;

// The command line handed over by main (argument 0 first).
std::vector<std::string>& stored_args() {
  static std::vector<std::string> args;
  return args;
}
bool args_stored = false;

// More than the system lets a command line hold.
constexpr Index kMostArguments = Index{1} << 24;

// The command line from the process itself, for a main that did not hand it over.
std::vector<std::string> process_args() {
  std::vector<std::string> args;
  std::string problem;
  const InputFile in = open_system_file("/proc/self/cmdline", kMostArguments, problem);
  if (!in) return args;
  std::string arg;
  for (int c = std::getc(in.get()); c != EOF; c = std::getc(in.get())) {
    if (c != '\0') {
      arg.push_back(static_cast<char>(c));
      continue;
    }
    args.push_back(std::move(arg));
    arg.clear();
  }
  if (!arg.empty()) args.push_back(std::move(arg));
  return args;
}

std::string trim_right(std::string_view s) { return std::string(used_text(s)); }

// System routines: plain values, no status.
void io_system_namec(int& system, int& processor) {
  system = 7;  // LINUX
  processor = 6;  // PC
}

int io_timesc(double& elapsed, double& cpu) {
  const long ticks = sysconf(_SC_CLK_TCK);
  if (ticks <= 0) return 2;
  struct tms buffer {};
  const clock_t now = times(&buffer);
  if (now == static_cast<clock_t>(-1)) return 1;
  elapsed = static_cast<double>(now) / static_cast<double>(ticks);
  cpu = static_cast<double>(buffer.tms_utime + buffer.tms_stime + buffer.tms_cutime + buffer.tms_cstime) /
        static_cast<double>(ticks);
  return 0;
}

int io_loginnamec(std::string& name, int& user_id) {
  const uid_t uid = getuid();
  const passwd* entry = getpwuid(uid);
  if (entry == nullptr || entry->pw_name == nullptr || entry->pw_name[0] == '\0') return -1;
  name = entry->pw_name;
  user_id = static_cast<int>(uid);
  return 0;
}

int io_homedirc(const std::string& user, std::string& directory) {
  const passwd* entry = getpwnam(user.c_str());
  if (entry == nullptr || entry->pw_dir == nullptr) return 1;
  directory = entry->pw_dir;
  return 0;
}

// A line of standard input longer than this is no answer anybody typed: the
// input is given up there, as at its end, so that endless input without a
// line end cannot hold the program.
constexpr std::size_t kEndlessLine = std::size_t{1} << 20;

// The input whose line ran past kEndlessLine (by its file's identity, which
// outlives a stream reopened at the same address): later reads of it end at
// once.
struct InputIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const InputIdentity&) const = default;
};
std::optional<InputIdentity> given_up_input;

std::optional<InputIdentity> input_identity(std::FILE* in) {
  struct stat info {};
  if (fstat(fileno(in), &info) != 0) return std::nullopt;
  return InputIdentity{info.st_dev, info.st_ino};
}

void give_up_input(std::FILE* in) {
  given_up_input = input_identity(in);
  Status local = kStatusGood;
  IO_WRITE("WARNING: An input line is longer than " + std::to_string(kEndlessLine) +
               " characters; the input is taken as ended",
           local);
}

// One line read without the line editor, keeping a response line's
// characters and reading past the rest, in time linear in its length, with no
// editing keys and no history. Off a terminal the prompt and the line are
// echoed as the line editor echoes a typed line, so a transcript reads the
// same; at a terminal (ECHO false) the terminal has shown the line already. A
// line holding a NUL byte cannot be an answer: it is refused and the next
// line read. False at the end of the input.
bool read_plain_line(std::FILE* in, std::FILE* out, const std::string& prompt, bool echo,
                     std::string& line) {
  while (true) {
    std::fputs(prompt.c_str(), out);
    std::fflush(out);
    bool cut = false;
    bool endless = false;
    if (!io_read_bounded_line(in, kResponseLength, kEndlessLine, line, cut, endless)) {
      line.clear();
      if (endless) {
        std::fputc('\n', out);
        give_up_input(in);
      }
      return false;
    }
    if (echo) {
      std::fwrite(line.data(), 1, line.size(), out);
      std::fputc('\n', out);
      std::fflush(out);
    }
    if (line.find('\0') == std::string::npos) {
      if (cut) io_note_cut_response();
      return true;
    }
    Status local = kStatusGood;
    IO_WRITE("WARNING: The line holds a NUL byte and is ignored; enter it again", local);
  }
}

// Bytes the stream has taken from its descriptor and not handed out yet.
std::size_t stream_buffered(std::FILE* in);
// Whether those bytes hold a whole line.
bool stream_holds_line(std::FILE* in);

// The plain reader's line from IN after PROMPT, beginning with the keys
// taken ahead of the terminal in single-key mode and given back (the
// pager's): they are shown after the prompt, as the terminal did not echo
// them, and a line they do not end goes on with what the terminal gives.
bool plain_line_after_typed_ahead(std::FILE* in, std::FILE* out, const std::string& prompt,
                                  bool echo, std::string& line);

// True when the terminal is one the line editor can drive. Without a
// terminal type, with a "dumb" one, or with one the terminal database does
// not know or that cannot move the cursor up, the line editor falls back to
// scrolling a long line sideways, and that redisplay reads past its buffers.
bool line_editor_terminal() {
  const char* term = std::getenv("TERM");
  if (term == nullptr || term[0] == '\0' || std::string_view(term) == "dumb") return false;
  // The answer is kept for the type last asked about: the database is read
  // once, not at every prompt.
  static std::string asked;
  static bool drivable = false;
  if (asked != term) {
    asked = term;
    char* up = nullptr;
    drivable = tgetent(nullptr, term) > 0 && (up = tgetstr(const_cast<char*>("up"), nullptr)) &&
               up[0] != '\0';
  }
  return drivable;
}

// Characters of the line the line editor is reading; past kEndlessLine it is
// given the end of the input instead (twice is enough for it to give up the
// line).
std::size_t edited_characters = 0;
bool edited_line_endless = false;

// Input typed ahead while the program was busy, taken from the terminal in
// its line mode before the line editor switches it to single keys: bytes, and
// EOF for each Ctrl-D. Only the line mode tells a Ctrl-D typed ahead from
// other keys; the line editor, reading single keys, would get it as a NUL
// (its set-mark key), and the input would never end. The line mode reports a
// Ctrl-D as an end of input wherever the lines it holds end, also after keys
// the editor has taken as part of a line (a partial line ended by a Ctrl-D, or
// keys typed while the editor had the terminal); `bounded_getc` tells the two
// apart by the editor's own line.
std::deque<int> typed_ahead;
constexpr std::size_t kTypedAheadRoom = std::size_t{1} << 20;

// A key in typed_ahead that the terminal has shown already: one it echoed in
// its line mode before the single-key reader took it (pasted with the key
// that opened a help page), or one the plain reader showed with the keys
// given back before it. Shown once, it is not shown again at its prompt.
constexpr int kShownKey = 0x100;
int typed_key(int entry) { return entry == EOF ? EOF : entry & 0xff; }
bool shown_key(int entry) { return entry != EOF && (entry & kShownKey) != 0; }

// The keys the single-key reader handed out last, and how many of them (from
// the first) the terminal had shown: keys given back are the end of them.
struct KeysHandedOut {
  std::string keys;
  std::size_t shown = 0;
};
KeysHandedOut keys_handed_out;

// Lines the terminal's line mode has made of keys given back, beyond the
// line read: a line end taken literally ends the line the program reads
// there, but not the terminal's line, whose rest the terminal hands over in
// the same read. Typed straight, that rest waits in the stream's buffer for
// the next line read, where no single-key reader (a help page) sees it; so
// it waits here, edited and shown already, before the keys typed ahead. Each
// line ends in a line end; a last part without one is what the end-of-file
// key handed on of a line still to be finished.
std::string lines_made;

// While the terminal is held out of its line mode (single keys, no echo), a
// signal that ends or stops the program gives the terminal its line mode back
// first, or the user's shell would be left without echo and line editing; the
// signal then takes its own course, and a program that goes on (continued
// after a stop) holds the terminal again, where it is in the foreground. A
// signal the program ignores stays ignored.
constexpr std::array<int, 6> kSignalsOfTheTerminal = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT};
struct HeldTerminal {
  volatile sig_atomic_t fd = -1;
  termios line_mode{};
  termios keys_mode{};
  std::array<struct sigaction, kSignalsOfTheTerminal.size()> previous{};
  std::array<bool, kSignalsOfTheTerminal.size()> caught{};
};
HeldTerminal held_terminal;

void hold_again_if_foreground(int fd) {
  if (tcgetpgrp(fd) == getpgrp()) tcsetattr(fd, TCSANOW, &held_terminal.keys_mode);
}

void give_terminal_back_on_signal(int signal_number) {
  const int saved_errno = errno;
  const int fd = held_terminal.fd;
  if (signal_number != SIGCONT) {
    if (fd >= 0) tcsetattr(fd, TCSANOW, &held_terminal.line_mode);
    std::size_t i = 0;
    while (i < kSignalsOfTheTerminal.size() && kSignalsOfTheTerminal[i] != signal_number) ++i;
    // The signal's own action (ending or stopping the program), taken now.
    struct sigaction ours {};
    if (i < kSignalsOfTheTerminal.size() &&
        sigaction(signal_number, &held_terminal.previous[i], &ours) == 0) {
      raise(signal_number);
      sigset_t one;
      sigemptyset(&one);
      sigaddset(&one, signal_number);
      pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
      sigaction(signal_number, &ours, nullptr);
    }
  }
  if (fd >= 0) hold_again_if_foreground(fd);
  errno = saved_errno;
}

// Holds the terminal FD in KEYS (a mode out of its line mode) for its life,
// and gives it LINE back at its end, also when a signal ends the program.
class TerminalHeld {
 public:
  TerminalHeld(int fd, const termios& line, const termios& keys) {
    sigset_t all = signals_of_the_terminal();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &all, &before);
    held_terminal.line_mode = line;
    held_terminal.keys_mode = keys;
    held_terminal.fd = fd;
    // The mode first: keys typed from now on come as single keys.
    held_ = tcsetattr(fd, TCSANOW, &keys) == 0;
    struct sigaction ours {};
    ours.sa_handler = give_terminal_back_on_signal;
    ours.sa_flags = SA_RESTART;
    sigemptyset(&ours.sa_mask);
    for (std::size_t i = 0; i < kSignalsOfTheTerminal.size(); ++i) {
      struct sigaction& previous = held_terminal.previous[i];
      held_terminal.caught[i] = sigaction(kSignalsOfTheTerminal[i], nullptr, &previous) == 0 &&
                                previous.sa_handler != SIG_IGN &&
                                sigaction(kSignalsOfTheTerminal[i], &ours, nullptr) == 0;
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }
  TerminalHeld(const TerminalHeld&) = delete;
  TerminalHeld& operator=(const TerminalHeld&) = delete;
  ~TerminalHeld() {
    sigset_t all = signals_of_the_terminal();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &all, &before);
    tcsetattr(held_terminal.fd, TCSANOW, &held_terminal.line_mode);
    held_terminal.fd = -1;
    for (std::size_t i = 0; i < kSignalsOfTheTerminal.size(); ++i)
      if (held_terminal.caught[i]) sigaction(kSignalsOfTheTerminal[i], &held_terminal.previous[i], nullptr);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }
  // Whether the terminal took the mode.
  bool held() const { return held_; }
  // Another mode out of the line mode, held from now on.
  bool change(const termios& keys) {
    sigset_t all = signals_of_the_terminal();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &all, &before);
    held_terminal.keys_mode = keys;
    const bool changed = tcsetattr(held_terminal.fd, TCSANOW, &keys) == 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return changed;
  }

 private:
  static sigset_t signals_of_the_terminal() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal_number : kSignalsOfTheTerminal) sigaddset(&set, signal_number);
    return set;
  }
  bool held_ = false;
};

// The terminal's line mode LINE made a single-key mode that edits nothing.
termios single_key_mode(const termios& line) {
  termios single = line;
  single.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO | ECHONL));
  // Carriage returns come as typed: the line takes them as the terminal would.
  single.c_iflag &= static_cast<tcflag_t>(~(ICRNL | IGNCR));
  single.c_cc[VMIN] = 1;
  single.c_cc[VTIME] = 0;
  return single;
}

// The rest of a line that keys given back began, read from the terminal IN
// (held in single-key mode) a key at a time and edited and shown (as KEYS say
// the terminal shows keys) here as its line mode would: in that mode the
// terminal could not take back keys it never held. The key that ended the
// line (a line end, the end-of-file key on a line with nothing since the
// last, or one handing on a line end taken literally); none when the
// terminal could not be read or the input was given up.
// Whether the reader has its line where the end-of-file key handed LINE on:
// a line end taken literally in it ends the reader's line, though not the
// terminal's.
bool reader_line_ends(const TerminalLine& line) { return line.text().find('\n') != std::string::npos; }

std::optional<TerminalLine::Key> finish_line_at_terminal(std::FILE* in, std::FILE* out,
                                                         TerminalLine& line,
                                                         const TerminalEditKeys& keys) {
  const int fd = fileno(in);
  for (std::size_t count = 0;; ++count) {
    unsigned char key = 0;
    const ssize_t got = read(fd, &key, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got != 1) return std::nullopt;
    if (count > kEndlessLine) {
      std::fputc('\n', out);
      give_up_input(in);
      return std::nullopt;
    }
    std::string shown;
    const TerminalLine::Key taken = line.take(key, shown);
    if (taken == TerminalLine::Key::kEndOfInput) return taken;
    if (taken == TerminalLine::Key::kHandedOn && reader_line_ends(line)) return taken;
    if (taken == TerminalLine::Key::kLineEnd) shown = keys.echo_line_end ? "\n" : "";
    else if (!keys.echo) shown.clear();
    std::fwrite(shown.data(), 1, shown.size(), out);
    std::fflush(out);
    if (taken == TerminalLine::Key::kLineEnd) return taken;
  }
}

// Every key waiting at the terminal FD in single-key mode, put after the keys
// typed ahead.
void take_keys_waiting(int fd);

// What the terminal shows of the keys typed ahead not shown yet, taken as
// its line mode takes them, line by line up to the first end of the input
// given ahead; they are marked shown.
std::string show_keys_ahead(const TerminalEditKeys& keys) {
  std::string shown;
  std::optional<TerminalLine> line;
  for (int& entry : typed_ahead) {
    if (entry == EOF) break;
    if (!line) line.emplace(keys);
    std::string echo;
    const TerminalLine::Key taken = line->take(static_cast<unsigned char>(typed_key(entry)), echo);
    if (!shown_key(entry)) {
      if (keys.echo) shown += echo;
      if (taken == TerminalLine::Key::kLineEnd && keys.echo_line_end) shown.push_back('\n');
      entry |= kShownKey;
    }
    if (taken == TerminalLine::Key::kLineEnd || taken == TerminalLine::Key::kEndOfInput) line.reset();
  }
  return shown;
}

// What LINE, made of keys given back, keeps as a response line.
void keep_response(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > kResponseLength) {
    line.resize(kResponseLength);
    io_note_cut_response();
  }
}

bool plain_line_after_typed_ahead(std::FILE* in, std::FILE* out, const std::string& prompt,
                                  bool echo, std::string& line) {
  if (const std::size_t end = lines_made.find('\n'); end != std::string::npos) {
    line = lines_made.substr(0, end);
    lines_made.erase(0, end + 1);
    std::fputs(prompt.c_str(), out);
    if (echo) {
      std::fwrite(line.data(), 1, line.size(), out);
      std::fputc('\n', out);
    }
    std::fflush(out);
    keep_response(line);
    return true;
  }
  // The part of a line the end-of-file key handed on, shown already, goes on
  // with the keys after it: the terminal cannot take it back.
  std::string part = std::exchange(lines_made, {});
  if (part.empty()) {
    // A line the terminal handed over before the keys given back were typed
    // (the rest of the read a help page was asked for in) comes first.
    if (typed_ahead.empty() || stream_holds_line(in)) return read_plain_line(in, out, prompt, echo, line);
    // So does a part of one (handed on by the end-of-file key) waiting in the
    // stream: the keys given back were typed after it.
    for (std::size_t n = stream_buffered(in); n > 0; --n) part.push_back(static_cast<char>(std::getc(in)));
  }
  std::size_t shown_from = part.size();
  // An end of the input the terminal gave ahead (an end-of-file key on an
  // empty line) ends this read, as it would have ended the plain reader's.
  if (part.empty() && typed_ahead.front() == EOF) {
    typed_ahead.pop_front();
    std::fputs(prompt.c_str(), out);
    std::fflush(out);
    return false;
  }
  // The keys were taken in single-key mode, unedited: the terminal's editing
  // keys among them are applied here, up to the first end of line (or of the
  // input), as far as its own settings edit and show them.
  const TerminalEditKeys keys = terminal_edit_keys(fileno(in));
  TerminalLine edited(keys, std::move(part));
  TerminalLine::Key taken = TerminalLine::Key::kTaken;
  // What the terminal would have shown of the keys not shown yet, as they
  // came: where it does not take an erased character off the screen, the
  // erase key shows as itself, and the line alone would hide it. It holds
  // only while their editing stays among them; one reaching back into what
  // was shown before the prompt leaves the line itself to show.
  std::string unshown;
  std::size_t unshown_from = edited.text().size();
  bool unshown_holds = true;
  bool line_end_shown = false;
  while (taken == TerminalLine::Key::kTaken && !typed_ahead.empty() && typed_ahead.front() != EOF) {
    const int entry = typed_ahead.front();
    std::string echo;
    taken = edited.take(static_cast<unsigned char>(typed_key(entry)), echo);
    typed_ahead.pop_front();
    // What the terminal has shown already is not shown again (those keys
    // came before the others).
    shown_from = shown_key(entry) ? edited.text().size() : std::min(shown_from, edited.text().size());
    if (shown_key(entry)) {
      unshown.clear();
      unshown_from = edited.text().size();
      unshown_holds = true;
    } else {
      unshown += echo;
      unshown_holds = unshown_holds && edited.text().size() >= unshown_from;
    }
    line_end_shown = shown_key(entry);
    if (taken == TerminalLine::Key::kHandedOn && !reader_line_ends(edited)) taken = TerminalLine::Key::kTaken;
  }
  // The end of the input given ahead after the keys (not an end-of-file key
  // among them) is still to come.
  const bool end_given_ahead = taken == TerminalLine::Key::kTaken && !typed_ahead.empty();
  // A line they do not end goes on with what the terminal gives: at the
  // terminal edited here, so that its erase keys reach the keys given back.
  // The terminal gives single keys before the prompt shows, so that no key
  // typed after it meets the line mode.
  const int fd = fileno(in);
  termios line_mode{};
  const bool finish_at_terminal = taken == TerminalLine::Key::kTaken && !end_given_ahead &&
                                  isatty(fd) != 0 && stream_buffered(in) == 0 && keys.line_mode &&
                                  tcgetattr(fd, &line_mode) == 0;
  std::optional<TerminalHeld> held;
  if (finish_at_terminal) held.emplace(fd, line_mode, single_key_mode(line_mode));
  // The line so far is shown after the prompt, as the terminal did not echo
  // it (the part handed on it did).
  std::fputs(prompt.c_str(), out);
  if (keys.echo) {
    const std::string shown =
        !keys.echo_erase && unshown_holds ? unshown : edited.shown(std::string_view(edited.text()).substr(shown_from));
    std::fwrite(shown.data(), 1, shown.size(), out);
  }
  edited.shown_after(prompt, shown_from);
  if (taken == TerminalLine::Key::kLineEnd && keys.echo_line_end && !line_end_shown) std::fputc('\n', out);
  // The keys given back beyond this line the terminal would have shown as
  // they came, all at once: they show now, and later reads show only their
  // prompts.
  if (taken != TerminalLine::Key::kTaken) {
    const std::string ahead = show_keys_ahead(keys);
    std::fwrite(ahead.data(), 1, ahead.size(), out);
  }
  std::fflush(out);
  std::string rest;  // read as the terminal edits it itself
  if (end_given_ahead) {
    taken = TerminalLine::Key::kEndOfInput;
  } else if (held) {
    if (!held->held()) return false;
    const std::optional<TerminalLine::Key> ended = finish_line_at_terminal(in, out, edited, keys);
    if (!ended) return false;
    taken = *ended;
    // Keys that came on after the line's end came in single-key mode too,
    // neither edited nor shown (a carriage return not yet a line end): they
    // are taken as keys typed ahead, and shown as the terminal shows them.
    take_keys_waiting(fd);
    held.reset();
    const std::string ahead = show_keys_ahead(keys);
    std::fwrite(ahead.data(), 1, ahead.size(), out);
    std::fflush(out);
  } else if (taken == TerminalLine::Key::kTaken && !read_plain_line(in, out, "", echo, rest)) {
    return false;
  }
  if (taken == TerminalLine::Key::kEndOfInput) {
    // The end-of-file key hands the keys before it to the reader as the line;
    // on a line with nothing it is the end of the input. A line handed on so
    // meets the end of the input at the next read, as the terminal's line
    // mode gives it.
    if (edited.text().empty()) {
      if (end_given_ahead) typed_ahead.pop_front();
      return false;
    }
    if (!end_given_ahead) typed_ahead.push_front(EOF);
  }
  line = edited.text() + rest;
  // A line end taken literally (after the literal-next key) does not end the
  // terminal's line, but the reader ends its line there: what follows is
  // made into the next lines, shown already (the last a part still to be
  // finished, where the end-of-file key handed it on).
  if (const std::size_t literal_end = line.find('\n'); literal_end != std::string::npos) {
    lines_made = line.substr(literal_end + 1);
    if (taken != TerminalLine::Key::kHandedOn) lines_made.push_back('\n');
    line.resize(literal_end);
  }
  keep_response(line);
  return true;
}

void take_typed_ahead(int fd) {
  termios mode{};
  if (tcgetattr(fd, &mode) != 0 || (mode.c_lflag & ICANON) == 0) return;
  char buffer[4096];
  // In line mode the terminal is readable only when whole lines (or Ctrl-Ds)
  // wait, and each read gives one of them; a Ctrl-D gives nothing.
  while (typed_ahead.size() < kTypedAheadRoom) {
    struct pollfd p {fd, POLLIN, 0};
    if (poll(&p, 1, 0) != 1 || (p.revents & POLLIN) == 0) return;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0) return;
    if (n == 0) {
      typed_ahead.push_back(EOF);
      // A terminal that has gone away reads as ended for ever.
      if ((p.revents & POLLHUP) != 0) return;
      continue;
    }
    for (ssize_t i = 0; i < n; ++i) typed_ahead.push_back(static_cast<unsigned char>(buffer[i]));
  }
}

// Every key waiting at the terminal FD, in single-key mode that returns at
// once, put after the keys typed ahead. A pasted block larger than the
// terminal holds comes in parts: after a full read the next part is waited
// for a moment.
void take_keys_waiting(int fd) {
  char buffer[4096];
  bool full = false;
  while (typed_ahead.size() < kTypedAheadRoom) {
    struct pollfd p {fd, POLLIN, 0};
    if (poll(&p, 1, full ? 50 : 0) != 1 || (p.revents & POLLIN) == 0) return;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) typed_ahead.push_back(static_cast<unsigned char>(buffer[i]));
    full = static_cast<std::size_t>(n) == sizeof buffer;
  }
}

// True while the completion asks whether to list its matches, or shows
// them a page at a time. Given Ctrl-G or the end of the input there, the
// line editor jumps out of the completion and loses the copy of the line it
// holds; "n" declines the list as well, and the completion ends in order.
bool completion_question() {
  return RL_ISSTATE(RL_STATE_COMPLETING) && RL_ISSTATE(RL_STATE_MOREINPUT);
}

// The key the terminal takes as the end of the input in its line mode (Ctrl-D
// unless the user chose another).
constexpr int kCtrlD = 0x04;
int end_of_file_key(std::FILE* in) {
  termios mode{};
  if (tcgetattr(fileno(in), &mode) != 0 || mode.c_cc[VEOF] == _POSIX_VDISABLE) return kCtrlD;
  return static_cast<unsigned char>(mode.c_cc[VEOF]);
}

// True when the line editor's undo record of the line holds ENTRY.
bool in_undo_record(const void* entry) {
  for (const UNDO_LIST* step = rl_undo_list; step != nullptr; step = step->next)
    if (step == entry) return true;
  return false;
}

// Every history line (and the line kept while one is shown) lets go of the
// line's undo record, which is about to be freed; with KEEP_EDITED the history
// line being edited takes the line as it stands. The editor itself clears only
// a history line that holds the record's newest entry: a line holding an
// older one (left and reached again, or edited further) would keep what was
// freed, and be undone or reverted a second time.
void history_lets_go_of_undo_record(bool keep_edited) {
  if (rl_undo_list == nullptr) return;
  const int here = where_history();
  HIST_ENTRY** lines = history_list();
  for (int i = 0; lines != nullptr && lines[i] != nullptr; ++i) {
    if (lines[i]->data == nullptr || !in_undo_record(lines[i]->data)) continue;
    if (i == here && keep_edited)
      free_history_entry(replace_history_entry(i, rl_line_buffer, nullptr));
    else
      lines[i]->data = nullptr;
  }
  if (&_rl_saved_line_for_history != nullptr && _rl_saved_line_for_history != nullptr &&
      in_undo_record(_rl_saved_line_for_history->data))
    _rl_saved_line_for_history->data = nullptr;
}

// The first switch to vi command mode on a line frees the line's undo record
// (what was typed before it cannot be undone). So the switch is the editor's
// own command behind one of ours, bound where it was: before it, every line
// holding part of the record lets go of it, the history line being edited
// taking the line as it stands. Bound in the key maps, it runs for a typed
// key, a key replayed from a keyboard macro and one a search hands on alike,
// and only between commands, never while a search holds the history's lines.
int vi_command_mode_keeping_history(int count, int key) {
  if (!RL_ISSTATE(RL_STATE_VICMDONCE)) history_lets_go_of_undo_record(true);
  return rl_vi_movement_mode(count, key);
}

// In vi mode "~" with a count changes each character by deleting it as a
// kill, one kill after another within one command, and there a kill that
// follows a kill takes the place of the one before without freeing it. One
// character at a time, each kill is a command's first.
int vi_change_case_one_kill_each(int count, int key) {
  for (int i = 0; i < count && rl_point < rl_end; ++i) {
    if (&_rl_last_command_was_kill != nullptr) _rl_last_command_was_kill = 0;
    rl_vi_change_case(1, key);
  }
  return 0;
}

// vi mode's "." repeating a change, delete or yank gives the repeat a motion
// record of its own and keeps the one before on its stack, to put back when
// it ends. A key within the repeated motion that jumps to the editor's top
// level (one bound to nothing) leaves the command there, and the record kept
// on the stack is lost. A repeated command that starts while another's
// record is in use notes that record here until it ends; what is still noted
// when the next line is read was lost so, and is given back then (never the
// one the editor holds). Only a repeat puts the record aside: any other
// command takes it over itself, and the editor frees it later, so it is
// never noted.
std::vector<void*> vi_motion_records;

template <rl_command_func_t* command>
int vi_motion_command(int count, int key) {
  const bool repeat = &_rl_vi_redoing != nullptr && _rl_vi_redoing != 0;
  void* const outer = repeat && &_rl_vimvcxt != nullptr ? _rl_vimvcxt : nullptr;
  if (outer != nullptr) vi_motion_records.push_back(outer);
  const int result = command(count, key);
  if (outer != nullptr) vi_motion_records.pop_back();
  return result;
}

void give_back_lost_vi_motion_records() {
  for (void* record : vi_motion_records)
    if (record != _rl_vimvcxt) std::free(record);
  vi_motion_records.clear();
}

// A motion that moves nowhere: the repeated command fails, rings the bell
// and leaves the line as it was.
int no_motion(int, int) { return 0; }

// A change, delete or yank whose motion was left (Esc, Ctrl-G) before any
// motion was given in the session is repeated by "." with the motion NUL.
// Bound to nothing, NUL jumps out of the repeat to the editor's top level:
// the blank the motion adds at the line's end stays in the answer, the
// editor goes on taking every later command as a repeat (a change no longer
// inserts, "S" never reaches insertion), and each motion record it then
// puts aside is lost. So while "." repeats, an unbound NUL is a motion that
// moves nowhere.
int vi_repeat_with_no_motion_kept(int count, int key) {
  KEYMAP_ENTRY& nul = rl_get_keymap()[0];
  const bool unbound = nul.type == ISFUNC && nul.function == nullptr;
  if (unbound) nul.function = no_motion;
  const int result = rl_vi_redo(count, key);
  if (unbound && nul.type == ISFUNC && nul.function == no_motion) nul.function = nullptr;
  return result;
}

int reread_settings(int count, int key);

// The history line after FROM, older (OLDER) or newer, that holds TEXT
// (begins with it when PREFIX), or -1.
int history_line_holding(std::string_view text, bool prefix, bool older, int from) {
  HIST_ENTRY** lines = history_list();
  if (lines == nullptr) return -1;
  for (int at = from + (older ? -1 : 1); at >= 0 && at < history_length; at += older ? -1 : 1) {
    if (lines[at] == nullptr) return -1;
    const std::string_view line = lines[at]->line;
    if (prefix ? line.starts_with(text) : line.find(text) != std::string_view::npos) return at;
  }
  return -1;
}

// The history's searches bring a line in as the editor's own do: as one
// change of the line being edited, which the undo keys take back, the history
// position left where it was. In vi mode what was done to the line before
// cannot be undone after it (the editor frees the line's undo record there);
// the history lines let go of that record first, so that none keeps what was
// freed.
void show_found_line(std::string_view text) {
  rl_begin_undo_group();
  rl_delete_text(0, rl_end);
  rl_point = 0;
  rl_insert_text(std::string(text).c_str());
  rl_end_undo_group();
  if (rl_editing_mode == 0) {
    history_lets_go_of_undo_record(false);
    rl_free_undo_list();
  }
  rl_mark = rl_end;
}

// A history line that is not the one being edited may still hold an undo
// record of its own (edited and left). A vi search showing it frees the
// record of the line it shows, and the line's own record would be dropped,
// never freed, when the line is left or taken. So the search frees it too:
// a record that runs on into the one being edited (or stands alone while
// nothing is being edited) becomes the one being edited, freed with it;
// another is freed here, every holder letting go of it first.
void history_line_frees_undo_record(int at) {
  HIST_ENTRY* const line = history_list()[at];
  if (line->data == nullptr || in_undo_record(line->data)) return;
  UNDO_LIST* const kept = static_cast<UNDO_LIST*>(line->data);
  for (const UNDO_LIST* step = kept; ; step = step->next) {
    if (step == rl_undo_list) {
      rl_undo_list = kept;
      return;
    }
    if (step == nullptr) break;
  }
  UNDO_LIST* const editing = rl_undo_list;
  rl_undo_list = kept;
  history_lets_go_of_undo_record(false);
  rl_free_undo_list();
  rl_undo_list = editing;
}

// The searches that are not incremental (Meta-P and Meta-N, vi's "/" and
// "?", and the searches "again"): the editor's own free what a recalled or
// edited history line still holds, and with the next recall or undo the
// program crashed or took freed bytes as the answer. Their keys run the
// commands below instead, which read the text as the editor does (Enter ends
// it and leaves the line found for editing, Backspace on no text or Ctrl-G
// cancels it) and bring lines in as show_found_line does. A search with no
// text searches again for the last one; a failed search rings the bell and
// leaves the line as it was before it.
struct WholeStringSearch {
  std::string text;   // the last search's text (an incremental search keeps its own)
  int position = -1;  // the history line it found; -1: from the history position
};
WholeStringSearch whole_search;

// Where a whole-string search leaves the cursor in the line it found, as
// the editor's own do: vi's own keys ("/", "?", and "n" and "N" in command
// mode) at the line's start; the others at the text found, which is marked.
enum class FoundCursor { kAtStart, kAtText };

bool editor_marks_regions() {
  const char* value = rl_variable_value("enable-active-region");
  return value != nullptr && std::string_view(value) == "on";
}

// The text found is the last place in the line for a search of older lines,
// the first for newer ones; where the editor marks no regions
// ("enable-active-region" off), or the text begins the line, the cursor is
// at the line's start.
void place_cursor_on_found(FoundCursor where, bool older) {
  rl_point = 0;
  rl_mark = rl_end;
  if (where != FoundCursor::kAtText || !editor_marks_regions()) return;
  const std::string_view line(rl_line_buffer, static_cast<std::size_t>(rl_end));
  const std::size_t at = older ? line.rfind(whole_search.text) : line.find(whole_search.text);
  if (at == std::string_view::npos || at == 0) return;
  rl_point = static_cast<int>(at);
  rl_mark = static_cast<int>(std::min(at + whole_search.text.size(), line.size()));
  rl_activate_mark();
}

// The line that is not incremental searches for TEXT from the last found (or
// the present) history line, OLDER or newer. A search that finds nothing
// leaves the line as it was with the cursor at its start, as the editor's own
// do; with no text to search for, the cursor stays.
bool search_for_whole_string(bool older, FoundCursor where) {
  if (whole_search.text.empty()) {
    rl_ding();
    return false;
  }
  const int from = whole_search.position >= 0 ? whole_search.position : where_history();
  const int found = history_line_holding(whole_search.text, false, older, from);
  if (found < 0) {
    rl_point = 0;
    rl_ding();
    return false;
  }
  whole_search.position = found;
  // vi mode goes on from the line found, as its history keys do; the line
  // being typed is kept for the way back.
  if (rl_editing_mode == 0) {
    rl_maybe_save_line();
    history_line_frees_undo_record(found);
    history_set_pos(found);
  }
  show_found_line(history_list()[found]->line);
  place_cursor_on_found(where, older);
  return true;
}

// The last character of TEXT in the terminal's character set (the line
// editor's locale): where it begins, and whether it is whole (its bytes
// may stop short, until the terminal sends the rest). A byte that begins no
// character is one.
struct LastCharacter {
  std::size_t start = 0;
  bool whole = true;
};
LastCharacter last_character(std::string_view text) {
  LastCharacter last;
  std::mbstate_t state{};
  for (std::size_t at = 0; at < text.size();) {
    last.start = at;
    std::size_t size = std::mbrlen(text.data() + at, text.size() - at, &state);
    if (size == static_cast<std::size_t>(-2)) {
      last.whole = false;
      break;
    }
    if (size == 0 || size == static_cast<std::size_t>(-1)) {
      state = std::mbstate_t{};
      size = 1;
    }
    at += size;
  }
  return last;
}

// The keys of a search's text as the terminal sends them. Pasted text comes
// between the bracketed-paste markers the prompt turns on (ESC [200~ before
// it, ESC [201~ after it): the markers are taken off, and every key between
// them is text (PASTED). Keys read while an ESC is told from a marker are
// handed out after it, in order.
class SearchTextKeys {
 public:
  struct Key {
    int code;
    bool pasted;
  };

  Key next() {
    while (true) {
      const int c = read();
      if (c != kEscape) return {c, pasting_};
      const std::optional<bool> marker = paste_marker();
      if (!marker) return {c, pasting_};
      pasting_ = *marker;
    }
  }

 private:
  static constexpr int kEscape = 0x1b;

  int read() {
    if (held_.empty()) return rl_read_key();
    const int c = held_.front();
    held_.pop_front();
    return c;
  }

  // After an ESC: true for the marker that begins a paste, false for the one
  // that ends it, nullopt when the keys that follow are no marker (they are
  // held for the next reads).
  std::optional<bool> paste_marker() {
    constexpr std::string_view kBegin = "[200~", kEnd = "[201~";
    std::vector<int> read_keys;
    std::string seen;
    while (seen.size() < kBegin.size()) {
      const int c = read();
      read_keys.push_back(c);
      if (c < 0 || c > UCHAR_MAX) break;
      seen.push_back(static_cast<char>(c));
      if (!kBegin.starts_with(seen) && !kEnd.starts_with(seen)) break;
    }
    if (seen == kBegin || seen == kEnd) return seen == kBegin;
    held_.insert(held_.begin(), read_keys.begin(), read_keys.end());
    return std::nullopt;
  }

  std::deque<int> held_;
  bool pasting_ = false;
};

// Puts TEXT in the line editor's buffer, the cursor at its end.
void set_edited_line(std::string_view text) {
  rl_extend_line_buffer(static_cast<int>(text.size()) + 1);
  std::memcpy(rl_line_buffer, text.data(), text.size());
  rl_line_buffer[text.size()] = '\0';
  rl_end = rl_point = static_cast<int>(text.size());
}

// Reads a search's text after PROMPT in place of the line: Enter ends it,
// Backspace on no text, Ctrl-G and Ctrl-C cancel it (nullopt), Backspace
// takes back the last character, Ctrl-U and Ctrl-W erase, every other key
// (and every pasted one) is text. The line comes back as it was.

std::optional<std::string> read_search_text(char prompt) {
  const std::string line(rl_line_buffer, static_cast<std::size_t>(std::max(rl_end, 0)));
  const int point = rl_point, mark = rl_mark;
  rl_save_prompt();
  // The text is shown as the line after the search's prompt, so that the
  // editor's display knows the width of its characters.
  rl_message("%c", prompt);
  std::string text;
  std::optional<std::string> result;
  SearchTextKeys keys;
  while (true) {
    // A character is shown once the terminal has sent all of it: the
    // display would count the part shown as a character of its own.
    if (last_character(text).whole) {
      set_edited_line(text);
      rl_redisplay();
    }
    const auto [c, pasted] = keys.next();
    if (pasted && c != EOF) {
      if (text.size() < kResponseLength) text.push_back(static_cast<char>(c));
      continue;
    }
    if (c == '\r' || c == '\n') {
      result = text;
      break;
    }
    if (c == EOF || c == 0x07 || c == 0x03) {
      if (c == EOF)
        typed_ahead.push_front(EOF);  // the end of the input, for the line to end on
      else
        rl_ding();
      break;
    }
    if (c == 0x7f || c == 0x08) {
      if (text.empty()) break;
      text.erase(last_character(text).start);
    } else if (c == 0x15) {
      text.clear();
    } else if (c == 0x17) {
      while (!text.empty() && text.back() == ' ') text.pop_back();
      while (!text.empty() && text.back() != ' ') text.pop_back();
    } else if (text.size() < kResponseLength) {
      text.push_back(static_cast<char>(c));
    }
  }
  rl_restore_prompt();
  rl_clear_message();
  set_edited_line(line);
  rl_point = point;
  rl_mark = mark;
  rl_redisplay();
  return result;
}

int search_whole_string(bool older, char prompt, FoundCursor where) {
  const std::optional<std::string> text = read_search_text(prompt);
  if (!text) return 0;
  if (!text->empty()) {
    whole_search.text = *text;
    whole_search.position = where_history();
  }
  return search_for_whole_string(older, where) ? 0 : 1;
}
int search_older_whole_string(int, int) { return search_whole_string(true, ':', FoundCursor::kAtText); }
int search_newer_whole_string(int, int) { return search_whole_string(false, ':', FoundCursor::kAtText); }
// vi's "/" searches older lines, "?" newer ones.
int vi_search_whole_string(int, int key) {
  return search_whole_string(key != '?', static_cast<char>(key), FoundCursor::kAtStart);
}

// "n", "N" and the searches "again": the next older or newer line holding
// the last search's text, at once.
int search_again_older(int, int) { return search_for_whole_string(true, FoundCursor::kAtText) ? 0 : 1; }
int search_again_newer(int, int) { return search_for_whole_string(false, FoundCursor::kAtText) ? 0 : 1; }
int vi_search_again(int, int key) {
  const FoundCursor where = rl_editing_mode == 0 && rl_get_keymap() == vi_movement_keymap
                                ? FoundCursor::kAtStart
                                : FoundCursor::kAtText;
  return search_for_whole_string(key != 'N', where) ? 0 : 1;
}

// The searches for the text before the cursor: the next older or newer
// history line beginning with it (holding it, for SUBSTRING), the cursor after
// the text (at it, for SUBSTRING), as the editor's own have it. Repeated, they go on with the same
// text from the line they found. With nothing before the cursor they are the
// previous and next history commands. No match rings the bell and leaves the
// line; only going newer past the newest match of the same search gives back
// the line as it was when the search began.
struct TextBeforeCursor {
  std::string text;
  std::string typed;      // the line when the search began
  std::string left;       // the line the last of these searches left shown
  std::string found;      // the last line found, not found twice running
  int position = 0;       // the history line the search stands at
  bool substring = false;
  bool matched = false;   // a line was found since the search began
};
TextBeforeCursor text_search;

template <bool kSubstring, bool kOlder>
int history_by_text_before_cursor(int count, int key);

bool text_search_goes_on(bool substring) {
  const rl_command_func_t* const family[] = {history_by_text_before_cursor<false, true>,
                                             history_by_text_before_cursor<false, false>,
                                             history_by_text_before_cursor<true, true>,
                                             history_by_text_before_cursor<true, false>};
  return std::find(std::begin(family), std::end(family), rl_last_func) != std::end(family) &&
         text_search.substring == substring &&
         text_search.left == std::string_view(rl_line_buffer, static_cast<std::size_t>(rl_end));
}

template <bool kSubstring, bool kOlder>
int history_by_text_before_cursor(int count, int key) {
  bool older = kOlder;
  if (count < 0) {
    count = -count;
    older = !older;
  }
  if (count == 0) return 0;
  TextBeforeCursor& search = text_search;
  if (!text_search_goes_on(kSubstring)) {
    search.text.assign(rl_line_buffer, static_cast<std::size_t>(std::max(rl_point, 0)));
    search.typed.assign(rl_line_buffer, static_cast<std::size_t>(std::max(rl_end, 0)));
    search.found.clear();
    search.position = where_history();
    search.substring = kSubstring;
    search.matched = false;
  }
  int result = 0;
  if (search.text.empty()) {
    result = older ? rl_get_previous_history(count, key) : rl_get_next_history(count, key);
  } else {
    int found = -1;
    for (int at = search.position; count > 0;) {
      at = history_line_holding(search.text, !kSubstring, older, at);
      if (at < 0) break;
      search.position = at;
      const char* line = history_list()[at]->line;
      if (search.found == line) continue;
      search.found = line;
      found = at;
      --count;
    }
    if (found >= 0) {
      show_found_line(history_list()[found]->line);
      // After the text it begins with; at the text a line holds.
      const std::size_t at = kSubstring ? std::string_view(rl_line_buffer).find(search.text)
                                        : search.text.size();
      rl_point = static_cast<int>(std::min<std::size_t>(at, static_cast<std::size_t>(rl_end)));
      search.matched = true;
    } else if (!older && search.matched) {
      show_found_line(search.typed);
      rl_point = std::min(static_cast<int>(search.text.size()), rl_end);
      search.position = where_history();
      search.found.clear();
      search.matched = false;
    } else {
      rl_ding();
      result = 1;
    }
  }
  search.left.assign(rl_line_buffer, static_cast<std::size_t>(rl_end));
  return result;
}

// vi "r" with a count changes each character by deleting it as a kill, one
// after another within one command, which loses the kills as "~" did. One
// character at a time, each kill a command's first, the replacement read
// once and the whole undone at once.
int vi_replace_one_kill_each(int count, int key) {
  if (count <= 1 || &_rl_vi_redoing == nullptr) return rl_vi_change_char(count, key);
  const int redoing = _rl_vi_redoing;
  rl_begin_undo_group();
  if (&_rl_last_command_was_kill != nullptr) _rl_last_command_was_kill = 0;
  int result = rl_vi_change_char(1, key);
  for (int i = 1; i < count && result == 0; ++i) {
    // The cursor is on the character changed; on to the next one, if any.
    std::mbstate_t state{};
    const std::size_t size = std::mbrlen(rl_line_buffer + rl_point,
                                         static_cast<std::size_t>(rl_end - rl_point), &state);
    const int next = rl_point + (size == 0 || size > MB_LEN_MAX ? 1 : static_cast<int>(size));
    if (next >= rl_end) break;
    rl_point = next;
    if (&_rl_last_command_was_kill != nullptr) _rl_last_command_was_kill = 0;
    // As a repeat, it takes the replacement read first.
    _rl_vi_redoing = 1;
    result = rl_vi_change_char(1, key);
    _rl_vi_redoing = redoing;
  }
  rl_end_undo_group();
  return result;
}

rl_command_func_t* command_kept_off_faults(rl_command_func_t* command) {
  if (command == rl_noninc_reverse_search) return search_older_whole_string;
  if (command == rl_noninc_forward_search) return search_newer_whole_string;
  if (command == rl_vi_search) return vi_search_whole_string;
  if (command == rl_noninc_reverse_search_again) return search_again_older;
  if (command == rl_noninc_forward_search_again) return search_again_newer;
  if (command == rl_vi_search_again) return vi_search_again;
  if (command == rl_history_search_backward) return history_by_text_before_cursor<false, true>;
  if (command == rl_history_search_forward) return history_by_text_before_cursor<false, false>;
  if (command == rl_history_substr_search_backward) return history_by_text_before_cursor<true, true>;
  if (command == rl_history_substr_search_forward) return history_by_text_before_cursor<true, false>;
  if (command == rl_vi_change_char) return vi_replace_one_kill_each;
  if (command == rl_vi_movement_mode) return vi_command_mode_keeping_history;
  if (command == rl_vi_change_case) return vi_change_case_one_kill_each;
  if (command == rl_vi_yank_to) return vi_motion_command<rl_vi_yank_to>;
  if (command == rl_vi_delete_to) return vi_motion_command<rl_vi_delete_to>;
  if (command == rl_vi_change_to) return vi_motion_command<rl_vi_change_to>;
  if (command == rl_vi_redo) return vi_repeat_with_no_motion_kept;
  if (command == rl_re_read_init_file) return reread_settings;
  return command;
}

void keep_key_map_off_faults(Keymap map, std::vector<Keymap>& seen) {
  if (map == nullptr || std::find(seen.begin(), seen.end(), map) != seen.end()) return;
  seen.push_back(map);
  for (int key = 0; key < KEYMAP_SIZE; ++key) {
    if (map[key].type == ISFUNC && map[key].function != nullptr)
      map[key].function = command_kept_off_faults(map[key].function);
    else if (map[key].type == ISKMAP)
      keep_key_map_off_faults(reinterpret_cast<Keymap>(map[key].function), seen);
  }
}

// Every key sequence of every key map (the user's settings may bind any of
// them anywhere), after each reading of the settings.
void keep_line_editor_off_faults() {
  std::vector<Keymap> seen;
  for (Keymap map : {emacs_standard_keymap, emacs_meta_keymap, emacs_ctlx_keymap,
                     vi_insertion_keymap, vi_movement_keymap})
    keep_key_map_off_faults(map, seen);
}

// The user's settings read again (Ctrl-X Ctrl-R) may bind the commands anew.
int reread_settings(int count, int key) {
  const int result = rl_re_read_init_file(count, key);
  keep_line_editor_off_faults();
  return result;
}

// The line shown again after every command, also one a keyboard macro
// replays without a key read: in vi mode the next kill gets a place of its own
// (see bounded_getc).
void redisplay_between_commands() {
  if (rl_editing_mode == 0 && &_rl_last_command_was_kill != nullptr) _rl_last_command_was_kill = 0;
  rl_redisplay();
}

int bounded_getc(std::FILE* in) {
  constexpr int kDecline = 'n';
  constexpr int kAbort = 0x07;
  if (edited_line_endless) return completion_question() ? kDecline : EOF;
  int c = EOF;
  if (typed_ahead.empty()) {
    c = rl_getc(in);
  } else {
    c = typed_key(typed_ahead.front());
    typed_ahead.pop_front();
    // A Ctrl-D typed ahead ends the input only on an empty line; inside a
    // line it is the key it would have been at the editor (its
    // delete-character), and the line goes on with what is typed next. The
    // editor itself would end the input at this end, losing the line.
    if (c == EOF && rl_end > 0 && !completion_question()) c = end_of_file_key(in);
  }
  // In vi mode the line editor puts a kill that follows a kill in the same
  // place of its kill ring as the one before, without freeing that one (a
  // kill typed ahead behind inserted text counts as following one). Each kill
  // there is given a place of its own; vi mode never joins kills anyway.
  if (rl_editing_mode == 0 && &_rl_last_command_was_kill != nullptr) _rl_last_command_was_kill = 0;
  // Ctrl-D typed at the question comes as a key (the terminal passes keys
  // one by one there), which the editor answers only with its bell: it
  // declines the list as Ctrl-G does.
  if ((c == EOF || c == kAbort || c == kCtrlD) && completion_question()) {
    // The end of the input is kept for the next key.
    if (c == EOF) typed_ahead.push_front(EOF);
    return kDecline;
  }
  // The end of the input inside an incremental search is taken by the search
  // as a key to search again, and the search's own prompt stays up for the
  // line (and is lost at the next). The Ctrl-D key ends the search in order
  // and then ends the input as on any empty line.
  if (c == EOF && RL_ISSTATE(RL_STATE_ISEARCH)) return end_of_file_key(in);
  if (c == EOF) return EOF;
  if (c == '\n' || c == '\r') {
    edited_characters = 0;
  } else if (++edited_characters > kEndlessLine) {
    edited_line_endless = true;
    return completion_question() ? kDecline : EOF;
  }
  return c;
}

}  // namespace

void IO_MALLOC(Index number_bytes, void*& address, Status& status) {
  if (st_bad(status, "Subroutine IO_MALLOC V0.1")) return;
  address = nullptr;
  if (number_bytes <= 0) {
    st_fail(status, 10017, "Subroutine IO_MALLOC V0.1");
    return;
  }
  address = std::malloc(static_cast<std::size_t>(number_bytes));
  if (address == nullptr) st_fail(status, 11002, "Subroutine IO_MALLOC V0.1");
}

bool io_array_bytes(Index count, std::size_t element_size, std::size_t& bytes) {
  if (count < 0) return false;
  const auto n = static_cast<std::uint64_t>(count);
  if (element_size != 0 && n > std::numeric_limits<std::size_t>::max() / element_size) return false;
  bytes = static_cast<std::size_t>(n) * element_size;
  return true;
}

namespace {

// COUNT elements of ELEMENT_SIZE bytes, zeroed or not, with IO_MALLOC's codes:
// COUNT below 1 gives 10017, a product that overflows or a failed allocation 11002.
void array_block(Index count, std::size_t element_size, bool zeroed, void*& address,
                 Status& status) {
  if (st_bad(status, "Subroutine IO_MALLOC V0.1")) return;
  address = nullptr;
  if (count < 1 || element_size == 0) {
    st_fail(status, 10017, "Subroutine IO_MALLOC V0.1");
    return;
  }
  std::size_t bytes = 0;
  if (!io_array_bytes(count, element_size, bytes) ||
      bytes > static_cast<std::size_t>(std::numeric_limits<Index>::max())) {
    st_fail(status, 11002, "Subroutine IO_MALLOC V0.1");
    return;
  }
  if (!zeroed) {
    IO_MALLOC(static_cast<Index>(bytes), address, status);
    return;
  }
  address = std::calloc(static_cast<std::size_t>(count), element_size);
  if (address == nullptr) st_fail(status, 11002, "Subroutine IO_MALLOC V0.1");
}

}  // namespace

void io_malloc_array(Index count, std::size_t element_size, void*& address, Status& status) {
  array_block(count, element_size, false, address, status);
}

void io_calloc_array(Index count, std::size_t element_size, void*& address, Status& status) {
  array_block(count, element_size, true, address, status);
}

void io_prefer_huge_pages(void* address, std::size_t bytes) {
  constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
  const auto begin = reinterpret_cast<std::uintptr_t>(address);
  const std::uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t last = (begin + bytes) & ~(kHuge - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

void* io_large_block(Index count, std::size_t element_size) {
  constexpr std::size_t kHuge = std::size_t{2} << 20;
  std::size_t bytes = 0;
  if (!io_array_bytes(count, element_size, bytes) || bytes > SIZE_MAX - kHuge)
    throw std::bad_alloc();
  // Less than a large page is an ordinary block.
  if (bytes < kHuge) {
    void* block = std::malloc(std::max<std::size_t>(bytes, 1));
    if (block == nullptr) throw std::bad_alloc();
    return block;
  }
  // aligned_alloc wants a multiple of the alignment.
  bytes = (bytes + kHuge - 1) / kHuge * kHuge;
  void* block = std::aligned_alloc(kHuge, bytes);
  if (block == nullptr) throw std::bad_alloc();
  io_prefer_huge_pages(block, bytes);
  return block;
}

namespace {

// The limit a control group's file gives ("max" or a byte count; version 1
// writes a number near 2^63 for none), or none.
std::optional<std::uint64_t> cgroup_file_limit(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "r");
  if (f == nullptr) return std::nullopt;
  char text[32] = {};
  const bool read = std::fgets(text, sizeof text, f) != nullptr;
  std::fclose(f);
  if (!read) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || errno != 0) return std::nullopt;
  return value;
}

// The smallest memory limit of this process's control group and the groups
// above it, in either version of the control-group files.
std::optional<std::uint64_t> cgroup_memory_limit() {
  std::FILE* f = std::fopen("/proc/self/cgroup", "r");
  if (f == nullptr) return std::nullopt;
  std::optional<std::uint64_t> lowest;
  const auto take = [&lowest](std::string base, std::string group, const char* file) {
    for (;;) {
      if (const auto limit = cgroup_file_limit(base + group + "/" + file))
        lowest = std::min(lowest.value_or(*limit), *limit);
      if (group.empty() || group == "/") return;
      group.erase(group.rfind('/'));
    }
  };
  char line[4096];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    std::string_view text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    const std::size_t first = text.find(':');
    const std::size_t second = text.find(':', first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) continue;
    const std::string_view controllers = text.substr(first + 1, second - first - 1);
    const std::string group(text.substr(second + 1));
    if (text.substr(0, first) == "0" && controllers.empty())
      take("/sys/fs/cgroup", group, "memory.max");
    else if (controllers == "memory" || controllers.find("memory,") != std::string_view::npos ||
             controllers.ends_with(",memory"))
      take("/sys/fs/cgroup/memory", group, "memory.limit_in_bytes");
  }
  std::fclose(f);
  return lowest;
}

}  // namespace

std::uint64_t io_machine_memory_limit() {
  std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
  const long pages = ::sysconf(_SC_PHYS_PAGES), page = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0)
    limit = static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit bound{};
    if (::getrlimit(resource, &bound) == 0 && bound.rlim_cur != RLIM_INFINITY)
      limit = std::min<std::uint64_t>(limit, bound.rlim_cur);
  }
  if (const auto group = cgroup_memory_limit()) limit = std::min(limit, *group);
  return limit;
}

IoMemoryLimit& io_memory_limit() {
  static IoMemoryLimit routine = io_machine_memory_limit;
  return routine;
}

void LargeBlockFree::operator()(void* block) const { std::free(block); }

void IO_FREE(void*& address, Status& status) {
  if (st_bad(status, "Subroutine IO_FREE V0.1")) return;
  std::free(address);
  address = nullptr;
}

void IO_SYSTEM_NAME(std::string& system, std::string& processor, Status& status) {
  if (st_bad(status, "Subroutine IO_SYSTEM_NAME V0.1")) return;
  int system_code = 0;
  int processor_code = 0;
  io_system_namec(system_code, processor_code);
  if (system_code >= 1 && system_code <= 11) system = kSystemNames[system_code - 1];
  if (processor_code >= 1 && processor_code <= 8) processor = kProcessorNames[processor_code - 1];
}

void IO_RECL(int& bytes_per_unit, Status& status) {
  constexpr const char* kPosition = "Subroutine IO_RECL V0.10";
  if (st_bad(status, kPosition)) return;
  std::string system;
  std::string processor;
  IO_SYSTEM_NAME(system, processor, status);
  if (system == "LINUX" || system == "HP-UX-9" || system == "HP-UX-10" || system == "IBM-AIX") {
    bytes_per_unit = 1;
  } else if (system == "DEC-UNIX" || system == "DEC-VMS" || system == "SUN-OS" ||
             system == "SUN-SOLARIS" || system == "SG-IRIX" || system == "SG-IRIX64" ||
             system == "WINDOWS-NT") {
    bytes_per_unit = 4;
  } else {
    IO_WRITE("ERROR: The number of bytes per unit of record length is unknown", status);
    IO_WRITE("       for this operating system / compiler combination: " + system, status);
    IO_WRITE("       (Direct access files cannot be opened.)", status);
    st_fail(status, 11009, kPosition);
  }
}

void IO_TIMES(double& elapsed, double& cpu, Status& status) {
  if (st_bad(status, "Subroutine IO_TIMES V0.1")) return;
  const int result = io_timesc(elapsed, cpu);
  if (result == 0) return;
  // The tick-rate message goes straight to the terminal from the system routine.
  if (result == 2) std::printf("ERROR: Number of CPU clock ticks per second is unknown\n");
  st_fail(status, 19999, "Subroutine IO_TIMESC V0.1");
}

void IO_SLEEP(float seconds, Status& status) {
  if (st_bad(status, "Subroutine IO_SLEEP V0.2")) return;
  // Below one second (and negative or NaN) sleeps one second.
  unsigned int whole = 1;
  if (seconds >= 1.0f)
    whole = seconds >= 4.0e9f ? 4000000000u : static_cast<unsigned int>(std::trunc(seconds));
  std::fflush(nullptr);
  sleep(whole);
}

void IO_SYSTEM(std::string_view command, int& return_code, Status& status) {
  if (st_bad(status, "Subroutine IO_SYSTEM V0.2")) return;
  const std::string line = trim_right(command);
  std::fflush(nullptr);
  // The command runs with the usual broken-pipe and file-size signals,
  // whatever the program itself does with them.
  const auto previous = std::signal(SIGPIPE, SIG_DFL);
  const auto previous_size = std::signal(SIGXFSZ, SIG_DFL);
  const int result = std::system(line.c_str());
  if (previous != SIG_ERR) std::signal(SIGPIPE, previous);
  if (previous_size != SIG_ERR) std::signal(SIGXFSZ, previous_size);
  if (result != -1 && WIFEXITED(result))
    return_code = WEXITSTATUS(result);
  else
    return_code = result;
}

void io_set_args(int argc, const char* const* argv) {
  auto& args = stored_args();
  args.clear();
  for (int i = 0; i < argc; ++i) args.emplace_back(argv[i] != nullptr ? argv[i] : "");
  args_stored = true;
}

void IO_GETARGS(int max_args, int& num_args, std::vector<std::string>& args, Status& status) {
  constexpr const char* kPosition = "Subroutine IO_GETARGS V0.6";
  if (st_bad(status, kPosition)) return;
  if (max_args <= 0) {
    st_fail(status, 10001, kPosition);
    return;
  }
  const std::vector<std::string> all = args_stored ? stored_args() : process_args();
  num_args = static_cast<int>(all.size());
  const int filled = std::min(num_args, max_args);
  args.assign(all.begin(), all.begin() + filled);
}

void IO_LOGINNAME(std::string& name, int& user_id, Status& status) {
  if (st_bad(status, "Function IO_LOGINNAME V0.3")) return;
  if (io_loginnamec(name, user_id) != 0) {
    name = "*** UNKNOWN ***";
    user_id = -1;
  }
}

void IO_HOMEDIR(std::string_view user, int& retstat, std::string& directory, Status& status) {
  if (st_bad(status, "Function IO_HOMEDIR V0.4")) return;
  std::string found;
  retstat = io_homedirc(trim_right(user), found);
  if (retstat == 0) directory = found;
}

void IO_USERPATH(std::string_view path, int& retstat, std::string& directory, Status& status) {
  if (st_bad(status, "Subroutine IO_USERPATH V0.1")) return;
  const std::string text = trim_right(path);
  if (text.find('/') != std::string::npos) {
    retstat = 3;
    return;
  }
  if (text == "~") {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
      directory = home;
      retstat = 0;
      return;
    }
    std::string name;
    int user_id = 0;
    if (io_loginnamec(name, user_id) != 0) {
      retstat = 1;
      return;
    }
    IO_HOMEDIR(name, retstat, directory, status);
    return;
  }
  if (text.size() < 2) {
    retstat = 4;
    return;
  }
  IO_HOMEDIR(text.substr(1, kUserLength), retstat, directory, status);
}

bool IO_BIG_ENDIAN() { return io_big_endianc() == 1; }

int io_big_endianc() {
  const std::uint32_t one = 1;
  const auto bytes = std::bit_cast<std::array<unsigned char, 4>>(one);
  return bytes[0] == 0 ? 1 : 0;
}

std::string IO_INPUT_KEY(Status& status) {
  if (st_bad(status, "Function IO_INPUT_KEY V0.2")) return {};
  std::fflush(stdout);
  // Keys typed ahead and already taken from the terminal come first, as
  // many at once as one read would bring; a Ctrl-D among them is the end of
  // the input.
  keys_handed_out = {};
  if (!typed_ahead.empty()) {
    std::string key;
    while (!typed_ahead.empty() && typed_ahead.front() != EOF && key.size() < kKeyBuffer) {
      if (shown_key(typed_ahead.front()) && keys_handed_out.shown == key.size()) ++keys_handed_out.shown;
      key.push_back(static_cast<char>(typed_key(typed_ahead.front())));
      typed_ahead.pop_front();
    }
    if (key.empty()) typed_ahead.pop_front();
    keys_handed_out.keys = key;
    return key;
  }
  termios saved{};
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return {};
  termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  // Return comes as a carriage return, as the line editor gets it: there a
  // line feed (Ctrl-J) is another key, which ends a search without taking the
  // line. Where the terminal edits, the line takes it as the terminal would.
  raw.c_iflag &= static_cast<tcflag_t>(~(ICRNL | IGNCR));
  // Three bytes (a cursor key's sequence) return at once, a single key after 0.2 s.
  raw.c_cc[VMIN] = 3;
  raw.c_cc[VTIME] = 2;
  ssize_t got = 0;
  char buffer[kKeyBuffer];
  {
    // Canonical mode and echo back as they were at the end.
    TerminalHeld held(STDIN_FILENO, saved, raw);
    // The keys the terminal holds as the line mode ends it has shown already.
    int waiting = 0;
    if ((saved.c_lflag & (ICANON | ECHO)) != (ICANON | ECHO) || ioctl(STDIN_FILENO, FIONREAD, &waiting) != 0)
      waiting = 0;
    got = read(STDIN_FILENO, buffer, sizeof buffer);
    // The keys of the same burst beyond this read are taken too, still in
    // single-key mode, for the next reads: the line mode would hand what came
    // outside it to the next line as one block, neither edited nor shown.
    if (got > 0) {
      raw.c_cc[VMIN] = 0;
      raw.c_cc[VTIME] = 0;
      if (held.change(raw)) take_keys_waiting(STDIN_FILENO);
      // The keys of this read come first, then those kept for the next.
      const auto shown = static_cast<std::size_t>(waiting);
      keys_handed_out.shown = std::min(shown, static_cast<std::size_t>(got));
      const std::size_t kept_shown = std::min(shown - keys_handed_out.shown, typed_ahead.size());
      for (std::size_t i = 0; i < kept_shown; ++i) typed_ahead[i] |= kShownKey;
    }
  }
  if (got <= 0) return {};
  keys_handed_out.keys.assign(buffer, static_cast<std::size_t>(got));
  return keys_handed_out.keys;
}

void io_keep_typed_ahead(std::string_view bytes) {
  // The keys given back are the last handed out; those the terminal showed
  // stay marked so.
  const std::string_view out = keys_handed_out.keys;
  std::size_t shown = 0;
  if (out.ends_with(bytes) && keys_handed_out.shown > out.size() - bytes.size())
    shown = keys_handed_out.shown - (out.size() - bytes.size());
  for (std::size_t i = bytes.size(); i-- > 0;)
    typed_ahead.push_front(static_cast<unsigned char>(bytes[i]) | (i < shown ? kShownKey : 0));
  keys_handed_out = {};
}

std::FILE* io_terminal_input() { return rl_instream != nullptr ? rl_instream : stdin; }

namespace {

// Bytes the stream has taken from its descriptor and not handed out yet.
std::size_t stream_buffered(std::FILE* in) {
#if defined(__GLIBC__)
  return in->_IO_read_ptr < in->_IO_read_end
             ? static_cast<std::size_t>(in->_IO_read_end - in->_IO_read_ptr)
             : 0;
#else
  (void)in;
  return 0;
#endif
}

bool stream_holds_line(std::FILE* in) {
#if defined(__GLIBC__)
  const std::size_t waiting = stream_buffered(in);
  return waiting > 0 && std::memchr(in->_IO_read_ptr, '\n', waiting) != nullptr;
#else
  (void)in;
  return false;
#endif
}

}  // namespace

InputWatch io_input_watch(std::FILE* in) {
  const int fd = fileno(in);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0) return {};
  // Of the other devices (/dev/null among them) the end cannot be told
  // without reading: they are not watched.
  if (!S_ISREG(info.st_mode) && !S_ISFIFO(info.st_mode) && !S_ISSOCK(info.st_mode) && !isatty(fd))
    return {};
  // A line the program has read ahead answers a later prompt: the input has
  // not ended, and there is nothing to watch for.
  if (stream_buffered(in) > 0 || !typed_ahead.empty() || !lines_made.empty()) return {};
  return {fd, POLLIN, in};
}

bool io_input_watch_ended(InputWatch& watch, short revents) {
  if (watch.fd < 0 || revents == 0) return false;
  // Lines still waiting, in the program's own buffer or behind the
  // descriptor, are answers of later prompts: the input has not ended, and
  // the watch stops for the rest of the wait (a pipe whose writer has gone
  // would report its hang-up at every poll).
  const auto lines_wait = [&watch] {
    watch.fd = -1;
    watch.events = 0;
    return false;
  };
  if (watch.stream != nullptr && stream_buffered(watch.stream) > 0) return lines_wait();
  if (!typed_ahead.empty() || !lines_made.empty()) return lines_wait();
  struct stat info {};
  if (fstat(watch.fd, &info) != 0) return true;
  if (S_ISREG(info.st_mode)) {
    const off_t at = lseek(watch.fd, 0, SEEK_CUR);
    if (at >= 0 && at >= info.st_size) return true;
    return lines_wait();
  }
  if ((revents & (POLLERR | POLLNVAL)) != 0) return true;
  // Readable (or hung up) with nothing to read is the end of the input:
  // Ctrl-D at a terminal, a pipe closed with nothing left, a terminal gone.
  int waiting = 0;
  if (ioctl(watch.fd, FIONREAD, &waiting) != 0 || waiting == 0) {
    // At a terminal the line editor drives, the Ctrl-D has ended this wait
    // and is used up: the person typing is still there, and the next prompt
    // waits for them.
    termios mode{};
    if ((revents & POLLHUP) == 0 && isatty(watch.fd) != 0 && line_editor_terminal() &&
        tcgetattr(watch.fd, &mode) == 0 && (mode.c_lflag & ICANON) != 0) {
      char byte = 0;
      // Reading it gives nothing; a byte would be typed-ahead input, kept.
      if (read(watch.fd, &byte, 1) == 1) typed_ahead.push_back(static_cast<unsigned char>(byte));
    }
    return true;
  }
  return lines_wait();
}

void IO_READC(std::string_view prompt, int& length, std::string& line) {
  const std::string text(prompt);
  std::FILE* in = io_terminal_input();
  length = -1;
  line.clear();
  if (given_up_input && input_identity(in) == given_up_input) return;
  const bool terminal = isatty(fileno(in)) != 0;
  if (!terminal || !line_editor_terminal() || !lines_made.empty()) {
    std::FILE* out = rl_outstream != nullptr ? rl_outstream : stdout;
    if (plain_line_after_typed_ahead(in, out, text, !terminal, line))
      length = static_cast<int>(line.size());
    return;
  }
  // A person types: Tab completes file names.
  rl_bind_key('\t', rl_complete);
  // The user's own settings are read at the first initialisation; sideways
  // scrolling of a long line, chosen there, is turned off again, since that
  // redisplay reads past its buffers.
  static bool initialised = false;
  if (!initialised) {
    rl_initialize();
    keep_line_editor_off_faults();
    initialised = true;
  }
  rl_variable_bind("horizontal-scroll-mode", "off");
  rl_getc_function = bounded_getc;
  // Where the terminal does not echo, the editor shows nothing of the line,
  // and writes the prompt itself only with its own redisplay.
  termios mode{};
  const bool echoing = tcgetattr(fileno(in), &mode) != 0 || (mode.c_lflag & ECHO) != 0;
  rl_redisplay_function = echoing ? redisplay_between_commands : rl_redisplay;
  take_typed_ahead(fileno(in));
  edited_characters = 0;
  edited_line_endless = false;
  give_back_lost_vi_motion_records();
  char* read = readline(text.c_str());
  // Nothing runs in the editor now: what is still noted was lost, also when
  // the input ends here and no next line comes.
  give_back_lost_vi_motion_records();
  if (edited_line_endless) {
    std::free(read);
    give_up_input(in);
    return;
  }
  if (read == nullptr) return;
  // The history keeps what is kept of the answer, a response line, so that
  // long pasted lines do not pile up in memory.
  if (read[0] != '\0')
    add_history(std::string(read, strnlen(read, kResponseLength)).c_str());
  line = read;
  std::free(read);
  length = static_cast<int>(std::min<std::size_t>(line.size(), std::numeric_limits<int>::max()));
}

}  // namespace kesta
