#include "error_message.h"
#include "host/mat_file.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <zlib.h>

#include <iterator>

#include <fstream>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "host/error.h"
#include "host/temporary_file.h"
#include "host/scratch_dir.h"

using host::Array;
using host::ClassId;

namespace {

std::string dataFile(const char* name) { return std::string(BREVIA_TEST_DATA_DIR) + "/" + name; }

// The message of the host::Error that loading or saving raises, or "(no error)".
std::string loadError(const std::string& path) {
    return errorMessageOf([&] { host::loadMatFile(path); });
}

std::string saveError(const std::string& path, const host::MatVariables& variables) {
    return errorMessageOf([&] { host::saveMatFile(path, variables); });
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

void expectShape(const Array& a, ClassId cls, std::size_t rows, std::size_t cols, const std::string& what) {
    EXPECT_EQ(a.classId(), cls) << what << " is " << a.className();
    EXPECT_EQ(a.rows(), rows) << what;
    EXPECT_EQ(a.cols(), cols) << what;
}

void expectText(const Array& a, const std::string& text, const std::string& what) {
    expectShape(a, ClassId::Char, text.empty() ? a.rows() : 1, text.size(), what);
    if (a.isChar()) {
        EXPECT_EQ(a.text(), text) << what;
    }
}

void expectEmpty(const Array& a, ClassId cls, const std::string& what) {
    EXPECT_EQ(a.classId(), cls) << what << " is " << a.className();
    EXPECT_EQ(a.numel(), 0u) << what << " is " << a.rows() << " x " << a.cols();
}

void expectScalar(const Array& a, double value, const std::string& what) {
    expectShape(a, ClassId::Double, 1, 1, what);
    if (a.numel() == 1) {
        EXPECT_EQ(a.realAt(0), value) << what;
    }
}

// --- the fixtures: values as tests/tools/make_mat_fixture.py defines them ---------------

// Per-slot settings as functions of the slot row r and RPC column c (0-based).
struct SlotField {
    const char* name;
    std::size_t cols;
    double (*value)(double r, double c);
};

const SlotField kSlotFields[] = {
    {"DATAslotActive", 1, [](double r, double) { return std::fmod(r, 4) != 3 ? 1.0 : 0.0; }},
    {"DATAslotMod", 1, [](double r, double) { return std::fmod(r, 3) + 1; }},
    {"RAslotActive", 1, [](double, double) { return 1.0; }},
    {"RAslotValue", 1, [](double r, double) { return std::fmod(r, 2); }},
    {"RAslotGain", 1, [](double r, double) { return -3 - 0.5 * r; }},
    {"RPCslotActiveChn", 1, [](double, double) { return 1.0; }},
    {"RPCslotActive", 59, [](double, double c) { return c == 0 ? 1.0 : 0.0; }},
    {"RPCslotValue", 59, [](double r, double c) { return std::fmod(r + c, 2); }},
    {"RPCslotGain", 59, [](double r, double c) { return -3 + 0.25 * (r - c); }},
};

const char* const kParameterFields[] = {
    "ParameterFileFormat_ID", "Mode", "PilotOffsetIndex", "MACchnActive", "DATAchnActive", "DATAsourceType",
    "DATAsourceName", "dataSourceBitstream", "IdleSlotGainActive", "IdleSlotGain", "slot", "OverSampling",
    "FilterType", "PhaseEq", "MirrorSpectrum", "ProjectedLength", "LastPath",
};

const char* const kVariables[] = {
    "fileParameters", "sigGenParameters", "filename", "waveform", "markers", "count", "flags",
    "small", "shorts", "emptyRow", "comment", "rows", "pair", "cell",
};

void expectFixture(const Array& file) {
    ASSERT_TRUE(file.isStruct());
    ASSERT_EQ(file.numel(), 1u);
    ASSERT_EQ(file.fieldNames(), std::vector<std::string>(std::begin(kVariables), std::end(kVariables)));

    const Array& p = file.field("fileParameters");
    expectShape(p, ClassId::Struct, 1, 1, "fileParameters");
    ASSERT_EQ(p.fieldNames(), std::vector<std::string>(std::begin(kParameterFields), std::end(kParameterFields)));
    expectText(p.field("ParameterFileFormat_ID"), "OneX-Fwd - Format 1.2", "ParameterFileFormat_ID");
    expectScalar(p.field("Mode"), 1, "Mode");
    expectScalar(p.field("PilotOffsetIndex"), 7, "PilotOffsetIndex");
    expectScalar(p.field("MACchnActive"), 0, "MACchnActive");
    expectScalar(p.field("DATAchnActive"), 1, "DATAchnActive");
    expectScalar(p.field("DATAsourceType"), 6, "DATAsourceType");
    expectEmpty(p.field("DATAsourceName"), ClassId::Char, "DATAsourceName");
    expectEmpty(p.field("dataSourceBitstream"), ClassId::Double, "dataSourceBitstream");
    expectScalar(p.field("IdleSlotGainActive"), 1, "IdleSlotGainActive");
    expectScalar(p.field("IdleSlotGain"), -12.5, "IdleSlotGain");
    expectScalar(p.field("OverSampling"), 5, "OverSampling");
    expectScalar(p.field("FilterType"), 3, "FilterType");
    expectScalar(p.field("PhaseEq"), 1, "PhaseEq");
    expectScalar(p.field("MirrorSpectrum"), 0, "MirrorSpectrum");
    expectScalar(p.field("ProjectedLength"), 163840, "ProjectedLength");
    expectEmpty(p.field("LastPath"), ClassId::Char, "LastPath");

    const Array& slot = p.field("slot");
    expectShape(slot, ClassId::Struct, 1, 1, "slot");
    ASSERT_EQ(slot.fieldCount(), std::size(kSlotFields));
    for (std::size_t f = 0; f < std::size(kSlotFields); ++f) {
        const SlotField& expected = kSlotFields[f];
        EXPECT_EQ(slot.fieldNames()[f], expected.name);
        const Array& a = slot.fieldAt(static_cast<int>(f), 0);
        expectShape(a, ClassId::Double, 16, expected.cols, expected.name);
        if (a.rows() != 16 || a.cols() != expected.cols) continue;
        for (std::size_t c = 0; c < expected.cols; ++c)
            for (std::size_t r = 0; r < 16; ++r)
                ASSERT_EQ(a.realAt(c * 16 + r), expected.value(double(r), double(c)))
                    << expected.name << "(" << r + 1 << "," << c + 1 << ")";
    }

    const Array& sig = file.field("sigGenParameters");
    ASSERT_EQ(sig.fieldNames(), (std::vector<std::string>{"SamplingRate", "Model", "Gain"}));
    expectScalar(sig.field("SamplingRate"), 6144000, "SamplingRate");
    expectText(sig.field("Model"), "Corvane", "Model");
    EXPECT_EQ(sig.field("Gain"), Array::row(std::vector<double>{0.5, -1.5}));

    expectText(file.field("filename"), "/tmp/onex/params.mat", "filename");

    const Array& waveform = file.field("waveform");
    expectShape(waveform, ClassId::Double, 1, 4, "waveform");
    EXPECT_TRUE(waveform.isComplex());
    const std::complex<double> samples[] = {{1, 2}, {-0.5, 0}, {0, -1}, {3.25, 4.5}};
    for (std::size_t i = 0; i < 4 && waveform.numel() == 4; ++i) EXPECT_EQ(waveform.complexAt(i), samples[i]) << i;

    EXPECT_EQ(file.field("markers"), Array::matrix(2, 4, std::vector<double>{1, 0, 0, 0, 1, 1, 1, 0}));

    const Array& count = file.field("count");
    expectShape(count, ClassId::Int32, 1, 3, "count");
    if (count.numel() == 3) {
        EXPECT_EQ(count.realAt(0), -7);
        EXPECT_EQ(count.realAt(1), 0);
        EXPECT_EQ(count.realAt(2), 2147483647);
    }
    const Array& flags = file.field("flags");
    expectShape(flags, ClassId::Logical, 1, 3, "flags");
    if (flags.numel() == 3) {
        EXPECT_EQ((std::vector{flags.realAt(0), flags.realAt(1), flags.realAt(2)}), (std::vector{1.0, 0.0, 1.0}));
    }

    // single and int16 come back as double
    EXPECT_EQ(file.field("small"), Array::row(std::vector<double>{0.25, -1.5}));
    EXPECT_EQ(file.field("shorts"), Array::column(std::vector<double>{-300, 12}));

    expectShape(file.field("emptyRow"), ClassId::Double, 1, 0, "emptyRow");
    // Every character survives, the euro sign too: a row of text comes back as UTF-8.
    expectText(file.field("comment"), "Pegel \xc2\xb1" "3 dB, Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac", "comment");
    const Array& rows = file.field("rows");
    expectShape(rows, ClassId::Char, 2, 3, "rows");
    if (rows.isChar()) {
        EXPECT_EQ(rows.text(), "adbecf");  // column-major
    }

    const Array& pair = file.field("pair");
    expectShape(pair, ClassId::Struct, 1, 2, "pair");
    ASSERT_EQ(pair.fieldNames(), (std::vector<std::string>{"a", "b"}));
    expectScalar(pair.field("a", 0), 1, "pair(1).a");
    expectScalar(pair.field("a", 1), 2, "pair(2).a");
    expectText(pair.field("b", 0), "x", "pair(1).b");
    expectShape(pair.field("b", 1), ClassId::Double, 1, 0, "pair(2).b");

    const Array& cell = file.field("cell");
    expectShape(cell, ClassId::Cell, 1, 2, "cell");
    if (cell.numel() == 2) {
        expectScalar(cell.cellAt(0), 1, "cell{1}");
        expectText(cell.cellAt(1), "two", "cell{2}");
    }
}

class MatFixture : public testing::TestWithParam<const char*> {};

TEST_P(MatFixture, ReadsEveryValueClassAndShape) { expectFixture(host::loadMatFile(dataFile(GetParam()))); }

TEST_P(MatFixture, SurvivesOurWriterUnchanged) {
    const Array original = host::loadMatFile(dataFile(GetParam()));
    host::MatVariables variables;
    for (std::size_t f = 0; f < original.fieldCount(); ++f)
        variables.emplace_back(original.fieldNames()[f], original.fieldAt(static_cast<int>(f), 0));
    ScratchDir dir;
    host::saveMatFile(dir.file("copy.mat"), variables);
    const Array copy = host::loadMatFile(dir.file("copy.mat"));
    expectFixture(copy);
    EXPECT_EQ(copy, original);
}

// SciPy writes uncompressed with UTF-8 text; GNU Octave compresses and writes UTF-16.
INSTANTIATE_TEST_SUITE_P(Writers, MatFixture, testing::Values("params_scipy.mat", "params_octave.mat"),
                         [](const auto& writer) { return contains(writer.param, "scipy") ? "SciPy" : "Octave"; });

// --- our writer -----------------------------------------------------------------------

Array nestedStruct(int depth) {
    Array inner = Array::scalar(depth);
    for (int d = 0; d < depth; ++d) {
        Array outer = Array::structure();
        outer.setField("inner", std::move(inner));
        inner = std::move(outer);
    }
    return inner;
}

TEST(MatRoundTrip, KeepsEveryWritableClassShapeAndOrder) {
    std::vector<std::complex<double>> samples(1000);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = {std::cos(0.01 * double(i)) * 0.7, -std::sin(0.013 * double(i)) / 3};
    samples[3] = {std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::max()};
    Array markers = Array::zeros(2, 1000);
    for (std::size_t i = 0; i < 2000; ++i) markers.setReal(i, (i / 7) % 2);

    Array extremes = Array::numeric(ClassId::Int32, 1, 3);
    extremes.setReal(0, -2147483648.0);
    extremes.setReal(2, 2147483647);
    Array bytes = Array::numeric(ClassId::Uint8, 2, 1);
    bytes.setReal(0, 255);
    Array signedBytes = Array::numeric(ClassId::Int8, 1, 2, true);
    signedBytes.setComplex(0, {-128, 127});
    Array flags = Array::numeric(ClassId::Logical, 1, 2);
    flags.setReal(1, 1);

    // Field order deliberately not alphabetical.
    Array record = Array::structure();
    record.setField("zeta", Array::string("last letter first"));
    record.setField("alpha", Array::row(std::vector<double>{-0.0, std::numeric_limits<double>::infinity()}));
    record.setField("middle", nestedStruct(3));
    record.setField("emptyText", Array::string(""));
    record.setField("emptyRow", Array::zeros(1, 0));
    record.setField("emptyColumns", Array::zeros(0, 3));
    Array people = Array::structure(2, 1);
    people.setField("name", Array::string("Ann"), 0);
    people.setField("name", Array::string("Bo"), 1);
    people.setField("age", Array::scalar(41), 0);  // element 2 keeps the empty value
    Array cells = Array::cell(1, 3);
    cells.cellAt(0) = Array::string("caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x93\xa1");  // UTF-8 of 2, 3 and 4 bytes
    cells.cellAt(1) = Array::cell(1, 1);
    cells.cellAt(1).cellAt(0) = Array::complexScalar({0, -2});
    Array text2x2 = Array::numeric(ClassId::Char, 2, 2);
    for (std::size_t i = 0; i < 4; ++i) text2x2.setReal(i, "ab\xff\x01"[i] & 0xff);
    Array emptyPeople = Array::structure(0, 0);
    emptyPeople.addField("name");

    const host::MatVariables variables = {
        {"waveform", Array::row(samples)},
        {"markers", markers},
        {"sampleRate", Array::scalar(6144000)},
        {"record", record},
        {"people", people},
        {"cells", cells},
        {"extremes", extremes},
        {"bytes", bytes},
        {"signedBytes", signedBytes},
        {"flags", flags},
        {"emptyPeople", emptyPeople},
        {"noFields", Array::structure()},
        {"text2x2", text2x2},
        {"deep", nestedStruct(64)},
    };
    ScratchDir dir;
    host::saveMatFile(dir.file("all.mat"), variables);
    const Array file = host::loadMatFile(dir.file("all.mat"));
    ASSERT_EQ(file.fieldCount(), variables.size());
    for (std::size_t i = 0; i < variables.size(); ++i) {
        EXPECT_EQ(file.fieldNames()[i], variables[i].first);
        EXPECT_EQ(file.fieldAt(static_cast<int>(i), 0), std::get<Array>(variables[i].second)) << variables[i].first;
    }
    // Equality compares values; these must also keep their class and emptiness.
    EXPECT_TRUE(file.field("waveform").isComplex());
    expectShape(file.field("record").field("emptyText"), ClassId::Char, 0, 0, "emptyText");
    expectShape(file.field("people").field("age", 1), ClassId::Double, 0, 0, "people(2).age");
    expectShape(file.field("emptyPeople"), ClassId::Struct, 0, 0, "emptyPeople");
    EXPECT_EQ(file.field("emptyPeople").fieldNames(), std::vector<std::string>{"name"});
    EXPECT_TRUE(std::signbit(file.field("record").field("alpha").realAt(0)));
    EXPECT_EQ(file.field("cells").cellAt(0).text(), "caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x93\xa1");
    // 8-bit text of older versions is stored a byte to a character and comes back as UTF-8.
    host::saveMatFile(dir.file("latin.mat"), {{"t", Array::string("caf\xe9")}});
    EXPECT_EQ(host::loadMatFile(dir.file("latin.mat")).field("t").text(), "caf\xc3\xa9");
}

// Runs of equal columns are written compressed and read back as the matrix they stand for,
// by our reader, by zlib (the inflated element is the plain one byte for byte) and by SciPy;
// long runs take little room.
TEST(MatSave, ColumnRunsAreTheMatrixTheyStandFor) {
    ScratchDir dir;
    const struct {
        std::size_t rows;
        std::vector<std::pair<std::vector<double>, std::size_t>> runs;
    } cases[] = {
        {2, {{{1, 1}, 30}, {{0, 1}, 1}, {{0, 0}, 1000000}, {{1, 0}, 2}, {{0.5, -3}, 129}}},
        {1, {{{7}, 1}, {{7}, 2}, {{-0.0}, 3}}},
        {3, {}},
        {8, {{{1, 2, 3, 4, 5, 6, 7, 8}, 40000}}},
    };
    for (const auto& c : cases) {
        host::MatColumnRuns runs{c.rows, {}};
        std::vector<double> values;
        for (const auto& [column, count] : c.runs) {
            runs.runs.push_back({column, count});
            for (std::size_t k = 0; k < count; ++k) values.insert(values.end(), column.begin(), column.end());
        }
        Array plain = Array::zeros(c.rows, values.size() / c.rows);
        for (std::size_t i = 0; i < values.size(); ++i) plain.setReal(i, values[i]);
        host::saveMatFile(dir.file("runs.mat"), {{"a", Array::scalar(1)}, {"m", runs}, {"z", Array::string("end")}});
        host::saveMatFile(dir.file("plain.mat"), {{"m", plain}});
        const Array file = host::loadMatFile(dir.file("runs.mat"));
        EXPECT_EQ(file.fieldNames(), (std::vector<std::string>{"a", "m", "z"}));
        EXPECT_EQ(file.field("m"), plain) << c.rows << " rows";
        EXPECT_EQ(file.field("z").text(), "end");

        const std::string bytes = readBytes(dir.file("runs.mat")), reference = readBytes(dir.file("plain.mat"));
        std::uint32_t type = 0, size = 0;
        std::memcpy(&size, bytes.data() + 128 + 4, 4);
        const std::size_t at = 128 + 8 + size;  // the header, then the scalar "a"
        ASSERT_GT(bytes.size(), at + 8);
        std::memcpy(&type, bytes.data() + at, 4);
        std::memcpy(&size, bytes.data() + at + 4, 4);
        EXPECT_EQ(type, 15u);  // compressed
        std::vector<unsigned char> inflated(reference.size());
        uLongf length = static_cast<uLongf>(inflated.size());
        ASSERT_EQ(uncompress(inflated.data(), &length, reinterpret_cast<const Bytef*>(bytes.data() + at + 8), size), Z_OK) << c.rows;
        EXPECT_EQ(std::string(inflated.begin(), inflated.begin() + static_cast<std::ptrdiff_t>(length)), reference.substr(128)) << c.rows;
        if (values.size() > 1000000) {
            EXPECT_LT(bytes.size(), values.size() * 8 / 100);
        }
    }
    if (::access("/usr/bin/python3", X_OK) == 0) {
        host::MatColumnRuns runs{2, {{{1, 0}, 5}, {{0, 1}, 70000}}};
        host::saveMatFile(dir.file("scipy.mat"), {{"markers", runs}, {"sampleRate", Array::scalar(2)}});
        const std::string check = "/usr/bin/python3 -c \"import sys, numpy as np; from scipy.io import loadmat; m = loadmat(sys.argv[1]); "
                                  "x = m['markers']; sys.exit(0 if x.dtype == np.float64 and x.shape == (2, 70005) and x[0, :5].sum() == 5 "
                                  "and x[1, 5:].sum() == 70000 and x[0, 5:].sum() == 0 and m['sampleRate'][0, 0] == 2 else 1)\" " +
                                  dir.file("scipy.mat") + " 2>/dev/null";
        const int status = std::system(check.c_str());
        if (WIFEXITED(status) && WEXITSTATUS(status) != 2) {
            EXPECT_EQ(WEXITSTATUS(status), 0) << "SciPy read the runs wrongly";
        }
    }
}

TEST(MatSave, RefusesWhatAFileCannotHoldWithoutTouchingThePreviousFile) {
    ScratchDir dir;
    const std::string path = dir.file("params.mat");
    const host::MatVariables good = {{"fileParameters", nestedStruct(2)}, {"filename", Array::string(path)}};
    host::saveMatFile(path, good);
    const std::string before = readBytes(path);

    Array badField = Array::structure();
    badField.setField("has space", Array::scalar(1));
    Array oddCell = Array::cell(1, 1);
    oddCell.cellAt(0) = nestedStruct(70);
    const struct {
        host::MatVariables variables;
        const char* reason;
    } cases[] = {
        {{{"1abc", Array::scalar(1)}}, "'1abc' is not a valid variable name"},
        {{{"", Array::scalar(1)}}, "'' is not a valid variable name"},
        {{{std::string(64, 'a'), Array::scalar(1)}}, "is not a valid variable name"},
        {{{"caf\xe9", Array::scalar(1)}}, "is not a valid variable name"},
        {{{"x", Array::scalar(1)}, {"x", Array::scalar(2)}}, "'x' is given twice"},
        {{{"ok", Array::scalar(1)}, {"s", badField}}, "field named 'has space'"},
        {{{"deep", nestedStruct(65)}}, "deeper than 64 levels"},
        {{{"c", oddCell}}, "deeper than 64 levels"},
    };
    for (const auto& c : cases) {
        const std::string message = saveError(path, c.variables);
        EXPECT_TRUE(contains(message, "'" + path + "'")) << message;
        EXPECT_TRUE(contains(message, c.reason)) << message;
        EXPECT_EQ(readBytes(path), before) << c.reason;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"params.mat"}) << c.reason;
    }
    EXPECT_EQ(host::loadMatFile(path).field("filename").text(), path);
}

