// SigMF recordings: the metadata read back by an independent JSON reader (Qt's), the samples
// byte by byte, the two names of a recording, and saves that fail leaving the earlier pair.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <sstream>

#include "../host/scratch_dir.h"
#include "MexIO/download_play.h"
#include "OneX/parameters.h"
#include "UI/sigmf_export.h"
#include "app/generate.h"
#include "error_message.h"
#include "host/mat_file.h"

using host::Array;

namespace {

QJsonObject parsed(const std::string& text) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << " at " << error.offset << " in\n" << text;
    EXPECT_TRUE(document.isObject());
    return document.object();
}

std::string text(const QJsonValue& v) { return v.toString().toStdString(); }

Array parametersWith(const std::vector<std::string>& sets) {
    Array p = onex::defaultParameters();
    for (const std::string& s : sets) app::applySetting(p, s);
    return p;
}

Array sigGenAt(double frequency, const std::string& title = "OneX-Fwd") {
    Array s = mexio::initialSigGenSettings(2);
    s.setField("Frequency", Array::scalar(frequency));
    s.setField("Title", Array::string(title));
    return s;
}

// A recognisable complex row of n samples, different for each `variant`.
Array waveformOf(std::size_t n, double variant = 0) {
    Array w = Array::numeric(host::ClassId::Double, 1, n, true);
    for (std::size_t k = 0; k < n; ++k)
        w.setComplex(k, {std::sin(0.01 * static_cast<double>(k) + variant), std::cos(0.003 * static_cast<double>(k)) * (1 + variant)});
    return w;
}

std::size_t samplesOf(std::size_t overSampling, std::size_t frames) { return 32768 * overSampling * frames; }

// The sample parts of a cf32_le file as the bit patterns of its little-endian words.
std::vector<std::uint32_t> wordsOf(const std::string& bytes) {
    std::vector<std::uint32_t> words(bytes.size() / 4);
    for (std::size_t i = 0; i < words.size(); ++i)
        for (int b = 0; b < 4; ++b) words[i] |= std::uint32_t{static_cast<unsigned char>(bytes[4 * i + b])} << (8 * b);
    return words;
}

std::uint32_t bitsOf(double v) { return std::bit_cast<std::uint32_t>(static_cast<float>(v)); }

}  // namespace

// ---- the metadata --------------------------------------------------------------------------

struct FrameCase {
    const char* name;
    std::vector<std::string> sets;
    std::size_t overSampling, frames;
    std::vector<std::string> described;              // parts of the description
    std::map<std::size_t, std::string> labels;  // slot number -> label
};

