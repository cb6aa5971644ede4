// Build-time generator of the library's exported C forms and function table.
//
// Reads the registrations of src/functions.def, one per function:
//     BREVIA_FUNCTION("function output = OneX_Repeat(input, factor)", 1)
// (the declaration as the module writes it, and its line), and writes
//   brevia_functions.h   the C prototypes of mlfX / mlxX (and mlfNX / mlfVX where the
//                        number of outputs varies),
//   brevia_exports.cpp   their definitions and the function table,
//   brevia_window_functions.cpp
//                        the bindings of the window functions (BREVIA_WINDOW_FUNCTION),
//                        compiled into the window library; the core's table reaches them
//                        through forwarders that load that library first.
// Declared counts come from the declaration: varargin / varargout make them -1.

#include <cctype>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// `required`: the inputs a call must give; -1 (no third argument) means all declared ones.
struct Registration {
    const char* declaration;
    int line;
    bool window;
    int required = -1;
};

const Registration registrations[] = {
#define BREVIA_FUNCTION(declaration, line, ...) {declaration, line, false __VA_OPT__(, ) __VA_ARGS__},
#define BREVIA_WINDOW_FUNCTION(declaration, line, ...) {declaration, line, true __VA_OPT__(, ) __VA_ARGS__},
#include "functions.def"
#undef BREVIA_FUNCTION
#undef BREVIA_WINDOW_FUNCTION
};

struct Function {
    std::string name;
    std::string exported;  // name with its first letter capitalised
    std::vector<std::string> outputs;
    std::vector<std::string> inputs;
    bool varargout = false;
    bool varargin = false;
    bool window = false;
    int line = 1;
    int required = 0;  // inputs a call must give, checked before the function runs

