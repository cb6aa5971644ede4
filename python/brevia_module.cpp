// The Python module `brevia`: the signal core and the instrument path from numpy. A thin
// layer over the command line's own pieces (parameter set edits, frame computation, the
// report, connection texts, download and play), so that a script and `onexfwd` make the
// same frame and say the same things. Long work releases the GIL; the frame is handed to
// numpy in the memory it was computed in.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <signal.h>

#include <charconv>
#include <complex>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "MexIO/download_action.h"
#include "MexIO/download_play.h"
#include "MexIO/instrument_wrappers.h"
#include "OneX/frame_builder.h"
#include "OneX/parameters.h"
#include "OneX/signal_quality.h"
#include "UI/parameter_file.h"
#include "UI/sig_gen_panel.h"
#include "app/analyze_command.h"
#include "app/generate.h"
#include "app/instrument_commands.h"
#include "brevia.h"
#include "host/dialogs.h"
#include "host/error.h"
#include "host/interrupt.h"
#include "host/random.h"
#include "host/records.h"
#include "sim/simulated_generator.h"

namespace py = pybind11;
using host::Array;

namespace {

// The frame builder works through the host's records and its random generator: one frame
// at a time, whichever Python thread asks.
std::mutex coreMutex;

struct InstrumentError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The command line's message without the option it names ("--set OverSampling: ..." reads
// "OverSampling: ..." in Python).
std::string withoutOption(std::string message) {
    for (const char* option : {"--settings ", "--set "})
        if (message.rfind(option, 0) == 0) return message.substr(std::strlen(option));
    return message;
}

void warnAll(const std::vector<std::string>& notes) {
    for (const std::string& note : notes) PyErr_WarnEx(PyExc_UserWarning, note.c_str(), 1);
}

std::string numberText(double v) {
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, v);
    return ec == std::errc() ? std::string(text, end) : std::string("nan");
}

// A Python value as the text `--set NAME=VALUE` takes for `target`: text as it is, numbers
// in their shortest exact form, a matrix by columns (the record's order) after its shape
// has been checked.
std::string settingText(const Array& target, py::handle value, const std::string& name) {
    if (py::isinstance<py::str>(value)) return value.cast<std::string>();
    if (py::isinstance<py::bool_>(value)) return value.cast<bool>() ? "1" : "0";
    py::array_t<double, py::array::forcecast> numbers;
    try {
        numbers = py::array_t<double, py::array::forcecast>::ensure(value);
    } catch (const py::error_already_set&) {
    }
    if (!numbers || numbers.size() == 0)
        throw py::value_error(name + ": give a number, a sequence of numbers or text, not " +
                              std::string(py::str(py::type::handle_of(value).attr("__name__"))) + ".");
    if (numbers.ndim() > 2) throw py::value_error(name + ": give a number, a row or a matrix, not " + std::to_string(numbers.ndim()) + " dimensions.");
    std::string text;
    auto add = [&](double v) { text += (text.empty() ? "" : " ") + numberText(v); };
    if (numbers.ndim() == 2) {
        const auto rows = static_cast<std::size_t>(numbers.shape(0)), cols = static_cast<std::size_t>(numbers.shape(1));
        if (rows != target.rows() || cols != target.cols())
            throw py::value_error(name + ": a matrix of " + std::to_string(target.rows()) + " x " + std::to_string(target.cols()) +
                                  " is needed, not " + std::to_string(rows) + " x " + std::to_string(cols) + ".");
        const auto m = numbers.unchecked<2>();
        for (std::size_t c = 0; c < cols; ++c)
            for (std::size_t r = 0; r < rows; ++r) add(m(static_cast<py::ssize_t>(r), static_cast<py::ssize_t>(c)));
    } else {
        const double* p = numbers.data();
        for (py::ssize_t i = 0; i < numbers.size(); ++i) add(p[i]);
    }
    return text;
}

