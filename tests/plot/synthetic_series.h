// A synthetic sedimentation velocity series for the plot tests: `scans`
// scans of a single 5 S boundary moving from the meniscus (5.95 cm) towards
// the bottom at 40000 rpm, 0.003 cm point spacing from 6.0 to 7.2 cm, with a
// small deterministic scatter; fitCurve holds the noise-free boundary.
#pragma once

#include <cmath>

#include "state/state.h"

namespace svfit::plot::testing {

inline void MakeSeries(AnalysisState& st, int scans, double scatter = 0.004) {
  st.resetSeries();
  const double omega2 = std::pow(M_PI * 40000 / 30, 2), s = 5e-13, rm = 5.95;
  unsigned seed = 12345;
  for (int k = 1; k <= scans; ++k) {
    const double t = 600.0 * k, rb = rm * std::exp(s * omega2 * t);  // boundary [cm]
    const double plateau = 0.9 * std::exp(-2 * s * omega2 * t);
    int n = 0;
    for (double r = 6.0; r <= 7.2 + 1e-9; r += 0.003) {
      ++n;
      seed = seed * 1103515245u + 12345u;
      st.scanRadius[k][n] = r;
      st.fitCurve[k][n] = 0.02 + plateau * 0.5 * std::erfc((rb - r) / 0.04);
      st.modelValue[k][n] = scatter * ((seed >> 16 & 0x7FFF) / 32767.0 - 0.5);
      st.scanValue[k][n] = st.fitCurve[k][n] + st.modelValue[k][n];
    }
    st.scanPointCount[k] = st.scanLastPoint[k] = n;
    st.scanFirstPoint[k] = 1;
    st.scanOmega2[k] = 1.0;
    st.scanTime[k] = t;
    st.scanSequence[k] = k;
  }
  st.omega2First = omega2;
  st.scanCount = st.seqLast = scans;
  st.seqFirst = 1;
  st.minRadius = 6.0;
  st.maxRadius = 7.2;
}

}  // namespace svfit::plot::testing
