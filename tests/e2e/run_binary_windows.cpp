// runBinary for the Windows build of the tests: CreateProcessW with standard output and error
// redirected to files, a changed copy of the environment block and an optional working
// directory. Arguments are quoted the way the C runtime splits them again.
#include "e2e/run_binary.h"
#include "platform/child_process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring w(size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), w.data(), n);
    return w;
}

bool sameName(const std::wstring& entry, const std::wstring& name) {
    return entry.size() > name.size() && entry[name.size()] == L'=' &&
           CompareStringOrdinal(entry.c_str(), int(name.size()), name.c_str(), int(name.size()),
                                TRUE) == CSTR_EQUAL;
}

std::wstring environmentBlock(const std::vector<std::string>& unsetVariables,
                              const std::vector<std::string>& setVariables) {
    std::vector<std::wstring> removed;
    for (const std::string& name : unsetVariables)
        removed.push_back(wide(name));
    for (const std::string& assignment : setVariables)
        removed.push_back(wide(assignment.substr(0, assignment.find('='))));
    std::wstring block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* p = strings; *p; p += wcslen(p) + 1) {
        const std::wstring entry(p);
        bool drop = false;
        for (const std::wstring& name : removed)
            drop = drop || sameName(entry, name);
        if (!drop) block += entry + L'\0';
    }
    FreeEnvironmentStringsW(strings);
    for (const std::string& assignment : setVariables)
        block += wide(assignment) + L'\0';
    block += L'\0';
    return block;
}

HANDLE openForChild(const std::string& path) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string readAll(const std::string& path) {
    std::ifstream in(std::filesystem::path(wide(path)), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A hung run fails the test that made it, naming the command, and says so in err as well.
void reportTimeout(BinaryRun& run, const char* path, const std::vector<std::string>& args,
                   int limit) {
    std::string command = path;
    for (const std::string& a : args)
        command += " " + a;
    const std::string line =
        "timed out: " + command + " still ran after " + std::to_string(limit) + " s and was killed";
    run.err += (run.err.empty() || run.err.back() == '\n' ? "" : "\n") + line + "\n";
    ADD_FAILURE() << line;
}

} // namespace

std::string scratchDirectory(const char* name) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        (std::string("quilm-e2e-") + name + "-" + std::to_string(GetCurrentProcessId()));
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    const std::u8string text = dir.u8string();
    return std::string(text.begin(), text.end());
}

BinaryRun runBinary(const char* path, const std::vector<std::string>& args,
                    const std::vector<std::string>& unsetVariables,
                    const std::vector<std::string>& setVariables,
                    const std::string& workingDirectory, int timeoutSeconds) {
    const int limit = runBinaryTimeoutSeconds(timeoutSeconds);
    const std::string dir = scratchDirectory("io");
    const std::string outPath = dir + "/out";
    const std::string errPath = dir + "/err";
    BinaryRun run;
    HANDLE out = openForChild(outPath);
    HANDLE err = openForChild(errPath);
    if (out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE) {
        std::wstring line;
        appendQuotedArgument(line, wide(path));
        for (const std::string& a : args) {
            line += L' ';
            appendQuotedArgument(line, wide(a));
        }
        std::wstring environment = environmentBlock(unsetVariables, setVariables);
        const std::wstring directory = wide(workingDirectory);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = out;
        startup.hStdError = err;
        PROCESS_INFORMATION process = {};
        if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                           environment.data(), directory.empty() ? nullptr : directory.c_str(),
                           &startup, &process)) {
            const DWORD limitMs = DWORD(limit) * 1000u;
            if (WaitForSingleObject(process.hProcess, limitMs) == WAIT_TIMEOUT) {
                TerminateProcess(process.hProcess, 1);
                WaitForSingleObject(process.hProcess, INFINITE);
                run.timedOut = true;
            }
            DWORD code = 0;
            if (!run.timedOut && GetExitCodeProcess(process.hProcess, &code))
                run.status = int(code);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
    if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) CloseHandle(err);
    run.out = readAll(outPath);
    run.err = readAll(errPath);
    if (run.timedOut) reportTimeout(run, path, args, limit);
    return run;
}
