#include "MexIO/waveform_export.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <limits>

#include "host/error.h"
#include "host/function_table.h"
#include "host/scratch_dir.h"

using host::Array;
using host::Complex;
using host::ComplexVector;

namespace {

// The file as a hex dump, for readable comparisons.
std::string hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char b : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[(b >> 4) & 0xf];
        out += digits[b & 0xf];
    }
    return out;
}

std::string exported(const ComplexVector& waveform, double scale) {
    ScratchDir dir;
    const std::string path = dir.file("wave.bin");
    EXPECT_TRUE(mexio::saveBrindleWaveform(waveform, path, scale)) << "scale " << scale;
    return hex(readBytes(path));
}

TEST(BrindleExport, WritesBigEndianInterleavedWordsAtFullScale) {
    EXPECT_EQ(exported({{1, 0}, {0, -1}}, 1), "7F FE 00 00 00 00 80 02");
}

TEST(BrindleExport, ScaleIsClampedBetweenTinyAndOne) {
    const ComplexVector w = {{1, 0}, {0, -1}};
    EXPECT_EQ(exported(w, 2), exported(w, 1));
    EXPECT_EQ(exported(w, 0.5), "3F FF 00 00 00 00 C0 01");  // 16383
    EXPECT_EQ(exported(w, 1e-4), "00 03 00 00 00 00 FF FD");  // 3.2766 rounds to 3
    // 0 and negative scales act as 1e-5, whose peak 0.32766 rounds to zero words.
    EXPECT_EQ(exported(w, 0), "00 00 00 00 00 00 00 00");
    EXPECT_EQ(exported(w, -3), exported(w, 0));
    EXPECT_EQ(exported(w, std::nan("")), exported(w, 1));
}

TEST(BrindleExport, ConstantMagnitudeWaveformIsScaledLikeAnyOther) {
    EXPECT_EQ(exported({{0.5, -0.5}, {0.5, -0.5}, {-0.5, 0.5}}, 1),
              "7F FE 80 02 7F FE 80 02 80 02 7F FE");
}

TEST(BrindleExport, AllZeroWaveformWritesZeroWords) {
    EXPECT_EQ(exported({{0, 0}, {0, 0}, {0, 0}}, 1), "00 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(exported({}, 1), "");
}

TEST(BrindleExport, RoundsHalvesAwayFromZero) {
    // A peak of 32766 makes the gain exactly 1, so the halves stay exact.
    EXPECT_EQ(exported({{32766, 2.5}, {-2.5, -0.5}, {0.5, 1.4999}}, 1), "7F FE 00 03 FF FD FF FF 00 01 00 01");
}

TEST(BrindleExport, SamplesThatAreNotNumbersWriteZero) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(exported({{std::nan(""), 1}, {-1, 0}}, 1), "00 00 7F FE 80 02 00 00");
    EXPECT_EQ(exported({{inf, 1}, {-1, 0}}, 1), "00 00 00 00 00 00 00 00");
}

// The rounding without the library call equals std::round for every kind of value, and a
// long waveform (converted in halves on two processors) straight from the host's split
// array gives the bytes of the same samples in a vector.
TEST(BrindleExport, FastRoundingAndTheSplitArrayAgreeWithTheReference) {
    std::vector<double> values = {0.5, -0.5, 1.5, -2.5, 0.49999999999999994, -0.49999999999999994, 32765.5, -32765.5,
                                  4503599627370495.5, 4503599627370497.0, 1e300, -1e-300, 0.0};
    for (double v = -40000; v < 40000; v += 0.25) values.push_back(v);
    for (int k = 0; k < 20000; ++k) values.push_back(std::nextafter(k + 0.5, k % 2 ? 0.0 : 1e9));
    for (const double v : values) ASSERT_EQ(mexio::roundHalfAway(v), std::round(v)) << std::hexfloat << v;
    EXPECT_TRUE(std::isnan(mexio::roundHalfAway(std::nan(""))));

    const std::size_t n = 300000;
    ComplexVector samples(n);
    Array split = Array::numeric(host::ClassId::Double, 1, n, true);
    for (std::size_t k = 0; k < n; ++k) {
        samples[k] = {std::sin(0.001 * static_cast<double>(k)) * 3, k % 7777 == 0 ? std::nan("") : std::cos(0.37 * static_cast<double>(k))};
        split.setComplex(k, samples[k]);
    }
    ScratchDir dir;
    ASSERT_TRUE(mexio::saveBrindleWaveform(samples, dir.file("vector.bin"), 0.5));
    ASSERT_TRUE(mexio::saveBrindleWaveform(split, dir.file("split.bin"), 0.5));
    EXPECT_EQ(readBytes(dir.file("split.bin")), readBytes(dir.file("vector.bin")));
    EXPECT_EQ(readBytes(dir.file("split.bin")).size(), 4 * n);
}