// A record's value as Python has it: text, a number, a list (a row or column), a list of rows
// (a matrix), a dict (a record).
py::object toPython(const Array& a) {
    if (a.isChar()) return py::str(a.text());
    if (a.isStruct()) {
        py::dict d;
        for (const std::string& name : a.fieldNames()) d[py::str(name)] = toPython(a.field(name));
        return d;
    }
    if (a.numel() == 1) return py::float_(a.realAt(0));
    if (a.isEmpty() || a.isVector()) {
        py::list l;
        for (std::size_t i = 0; i < a.numel(); ++i) l.append(py::float_(a.realAt(i)));
        return l;
    }
    py::list rows;
    for (std::size_t r = 0; r < a.rows(); ++r) {
        py::list row;
        for (std::size_t c = 0; c < a.cols(); ++c) row.append(py::float_(a.realAt(c * a.rows() + r)));
        rows.append(row);
    }
    return rows;
}

// ---- the parameter set -----------------------------------------------------------------

struct Parameters {
    Array record = onex::defaultParameters();
    Array settings = mexio::initialSigGenSettings(onex::defaultParameters().field("OverSampling").realAt(0));

    const Array* find(const std::string& name) const {
        if (name.rfind("slot.", 0) == 0) {
            const Array* slot = record.findField("slot");
            return slot ? slot->findField(name.substr(5)) : nullptr;
        }
        return name == "slot" ? nullptr : record.findField(name);
    }
    py::object get(const std::string& name) const {
        const Array* f = find(name);
        if (!f) throw py::attribute_error("no parameter '" + name + "' (dir() lists them)");
        return toPython(*f);
    }
    void set(const std::string& name, py::handle value) {
        const Array* f = find(name);
        if (!f) throw py::attribute_error("no parameter '" + name + "' (dir() lists them)");
        const std::string text = settingText(*f, value, name);
        std::vector<std::string> notes;
        try {
            notes = app::applySetting(record, name + "=" + text);
        } catch (const host::Error& e) {
            throw py::value_error(withoutOption(e.what()));
        }
        // As in the window: a new oversampling sets the instrument's sample clock to match.
        if (name == "OverSampling") settings.setField("SamplingRate", Array::scalar(onex::kChipRate * record.field("OverSampling").realAt(0)));
        warnAll(notes);
    }
    void setSetting(const std::string& name, py::handle value) {
        const Array* f = settings.findField(name);
        if (!f) throw py::attribute_error("no signal generator setting '" + name + "' (dir() lists them)");
        std::vector<std::string> notes;
        try {
            notes = app::applySigGenSetting(settings, name + "=" + settingText(*f, value, name));
        } catch (const host::Error& e) {
            throw py::value_error(withoutOption(e.what()));
        }
        warnAll(notes);
    }
    // Changes given as a dict: a name that is no setting is a wrong value, not a missing attribute.
    void applySettings(const py::object& changes) {
        if (changes.is_none()) return;
        if (!py::isinstance<py::dict>(changes)) throw py::type_error("settings: give a dict such as {\"Frequency\": 1.9e9}.");
        for (auto [key, value] : changes.cast<py::dict>()) {
            const std::string name = py::str(key);
            if (!settings.findField(name))
                throw py::value_error("settings: no signal generator setting '" + name + "'. Known: " + knownSettings() + ".");
            setSetting(name, value);
        }
    }
    std::string knownSettings() const {
        std::string known;
        for (const std::string& n : settings.fieldNames()) known += (known.empty() ? "" : ", ") + n;
        return known;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> n;
        for (const std::string& f : record.fieldNames())
            if (f != "slot") n.push_back(f);
        return n;
    }
};

// p.slot and p.settings: views that read and change one part of a Parameters.
struct SlotView {
    py::object owner;
    Parameters& p() const { return owner.cast<Parameters&>(); }
};
struct SettingsView {
    py::object owner;
    Parameters& p() const { return owner.cast<Parameters&>(); }
};

