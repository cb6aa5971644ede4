// The MEX array API over host arrays, and extensions called by name.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "error_message.h"
#include "brevia.h"
#include "host/array.h"
#include "host/error.h"
#include "host/exports.h"
#include "host/extension.h"
#include "host/lifecycle.h"
#include "mex.h"

namespace {

using host::Array;
using host::ClassId;

struct MxDeleter {
    void operator()(mxArray* a) const { mxDestroyArray(a); }
};
using Mx = std::unique_ptr<mxArray, MxDeleter>;

const Array& view(const mxArray* a) { return *host::unwrap(a); }

// --- classes ------------------------------------------------------------------------------

struct ClassCase {
    const char* name;
    Mx (*make)();
    mxClassID id;
    size_t elementSize;
    bool numeric;
};

const ClassCase kClasses[] = {
    {"double", [] { return Mx(mxCreateDoubleMatrix(2, 3, mxREAL)); }, mxDOUBLE_CLASS, 8, true},
    {"int8", [] { return Mx(mxCreateNumericMatrix(2, 3, mxINT8_CLASS, mxREAL)); }, mxINT8_CLASS, 1, true},
    {"uint8", [] { return Mx(mxCreateNumericMatrix(2, 3, mxUINT8_CLASS, mxREAL)); }, mxUINT8_CLASS, 1, true},
    {"int32", [] { return Mx(mxCreateNumericMatrix(2, 3, mxINT32_CLASS, mxREAL)); }, mxINT32_CLASS, 4, true},
    {"char", [] { return Mx(mxCreateString("abcdef")); }, mxCHAR_CLASS, 1, false},
    {"logical", [] { return Mx(mxCreateLogicalMatrix(2, 3)); }, mxLOGICAL_CLASS, 1, false},
    {"struct", [] { return Mx(mxCreateStructMatrix(2, 3, 0, nullptr)); }, mxSTRUCT_CLASS, sizeof(mxArray*), false},
    {"cell", [] { return Mx(mxCreateCellMatrix(2, 3)); }, mxCELL_CLASS, sizeof(mxArray*), false},
};

TEST(MxApi, EveryClassIdentifiesItselfAndNoOther) {
    for (const ClassCase& c : kClasses) {
        SCOPED_TRACE(c.name);
        const Mx a = c.make();
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(mxGetClassID(a.get()), c.id);
        EXPECT_STREQ(mxGetClassName(a.get()), c.name);
        EXPECT_TRUE(mxIsClass(a.get(), c.name));
        EXPECT_FALSE(mxIsClass(a.get(), "single"));
        EXPECT_EQ(mxGetElementSize(a.get()), c.elementSize);
        EXPECT_EQ(mxIsNumeric(a.get()), c.numeric);
        EXPECT_EQ(mxIsDouble(a.get()), c.id == mxDOUBLE_CLASS);
        EXPECT_EQ(mxIsInt8(a.get()), c.id == mxINT8_CLASS);
        EXPECT_EQ(mxIsUint8(a.get()), c.id == mxUINT8_CLASS);
        EXPECT_EQ(mxIsInt32(a.get()), c.id == mxINT32_CLASS);
        EXPECT_EQ(mxIsChar(a.get()), c.id == mxCHAR_CLASS);
        EXPECT_EQ(mxIsLogical(a.get()), c.id == mxLOGICAL_CLASS);
        EXPECT_EQ(mxIsStruct(a.get()), c.id == mxSTRUCT_CLASS);
        EXPECT_EQ(mxIsCell(a.get()), c.id == mxCELL_CLASS);
        for (bool other : {mxIsSingle(a.get()), mxIsInt16(a.get()), mxIsUint16(a.get()), mxIsUint32(a.get()),
                           mxIsInt64(a.get()), mxIsUint64(a.get())})
            EXPECT_FALSE(other);
        EXPECT_EQ(mxGetM(a.get()), c.id == mxCHAR_CLASS ? 1u : 2u);
        EXPECT_EQ(mxGetN(a.get()), c.id == mxCHAR_CLASS ? 6u : 3u);
        EXPECT_EQ(mxGetNumberOfElements(a.get()), 6u);
        EXPECT_EQ(mxGetData(a.get()) != nullptr, c.id != mxSTRUCT_CLASS && c.id != mxCELL_CLASS);
    }
}

TEST(MxApi, ClassesTheHostCannotHoldAreNotCreated) {
    for (mxClassID id : {mxSINGLE_CLASS, mxINT16_CLASS, mxUINT16_CLASS, mxUINT32_CLASS, mxINT64_CLASS,
                         mxUINT64_CLASS, mxUNKNOWN_CLASS, mxVOID_CLASS, mxFUNCTION_CLASS}) {
        EXPECT_EQ(mxCreateNumericMatrix(1, 1, id, mxREAL), nullptr) << id;
    }
    // Non-numeric classes have their own creators.
    EXPECT_EQ(mxCreateNumericMatrix(1, 1, mxCHAR_CLASS, mxREAL), nullptr);
    EXPECT_EQ(mxCreateNumericMatrix(1, 1, mxSTRUCT_CLASS, mxREAL), nullptr);
    // A size whose element count overflows.
    EXPECT_EQ(mxCreateNumericMatrix(SIZE_MAX, 2, mxDOUBLE_CLASS, mxREAL), nullptr);
}

TEST(MxApi, NumericArraysOfMoreThanTwoDimensionsAreRefused) {
    const mwSize flat[] = {2, 3, 1, 1};
    const Mx a(mxCreateNumericArray(4, flat, mxINT32_CLASS, mxREAL));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(mxGetM(a.get()), 2u);
    EXPECT_EQ(mxGetN(a.get()), 3u);
    const mwSize deep[] = {2, 3, 2};
    EXPECT_EQ(mxCreateNumericArray(3, deep, mxDOUBLE_CLASS, mxREAL), nullptr);
    EXPECT_EQ(mxCreateNumericArray(2, nullptr, mxDOUBLE_CLASS, mxREAL), nullptr);
    const mwSize column[] = {4};
    const Mx c(mxCreateNumericArray(1, column, mxDOUBLE_CLASS, mxREAL));
    EXPECT_EQ(mxGetM(c.get()), 4u);
    EXPECT_EQ(mxGetN(c.get()), 1u);
}

// --- data pointers --------------------------------------------------------------------------

TEST(MxApi, DataPointersAddressTheHostArraysStorage) {
    const Mx i8(mxCreateNumericMatrix(2, 2, mxINT8_CLASS, mxREAL));
    auto* p8 = static_cast<std::int8_t*>(mxGetData(i8.get()));
    p8[0] = -128;
    p8[3] = 127;
    EXPECT_EQ(view(i8.get()).realAt(0), -128.0);
    EXPECT_EQ(view(i8.get()).realAt(3), 127.0);

    const Mx i32(mxCreateNumericMatrix(1, 3, mxINT32_CLASS, mxREAL));
    auto* p32 = static_cast<std::int32_t*>(mxGetData(i32.get()));
    p32[2] = -2000000000;
    EXPECT_EQ(view(i32.get()).realAt(2), -2000000000.0);
    EXPECT_EQ(mxGetScalar(i32.get()), 0.0);
    EXPECT_EQ(mxGetPr(i32.get()), nullptr);  // not double

    const Mx text(mxCreateString("GPIB0::19"));
    const mxChar* chars = mxGetChars(text.get());
    ASSERT_NE(chars, nullptr);
    EXPECT_EQ(std::string(chars, mxGetNumberOfElements(text.get())), "GPIB0::19");
    EXPECT_EQ(static_cast<void*>(const_cast<mxChar*>(chars)), mxGetData(text.get()));

    const Mx flags(mxCreateLogicalMatrix(1, 3));
    mxGetLogicals(flags.get())[1] = true;
    EXPECT_EQ(view(flags.get()).realAt(0), 0.0);
    EXPECT_EQ(view(flags.get()).realAt(1), 1.0);
    EXPECT_TRUE(mxIsLogicalScalarTrue(Mx(mxCreateLogicalScalar(true)).get()));
    EXPECT_FALSE(mxIsLogicalScalarTrue(Mx(mxCreateLogicalScalar(false)).get()));
    EXPECT_FALSE(mxIsLogicalScalarTrue(flags.get()));  // not a scalar

    // Each accessor answers only for its own class.
    EXPECT_EQ(mxGetLogicals(text.get()), nullptr);
    EXPECT_EQ(mxGetChars(flags.get()), nullptr);
}

TEST(MxApi, ComplexDoubleHasBothParts) {
    const Mx z(mxCreateDoubleMatrix(1, 2, mxCOMPLEX));
    ASSERT_TRUE(mxIsComplex(z.get()));
    mxGetPr(z.get())[1] = 3.0;
    mxGetPi(z.get())[1] = -4.0;
    EXPECT_EQ(view(z.get()).complexAt(1), std::complex<double>(3.0, -4.0));
    EXPECT_EQ(mxGetImagData(z.get()), static_cast<void*>(mxGetPi(z.get())));

    const Mx real(mxCreateDoubleScalar(2.5));
    EXPECT_EQ(mxGetPi(real.get()), nullptr);
    EXPECT_EQ(mxGetImagData(real.get()), nullptr);
    EXPECT_EQ(mxGetScalar(real.get()), 2.5);
}

// --- structs ------------------------------------------------------------------------------

TEST(MxApi, StructFieldsByNameAndNumber) {
    const char* names[] = {"Address", "Timeout"};
    const Mx s(mxCreateStructMatrix(1, 2, 2, names));
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(mxGetNumberOfFields(s.get()), 2);
    EXPECT_STREQ(mxGetFieldNameByNumber(s.get(), 1), "Timeout");
    EXPECT_EQ(mxGetFieldNameByNumber(s.get(), 2), nullptr);
    EXPECT_EQ(mxGetFieldNameByNumber(s.get(), -1), nullptr);
    EXPECT_EQ(mxGetFieldNumber(s.get(), "Timeout"), 1);
    EXPECT_EQ(mxGetFieldNumber(s.get(), "timeout"), -1);  // names are case-sensitive

    mxSetField(s.get(), 1, "Timeout", mxCreateDoubleScalar(5));
    const mxArray* t = mxGetField(s.get(), 1, "Timeout");
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(mxGetScalar(t), 5.0);
    EXPECT_EQ(mxGetFieldByNumber(s.get(), 1, 1), t);
    // Element 0 keeps its own (empty) value.
    EXPECT_TRUE(mxIsEmpty(mxGetField(s.get(), 0, "Timeout")));

    // Replacing a value frees the old one (the leak checker sees it otherwise).
    mxSetField(s.get(), 1, "Timeout", mxCreateString("slow"));
    EXPECT_TRUE(mxIsChar(mxGetField(s.get(), 1, "Timeout")));

    // Missing field, element past the end, a field number past the end.
    EXPECT_EQ(mxGetField(s.get(), 0, "Missing"), nullptr);
    EXPECT_EQ(mxGetField(s.get(), 2, "Address"), nullptr);
    EXPECT_EQ(mxGetFieldByNumber(s.get(), 0, 2), nullptr);
    EXPECT_EQ(mxGetField(s.get(), 0, nullptr), nullptr);
}

TEST(MxApi, FieldsAreAddedAndRemovedExplicitly) {
    const Mx s(mxCreateStructMatrix(1, 1, 0, nullptr));
    // Storing into a field that does not exist stores nothing and leaves the value with us.
    const Mx keep(mxCreateDoubleScalar(1));
    mxSetField(s.get(), 0, "Port", keep.get());
    EXPECT_EQ(mxGetNumberOfFields(s.get()), 0);
    EXPECT_EQ(mxGetScalar(keep.get()), 1.0);

    EXPECT_EQ(mxAddField(s.get(), "Port"), 0);
    EXPECT_EQ(mxAddField(s.get(), "Port"), 0);  // already there
    EXPECT_EQ(mxAddField(s.get(), "Baud"), 1);
    EXPECT_EQ(mxAddField(s.get(), ""), -1);
    mxSetField(s.get(), 0, "Baud", mxCreateDoubleScalar(9600));
    mxRemoveField(s.get(), 0);
    EXPECT_EQ(mxGetNumberOfFields(s.get()), 1);
    EXPECT_EQ(mxGetScalar(mxGetField(s.get(), 0, "Baud")), 9600.0);
    mxRemoveField(s.get(), 5);  // no such field: nothing happens
    EXPECT_EQ(mxGetNumberOfFields(s.get()), 1);
}

TEST(MxApi, StoringAnArrayIntoItselfIsRefused) {
    const char* names[] = {"inner"};
    const Mx s(mxCreateStructMatrix(1, 1, 1, names));
    mxSetField(s.get(), 0, "inner", mxCreateCellMatrix(1, 1));
    mxArray* inner = mxGetField(s.get(), 0, "inner");
    mxSetField(s.get(), 0, "inner", s.get());
    mxSetCell(inner, 0, s.get());
    mxSetField(s.get(), 0, "inner", inner);
    ASSERT_TRUE(mxIsStruct(s.get()));
    EXPECT_EQ(mxGetField(s.get(), 0, "inner"), inner);
    EXPECT_TRUE(mxIsCell(inner));
}

TEST(MxApi, HostStructRecordsReadThroughTheMexApi) {
    // The shape the library hands the extension: a configuration record built on the host side.
    Array config = Array::structure();
    config.setField("Interface", Array::string("GPIB"));
    config.setField("Board", Array::int32Scalar(3));
    config.setField("Gain", Array::complexScalar({1.0, -0.5}));
    const mxArray* c = host::wrap(&config);

    const mxArray* board = mxGetField(c, 0, "Board");
    ASSERT_TRUE(mxIsInt32(board));
    EXPECT_EQ(*static_cast<const std::int32_t*>(mxGetData(board)), 3);
    char buf[8];
    EXPECT_EQ(mxGetString(mxGetField(c, 0, "Interface"), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "GPIB");
    const mxArray* gain = mxGetField(c, 0, "Gain");
    EXPECT_EQ(mxGetPr(gain)[0], 1.0);
    EXPECT_EQ(mxGetPi(gain)[0], -0.5);
    EXPECT_EQ(mxGetField(c, 1, "Board"), nullptr);
}

TEST(MxApi, DuplicatesAreDeep) {
    const char* names[] = {"v"};
    const Mx s(mxCreateStructMatrix(1, 1, 1, names));
    mxSetField(s.get(), 0, "v", mxCreateDoubleScalar(1));
    const Mx copy(mxDuplicateArray(s.get()));
    mxGetPr(mxGetField(copy.get(), 0, "v"))[0] = 2;
    EXPECT_EQ(mxGetScalar(mxGetField(s.get(), 0, "v")), 1.0);
    EXPECT_EQ(mxGetScalar(mxGetField(copy.get(), 0, "v")), 2.0);
}

// --- cells --------------------------------------------------------------------------------

TEST(MxApi, CellElements) {
    const Mx c(mxCreateCellMatrix(2, 1));
    mxSetCell(c.get(), 1, mxCreateString("*IDN?"));
    char buf[8];
    EXPECT_EQ(mxGetString(mxGetCell(c.get(), 1), buf, sizeof buf), 0);
    EXPECT_STREQ(buf, "*IDN?");
    EXPECT_TRUE(mxIsEmpty(mxGetCell(c.get(), 0)));
    EXPECT_EQ(mxGetCell(c.get(), 2), nullptr);

    // Out of range: not stored, still ours.
    const Mx keep(mxCreateDoubleScalar(7));
    mxSetCell(c.get(), 2, keep.get());
    EXPECT_EQ(mxGetScalar(keep.get()), 7.0);

    const Mx notCell(mxCreateDoubleScalar(0));
    EXPECT_EQ(mxGetCell(notCell.get(), 0), nullptr);
    mxSetCell(notCell.get(), 0, keep.get());
    EXPECT_EQ(mxGetScalar(notCell.get()), 0.0);
}

// --- strings ------------------------------------------------------------------------------

TEST(MxApi, StringsWithAndWithoutRoom) {
    const Mx s(mxCreateString("TCPIP0::host"));
    char fits[13];
    EXPECT_EQ(mxGetString(s.get(), fits, sizeof fits), 0);
    EXPECT_STREQ(fits, "TCPIP0::host");
    char small[6];
    EXPECT_EQ(mxGetString(s.get(), small, sizeof small), 1);
    EXPECT_STREQ(small, "TCPIP");

    char buf[4] = "xyz";
    const Mx number(mxCreateDoubleScalar(65));
    EXPECT_EQ(mxGetString(number.get(), buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(mxGetString(s.get(), buf, 0), 1);

    char* copy = mxArrayToString(s.get());
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "TCPIP0::host");
    mxFree(copy);
    EXPECT_EQ(mxArrayToString(number.get()), nullptr);

    // An empty string is 0 x 0 but still char.
    const Mx empty(mxCreateString(""));
    char* none = mxArrayToString(empty.get());
    ASSERT_NE(none, nullptr);
    EXPECT_STREQ(none, "");
    mxFree(none);
}

TEST(MxApi, CharMatrixRowsArePaddedAndStoredByColumn) {
    const char* rows[] = {"ab", "xyz"};
    const Mx m(mxCreateCharMatrixFromStrings(2, rows));
    ASSERT_EQ(mxGetM(m.get()), 2u);
    ASSERT_EQ(mxGetN(m.get()), 3u);
    char* text = mxArrayToString(m.get());
    EXPECT_STREQ(text, "axby z");
    mxFree(text);
}

TEST(MxApi, NullAndWrongInputsNeverCrash) {
    EXPECT_EQ(mxGetClassID(nullptr), mxUNKNOWN_CLASS);
    EXPECT_STREQ(mxGetClassName(nullptr), "unknown");
    EXPECT_FALSE(mxIsClass(nullptr, "double"));
    EXPECT_FALSE(mxIsStruct(nullptr) || mxIsCell(nullptr) || mxIsChar(nullptr) || mxIsDouble(nullptr) ||
                 mxIsInt32(nullptr) || mxIsLogical(nullptr) || mxIsNumeric(nullptr) || mxIsComplex(nullptr));
    EXPECT_TRUE(mxIsEmpty(nullptr));
    EXPECT_EQ(mxGetM(nullptr) + mxGetN(nullptr) + mxGetNumberOfElements(nullptr) + mxGetElementSize(nullptr), 0u);
    EXPECT_EQ(mxGetData(nullptr), nullptr);
    EXPECT_EQ(mxGetPr(nullptr), nullptr);
    EXPECT_EQ(mxGetPi(nullptr), nullptr);
    EXPECT_EQ(mxGetScalar(nullptr), 0.0);
    char buf[4];
    EXPECT_EQ(mxGetString(nullptr, buf, sizeof buf), 1);
    EXPECT_EQ(mxGetString(nullptr, nullptr, 4), 1);
    EXPECT_EQ(mxArrayToString(nullptr), nullptr);
    EXPECT_EQ(mxGetField(nullptr, 0, "a"), nullptr);
    EXPECT_EQ(mxGetFieldByNumber(nullptr, 0, 0), nullptr);
    EXPECT_EQ(mxGetNumberOfFields(nullptr), 0);
    EXPECT_EQ(mxGetFieldNameByNumber(nullptr, 0), nullptr);
    EXPECT_EQ(mxGetFieldNumber(nullptr, "a"), -1);
    EXPECT_EQ(mxAddField(nullptr, "a"), -1);
    EXPECT_EQ(mxGetCell(nullptr, 0), nullptr);
    mxSetField(nullptr, 0, "a", nullptr);
    mxSetCell(nullptr, 0, nullptr);
    mxRemoveField(nullptr, 0);
    mxDestroyArray(nullptr);
    mxFree(nullptr);
    EXPECT_EQ(mxDuplicateArray(nullptr), nullptr);

    // Struct operations on a non-struct.
    const Mx d(mxCreateDoubleScalar(1));
    EXPECT_EQ(mxGetField(d.get(), 0, "a"), nullptr);
    EXPECT_EQ(mxGetNumberOfFields(d.get()), 0);
    EXPECT_EQ(mxAddField(d.get(), "a"), -1);
    EXPECT_EQ(mxGetScalar(Mx(mxCreateCellMatrix(1, 1)).get()), 0.0);

    // Bad creation arguments.
    const char* withNull[] = {"a", nullptr};
    EXPECT_EQ(mxCreateStructMatrix(1, 1, 2, withNull), nullptr);
    EXPECT_EQ(mxCreateStructMatrix(1, 1, 1, nullptr), nullptr);
    EXPECT_EQ(mxCreateStructMatrix(1, 1, -1, nullptr), nullptr);
    EXPECT_EQ(mxCreateCharMatrixFromStrings(2, nullptr), nullptr);
    const Mx s(mxCreateString(nullptr));
    EXPECT_TRUE(mxIsChar(s.get()) && mxIsEmpty(s.get()));
}

// --- extensions by name ---------------------------------------------------------------------

constexpr const char* kModule = "test_extension";

int counter(const char* variable) {
    const char* value = std::getenv(variable);
    return value ? std::atoi(value) : 0;
}

std::string errorOf(const std::function<void()>& call) {
    return errorMessageOf(call);
}

class Extension : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("BREVIA_EXTENSION_PATH", TEST_EXTENSION_DIR, 1);
        for (const char* v : {"BREVIA_TEST_EXTENSION_LOADS", "BREVIA_TEST_EXTENSION_EXIT_FIRST",
                              "BREVIA_TEST_EXTENSION_EXIT_SECOND"})
            unsetenv(v);
    }
    // Closes the modules so that each test starts from an unopened one.
    void TearDown() override { host::terminateLibrary(); }

    static std::vector<Array> call(const std::string& command, int nlhs, std::vector<Array> rest = {}) {
        rest.insert(rest.begin(), Array::string(command));
        return host::mexCallByName(kModule, nlhs, rest);
    }
};

TEST_F(Extension, EchoesCopiesOfItsArgumentsAndLoadsOnce) {
    Array record = Array::structure();
    record.setField("Name", Array::string("Pellar"));
    const std::vector<Array> args = {Array::int32Scalar(-5), record, Array::complexScalar({1, 2})};
    const std::vector<Array> out = call("echo", 3, args);
    ASSERT_EQ(out.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(out[i], args[i]) << i;

    EXPECT_EQ(call("calls", 1)[0].realAt(0), 2.0);
    EXPECT_EQ(call("calls", 1)[0].realAt(0), 3.0);
    EXPECT_EQ(counter("BREVIA_TEST_EXTENSION_LOADS"), 1);
    EXPECT_TRUE(host::extensionLoaded(kModule));
    EXPECT_EQ(call("name", 1)[0].text(), kModule);
}

TEST_F(Extension, OutputsForAnsAndUnassignedOutputs) {
    // With no outputs requested, what the module leaves in plhs[0] comes back for ans.
    const std::vector<Array> ans = call("echo", 0, {Array::scalar(4)});
    ASSERT_EQ(ans.size(), 1u);
    EXPECT_EQ(ans[0], Array::scalar(4));
    EXPECT_TRUE(call("nothing", 0).empty());

    EXPECT_EQ(errorOf([] { call("nothing", 1); }),
              "One or more output arguments not assigned during call to \"test_extension\".");
    // Two requested, one given: the one made is freed with the error.
    EXPECT_EQ(errorOf([] { call("echo", 2, {Array::scalar(1)}); }),
              "One or more output arguments not assigned during call to \"test_extension\".");
    EXPECT_THROW(host::mexCallByName(kModule, -1, {}), host::Error);
}

TEST_F(Extension, ModuleCannotChangeTheCallersValues) {
    const Array input = Array::row(std::vector<double>{5, 6});
    const std::vector<Array> out = call("scribble", 1, {input});
    EXPECT_EQ(out[0].realAt(0), -1.0);
    EXPECT_EQ(input.realAt(0), 5.0);
}

TEST_F(Extension, ModuleErrorsReachTheCallerWithTheirMessage) {
    try {
        call("error", 1, {Array::string("Instrument not responding (GPIB0::19).")});
        FAIL() << "no error";
    } catch (const host::Error& e) {
        EXPECT_STREQ(e.what(), "Instrument not responding (GPIB0::19).");
        EXPECT_EQ(e.identifier(), "");
    }
    try {
        call("errorid", 0);
        FAIL() << "no error";
    } catch (const host::Error& e) {
        EXPECT_STREQ(e.what(), "value 42 out of range for Amplitude");
        EXPECT_EQ(e.identifier(), "test:formatted");
    }
    EXPECT_EQ(errorOf([] { call("throw", 0); }), "thrown by the module");
    // The module stays usable after its errors.
    EXPECT_EQ(call("calls", 1)[0].realAt(0), 4.0);
}

TEST_F(Extension, ExitFunctionRunsAtTerminateAndTheModuleReopens) {
    call("atexit1", 0);
    call("atexit2", 0);  // the latest registration wins
    EXPECT_EQ(mexAtExit(nullptr), 1);  // outside a call there is no module to register for
    EXPECT_STREQ(mexFunctionName(), "");

    host::terminateLibrary();
    EXPECT_EQ(counter("BREVIA_TEST_EXTENSION_EXIT_FIRST"), 0);
    EXPECT_EQ(counter("BREVIA_TEST_EXTENSION_EXIT_SECOND"), 1);
    EXPECT_FALSE(host::extensionLoaded(kModule));

    // Opened afresh: its statics start over.
    EXPECT_EQ(call("calls", 1)[0].realAt(0), 1.0);
    EXPECT_EQ(counter("BREVIA_TEST_EXTENSION_LOADS"), 2);
    // This opening registered no exit function, and the old one does not run again.
    host::terminateLibrary();
    EXPECT_EQ(counter("BREVIA_TEST_EXTENSION_EXIT_SECOND"), 1);
    EXPECT_FALSE(host::extensionLoaded(kModule));
}

TEST_F(Extension, ExitFunctionRunsWhenTheProcessEndsWithoutTerminate) {
    // A program that never calls terminate still closes what its modules hold.
    EXPECT_EXIT(
        {
            call("atexitsay", 0);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "test_extension: exit function ran");
}

TEST_F(Extension, MissingModulesAndEntryPointsAreNamed) {
    const std::string missing = errorOf([] { host::mexCallByName("no_such_module", 0, {}); });
    EXPECT_NE(missing.find("Extension \"no_such_module\" not found"), std::string::npos) << missing;
    EXPECT_NE(missing.find("no_such_module.so"), std::string::npos) << missing;
    EXPECT_NE(missing.find(TEST_EXTENSION_DIR), std::string::npos) << missing;

    const std::string noEntry = errorOf([] { host::mexCallByName("test_extension_no_entry", 0, {}); });
    EXPECT_NE(noEntry.find("has no mexFunction"), std::string::npos) << noEntry;
    EXPECT_FALSE(host::extensionLoaded("test_extension_no_entry"));

    for (const char* bad : {"", "../test_extension", "/tmp/test_extension", ".."})
        EXPECT_NE(errorOf([bad] { host::mexCallByName(bad, 0, {}); }).find("Invalid extension name"),
                  std::string::npos)
            << bad;
}

TEST_F(Extension, CallableFromC) {
    mxArray* in[] = {mxCreateString("echo"), mxCreateDoubleScalar(8)};
    mxArray* out[1] = {nullptr};
    ASSERT_TRUE(BreviaCallExtension(kModule, 1, out, 2, in)) << BreviaLastError();
    EXPECT_EQ(mxGetScalar(out[0]), 8.0);
    mxDestroyArray(out[0]);

    mxArray* fail[] = {mxCreateString("error"), mxCreateString("Bad port.")};
    EXPECT_FALSE(BreviaCallExtension(kModule, 1, out, 2, fail));
    EXPECT_STREQ(BreviaLastError(), "Bad port.");
    EXPECT_FALSE(BreviaCallExtension(nullptr, 0, nullptr, 0, nullptr));
    EXPECT_FALSE(BreviaCallExtension(kModule, 1, nullptr, 0, nullptr));
    for (mxArray* a : {in[0], in[1], fail[0], fail[1]}) mxDestroyArray(a);
}

}  // namespace
