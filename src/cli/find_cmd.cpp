// kelvane find: which disk, among many images and archives, holds a file of a given name.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <set>
#include <thread>

#include "cli/cli.h"
#include "cli/commands.h"
#include "collect/archive.h"
#include "collect/find.h"
#include "common/format.h"
#include "common/text.h"
#include "registry/registry.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kelvane::cli {

namespace {

struct FindOptions {
  TDkFindQuery query;
  std::vector<std::string> paths;
  bool disk = false;
  bool json = false;
  bool strict = false;
  int jobs = 0;
};

std::vector<TDkCbmFileType> ParseTypes(const std::string& list) {
  std::vector<TDkCbmFileType> types;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t comma = std::min(list.find(',', start), list.size());
    const std::string name = DkAsciiUpper(list.substr(start, comma - start));
    bool known = false;
    for (int t = cftDEL; t <= cftDIR; ++t) {
      if (name == DkCbmFileTypeName(static_cast<TDkCbmFileType>(t))) {
        types.push_back(static_cast<TDkCbmFileType>(t));
        known = true;
      }
    }
    if (!known)
      throw UsageError{
          Format("find: unknown file type '%s' (del, seq, prg, usr, rel, cbm, dir)", name.c_str())};
    start = comma + 1;
  }
  return types;
}

FindOptions ParseFindOptions(CommandArgs args) {
  FindOptions options;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const auto value = [&]() -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError{Format("find: %s wants a value", arg.c_str())};
      return args[++i];
    };
    if (arg == "--type") {
      options.query.Types = ParseTypes(value());
    } else if (arg == "--disk") {
      options.disk = true;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--strict") {
      options.strict = true;
    } else if (arg == "-j" || arg == "--jobs") {
      options.jobs = ParseInt(value(), "find: -j", 1, 256);
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError{Format("find: unknown option '%s'", arg.c_str())};
    } else {
      words.push_back(arg);
    }
  }
  if (words.size() < 2) throw UsageError{"find: give a pattern and at least one file or folder"};
  options.query.Pattern = TDkNamePattern(words.front());
  options.paths.assign(words.begin() + 1, words.end());
  if (options.jobs == 0)
    options.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return options;
}

// Every file under the paths, folders in name order so that the output order is the same on
// every run; a folder reached twice (a link back into its parent) is walked once.
class FileWalker {
 public:
  explicit FileWalker(std::vector<std::string>& problems) : problems_(problems) {}

  void Add(const std::string& path, std::vector<std::string>& files) {
    std::error_code error;
    Add(path, std::filesystem::status(PathFromUtf8(path), error), files);
  }

 private:
  void Add(const std::string& path, const std::filesystem::file_status& status,
           std::vector<std::string>& files) {
    if (std::filesystem::is_regular_file(status)) {
      files.push_back(path);
    } else if (std::filesystem::is_directory(status)) {
      AddFolder(path, files);
    } else if (!std::filesystem::exists(status)) {
      problems_.push_back(Format("%s: no such file or folder.", path.c_str()));
    }
  }

