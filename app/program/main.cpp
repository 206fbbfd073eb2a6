#include <csignal>

#include "app/program/program.hpp"
#include "core/system.hpp"

int main(int argc, char** argv) {
  // A log or a recording written to a named pipe whose reader has gone fails
  // its write (reported, the file closed) instead of ending the program.
  std::signal(SIGPIPE, SIG_IGN);
  // So too a write beyond the file size limit: it fails (said, the old file
  // kept) instead of ending the program with the work of the session.
  std::signal(SIGXFSZ, SIG_IGN);
  kesta::io_set_args(argc, argv);
  return kesta::MAIN__();
}