TEST(SigmfMetadata, GlobalCaptureAndALabelForEverySlot) {
    const FrameCase cases[] = {
        {"per-slot traffic over two frames",
         {"OverSampling=2", "MACchnActive=1", "DATAchnActive=1", "FrameCount=2", "slot.DATAslotMod=1 2 3 1 2 3 1 2 3 1 2 3 1 2 3 1",
          "slot.DATAslotActive=1 1 1 0 1 1 1 0 1 1 1 0 1 1 1 0"},
         2, 2, {"oversampling 2", "2 frames", "MAC on", "traffic on", "IS-95 ACP filter", "idle-slot noise -10 dB"},
         {{1, "slot 1 QPSK"}, {2, "slot 2 8-PSK"}, {3, "slot 3 16-QAM"}, {4, "slot 4 idle"}, {5, "slot 5 8-PSK"},
          {16, "slot 16 idle"}, {17, "slot 17 QPSK"}, {19, "slot 19 16-QAM"}, {20, "slot 20 idle"}, {31, "slot 31 16-QAM"}}},
        {"packets, the frame count raised to whole packets",
         {"OverSampling=2", "DATAchnActive=1", "DATApacketMode=1", "DATApacketDRC=2", "DATApacketMAC=17", "DATApacketInterlaces=1 0 1 1",
          "IdleSlotGainActive=0"},
         2, 2, {"2 frames", "MAC off", "DRC 2 to MAC index 17 on interlaces 1 0 1 1 (3 packets)", "idle slots silent"},
         {{1, "slot 1 packet 1 DRC 2"}, {2, "slot 2 idle"}, {3, "slot 3 packet 2 DRC 2"}, {4, "slot 4 packet 3 DRC 2"},
          {29, "slot 29 packet 1 DRC 2"}, {30, "slot 30 idle"}, {32, "slot 32 packet 3 DRC 2"}}},
        {"all-ones frame", {"OverSampling=3", "Mode=2", "FilterType=1"}, 3, 1, {"all-ones frame", "oversampling 3", "rectangular filter"},
         {{1, "slot 1 all ones"}, {16, "slot 16 all ones"}}},
        {"traffic switched off", {"OverSampling=2", "PilotOffsetIndex=37"}, 2, 1, {"1 frame", "pilot PN offset 37", "traffic off"},
         {{1, "slot 1 idle"}, {16, "slot 16 idle"}}},
    };
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t n = samplesOf(c.overSampling, c.frames);
        const QJsonObject meta =
            parsed(ui::sigmfMetadata(waveformOf(n), parametersWith(c.sets), sigGenAt(1987654321.5, "Bench \"A\"\nrack 2")));

        const QJsonObject global = meta["global"].toObject();
        EXPECT_EQ(text(global["core:datatype"]), "cf32_le");
        EXPECT_EQ(text(global["core:version"]), "1.2.0");
        EXPECT_EQ(global["core:sample_rate"].toDouble(), 1228800.0 * static_cast<double>(c.overSampling));
        EXPECT_EQ(global["core:num_channels"].toDouble(), 1);
        EXPECT_EQ(text(global["core:recorder"]), "onexfwd " BREVIA_VERSION);
        const std::string description = text(global["core:description"]);
        EXPECT_EQ(description.rfind("Bench \"A\" rack 2: ", 0), 0u) << description;  // the title, kept on one line
        for (const std::string& part : c.described) EXPECT_NE(description.find(part), std::string::npos) << part << " in " << description;

        const QJsonArray captures = meta["captures"].toArray();
        ASSERT_EQ(captures.size(), 1);
        EXPECT_EQ(captures[0].toObject()["core:sample_start"].toDouble(), 0);
        EXPECT_EQ(captures[0].toObject()["core:frequency"].toDouble(), 1987654321.5);

        const QJsonArray annotations = meta["annotations"].toArray();
        ASSERT_EQ(static_cast<std::size_t>(annotations.size()), 16 * c.frames);
        const double slotSamples = 2048.0 * static_cast<double>(c.overSampling);
        for (qsizetype k = 0; k < annotations.size(); ++k) {
            const QJsonObject a = annotations[k].toObject();
            EXPECT_EQ(a["core:sample_start"].toDouble(), static_cast<double>(k) * slotSamples) << "slot " << k + 1;
            EXPECT_EQ(a["core:sample_count"].toDouble(), slotSamples) << "slot " << k + 1;
            EXPECT_EQ(text(a["core:generator"]), "onexfwd " BREVIA_VERSION);
            EXPECT_EQ(text(a["core:label"]).rfind("slot " + std::to_string(k + 1) + " ", 0), 0u) << text(a["core:label"]);
        }
        for (const auto& [slot, label] : c.labels) EXPECT_EQ(text(annotations[static_cast<qsizetype>(slot - 1)].toObject()["core:label"]), label);
    }
}

