#include "cli/cli.h"

#include <exception>
#include <functional>
#include <ostream>
#include <span>

#include "cli/commands.h"
#include "common/exception.h"

namespace kelvane::cli {

namespace {

using CommandFunc = std::function<int(CommandArgs, std::ostream&, std::ostream&)>;

struct Command {
  const char* name;
  const char* usage;
  const char* summary;
  CommandFunc run;
};

// Subcommands register here as they are built; the help text is generated from this table.
const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"list", "list IMAGE [--json | --unicode [--charset upper|lower]] [--strict]",
       "print the directory as the machine lists it; --json for scripts, --unicode in the\n"
       "      characters that look like the machine's (directory art included). A damaged\n"
       "      directory lists what can be read, with a warning on stderr (--strict: an error)",
       RunList},
      {"info", "info IMAGE [--strict]",
       "show format, DOS variant, tracks, error-info block, free blocks and directory damage",
       RunInfo},
      {"extract", "extract IMAGE [INDEX|NAME ...] [-d DIR] [--recurse] [--force]",
       "write entries (all when none is named; INDEX counts from 0) as safely named host files\n"
       "      into DIR; --recurse makes partitions and sub-directories folders. Existing files\n"
       "      are kept unless --force is given",
       RunExtract},
      {"find", "find PATTERN PATH... [--type T,...] [--disk] [--json] [--strict] [-j N]",
       "every file named PATTERN (? any one character, * the rest of the name) on the images\n"
       "      under PATH, archives included; prints where, the entry's index and its line;\n"
       "      --disk matches disk names and ids. Exit status 1 when nothing matched",
       RunFind},
      {"add", "add IMAGE FILE... [--verbose]",
       "write host files into the image (PC64 files under their stored name); the image is\n"
       "      replaced only after the new one has been verified. Prints what could not be\n"
       "      written; --verbose also lists what was",
       RunAdd},
      {"convert", "convert IN.g64|IN.g71|IN.nib OUT.d64|OUT.d71 [--verbose] [--force]",
       "decode a GCR-level image into a D64 and report its unreadable sectors (--verbose lists\n"
       "      them); an existing OUT is only replaced with --force",
       RunConvert},
      {"render",
       "render IMAGE -o OUT.png [--charset upper|lower] [--scale N] [--rows N] [--width PX]",
       "draw the listing as the machine shows it into a PNG (scale 2, all rows by default)",
       RunRender},
      {"new", "new IMAGE [--name NAME,ID] [--tracks N] [--force]",
       "make a blank formatted disk of the kind the extension names (D64 of 35, 40 or 42\n"
       "      tracks, D71, D81, D80, D82, DNP and DFI of N tracks, D1M, D2M, D4M with one\n"
       "      native partition); the name defaults to the file's. An existing file is only\n"
       "      replaced with --force",
       RunNew},
      {"thumbnail", "thumbnail -s SIZE [--charset upper|lower] IMAGE OUT.png",
       "the top of the listing fitted into a SIZE x SIZE box, for file managers", RunThumbnail},
  };
  return commands;
}

void PrintHelp(std::ostream& out) {
  out << "Usage: kelvane COMMAND [OPTIONS] ...\n"
         "       kelvane --help | --version\n"
         "\n"
         "Lists, renders, extracts from and adds to Commodore disk images\n"
         "(D64, D71, D81, D80, D82, DNP, DFI; G64, G71 and NIB decoded from GCR).\n"
         "\n";
  out << "Commands:\n";
  for (const Command& command : Commands()) {
    out << "  " << command.usage << "\n      " << command.summary << "\n";
  }
  out << "\n"
         "Options:\n"
         "  -h, --help     show this help and exit\n"
         "  -V, --version  show the version and exit\n"
         "\n"
         "Errors are written to standard error; the exit status is 0 on success, 1 when an\n"
         "image or file could not be handled, 2 for a wrong command line.\n";
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    PrintHelp(err);
    return kExitUsage;
  }
  const std::string& first = args.front();
  if (first == "-h" || first == "--help" || first == "help") {
    PrintHelp(out);
    return kExitOk;
  }
  if (first == "-V" || first == "--version") {
    out << "kelvane " << KELVANE_VERSION << "\n";
    return kExitOk;
  }
  for (const Command& command : Commands()) {
    if (first != command.name) continue;
    try {
      return command.run(CommandArgs(args).subspan(1), out, err);
    } catch (const UsageError& error) {
      err << "kelvane " << error.message << " (see 'kelvane --help')\n";
      return kExitUsage;
    } catch (const Exception& error) {
      err << "kelvane " << command.name << ": " << error.Message() << "\n";
    } catch (const std::exception& error) {
      err << "kelvane " << command.name << ": " << error.what() << "\n";
    }
    return kExitFailure;
  }
  err << "kelvane: unknown command '" << first << "' (see 'kelvane --help')\n";
  return kExitUsage;
}

}  // namespace kelvane::cli
