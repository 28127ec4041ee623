// Decoding, checking and building the game's command line for texts from a short link up to
// 1 MiB, including texts made mostly of schemes and of slashes. Reports the fitted complexity,
// which must be linear. The baseline copies a text of the same length once: the least any
// implementation does, and the machine's own curve as the text outgrows its caches.

#include "launch_failure.hpp"
#include "link.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <utility>

namespace {

std::wstring Repeat(std::wstring_view piece, std::size_t units) {
    std::wstring text;
    text.reserve(units + piece.size());
    while (text.size() < units) {
        text.append(piece);
    }
    text.resize(units);
    return text;
}

std::wstring Typical(std::size_t units) {
    return L"quarrion://" + Repeat(L"play.example.net:27960", units / 2) + L"/" +
           Repeat(L"secret", units / 2 - 12);
}
std::wstring Schemes(std::size_t units) {
    return Repeat(L"quarrion://", units - 3) + L"h/p";
}
std::wstring Slashes(std::size_t units) {
    return L"quarrion://h/p" + Repeat(L"/", units - 14);
}
std::wstring FormedSchemes(std::size_t units) {
    return Repeat(L"quarquarrion://rion://", units);
}

void Launch(benchmark::State& state, std::wstring (*make)(std::size_t)) {
    const auto units = static_cast<std::size_t>(state.range(0));
    const std::wstring text = make(units);
    for (auto _ : state) {
        const LinkFields link = DecodeLink(text);
        benchmark::DoNotOptimize(IsSafeField(link.server) && IsSafeField(link.password));
        std::wstring command = BuildGameCommand(L"C:\\Games\\Quarrion\\quarrion.exe", link);
        benchmark::DoNotOptimize(command.data());
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * state.range(0) *
                            static_cast<std::int64_t>(sizeof(wchar_t)));
}

void CopyBaseline(benchmark::State& state) {
    const std::wstring text(static_cast<std::size_t>(state.range(0)), L'a');
    for (auto _ : state) {
        std::wstring copy = text;
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetComplexityN(state.range(0));
    state.SetBytesProcessed(state.iterations() * state.range(0) *
                            static_cast<std::int64_t>(sizeof(wchar_t)));
}

constexpr int shortest = 32;
// Texts up to 1 MiB as held in memory: wchar_t has four bytes here, two on Windows.
constexpr int oneMebibyte = (1 << 20) / static_cast<int>(sizeof(wchar_t));

void Register(benchmark::internal::Benchmark* benchmark) {
    benchmark->RangeMultiplier(2)->Range(shortest, oneMebibyte)->Complexity();
}

} // namespace

int main(int argc, char** argv) {
    const std::pair<const char*, std::wstring (*)(std::size_t)> texts[] = {
        {"Launch/typical", Typical},
        {"Launch/schemes", Schemes},
        {"Launch/slashes", Slashes},
        {"Launch/formed_schemes", FormedSchemes}};
    for (const auto& [name, make] : texts) {
        Register(benchmark::RegisterBenchmark(name, Launch, make));
    }
    Register(benchmark::RegisterBenchmark("CopyBaseline", CopyBaseline));

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
