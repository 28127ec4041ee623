// Click to game: how much later the game starts when a link goes through quarrion_shell.exe than
// through a minimal launcher of the same design (minimal_launcher.exe) and than when the game is
// started directly. Each run times from this program's process-creation call to the stand-in
// game's first instruction (it signals a named event). Every round runs the three ways in a new
// random order, so that drift, caches and Wine's services favour none of them and no way always
// follows the same other; the first round is a warm-up and not counted.
//
// Usage: click_to_game.exe [runs]   (in the private Wine prefix: make bench-click)

#include "private_prefix.hpp"
#include "shell_run.hpp"
#include "owners.hpp"
#include "process.hpp"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <array>
#include <exception>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const std::wstring game = L"C:\\Games\\Quarrion\\quarrion.exe";
const std::wstring eventName = L"Local\\quarrion-click-to-game";

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// Starts commandLine and returns the time until the game signals that it runs.
double TimeToGame(std::wstring commandLine, HANDLE gameStarted) {
    ::ResetEvent(gameStarted);
    UniqueProcessInformation run;
    LARGE_INTEGER start{};
    LARGE_INTEGER started{};
    ::QueryPerformanceCounter(&start);
    if (!StartProcess(commandLine, run)) {
        throw std::runtime_error("could not start a run");
    }
    const bool signalled = ::WaitForSingleObject(gameStarted, 30'000) == WAIT_OBJECT_0;
    ::QueryPerformanceCounter(&started);
    ::WaitForSingleObject(run.get().hProcess, 30'000);
    if (!signalled) {
        throw std::runtime_error("the game did not start");
    }
    ::Sleep(50); // let the game end before the next run
    return Seconds(start, started);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const auto middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        const int runs = argc > 1 ? std::max(1, std::stoi(argv[1])) : 30;
        InstallStandInGame(game);
        SetInstallPath(game);
        const UniqueHandle gameStarted(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        ::SetEnvironmentVariableW(L"QUARRION_STANDIN_STARTED", eventName.c_str());
        ::SetEnvironmentVariableW(L"QUARRION_STANDIN_RECORD", nullptr);
        ::SetEnvironmentVariableW(L"QUARRION_STANDIN_EVENT", nullptr);

        const std::wstring link = L" quarrion://127.0.0.1:27960/secret";
        struct Way {
            const char* name;
            std::wstring commandLine;
            std::vector<double> times;
        };
        std::array<Way, 3> ways{
            Way{"through quarrion_shell.exe",
                L"\"" + ProgramFolder() + L"quarrion_shell.exe\"" + link,
                {}},
            Way{"through minimal_launcher.exe",
                L"\"" + ProgramFolder() + L"minimal_launcher.exe\"" + link,
                {}},
            Way{"game started directly", game + L" +connect 127.0.0.1:27960 +pass secret", {}}};
        std::array<Way*, 3> order{&ways[0], &ways[1], &ways[2]};
        std::mt19937 shuffler(std::random_device{}());
        for (int round = 0; round <= runs; ++round) {
            std::shuffle(order.begin(), order.end(), shuffler);
            for (Way* way : order) {
                const double time = TimeToGame(way->commandLine, gameStarted.get());
                if (round > 0) {
                    way->times.push_back(time);
                }
            }
        }
        std::printf("runs: %d of each, in shuffled order\n", runs);
        for (const Way& way : ways) {
            std::printf("%-30s median %.1f ms\n", way.name, Median(way.times) * 1000);
        }
        const double launcher = Median(ways[0].times);
        std::printf("ratio launcher/minimal: %.2f\n", launcher / Median(ways[1].times));
        std::printf("ratio launcher/direct:  %.2f\n", launcher / Median(ways[2].times));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "click_to_game: %s\n", error.what());
        return 1;
    }
}
