#include "error_message.h"
#include "host/function_table.h"

#include <gtest/gtest.h>

#include "brevia.h"
#include "host/error.h"
#include "host/exports.h"

using host::Array;

namespace {

std::string errorOf(std::string_view name, int nargout, const std::vector<Array>& args) {
    return errorMessageOf([&] { host::callFunction(name, nargout, args); });
}

struct Declared {
    const char* name;
    int nargin;
    int nargout;
};

}  // namespace

TEST(FunctionTable, EveryFunctionHasItsDeclaredCounts) {
    const Declared expected[] = {
        {"OneX_FwdPilot", 0, 1},        {"OneX_FwdMACslot", 4, 1},       {"OneX_FwdIdleSlot", 3, 1},
        {"OneX_SignalMap", 2, 1},       {"OneX_WalshMatrix", 1, 1},      {"OneX_WalshCover", 2, 1},
        {"OneX_Repeat", 2, 1},          {"lfsr", 4, 1},                  {"OneX_PNiSequence", 1, 1},
        {"OneX_PNqSequence", 1, 1},     {"CircularShiftRight", 2, 1},    {"OneX_FwdQuadSpreading", 2, 1},
        {"OneX_FwdTrfModulator", 2, 1}, {"OneX_IQmap", 2, 1},            {"OneX_FwdTrfRepSeq", 2, 1},
        {"OneX_FwdTrfDemux", 1, 1},     {"OneX_FwdTrfWalshCover", 1, 1}, {"OneX_FwdTrfChnGain", 1, 1},
        {"OneX_FwdTrfSummer", 1, 1},
    };
    for (const auto& d : expected) {
        const host::FunctionInfo* info = host::findFunction(d.name);
        ASSERT_NE(info, nullptr) << d.name;
        EXPECT_EQ(info->nargin, d.nargin) << d.name;
        EXPECT_EQ(info->nargout, d.nargout) << d.name;
        EXPECT_EQ(info->line, 1) << d.name;
        int in = -2, out = -2;
        EXPECT_TRUE(BreviaFunctionInfo(d.name, &in, &out));
        EXPECT_EQ(in, d.nargin);
        EXPECT_EQ(out, d.nargout);
    }
    EXPECT_EQ(host::findFunction("lfsr")->exportedName, "Lfsr");
}

TEST(FunctionTable, SurplusArgumentsGetTheHostMessageWordForWord) {
    EXPECT_EQ(errorOf("OneX_FwdTrfModulator", 1, {Array(), Array(), Array()}),
              "Run-time Error: File: OneX_FwdTrfModulator Line: 1 Column: 1 The function "
              "\"OneX_FwdTrfModulator\" was called with more than the declared number of inputs (2).");
    EXPECT_EQ(errorOf("OneX_FwdTrfSummer", 1, {Array(), Array()}),
              "Run-time Error: File: OneX_FwdTrfSummer Line: 1 Column: 1 The function "
              "\"OneX_FwdTrfSummer\" was called with more than the declared number of inputs (1).");
    EXPECT_EQ(errorOf("OneX_FwdPilot", 1, {Array()}),
              "Run-time Error: File: OneX_FwdPilot Line: 1 Column: 1 The function "
              "\"OneX_FwdPilot\" was called with more than the declared number of inputs (0).");
    // Outputs are checked before inputs.
    EXPECT_EQ(errorOf("OneX_Repeat", 2, {Array(), Array(), Array()}),
              "Run-time Error: File: OneX_Repeat Line: 1 Column: 1 The function "
              "\"OneX_Repeat\" was called with more than the declared number of outputs (1).");
    EXPECT_EQ(host::argumentCountMessage("OneX_Fwd_GUI_b/Calculate", 812, "inputs", 0),
              "Run-time Error: File: OneX_Fwd_GUI_b/Calculate Line: 812 Column: 1 The function "
              "\"Calculate\" was called with more than the declared number of inputs (0).");
}

TEST(FunctionTable, CallByName) {
    auto out = host::callFunction("OneX_Repeat", 0, {Array::row(std::vector<double>{1, 2}), Array::scalar(2)});
    ASSERT_EQ(out.size(), 1u);  // the host's ans
    EXPECT_EQ(out[0], Array::row(std::vector<double>{1, 2, 1, 2}));
    EXPECT_EQ(errorOf("NoSuchFunction", 1, {}), "Undefined function or variable 'NoSuchFunction'.");
    EXPECT_EQ(errorOf("OneX_Repeat", 1, {Array::scalar(1)}), "Not enough input arguments: OneX_Repeat needs 2, got 1.");
    EXPECT_EQ(errorOf("OneX_Repeat", 1, {Array::structure(), Array::scalar(1)}),
              "OneX_Repeat: input must be numeric, not struct.");
    EXPECT_EQ(errorOf("OneX_Repeat", 1, {Array::scalar(1), Array::scalar(1.5)}),
              "OneX_Repeat: factor must be a whole number from 0 to 67108864.");
}

TEST(FunctionTable, HostFormsReportErrorsWithoutThrowing) {
    Array a = Array::row(std::vector<double>{1, 2, 3});
    Array b = Array::scalar(2);
    Array c = Array::scalar(0);
    mxArray* in[] = {host::wrap(&a), host::wrap(&b), host::wrap(&c)};
    mxArray* out[1] = {reinterpret_cast<mxArray*>(0x1)};
    mlxOneX_Repeat(1, out, 3, in);
    EXPECT_EQ(out[0], nullptr);
    EXPECT_STREQ(BreviaLastError(),
                 "Run-time Error: File: OneX_Repeat Line: 1 Column: 1 The function \"OneX_Repeat\" was called "
                 "with more than the declared number of inputs (2).");
    mlxOneX_Repeat(1, out, 2, in);
    ASSERT_NE(out[0], nullptr);
    EXPECT_STREQ(BreviaLastError(), "");
    EXPECT_EQ(*host::unwrap(out[0]), Array::row(std::vector<double>{1, 2, 3, 1, 2, 3}));
    mxDestroyArray(out[0]);
    // A trailing NULL input of the C form is an argument not given.
    mxArray* mapped = mlfOneX_SignalMap(in[0], nullptr);
    ASSERT_NE(mapped, nullptr);
    EXPECT_EQ(*host::unwrap(mapped), Array::row(std::vector<double>{-1, -3, -5}));
    mxDestroyArray(mapped);
    EXPECT_EQ(mlfOneX_Repeat(nullptr, in[1]), nullptr);
    EXPECT_NE(std::string(BreviaLastError()).find("NULL"), std::string::npos);
}
