// TMainForm's workflow: one step of a small state machine per timer tick.
// It searches the serial ports for a scale through the driver, reads the
// scale into the form, probes the scale's interfaces and MAC addresses over
// the serial port itself, watches the scale once a second, writes edits back
// and runs the closing dialogue.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "tool/Controls.h"
#include "tool/DriverClient.h"
#include "tool/ParamForm.h"
#include "tool/SerialPort.h"

namespace pesoconf {

constexpr int32_t ProbeSize = 201;
constexpr uint32_t ProbeQueueSize = 100000;
constexpr uint32_t ProbeReplyLimitMs = 2500;

class Workflow {
public:
    using DriverFactory = std::function<std::unique_ptr<DriverClient>()>;

    Workflow(ParamForm& form, Host& host, SerialPort& serial, DriverFactory makeDriver);

    enum State : int32_t { Search = 1, Read = 2, Watch = 3, Write = 4 };

    int32_t WorkState = Search;
    std::u16string FoundConnection;
    bool CloseRequested = false;
    bool CloseAfterWrite = false;
    std::array<uint8_t, ProbeSize> ProbeFrame{};
    std::array<uint8_t, ProbeSize> ProbeChunk{};

    // Window events.
    void Timer1Timer();
    void SaveButton_Click();
    void CancelButton_Click();
    // The close query; returns whether the window may close.
    bool FormCloseQuery();
    void CloseButtonClick();

    // True once an error stopped the workflow for the rest of the run.
    bool Stopped() const { return Halted; }
    DriverClient* Driver() const { return Scales.get(); }

private:
    void SearchStep();
    void ReadStep();
    bool WatchStep();  // false: leave the timer off
    void WriteStep();
    bool SerialProbe();
    bool Exchange(const std::array<uint8_t, 8>& request, int32_t bytesUsed);
    bool ProbeRead(uint32_t t0, int32_t& total);
    void Pump();
    void DropEditsAndReread();

    ParamForm& Form;
    Host& Owner;
    SerialPort& Serial;
    DriverFactory MakeDriver;
    std::unique_ptr<DriverClient> Scales;
    bool Halted = false;
};

}  // namespace pesoconf