    int nargin() const { return varargin ? -1 : static_cast<int>(inputs.size()); }
    int nargout() const { return varargout ? -1 : static_cast<int>(outputs.size()); }
};

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::vector<std::string> splitNames(const std::string& list) {
    std::vector<std::string> names;
    std::string current;
    for (char c : list) {
        if (c == ',' || c == ' ') {
            if (!current.empty()) names.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) names.push_back(current);
    return names;
}

[[noreturn]] void fail(const std::string& what, const std::string& declaration) {
    std::cerr << "export_gen: " << what << " in \"" << declaration << "\"\n";
    std::exit(1);
}

Function parse(const Registration& r) {
    std::string d = trim(r.declaration);
    if (d.rfind("function ", 0) != 0) fail("declaration must start with 'function'", r.declaration);
    d = trim(d.substr(9));
    Function f;
    f.line = r.line;
    f.window = r.window;
    const auto eq = d.find('=');
    if (eq != std::string::npos) {
        std::string outs = trim(d.substr(0, eq));
        if (!outs.empty() && outs.front() == '[') {
            if (outs.back() != ']') fail("unbalanced output list", r.declaration);
            outs = outs.substr(1, outs.size() - 2);
        }
        f.outputs = splitNames(outs);
        d = trim(d.substr(eq + 1));
    }
    const auto paren = d.find('(');
    if (paren != std::string::npos) {
        if (d.back() != ')') fail("unbalanced input list", r.declaration);
        f.inputs = splitNames(d.substr(paren + 1, d.size() - paren - 2));
        d = trim(d.substr(0, paren));
    }
    f.name = d;
    if (f.name.empty()) fail("missing function name", r.declaration);
    for (char c : f.name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') fail("bad function name", r.declaration);
    f.exported = f.name;
    f.exported[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(f.exported[0])));
    if (!f.outputs.empty() && f.outputs.back() == "varargout") {
        f.varargout = true;
        f.outputs.pop_back();
    }
    if (!f.inputs.empty() && f.inputs.back() == "varargin") {
        f.varargin = true;
        f.inputs.pop_back();
    }
    for (const auto& n : f.outputs)
        if (n == "varargout") fail("varargout must come last", r.declaration);
    for (const auto& n : f.inputs)
        if (n == "varargin") fail("varargin must come last", r.declaration);
    f.required = r.required >= 0 ? r.required : static_cast<int>(f.inputs.size());
    if (f.required > static_cast<int>(f.inputs.size())) fail("more inputs required than declared", r.declaration);
    return f;
}

// Parameter list of mlfX: output pointers for outputs 2..n, then the inputs, then "..."
// for varargin (a NULL-terminated list). `withNargout` puts "int nargout" first (mlfNX).
std::string mlfParameters(const Function& f, bool withNargout, bool withOutputs) {
    std::vector<std::string> params;
    if (withNargout) params.push_back("int nargout");
    if (withOutputs)
        for (std::size_t i = 1; i < f.outputs.size(); ++i) params.push_back("mxArray** " + f.outputs[i]);
    for (const auto& in : f.inputs) params.push_back("mxArray* " + in);
    if (f.varargin) {
        // C needs a named parameter before "...": the first variable input is named.
        if (f.inputs.empty()) params.push_back("mxArray* varargin1");
        params.push_back("...");
    }
    if (params.empty()) return "void";
    std::string s;
    for (std::size_t i = 0; i < params.size(); ++i) s += (i ? ", " : "") + params[i];
    return s;
}

std::string returnType(const Function& f) { return (f.outputs.empty() && !f.varargout) ? "void" : "mxArray*"; }

void writeHeader(std::ostream& h, const std::vector<Function>& fs) {
    h << "/* Generated from src/functions.def by export_gen: do not edit. */\n"
         "#ifndef BREVIA_FUNCTIONS_H\n#define BREVIA_FUNCTIONS_H\n\n#include \"brevia_mx.h\"\n\n"
         "#ifdef __cplusplus\nextern \"C\" {\n#endif\n\n";
    for (const auto& f : fs) {
        h << "/* " << f.name << ": " << (f.nargin() < 0 ? std::string("variable") : std::to_string(f.nargin()))
          << " inputs, " << (f.nargout() < 0 ? std::string("variable") : std::to_string(f.nargout())) << " outputs */\n";
        h << "BREVIA_API " << returnType(f) << " mlf" << f.exported << "(" << mlfParameters(f, false, true) << ");\n";
        if (f.varargout) {
            h << "BREVIA_API mxArray* mlfN" << f.exported << "(" << mlfParameters(f, true, true) << ");\n";
            h << "BREVIA_API void mlfV" << f.exported << "(" << mlfParameters(f, false, false) << ");\n";
        }
        h << "BREVIA_API void mlx" << f.exported << "(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]);\n\n";
    }
    h << "#ifdef __cplusplus\n}\n#endif\n\n#endif /* BREVIA_FUNCTIONS_H */\n";
}

// Body of an mlf form: collects outputs and inputs and calls through the table.
void writeMlfBody(std::ostream& s, const Function& f, std::size_t index, const std::string& nargout, bool withOutputs) {
    s << "{\n";
    if (f.varargin) {
        const std::string last = f.inputs.empty() ? "varargin1" : f.inputs.back();
        s << "    std::va_list rest;\n    va_start(rest, " << last << ");\n";
    }
    s << "    mxArray* result = host::exports::callMlf(host::functionTable()[" << index << "], " << nargout << ", {";
    if (withOutputs)
        for (std::size_t i = 1; i < f.outputs.size(); ++i) s << (i > 1 ? ", " : "") << f.outputs[i];
    s << "}, {";
    for (std::size_t i = 0; i < f.inputs.size(); ++i) s << (i ? ", " : "") << f.inputs[i];
    if (f.varargin && f.inputs.empty()) s << "varargin1";
    s << "}" << (f.varargin ? ", &rest" : "") << ");\n";
    if (f.varargin) s << "    va_end(rest);\n";
    if (returnType(f) == "void" && nargout == "0")
        s << "    mxDestroyArray(result);\n}\n\n";
    else
        s << "    return result;\n}\n\n";
}

void writeSource(std::ostream& s, const std::vector<Function>& fs) {
    s << "// Generated from src/functions.def by export_gen: do not edit.\n"
         "#include <cstdarg>\n\n#include \"brevia.h\"\n#include \"host/exports.h\"\n\n"
         "#include \"host/window_part.h\"\n\n"
         "namespace brevia::bind {\n";
    for (const auto& f : fs)
        if (!f.window) s << "std::vector<host::Array> " << f.name << "(int nargout, host::Arguments args);\n";
    s << "}  // namespace brevia::bind\n\n"
         "// The window functions live in the window library, loaded on the first call.\n"
         "namespace brevia::forward {\n";
    for (const auto& f : fs)
        if (f.window)
            s << "std::vector<host::Array> " << f.name << "(int nargout, host::Arguments args) {\n"
              << "    return host::window::call(\"" << f.name << "\", nargout, args);\n}\n";
    s << "}  // namespace brevia::forward\n\nnamespace host {\n\nnamespace {\nconst FunctionInfo table[] = {\n";
    for (const auto& f : fs)
        s << "    {\"" << f.name << "\", \"" << f.exported << "\", " << f.nargin() << ", " << f.nargout() << ", "
          << f.line << ", &brevia::" << (f.window ? "forward::" : "bind::") << f.name << ", " << f.required << "},\n";
    s << "};\n}  // namespace\n\nstd::span<const FunctionInfo> functionTable() { return table; }\n\n}  // namespace host\n\n"
         "extern \"C\" {\n\n";
    for (std::size_t i = 0; i < fs.size(); ++i) {
        const Function& f = fs[i];
        const bool returnsValue = returnType(f) != "void";
        s << returnType(f) << " mlf" << f.exported << "(" << mlfParameters(f, false, true) << ")\n";
        writeMlfBody(s, f, i, returnsValue ? "1" : "0", true);
        if (f.varargout) {
            s << "mxArray* mlfN" << f.exported << "(" << mlfParameters(f, true, true) << ")\n";
            writeMlfBody(s, f, i, "nargout", true);
            s << "void mlfV" << f.exported << "(" << mlfParameters(f, false, false) << ")\n";
            Function noOut = f;
            noOut.outputs.clear();
            noOut.varargout = false;
            writeMlfBody(s, noOut, i, "0", false);
        }
        s << "void mlx" << f.exported << "(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[]) {\n"
          << "    host::exports::callMlx(host::functionTable()[" << i << "], nlhs, plhs, nrhs, prhs);\n}\n\n";
    }
    s << "}  // extern \"C\"\n";
}

void writeWindowSource(std::ostream& s, const std::vector<Function>& fs) {
    s << "// Generated from src/functions.def by export_gen: do not edit.\n"
         "#include \"host/window_part.h\"\n\nnamespace brevia::bind {\n";
    for (const auto& f : fs)
        if (f.window) s << "std::vector<host::Array> " << f.name << "(int nargout, host::Arguments args);\n";
    s << "}  // namespace brevia::bind\n\nnamespace host::window {\n\nnamespace {\nconst Binding bindings[] = {\n";
    for (const auto& f : fs)
        if (f.window) s << "    {\"" << f.name << "\", &brevia::bind::" << f.name << "},\n";
    s << "};\n}  // namespace\n\nstd::span<const Binding> windowBindings() { return bindings; }\n\n}  // namespace host::window\n";
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) {
        std::cerr << "export_gen: cannot write " << path << "\n";
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: export_gen HEADER SOURCE WINDOW_SOURCE\n";
        return 2;
    }
    std::vector<Function> fs;
    for (const auto& r : registrations) {
        Function f = parse(r);
        for (const auto& other : fs)
            if (other.name == f.name) fail("duplicate registration", r.declaration);
        fs.push_back(std::move(f));
    }
    std::ostringstream header, source, windowSource;
    writeHeader(header, fs);
    writeSource(source, fs);
    writeWindowSource(windowSource, fs);
    writeFile(argv[1], header.str());
    writeFile(argv[2], source.str());
    writeFile(argv[3], windowSource.str());
    return 0;
}
