#pragma once
// Benchmarks timed by the wall clock (UseRealTime) keep their registered names,
// without the "/real_time" suffix, so that names stay comparable from run to run.

#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <vector>

#include <unistd.h>

namespace bench {

template <class Base>
class PlainNames : public Base {
public:
    using Base::Base;
    void ReportRuns(const std::vector<benchmark::BenchmarkReporter::Run>& runs) override
    {
        std::vector<benchmark::BenchmarkReporter::Run> renamed = runs;
        for (auto& run : renamed)
            run.run_name.time_type.clear();
        Base::ReportRuns(renamed);
    }
};

// The console or JSON reporter the command line asks for, with plain names.
inline std::unique_ptr<benchmark::BenchmarkReporter> displayReporter(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--benchmark_format=json") == 0)
            return std::make_unique<PlainNames<benchmark::JSONReporter>>();
    }
    bool color = ::isatty(STDOUT_FILENO) != 0;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--benchmark_color=false") == 0)
            color = false;
    return std::make_unique<PlainNames<benchmark::ConsoleReporter>>(
        color ? benchmark::ConsoleReporter::OO_ColorTabular : benchmark::ConsoleReporter::OO_Tabular);
}

} // namespace bench
