#include "ModuleServer.h"

#include <mmsystem.h>

#include <algorithm>
#include <cstdio>

#include "sim/common/MotorTable.h"
#include "sim/common/SimulatorNames.h"

namespace sim {

namespace {

std::string ErrorText(const char* what, DWORD code) {
    return std::string(what) + " (error " + std::to_string(code) + ")";
}

}  // namespace

ModuleServer::ModuleServer(std::string pipePath, Options options)
    : pipePath_(std::move(pipePath)),
      control_(ControlPipePath(pipePath_)),
      options_(options),
      link_(kInstances, options.linkPeriodUs) {
    for (Instance& in : instances_) {
        in.in.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        in.out.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
}

ModuleServer::~ModuleServer() {
    Pull();
    for (Instance& in : instances_) {
        CloseHandle(in.in.hEvent);
        CloseHandle(in.out.hEvent);
    }
    if (running_ != nullptr) CloseHandle(running_);
}

bool ModuleServer::Claim(std::string& error) {
    running_ = CreateMutexA(nullptr, FALSE, RunningObjectName(pipePath_).c_str());
    if (running_ == nullptr) {
        error = ErrorText(("cannot claim the pipe name " + pipePath_).c_str(), GetLastError());
        return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        error = "the pipe name " + pipePath_ + " is in use by another q417-sim";
        return false;
    }
    return control_.Open(error);
}

bool ModuleServer::Start(std::ostream& trace, const std::string& traceName, bool unplugged,
                         std::string& error) {
    traceName_ = traceName;
    trace_ = std::make_unique<ModuleTrace>(trace);
    trace_->Flush();
    if (!trace_->Good()) {
        error = "the trace file " + traceName_ + " is not writable";
        return false;
    }
    module_ = std::make_unique<VirtualModule>(trace_.get());
    module_->SetUnaskedStatusReports(options_.unaskedStatus);
    module_->SetStepListener(
        [this](const ModuleStep& step) { meter_.Step(step.motor, step.timeUs, step.direction); });
    if (keys_.Start()) Say("keys: p = plug in / pull out, d = deaf / hearing, q = quit");
    return unplugged || Plug(error);
}

int ModuleServer::Run() {
    timeBeginPeriod(1);  // 8 ms clock reports need waits finer than the default 15.6 ms
    const uint64_t noQuitYet = ~uint64_t{0};
    uint64_t quitDeadlineUs = noQuitYet;
    for (;;) {
        if (quit_ && quitDeadlineUs == noQuitYet) quitDeadlineUs = NowUs() + 1000000;
        // Ends once the reply to "quit" has been read by its client, or after a second.
        if (quit_ && (!control_.ReplyPending() || NowUs() >= quitDeadlineUs)) break;

        std::vector<HANDLE> events{keys_.Event()};
        for (const Instance& in : instances_) {
            if (in.inPending) events.push_back(in.in.hEvent);
            if (in.outPending) events.push_back(in.out.hEvent);
        }
        control_.AddWaitEvents(events);

        DWORD timeoutMs = INFINITE;
        const uint64_t now = NowUs();
        if (plugged_ != nullptr) {
            uint64_t next = module_->NextEventUs();
            for (const Instance& in : instances_)
                if (in.readWaiting) next = std::min(next, std::max(link_.FreeUs(), now + 1));
            if (link_.ReceiveHeld(now)) next = std::min(next, link_.HeldUntilUs());
            timeoutMs = next > now ? static_cast<DWORD>((next - now + 999) / 1000) : 0;
        }
        if (view_.Active()) {
            const uint64_t untilShowMs = nextShowUs_ > now ? (nextShowUs_ - now + 999) / 1000 : 0;
            if (untilShowMs < timeoutMs) timeoutMs = static_cast<DWORD>(untilShowMs);
        }
        if (quit_) timeoutMs = 10;
        WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE, timeoutMs);

        for (Instance& in : instances_) {
            if (in.inPending && HasOverlappedIoCompleted(&in.in)) CompleteIn(in, false);
            if (in.outPending && HasOverlappedIoCompleted(&in.out)) CompleteOut(in, false);
            SendUnread(in);
        }
        ResumeReads();
        control_.Service([this](ControlCommand command, uint64_t argument) {
            return Execute(command, argument);
        });
        HandleKeys();
        AdvanceModule();
        if (view_.Active() && NowUs() >= nextShowUs_) {
            nextShowUs_ = NowUs() + kShowPeriodUs;
            ShowMotors();
        }
    }
    timeEndPeriod(1);
    Say("quit");
    Pull();  // the module goes with the simulator, and the program hears of it
    if (view_.Active()) ShowMotors();  // the last picture says so
    return 0;
}

std::string ModuleServer::Execute(ControlCommand command, uint64_t argument) {
    std::string error;
    switch (command) {
        case ControlCommand::Plug:
            if (!Plug(error)) {
                Say("cannot plug in: " + error);
                return "error: " + error;
            }
            return "ok";
        case ControlCommand::Pull:
            Pull();
            return "ok";
        case ControlCommand::Deaf:
            SetDeaf(true);
            return "ok";
        case ControlCommand::Hear:
            SetDeaf(false);
            return "ok";
        case ControlCommand::Quit:
            quit_ = true;
            return "ok";
        case ControlCommand::Stall:
            link_.HoldReceive(NowUs(), argument * 1000);
            Say("stall: the host's receive side is held for " + std::to_string(argument) + " ms");
            return "ok";
        case ControlCommand::Unknown:
            break;
    }
    return "error: unknown command";
}

void ModuleServer::HandleKeys() {
    for (char key : keys_.Take()) {
        switch (key) {
            case 'p':
                Execute(plugged_ != nullptr ? ControlCommand::Pull : ControlCommand::Plug);
                break;
            case 'd':
                Execute(deaf_ ? ControlCommand::Hear : ControlCommand::Deaf);
                break;
            case 'q':
                Execute(ControlCommand::Quit);
                break;
            default:
                break;
        }
    }
}

bool ModuleServer::Plug(std::string& error) {
    if (plugged_ != nullptr) return true;
    for (int i = 0; i < kInstances; ++i) {
        Instance& in = instances_[i];
        // No buffers: a write of an output report completes when the module has read it, and
        // a handle's unread input reports wait here, where the oldest can be dropped.
        const DWORD firstFlag = i == 0 ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0;
        in.pipe = CreateNamedPipeA(
            pipePath_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | firstFlag,
            PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, kInstances, 0, 0, 0, nullptr);
        if (in.pipe == INVALID_HANDLE_VALUE) {
            const DWORD code = GetLastError();
            error = code == ERROR_ACCESS_DENIED || code == ERROR_PIPE_BUSY
                        ? "the pipe " + pipePath_ + " is in use by another process"
                        : ErrorText(("cannot create the pipe " + pipePath_).c_str(), code);
            for (Instance& made : instances_) {
                if (made.pipe != INVALID_HANDLE_VALUE) AbortIo(made);
                if (made.pipe != INVALID_HANDLE_VALUE) CloseHandle(made.pipe);
                made.pipe = INVALID_HANDLE_VALUE;
                made.connected = false;
            }
            return false;
        }
        Listen(in);
    }
    module_->PowerUp(NowUs());
    meter_.Clear();
    // Announced only now that every instance listens: a locator that sees the object finds a
    // pipe that opens.
    plugged_ = CreateEventA(nullptr, TRUE, FALSE, PluggedObjectName(pipePath_).c_str());
    Say("plugged in: " + pipePath_);
    broadcaster_.Notify();
    return true;
}

void ModuleServer::Pull() {
    if (plugged_ == nullptr) return;
    // Hidden from the locator first, then gone.
    CloseHandle(plugged_);
    plugged_ = nullptr;
    for (Instance& in : instances_) {
        AbortIo(in);
        CloseHandle(in.pipe);
        in.pipe = INVALID_HANDLE_VALUE;
        in.connected = false;
        in.discarding = false;
        in.readWaiting = false;
        link_.Close(Handle(in));
    }
    Say("pulled out");
    broadcaster_.Notify();
}

void ModuleServer::SetDeaf(bool deaf) {
    if (deaf == deaf_) return;
    deaf_ = deaf;
    for (Instance& in : instances_) {
        if (!in.connected) continue;
        if (deaf && in.inPending && !in.discarding) {
            // Stop the read in progress. One that completed meanwhile is handled as usual.
            CancelIoEx(in.pipe, &in.in);
            CompleteIn(in, true);
        } else if (!deaf && !in.inPending) {
            in.readWaiting = true;  // when the link is free
        }
    }
    Say(deaf ? "deaf: output reports are not read" : "hearing: output reports are read");
}

void ModuleServer::Listen(Instance& in) {
    in.connected = false;
    in.discarding = false;
    in.readWaiting = false;
    link_.Close(Handle(in));
    // A second attempt only when a client connected and left before the listen began.
    for (int attempt = 0; attempt < 2; ++attempt) {
        ResetEvent(in.in.hEvent);
        in.inPending = true;
        if (ConnectNamedPipe(in.pipe, &in.in)) return;  // completes through the event
        const DWORD code = GetLastError();
        if (code == ERROR_IO_PENDING) return;
        in.inPending = false;
        if (code == ERROR_PIPE_CONNECTED) {  // a client came before the listen
            in.connected = true;
            link_.Open(Handle(in));
            in.readWaiting = true;
            return;
        }
        DisconnectNamedPipe(in.pipe);
        if (attempt == 1) Say(ErrorText("an instance of the pipe stopped listening", code));
    }
}

void ModuleServer::StartRead(Instance& in) {
    ResetEvent(in.in.hEvent);
    in.inPending = true;
    if (!ReadFile(in.pipe, in.inBuffer.data(), static_cast<DWORD>(in.inBuffer.size()), nullptr,
                  &in.in) &&
        GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) {
        in.inPending = false;
        Reconnect(in);
    }
}

void ModuleServer::CompleteIn(Instance& in, bool wait) {
    DWORD count = 0;
    const bool ok = GetOverlappedResult(in.pipe, &in.in, &count, wait);
    const DWORD code = ok ? ERROR_SUCCESS : GetLastError();
    in.inPending = false;
    ResetEvent(in.in.hEvent);

    if (!in.connected) {
        if (ok || code == ERROR_PIPE_CONNECTED) {
            in.connected = true;
            link_.Open(Handle(in));
            in.readWaiting = true;
        } else {
            Reconnect(in);
        }
        return;
    }
    if (!ok && code == ERROR_OPERATION_ABORTED) return;  // cancelled by SetDeaf
    if (!ok && code != ERROR_MORE_DATA) {                // the client has gone
        Reconnect(in);
        return;
    }
    // An overlong message is delivered once with what fits (the module refuses it for its
    // length); its rest is read and dropped.
    const bool rest = !ok;
    const bool report = !in.discarding;
    const uint64_t taken = in.takenUs != 0 ? in.takenUs : NowUs();
    in.takenUs = 0;
    if (report) Deliver(in.inBuffer.data(), count, taken);
    if (!in.connected || in.inPending) return;  // an answer found this client gone
    in.discarding = rest;
    if (in.discarding) {
        StartRead(in);
    } else if (!deaf_) {
        // The link carries the next output report a period after this one: the writer waits.
        in.readWaiting = true;
        ResumeReads();
    }
}

void ModuleServer::ResumeReads() {
    const uint64_t now = NowUs();
    if (plugged_ == nullptr || now < link_.FreeUs()) return;
    for (Instance& in : instances_) {
        if (!in.readWaiting || !in.connected || in.inPending || deaf_) continue;
        if (link_.ReportPeriodUs() == 0) {  // no link to wait for: every report as it comes
            in.readWaiting = false;
            StartRead(in);
            continue;
        }
        // The endpoint is polled, every millisecond from when the link is free, and a report
        // waiting is taken then. The pipe buffers nothing, so the program's write completes
        // only once it is read, as a device's write completes once the device has the report:
        // never before the module has it. (A read left pending would take it at once, and the
        // module would see it only when this thread next runs, after the write had returned.)
        DWORD waiting = 0;
        if (!PeekNamedPipe(in.pipe, nullptr, 0, nullptr, &waiting, nullptr)) {
            Reconnect(in);  // the client has gone
            continue;
        }
        if (waiting == 0) continue;
        in.readWaiting = false;
        // Taken now, once it is there: the program wrote it after this thread looked at the
        // clock above, perhaps.
        in.takenUs = NowUs();
        StartRead(in);
        if (in.inPending) CompleteIn(in, true);
    }
}

void ModuleServer::CompleteOut(Instance& in, bool wait) {
    DWORD count = 0;
    const bool ok = GetOverlappedResult(in.pipe, &in.out, &count, wait);
    in.outPending = false;
    ResetEvent(in.out.hEvent);
    if (!ok && in.connected) Reconnect(in);  // the client has gone
}

void ModuleServer::AbortIo(Instance& in) {
    if (in.pipe == INVALID_HANDLE_VALUE || (!in.inPending && !in.outPending)) return;
    CancelIo(in.pipe);
    DWORD count = 0;
    if (in.inPending) GetOverlappedResult(in.pipe, &in.in, &count, TRUE);
    if (in.outPending) GetOverlappedResult(in.pipe, &in.out, &count, TRUE);
    in.inPending = false;
    in.outPending = false;
    ResetEvent(in.in.hEvent);
    ResetEvent(in.out.hEvent);
}

void ModuleServer::Reconnect(Instance& in) {
    AbortIo(in);
    DisconnectNamedPipe(in.pipe);
    Listen(in);
}

void ModuleServer::Deliver(const uint8_t* report, size_t length, uint64_t takenUs) {
    std::vector<Report> answers;
    // Reads start only once the link is free, so the report is taken when it was read; Carry
    // books the link for the next one.
    module_->Receive(report, length, link_.Carry(takenUs), answers);
    if (!trace_->Good() && !traceFailed_) {
        traceFailed_ = true;
        Say("warning: writing the trace file " + traceName_ +
            " failed; later events are not traced");
    }
    for (const Report& answer : answers)
        Broadcast(answer);
}

void ModuleServer::Broadcast(const Report& report) {
    link_.Post(report);
    for (Instance& in : instances_)
        SendUnread(in);
}

void ModuleServer::SendUnread(Instance& in) {
    if (in.outPending && HasOverlappedIoCompleted(&in.out)) CompleteOut(in, false);
    if (!in.connected || in.outPending) return;
    if (!link_.Read(Handle(in), NowUs(), in.outBuffer)) return;
    ResetEvent(in.out.hEvent);
    in.outPending = true;
    if (!WriteFile(in.pipe, in.outBuffer.data(), kReportLength, nullptr, &in.out) &&
        GetLastError() != ERROR_IO_PENDING) {
        in.outPending = false;
        Reconnect(in);
    }
}

void ModuleServer::AdvanceModule() {
    if (plugged_ == nullptr) return;
    const uint64_t now = NowUs();
    std::vector<Report> reports;
    module_->Advance(now, reports);
    for (const Report& report : reports)
        Broadcast(report);
}

void ModuleServer::ShowMotors() {
    std::array<MotorRow, VirtualModule::kMotors> rows{};
    const uint64_t now = NowUs();
    for (int m = 1; m <= VirtualModule::kMotors; ++m) {
        MotorRow& row = rows[static_cast<size_t>(m - 1)];
        row.position = module_->Position(m);
        row.stepsPerSecond = plugged_ != nullptr ? meter_.StepsPerSecond(m, now) : 0.0;
        row.phase = module_->Phase(m);
        row.freePlaces = module_->FreePlaces(m);
        row.resetting = (module_->ResetMask() & (1u << (m - 1))) != 0;
        row.overlaps = module_->Overlaps(m);
        row.underruns = module_->Underruns(m);
        row.overwrites = module_->CoilOverwrites(m);
    }
    const std::string status =
        std::string("q417-sim  ") + (plugged_ != nullptr ? "plugged in" : "pulled out") + ", " +
        (deaf_ ? "deaf" : "hearing") + "      keys: p plug/pull, d deaf/hearing, q quit";
    view_.Draw(MotorTableLines(status, rows));
}

uint64_t ModuleServer::NowUs() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const uint64_t elapsed = static_cast<uint64_t>(now.QuadPart - start_.QuadPart);
    const uint64_t frequency = static_cast<uint64_t>(frequency_.QuadPart);
    return elapsed / frequency * 1000000 + elapsed % frequency * 1000000 / frequency;
}

void ModuleServer::Say(const std::string& text) {
    view_.Message(text);
}

}  // namespace sim