TEST(MatSave, FailsCleanlyWhereNoFileCanBeWritten) {
    ScratchDir dir;
    const std::string missing = dir.file("no-such-folder/params.mat");
    std::string message = saveError(missing, {{"x", Array::scalar(1)}});
    EXPECT_TRUE(contains(message, missing)) << message;
    EXPECT_TRUE(contains(message, "No such file or directory")) << message;

    std::filesystem::create_directory(dir.file("folder"));
    message = saveError(dir.file("folder"), {{"x", Array::scalar(1)}});
    EXPECT_TRUE(contains(message, "it is a folder")) << message;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"folder"});
}

// A save that fails after its temporary file exists (a full disk, a write error) abandons
// that file: the target stays as it was and nothing is left beside it.
TEST(TemporaryBeside, AbandonedFileVanishesAndCommittedFileReplacesTheTarget) {
    ScratchDir dir;
    const std::string target = dir.file("target.bin");
    writeBytes(target, "old");
    {
        host::TemporaryBeside temporary(target);
        ASSERT_EQ(::write(temporary.fd(), "new", 3), 3);
        EXPECT_EQ(dir.entries().size(), 2u);
    }
    EXPECT_EQ(readBytes(target), "old");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"target.bin"});
    {
        host::TemporaryBeside temporary(target);
        ASSERT_EQ(::write(temporary.fd(), "new", 3), 3);
        temporary.commit();
    }
    EXPECT_EQ(readBytes(target), "new");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"target.bin"});
}

