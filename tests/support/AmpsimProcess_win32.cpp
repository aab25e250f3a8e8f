#include "AmpsimProcess.h"

#include "platform/Shell.h"
#include "platform/System.h"
#include "platform/Win32Text.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

// The child's standard output as a thread moves it out of the pipe: an anonymous pipe cannot be
// read with a time-out. lock protects output and ended.
struct OutputPipe {
    HANDLE read = nullptr;
    std::mutex lock;
    std::condition_variable arrived;
    std::string output;
    bool ended = false;
};

} // namespace

struct AmpsimProcess::Child {
    HANDLE process = nullptr;
    DWORD pid = 0;
    HANDLE stdinWrite = nullptr;
    OutputPipe out;
    std::thread reader;
};

namespace {

std::string Failure(const std::string& what, DWORD code) {
    const std::string text = SystemErrorText(static_cast<int>(code));
    return what + ": " + (text.empty() ? "error " + std::to_string(code) : text);
}

void CloseIfOpen(HANDLE& handle) {
    if (handle) CloseHandle(handle);
    handle = nullptr;
}

// Ends when the child's end of the pipe closes: when it exits, since our copy of that end was
// closed once it had started.
void ReadAll(OutputPipe& pipe) {
    char buffer[512];
    DWORD got = 0;
    while (ReadFile(pipe.read, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        std::lock_guard<std::mutex> guard(pipe.lock);
        pipe.output.append(buffer, got);
        pipe.arrived.notify_all();
    }
    std::lock_guard<std::mutex> guard(pipe.lock);
    pipe.ended = true;
    pipe.arrived.notify_all();
}

// The child inherits exactly its three standard handles (PROC_THREAD_ATTRIBUTE_HANDLE_LIST), so a
// second simulator started meanwhile cannot hold this one's standard input open. Each must be
// inheritable and listed once.
bool Spawn(const std::wstring& path, std::wstring commandLine, HANDLE in, HANDLE out, HANDLE err,
           PROCESS_INFORMATION& started) {
    HANDLE handles[3] = {in, out, err};
    const DWORD count = err ? 3 : 2;
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return false;
    STARTUPINFOEXW info{};
    info.StartupInfo.cb = sizeof info;
    info.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    info.StartupInfo.hStdInput = in;
    info.StartupInfo.hStdOutput = out;
    info.StartupInfo.hStdError = err;
    info.lpAttributeList = attributes;
    // No console window of its own: a test run shows nothing.
    const bool ok = UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                              count * sizeof(HANDLE), nullptr, nullptr) &&
                    CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                   EXTENDED_STARTUPINFO_PRESENT | CREATE_NO_WINDOW, nullptr, nullptr,
                                   &info.StartupInfo, &started);
    const DWORD error = GetLastError();
    DeleteProcThreadAttributeList(attributes);
    SetLastError(error);
    return ok;
}

// Our standard error for the child's messages, as an inheritable copy; null when there is none.
HANDLE InheritableStderr() {
    HANDLE own = GetStdHandle(STD_ERROR_HANDLE);
    HANDLE copy = nullptr;
    if (own == nullptr || own == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), own, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

} // namespace

AmpsimProcess::AmpsimProcess(std::vector<std::string> args, int startTimeoutMs)
    : child_(std::make_unique<Child>()) {
    if (Start(FullArguments(std::move(args)))) ReadUntilReady(startTimeoutMs);
}

AmpsimProcess::~AmpsimProcess() {
    if (child_->process) {
        Terminate();
        if (WaitExit(5000) < 0) WaitForSingleObject(child_->process, INFINITE);
        CloseIfOpen(child_->process);
    }
    CloseStdin();
    if (child_->reader.joinable()) child_->reader.join();
    CloseIfOpen(child_->out.read);
}

long long AmpsimProcess::Pid() const {
    return child_->process ? static_cast<long long>(child_->pid) : -1;
}

// Our ends of the pipes are not inheritable; the child's ends are, and are closed here once it has
// its copies, so that its exit is the end of its output.
bool AmpsimProcess::Start(const std::vector<std::string>& args) {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead = nullptr, outWrite = nullptr;
    if (!CreatePipe(&inRead, &child_->stdinWrite, &inheritable, 0)) {
        error_ = Failure("CreatePipe", GetLastError());
        return false;
    }
    OwnedHandle childIn(inRead);
    if (!CreatePipe(&child_->out.read, &outWrite, &inheritable, 0)) {
        error_ = Failure("CreatePipe", GetLastError());
        return false;
    }
    OwnedHandle childOut(outWrite);
    OwnedHandle childErr(InheritableStderr());
    SetHandleInformation(child_->stdinWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(child_->out.read, HANDLE_FLAG_INHERIT, 0);

    const std::string path = GetExeDir() + "\\ampsim.exe";
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), args.begin(), args.end());
    PROCESS_INFORMATION started{};
    if (!Spawn(WideFromUtf8(path), WideFromUtf8(WindowsCommandLine(argv)), inRead, outWrite,
               childErr.Valid() ? childErr.Get() : nullptr, started)) {
        error_ = Failure("start " + path, GetLastError());
        return false;
    }
    CloseHandle(started.hThread);
    child_->process = started.hProcess;
    child_->pid = started.dwProcessId;
    child_->reader = std::thread(ReadAll, std::ref(child_->out));
    return true;
}

long AmpsimProcess::ReadOutput(char* buffer, std::size_t size, Clock::time_point deadline) {
    OutputPipe& pipe = child_->out;
    std::unique_lock<std::mutex> guard(pipe.lock);
    if (!pipe.arrived.wait_until(guard, deadline, [&pipe] { return !pipe.output.empty() || pipe.ended; }))
        return -1;
    if (pipe.output.empty()) return 0;
    const std::size_t n = std::min(size, pipe.output.size());
    std::memcpy(buffer, pipe.output.data(), n);
    pipe.output.erase(0, n);
    return static_cast<long>(n);
}

void AmpsimProcess::CloseStdin() {
    CloseIfOpen(child_->stdinWrite);
}

void AmpsimProcess::Terminate() {
    if (child_->process) TerminateProcess(child_->process, 1);
}

int AmpsimProcess::WaitExit(int timeoutMs) {
    if (!child_->process) return -1;
    if (WaitForSingleObject(child_->process, static_cast<DWORD>(std::max(timeoutMs, 0))) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(child_->process, &code);
    CloseIfOpen(child_->process);
    return static_cast<int>(code);
}
