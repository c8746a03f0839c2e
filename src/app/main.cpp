// Command line of kestrel: options, exit codes, nothing else.
#include <iostream>

int main() {
  std::cerr << "kestrel: the run driver is not built yet\n";
  return 2;
}
