#include "bench/rig/Session.h"

#include "app/platform/Profile.h"
#include "bench/rig/Listen.h"

#include <cstdio>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

namespace rig {

namespace {

// Writes the settings Varnel reads at start: COM3 is the pty, 115200 baud, the rig's server,
// REOPEN off (the rig wants the links to stay up), text or hexadecimal panes, either mode.
// Unattended: Varnel opens the link at start and brings back a side that dropped (waits of at
// most 2 s between attempts). Listening: Varnel opens at start and serves up to 8 clients at the
// port.
bool WriteConfig(const std::string& folder, const std::string& device, std::uint16_t port, bool hex,
                 bool fast, bool unattended, bool listen) {
    const int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (here < 0 || chdir(folder.c_str()) != 0) {
        if (here >= 0) {
            close(here);
        }
        return false;
    }
    const char* file = ".\\VarnelConfig.ini";
    const std::string portText = std::to_string(port);
    // No device: COM3 is found by the contender's platform (the Wine prefix's link).
    bool ok = device.empty() || WritePrivateProfileStringA("Ports", "COM3", device.c_str(), file);
    ok = WritePrivateProfileStringA("SYSTEM", "REOPEN", "0", file) && ok;
    ok = WritePrivateProfileStringA("SYSTEM", "HEX", hex ? "1" : "0", file) && ok;
    ok = WritePrivateProfileStringA("SYSTEM", "FAST", fast ? "1" : "0", file) && ok;
    if (unattended) {
        ok = WritePrivateProfileStringA("SYSTEM", "RECONNECT", "2", file) && ok;
        ok = WritePrivateProfileStringA("SYSTEM", "AUTOOPEN", "1", file) && ok;
    }
    if (listen) {
        ok = WritePrivateProfileStringA("SYSTEM", "AUTOOPEN", "1", file) && ok;
        ok = WritePrivateProfileStringA("Socket", "LISTEN", "1", file) && ok;
        ok = WritePrivateProfileStringA("Socket", "CLIENTS", "8", file) && ok;
    }
    ok = WritePrivateProfileStringA("Socket", "ServerIP", "127.0.0.1", file) && ok;
    ok = WritePrivateProfileStringA("Socket", "PORT", portText.c_str(), file) && ok;
    ok = WritePrivateProfileStringA("COM", "COM", "2", file) && ok;
    ok = WritePrivateProfileStringA("COM", "BaudRate", "5", file) && ok;
    ok = fchdir(here) == 0 && ok;
    close(here);
    return ok;
}

// ser2net's settings: the port on 127.0.0.1, the pty at 115200 8N1 without modem lines, up to 8
// clients at once, a further one taking the place of the oldest.
bool WriteSer2netYaml(const std::string& folder, const std::string& device,
                      const std::string& port) {
    std::FILE* f = std::fopen((folder + "/ser2net.yaml").c_str(), "w");
    if (!f) {
        return false;
    }
    std::fprintf(f,
                 "%%YAML 1.1\n---\nconnection: &rig\n  accepter: tcp,127.0.0.1,%s\n"
                 "  connector: serialdev,%s,115200n81,local\n  options:\n"
                 "    kickolduser: true\n    max-connections: 8\n",
                 port.c_str(), device.c_str());
    return std::fclose(f) == 0;
}

// Presses the Open button the way a user would: waits for the window, gives it the focus and
// presses Enter (the focus starts on the Open button, the default button). Tries again, with a
// key press from the keyboard device rather than one sent to the window, when no connection
// arrives.
bool PressOpen(Server& server, Contender& contender, std::string& error) {
    std::string out;
    const int rc =
        RunCapture({"xdotool", "search", "--sync", "--onlyvisible", "--name", "^Varnel$"},
                   std::chrono::seconds(30), &out);
    std::string window = out.substr(0, out.find('\n'));
    if (rc != 0 || window.empty()) {
        error = "no window named Varnel appeared (is DISPLAY set and xdotool installed?)";
        return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int attempt = 1; attempt <= 6; ++attempt) {
        if (!contender.Alive()) {
            error = "the contender ended before it connected";
            return false;
        }
        RunCapture({"xdotool", "windowfocus", "--sync", window}, std::chrono::seconds(3), nullptr);
        if (attempt % 2 == 1) {
            RunCapture({"xdotool", "key", "--window", window, "Return"}, std::chrono::seconds(3),
                       nullptr);
        } else {
            RunCapture({"xdotool", "key", "Return"}, std::chrono::seconds(3), nullptr);
        }
        if (server.Accept(Clock::now() + std::chrono::seconds(4))) {
            std::fprintf(stderr, "rig: Open pressed (attempt %d), connected\n", attempt);
            return true;
        }
    }
    error = "no connection after pressing Enter on the Varnel window six times";
    return false;
}

} // namespace

bool Session::Up(const Options& o, std::string& error) {
    keep = o.keep;
    folder = MakeTempFolder(error);
    if (folder.empty() || !pty.Open(error)) {
        return false;
    }
    if (o.listen) {
        listenPort = FreePort();
    } else if (!server.Listen(error)) {
        return false;
    }
    const std::uint16_t portNumber = o.listen ? listenPort : server.port;
    const std::string port = std::to_string(portNumber);
    if (!o.winePrefix.empty()) {
        wineLink = o.winePrefix + "/dosdevices/com3";
        unlink(wineLink.c_str());
        if (symlink(pty.path.c_str(), wineLink.c_str()) != 0) {
            error = "cannot link " + wineLink + " to " + pty.path;
            return false;
        }
    }
    std::string device = o.winePrefix.empty() ? pty.path : "";
    if (o.chaos && !wineLink.empty()) {
        deviceLink = wineLink; // the prefix's COM3 is the name the device returns behind
    } else if (o.chaos) {
        deviceLink = folder + "/COM3";
        if (symlink(pty.path.c_str(), deviceLink.c_str()) != 0) {
            error = "cannot link " + deviceLink + " to " + pty.path;
            return false;
        }
        device = deviceLink;
    }
    if (o.ini && !WriteConfig(folder, device, portNumber, o.hex, o.fast, o.chaos, o.listen)) {
        error = "cannot write VarnelConfig.ini in " + folder;
        return false;
    }
    if (o.yaml && !WriteSer2netYaml(folder, device, port)) {
        error = "cannot write ser2net.yaml in " + folder;
        return false;
    }
    const std::string command =
        Expand(Expand(Expand(o.command, "pty", pty.path), "port", port), "dir", folder);
    std::fprintf(stderr, "rig: %s in %s: %s\n", o.contender.c_str(), folder.c_str(),
                 command.c_str());
    if (!contender.Start(command, folder, error)) {
        return false;
    }
    if (o.listen) {
        if (!Arrange(1, false, Clock::now() + std::chrono::seconds(15))) {
            error = "could not connect to the contender at 127.0.0.1:" + port + " within 15 s";
            return false;
        }
    } else if (o.pressOpen) {
        if (!PressOpen(server, contender, error)) {
            return false;
        }
    } else if (!server.Accept(Clock::now() + std::chrono::seconds(15))) {
        error = "the contender did not connect within 15 s";
        return false;
    }
    // Let both ends settle (the serial side may open after the connection).
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return true;
}

bool Session::Arrange(std::size_t count, bool withFrozen, Clock::time_point deadline) {
    const bool leaving = clients.size() > count || (!withFrozen && frozen >= 0);
    while (clients.size() > count) {
        close(clients.back());
        clients.pop_back();
    }
    if (!withFrozen && frozen >= 0) {
        close(frozen);
        frozen = -1;
    }
    if (leaving) {
        // Until the contender sees them leave, their places count as taken.
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    while (clients.size() < count) {
        const int fd = Dial(listenPort, deadline);
        if (fd < 0) {
            return false;
        }
        clients.push_back(fd);
    }
    if (withFrozen && frozen < 0) {
        // A small window: what the contender sends it piles up on the contender's side.
        frozen = Dial(listenPort, deadline, 2048);
        return frozen >= 0;
    }
    return true;
}

void Session::Down() {
    contender.Stop();
    for (const int fd : clients) {
        close(fd);
    }
    clients.clear();
    if (frozen >= 0) {
        close(frozen);
        frozen = -1;
    }
    if (!wineLink.empty()) {
        unlink(wineLink.c_str());
    }
    server.Close();
    pty.Close();
    if (!keep) {
        RemoveTree(folder);
    } else if (!folder.empty()) {
        std::fprintf(stderr, "rig: kept %s\n", folder.c_str());
    }
}

} // namespace rig
