// The kor-value command line; everything but the process boundary is in kor_value.cpp.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "kor_value.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  try {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return Vexa::Tools::RunKorValue(arguments, std::cin, std::cout, std::cerr);
  } catch (const std::exception& error) {
    std::cerr << "kor-value: " << error.what() << '\n';
    return 1;
  }
}
