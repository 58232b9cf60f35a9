// One block from the serial port through the real main window: forward to the server, format,
// log, push and scroll. Measured with both panes empty and with both at their bound; the ratio of
// the two says whether the cost of a block grows with what the panes hold.
#include "app/Varnel.h"
#include "app/VarnelDlg.h"
#include "app/framework/TestHooks.h"
#include "app/framework/qt/QtWindow.h"
#include "app/platform/Profile.h"
#include "support/LoopbackServer.h"
#include "support/PtyPair.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A serial device on a pty under COM3 and a server that reads everything, with the window's
// links up.
struct Rig {
    testing_support::TempWorkDir dir;
    testing_support::PtyPair pty;
    testing_support::LoopbackServer server;
    std::unique_ptr<CVarnelDlg> dlg;
    std::atomic<bool> stop{false};
    std::thread reader;

    Rig() {
        WritePrivateProfileStringA("Ports", "COM3", pty.SlavePath().c_str(), SETTINGS_FILE);
        WritePrivateProfileStringA("Socket", "PORT", std::to_string(server.Port()).c_str(),
                                   SETTINGS_FILE);
        WritePrivateProfileStringA("SYSTEM", "REOPEN", "0", SETTINGS_FILE);
        dlg = std::make_unique<CVarnelDlg>();
        dlg->Create();
        dlg->OnCommand(IDC_BUTTON_OPEN);
        server.Accept(5s);
        reader = std::thread([this] {
            while (!stop)
                server.Drain(50ms);
        });
    }
    ~Rig() {
        stop = true;
        reader.join();
        dlg.reset();
        g_serial.Close();
        sock::closesocket(g_sock);
        g_sock = sock::INVALID_SOCKET;
        g_bTcpConnected = 0;
    }
    // Fills both panes with blocks until they are at their bound.
    // Fills both panes with blocks like `bytes` until they have reached their bound (the oldest
    // entries begin to be dropped), as after a long run of that traffic.
    void FillPanes(const std::string& bytes) {
        while (dlg->m_strComData.DroppedFront() == 0 || dlg->m_strTcpData.DroppedFront() == 0) {
            dlg->ShowTrafficBlock(false, bytes.data(), static_cast<int>(bytes.size()));
            dlg->m_strComData += "\r\n";
            dlg->ShowTrafficBlock(true, bytes.data(), static_cast<int>(bytes.size()));
            dlg->m_strTcpData += "\r\n";
        }
        dlg->UpdateData(false);
        QCoreApplication::processEvents();
    }
    void ClearPanes() {
        dlg->m_strComData.Empty();
        dlg->m_strTcpData.Empty();
        dlg->UpdateData(false);
    }
    // One serial block of `size` bytes, handled by one tick of the serial poll.
    void OneBlock(const std::string& bytes) {
        pty.Send(bytes);
        const std::int64_t before = g_nComBytes;
        // The device's bytes are in the port's queue as soon as the kernel has them.
        while (g_nComBytes == before)
            dlg->OnTimer(TIMER_COM);
        // What the window posted to itself (scroll ranges, repaints) is handled as it would be.
        QCoreApplication::processEvents();
    }
};

void BlockCost(benchmark::State& state, bool panesAtBound) {
    Rig rig;
    const std::string bytes(static_cast<std::size_t>(state.range(0)), 'A');
    if (panesAtBound)
        rig.FillPanes(bytes);
    int sinceClear = 0;
    for (auto _ : state) {
        rig.OneBlock(bytes);
        if (!panesAtBound && ++sinceClear == 200) {
            state.PauseTiming();
            rig.ClearPanes();
            sinceClear = 0;
            state.ResumeTiming();
        }
    }
    state.counters["pane_bytes"] = static_cast<double>(rig.dlg->m_strComData.size());
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_BlockEmptyPanes(benchmark::State& state) {
    BlockCost(state, false);
}
void BM_BlockPanesAtBound(benchmark::State& state) {
    BlockCost(state, true);
}

// Resident memory of the process in KiB.
double ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6));
    return 0;
}

// Memory of the window while blocks keep coming: it must level off once both panes are at
// their bound. Arguments: traffic in multiples of what the two panes hold, the block size, and
// 1 for hexadecimal display. Blocks of 1152 bytes are what 100 ms of a 115200-baud line bring;
// small blocks in text form make many short lines, the dearest case for the window.
void BM_PaneMemory(benchmark::State& state) {
    Rig rig;
    const auto size = static_cast<std::size_t>(state.range(1));
    const bool hex = state.range(2) != 0;
    rig.dlg->m_chkHex.SetCheck(hex ? 1 : 0);
    std::string block(size, 'Z');
    for (std::size_t i = 8; i < size; i += 9)
        block[i] = '\n';
    const double start = ResidentKiB();
    const std::size_t entry = 64 + (hex ? 3 * size : size);
    const std::size_t total =
        static_cast<std::size_t>(state.range(0)) * 2 * PANE_TEXT_LIMIT / entry;
    std::size_t blocks = 0;
    for (auto _ : state) {
        for (blocks = 0; blocks < total; ++blocks) {
            const bool fromNetwork = blocks % 2 == 1;
            rig.dlg->ShowTrafficBlock(fromNetwork, block.data(), static_cast<int>(size));
            (fromNetwork ? rig.dlg->m_strTcpData : rig.dlg->m_strComData) += "\r\n";
            rig.dlg->UpdateData(false);
            rig.dlg->m_editComData.LineScroll(rig.dlg->m_editComData.GetLineCount());
            rig.dlg->m_editTcpData.LineScroll(rig.dlg->m_editTcpData.GetLineCount());
            QCoreApplication::processEvents();
            if ((blocks + 1) % (total / 8) == 0)
                state.counters["rss_MiB_" + std::to_string((blocks + 1) / (total / 8))] =
                    ResidentKiB() / 1024;
        }
    }
    state.counters["rss_start_MiB"] = start / 1024;
    state.counters["blocks"] = static_cast<double>(blocks);
}

BENCHMARK(BM_PaneMemory)
    ->Args({8, 1152, 1})
    ->Args({4, 40, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BlockEmptyPanes)->Arg(64)->Arg(1024)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_BlockPanesAtBound)->Arg(64)->Arg(1024)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    AfxInitGui();
    static_cast<void>(theApp);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
