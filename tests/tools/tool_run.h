// vexotool run in-process, its output captured: shared by the host tests and the Windows-side
// ones, which call the same RunVexoTool on the simulator and on the simulated card under Wine.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "vexotool_commands.h"

namespace tool_run {

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

// Everything written to `file`, which this closes.
inline std::string ReadBack(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) text.append(chunk, n);
    std::fclose(file);
    return text;
}

// vexotool with these arguments (the command first, no program name), writing to `out` and
// `err`; its exit code.
inline int RunTool(std::vector<std::string> args, std::FILE* out, std::FILE* err) {
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(&arg[0]);
    return vexotool::RunVexoTool(static_cast<int>(argv.size()), argv.data(), out, err);
}

// The same with both outputs captured.
inline ToolRun Tool(std::vector<std::string> args) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = RunTool(std::move(args), out, err);
    return {status, ReadBack(out), ReadBack(err)};
}

inline bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The parts `text` lacks, one a line; empty when it holds every one.
inline std::string Missing(const std::string& text, std::initializer_list<const char*> parts) {
    std::string missing;
    for (const char* part : parts) {
        if (!Has(text, part)) missing += std::string(part) + "\n";
    }
    return missing;
}

inline std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

}  // namespace tool_run
