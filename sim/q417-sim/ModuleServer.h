// ModuleServer: serves the virtual module (sim/module) to the unchanged program over a named
// pipe, as the USB module serves it over HID.
//
// Promises:
// - Message mode both ways, one 16-byte report per message, report id 0 in byte 0.
// - Several instances listen at once, so a client can open two handles one right after the
//   other (the program opens a reading and a writing handle); a handle whose client closes is
//   listening again at once.
// - The module's firmware (VirtualModule) runs in real time: the loop advances it to "now"
//   whenever it wakes, and sleeps no longer than until the module's next step or clock report
//   (whole milliseconds, with a 1 ms timer resolution), so segments play on time and an idle
//   module costs one wake-up per clock report. Each step is traced at its own module tick,
//   however late the loop woke for it.
// - Every input report (clock reports every 8 ms, answers, unasked status reports) goes to
//   every open handle, each its own copy, as HID gives each handle its own. Like the HID input
//   buffer, each handle keeps up to 32 unread reports besides the one on its way through the
//   pipe; a handle that falls behind (one that is only written to, never read) loses its oldest
//   for the newest, and the other handles are not held up (ModuleLink).
// - A write completes only once the module has taken the report (the pipe buffers no output
//   report), so a deaf module makes the host's write time out as an unresponsive device does.
// - The link carries one output report per report period (1 ms by default, as a full-speed
//   interrupt endpoint; 2 ms or no limit as options): the next read of an output report starts
//   only once the link is free again, so a host that writes faster waits in its WriteFile.
// - "stall N" (a control command) holds the host's receive side for N ms from that moment:
//   input reports wait in the handles' buffers and come back to back when it ends.
// - Every report received is traced with its time (ModuleTrace).
// - Plugged in: the pipe exists and the "plugged" object (SimulatorNames.h) is held; pulled
//   out: the object is gone first, then every instance is closed, so open handles fail and new
//   opens find nothing. Each change broadcasts WM_DEVICECHANGE; quitting pulls it out first.
//
// - On a console, a block of lines redrawn in place a few times a second (ConsoleView) shows
//   whether the module is plugged in and hearing, and the four motors live: position, speed
//   measured from the steps played over the last half second (SpeedMeter), phase, free places
//   of the command list (12 = empty) and whether a reset goes on. Messages appear above it.
//   Without a console (output to a file or pipe) there is no live view, only the messages.
//
// Everything runs on the one thread that calls Run, which owns all pipe operations (CancelIo
// cancels only the calling thread's operations); console keys and broadcasts have threads of
// their own that never touch the pipes.
#pragma once

#include <windows.h>

#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ConsoleKeys.h"
#include "ConsoleView.h"
#include "ControlChannel.h"
#include "DeviceChangeBroadcaster.h"
#include "sim/common/ControlCommand.h"
#include "sim/common/SpeedMeter.h"
#include "sim/module/ModuleLink.h"
#include "sim/module/ModuleTrace.h"
#include "sim/module/VirtualModule.h"

namespace sim {

class ModuleServer {
  public:
    static constexpr int kInstances = 8;
    static constexpr uint64_t kShowPeriodUs = 250000;  // refresh of the live view

    struct Options {
        bool unaskedStatus = true;  // status reports on its own (list empty, reset ended)
        uint64_t linkPeriodUs = ModuleLink::kDefaultReportPeriodUs;  // 0: no limit
    };

    ModuleServer(std::string pipePath, Options options);
    ~ModuleServer();

    ModuleServer(const ModuleServer&) = delete;
    ModuleServer& operator=(const ModuleServer&) = delete;

    // Claims the pipe name for this simulator and opens the control pipe. False, with the
    // reason in error, when another simulator or process has the name. Call before anything
    // else is written (the trace file of the other simulator may be the same file).
    bool Claim(std::string& error);

    // Starts the module with its trace (must outlive the server; traceName names it in
    // messages), plugged in unless unplugged. False, with the reason in error, when the trace
    // cannot be written or the module's pipe cannot be created.
    bool Start(std::ostream& trace, const std::string& traceName, bool unplugged,
               std::string& error);

    // Serves until told to quit (key 'q' or the "quit" command). Returns the exit code.
    int Run();

  private:
    struct Instance {
        HANDLE pipe = INVALID_HANDLE_VALUE;
        OVERLAPPED in{};   // connect, then reads
        OVERLAPPED out{};  // writes of input reports
        bool connected = false;
        bool inPending = false;
        bool outPending = false;
        bool discarding = false;   // reading the rest of an overlong message
        bool readWaiting = false;  // the next read waits until the link is free
        uint64_t takenUs = 0;      // when a polled read took its report (0: as it completes)
        std::array<uint8_t, 256> inBuffer{};
        Report outBuffer{};
    };

    bool Plug(std::string& error);
    void Pull();
    void SetDeaf(bool deaf);
    std::string Execute(ControlCommand command, uint64_t argument = 0);
    void HandleKeys();

    void Listen(Instance& in);
    void StartRead(Instance& in);
    // Starts the reads that wait for the link, once it is free.
    void ResumeReads();
    int Handle(const Instance& in) const { return static_cast<int>(&in - instances_.data()); }
    void CompleteIn(Instance& in, bool wait);
    void CompleteOut(Instance& in, bool wait);
    void SendUnread(Instance& in);
    void AbortIo(Instance& in);
    void Reconnect(Instance& in);  // drops the client and listens again
    // A report the program wrote, taken by the module at takenUs.
    void Deliver(const uint8_t* report, size_t length, uint64_t takenUs);
    void Broadcast(const Report& report);
    // Plays what fell due and sends the clock report when one is due.
    void AdvanceModule();
    void ShowMotors();

    uint64_t NowUs() const;
    void Say(const std::string& text);

    std::string pipePath_;
    std::string traceName_;
    HANDLE running_ = nullptr;  // held for the whole life: the pipe name is ours
    HANDLE plugged_ = nullptr;  // held while plugged in
    ControlChannel control_;
    DeviceChangeBroadcaster broadcaster_;
    ConsoleKeys keys_;
    std::unique_ptr<ModuleTrace> trace_;
    std::unique_ptr<VirtualModule> module_;
    Options options_;
    ModuleLink link_;
    std::array<Instance, kInstances> instances_;
    bool deaf_ = false;
    bool quit_ = false;
    bool traceFailed_ = false;
    ConsoleView view_;
    SpeedMeter meter_;  // fed by the module's step listener
    uint64_t nextShowUs_ = 0;
    LARGE_INTEGER frequency_{};
    LARGE_INTEGER start_{};
};

}  // namespace sim
