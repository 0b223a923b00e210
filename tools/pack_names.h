// Name handling of marrowgate-pack: glob patterns, the case folding the
// package tree applies, and texts for the terminal and for JSON.
#ifndef MARROWGATE_TOOLS_PACK_NAMES_H_
#define MARROWGATE_TOOLS_PACK_NAMES_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace marrowgate {

// Shell-style matching of the whole `text`: '*' any run of characters and
// '?' any one character, neither crossing '/'; "[abc]", "[a-z]" and
// "[!...]" one character of (or not of) a set; '\\' takes the next
// character literally.
bool GlobMatch(std::string_view pattern, std::string_view text);

// A pattern naming entries of a package: it matches `path` itself or one
// of the folders `path` lies in ("data" and "da*" select everything below
// "data").
bool MatchesPathPattern(std::string_view pattern, std::string_view path);

// An --exclude pattern: without '/' it is tried on every component of
// `path` (so "*.o" leaves out object files at any depth); with '/' on the
// path and the folders it lies in.
bool MatchesExcludePattern(std::string_view pattern, std::string_view path);

// The key under which the package tree stores a name: a..z made upper
// case, every other byte kept.
std::string FoldedName(std::string_view name);

// `name` with control characters and '\\' escaped (\n, \t, \r, \\ and
// \xHH), so that one entry prints as one line.
std::string EscapedName(std::string_view name);

// `text` as a JSON string literal, quotes included (bytes of 0x80 and
// above are passed through).
std::string JsonString(std::string_view text);

// A size for people: "512", "1.5K", "12M", "3.1G" (powers of 1024).
std::string HumanSize(uint64_t bytes);

}  // namespace marrowgate

#endif  // MARROWGATE_TOOLS_PACK_NAMES_H_