// The writer checks every write itself: a file system that stops taking data part-way
// through the samples (here a file size limit, as a full disk would) fails the save with the
// system's reason, and the previous file stays whole. Run in a child so the limit stays there.
TEST(MatSave, AWriteThatFailsPartWayKeepsThePreviousFile) {
    ScratchDir dir;
    const std::string path = dir.file("frame.mat");
    host::saveMatFile(path, {{"x", Array::scalar(1)}});
    const std::string before = readBytes(path);
    const std::string report = dir.file("report.txt");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1 << 20, 1 << 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        Array samples = Array::numeric(host::ClassId::Double, 1, 300000, true);  // 4.8 MB
        std::string message = "saved";
        try {
            host::saveMatFile(path, {{"waveform", samples}});
        } catch (const host::Error& e) {
            message = e.what();
        }
        writeBytes(report, message);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    const std::string message = readBytes(report);
    EXPECT_TRUE(contains(message, "Unable to write MAT file '" + path + "'")) << message;
    EXPECT_TRUE(contains(message, "File too large")) << message;
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"frame.mat", "report.txt"}));
}

TEST(MatSave, ReplacingAFileKeepsItsPermissions) {
    ScratchDir dir;
    const std::string path = dir.file("config.mat");
    host::saveMatFile(path, {{"a", Array::scalar(1)}});
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    host::saveMatFile(path, {{"a", Array::scalar(2)}});
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(host::loadMatFile(path).field("a"), Array::scalar(2));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"config.mat"});
}

