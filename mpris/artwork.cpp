// Reading cover art. Players name it by URL; the bridge wants the bytes and a type.

#include "mpris/artwork.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace kel::mpris {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
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

// Reads at most limit bytes of a regular file. The file is opened without blocking
// and checked first, so that a FIFO or a device named by a player cannot hang the
// bus thread or feed it without end.
std::optional<Bytes> readFile(const std::string& path, std::size_t limit) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<Bytes> bytes;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    Bytes read(std::min<std::size_t>(limit, static_cast<std::size_t>(info.st_size)));
    std::size_t filled = 0;
    for (;;) {
      if (filled == read.size()) {
        // The file may have grown since fstat: take more, up to the limit.
        if (read.size() >= limit) break;
        read.resize(std::min(limit, read.size() + 65536));
      }
      ssize_t got = ::read(fd, read.data() + filled, read.size() - filled);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      filled += static_cast<std::size_t>(got);
    }
    read.resize(filled);
    bytes = std::move(read);
  }
  close(fd);
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
    bytes = decodeBase64(payload);
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

std::optional<Bytes> decodeBase64(std::string_view text) {
  Bytes bytes;
  bytes.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t bits = 0;
  int count = 0;
  bool padding = false;
  for (char c : text) {
    if (isSpace(c)) continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    int value = base64Value(c);
    if (value < 0 || padding) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    if (++count == 4) {
      bytes.push_back(static_cast<std::uint8_t>(bits >> 16));
      bytes.push_back(static_cast<std::uint8_t>(bits >> 8));
      bytes.push_back(static_cast<std::uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 1) return std::nullopt;
  if (count == 2) bytes.push_back(static_cast<std::uint8_t>(bits >> 4));
  if (count == 3) {
    bytes.push_back(static_cast<std::uint8_t>(bits >> 10));
    bytes.push_back(static_cast<std::uint8_t>(bits >> 2));
  }
  return bytes;
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

std::shared_ptr<const Bytes> artworkFor(const std::string& url) {
  // One entry, the now-playing player's cover; never destroyed, as the bus thread
  // may use it until the process ends. Bus thread only. Only bytes are kept: a
  // player may name a file before it has written it.
  struct Cache {
    std::string url;
    std::shared_ptr<const Bytes> bytes;
  };
  static auto* cache = new Cache;
  if (cache->bytes == nullptr || url != cache->url) {
    std::optional<Bytes> bytes = fetchArtwork(url);
    cache->bytes = bytes ? std::make_shared<const Bytes>(std::move(*bytes)) : nullptr;
    cache->url = url;
  }
  return cache->bytes;
}

}  // namespace kel::mpris
