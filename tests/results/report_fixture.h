// A fixed analysis after a fit, for the report tests: twelve used scans of a
// 50000 rpm absorbance run, known fit statistics and parameters. The numbers
// are made up; they only have to be fixed and plausible.
#pragma once

#include <array>
#include <cmath>
#include <initializer_list>
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

// Sets parameters 1.. from rows of value, start value and standard deviation
// (0: fixed).
inline void SetRows(AnalysisState& s, std::initializer_list<std::array<double, 3>> rows) {
  int k = 0;
  for (const auto& [value, start, sd] : rows) SetParam(s, ++k, value, start, sd);
}

// One component in `count` parameters, all fitted: c0, s, base line,
// meniscus, (for S and M) the concentration parameter, D.
inline void SetOne(AnalysisState& s, int count) {
  s.paramCount = s.dParamIndex = count;
  s.componentCount = 1;
  SetRows(s, {{0.8123, 0.75, 0.0021}, {Sw(4.35), Sw(4.0), Sw(0.012)}, {0.0056, 0.0, 0.0003},
              {5.9512, 5.95, 0.00031}});
  if (count == 6) SetParam(s, 5, -0.0123, 0.0, 0.0011);
  SetParam(s, count, 6.1e-7, 5.5e-7, 2.3e-9);
}

// Bounded cell (model N), one component; the base line and the bottom fixed;
// RI noise on and TI noise off, so the base line shows its level with the
// mean RI offset.
inline void SetN1(AnalysisState& s) {
  s.paramCount = s.dParamIndex = 7;
  s.componentCount = 1;
  s.riNoiseOn = true;
  s.meanRiOffset = 0.0021;
  // clang-format off
  SetRows(s, {{0.8123, 0.75, 0.0021}, {Sw(4.35), Sw(4.0), Sw(0.012)}, {0.0056, 0.0, 0},
              {5.9512, 5.95, 0.00031}, {7.21, 7.2, 0}, {-0.0123, 0.0, 0.0004},
              {6.1e-7, 5.5e-7, 2.3e-9}});
  // clang-format on
}

// Model C, four components, component 3's D tied to a molar mass.
inline void SetC4(AnalysisState& s) {
  s.paramCount = 14;
  s.dParamIndex = 5;
  s.componentCount = 4;
  s.molMassGiven[3] = true;
  // clang-format off
  SetRows(s, {{0.41, 0.4, 0.003}, {Sw(2.1), Sw(2.0), Sw(0.02)}, {-0.002, 0.0, 0.0005},
              {5.9512, 5.95, 0}, {8.2e-7, 8.0e-7, 1.1e-8}, {0.22, 0.2, 0.002},
              {Sw(4.4), Sw(4.0), Sw(0.03)}, {6.0e-7, 6.0e-7, 0}, {0.1, 0.12, 0.004},
              {Sw(7.0), Sw(7.5), Sw(0.1)}, {4.1e-7, 4.1e-7, 0}, {0.05, 0.05, 0.006},
              {Sw(11.5), Sw(11.0), Sw(0.4)}, {3.2e-7, 3.0e-7, 4.0e-8}});
  // clang-format on
}

// Model S (concentration-dependent s), one component, both noise terms on.
inline void SetS(AnalysisState& s) {
  SetOne(s, 6);
  s.tiNoiseOn = s.riNoiseOn = true;
}

}  // namespace svfit::results::testing