Parameters loadParameters(const std::string& path) {
    if (!std::filesystem::exists(path)) throw py::value_error(path + ": no such file.");
    Parameters p;
    try {
        ui::ParameterFile file = ui::readParameterFile(path, onex::kParameterFileFormatId);
        p.record = std::move(file.parameters);
        p.settings = file.sigGen.isStruct() && file.sigGen.fieldCount() > 0 ? std::move(file.sigGen)
                                                                              : mexio::initialSigGenSettings(p.record.field("OverSampling").realAt(0));
        warnAll(ui::panel::limitSettings(p.settings, false));
    } catch (const host::Error& e) {
        throw py::value_error(e.what());
    }
    return p;
}

// ---- the frame -------------------------------------------------------------------------

struct Waveform {
    py::array_t<std::complex<double>> samples;
    py::array_t<std::uint8_t> markers;
    double sampleRate = 0;
    Parameters parameters;
};

// The samples in the vector they were computed in, which the array owns from now on.
py::array_t<std::complex<double>> ownedSamples(host::ComplexVector&& samples) {
    auto* held = new host::ComplexVector(std::move(samples));
    py::capsule owner(held, [](void* v) { delete static_cast<host::ComplexVector*>(v); });
    return py::array_t<std::complex<double>>({static_cast<py::ssize_t>(held->size())}, held->data(), owner);
}

struct Computed {
    onex::ChipFrame chips;
    onex::FrameInputs inputs;
};

// The chips of a parameter set as the command line makes them (the caller holds coreMutex).
Computed chipsOf(const Parameters& p, const std::optional<std::uint64_t>& seed) {
    if (seed) host::seedRandom(*seed);
    host::record("parameters") = p.record;  // the equaliser follows its filter choice there
    host::record("SigGenSettings") = p.settings;
    Computed c;
    c.inputs = onex::frameInputsFromParameters(p.record);
    c.chips = onex::buildChipFrame(c.inputs);
    return c;
}

Waveform generate(const Parameters& given, std::optional<std::uint64_t> seed, const py::object& settings) {
    Waveform w;
    w.parameters = given;
    w.parameters.applySettings(settings);
    onex::Frame frame;
    try {
        const py::gil_scoped_release released;
        const std::lock_guard lock(coreMutex);
        const Computed c = chipsOf(w.parameters, seed);
        frame = onex::finishFrame(c.chips, c.inputs);
    } catch (const host::Error& e) {
        throw py::value_error(e.what());
    }
    const auto n = static_cast<py::ssize_t>(frame.waveform.size());
    w.sampleRate = onex::kChipRate * w.parameters.record.field("OverSampling").realAt(0);
    w.samples = ownedSamples(std::move(frame.waveform));
    w.markers = py::array_t<std::uint8_t>({py::ssize_t{2}, n});
    std::memcpy(w.markers.mutable_data(0, 0), frame.marker1.data(), frame.marker1.size());
    std::memcpy(w.markers.mutable_data(1, 0), frame.marker2.data(), frame.marker2.size());
    return w;
}

// The samples of a 1-D complex array as the host's 1 x N row.
Array hostRow(const py::array_t<std::complex<double>, py::array::forcecast>& samples) {
    if (samples.ndim() != 1) throw py::value_error("the samples must be a 1-D array, not " + std::to_string(samples.ndim()) + "-D.");
    const auto n = static_cast<std::size_t>(samples.size());
    Array row = Array::numeric(host::ClassId::Double, 1, n, true);
    const std::complex<double>* s = samples.data();
    double* re = row.pr();
    double* im = row.pi();
    for (std::size_t i = 0; i < n; ++i) {
        re[i] = s[i].real();
        im[i] = s[i].imag();
    }
    return row;
}