// What a save replaces is the file the user means: a read-only file is refused and stays;
// a symbolic link stays a link and its target gets the new contents; a file with another
// hard link is rewritten so that both names see them; nothing is left beside any of them.
TEST(MatSave, ReadOnlyFilesAndLinks) {
    ScratchDir dir;
    const std::string locked = dir.file("locked.mat");
    host::saveMatFile(locked, {{"a", Array::scalar(1)}});
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
    const std::string message = saveError(locked, {{"a", Array::scalar(2)}});
    EXPECT_TRUE(contains(message, "it is read-only")) << message;
    EXPECT_EQ(host::loadMatFile(locked).field("a"), Array::scalar(1));

    const std::string real = dir.file("real.mat"), link = dir.file("link.mat");
    host::saveMatFile(real, {{"a", Array::scalar(1)}});
    ASSERT_EQ(::symlink("real.mat", link.c_str()), 0);
    host::saveMatFile(link, {{"a", Array::scalar(3)}});
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(host::loadMatFile(real).field("a"), Array::scalar(3));

    const std::string second = dir.file("second.mat");
    ASSERT_EQ(::link(real.c_str(), second.c_str()), 0);
    host::saveMatFile(second, {{"a", Array::scalar(4)}});
    EXPECT_EQ(host::loadMatFile(real).field("a"), Array::scalar(4));
    EXPECT_EQ(host::loadMatFile(link).field("a"), Array::scalar(4));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"link.mat", "locked.mat", "real.mat", "second.mat"}));
}

