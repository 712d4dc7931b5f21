#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qbr {

// A line of a text file, kept so that a message can show the user where the fault is.
struct SourceLine {
  std::string_view source;  // e.g. "the input file"
  long number = 0;          // counted from 1
  std::string_view text;    // as written
};

// Stops the run with "\nLine <n> of <source>: <problem>: <text>\n".
[[noreturn]] void stopAtLine(const SourceLine& line, const std::string& problem);

// How a warning names its line: "Line 2" in the input file, "Line 3 of the model"
// elsewhere.
std::string linePlace(const SourceLine& line);

// Far longer than any line a person writes, short enough that a file without line
// breaks (or a device such as /dev/zero named as a file) cannot exhaust the memory.
inline constexpr std::size_t kMaxLineLength = 1 << 20;

// A bound on a whole file, for the same reason: a pipe or device that never ends
// (/dev/urandom) must not keep the run reading forever.
inline constexpr std::size_t kMaxFileLength = 1 << 24;

enum class LineRead { kLine, kEnd, kTooLong };

// Reads one line of up to kMaxLineLength characters. A carriage return before the line
// feed is dropped, so files written on Windows read the same. kEnd at the end of the
// stream or on a read error (the stream's bad() tells which); kTooLong for a longer
// line, of which nothing more is read.
LineRead readTextLine(std::istream& in, std::string& line);

// Stops the run because line `number` of `source` is longer than kMaxLineLength.
[[noreturn]] void stopAtLongLine(std::string_view source, long number);

// Adds a line just read (and its line break) to `total`, the characters read from
// `source` so far; stops the run once that exceeds kMaxFileLength.
void countFileLength(std::size_t& total, const std::string& line, std::string_view source);

std::string toLowerAscii(std::string text);

// Tokens of a line; tab, comma, blank and "=" separate them, a run of separators
// counting as one.
std::vector<std::string> splitTokens(std::string_view line);

enum class ParseStatus { kOk, kNotANumber, kOutOfRange, kNotFinite };

// Like "%ld" into an int32: white space, an optional sign and at least one digit; the
// first other character ends the number. Values outside int32 are kOutOfRange.
// `end`, when given, receives the position after the number.
ParseStatus parseInt32(const char* text, std::int32_t& value, const char** end = nullptr);

// Like "%lg" (strtod): the longest prefix that forms a number after white space.
// Infinities, not-a-numbers and values beyond the double range ("1e999") are
// kNotFinite: no phase can compute with them.
ParseStatus parseReal(const char* text, double& value, const char** end = nullptr);

// What a real item of the input may be.
enum class RealRange { kAny, kNotNegative, kPositive };

// Reads the tokens of one keyword line in order. A required item that is missing or
// malformed stops the run with a message that names the line; a number followed by
// other characters in its token ("10ghz" reads as 10) is read, with a warning into
// `warnings` when given.
class TokenCursor {
 public:
  TokenCursor(std::vector<std::string> tokens, const SourceLine& line,
              std::vector<std::string>* warnings = nullptr)
      : tokens_(std::move(tokens)), line_(line), warnings_(warnings) {}

  bool hasMore() const { return next_ < tokens_.size(); }

  const std::string& word(const char* what);
  std::int32_t integer(const char* what);
  // A number that indexes a table: negative values stop the run.
  std::int32_t index(const char* what);
  double real(const char* what, RealRange range = RealRange::kAny);
  // A direction token counts by its first character.
  char firstCharacter(const char* what);

  // Optional items: absent at the end of the line, otherwise read as the required ones.
  std::optional<std::string> optionalWord();
  std::optional<std::int32_t> optionalInteger(const char* what);
  std::optional<std::int32_t> optionalIndex(const char* what);
  std::optional<double> optionalReal(const char* what, RealRange range = RealRange::kAny);
  std::optional<char> optionalFirstCharacter();

  [[noreturn]] void fail(const std::string& problem) const { stopAtLine(line_, problem); }
  // "<place>: <text>" into the warnings.
  void warn(const std::string& text) const;
  // Tokens that no item has read yet are ignored: says so.
  void warnAboutRest(const std::string& keyword) const;

 private:
  const std::string& take(const char* what);
  void warnAboutTail(const std::string& token, const char* end, const std::string& what) const;

  std::vector<std::string> tokens_;
  std::size_t next_ = 0;
  SourceLine line_;
  std::vector<std::string>* warnings_ = nullptr;
};

}  // namespace qbr
