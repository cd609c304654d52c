// Reading cover art. Players name it by URL; the bridge wants the bytes and a type.

#include "mpris/queries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cinttypes>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>

#include "mpris/bus.h"

namespace kel::mpris {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// The child of readFile: sends at most limit bytes of the regular file at path
// down the pipe out, and ends with status 0, or 1 when path is no regular file.
// Only system calls here: other threads' locks may be held for good in the child.
[[noreturn]] void sendFile(const char* path, std::size_t limit, int out) {
  // Nothing of the parent's is held open while the child may hang: not its
  // standard output, which a host waits to see closed.
  close_range(0, static_cast<unsigned>(out) - 1, 0);
  close_range(static_cast<unsigned>(out) + 1, ~0U, 0);
  // Opened without blocking and checked first, so that a FIFO or a device cannot
  // hang the read or feed it without end.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) _exit(1);
  char chunk[65536];
  while (limit > 0) {
    ssize_t got = read(fd, chunk, std::min(limit, sizeof chunk));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    for (ssize_t sent = 0, wrote = 0; sent < got; sent += wrote) {
      wrote = write(out, chunk + sent, static_cast<std::size_t>(got - sent));
      if (wrote < 0 && errno == EINTR) wrote = 0;
      if (wrote < 0) _exit(1);
    }
    limit -= static_cast<std::size_t>(got);
  }
  _exit(0);
}

// Reads at most limit bytes of a regular file, in a child process: a read on a
// hung network or FUSE mount cannot be interrupted once the file system has the
// request, and a thread of this process stuck there would hold up its exit.
std::optional<Bytes> readFile(const std::string& path, std::size_t limit) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return std::nullopt;
  pid_t child = fork();
  if (child == 0) sendFile(path.c_str(), limit, ends[1]);
  close(ends[1]);
  Bytes bytes;
  if (child > 0) {
    char chunk[65536];
    for (;;) {
      ssize_t got = read(ends[0], chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      bytes.insert(bytes.end(), chunk, chunk + got);
    }
  }
  close(ends[0]);
  int status = 1;
  while (child > 0 && waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (child <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return bytes;
}

// file://localhost/path and file:///path name a local file; any other host does not.
std::optional<Bytes> fetchFile(std::string_view rest, std::size_t limit) {
  if (startsWithNoCase(rest, "localhost/")) rest.remove_prefix(9);
  if (!rest.starts_with('/')) return std::nullopt;
  // A query or fragment is not part of the path; a literal "?" or "#" in a file
  // name arrives percent-encoded.
  rest = rest.substr(0, rest.find_first_of("?#"));
  std::string path = decodePercent(rest);
  if (path.find('\0') != std::string::npos) return std::nullopt;
  return readFile(path, limit);
}

// data:[MEDIATYPE][;base64],PAYLOAD. The media type is not trusted: the bytes'
// signature decides the image type.
std::optional<Bytes> fetchData(std::string_view rest, std::size_t limit) {
  auto comma = rest.find(',');
  if (comma == std::string_view::npos) return std::nullopt;
  std::string_view header = rest.substr(0, comma);
  std::string payload = decodePercent(rest.substr(comma + 1));
  bool base64 = header.size() >= 7 && startsWithNoCase(header.substr(header.size() - 7), ";base64");
  std::optional<Bytes> bytes;
  if (base64) {
    bytes = decodeBase64(payload, Base64Form::lenient);
  } else {
    bytes = Bytes(payload.begin(), payload.end());
  }
  if (bytes && bytes->size() > limit) bytes->resize(limit);
  return bytes;
}

}  // namespace

std::string decodePercent(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      int high = hexValue(text[i + 1]);
      int low = hexValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
        continue;
      }
    }
    decoded.push_back(text[i]);
  }
  return decoded;
}

std::optional<Bytes> fetchArtwork(std::string_view url, std::size_t limit) {
  if (startsWithNoCase(url, "file://")) return fetchFile(url.substr(7), limit);
  if (startsWithNoCase(url, "data:")) return fetchData(url.substr(5), limit);
  return std::nullopt;
}

