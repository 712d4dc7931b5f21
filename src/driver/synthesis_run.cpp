#include "driver/synthesis_run.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>

#include "qbr/error.hpp"
#include "qbr/model.hpp"
#include "qbr/solve.hpp"
#include "qbr/synthesis.hpp"

namespace qbr {

namespace {

bool isWordCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool isSeparator(char c) {
  return c == ' ' || c == '\t' || c == ',' || c == '=' || c == '\r';
}

// Recursive descent over one token: sum of products of signed factors.
class Expression {
 public:
  Expression(const std::string& text, const std::string& name, double value)
      : text_(text), name_(name), value_(value) {}

  std::optional<double> evaluate() {
    const double result = sum();
    if (!ok_ || at_ != text_.size() || !std::isfinite(result)) return std::nullopt;
    return result;
  }

 private:
  double sum() {
    double result = product();
    while (ok_ && at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) {
      const char op = text_[at_++];
      const double right = product();
      result = op == '+' ? result + right : result - right;
    }
    return result;
  }

  double product() {
    double result = factor();
    while (ok_ && at_ < text_.size() && (text_[at_] == '*' || text_[at_] == '/')) {
      const char op = text_[at_++];
      const double right = factor();
      result = op == '*' ? result * right : result / right;
    }
    return result;
  }

  double factor() {
    if (at_ >= text_.size()) return fail();
    const char c = text_[at_];
    if (c == '-' || c == '+') {
      ++at_;
      return c == '-' ? -factor() : factor();
    }
    if (c == '(') {
      ++at_;
      const double inner = sum();
      if (at_ >= text_.size() || text_[at_] != ')') return fail();
      ++at_;
      return inner;
    }
    if (text_.compare(at_, name_.size(), name_) == 0 &&
        (at_ + name_.size() == text_.size() || !isWordCharacter(text_[at_ + name_.size()]))) {
      at_ += name_.size();
      return value_;
    }
    if (std::isdigit(static_cast<unsigned char>(c)) != 0 || c == '.') {
      const char* start = text_.c_str() + at_;
      char* end = nullptr;
      const double number = std::strtod(start, &end);
      at_ += static_cast<std::size_t>(end - start);
      return number;
    }
    return fail();
  }

  double fail() {
    ok_ = false;
    return 0.0;
  }

  const std::string& text_;
  const std::string& name_;
  double value_;
  std::size_t at_ = 0;
  bool ok_ = true;
};

// Whether `token` holds `name` as a word of its own.
bool namesParameter(const std::string& token, const std::string& name) {
  for (std::size_t at = token.find(name); at != std::string::npos; at = token.find(name, at + 1)) {
    const bool before = at == 0 || !isWordCharacter(token[at - 1]);
    const bool after =
        at + name.size() == token.size() || !isWordCharacter(token[at + name.size()]);
    if (before && after) return true;
  }
  return false;
}

std::string numberText(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string shortText(double value, int digits = 6) {
  std::ostringstream text;
  text.precision(digits);
  text << value;
  return text.str();
}

std::optional<double> parseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

bool isWord(const std::string& text) {
  if (text.empty() || std::isalpha(static_cast<unsigned char>(text[0])) == 0) return false;
  for (char c : text) {
    if (!isWordCharacter(c)) return false;
  }
  return true;
}

}  // namespace

std::string substituteParameter(const std::string& text, const std::string& name, double value,
                                int& uses) {
  uses = 0;
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (!line.starts_with("cc")) {
      std::string replaced;
      std::size_t at = 0;
      while (at < line.size()) {
        std::size_t end = at;
        while (end < line.size() && !isSeparator(line[end])) ++end;
        const std::string token = line.substr(at, end - at);
        std::optional<double> number;
        if (namesParameter(token, name)) number = Expression(token, name, value).evaluate();
        if (number) ++uses;
        replaced += number ? numberText(*number) : token;
        while (end < line.size() && isSeparator(line[end])) replaced += line[end++];
        at = end;
      }
      line = replaced;
    }
    out += line + "\n";
  }
  return out;
}

std::optional<SynthesisRequest> parseTarget(const std::string& text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) return std::nullopt;
  SynthesisRequest request;
  request.quantity = text.substr(0, equals);
  const std::optional<double> target = parseNumber(text.substr(equals + 1));
  bool known = false;
  for (const std::string& name : lineQuantityNames()) known = known || name == request.quantity;
  if (!known || !target || !(*target > 0.0)) return std::nullopt;
  request.target = *target;
  return request;
}