  void AddFolder(const std::string& path, std::vector<std::string>& files) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(PathFromUtf8(path), error);
    if (error || !visited_.insert(real).second) return;
    // The entries' types come with the listing; only links cost a look at what they reach.
    std::vector<std::pair<std::string, std::filesystem::file_status>> children;
    for (std::filesystem::directory_iterator it(
             PathFromUtf8(path), std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
      const std::u8string name = it->path().filename().u8string();
      std::error_code ignored;
      children.emplace_back(
          std::string(name.begin(), name.end()),
          it->is_symlink(ignored) ? it->status(ignored) : it->symlink_status(ignored));
    }
    if (error) problems_.push_back(Format("%s: cannot read the folder.", path.c_str()));
    std::sort(children.begin(), children.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    const std::string prefix = path.back() == '/' ? path : path + "/";
    for (const auto& [name, status] : children) Add(prefix + name, status, files);
  }

  std::vector<std::string>& problems_;
  std::set<std::filesystem::path> visited_;
};

// A file's bytes (failures say why, the caller says which file). Mapped, a D64 is read only where
// its directory lies. But unmapping interrupts every other thread of the process on its core (a
// TLB shootdown per file), so with `buffered` a file up to an image's size is read into the
// thread's own buffer instead: on two cores, two threads went through 26,000 mapped D64s a second
// and 54,000 read ones; one thread 54,000 mapped and 42,000 read.
class FileBytes {
 public:
  FileBytes(const FileBytes&) = delete;
  FileBytes& operator=(const FileBytes&) = delete;
  FileBytes(const std::string& path, [[maybe_unused]] bool buffered) {
#if defined(_WIN32)
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (!in || size < 0) throw Exception("cannot read the file.");
    // Without archive support nothing larger than an image is of use: read what names it.
    in.seekg(0);
    read_.resize(static_cast<std::size_t>(std::min<std::streamoff>(size, kMaxImageFileSize + 1)));
    if (!in.read(reinterpret_cast<char*>(read_.data()), static_cast<std::streamsize>(read_.size())))
      throw Exception("cannot read the file.");
    view_ = read_;
#else
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0) {
      const std::string reason = std::strerror(errno);
      if (fd >= 0) close(fd);
      throw Exception(Format("cannot read the file (%s).", reason.c_str()));
    }
    const auto size = static_cast<std::size_t>(info.st_size);
    if (buffered && size > 0 && size <= static_cast<std::size_t>(kMaxImageFileSize)) {
      thread_local Bytes buffer;
      buffer.resize(size);
      const bool read = pread(fd, buffer.data(), size, 0) == static_cast<ssize_t>(size);
      close(fd);
      if (!read) throw Exception("cannot read the file.");
      view_ = ByteView(buffer);
      return;
    }
    if (size > 0) {
      map_ = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
      if (map_ == MAP_FAILED) map_ = nullptr;
    }
    close(fd);
    if (size > 0 && map_ == nullptr) throw Exception("cannot read the file (it cannot be mapped).");
    size_ = size;
    if (map_ != nullptr) view_ = ByteView(static_cast<const std::uint8_t*>(map_), size);
#endif
  }
  ~FileBytes() {
#if !defined(_WIN32)
    if (map_ != nullptr) munmap(map_, size_);
#endif
  }
  ByteView View() const {
    return view_;
  }

 private:
  ByteView view_;
#if defined(_WIN32)
  Bytes read_;
#else
  void* map_ = nullptr;
  std::size_t size_ = 0;
#endif
};

struct FileResult {
  std::string out;
  std::string err;
  int images = 0;
  int hits = 0;
  int problems = 0;
};

class Searcher {
 public:
  explicit Searcher(const FindOptions& options) : options_(options) {}

  FileResult Search(const std::string& path) {
    FileResult result;
    std::vector<Hit> hits;
    try {
      const FileBytes file(path, options_.jobs > 1);
      const ByteView bytes = file.View();
      const std::string name = BaseName(path);
      if (DkLooksLikeArchive(bytes.first(std::min<std::size_t>(bytes.size(), 512)))) {
        SearchArchive(path, bytes, hits, result);
      } else if (DkHasArchiveExtension(name)) {
        Problem(result, path, "not an archive kelvane reads.");
      } else {
        SearchImage(path, path, "", name, bytes, hits, result);
      }
    } catch (const std::exception& error) {
      Problem(result, path, ExceptionText(error));
    }
    // Members come in the archive's order; hits go out by path, then index.
    std::stable_sort(hits.begin(), hits.end(),
                     [](const Hit& a, const Hit& b) { return a.where < b.where; });
    for (const Hit& hit : hits) result.out += hit.text;
    result.hits = static_cast<int>(hits.size());
    return result;
  }

 private:
  struct Hit {
    std::string where;
    std::string text;
  };

  static std::string ExceptionText(const std::exception& error) {
    const auto* ours = dynamic_cast<const Exception*>(&error);
    return ours != nullptr ? ours->Message() : std::string(error.what());
  }

  static void Problem(FileResult& result, const std::string& where, const std::string& text) {
    result.err += "kelvane find: " + where + ": " + text + "\n";
    ++result.problems;
  }