// A save stopped by a signal takes its temporary file with it; one a process of ours left
// behind when it ended is cleaned up by the next save of that file, a live one's never.
TEST(TemporaryBeside, StoppedSavesLeaveNothingBehind) {
    ScratchDir dir;
    const std::string target = dir.file("frame.mat");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        host::TemporaryBeside temporary(target);
        (void)::write(temporary.fd(), "half", 4);
        ::raise(SIGTERM);
        ::_exit(0);  // not reached
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_TRUE(dir.entries().empty());

    const std::string ended = dir.file(host::temporaryPrefix("frame.mat", child) + "1.tmp");
    const std::string live = dir.file(host::temporaryPrefix("frame.mat", ::getppid()) + "2.tmp");
    writeBytes(ended, "left");
    writeBytes(live, "busy");
    host::saveMatFile(target, {{"a", Array::scalar(1)}});
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{host::temporaryPrefix("frame.mat", ::getppid()) + "2.tmp", "frame.mat"}));
}

// --- files that must be refused ----------------------------------------------------------

// Level-5 elements put together by hand, for files that no writer produces.
class MatBytes {
public:
    explicit MatBytes(bool bigEndian = false) : big_(bigEndian) {}

    std::string header(std::uint16_t version = 0x0100) const {
        std::string h(116, ' ');
        h.replace(0, 19, "MATLAB 5.0 MAT-file");
        h += std::string(8, '\0');
        h += word16(version);
        h += big_ ? "MI" : "IM";
        return h;
    }
    std::string element(std::uint32_t type, const std::string& payload) const {
        std::string out = word32(type) + word32(static_cast<std::uint32_t>(payload.size())) + payload;
        out.resize((out.size() + 7) / 8 * 8, '\0');
        return out;
    }
    // The small form: type and size in one word, up to four bytes of data in the next.
    std::string small(std::uint32_t type, const std::string& payload) const {
        std::string data = payload;
        data.resize(4, '\0');
        return word32(static_cast<std::uint32_t>(payload.size()) << 16 | type) + data;
    }
    std::string fieldNames(const std::string& padded, std::int32_t length) const {
        return small(5, int32s({length})) + element(1, padded);
    }
    std::string int32s(std::initializer_list<std::int32_t> values) const {
        std::string out;
        for (const std::int32_t v : values) out += word32(static_cast<std::uint32_t>(v));
        return out;
    }
    std::string doubles(std::initializer_list<double> values) const {
        std::string out;
        for (const double v : values) {
            std::uint64_t bits;
            std::memcpy(&bits, &v, 8);
            out += big_ ? word32(std::uint32_t(bits >> 32)) + word32(std::uint32_t(bits))
                        : word32(std::uint32_t(bits)) + word32(std::uint32_t(bits >> 32));
        }
        return out;
    }
    // An array element: flags, dimensions, name, then the class's own elements.
    std::string array(std::uint32_t cls, std::initializer_list<std::int32_t> dims, const std::string& name,
                      const std::string& rest, std::uint32_t flags = 0) const {
        return element(14, element(6, word32(cls | flags) + word32(0)) + element(5, int32s(dims)) +
                               element(1, name) + rest);
    }
    std::string doubleArray(const std::string& name, double value) const {
        return array(6, {1, 1}, name, element(9, doubles({value})));
    }

private:
    bool big_;
    std::string word16(std::uint16_t v) const {
        const char lo = char(v & 0xff), hi = char(v >> 8);
        return big_ ? std::string{hi, lo} : std::string{lo, hi};
    }
    std::string word32(std::uint32_t v) const {
        return big_ ? word16(std::uint16_t(v >> 16)) + word16(std::uint16_t(v))
                    : word16(std::uint16_t(v)) + word16(std::uint16_t(v >> 16));
    }
};

