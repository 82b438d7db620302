#include <iostream>
#include <string>
#include <vector>

#include "cli/cli.h"

#if defined(_WIN32)
#include <windows.h>
// shellapi.h needs windows.h first.
#include <shellapi.h>

// The tool works in UTF-8: on Windows the arguments are taken from the wide command line, since
// the narrow argv holds them in the ANSI code page and loses every character outside it.
static std::vector<std::string> Arguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
    if (length > 1)
      WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, arg.data(), length, nullptr, nullptr);
    args.push_back(std::move(arg));
  }
  LocalFree(wide);
  return args;
}
#else
static std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}
#endif

int main(int argc, char** argv) {
  return kelvane::cli::Run(Arguments(argc, argv), std::cout, std::cerr);
}
