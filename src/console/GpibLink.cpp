#include "console/GpibLink.h"

#include "text/Strtools.h"

GpibLink::GpibLink(const std::string& params, LinkEvents events, Handover& handover)
    : ConsoleLink(handover), target_(ParseGpibParams(params)), events_(std::move(events)),
      self_(std::make_shared<GpibLink*>(this)) {}

GpibLink::~GpibLink() {
    *self_ = nullptr;
    if (loaded_) UnloadGpibLibrary();
}

void GpibLink::BeginOpen(OpenDone done) {
    if (!LoadGpibLibrary(GpibLibraryFileName(target_.Driver))) {
        if (done) done(OpenResult::Shown, GpibLoadError());
        return;
    }
    loaded_ = true;
    // The driver posts from a thread of its own, as it would post a window message.
    notify_.context = this;
    notify_.post = [](void* context, unsigned message, intptr_t, intptr_t kind) {
        if (message != GPIB_NOTIFY_MESSAGE) return;
        auto* link = static_cast<GpibLink*>(context);
        std::weak_ptr<GpibLink*> self = link->self_;
        link->handover_.Post([self, kind] {
            auto alive = self.lock();
            if (alive && *alive) (*alive)->OnDriverEvent(kind);
        });
    };
    gpib_init(&notify_);
    handle_ = gpib_open(target_.Adapter, target_.Address);
    if (handle_ == -1) {
        std::string why = IsGpibExportBound("gpib_open") ? gpib_geterrmsg() : "the driver has no gpib_open";
        if (done) done(OpenResult::Failed, why.empty() ? "no device answers" : why);
        return;
    }
    if (events_.Connected) events_.Connected();
    if (done) done(OpenResult::Opened, {});
}

void GpibLink::Close() {
    if (!loaded_) return;
    if (IsGpibExportBound("gpib_close") && handle_ != -1) {
        gpib_close(handle_);
        handle_ = -1;
        if (events_.Status) events_.Status("Disconnected from GPIB adapter.");
    }
    handle_ = -1;
    UnloadGpibLibrary();
    loaded_ = false;
}

bool GpibLink::SendLine(const std::string& text) {
    if (handle_ == -1 || !GpibSendEscaped(handle_, text + "\n", TimeoutMs)) return false;
    if (events_.TxEcho) events_.TxEcho(text);
    return true;
}

bool GpibLink::WriteLine(const std::string& text) {
    if (handle_ == -1 || !GpibSendRaw(handle_, text + "\n", TimeoutMs)) return false;
    if (events_.TxEcho) events_.TxEcho(text);
    return true;
}

bool GpibLink::SendBytes(const std::string& bytes) {
    if (handle_ == -1 || !GpibSendRaw(handle_, bytes, TimeoutMs)) return false;
    if (events_.TxEcho) events_.TxEcho(bytes);
    return true;
}

std::string GpibLink::SendFailure() const {
    if (handle_ == -1) return "not connected";
    if (!IsGpibExportBound("gpib_send")) return "the driver has no gpib_send";
    std::string why = gpib_geterrmsg();
    return why.empty() ? "the driver refused it" : why;
}

bool GpibLink::ReadReply() {
    std::string reply;
    if (handle_ == -1 || !GpibReceive(handle_, TimeoutMs, reply)) return false;
    if (events_.RxLine) events_.RxLine(reply, GetTimeStamp());
    return true;
}

void GpibLink::OnDriverEvent(intptr_t kind) {
    switch (kind) {
    case GPIB_EVENT_ERROR:
        if (events_.DriverError) events_.DriverError(gpib_geterrmsg());
        break;
    case GPIB_EVENT_SRQ:
        if (events_.ServiceRequest) events_.ServiceRequest();
        break;
    case GPIB_EVENT_INTERRUPT:
        if (events_.Interrupt) events_.Interrupt();
        break;
    default:
        break;
    }
}