std::string nestedCells(const MatBytes& m, int levels) {
    std::string inner = m.array(6, {1, 1}, "", m.element(9, m.doubles({42})));
    for (int i = 0; i < levels; ++i) inner = m.array(1, {1, 1}, i + 1 == levels ? "deep" : "", inner);
    return inner;
}

TEST(MatLoad, ReadsHandMadeFilesOfEitherByteOrder) {
    for (const bool big : {false, true}) {
        const MatBytes m(big);
        const std::string fields = m.fieldNames(std::string("a\0\0\0\0\0\0\0", 8), 8);
        const std::string text = m.array(4, {1, 2}, "", m.element(4, std::string(big ? "\0h\0i" : "h\0i\0", 4)));
        ScratchDir dir;
        writeBytes(dir.file("f.mat"), m.header() + m.array(6, {1, 2}, "x", m.element(9, m.doubles({1.5, -2}))) +
                                          m.array(2, {1, 1}, "s", fields + text) + nestedCells(m, 64));
        const Array file = host::loadMatFile(dir.file("f.mat"));
        ASSERT_EQ(file.fieldNames(), (std::vector<std::string>{"x", "s", "deep"})) << big;
        EXPECT_EQ(file.field("x"), Array::row(std::vector<double>{1.5, -2})) << big;
        EXPECT_EQ(file.field("s").field("a").text(), "hi") << big;
        const Array* a = &file.field("deep");
        for (int i = 0; i < 64 && a->isCell(); ++i) a = &a->cellAt(0);
        EXPECT_EQ(*a, Array::scalar(42)) << big;
    }
}