  void SearchArchive(const std::string& path, ByteView bytes, std::vector<Hit>& hits,
                     FileResult& result) {
    try {
      // The archive's messages name it by the path given.
      DkReadArchiveBytes(bytes, path, kMaxImageFileSize, [&](const TDkArchiveMember& m) {
        const std::string where = m.WholeFile ? path : path + "/" + m.Name;
        if (!m.Error.empty()) {
          Problem(result, where, m.Error + ".");
        } else {
          SearchImage(where, path, m.WholeFile ? "" : m.Name, BaseName(m.Name), m.Bytes, hits,
                      result);
        }
        return true;
      });
    } catch (const Exception& error) {
      result.err += "kelvane find: " + error.Message() + "\n";
      ++result.problems;
    }
  }

  void SearchImage(const std::string& where, const std::string& file, const std::string& member,
                   const std::string& name, ByteView bytes, std::vector<Hit>& hits,
                   FileResult& result) {
    if (!IsImageFile(name, bytes)) {
      // Not an image; named only when its name says it is one.
      if (DkHasKnownExtension(name)) Problem(result, where, "holds no disk image kelvane reads.");
      return;
    }
    ++result.images;
    try {
      std::unique_ptr<TDkCbmImage> image;
      if (IsGcrFile(name, bytes)) {
        ImageFile decoded = DecodedImage({Bytes(bytes.begin(), bytes.end()), name});
        image = DkOpenImage(std::move(decoded.bytes), decoded.name, true);
      } else {
        image = DkOpenImage(TDkImageBytes::Borrow(bytes), name, true);
      }
      TDkStringList warnings;
      if (image->RecoveryWarnings() != nullptr) warnings = *image->RecoveryWarnings();
      const std::string head = Head(where, file, member);
      if (options_.disk) {
        if (options_.query.Pattern.Matches(image->DiskNameBytes()) ||
            options_.query.Pattern.Matches(image->DiskIdBytes()))
          hits.push_back({where, DiskHit(head, *image)});
      } else {
        for (const TDkFindHit& hit : DkFindEntries(*image, options_.query, warnings))
          hits.push_back({where, EntryHit(head, hit)});
      }
      for (const std::string& warning : warnings) Problem(result, where, "warning: " + warning);
    } catch (const std::exception& error) {
      Problem(result, where, ExceptionText(error));
    }
  }

  // The part of a hit's line that says where it is.
  std::string Head(const std::string& where, const std::string& file,
                   const std::string& member) const {
    if (!options_.json) return where + "\t";
    return "{\"path\": " + JsonString(where) + ", \"file\": " + JsonString(file) +
           ", \"member\": " + (member.empty() ? "null" : JsonString(member));
  }

  std::string DiskHit(const std::string& head, const TDkCbmImage& image) const {
    if (!options_.json) return head + "-\t" + HeaderLineText(image) + "\n";
    return head + ", \"index\": null, \"within\": [], \"name\": " + JsonString(image.DiskName()) +
           ", \"name_hex\": " + JsonString(Hex(image.DiskNameBytes())) +
           ", \"id\": " + JsonString(image.DiskId()) +
           ", \"line\": " + JsonString(HeaderLineText(image)) + "}\n";
  }

  std::string EntryHit(const std::string& head, const TDkFindHit& hit) const {
    const TDkCbmEntry& e = hit.Entry;
    if (!options_.json) {
      std::string index;
      for (const int i : hit.Path) index += (index.empty() ? "" : "/") + std::to_string(i);
      return head + index + "\t" + EntryLineText(e) + "\n";
    }
    std::string within;
    for (std::size_t i = 1; i < hit.Path.size(); ++i)
      within += (i == 1 ? "" : ", ") + std::to_string(hit.Path[i]);
    return head + ", \"index\": " + std::to_string(hit.Path.front()) + ", \"within\": [" + within +
           "], \"name\": " + JsonString(e.Name) +
           ", \"name_hex\": " + JsonString(Hex(e.NameBytes)) +
           ", \"type\": " + JsonString(DkCbmEntryTypeChars(e)) +
           ", \"blocks\": " + std::to_string(e.Blocks) +
           ", \"line\": " + JsonString(EntryLineText(e)) + "}\n";
  }