TEST(SigmfMetadata, RecordsThatDoNotFitAreRefusedByName) {
    const Array parameters = parametersWith({"OverSampling=2"});
    const std::size_t n = samplesOf(2, 1);
    Array noFrequency = sigGenAt(1e9);
    noFrequency.removeField("Frequency");
    const struct {
        const char* name;
        Array waveform, parameters, sigGen;
        const char* says;
    } refused[] = {
        {"no waveform yet", Array(), parameters, sigGenAt(1e9), "There is no waveform to save: calculate it first."},
        {"a stale waveform", waveformOf(n - 1), parameters, sigGenAt(1e9),
         "The waveform holds 65535 samples; the parameters make 65536 (1 frame at oversampling 2): calculate the waveform again."},
        {"a matrix", Array::zeros(2, n / 2), parameters, sigGenAt(1e9), "must be a row of samples, not a 2 x 32768 matrix"},
        {"text", Array::string("samples"), parameters, sigGenAt(1e9), "calculate it first"},
        {"no frequency", waveformOf(n), parameters, noFrequency, "SigGenSettings has no field 'Frequency'."},
        {"frequency not a number", waveformOf(n), parameters, sigGenAt(std::nan("")), "SigGenSettings.Frequency must be one finite number"},
        {"no settings record", waveformOf(n), parameters, Array(), "SigGenSettings must be the signal generator settings record"},
        {"bad modulation code", waveformOf(n), parametersWith({"OverSampling=2", "slot.DATAslotMod=4"}), sigGenAt(1e9),
         "parameters.slot.DATAslotMod must hold modulation codes 1, 2 or 3, not 4."},
    };
    for (const auto& r : refused) {
        const std::string message = errorMessageOf([&] { ui::sigmfMetadata(r.waveform, r.parameters, r.sigGen); });
        EXPECT_NE(message.find(r.says), std::string::npos) << r.name << ": " << message;
    }
}

TEST(SigmfMetadata, StringsAreValidJsonWhateverTheyHold) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"slot 3 16-QAM", "\"slot 3 16-QAM\""},
        {"say \"hi\" \\ there", "\"say \\\"hi\\\" \\\\ there\""},
        {"a\nb\tc\r\x01\x1f", "\"a\\nb\\tc\\r\\u0001\\u001f\""},
        {"caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x93\xa1", "\"caf\xc3\xa9 \xe4\xb8\xad \xf0\x9f\x93\xa1\""},  // UTF-8 passes through
        {"\xff", "\"\\ufffd\""},
        {"\xc0\xaf", "\"\\ufffd\\ufffd\""},          // an overlong slash
        {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},  // a surrogate
        {"cut \xe4\xb8", "\"cut \\ufffd\\ufffd\""},
        {std::string("nul\0", 4), "\"nul\\u0000\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ui::jsonQuoted(c.in), c.out);
        const QJsonDocument read = QJsonDocument::fromJson(QByteArray::fromStdString("[" + ui::jsonQuoted(c.in) + "]"));
        EXPECT_TRUE(read.isArray()) << c.out;
    }
}

// ---- the files -----------------------------------------------------------------------------

TEST(SigmfRecording, SamplesAreLittleEndianFloat32IThenQ) {
    ScratchDir dir;
    const std::size_t n = samplesOf(2, 1);
    Array w = waveformOf(n);
    w.setComplex(0, {1.0, -0.5});
    w.setComplex(1, {1e39, -1e39});  // past the float range
    w.setComplex(2, {0.1, -0.0});
    ui::writeSigmfRecording(dir.file("rec.sigmf-meta"), w, parametersWith({"OverSampling=2"}), sigGenAt(2.2e9));
    const std::string bytes = readBytes(dir.file("rec.sigmf-data"));
    ASSERT_EQ(bytes.size(), 8 * n);
    const std::vector<std::uint32_t> words = wordsOf(bytes);
    EXPECT_EQ(words[0], 0x3f800000u);  // 1.0f
    EXPECT_EQ(words[1], 0xbf000000u);  // -0.5f
    EXPECT_EQ(words[2], 0x7f800000u);  // +infinity
    EXPECT_EQ(words[3], 0xff800000u);  // -infinity
    EXPECT_EQ(words[4], 0x3dcccccdu);  // 0.1f
    EXPECT_EQ(words[5], 0x80000000u);  // -0.0f
    std::size_t differ = 0;
    for (std::size_t k = 3; k < n; ++k) differ += words[2 * k] != bitsOf(w.realAt(k)) || words[2 * k + 1] != bitsOf(w.imagAt(k));
    EXPECT_EQ(differ, 0u);

    Array real = Array::zeros(1, n);  // Q of a real waveform is zero
    for (std::size_t k = 0; k < n; ++k) real.setReal(k, 0.25 * static_cast<double>(k % 5));
    ui::writeSigmfRecording(dir.file("real.sigmf-data"), real, parametersWith({"OverSampling=2"}), sigGenAt(2.2e9));
    const std::vector<std::uint32_t> realWords = wordsOf(readBytes(dir.file("real.sigmf-data")));
    ASSERT_EQ(realWords.size(), 2 * n);
    for (std::size_t k : {std::size_t{0}, std::size_t{3}, n - 1}) {
        EXPECT_EQ(realWords[2 * k], bitsOf(real.realAt(k)));
        EXPECT_EQ(realWords[2 * k + 1], 0u);
    }
}

