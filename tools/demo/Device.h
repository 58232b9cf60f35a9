// The simulated serial device: the master side of a pty whose slave Varnel opens as COM3.
#pragma once

#include "tools/demo/Console.h"
#include "tools/demo/Fd.h"

#include <string>

namespace demo {

class Device {
public:
    // Creates the pty pair, puts the slave in raw mode and keeps a descriptor of it open, so
    // the master never sees a hang-up while Varnel closes and reopens the port. The slave is
    // neither locked nor made exclusive: Varnel opens it exclusively. Prints why on failure.
    bool Open();

    const std::string& SlavePath() const { return m_slavePath; }
    int Fd() const { return m_master.Get(); }

    // Reads what Varnel wrote to the port and prints it.
    void OnReadable();

    // Writes the next line of text when it is due. A line is held back while the previous one
    // still waits unread on the port, so a port nobody has opened yet does not fill up.
    void OnTime(Clock::time_point now);
    Clock::time_point NextDue() const { return m_due; }

private:
    // The slave is declared first so that the master is closed first.
    demo::Fd m_slave;
    demo::Fd m_master;
    std::string m_slavePath;
    Clock::time_point m_due;
    unsigned m_lines = 0;
    bool m_holding = false;
};

} // namespace demo
