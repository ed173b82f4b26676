// A fixed analysis after a fit, for the report tests: twelve used scans of a
// 50000 rpm absorbance run, known fit statistics and parameters. The numbers
// are made up; they only have to be fixed and plausible.
#pragma once

#include <cmath>
#include <memory>

#include "state/state.h"

namespace svfit::results::testing {

inline constexpr double kPi = 3.141592653589793;
inline const double kOmega2 = std::pow(kPi * 50000.0 / 30.0, 2);  // [rad²/s²]
// s [S] in the fit's unit s·ω²_first [1/s].
inline double Sw(double svedberg) { return svedberg * 1e-13 * kOmega2; }

inline std::unique_ptr<AnalysisState> MakeFittedState(char model) {
  auto st = std::make_unique<AnalysisState>();
  AnalysisState& s = *st;
  s.modelLetter = model;
  s.scanCount = 14;
  for (int i = 1; i <= 14; ++i) {
    s.scanSequence[i] = i;
    s.scanPointCount[i] = s.scanLastPoint[i] = 3;
    s.scanOmega2[i] = 1.0;
    s.scanTime[i] = 1200.0 + 300.0 * (i - 1);
    for (int p = 1; p <= 3; ++p) s.scanValue[i][p] = 0.05 * i + 0.01 * p;
    s.riNoise[i] = 0.001 * i;
  }
  s.scanValue[14][3] = 2.9;  // an unused scan: not part of the OD maximum
  s.seqFirst = 2;
  s.seqLast = 13;
  s.startFileNumber = 5;
  s.directoryPath = "/data/run7/";
  s.setTitle = "/data/run7/00005";
  s.infoLines[0] = "BSA 1 mg/ml in PBS, cell 2";
  s.dataFileNote = "data files 00006 .. 00017";
  s.cellNumber = 2;
  s.temperature = 20.0;
  s.wavelength = 280;
  s.rpmFirst = s.rpmLast = 50000;
  s.headerSeventh = 1;
  s.omega2First = kOmega2;
  s.startRadius = 5.95;
  s.nearBottomRadius = 7.05;
  s.outlierCorrection = 'Y';
  s.slitTimePerCm = 60;  // 10 / 60 = 0.1667 mm/s
  s.diffTimeOffset = 37.4;
  s.dampFitStart = 5;
  s.dampFinal = 0.0123;
  s.iterCount = 17;
  s.faultCount = 2;
  s.sumSq = 0.0123456;
  s.sigma = 0.00543;
  s.fitSeconds = 12.6;
  s.pointTotal = 4231;
  s.psv = {0, 0.73, 0.74, 0.72, 0.75};
  s.updatePsvRho();
  s.viscosity = 1.002;
  s.validityValue = 0.734;
  s.validityScan = 11;
  s.archibaldMeniscus = 65432.1;
  s.archibaldBottom = 67890.0;
  return st;
}

// Sets parameter k with its start value; `sd` > 0 marks it as fitted (the
// free list must be filled in increasing order).
inline void SetParam(AnalysisState& s, int k, double value, double start, double sd) {
  s.param[k] = value;
  s.startValue[k] = start;
  if (sd > 0) {
    ++s.freeCount;
    s.freeIndex[s.freeCount] = k;
    s.stdDev[s.freeCount] = sd;
  }
}

}  // namespace svfit::results::testing
