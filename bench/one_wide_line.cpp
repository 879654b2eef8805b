// The yardstick for the tool's own cost per run: a minimal C++ program that
// prints one wide line.

#include <iostream>

int main() {
  std::wcout << L"New allocated percentage of pool free space reserved for snapshots is 30%.\n";
  return 0;
}
