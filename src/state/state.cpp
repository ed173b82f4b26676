// Construction and reset rules of the analysis state.
//
// The per-point matrices are mapped as fresh anonymous memory: zero pages
// that cost no resident memory until written, so the idle program holds the
// full capacity without using it. (calloc is not enough: once such a block
// has been freed, the C library raises its mapping threshold and serves the
// next one from the heap, clearing - and so touching - every page.)
#include "state/state.h"

#include <sys/mman.h>

#include <new>

namespace svfit {

template <typename T>
ScanMatrix<T>::ScanMatrix() {
  void* p = ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  data_.reset(static_cast<T*>(p));
}

template <typename T>
void ScanMatrix<T>::Free::operator()(T* p) const {
  ::munmap(p, kBytes);
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
  fittedDiffusion.fill(0.0);
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
  restoredAfterFit = false;
  secondSpeedFirstScan = 0;
  profile3000Count = 0;  // a 3000 rpm profile belongs to the analysis that read it
  distExists = false;    // so does a distribution
  distMarksPending = false;
  distPlateau = 0;
}

void AnalysisState::resetSeries() {
  startRadius = 0;
  endRadius = 0;
  meniscusMarked = 0;  // marks of another series mean nothing for this one
  bottomMarked = 0;
  fileMinRadius = 0;
  fileMaxRadius = 0;
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
