#include "base/console_progress.hpp"

#include <memory>
#include <string>

namespace qbr {

namespace {

constexpr char kSpinner[] = "|/-\\";

class Spinner {
 public:
  explicit Spinner(std::ostream& console) : console_(console) {}

  void operator()(const Progress& p) {
    switch (p.stage) {
      case Progress::Stage::kBegin:
        begin(p);
        break;
      case Progress::Stage::kAdvance:
        advanceTo(p);
        break;
      case Progress::Stage::kEnd:
        console_ << "\b  done;\n";
        console_.flush();
        break;
    }
  }

 private:
  void begin(const Progress& p) {
    written_ = 0;
    m_ = 0;
    e_ = 0;
    node_ = 1;
    elementNodes_ = p.elementNodes;
    console_ << (p.phase == Progress::Phase::kFill ? "Filling BEM matrix:  " : "LU:  ");
    console_.flush();
  }

  void advanceTo(const Progress& p) {
    if (p.done <= written_) return;
    std::string text;
    text.reserve(static_cast<std::size_t>(2 * (p.done - written_)));
    for (; written_ < p.done; ++written_) {
      text += '\b';
      text += kSpinner[p.phase == Progress::Phase::kFill ? fillStep() : (written_ + 1) % 4];
    }
    console_ << text;
    console_.flush();
  }

  // The fill's steps run over (row element, column element, row node): the character
  // is that of the row node within its element.
  int fillStep() {
    const int elements = static_cast<int>(elementNodes_.size());
    while (elementNodes_[static_cast<std::size_t>(m_)] == 0) ++m_;
    const int shown = node_ % 4;
    if (++node_ > elementNodes_[static_cast<std::size_t>(m_)]) {
      node_ = 1;
      if (++e_ == elements) {
        e_ = 0;
        ++m_;
      }
    }
    return shown;
  }

  std::ostream& console_;
  std::vector<int> elementNodes_;
  std::int64_t written_ = 0;
  int m_ = 0, e_ = 0, node_ = 1;
};

}  // namespace

void sendProgress(const ProgressCallback& progress, Progress::Phase phase, Progress::Stage stage,
                  std::int64_t done, std::int64_t total) {
  if (!progress) return;
  Progress p;
  p.phase = phase;
  p.stage = stage;
  p.done = done;
  p.total = total;
  progress(p);
}

ProgressCallback consoleSpinner(std::ostream& console) {
  auto spinner = std::make_shared<Spinner>(console);
  return [spinner](const Progress& p) { (*spinner)(p); };
}

}  // namespace qbr
