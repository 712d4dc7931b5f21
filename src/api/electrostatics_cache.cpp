#include "api/electrostatics_cache.hpp"

#include <cstring>
#include <list>
#include <mutex>
#include <utility>

namespace qbr {

namespace {

// The bytes of plain values, appended to the key.
template <typename T>
void put(std::string& key, const T& value) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  key.append(bytes, sizeof(T));
}

void putElement(std::string& key, const BoundaryElement& e, const PointTable& points) {
  put(key, e.kind);
  put(key, e.conductor);
  put(key, e.dir);
  put(key, e.R);
  put(key, e.tFrom);
  put(key, e.tTo);
  const int used = e.kind == kLine ? 2 : e.kind == kCurve ? 3 : 1;
  for (int i = 0; i < used; ++i) {
    const BasicPoint& p =
        points[static_cast<std::size_t>(e.pointNumbers[static_cast<std::size_t>(i)])];
    put(key, p.x);
    put(key, p.y);
  }
  put(key, e.gridCount);
  for (std::size_t i = 1; i < e.nodeT.size(); ++i) put(key, e.nodeT[i]);
}

constexpr std::size_t kKept = 4;

std::mutex& guard() {
  static std::mutex m;
  return m;
}

std::list<std::pair<std::string, LineElectrostatics>>& entries() {
  static std::list<std::pair<std::string, LineElectrostatics>> list;
  return list;
}

}  // namespace

std::string electrostaticsKey(const ProblemModel& gridded, const DielectricLayout* layout,
                              int threads, bool gridCheck, double tolerance) {
  std::string key;
  put(key, threads);
  put(key, gridCheck);
  put(key, tolerance);
  put(key, gridded.symmetryOn);
  put(key, gridded.gradedGrids);
  put(key, gridded.conductorCount);
  put(key, gridded.permittivity);
  for (std::int32_t e = 0; e < gridded.elementCount; ++e)
    putElement(key, gridded.elements[static_cast<std::size_t>(e)], gridded.points);
  if (layout != nullptr) {
    put(key, layout->background);
    for (std::size_t i = 0; i < layout->interfaces.size(); ++i) {
      putElement(key, layout->interfaces[i], gridded.points);
      put(key, layout->permittivityLeft[i]);
      put(key, layout->permittivityRight[i]);
    }
    for (const std::vector<MediumSide>& sides : layout->metalSides) {
      for (const MediumSide& side : sides) {
        put(key, side.t0);
        put(key, side.t1);
        put(key, side.permittivity);
      }
      key.push_back('|');
    }
  }
  return key;
}

std::optional<LineElectrostatics> cachedElectrostatics(const std::string& key) {
  const std::lock_guard<std::mutex> lock(guard());
  auto& list = entries();
  for (auto it = list.begin(); it != list.end(); ++it) {
    if (it->first != key) continue;
    list.splice(list.begin(), list, it);
    return list.front().second;
  }
  return std::nullopt;
}

void rememberElectrostatics(const std::string& key, const LineElectrostatics& value) {
  const std::lock_guard<std::mutex> lock(guard());
  auto& list = entries();
  list.emplace_front(key, value);
  while (list.size() > kKept) list.pop_back();
}

}  // namespace qbr
