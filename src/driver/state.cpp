// Construction and reset rules of the analysis state.
//
// The per-point matrices are taken from calloc: for blocks this large the C
// library maps fresh zero pages, which cost no resident memory until written.
// The idle program therefore holds the full capacity without using it.
#include "driver/state.h"

#include <cstdlib>
#include <new>

namespace svfit {

template <typename T>
ScanMatrix<T>::ScanMatrix() {
  const std::size_t count = static_cast<std::size_t>(kMaxScans + 1) * kStride;
  T* p = static_cast<T*>(std::calloc(count, sizeof(T)));
  if (p == nullptr) throw std::bad_alloc();
  data_.reset(p);
}

template <typename T>
void ScanMatrix<T>::Free::operator()(T* p) const {
  std::free(p);
}

template class ScanMatrix<double>;
template class ScanMatrix<std::uint16_t>;

AnalysisState::AnalysisState() {
  for (int k = 1; k <= kMaxComponents; ++k) psv[k] = 0.736;
  rho = 1.0;
  updatePsvRho();
  for (int s = 1; s <= kMaxScans; ++s) scanFirstPoint[s] = 1;
}

ScanMatrix<double>& AnalysisState::paramDerivBlock(int m) {
  auto& block = paramDeriv_[static_cast<std::size_t>(m)];
  if (!block) block = std::make_unique<ScanMatrix<double>>();
  return *block;
}

void AnalysisState::updatePsvRho() {
  for (int k = 1; k <= kMaxComponents; ++k) psvRho[k] = psv[k] * rho;
}

void AnalysisState::resetForAnalysis() {
  param.fill(0.0);
  componentCount = 0;
  radialStep = 0.00072625799;
  concDivisor = 1.0;
  concentration = -1;
  interpolate = false;
  use3000 = false;
  contourSubtraction = false;
  loadOneByOne = false;
  outlierCorrection = 'N';
  lastBottomPoint = 'N';
  riNoiseOn = false;
  tiNoiseOn = false;
  display = DisplayFlags{};
  markedS.fill(0.0);
  markedAmp.fill(0.0);
  markedCount = 0;
  maxAbsorbance = 0;
  displayOffset = 0;
  dataOffset = 0;
  fitDone = false;
  secondSpeedFirstScan = 0;
}

void AnalysisState::resetSeries() {
  startRadius = 0;
  endRadius = 0;
  scanCount = 0;
  seqFirst = 1;
  seqLast = 0;
  omittedCount = 0;
  secondSetLoaded = false;
  for (int s = 1; s <= kMaxScans; ++s) scanFirstPoint[s] = 1;
  for (auto& t : titleLines) t.clear();
  for (auto& t : secondTitleLines) t.clear();
  for (auto& t : infoLines) t.clear();
}

}  // namespace svfit