std::string_view artworkMIME(const Bytes& bytes) {
  auto startsWith = [&](std::size_t offset, std::string_view signature) {
    return bytes.size() >= offset + signature.size() &&
           std::equal(signature.begin(), signature.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
  };
  if (startsWith(0, "\x89PNG\r\n\x1a\n")) return "image/png";
  if (startsWith(0, "\xff\xd8\xff")) return "image/jpeg";
  if (startsWith(0, "GIF87a") || startsWith(0, "GIF89a")) return "image/gif";
  if (startsWith(0, "RIFF") && startsWith(8, "WEBP")) return "image/webp";
  return "";
}

std::string artworkIdentity(std::string_view url, const Bytes& bytes) {
  if (!startsWithNoCase(url, "data:")) return std::string(url);
  std::uint64_t digest = 0xcbf29ce484222325;
  for (std::uint8_t byte : bytes) digest = (digest ^ byte) * 0x100000001b3;
  std::string_view header = url.substr(5, url.find(',') - 5);
  char text[64];
  std::snprintf(text, sizeof text, ";%zu;%016" PRIx64, bytes.size(), digest);
  return "data:" + std::string(header.substr(0, header.find(';'))) + text;
}

namespace {

// The reading thread's one slot: the URL to read next. A newer URL takes the place
// of one not yet taken, so that a read that hangs holds back at most one more.
struct Reader {
  std::mutex mutex;
  std::condition_variable wanted;
  std::shared_ptr<const std::string> next;  // guarded by mutex
};

// A read asked for, when, and who waits for it.
struct Reading {
  std::shared_ptr<const std::string> url;
  std::chrono::steady_clock::time_point since;
  std::vector<std::function<void(bool)>> waiting;
};

// Bus thread only: the cover last read, and the reads asked for.
struct Covers {
  std::shared_ptr<const std::string> url;
  std::shared_ptr<const Artwork> artwork;
  std::vector<Reading> reading;
};

// Never destroyed, as the threads may use them until the process ends.
Reader& reader() {
  static auto* one = new Reader;
  return *one;
}
Covers& covers() {
  static auto* kept = new Covers;
  return *kept;
}

bool sameUrl(const std::shared_ptr<const std::string>& a, const std::shared_ptr<const std::string>& b) {
  return a == b || (a != nullptr && b != nullptr && *a == *b);
}

// Bus thread, when a read has ended.
void readEnded(const std::shared_ptr<const std::string>& url, std::shared_ptr<const Artwork> artwork) {
  Covers& kept = covers();
  bool found = artwork != nullptr;
  if (found) {
    kept.url = url;
    kept.artwork = std::move(artwork);
  }
  auto entry = std::find_if(kept.reading.begin(), kept.reading.end(),
                            [&](const Reading& reading) { return sameUrl(reading.url, url); });
  if (entry == kept.reading.end()) return;
  std::vector<std::function<void(bool)>> waiting = std::move(entry->waiting);
  kept.reading.erase(entry);
  for (auto& ended : waiting) ended(found);
}

// The reading thread, for as long as the process lives.
void readCovers() {
  for (;;) {
    std::shared_ptr<const std::string> url;
    {
      std::unique_lock lock(reader().mutex);
      reader().wanted.wait(lock, [] { return reader().next != nullptr; });
      url = std::exchange(reader().next, nullptr);
    }
    std::shared_ptr<const Artwork> artwork;
    if (std::optional<Bytes> bytes = fetchArtwork(*url)) {
      std::string identity = artworkIdentity(*url, *bytes);
      std::string_view mime = artworkMIME(*bytes);
      artwork = std::make_shared<const Artwork>(Artwork{std::move(*bytes), std::move(identity), mime});
    }
    runOnBus([url, artwork = std::move(artwork)] { readEnded(url, artwork); });
  }
}

}  // namespace

std::shared_ptr<const Artwork> keptArtwork(const std::shared_ptr<const std::string>& url) {
  return sameUrl(covers().url, url) ? covers().artwork : nullptr;
}

bool readArtwork(const std::shared_ptr<const std::string>& url, std::function<void(bool found)> ended) {
  Covers& kept = covers();
  auto now = std::chrono::steady_clock::now();
  auto found = std::find_if(kept.reading.begin(), kept.reading.end(),
                            [&](const Reading& reading) { return sameUrl(reading.url, url); });
  if (found != kept.reading.end()) {
    if (now - found->since > artworkWait) return false;
    found->waiting.push_back(std::move(ended));
    return true;
  }
  kept.reading.push_back({url, now, {}});
  kept.reading.back().waiting.push_back(std::move(ended));
  std::shared_ptr<const std::string> replaced;
  {
    std::lock_guard lock(reader().mutex);
    replaced = std::exchange(reader().next, url);
  }
  reader().wanted.notify_one();
  // Nobody reads a URL that was replaced before it was taken: its waiters' own
  // deadlines answer them.
  if (replaced != nullptr) {
    std::erase_if(kept.reading, [&](const Reading& reading) { return sameUrl(reading.url, replaced); });
  }
  static std::once_flag started;
  std::call_once(started, [] { std::thread(readCovers).detach(); });
  return true;
}

}  // namespace kel::mpris
