#include "prep/work_arrays.hpp"

#include <new>

#include "base/fatal_stop.hpp"

namespace qbr {

WorkArrays allocateWorkArrays(const ProblemModel& model, bool withMatrix) {
  WorkArrays work;
  try {
    if (withMatrix) work.A = ComplexMatrix(model.nd, model.nd);
    // All conductors' right-hand sides are solved in one call, one column each.
    work.b = ComplexMatrix(model.nd, model.conductorCount);
    if (withMatrix) work.pivots.assign(static_cast<std::size_t>(model.nd), 0);
  } catch (const std::bad_alloc&) {
    fatalStop("\nmain arrays are not allocated\n");
  }
  return work;
}

void releaseWorkArrays(ProblemModel& model, WorkArrays& work) {
  for (BoundaryElement& element : model.elements) {
    std::vector<double>().swap(element.nodeT);
    std::vector<double>().swap(element.nodeX);
    std::vector<double>().swap(element.nodeY);
  }
  for (Conductor& conductor : model.conductors) std::vector<std::int32_t>().swap(conductor.memb);
  work.A.release();
  work.b.release();
  std::vector<int>().swap(work.pivots);
}

}  // namespace qbr
