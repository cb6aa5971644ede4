#include "MexIO/corrections.h"

#include <gtest/gtest.h>

#include <cstdlib>

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
    EXPECT_EQ(mexio::circfilt(z, {1.0}), z);
    EXPECT_NE(errorMessageOf([&] { mexio::circfilt(z, h); }).find("needs at least 30"), std::string::npos);
    auto viaTable = host::callFunction("circfilt", 1, {host::Array::column(host::RealVector{1, 2, 3}), host::Array::scalar(1)});
    EXPECT_EQ(viaTable[0], host::Array::column(host::RealVector{1, 2, 3}));
}
