#pragma once
// The console link over the GPIB driver binding: one device handle of a driver loaded for it.
#include "connection/ConnectionString.h"
#include "connection/Gpib.h"
#include "console/ConsoleLink.h"

class GpibLink : public ConsoleLink {
public:
    // How long a send or a read waits for the device.
    static constexpr int32_t TimeoutMs = 500;

    GpibLink(const std::string& params, LinkEvents events, Handover& handover);
    // Closes the device and unloads the driver, so its thread never posts to a link that is gone.
    ~GpibLink() override;

    // Loads the driver, starts its events and opens the device; done runs before this returns.
    void BeginOpen(OpenDone done) override;
    // Closes the device ("Disconnected from GPIB adapter.") and unloads the driver.
    void Close() override;
    bool IsOpen() const override { return handle_ != -1; }
    bool SendLine(const std::string& text) override;
    bool WriteLine(const std::string& text) override;
    bool SendBytes(const std::string& bytes) override;
    bool ReadReply() override;
    std::string SendFailure() const override;
    bool IsGpib() const override { return true; }
    TIO* Tio() const override { return nullptr; }

private:
    void OnDriverEvent(intptr_t kind);

    GpibTarget target_;
    LinkEvents events_;
    int32_t handle_ = -1;
    bool loaded_ = false;
    gpib_notify_target notify_{};
    // Events posted by the driver's thread run later on the UI thread; they check this first.
    std::shared_ptr<GpibLink*> self_;
};
