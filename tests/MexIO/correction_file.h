#pragma once
// Correction records as an instrument's calibration would write them: every field a record
// of its revision must have, with flat responses whose inverses are easy to check.

#include <cmath>
#include <string>
#include <vector>

#include "host/array.h"
#include "host/mat_file.h"

// A flat response of `gain` at five frequencies (NaN: no such correction).
inline host::Array flatResponse(double gain) {
    return host::Array::row(std::vector<double>(5, gain));
}

// Responses measured across +-span Hz: a span reaching half the sample rate fits a pure
// gain exactly; a narrower one only within the span.
inline host::Array correctionRecords(const std::vector<int>& revisions, const std::vector<double>& iqGains,
                                     const std::vector<double>& rfGains, double span = 5e6) {
    host::Array x = host::Array::structure(1, revisions.size());
    const bool anyRf = [&] {
        for (int r : revisions)
            if (r >= 2) return true;
        return false;
    }();
    for (std::size_t e = 0; e < revisions.size(); ++e) {
        x.setField("rev", host::Array::scalar(revisions[e]), e);
        x.setField("F", host::Array::row(std::vector<double>{-span, -span / 2, 0, span / 2, span}), e);
        x.setField("H", flatResponse(iqGains[e]), e);
        for (const char* d : {"ID", "date", "fltr", "modAttn", "cf", "bw", "pwr"}) x.setField(d, host::Array::scalar(0), e);
        if (anyRf) x.setField("rfChannel", flatResponse(rfGains[e]), e);
        if (revisions[e] == 3)
            for (const char* d : {"t1", "t2", "t3", "fbc", "bc", "cbc", "image"}) x.setField(d, host::Array::scalar(0), e);
    }
    return x;
}

inline void writeCorrectionFile(const std::string& path, const host::Array& records) {
    host::saveMatFile(path, {{"OrvexIqCorrectionData", records}});
}