TEST(BrindleExport, FailuresReturnFalseAndSavesReplaceTheWholeFile) {
    ScratchDir dir;
    std::string why;
    EXPECT_FALSE(mexio::saveBrindleWaveform({{1, 1}}, dir.file("missing/wave.bin"), 1, &why));
    EXPECT_NE(why.find(dir.file("missing/wave.bin")), std::string::npos) << why;
    EXPECT_NE(why.find("No such file or directory"), std::string::npos) << why;
    EXPECT_FALSE(mexio::saveBrindleWaveform({{1, 1}}, dir.path().string(), 1));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path()));

    const std::string path = dir.file("wave.bin");
    ASSERT_TRUE(mexio::saveBrindleWaveform({{1, 1}}, path, 1));
    ASSERT_TRUE(mexio::saveBrindleWaveform({{0, 0}, {1, 0}}, path, 1));  // replaced whole
    EXPECT_EQ(hex(readBytes(path)), "00 00 00 00 7F FE 00 00");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"wave.bin"});
}

// --- the host form --------------------------------------------------------------------

double success(const std::vector<Array>& args) {
    const std::vector<Array> out = host::callFunction("saveBrindleWaveform", 1, args);
    EXPECT_EQ(out.size(), 1u);
    return out.at(0).realAt(0);
}

TEST(BrindleHostForm, OneArgumentWritesTheDefaultFileInTheWorkingFolder) {
    ScratchDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const double result = success({Array::row(ComplexVector{{1, 0}, {0, -1}})});
    std::filesystem::current_path(previous);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"Orvex-C"});
    EXPECT_EQ(hex(readBytes(dir.file("Orvex-C"))), "7F FE 00 00 00 00 80 02");
}

TEST(BrindleHostForm, ColumnRealAndScaledInputs) {
    ScratchDir dir;
    Array column = Array::row(ComplexVector{{1, 0}, {0, -1}});
    column.reshape(2, 1);
    EXPECT_EQ(success({column, Array::string(dir.file("col.bin"))}), 1);
    EXPECT_EQ(hex(readBytes(dir.file("col.bin"))), "7F FE 00 00 00 00 80 02");

    const Array real = Array::row(std::vector<double>{2, -1});
    EXPECT_EQ(success({real, Array::string(dir.file("real.bin")), Array::scalar(0.5)}), 1);
    EXPECT_EQ(hex(readBytes(dir.file("real.bin"))), "3F FF 00 00 E0 00 00 00");  // 16383, -8191.5 -> -8192
}

TEST(BrindleHostForm, WrongCountsAndUnwritablePlacesGiveZero) {
    EXPECT_EQ(success({}), 0);
    ScratchDir dir;
    EXPECT_EQ(success({Array::scalar(1), Array::string(dir.file("none/x.bin"))}), 0);
    EXPECT_EQ(success({Array::scalar(1), Array::scalar(7)}), 0);  // a number is no file name
    EXPECT_EQ(success({Array::scalar(1), Array::string("")}), 0);
    EXPECT_TRUE(dir.entries().empty());

    try {
        host::callFunction("saveBrindleWaveform", 1, {Array(), Array(), Array(), Array()});
        ADD_FAILURE() << "four inputs were accepted";
    } catch (const host::Error& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Run-time Error: File: saveBrindleWaveform Line: 1 Column: 1 The function \"saveBrindleWaveform\" "
                  "was called with more than the declared number of inputs (3).");
    }
}

TEST(BrindleHostForm, MatrixOrStructWaveformIsAHostError) {
    ScratchDir dir;
    EXPECT_THROW(success({Array::zeros(2, 3), Array::string(dir.file("m.bin"))}), host::Error);
    EXPECT_THROW(success({Array::structure(), Array::string(dir.file("s.bin"))}), host::Error);
    EXPECT_TRUE(dir.entries().empty());
}

}  // namespace