// The markers as the host's 2 x N rows of doubles, checked against the samples.
Array hostMarkers(const py::array_t<std::uint8_t, py::array::forcecast>& markers, std::size_t n) {
    if (markers.ndim() != 2 || markers.shape(0) != 2 || static_cast<std::size_t>(markers.shape(1)) != n)
        throw py::value_error("the markers must be 2 x " + std::to_string(n) + ", one row each.");
    Array m = Array::zeros(2, n);
    const auto v = markers.unchecked<2>();
    for (std::size_t i = 0; i < n; ++i)
        for (py::ssize_t r = 0; r < 2; ++r) m.pr()[2 * i + static_cast<std::size_t>(r)] = v(r, static_cast<py::ssize_t>(i));
    return m;
}

host::MatColumnRuns markerRuns(const py::array_t<std::uint8_t, py::array::forcecast>& markers, std::size_t n) {
    hostMarkers(markers, n);  // the shape checked as for a download
    host::MatColumnRuns rows{2, {}};
    const auto v = markers.unchecked<2>();
    for (py::ssize_t i = 0; i < static_cast<py::ssize_t>(n); ++i) {
        const std::vector<double> column{static_cast<double>(v(0, i)), static_cast<double>(v(1, i))};
        if (!rows.runs.empty() && rows.runs.back().column == column)
            ++rows.runs.back().count;
        else
            rows.runs.push_back({column, 1});
    }
    return rows;
}

std::string saveWaveform(const Waveform& w, const std::string& path) {
    Array row = hostRow(w.samples);
    host::MatColumnRuns runs = markerRuns(w.markers, row.numel());
    try {
        const py::gil_scoped_release released;
        return app::writeWaveformFile(path, std::move(row), std::move(runs), w.sampleRate, w.parameters.record, w.parameters.settings);
    } catch (const host::Error& e) {
        throw py::value_error(e.what());
    }
}

py::object analyze(const Parameters& p, const py::object& waveform, std::optional<std::uint64_t> seed) {
    std::optional<host::ComplexVector> given;
    if (!waveform.is_none()) {
        const py::object samples = py::hasattr(waveform, "samples") ? waveform.attr("samples") : waveform;
        const auto a = py::array_t<std::complex<double>, py::array::forcecast>::ensure(samples);
        if (!a || a.ndim() != 1) throw py::value_error("waveform: give a Waveform or a 1-D array of complex samples.");
        given.emplace(a.data(), a.data() + a.size());
    }
    std::string json;
    try {
        const py::gil_scoped_release released;
        const std::lock_guard lock(coreMutex);
        const Computed c = chipsOf(p, seed);
        namespace q = onex::quality;
        // A waveform from elsewhere has its own idle-slot noise: those chips are left out.
        const q::Report report = given ? q::analyzeFrame(*given, c.chips, c.inputs, q::deterministicChips(c.inputs))
                                       : q::analyzeFrame(onex::finishFrame(c.chips, c.inputs).waveform, c.chips, c.inputs);
        json = app::reportJson(report);
    } catch (const host::Error& e) {
        throw py::value_error(e.what());
    }
    return py::module_::import("json").attr("loads")(json);
}

// ---- the instrument --------------------------------------------------------------------

void askTheWorkToStop(int) { host::requestInterrupt(); }

// Instrument work with the GIL released; on the main thread Ctrl+C stops it within a second
// and raises KeyboardInterrupt. A question the work asks (a long RS-232 transfer) is
// answered OK: the script asked for the download.
template <class Work>
auto instrumentWork(Work work) {
    const bool mainThread = PyGILState_Check() && py::module_::import("threading").attr("current_thread")().is(
                                                       py::module_::import("threading").attr("main_thread")());
    struct sigaction previous {};
    host::clearInterrupt();
    if (mainThread) {
        struct sigaction action {};
        action.sa_handler = askTheWorkToStop;
        action.sa_flags = SA_RESETHAND;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &previous);
    }
    host::setDialogProvider(std::make_shared<host::AcceptingDialogs>());
    decltype(work()) result;
    std::exception_ptr failure;
    {
        const py::gil_scoped_release released;
        try {
            result = work();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    host::setDialogProvider(nullptr);
    if (mainThread) ::sigaction(SIGINT, &previous, nullptr);
    const bool stopped = host::interruptRequested();
    host::clearInterrupt();
    if (stopped) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw py::error_already_set();
    }
    if (failure) std::rethrow_exception(failure);
    return result;
}

