#include "support/peer_listing.h"

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kelvane::testing {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

PeerListing ReadListing(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot open " + path);
  std::stringstream text;
  text << in.rdbuf();
  return ParseListing(text.str());
}

PeerListing ParseListing(const std::string& raw) {
  // Drop the escape sequences cc1541 shows the header in reverse with.
  std::string text;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\x1b') {
      while (i < raw.size() && raw[i] != 'm') ++i;
      continue;
    }
    text += raw[i];
  }
  std::istringstream in(text);
  PeerListing listing;
  std::string line;
  const std::string free_suffix = " blocks free.";
  while (std::getline(in, line)) {
    const std::size_t open = line.find('"');
    const std::size_t close = open == std::string::npos ? open : line.find('"', open + 1);
    const bool numbered = !line.empty() && std::isdigit(static_cast<unsigned char>(line[0]));
    if (line.rfind("0 \"", 0) == 0 && close != std::string::npos && listing.disk_name.empty()) {
      listing.disk_name = line.substr(open + 1, close - open - 1);
      listing.disk_id = line.substr(close + 2);
    } else if (numbered && close != std::string::npos && line.size() >= close + 6) {
      const std::string tail = line.substr(line.size() - 5);
      listing.entries.push_back({std::stoi(line), line.substr(open + 1, close - open - 1),
                                 tail.substr(1, 3), tail[0] == '*', tail[4] == '<'});
    } else if (numbered && line.size() > free_suffix.size() &&
               line.compare(line.size() - free_suffix.size(), free_suffix.size(), free_suffix) ==
                   0) {
      listing.free_blocks = std::stoi(line);
    }
  }
  return listing;
}

}  // namespace kelvane::testing
