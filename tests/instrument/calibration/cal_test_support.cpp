#include "instrument/calibration/cal_test_support.h"

#include <cstring>

namespace felbrin::test {
namespace {

template <class T, std::size_t N>
void expect_same_array(const T (&a)[N], const T (&b)[N], const char* what) {
  for (std::size_t i = 0; i < N; ++i) EXPECT_EQ(a[i], b[i]) << what << "[" << i << "]";
}

template <class T>
void expect_same_bytes(const T& a, const T& b, const char* what) {
  EXPECT_EQ(std::memcmp(&a, &b, sizeof(T)), 0) << what;
}

void expect_same_radius(const sb_radius_scale_t& a, const sb_radius_scale_t& b) {
  EXPECT_EQ(a.present, b.present);
  EXPECT_EQ(a.mode, b.mode);
  EXPECT_EQ(a.a, b.a);
  EXPECT_EQ(a.b, b.b);
  EXPECT_EQ(a.n, b.n);
  EXPECT_EQ(a.c, b.c);
}

void expect_same_lumen(const sb_lumen_info_t& a, const sb_lumen_info_t& b, int mags) {
  EXPECT_EQ(a.materialsFile, b.materialsFile);
  expect_same_array(a.sysConst, b.sysConst, "lumen sysConst");
  EXPECT_EQ(a.dmiScale, b.dmiScale);
  EXPECT_EQ(a.imageRot, b.imageRot);
  expect_same_array(a.zeroPtPos, b.zeroPtPos, "lumen zeroPtPos");
  for (int i = 0; i < mags; ++i) {
    expect_same_array(a.disper[i], b.disper[i], "lumen disper");
    expect_same_array(a.avgK0[i], b.avgK0[i], "lumen avgK0");
    expect_same_array(a.dmiCenter[i], b.dmiCenter[i], "lumen dmiCenter");
    expect_same_array(a.tiltCenter[i], b.tiltCenter[i], "lumen tiltCenter");
  }
  EXPECT_EQ(a.zeroGagePeriod, b.zeroGagePeriod);
  EXPECT_EQ(a.tempPeriod, b.tempPeriod);
  EXPECT_EQ(a.tempValue, b.tempValue);
  EXPECT_EQ(a.logFile, b.logFile);
  EXPECT_EQ(a.logLimit1, b.logLimit1);
  EXPECT_EQ(a.logLimit2, b.logLimit2);
}

void expect_same_sub_records(const sysInfo_t& a, const sysInfo_t& b) {
  ASSERT_EQ(a.pifoc != nullptr, b.pifoc != nullptr);
  if (a.pifoc) {
    EXPECT_EQ(a.pifoc->value, b.pifoc->value);
    EXPECT_EQ(a.pifoc->type, b.pifoc->type);
    EXPECT_EQ(a.pifoc->scale, b.pifoc->scale);
    EXPECT_EQ(a.pifoc->beta, b.pifoc->beta);
  }
  ASSERT_EQ(a.lumenInfo != nullptr, b.lumenInfo != nullptr);
  if (a.lumenInfo) expect_same_lumen(*a.lumenInfo, *b.lumenInfo, a.magCount);
  ASSERT_EQ(a.canInfo != nullptr, b.canInfo != nullptr);
  if (a.canInfo) expect_same_array(a.canInfo->mac, b.canInfo->mac, "mac");
  for (int axis = 0; axis < SB_AXES; ++axis) {
    ASSERT_EQ(a.pid[axis] != nullptr, b.pid[axis] != nullptr) << "pid axis " << axis;
    if (a.pid[axis]) {
      EXPECT_EQ(a.pid[axis]->sets[0], b.pid[axis]->sets[0]) << "pid fast, axis " << axis;
      EXPECT_EQ(a.pid[axis]->sets[1], b.pid[axis]->sets[1]) << "pid slow, axis " << axis;
    }
  }
  ASSERT_EQ(a.dynWaveGen != nullptr, b.dynWaveGen != nullptr);
  if (a.dynWaveGen) {
    for (int k = 0; k < 3; ++k) EXPECT_EQ(a.dynWaveGen->d[k], b.dynWaveGen->d[k]) << "DynWaveGen " << k;
  }
  ASSERT_EQ(a.encZoom != nullptr, b.encZoom != nullptr);
  if (a.encZoom) {
    EXPECT_EQ(a.encZoom->config, b.encZoom->config);
    expect_same_array(a.encZoom->progLim, b.encZoom->progLim, "progLim");
    expect_same_array(a.encZoom->wandLim, b.encZoom->wandLim, "wandLim");
    EXPECT_EQ(a.encZoom->backlash, b.encZoom->backlash);
    EXPECT_EQ(a.encZoom->stdMagCount, b.encZoom->stdMagCount);
    expect_same_array(a.encZoom->stdMags, b.encZoom->stdMags, "stdMags");
    EXPECT_EQ(a.encZoom->calFile, b.encZoom->calFile);
  }
}

}  // namespace

void expect_same_written_fields(const sysInfo_t& a, const sysInfo_t& b) {
  EXPECT_EQ(a.instrName, b.instrName);
  EXPECT_EQ(a.unit, b.unit);
  EXPECT_EQ(a.systemType, b.systemType);
  EXPECT_EQ(a.dateCode, b.dateCode);
  EXPECT_EQ(a.serialNumber, b.serialNumber);
  EXPECT_EQ(a.rFlag, b.rFlag);
  EXPECT_EQ(a.frameGrabber, b.frameGrabber);
  EXPECT_EQ(a.boardVersion, b.boardVersion);
  EXPECT_EQ(a.instrBdType, b.instrBdType);
  EXPECT_EQ(a.instrComm, b.instrComm);
  EXPECT_EQ(a.cameraType, b.cameraType);
  expect_same_array(a.cameraConfig, b.cameraConfig, "cameraConfig");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(a.cameraFile[i], b.cameraFile[i]) << "cameraFile " << i;
  EXPECT_EQ(a.cameraDark, b.cameraDark);
  EXPECT_EQ(a.cameraAlign, b.cameraAlign);
  expect_same_bytes(a.badPixels, b.badPixels, "badPixels");
  EXPECT_EQ(a.badPixelMode, b.badPixelMode);
  EXPECT_EQ(a.badPixelFile, b.badPixelFile);
  EXPECT_EQ(a.cameraOptions, b.cameraOptions);
  EXPECT_EQ(a.rampConfigFile, b.rampConfigFile);
  EXPECT_EQ(a.lightType, b.lightType);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(a.wavelengths[i].wavelength, b.wavelengths[i].wavelength) << "wavelength " << i;
    EXPECT_EQ(a.wavelengths[i].bandwidth, b.wavelengths[i].bandwidth) << "bandwidth " << i;
  }
  EXPECT_EQ(a.llcInstr, b.llcInstr);
  EXPECT_EQ(a.llcInstrText, b.llcInstrText);
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(a.llcRange[k].low, b.llcRange[k].low) << "range " << k;
    EXPECT_EQ(a.llcRange[k].high, b.llcRange[k].high) << "range " << k;
    EXPECT_EQ(a.lightSource[k].config, b.lightSource[k].config) << "source " << k;
    EXPECT_EQ(a.lightSource[k].freq, b.lightSource[k].freq) << "source " << k;
    expect_same_bytes(a.lightSource[k].pairs, b.lightSource[k].pairs, "light source pairs");
  }
  EXPECT_EQ(a.llcTarget, b.llcTarget);
  EXPECT_EQ(a.llcOptions, b.llcOptions);
  EXPECT_EQ(a.pztPower, b.pztPower);
  EXPECT_EQ(a.adcClock, b.adcClock);
  EXPECT_EQ(a.pifocPolarity, b.pifocPolarity);
  EXPECT_EQ(a.magCount, b.magCount);
  expect_same_array(a.sysMag, b.sysMag, "sysMag");
  expect_same_array(a.nomMag, b.nomMag, "nomMag");
  EXPECT_EQ(a.splitAxis, b.splitAxis);
  EXPECT_EQ(a.splitValue, b.splitValue);
  EXPECT_EQ(a.splitValue2, b.splitValue2);
  expect_same_bytes(a.cameraTrans, b.cameraTrans, "cameraTrans");
  expect_same_array(a.scanCal, b.scanCal, "scanCal");
  EXPECT_EQ(a.turret, b.turret);
  EXPECT_EQ(a.turret2, b.turret2);
  EXPECT_EQ(a.zoom, b.zoom);
  EXPECT_EQ(a.useDualBrushMotor, b.useDualBrushMotor);
  EXPECT_EQ(a.useLaps, b.useLaps);
  EXPECT_EQ(a.useWand, b.useWand);
  EXPECT_EQ(a.useFocusNdw, b.useFocusNdw);
  EXPECT_EQ(a.useZoom, b.useZoom);
  EXPECT_EQ(a.usePzt, b.usePzt);
  EXPECT_EQ(a.ringSpot, b.ringSpot);
  EXPECT_EQ(a.diffDiskRate, b.diffDiskRate);
  EXPECT_EQ(a.diffDiskFraction, b.diffDiskFraction);
  EXPECT_EQ(a.xAxisBacklash, b.xAxisBacklash);
  EXPECT_EQ(a.yAxisBacklash, b.yAxisBacklash);
  EXPECT_EQ(a.zAxisCal, b.zAxisCal);
  EXPECT_EQ(a.zAxisBacklash, b.zAxisBacklash);
  EXPECT_EQ(a.zEncoder, b.zEncoder);
  EXPECT_EQ(a.zCanClosedLoop, b.zCanClosedLoop);
  for (int i = 0; i < SB_MAX_MAGS; ++i) expect_same_bytes(a.sdcCal[i], b.sdcCal[i], "sdcCal");
  EXPECT_EQ(a.radCrvFocCal, b.radCrvFocCal);
  EXPECT_EQ(a.radCrvPwrCal, b.radCrvPwrCal);
  EXPECT_EQ(a.invertData, b.invertData);
  EXPECT_EQ(a.noIntensAvg, b.noIntensAvg);
  EXPECT_EQ(a.touchScreen, b.touchScreen);
  EXPECT_EQ(a.motionCtrl[0], b.motionCtrl[0]);
  EXPECT_EQ(a.motionCtrl[1], b.motionCtrl[1]);
  EXPECT_EQ(a.posInstr, b.posInstr);
  EXPECT_EQ(a.posInstrText[0], b.posInstrText[0]);
  EXPECT_EQ(a.posInstrText[1], b.posInstrText[1]);
  EXPECT_EQ(a.tempSensor, b.tempSensor);
  EXPECT_EQ(a.tempSensorText, b.tempSensorText);
  EXPECT_EQ(a.pendentMenu, b.pendentMenu);
  for (int i = 0; i < SB_AXES; ++i) EXPECT_EQ(a.axisCompFile[i], b.axisCompFile[i]) << "axis " << i;
  EXPECT_EQ(a.wmComm, b.wmComm);
  EXPECT_EQ(a.wmSysGain, b.wmSysGain);
  EXPECT_EQ(a.wmMonOpd, b.wmMonOpd);
  EXPECT_EQ(a.wmTuneRangeMin, b.wmTuneRangeMin);
  EXPECT_EQ(a.wmTuneRangeMax, b.wmTuneRangeMax);
  EXPECT_EQ(a.wmTuneRateMin, b.wmTuneRateMin);
  EXPECT_EQ(a.wmTuneRateMax, b.wmTuneRateMax);
  EXPECT_EQ(a.lumensiInvertData, b.lumensiInvertData);
  EXPECT_EQ(a.absWaveMeter, b.absWaveMeter);
  EXPECT_EQ(a.absWaveMeterText, b.absWaveMeterText);
  EXPECT_EQ(a.sleepTimeout, b.sleepTimeout);
  expect_same_radius(a.encodedRadiusScale, b.encodedRadiusScale);
  expect_same_radius(a.intfRadiusScale, b.intfRadiusScale);
  expect_same_sub_records(a, b);
}

}  // namespace felbrin::test
