#include "app/program/program.hpp"
#include "core/system.hpp"

int main(int argc, char** argv) {
  kesta::io_set_args(argc, argv);
  return kesta::MAIN__();
}
