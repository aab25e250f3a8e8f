// A program that sends one line over a serial port with the raw trace on its standard output,
// says "sent" on standard error and waits to be killed: the trace tests kill it right then.
// Usage: trace_send_helper <port path> <text>
#include "connection/Connection.h"
#include "platform/Handover.h"

#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    Handover ui;
    TIO io(ui);
    if (!io.Open(std::string("com:") + argv[1])) return 3;
    if (!io.Send(std::string(argv[2]) + "\n")) return 4;
    (void)!::write(STDERR_FILENO, "sent\n", 5);
    for (;;)
        ::pause();
}