TEST(MatLoad, EmptyFileOfNoVariablesGivesAStructWithoutFields) {
    ScratchDir dir;
    writeBytes(dir.file("none.mat"), MatBytes().header());
    const Array file = host::loadMatFile(dir.file("none.mat"));
    expectShape(file, ClassId::Struct, 1, 1, "file");
    EXPECT_EQ(file.fieldCount(), 0u);
}

TEST(MatLoad, RefusesDamagedOrUnsupportedFilesWithAReason) {
    const MatBytes m;
    const std::string h = m.header();
    const std::string twoFields = m.fieldNames(std::string("a\0\0\0\0\0\0\0a\0\0\0\0\0\0\0", 16), 8);
    // matio takes the field name length only in the small form and otherwise reads a
    // struct without fields, silently.
    const std::string longFormLength = m.element(5, m.int32s({8})) + m.element(1, std::string("a\0\0\0\0\0\0\0", 8)) +
                                       m.doubleArray("", 1);
    const struct {
        const char* name;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"empty", "", "too short to be a MAT file (0 bytes)"},
        {"text", std::string(300, 'x'), "not a level-5 MAT file"},
        {"hdf5", m.header(0x0200), "version 7.3 (HDF5)"},
        {"huge", h + m.array(6, {1 << 20, 1 << 20}, "huge", m.element(9, m.doubles({1}))),
         "more than 2147483648 elements"},
        {"short", h + m.array(6, {1000, 1}, "v", m.element(9, m.doubles({1}))),
         "variable 'v' (real part): 1000 elements declared, 1 stored"},
        {"negative", h + m.array(6, {-1, 1}, "v", m.element(9, "")), "negative dimension"},
        {"threeD", h + m.array(6, {1, 1, 2}, "v", m.element(9, m.doubles({1, 2}))), "array of 3 dimensions"},
        {"tooDeep", h + nestedCells(m, 65), "nested deeper than 64 levels"},
        {"sparse", h + m.array(5, {2, 2}, "sp", ""), "variable 'sp' is a sparse array"},
        {"object", h + m.array(3, {1, 1}, "obj", ""), "variable 'obj' is an object"},
        {"function", h + m.array(16, {1, 1}, "fh", ""), "variable 'fh' is a function handle"},
        {"twice", h + m.array(2, {1, 1}, "s", twoFields), "the field 'a' appears twice"},
        {"longFormLength", h + m.array(2, {1, 1}, "s", longFormLength), "the field name length element is malformed"},
        {"notArray", h + m.element(9, m.doubles({1})), "variable 1 is a data element of type 9, not an array"},
        {"badZlib", h + m.element(15, "this is not deflate data"), "compressed data is corrupt"},
        {"cutTag", h + m.doubleArray("x", 1) + "abc", "variable 2 is cut off"},
        {"overlong", h + m.doubleArray("x", 1).substr(0, 40), "variable 1 is cut off"},
    };
    ScratchDir dir;
    for (const auto& c : cases) {
        const std::string path = dir.file(std::string(c.name) + ".mat");
        writeBytes(path, c.bytes);
        const std::string message = loadError(path);
        EXPECT_TRUE(contains(message, "Unable to read MAT file '" + path + "'")) << c.name << ": " << message;
        EXPECT_TRUE(contains(message, c.reason)) << c.name << ": " << message;
    }
}

