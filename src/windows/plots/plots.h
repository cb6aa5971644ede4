#pragma once
// The analysis plot windows. Each opens a new window (hidden while it is built), returns its
// handle, or 0 when the eye or scatter diagram could not be drawn (the "Plot Error" box has
// then said why).

#include <string>

#include "OneX/signal_quality.h"
#include "windows/plots/plot_window.h"

namespace windows::plots {

Handle SX_PlotCCDF(Handle parent, const std::string& label, const Waveform& wave);
Handle SX_PlotSpectrum(Handle parent, const std::string& label, double sampleRate, const Waveform& wave);
Handle SX_PlotWaterfall(Handle parent, const std::string& label, double sampleRate, double period, const Waveform& wave);
Handle SX_PlotIQTime(Handle parent, std::string label, double sampleRate, bool overlay, const Waveform& wave);
Handle SX_PlotEyeDiagram(Handle parent, const std::string& label, const Waveform& wave, double n, double period, double offset);
Handle SX_PlotScatterDiagram(Handle parent, const std::string& label, const Waveform& wave, double n, double offset, bool traceOn);
// The signal-quality report: its figures with their limits, and the code domain per slot.
Handle SX_PlotSignalQuality(Handle parent, const std::string& label, const onex::quality::Report& report);
// The Tools menu toggles: act on the current figure.
void SX_Zoom();
void SX_Rotate();

// The library plots the eye and scatter windows are made from.
Handle eyediagram(const host::ComplexVector& x, double n, double period, double offset);
Handle scatterplot(const host::ComplexVector& x, double n, double offset, const std::string& style, Handle target);

}  // namespace windows::plots
