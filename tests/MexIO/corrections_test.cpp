#include "MexIO/corrections.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "MexIO/correction_file.h"
#include "error_message.h"
#include "host/convert.h"
#include "host/function_table.h"

using host::Complex;

TEST(Corrections, SerialNumbersAndFileNames) {
    EXPECT_EQ(mexio::strfindpt("US12US", "US"), (std::vector<std::size_t>{1, 5}));
    EXPECT_TRUE(mexio::strfindpt("abc", "abcd").empty());
    const std::string idn = "Maker,ESG-4438C,US12345678,C.01.00";
    EXPECT_EQ(mexio::GetSerialNumber(idn), "US12345678");
    EXPECT_EQ(mexio::GetSerialNumber("Maker,ESG-4438C,MY123,C.01"), "");
    EXPECT_EQ(mexio::GetSerialNumber("Maker,US123"), "");  // no comma after it
    EXPECT_EQ(mexio::FormatFreq(2.2e9), "2.2 GHz");
    EXPECT_EQ(mexio::FormatFreq(0.9e9), "0.9 GHz");
    EXPECT_EQ(mexio::FormatFreq(915e6), "0.9 GHz");
    EXPECT_EQ(mexio::FormatFreq(1.99e9), "1.10 GHz");
    EXPECT_EQ(mexio::FormatFreq(2.25e9), "2.3 GHz");
    setenv("BREVIA_CORRECTIONS_DIR", "/tmp/corr", 1);
    EXPECT_EQ(mexio::CreateFileName(idn, 2.2e9), "/tmp/corr/US12345678 2.2 GHz.mat");
    unsetenv("BREVIA_CORRECTIONS_DIR");
    setenv("XDG_DATA_HOME", "/data/me", 1);
    EXPECT_EQ(mexio::correctionsDirectory(), "/data/me/brevia/corrections");
    unsetenv("XDG_DATA_HOME");
}

TEST(Corrections, CircularFilterPlacesAnImpulseResponse) {
    host::RealVector h(31);
    for (std::size_t j = 0; j < h.size(); ++j) h[j] = static_cast<double>(j + 1);
    host::ComplexVector x(64);
    x[0] = 1.0;
    const host::ComplexVector y = mexio::circfilt(x, h);
    ASSERT_EQ(y.size(), 64u);
    EXPECT_EQ(y[0], Complex(h[15], 0));  // the centre tap at sample 1
    for (std::size_t k = 1; k <= 15; ++k) EXPECT_EQ(y[k], Complex(h[15 + k], 0)) << k;   // samples 2 to 16
    for (std::size_t k = 49; k < 64; ++k) EXPECT_EQ(y[k], Complex(h[k - 49], 0)) << k;   // samples 50 to 64, wrapped
    for (std::size_t k = 16; k < 49; ++k) EXPECT_EQ(y[k], Complex(0, 0)) << k;
    const host::ComplexVector z{{1, 2}, {3, 4}, {5, 6}};
    EXPECT_EQ(mexio::circfilt(z, host::RealVector{1.0}), z);
    EXPECT_NE(errorMessageOf([&] { mexio::circfilt(z, h); }).find("needs at least 30"), std::string::npos);
    auto viaTable = host::callFunction("circfilt", 1, {host::Array::column(host::RealVector{1, 2, 3}), host::Array::scalar(1)});
    EXPECT_EQ(viaTable[0], host::Array::column(host::RealVector{1, 2, 3}));
}

