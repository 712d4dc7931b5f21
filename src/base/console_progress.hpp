#pragma once

#include <ostream>

#include "qbr/progress.hpp"

namespace qbr {

// The program's progress lines as a progress callback: "Filling BEM matrix:  " and
// "LU:  ", each followed by one backspace and spinner character per step and ended by
// "\b  done;\n". The fill's character follows the row node within its element, the
// factorisation's the eliminated column. The stream must outlive the callback.
ProgressCallback consoleSpinner(std::ostream& console);

// Sends one event without element data to `progress`, when there is a callback.
void sendProgress(const ProgressCallback& progress, Progress::Phase phase, Progress::Stage stage,
                  std::int64_t done, std::int64_t total);

}  // namespace qbr
