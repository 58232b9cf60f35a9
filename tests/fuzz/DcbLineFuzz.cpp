// Any device control block, as the first 28 bytes of the input, through the translation to the
// line settings, onto a terminal (a pty) and back, the way SetCommState and GetCommState do it.
// Nothing may crash whatever the record holds; a record that validates must be taken by the
// terminal and read back with every field that a terminal holds.
#include "FuzzCheck.h"

#include "serial/comm/linux/DcbLine.h"
#include "serial/comm/linux/TtyDevice.h"

#include <climits>
#include <cstring>
#include <memory>
#include <pty.h>
#include <unistd.h>

using namespace comm;

namespace {

// The terminal the records go to. A pty keeps no character size or parity of its own (it reads
// back 8 bits without parity whatever it was given); whether this one does is found out once.
struct Terminal {
    int master = -1;
    std::unique_ptr<Device> device;
    bool keepsFrame = false;

    Terminal() {
        int slave = -1;
        char name[PATH_MAX] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::fprintf(stderr, "no pty here: only the translation is checked\n");
            return;
        }
        ::close(slave); // the device opens it by name, as a port does
        std::uint32_t error = 0;
        device = OpenTtyDevice(name, error);
        FUZZ_CHECK(device && error == 0);
        LineSettings seven;
        seven.dataBits = 7;
        seven.parity = EVENPARITY;
        LineSettings got;
        FUZZ_CHECK(device->SetLine(seven) == 0 && device->GetLine(got) == 0);
        keepsFrame = got.dataBits == 7 && got.parity == EVENPARITY;
    }
    ~Terminal() {
        device.reset();
        if (master >= 0)
            ::close(master);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Terminal terminal;
    DCB dcb{};
    std::memcpy(&dcb, data, std::min(size, sizeof dcb));
    const bool valid = ValidateDcb(dcb) == 0;
    const LineSettings line = DcbToLine(dcb);

    // The record already holds everything its line settings say: putting them back changes
    // nothing, valid or not.
    DCB same = dcb;
    LineIntoDcb(line, same);
    FUZZ_CHECK(std::memcmp(&same, &dcb, sizeof dcb) == 0);

    if (!terminal.device)
        return 0;
    // The port refuses an invalid record before the device sees it; the device must still take
    // any settings without harm.
    const int setError = terminal.device->SetLine(line);
    if (!valid)
        return 0;
    FUZZ_CHECK(setError == 0);
    LineSettings got;
    FUZZ_CHECK(terminal.device->GetLine(got) == 0);
    DCB back = dcb;
    LineIntoDcb(got, back);

    FUZZ_CHECK(back.BaudRate == dcb.BaudRate);
    FUZZ_CHECK((back.StopBits != ONESTOPBIT) == (dcb.StopBits != ONESTOPBIT));
    if (terminal.keepsFrame) {
        FUZZ_CHECK(back.ByteSize == dcb.ByteSize && back.Parity == dcb.Parity);
        FUZZ_CHECK(back.StopBits == dcb.StopBits);
    } else {
        FUZZ_CHECK(back.ByteSize == 8 && back.Parity == NOPARITY);
    }
    FUZZ_CHECK(got.parityCheck == (dcb.fParity && dcb.Parity != NOPARITY));
    FUZZ_CHECK(back.fOutxCtsFlow == dcb.fOutxCtsFlow && back.fRtsControl == dcb.fRtsControl);
    FUZZ_CHECK(back.fOutX == dcb.fOutX && back.fInX == dcb.fInX);
    FUZZ_CHECK(back.XonChar == dcb.XonChar && back.XoffChar == dcb.XoffChar);
    // Fields that only the record holds come back untouched.
    FUZZ_CHECK(back.fDtrControl == dcb.fDtrControl && back.EvtChar == dcb.EvtChar &&
               back.XonLim == dcb.XonLim && back.fBinary == dcb.fBinary);
    return 0;
}
