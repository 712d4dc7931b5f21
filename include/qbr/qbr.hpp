#pragma once

// The public API of qbr: build or read a model, solve it, use the result.
#include "qbr/error.hpp"
#include "qbr/export.hpp"
#include "qbr/materials.hpp"
#include "qbr/model.hpp"
#include "qbr/progress.hpp"
#include "qbr/result.hpp"
#include "qbr/solve.hpp"
#include "qbr/synthesis.hpp"