std::string replyText(const mexio::Reply& r) { return r.response.isChar() ? r.response.text() : std::string(); }

std::string checked(const mexio::Reply& r) {
    if (r.status != 0) throw InstrumentError(replyText(r).empty() ? std::string("the instrument command failed") : replyText(r));
    return replyText(r);
}

struct Instrument {
    std::string connect;
    Array config;

    explicit Instrument(std::string text) : connect(std::move(text)) {
        try {
            config = app::parseConnectSpec(connect);
        } catch (const host::Error& e) {
            throw py::value_error(withoutOption(e.what()));
        }
    }
    std::string query(const std::string& text) {
        std::string reply = checked(instrumentWork([&] { return mexio::hwQuery(config, text); }));
        while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.pop_back();
        return reply;
    }
    void send(const std::string& text) { checked(instrumentWork([&] { return mexio::hwSend(config, text); })); }
    void close() {
        const py::gil_scoped_release released;
        mexio::vesk(0, {Array::int32Scalar(999)});  // the sessions go; the next command opens afresh
    }

    py::dict download(const Waveform& w, const std::optional<std::string>& title, const py::object& settings, bool play, bool corrections) {
        Parameters used = w.parameters;
        used.applySettings(settings);
        if (title) used.setSetting("Title", py::str(*title));
        const Array row = hostRow(w.samples);
        const Array markers = hostMarkers(w.markers, row.numel());
        const mexio::DownloadOutcome d = instrumentWork([&] {
            if (corrections) return mexio::downloadWaveform(row, markers, used.settings, config, play);
            mexio::DownloadOutcome out;
            out.download = mexio::OrvexDownLoadWrap(row, markers, used.settings.field("Title").text(), config);
            if (play && out.download.status == 0) {
                out.played = true;
                out.play = mexio::OrvexPlay(used.settings.field("Title").text(), used.settings, config);
            }
            return out;
        });
        if (!d.ok()) throw InstrumentError(d.failure());
        py::dict report;
        report["title"] = used.settings.field("Title").text();
        report["samples"] = row.numel();
        report["played"] = d.played;
        report["correction_file"] = d.corrections.fileName;  // the file looked for
        report["corrections_found"] = d.corrections.available();
        report["rf_corrections"] = d.rfApplied;
        report["iq_corrections"] = d.iqApplied;
        return report;
    }
    void playSettings(const py::object& settings) {
        Parameters used;
        if (py::isinstance<SettingsView>(settings))
            used.settings = settings.cast<SettingsView&>().p().settings;
        else if (py::isinstance<Parameters>(settings))
            used.settings = settings.cast<Parameters&>().settings;
        else
            used.applySettings(settings);
        const std::string title = used.settings.field("Title").text();
        checked(instrumentWork([&] { return mexio::OrvexPlay(title, used.settings, config); }));
    }
};

// ---- the simulated generator -----------------------------------------------------------

struct Simulator {
    sim::Options options;
    std::unique_ptr<sim::SimulatedGenerator> generator;

    Simulator(const std::string& model, std::optional<std::size_t> memory) {
        std::string m = model;
        for (char& c : m) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (m != "corvane" && m != "pellar") throw py::value_error("model: \"corvane\" or \"pellar\", not \"" + model + "\".");
        options.model = m == "pellar" ? sim::Model::Pellar : sim::Model::Corvane;
        if (memory) options.maxStoredBytes = *memory;
    }
    void start() {
        if (generator && generator->running()) return;
        generator = std::make_unique<sim::SimulatedGenerator>(options);
        try {
            generator->start();
        } catch (const std::exception& e) {
            generator.reset();
            throw InstrumentError(std::string("the simulated generator could not start: ") + e.what());
        }
    }
    void stop() {
        if (!generator) return;
        const py::gil_scoped_release released;
        generator->stop();
    }
    const sim::SimulatedGenerator& running() const {
        if (!generator) throw InstrumentError("the simulated generator is not running: use it in a with block or call start().");
        return *generator;
    }
    std::string connect() const { return "lan:127.0.0.1:" + std::to_string(running().port()); }
};

}  // namespace