std::optional<SynthesisRequest> parseRange(const std::string& text) {
  const std::size_t equals = text.find('=');
  const std::size_t colon = text.find(':', equals == std::string::npos ? 0 : equals);
  if (equals == std::string::npos || colon == std::string::npos) return std::nullopt;
  SynthesisRequest request;
  request.parameter = text.substr(0, equals);
  const std::optional<double> low = parseNumber(text.substr(equals + 1, colon - equals - 1));
  const std::optional<double> high = parseNumber(text.substr(colon + 1));
  if (!isWord(request.parameter) || !low || !high || !(*low > 0.0) || !(*low < *high)) {
    return std::nullopt;
  }
  request.low = *low;
  request.high = *high;
  return request;
}

Result runSynthesis(const SynthesisRequest& request, const std::string& inputName, bool strict,
                    std::ostream& console, std::ostream& log, std::string& json) {
  std::ifstream file(inputName);
  if (!file) Model::fromFile(inputName, strict);  // stops with the reader's message
  const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  int uses = 0;
  substituteParameter(text, request.parameter, request.low, uses);
  if (uses == 0) {
    throw Error("\nThe input file " + inputName + " uses no " + request.parameter +
                " in place of a number;\n");
  }
  auto both = [&](const std::string& line) {
    console << line;
    console.flush();
    log << line;
  };
  both("\nSynthesis: " + request.quantity + " = " + shortText(request.target) + " by " +
       request.parameter + " from " + shortText(request.low) + " to " + shortText(request.high) +
       " (in " + std::to_string(uses) + " places), tolerance " + shortText(request.tolerance) +
       " of the target\n");

  // Each solve's report is kept; the one closest to the target is written at the end.
  struct Solved {
    Result result;
    std::string console, log;
  };
  std::vector<Solved> solved;
  auto quantityAt = [&](double value) {
    std::ostringstream stepConsole, stepLog;
    SolveOptions options;
    options.console = &stepConsole;
    options.log = &stepLog;
    options.gridCheck = false;
    const Model model =
        Model::fromText(substituteParameter(text, request.parameter, value, uses), strict);
    Result result = solve(model, options);
    const double quantity = lineQuantity(result, request.quantity);
    solved.push_back({std::move(result), stepConsole.str(), stepLog.str()});
    return quantity;
  };
  auto onStep = [&](const SynthesisStep& step) {
    both("  solve " + std::to_string(solved.size()) + ": " + request.parameter + " = " +
         shortText(step.value, 8) + "   " + request.quantity + " = " + shortText(step.quantity, 8) +
         "\n");
  };
  SynthesisOptions options;
  options.tolerance = request.tolerance;
  options.parameterName = request.parameter;
  options.quantityName = request.quantity;
  options.onStep = onStep;
  const SynthesisOutcome outcome =
      synthesize(quantityAt, request.target, request.low, request.high, options);
  const Solved& best = solved[static_cast<std::size_t>(outcome.best)];
  console << best.console;
  log << best.log;

  const double relative = (outcome.achieved - request.target) / request.target;
  std::string summary = "\nSynthesis: " + request.parameter + " = " + shortText(outcome.value, 8) +
                        " (+- " + shortText(outcome.parameterError, 2) + ") gives " +
                        request.quantity + " = " + shortText(outcome.achieved, 8) + " (target " +
                        shortText(request.target) + ", relative error " + shortText(relative, 2) +
                        ") after " + std::to_string(outcome.steps.size()) + " solves";
  if (best.result.accuracy) {
    summary += "; grid error estimate of the matrices up to " +
               shortText(best.result.accuracy->largest(), 2);
  }
  both(summary + ";\n");

  nlohmann::ordered_json member;
  member["quantity"] = request.quantity;
  member["target"] = request.target;
  member["parameter"] = request.parameter;
  member["range"] = {request.low, request.high};
  member["tolerance"] = request.tolerance;
  member["value"] = outcome.value;
  member["achieved"] = outcome.achieved;
  member["relative_error"] = relative;
  member["parameter_error"] = outcome.parameterError;
  member["converged"] = outcome.converged;
  nlohmann::ordered_json steps = nlohmann::ordered_json::array();
  for (const SynthesisStep& step : outcome.steps) steps.push_back({step.value, step.quantity});
  member["steps"] = steps;
  json = "{";
  for (auto it = member.begin(); it != member.end(); ++it) {
    json += (it == member.begin() ? "\n  " : ",\n  ") + nlohmann::json(it.key()).dump() + ": " +
            it.value().dump();
  }
  json += "\n }";

  if (!outcome.converged) {
    throw Error("\nThe synthesis did not reach the tolerance in " +
                std::to_string(outcome.steps.size()) + " solves;\n");
  }
  return best.result;
}

}  // namespace qbr