  const FindOptions& options_;
};

bool IsTerminal(const std::ostream& err) {
  if (&err != &std::cerr) return false;
#if defined(_WIN32)
  return _isatty(_fileno(stderr)) != 0;
#else
  return isatty(STDERR_FILENO) != 0;
#endif
}

// Images read, their rate and the hits so far, on one line of a terminal, once a run has taken
// more than a second.
class Progress {
 public:
  explicit Progress(std::ostream& err) : err_(err), on_(IsTerminal(err)) {}

  void Update(int images, int hits) {
    if (!on_) return;
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - start_).count();
    if (seconds < 1.0 || now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    Show(Format("kelvane find: %d images, %.0f a second, %d hits", images, images / seconds, hits));
  }
  void Clear() { Show(""); }

 private:
  using Clock = std::chrono::steady_clock;

  // Over the line shown before, blanks past its end (no terminal escapes: consoles without them
  // would print them).
  void Show(const std::string& text) {
    if (text.empty() && shown_ == 0) return;
    const std::size_t width = std::max(text.size(), shown_);
    err_ << '\r' << text << std::string(width - text.size(), ' ') << (text.empty() ? "\r" : "")
         << std::flush;
    shown_ = text.size();
  }

  std::ostream& err_;
  bool on_;
  std::size_t shown_ = 0;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_ = start_;
};

}  // namespace

int RunFind(CommandArgs args, std::ostream& out, std::ostream& err) {
  const FindOptions options = ParseFindOptions(args);
  std::vector<std::string> walk_problems;
  std::vector<std::string> files;
  FileWalker walker(walk_problems);
  for (const std::string& path : options.paths) walker.Add(path, files);
  int problems = static_cast<int>(walk_problems.size());
  for (const std::string& problem : walk_problems) err << "kelvane find: " << problem << "\n";

  // Workers take files in turn; results go out in the files' order as soon as each is done, so
  // memory follows the number of threads, not the size of the collection.
  std::vector<FileResult> results(files.size());
  std::vector<char> done(files.size(), 0);
  std::mutex mutex;
  std::condition_variable ready;
  std::atomic<std::size_t> next{0};
  std::size_t wanted = 0;  // the file the printer waits for
  std::atomic<int> images{0};
  Searcher searcher(options);
  const auto work = [&] {
    for (std::size_t i = next++; i < files.size(); i = next++) {
      FileResult result = searcher.Search(files[i]);
      images += result.images;
      const std::lock_guard<std::mutex> lock(mutex);
      results[i] = std::move(result);
      done[i] = 1;
      if (i == wanted) ready.notify_one();
    }
  };
  // One job runs in this thread: no hand-over per file.
  std::vector<std::thread> threads;
  const std::size_t workers =
      options.jobs == 1 ? 0 : std::min<std::size_t>(options.jobs, files.size());
  for (std::size_t t = 0; t < workers; ++t) threads.emplace_back(work);

  Progress progress(err);
  int hits = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    FileResult result;
    if (threads.empty()) {
      result = searcher.Search(files[i]);
      images += result.images;
    } else {
      std::unique_lock<std::mutex> lock(mutex);
      wanted = i;
      while (!done[i]) {
        if (!ready.wait_for(lock, std::chrono::milliseconds(250), [&] { return done[i] != 0; })) {
          lock.unlock();
          progress.Update(images, hits);
          lock.lock();
        }
      }
      result = std::move(results[i]);
      results[i] = FileResult{};
    }
    if (!result.out.empty() || !result.err.empty()) progress.Clear();
    out << result.out;
    err << result.err;
    hits += result.hits;
    problems += result.problems;
    progress.Update(images, hits);
  }
  for (std::thread& thread : threads) thread.join();
  progress.Clear();
  out.flush();
  if (options.strict && problems > 0) return kExitUsage;
  return hits > 0 ? kExitOk : kExitFailure;
}

}  // namespace kelvane::cli