TEST(MatLoad, RefusesFilesThatWouldTakeUnboundedMemory) {
    const MatBytes m;
    ScratchDir dir;
    // 100001 empty cells: eight bytes each in the file, an array each once read.
    std::string cells;
    for (int i = 0; i < 100001; ++i) cells += m.element(14, "");
    writeBytes(dir.file("cells.mat"), m.header() + m.array(1, {1, 100001}, "c", cells));
    EXPECT_TRUE(contains(loadError(dir.file("cells.mat")), "more than 100000 arrays"));

    // 129 MiB of bytes declared as a double array: 1032 MiB once read. The zeros are a hole
    // in a sparse file, so the test writes only the headers.
    const std::int32_t count = 129 << 20;
    const std::string inner = m.element(6, m.int32s({6, 0})) + m.element(5, m.int32s({count, 1})) +
                              m.element(1, "big") + m.int32s({2, count});
    const std::string path = dir.file("big.mat");
    writeBytes(path, m.header() + m.int32s({14, std::int32_t(inner.size()) + count}) + inner);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) + std::uintmax_t(count));
    EXPECT_TRUE(contains(loadError(path), "more than 1024 MiB once read")) << loadError(path);
}

TEST(MatLoad, RefusesWhatIsNotAReadableFile) {
    ScratchDir dir;
    const std::string missing = dir.file("missing.mat");
    EXPECT_TRUE(contains(loadError(missing), "'" + missing + "': No such file or directory")) << loadError(missing);
    EXPECT_TRUE(contains(loadError(dir.path().string()), "it is a folder"));
    const std::string fifo = dir.file("pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_TRUE(contains(loadError(fifo), "not a regular file"));  // and does not wait for a writer
}

// A truncated file either fails with a host error or, cut exactly between variables,
// gives the variables before the cut unchanged.
void expectTruncationsAreSafe(const std::string& source) {
    const std::string bytes = readBytes(source);
    ASSERT_GT(bytes.size(), 128u);
    const Array full = host::loadMatFile(source);
    ScratchDir dir;
    const std::string path = dir.file("cut.mat");
    std::size_t refused = 0;
    for (std::size_t length = 0; length < bytes.size(); length += length < 200 ? 1 : 13) {
        writeBytes(path, bytes.substr(0, length));
        try {
            const Array part = host::loadMatFile(path);
            ASSERT_LE(part.fieldCount(), full.fieldCount()) << length;
            for (std::size_t f = 0; f < part.fieldCount(); ++f) {
                ASSERT_EQ(part.fieldNames()[f], full.fieldNames()[f]) << length;
                ASSERT_EQ(part.fieldAt(int(f), 0), full.fieldAt(int(f), 0)) << length;
            }
        } catch (const host::Error& e) {
            ++refused;
            ASSERT_TRUE(contains(e.what(), path)) << e.what();
        }
    }
    EXPECT_GT(refused, 0u);
}

TEST(MatLoad, TruncatedFilesFailCleanly) {
    expectTruncationsAreSafe(dataFile("params_scipy.mat"));
    expectTruncationsAreSafe(dataFile("params_octave.mat"));
}

// Every byte of a small file changed in turn: host errors or values, never a crash.
TEST(MatLoad, CorruptedBytesFailCleanly) {
    ScratchDir dir;
    const std::string source = dir.file("source.mat");
    Array record = Array::structure();
    record.setField("id", Array::string("OneX-Fwd - Format 1.2"));
    record.setField("gains", Array::row(std::vector<std::complex<double>>{{1, 2}, {3, -4}}));
    Array cells = Array::cell(1, 2);
    cells.cellAt(0) = Array::int32Scalar(9);
    record.setField("cells", cells);
    host::saveMatFile(source, {{"record", record}});
    const std::string bytes = readBytes(source);
    const std::string path = dir.file("corrupt.mat");
    std::size_t refused = 0;
    for (std::size_t i = 116; i < bytes.size(); ++i)
        for (const unsigned char value : {0x00, 0x07, 0x80, 0xff}) {
            std::string changed = bytes;
            if (static_cast<unsigned char>(changed[i]) == value) continue;
            changed[i] = static_cast<char>(value);
            writeBytes(path, changed);
            try {
                host::loadMatFile(path);
            } catch (const host::Error&) {
                ++refused;
            }
        }
    // Sizes, types, flags and dimensions are most of a small file: many changes must be caught.
    EXPECT_GT(refused, bytes.size());
}

}  // namespace