TEST(SigmfRecording, EitherNameWritesThePair) {
    const struct {
        const char* path;
        const char *data, *meta;
    } names[] = {
        {"d/rec.sigmf-meta", "d/rec.sigmf-data", "d/rec.sigmf-meta"},
        {"d/rec.sigmf-data", "d/rec.sigmf-data", "d/rec.sigmf-meta"},
        {"d/REC.SIGMF-META", "d/REC.sigmf-data", "d/REC.SIGMF-META"},
        {"d/rec", "d/rec.sigmf-data", "d/rec.sigmf-meta"},
        {"d/rec.bin", "d/rec.bin.sigmf-data", "d/rec.bin.sigmf-meta"},
    };
    for (const auto& c : names) {
        const ui::SigmfFiles files = ui::sigmfFiles(c.path);
        EXPECT_EQ(files.data, c.data) << c.path;
        EXPECT_EQ(files.meta, c.meta) << c.path;
    }
    for (const char* nameless : {"", "d/", "d/.sigmf-meta"})
        EXPECT_NE(errorMessageOf([&] { ui::sigmfFiles(nameless); }).find("names no recording"), std::string::npos) << nameless;

    const Array parameters = parametersWith({"OverSampling=2"});
    const Array w = waveformOf(samplesOf(2, 1));
    for (const char* asked : {"rec.sigmf-meta", "rec.sigmf-data"}) {
        ScratchDir dir;
        ui::writeSigmfRecording(dir.file(asked), w, parameters, sigGenAt(2.2e9));
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"rec.sigmf-data", "rec.sigmf-meta"})) << asked;
        EXPECT_EQ(readBytes(dir.file("rec.sigmf-meta")), ui::sigmfMetadata(w, parameters, sigGenAt(2.2e9)));
        EXPECT_EQ(readBytes(dir.file("rec.sigmf-data")).size(), 8 * w.numel());
    }
}

