#include "model/line_tokens.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "base/fatal_stop.hpp"

namespace qbr {

namespace {

bool isSeparator(char c) {
  return c == '\t' || c == ',' || c == ' ' || c == '=';
}

bool isSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string quoted(const std::string& token) {
  return "\"" + token + "\"";
}

}  // namespace

void stopAtLine(const SourceLine& line, const std::string& problem) {
  std::string message = "\nLine " + std::to_string(line.number) + " of ";
  message.append(line.source).append(": ").append(problem).append(": ");
  message.append(line.text).append("\n");
  fatalStop(std::move(message));
}

std::string linePlace(const SourceLine& line) {
  std::string place = "Line " + std::to_string(line.number);
  if (line.source != "the input file") place.append(" of ").append(line.source);
  return place;
}

LineRead readTextLine(std::istream& in, std::string& line) {
  line.clear();
  std::streambuf* buffer = in.rdbuf();
  if (!in.good() || buffer == nullptr) return LineRead::kEnd;
  try {
    for (;;) {
      const int c = buffer->sbumpc();
      if (c == std::char_traits<char>::eof()) {
        // A last line without a line break still counts.
        in.setstate(std::ios::eofbit);
        if (line.empty()) {
          in.setstate(std::ios::failbit);
          return LineRead::kEnd;
        }
        break;
      }
      if (c == '\n') break;
      if (line.size() == kMaxLineLength) return LineRead::kTooLong;
      line.push_back(static_cast<char>(c));
    }
  } catch (...) {
    // The stream buffer reports a failed read by throwing.
    in.setstate(std::ios::badbit);
    return LineRead::kEnd;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return LineRead::kLine;
}

void stopAtLongLine(std::string_view source, long number) {
  std::string message = "\nLine " + std::to_string(number) + " of ";
  message.append(source).append(" is longer than ").append(std::to_string(kMaxLineLength));
  message.append(" characters\n");
  fatalStop(std::move(message));
}

void countFileLength(std::size_t& total, const std::string& line, std::string_view source) {
  total += line.size() + 1;
  if (total <= kMaxFileLength) return;
  std::string message = "\nReading stopped: ";
  message.append(source).append(" is longer than ").append(std::to_string(kMaxFileLength));
  message.append(" characters\n");
  fatalStop(std::move(message));
}

std::string toLowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::vector<std::string> splitTokens(std::string_view line) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && isSeparator(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !isSeparator(line[i])) ++i;
    if (i > start) tokens.emplace_back(line.substr(start, i - start));
  }
  return tokens;
}

ParseStatus parseInt32(const char* text, std::int32_t& value, const char** end) {
  const char* p = text;
  while (*p != '\0' && isSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!std::isdigit(static_cast<unsigned char>(*p))) {
    if (end != nullptr) *end = text;
    return ParseStatus::kNotANumber;
  }
  // Accumulate the magnitude in 64 bits and stop growing it once it has left the
  // int32 range, so that no digit string can overflow.
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  while (std::isdigit(static_cast<unsigned char>(*p))) {
    if (magnitude <= kLimit) magnitude = magnitude * 10 + (*p - '0');
    ++p;
  }
  if (end != nullptr) *end = p;
  const std::int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue < std::numeric_limits<std::int32_t>::min() ||
      signedValue > std::numeric_limits<std::int32_t>::max()) {
    return ParseStatus::kOutOfRange;
  }
  value = static_cast<std::int32_t>(signedValue);
  return ParseStatus::kOk;
}

ParseStatus parseReal(const char* text, double& value, const char** end) {
  char* stop = nullptr;
  const double parsed = std::strtod(text, &stop);
  if (end != nullptr) *end = stop;
  if (stop == text) return ParseStatus::kNotANumber;
  if (!std::isfinite(parsed)) return ParseStatus::kNotFinite;
  value = parsed;
  return ParseStatus::kOk;
}

void TokenCursor::warn(const std::string& text) const {
  if (warnings_ != nullptr) warnings_->push_back(linePlace(line_) + ": " + text);
}

void TokenCursor::warnAboutRest(const std::string& keyword) const {
  if (!hasMore()) return;
  std::string rest;
  for (std::size_t i = next_; i < tokens_.size(); ++i)
    rest += (rest.empty() ? "" : " ") + tokens_[i];
  warn(quoted(rest) + " after the last item of a \"" + keyword + "\" line is ignored");
}

// "%ld" and "%lg" stop at the first character that does not belong to the number: in
// "10ghz" the unit would vanish without a word.
void TokenCursor::warnAboutTail(const std::string& token, const char* end,
                                const std::string& what) const {
  if (end == nullptr || *end == '\0') return;
  warn("the " + what + " " + quoted(token) + " is read as " +
       quoted(token.substr(0, static_cast<std::size_t>(end - token.c_str()))) + "; " + quoted(end) +
       " after the number is ignored");
}

const std::string& TokenCursor::take(const char* what) {
  if (!hasMore()) fail(std::string("the ") + what + " is missing");
  return tokens_[next_++];
}

const std::string& TokenCursor::word(const char* what) {
  return take(what);
}

std::int32_t TokenCursor::integer(const char* what) {
  const std::string& token = take(what);
  std::int32_t value = 0;
  const char* end = nullptr;
  switch (parseInt32(token.c_str(), value, &end)) {
    case ParseStatus::kOk:
      warnAboutTail(token, end, what);
      return value;
    case ParseStatus::kOutOfRange:
      fail(std::string("the ") + what + " " + quoted(token) + " is out of range");
    case ParseStatus::kNotANumber:
    case ParseStatus::kNotFinite:
      break;
  }
  fail(std::string("the ") + what + " " + quoted(token) + " is not an integer");
}

std::int32_t TokenCursor::index(const char* what) {
  const std::int32_t value = integer(what);
  if (value < 0) fail(std::string("the ") + what + " " + std::to_string(value) + " is negative");
  return value;
}

double TokenCursor::real(const char* what, RealRange range) {
  const std::string& token = take(what);
  const std::string item = std::string("the ") + what + " " + quoted(token);
  double value = 0.0;
  const char* end = nullptr;
  switch (parseReal(token.c_str(), value, &end)) {
    case ParseStatus::kOk:
      warnAboutTail(token, end, what);
      break;
    case ParseStatus::kNotFinite:
      fail(item + " is not a finite number");
    default:
      fail(item + " is not a number");
  }
  if (range == RealRange::kNotNegative && value < 0.0) fail(item + " is negative");
  // Written so that -0 is refused as well.
  if (range == RealRange::kPositive && !(value > 0.0)) fail(item + " is not positive");
  return value;
}

char TokenCursor::firstCharacter(const char* what) {
  return take(what).front();
}

std::optional<std::string> TokenCursor::optionalWord() {
  if (!hasMore()) return std::nullopt;
  return tokens_[next_++];
}

std::optional<std::int32_t> TokenCursor::optionalInteger(const char* what) {
  if (!hasMore()) return std::nullopt;
  return integer(what);
}

std::optional<std::int32_t> TokenCursor::optionalIndex(const char* what) {
  if (!hasMore()) return std::nullopt;
  return index(what);
}

std::optional<double> TokenCursor::optionalReal(const char* what, RealRange range) {
  if (!hasMore()) return std::nullopt;
  return real(what, range);
}

std::optional<char> TokenCursor::optionalFirstCharacter() {
  if (!hasMore()) return std::nullopt;
  return tokens_[next_++].front();
}

}  // namespace qbr