namespace {

std::string scratchFolder(const char* name) {
    const std::string dir = testing::TempDir() + "brevia_corrections_" + name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

host::ComplexVector ramp(std::size_t n) {
    host::ComplexVector s(n);
    for (std::size_t i = 0; i < n; ++i) s[i] = {std::cos(0.01 * static_cast<double>(i)), std::sin(0.03 * static_cast<double>(i))};
    return s;
}

}  // namespace

TEST(Corrections, FilesOfEachRevisionLoadAndCorrect) {
    const std::string dir = scratchFolder("revisions");
    const double nan = std::nan("");
    const host::ComplexVector s = ramp(400);
    const double sr = 6.144e6;
    // Revision 1: I/Q path only (gain 2 -> the Q branch halves). Revision 2 and 3 add the RF
    // channel (gain 4 -> the whole signal quartered), applied before the I/Q correction.
    struct Case {
        std::vector<int> revs;
        std::vector<double> iq, rf;
        double iScale, qScale;
    };
    for (const Case& c : {Case{{1}, {2}, {nan}, 1, 0.5}, Case{{2}, {2}, {4}, 0.25, 0.125}, Case{{3}, {nan}, {4}, 0.25, 0.25},
                          Case{{3, 1}, {nan, 2}, {4, nan}, 0.25, 0.125}}) {
        const std::string file = dir + "/rev" + std::to_string(c.revs[0]) + "_" + std::to_string(c.revs.size()) + ".mat";
        writeCorrectionFile(file, correctionRecords(c.revs, c.iq, c.rf));
        const mexio::CorrectionFile loaded = mexio::LoadOrvexIqCorrectionData(file);
        ASSERT_EQ(loaded.status, "") << file;
        ASSERT_EQ(loaded.x.numel(), c.revs.size());
        const mexio::CorrectedWaveform w = mexio::applyCorrections(s, loaded.x, sr);
        EXPECT_TRUE(w.failures.empty()) << file;
        for (std::size_t i = 0; i < s.size(); ++i) {
            EXPECT_NEAR(w.x[i].real(), c.iScale * s[i].real(), 1e-9) << file << " sample " << i;
            EXPECT_NEAR(w.x[i].imag(), c.qScale * s[i].imag(), 1e-9) << file << " sample " << i;
        }
    }
    // The I branch passes the I/Q correction bit for bit; a revision 1 record passes the RF one.
    const host::Array rev1 = correctionRecords({1}, {2}, {nan});
    const mexio::Corrected iq = mexio::ApplyIqCorrection(s, rev1, sr);
    for (std::size_t i = 0; i < s.size(); ++i) ASSERT_EQ(iq.x[i].real(), s[i].real());
    host::Array rev1WithChannel = rev1;
    rev1WithChannel.setField("rfChannel", flatResponse(4));
    EXPECT_EQ(mexio::ApplyRfChannelCorrection(s, rev1WithChannel, sr).x, s);
}

TEST(Corrections, UnusableFilesSayWhy) {
    const std::string dir = scratchFolder("unusable");
    EXPECT_EQ(mexio::LoadOrvexIqCorrectionData(dir + "/missing.mat").status, "File empty or not found.");
    std::ofstream(dir + "/empty.mat").close();
    EXPECT_EQ(mexio::LoadOrvexIqCorrectionData(dir + "/empty.mat").status, "File empty or not found.");
    std::ofstream(dir + "/text.mat") << "not a MAT file at all, but long enough to have a header of sorts.............";
    const mexio::CorrectionFile garbage = mexio::LoadOrvexIqCorrectionData(dir + "/text.mat");
    EXPECT_NE(garbage.status.find("text.mat"), std::string::npos) << garbage.status;  // the reader's own message
    EXPECT_TRUE(garbage.x.isEmpty());

    auto statusOf = [&](const std::string& name, const host::MatVariables& variables) {
        host::saveMatFile(dir + "/" + name, variables);
        return mexio::LoadOrvexIqCorrectionData(dir + "/" + name).status;
    };
    const double nan = std::nan("");
    EXPECT_EQ(statusOf("other.mat", {{"calibration", host::Array::scalar(1)}}), "Invalid data structure.");
    EXPECT_EQ(statusOf("number.mat", {{"OrvexIqCorrectionData", host::Array::scalar(1)}}), "Invalid data structure.");
    EXPECT_EQ(statusOf("rev4.mat", {{"OrvexIqCorrectionData", correctionRecords({4}, {2}, {nan})}}), "Invalid data structure.");
    host::Array noRf = correctionRecords({2}, {2}, {4});
    noRf.removeField("rfChannel");
    EXPECT_EQ(statusOf("rev2.mat", {{"OrvexIqCorrectionData", noRf}}), "Invalid data structure.");
    host::Array noImage = correctionRecords({3}, {2}, {4});
    noImage.removeField("image");
    EXPECT_EQ(statusOf("rev3.mat", {{"OrvexIqCorrectionData", noImage}}), "Invalid data structure.");
    host::Array noDate = correctionRecords({1}, {2}, {nan});
    noDate.removeField("date");
    EXPECT_EQ(statusOf("date.mat", {{"OrvexIqCorrectionData", noDate}}), "Invalid data structure.");

    // A response the inverse cannot be fitted to: the waveform comes back as it was, with why.
    host::Array zero = correctionRecords({1}, {0}, {nan});
    const host::ComplexVector s = ramp(64);
    const mexio::Corrected failed = mexio::ApplyIqCorrection(s, zero, 6.144e6);
    EXPECT_EQ(failed.x, s);
    EXPECT_NE(failed.status.find("no inverse"), std::string::npos) << failed.status;
    const auto viaTable = host::callFunction("ApplyIqCorrection", 2, {host::toRow(s), zero, host::Array::scalar(6.144e6)});
    EXPECT_EQ(viaTable[0], host::toRow(s));
    EXPECT_EQ(viaTable[1].text(), failed.status);
    const mexio::CorrectedWaveform w = mexio::applyCorrections(s, zero, 6.144e6);
    EXPECT_EQ(w.x, s);
    ASSERT_EQ(w.failures.size(), 1u);
}

TEST(Corrections, ComplexTapsFilterTheComplexSignal) {
    // Taps j*delta: every sample turns by 90 degrees.
    host::ComplexVector h(3);
    h[1] = {0, 1};
    const host::ComplexVector s = ramp(16);
    const host::ComplexVector y = mexio::circfilt(s, h);
    for (std::size_t i = 0; i < s.size(); ++i) EXPECT_EQ(y[i], host::Complex(0, 1) * s[i]);
}