TEST(SigmfRecording, AFailedSaveNamesTheFileAndLeavesTheEarlierPair) {
    ScratchDir dir;
    const Array parameters = parametersWith({"OverSampling=2"});
    const std::size_t n = samplesOf(2, 1);
    const std::string data = dir.file("rec.sigmf-data"), meta = dir.file("rec.sigmf-meta");
    ui::writeSigmfRecording(meta, waveformOf(n), parameters, sigGenAt(1e9));
    const std::string dataBefore = readBytes(data), metaBefore = readBytes(meta);
    std::filesystem::create_directory(dir.file("folder.sigmf-meta"));
    const std::vector<std::string> entriesBefore = dir.entries();

    const auto readOnly = [](const std::string& path) {
        return [path] { ::chmod(path.c_str(), 0444); };
    };
    const struct {
        const char* name;
        std::string path;
        std::function<void()> before;
        std::string names, says;
    } failures[] = {
        {"missing folder", dir.file("missing/rec.sigmf-meta"), [] {}, dir.file("missing/rec.sigmf-data"), "No such file or directory"},
        {"read-only metadata", meta, readOnly(meta), meta, "it is read-only"},
        {"read-only samples", meta, readOnly(data), data, "it is read-only"},
        {"metadata name taken by a folder", dir.file("folder.sigmf-data"), [] {}, dir.file("folder.sigmf-meta"), "it is a folder"},
    };
    for (const auto& f : failures) {
        f.before();
        const std::string message = errorMessageOf([&] { ui::writeSigmfRecording(f.path, waveformOf(n, 1), parameters, sigGenAt(2e9)); });
        EXPECT_NE(message.find("Unable to write '" + f.names + "'"), std::string::npos) << f.name << ": " << message;
        EXPECT_NE(message.find(f.says), std::string::npos) << f.name << ": " << message;
        ::chmod(data.c_str(), 0644);
        ::chmod(meta.c_str(), 0644);
        EXPECT_EQ(readBytes(data), dataBefore) << f.name;
        EXPECT_EQ(readBytes(meta), metaBefore) << f.name;
        EXPECT_EQ(dir.entries(), entriesBefore) << f.name;  // no temporary left behind
    }

    if (::geteuid() == 0) GTEST_SKIP() << "a read-only folder does not stop the superuser";
    ::chmod(dir.path().c_str(), 0555);
    const std::string message = errorMessageOf([&] { ui::writeSigmfRecording(meta, waveformOf(n, 1), parameters, sigGenAt(2e9)); });
    ::chmod(dir.path().c_str(), 0755);
    EXPECT_NE(message.find("Unable to write '" + data + "': cannot create a file in"), std::string::npos) << message;
    EXPECT_EQ(readBytes(data), dataBefore);
    EXPECT_EQ(readBytes(meta), metaBefore);
}

// ---- onexfwd generate ----------------------------------------------------------------------

TEST(SigmfGenerate, TheRecordingHoldsTheFrameOfTheMatFile) {
    ScratchDir dir;
    app::GenerateOptions o;
    o.sets = {"OverSampling=2", "DATAchnActive=1", "slot.DATAslotMod=2"};
    o.seed = 7;
    o.out = dir.file("frame.mat");
    std::ostringstream out, err;
    ASSERT_EQ(app::runGenerate(o, out, err), 0) << err.str();
    o.out = dir.file("frame.sigmf-data");
    out.str("");
    ASSERT_EQ(app::runGenerate(o, out, err), 0) << err.str();
    EXPECT_EQ(out.str(), "wrote " + dir.file("frame.sigmf-meta") + ": 65536 samples at 2457600 samples/s\n");

    const Array waveform = host::loadMatFile(dir.file("frame.mat")).field("waveform");
    const std::vector<std::uint32_t> words = wordsOf(readBytes(dir.file("frame.sigmf-data")));
    ASSERT_EQ(words.size(), 2 * waveform.numel());
    std::size_t differ = 0;
    for (std::size_t k = 0; k < waveform.numel(); ++k)
        differ += words[2 * k] != bitsOf(waveform.realAt(k)) || words[2 * k + 1] != bitsOf(waveform.imagAt(k));
    EXPECT_EQ(differ, 0u);
    const QJsonArray annotations = parsed(readBytes(dir.file("frame.sigmf-meta")))["annotations"].toArray();
    ASSERT_EQ(annotations.size(), 16);
    EXPECT_EQ(text(annotations[0].toObject()["core:label"]), "slot 1 8-PSK");

    o.out = dir.file("frame.sigmf");
    EXPECT_EQ(app::runGenerate(o, out, err), 1);
    EXPECT_NE(err.str().find("must end in .mat (MAT file), .bin (binary I/Q export) or .sigmf-meta or .sigmf-data"), std::string::npos)
        << err.str();
}
