#include "support/CliRun.h"

#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

namespace spindle::test {

namespace {

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

CliRun RunCli(const std::string& program, const std::filesystem::path& folder, const std::vector<std::string>& args,
              int timeoutSeconds) {
    std::string command = "cd " + Quote(folder.string()) + " && env SPINDLE_CONFIG_DIR=" +
                          Quote((folder / "config").string()) +
                          " SPINDLE_VIRTUAL_CLOCK=1 SPINDLE_USB_TRACE= SPINDLE_TRACE= ";
    if (timeoutSeconds > 0) command += "timeout -k 5 " + std::to_string(timeoutSeconds) + " ";
    command += Quote(program);
    for (const std::string& arg : args) command += " " + Quote(arg);
    command += " </dev/null >out.txt 2>err.txt";
    const int raw = std::system(command.c_str());
    CliRun result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFile(folder / "out.txt");
    result.err = ReadFile(folder / "err.txt");
    return result;
}

}  // namespace spindle::test