PYBIND11_MODULE(brevia, m) {
    m.doc() =
        "The 1xEV forward-link (IS-856) test-signal generator: parameter sets, frames as numpy arrays, "
        "the signal-quality report, and the way into a signal generator (or a simulated one).";
    if (!BreviaInitialize()) throw std::runtime_error(std::string("brevia: ") + BreviaLastError());
    m.attr("__version__") = BREVIA_VERSION;
    py::register_exception<InstrumentError>(m, "InstrumentError", PyExc_RuntimeError);

    py::class_<SlotView>(m, "SlotParameters", "The 16 slots of a parameter set (p.slot): DATAslotActive, DATAslotMod, RAslotGain, ...")
        .def("__getattr__", [](const SlotView& v, const std::string& name) { return v.p().get("slot." + name); })
        .def("__setattr__", [](SlotView& v, const std::string& name, py::object value) { v.p().set("slot." + name, value); })
        .def("__getitem__", [](const SlotView& v, const std::string& name) { return v.p().get("slot." + name); })
        .def("__setitem__", [](SlotView& v, const std::string& name, py::object value) { v.p().set("slot." + name, value); })
        .def("__dir__", [](const SlotView& v) { return v.p().record.field("slot").fieldNames(); })
        .def("to_dict", [](const SlotView& v) { return toPython(v.p().record.field("slot")); }, "The slot record as a dict.")
        .def("__repr__", [](const SlotView& v) { return "SlotParameters(" + std::string(py::repr(toPython(v.p().record.field("slot")))) + ")"; });

    py::class_<SettingsView>(m, "GeneratorSettings",
                             "The signal generator settings of a parameter set (p.settings): Title, Frequency (Hz), Amplitude (dBm), "
                             "SamplingRate (Hz), ReconFilter, ... Each change is rounded and limited as the window's panel does.")
        .def("__getattr__", [](const SettingsView& v, const std::string& name) {
            const Array* f = v.p().settings.findField(name);
            if (!f) throw py::attribute_error("no signal generator setting '" + name + "' (dir() lists them)");
            return toPython(*f);
        })
        .def("__setattr__", [](SettingsView& v, const std::string& name, py::object value) { v.p().setSetting(name, value); })
        .def("__getitem__", [](const SettingsView& v, const std::string& name) {
            const Array* f = v.p().settings.findField(name);
            if (!f) throw py::key_error(name);
            return toPython(*f);
        })
        .def("__setitem__", [](SettingsView& v, const std::string& name, py::object value) { v.p().setSetting(name, value); })
        .def("__dir__", [](const SettingsView& v) { return v.p().settings.fieldNames(); })
        .def("to_dict", [](const SettingsView& v) { return toPython(v.p().settings); }, "The settings as a dict.")
        .def("__repr__", [](const SettingsView& v) { return "GeneratorSettings(" + std::string(py::repr(toPython(v.p().settings))) + ")"; });

    py::class_<Parameters>(m, "Parameters",
                           "A parameter set of the frame, the defaults when made, and the signal generator settings that go with it.\n\n"
                           "Every field of the record is an attribute and an item: p.OverSampling = 8, p.slot.DATAslotMod = [3] * 16,\n"
                           "p[\"DATApacketDRC\"] = 12, p[\"slot.RAslotGain\"] = -6. Values are rounded and limited as `onexfwd --set`\n"
                           "does them (a limit that applied is said as a warning); what is stored reads back. A new OverSampling sets\n"
                           "the sample clock (p.settings.SamplingRate) to match, as the window does.")
        .def(py::init<>())
        .def_static("load", &loadParameters, py::arg("path"),
                    "Reads a parameter file (.mat, as the window and `onexfwd --params` use), with its generator settings.")
        .def(
            "save",
            [](const Parameters& p, const std::string& path) {
                try {
                    ui::writeParameterFile(path, p.record, p.settings);
                } catch (const host::Error& e) {
                    throw py::value_error(e.what());
                }
            },
            py::arg("path"), "Writes the parameter file (whole or not at all), the generator settings with it.")
        .def("to_dict", [](const Parameters& p) { return toPython(p.record); }, "The parameter record as a dict (the slot record nested).")
        .def("copy", [](const Parameters& p) { return p; }, "An independent copy.")
        .def("__copy__", [](const Parameters& p) { return p; })
        .def("__deepcopy__", [](const Parameters& p, py::dict) { return p; })
        .def("__eq__", [](const Parameters& a, py::object other) -> py::object {
            if (!py::isinstance<Parameters>(other)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
            const Parameters& b = other.cast<const Parameters&>();
            return py::bool_(a.record == b.record && a.settings == b.settings);
        })
        .def("__ne__", [](const Parameters& a, py::object other) -> py::object {
            if (!py::isinstance<Parameters>(other)) return py::reinterpret_borrow<py::object>(Py_NotImplemented);
            const Parameters& b = other.cast<const Parameters&>();
            return py::bool_(!(a.record == b.record && a.settings == b.settings));
        })
        .def_property_readonly("slot", [](py::object self) { return SlotView{self}; }, "The 16 slots' settings.")
        .def_property_readonly("settings", [](py::object self) { return SettingsView{self}; }, "The signal generator settings.")
        .def("__getattr__", [](const Parameters& p, const std::string& name) { return p.get(name); })
        .def("__setattr__", [](Parameters& p, const std::string& name, py::object value) {
            if (name == "slot" || name == "settings") throw py::attribute_error("set the fields of p." + name + " one by one");
            p.set(name, value);
        })
        .def("__getitem__", [](py::object self, const std::string& name) -> py::object {
            if (name == "slot") return py::cast(SlotView{self});
            if (!self.cast<Parameters&>().find(name)) throw py::key_error(name);
            return self.cast<Parameters&>().get(name);
        })
        .def("__setitem__", [](Parameters& p, const std::string& name, py::object value) {
            if (!p.find(name)) throw py::key_error(name);
            p.set(name, value);
        })
        .def("__dir__", [](const Parameters& p) {
            std::vector<std::string> n = p.names();
            for (const char* extra : {"slot", "settings", "load", "save", "to_dict", "copy"}) n.emplace_back(extra);
            return n;
        })
        .def("__repr__", [](const Parameters& p) {
            std::string r = "Parameters(";
            for (const char* f : {"Mode", "OverSampling", "MACchnActive", "DATAchnActive", "FrameCount"})
                if (p.record.findField(f)) r += std::string(r.size() > 11 ? ", " : "") + f + "=" + numberText(p.record.field(f).realAt(0));
            return r + ")";
        });

    py::class_<Waveform>(m, "Waveform", "A computed waveform: samples, markers, sample_rate and the parameters it was made from.")
        .def_readonly("samples", &Waveform::samples, "The complex baseband samples (numpy complex128, 1-D).")
        .def_readonly("markers", &Waveform::markers, "The two marker streams (numpy uint8, 2 x N): row 0 marker 1, row 1 marker 2.")
        .def_readonly("sample_rate", &Waveform::sampleRate, "Samples per second (the chip rate times the oversampling).")
        .def_readonly("parameters", &Waveform::parameters, "The parameter set (and generator settings) it was made from.")
        .def("save", &saveWaveform, py::arg("path"),
             "Writes the waveform by the file's ending: .mat (waveform, markers, sampleRate), .bin (the instrument's binary I/Q) "
             "or .sigmf-meta / .sigmf-data (a SigMF recording). Returns the file written.")
        .def("__len__", [](const Waveform& w) { return w.samples.size(); })
        .def("__repr__", [](const Waveform& w) {
            return "Waveform(" + std::to_string(w.samples.size()) + " samples at " + numberText(w.sampleRate) + " samples/s)";
        });

    m.def("generate", &generate, py::arg("parameters"), py::arg("seed") = py::none(), py::arg("settings") = py::none(),
          "Computes the waveform of a parameter set, as `onexfwd generate` does (the same samples for the same seed).\n"
          "`seed` makes the idle-slot noise repeatable; `settings` changes generator settings for this waveform only "
          "({\"Frequency\": 1.9e9}).");
    m.def("analyze", &analyze, py::arg("parameters"), py::arg("waveform") = py::none(), py::arg("seed") = py::none(),
          "The signal-quality report (the content of `onexfwd analyze --json`) of the parameter set's own frame, or of a given "
          "waveform (a Waveform or 1-D complex samples) against the frame the parameters make (idle-slot noise left out).");

    py::class_<Instrument>(m, "Instrument",
                           "A signal generator: connect is \"lan:HOST:PORT\" (raw SCPI socket), \"tcpip:ADDRESS\", \"gpib:BOARD:PRIMARY\" "
                           "or \"rs232:PORT:BAUD[:HANDSHAKE]\". A context manager: the connection is closed at the end of the block. "
                           "Failures raise InstrumentError with the instrument's or the connection's message; Ctrl+C stops a "
                           "command within a second.")
        .def(py::init<std::string>(), py::arg("connect"))
        .def_readonly("connect", &Instrument::connect)
        .def("idn", [](Instrument& i) { return i.query("*IDN?"); }, "The instrument's identification (*IDN?).")
        .def("query", &Instrument::query, py::arg("text"), "Sends a query and returns the reply without its line end.")
        .def("send", &Instrument::send, py::arg("text"), "Sends a command.")
        .def("download", &Instrument::download, py::arg("waveform"), py::arg("title") = py::none(), py::arg("settings") = py::none(),
             py::arg("play") = true, py::arg("corrections") = true,
             "Downloads a Waveform (corrected with the instrument's correction file when `corrections` and one is found) under "
             "`title` (default: its settings' Title), then plays it with its generator settings changed by `settings`. Returns "
             "what was done; a download that did not complete raises InstrumentError.")
        .def("play", &Instrument::playSettings, py::arg("settings"),
             "Sends the play settings: a dict of changes to the default settings, p.settings or a Parameters.")
        .def("close", &Instrument::close, "Closes the connection (the next command opens it again).")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Instrument& i, py::object, py::object, py::object) { i.close(); })
        .def("__repr__", [](const Instrument& i) { return "Instrument(\"" + i.connect + "\")"; });

    py::class_<Simulator>(m, "Simulator",
                          "A simulated signal generator on a free loopback port, for trying a script without hardware. A context "
                          "manager: started on entry, stopped on exit. `connect` is the text for Instrument().")
        .def(py::init<std::string, std::optional<std::size_t>>(), py::arg("model") = "corvane", py::arg("memory") = py::none())
        .def("start", &Simulator::start, "Starts listening (a with block does it).")
        .def("stop", &Simulator::stop, "Stops (the end of a with block does it).")
        .def_property_readonly("connect", &Simulator::connect, "\"lan:127.0.0.1:PORT\".")
        .def_property_readonly("port", [](const Simulator& s) { return s.running().port(); })
        .def("files", [](const Simulator& s) {
            py::dict d;
            for (const auto& [name, bytes] : s.running().files())
                d[py::str(name)] = py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            return d;
        }, "The waveform files it holds, by name (\"WFM1:NAME\"), as bytes.")
        .def("settings", [](const Simulator& s) { return s.running().settings(); }, "What it plays (frequency, power, ...), as text.")
        .def("commands", [](const Simulator& s) { return s.running().commands(); }, "Every message it received, in order.")
        .def("__enter__", [](py::object self) {
            self.cast<Simulator&>().start();
            return self;
        })
        .def("__exit__", [](Simulator& s, py::object, py::object, py::object) { s.stop(); });
}
